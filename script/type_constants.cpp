#include "script/type_constants.h"

#include <mutex>
#include <set>

#include "platform/automation/type_library.h"
#include "platform/com/object.h"
#include "platform/registry/registry_store.h"

namespace script {

namespace {

using Constants = std::vector<NamedConstant>;

// The paths of the registered libraries: TypeLib\{libid}\<version>\<lcid>\win64.
std::vector<std::string> LibraryPaths(const registry::RegistryKey& root) {
  std::vector<std::string> paths;
  const registry::RegistryKey* libraries =
      root.Find(std::string(registry::kClassesRoot) + "\\TypeLib");
  if (libraries == nullptr) return paths;
  for (const auto& [libid, library] : libraries->subkeys()) {
    for (const auto& [version, versionKey] : library.subkeys()) {
      for (const auto& [lcid, localeKey] : versionKey.subkeys()) {
        const registry::RegistryKey* system = localeKey.Find("win64");
        const std::string* path = system != nullptr ? system->Value("") : nullptr;
        if (path != nullptr && !path->empty()) paths.push_back(*path);
      }
    }
  }
  return paths;
}

void AddEnumValues(ITypeInfo* info, std::set<std::string>& seen, Constants& constants) {
  TYPEATTR* attributes = nullptr;
  if (FAILED(info->GetTypeAttr(&attributes))) return;
  const WORD count = attributes->cVars;
  info->ReleaseTypeAttr(attributes);
  for (UINT i = 0; i < count; ++i) {
    VARDESC* variable = nullptr;
    if (FAILED(info->GetVarDesc(i, &variable))) continue;
    const MEMBERID id = variable->memid;
    Variant value;
    const bool constant = variable->varkind == VAR_CONST && variable->lpvarValue != nullptr &&
                          SUCCEEDED(VariantChangeType(&value, variable->lpvarValue, 0, VT_I4));
    info->ReleaseVarDesc(variable);
    Bstr name;
    if (!constant ||
        FAILED(info->GetDocumentation(id, name.Receive(), nullptr, nullptr, nullptr))) {
      continue;
    }
    std::optional<std::string> text = BstrToUtf8(name.Get());
    if (text && !text->empty() && seen.insert(*text).second) {
      constants.push_back({std::move(*text), value.lVal});
    }
  }
}

void AddLibraryConstants(const std::string& path, std::set<std::string>& seen,
                         Constants& constants) {
  const Bstr widePath = Bstr::Attach(AllocBstrFromUtf8(path));
  ComPtr<ITypeLib> library;
  if (widePath.Get() == nullptr || FAILED(LoadTypeLib(widePath.Get(), library.Receive()))) return;
  for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
    TYPEKIND kind;
    ComPtr<ITypeInfo> info;
    if (SUCCEEDED(library->GetTypeInfoType(i, &kind)) && kind == TKIND_ENUM &&
        SUCCEEDED(library->GetTypeInfo(i, info.Receive()))) {
      AddEnumValues(info.Get(), seen, constants);
    }
  }
}

}  // namespace

std::shared_ptr<const Constants> RegisteredConstants() {
  static std::mutex mutex;
  static std::shared_ptr<const registry::RegistryKey> readFrom;
  static std::shared_ptr<const Constants> cached = std::make_shared<const Constants>();
  std::shared_ptr<const registry::RegistryKey> root;
  if (FAILED(registry::ReadRegistry(&root))) return std::make_shared<const Constants>();
  std::lock_guard lock(mutex);
  if (root != readFrom) {
    auto constants = std::make_shared<Constants>();
    std::set<std::string> seen;
    for (const std::string& path : LibraryPaths(*root)) {
      AddLibraryConstants(path, seen, *constants);
    }
    cached = std::move(constants);
    readFrom = std::move(root);
  }
  return cached;
}

void DefineTypeLibraryConstants(duk_context* ctx) {
  const std::shared_ptr<const Constants> constants = RegisteredConstants();
  duk_push_global_object(ctx);
  for (const NamedConstant& constant : *constants) {
    if (duk_has_prop_lstring(ctx, -1, constant.name.data(), constant.name.size())) continue;
    duk_push_lstring(ctx, constant.name.data(), constant.name.size());
    duk_push_int(ctx, constant.value);
    duk_def_prop(ctx, -3,
                 DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_CLEAR_WRITABLE | DUK_DEFPROP_SET_ENUMERABLE |
                     DUK_DEFPROP_CLEAR_CONFIGURABLE);
  }
  duk_pop(ctx);
}

}  // namespace script

#include "script/registration_hint.h"

#include <dlfcn.h>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/automation/type_library.h"
#include "platform/com/object.h"
#include "platform/registry/registry_store.h"

namespace script {

namespace {

// "Easel" of "Quillmark.Easel.1".
std::string ClassPart(std::string_view progId) {
  const size_t first = progId.find('.');
  if (first == std::string_view::npos) return std::string(progId);
  const std::string_view rest = progId.substr(first + 1);
  return std::string(rest.substr(0, rest.find('.')));
}

bool HasClassNamed(const std::string& modulePath, const std::string& className) {
  const Bstr widePath = Bstr::Attach(AllocBstrFromUtf8(modulePath));
  ComPtr<ITypeLib> library;
  if (widePath.Get() == nullptr || FAILED(LoadTypeLib(widePath.Get(), library.Receive()))) {
    return false;
  }
  for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
    TYPEKIND kind;
    Bstr name;
    if (SUCCEEDED(library->GetTypeInfoType(i, &kind)) && kind == TKIND_COCLASS &&
        SUCCEEDED(library->GetDocumentation(static_cast<INT>(i), name.Receive(), nullptr, nullptr,
                                            nullptr)) &&
        automation::NamesEqual(BstrView(name.Get()), className)) {
      return true;
    }
  }
  return false;
}

// The server modules sit beside the platform library, in the build tree and once
// installed alike.
std::filesystem::path ModuleDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&registry::RegistryPath), &info) == 0 ||
      info.dli_fname == nullptr) {
    return {};
  }
  std::error_code error;
  const std::filesystem::path library = std::filesystem::canonical(info.dli_fname, error);
  return error ? std::filesystem::path() : library.parent_path();
}

std::string ModuleProviding(const std::string& className) {
  const std::filesystem::path directory = ModuleDirectory();
  if (directory.empty() || className.empty()) return {};
  std::vector<std::string> modules;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file(error) && name.ends_with(".so") && !name.starts_with("libvelrt")) {
      modules.push_back(entry.path().string());
    }
  }
  std::sort(modules.begin(), modules.end());
  for (const std::string& module : modules) {
    if (HasClassNamed(module, className)) return module;
  }
  return {};
}

}  // namespace

std::string UnregisteredClassText(std::string_view progId) {
  const std::string registryPath = registry::RegistryPath();
  std::error_code error;
  const bool exists = std::filesystem::exists(registryPath, error);
  std::string module = ModuleProviding(ClassPart(progId));
  if (module.empty()) module = "MODULE.so";
  return "no class is registered as '" + std::string(progId) + "' in the registry " + registryPath +
         (exists ? "" : " (the file does not exist)") +
         "; register its module with: vellum-regsvr " + module;
}

}  // namespace script

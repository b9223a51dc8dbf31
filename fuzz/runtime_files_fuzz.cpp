// The files the runtime reads: serialised type libraries (module resources and .tlb
// files) and the registry file. Whatever parses is also walked through its type
// information, as a script host walks it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/automation/type_info.h"
#include "platform/automation/type_library_file.h"
#include "platform/com/object.h"
#include "platform/registry/registry_store.h"

namespace {

void Walk(ITypeInfo* info) {
  TYPEATTR* attributes = nullptr;
  if (FAILED(info->GetTypeAttr(&attributes))) return;
  for (UINT i = 0; i < attributes->cFuncs; ++i) {
    FUNCDESC* function = nullptr;
    if (FAILED(info->GetFuncDesc(i, &function))) continue;
    BSTR names[8] = {};
    UINT count = 0;
    info->GetNames(function->memid, names, 8, &count);
    for (UINT k = 0; k < count; ++k) SysFreeString(names[k]);
    for (SHORT k = 0; k < function->cParams; ++k) {
      ComPtr<ITypeInfo> referenced;
      const TYPEDESC& type = function->lprgelemdescParam[k].tdesc;
      if (type.vt == VT_USERDEFINED) info->GetRefTypeInfo(type.hreftype, referenced.Receive());
    }
    info->ReleaseFuncDesc(function);
  }
  for (UINT i = 0; i < attributes->cVars; ++i) {
    VARDESC* variable = nullptr;
    if (SUCCEEDED(info->GetVarDesc(i, &variable))) info->ReleaseVarDesc(variable);
  }
  info->ReleaseTypeAttr(attributes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  registry::ParseRegistry(bytes);
  std::unique_ptr<automation::TypeLibraryDesc> library = automation::ParseTypeLibrary(bytes);
  if (library == nullptr) return 0;
  ComPtr<ITypeLib> typeLib;
  if (FAILED(automation::CreateTypeLib(automation::ShareLibrary(std::move(*library)),
                                       typeLib.Receive()))) {
    return 0;
  }
  for (UINT i = 0; i < typeLib->GetTypeInfoCount(); ++i) {
    ComPtr<ITypeInfo> info;
    if (SUCCEEDED(typeLib->GetTypeInfo(i, info.Receive()))) Walk(info.Get());
  }
  return 0;
}

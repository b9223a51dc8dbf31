// The exports of an in-process server module, the only symbols it shows: the four
// entries the object runtime calls and the function through which the runtime finds the
// module's resources. A module defines them all with SERVER_MODULE_ENTRIES.
#pragma once

#include <string_view>

#include "platform/com/interfaces.h"

#define SERVER_MODULE_EXPORT extern "C" __attribute__((visibility("default")))
SERVER_MODULE_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object);
SERVER_MODULE_EXPORT HRESULT DllCanUnloadNow();
SERVER_MODULE_EXPORT HRESULT DllRegisterServer();
SERVER_MODULE_EXPORT HRESULT DllUnregisterServer();
SERVER_MODULE_EXPORT BOOL VelrtModuleResource(LPCSTR type, UINT id, const void** data, DWORD* size);

// The bytes of the resource `findResource(type, id)` names, as VelrtModuleResource
// hands them out: FALSE for a null argument or a resource the module does not have
// (an empty view).
inline BOOL ProvideModuleResource(std::string_view (*findResource)(LPCSTR type, UINT id),
                                  LPCSTR type, UINT id, const void** data, DWORD* size) {
  if (type == nullptr || data == nullptr || size == nullptr) return FALSE;
  const std::string_view found = findResource(type, id);
  if (found.empty()) return FALSE;
  *data = found.data();
  *size = static_cast<DWORD>(found.size());
  return TRUE;
}

// Defines the five exports: the four entries forward to `module` (a ServerModule&
// expression) and the resources come from `findResource`.
#define SERVER_MODULE_ENTRIES(module, findResource)                                           \
  SERVER_MODULE_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) { \
    return (module).GetClassObject(clsid, iid, object);                                       \
  }                                                                                           \
  SERVER_MODULE_EXPORT HRESULT DllCanUnloadNow() { return (module).CanUnloadNow(); }          \
  SERVER_MODULE_EXPORT HRESULT DllRegisterServer() { return (module).RegisterServer(); }      \
  SERVER_MODULE_EXPORT HRESULT DllUnregisterServer() { return (module).UnregisterServer(); }  \
  SERVER_MODULE_EXPORT BOOL VelrtModuleResource(LPCSTR type, UINT id, const void** data,      \
                                                DWORD* size) {                                \
    return ProvideModuleResource(findResource, type, id, data, size);                         \
  }

// The Vellum server module: its object map (Easel, EZFont), its class factories and
// lock count, its registry scripts and type library, behind the four exports.
#pragma once

#include "platform/server/server_module.h"

namespace vellum {

// Resource ids of the registry scripts of the two classes.
constexpr UINT kEaselRegistryScript = 102;
constexpr UINT kFontRegistryScript = 104;

ServerModule& Module();

}  // namespace vellum

// The module's exports, the only symbols it shows.
#define VELLUM_EXPORT extern "C" __attribute__((visibility("default")))
VELLUM_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object);
VELLUM_EXPORT HRESULT DllCanUnloadNow();
VELLUM_EXPORT HRESULT DllRegisterServer();
VELLUM_EXPORT HRESULT DllUnregisterServer();
VELLUM_EXPORT BOOL VelrtModuleResource(LPCSTR type, UINT id, const void** data, DWORD* size);

// The VellumSet server module: its object map (Images, Dictionary), class factories and
// lock count, its registry scripts 101 to 105 and type library, behind the four exports.
#pragma once

#include "platform/server/server_module.h"

namespace vellumset {

// Resource ids of the registry scripts. Only the first two are in the object map; the
// others are carried in the module but never applied.
constexpr UINT kImagesRegistryScript = 101;
constexpr UINT kDictionaryRegistryScript = 102;
constexpr UINT kImageRegistryScript = 103;
constexpr UINT kEnumImagesRegistryScript = 104;
constexpr UINT kImagesCollectionRegistryScript = 105;

ServerModule& Module();

}  // namespace vellumset

// The module's exports, the only symbols it shows.
#define VELLUMSET_EXPORT extern "C" __attribute__((visibility("default")))
VELLUMSET_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object);
VELLUMSET_EXPORT HRESULT DllCanUnloadNow();
VELLUMSET_EXPORT HRESULT DllRegisterServer();
VELLUMSET_EXPORT HRESULT DllUnregisterServer();
VELLUMSET_EXPORT BOOL VelrtModuleResource(LPCSTR type, UINT id, const void** data, DWORD* size);

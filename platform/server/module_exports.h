// The exports of an in-process server module, the only symbols it shows: the four
// entries the object runtime calls and the function through which the runtime finds the
// module's resources. A module defines each of them with SERVER_MODULE_EXPORT.
#pragma once

#include "platform/com/interfaces.h"

#define SERVER_MODULE_EXPORT extern "C" __attribute__((visibility("default")))
SERVER_MODULE_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object);
SERVER_MODULE_EXPORT HRESULT DllCanUnloadNow();
SERVER_MODULE_EXPORT HRESULT DllRegisterServer();
SERVER_MODULE_EXPORT HRESULT DllUnregisterServer();
SERVER_MODULE_EXPORT BOOL VelrtModuleResource(LPCSTR type, UINT id, const void** data, DWORD* size);

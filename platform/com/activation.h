// Activation: finding a class by ProgID or CLSID in the registry, loading the module
// that serves it (dlopen, then its DllGetClassObject), creating instances, and
// unloading modules that report through DllCanUnloadNow that nothing holds them.
//
// There are no apartments: every object is used directly from the thread that calls
// it, whatever threading model its class registers.
#pragma once

#include "platform/com/interfaces.h"

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_ALL = 0x17;

// The entries every in-process server module exports.
extern "C" {
using DllGetClassObjectFunction = HRESULT (*)(REFCLSID clsid, REFIID iid, void** object);
using DllCanUnloadNowFunction = HRESULT (*)();
using DllRegisterServerFunction = HRESULT (*)();
}

void* CoTaskMemAlloc(SIZE_T bytes);
void CoTaskMemFree(void* block);

// HKCR\<ProgID>\CLSID; CO_E_CLASSSTRING when the ProgID is not registered.
HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid);
// HKCR\CLSID\{clsid}\ProgID, in memory from CoTaskMemAlloc; REGDB_E_CLASSNOTREG when
// the class has none.
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId);

// The class object of a registered in-process class. REGDB_E_CLASSNOTREG when the
// class is not registered (or not in process), CO_E_DLLNOTFOUND when its module cannot
// be loaded, CO_E_ERRORINDLL when the module has no DllGetClassObject.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* serverInfo, REFIID iid,
                         void** object);
// Creates an instance through the class object's IClassFactory.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object);
// Releases every module loaded by CoGetClassObject whose DllCanUnloadNow says S_OK.
// Its code stays mapped (see OpenServerModule); the next CoGetClassObject asks it anew.
void CoFreeUnusedLibraries();
// Number of modules CoGetClassObject has loaded and not released.
size_t HeldServerModuleCount();

// The free-threaded marshaler: an object to aggregate so that an object's interface
// pointers may be used from any thread. Without apartments nothing is ever marshalled,
// so its IMarshal methods return E_NOTIMPL; objects aggregate it to keep the shape.
// Returns the marshaler's inner IUnknown, for the outer object to hold.
HRESULT CoCreateFreeThreadedMarshaler(IUnknown* outer, IUnknown** marshaler);

// What every in-process server module shares: the object map (one row per creatable
// class), cached class factories, the module's lock count, and self-registration from
// the module's registry scripts and type library.
//
// A module defines one ServerModule (a static object: constructed when the module is
// loaded, destroyed when it is unloaded) and forwards its exports to it with
// SERVER_MODULE_ENTRIES (module_exports.h).
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/com/interfaces.h"
#include "platform/com/module_resources.h"
#include "platform/kernel/threads.h"
#include "platform/server/module_lock.h"

// One row of an object map.
struct ObjectMapEntry {
  const CLSID* clsid;
  UINT registryScript;  // id of the class's "REGISTRY" resource
  // Creates an instance (plain when `outer` is null, aggregated otherwise).
  HRESULT (*createInstance)(IUnknown* outer, REFIID iid, void** object);
  // Called with true when the module starts and false when it stops; may be null.
  void (*startStop)(bool starting);
};

class ServerModule {
 public:
  // `resources` is the module's exported resource function; its address also tells
  // which file the module was loaded from. `locks` is the module's lock count, which
  // its objects hold too.
  ServerModule(std::span<const ObjectMapEntry> objectMap, const GUID& libid,
               ModuleResourceFunction resources, ModuleLockCount& locks);
  ~ServerModule();
  ServerModule(const ServerModule&) = delete;
  ServerModule& operator=(const ServerModule&) = delete;

  // DllGetClassObject: the class factory of a class in the map, created on first
  // request under the module's lock and cached; CLASS_E_CLASSNOTAVAILABLE otherwise.
  HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object);
  // DllCanUnloadNow: S_OK when nothing holds the module.
  HRESULT CanUnloadNow() const;
  // DllRegisterServer: every row's registry script, in order (stopping at the first
  // failure), then the type library.
  HRESULT RegisterServer();
  // DllUnregisterServer: every row's script in unregister mode, then the type library.
  // Always S_OK.
  HRESULT UnregisterServer();

  // The module's lock count (module_lock.h).
  LONG Lock() { return locks_.Lock(); }
  LONG Unlock() { return locks_.Unlock(); }
  LONG LockCount() const { return locks_.Count(); }

  // The module's file (absolute), or empty when it cannot be told.
  const std::string& Path() const { return path_; }

 private:
  HRESULT ApplyScripts(bool registering);
  HRESULT RegisterTypeLibrary();

  std::span<const ObjectMapEntry> objectMap_;
  GUID libid_;
  ModuleResourceFunction resources_;
  std::string path_;
  ModuleLockCount& locks_;
  CRITICAL_SECTION classObjectLock_;
  std::vector<IClassFactory*> factories_;  // one per row, null until first asked for
};

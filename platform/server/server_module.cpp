#include "platform/server/server_module.h"

#include <dlfcn.h>

#include <climits>
#include <cstdlib>

#include "platform/automation/type_library.h"
#include "platform/com/object.h"
#include "platform/kernel/code_page.h"
#include "platform/registry/registrar.h"

namespace {

// The class factory of one row. The module's cache holds one reference that does not
// count as a lock; every further reference locks the module, so that a client holding
// the factory keeps the module loaded.
class ClassFactory final : public IClassFactory {
 public:
  ClassFactory(ServerModule& module, const ObjectMapEntry& entry)
      : module_(module), entry_(entry) {}
  virtual ~ClassFactory() = default;

  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (!InterfaceMatches<IClassFactory>(iid)) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override {
    const ULONG count = InterlockedIncrement(&references_);
    if (count == 2) module_.Lock();
    return count;
  }
  ULONG Release() override {
    const ULONG count = InterlockedDecrement(&references_);
    if (count == 1) module_.Unlock();
    if (count == 0) delete this;
    return count;
  }

  HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr && !(iid == IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    return entry_.createInstance(outer, iid, object);
  }
  HRESULT LockServer(BOOL lock) override {
    if (lock) {
      module_.Lock();
    } else {
      module_.Unlock();
    }
    return S_OK;
  }

 private:
  ServerModule& module_;
  const ObjectMapEntry& entry_;
  volatile LONG references_ = 1;  // the cache's reference
};

std::string ModulePathOf(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
  char resolved[PATH_MAX];
  return realpath(info.dli_fname, resolved) != nullptr ? resolved : info.dli_fname;
}

Bstr WideText(const std::string& text) { return Bstr::Attach(AllocBstrFromUtf8(text)); }

}  // namespace

ServerModule::ServerModule(std::span<const ObjectMapEntry> objectMap, const GUID& libid,
                           ModuleResourceFunction resources, ModuleLockCount& locks)
    : objectMap_(objectMap),
      libid_(libid),
      resources_(resources),
      path_(ModulePathOf(reinterpret_cast<const void*>(resources))),
      locks_(locks),
      factories_(objectMap.size(), nullptr) {
  InitializeCriticalSection(&classObjectLock_);
  for (const ObjectMapEntry& entry : objectMap_) {
    if (entry.startStop != nullptr) entry.startStop(true);
  }
}

ServerModule::~ServerModule() {
  for (IClassFactory*& factory : factories_) {
    if (factory != nullptr) factory->Release();
    factory = nullptr;
  }
  for (const ObjectMapEntry& entry : objectMap_) {
    if (entry.startStop != nullptr) entry.startStop(false);
  }
  DeleteCriticalSection(&classObjectLock_);
}

HRESULT ServerModule::GetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  for (size_t row = 0; row < objectMap_.size(); ++row) {
    if (!(*objectMap_[row].clsid == clsid)) continue;
    {
      CriticalSectionLock lock(&classObjectLock_);
      if (factories_[row] == nullptr) {
        factories_[row] = new (std::nothrow) ClassFactory(*this, objectMap_[row]);
        if (factories_[row] == nullptr) return E_OUTOFMEMORY;
      }
    }
    return factories_[row]->QueryInterface(iid, object);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ServerModule::CanUnloadNow() const { return LockCount() == 0 ? S_OK : S_FALSE; }

HRESULT ServerModule::ApplyScripts(bool registering) {
  if (path_.empty()) return E_FAIL;
  // The scripts quote %MODULE% with single quotes, so quotes in the path are doubled.
  const registry::ScriptReplacements replacements = {
      {"MODULE", registry::DoubleSingleQuotes(path_)}};
  for (const ObjectMapEntry& entry : objectMap_) {
    const void* data = nullptr;
    DWORD size = 0;
    if (!resources_(kRegistryResource, entry.registryScript, &data, &size)) return E_FAIL;
    const HRESULT hr = registry::RunRegistryScript(
        std::string_view(static_cast<const char*>(data), size), replacements, registering);
    if (FAILED(hr) && registering) return hr;
  }
  return S_OK;
}

// Loads the library from the module itself, or from the .tlb beside it, and registers
// it with the module's directory as its help directory.
HRESULT ServerModule::RegisterTypeLibrary() {
  ComPtr<ITypeLib> library;
  HRESULT hr = LoadTypeLib(WideText(path_).Get(), library.Receive());
  std::string loadedFrom = path_;
  if (FAILED(hr)) {
    const size_t slash = path_.rfind('/');
    const size_t dot = path_.rfind('.');
    loadedFrom = (dot != std::string::npos && (slash == std::string::npos || dot > slash)
                      ? path_.substr(0, dot)
                      : path_) +
                 ".tlb";
    hr = LoadTypeLib(WideText(loadedFrom).Get(), library.Receive());
    if (FAILED(hr)) return hr;
  }
  const size_t separator = loadedFrom.find_last_of("/\\:");
  const std::string directory =
      separator == std::string::npos ? std::string() : loadedFrom.substr(0, separator + 1);
  return RegisterTypeLib(library.Get(), WideText(loadedFrom).Get(), WideText(directory).Get());
}

HRESULT ServerModule::RegisterServer() {
  try {
    const HRESULT hr = ApplyScripts(true);
    return FAILED(hr) ? hr : RegisterTypeLibrary();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ServerModule::UnregisterServer() {
  try {
    ApplyScripts(false);
    ComPtr<ITypeLib> library;
    TLIBATTR* attributes = nullptr;
    if (SUCCEEDED(LoadTypeLib(WideText(path_).Get(), library.Receive())) &&
        SUCCEEDED(library->GetLibAttr(&attributes))) {
      UnRegisterTypeLib(libid_, attributes->wMajorVerNum, attributes->wMinorVerNum,
                        attributes->lcid, attributes->syskind);
      library->ReleaseTLibAttr(attributes);
    }
  } catch (const std::bad_alloc&) {
    // Unregistering reports success whatever could not be removed.
  }
  return S_OK;
}

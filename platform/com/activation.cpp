#include "platform/com/activation.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/module_resources.h"
#include "platform/com/object.h"
#include "platform/kernel/code_page.h"
#include "platform/registry/registry_store.h"

namespace {

struct LoadedModule {
  std::string path;
  void* handle = nullptr;
  DllGetClassObjectFunction getClassObject = nullptr;
  DllCanUnloadNowFunction canUnloadNow = nullptr;
  int callsInProgress = 0;  // DllGetClassObject calls that have not returned yet
};

// The modules loaded for classes. A module stays loaded while a DllGetClassObject
// call into it runs; afterwards its own lock count (the objects and class objects it
// handed out) keeps it, as its DllCanUnloadNow reports.
class ModuleTable {
 public:
  static ModuleTable& Instance() {
    static ModuleTable table;
    return table;
  }

  HRESULT GetClassObject(const std::string& path, REFCLSID clsid, REFIID iid, void** object) {
    LoadedModule* module = nullptr;
    {
      std::lock_guard lock(mutex_);
      const HRESULT hr = Load(path, module);
      if (FAILED(hr)) return hr;
      ++module->callsInProgress;
    }
    const HRESULT hr = module->getClassObject(clsid, iid, object);
    std::lock_guard lock(mutex_);
    --module->callsInProgress;
    return hr;
  }

  void FreeUnused() {
    std::lock_guard lock(mutex_);
    for (auto it = modules_.begin(); it != modules_.end();) {
      LoadedModule& module = **it;
      if (module.callsInProgress == 0 && module.canUnloadNow != nullptr &&
          module.canUnloadNow() == S_OK) {
        dlclose(module.handle);
        it = modules_.erase(it);
      } else {
        ++it;
      }
    }
  }

  size_t HeldCount() {
    std::lock_guard lock(mutex_);
    return modules_.size();
  }

 private:
  HRESULT Load(const std::string& path, LoadedModule*& found) {
    for (const auto& module : modules_) {
      if (module->path == path) {
        found = module.get();
        return S_OK;
      }
    }
    void* handle = OpenServerModule(path.c_str());
    if (handle == nullptr) return CO_E_DLLNOTFOUND;
    auto module = std::make_unique<LoadedModule>();
    module->path = path;
    module->handle = handle;
    module->getClassObject =
        reinterpret_cast<DllGetClassObjectFunction>(dlsym(handle, "DllGetClassObject"));
    module->canUnloadNow =
        reinterpret_cast<DllCanUnloadNowFunction>(dlsym(handle, "DllCanUnloadNow"));
    if (module->getClassObject == nullptr) {
      dlclose(handle);
      return CO_E_ERRORINDLL;
    }
    found = module.get();
    modules_.push_back(std::move(module));
    return S_OK;
  }

  std::mutex mutex_;
  std::vector<std::unique_ptr<LoadedModule>> modules_;
};

class FreeThreadedMarshaler final : public ComObject<IMarshal> {
 public:
  explicit FreeThreadedMarshaler(IUnknown* outer) : ComObject(outer) {}
  HRESULT GetUnmarshalClass(REFIID, void*, DWORD, void*, DWORD, CLSID*) override {
    return E_NOTIMPL;
  }
  HRESULT GetMarshalSizeMax(REFIID, void*, DWORD, void*, DWORD, DWORD*) override {
    return E_NOTIMPL;
  }
  HRESULT MarshalInterface(IStream*, REFIID, void*, DWORD, void*, DWORD) override {
    return E_NOTIMPL;
  }
  HRESULT UnmarshalInterface(IStream*, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT ReleaseMarshalData(IStream*) override { return E_NOTIMPL; }
  HRESULT DisconnectObject(DWORD) override { return E_NOTIMPL; }
};

}  // namespace

void* CoTaskMemAlloc(SIZE_T bytes) { return std::malloc(bytes == 0 ? 1 : bytes); }

void CoTaskMemFree(void* block) { std::free(block); }

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) {
  if (progId == nullptr || clsid == nullptr) return E_INVALIDARG;
  try {
    const std::optional<std::string> name = Utf16ToUtf8(progId);
    if (!name || name->empty() || name->find('\\') != std::string::npos) return CO_E_CLASSSTRING;
    std::string text;
    const HRESULT hr = registry::QueryClassesRoot(*name + "\\CLSID", "", &text);
    if (FAILED(hr)) return hr;
    const std::optional<GUID> guid = hr == S_OK ? GuidFromString(text) : std::nullopt;
    if (!guid) return CO_E_CLASSSTRING;
    *clsid = *guid;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId) {
  if (progId == nullptr) return E_INVALIDARG;
  *progId = nullptr;
  try {
    std::string text;
    const HRESULT hr =
        registry::QueryClassesRoot("CLSID\\" + GuidToString(clsid) + "\\ProgID", "", &text);
    if (FAILED(hr)) return hr;
    if (hr != S_OK || text.empty()) return REGDB_E_CLASSNOTREG;
    const std::optional<std::u16string> wide = Utf8ToUtf16(text);
    if (!wide) return REGDB_E_CLASSNOTREG;
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((wide->size() + 1) * sizeof(OLECHAR)));
    if (copy == nullptr) return E_OUTOFMEMORY;
    std::memcpy(copy, wide->c_str(), (wide->size() + 1) * sizeof(OLECHAR));
    *progId = copy;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID iid, void** object) {
  if (object == nullptr) return E_INVALIDARG;
  *object = nullptr;
  if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
  try {
    std::string path;
    const HRESULT hr =
        registry::QueryClassesRoot("CLSID\\" + GuidToString(clsid) + "\\InprocServer32", "", &path);
    if (FAILED(hr)) return hr;
    if (hr != S_OK || path.empty()) return REGDB_E_CLASSNOTREG;
    return ModuleTable::Instance().GetClassObject(path, clsid, iid, object);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid,
                         void** object) {
  if (object == nullptr) return E_INVALIDARG;
  *object = nullptr;
  ComPtr<IClassFactory> factory;
  HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, factory.ReceiveVoid());
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(outer, iid, object);
}

void CoFreeUnusedLibraries() { ModuleTable::Instance().FreeUnused(); }

size_t HeldServerModuleCount() { return ModuleTable::Instance().HeldCount(); }

HRESULT CoCreateFreeThreadedMarshaler(IUnknown* outer, IUnknown** marshaler) {
  if (marshaler == nullptr) return E_INVALIDARG;
  return CreateComObject<FreeThreadedMarshaler>(outer, IID_IUnknown,
                                                reinterpret_cast<void**>(marshaler));
}

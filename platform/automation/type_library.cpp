#include "platform/automation/type_library.h"

#include <dlfcn.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/automation/type_library_file.h"
#include "platform/com/module_resources.h"
#include "platform/com/object.h"
#include "platform/kernel/code_page.h"
#include "platform/registry/registry_store.h"

namespace {

constexpr std::streamsize kMaxLibraryFileBytes = 64 << 20;
constexpr char kSystemKindKey[] = "win64";

// The resource of a module, or nothing when the path is not a module that has one.
bool ReadModuleLibrary(const std::string& path, std::string* bytes) {
  void* module = OpenServerModule(path.c_str());
  if (module == nullptr) return false;
  const bool found = FindModuleResource(module, kTypeLibResource, 1, bytes);
  dlclose(module);
  return found;
}

bool ReadLibraryFile(const std::string& path, std::string* bytes) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  file.seekg(0, std::ios::end);
  const std::streamsize size = file.tellg();
  if (size < 0 || size > kMaxLibraryFileBytes) return false;
  file.seekg(0);
  bytes->resize(static_cast<size_t>(size));
  return static_cast<bool>(file.read(bytes->data(), size));
}

std::string VersionKey(REFGUID libid, WORD major, WORD minor) {
  char version[16];
  std::snprintf(version, sizeof version, "%x.%x", major, minor);
  return "TypeLib\\" + GuidToString(libid) + "\\" + version;
}

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", value);
  return text;
}

std::string Narrow(BSTR text) { return BstrToUtf8(text).value_or(std::string()); }

std::string Narrow(LPCOLESTR text) {
  return text == nullptr ? std::string() : Utf16ToUtf8(text).value_or(std::string());
}

struct InterfaceEntry {
  GUID iid;
  std::string name;
};

// The interfaces a library describes, read through its ITypeLib.
std::vector<InterfaceEntry> InterfacesOf(ITypeLib* library) {
  std::vector<InterfaceEntry> entries;
  for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
    TYPEKIND kind;
    if (FAILED(library->GetTypeInfoType(i, &kind)) ||
        (kind != TKIND_DISPATCH && kind != TKIND_INTERFACE)) {
      continue;
    }
    ComPtr<ITypeInfo> info;
    TYPEATTR* attributes = nullptr;
    if (FAILED(library->GetTypeInfo(i, info.Receive())) || FAILED(info->GetTypeAttr(&attributes))) {
      continue;
    }
    Bstr name;
    info->GetDocumentation(MEMBERID_NIL, name.Receive(), nullptr, nullptr, nullptr);
    entries.push_back({attributes->guid, Narrow(name.Get())});
    info->ReleaseTypeAttr(attributes);
  }
  return entries;
}

}  // namespace

HRESULT LoadTypeLib(LPCOLESTR path, ITypeLib** library) {
  if (path == nullptr || library == nullptr) return E_INVALIDARG;
  *library = nullptr;
  try {
    const std::optional<std::string> narrow = Utf16ToUtf8(path);
    if (!narrow || narrow->empty()) return TYPE_E_CANTLOADLIBRARY;
    std::string bytes;
    if (!ReadModuleLibrary(*narrow, &bytes) && !ReadLibraryFile(*narrow, &bytes)) {
      return TYPE_E_CANTLOADLIBRARY;
    }
    std::unique_ptr<automation::TypeLibraryDesc> parsed = automation::ParseTypeLibrary(bytes);
    if (parsed == nullptr) return TYPE_E_CANTLOADLIBRARY;
    return automation::CreateTypeLib(automation::ShareLibrary(std::move(*parsed)), library);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT RegisterTypeLib(ITypeLib* library, LPCOLESTR fullPath, LPCOLESTR helpDirectory) {
  if (library == nullptr || fullPath == nullptr) return E_INVALIDARG;
  TLIBATTR* attributes = nullptr;
  HRESULT hr = library->GetLibAttr(&attributes);
  if (FAILED(hr)) return hr;
  const TLIBATTR attr = *attributes;
  library->ReleaseTLibAttr(attributes);
  try {
    Bstr name;
    Bstr help;
    library->GetDocumentation(-1, name.Receive(), help.Receive(), nullptr, nullptr);
    const std::string description =
        Narrow(help.Get()).empty() ? Narrow(name.Get()) : Narrow(help.Get());
    const std::string path = Narrow(fullPath);
    const std::string helpDir = Narrow(helpDirectory);
    const std::vector<InterfaceEntry> interfaces = InterfacesOf(library);
    const std::string libid = GuidToString(attr.guid);
    char version[16];
    std::snprintf(version, sizeof version, "%x.%x", attr.wMajorVerNum, attr.wMinorVerNum);
    hr = registry::UpdateRegistry([&](registry::RegistryKey& root) {
      registry::RegistryKey& classes = root.Create(registry::kClassesRoot);
      registry::RegistryKey& versionKey =
          classes.Create(VersionKey(attr.guid, attr.wMajorVerNum, attr.wMinorVerNum));
      versionKey.SetValue("", description);
      versionKey.Create("FLAGS").SetValue("", "0");
      if (!helpDir.empty()) versionKey.Create("HELPDIR").SetValue("", helpDir);
      versionKey.Create(Hex(attr.lcid) + "\\" + kSystemKindKey).SetValue("", path);
      for (const InterfaceEntry& entry : interfaces) {
        registry::RegistryKey& key = classes.Create("Interface\\" + GuidToString(entry.iid));
        key.SetValue("", entry.name);
        registry::RegistryKey& typeLib = key.Create("TypeLib");
        typeLib.SetValue("", libid);
        typeLib.SetValue("Version", version);
      }
      return S_OK;
    });
    return FAILED(hr) ? TYPE_E_REGISTRYACCESS : S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND) {
  try {
    const std::string versionPath = VersionKey(libid, major, minor);
    std::string path;
    HRESULT hr = registry::QueryClassesRoot(versionPath + "\\" + Hex(lcid) + "\\" + kSystemKindKey,
                                            "", &path);
    if (FAILED(hr)) return TYPE_E_REGISTRYACCESS;
    std::vector<InterfaceEntry> interfaces;
    ComPtr<ITypeLib> library;
    const Bstr widePath = Bstr::Attach(AllocBstrFromUtf8(path));
    if (hr == S_OK && SUCCEEDED(LoadTypeLib(widePath.Get(), library.Receive()))) {
      interfaces = InterfacesOf(library.Get());
    }
    const std::string libidText = GuidToString(libid);
    bool registered = false;
    hr = registry::UpdateRegistry([&](registry::RegistryKey& root) {
      registry::RegistryKey* classes = root.Find(registry::kClassesRoot);
      registry::RegistryKey* versionKey = classes ? classes->Find(versionPath) : nullptr;
      if (versionKey == nullptr) return S_OK;
      registered = true;
      registry::RegistryKey* libraryKey = classes->Find("TypeLib\\" + libidText);
      libraryKey->RemoveSubkey(versionPath.substr(versionPath.rfind('\\') + 1));
      if (libraryKey->subkeys().empty()) classes->Find("TypeLib")->RemoveSubkey(libidText);
      registry::RegistryKey* interfaceRoot = classes->Find("Interface");
      for (const InterfaceEntry& entry : interfaces) {
        const std::string iid = GuidToString(entry.iid);
        const registry::RegistryKey* key =
            interfaceRoot ? interfaceRoot->Find(iid + "\\TypeLib") : nullptr;
        const std::string* owner = key ? key->Value("") : nullptr;
        if (owner != nullptr && automation::NamesEqual(*owner, libidText)) {
          interfaceRoot->RemoveSubkey(iid);
        }
      }
      return S_OK;
    });
    if (FAILED(hr)) return TYPE_E_REGISTRYACCESS;
    return registered ? S_OK : TYPE_E_REGISTRYACCESS;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

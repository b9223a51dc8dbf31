#include "vellum/module.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/automation/type_library_file.h"
#include "platform/com/activation.h"
#include "platform/registry/registry_store.h"
#include "tests/support/automation.h"
#include "tests/support/oracle.h"
#include "tests/support/registry_sandbox.h"
#include "tests/vellum/vellum_objects.h"
#include "vellum/type_library.h"

namespace {

using vellum_testing::CreateDispatch;

TEST(Module, ServesOnlyTheClassesOfItsMap) {
  void* object = reinterpret_cast<void*>(1);
  const CLSID notInMap = {0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}};
  EXPECT_EQ(DllGetClassObject(notInMap, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(DllGetClassObject(vellum::CLSID_Easel, IID_IClassFactory, nullptr), E_POINTER);
  EXPECT_EQ(DllGetClassObject(vellum::CLSID_Easel, IID_IDispatch, &object), E_NOINTERFACE);
  ComPtr<IClassFactory> first;
  ComPtr<IClassFactory> second;
  ASSERT_EQ(DllGetClassObject(vellum::CLSID_Easel, IID_IClassFactory, first.ReceiveVoid()), S_OK);
  ASSERT_EQ(DllGetClassObject(vellum::CLSID_Easel, IID_IUnknown, second.ReceiveVoid()), S_OK);
  EXPECT_EQ(static_cast<IUnknown*>(first.Get()), second.Get());  // created once, then cached
}

TEST(Module, CountsEveryObjectAndLock) {
  ASSERT_EQ(DllCanUnloadNow(), S_OK);
  ComPtr<IDispatch> easel = CreateDispatch(vellum::CLSID_Easel);
  ASSERT_TRUE(easel);
  EXPECT_EQ(vellum::Module().LockCount(), 2);  // the Easel and its font
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  easel.Reset();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(DllGetClassObject(vellum::CLSID_EZFont, IID_IClassFactory, factory.ReceiveVoid()),
            S_OK);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);  // a factory held outside the cache
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  factory.Reset();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  ComPtr<IClassFactory> again;
  ASSERT_EQ(DllGetClassObject(vellum::CLSID_EZFont, IID_IClassFactory, again.ReceiveVoid()), S_OK);
  ASSERT_EQ(again->LockServer(FALSE), S_OK);
  again.Reset();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST(Module, TypeLibraryResourceDescribesTheWholeLibrary) {
  EXPECT_TRUE(automation::CheckLibrary(*vellum::VellumLibrary()).empty());
  const void* data = nullptr;
  DWORD size = 0;
  ASSERT_TRUE(VelrtModuleResource(kTypeLibResource, 1, &data, &size));
  const std::string bytes(static_cast<const char*>(data), size);
  const std::unique_ptr<automation::TypeLibraryDesc> library = automation::ParseTypeLibrary(bytes);
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(library->name, "VELLUMLib");
  EXPECT_EQ(library->help, "Vellum 1.0 Type Library");
  EXPECT_EQ(library->enums.size(), 11u);
  ASSERT_EQ(library->interfaces.size(), 2u);
  const automation::InterfaceDesc* easel = library->FindInterface(vellum::IID_IEasel);
  ASSERT_NE(easel, nullptr);
  EXPECT_EQ(easel->members.size(),
            55u);  // the original 52, AutoOrient's get and put, LoadThumbnail
  // The formats added after the original nine come last, numbered from 11.
  const auto format = std::find_if(library->enums.begin(), library->enums.end(),
                                   [](const auto& e) { return e.name == "EZImageFormat"; });
  ASSERT_NE(format, library->enums.end());
  ASSERT_EQ(format->values.size(), 11u);
  EXPECT_EQ(format->values[9], (automation::EnumValue{"eziWEBP", 11, ""}));
  EXPECT_EQ(format->values[10], (automation::EnumValue{"eziAVIF", 12, ""}));
  EXPECT_EQ(library->FindInterface(vellum::IID_IEZFont)->members.size(), 20u);
  for (const automation::MemberDesc& member : easel->members) {
    if (member.name == "TransparentColor") {
      EXPECT_EQ(member.help, "defalt value = 0xFFFFFE");
    } else if (member.name == "TiffPage") {
      EXPECT_EQ(member.help, "1-based,  default = 1");
    }
  }
  for (const automation::InterfaceDesc& i : vellum::VellumLibrary()->interfaces) {
    for (const automation::MemberDesc& member : i.members) {
      EXPECT_NE(member.binding.thunk, nullptr) << member.name;  // every member is callable
    }
  }
  EXPECT_FALSE(VelrtModuleResource(kRegistryResource, 103, &data, &size));
  EXPECT_FALSE(VelrtModuleResource(kTypeLibResource, 2, &data, &size));
}

// Registration of the built module, loaded as the registration tool loads it.
class Registration : public ::testing::Test {
 protected:
  HRESULT Call(const std::string& module, const char* entry) {
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(handle, nullptr) << dlerror();
    if (handle == nullptr) return E_FAIL;
    const auto function = reinterpret_cast<DllRegisterServerFunction>(dlsym(handle, entry));
    const HRESULT hr = function != nullptr ? function() : E_FAIL;
    dlclose(handle);
    return hr;
  }
  std::string Value(const std::string& key, const std::string& name = "") {
    std::string value;
    return registry::QueryClassesRoot(key, name, &value) == S_OK ? value : "<missing>";
  }
  std::vector<uint8_t> Content() { return testing_support::ReadFileBytes(sandbox_.Path()); }

  testing_support::RegistrySandbox sandbox_;
};

TEST_F(Registration, WritesTheClassesProgIdsAndTypeLibrary) {
  ASSERT_EQ(Call(VELLUM_MODULE_PATH, "DllRegisterServer"), S_OK);
  const std::string easel = "CLSID\\" + GuidToString(vellum::CLSID_Easel);
  const std::string font = "CLSID\\" + GuidToString(vellum::CLSID_EZFont);
  EXPECT_EQ(Value("Quillmark.Easel.1"), "Easel Class");
  EXPECT_EQ(Value("Quillmark.Easel\\CLSID"), GuidToString(vellum::CLSID_Easel));
  EXPECT_EQ(Value("Vellum.EZFont.1\\CLSID"), GuidToString(vellum::CLSID_EZFont));
  EXPECT_EQ(Value("Vellum.EZFont"), "EZFont Class");
  EXPECT_EQ(Value(easel), "Easel Class");
  EXPECT_EQ(Value(easel + "\\ProgID"), "Quillmark.Easel.1");
  EXPECT_EQ(Value(easel + "\\VersionIndependentProgID"), "Quillmark.Easel");
  EXPECT_EQ(Value(easel + "\\InprocServer32"), std::filesystem::canonical(VELLUM_MODULE_PATH));
  EXPECT_EQ(Value(easel + "\\InprocServer32", "ThreadingModel"), "both");
  EXPECT_EQ(Value(font + "\\InprocServer32", "ThreadingModel"), "both");
  const std::string libid = GuidToString(vellum::LIBID_VELLUMLib);
  EXPECT_EQ(Value("TypeLib\\" + libid + "\\1.0"), "Vellum 1.0 Type Library");
  EXPECT_EQ(Value("Interface\\" + GuidToString(vellum::IID_IEasel) + "\\TypeLib"), libid);
}

TEST_F(Registration, RegisteringTwiceChangesNothingAndUnregisteringUndoesIt) {
  ASSERT_EQ(registry::UpdateRegistry([](registry::RegistryKey& root) {
              root.Create("HKEY_CLASSES_ROOT\\Unrelated.Class").SetValue("", "stays");
              return S_OK;
            }),
            S_OK);
  const std::vector<uint8_t> before = Content();
  ASSERT_EQ(Call(VELLUM_MODULE_PATH, "DllRegisterServer"), S_OK);
  const std::vector<uint8_t> once = Content();
  ASSERT_EQ(Call(VELLUM_MODULE_PATH, "DllRegisterServer"), S_OK);
  EXPECT_EQ(Content(), once);
  ASSERT_EQ(Call(VELLUM_MODULE_PATH, "DllUnregisterServer"), S_OK);
  // The shared roots stay (CLSID is NoRemove); everything else written is gone.
  ASSERT_EQ(registry::UpdateRegistry([](registry::RegistryKey& root) {
              for (const char* shared : {"CLSID", "Interface", "TypeLib"}) {
                registry::RegistryKey* classes = root.Find("HKEY_CLASSES_ROOT");
                EXPECT_TRUE(classes->Find(shared)->subkeys().empty()) << shared;
                classes->RemoveSubkey(shared);
              }
              return S_OK;
            }),
            S_OK);
  EXPECT_EQ(Content(), before);
  EXPECT_EQ(Call(VELLUM_MODULE_PATH, "DllUnregisterServer"), S_OK);  // nothing left to remove
}

TEST_F(Registration, APathWithASingleQuoteRegistersIntactAndActivates) {
  const std::filesystem::path directory = sandbox_.Directory().Path() / "it's here";
  std::filesystem::create_directories(directory);
  const std::filesystem::path copy = directory / "libvellum.so";
  std::filesystem::copy_file(VELLUM_MODULE_PATH, copy);
  ASSERT_EQ(Call(copy.string(), "DllRegisterServer"), S_OK);
  EXPECT_EQ(Value("CLSID\\" + GuidToString(vellum::CLSID_Easel) + "\\InprocServer32"),
            copy.string());
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(u"Quillmark.Easel", &clsid), S_OK);
  ComPtr<IDispatch> easel;
  ASSERT_EQ(
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, easel.ReceiveVoid()),
      S_OK);
  EXPECT_EQ(testing_support::Automation(easel.Get()).Get(u"TiffPage").Long(), 1);
  easel.Reset();
  CoFreeUnusedLibraries();
}

}  // namespace

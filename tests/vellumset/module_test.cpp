// The VellumSet module: its class objects, lock count, type library, registration,
// and what the shared object shows and needs.
#include "vellumset/module.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "platform/automation/type_library_file.h"
#include "platform/registry/registry_store.h"
#include "tests/support/oracle.h"
#include "tests/support/registry_sandbox.h"
#include "tests/vellumset/test_field.h"
#include "tests/vellumset/vellumset_objects.h"
#include "vellumset/type_library.h"

namespace {

using vellumset_testing::CreateDispatch;

TEST(VellumSetModule, ServesOnlyImagesAndDictionary) {
  for (const CLSID* clsid : {&vellumset::CLSID_Image, &vellumset::CLSID_EnumImages,
                             &vellumset::CLSID_ImagesCollection}) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(DllGetClassObject(*clsid, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
  }
  EXPECT_TRUE(CreateDispatch(vellumset::CLSID_Images));
  EXPECT_TRUE(CreateDispatch(vellumset::CLSID_Dictionary));
}

TEST(VellumSetModule, AggregationOnlyForAnOuterObjectAskingForIUnknown) {
  ComPtr<vellumset_testing::TestField> outer = vellumset_testing::TestField::Make({});
  for (const CLSID* clsid : {&vellumset::CLSID_Images, &vellumset::CLSID_Dictionary}) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(DllGetClassObject(*clsid, IID_IClassFactory, factory.ReceiveVoid()), S_OK);
    ComPtr<IUnknown> inner;
    EXPECT_EQ(factory->CreateInstance(outer.Get(), IID_IDispatch, inner.ReceiveVoid()),
              CLASS_E_NOAGGREGATION);
    ASSERT_EQ(factory->CreateInstance(outer.Get(), IID_IUnknown, inner.ReceiveVoid()), S_OK);
    // The inner object's interfaces answer for the outer object.
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(inner->QueryInterface(IID_IDispatch, dispatch.ReceiveVoid()), S_OK);
    ComPtr<IUnknown> identity;
    ComPtr<IUnknown> outerIdentity;
    ASSERT_EQ(dispatch->QueryInterface(IID_IUnknown, identity.ReceiveVoid()), S_OK);
    ASSERT_EQ(outer->QueryInterface(IID_IUnknown, outerIdentity.ReceiveVoid()), S_OK);
    EXPECT_EQ(identity.Get(), outerIdentity.Get());
  }
}

TEST(VellumSetModule, EveryObjectAggregatesTheFreeThreadedMarshalerAndLocksTheModule) {
  ASSERT_EQ(DllCanUnloadNow(), S_OK);
  {
    ComPtr<IDispatch> images = CreateDispatch(vellumset::CLSID_Images);
    ComPtr<IDispatch> dictionary = CreateDispatch(vellumset::CLSID_Dictionary);
    EXPECT_EQ(vellumset::Module().LockCount(), 3);  // two objects and the collection's dictionary
    auto* collection = static_cast<vellumset::IImages*>(images.Get());
    ASSERT_EQ(collection->LoadImage(Variant::String(u"a"), testing_support::ByteArray({1}),
                                    vellumset::EZPng),
              S_OK);
    ComPtr<vellumset::IImage> image;
    ASSERT_EQ(collection->get_Item(Variant::String(u"a"), image.Receive()), S_OK);
    ComPtr<IUnknown> imageEnumerator;
    ASSERT_EQ(collection->get__NewEnum(imageEnumerator.Receive()), S_OK);
    ComPtr<IUnknown> keyEnumerator;
    ASSERT_EQ(
        static_cast<vellumset::IDictionary*>(dictionary.Get())->_NewEnum(keyEnumerator.Receive()),
        S_OK);
    EXPECT_EQ(vellumset::Module().LockCount(), 6);
    for (IUnknown* object :
         {static_cast<IUnknown*>(images.Get()), static_cast<IUnknown*>(dictionary.Get()),
          static_cast<IUnknown*>(image.Get()), imageEnumerator.Get(), keyEnumerator.Get()}) {
      ComPtr<IUnknown> marshal;
      EXPECT_EQ(object->QueryInterface(IID_IMarshal, marshal.ReceiveVoid()), S_OK);
    }
    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(images->QueryInterface(IID_ISupportErrorInfo, support.ReceiveVoid()), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(vellumset::IID_IImages), S_OK);
    support = nullptr;
    images = nullptr;  // the enumerator and the image outlive the collection
    EXPECT_EQ(vellumset::Module().LockCount(), 5);
  }
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST(VellumSetModule, TypeLibraryResourceDescribesTheWholeLibrary) {
  EXPECT_TRUE(automation::CheckLibrary(*vellumset::VellumSetLibrary()).empty());
  const void* data = nullptr;
  DWORD size = 0;
  ASSERT_TRUE(VelrtModuleResource(kTypeLibResource, 1, &data, &size));
  const auto library =
      automation::ParseTypeLibrary(std::string_view(static_cast<const char*>(data), size));
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(library->name, "VELLUMSETLib");
  EXPECT_EQ(library->help, "VellumSet 1.0 Type Library");
  ASSERT_EQ(library->enums.size(), 1u);
  // The original eight, then WebP and AVIF.
  EXPECT_EQ(library->enums[0].values.size(), 10u);
  EXPECT_EQ(library->enums[0].values[7].name, "EZPsd");
  EXPECT_EQ(library->enums[0].values[7].value, 8);
  EXPECT_EQ(library->enums[0].values.back().name, "EZAvif");
  EXPECT_EQ(library->enums[0].values.back().value, 10);
  EXPECT_EQ(library->FindInterface(vellumset::IID_IImages)->members.size(), 10u);
  EXPECT_EQ(library->FindInterface(vellumset::IID_IImage)->members.size(), 4u);
  EXPECT_EQ(library->FindInterface(vellumset::IID_IDictionary)->members.size(), 13u);
  std::vector<std::string> classes;
  for (const automation::ClassDesc& c : library->classes) classes.push_back(c.name);
  EXPECT_EQ(classes, (std::vector<std::string>{"Images", "Image", "Dictionary", "EnumImages"}));
  for (const automation::InterfaceDesc& i : vellumset::VellumSetLibrary()->interfaces) {
    for (const automation::MemberDesc& member : i.members) {
      EXPECT_NE(member.binding.thunk, nullptr) << i.name << "." << member.name;
    }
  }
  for (UINT id = 101; id <= 105; ++id) {
    EXPECT_TRUE(VelrtModuleResource(kRegistryResource, id, &data, &size)) << id;
  }
  EXPECT_FALSE(VelrtModuleResource(kRegistryResource, 106, &data, &size));
}

// The built module, loaded as the registration tool loads it.
class VellumSetRegistration : public ::testing::Test {
 protected:
  HRESULT Call(const char* entry) {
    void* handle = dlopen(VELLUMSET_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(handle, nullptr) << dlerror();
    if (handle == nullptr) return E_FAIL;
    const auto function = reinterpret_cast<HRESULT (*)()>(dlsym(handle, entry));
    const HRESULT hr = function != nullptr ? function() : E_FAIL;
    dlclose(handle);
    return hr;
  }
  std::string Value(const std::string& key, const std::string& name = "") {
    std::string value;
    return registry::QueryClassesRoot(key, name, &value) == S_OK ? value : "<missing>";
  }

  testing_support::RegistrySandbox sandbox_;
};

TEST_F(VellumSetRegistration, WritesTheTwoClassesWithTheirLibrary) {
  ASSERT_EQ(Call("DllRegisterServer"), S_OK);
  const std::vector<uint8_t> once = testing_support::ReadFileBytes(sandbox_.Path());
  ASSERT_EQ(Call("DllRegisterServer"), S_OK);
  EXPECT_EQ(testing_support::ReadFileBytes(sandbox_.Path()), once);
  const std::string libid = GuidToString(vellumset::LIBID_VELLUMSETLib);
  const struct {
    const char* progId;
    const char* description;
    const CLSID& clsid;
  } classes[] = {{"Quillmark.Images", "Images Class", vellumset::CLSID_Images},
                 {"VellumSet.Dictionary", "Dictionary Class", vellumset::CLSID_Dictionary}};
  for (const auto& c : classes) {
    const std::string progId = c.progId;
    const std::string key = "CLSID\\" + GuidToString(c.clsid);
    EXPECT_EQ(Value(progId + ".1"), c.description);
    EXPECT_EQ(Value(progId + ".1\\CLSID"), GuidToString(c.clsid));
    EXPECT_EQ(Value(progId), c.description);
    EXPECT_EQ(Value(progId + "\\CurVer"), progId + ".1");
    EXPECT_EQ(Value(key), c.description);
    EXPECT_EQ(Value(key + "\\ProgID"), progId + ".1");
    EXPECT_EQ(Value(key + "\\VersionIndependentProgID"), progId);
    EXPECT_EQ(Value(key + "\\Programmable"), "<missing>");  // a key without a value
    EXPECT_EQ(Value(key + "\\TypeLib"), libid);
    EXPECT_EQ(Value(key + "\\InprocServer32"), std::filesystem::canonical(VELLUMSET_MODULE_PATH));
    EXPECT_EQ(Value(key + "\\InprocServer32", "ThreadingModel"), "Free");
  }
  EXPECT_EQ(Value("TypeLib\\" + libid + "\\1.0"), "VellumSet 1.0 Type Library");
  EXPECT_EQ(Value("Interface\\" + GuidToString(vellumset::IID_IDictionary) + "\\TypeLib"), libid);
  ASSERT_EQ(
      registry::UpdateRegistry([](registry::RegistryKey& root) {
        registry::RegistryKey* clsids = root.Find("HKEY_CLASSES_ROOT\\CLSID");
        EXPECT_NE(clsids->Find(GuidToString(vellumset::CLSID_Images) + "\\Programmable"), nullptr);
        // The scripts of the classes only an Images collection makes are never applied.
        for (const CLSID* unregistered : {&vellumset::CLSID_Image, &vellumset::CLSID_EnumImages,
                                          &vellumset::CLSID_ImagesCollection}) {
          EXPECT_EQ(clsids->Find(GuidToString(*unregistered)), nullptr);
        }
        return S_OK;
      }),
      S_OK);
  ASSERT_EQ(Call("DllUnregisterServer"), S_OK);
  EXPECT_EQ(Value("Quillmark.Images"), "<missing>");
  EXPECT_EQ(Value("CLSID\\" + GuidToString(vellumset::CLSID_Dictionary)), "<missing>");
  EXPECT_EQ(Value("TypeLib\\" + libid + "\\1.0"), "<missing>");
}

// The module shows its four entries and its resources, and stands on the platform layer
// alone: no imaging library, no image generator.
TEST(VellumSetSharedObject, ExportsItsEntriesAndNeedsOnlyThePlatform) {
  const std::string module = testing_support::ShellQuote(VELLUMSET_MODULE_PATH);
  std::string exported;
  ASSERT_TRUE(testing_support::RunCommand("nm -D --defined-only " + module, &exported));
  std::set<std::string> names;
  std::istringstream lines(exported);
  for (std::string address, kind, name; lines >> address >> kind >> name;) names.insert(name);
  EXPECT_EQ(names,
            (std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                   "DllUnregisterServer", "VelrtModuleResource"}));
  std::string dynamic;
  ASSERT_TRUE(testing_support::RunCommand("readelf -d " + module, &dynamic));
  std::set<std::string> needed;
  for (size_t at = dynamic.find("Shared library: ["); at != std::string::npos;
       at = dynamic.find("Shared library: [", at + 1)) {
    const size_t start = at + 17;
    const std::string library = dynamic.substr(start, dynamic.find(']', start) - start);
    const bool sanitizer = library.find("san.so") != std::string::npos;  // libasan, libtsan...
    if (!sanitizer) needed.insert(library);
  }
  const std::set<std::string> allowed = {"libvelrt.so", "libstdc++.so.6", "libm.so.6",
                                         "libgcc_s.so.1", "libc.so.6"};
  EXPECT_TRUE(needed.contains("libvelrt.so"));
  for (const std::string& library : needed) EXPECT_TRUE(allowed.contains(library)) << library;
}

}  // namespace

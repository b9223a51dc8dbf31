#include "platform/com/activation.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <thread>

#include "platform/com/error_info.h"
#include "platform/com/object.h"
#include "platform/registry/registry_store.h"
#include "tests/runtime/sample_server/sample_server.h"
#include "tests/support/automation.h"
#include "tests/support/registry_sandbox.h"

namespace {

using testing_support::Automation;

bool ModuleIsHeld() { return HeldServerModuleCount() == 1; }

// Registers the sample server in a private registry, as the registration tool does.
class ActivationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    void* module = dlopen(SAMPLE_SERVER_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    const auto registerServer =
        reinterpret_cast<DllRegisterServerFunction>(dlsym(module, "DllRegisterServer"));
    ASSERT_NE(registerServer, nullptr);
    ASSERT_EQ(registerServer(), S_OK);
    dlclose(module);
  }
  void TearDown() override { CoFreeUnusedLibraries(); }

  testing_support::RegistrySandbox sandbox_;
};

TEST_F(ActivationTest, ProgIdsAndClassIdsResolveThroughTheRegistry) {
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(u"Vellum.SampleCounter", &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_SampleCounter);
  EXPECT_EQ(CLSIDFromProgID(u"vellum.samplecounter", &clsid), S_OK);  // names ignore case
  EXPECT_EQ(CLSIDFromProgID(u"No.Such.Thing", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(u"CLSID\\x", &clsid), CO_E_CLASSSTRING);
  LPOLESTR progId = nullptr;
  ASSERT_EQ(ProgIDFromCLSID(CLSID_SampleCounter, &progId), S_OK);
  EXPECT_EQ(std::u16string_view(progId), u"Vellum.SampleCounter");
  CoTaskMemFree(progId);
  EXPECT_EQ(ProgIDFromCLSID(GUID_NULL, &progId), REGDB_E_CLASSNOTREG);
}

TEST_F(ActivationTest, InstancesAreServedAndTheModuleIsReleasedWhenFree) {
  ComPtr<IDispatch> counter;
  ASSERT_EQ(CoCreateInstance(CLSID_SampleCounter, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                             counter.ReceiveVoid()),
            S_OK);
  Automation automation(counter.Get());
  EXPECT_EQ(automation.Call(u"Increment").Long(), 1);
  EXPECT_EQ(automation.Call(u"Increment", 5).Long(), 6);
  const testing_support::CallResult failed = automation.Call(u"Fail", u"broken");
  EXPECT_EQ(failed.scode, E_FAIL);
  EXPECT_EQ(failed.description, u"broken");
  EXPECT_EQ(failed.source, u"Vellum.SampleCounter");

  CoFreeUnusedLibraries();
  EXPECT_TRUE(ModuleIsHeld());  // the object holds it
  counter.Reset();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(ModuleIsHeld());

  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_SampleCounter, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             factory.ReceiveVoid()),
            S_OK);
  CoFreeUnusedLibraries();
  EXPECT_TRUE(ModuleIsHeld());  // a factory held outside its module's cache holds it too
  factory.Reset();
}

TEST_F(ActivationTest, AggregatedMarshalerKeepsOneIdentity) {
  ComPtr<IDispatch> counter;
  ASSERT_EQ(CoCreateInstance(CLSID_SampleCounter, nullptr, CLSCTX_ALL, IID_IDispatch,
                             counter.ReceiveVoid()),
            S_OK);
  ComPtr<IMarshal> marshal;
  ASSERT_EQ(counter.As(&marshal), S_OK);
  ComPtr<IUnknown> fromDispatch;
  ComPtr<IUnknown> fromMarshal;
  ASSERT_EQ(counter.As(&fromDispatch), S_OK);
  ASSERT_EQ(marshal.As(&fromMarshal), S_OK);
  EXPECT_EQ(fromDispatch.Get(), fromMarshal.Get());
  ComPtr<IDispatch> back;
  EXPECT_EQ(marshal.As(&back), S_OK);
  EXPECT_EQ(back.Get(), counter.Get());
  CLSID unmarshaler;
  EXPECT_EQ(marshal->GetUnmarshalClass(IID_IDispatch, nullptr, 0, nullptr, 0, &unmarshaler),
            E_NOTIMPL);
}

TEST_F(ActivationTest, UnknownClassesAndMissingModulesAreReported) {
  void* object = nullptr;
  EXPECT_EQ(CoCreateInstance(GUID_NULL, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(
      CoCreateInstance(CLSID_SampleCounter, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &object),
      REGDB_E_CLASSNOTREG);
  ASSERT_EQ(registry::UpdateRegistry([](registry::RegistryKey& root) {
              root.Create("HKEY_CLASSES_ROOT\\CLSID\\" + GuidToString(CLSID_SampleCounter) +
                          "\\InprocServer32")
                  .SetValue("", "/no/such/module.so");
              return S_OK;
            }),
            S_OK);
  EXPECT_EQ(
      CoCreateInstance(CLSID_SampleCounter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
      CO_E_DLLNOTFOUND);
  EXPECT_EQ(object, nullptr);
}

TEST(ErrorInformation, IsPerThreadAndHandedOverOnce) {
  ASSERT_EQ(ReportErrorInfo(IID_IDispatch, u"source", u"description"), S_OK);
  bool otherSawSome = true;
  std::thread([&] {
    IErrorInfo* info = nullptr;
    otherSawSome = GetErrorInfo(0, &info) == S_OK;
  }).join();
  EXPECT_FALSE(otherSawSome);
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  GUID guid;
  info->GetGUID(&guid);
  EXPECT_EQ(guid, IID_IDispatch);
  Bstr text;
  info->GetDescription(text.Receive());
  EXPECT_EQ(text.View(), u"description");
  info->Release();
  EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE);
  EXPECT_EQ(info, nullptr);
}

}  // namespace

#include "vellum/easel.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/com/activation.h"
#include "platform/com/error_info.h"
#include "platform/com/safe_array.h"
#include "platform/kernel/last_error.h"
#include "platform/registry/registrar.h"
#include "tests/support/automation.h"
#include "tests/support/registry_sandbox.h"
#include "tests/vellum/vellum_objects.h"
#include "vellum/core/entry_frame.h"
#include "vellum/module.h"

namespace {

using testing_support::Automation;
using testing_support::CallResult;
using vellum::Easel;
using vellum_testing::AsEasel;
using vellum_testing::CreateDispatch;

// Writes the class's ProgID, so that error information can name it as its source.
void RegisterEaselProgId() {
  const void* script = nullptr;
  DWORD size = 0;
  ASSERT_TRUE(VelrtModuleResource(kRegistryResource, vellum::kEaselRegistryScript, &script, &size));
  ASSERT_EQ(registry::RunRegistryScript(std::string_view(static_cast<const char*>(script), size),
                                        {{"MODULE", "/test"}}, true),
            S_OK);
}

struct ErrorFields {
  std::u16string source;
  std::u16string description;
  GUID guid = GUID_NULL;
};

// Takes the calling thread's error information.
ErrorFields TakeErrorInfo() {
  ErrorFields fields;
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK) return fields;
  Bstr source;
  Bstr description;
  info->GetSource(source.Receive());
  info->GetDescription(description.Receive());
  info->GetGUID(&fields.guid);
  info->Release();
  fields.source = source.View();
  fields.description = description.View();
  return fields;
}

class EaselTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(object_); }
  Automation Script() { return Automation(object_.Get()); }
  Easel& Object() { return *AsEasel(object_); }
  std::u16string ErrorDescription() { return Script().Get(u"ErrorDescription").Text(); }

  testing_support::RegistrySandbox sandbox_;
  ComPtr<IDispatch> object_ = CreateDispatch(vellum::CLSID_Easel);
};

TEST_F(EaselTest, ANewObjectHasItsDefaults) {
  const std::pair<const char16_t*, LONG> expected[] = {{u"Width", 0},
                                                       {u"Height", 0},
                                                       {u"ImageFormat", 0},
                                                       {u"ImageQuality", 70},
                                                       {u"JPEGProgressive", 1},
                                                       {u"ColorAdjustmentAlgorithm", 2},
                                                       {u"TransparentColor", 16777214},
                                                       {u"TiffPage", 1},
                                                       {u"ResizeFilter", 4},
                                                       {u"DPIx", 72},
                                                       {u"DPIy", 72},
                                                       {u"DPIUnits", 1},
                                                       {u"AntiAliasFactor", 0},
                                                       {u"BufferResponse", 0}};
  for (const auto& [name, value] : expected) {
    const CallResult read = Script().Get(name);
    EXPECT_EQ(read.hr, S_OK) << BstrToUtf8(Variant::String(name).bstrVal).value_or("");
    EXPECT_EQ(read.Long(), value) << BstrToUtf8(Variant::String(name).bstrVal).value_or("");
  }
  EXPECT_EQ(Script().Get(u"ImageQuality").value.vt, VT_I2);
  EXPECT_EQ(Script().Get(u"BufferResponse").value.vt, VT_BOOL);
  const CallResult text = Script().Get(u"ErrorDescription");
  EXPECT_EQ(text.value.vt, VT_BSTR);
  EXPECT_NE(text.value.bstrVal, nullptr);  // an empty string, not a null one
  EXPECT_EQ(text.Text(), u"");
  EXPECT_EQ(Script().Get(u"Text").Text(), u"");
}

TEST_F(EaselTest, ImageQualityAcceptsOneToHundred) {
  EXPECT_EQ(Script().Put(u"ImageQuality", 0).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Put(u"ImageQuality", 101).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Put(u"ImageQuality", -5).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Get(u"ImageQuality").Long(), 70);
  EXPECT_EQ(Script().Put(u"ImageQuality", 100).hr, S_OK);
  EXPECT_EQ(Script().Get(u"ImageQuality").Long(), 100);
  EXPECT_EQ(Script().Put(u"ImageQuality", 70000).hr, DISP_E_OVERFLOW);  // not a short
  EXPECT_EQ(ErrorDescription(), u"");  // property checks leave the text alone
}

TEST_F(EaselTest, ColorSettingsAcceptTheirValues) {
  EXPECT_EQ(Script().Put(u"ColorResolution", 2).Error(), E_INVALIDARG);
  for (int accepted : {1, 4, 8, 24}) EXPECT_EQ(Script().Put(u"ColorResolution", accepted).hr, S_OK);
  EXPECT_EQ(Script().Get(u"ColorResolution").hr, DISP_E_MEMBERNOTFOUND);  // write-only
  // A method outside 0 to 2 would make every colour-reduced save fail.
  for (int refused : {3, -1, INT32_MIN}) {
    EXPECT_EQ(Script().Put(u"ColorAdjustmentAlgorithm", refused).Error(), E_INVALIDARG) << refused;
  }
  EXPECT_EQ(Script().Get(u"ColorAdjustmentAlgorithm").Long(), 2);
  EXPECT_EQ(Script().Put(u"ColorAdjustmentAlgorithm", 0).hr, S_OK);
  EXPECT_EQ(Script().Get(u"ColorAdjustmentAlgorithm").Long(), 0);
}

// Units outside the four known ones would go into files no reader takes back.
TEST_F(EaselTest, DpiUnitsAcceptTheFourKnownUnits) {
  for (int refused : {-1, 4, 17}) {
    EXPECT_EQ(Script().Put(u"DPIUnits", refused).Error(), E_INVALIDARG) << refused;
  }
  EXPECT_EQ(Script().Get(u"DPIUnits").Long(), 1);
  for (int accepted : {0, 1, 2, 3}) {
    EXPECT_EQ(Script().Put(u"DPIUnits", accepted).hr, S_OK);
    EXPECT_EQ(Script().Get(u"DPIUnits").Long(), accepted);
  }
}

TEST_F(EaselTest, JpegProgressiveIsAFlagAndOtherSettingsAreStoredAsGiven) {
  EXPECT_EQ(Script().Put(u"JPEGProgressive", -1).hr, S_OK);
  EXPECT_EQ(Script().Get(u"JPEGProgressive").Long(), 1);
  EXPECT_EQ(Script().Put(u"JPEGProgressive", 0).hr, S_OK);
  EXPECT_EQ(Script().Get(u"JPEGProgressive").Long(), 0);
  const std::pair<const char16_t*, int> stored[] = {{u"TransparentColor", -7},
                                                    {u"TiffPage", 0},
                                                    {u"ResizeFilter", 99},
                                                    {u"DPIx", -3},
                                                    {u"DPIy", 300},
                                                    {u"DPIUnits", 0},
                                                    {u"AntiAliasFactor", 5}};
  for (const auto& [name, value] : stored) {
    EXPECT_EQ(Script().Put(name, value).hr, S_OK);
    EXPECT_EQ(Script().Get(name).Long(), value);
  }
  EXPECT_EQ(Script().Put(u"BufferResponse", true).hr, S_OK);
  EXPECT_EQ(Script().Get(u"BufferResponse").Long(), -1);
  EXPECT_EQ(Script().Put(u"DPIx", u"40000").hr, DISP_E_OVERFLOW);
}

TEST_F(EaselTest, TextIsKeptAndANullTextIsEmpty) {
  EXPECT_EQ(Script().Put(u"Text", u"hello").hr, S_OK);
  EXPECT_EQ(Script().Get(u"Text").Text(), u"hello");
  EXPECT_EQ(Object().put_Text(nullptr), S_OK);
  BSTR text = nullptr;
  ASSERT_EQ(Object().get_Text(&text), S_OK);
  EXPECT_NE(text, nullptr);
  EXPECT_EQ(SysStringLen(text), 0u);
  SysFreeString(text);
}

TEST_F(EaselTest, TextWithoutAnOutPointerReportsIt) {
  RegisterEaselProgId();
  EXPECT_EQ(Object().get_Text(nullptr), E_POINTER);
  const ErrorFields error = TakeErrorInfo();
  EXPECT_EQ(error.description, u"out pointer is invalid");
  EXPECT_EQ(error.source, u"Quillmark.Easel.1");
  EXPECT_EQ(error.guid, vellum::IID_IEasel);
}

TEST_F(EaselTest, FontIsTheObjectsOwnFontEveryTime) {
  CallResult first = Script().Get(u"Font");
  CallResult second = Script().Get(u"Font");
  ASSERT_EQ(first.value.vt, VT_DISPATCH);
  EXPECT_EQ(first.value.pdispVal, second.value.pdispVal);
  Automation font(first.value.pdispVal);
  EXPECT_EQ(font.Put(u"Weight", 700).hr, S_OK);
  EXPECT_EQ(Object().Font().LogFont().lfWeight, 700);
}

TEST_F(EaselTest, ErrorTextComposesItsPiecesInOrder) {
  EXPECT_EQ(vellum::ComposeErrorText(0, u"", 0, S_OK), u"");
  EXPECT_EQ(vellum::ComposeErrorText(0, u"Message", 0, E_INVALIDARG),
            u"One of the function arguments is invalid\r\nMessage\r\n");
  EXPECT_EQ(vellum::ComposeErrorText(ERROR_FILE_NOT_FOUND, u"Can not access to the image file", 2,
                                     E_OUTOFMEMORY),
            u"Not enough memory to perform the operation\r\n"
            u"An error occured while opening the file\r\n"
            u"No such file or directory\r\n"
            u"Can not access to the image file\r\n");
  EXPECT_EQ(vellum::ComposeErrorText(0, u"", 57, E_FAIL), u"");  // codes without texts add nothing
}

TEST_F(EaselTest, FailuresAccumulateInOrder) {
  EXPECT_EQ(Object().RunEditing([&]() -> HRESULT { Object().ReportFailure(u"First failure"); }),
            S_OK);
  EXPECT_EQ(Object().RunEditing([&]() -> HRESULT {
    Object().ReportFailure(u"Second failure", 0, vellum::kErrInvalidArgument);
  }),
            S_OK);
  EXPECT_EQ(ErrorDescription(), u"First failure\r\nInvalid argument\r\nSecond failure\r\n");
}

TEST_F(EaselTest, RaisedFailuresBecomeErrorInformationWithoutSource) {
  RegisterEaselProgId();
  const HRESULT hr = Object().RunReporting(
      [&]() -> HRESULT { Object().ReportFailure(u"Can not merge images", 0, 0, 0); });
  EXPECT_EQ(hr, DISP_E_EXCEPTION);
  ErrorFields error = TakeErrorInfo();
  EXPECT_EQ(error.description, u"Can not merge images\r\n");  // the whole text so far
  EXPECT_EQ(error.source, u"");                               // IEasel's identifier has no ProgID
  EXPECT_EQ(error.guid, GUID_NULL);

  EXPECT_EQ(Object().RunReporting([]() -> HRESULT { throw std::runtime_error("library failure"); }),
            DISP_E_EXCEPTION);
  EXPECT_EQ(TakeErrorInfo().description, u"library failure");
  EXPECT_EQ(Object().RunReporting([]() -> HRESULT { throw 42; }), DISP_E_EXCEPTION);
  EXPECT_EQ(TakeErrorInfo().description, u"Unknown exception");
  EXPECT_EQ(Object().RunEditing([] { return E_INVALIDARG; }), E_INVALIDARG);  // direct checks pass
}

TEST_F(EaselTest, LoadAndSaveFailuresCarryTheWholeDescription) {
  Object().AppendErrorText(0, u"Earlier", 0, 0);
  const HRESULT hr = Object().RunLoadOrSave([&]() -> HRESULT {
    Object().ReportFailure(u"Can not access to the image file", ERROR_FILE_NOT_FOUND);
  });
  EXPECT_EQ(hr, DISP_E_EXCEPTION);
  const ErrorFields error = TakeErrorInfo();
  EXPECT_EQ(error.source, u"Quillmark.Easel.1");
  EXPECT_EQ(error.description, ErrorDescription());
  EXPECT_EQ(error.description,
            u"Earlier\r\nNo such file or directory\r\nCan not access to the image file\r\n");
  // A plain failure code ends the same way.
  EXPECT_EQ(Object().RunLoadOrSave([] { return E_INVALIDARG; }), DISP_E_EXCEPTION);
  const std::u16string plain = TakeErrorInfo().description;
  EXPECT_EQ(plain, ErrorDescription());
  EXPECT_EQ(Object().RunLoadOrSave([] { return S_OK; }), S_OK);
}

TEST_F(EaselTest, ArgumentErrorsNameTheClassAndLeaveTheText) {
  RegisterEaselProgId();
  EXPECT_EQ(Object().ReportArgumentError(u"Either Width or Height must be set"), DISP_E_EXCEPTION);
  const ErrorFields error = TakeErrorInfo();
  EXPECT_EQ(error.description, u"Either Width or Height must be set");
  EXPECT_EQ(error.source, u"Quillmark.Easel.1");
  EXPECT_EQ(ErrorDescription(), u"");
}

TEST_F(EaselTest, SupportsErrorInfoForIEaselOnly) {
  ComPtr<ISupportErrorInfo> support;
  ASSERT_EQ(object_.As(&support), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(vellum::IID_IEasel), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
  ComPtr<vellum::IEasel> easel;
  EXPECT_EQ(object_.As(&easel), S_OK);
  ComPtr<vellum::IEZFont> notAFont;
  EXPECT_EQ(object_.As(&notAFont), E_NOINTERFACE);
}

TEST_F(EaselTest, GifIndexesAreReachableOnlyFromCode) {
  EXPECT_EQ(Script().Id(u"GifTransparentIndex"), DISPID_UNKNOWN);
  LONG index = 0;
  EXPECT_EQ(Object().get_GifTransparentIndex(&index), S_OK);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(Object().put_GifBackgroundIndex(9), S_OK);
  EXPECT_EQ(Object().get_GifBackgroundIndex(&index), S_OK);
  EXPECT_EQ(index, 9);
  EXPECT_EQ(Object().get_GifBackgroundIndex(nullptr), E_POINTER);
  EXPECT_EQ(Object().get_Width(nullptr), E_POINTER);  // no getter writes through null
}

TEST_F(EaselTest, RequiredArgumentsCannotBeLeftOut) {
  EXPECT_EQ(Script().Call(u"AddWatermark").hr, DISP_E_BADPARAMCOUNT);
}

// An outer object that aggregates an Easel and counts its own references.
class Outer final : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (iid == IID_IUnknown) {
      *object = this;
      AddRef();
      return S_OK;
    }
    return inner.Get() != nullptr ? inner->QueryInterface(iid, object) : E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++references; }
  ULONG Release() override { return --references; }
  virtual ~Outer() = default;
  ULONG references = 1;
  ComPtr<IUnknown> inner;
};

TEST_F(EaselTest, AggregatedObjectsDelegateToTheirOuterObject) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(DllGetClassObject(vellum::CLSID_Easel, IID_IClassFactory, factory.ReceiveVoid()), S_OK);
  Outer outer;
  void* object = nullptr;
  EXPECT_EQ(factory->CreateInstance(&outer, IID_IDispatch, &object), CLASS_E_NOAGGREGATION);
  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, outer.inner.ReceiveVoid()), S_OK);
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(outer.inner.As(&dispatch), S_OK);
  EXPECT_EQ(outer.references, 2u);  // the reference went to the outer object
  ComPtr<IUnknown> identity;
  ASSERT_EQ(dispatch.As(&identity), S_OK);
  EXPECT_EQ(identity.Get(), &outer);
  identity.Reset();
  EXPECT_EQ(Automation(dispatch.Get()).Get(u"ImageQuality").Long(), 70);
  dispatch.Reset();
  outer.inner.Reset();
  EXPECT_EQ(outer.references, 1u);
}

// Every member, every kind of call, and awkward arguments: Invoke answers with an
// HRESULT and never crashes.
TEST_F(EaselTest, InvokeSurvivesAnyArguments) {
  LONG number = 3;
  Variant byRef;
  byRef.vt = VT_BYREF | VT_I4;
  byRef.plVal = &number;
  Variant loop;
  loop.vt = VT_BYREF | VT_VARIANT;
  loop.pvarVal = &loop;
  Variant nullObject;
  nullObject.vt = VT_DISPATCH;
  Variant nullString;
  nullString.vt = VT_BSTR;
  Variant huge = Variant::String(std::u16string(1 << 22, u'x'));
  Variant array;
  array.vt = VT_ARRAY | VT_UI1;
  array.parray = SafeArrayCreateVector(VT_UI1, 0, 3);
  const VARIANT* samples[] = {&byRef, &loop, &nullObject, &nullString, &huge, &array};
  const WORD flags[] = {DISPATCH_METHOD, DISPATCH_PROPERTYGET, DISPATCH_PROPERTYPUT,
                        DISPATCH_METHOD | DISPATCH_PROPERTYGET, DISPATCH_PROPERTYPUTREF};
  for (DISPID id = -5; id <= 0x2D; ++id) {
    for (const WORD flag : flags) {
      for (UINT count = 0; count <= 7; ++count) {
        VARIANT arguments[7];
        for (UINT k = 0; k < count; ++k) arguments[k] = *samples[(id + k + count) % 6];
        DISPID put = DISPID_PROPERTYPUT;
        DISPPARAMS params = {arguments, &put, count,
                             (flag & DISPATCH_PROPERTYPUT) && count ? 1u : 0u};
        Variant result;
        EXCEPINFO exception{};
        UINT argumentError = 0;
        const HRESULT hr =
            object_->Invoke(id, IID_NULL, 0, flag, &params, &result, &exception, &argumentError);
        ClearExcepInfo(&exception);
        EXPECT_TRUE(hr == S_OK || hr == DISP_E_EXCEPTION || hr == DISP_E_MEMBERNOTFOUND ||
                    hr == DISP_E_BADPARAMCOUNT || hr == DISP_E_TYPEMISMATCH ||
                    hr == DISP_E_PARAMNOTOPTIONAL || hr == DISP_E_OVERFLOW)
            << id << " " << flag << " " << count << " " << std::hex << hr;
      }
    }
  }
  EXPECT_EQ(Script().Put(u"Text", std::move(huge)).hr, S_OK);
  EXPECT_EQ(Script().Get(u"Text").Text().size(), size_t{1} << 22);
}

}  // namespace

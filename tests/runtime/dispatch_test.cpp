#include "platform/automation/dispatch.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/automation/binding.h"
#include "platform/automation/type_library.h"
#include "platform/automation/type_library_file.h"
#include "platform/com/error_info.h"
#include "platform/com/object.h"
#include "platform/com/safe_array.h"
#include "platform/registry/registry_store.h"
#include "tests/support/automation.h"
#include "tests/support/oracle.h"
#include "tests/support/registry_sandbox.h"

namespace {

using automation::Bind;
using automation::MemberKind;
using automation::TypeLibraryDesc;
using testing_support::Automation;
using testing_support::CallResult;

constexpr IID IID_IWidget = {0x5A0C7E31, 0x7B2D, 0x4C18, {0x9E, 1, 2, 3, 4, 5, 6, 7}};
constexpr GUID LIBID_Widgets = {0x5A0C7E32, 0x7B2D, 0x4C18, {0x9E, 1, 2, 3, 4, 5, 6, 7}};
constexpr CLSID CLSID_Widget = {0x5A0C7E33, 0x7B2D, 0x4C18, {0x9E, 1, 2, 3, 4, 5, 6, 7}};

enum WidgetMode : LONG { kPlain = 0, kFancy = 1 };

class IWidget : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = IID_IWidget;
  virtual HRESULT Combine(LONG first, SHORT second, double scale, BSTR label, BSTR* result) = 0;
  virtual HRESULT Echo(VARIANT value, VARIANT extra, VARIANT* result) = 0;
  virtual HRESULT get_Level(SHORT* value) = 0;
  virtual HRESULT put_Level(SHORT value) = 0;
  virtual HRESULT get_Item(LONG index, LONG* value) = 0;
  virtual HRESULT put_Item(LONG index, LONG value) = 0;
  virtual HRESULT Fail() = 0;
  virtual HRESULT Throw() = 0;
  virtual HRESULT get_Flag(VARIANT_BOOL* value) = 0;
  virtual HRESULT SetMode(WidgetMode mode) = 0;

 protected:
  ~IWidget() = default;
};

automation::ParamDesc Param(std::string name, automation::TypeDesc type, bool optional = false,
                            automation::Constant value = {}) {
  return {std::move(name), std::move(type), optional, std::move(value)};
}

TypeLibraryDesc DescribeWidgets() {
  using namespace automation;
  TypeLibraryDesc library;
  library.name = "WidgetLib";
  library.libid = LIBID_Widgets;
  library.help = "Widget 1.0 Type Library";
  library.enums = {{"WidgetMode", "", {{"kPlain", 0, ""}, {"kFancy", 1, "the fancy one"}}}};
  library.interfaces = {
      {"IWidget",
       IID_IWidget,
       "IWidget Interface",
       {{1,
         MemberKind::kMethod,
         "Combine",
         {Param("First", kLongType), Param("Second", kShortType, true, 7),
          Param("Scale", kDoubleType, true, 0.5), Param("Label", kStringType, true)},
         kStringType,
         "method Combine",
         Bind<&IWidget::Combine>()},
        {2,
         MemberKind::kMethod,
         "Echo",
         {Param("Value", kVariantType), Param("Extra", kVariantType, true)},
         kVariantType,
         "",
         Bind<&IWidget::Echo>()},
        {3, MemberKind::kGet, "Level", {}, kShortType, "", Bind<&IWidget::get_Level>()},
        {3,
         MemberKind::kPut,
         "Level",
         {Param("newVal", kShortType)},
         kNoValue,
         "",
         Bind<&IWidget::put_Level>()},
        {0,
         MemberKind::kGet,
         "Item",
         {Param("Index", kLongType)},
         kLongType,
         "",
         Bind<&IWidget::get_Item>()},
        {0,
         MemberKind::kPut,
         "Item",
         {Param("Index", kLongType), Param("newVal", kLongType)},
         kNoValue,
         "",
         Bind<&IWidget::put_Item>()},
        {5, MemberKind::kMethod, "Fail", {}, kNoValue, "", Bind<&IWidget::Fail>()},
        {6, MemberKind::kMethod, "Throw", {}, kNoValue, "", Bind<&IWidget::Throw>()},
        {7, MemberKind::kGet, "Flag", {}, kBoolType, "", Bind<&IWidget::get_Flag>()},
        {8,
         MemberKind::kMethod,
         "SetMode",
         {Param("Mode", Enum("WidgetMode"))},
         kNoValue,
         "",
         Bind<&IWidget::SetMode>()}}}};
  library.classes = {{"Widget", CLSID_Widget, "Widget Class", "IWidget"}};
  return library;
}

std::shared_ptr<const TypeLibraryDesc> Widgets() {
  static const auto library = automation::ShareLibrary(DescribeWidgets());
  return library;
}

const automation::BoundInterface& WidgetInterface() {
  static const automation::BoundInterface bound = automation::BindInterface(Widgets(), IID_IWidget);
  return bound;
}

class Widget final : public ComObject<DispatchImpl<IWidget, &WidgetInterface>> {
 public:
  explicit Widget(IUnknown* outer) : ComObject(outer) {}

  HRESULT Combine(LONG first, SHORT second, double scale, BSTR label, BSTR* result) override {
    const std::string text = std::to_string(first) + "/" + std::to_string(second) + "/" +
                             std::to_string(scale) + "/" + BstrToUtf8(label).value_or("?") +
                             (label == nullptr ? "(null)" : "");
    *result = AllocBstrFromUtf8(text);
    return S_OK;
  }
  HRESULT Echo(VARIANT value, VARIANT extra, VARIANT* result) override {
    lastExtra = extra;
    return VariantCopy(result, &value);
  }
  HRESULT get_Level(SHORT* value) override {
    *value = level;
    return S_OK;
  }
  HRESULT put_Level(SHORT value) override {
    level = value;
    return S_OK;
  }
  HRESULT get_Item(LONG index, LONG* value) override {
    *value = index * 10;
    return S_OK;
  }
  HRESULT put_Item(LONG index, LONG value) override {
    lastItem = {index, value};
    return S_OK;
  }
  HRESULT Fail() override {
    ReportErrorInfo(GUID_NULL, u"Widget", u"it failed");
    return E_FAIL;
  }
  HRESULT Throw() override { throw std::runtime_error("thrown"); }
  HRESULT get_Flag(VARIANT_BOOL* value) override {
    *value = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT SetMode(WidgetMode value) override {
    mode = value;
    return S_OK;
  }

  SHORT level = 3;
  VARIANT lastExtra{};
  std::pair<LONG, LONG> lastItem{};
  WidgetMode mode = kPlain;
};

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CreateComObject<Widget>(nullptr, IID_IDispatch, widget_.ReceiveVoid()), S_OK);
    object_ = static_cast<Widget*>(static_cast<IWidget*>(widget_.Get()));
  }
  ComPtr<IDispatch> widget_;
  Widget* object_ = nullptr;
  Automation Auto() { return Automation(widget_.Get()); }
};

TEST_F(DispatchTest, NamesAreFoundWithoutRegardToCase) {
  std::u16string names[] = {u"cOmBiNe", u"scale", u"LABEL", u"nothing"};
  LPOLESTR pointers[] = {names[0].data(), names[1].data(), names[2].data(), names[3].data()};
  DISPID ids[4];
  EXPECT_EQ(widget_->GetIDsOfNames(IID_NULL, pointers, 4, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 1);
  EXPECT_EQ(ids[1], 2);  // parameters are numbered by position
  EXPECT_EQ(ids[2], 3);
  EXPECT_EQ(ids[3], DISPID_UNKNOWN);
  EXPECT_EQ(Auto().Id(u"Nope"), DISPID_UNKNOWN);
  EXPECT_EQ(widget_->GetIDsOfNames(IID_IWidget, pointers, 1, 0, ids), DISP_E_UNKNOWNINTERFACE);
  LPOLESTR none[] = {nullptr};
  EXPECT_EQ(widget_->GetIDsOfNames(IID_NULL, none, 1, 0, ids), DISP_E_UNKNOWNNAME);
}

TEST_F(DispatchTest, OptionalArgumentsTakeTheirDefaults) {
  EXPECT_EQ(Auto().Call(u"Combine", 1).Text(), u"1/7/0.500000/(null)");
  EXPECT_EQ(Auto().Call(u"Combine", 1, 2, 1.5, u"x").Text(), u"1/2/1.500000/x");
  // An argument passed as "missing" is left out too.
  EXPECT_EQ(Auto().Call(u"Combine", 1, Variant::Missing(), 2.0).Text(), u"1/7/2.000000/(null)");
  // A VARIANT parameter left out receives the missing marker.
  EXPECT_EQ(Auto().Call(u"Echo", 5).Long(), 5);
  EXPECT_EQ(object_->lastExtra.vt, VT_ERROR);
  EXPECT_EQ(object_->lastExtra.scode, DISP_E_PARAMNOTFOUND);
}

TEST_F(DispatchTest, ArgumentsAreCoercedToTheirDeclaredTypes) {
  EXPECT_EQ(Auto().Call(u"Combine", u" 12 ", u"2.5", u"1e1", 33).Text(), u"12/2/10.000000/33");
  const CallResult mismatch = Auto().Call(u"Combine", 1, u"abc", 2.0);
  EXPECT_EQ(mismatch.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(mismatch.argumentError, 1u);  // rgvarg index: the arguments are reversed
  EXPECT_EQ(Auto().Put(u"Level", 40000).hr, DISP_E_OVERFLOW);
  EXPECT_EQ(Auto().Get(u"Level").Long(), 3);
  EXPECT_EQ(Auto().Call(u"SetMode", 1.0).hr, S_OK);
  EXPECT_EQ(object_->mode, kFancy);
  const CallResult flag = Auto().Get(u"Flag");
  EXPECT_EQ(flag.value.vt, VT_BOOL);
  EXPECT_EQ(flag.value.boolVal, VARIANT_TRUE);
}

TEST_F(DispatchTest, ReferencesAreReadThroughAndVariantsPassedAsGiven) {
  LONG number = 4;
  Variant byRef;
  byRef.vt = VT_BYREF | VT_I4;
  byRef.plVal = &number;
  EXPECT_EQ(Auto().Call(u"Combine", std::move(byRef)).Text(), u"4/7/0.500000/(null)");

  Variant inner = Variant::Long(8);
  Variant outer;
  outer.vt = VT_BYREF | VT_VARIANT;
  outer.pvarVal = &inner;
  const CallResult echoed = Auto().Call(u"Echo", std::move(outer));
  EXPECT_EQ(echoed.value.vt, VT_BYREF | VT_VARIANT);  // the callee sees the reference itself

  Variant middle;
  middle.vt = VT_BYREF | VT_VARIANT;
  middle.pvarVal = &inner;
  Variant nested;
  nested.vt = VT_BYREF | VT_VARIANT;
  nested.pvarVal = &middle;
  EXPECT_EQ(Auto().Call(u"Combine", std::move(nested)).hr, DISP_E_TYPEMISMATCH);
  Variant dangling;
  dangling.vt = VT_BYREF | VT_I4;
  dangling.plVal = nullptr;
  EXPECT_EQ(Auto().Call(u"Combine", std::move(dangling)).hr, DISP_E_TYPEMISMATCH);
}

TEST_F(DispatchTest, CountsKindsAndMembersAreChecked) {
  EXPECT_EQ(Auto().Call(u"Combine").hr, DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Auto().Call(u"Combine", 1, 2, 3.0, u"x", 5).hr, DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Auto().Call(u"Combine", Variant::Missing()).hr, DISP_E_PARAMNOTOPTIONAL);
  EXPECT_EQ(Auto().Get(u"Combine", 1).hr, DISP_E_MEMBERNOTFOUND);  // a method is not a property
  EXPECT_EQ(Auto().Put(u"Flag", true).hr, DISP_E_MEMBERNOTFOUND);  // read-only
  EXPECT_EQ(Auto().Invoke(99, DISPATCH_METHOD, {}).hr, DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Auto().Invoke(3, 0, {}).hr, DISP_E_MEMBERNOTFOUND);
  // Scripts ask for a property with both flags.
  EXPECT_EQ(Auto().Invoke(3, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}).Long(), 3);

  Variant result;
  EXPECT_EQ(
      widget_->Invoke(3, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, &result, nullptr, nullptr),
      E_INVALIDARG);
  DISPPARAMS badCounts = {nullptr, nullptr, 0, 1};
  EXPECT_EQ(
      widget_->Invoke(3, IID_NULL, 0, DISPATCH_PROPERTYGET, &badCounts, &result, nullptr, nullptr),
      E_INVALIDARG);
  DISPPARAMS noArray = {nullptr, nullptr, 2, 0};
  EXPECT_EQ(widget_->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &noArray, &result, nullptr, nullptr),
            E_INVALIDARG);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  EXPECT_EQ(widget_->Invoke(3, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, nullptr, nullptr, nullptr),
            S_OK);  // no place for the result is fine
}

TEST_F(DispatchTest, PutsTakeTheirValueByNameOrLast) {
  EXPECT_EQ(Auto().Put(u"Level", 9).hr, S_OK);
  EXPECT_EQ(object_->level, 9);
  EXPECT_EQ(Auto().Put(u"Item", 4, 77).hr, S_OK);
  EXPECT_EQ(object_->lastItem, std::make_pair(4, 77));
  EXPECT_EQ(Auto().Get(u"Item", 3).Long(), 30);
  // Without DISPID_PROPERTYPUT the last positional argument is the value.
  Variant value = Variant::Long(11);
  DISPPARAMS params = {&value, nullptr, 1, 0};
  EXPECT_EQ(
      widget_->Invoke(3, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr),
      S_OK);
  EXPECT_EQ(object_->level, 11);
  EXPECT_EQ(Auto().Put(u"Level").hr, DISP_E_BADPARAMCOUNT);
}

TEST_F(DispatchTest, NamedArgumentsFillTheirParameters) {
  // Label by name, First by position.
  Variant arguments[2] = {Variant::String(u"named"), Variant::Long(1)};
  DISPID names[] = {3};
  DISPPARAMS params = {arguments, names, 2, 1};
  Variant result;
  ASSERT_EQ(widget_->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(BstrView(result.bstrVal), u"1/7/0.500000/named");
  DISPID unknown[] = {12};
  params.rgdispidNamedArgs = unknown;
  UINT argumentError = 99;
  EXPECT_EQ(
      widget_->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, &argumentError),
      DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(argumentError, 0u);
}

TEST_F(DispatchTest, FailuresArriveAsExceptionsWithTheErrorInformation) {
  const CallResult failed = Auto().Call(u"Fail");
  EXPECT_EQ(failed.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(failed.scode, E_FAIL);
  EXPECT_EQ(failed.description, u"it failed");
  EXPECT_EQ(failed.source, u"Widget");
  // Error information left over from before a call is not reported for it.
  ReportErrorInfo(GUID_NULL, u"stale", u"stale");
  const CallResult thrown = Auto().Call(u"Throw");
  EXPECT_EQ(thrown.scode, E_UNEXPECTED);
  EXPECT_EQ(thrown.description, u"");
}

TEST(DescriptionCheck, FindsMismatchesAndUnsoundDeclarations) {
  TypeLibraryDesc library = DescribeWidgets();
  library.interfaces[0].members[2].result = automation::kLongType;  // Level get is SHORT*
  library.interfaces[0].members[0].params[3].optional = false;      // required after optional
  library.interfaces[0].members[9].params[0].type = automation::Enum("NoSuchEnum");
  const std::vector<std::string> problems = automation::CheckLibrary(library);
  ASSERT_EQ(problems.size(), 3u);
  EXPECT_NE(problems[0].find("required parameter after optional"), std::string::npos);
  EXPECT_NE(problems[1].find("binding does not match"), std::string::npos);
  EXPECT_NE(problems[2].find("unknown type NoSuchEnum"), std::string::npos);
  EXPECT_TRUE(automation::CheckLibrary(DescribeWidgets()).empty());
  // A member whose binding does not match cannot be called at all.
  const auto shared = automation::ShareLibrary(std::move(library));
  EXPECT_EQ(shared->interfaces[0].members[2].binding.thunk, nullptr);
  EXPECT_NE(shared->interfaces[0].members[3].binding.thunk, nullptr);
}

TEST_F(DispatchTest, TypeInformationDescribesMembersParametersAndTypes) {
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(widget_->GetTypeInfo(0, 0, info.Receive()), S_OK);
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->typekind, TKIND_DISPATCH);
  EXPECT_EQ(attributes->guid, IID_IWidget);
  EXPECT_EQ(attributes->cFuncs, 10);
  EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FDUAL);
  info->ReleaseTypeAttr(attributes);

  FUNCDESC* combine = nullptr;
  ASSERT_EQ(info->GetFuncDesc(0, &combine), S_OK);
  EXPECT_EQ(combine->memid, 1);
  EXPECT_EQ(combine->invkind, INVOKE_FUNC);
  EXPECT_EQ(combine->cParams, 4);
  EXPECT_EQ(combine->cParamsOpt, 1);  // Label: optional without a default
  EXPECT_EQ(combine->elemdescFunc.tdesc.vt, VT_BSTR);
  const PARAMDESC& second = combine->lprgelemdescParam[1].paramdesc;
  EXPECT_EQ(second.wParamFlags, PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT);
  EXPECT_EQ(second.pparamdescex->varDefaultValue.lVal, 7);
  info->ReleaseFuncDesc(combine);

  FUNCDESC* setMode = nullptr;
  ASSERT_EQ(info->GetFuncDesc(9, &setMode), S_OK);
  ASSERT_EQ(setMode->lprgelemdescParam[0].tdesc.vt, VT_USERDEFINED);
  ComPtr<ITypeInfo> modes;
  ASSERT_EQ(info->GetRefTypeInfo(setMode->lprgelemdescParam[0].tdesc.hreftype, modes.Receive()),
            S_OK);
  info->ReleaseFuncDesc(setMode);
  VARDESC* fancy = nullptr;
  ASSERT_EQ(modes->GetVarDesc(1, &fancy), S_OK);
  EXPECT_EQ(fancy->lpvarValue->lVal, 1);
  modes->ReleaseVarDesc(fancy);
  Bstr name;
  Bstr help;
  ASSERT_EQ(modes->GetDocumentation(1, name.Receive(), help.Receive(), nullptr, nullptr), S_OK);
  EXPECT_EQ(name.View(), u"kFancy");
  EXPECT_EQ(help.View(), u"the fancy one");

  BSTR names[4] = {};
  UINT count = 0;
  ASSERT_EQ(info->GetNames(0, names, 4, &count), S_OK);  // Item: get first, its index
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(BstrView(names[1]), u"Index");
  for (UINT i = 0; i < count; ++i) SysFreeString(names[i]);

  // The type information can call members too.
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  Variant level;
  ASSERT_EQ(info->Invoke(static_cast<IWidget*>(object_), 3, DISPATCH_PROPERTYGET, &none, &level,
                         nullptr, nullptr),
            S_OK);
  EXPECT_EQ(level.iVal, 3);
}

TEST(TypeLibraryFile, RoundTripsAndRefusesDamagedBytes) {
  const TypeLibraryDesc library = DescribeWidgets();
  const std::string bytes = automation::SerializeTypeLibrary(library);
  const std::unique_ptr<TypeLibraryDesc> parsed = automation::ParseTypeLibrary(bytes);
  ASSERT_NE(parsed, nullptr);
  EXPECT_EQ(automation::SerializeTypeLibrary(*parsed), bytes);
  EXPECT_EQ(parsed->interfaces[0].members[0].params[2].defaultValue, automation::Constant(0.5));
  EXPECT_EQ(parsed->interfaces[0].members[0].binding.thunk, nullptr);
  for (size_t size = 0; size < bytes.size(); ++size) {
    EXPECT_EQ(automation::ParseTypeLibrary(bytes.substr(0, size)), nullptr) << size;
  }
  std::string huge = bytes;
  huge[33] = '\x7F';  // the high byte of the library name's length
  EXPECT_EQ(automation::ParseTypeLibrary(huge), nullptr);
  EXPECT_EQ(automation::ParseTypeLibrary(bytes + "x"), nullptr);
}

TEST(TypeLibraryRegistration, RegistersAndRemovesItsEntries) {
  testing_support::RegistrySandbox sandbox;
  const std::string file = sandbox.Directory().File("widgets.tlb");
  const std::string bytes = automation::SerializeTypeLibrary(DescribeWidgets());
  testing_support::WriteFileBytes(file, std::vector<uint8_t>(bytes.begin(), bytes.end()));
  const Bstr path = Bstr::Attach(AllocBstrFromUtf8(file));
  ComPtr<ITypeLib> library;
  ASSERT_EQ(LoadTypeLib(path.Get(), library.Receive()), S_OK);
  EXPECT_EQ(library->GetTypeInfoCount(), 3u);
  ASSERT_EQ(RegisterTypeLib(library.Get(), path.Get(), u"/help/"), S_OK);

  std::string value;
  const std::string libid = GuidToString(LIBID_Widgets);
  EXPECT_EQ(registry::QueryClassesRoot("TypeLib\\" + libid + "\\1.0\\0\\win64", "", &value), S_OK);
  EXPECT_EQ(value, file);
  EXPECT_EQ(registry::QueryClassesRoot("Interface\\" + GuidToString(IID_IWidget) + "\\TypeLib", "",
                                       &value),
            S_OK);
  EXPECT_EQ(value, libid);

  EXPECT_EQ(UnRegisterTypeLib(LIBID_Widgets, 1, 0, 0, SYS_WIN64), S_OK);
  EXPECT_EQ(registry::QueryClassesRoot("TypeLib\\" + libid, "", &value), S_FALSE);
  EXPECT_EQ(registry::QueryClassesRoot("Interface\\" + GuidToString(IID_IWidget), "", &value),
            S_FALSE);
  EXPECT_EQ(UnRegisterTypeLib(LIBID_Widgets, 1, 0, 0, SYS_WIN64), TYPE_E_REGISTRYACCESS);
  EXPECT_EQ(LoadTypeLib(u"/no/such/file.tlb", library.Receive()), TYPE_E_CANTLOADLIBRARY);
}

}  // namespace

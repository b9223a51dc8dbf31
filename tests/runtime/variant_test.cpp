#include "platform/com/variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/com/interfaces.h"
#include "platform/com/object.h"
#include "platform/com/safe_array.h"

namespace {

// ---- BSTR ----

TEST(Bstr, KeepsLengthAndEmbeddedNuls) {
  const char16_t text[] = {u'a', 0, u'b'};
  BSTR s = SysAllocStringLen(text, 3);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 3u);
  EXPECT_EQ(SysStringByteLen(s), 6u);
  EXPECT_EQ(s[1], 0);
  EXPECT_EQ(s[3], 0);  // terminated after the length
  SysFreeString(s);

  BSTR odd = SysAllocStringByteLen("abc", 3);
  EXPECT_EQ(SysStringByteLen(odd), 3u);
  EXPECT_EQ(SysStringLen(odd), 1u);
  SysFreeString(odd);

  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysAllocStringLen(nullptr, 0x7FFFFFFF), nullptr);  // beyond the limit
}

TEST(Bstr, ReallocationReplacesOrLeavesTheTarget) {
  BSTR s = SysAllocString(u"old");
  EXPECT_TRUE(SysReAllocString(&s, u"newer"));
  EXPECT_EQ(BstrView(s), u"newer");
  EXPECT_FALSE(SysReAllocStringLen(&s, nullptr, 0x7FFFFFFF));
  EXPECT_EQ(BstrView(s), u"newer");
  SysFreeString(s);
}

// ---- copy and clear ----

TEST(Variant, CopyIsDeepAndClearFreesIt) {
  Variant source = Variant::String(u"text");
  Variant copy;
  ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
  EXPECT_NE(copy.bstrVal, source.bstrVal);
  EXPECT_EQ(BstrView(copy.bstrVal), u"text");

  VARIANT unknown;
  VariantInit(&unknown);
  unknown.vt = 0x0FFF;
  EXPECT_EQ(VariantClear(&unknown), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantCopy(&copy, &unknown), DISP_E_BADVARTYPE);
  EXPECT_EQ(copy.vt, VT_BSTR);  // left as it was
}

TEST(Variant, CopyIndReadsThroughOneReference) {
  LONG number = 42;
  VARIANT byRef;
  VariantInit(&byRef);
  byRef.vt = VT_BYREF | VT_I4;
  byRef.plVal = &number;
  Variant copy;
  ASSERT_EQ(VariantCopyInd(&copy, &byRef), S_OK);
  EXPECT_EQ(copy.vt, VT_I4);
  EXPECT_EQ(copy.lVal, 42);

  // A VARIANT reference to a by-reference long is followed; to another VARIANT
  // reference it is refused; a null reference is refused.
  VARIANT outer;
  VariantInit(&outer);
  outer.vt = VT_BYREF | VT_VARIANT;
  outer.pvarVal = &byRef;
  ASSERT_EQ(VariantCopyInd(&copy, &outer), S_OK);
  EXPECT_EQ(copy.lVal, 42);
  VARIANT outermost;
  VariantInit(&outermost);
  outermost.vt = VT_BYREF | VT_VARIANT;
  outermost.pvarVal = &outer;
  EXPECT_EQ(VariantCopyInd(&copy, &outermost), E_INVALIDARG);
  outer.pvarVal = nullptr;
  EXPECT_EQ(VariantCopyInd(&copy, &outer), E_INVALIDARG);

  // In place: the target may be the source.
  VARIANT inPlace = byRef;
  ASSERT_EQ(VariantCopyInd(&inPlace, &inPlace), S_OK);
  EXPECT_EQ(inPlace.vt, VT_I4);
}

// ---- coercion ----

HRESULT Convert(const VARIANT& source, VARTYPE type, Variant* result, USHORT flags = 0) {
  return VariantChangeType(result, &source, flags, type);
}

LONG ToLong(double value, HRESULT expected = S_OK) {
  Variant result;
  EXPECT_EQ(Convert(Variant::Double(value), VT_I4, &result), expected) << value;
  return result.lVal;
}

std::u16string ToText(const VARIANT& value, USHORT flags = 0) {
  Variant result;
  EXPECT_EQ(Convert(value, VT_BSTR, &result, flags), S_OK);
  return std::u16string(BstrView(result.bstrVal));
}

TEST(ChangeType, RealsRoundHalfToEven) {
  EXPECT_EQ(ToLong(2.5), 2);
  EXPECT_EQ(ToLong(3.5), 4);
  EXPECT_EQ(ToLong(-2.5), -2);
  EXPECT_EQ(ToLong(-3.5), -4);
  EXPECT_EQ(ToLong(2.4999), 2);
  EXPECT_EQ(ToLong(2147483647.4), 2147483647);
  ToLong(2147483647.5, DISP_E_OVERFLOW);  // rounds to 2^31
  ToLong(std::nan(""), DISP_E_OVERFLOW);
  ToLong(std::numeric_limits<double>::infinity(), DISP_E_OVERFLOW);
}

TEST(ChangeType, IntegersCheckTheirRange) {
  Variant result;
  EXPECT_EQ(Convert(Variant::Long(40000), VT_I2, &result), DISP_E_OVERFLOW);
  EXPECT_EQ(Convert(Variant::Long(-1), VT_UI1, &result), DISP_E_OVERFLOW);
  EXPECT_EQ(Convert(Variant::Long(-32768), VT_I2, &result), S_OK);
  EXPECT_EQ(result.iVal, -32768);
  EXPECT_EQ(Convert(Variant::Long(255), VT_UI1, &result), S_OK);
  EXPECT_EQ(result.bVal, 255);
  EXPECT_EQ(Convert(Variant::Double(1e300), VT_R4, &result), DISP_E_OVERFLOW);
  EXPECT_EQ(Convert(Variant::Double(-9.3e18), VT_I8, &result), DISP_E_OVERFLOW);
  // On failure the target keeps its value.
  result.vt = VT_I4;
  result.lVal = 7;
  EXPECT_EQ(Convert(Variant::Long(40000), VT_I2, &result), DISP_E_OVERFLOW);
  EXPECT_EQ(result.lVal, 7);
}

TEST(ChangeType, TextsToNumbers) {
  Variant result;
  EXPECT_EQ(Convert(Variant::String(u"  42 "), VT_I4, &result), S_OK);
  EXPECT_EQ(result.lVal, 42);
  EXPECT_EQ(Convert(Variant::String(u"-1.5e2"), VT_I4, &result), S_OK);
  EXPECT_EQ(result.lVal, -150);
  EXPECT_EQ(Convert(Variant::String(u"2.5"), VT_I2, &result), S_OK);
  EXPECT_EQ(result.iVal, 2);
  EXPECT_EQ(Convert(Variant::String(u"&HFF"), VT_I4, &result), S_OK);
  EXPECT_EQ(result.lVal, 255);
  EXPECT_EQ(Convert(Variant::String(u"9223372036854775807"), VT_I8, &result), S_OK);
  EXPECT_EQ(result.llVal, INT64_MAX);  // exact, not through a double
  EXPECT_EQ(Convert(Variant::String(u"0.1"), VT_R8, &result), S_OK);
  EXPECT_EQ(result.dblVal, 0.1);
  EXPECT_EQ(Convert(Variant::String(u"1e999"), VT_R8, &result), DISP_E_OVERFLOW);
  for (const char16_t* bad : {u"", u"abc", u"1x", u"1e", u"--1", u"inf", u"nan", u"0x10"}) {
    EXPECT_EQ(Convert(Variant::String(bad), VT_I4, &result), DISP_E_TYPEMISMATCH)
        << BstrToUtf8(Variant::String(bad).bstrVal).value_or("");
  }
}

TEST(ChangeType, NumbersToTexts) {
  EXPECT_EQ(ToText(Variant::Long(-17)), u"-17");
  EXPECT_EQ(ToText(Variant::Double(1.5)), u"1.5");
  EXPECT_EQ(ToText(Variant::Double(0.1)), u"0.1");
  EXPECT_EQ(ToText(Variant::Double(1e20)), u"1E+20");
  Variant currency;
  currency.vt = VT_CY;
  currency.cyVal.int64 = -12345;  // -1.2345
  EXPECT_EQ(ToText(currency), u"-1.2345");
  EXPECT_EQ(ToText(Variant()), u"");
}

TEST(ChangeType, BooleansAreMinusOneAndZero) {
  Variant result;
  EXPECT_EQ(Convert(Variant::Bool(true), VT_I4, &result), S_OK);
  EXPECT_EQ(result.lVal, -1);
  EXPECT_EQ(Convert(Variant::Long(5), VT_BOOL, &result), S_OK);
  EXPECT_EQ(result.boolVal, VARIANT_TRUE);
  EXPECT_EQ(Convert(Variant::Double(0.0), VT_BOOL, &result), S_OK);
  EXPECT_EQ(result.boolVal, VARIANT_FALSE);
  EXPECT_EQ(Convert(Variant::String(u" TRUE "), VT_BOOL, &result), S_OK);
  EXPECT_EQ(result.boolVal, VARIANT_TRUE);
  EXPECT_EQ(Convert(Variant::String(u"0"), VT_BOOL, &result), S_OK);
  EXPECT_EQ(result.boolVal, VARIANT_FALSE);
  EXPECT_EQ(Convert(Variant::String(u"maybe"), VT_BOOL, &result), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(ToText(Variant::Bool(true)), u"-1");
  EXPECT_EQ(ToText(Variant::Bool(true), VARIANT_ALPHABOOL), u"True");
  EXPECT_EQ(Convert(Variant::Bool(true), VT_UI1, &result), S_OK);
  EXPECT_EQ(result.bVal, 255);
}

TEST(ChangeType, EmptyNullErrorsAndArrays) {
  Variant result;
  EXPECT_EQ(Convert(Variant(), VT_I4, &result), S_OK);
  EXPECT_EQ(result.lVal, 0);
  Variant null;
  null.vt = VT_NULL;
  EXPECT_EQ(Convert(null, VT_I4, &result), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Convert(Variant::Missing(), VT_I4, &result), DISP_E_TYPEMISMATCH);
  Variant array;
  array.vt = VT_ARRAY | VT_UI1;
  array.parray = SafeArrayCreateVector(VT_UI1, 0, 4);
  EXPECT_EQ(Convert(array, VT_BSTR, &result), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Convert(Variant::Long(1), VT_BYREF | VT_I4, &result), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Convert(Variant::Long(1), VT_DECIMAL, &result), DISP_E_BADVARTYPE);
}

// An object whose default member is 12.
class DefaultValue final : public ComObject<IDispatch> {
 public:
  explicit DefaultValue(IUnknown* outer) : ComObject(outer) {}
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                 UINT*) override {
    if (id != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
    result->vt = VT_I4;
    result->lVal = 12;
    return S_OK;
  }
};

TEST(ChangeType, ObjectsConvertThroughTheirDefaultMember) {
  Variant object;
  ASSERT_EQ(CreateComObject<DefaultValue>(nullptr, IID_IDispatch,
                                          reinterpret_cast<void**>(&object.pdispVal)),
            S_OK);
  object.vt = VT_DISPATCH;
  EXPECT_EQ(ToText(object), u"12");
  Variant result;
  EXPECT_EQ(Convert(object, VT_I4, &result, VARIANT_NOVALUEPROP), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Convert(object, VT_UNKNOWN, &result), S_OK);
  EXPECT_NE(result.punkVal, nullptr);
}

// ---- safe arrays ----

TEST(SafeArray, BoundsAreReversedAndIndexesCheckedInEveryDimension) {
  const SAFEARRAYBOUND bounds[] = {{2, 1}, {3, -1}};  // [1..2][-1..1]
  SAFEARRAY* array = SafeArrayCreate(VT_I4, 2, bounds);
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(array->rgsabound[0].cElements, 3u);  // stored rightmost first
  LONG bound = 0;
  EXPECT_EQ(SafeArrayGetLBound(array, 1, &bound), S_OK);
  EXPECT_EQ(bound, 1);
  EXPECT_EQ(SafeArrayGetUBound(array, 2, &bound), S_OK);
  EXPECT_EQ(bound, 1);
  EXPECT_EQ(SafeArrayGetUBound(array, 3, &bound), DISP_E_BADINDEX);
  LONG at[] = {2, 0};
  LONG value = 9;
  ASSERT_EQ(SafeArrayPutElement(array, at, &value), S_OK);
  // The first index varies fastest: (2, 0) is element 1 + 1 * 2 = 3.
  EXPECT_EQ(static_cast<LONG*>(array->pvData)[3], 9);
  LONG outside[] = {3, 0};
  EXPECT_EQ(SafeArrayPutElement(array, outside, &value), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);

  EXPECT_EQ(SafeArrayCreateVector(VT_I4, 0, 0x40000000), nullptr);  // 4 GiB of data
  EXPECT_EQ(SafeArrayCreateVector(VT_DECIMAL, 0, 1), nullptr);
}

TEST(SafeArray, LockedArraysAreNotDestroyed) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, 8);
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(array, &data), S_OK);
  Variant holder;
  holder.vt = VT_ARRAY | VT_UI1;
  holder.parray = array;
  EXPECT_EQ(VariantClear(&holder), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnaccessData(array), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(array), E_UNEXPECTED);
}

TEST(SafeArray, StringAndVariantElementsAreCopiedDeep) {
  SAFEARRAY* strings = SafeArrayCreateVector(VT_BSTR, 0, 2);
  LONG index = 1;
  BSTR text = SysAllocString(u"two");
  ASSERT_EQ(SafeArrayPutElement(strings, &index, text), S_OK);
  SysFreeString(text);  // the array holds its own copy
  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(strings, &copy), S_OK);
  BSTR read = nullptr;
  ASSERT_EQ(SafeArrayGetElement(copy, &index, &read), S_OK);
  EXPECT_EQ(BstrView(read), u"two");
  SysFreeString(read);
  SafeArrayDestroy(strings);
  SafeArrayDestroy(copy);

  Variant holder;
  holder.vt = VT_ARRAY | VT_VARIANT;
  holder.parray = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  Variant element = Variant::String(u"inside");
  index = 0;
  ASSERT_EQ(SafeArrayPutElement(holder.parray, &index, &element), S_OK);
  Variant copied;
  ASSERT_EQ(VariantCopy(&copied, &holder), S_OK);
  Variant out;
  ASSERT_EQ(SafeArrayGetElement(copied.parray, &index, &out), S_OK);
  EXPECT_EQ(BstrView(out.bstrVal), u"inside");
}

}  // namespace

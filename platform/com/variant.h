// VARIANT: the self-describing value of the automation layer, with the type codes,
// the by-reference forms and the operations that copy, clear and convert it.
#pragma once

#include <string_view>

#include "platform/com/bstr.h"

class IUnknown;
class IDispatch;
struct SAFEARRAY;

using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;
using DATE = double;
using FLOAT = float;
using DOUBLE = double;
using LCID = DWORD;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// Currency: a 64-bit integer holding the value times 10,000.
struct CY {
  int64_t int64;
};

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_PTR = 26,
  VT_SAFEARRAY = 27,
  VT_USERDEFINED = 29,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONGLONG llVal;
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    FLOAT fltVal;
    DOUBLE dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    CY cyVal;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    SAFEARRAY* parray;
    CHAR cVal;
    USHORT uiVal;
    ULONG ulVal;
    ULONGLONG ullVal;
    INT intVal;
    UINT uintVal;
    BYTE* pbVal;
    SHORT* piVal;
    LONG* plVal;
    LONGLONG* pllVal;
    FLOAT* pfltVal;
    DOUBLE* pdblVal;
    VARIANT_BOOL* pboolVal;
    SCODE* pscode;
    CY* pcyVal;
    DATE* pdate;
    BSTR* pbstrVal;
    IUnknown** ppunkVal;
    IDispatch** ppdispVal;
    SAFEARRAY** pparray;
    VARIANT* pvarVal;
    CHAR* pcVal;
    USHORT* puiVal;
    ULONG* pulVal;
    ULONGLONG* pullVal;
    INT* pintVal;
    UINT* puintVal;
    void* byref;
  };
};
using VARIANTARG = VARIANT;

// VariantChangeType flags.
constexpr USHORT VARIANT_NOVALUEPROP = 0x01;
constexpr USHORT VARIANT_ALPHABOOL = 0x02;

// Sets the type to VT_EMPTY without looking at the old content.
void VariantInit(VARIANT* value);
// Frees what the variant owns (string, array, object reference) and makes it
// VT_EMPTY. DISP_E_BADVARTYPE for a type code the layer does not know; E_INVALIDARG
// for a null pointer or an array that is locked.
HRESULT VariantClear(VARIANT* value);
// Clears the target, then makes it a deep copy of the source (by-reference forms are
// copied as references). On failure the target is VT_EMPTY.
HRESULT VariantCopy(VARIANT* target, const VARIANT* source);
// As VariantCopy, but a by-reference source is copied as the value it refers to. A
// reference to a VARIANT is followed once; a VARIANT reference that leads to another
// VARIANT reference is refused with E_INVALIDARG.
HRESULT VariantCopyInd(VARIANT* target, const VARIANT* source);
// Converts the source to `type` into the target (which may be the source). The
// standard coercions between the numeric types, strings, booleans (-1 and 0), the
// empty value, currency and objects (through their default member); by-reference
// sources are read through. DISP_E_TYPEMISMATCH when no coercion exists,
// DISP_E_OVERFLOW when the value does not fit. On failure the target is unchanged.
HRESULT VariantChangeType(VARIANT* target, const VARIANT* source, USHORT flags, VARTYPE type);
HRESULT VariantChangeTypeEx(VARIANT* target, const VARIANT* source, LCID locale, USHORT flags,
                            VARTYPE type);

// Bytes a value of a scalar type takes: 1, 2, 4 or 8 (strings and objects are
// pointers); 0 for VT_EMPTY, VT_NULL, VT_VARIANT and types the layer does not know.
size_t ScalarSize(VARTYPE type);

// True for the type codes the layer stores by value (VT_EMPTY to VT_UINT without
// VT_DECIMAL and VT_VARIANT), alone or as an array or a reference.
bool IsKnownVariantType(VARTYPE type);

// Owns one VARIANT: initialised on construction, cleared when it goes.
struct Variant : VARIANT {
  Variant() { VariantInit(this); }
  ~Variant() { VariantClear(this); }
  Variant(Variant&& other) noexcept : VARIANT(other) { VariantInit(&other); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  Variant& operator=(Variant&& other) noexcept {
    if (this != &other) {
      VariantClear(this);
      static_cast<VARIANT&>(*this) = other;
      VariantInit(&other);
    }
    return *this;
  }

  static Variant Long(LONG value);
  static Variant Short(SHORT value);
  static Variant Double(DOUBLE value);
  static Variant Bool(bool value);
  // A string; VT_EMPTY stays when the allocation fails.
  static Variant String(std::u16string_view value);
  // The value of an optional argument left out: VT_ERROR with DISP_E_PARAMNOTFOUND.
  static Variant Missing();

  // Hands the content to the caller (who clears it), leaving this VT_EMPTY.
  VARIANT Detach();
};
static_assert(sizeof(Variant) == sizeof(VARIANT), "arrays of Variant serve as VARIANT arrays");

#include "platform/com/variant.h"

#include <cstring>

#include "platform/com/interfaces.h"
#include "platform/com/safe_array.h"

namespace {

bool IsKnownBaseType(VARTYPE base) {
  return (base <= VT_UNKNOWN && base != VT_DECIMAL) || (base >= VT_I1 && base <= VT_UINT);
}

// A by-reference variant copied as the value it refers to (one level, as VariantCopyInd).
HRESULT CopyReferenced(VARIANT* target, const VARIANT* source) {
  const VARTYPE type = source->vt & ~VT_BYREF;
  if (source->byref == nullptr) return E_INVALIDARG;
  if (type == VT_VARIANT) {
    const VARIANT* referenced = source->pvarVal;
    if (referenced->vt == (VT_BYREF | VT_VARIANT)) return E_INVALIDARG;
    return VariantCopyInd(target, referenced);
  }
  // Every by-value member of the union starts at its first byte.
  VARIANT value;
  VariantInit(&value);
  value.vt = type;
  std::memcpy(&value.llVal, source->byref,
              (type & VT_ARRAY) ? sizeof(SAFEARRAY*) : ScalarSize(type));
  return VariantCopy(target, &value);
}

}  // namespace

size_t ScalarSize(VARTYPE type) {
  switch (type) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
      return 8;
    case VT_BSTR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return sizeof(void*);
    default:
      return 0;
  }
}

bool IsKnownVariantType(VARTYPE type) {
  const VARTYPE base = type & VT_TYPEMASK;
  const VARTYPE modifiers = type & ~VT_TYPEMASK;
  if (modifiers & ~(VT_ARRAY | VT_BYREF)) return false;
  if (modifiers == 0) return IsKnownBaseType(base);
  if (base == VT_EMPTY || base == VT_NULL) return false;
  return IsKnownBaseType(base) || base == VT_VARIANT;
}

void VariantInit(VARIANT* value) {
  value->vt = VT_EMPTY;
  value->wReserved1 = value->wReserved2 = value->wReserved3 = 0;
  value->llVal = 0;
}

HRESULT VariantClear(VARIANT* value) {
  if (value == nullptr) return E_INVALIDARG;
  if (!IsKnownVariantType(value->vt)) return DISP_E_BADVARTYPE;
  if (!(value->vt & VT_BYREF)) {
    if (value->vt & VT_ARRAY) {
      const HRESULT hr = SafeArrayDestroy(value->parray);
      if (FAILED(hr)) return hr;
    } else if (value->vt == VT_BSTR) {
      SysFreeString(value->bstrVal);
    } else if ((value->vt == VT_DISPATCH || value->vt == VT_UNKNOWN) && value->punkVal != nullptr) {
      value->punkVal->Release();
    }
  }
  VariantInit(value);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* target, const VARIANT* source) {
  if (target == nullptr || source == nullptr) return E_INVALIDARG;
  if (target == source) return S_OK;
  if (!IsKnownVariantType(source->vt)) return DISP_E_BADVARTYPE;
  VARIANT copy = *source;
  if (!(source->vt & VT_BYREF)) {
    if (source->vt & VT_ARRAY) {
      const HRESULT hr = SafeArrayCopy(source->parray, &copy.parray);
      if (FAILED(hr)) return hr;
    } else if (source->vt == VT_BSTR && source->bstrVal != nullptr) {
      copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(source->bstrVal),
                                           SysStringByteLen(source->bstrVal));
      if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
    } else if ((source->vt == VT_DISPATCH || source->vt == VT_UNKNOWN) &&
               source->punkVal != nullptr) {
      source->punkVal->AddRef();
    }
  }
  const HRESULT cleared = VariantClear(target);
  if (FAILED(cleared)) {
    VariantClear(&copy);
    return cleared;
  }
  *target = copy;
  return S_OK;
}

HRESULT VariantCopyInd(VARIANT* target, const VARIANT* source) {
  if (target == nullptr || source == nullptr) return E_INVALIDARG;
  if (!IsKnownVariantType(source->vt)) return DISP_E_BADVARTYPE;
  if (!(source->vt & VT_BYREF)) return VariantCopy(target, source);
  // Build the copy aside: the target may be the source itself.
  VARIANT copy;
  VariantInit(&copy);
  const HRESULT hr = CopyReferenced(&copy, source);
  if (FAILED(hr)) return hr;
  const HRESULT cleared = VariantClear(target);
  if (FAILED(cleared)) {
    VariantClear(&copy);
    return cleared;
  }
  *target = copy;
  return S_OK;
}

Variant Variant::Long(LONG value) {
  Variant v;
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

Variant Variant::Short(SHORT value) {
  Variant v;
  v.vt = VT_I2;
  v.iVal = value;
  return v;
}

Variant Variant::Double(DOUBLE value) {
  Variant v;
  v.vt = VT_R8;
  v.dblVal = value;
  return v;
}

Variant Variant::Bool(bool value) {
  Variant v;
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

Variant Variant::String(std::u16string_view value) {
  Variant v;
  v.bstrVal = AllocBstr(value);
  if (v.bstrVal != nullptr) v.vt = VT_BSTR;
  return v;
}

Variant Variant::Missing() {
  Variant v;
  v.vt = VT_ERROR;
  v.scode = DISP_E_PARAMNOTFOUND;
  return v;
}

VARIANT Variant::Detach() {
  VARIANT content = *this;
  VariantInit(this);
  return content;
}

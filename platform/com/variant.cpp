// VARIANT and SAFEARRAY are implemented together: each can own the other (a VARIANT
// may hold an array, an array may hold VARIANTs), so clearing and copying one recurse
// into the other. safe_array.h declares the array half.
#include "platform/com/variant.h"

#include <cstdlib>
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
  const size_t size = (type & VT_ARRAY) ? sizeof(SAFEARRAY*)  // NOLINT(bugprone-sizeof-expression)
                                        : ScalarSize(type);
  std::memcpy(&value.llVal, source->byref, size);
  return VariantCopy(target, &value);
}

// ---- arrays ----

// The descriptor's allocation starts with the element type, as the platform keeps it
// just before the descriptor; the header is 8 bytes so the descriptor stays aligned.
constexpr size_t kTypeHeaderBytes = 8;

ULONG ElementSize(VARTYPE type) {
  return static_cast<ULONG>(type == VT_VARIANT ? sizeof(VARIANT) : ScalarSize(type));
}

USHORT FeaturesOf(VARTYPE type) {
  switch (type) {
    case VT_BSTR:
      return FADF_HAVEVARTYPE | FADF_BSTR;
    case VT_UNKNOWN:
      return FADF_HAVEVARTYPE | FADF_UNKNOWN;
    case VT_DISPATCH:
      return FADF_HAVEVARTYPE | FADF_DISPATCH;
    case VT_VARIANT:
      return FADF_HAVEVARTYPE | FADF_VARIANT;
    default:
      return FADF_HAVEVARTYPE;
  }
}

VARTYPE StoredType(const SAFEARRAY* array) {
  VARTYPE type;
  std::memcpy(&type, reinterpret_cast<const char*>(array) - kTypeHeaderBytes, sizeof type);
  return type;
}

size_t DescriptorBytes(UINT dimensions) {
  return sizeof(SAFEARRAY) + (dimensions - 1) * sizeof(SAFEARRAYBOUND);
}

// Releases what one element owns and zeroes it.
void ClearElement(VARTYPE type, void* element) {
  switch (type) {
    case VT_BSTR: {
      BSTR* text = static_cast<BSTR*>(element);
      SysFreeString(*text);
      *text = nullptr;
      break;
    }
    case VT_UNKNOWN:
    case VT_DISPATCH: {
      IUnknown** object = static_cast<IUnknown**>(element);
      if (*object != nullptr) (*object)->Release();
      *object = nullptr;
      break;
    }
    case VT_VARIANT:
      VariantClear(static_cast<VARIANT*>(element));
      break;
    default:
      break;
  }
}

// Copies one element into a zeroed or cleared slot. `source` points at the element.
HRESULT CopyElement(VARTYPE type, const void* source, void* target, ULONG size) {
  switch (type) {
    case VT_BSTR: {
      BSTR text = *static_cast<const BSTR*>(source);
      BSTR copy = nullptr;
      if (text != nullptr) {
        copy = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(text), SysStringByteLen(text));
        if (copy == nullptr) return E_OUTOFMEMORY;
      }
      *static_cast<BSTR*>(target) = copy;
      return S_OK;
    }
    case VT_UNKNOWN:
    case VT_DISPATCH: {
      IUnknown* object = *static_cast<IUnknown* const*>(source);
      if (object != nullptr) object->AddRef();
      *static_cast<IUnknown**>(target) = object;
      return S_OK;
    }
    case VT_VARIANT:
      VariantInit(static_cast<VARIANT*>(target));
      return VariantCopy(static_cast<VARIANT*>(target), static_cast<const VARIANT*>(source));
    default:
      std::memcpy(target, source, size);
      return S_OK;
  }
}

void DestroyElements(SAFEARRAY* array) {
  const VARTYPE type = StoredType(array);
  if (type != VT_BSTR && type != VT_UNKNOWN && type != VT_DISPATCH && type != VT_VARIANT) return;
  char* data = static_cast<char*>(array->pvData);
  const uint64_t count = SafeArrayElementCount(array);
  for (uint64_t i = 0; i < count; ++i) ClearElement(type, data + i * array->cbElements);
}

void FreeArray(SAFEARRAY* array) {
  std::free(array->pvData);
  std::free(reinterpret_cast<char*>(array) - kTypeHeaderBytes);
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

// ---- arrays ----

uint64_t SafeArrayElementCount(const SAFEARRAY* array) {
  uint64_t count = 1;
  for (USHORT d = 0; d < array->cDims; ++d) count *= array->rgsabound[d].cElements;
  return count;
}

SAFEARRAY* SafeArrayCreate(VARTYPE type, UINT dimensions, const SAFEARRAYBOUND* bounds) {
  const ULONG size = ElementSize(type);
  if (size == 0 || dimensions == 0 || dimensions > kMaxSafeArrayDimensions || bounds == nullptr) {
    return nullptr;
  }
  uint64_t bytes = size;
  for (UINT d = 0; d < dimensions; ++d) {
    bytes *= bounds[d].cElements;
    if (bytes > kMaxSafeArrayBytes) return nullptr;
  }
  char* block = static_cast<char*>(std::calloc(1, kTypeHeaderBytes + DescriptorBytes(dimensions)));
  if (block == nullptr) return nullptr;
  std::memcpy(block, &type, sizeof type);
  auto* array = reinterpret_cast<SAFEARRAY*>(block + kTypeHeaderBytes);
  array->cDims = static_cast<USHORT>(dimensions);
  array->fFeatures = FeaturesOf(type);
  array->cbElements = size;
  for (UINT d = 0; d < dimensions; ++d) array->rgsabound[d] = bounds[dimensions - 1 - d];
  array->pvData = std::calloc(1, bytes == 0 ? 1 : bytes);
  if (array->pvData == nullptr) {
    std::free(block);
    return nullptr;
  }
  return array;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE type, LONG lowerBound, ULONG elements) {
  const SAFEARRAYBOUND bound = {elements, lowerBound};
  return SafeArrayCreate(type, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
  if (array == nullptr) return S_OK;
  if (array->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  DestroyElements(array);
  FreeArray(array);
  return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* array) {
  if (array == nullptr) return E_INVALIDARG;
  if (__atomic_add_fetch(&array->cLocks, 1, __ATOMIC_ACQ_REL) > 0xFFFF) {
    __atomic_sub_fetch(&array->cLocks, 1, __ATOMIC_ACQ_REL);
    return E_UNEXPECTED;
  }
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* array) {
  if (array == nullptr) return E_INVALIDARG;
  ULONG locks = __atomic_load_n(&array->cLocks, __ATOMIC_ACQUIRE);
  do {
    if (locks == 0) return E_UNEXPECTED;
  } while (!__atomic_compare_exchange_n(&array->cLocks, &locks, locks - 1, false, __ATOMIC_ACQ_REL,
                                        __ATOMIC_ACQUIRE));
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data) {
  if (array == nullptr || data == nullptr) return E_INVALIDARG;
  const HRESULT hr = SafeArrayLock(array);
  *data = SUCCEEDED(hr) ? array->pvData : nullptr;
  return hr;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* array) { return SafeArrayUnlock(array); }

UINT SafeArrayGetDim(SAFEARRAY* array) { return array == nullptr ? 0 : array->cDims; }

UINT SafeArrayGetElemsize(SAFEARRAY* array) { return array == nullptr ? 0 : array->cbElements; }

HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dimension, LONG* bound) {
  if (array == nullptr || bound == nullptr) return E_INVALIDARG;
  if (dimension < 1 || dimension > array->cDims) return DISP_E_BADINDEX;
  *bound = array->rgsabound[array->cDims - dimension].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dimension, LONG* bound) {
  if (array == nullptr || bound == nullptr) return E_INVALIDARG;
  if (dimension < 1 || dimension > array->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& b = array->rgsabound[array->cDims - dimension];
  *bound = static_cast<LONG>(static_cast<int64_t>(b.lLbound) + b.cElements - 1);
  return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* type) {
  if (array == nullptr || type == nullptr) return E_INVALIDARG;
  *type = StoredType(array);
  return S_OK;
}

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* array, const LONG* indices, void** element) {
  if (array == nullptr || indices == nullptr || element == nullptr) return E_INVALIDARG;
  uint64_t offset = 0;
  uint64_t stride = 1;
  for (USHORT d = 0; d < array->cDims; ++d) {
    const SAFEARRAYBOUND& bound = array->rgsabound[array->cDims - 1 - d];
    const int64_t position = static_cast<int64_t>(indices[d]) - bound.lLbound;
    if (position < 0 || static_cast<uint64_t>(position) >= bound.cElements) return DISP_E_BADINDEX;
    offset += static_cast<uint64_t>(position) * stride;
    stride *= bound.cElements;
  }
  *element = static_cast<char*>(array->pvData) + offset * array->cbElements;
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* array, const LONG* indices, void* value) {
  if (value == nullptr) return E_INVALIDARG;
  void* element = nullptr;
  const HRESULT hr = SafeArrayPtrOfIndex(array, indices, &element);
  if (FAILED(hr)) return hr;
  const VARTYPE type = StoredType(array);
  if (type == VT_VARIANT) {
    return VariantCopy(static_cast<VARIANT*>(value), static_cast<const VARIANT*>(element));
  }
  return CopyElement(type, element, value, array->cbElements);
}

HRESULT SafeArrayPutElement(SAFEARRAY* array, const LONG* indices, void* value) {
  void* element = nullptr;
  const HRESULT hr = SafeArrayPtrOfIndex(array, indices, &element);
  if (FAILED(hr)) return hr;
  const VARTYPE type = StoredType(array);
  const bool passedByValue = type == VT_BSTR || type == VT_UNKNOWN || type == VT_DISPATCH;
  if (value == nullptr && !passedByValue) return E_INVALIDARG;
  if (type == VT_VARIANT) {
    return VariantCopy(static_cast<VARIANT*>(element), static_cast<const VARIANT*>(value));
  }
  // Copy first, then drop the old element, so a failed copy changes nothing.
  alignas(8) char copy[8];
  const void* source = passedByValue ? static_cast<const void*>(&value) : value;
  const HRESULT copied = CopyElement(type, source, copy, array->cbElements);
  if (FAILED(copied)) return copied;
  ClearElement(type, element);
  std::memcpy(element, copy, array->cbElements);
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* source, SAFEARRAY** copy) {
  if (copy == nullptr) return E_INVALIDARG;
  *copy = nullptr;
  if (source == nullptr) return S_OK;
  SAFEARRAYBOUND bounds[kMaxSafeArrayDimensions];
  if (source->cDims > kMaxSafeArrayDimensions) return E_INVALIDARG;
  for (USHORT d = 0; d < source->cDims; ++d) bounds[d] = source->rgsabound[source->cDims - 1 - d];
  const VARTYPE type = StoredType(source);
  SAFEARRAY* target = SafeArrayCreate(type, source->cDims, bounds);
  if (target == nullptr) return E_OUTOFMEMORY;
  const char* from = static_cast<const char*>(source->pvData);
  char* to = static_cast<char*>(target->pvData);
  const uint64_t count = SafeArrayElementCount(source);
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t offset = i * source->cbElements;
    const HRESULT hr = CopyElement(type, from + offset, to + offset, source->cbElements);
    if (FAILED(hr)) {
      SafeArrayDestroy(target);
      return hr;
    }
  }
  *copy = target;
  return S_OK;
}

SAFEARRAY* ByteArrayOf(const VARIANT& value) {
  const VARIANT* held = &value;
  if (held->vt == (VT_BYREF | VT_VARIANT)) {
    held = held->pvarVal;
    if (held == nullptr) return nullptr;
  }
  SAFEARRAY* array = nullptr;
  if (held->vt == (VT_ARRAY | VT_UI1)) {
    array = held->parray;
  } else if (held->vt == (VT_BYREF | VT_ARRAY | VT_UI1) && held->pparray != nullptr) {
    array = *held->pparray;
  }
  return array != nullptr && array->cbElements == 1 ? array : nullptr;
}

SAFEARRAY* MakeByteVector(const void* bytes, ULONG count) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, count);
  if (array != nullptr && count > 0) std::memcpy(array->pvData, bytes, count);
  return array;
}

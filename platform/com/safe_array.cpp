#include "platform/com/safe_array.h"

#include <cstdlib>
#include <cstring>

#include "platform/com/interfaces.h"

namespace {

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

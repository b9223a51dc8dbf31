// SAFEARRAY: the self-describing arrays of the automation layer.
//
// As on the platform, the bounds are stored in reverse: rgsabound[0] describes the
// last (rightmost) dimension, and elements are laid out with the first index varying
// fastest. Index lists (rgIndices) name the dimensions left to right.
#pragma once

#include "platform/com/variant.h"

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
};

constexpr USHORT FADF_HAVEVARTYPE = 0x0080;
constexpr USHORT FADF_BSTR = 0x0100;
constexpr USHORT FADF_UNKNOWN = 0x0200;
constexpr USHORT FADF_DISPATCH = 0x0400;
constexpr USHORT FADF_VARIANT = 0x0800;

// The largest element data an array may have, in bytes, and the most dimensions.
constexpr uint64_t kMaxSafeArrayBytes = 0x7FFFFFFF;
constexpr UINT kMaxSafeArrayDimensions = 64;

// A new zeroed array of the element type, or null for an element type arrays cannot
// hold, no dimension, too many, or a size above the limit. `bounds` lists dimensions left to right.
SAFEARRAY* SafeArrayCreate(VARTYPE type, UINT dimensions, const SAFEARRAYBOUND* bounds);
SAFEARRAY* SafeArrayCreateVector(VARTYPE type, LONG lowerBound, ULONG elements);
// Frees the elements (strings, variants, references) and the array; null is accepted.
// DISP_E_ARRAYISLOCKED while the array is locked.
HRESULT SafeArrayDestroy(SAFEARRAY* array);
HRESULT SafeArrayLock(SAFEARRAY* array);
HRESULT SafeArrayUnlock(SAFEARRAY* array);
// Locks the array and gives the address of its elements.
HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data);
HRESULT SafeArrayUnaccessData(SAFEARRAY* array);
UINT SafeArrayGetDim(SAFEARRAY* array);
UINT SafeArrayGetElemsize(SAFEARRAY* array);
// Dimension numbers start at 1 (the leftmost). DISP_E_BADINDEX for another number.
HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dimension, LONG* bound);
HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dimension, LONG* bound);
HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* type);
// The address of one element; DISP_E_BADINDEX when an index is out of bounds.
HRESULT SafeArrayPtrOfIndex(SAFEARRAY* array, const LONG* indices, void** element);
// Copies one element out: a new string for VT_BSTR, VariantCopy into an initialised
// VARIANT for VT_VARIANT, a new reference for objects, the bytes otherwise.
HRESULT SafeArrayGetElement(SAFEARRAY* array, const LONG* indices, void* value);
// Stores a copy of one element. For VT_BSTR, VT_UNKNOWN and VT_DISPATCH `value` is
// the string or interface pointer itself; otherwise it points at the value.
HRESULT SafeArrayPutElement(SAFEARRAY* array, const LONG* indices, void* value);
// A deep copy; *copy is null for a null source.
HRESULT SafeArrayCopy(SAFEARRAY* source, SAFEARRAY** copy);

// The element count of the array (every dimension multiplied).
uint64_t SafeArrayElementCount(const SAFEARRAY* array);

// Values tests pass to automation objects and read back from them: byte arrays,
// references to other values and objects.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/com/safe_array.h"

namespace testing_support {

// A one-dimensional VT_UI1 array holding the bytes.
inline Variant ByteArray(const std::vector<uint8_t>& bytes) {
  Variant value;
  value.parray = MakeByteVector(bytes.data(), static_cast<ULONG>(bytes.size()));
  value.vt = VT_ARRAY | VT_UI1;
  return value;
}

// The bytes of a byte array, read through references; empty for any other value.
inline std::vector<uint8_t> ArrayBytes(const VARIANT& value) {
  SAFEARRAY* array = ByteArrayOf(value);
  if (array == nullptr) return {};
  const auto* data = static_cast<const uint8_t*>(array->pvData);
  return {data, data + SafeArrayElementCount(array)};
}

// A value that refers to another, as script engines pass variables.
inline Variant Reference(VARIANT* target) {
  Variant value;
  value.vt = VT_BYREF | VT_VARIANT;
  value.pvarVal = target;
  return value;
}

// An object as a VT_DISPATCH value holding its own reference.
inline Variant Dispatch(IDispatch* object) {
  Variant value;
  value.vt = VT_DISPATCH;
  value.pdispVal = object;
  if (object != nullptr) object->AddRef();
  return value;
}

}  // namespace testing_support

// The table of kernel objects behind HANDLE values. A handle is an opaque number
// that is never reused, so a closed or foreign handle is refused by lookup.
#pragma once

#include <memory>

#include "platform/kernel/last_error.h"
#include "platform/kernel/win_types.h"

class KernelObject {
 public:
  virtual ~KernelObject() = default;
};

// Enters the object into the table and returns its new handle.
HANDLE RegisterKernelObject(std::shared_ptr<KernelObject> object);

// The live object behind a handle, or null.
std::shared_ptr<KernelObject> FindAnyKernelObject(HANDLE handle);

// The object behind a handle when it is live and of type T; null with the last
// error ERROR_INVALID_HANDLE otherwise. The reference keeps the object alive while
// the caller uses it, even if another thread closes the handle meanwhile.
template <typename T>
std::shared_ptr<T> FindKernelObject(HANDLE handle) {
  std::shared_ptr<T> object = std::dynamic_pointer_cast<T>(FindAnyKernelObject(handle));
  if (object == nullptr) SetLastError(ERROR_INVALID_HANDLE);
  return object;
}

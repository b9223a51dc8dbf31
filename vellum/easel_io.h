// What the loading and saving methods of the Easel share: path arguments, the ANSI
// form of a path, the locale of field calls and a scoped lock on a global block.
#pragma once

#include <optional>
#include <string>

#include "platform/com/variant.h"
#include "platform/kernel/global_memory.h"

namespace vellum {

// The locale the Easel passes to a database field's GetIDsOfNames and Invoke.
constexpr LCID kFieldLocale = 0x800;

// The string of a path argument: VT_BSTR, or VT_BYREF | VT_VARIANT holding one; null
// for any other value.
const BSTR* PathArgument(const VARIANT& value);

// The path in the ANSI code page, as the file functions take it: nothing (with the
// last error set) when it does not convert, needs more than 2046 bytes or holds a NUL
// character, which would make the file functions open a shorter path.
std::optional<std::string> PathToAnsi(BSTR path);

// Locks a global block for the lifetime of a scope.
class BlockLock {
 public:
  explicit BlockLock(HGLOBAL block) : block_(block), data_(GlobalLock(block)) {}
  ~BlockLock() {
    if (data_ != nullptr) GlobalUnlock(block_);
  }
  BlockLock(const BlockLock&) = delete;
  BlockLock& operator=(const BlockLock&) = delete;
  uint8_t* Data() const { return static_cast<uint8_t*>(data_); }

 private:
  HGLOBAL block_;
  void* data_;
};

}  // namespace vellum

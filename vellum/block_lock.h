// A global-memory block locked for the lifetime of a scope.
#pragma once

#include <cstdint>

#include "platform/kernel/global_memory.h"

namespace vellum {

class BlockLock {
 public:
  explicit BlockLock(HGLOBAL block) : block_(block), data_(GlobalLock(block)) {}
  ~BlockLock() {
    if (data_ != nullptr) GlobalUnlock(block_);
  }
  BlockLock(const BlockLock&) = delete;
  BlockLock& operator=(const BlockLock&) = delete;
  // Null when the block could not be locked.
  uint8_t* Data() const { return static_cast<uint8_t*>(data_); }

 private:
  HGLOBAL block_;
  void* data_;
};

}  // namespace vellum

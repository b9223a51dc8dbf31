// Global-memory blocks as the imaging core hands them out, with the size limit
// every allocation of an image buffer obeys.
#pragma once

#include <cstdint>
#include <utility>

#include "platform/kernel/global_memory.h"
#include "vellum/core/entry_frame.h"

namespace vellum {

// Image buffers above this size are refused with code 1.
constexpr uint64_t kMaxImageBufferBytes = 2147348478;

// Owns a global-memory block until Release hands it to the caller.
class GlobalBlock {
 public:
  GlobalBlock() = default;
  explicit GlobalBlock(HGLOBAL handle) : handle_(handle) {}
  ~GlobalBlock() { Reset(); }
  GlobalBlock(GlobalBlock&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  GlobalBlock& operator=(GlobalBlock&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  GlobalBlock(const GlobalBlock&) = delete;
  GlobalBlock& operator=(const GlobalBlock&) = delete;

  explicit operator bool() const { return handle_ != nullptr; }
  HGLOBAL Handle() const { return handle_; }
  // The data of a fixed block (its handle is its address).
  uint8_t* Data() const { return static_cast<uint8_t*>(handle_); }
  HGLOBAL Release() { return std::exchange(handle_, nullptr); }
  void Reset() {
    if (handle_ != nullptr) GlobalFree(std::exchange(handle_, nullptr));
  }

 private:
  HGLOBAL handle_ = nullptr;
};

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

// Code 54 for an image of width x height pixels beyond the operator's limit on
// decoded pixels (policy::MaxImagePixels). Every reader calls it with the size its
// file's header declares, before it allocates anything for the pixels.
bool CheckPixelLimit(OpContext& ctx, uint64_t width, uint64_t height);

// A fixed, optionally zero-initialised block of `bytes` for an image; an empty
// GlobalBlock with code 1 when the size passes the limit or memory runs out.
GlobalBlock AllocateImageBuffer(OpContext& ctx, uint64_t bytes, bool zeroInit = true);

// Size in bytes of a width x height image at the given bytes per pixel; saturates
// at UINT64_MAX instead of wrapping (negative dimensions count as 0).
inline uint64_t ImageBytes(int64_t width, int64_t height, uint64_t bytesPerPixel) {
  if (width <= 0 || height <= 0) return 0;
  uint64_t pixels = 0;
  uint64_t bytes = 0;
  if (__builtin_mul_overflow(static_cast<uint64_t>(width), static_cast<uint64_t>(height),
                             &pixels) ||
      __builtin_mul_overflow(pixels, bytesPerPixel, &bytes)) {
    return UINT64_MAX;
  }
  return bytes;
}

}  // namespace vellum

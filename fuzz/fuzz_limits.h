// The limit on decoded pixels every reading target runs under. Larger pictures are
// refused by the readers themselves (code 54), so that refusal is part of what the
// fuzzer explores while each run stays quick; no image above it may come out.
#pragma once

#include <cstdint>

#include "platform/policy/pixel_limit.h"

namespace fuzz_support {

constexpr uint64_t kFuzzPixelLimit = uint64_t{1} << 20;

// Sets the limit for the process, once.
inline void UseFuzzPixelLimit() {
  static const bool set = [] {
    policy::SetMaxImagePixels(kFuzzPixelLimit);
    return true;
  }();
  (void)set;
}

// Traps for a decoded image beyond the limit.
inline void CheckWithinLimit(int32_t width, int32_t height) {
  if (uint64_t{static_cast<uint32_t>(width)} * static_cast<uint32_t>(height) > kFuzzPixelLimit) {
    __builtin_trap();
  }
}

}  // namespace fuzz_support

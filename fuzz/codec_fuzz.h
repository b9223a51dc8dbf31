// The shape every codec fuzz target shares: the info entry, then the reader on the
// same memory source, under the fuzzing pixel limit.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_limits.h"
#include "platform/kernel/global_memory.h"
#include "vellum/core/data_handle.h"
#include "vellum/core/image_buffer.h"

namespace fuzz_support {

template <typename Info, typename Reader>
int ReadInfoThenImage(const uint8_t* data, size_t size, Info readInfo, Reader read) {
  using namespace vellum;
  if (size == 0) return 0;
  UseFuzzPixelLimit();
  HISSRC source = OpenMemorySource(data, static_cast<uint32_t>(size));
  int32_t width = 0;
  int32_t height = 0;
  readInfo(source, &width, &height);
  Rewind(source);
  HGLOBAL image = read(source, &width, &height);
  if (image != nullptr) {
    if (GlobalSize(image) != ImageBytes(width, height, 3)) __builtin_trap();
    CheckWithinLimit(width, height);
    GlobalFree(image);
  }
  CloseSource(source);
  return 0;
}

}  // namespace fuzz_support

// The shape every codec fuzz target shares: the info entry, then the reader on the
// same memory source.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/kernel/global_memory.h"
#include "vellum/core/data_handle.h"
#include "vellum/core/image_buffer.h"

namespace fuzz_support {

// Pictures above this many pixels decode correctly but slowly; the suites test the
// size limits themselves, so the fuzzer spends its time on the parsers instead.
constexpr int64_t kMaxFuzzPixels = int64_t{1} << 22;

template <typename Info, typename Reader>
int ReadInfoThenImage(const uint8_t* data, size_t size, Info readInfo, Reader read) {
  using namespace vellum;
  if (size == 0) return 0;
  HISSRC source = OpenMemorySource(data, static_cast<uint32_t>(size));
  int32_t width = 0;
  int32_t height = 0;
  const bool described = readInfo(source, &width, &height);
  if (!described || int64_t{width} * height <= kMaxFuzzPixels) {
    Rewind(source);
    HGLOBAL image = read(source, &width, &height);
    if (image != nullptr) {
      if (GlobalSize(image) != ImageBytes(width, height, 3)) __builtin_trap();
      GlobalFree(image);
    }
  }
  CloseSource(source);
  return 0;
}

}  // namespace fuzz_support

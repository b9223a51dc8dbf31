#include "vellum/core/flip_crop.h"

#include <algorithm>
#include <cstring>

#include "vellum/core/entry_frame.h"

namespace vellum {

namespace {

// Swaps pixel j with pixel width - 1 - j; the middle pixel of an odd row stays.
template <size_t kBytes>
void MirrorRow(uint8_t* row, size_t width, size_t bytesPerPixel) {
  const size_t bytes = kBytes != 0 ? kBytes : bytesPerPixel;
  uint8_t* front = row;
  uint8_t* back = row + (width - 1) * bytes;
  for (; front < back; front += bytes, back -= bytes) std::swap_ranges(front, front + bytes, back);
}

}  // namespace

BOOL FlipVertical(uint8_t* buffer, size_t rowBytes, uint32_t rows) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (buffer == nullptr) return ctx.Fail(kErrInvalidArgument);
    for (size_t i = 0; i < rows / 2; ++i) {
      uint8_t* upper = buffer + i * rowBytes;
      std::swap_ranges(upper, upper + rowBytes, buffer + (rows - 1 - i) * rowBytes);
    }
    return TRUE;
  });
}

BOOL FlipHorizontal(uint8_t* buffer, uint32_t width, uint32_t height, uint32_t bytesPerPixel) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (buffer == nullptr || bytesPerPixel == 0) return ctx.Fail(kErrInvalidArgument);
    if (width == 0) return TRUE;
    const size_t rowBytes = size_t{width} * bytesPerPixel;
    for (size_t y = 0; y < height; ++y) {
      uint8_t* row = buffer + y * rowBytes;
      if (bytesPerPixel == 3) {
        MirrorRow<3>(row, width, 3);
      } else {
        MirrorRow<0>(row, width, bytesPerPixel);
      }
    }
    return TRUE;
  });
}

BOOL Crop(const uint8_t* source, uint32_t width, uint32_t height, uint8_t* destination,
          uint32_t left, uint32_t top, uint32_t cropWidth, uint32_t cropHeight) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    const bool inside = left < width && top < height && uint64_t{left} + cropWidth <= width &&
                        uint64_t{top} + cropHeight <= height;
    if (source == nullptr || destination == nullptr || source == destination || !inside) {
      return ctx.Fail(kErrInvalidArgument);
    }
    const size_t rowBytes = size_t{cropWidth} * 3;
    for (size_t y = 0; y < cropHeight; ++y) {
      std::memcpy(destination + y * rowBytes, source + ((top + y) * width + left) * 3, rowBytes);
    }
    return TRUE;
  });
}

}  // namespace vellum

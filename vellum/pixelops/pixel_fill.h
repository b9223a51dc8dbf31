// Writing one colour into runs of pixels, shared by the drawing routines.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/kernel/win_types.h"

namespace vellum {

// The bytes of a pixel of the given colour: red, green, blue, then bits 24..31.
inline std::array<uint8_t, 4> ColorBytes(COLORREF color) {
  return {static_cast<uint8_t>(color), static_cast<uint8_t>(color >> 8),
          static_cast<uint8_t>(color >> 16), static_cast<uint8_t>(color >> 24)};
}

// Writes `count` copies of a pixel of `pixelBytes` bytes, doubling the run
// already written; a pixel whose bytes are all equal is a byte fill.
inline void FillPixels(uint8_t* out, size_t count, const uint8_t* pixel, size_t pixelBytes) {
  if (count == 0) return;
  const size_t total = count * pixelBytes;
  if (std::memcmp(pixel, pixel + 1, pixelBytes - 1) == 0) {
    std::memset(out, pixel[0], total);
    return;
  }
  std::memcpy(out, pixel, pixelBytes);
  for (size_t done = pixelBytes; done < total;) {
    const size_t chunk = done < total - done ? done : total - done;
    std::memcpy(out + done, out, chunk);
    done += chunk;
  }
}

}  // namespace vellum

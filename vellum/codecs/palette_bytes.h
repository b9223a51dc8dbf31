// Palette entries to and from the red, green, blue triples that files store.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vellum/core/conversions.h"

namespace vellum {

inline void TriplesToPalette(const uint8_t* triples, size_t count, RGBQUAD* palette) {
  for (size_t i = 0; i < count; ++i, triples += 3) {
    palette[i] = RGBQUAD{triples[2], triples[1], triples[0], 0};
  }
}

inline void PaletteToTriples(const RGBQUAD* palette, size_t count, uint8_t* triples) {
  for (size_t i = 0; i < count; ++i, triples += 3) {
    triples[0] = palette[i].rgbRed;
    triples[1] = palette[i].rgbGreen;
    triples[2] = palette[i].rgbBlue;
  }
}

// Entry i is the gray (i, i, i).
inline Palette GrayRampPalette() {
  Palette palette{};
  for (int i = 0; i < 256; ++i) {
    const BYTE level = static_cast<BYTE>(i);
    palette[i] = RGBQUAD{level, level, level, 0};
  }
  return palette;
}

}  // namespace vellum

// Error-diffusion mapping of an RGB image onto a palette: serpentine
// Floyd-Steinberg in sixteenths, with the diffused error limited to +-20 per
// channel and the nearest entry looked up once per 5-5-5 colour cell.
#pragma once

#include <array>
#include <cstdint>

#include "platform/kernel/win_types.h"
#include "vellum/core/entry_frame.h"

namespace vellum {

// A palette as three planes of up to 256 entries; entry i is (red[i], green[i], blue[i]).
struct PalettePlanes {
  std::array<uint8_t, 256> red{};
  std::array<uint8_t, 256> green{};
  std::array<uint8_t, 256> blue{};
  uint32_t count = 0;
};

// Maps width x height RGB pixels onto `palette` (count 1 to 256), one index byte
// per pixel out. The first colour that falls into a 5-5-5 cell decides the entry
// for every later colour of that cell. Sizes are the caller's promise; throws
// std::bad_alloc when scratch memory runs out.
void DitherToPalette(const uint8_t* rgb, uint32_t width, uint32_t height,
                     const PalettePlanes& palette, uint8_t* indices);

// The same over a palette of RGBQUAD entries. Code 5 for a null pointer or a
// palette count outside 1..256.
bool MapPaletteDithered(OpContext& ctx, const uint8_t* rgb, uint32_t width, uint32_t height,
                        uint8_t* indices, const RGBQUAD* palette, uint32_t paletteCount);

// Entry form (last-error code set): non-zero on success.
BOOL MapPaletteDithered(const uint8_t* rgb, uint32_t width, uint32_t height, uint8_t* indices,
                        const RGBQUAD* palette, uint32_t paletteCount);

}  // namespace vellum

// Tonal filters on RGB buffers: the 3 x 3 neighbourhood filter (sharpen, blur),
// channel tables (brightness) and inversion.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/kernel/win_types.h"

namespace vellum {

enum NeighbourhoodKind : int32_t {
  kSharpen = 0,
  kBlur = 1,
};

// Filters `source` into `destination` (both width x height RGB pixels, distinct
// buffers). Edge pixels replicate themselves as missing neighbours. With c the
// centre value and S the sum of its eight neighbours, per channel:
//   sharpen: c - f * (S - 8c), f = level * 0.005, clamped to 0..255 and truncated;
//   blur:    f * (S / 8) + (1 - f) * c, f = level * 0.01, S / 8 an integer division.
// The level is first limited to 0..100. Code 5 for a null or shared buffer, a
// zero size or another kind.
BOOL FilterNeighbourhood(const uint8_t* source, uint8_t* destination, uint32_t width,
                         uint32_t height, int32_t level, int32_t kind);

// Channel mask bits for ApplyChannelTable.
constexpr uint32_t kRedChannel = 1;
constexpr uint32_t kGreenChannel = 2;
constexpr uint32_t kBlueChannel = 4;
constexpr uint32_t kAllChannels = kRedChannel | kGreenChannel | kBlueChannel;

// Replaces every selected channel value v by table[v] (256 entries), in place.
// Code 5 for a null image or table, a zero size or a mask selecting nothing.
BOOL ApplyChannelTable(uint8_t* rgb, uint32_t width, uint32_t height, uint32_t channelMask,
                       const uint8_t* table);

// Brightness: every channel v becomes trunc(256 * (v / 256)^(1 / level)) (exponent
// 1 for level 0), at most 255. Levels above 1 brighten, below 1 darken. Code 5 for
// a negative or NaN level, a null image or a zero size.
BOOL AdjustGamma(uint8_t* rgb, uint32_t width, uint32_t height, double level);

// Replaces each of `count` bytes by its complement, in place. Code 5 for null bytes.
BOOL InvertBytes(uint8_t* bytes, size_t count);

}  // namespace vellum

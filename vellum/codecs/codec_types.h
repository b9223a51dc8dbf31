// What every codec shares: the core format codes and the resolution record.
#pragma once

#include <cstdint>

namespace vellum {

// Format codes of the imaging core (not the automation enumeration).
enum CoreFormat : int32_t {
  kFormatUnknown = 0,
  kFormatBmp = 1,
  kFormatGif = 2,
  kFormatJpeg = 3,
  kFormatPng = 4,
  kFormatPcx = 5,
  kFormatTiff = 6,
  kFormatWmf = 7,
  kFormatEmf = 8,
  kFormatPsd = 10,
  kFormatWebp = 11,
  kFormatAvif = 12,
  kFormatTwoZeroBytes = 13,  // recognised, never decoded
};

// Horizontal and vertical density with a unit code in the numbering of the
// format concerned.
struct ResolutionRecord {
  int32_t xDensity = 0;
  int32_t yDensity = 0;
  int32_t unit = 0;
};

}  // namespace vellum

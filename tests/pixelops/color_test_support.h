// Small helpers shared by the colour-reduction tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "platform/kernel/win_types.h"

namespace vellum::color_test {

struct Rgb {
  uint8_t red, green, blue;
  bool operator==(const Rgb&) const = default;
};

inline Rgb ColorOf(const RGBQUAD& entry) { return {entry.rgbRed, entry.rgbGreen, entry.rgbBlue}; }

inline RGBQUAD Entry(Rgb c) { return RGBQUAD{c.blue, c.green, c.red, 0}; }

// An RGB buffer of the given pixels.
inline std::vector<uint8_t> Image(std::initializer_list<Rgb> pixels) {
  std::vector<uint8_t> rgb;
  for (const Rgb& p : pixels) rgb.insert(rgb.end(), {p.red, p.green, p.blue});
  return rgb;
}

}  // namespace vellum::color_test

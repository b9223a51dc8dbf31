// Small image buffers for tests: random pixels and byte-level access.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace testing_support {

struct TestImage {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t pixelBytes = 3;
  std::vector<uint8_t> bytes;  // rows top to bottom, no padding

  uint8_t* At(uint32_t x, uint32_t y) { return &bytes[(size_t{y} * width + x) * pixelBytes]; }
  const uint8_t* At(uint32_t x, uint32_t y) const {
    return &bytes[(size_t{y} * width + x) * pixelBytes];
  }
};

inline TestImage UniformImage(uint32_t width, uint32_t height, uint8_t value,
                              uint32_t pixelBytes = 3) {
  return {width, height, pixelBytes,
          std::vector<uint8_t>(size_t{width} * height * pixelBytes, value)};
}

// Random bytes, drawn from only `levels` distinct values when levels is small so
// that runs of equal samples (and their shortcuts) occur as well.
inline TestImage RandomImage(std::mt19937& rng, uint32_t width, uint32_t height,
                             uint32_t pixelBytes = 3, int levels = 256) {
  TestImage image = UniformImage(width, height, 0, pixelBytes);
  std::uniform_int_distribution<int> pick(0, levels - 1);
  for (uint8_t& byte : image.bytes)
    byte = static_cast<uint8_t>(pick(rng) * 255 / std::max(levels - 1, 1));
  return image;
}

inline uint32_t RandomSize(std::mt19937& rng, uint32_t low, uint32_t high) {
  return std::uniform_int_distribution<uint32_t>(low, high)(rng);
}

}  // namespace testing_support

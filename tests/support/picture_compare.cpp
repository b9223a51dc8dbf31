#include "tests/support/picture_compare.h"

#include <cstdlib>
#include <filesystem>

namespace testing_support {

std::string TestDataPath(const std::string& relative) {
  const char* root = std::getenv("VELLUM_SOURCE_DIR");
  // Without the variable (a test program run by hand), this file's own place in the tree.
  const std::filesystem::path base =
      root != nullptr ? std::filesystem::path(root)
                      : std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
  return (base / "tests" / "data" / relative).string();
}

RawImage ResizeNearest(const RawImage& image, int width, int height) {
  RawImage out{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
  for (int y = 0; y < height; ++y) {
    const int sy = static_cast<int>((y + 0.5) * image.height / height);
    for (int x = 0; x < width; ++x) {
      const int sx = static_cast<int>((x + 0.5) * image.width / width);
      for (int c = 0; c < 3; ++c) {
        out.rgb[(static_cast<size_t>(y) * width + x) * 3 + c] =
            image.rgb[(static_cast<size_t>(sy) * image.width + sx) * 3 + c];
      }
    }
  }
  return out;
}

double NeighbourhoodMatch(const RawImage& a, const RawImage& b, int radius, int tolerance) {
  if (a.width != b.width || a.height != b.height || a.width == 0 || a.height == 0) return 0;
  size_t matched = 0;
  for (int y = 0; y < a.height; ++y) {
    for (int x = 0; x < a.width; ++x) {
      const uint8_t* p = &a.rgb[(static_cast<size_t>(y) * a.width + x) * 3];
      bool found = false;
      for (int dy = -radius; dy <= radius && !found; ++dy) {
        for (int dx = -radius; dx <= radius && !found; ++dx) {
          const int nx = x + dx, ny = y + dy;
          if (nx < 0 || ny < 0 || nx >= b.width || ny >= b.height) continue;
          const uint8_t* q = &b.rgb[(static_cast<size_t>(ny) * b.width + nx) * 3];
          found = std::abs(p[0] - q[0]) <= tolerance && std::abs(p[1] - q[1]) <= tolerance &&
                  std::abs(p[2] - q[2]) <= tolerance;
        }
      }
      matched += found;
    }
  }
  return static_cast<double>(matched) / (static_cast<double>(a.width) * a.height);
}

}  // namespace testing_support

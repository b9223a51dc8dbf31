#include "tests/support/picture_compare.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace testing_support {

std::string SourcePath(const std::string& relative) {
  const char* root = std::getenv("VELLUM_SOURCE_DIR");
  // Without the variable (a test program run by hand), this file's own place in the tree.
  const std::filesystem::path base =
      root != nullptr ? std::filesystem::path(root)
                      : std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
  return (base / relative).string();
}

std::string TestDataPath(const std::string& relative) {
  return SourcePath("tests/data/" + relative);
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

namespace {

bool Near(const uint8_t* p, const double* q, int tolerance) {
  return std::abs(p[0] - q[0]) <= tolerance && std::abs(p[1] - q[1]) <= tolerance &&
         std::abs(p[2] - q[2]) <= tolerance;
}

// Whether p is, within the tolerance, a blend of q and r (an anti-aliased edge between them).
bool OnBlend(const uint8_t* p, const uint8_t* q, const uint8_t* r, int tolerance) {
  double d[3], length = 0, t = 0;
  for (int c = 0; c < 3; ++c) {
    d[c] = r[c] - q[c];
    length += d[c] * d[c];
    t += (p[c] - q[c]) * d[c];
  }
  t = length > 0 ? std::clamp(t / length, 0.0, 1.0) : 0;
  const double blend[3] = {q[0] + t * d[0], q[1] + t * d[1], q[2] + t * d[2]};
  return Near(p, blend, tolerance);
}

}  // namespace

double NeighbourhoodMatch(const RawImage& a, const RawImage& b, int radius, int tolerance) {
  if (a.width != b.width || a.height != b.height || a.width == 0 || a.height == 0) return 0;
  size_t matched = 0;
  std::vector<const uint8_t*> window;
  for (int y = 0; y < a.height; ++y) {
    for (int x = 0; x < a.width; ++x) {
      const uint8_t* p = &a.rgb[(static_cast<size_t>(y) * a.width + x) * 3];
      window.clear();
      for (int dy = -radius; dy <= radius; ++dy) {
        for (int dx = -radius; dx <= radius; ++dx) {
          const int nx = x + dx, ny = y + dy;
          if (nx >= 0 && ny >= 0 && nx < b.width && ny < b.height) {
            window.push_back(&b.rgb[(static_cast<size_t>(ny) * b.width + nx) * 3]);
          }
        }
      }
      bool found = false;
      for (size_t i = 0; i < window.size() && !found; ++i) {
        for (size_t j = i; j < window.size() && !found; ++j)
          found = OnBlend(p, window[i], window[j], tolerance);
      }
      matched += found;
    }
  }
  return static_cast<double>(matched) / (static_cast<double>(a.width) * a.height);
}

}  // namespace testing_support

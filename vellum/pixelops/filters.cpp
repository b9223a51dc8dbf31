#include "vellum/pixelops/filters.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "vellum/core/entry_frame.h"
#include "vellum/core/vector_clones.h"
#include "vellum/core/worker_pool.h"

namespace vellum {

namespace {

constexpr int32_t kMaxLevel = 100;

struct Sharpen {
  double f;
  uint8_t operator()(int centre, int neighbours) const {
    const double r = centre - f * (neighbours - 8 * centre);
    if (r > 255) return 255;
    return r > 0 ? static_cast<uint8_t>(r) : 0;  // NaN becomes 0 too
  }
};

struct Blur {
  double f;
  double rest;  // 1 - f
  uint8_t operator()(int centre, int neighbours) const {
    // The neighbours' mean is taken in integers before the blend, as the filter is defined.
    // NOLINTNEXTLINE(bugprone-integer-division)
    return static_cast<uint8_t>(f * (neighbours / 8) + rest * centre);
  }
};

// One pixel whose left or right neighbour is missing: the pixel stands in for it.
template <typename Op>
void FilterEdgePixel(const uint8_t* up, const uint8_t* row, const uint8_t* down, uint32_t x,
                     uint32_t width, Op op, uint8_t* out) {
  const size_t l = size_t{x > 0 ? x - 1 : x} * 3;
  const size_t c = size_t{x} * 3;
  const size_t r = size_t{x + 1 < width ? x + 1 : x} * 3;
  for (size_t ch = 0; ch < 3; ++ch) {
    const int neighbours = up[l + ch] + up[c + ch] + up[r + ch] + row[l + ch] + row[r + ch] +
                           down[l + ch] + down[c + ch] + down[r + ch];
    out[c + ch] = op(row[c + ch], neighbours);
  }
}

// Interior bytes have all eight neighbours at fixed byte offsets, which lets the
// loop run over the bytes of the row without a per-pixel case; built once per vector
// width, as it is where the time goes.
template <typename Op>
[[gnu::always_inline]] inline void FilterInterior(const uint8_t* up, const uint8_t* row,
                                                  const uint8_t* down, size_t rowBytes, Op op,
                                                  uint8_t* out) {
  for (size_t e = 3; e + 3 < rowBytes; ++e) {
    const int neighbours = up[e - 3] + up[e] + up[e + 3] + row[e - 3] + row[e + 3] + down[e - 3] +
                           down[e] + down[e + 3];
    out[e] = op(row[e], neighbours);
  }
}

VELLUM_VECTOR_CLONES
void FilterInteriorOf(const uint8_t* up, const uint8_t* row, const uint8_t* down, size_t rowBytes,
                      Sharpen op, uint8_t* out) {
  FilterInterior(up, row, down, rowBytes, op, out);
}

VELLUM_VECTOR_CLONES
void FilterInteriorOf(const uint8_t* up, const uint8_t* row, const uint8_t* down, size_t rowBytes,
                      Blur op, uint8_t* out) {
  FilterInterior(up, row, down, rowBytes, op, out);
}

// Rows depend only on the source, so they are filtered in parallel ranges.
template <typename Op>
void FilterImage(const uint8_t* source, uint8_t* destination, uint32_t width, uint32_t height,
                 Op op) {
  const size_t rowBytes = size_t{width} * 3;
  ParallelFor(height, GrainFor(rowBytes), [&](size_t first, size_t end) {
    for (size_t y = first; y < end; ++y) {
      const uint8_t* row = source + y * rowBytes;
      const uint8_t* up = y > 0 ? row - rowBytes : row;
      const uint8_t* down = y + 1 < height ? row + rowBytes : row;
      uint8_t* out = destination + y * rowBytes;
      FilterEdgePixel(up, row, down, 0, width, op, out);
      FilterInteriorOf(up, row, down, rowBytes, op, out);
      if (width > 1) FilterEdgePixel(up, row, down, width - 1, width, op, out);
    }
  });
}

// Images this large map two bytes per lookup through a table of byte pairs.
constexpr size_t kPairTableBytes = 1 << 20;

void ApplyToAllBytes(uint8_t* bytes, size_t count, const uint8_t* table) {
  size_t i = 0;
  if (count >= kPairTableBytes) {
    std::vector<uint16_t> pairs(65536);
    for (int first = 0; first < 256; ++first) {
      for (int second = 0; second < 256; ++second) {
        const uint8_t in[2] = {static_cast<uint8_t>(first), static_cast<uint8_t>(second)};
        const uint8_t out[2] = {table[first], table[second]};
        uint16_t key;
        std::memcpy(&key, in, 2);
        std::memcpy(&pairs[key], out, 2);
      }
    }
    for (; i + 2 <= count; i += 2) {
      uint16_t v;
      std::memcpy(&v, bytes + i, 2);
      std::memcpy(bytes + i, &pairs[v], 2);
    }
  }
  for (; i < count; ++i) bytes[i] = table[bytes[i]];
}

void ApplyTable(uint8_t* rgb, size_t pixels, uint32_t channelMask, const uint8_t* table) {
  if (channelMask == kAllChannels) {
    ApplyToAllBytes(rgb, pixels * 3, table);
    return;
  }
  for (size_t p = 0; p < pixels; ++p, rgb += 3) {
    for (size_t ch = 0; ch < 3; ++ch) {
      if ((channelMask >> ch) & 1) rgb[ch] = table[rgb[ch]];
    }
  }
}

std::array<uint8_t, 256> GammaTable(double level) {
  const double exponent = level == 0 ? 1.0 : 1.0 / level;
  std::array<uint8_t, 256> table;
  for (int v = 0; v < 256; ++v) {
    // Huge levels make the power round to 1; 256 would wrap to 0 in a byte.
    const double value = 256 * std::pow(v * 0.00390625, exponent);
    table[v] = static_cast<uint8_t>(std::min(value, 255.0));
  }
  return table;
}

}  // namespace

BOOL FilterNeighbourhood(const uint8_t* source, uint8_t* destination, uint32_t width,
                         uint32_t height, int32_t level, int32_t kind) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (source == nullptr || destination == nullptr || source == destination || width == 0 ||
        height == 0 || (kind != kSharpen && kind != kBlur)) {
      return ctx.Fail(kErrInvalidArgument);
    }
    const int32_t limited = std::clamp(level, 0, kMaxLevel);
    if (kind == kSharpen) {
      FilterImage(source, destination, width, height, Sharpen{limited * 0.005});
    } else {
      const double f = limited * 0.01;
      FilterImage(source, destination, width, height, Blur{f, 1 - f});
    }
    return TRUE;
  });
}

BOOL ApplyChannelTable(uint8_t* rgb, uint32_t width, uint32_t height, uint32_t channelMask,
                       const uint8_t* table) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (rgb == nullptr || table == nullptr || width == 0 || height == 0 ||
        (channelMask & kAllChannels) == 0) {
      return ctx.Fail(kErrInvalidArgument);
    }
    ApplyTable(rgb, size_t{width} * height, channelMask & kAllChannels, table);
    return TRUE;
  });
}

BOOL AdjustGamma(uint8_t* rgb, uint32_t width, uint32_t height, double level) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (rgb == nullptr || width == 0 || height == 0 || !(level >= 0)) {
      return ctx.Fail(kErrInvalidArgument);
    }
    const std::array<uint8_t, 256> table = GammaTable(level);
    ApplyTable(rgb, size_t{width} * height, kAllChannels, table.data());
    return TRUE;
  });
}

BOOL InvertBytes(uint8_t* bytes, size_t count) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (bytes == nullptr) return ctx.Fail(kErrInvalidArgument);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(~bytes[i]);
    return TRUE;
  });
}

}  // namespace vellum

#include "vellum/core/resample.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "vellum/core/entry_frame.h"
#include "vellum/core/resample_internal.h"
#include "vellum/core/vector_clones.h"

namespace vellum {

namespace {

// Horizontally interpolated source rows kept between output rows: neighbouring
// output rows mostly read the same source rows, which are then computed once.
class RowCache {
 public:
  RowCache(size_t slots, size_t length)
      : length_(length), keys_(slots, kEmpty), values_(slots * length) {}

  // The values of source row `row`, computed by fill(out) unless cached. A slot is
  // reused only when its row is none of the `needed` rows of the current output row,
  // so with as many slots as taps there is always one.
  template <typename Fill>
  const double* Fetch(size_t row, const size_t* needed, size_t neededCount, Fill fill) {
    size_t victim = 0;
    for (size_t s = 0; s < keys_.size(); ++s) {
      if (keys_[s] == row) return &values_[s * length_];
      if (std::find(needed, needed + neededCount, keys_[s]) == needed + neededCount) victim = s;
    }
    keys_[victim] = row;
    double* out = &values_[victim * length_];
    fill(out);
    return out;
  }

 private:
  static constexpr size_t kEmpty = SIZE_MAX;
  size_t length_;
  std::vector<size_t> keys_;
  std::vector<double> values_;
};

// ---- nearest neighbour ----

// Copies the sampled pixels of one row. Three-byte pixels move as four-byte words
// where both the source and the destination have a byte to spare after them.
void SampleRow(const uint8_t* sourceRow, const size_t* columnOffsets, size_t count,
               size_t wordSafeCount, size_t bytesPerPixel, uint8_t* out) {
  if (bytesPerPixel != 3) {
    for (size_t j = 0; j < count; ++j, out += bytesPerPixel) {
      std::memcpy(out, sourceRow + columnOffsets[j], bytesPerPixel);
    }
    return;
  }
  size_t j = 0;
  for (; j < wordSafeCount; ++j, out += 3) std::memcpy(out, sourceRow + columnOffsets[j], 4);
  for (; j < count; ++j, out += 3) std::memcpy(out, sourceRow + columnOffsets[j], 3);
}

bool Nearest(const uint8_t* source, uint32_t srcWidth, uint32_t srcHeight, size_t bytesPerPixel,
             uint8_t* destination, uint32_t dstWidth, uint32_t dstHeight) {
  const double xRatio = static_cast<double>(srcWidth) / dstWidth;
  const double yRatio = static_cast<double>(srcHeight) / dstHeight;
  std::unique_ptr<size_t[]> columnOffsets(new size_t[dstWidth]);
  size_t wordSafeCount = 0;  // leading columns whose source pixel is not the last of its row
  for (uint32_t j = 0; j < dstWidth; ++j) {
    const uint32_t sx = std::min(static_cast<uint32_t>(j * xRatio), srcWidth - 1);
    columnOffsets[j] = sx * bytesPerPixel;
    if (sx + 1 < srcWidth) wordSafeCount = j + 1;
  }
  wordSafeCount = std::min<size_t>(wordSafeCount, dstWidth - 1);
  const size_t srcRowBytes = srcWidth * bytesPerPixel;
  const size_t dstRowBytes = dstWidth * bytesPerPixel;
  int64_t previous = -1;
  for (uint32_t i = 0; i < dstHeight; ++i) {
    const uint32_t sy = std::min(static_cast<uint32_t>(i * yRatio), srcHeight - 1);
    uint8_t* out = destination + i * dstRowBytes;
    if (sy == previous) {
      std::memcpy(out, out - dstRowBytes, dstRowBytes);
    } else {
      SampleRow(source + sy * srcRowBytes, columnOffsets.get(), dstWidth, wordSafeCount,
                bytesPerPixel, out);
    }
    previous = sy;
  }
  return true;
}

// ---- bilinear ----

struct LinearColumn {
  size_t left;  // byte offsets of the two source pixels
  size_t right;
  double leftWeight;   // 1 - f
  double rightWeight;  // f
};

std::vector<LinearColumn> LinearColumns(uint32_t srcWidth, uint32_t dstWidth) {
  const double ratio = static_cast<double>(srcWidth) / dstWidth;
  const double last = srcWidth - 1;
  std::vector<LinearColumn> columns(dstWidth);
  for (uint32_t j = 0; j < dstWidth; ++j) {
    const double u = std::min(ratio * j, last);
    const uint32_t k = static_cast<uint32_t>(u);
    const double f = u - k;
    columns[j] = {size_t{k} * 3, size_t{std::min(k + 1, srcWidth - 1)} * 3, 1 - f, f};
  }
  return columns;
}

VELLUM_VECTOR_CLONES
void InterpolateRow(const uint8_t* row, const std::vector<LinearColumn>& columns, double* out) {
  for (const LinearColumn& column : columns) {
    for (int ch = 0; ch < 3; ++ch) {
      *out++ =
          column.leftWeight * row[column.left + ch] + column.rightWeight * row[column.right + ch];
    }
  }
}

// out[e] = trunc(upper * weightUpper + lower * weightLower).
VELLUM_VECTOR_CLONES
void LinearCombine(const double* upper, double weightUpper, const double* lower, double weightLower,
                   size_t count, uint8_t* out) {
  for (size_t e = 0; e < count; ++e) {
    out[e] = static_cast<uint8_t>(upper[e] * weightUpper + lower[e] * weightLower);
  }
}

bool Bilinear(OpContext&, const uint8_t* source, uint32_t srcWidth, uint32_t srcHeight,
              uint8_t* destination, uint32_t dstWidth, uint32_t dstHeight) {
  const std::vector<LinearColumn> columns = LinearColumns(srcWidth, dstWidth);
  const size_t values = size_t{dstWidth} * 3;
  const size_t srcRowBytes = size_t{srcWidth} * 3;
  const double yRatio = static_cast<double>(srcHeight) / dstHeight;
  const double last = srcHeight - 1;
  RowCache rows(2, values);
  for (uint32_t i = 0; i < dstHeight; ++i) {
    double v = i * yRatio;
    if (v >= last) v = last;
    if (!(v > 0)) v = 0;
    const uint32_t r0 = static_cast<uint32_t>(v);
    const size_t needed[2] = {r0, std::min(r0 + 1, srcHeight - 1)};
    const double* rowValues[2];
    for (int t = 0; t < 2; ++t) {
      rowValues[t] = rows.Fetch(needed[t], needed, 2, [&](double* out) {
        InterpolateRow(source + needed[t] * srcRowBytes, columns, out);
      });
    }
    LinearCombine(rowValues[0], (r0 + 1) - v, rowValues[1], v - r0, values,
                  destination + i * values);
  }
  return true;
}

// ---- bicubic ----

// Four taps and weights of cubic convolution (a = -1) at position p on an axis of
// n samples. The taps repeat near the far edge instead of running past it.
struct CubicTaps {
  size_t tap[4];
  double weight[4];
};

CubicTaps CubicTapsAt(double p, uint32_t n) {
  const int64_t ip = static_cast<int64_t>(p);
  const double count = n;
  int64_t t[4];
  t[0] = p < 1 ? 0 : ip - 1;
  t[1] = p >= count - 1 ? n - 1 : ip;
  t[2] = p >= count - 2 ? t[1] : ip + 1;
  t[3] = p >= count - 3 ? t[2] : ip + 2;
  const double f = p - ip;
  const double g = 1 - f;
  CubicTaps taps;
  taps.weight[0] = -(f * (g * g));
  taps.weight[1] = 1 - 2 * (f * f) + f * f * f;
  taps.weight[2] = f * ((1 + f) - f * f);
  taps.weight[3] = -((f * f) * g);
  for (int k = 0; k < 4; ++k)
    taps.tap[k] = static_cast<size_t>(std::clamp<int64_t>(t[k], 0, n - 1));
  return taps;
}

// Position j * src/dst, clamped to the last sample.
double ClampedPosition(uint32_t j, double ratio, uint32_t n) {
  return std::min(j * ratio, static_cast<double>(n - 1));
}

// `columns` hold byte offsets of the taps.
VELLUM_VECTOR_CLONES
void CubicRow(const uint8_t* row, const std::vector<CubicTaps>& columns, double* out) {
  for (const CubicTaps& c : columns) {
    const uint8_t* s0 = row + c.tap[0];
    const uint8_t* s1 = row + c.tap[1];
    const uint8_t* s2 = row + c.tap[2];
    const uint8_t* s3 = row + c.tap[3];
    for (int ch = 0; ch < 3; ++ch) {
      *out++ =
          c.weight[0] * s0[ch] + c.weight[1] * s1[ch] + c.weight[2] * s2[ch] + c.weight[3] * s3[ch];
    }
  }
}

// out[e] = trunc(sum of w[t] * rows[t][e] + 0.5), clamped to a byte.
VELLUM_VECTOR_CLONES
void CubicCombine(const double* const* rows, const double* w, size_t count, uint8_t* out) {
  for (size_t e = 0; e < count; ++e) {
    const double value =
        w[0] * rows[0][e] + w[1] * rows[1][e] + w[2] * rows[2][e] + w[3] * rows[3][e] + 0.5;
    out[e] = static_cast<uint8_t>(std::clamp(value, 0.0, 255.0));
  }
}

bool Bicubic(OpContext&, const uint8_t* source, uint32_t srcWidth, uint32_t srcHeight,
             uint8_t* destination, uint32_t dstWidth, uint32_t dstHeight) {
  const double xRatio = static_cast<double>(srcWidth) / dstWidth;
  std::vector<CubicTaps> columns(dstWidth);
  for (uint32_t j = 0; j < dstWidth; ++j) {
    columns[j] = CubicTapsAt(ClampedPosition(j, xRatio, srcWidth), srcWidth);
    for (size_t& tap : columns[j].tap) tap *= 3;
  }
  const size_t values = size_t{dstWidth} * 3;
  const size_t srcRowBytes = size_t{srcWidth} * 3;
  const double yRatio = static_cast<double>(srcHeight) / dstHeight;
  RowCache rows(4, values);
  for (uint32_t i = 0; i < dstHeight; ++i) {
    const CubicTaps vertical = CubicTapsAt(ClampedPosition(i, yRatio, srcHeight), srcHeight);
    const double* r[4];
    for (int t = 0; t < 4; ++t) {
      const size_t sourceRow = vertical.tap[t];
      r[t] = rows.Fetch(sourceRow, vertical.tap, 4, [&](double* out) {
        CubicRow(source + sourceRow * srcRowBytes, columns, out);
      });
    }
    CubicCombine(r, vertical.weight, values, destination + i * values);
  }
  return true;
}

// ---- box reduction ----

constexpr double kMaxBoxPixels = 16777216;

// Where each output index's block starts: the truncated running sum of the ratio,
// kept inside the source.
std::vector<uint32_t> BlockStarts(uint32_t srcCount, uint32_t dstCount, uint32_t block) {
  const double ratio = static_cast<double>(srcCount) / dstCount;
  std::vector<uint32_t> starts(dstCount);
  double sum = 0;
  for (uint32_t i = 0; i < dstCount; ++i, sum += ratio) {
    starts[i] = std::min(static_cast<uint32_t>(sum), srcCount - block);
  }
  return starts;
}

bool Box(OpContext& ctx, const uint8_t* source, uint32_t srcWidth, uint32_t srcHeight,
         uint8_t* destination, uint32_t dstWidth, uint32_t dstHeight) {
  const double xRatio = static_cast<double>(srcWidth) / dstWidth;
  const double yRatio = static_cast<double>(srcHeight) / dstHeight;
  if (srcWidth < dstWidth || srcHeight < dstHeight || xRatio * yRatio > kMaxBoxPixels) {
    return ctx.Fail(kErrInvalidArgument);
  }
  const uint32_t f = std::min(static_cast<uint32_t>(xRatio), static_cast<uint32_t>(yRatio));
  const uint64_t area = uint64_t{f} * f;
  const std::vector<uint32_t> rowStarts = BlockStarts(srcHeight, dstHeight, f);
  const std::vector<uint32_t> columnStarts = BlockStarts(srcWidth, dstWidth, f);
  const size_t srcRowBytes = size_t{srcWidth} * 3;
  std::vector<uint64_t> columnSums(srcRowBytes);  // one block's rows summed per source byte
  for (uint32_t i = 0; i < dstHeight; ++i) {
    std::fill(columnSums.begin(), columnSums.end(), 0);
    for (uint32_t r = 0; r < f; ++r) {
      const uint8_t* row = source + (size_t{rowStarts[i]} + r) * srcRowBytes;
      for (size_t e = 0; e < srcRowBytes; ++e) columnSums[e] += row[e];
    }
    uint8_t* out = destination + size_t{i} * dstWidth * 3;
    for (uint32_t j = 0; j < dstWidth; ++j) {
      for (int ch = 0; ch < 3; ++ch) {
        uint64_t sum = 0;
        for (uint32_t c = 0; c < f; ++c) sum += columnSums[(size_t{columnStarts[j]} + c) * 3 + ch];
        *out++ = static_cast<uint8_t>(sum / area);
      }
    }
  }
  return true;
}

}  // namespace

bool ValidResizeArguments(const uint8_t* source, uint32_t srcWidth, uint32_t srcHeight,
                          const uint8_t* destination, uint32_t dstWidth, uint32_t dstHeight) {
  return source != nullptr && destination != nullptr && source != destination && srcWidth != 0 &&
         srcHeight != 0 && dstWidth != 0 && dstHeight != 0;
}

BOOL ResizeNearest(const uint8_t* source, uint32_t srcWidth, uint32_t srcHeight,
                   uint32_t bytesPerPixel, uint8_t* destination, uint32_t dstWidth,
                   uint32_t dstHeight) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (!ValidResizeArguments(source, srcWidth, srcHeight, destination, dstWidth, dstHeight) ||
        bytesPerPixel == 0) {
      return ctx.Fail(kErrInvalidArgument);
    }
    return Nearest(source, srcWidth, srcHeight, bytesPerPixel, destination, dstWidth, dstHeight);
  });
}

// The three-byte routines share their argument checks and entry shape.
template <typename Worker>
BOOL RunRgbResize(Worker worker, const uint8_t* source, uint32_t srcWidth, uint32_t srcHeight,
                  uint8_t* destination, uint32_t dstWidth, uint32_t dstHeight) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (!ValidResizeArguments(source, srcWidth, srcHeight, destination, dstWidth, dstHeight)) {
      return ctx.Fail(kErrInvalidArgument);
    }
    return worker(ctx, source, srcWidth, srcHeight, destination, dstWidth, dstHeight);
  });
}

BOOL ResizeBilinear(const uint8_t* source, uint32_t srcWidth, uint32_t srcHeight,
                    uint8_t* destination, uint32_t dstWidth, uint32_t dstHeight) {
  return RunRgbResize(Bilinear, source, srcWidth, srcHeight, destination, dstWidth, dstHeight);
}

BOOL ResizeBicubic(const uint8_t* source, uint32_t srcWidth, uint32_t srcHeight,
                   uint8_t* destination, uint32_t dstWidth, uint32_t dstHeight) {
  return RunRgbResize(Bicubic, source, srcWidth, srcHeight, destination, dstWidth, dstHeight);
}

BOOL ReduceBox(const uint8_t* source, uint32_t srcWidth, uint32_t srcHeight, uint8_t* destination,
               uint32_t dstWidth, uint32_t dstHeight) {
  return RunRgbResize(Box, source, srcWidth, srcHeight, destination, dstWidth, dstHeight);
}

}  // namespace vellum

#include "vellum/core/rotate.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>

#include "vellum/core/conversions.h"
#include "vellum/core/entry_frame.h"
#include "vellum/core/image_buffer.h"
#include "vellum/core/worker_pool.h"

namespace vellum {

namespace {

// The output rectangle of a rotation in the rotated coordinate system: the box
// around the truncated projections of the source corners and the origin, at least
// one pixel in each direction (the truncation can make a side of a tiny image 0).
struct RotatedFrame {
  int64_t minX = 0;
  int64_t minY = 0;
  int64_t width = 0;
  int64_t height = 0;
};

RotatedFrame FrameOf(uint32_t width, uint32_t height, double c, double s) {
  const double w = width;
  const double h = height;
  const int64_t xs[4] = {0, static_cast<int64_t>(-h * s), static_cast<int64_t>(w * c - h * s),
                         static_cast<int64_t>(w * c)};
  const int64_t ys[4] = {0, static_cast<int64_t>(h * c), static_cast<int64_t>(w * s + h * c),
                         static_cast<int64_t>(w * s)};
  const auto [minX, maxX] = std::minmax_element(xs, xs + 4);
  const auto [minY, maxY] = std::minmax_element(ys, ys + 4);
  return {*minX, *minY, std::max<int64_t>(1, *maxX - *minX), std::max<int64_t>(1, *maxY - *minY)};
}

// The first k in [begin, end) for which `after(k)` holds, `after` being false then
// true along the range.
template <typename Predicate>
size_t FirstWhere(size_t begin, size_t end, Predicate after) {
  while (begin < end) {
    const size_t middle = begin + (end - begin) / 2;
    if (after(middle)) {
      end = middle;
    } else {
      begin = middle + 1;
    }
  }
  return begin;
}

// The columns [first, end) of a row where position(k) lies in [0, limit). Along a
// row, position(k) is the truncation of a rounded sum of a fixed term and a product
// growing steadily with k, so it never turns back: the columns form one range.
template <typename Position>
std::pair<size_t, size_t> InsideSpan(size_t width, bool rising, int64_t limit, Position position) {
  if (rising) {
    return {FirstWhere(0, width, [&](size_t k) { return position(k) >= 0; }),
            FirstWhere(0, width, [&](size_t k) { return position(k) >= limit; })};
  }
  return {FirstWhere(0, width, [&](size_t k) { return position(k) < limit; }),
          FirstWhere(0, width, [&](size_t k) { return position(k) < 0; })};
}

void FillColor(uint8_t* pixel, size_t count, COLORREF color) {
  for (size_t i = 0; i < count; ++i, pixel += 3) StoreColor(pixel, color);
}

// Samples every output pixel from the source position its centre maps back to.
// The products X*c and X*s are the same for every row, so they are taken once; in
// each row only the span that maps inside the source is sampled, without a test per
// pixel, and the rest takes the background. Rows are independent and run in parallel.
void SampleRotation(const uint8_t* rgb, uint32_t width, uint32_t height, double c, double s,
                    const RotatedFrame& frame, COLORREF background, uint8_t* out) {
  const size_t outWidth = static_cast<size_t>(frame.width);
  std::unique_ptr<double[]> xCos(new double[outWidth]);
  std::unique_ptr<double[]> xSin(new double[outWidth]);
  for (size_t k = 0; k < outWidth; ++k) {
    const double x = static_cast<double>(static_cast<int64_t>(k) + frame.minX);
    xCos[k] = x * c;
    xSin[k] = x * s;
  }
  const size_t rowBytes = outWidth * 3;
  ParallelFor(static_cast<size_t>(frame.height), GrainFor(rowBytes), [&](size_t first, size_t end) {
    for (size_t r = first; r < end; ++r) {
      const double y = static_cast<double>(static_cast<int64_t>(r) + frame.minY);
      const double yCos = y * c;
      const double ySin = y * s;
      auto sourceX = [&](size_t k) { return static_cast<int64_t>(xCos[k] + ySin); };
      auto sourceY = [&](size_t k) { return static_cast<int64_t>(yCos - xSin[k]); };
      const auto [xFirst, xEnd] = InsideSpan(outWidth, c >= 0, width, sourceX);
      const auto [yFirst, yEnd] = InsideSpan(outWidth, s <= 0, height, sourceY);
      const size_t spanFirst = std::max(xFirst, yFirst);
      const size_t spanEnd = std::max(spanFirst, std::min(xEnd, yEnd));
      uint8_t* row = out + r * rowBytes;
      FillColor(row, spanFirst, background);
      for (size_t k = spanFirst; k < spanEnd; ++k) {
        const size_t at = static_cast<size_t>(sourceY(k)) * width + static_cast<size_t>(sourceX(k));
        std::memcpy(row + k * 3, rgb + at * 3, 3);
      }
      FillColor(row + spanEnd * 3, outWidth - spanEnd, background);
    }
  });
}

// Quarter turns go through a scratch copy, in tiles so that both the reads and
// the writes stay within a few cache lines.
void TurnQuarter(const uint8_t* src, uint32_t width, uint32_t height, bool clockwise,
                 uint8_t* out) {
  constexpr uint32_t kTile = 32;
  for (uint32_t y0 = 0; y0 < height; y0 += kTile) {
    const uint32_t y1 = std::min(height, y0 + kTile);
    for (uint32_t x0 = 0; x0 < width; x0 += kTile) {
      const uint32_t x1 = std::min(width, x0 + kTile);
      for (uint32_t y = y0; y < y1; ++y) {
        const uint8_t* in = src + (size_t{y} * width + x0) * 3;
        for (uint32_t x = x0; x < x1; ++x, in += 3) {
          // Output rows are `height` pixels long.
          const size_t row = clockwise ? x : width - 1 - x;
          const size_t column = clockwise ? height - 1 - y : y;
          std::memcpy(out + (row * height + column) * 3, in, 3);
        }
      }
    }
  }
}

// A half turn reverses the order of the pixels, which needs no scratch.
void TurnHalf(uint8_t* rgb, size_t pixelCount) {
  uint8_t* front = rgb;
  uint8_t* back = rgb + (pixelCount - 1) * 3;
  for (; front < back; front += 3, back -= 3) std::swap_ranges(front, front + 3, back);
}

}  // namespace

HGLOBAL RotateByAngle(const uint8_t* rgb, uint32_t width, uint32_t height, double radians,
                      COLORREF background, uint32_t* outWidth, uint32_t* outHeight) {
  return RunEntry([&](OpContext& ctx) -> HGLOBAL {
    if (rgb == nullptr || outWidth == nullptr || outHeight == nullptr || width == 0 ||
        height == 0 || !std::isfinite(radians)) {
      ctx.Fail(kErrInvalidArgument);
      return nullptr;
    }
    const double c = std::cos(radians);
    const double s = std::sin(radians);
    const RotatedFrame frame = FrameOf(width, height, c, s);
    // Every output byte is written, so the block is not cleared first.
    GlobalBlock block = AllocateImageBuffer(ctx, ImageBytes(frame.width, frame.height, 3), false);
    if (!block) return nullptr;
    SampleRotation(rgb, width, height, c, s, frame, background, block.Data());
    *outWidth = static_cast<uint32_t>(frame.width);
    *outHeight = static_cast<uint32_t>(frame.height);
    return block.Release();
  });
}

BOOL RotateRightAngle(uint8_t* rgb, uint32_t width, uint32_t height, int32_t kind) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (rgb == nullptr || width == 0 || height == 0) return ctx.Fail(kErrInvalidArgument);
    const size_t pixels = size_t{width} * height;
    switch (kind) {
      case kRotate180:
        TurnHalf(rgb, pixels);
        return TRUE;
      case kRotate90Clockwise:
      case kRotate90CounterClockwise: {
        std::unique_ptr<uint8_t[]> scratch(new uint8_t[pixels * 3]);
        TurnQuarter(rgb, width, height, kind == kRotate90Clockwise, scratch.get());
        std::memcpy(rgb, scratch.get(), pixels * 3);
        return TRUE;
      }
      default:
        return ctx.Fail(kErrInvalidArgument);
    }
  });
}

}  // namespace vellum

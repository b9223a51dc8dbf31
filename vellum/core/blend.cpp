#include "vellum/core/blend.h"

#include <algorithm>

#include "vellum/core/conversions.h"
#include "vellum/core/entry_frame.h"
#include "vellum/core/vector_clones.h"

namespace vellum {

namespace {

// The part of a width x height overlay at (x, y) that lies on the destination, in
// destination coordinates: columns left .. right - 1, rows top .. bottom - 1.
struct Clip {
  int64_t left;
  int64_t right;
  int64_t top;
  int64_t bottom;
};

Clip ClipOverlay(uint32_t dstWidth, uint32_t dstHeight, int64_t x, int64_t y, uint32_t width,
                 uint32_t height) {
  return {std::clamp<int64_t>(x, 0, dstWidth), std::clamp<int64_t>(x + width, 0, dstWidth),
          std::clamp<int64_t>(y, 0, dstHeight), std::clamp<int64_t>(y + height, 0, dstHeight)};
}

// Calls blendRow(destination pixels, overlay pixels, overlay offset, pixel count)
// for every destination row the overlay covers.
template <typename BlendRow>
void ForEachCoveredRow(uint8_t* destination, uint32_t dstWidth, uint32_t dstHeight,
                       const uint8_t* overlay, uint32_t width, uint32_t height, int32_t x,
                       int32_t y, BlendRow blendRow) {
  const Clip clip = ClipOverlay(dstWidth, dstHeight, x, y, width, height);
  if (clip.left >= clip.right) return;
  const size_t count = static_cast<size_t>(clip.right - clip.left);
  for (int64_t py = clip.top; py < clip.bottom; ++py) {
    const size_t dstPixel = static_cast<size_t>(py) * dstWidth + static_cast<size_t>(clip.left);
    const size_t overlayPixel =
        static_cast<size_t>(py - y) * width + static_cast<size_t>(clip.left - x);
    blendRow(destination + dstPixel * 3, overlay + overlayPixel * 3, overlayPixel, count);
  }
}

constexpr double kOneOver255 = 0.00392156862745098;

// One row of the masked overlay: A[m] = m / 255 and B[m] = (255 - m) / 255 are
// formed as the products the tables would hold.
VELLUM_VECTOR_CLONES
void OverlayRow(uint8_t* out, const uint8_t* in, const uint8_t* coverage, size_t count) {
  for (size_t p = 0; p < count; ++p, out += 3, in += 3) {
    const double a = coverage[p] * kOneOver255;
    const double b = (255 - coverage[p]) * kOneOver255;
    for (int ch = 0; ch < 3; ++ch) out[ch] = static_cast<uint8_t>(a * in[ch] + b * out[ch]);
  }
}

}  // namespace

BOOL BlendWithOpacity(uint8_t* destination, uint32_t dstWidth, uint32_t dstHeight,
                      const uint8_t* overlay, uint32_t overlayWidth, uint32_t overlayHeight,
                      int32_t x, int32_t y, double opacity, COLORREF transparent,
                      uint32_t tolerance) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (destination == nullptr || overlay == nullptr || destination == overlay) {
      return ctx.Fail(kErrInvalidArgument);
    }
    const BlendTables tables = MakeBlendTables(opacity);
    ForEachCoveredRow(destination, dstWidth, dstHeight, overlay, overlayWidth, overlayHeight, x, y,
                      [&](uint8_t* out, const uint8_t* over, size_t, size_t count) {
                        for (size_t p = 0; p < count; ++p, out += 3, over += 3) {
                          if (ColorsMatch(PixelColor(over), transparent, tolerance)) continue;
                          for (int ch = 0; ch < 3; ++ch) {
                            out[ch] =
                                static_cast<uint8_t>(tables.under[out[ch]] + tables.over[over[ch]]);
                          }
                        }
                      });
    return TRUE;
  });
}

BOOL OverlayWithMask(uint8_t* destination, uint32_t dstWidth, uint32_t dstHeight,
                     const uint8_t* source, uint32_t srcWidth, uint32_t srcHeight,
                     const uint8_t* mask, int32_t x, int32_t y) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (destination == nullptr || source == nullptr || mask == nullptr || destination == source) {
      return ctx.Fail(kErrInvalidArgument);
    }
    ForEachCoveredRow(destination, dstWidth, dstHeight, source, srcWidth, srcHeight, x, y,
                      [&](uint8_t* out, const uint8_t* in, size_t maskAt, size_t count) {
                        OverlayRow(out, in, mask + maskAt, count);
                      });
    return TRUE;
  });
}

}  // namespace vellum

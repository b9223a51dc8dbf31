#include "vellum/pixelops/gradients.h"

#include <array>
#include <cstring>

#include "vellum/core/entry_frame.h"
#include "vellum/pixelops/pixel_fill.h"

namespace vellum {

namespace {

// The running colour of a gradient: three channels in double precision, moved by
// one step after each column or row.
class GradientColor {
 public:
  GradientColor(COLORREF begin, COLORREF end, uint32_t steps) {
    const std::array<uint8_t, 4> from = ColorBytes(begin);
    const std::array<uint8_t, 4> to = ColorBytes(end);
    for (int ch = 0; ch < 3; ++ch) {
      value_[ch] = from[ch];
      step_[ch] = (static_cast<double>(from[ch]) - to[ch]) / steps;
    }
  }

  std::array<uint8_t, 3> Pixel() const {
    return {static_cast<uint8_t>(value_[0]), static_cast<uint8_t>(value_[1]),
            static_cast<uint8_t>(value_[2])};
  }

  // Towards `end` (forward) or back towards `begin`.
  void Move(bool forward) {
    for (int ch = 0; ch < 3; ++ch) value_[ch] += forward ? -step_[ch] : step_[ch];
  }

 private:
  double value_[3];
  double step_[3];
};

// Fills the image with bands (columns or rows), band i in the colour the gradient
// has after i moves; forward(i) says whether the move after band i goes forward.
template <typename Forward>
void FillBands(uint8_t* rgb, uint32_t width, uint32_t height, bool horizontal, GradientColor color,
               Forward forward) {
  const size_t rowBytes = size_t{width} * 3;
  const uint32_t lines = horizontal ? width : height;
  for (uint32_t i = 0; i < lines; ++i) {
    const std::array<uint8_t, 3> pixel = color.Pixel();
    if (horizontal) {
      std::memcpy(rgb + size_t{i} * 3, pixel.data(), 3);
    } else {
      FillPixels(rgb + i * rowBytes, width, pixel.data(), 3);
    }
    // The move after the last band is never used; with no steps (one band) the
    // step is a division by zero.
    if (i + 1 < lines) color.Move(forward(i));
  }
  if (horizontal) {
    for (uint32_t y = 1; y < height; ++y) std::memcpy(rgb + y * rowBytes, rgb, rowBytes);
  }
}

// Shared by both entries: the two-way gradient reaches `end` at band lines / 2
// and turns back there.
BOOL RunGradient(uint8_t* rgb, uint32_t width, uint32_t height, COLORREF begin, COLORREF end,
                 int32_t direction, bool twoWay) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (rgb == nullptr) return ctx.Fail(kErrInvalidArgument);
    const bool known = direction == kHorizontalGradient || direction == kVerticalGradient;
    if (!known || width == 0 || height == 0) return TRUE;
    const bool horizontal = direction == kHorizontalGradient;
    const uint32_t lines = horizontal ? width : height;
    const uint32_t steps = twoWay ? lines / 2 : lines;
    const GradientColor color(begin, end, steps);
    FillBands(rgb, width, height, horizontal, color,
              [&](uint32_t i) { return !twoWay || i < steps; });
    return TRUE;
  });
}

}  // namespace

BOOL FillGradient(uint8_t* rgb, uint32_t width, uint32_t height, COLORREF begin, COLORREF end,
                  int32_t direction) {
  return RunGradient(rgb, width, height, begin, end, direction, false);
}

BOOL FillTwoWayGradient(uint8_t* rgb, uint32_t width, uint32_t height, COLORREF begin, COLORREF end,
                        int32_t direction) {
  return RunGradient(rgb, width, height, begin, end, direction, true);
}

}  // namespace vellum

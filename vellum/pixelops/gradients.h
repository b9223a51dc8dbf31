// Gradient fills of a new RGB image, for the creation methods.
#pragma once

#include <cstdint>

#include "platform/kernel/win_types.h"

namespace vellum {

enum GradientDirection : int32_t {
  kHorizontalGradient = 0,  // the colour changes from left to right
  kVerticalGradient = 1,    // from top to bottom
};

// Column (or row) i takes the truncation of a colour that starts at `begin` and
// moves by (begin - end) / Width (or Height) per column, so the last one is one step
// short of `end`. Another direction leaves the image as it is. Code 5 for a null
// image.
BOOL FillGradient(uint8_t* rgb, uint32_t width, uint32_t height, COLORREF begin, COLORREF end,
                  int32_t direction);

// As FillGradient, running from `begin` to `end` at column (or row) Width / 2 and
// back towards `begin`.
BOOL FillTwoWayGradient(uint8_t* rgb, uint32_t width, uint32_t height, COLORREF begin, COLORREF end,
                        int32_t direction);

}  // namespace vellum

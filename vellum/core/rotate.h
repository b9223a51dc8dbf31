// Rotation of RGB buffers (3 bytes per pixel, rows top to bottom, no padding).
#pragma once

#include <cstdint>

#include "platform/kernel/win_types.h"

namespace vellum {

// Rotates by an angle in radians (positive turns clockwise on screen) by sampling,
// not interpolating, into a new zero-initialised global block that the caller
// frees. The output is the bounding box of the truncated corner projections; the
// uncovered corners take `background` (0x00BBGGRR). The out-sizes are written only
// on success. Code 5 for a null pointer or a zero size, code 1 when the output
// would pass the image buffer limit or memory runs out.
HGLOBAL RotateByAngle(const uint8_t* rgb, uint32_t width, uint32_t height, double radians,
                      COLORREF background, uint32_t* outWidth, uint32_t* outHeight);

enum RightAngle : int32_t {
  kRotate90Clockwise = 0,
  kRotate180 = 1,
  kRotate90CounterClockwise = 2,
};

// Rotates in place by a right angle; after the quarter turns the caller swaps
// width and height. The buffer is written only once the result is complete.
// Code 5 for a null buffer, a zero size or another kind; code 1 for scratch.
BOOL RotateRightAngle(uint8_t* rgb, uint32_t width, uint32_t height, int32_t kind);

}  // namespace vellum

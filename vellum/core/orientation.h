// Turning an RGB buffer upright as an EXIF orientation (1 to 8) says.
#pragma once

#include <cstdint>

#include "platform/kernel/win_types.h"

namespace vellum {

// EXIF orientations: where the stored image's first row and first column belong.
enum Orientation : int32_t {
  kOrientationUpright = 1,
  kOrientationMirrored = 2,     // mirror left and right
  kOrientationUpsideDown = 3,   // rotate 180 degrees
  kOrientationFlipped = 4,      // mirror top and bottom
  kOrientationTransposed = 5,   // swap rows and columns
  kOrientationTurnedLeft = 6,   // rotate 90 degrees clockwise to show
  kOrientationTransversed = 7,  // swap rows and columns across the other diagonal
  kOrientationTurnedRight = 8,  // rotate 90 degrees anti-clockwise to show
};

// Whether showing an image of this orientation upright swaps its width and height.
inline bool SwapsSides(int32_t orientation) {
  return orientation >= kOrientationTransposed && orientation <= kOrientationTurnedRight;
}

// Turns the width x height RGB pixels upright in place; for orientations 5 to 8 the
// result is height pixels wide. Orientation 1 and values outside 1 to 8 change
// nothing. Code 5 for a null buffer or a zero size, code 1 when scratch memory runs out.
BOOL OrientImage(uint8_t* rgb, uint32_t width, uint32_t height, int32_t orientation);

}  // namespace vellum

#include "vellum/core/orientation.h"

#include "vellum/core/entry_frame.h"
#include "vellum/core/flip_crop.h"
#include "vellum/core/rotate.h"

namespace vellum {

namespace {

// A quarter turn clockwise (or none), then mirroring left and right or top and bottom,
// in the turned image's sides.
struct Steps {
  int32_t turn = -1;  // a RightAngle kind, or -1 for none
  bool mirrorLeftRight = false;
  bool mirrorTopBottom = false;
};

Steps StepsFor(int32_t orientation) {
  switch (orientation) {
    case kOrientationMirrored:
      return {-1, true, false};
    case kOrientationUpsideDown:
      return {kRotate180, false, false};
    case kOrientationFlipped:
      return {-1, false, true};
    case kOrientationTransposed:
      return {kRotate90Clockwise, true, false};
    case kOrientationTurnedLeft:
      return {kRotate90Clockwise, false, false};
    case kOrientationTransversed:
      return {kRotate90Clockwise, false, true};
    case kOrientationTurnedRight:
      return {kRotate90CounterClockwise, false, false};
    default:
      return {};
  }
}

}  // namespace

BOOL OrientImage(uint8_t* rgb, uint32_t width, uint32_t height, int32_t orientation) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (rgb == nullptr || width == 0 || height == 0) return ctx.Fail(kErrInvalidArgument);
    const Steps steps = StepsFor(orientation);
    if (steps.turn >= 0 && !RotateRightAngle(rgb, width, height, steps.turn)) {
      return ctx.Fail(CoreLastError());
    }
    const uint32_t shownWidth = SwapsSides(orientation) ? height : width;
    const uint32_t shownHeight = SwapsSides(orientation) ? width : height;
    if (steps.mirrorLeftRight && !FlipHorizontal(rgb, shownWidth, shownHeight, 3)) {
      return ctx.Fail(CoreLastError());
    }
    if (steps.mirrorTopBottom && !FlipVertical(rgb, size_t{shownWidth} * 3, shownHeight)) {
      return ctx.Fail(CoreLastError());
    }
    return TRUE;
  });
}

}  // namespace vellum

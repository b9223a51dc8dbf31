// Compositing a smaller RGB buffer onto a larger one in place, at a position that
// may lie partly or wholly outside the destination (the overlay is clipped).
#pragma once

#include <cstdint>

#include "platform/kernel/win_types.h"

namespace vellum {

// Each covered destination channel becomes trunc((1 - a) * destination + a * overlay),
// a being the opacity clamped to 0..1; overlay pixels matching `transparent`
// (ColorsMatch with `tolerance`) leave the destination as it is. Code 5 for a null
// buffer or one buffer passed twice.
BOOL BlendWithOpacity(uint8_t* destination, uint32_t dstWidth, uint32_t dstHeight,
                      const uint8_t* overlay, uint32_t overlayWidth, uint32_t overlayHeight,
                      int32_t x, int32_t y, double opacity, COLORREF transparent,
                      uint32_t tolerance);

// Mixes `source` into the destination through a coverage mask of one byte per
// source pixel: channel = trunc(m/255 * source + (255 - m)/255 * destination).
// Code 5 for a null buffer or mask, or source and destination being one buffer.
BOOL OverlayWithMask(uint8_t* destination, uint32_t dstWidth, uint32_t dstHeight,
                     const uint8_t* source, uint32_t srcWidth, uint32_t srcHeight,
                     const uint8_t* mask, int32_t x, int32_t y);

}  // namespace vellum

// Adaptive palettes by octree quantization.
#pragma once

#include <cstdint>

#include "platform/kernel/win_types.h"
#include "vellum/core/entry_frame.h"

namespace vellum {

// Builds a palette of at most `colorCount` colours for a width x height RGB image
// and maps the image onto it with the dithered mapping (one index byte per pixel
// out). `colorCount` is forced into 1..256. Writes the colour bytes of palette
// entries 0 to colorCount - 1, black past the colours found; reserved bytes are
// left alone.
//
// The colours come from a six-level tree over the top five bits of each channel:
// the lightest subtrees are merged into their parents until no more than
// `colorCount` colours remain, and each colour is the rounded mean of its pixels.
// Code 5 for a null pointer.
bool QuantizeOctree(OpContext& ctx, const uint8_t* rgb, uint32_t width, uint32_t height,
                    uint8_t* indices, int32_t colorCount, RGBQUAD* palette);

// Entry form (last-error code set): non-zero on success.
BOOL QuantizeOctree(const uint8_t* rgb, uint32_t width, uint32_t height, uint8_t* indices,
                    int32_t colorCount, RGBQUAD* palette);

}  // namespace vellum

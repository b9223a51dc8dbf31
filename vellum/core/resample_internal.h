// Helpers the resampling routines share.
#pragma once

#include <cstdint>

namespace vellum {

// Both buffers exist and differ, and no size is zero.
bool ValidResizeArguments(const uint8_t* source, uint32_t srcWidth, uint32_t srcHeight,
                          const uint8_t* destination, uint32_t dstWidth, uint32_t dstHeight);

}  // namespace vellum

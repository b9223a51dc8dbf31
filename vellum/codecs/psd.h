// The layered-image ("8BPS") format in its simplest form: the merged composite
// at the end of the file read as an RGB buffer (bitmap, grayscale, indexed, RGB,
// CMYK and duotone, raw or PackBits data); single-layer RGB or indexed files
// written without layers or resources.
#pragma once

#include <cstdint>

#include "platform/kernel/win_types.h"
#include "vellum/core/data_handle.h"

namespace vellum {

// Decodes the composite (requestedBits must be 24); layers, masks and resources
// are skipped by their lengths, and channels beyond the colour mode's are
// ignored. Codes: 46 (not such a file, a zero size, too few channels for the
// mode, an indexed colour table shorter than 768 bytes), 47 (a depth other than
// 1 for bitmap and 8 otherwise, another colour mode, raw bitmap data), 3 (short
// data, failed seeks, an unknown compression, run-length rows that do not come
// out exactly one row long), 1 (memory), 5 (arguments).
HGLOBAL ReadPSD(HISSRC source, int32_t* width, int32_t* height, int32_t requestedBits);

// Writes an RGB image (bits 24) or an indexed one with its 256-entry palette
// (bits 8) as raw channels. Returns the destination's size after writing, or 0.
uint32_t WritePSD(HISDEST destination, const uint8_t* pixels, int32_t width, int32_t height,
                  int32_t bits, const RGBQUAD* palette);

}  // namespace vellum

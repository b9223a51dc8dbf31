// PCX: run-length encoded images of 1 to 8 bits in one or several planes and
// 24-bit images in three planes read as RGB buffers; version-5 files written
// from 8-bit indexed or 24-bit RGB images.
#pragma once

#include <cstdint>

#include "platform/kernel/win_types.h"
#include "vellum/core/data_handle.h"

namespace vellum {

// Decodes the image from the start of the source (requestedBits must be 24).
// Run-length data that ends early decodes as zeros. Codes: 22 (bad header, a
// plane layout other than packed pixels in one plane, bit planes or 8-bit RGB
// planes, lines too short for the width, or more pixels than the data could
// hold), 1 (memory), 5 (arguments).
HGLOBAL ReadPCX(HISSRC source, int32_t* width, int32_t* height, int32_t requestedBits);

// Writes an indexed image with its 256-entry palette (bits 8) or an RGB image
// (bits 24). Returns the destination's size after writing, or 0.
uint32_t WritePCX(HISDEST destination, const uint8_t* pixels, int32_t width, int32_t height,
                  int32_t bits, const RGBQUAD* palette);

}  // namespace vellum

// GIF: the first image of a GIF87a or GIF89a file as an RGB buffer, and
// single-image GIFs written from an indexed image.
#pragma once

#include <cstdint>

#include "platform/kernel/win_types.h"
#include "vellum/core/data_handle.h"

namespace vellum {

// Decodes the first image of the file at its own size. `transparentColor`
// receives the colour (0x00BBGGRR) of the transparent index that a graphic
// control extension before the image names, or -1. Codes: 3 (end of data before
// or inside the image descriptor), 8 (bad header, screen descriptor, colour
// table or code size, or more pixels than the data can hold), 1 (memory).
HGLOBAL ReadGIF(HISSRC source, int32_t* width, int32_t* height, int32_t* transparentColor);

// Writes width x height indices below 2^tableBits with a global table of
// 2^tableBits palette entries (tableBits 1 to 8). A transparent index of 0 or
// more makes a GIF89a file with a graphic control extension naming it; a
// negative one a GIF87a file. A nonzero interlace flag stores the rows in the
// interlace passes. Returns the destination's size after writing, or 0.
uint32_t WriteGIF(HISDEST destination, const uint8_t* pixels, int32_t width, int32_t height,
                  int32_t interlace, int32_t backgroundIndex, int32_t transparentIndex,
                  int32_t tableBits, const RGBQUAD* palette);

}  // namespace vellum

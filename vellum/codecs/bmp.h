// The BMP codec: Windows bitmaps (uncompressed 1, 4, 8, 16, 24 and 32 bits per
// pixel, 16-bit bit fields, RLE8 and RLE4) in; uncompressed bitmaps out.
#pragma once

#include <cstdint>

#include "platform/kernel/win_types.h"
#include "vellum/core/data_handle.h"

namespace vellum {

// Decodes the bitmap at the start of `source` into a new RGB buffer (a fixed
// global block the caller frees) and reports its width and height. Only 24
// requested bits are supported.
//
// Codes: 5 null pointer or other requested bits, 38 invalid source, 3 short read,
// 6 malformed file, 1 no memory. A file whose pixel data ends early still yields
// its buffer, with code 3 and the rows not decoded left black (entry 0's colour
// for run-length files).
HGLOBAL ReadBMP(HISSRC source, int32_t* width, int32_t* height, int32_t requestedBits);

// Writes a bottom-up, uncompressed bitmap and returns the destination's size
// afterwards, or 0 on failure.
//
// `pixels` holds the rows top to bottom without padding: RGB at 24 bits per pixel
// (the palette is then not written), or packed indices at 1, 4 or 8 bits, most
// significant bits first, each row starting on a byte, with `paletteCount`
// entries (1 to 256) of `palette`.
//
// Codes: 5 bad arguments, 38 invalid destination, 4 failed write.
uint32_t WriteBMP(HISDEST destination, const uint8_t* pixels, int32_t width, int32_t height,
                  int32_t bitsPerPixel, int32_t paletteCount, const RGBQUAD* palette);

}  // namespace vellum

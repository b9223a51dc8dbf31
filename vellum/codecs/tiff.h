// TIFF through libtiff: any page libtiff can turn into RGBA decoded to the RGB
// buffer (LZW refused), the first directory's size, depth and resolution, and
// 8-bit palette or 24-bit RGB encoding.
#pragma once

#include <cstdint>

#include "platform/kernel/win_types.h"
#include "vellum/codecs/codec_types.h"
#include "vellum/core/data_handle.h"

namespace vellum {

// Decodes directory `page` (0 is the first) into a new RGB buffer, rows top to
// bottom. requestedBits must be 24. A page the file does not have is code 5; an
// LZW-compressed page is code 36.
HGLOBAL ReadTIFF(HISSRC source, int32_t* width, int32_t* height, int32_t requestedBits,
                 int32_t page);

// Size, bits per pixel (BitsPerSample x SamplesPerPixel) and resolution of the
// first directory; the unit is the file's ResolutionUnit (1 none, 2 inch, 3 cm).
BOOL ReadTIFFInfo(HISSRC source, int32_t* width, int32_t* height, int32_t* bitsPerPixel,
                  ResolutionRecord* resolution);

// The orientation (1 to 8, as EXIF numbers them) that the image ReadTIFF gives for
// directory `page` still needs to show upright: ReadTIFF itself already mirrors as
// the page's Orientation tag says, so what is left is 1, a transpose (5) or a
// transverse (7). A page the file does not have is code 5.
BOOL ReadTIFFOrientation(HISSRC source, int32_t page, int32_t* orientation);

// Encodes RGB rows (bits 24) or palette-index rows (bits 8, with a 256-entry
// palette) in strips. Compression value 0 writes PackBits, 1 uncompressed strips;
// other values go to libtiff as they are. Returns the destination's size, or 0.
uint32_t WriteTIFF(HISDEST destination, const uint8_t* pixels, int32_t width, int32_t height,
                   int32_t bits, const RGBQUAD* palette, int32_t compression,
                   const ResolutionRecord& resolution);

}  // namespace vellum

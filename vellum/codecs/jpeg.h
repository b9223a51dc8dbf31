// JPEG through libjpeg: decoding to the RGB buffer, the header's size and JFIF
// density, and baseline or progressive encoding of RGB or gray rows.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/kernel/win_types.h"
#include "vellum/codecs/codec_types.h"
#include "vellum/core/data_handle.h"

namespace vellum {

// Decodes from the source's current position into a new RGB buffer (rows top to
// bottom) and reports its size. requestedBits must be 24. A fatal error in the
// middle of the rows returns the rows decoded so far with code 3.
HGLOBAL ReadJPEG(HISSRC source, int32_t* width, int32_t* height, int32_t requestedBits);

// Decodes as ReadJPEG does, but at the smallest of libjpeg's scales 1/8, 2/8 ... 8/8
// whose output is at least minWidth x minHeight, through libjpeg's scaled inverse DCT:
// a cheap way to a picture that is then resampled to a thumbnail. Reports the size
// decoded.
HGLOBAL ReadJPEGReduced(HISSRC source, int32_t* width, int32_t* height, uint32_t minWidth,
                        uint32_t minHeight);

// Size, bits per pixel of libjpeg's output and the JFIF density fields (unit 0
// none, 1 per inch, 2 per cm) without decoding pixels.
BOOL ReadJPEGInfo(HISSRC source, int32_t* width, int32_t* height, int32_t* bitsPerPixel,
                  ResolutionRecord* resolution);

// The first APP1 segment holding EXIF ("Exif\0\0" and the TIFF structure), empty
// when the header has none. FALSE (code 9) when the header cannot be read.
BOOL ReadJPEGExif(HISSRC source, std::vector<uint8_t>* exif);

// Encodes RGB rows (bits 24) or gray rows (bits 8) at the given quality, baseline
// or progressive, with the record's density in the JFIF header. Returns the
// destination's size, or 0.
uint32_t WriteJPEG(HISDEST destination, const uint8_t* pixels, int32_t width, int32_t height,
                   int32_t quality, BOOL progressive, int32_t bits,
                   const ResolutionRecord& resolution);

}  // namespace vellum

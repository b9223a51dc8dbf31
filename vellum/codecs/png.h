// PNG through libpng: decoding to the RGB buffer with the thread's background and
// gamma options, the header, palette and pHYs of a file, and encoding with the
// chunks the save path needs.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/kernel/win_types.h"
#include "vellum/codecs/codec_types.h"
#include "vellum/core/data_handle.h"

namespace vellum {

// Decodes from the source's current position into a new RGB buffer (rows top to
// bottom): palettes and gray expanded, 16-bit samples cut to their high byte,
// alpha composited over the file's bKGD (or the thread's default background),
// gamma corrected with the thread's options. requestedBits must be 24.
HGLOBAL ReadPNG(HISSRC source, int32_t* width, int32_t* height, int32_t requestedBits);

// The header, the palette (for gray images libpng's gray ramp), and pHYs (unit 0
// unknown, 1 per metre; 0 when absent). The palette is filled up to 256 entries
// with copies of entry 0.
BOOL ReadPNGInfo(HISSRC source, int32_t* colorType, int32_t* width, int32_t* height,
                 int32_t* bitDepth, int32_t* interlaceMethod, int32_t* paletteCount,
                 RGBQUAD* palette, ResolutionRecord* resolution);

// The eXIf chunk ahead of the image data (the EXIF TIFF structure), empty when there
// is none. FALSE (code 15) when the header cannot be read.
BOOL ReadPNGExif(HISSRC source, std::vector<uint8_t>* exif);

// Turns the calling thread's write-transparency option on (nonzero) or off: while
// on, WritePNG stores each palette entry's fourth byte as its opacity (tRNS).
void SetPNGWriteTransparency(BOOL on);

// Encodes `height` rows that start `bytesPerRow` apart, with tIME, pHYs and, when
// gamma is above 0, gAMA; a palette of 1 to 256 entries becomes PLTE. Returns the
// destination's size, or 0.
uint32_t WritePNG(HISDEST destination, const uint8_t* pixels, int32_t width, int32_t height,
                  int32_t bytesPerRow, int32_t bitDepth, int32_t paletteCount,
                  const RGBQUAD* palette, int32_t colorType, double gamma, int32_t interlaceMethod,
                  const ResolutionRecord& resolution);

}  // namespace vellum

// WebP through libwebp: decoding a still image or an animation's first frame to the
// RGB buffer, the EXIF a file carries, and encoding lossy or lossless files.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/kernel/win_types.h"
#include "vellum/core/data_handle.h"

namespace vellum {

// Decodes the whole source (read from its start) into a new RGB buffer. Alpha is
// composited as the PNG reader composites it; an animation gives its first frame on
// its canvas. Code 3 when the source cannot be read, 55 for data libwebp refuses,
// 54 above the limit on decoded pixels, 1 when the image would pass the image buffer limit.
HGLOBAL ReadWEBP(HISSRC source, int32_t* width, int32_t* height);

// The canvas size and the payload of the EXIF chunk (empty when there is none), read
// from the whole source without decoding pixels. FALSE (code 55) when the source is
// not a WebP file.
BOOL ReadWEBPInfo(HISSRC source, int32_t* width, int32_t* height, std::vector<uint8_t>* exif);

// Encodes width x height RGB pixels: lossy at `quality` (clamped to 0..100), lossless
// from quality 100 on. Sides run from 1 to 16383. Returns the destination's size, or 0.
uint32_t WriteWEBP(HISDEST destination, const uint8_t* rgb, int32_t width, int32_t height,
                   int32_t quality);

}  // namespace vellum

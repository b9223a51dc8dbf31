// What the codecs whose libraries work on a whole file in memory (WebP, AVIF) share:
// the file read whole, the size check before a decoded image is allocated, and alpha
// composited as the PNG reader composites it.
#pragma once

#include <cstdint>
#include <vector>

#include "vellum/core/data_handle.h"
#include "vellum/core/entry_frame.h"
#include "vellum/core/image_buffer.h"

namespace vellum {

// The most pixels a decoder is let produce: those of the largest RGB buffer.
constexpr uint64_t kMaxDecodedPixels = kMaxImageBufferBytes / 3;

// The quality (0 to 100) from which the WebP and AVIF writers keep every pixel exact.
constexpr int32_t kLosslessQuality = 100;

// The whole content of the source, read from its start; false when it cannot be read.
bool ReadWholeSource(DataHandle* source, std::vector<uint8_t>* bytes);

// Whether a width x height image declared by a file's header may be decoded: code 5
// for an empty side, 54 above the operator's limit on decoded pixels, 1 when its RGB
// buffer would pass the image buffer limit. Readers ask before they, or their library,
// allocate anything of the image's size.
bool CheckDecodedSize(OpContext& ctx, uint32_t width, uint32_t height);

// Straight-alpha RGBA pixels (4 bytes each, rows without padding) into RGB, composited
// over the thread's default PNG background as the PNG reader does for a file without
// bKGD: each channel (c * a + background * (255 - a) + 127) / 255.
void CompositeRgba(const uint8_t* rgba, uint32_t width, uint32_t height, uint8_t* rgb);

}  // namespace vellum

// GIF data sub-blocks and the LZW decoder of a GIF image's pixel data.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "vellum/core/data_handle.h"

namespace vellum {

using GifSubBlock = std::array<uint8_t, 255>;

// Reads one data sub-block into `block` and returns the number of bytes it
// delivered: 0 for the terminating zero-length block or at the end of the data.
size_t ReadGifSubBlock(DataHandle* source, GifSubBlock& block);

// An index image that the decoder fills: width x height bytes, rows stored in
// the file top to bottom or in the interlace passes.
struct GifIndexImage {
  uint8_t* pixels;
  uint32_t width;
  uint32_t height;
  bool interlaced;
};

constexpr int kMinGifCodeSize = 1;
constexpr int kMaxGifCodeSize = 8;

// Decodes the LZW sub-blocks that follow the minimum code size byte (1 to 8) and
// returns the number of rows it completed. Decoding that ends early (damaged codes,
// missing sub-blocks) is not an error: the pixels not reached keep their values.
uint32_t DecodeGifImageData(DataHandle* source, int minCodeSize, const GifIndexImage& image);

}  // namespace vellum

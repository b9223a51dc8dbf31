// GIF data sub-blocks and the LZW decoder of a GIF image's pixel data.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "vellum/core/data_handle.h"

namespace vellum {

using GifSubBlock = std::array<uint8_t, 255>;

// Reads one data sub-block into `block` (room for 255 bytes) and returns the
// number of bytes it delivered: 0 for the terminating zero-length block or at the
// end of the data.
size_t ReadGifSubBlock(DataHandle* source, uint8_t* block);

// The rows of an index image: stored in the file top to bottom or in the
// interlace passes.
struct GifImageShape {
  uint32_t width;
  uint32_t height;
  bool interlaced;
};

// Takes one row of `width` indices: its place in the image and its indices.
using GifRowSink = std::function<void(uint32_t y, const uint8_t* indices)>;

constexpr int kMinGifCodeSize = 1;
constexpr int kMaxGifCodeSize = 8;

// Decodes the LZW sub-blocks that follow the minimum code size byte (1 to 8),
// hands every row of the image to `sink` once, and returns the number of rows it
// completed. Decoding that ends early (damaged codes, missing sub-blocks) is not
// an error: the pixels not reached come as index 0.
uint32_t DecodeGifImageData(DataHandle* source, int minCodeSize, const GifImageShape& shape,
                            const GifRowSink& sink);

}  // namespace vellum

// The GIF writer's code stream: literal, run and clear codes sized so that every
// standard LZW decoder reproduces the pixels, without building a string table.
#pragma once

#include <cstdint>

#include "vellum/core/data_handle.h"

namespace vellum {

// Writes the pixels (width x height indices below 2^minCodeSize, rows taken top
// to bottom or in the interlace passes) as the data sub-blocks that follow the
// minimum code size byte (2 to 8), without the terminating zero-length block.
// False when a write to the destination fails.
bool EncodeGifImageData(DataHandle* destination, int minCodeSize, const uint8_t* pixels,
                        uint32_t width, uint32_t height, bool interlaced);

// Integer square root by Newton steps from a power of two above the root.
uint32_t IntegerSquareRoot(uint32_t x);

// The number of codes that spell a run of `runLength` pixels with triangles of
// run codes 1, 2, ..., `codes` long (a fresh table after each full triangle).
// `codes` is 1 to 4093, so what is left after the whole triangles fits 32 bits.
uint64_t TriangleCost(uint64_t runLength, uint32_t codes);

}  // namespace vellum

// Scaling of image buffers into a destination the caller allocated with
// dstWidth x dstHeight x bytes-per-pixel bytes; the source is never changed.
// Every routine fails with code 5 for a null pointer, a zero size, or source and
// destination being the same buffer, and computes every output byte from the
// double-precision arithmetic given beside it.
#pragma once

#include <cstdint>

#include "platform/kernel/win_types.h"

namespace vellum {

// Output pixel (j, i) copies source pixel (trunc(j * srcW/dstW), trunc(i * srcH/dstH)).
BOOL ResizeNearest(const uint8_t* source, uint32_t srcWidth, uint32_t srcHeight,
                   uint32_t bytesPerPixel, uint8_t* destination, uint32_t dstWidth,
                   uint32_t dstHeight);

// Bilinear interpolation of RGB pixels; positions j * srcW/dstW clamped to the
// last sample, interpolated horizontally in doubles, then vertically and truncated.
BOOL ResizeBilinear(const uint8_t* source, uint32_t srcWidth, uint32_t srcHeight,
                    uint8_t* destination, uint32_t dstWidth, uint32_t dstHeight);

// Cubic convolution (a = -1) of RGB pixels over four taps per axis, rounded by
// adding 0.5 and truncating, clamped to 0..255.
BOOL ResizeBicubic(const uint8_t* source, uint32_t srcWidth, uint32_t srcHeight,
                   uint8_t* destination, uint32_t dstWidth, uint32_t dstHeight);

// Separable resampling with filter kind 0..13 (see resample_kernels.h): a
// horizontal pass rounded to bytes, then a vertical pass. Samples that all equal
// the first contributing one are copied; other sums round halves away from zero.
// Indices beyond an edge reflect back into the source (and are clamped into it
// when the source is smaller than the filter's reach). Code 5 also for a kind
// outside 0..13 or 0 bytes per pixel.
BOOL ResizeFiltered(const uint8_t* source, uint32_t srcWidth, uint32_t srcHeight,
                    uint8_t* destination, uint32_t dstWidth, uint32_t dstHeight,
                    uint32_t bytesPerPixel, int32_t filterKind);

// Shrinks RGB pixels by averaging f x f blocks, f = min(trunc(srcW/dstW),
// trunc(srcH/dstH)). Code 5 also when the source is smaller than the destination
// or the block would pass 16777216 pixels.
BOOL ReduceBox(const uint8_t* source, uint32_t srcWidth, uint32_t srcHeight, uint8_t* destination,
               uint32_t dstWidth, uint32_t dstHeight);

}  // namespace vellum

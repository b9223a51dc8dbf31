// Row and pixel conversions shared by the codecs, the pixel operations and the
// save path. They work on caller-supplied memory; sizes are the caller's promise.
//
// RGB buffers hold 3 bytes per pixel (red, green, blue), rows top to bottom, no
// padding. Indexed buffers hold one palette index per pixel. Colour values are
// 0x00BBGGRR with red in the low byte.
#pragma once

#include <array>
#include <cstdint>

#include "platform/kernel/win_types.h"
#include "vellum/core/entry_frame.h"

namespace vellum {

// A full 256-entry palette; conversions index it with any byte value.
using Palette = std::array<RGBQUAD, 256>;

// ---- raw row conversions ----

struct RowFormat {
  int bitsPerPixel = 24;              // 1, 4, 8, 16, 24 or 32
  const Palette* palette = nullptr;   // for 1, 4 and 8 bits
  const uint32_t* masks16 = nullptr;  // red, green, blue masks for 16 bits; null for 5-5-5
  bool addFourthByte = false;         // write a fourth byte per output pixel
  uint8_t fourthByte = 0;             // its value, except for 32-bit rows (their own top byte)
};

// Expands one row of `count` pixels to RGB (or RGB plus a fourth byte).
// Returns false for an unsupported depth or a missing palette.
bool ExpandRowToRgb(const uint8_t* row, size_t count, const RowFormat& format, uint8_t* out);

// Red, green and blue of the palette entry of each of `count` 8-bit indices.
void ExpandIndicesToRgb(const uint8_t* indices, size_t count, const Palette& palette, uint8_t* out);

// One byte per pixel from a row of 1-, 4- or 8-bit indices, leftmost pixel in the
// highest bits. Returns false for another depth.
bool UnpackRowIndices(const uint8_t* row, size_t count, int bitsPerPixel, uint8_t* out);

// Exchanges bytes 0 and 2 of every 3-byte pixel.
void SwapRedBlue(uint8_t* pixels, size_t pixelCount);

// Rows from the last image row to the first in blue-green-red order, each row
// starting `stride` bytes after the previous one (a bottom-up 24-bit DIB body).
void RgbToBottomUpDib(const uint8_t* rgb, uint32_t width, uint32_t height, size_t stride,
                      uint8_t* out);

// ---- conversions that run in an operation context (code 5 for a null pointer) ----

// width x height indices of n bits (1..8) as one continuous most-significant-first
// bit stream, no row padding; one byte per pixel out.
bool UnpackBitIndices(OpContext& ctx, const uint8_t* in, uint32_t width, uint32_t height, int bits,
                      uint8_t* out);

// Packs the low n bits (1..8) of every input byte, most significant bit first.
// stride 0: all rows form one continuous bit stream, the last partial byte is
// left-aligned. stride > 0: each row is packed by itself, `stride` bytes apart.
bool PackIndices(OpContext& ctx, const uint8_t* in, uint32_t width, uint32_t height, int bits,
                 uint8_t* out, size_t stride);

// gray = 0.299 R + 0.587 G + 0.114 B, truncated.
bool RgbToGray(OpContext& ctx, const uint8_t* rgb, uint32_t width, uint32_t height, uint8_t* gray);

bool IndexedToRgb(OpContext& ctx, const uint8_t* indices, uint32_t width, uint32_t height,
                  const Palette& palette, uint8_t* rgb);

bool RgbToRgba(OpContext& ctx, const uint8_t* rgb, size_t pixelCount, uint8_t fourthByte,
               uint8_t* rgba);

// Nearest palette entry by squared distance; ties keep the lower index. At most
// 256 entries (more is code 5).
bool MapToNearestColor(OpContext& ctx, const uint8_t* rgb, uint32_t width, uint32_t height,
                       const RGBQUAD* palette, uint32_t paletteCount, uint8_t* indices);

// Replaces every pixel that matches the key colour (see ColorsMatch).
bool ReplaceColor(OpContext& ctx, uint8_t* rgb, uint32_t width, uint32_t height, COLORREF key,
                  COLORREF replacement, uint32_t tolerance);

// ---- the same three as entries (last-error code set) ----

BOOL PackIndices(const uint8_t* in, uint32_t width, uint32_t height, int bits, uint8_t* out,
                 size_t stride);
BOOL RgbToGray(const uint8_t* rgb, uint32_t width, uint32_t height, uint8_t* gray);
BOOL MapToNearestColor(const uint8_t* rgb, uint32_t width, uint32_t height, const RGBQUAD* palette,
                       uint32_t paletteCount, uint8_t* indices);

// ---- colour values ----

inline COLORREF PixelColor(const uint8_t* pixel) {
  return COLORREF{pixel[0]} | COLORREF{pixel[1]} << 8 | COLORREF{pixel[2]} << 16;
}

inline void StoreColor(uint8_t* pixel, COLORREF color) {
  pixel[0] = static_cast<uint8_t>(color);
  pixel[1] = static_cast<uint8_t>(color >> 8);
  pixel[2] = static_cast<uint8_t>(color >> 16);
}

// Equal values match; with a nonzero tolerance T so do colours whose squared
// channel differences sum to at most T.
bool ColorsMatch(COLORREF a, COLORREF b, uint32_t tolerance);

// For an opacity clamped to 0..1: over[i] = a * i and under[i] = (1 - a) * i.
struct BlendTables {
  std::array<double, 256> over;
  std::array<double, 256> under;
};
BlendTables MakeBlendTables(double opacity);

}  // namespace vellum

#include "vellum/core/conversions.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/kernel/byte_order.h"
#include "vellum/core/worker_pool.h"

namespace vellum {

namespace {

// Bit layout of one 16-bit channel mask: where its value lands in a byte and the
// fill OR-ed into the bits below it.
struct MaskChannel {
  uint32_t mask = 0;
  int top = 0;  // highest bit of the run of set bits that starts at the lowest set bit
  uint8_t fill = 0;
};

MaskChannel DescribeMask(uint32_t fullMask) {
  MaskChannel channel;
  channel.mask = fullMask & 0xFFFF;
  if (channel.mask == 0) return channel;  // an absent channel reads as 0
  int low = 0;
  while ((channel.mask & (1u << low)) == 0) ++low;
  int top = low;
  while (top < 15 && (channel.mask & (1u << (top + 1))) != 0) ++top;
  channel.top = top;
  const int width = top - low + 1;
  uint32_t fill = 1;
  for (int i = 0; i < 8 - width; ++i) fill = (fill | 1) << 1;
  channel.fill = static_cast<uint8_t>(fill);
  return channel;
}

uint8_t MaskedValue(uint32_t pixel, const MaskChannel& channel) {
  if (channel.mask == 0) return 0;
  const uint32_t value = pixel & channel.mask;
  const uint32_t aligned =
      channel.top > 7 ? value >> (channel.top - 7) : value << (7 - channel.top);
  return static_cast<uint8_t>(aligned | channel.fill);
}

void WritePixel(uint8_t*& out, uint8_t red, uint8_t green, uint8_t blue, const RowFormat& format,
                uint8_t fourth) {
  out[0] = red;
  out[1] = green;
  out[2] = blue;
  out += 3;
  if (format.addFourthByte) *out++ = fourth;
}

void ExpandIndexedRow(const uint8_t* row, size_t count, const RowFormat& format, uint8_t* out) {
  const int bits = format.bitsPerPixel;
  const int perByte = 8 / bits;
  const uint8_t valueMask = static_cast<uint8_t>((1u << bits) - 1);
  for (size_t x = 0; x < count; ++x) {
    const int shift = 8 - bits * (static_cast<int>(x % perByte) + 1);
    const uint8_t index = (row[x / perByte] >> shift) & valueMask;
    const RGBQUAD& entry = (*format.palette)[index];
    WritePixel(out, entry.rgbRed, entry.rgbGreen, entry.rgbBlue, format, format.fourthByte);
  }
}

void Expand16BitRow(const uint8_t* row, size_t count, const RowFormat& format, uint8_t* out) {
  if (format.masks16 == nullptr) {
    for (size_t x = 0; x < count; ++x) {
      const uint32_t v = row[2 * x] | uint32_t{row[2 * x + 1]} << 8;
      WritePixel(out, static_cast<uint8_t>(((v & 0x7C00) | 0x380) >> 7),
                 static_cast<uint8_t>(((v & 0x3E0) | 0x1C) >> 2),
                 static_cast<uint8_t>(((v & 0x1F) << 3) | 7), format, format.fourthByte);
    }
    return;
  }
  const MaskChannel red = DescribeMask(format.masks16[0]);
  const MaskChannel green = DescribeMask(format.masks16[1]);
  const MaskChannel blue = DescribeMask(format.masks16[2]);
  for (size_t x = 0; x < count; ++x) {
    const uint32_t v = row[2 * x] | uint32_t{row[2 * x + 1]} << 8;
    WritePixel(out, MaskedValue(v, red), MaskedValue(v, green), MaskedValue(v, blue), format,
               format.fourthByte);
  }
}

void Expand24BitRow(const uint8_t* row, size_t count, const RowFormat& format, uint8_t* out) {
  for (size_t x = 0; x < count; ++x) {
    const uint8_t* p = row + 3 * x;
    WritePixel(out, p[2], p[1], p[0], format, format.fourthByte);
  }
}

void Expand32BitRow(const uint8_t* row, size_t count, const RowFormat& format, uint8_t* out) {
  for (size_t x = 0; x < count; ++x) {
    const uint8_t* p = row + 4 * x;  // little-endian: blue, green, red, top byte
    WritePixel(out, p[2], p[1], p[0], format, p[3]);
  }
}

bool ValidBits(int bits) { return bits >= 1 && bits <= 8; }

// Squared distances for differences from -255 to 255, built once per call.
struct SquareTable {
  std::array<uint32_t, 511> values;
  SquareTable() {
    for (int d = -255; d <= 255; ++d) values[d + 255] = static_cast<uint32_t>(d * d);
  }
  uint32_t operator()(int difference) const { return values[difference + 255]; }
};

uint8_t NearestEntry(const SquareTable& square, const RGBQUAD* palette, uint32_t count,
                     const uint8_t* pixel) {
  uint32_t best = 200000;
  uint8_t bestIndex = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t distance = square(palette[i].rgbBlue - pixel[2]) +
                              square(palette[i].rgbGreen - pixel[1]) +
                              square(palette[i].rgbRed - pixel[0]);
    if (distance < best) {
      best = distance;
      bestIndex = static_cast<uint8_t>(i);
      if (distance == 0) break;
    }
  }
  return bestIndex;
}

// Remembers the answer for recently seen colours. The answer depends only on the
// colour, so the cache changes nothing but the time a photograph takes.
class NearestColorCache {
 public:
  NearestColorCache() { keys_.fill(kEmpty); }

  template <typename Compute>
  uint8_t Lookup(COLORREF color, Compute compute) {
    const size_t slot = (color * 2654435761u) >> (32 - kBits);
    if (keys_[slot] != color) {
      keys_[slot] = color;
      values_[slot] = compute();
    }
    return values_[slot];
  }

 private:
  static constexpr int kBits = 14;
  static constexpr COLORREF kEmpty = 0xFFFFFFFF;  // never a colour value
  std::array<COLORREF, size_t{1} << kBits> keys_;
  std::array<uint8_t, size_t{1} << kBits> values_;
};

}  // namespace

void ExpandIndicesToRgb(const uint8_t* indices, size_t count, const Palette& palette,
                        uint8_t* out) {
  if (count == 0) return;
  // Each pixel is stored as 4 bytes whose last one the next pixel overwrites; the
  // last pixel stores its 3.
  for (size_t i = 0; i + 1 < count; ++i) {
    const RGBQUAD& entry = palette[indices[i]];
    StoreLe32(out + 3 * i, uint32_t{entry.rgbRed} | uint32_t{entry.rgbGreen} << 8 |
                               uint32_t{entry.rgbBlue} << 16);
  }
  const RGBQUAD& last = palette[indices[count - 1]];
  uint8_t* end = out + 3 * (count - 1);
  end[0] = last.rgbRed;
  end[1] = last.rgbGreen;
  end[2] = last.rgbBlue;
}

bool ExpandRowToRgb(const uint8_t* row, size_t count, const RowFormat& format, uint8_t* out) {
  switch (format.bitsPerPixel) {
    case 1:
    case 4:
    case 8:
      if (format.palette == nullptr) return false;
      if (format.bitsPerPixel == 8 && !format.addFourthByte) {
        ExpandIndicesToRgb(row, count, *format.palette, out);
      } else {
        ExpandIndexedRow(row, count, format, out);
      }
      return true;
    case 16:
      Expand16BitRow(row, count, format, out);
      return true;
    case 24:
      Expand24BitRow(row, count, format, out);
      return true;
    case 32:
      Expand32BitRow(row, count, format, out);
      return true;
    default:
      return false;
  }
}

bool UnpackRowIndices(const uint8_t* row, size_t count, int bitsPerPixel, uint8_t* out) {
  switch (bitsPerPixel) {
    case 1:
      for (size_t x = 0; x < count; ++x) out[x] = (row[x / 8] >> (7 - x % 8)) & 1;
      return true;
    case 4:
      for (size_t x = 0; x < count; ++x) out[x] = (row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0xF;
      return true;
    case 8:
      std::memcpy(out, row, count);
      return true;
    default:
      return false;
  }
}

void SwapRedBlue(uint8_t* pixels, size_t pixelCount) {
  for (size_t i = 0; i < pixelCount; ++i) std::swap(pixels[3 * i], pixels[3 * i + 2]);
}

void RgbToBottomUpDib(const uint8_t* rgb, uint32_t width, uint32_t height, size_t stride,
                      uint8_t* out) {
  const size_t rowBytes = size_t{width} * 3;
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* source = rgb + size_t{height - 1 - y} * rowBytes;
    uint8_t* target = out + size_t{y} * stride;
    for (size_t i = 0; i < rowBytes; i += 3) {
      target[i] = source[i + 2];
      target[i + 1] = source[i + 1];
      target[i + 2] = source[i];
    }
  }
}

bool UnpackBitIndices(OpContext& ctx, const uint8_t* in, uint32_t width, uint32_t height, int bits,
                      uint8_t* out) {
  if (in == nullptr || out == nullptr || !ValidBits(bits)) return ctx.Fail(kErrInvalidArgument);
  const uint64_t count = uint64_t{width} * height;
  if (bits == 8) {
    std::memcpy(out, in, count);
    return true;
  }
  uint64_t bit = 0;
  for (uint64_t i = 0; i < count; ++i) {
    uint32_t value = 0;
    for (int k = 0; k < bits; ++k, ++bit) {
      value = (value << 1) | ((in[bit / 8] >> (7 - bit % 8)) & 1);
    }
    out[i] = static_cast<uint8_t>(value);
  }
  return true;
}

bool PackIndices(OpContext& ctx, const uint8_t* in, uint32_t width, uint32_t height, int bits,
                 uint8_t* out, size_t stride) {
  if (in == nullptr || out == nullptr || !ValidBits(bits)) return ctx.Fail(kErrInvalidArgument);
  const uint32_t valueMask = (1u << bits) - 1;
  uint8_t* target = out;
  uint32_t accumulator = 0;  // pending bits, right-aligned
  int pending = 0;
  auto flush = [&] {
    if (pending > 0) *target++ = static_cast<uint8_t>(accumulator << (8 - pending));
    accumulator = 0;
    pending = 0;
  };
  for (uint32_t y = 0; y < height; ++y) {
    if (stride != 0) target = out + size_t{y} * stride;
    const uint8_t* row = in + size_t{y} * width;
    for (uint32_t x = 0; x < width; ++x) {
      accumulator = (accumulator << bits) | (row[x] & valueMask);
      pending += bits;
      if (pending >= 8) {
        pending -= 8;
        *target++ = static_cast<uint8_t>(accumulator >> pending);
        accumulator &= (1u << pending) - 1;
      }
    }
    if (stride != 0) flush();
  }
  flush();
  return true;
}

bool RgbToGray(OpContext& ctx, const uint8_t* rgb, uint32_t width, uint32_t height, uint8_t* gray) {
  if (rgb == nullptr || gray == nullptr) return ctx.Fail(kErrInvalidArgument);
  // The products are tabulated; the sum is formed in the same order as written.
  std::array<double, 256> red, green, blue;
  for (int i = 0; i < 256; ++i) {
    red[i] = 0.299 * i;
    green[i] = 0.587 * i;
    blue[i] = 0.114 * i;
  }
  ParallelFor(size_t{width} * height, GrainFor(3), [&](size_t first, size_t end) {
    for (size_t i = first; i < end; ++i) {
      const uint8_t* p = rgb + 3 * i;
      gray[i] = static_cast<uint8_t>(red[p[0]] + green[p[1]] + blue[p[2]]);
    }
  });
  return true;
}

bool IndexedToRgb(OpContext& ctx, const uint8_t* indices, uint32_t width, uint32_t height,
                  const Palette& palette, uint8_t* rgb) {
  if (indices == nullptr || rgb == nullptr) return ctx.Fail(kErrInvalidArgument);
  ParallelFor(size_t{width} * height, GrainFor(3), [&](size_t first, size_t end) {
    ExpandIndicesToRgb(indices + first, end - first, palette, rgb + 3 * first);
  });
  return true;
}

bool RgbToRgba(OpContext& ctx, const uint8_t* rgb, size_t pixelCount, uint8_t fourthByte,
               uint8_t* rgba) {
  if (rgb == nullptr || rgba == nullptr) return ctx.Fail(kErrInvalidArgument);
  for (size_t i = 0; i < pixelCount; ++i) {
    std::memcpy(rgba + 4 * i, rgb + 3 * i, 3);
    rgba[4 * i + 3] = fourthByte;
  }
  return true;
}

bool MapToNearestColor(OpContext& ctx, const uint8_t* rgb, uint32_t width, uint32_t height,
                       const RGBQUAD* palette, uint32_t paletteCount, uint8_t* indices) {
  if (rgb == nullptr || palette == nullptr || indices == nullptr || paletteCount > 256) {
    return ctx.Fail(kErrInvalidArgument);
  }
  const SquareTable square;
  // Each range keeps its own cache; an answer is the same from any cache.
  ParallelFor(size_t{width} * height, GrainFor(3 * 8), [&](size_t first, size_t end) {
    auto cache = std::make_unique<NearestColorCache>();
    for (size_t i = first; i < end; ++i) {
      const uint8_t* pixel = rgb + 3 * i;
      indices[i] = cache->Lookup(
          PixelColor(pixel), [&] { return NearestEntry(square, palette, paletteCount, pixel); });
    }
  });
  return true;
}

bool ReplaceColor(OpContext& ctx, uint8_t* rgb, uint32_t width, uint32_t height, COLORREF key,
                  COLORREF replacement, uint32_t tolerance) {
  if (rgb == nullptr) return ctx.Fail(kErrInvalidArgument);
  ParallelFor(size_t{width} * height, GrainFor(3), [&](size_t first, size_t end) {
    for (size_t i = first; i < end; ++i) {
      uint8_t* pixel = rgb + 3 * i;
      if (ColorsMatch(PixelColor(pixel), key, tolerance)) StoreColor(pixel, replacement);
    }
  });
  return true;
}

BOOL PackIndices(const uint8_t* in, uint32_t width, uint32_t height, int bits, uint8_t* out,
                 size_t stride) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    return PackIndices(ctx, in, width, height, bits, out, stride);
  });
}

BOOL RgbToGray(const uint8_t* rgb, uint32_t width, uint32_t height, uint8_t* gray) {
  return RunEntry([&](OpContext& ctx) -> BOOL { return RgbToGray(ctx, rgb, width, height, gray); });
}

BOOL MapToNearestColor(const uint8_t* rgb, uint32_t width, uint32_t height, const RGBQUAD* palette,
                       uint32_t paletteCount, uint8_t* indices) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    return MapToNearestColor(ctx, rgb, width, height, palette, paletteCount, indices);
  });
}

bool ColorsMatch(COLORREF a, COLORREF b, uint32_t tolerance) {
  if (a == b) return true;
  if (tolerance == 0) return false;
  const int dr = static_cast<int>(a & 0xFF) - static_cast<int>(b & 0xFF);
  const int dg = static_cast<int>((a >> 8) & 0xFF) - static_cast<int>((b >> 8) & 0xFF);
  const int db = static_cast<int>((a >> 16) & 0xFF) - static_cast<int>((b >> 16) & 0xFF);
  return static_cast<uint32_t>(dr * dr + dg * dg + db * db) <= tolerance;
}

BlendTables MakeBlendTables(double opacity) {
  const double a = opacity > 1 ? 1.0 : (opacity > 0 ? opacity : 0.0);  // NaN counts as 0
  BlendTables tables;
  for (int i = 0; i < 256; ++i) {
    tables.over[i] = a * i;
    tables.under[i] = (1 - a) * i;
  }
  return tables;
}

}  // namespace vellum

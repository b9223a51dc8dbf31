#include "vellum/codecs/gif.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "platform/kernel/byte_order.h"
#include "vellum/codecs/codec_entry.h"
#include "vellum/codecs/gif_lzw_decoder.h"
#include "vellum/codecs/gif_run_encoder.h"
#include "vellum/codecs/palette_bytes.h"
#include "vellum/core/conversions.h"
#include "vellum/core/image_buffer.h"

namespace vellum {

namespace {

constexpr uint8_t kExtensionIntroducer = 0x21;
constexpr uint8_t kImageSeparator = 0x2C;
constexpr uint8_t kTrailer = 0x3B;
constexpr uint8_t kGraphicControlLabel = 0xF9;
constexpr uint8_t kTablePresent = 0x80;
constexpr uint8_t kInterlaced = 0x40;
constexpr int kNoTransparentIndex = -1;

// A code never spells more pixels than the decoder's table has entries.
constexpr uint64_t kMaxPixelsPerCode = 4096;

// ---- reading ----

struct DecodedGif {
  GlobalBlock rgb;
  uint32_t width = 0;
  uint32_t height = 0;
  int32_t transparentColor = -1;
};

bool ReadByte(DataHandle* source, uint8_t& byte) { return ReadBytes(source, &byte, 1) == 1; }

// A palette entry as a 0x00BBGGRR colour value.
COLORREF EntryColor(const RGBQUAD& entry) {
  return COLORREF{entry.rgbRed} | COLORREF{entry.rgbGreen} << 8 | COLORREF{entry.rgbBlue} << 16;
}

// A table of 2 << (flags & 7) red, green, blue triples; the entries it does not
// reach are left as they are.
bool ReadColorTable(DataHandle* source, uint8_t flags, Palette& palette) {
  const size_t count = size_t{2} << (flags & 7);
  std::array<uint8_t, 256 * 3> bytes;
  if (!ReadExactly(source, bytes.data(), count * 3)) return false;
  TriplesToPalette(bytes.data(), count, palette.data());
  return true;
}

// Header, logical screen descriptor and global colour table.
bool ReadScreen(OpContext& ctx, DataHandle* source, Palette& global) {
  uint8_t header[6];
  if (!ReadExactly(source, header, sizeof header) ||
      (std::memcmp(header, "GIF87a", 6) != 0 && std::memcmp(header, "GIF89a", 6) != 0)) {
    return ctx.Fail(kErrBadGif);
  }
  uint8_t screen[7];
  if (!ReadExactly(source, screen, sizeof screen)) return ctx.Fail(kErrBadGif);
  if ((screen[4] & kTablePresent) && !ReadColorTable(source, screen[4], global)) {
    return ctx.Fail(kErrBadGif);
  }
  return true;
}

// One extension after its introducer; false at the end of the data. Only a
// graphic control block matters: it sets or clears the transparent index.
bool ReadExtension(DataHandle* source, int& transparentIndex) {
  uint8_t label = 0;
  if (!ReadByte(source, label)) return false;
  GifSubBlock block;
  size_t length = ReadGifSubBlock(source, block.data());
  // A graphic control block too short to hold the index says nothing.
  if (label == kGraphicControlLabel && length >= 4) {
    transparentIndex = (block[0] & 1) ? block[3] : kNoTransparentIndex;
  }
  while (length != 0) length = ReadGifSubBlock(source, block.data());
  return true;
}

// A code takes at least codeSize + 1 bits, so the rest of the source bounds the
// pixels its data can spell; larger images are refused before any allocation.
bool DataCanHold(DataHandle* source, int codeSize, uint32_t width, uint32_t height) {
  const uint64_t size = DataSize(source);
  const uint64_t position = Tell(source);
  const uint64_t codes = (size > position ? size - position : 0) * 8 / (codeSize + 1);
  return uint64_t{width} * height <= codes * kMaxPixelsPerCode;
}

// The image descriptor after its separator, the local table and the image data.
bool ReadImage(OpContext& ctx, DataHandle* source, const Palette& global, int transparentIndex,
               DecodedGif& image) {
  uint8_t descriptor[9];
  if (!ReadExactly(source, descriptor, sizeof descriptor)) return ctx.Fail(kErrReadFile);
  const uint32_t width = LoadLe16(descriptor + 4);
  const uint32_t height = LoadLe16(descriptor + 6);
  const uint8_t flags = descriptor[8];
  Palette table{};
  if (!(flags & kTablePresent)) {
    table = global;
  } else if (!ReadColorTable(source, flags, table)) {
    return ctx.Fail(kErrBadGif);
  }
  uint8_t codeSize = 0;
  if (!ReadByte(source, codeSize)) return ctx.Fail(kErrReadFile);
  if (width == 0 || height == 0 || codeSize < kMinGifCodeSize || codeSize > kMaxGifCodeSize ||
      !DataCanHold(source, codeSize, width, height)) {
    return ctx.Fail(kErrBadGif);
  }
  if (!CheckPixelLimit(ctx, width, height)) return false;
  GlobalBlock rgb = AllocateImageBuffer(ctx, ImageBytes(width, height, 3), false);
  if (!rgb) return false;
  uint8_t* const out = rgb.Data();
  const GifRowSink expand = [&](uint32_t y, const uint8_t* indices) {
    ExpandIndicesToRgb(indices, width, table, out + size_t{y} * width * 3);
  };
  // Data that ends before a whole row is decoded holds no picture.
  if (DecodeGifImageData(source, codeSize, {width, height, (flags & kInterlaced) != 0}, expand) ==
      0) {
    return ctx.Fail(kErrReadFile);
  }

  image.rgb = std::move(rgb);
  image.width = width;
  image.height = height;
  image.transparentColor = transparentIndex == kNoTransparentIndex
                               ? -1
                               : static_cast<int32_t>(EntryColor(table[transparentIndex]));
  return true;
}

bool ReadFirstImage(OpContext& ctx, DataHandle* source, DecodedGif& image) {
  Palette global{};
  if (!ReadScreen(ctx, source, global)) return false;
  int transparentIndex = kNoTransparentIndex;
  uint8_t byte = 0;
  while (ReadByte(source, byte)) {
    if (byte == kImageSeparator) return ReadImage(ctx, source, global, transparentIndex, image);
    if (byte == kExtensionIntroducer && !ReadExtension(source, transparentIndex)) break;
    // Any other byte, the trailer included, is passed over.
  }
  return ctx.Fail(kErrReadFile);
}

// ---- writing ----

struct GifWriteRequest {
  const uint8_t* pixels;
  int32_t width;
  int32_t height;
  bool interlaced;
  int background;
  int transparent;  // negative: none
  int tableBits;
  const RGBQUAD* palette;
};

bool ValidRequest(const GifWriteRequest& request) {
  if (request.pixels == nullptr || request.palette == nullptr) return false;
  if (request.width < 1 || request.width > 0xFFFF || request.height < 1 ||
      request.height > 0xFFFF) {
    return false;
  }
  if (request.tableBits < 1 || request.tableBits > 8) return false;
  if (request.background < 0 || request.background > 255 || request.transparent > 255) return false;
  // An index beyond the table would spell a control code in the code stream.
  const unsigned limit = 1u << request.tableBits;
  const uint8_t* end = request.pixels + size_t(request.width) * size_t(request.height);
  return limit == 256 || std::all_of(request.pixels, end, [limit](uint8_t v) { return v < limit; });
}

// Everything before the image data: header, screen descriptor, global table,
// graphic control extension, image descriptor and minimum code size.
std::vector<uint8_t> FileStart(const GifWriteRequest& request, int minCodeSize) {
  const bool transparent = request.transparent >= 0;
  const int n = request.tableBits;
  std::vector<uint8_t> bytes;
  auto put16 = [&bytes](uint32_t value) {
    bytes.push_back(static_cast<uint8_t>(value));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
  };
  const char* version = transparent ? "GIF89a" : "GIF87a";
  bytes.insert(bytes.end(), version, version + 6);
  put16(static_cast<uint32_t>(request.width));
  put16(static_cast<uint32_t>(request.height));
  bytes.push_back(static_cast<uint8_t>(kTablePresent | (n - 1) << 4 | (n - 1)));
  bytes.push_back(static_cast<uint8_t>(request.background));
  bytes.push_back(0);  // aspect ratio
  const size_t tableStart = bytes.size();
  bytes.resize(tableStart + 3 * (size_t{1} << n));
  PaletteToTriples(request.palette, size_t{1} << n, bytes.data() + tableStart);
  if (transparent) {
    bytes.insert(bytes.end(), {kExtensionIntroducer, kGraphicControlLabel, 4, 1, 0, 0,
                               static_cast<uint8_t>(request.transparent), 0});
  }
  bytes.push_back(kImageSeparator);
  put16(0);
  put16(0);
  put16(static_cast<uint32_t>(request.width));
  put16(static_cast<uint32_t>(request.height));
  bytes.push_back(request.interlaced ? kInterlaced : 0);
  bytes.push_back(static_cast<uint8_t>(minCodeSize));
  return bytes;
}

bool WriteGifFile(DataHandle* destination, const GifWriteRequest& request) {
  const int minCodeSize = std::max(request.tableBits, 2);
  const std::vector<uint8_t> start = FileStart(request, minCodeSize);
  static constexpr uint8_t kEnd[2] = {0, kTrailer};
  return WriteBytes(destination, start.data(), start.size()) &&
         EncodeGifImageData(destination, minCodeSize, request.pixels,
                            static_cast<uint32_t>(request.width),
                            static_cast<uint32_t>(request.height), request.interlaced) &&
         WriteBytes(destination, kEnd, sizeof kEnd);
}

}  // namespace

HGLOBAL ReadGIF(HISSRC source, int32_t* width, int32_t* height, int32_t* transparentColor) {
  return RunReadEntry(source, width, height, transparentColor != nullptr,
                      [&](OpContext& ctx, ImageSize& size) -> GlobalBlock {
                        DecodedGif image;
                        if (!ReadFirstImage(ctx, source, image)) return {};
                        size = {image.width, image.height};
                        *transparentColor = image.transparentColor;
                        return std::move(image.rgb);
                      });
}

uint32_t WriteGIF(HISDEST destination, const uint8_t* pixels, int32_t width, int32_t height,
                  int32_t interlace, int32_t backgroundIndex, int32_t transparentIndex,
                  int32_t tableBits, const RGBQUAD* palette) {
  const GifWriteRequest request{
      pixels, width, height, interlace != 0, backgroundIndex, transparentIndex, tableBits, palette};
  return RunWriteEntry(
      destination, [&] { return ValidRequest(request); },
      [&] { return WriteGifFile(destination, request); });
}

}  // namespace vellum

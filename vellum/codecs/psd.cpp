#include "vellum/codecs/psd.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/kernel/byte_order.h"
#include "vellum/codecs/codec_entry.h"
#include "vellum/codecs/palette_bytes.h"
#include "vellum/core/conversions.h"
#include "vellum/core/image_buffer.h"

namespace vellum {

namespace {

enum PsdMode : uint32_t {
  kBitmapMode = 0,
  kGrayscaleMode = 1,
  kIndexedMode = 2,
  kRgbMode = 3,
  kCmykMode = 4,
  kDuotoneMode = 8,
};

enum PsdCompression : uint16_t { kRaw = 0, kPackBits = 1 };

constexpr uint8_t kSignature[4] = {'8', 'B', 'P', 'S'};
constexpr size_t kColorTableBytes = 768;
// A PackBits byte pair repeats one byte at most 128 times.
constexpr uint64_t kMaxPackBitsExpansion = 64;

// ---- reading ----

struct PsdImage {
  uint32_t mode = 0;
  uint32_t channels = 0;        // stored in the file
  uint32_t neededChannels = 0;  // decoded for the mode
  uint32_t width = 0;
  uint32_t height = 0;
  size_t rowBytes = 0;  // of one channel row
  uint16_t compression = kRaw;
};

uint32_t ChannelsForMode(uint32_t mode) { return mode == kRgbMode ? 3 : mode == kCmykMode ? 4 : 1; }

bool SupportedMode(uint32_t mode, uint32_t depth) {
  switch (mode) {
    case kBitmapMode:
      return depth == 1;
    case kGrayscaleMode:
    case kIndexedMode:
    case kRgbMode:
    case kCmykMode:
    case kDuotoneMode:
      return depth == 8;
    default:
      return false;
  }
}

bool ReadHeader(OpContext& ctx, DataHandle* source, PsdImage& image) {
  uint8_t start[6];
  if (!ReadExactly(source, start, sizeof start) || std::memcmp(start, kSignature, 4) != 0 ||
      LoadBe16(start + 4) != 1) {
    return ctx.Fail(kErrBadPsd);
  }
  uint8_t fields[20];  // reserved (6), channels, height, width, depth, mode
  if (!ReadExactly(source, fields, sizeof fields)) return ctx.Fail(kErrReadFile);
  image.channels = LoadBe16(fields + 6);
  image.height = LoadBe32(fields + 8);
  image.width = LoadBe32(fields + 12);
  const uint32_t depth = LoadBe16(fields + 16);
  image.mode = LoadBe16(fields + 18);
  if (!SupportedMode(image.mode, depth)) return ctx.Fail(kErrUnsupportedPsd);
  image.neededChannels = ChannelsForMode(image.mode);
  if (image.width == 0 || image.width > INT32_MAX || image.height == 0 ||
      image.height > INT32_MAX || image.channels < image.neededChannels) {
    return ctx.Fail(kErrBadPsd);
  }
  image.rowBytes = image.mode == kBitmapMode ? (size_t{image.width} + 7) / 8 : image.width;
  return CheckPixelLimit(ctx, image.width, image.height);
}

bool ReadLength(DataHandle* source, uint32_t& length) {
  uint8_t bytes[4];
  if (!ReadExactly(source, bytes, sizeof bytes)) return false;
  length = LoadBe32(bytes);
  return true;
}

bool SkipBytes(DataHandle* source, uint32_t count) {
  return count == 0 ||
         (count <= INT32_MAX && Seek(source, static_cast<int32_t>(count), kSeekCurrent));
}

// The colour mode data: an indexed file's table (256 reds, 256 greens, 256
// blues) at its start; the rest of the section, and any other mode's, skipped.
bool ReadColorModeData(OpContext& ctx, DataHandle* source, uint32_t mode, Palette& palette) {
  uint32_t length = 0;
  if (!ReadLength(source, length)) return ctx.Fail(kErrReadFile);
  palette = GrayRampPalette();
  if (mode == kIndexedMode && length > 0) {
    if (length < kColorTableBytes) return ctx.Fail(kErrBadPsd);
    uint8_t table[kColorTableBytes];
    if (!ReadExactly(source, table, sizeof table)) return ctx.Fail(kErrReadFile);
    for (int i = 0; i < 256; ++i) palette[i] = RGBQUAD{table[512 + i], table[256 + i], table[i], 0};
    length -= kColorTableBytes;
  }
  if (!SkipBytes(source, length)) return ctx.Fail(kErrReadFile);
  return true;
}

// Everything between the colour mode data and the image data, and the compression.
bool ReadToImageData(OpContext& ctx, DataHandle* source, PsdImage& image) {
  for (int section = 0; section < 2; ++section) {  // image resources, layers and masks
    uint32_t length = 0;
    if (!ReadLength(source, length) || !SkipBytes(source, length)) return ctx.Fail(kErrReadFile);
  }
  uint8_t compression[2];
  if (!ReadExactly(source, compression, sizeof compression)) return ctx.Fail(kErrReadFile);
  image.compression = LoadBe16(compression);
  if (image.compression != kRaw && image.compression != kPackBits) return ctx.Fail(kErrReadFile);
  if (image.mode == kBitmapMode && image.compression == kRaw) {
    return ctx.Fail(kErrUnsupportedPsd);
  }
  return true;
}

uint64_t BytesLeft(DataHandle* source) {
  const uint64_t size = DataSize(source);
  const uint64_t position = Tell(source);
  return size > position ? size - position : 0;
}

// The PackBits byte counts of the rows of the needed channels (they come first).
// The table and the rows it announces must fit in the source, and every row
// must be able to fill a channel row, before any pixel buffer is allocated.
bool ReadRowCounts(OpContext& ctx, DataHandle* source, const PsdImage& image,
                   std::vector<uint16_t>& counts) {
  const uint64_t tableBytes = uint64_t{2} * image.height * image.channels;
  if (tableBytes > BytesLeft(source)) return ctx.Fail(kErrReadFile);
  std::vector<uint8_t> table(tableBytes);
  if (!ReadExactly(source, table.data(), table.size())) return ctx.Fail(kErrReadFile);
  counts.resize(size_t{image.height} * image.neededChannels);
  uint64_t total = 0;
  for (size_t i = 0; i < counts.size(); ++i) {
    counts[i] = LoadBe16(&table[2 * i]);
    if (counts[i] * kMaxPackBitsExpansion < image.rowBytes) return ctx.Fail(kErrReadFile);
    total += counts[i];
  }
  if (total > BytesLeft(source)) return ctx.Fail(kErrReadFile);
  return true;
}

// Expands one PackBits row: n in 0..127 copies n + 1 bytes, n in -127..-1
// repeats the next byte 1 - n times, -128 does nothing. False when a run needs
// more bytes than the row's data holds or the row does not come out exactly full.
bool UnpackBitsRow(const uint8_t* data, size_t count, uint8_t* row, size_t rowBytes) {
  size_t in = 0;
  size_t filled = 0;
  while (in < count) {
    // The run header is a signed byte by the format's definition.
    const int n = static_cast<int8_t>(data[in++]);  // NOLINT(bugprone-signed-char-misuse)
    if (n == -128) continue;
    const size_t length = n >= 0 ? size_t(n) + 1 : size_t(1 - n);
    const size_t consumed = n >= 0 ? length : 1;
    if (count - in < consumed || rowBytes - filled < length) return false;
    if (n >= 0) {
      std::memcpy(row + filled, data + in, length);
    } else {
      std::memset(row + filled, data[in], length);
    }
    in += consumed;
    filled += length;
  }
  return filled == rowBytes;
}

// Reads the rows of the needed channels in file order and hands each to
// `store(channel, y, row)`.
template <typename StoreRow>
bool DecodeChannels(OpContext& ctx, DataHandle* source, const PsdImage& image,
                    const std::vector<uint16_t>& counts, StoreRow store) {
  std::vector<uint8_t> row(image.rowBytes);
  std::vector<uint8_t> packed(counts.empty() ? 0 : *std::max_element(counts.begin(), counts.end()));
  size_t index = 0;
  for (uint32_t channel = 0; channel < image.neededChannels; ++channel) {
    for (uint32_t y = 0; y < image.height; ++y, ++index) {
      const bool ok = image.compression == kRaw
                          ? ReadExactly(source, row.data(), row.size())
                          : ReadExactly(source, packed.data(), counts[index]) &&
                                UnpackBitsRow(packed.data(), counts[index], row.data(), row.size());
      if (!ok) return ctx.Fail(kErrReadFile);
      store(channel, y, row.data());
    }
  }
  return true;
}

GlobalBlock DecodeComposite(OpContext& ctx, DataHandle* source, const PsdImage& image,
                            const Palette& palette) {
  std::vector<uint16_t> counts;
  if (image.compression == kPackBits) {
    if (!ReadRowCounts(ctx, source, image, counts)) return {};
  } else if (uint64_t{image.neededChannels} * image.height * image.rowBytes > BytesLeft(source)) {
    ctx.Fail(kErrReadFile);
    return {};
  }
  GlobalBlock rgb = AllocateImageBuffer(ctx, ImageBytes(image.width, image.height, 3), false);
  if (!rgb) return {};
  uint8_t* const out = rgb.Data();
  const size_t width = image.width;
  Palette bitmap{};  // 0 white, 1 black
  bitmap[0] = RGBQUAD{255, 255, 255, 0};

  auto storeRow = [&](uint32_t channel, uint32_t y, const uint8_t* row) {
    uint8_t* target = out + size_t{y} * width * 3;
    switch (image.mode) {
      case kRgbMode:
      case kCmykMode:
        if (channel < 3) {
          for (size_t x = 0; x < width; ++x) target[3 * x + channel] = row[x];
        } else {  // black, stored inverted like the inks: 255 means none
          for (size_t x = 0; x < 3 * width; ++x) target[x] = target[x] * row[x / 3] / 255;
        }
        break;
      case kBitmapMode:
        ExpandRowToRgb(row, width, RowFormat{1, &bitmap}, target);
        break;
      default:  // grayscale, indexed, duotone
        ExpandRowToRgb(row, width, RowFormat{8, &palette}, target);
        break;
    }
  };
  if (!DecodeChannels(ctx, source, image, counts, storeRow)) return {};
  return rgb;
}

// ---- writing ----

std::vector<uint8_t> FileStart(uint32_t width, uint32_t height, const RGBQUAD* palette) {
  const bool indexed = palette != nullptr;
  std::vector<uint8_t> bytes(26 + 4 + (indexed ? kColorTableBytes : 0) + 4 + 4 + 2);
  uint8_t* p = bytes.data();
  std::memcpy(p, kSignature, 4);
  StoreBe16(p + 4, 1);
  StoreBe16(p + 12, indexed ? 1 : 3);
  StoreBe32(p + 14, height);
  StoreBe32(p + 18, width);
  StoreBe16(p + 22, 8);
  StoreBe16(p + 24, indexed ? kIndexedMode : kRgbMode);
  p += 26;
  if (indexed) {
    StoreBe32(p, kColorTableBytes);
    for (int i = 0; i < 256; ++i) {
      p[4 + i] = palette[i].rgbRed;
      p[4 + 256 + i] = palette[i].rgbGreen;
      p[4 + 512 + i] = palette[i].rgbBlue;
    }
  }
  // The resources and layers sections stay empty and the compression raw: zeros.
  return bytes;
}

bool WriteRgbChannels(DataHandle* destination, const uint8_t* rgb, uint32_t width,
                      uint32_t height) {
  std::vector<uint8_t> row(width);
  for (int channel = 0; channel < 3; ++channel) {
    for (uint32_t y = 0; y < height; ++y) {
      const uint8_t* source = rgb + size_t{y} * width * 3 + channel;
      for (uint32_t x = 0; x < width; ++x) row[x] = source[3 * size_t{x}];
      if (!WriteBytes(destination, row.data(), row.size())) return false;
    }
  }
  return true;
}

}  // namespace

HGLOBAL ReadPSD(HISSRC source, int32_t* width, int32_t* height, int32_t requestedBits) {
  return RunReadEntry(source, width, height, requestedBits == 24,
                      [&](OpContext& ctx, ImageSize& size) -> GlobalBlock {
                        PsdImage image;
                        Palette palette{};
                        if (!ReadHeader(ctx, source, image) ||
                            !ReadColorModeData(ctx, source, image.mode, palette) ||
                            !ReadToImageData(ctx, source, image)) {
                          return {};
                        }
                        size = {image.width, image.height};
                        return DecodeComposite(ctx, source, image, palette);
                      });
}

uint32_t WritePSD(HISDEST destination, const uint8_t* pixels, int32_t width, int32_t height,
                  int32_t bits, const RGBQUAD* palette) {
  auto valid = [&] {
    return pixels != nullptr && width >= 1 && height >= 1 &&
           (bits == 24 || (bits == 8 && palette != nullptr));
  };
  return RunWriteEntry(destination, valid, [&] {
    const uint32_t w = static_cast<uint32_t>(width);
    const uint32_t h = static_cast<uint32_t>(height);
    const std::vector<uint8_t> start = FileStart(w, h, bits == 8 ? palette : nullptr);
    return WriteBytes(destination, start.data(), start.size()) &&
           (bits == 8 ? WriteBytes(destination, pixels, size_t{w} * h)
                      : WriteRgbChannels(destination, pixels, w, h));
  });
}

}  // namespace vellum

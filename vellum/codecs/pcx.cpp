#include "vellum/codecs/pcx.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "platform/kernel/byte_order.h"
#include "vellum/codecs/codec_entry.h"
#include "vellum/codecs/palette_bytes.h"
#include "vellum/core/conversions.h"
#include "vellum/core/image_buffer.h"

namespace vellum {

namespace {

constexpr size_t kHeaderSize = 128;
constexpr uint8_t kManufacturer = 10;
constexpr uint8_t kWrittenVersion = 5;
constexpr uint8_t kPaletteMark = 12;
constexpr size_t kPaletteBytes = 1 + 256 * 3;  // the mark and 256 triples
constexpr uint8_t kRunFlag = 0xC0;
constexpr size_t kMaxRun = 63;

// ---- reading ----

// How the planes of a line make up its pixels.
enum class PcxLayout {
  kPacked,     // one plane of 1, 2, 4 or 8 bits per pixel
  kBitPlanes,  // 2 to 8 planes of 1 bit, plane i giving bit i of the pixel
  kRgbPlanes,  // red, green and blue planes of 8 bits (a fourth plane is ignored)
};

struct PcxHeader {
  uint8_t version = 0;
  PcxLayout layout = PcxLayout::kPacked;
  int bitsPerPixel = 0;  // planes x bits per plane
  uint32_t planes = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bytesPerLine = 0;  // per plane
  std::array<uint8_t, 48> palette16{};
};

bool ChooseLayout(uint32_t planes, uint32_t bitsPerPlane, PcxLayout& layout) {
  if (planes == 1 &&
      (bitsPerPlane == 1 || bitsPerPlane == 2 || bitsPerPlane == 4 || bitsPerPlane == 8)) {
    layout = PcxLayout::kPacked;
  } else if (planes >= 2 && planes <= 8 && bitsPerPlane == 1) {
    layout = PcxLayout::kBitPlanes;
  } else if ((planes == 3 || planes == 4) && bitsPerPlane == 8) {
    layout = PcxLayout::kRgbPlanes;
  } else {
    return false;
  }
  return true;
}

// Bytes one plane of a line needs for `width` pixels.
uint64_t PlaneBytesNeeded(const PcxHeader& header) {
  const uint64_t bitsPerPlane = header.layout == PcxLayout::kPacked      ? header.bitsPerPixel
                                : header.layout == PcxLayout::kBitPlanes ? 1
                                                                         : 8;
  return (uint64_t{header.width} * bitsPerPlane + 7) / 8;
}

bool ReadHeader(OpContext& ctx, DataHandle* source, PcxHeader& header) {
  uint8_t bytes[kHeaderSize];
  if (!Rewind(source) || !ReadExactly(source, bytes, sizeof bytes)) return ctx.Fail(kErrBadPcx);
  header.version = bytes[1];
  if (bytes[0] != kManufacturer ||
      (header.version != 0 && header.version != 2 && header.version != 3 && header.version != 5)) {
    return ctx.Fail(kErrBadPcx);
  }
  const uint32_t bitsPerPlane = bytes[3];
  header.planes = bytes[65];
  header.bitsPerPixel = static_cast<int>(header.planes * bitsPerPlane);
  const int64_t width = int64_t{LoadLe16(bytes + 8)} - LoadLe16(bytes + 4) + 1;
  const int64_t height = int64_t{LoadLe16(bytes + 10)} - LoadLe16(bytes + 6) + 1;
  header.bytesPerLine = LoadLe16(bytes + 66);
  std::memcpy(header.palette16.data(), bytes + 16, header.palette16.size());
  if (width < 1 || height < 1 || !ChooseLayout(header.planes, bitsPerPlane, header.layout)) {
    return ctx.Fail(kErrBadPcx);
  }
  header.width = static_cast<uint32_t>(width);
  header.height = static_cast<uint32_t>(height);
  if (header.bytesPerLine < PlaneBytesNeeded(header)) return ctx.Fail(kErrBadPcx);
  return true;
}

// The 256 colours after the mark 12 that ends a version-5 file, if present.
bool ReadExtendedPalette(DataHandle* source, Palette& palette) {
  uint8_t bytes[kPaletteBytes];
  if (!Seek(source, -static_cast<int32_t>(kPaletteBytes), kSeekEnd) ||
      !ReadExactly(source, bytes, sizeof bytes) || bytes[0] != kPaletteMark) {
    return false;
  }
  TriplesToPalette(bytes + 1, 256, palette.data());
  return true;
}

Palette ChoosePalette(DataHandle* source, const PcxHeader& header) {
  Palette palette = GrayRampPalette();
  const int bits = header.bitsPerPixel;
  if (bits == 1) {
    palette[0] = RGBQUAD{0, 0, 0, 0};
    palette[1] = RGBQUAD{255, 255, 255, 0};
  } else if (bits < 8) {
    // The header's 16 colours; entries it cannot supply repeat entry 0.
    const size_t count = std::min<size_t>(size_t{1} << bits, 16);
    TriplesToPalette(header.palette16.data(), count, palette.data());
    std::fill(palette.begin() + count, palette.end(), palette[0]);
  } else if (bits == 8 && header.version == 5 && !ReadExtendedPalette(source, palette)) {
    palette = GrayRampPalette();
  }
  return palette;
}

// The run-length data of the scan lines, read through a buffer.
class RunLengthLines {
 public:
  explicit RunLengthLines(DataHandle* source) : source_(source), buffer_(64 * 1024) {}

  // Fills a line of `count` bytes. A run longer than the space left is cut and
  // its surplus dropped; once the data ends, the rest of the line is zeros. False
  // when the data ended before the line was full.
  bool Decode(uint8_t* line, size_t count) {
    size_t filled = 0;
    uint8_t byte = 0;
    while (filled < count && Next(byte)) {
      if ((byte & kRunFlag) != kRunFlag) {
        line[filled++] = byte;
        continue;
      }
      const size_t run = std::min<size_t>(byte & kMaxRun, count - filled);
      if (!Next(byte)) break;
      std::memset(line + filled, byte, run);
      filled += run;
    }
    std::memset(line + filled, 0, count - filled);
    return filled == count;
  }

 private:
  bool Next(uint8_t& byte) {
    if (position_ == length_) {
      length_ = ReadBytes(source_, buffer_.data(), buffer_.size());
      position_ = 0;
      if (length_ == 0) return false;
    }
    byte = buffer_[position_++];
    return true;
  }

  DataHandle* source_;
  std::vector<uint8_t> buffer_;
  size_t length_ = 0;
  size_t position_ = 0;
};

// One decoded line (all planes) as RGB pixels; `indices` is scratch for a line.
void ConvertLine(OpContext& ctx, const PcxHeader& header, const Palette& palette,
                 const uint8_t* line, uint8_t* indices, uint8_t* out) {
  const uint32_t width = header.width;
  const size_t stride = header.bytesPerLine;
  const uint8_t* values = indices;
  switch (header.layout) {
    case PcxLayout::kRgbPlanes:
      for (uint32_t x = 0; x < width; ++x) {
        out[3 * x] = line[x];
        out[3 * x + 1] = line[stride + x];
        out[3 * x + 2] = line[2 * stride + x];
      }
      return;
    case PcxLayout::kPacked:
      if (header.bitsPerPixel == 8) {
        values = line;
      } else {
        UnpackBitIndices(ctx, line, width, 1, header.bitsPerPixel, indices);
      }
      break;
    case PcxLayout::kBitPlanes:
      for (uint32_t x = 0; x < width; ++x) {
        const int shift = 7 - static_cast<int>(x % 8);
        uint8_t value = 0;
        for (uint32_t plane = 0; plane < header.planes; ++plane) {
          value |= ((line[plane * stride + x / 8] >> shift) & 1) << plane;
        }
        indices[x] = value;
      }
      break;
  }
  ExpandRowToRgb(values, width, RowFormat{8, &palette}, out);
}

// A data byte never decodes to more than a run of 63 bytes: an image whose
// lines the rest of the source could not fill is refused before allocation.
bool DataCanHold(DataHandle* source, const PcxHeader& header) {
  const uint64_t size = DataSize(source);
  const uint64_t dataBytes = size > kHeaderSize ? size - kHeaderSize : 0;
  const uint64_t lineBytes = uint64_t{header.planes} * header.bytesPerLine;
  return lineBytes * header.height <= dataBytes * kMaxRun;
}

GlobalBlock DecodeImage(OpContext& ctx, DataHandle* source, const PcxHeader& header) {
  if (!CheckPixelLimit(ctx, header.width, header.height)) return {};
  if (!DataCanHold(source, header)) {
    ctx.Fail(kErrBadPcx);
    return {};
  }
  const Palette palette = ChoosePalette(source, header);
  if (!Seek(source, kHeaderSize, kSeekStart)) {
    ctx.Fail(kErrBadPcx);
    return {};
  }
  GlobalBlock rgb = AllocateImageBuffer(ctx, ImageBytes(header.width, header.height, 3), false);
  if (!rgb) return {};
  std::vector<uint8_t> line(size_t{header.planes} * header.bytesPerLine);
  std::vector<uint8_t> indices(header.width);
  RunLengthLines lines(source);
  const size_t rowBytes = size_t{header.width} * 3;
  for (uint32_t y = 0; y < header.height; ++y) {
    // Data that ends within the first line holds no picture.
    if (!lines.Decode(line.data(), line.size()) && y == 0) {
      ctx.Fail(kErrReadFile);
      return {};
    }
    ConvertLine(ctx, header, palette, line.data(), indices.data(), rgb.Data() + y * rowBytes);
  }
  return rgb;
}

// ---- writing ----

// Bytes equal to bytes[0] from there on, at most `limit`: eight neighbours are
// compared at a time, so up to 8 bytes after bytes[limit - 1] are read.
size_t RunLength(const uint8_t* bytes, size_t limit) {
  size_t length = 1;
  while (length < limit) {
    const uint64_t differ = LoadLe64(bytes + length - 1) ^ LoadLe64(bytes + length);
    if (differ != 0) return std::min(limit, length + std::countr_zero(differ) / 8);
    length += 8;
  }
  return limit;
}

// Writes the run-length code of `count` bytes (readable up to 8 bytes beyond) to
// `out` and returns its end: runs of up to 63 equal bytes as a count byte and the
// value, a single byte below 0xC0 as itself.
uint8_t* EncodeRuns(const uint8_t* bytes, size_t count, uint8_t* out) {
  const uint8_t* const end = bytes + count;
  while (bytes < end) {
    const uint8_t value = *bytes;
    // Most bytes of a photograph differ from the next one: those skip the search.
    const size_t length =
        bytes[1] == value ? RunLength(bytes, std::min<size_t>(kMaxRun, end - bytes)) : 1;
    const bool counted = length > 1 || value >= kRunFlag;
    out[0] = counted ? static_cast<uint8_t>(kRunFlag | length) : value;
    out[1] = value;  // overwritten next when not counted
    out += counted ? 2 : 1;
    bytes += length;
  }
  return out;
}

struct PcxImage {
  const uint8_t* pixels;
  uint32_t width;
  uint32_t height;
  uint32_t planes;        // 1 for indices, 3 for RGB
  uint32_t bytesPerLine;  // the width made even
};

std::array<uint8_t, kHeaderSize> WrittenHeader(const PcxImage& image) {
  std::array<uint8_t, kHeaderSize> header{};
  header[0] = kManufacturer;
  header[1] = kWrittenVersion;
  header[2] = 1;  // run-length encoding
  header[3] = 8;  // bits per pixel per plane
  StoreLe16(&header[8], image.width - 1);
  StoreLe16(&header[10], image.height - 1);
  StoreLe16(&header[12], 96);
  StoreLe16(&header[14], 96);
  header[65] = static_cast<uint8_t>(image.planes);
  StoreLe16(&header[66], image.bytesPerLine);
  StoreLe16(&header[68], 1);  // palette interpretation
  return header;
}

// Splits row y into its planes (red, green, blue for RGB); the pad byte stays 0.
void FillLine(const PcxImage& image, uint32_t y, std::vector<uint8_t>& line) {
  const uint8_t* row = image.pixels + size_t{y} * image.width * image.planes;
  for (uint32_t plane = 0; plane < image.planes; ++plane) {
    uint8_t* target = line.data() + size_t{plane} * image.bytesPerLine;
    for (uint32_t x = 0; x < image.width; ++x) target[x] = row[size_t{x} * image.planes + plane];
  }
}

bool WriteImage(DataHandle* destination, const PcxImage& image, const RGBQUAD* palette) {
  const auto header = WrittenHeader(image);
  if (!WriteBytes(destination, header.data(), header.size())) return false;
  const size_t lineBytes = size_t{image.planes} * image.bytesPerLine;
  std::vector<uint8_t> line(lineBytes + 8);         // room for EncodeRuns to read beyond
  std::vector<uint8_t> encoded(lineBytes * 2 + 1);  // a run of one high byte takes two
  for (uint32_t y = 0; y < image.height; ++y) {
    FillLine(image, y, line);
    uint8_t* end = encoded.data();
    for (uint32_t plane = 0; plane < image.planes; ++plane) {
      end = EncodeRuns(line.data() + size_t{plane} * image.bytesPerLine, image.bytesPerLine, end);
    }
    if (!WriteBytes(destination, encoded.data(), end - encoded.data())) return false;
  }
  if (palette == nullptr) return true;
  uint8_t trailer[kPaletteBytes];
  trailer[0] = kPaletteMark;
  PaletteToTriples(palette, 256, trailer + 1);
  return WriteBytes(destination, trailer, sizeof trailer);
}

}  // namespace

HGLOBAL ReadPCX(HISSRC source, int32_t* width, int32_t* height, int32_t requestedBits) {
  return RunReadEntry(source, width, height, requestedBits == 24,
                      [&](OpContext& ctx, ImageSize& size) -> GlobalBlock {
                        PcxHeader header;
                        if (!ReadHeader(ctx, source, header)) return {};
                        size = {header.width, header.height};
                        return DecodeImage(ctx, source, header);
                      });
}

uint32_t WritePCX(HISDEST destination, const uint8_t* pixels, int32_t width, int32_t height,
                  int32_t bits, const RGBQUAD* palette) {
  // x max, y max and the even bytes per line must fit their 16-bit fields.
  auto valid = [&] {
    return pixels != nullptr && width >= 1 && width <= 0xFFFE && height >= 1 && height <= 0x10000 &&
           (bits == 24 || (bits == 8 && palette != nullptr));
  };
  return RunWriteEntry(destination, valid, [&] {
    const uint32_t w = static_cast<uint32_t>(width);
    const PcxImage image{pixels, w, static_cast<uint32_t>(height), bits == 8 ? 1u : 3u,
                         w + (w & 1)};
    return WriteImage(destination, image, bits == 8 ? palette : nullptr);
  });
}

}  // namespace vellum

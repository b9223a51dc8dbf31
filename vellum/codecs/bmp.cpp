#include "vellum/codecs/bmp.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "platform/kernel/byte_order.h"
#include "vellum/core/conversions.h"
#include "vellum/core/image_buffer.h"

namespace vellum {

namespace {

constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint32_t kMaskBytes = 12;
constexpr uint32_t kMaxPaletteEntries = 256;

enum Compression : uint32_t { kUncompressed = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3 };

// Bytes per stored row: rows are padded to a multiple of 4 bytes.
uint64_t RowStride(uint64_t width, uint32_t bitsPerPixel) {
  return (width * bitsPerPixel + 31) / 32 * 4;
}

// Reads a source from its start, counting the bytes consumed.
class FileReader {
 public:
  explicit FileReader(HISSRC source) : source_(source) {}

  bool Read(void* buffer, size_t count) {
    consumed_ += count;
    return ReadExactly(source_, buffer, count);
  }

  // Reads and discards; false when the data ends first.
  bool Skip(uint64_t count) {
    std::array<uint8_t, 4096> scratch;
    while (count > 0) {
      const size_t chunk = static_cast<size_t>(std::min<uint64_t>(count, scratch.size()));
      if (!Read(scratch.data(), chunk)) return false;
      count -= chunk;
    }
    return true;
  }

  bool SeekTo(uint32_t offset) {
    if (offset > INT32_MAX || !Seek(source_, static_cast<int32_t>(offset), kSeekStart))
      return false;
    consumed_ = offset;
    return true;
  }

  uint64_t Consumed() const { return consumed_; }

  // Bytes left in the source after the current position.
  uint64_t Remaining() const {
    const uint32_t size = DataSize(source_);
    const uint32_t position = Tell(source_);
    return size > position ? size - position : 0;
  }

  HISSRC Source() const { return source_; }

 private:
  HISSRC source_;
  uint64_t consumed_ = 0;
};

struct BmpHeader {
  uint32_t pixelOffset = 0;
  uint32_t infoHeaderSize = 0;
  int32_t width = 0;
  int32_t height = 0;  // negative for a top-down file
  uint32_t bitsPerPixel = 0;
  uint32_t compression = kUncompressed;
  uint32_t colorsUsed = 0;
  uint32_t masks[3] = {};  // red, green, blue; with bit fields only

  uint64_t Rows() const { return static_cast<uint64_t>(height < 0 ? -int64_t{height} : height); }
  bool TopDown() const { return height < 0; }
  bool RunLength() const { return compression == kRle8 || compression == kRle4; }
  // Colours used, or 2^bits when that field is 0 (0 for bit counts above 31).
  uint64_t ColorCount() const {
    if (colorsUsed != 0) return colorsUsed;
    return bitsPerPixel <= 31 ? uint64_t{1} << bitsPerPixel : 0;
  }
};

bool ReadHeaders(OpContext& ctx, FileReader& reader, BmpHeader& header) {
  uint8_t file[kFileHeaderBytes];
  if (!reader.Read(file, sizeof file)) return ctx.Fail(kErrReadFile);
  if (file[0] != 'B' || file[1] != 'M') return ctx.Fail(kErrBadBmp);
  header.pixelOffset = LoadLe32(file + 10);

  uint8_t info[kInfoHeaderBytes];
  if (!reader.Read(info, sizeof info)) return ctx.Fail(kErrReadFile);
  header.infoHeaderSize = LoadLe32(info);
  header.width = static_cast<int32_t>(LoadLe32(info + 4));
  header.height = static_cast<int32_t>(LoadLe32(info + 8));
  header.bitsPerPixel = LoadLe16(info + 14);
  header.compression = LoadLe32(info + 16);
  header.colorsUsed = LoadLe32(info + 32);
  // A bitmap without rows is not an image.
  if (header.width <= 0 || header.height == 0) return ctx.Fail(kErrBadBmp);

  switch (header.compression) {
    case kUncompressed:
      return true;
    case kRle8:
    case kRle4: {
      const uint32_t runBits = header.compression == kRle8 ? 8 : 4;
      if (header.bitsPerPixel != runBits) return ctx.Fail(kErrBadBmp);
      // Run-length bitmaps are bottom-up by definition.
      if (header.TopDown()) return ctx.Fail(kErrBadBmp);
      return true;
    }
    case kBitFields: {
      uint8_t masks[kMaskBytes];
      if (!reader.Read(masks, sizeof masks)) return ctx.Fail(kErrReadFile);
      for (int i = 0; i < 3; ++i) header.masks[i] = LoadLe32(masks + 4 * i);
      return true;
    }
    default:
      return ctx.Fail(kErrBadBmp);
  }
}

// How many colour-table entries precede the pixels. Run-length files read the
// whole table; the others read at most 256 entries and rely on the pixel offset.
bool ColorTableEntries(OpContext& ctx, const BmpHeader& header, uint64_t& entries) {
  if (header.RunLength()) {
    entries = header.ColorCount();
    return true;
  }
  switch (header.bitsPerPixel) {
    case 1:
    case 4:
    case 8:
      entries = std::min<uint64_t>(header.ColorCount(), kMaxPaletteEntries);
      return true;
    case 16:
      // A 16-bit file has a table only when it says how many colours it holds.
      entries =
          header.colorsUsed == 0 ? 0 : std::min<uint64_t>(header.colorsUsed, kMaxPaletteEntries);
      return true;
    case 24:
    case 32:
      entries = 0;
      return true;
    default:
      return ctx.Fail(kErrBadBmp);
  }
}

// Reads `entries` colour-table entries, keeping the first 256. The table follows
// the information header at its declared size (108- and 124-byte headers hold more
// than the 40 bytes read) or the masks that follow a 40-byte header.
bool ReadColorTable(OpContext& ctx, FileReader& reader, const BmpHeader& header, uint64_t entries,
                    Palette& palette) {
  if (entries == 0) return true;
  const uint64_t headersRead = reader.Consumed() - kFileHeaderBytes;
  const uint64_t tableStart =
      kFileHeaderBytes + std::max<uint64_t>(header.infoHeaderSize, headersRead);
  if (!reader.Skip(tableStart - reader.Consumed())) return ctx.Fail(kErrReadFile);

  const size_t kept = static_cast<size_t>(std::min<uint64_t>(entries, kMaxPaletteEntries));
  uint8_t table[kMaxPaletteEntries * 4];
  if (!reader.Read(table, kept * 4)) return ctx.Fail(kErrReadFile);
  for (size_t i = 0; i < kept; ++i) {
    const uint8_t* entry = table + 4 * i;
    palette[i] = RGBQUAD{entry[0], entry[1], entry[2], entry[3]};
  }
  if (!reader.Skip((entries - kept) * 4)) return ctx.Fail(kErrReadFile);
  return true;
}

// Moves to the pixel data: forward by reading, backward by seeking where allowed.
bool ReachPixelOffset(OpContext& ctx, FileReader& reader, uint32_t pixelOffset, bool mayGoBack) {
  const uint64_t consumed = reader.Consumed();
  if (pixelOffset >= consumed) {
    if (!reader.Skip(pixelOffset - consumed)) return ctx.Fail(kErrBadBmp);
    return true;
  }
  if (!mayGoBack || !reader.SeekTo(pixelOffset)) return ctx.Fail(kErrBadBmp);
  return true;
}

// Uncompressed and bit-field rows. Stops at the first short row with code 3; the
// caller has made sure that the data holds the first row.
bool DecodeRows(OpContext& ctx, FileReader& reader, const BmpHeader& header, const Palette& palette,
                uint8_t* rgb) {
  const uint64_t width = static_cast<uint64_t>(header.width);
  const uint64_t stride = RowStride(width, header.bitsPerPixel);
  const uint64_t rows = header.Rows();
  const bool useMasks = header.bitsPerPixel == 16 && header.compression == kBitFields;
  const RowFormat format{.bitsPerPixel = static_cast<int>(header.bitsPerPixel),
                         .palette = &palette,
                         .masks16 = useMasks ? header.masks : nullptr};
  std::vector<uint8_t> row(stride);
  for (uint64_t n = 0; n < rows; ++n) {
    if (!reader.Read(row.data(), row.size())) return ctx.Fail(kErrReadFile);
    const uint64_t y = header.TopDown() ? n : rows - 1 - n;
    ExpandRowToRgb(row.data(), width, format, rgb + y * width * 3);
  }
  return true;
}

// Buffered byte input for the run-length stream.
class ByteStream {
 public:
  explicit ByteStream(HISSRC source) : source_(source) {}

  bool Read(uint8_t* out, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      if (next_ == end_ && !Refill()) return false;
      out[i] = buffer_[next_++];
    }
    return true;
  }

 private:
  bool Refill() {
    end_ = ReadBytes(source_, buffer_.data(), buffer_.size());
    next_ = 0;
    return end_ > 0;
  }

  HISSRC source_;
  std::array<uint8_t, 4096> buffer_;
  size_t next_ = 0;
  size_t end_ = 0;
};

// Decodes RLE8 or RLE4 data onto an image already filled with entry 0's colour.
class RunLengthDecoder {
 public:
  RunLengthDecoder(HISSRC source, const BmpHeader& header, const Palette& palette, uint8_t* rgb)
      : input_(source),
        fourBit_(header.compression == kRle4),
        width_(header.width),
        height_(header.Rows()),
        format_{.bitsPerPixel = 8, .palette = &palette},
        rgb_(rgb) {}

  // True at the end-of-bitmap marker; false with code 3 when the data ends first.
  bool Decode(OpContext& ctx) {
    if (!DecodeStream()) return ctx.Fail(kErrReadFile);
    return true;
  }

  // Whether a line was finished before the data ended.
  bool FinishedALine() const { return row_ > 0; }

 private:
  bool DecodeStream() {
    uint8_t pair[2];
    while (input_.Read(pair, 2)) {
      if (pair[0] > 0) {
        PutRun(pair[0], pair[1]);
        continue;
      }
      switch (pair[1]) {
        case 0:  // end of line
          ++row_;
          x_ = 0;
          break;
        case 1:  // end of bitmap
          return true;
        case 2: {  // delta: right dx, up dy
          uint8_t delta[2];
          if (!input_.Read(delta, 2)) return false;
          x_ += delta[0];
          row_ += delta[1];
          break;
        }
        default:
          if (!PutLiteral(pair[1])) return false;
          break;
      }
    }
    return false;
  }

  // n pixels of one value; RLE4 alternates the high and the low nibble.
  void PutRun(size_t count, uint8_t value) {
    std::array<uint8_t, 255> indices;
    for (size_t i = 0; i < count; ++i) {
      indices[i] = fourBit_ ? (i % 2 == 0 ? value >> 4 : value & 0x0F) : value;
    }
    Put(indices.data(), count);
  }

  // n literal pixels, their bytes padded to an even count.
  bool PutLiteral(size_t count) {
    const size_t bytes = fourBit_ ? (count + 1) / 2 : count;
    std::array<uint8_t, 256> data;
    if (!input_.Read(data.data(), bytes + bytes % 2)) return false;
    std::array<uint8_t, 255> indices;
    for (size_t i = 0; i < count; ++i) {
      indices[i] = fourBit_ ? (data[i / 2] >> (i % 2 == 0 ? 4 : 0)) & 0x0F : data[i];
    }
    Put(indices.data(), count);
    return true;
  }

  // Stores pixels at the current position; what lies right of the row or above
  // the top of the image is dropped.
  void Put(const uint8_t* indices, size_t count) {
    if (row_ < height_ && x_ < width_) {
      const uint64_t visible = std::min<uint64_t>(count, width_ - x_);
      const uint64_t y = height_ - 1 - row_;
      ExpandRowToRgb(indices, visible, format_, rgb_ + (y * width_ + x_) * 3);
    }
    x_ += count;
  }

  ByteStream input_;
  bool fourBit_;
  uint64_t width_;
  uint64_t height_;
  RowFormat format_;
  uint8_t* rgb_;
  uint64_t x_ = 0;
  uint64_t row_ = 0;  // counted from the bottom row up
};

void FillWithColor(uint8_t* rgb, uint64_t pixels, const RGBQUAD& color) {
  for (uint64_t i = 0; i < pixels; ++i) {
    rgb[3 * i] = color.rgbRed;
    rgb[3 * i + 1] = color.rgbGreen;
    rgb[3 * i + 2] = color.rgbBlue;
  }
}

HGLOBAL ReadBmpWorker(OpContext& ctx, HISSRC source, int32_t* width, int32_t* height) {
  FileReader reader(source);
  BmpHeader header;
  uint64_t tableEntries = 0;
  Palette palette{};
  if (!ReadHeaders(ctx, reader, header) ||
      !CheckPixelLimit(ctx, static_cast<uint64_t>(header.width), header.Rows()) ||
      !ColorTableEntries(ctx, header, tableEntries) ||
      !ReadColorTable(ctx, reader, header, tableEntries, palette) ||
      !ReachPixelOffset(ctx, reader, header.pixelOffset, !header.RunLength())) {
    return nullptr;
  }
  const uint64_t rows = header.Rows();
  const uint64_t pixelCount = uint64_t(header.width) * rows;
  // Data that cannot fill a single row holds no picture.
  if (!header.RunLength() &&
      RowStride(static_cast<uint64_t>(header.width), header.bitsPerPixel) > reader.Remaining()) {
    ctx.Fail(kErrReadFile);
    return nullptr;
  }
  GlobalBlock image =
      AllocateImageBuffer(ctx, ImageBytes(header.width, rows, 3), !header.RunLength());
  if (!image) return nullptr;
  // A failure inside the pixel data still hands out what was decoded, once that
  // is at least a row.
  if (header.RunLength()) {
    FillWithColor(image.Data(), pixelCount, palette[0]);
    RunLengthDecoder decoder(source, header, palette, image.Data());
    if (!decoder.Decode(ctx) && !decoder.FinishedALine()) return nullptr;
  } else {
    DecodeRows(ctx, reader, header, palette, image.Data());
  }
  *width = header.width;
  *height = static_cast<int32_t>(rows);
  return image.Release();
}

bool ValidWriteArguments(const uint8_t* pixels, int32_t width, int32_t height, int32_t bitsPerPixel,
                         int32_t paletteCount, const RGBQUAD* palette) {
  if (pixels == nullptr || width <= 0 || height <= 0) return false;
  switch (bitsPerPixel) {
    case 1:
    case 4:
    case 8:
      return palette != nullptr && paletteCount >= 1 &&
             paletteCount <= static_cast<int32_t>(kMaxPaletteEntries);
    case 24:
      return true;
    default:
      return false;
  }
}

void StoreHeaders(uint8_t* out, uint32_t width, uint32_t height, uint32_t bitsPerPixel,
                  uint32_t colors, uint32_t imageSize) {
  const uint32_t pixelOffset = kFileHeaderBytes + kInfoHeaderBytes + 4 * colors;
  std::memset(out, 0, kFileHeaderBytes + kInfoHeaderBytes);
  out[0] = 'B';
  out[1] = 'M';
  StoreLe32(out + 2, pixelOffset + imageSize);
  StoreLe32(out + 10, pixelOffset);
  uint8_t* info = out + kFileHeaderBytes;
  StoreLe32(info, kInfoHeaderBytes);
  StoreLe32(info + 4, width);
  StoreLe32(info + 8, height);
  StoreLe16(info + 12, 1);  // planes
  StoreLe16(info + 14, bitsPerPixel);
  StoreLe32(info + 20, imageSize);
  StoreLe32(info + 32, colors);
  StoreLe32(info + 36, colors);
}

bool WritePalette(HISDEST destination, const RGBQUAD* palette, uint32_t colors) {
  std::array<uint8_t, kMaxPaletteEntries * 4> table;
  for (uint32_t i = 0; i < colors; ++i) {
    table[4 * i] = palette[i].rgbBlue;
    table[4 * i + 1] = palette[i].rgbGreen;
    table[4 * i + 2] = palette[i].rgbRed;
    table[4 * i + 3] = 0;
  }
  return WriteBytes(destination, table.data(), size_t{colors} * 4);
}

// Writes the rows bottom-up, several padded rows per write.
bool WriteRows(HISDEST destination, const uint8_t* pixels, uint32_t width, uint32_t height,
               uint32_t bitsPerPixel, size_t stride) {
  const size_t rowBytes = (size_t{width} * bitsPerPixel + 7) / 8;
  const size_t rowsPerBatch = std::max<size_t>(1, (size_t{1} << 18) / stride);
  std::vector<uint8_t> batch(std::min<size_t>(rowsPerBatch, height) * stride,
                             0);  // padding stays 0
  uint32_t written = 0;
  while (written < height) {
    const size_t count = std::min<size_t>(rowsPerBatch, height - written);
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* source = pixels + size_t{height - 1 - written - i} * rowBytes;
      uint8_t* target = batch.data() + i * stride;
      if (bitsPerPixel == 24) {
        RgbToBottomUpDib(source, width, 1, stride, target);
      } else {
        std::memcpy(target, source, rowBytes);
      }
    }
    if (!WriteBytes(destination, batch.data(), count * stride)) return false;
    written += static_cast<uint32_t>(count);
  }
  return true;
}

uint32_t WriteBmpWorker(OpContext& ctx, HISDEST destination, const uint8_t* pixels, uint32_t width,
                        uint32_t height, uint32_t bitsPerPixel, uint32_t colors,
                        const RGBQUAD* palette) {
  const uint64_t stride = RowStride(width, bitsPerPixel);
  const uint64_t imageSize = stride * height;
  const uint64_t fileSize = kFileHeaderBytes + kInfoHeaderBytes + 4 * colors + imageSize;
  if (fileSize > UINT32_MAX) return ctx.Fail(kErrInvalidArgument);

  uint8_t headers[kFileHeaderBytes + kInfoHeaderBytes];
  StoreHeaders(headers, width, height, bitsPerPixel, colors, static_cast<uint32_t>(imageSize));
  if (!WriteBytes(destination, headers, sizeof headers) ||
      !WritePalette(destination, palette, colors) ||
      !WriteRows(destination, pixels, width, height, bitsPerPixel, stride)) {
    return ctx.Fail(kErrWriteFile);
  }
  return DataSize(destination);
}

}  // namespace

HGLOBAL ReadBMP(HISSRC source, int32_t* width, int32_t* height, int32_t requestedBits) {
  return RunEntry([&](OpContext& ctx) -> HGLOBAL {
    if (!CheckHandle(ctx, source)) return nullptr;
    if (width == nullptr || height == nullptr || requestedBits != 24) {
      ctx.Fail(kErrInvalidArgument);
      return nullptr;
    }
    return ReadBmpWorker(ctx, source, width, height);
  });
}

uint32_t WriteBMP(HISDEST destination, const uint8_t* pixels, int32_t width, int32_t height,
                  int32_t bitsPerPixel, int32_t paletteCount, const RGBQUAD* palette) {
  return RunEntry([&](OpContext& ctx) -> uint32_t {
    if (!CheckHandle(ctx, destination)) return 0;
    if (!ValidWriteArguments(pixels, width, height, bitsPerPixel, paletteCount, palette)) {
      return ctx.Fail(kErrInvalidArgument);
    }
    const uint32_t colors = bitsPerPixel == 24 ? 0 : static_cast<uint32_t>(paletteCount);
    return WriteBmpWorker(ctx, destination, pixels, static_cast<uint32_t>(width),
                          static_cast<uint32_t>(height), static_cast<uint32_t>(bitsPerPixel),
                          colors, palette);
  });
}

}  // namespace vellum

// NormalizeImage: the working image made a 24-bit RGB buffer through a BMP round trip
// in memory, which expands an indexed image through its palette.
#include "platform/kernel/global_memory.h"
#include "platform/kernel/last_error.h"
#include "vellum/codecs/bmp.h"
#include "vellum/core/data_handle.h"
#include "vellum/core/entry_frame.h"
#include "vellum/core/image_buffer.h"
#include "vellum/easel.h"

namespace vellum {

namespace {

// Bytes the BMP block gets per pixel (and 1000 more), as for every in-memory encoding,
// plus the palette: an image of a few pixels would otherwise leave no room for the
// 1,024 bytes of a 256-entry palette and its round trip would fail.
constexpr uint64_t kBytesPerPixel = 12;
constexpr uint64_t kBlockExtra = 1000;
constexpr uint64_t kPaletteEntryBytes = 4;

int BitsForPalette(int paletteCount) {
  if (paletteCount == 16) return 4;
  if (paletteCount == 256) return 8;
  return 24;
}

// The bytes WriteBMP reads for an image of this size and depth: rows top to bottom,
// each starting on a byte.
uint64_t PixelBytes(uint64_t width, uint64_t height, int bits) {
  return (width * static_cast<uint64_t>(bits) + 7) / 8 * height;
}

}  // namespace

bool Easel::NormalizeImage(int paletteCount, const RGBQUAD* palette) {
  if (image_ == nullptr) return false;
  if (normalized_ != 0) return true;
  const int bits = BitsForPalette(paletteCount);
  const uint64_t height = height_ > 0 ? static_cast<uint64_t>(height_) : 0;
  // A 24-bit round trip gives back exactly the RGB buffer it was given, so a buffer of
  // that size is already the result.
  if (bits == 24 && width_ > 0 && height > 0 &&
      GlobalSize(image_) == PixelBytes(width_, height, 24)) {
    normalized_ = 1;
    return true;
  }

  const uint64_t paletteBytes = bits == 24 ? 0 : kPaletteEntryBytes * paletteCount;
  const uint64_t blockBytes = width_ * height * kBytesPerPixel + kBlockExtra + paletteBytes;
  HGLOBAL block = blockBytes <= UINT32_MAX ? GlobalAlloc(GHND, blockBytes) : nullptr;
  if (block == nullptr) {
    if (blockBytes > UINT32_MAX) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    AppendErrorText(GetLastError(), u"Not enough memory to perform the operation", 0, 0);
    return false;
  }
  GlobalBlock owner(block);
  const BlockLock blockData(block);
  const auto capacity = static_cast<uint32_t>(blockBytes - 1);
  HISDEST destination = OpenMemoryDestination(blockData.Data(), capacity);
  if (destination == nullptr) {
    AppendErrorText(GetLastError(), u"Can not open image storage", CoreLastError(), 0);
    return false;
  }
  uint32_t written = 0;
  int32_t failure = kErrInvalidArgument;  // a buffer smaller than its image is not read
  if (GlobalSize(image_) >= PixelBytes(width_, height, bits)) {
    const BlockLock pixels(image_);
    written = WriteBMP(destination, pixels.Data(), static_cast<int32_t>(width_), height_, bits,
                       bits == 24 ? 0 : paletteCount, palette);
    failure = CoreLastError();
  }
  CloseDestination(destination);
  HISSRC source = written != 0 ? OpenMemorySource(blockData.Data(), capacity) : nullptr;
  if (source == nullptr) {
    if (written != 0) failure = CoreLastError();
    AppendErrorText(GetLastError(), u"Can not convert image to the BMP format", failure, 0);
    return false;  // the old image stays
  }
  FreeImage();
  int32_t width = 0;
  int32_t readHeight = 0;
  HGLOBAL converted = ReadBMP(source, &width, &readHeight, 24);
  failure = CoreLastError();
  CloseSource(source);
  if (converted == nullptr) {
    AppendErrorText(GetLastError(), u"Can not convert image to the BMP format", failure, 0);
    width_ = 0;
    height_ = 0;
    return false;  // the old image went before the read
  }
  image_ = converted;
  width_ = static_cast<uint32_t>(width);
  height_ = readHeight;
  normalized_ = 1;
  return true;
}

}  // namespace vellum

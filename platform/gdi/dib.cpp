#include "platform/gdi/dib.h"

#include <bit>
#include <cstring>
#include <memory>

#include "platform/gdi/device.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/metafile_recorder.h"
#include "platform/kernel/byte_order.h"

namespace gdi {

namespace {

constexpr size_t kCoreHeaderSize = 12;
constexpr size_t kInfoHeaderSize = 40;
// Pattern brushes are small tiles; larger bitmaps are not made into one.
constexpr int64_t kMaxPatternPixels = 1 << 20;

uint64_t RowStride(int64_t width, int bitCount) {
  return ((static_cast<uint64_t>(width) * bitCount + 31) / 32) * 4;
}

// A channel under a mask, scaled to 0..255.
uint32_t MaskedChannel(uint32_t value, uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = std::countr_zero(mask);
  const uint32_t field = mask >> shift;
  const uint32_t max = field;
  const uint32_t v = (value & mask) >> shift;
  return static_cast<uint32_t>((uint64_t{v} * 255 + max / 2) / max);
}

struct HeaderFields {
  int64_t width = 0;
  int64_t height = 0;
  int bitCount = 0;
  uint32_t compression = BI_RGB;
  uint32_t colorsUsed = 0;
  size_t headerSize = 0;
  size_t colorEntrySize = 4;
};

std::optional<HeaderFields> ReadHeader(const uint8_t* info, size_t infoSize) {
  if (info == nullptr || infoSize < 4) return std::nullopt;
  HeaderFields h;
  h.headerSize = LoadLe32(info);
  if (h.headerSize == kCoreHeaderSize && infoSize >= kCoreHeaderSize) {
    h.width = LoadLe16(info + 4);
    h.height = LoadLe16(info + 6);
    h.bitCount = LoadLe16(info + 10);
    h.colorEntrySize = 3;
    return h;
  }
  if (h.headerSize < kInfoHeaderSize || h.headerSize > infoSize) return std::nullopt;
  h.width = static_cast<int32_t>(LoadLe32(info + 4));
  h.height = static_cast<int32_t>(LoadLe32(info + 8));
  h.bitCount = LoadLe16(info + 14);
  h.compression = LoadLe32(info + 16);
  h.colorsUsed = LoadLe32(info + 32);
  return h;
}

}  // namespace

std::optional<Dib> Dib::Parse(const uint8_t* info, size_t infoSize, const uint8_t* bits,
                              size_t bitsSize, UINT usage, uint32_t scanLines) {
  const std::optional<HeaderFields> h = ReadHeader(info, infoSize);
  if (!h || h->width <= 0 || h->height == 0 || h->width > kMaxBitmapSide * 4LL) return std::nullopt;
  const int bpp = h->bitCount;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return std::nullopt;
  const bool bitfields =
      h->compression == BI_BITFIELDS || h->compression == 6;  // 6: alpha bitfields
  if (h->compression != BI_RGB && !(bitfields && (bpp == 16 || bpp == 32))) return std::nullopt;

  Dib dib;
  dib.width_ = static_cast<int>(h->width);
  const int64_t fullHeight = h->height < 0 ? -h->height : h->height;
  int64_t rows = fullHeight;
  if (scanLines != 0 && scanLines < rows) rows = scanLines;
  if (rows > kMaxBitmapSide * 4LL) return std::nullopt;
  dib.height_ = static_cast<int>(rows);
  dib.bottomUp_ = h->height > 0;
  dib.bitCount_ = bpp;
  dib.stride_ = RowStride(h->width, bpp);
  if (bits == nullptr || dib.stride_ * static_cast<uint64_t>(rows) > bitsSize) return std::nullopt;
  dib.bits_ = bits;

  size_t offset = h->headerSize;
  if (bitfields) {
    if (h->headerSize == kInfoHeaderSize) {
      if (infoSize < offset + 12) return std::nullopt;
      for (int i = 0; i < 3; ++i) dib.masks_[i] = LoadLe32(info + offset + 4 * i);
      offset += 12;
    } else {
      for (int i = 0; i < 3; ++i) dib.masks_[i] = LoadLe32(info + kInfoHeaderSize + 4 * i);
    }
    dib.useMasks_ = true;
  } else if (bpp == 16) {
    dib.masks_[0] = 0x7C00, dib.masks_[1] = 0x03E0, dib.masks_[2] = 0x001F;
    dib.useMasks_ = true;
  }
  if (bpp <= 8) {
    const size_t wanted =
        h->colorsUsed != 0 ? std::min<uint32_t>(h->colorsUsed, 256) : size_t{1} << bpp;
    const size_t entrySize = usage == DIB_PAL_COLORS ? 2 : h->colorEntrySize;
    dib.colors_.assign(size_t{1} << bpp, 0xFF000000u);
    for (size_t i = 0; i < wanted && offset + (i + 1) * entrySize <= infoSize; ++i) {
      const uint8_t* entry = info + offset + i * entrySize;
      if (usage == DIB_PAL_COLORS) {
        // Indexes into a palette this layer does not keep: shown as gray levels.
        const uint32_t level =
            static_cast<uint32_t>(LoadLe16(entry) * 255 / std::max<size_t>(wanted - 1, 1)) & 0xFF;
        dib.colors_[i] = 0xFF000000u | level << 16 | level << 8 | level;
      } else {
        dib.colors_[i] =
            0xFF000000u | uint32_t{entry[2]} << 16 | uint32_t{entry[1]} << 8 | entry[0];
      }
    }
  }
  return dib;
}

uint32_t Dib::Pixel(const uint8_t* row, int x) const {
  switch (bitCount_) {
    case 1:
      return colors_[row[x >> 3] >> (7 - (x & 7)) & 1];
    case 4:
      return colors_[(x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4];
    case 8:
      return colors_[row[x]];
    case 16: {
      const uint32_t v = LoadLe16(row + 2 * x);
      return 0xFF000000u | MaskedChannel(v, masks_[0]) << 16 | MaskedChannel(v, masks_[1]) << 8 |
             MaskedChannel(v, masks_[2]);
    }
    case 24: {
      const uint8_t* p = row + 3 * x;
      return 0xFF000000u | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
    }
    default: {
      const uint32_t v = LoadLe32(row + 4 * x);
      if (!useMasks_) return v;  // blue, green, red and the alpha byte
      return 0xFF000000u | MaskedChannel(v, masks_[0]) << 16 | MaskedChannel(v, masks_[1]) << 8 |
             MaskedChannel(v, masks_[2]);
    }
  }
}

void Dib::FetchRow(int y, const int* xs, int count, uint32_t* out) const {
  const int stored = bottomUp_ ? height_ - 1 - y : y;
  const uint8_t* row = bits_ + stride_ * static_cast<size_t>(stored);
  for (int i = 0; i < count; ++i) out[i] = Pixel(row, xs[i]);
}

std::optional<Image> Dib::ToImage() const {
  if (static_cast<int64_t>(width_) * height_ > kMaxPatternPixels) return std::nullopt;
  Image image;
  image.width = width_;
  image.height = height_;
  image.pixels.resize(static_cast<size_t>(width_) * height_);
  std::vector<int> xs(width_);
  for (int x = 0; x < width_; ++x) xs[x] = x;
  for (int y = 0; y < height_; ++y) {
    uint32_t* row = image.pixels.data() + static_cast<size_t>(y) * width_;
    FetchRow(y, xs.data(), width_, row);
    for (int x = 0; x < width_; ++x) row[x] |= 0xFF000000u;
  }
  return image;
}

size_t DibInfoSize(const BITMAPINFOHEADER& header, UINT usage) {
  if (header.biSize < kInfoHeaderSize) return 0;
  size_t size = header.biSize;
  if (header.biCompression == BI_BITFIELDS && header.biSize == kInfoHeaderSize) size += 12;
  if (header.biBitCount <= 8) {
    const size_t colors = header.biClrUsed != 0 ? std::min<DWORD>(header.biClrUsed, 256)
                                                : size_t{1} << header.biBitCount;
    size += colors * (usage == DIB_PAL_COLORS ? 2 : 4);
  }
  return size;
}

uint64_t DibBitsSize(const BITMAPINFOHEADER& header) {
  const int64_t height = header.biHeight < 0 ? -int64_t{header.biHeight} : header.biHeight;
  if (header.biWidth <= 0) return 0;
  return RowStride(header.biWidth, header.biBitCount) * static_cast<uint64_t>(height);
}

namespace {

// Reads a bitmap's pixels (a blit from another memory context).
class BitmapSource : public PixelSource {
 public:
  explicit BitmapSource(const Bitmap& bitmap) : bitmap_(bitmap) {
    cairo_surface_flush(bitmap.surface);
  }
  int Width() const override { return bitmap_.width; }
  int Height() const override { return bitmap_.height; }
  void FetchRow(int y, const int* xs, int count, uint32_t* out) const override {
    const uint32_t* row = bitmap_.Row(y);
    for (int i = 0; i < count; ++i) out[i] = 0xFF000000u | row[xs[i]];
  }

 private:
  const Bitmap& bitmap_;
};

std::optional<Dib> DibFromCall(const void* bits, const BITMAPINFO* info, UINT usage,
                               uint32_t scanLines) {
  if (info == nullptr || bits == nullptr) return std::nullopt;
  const size_t infoSize = DibInfoSize(info->bmiHeader, usage);
  BITMAPINFOHEADER header = info->bmiHeader;
  if (scanLines != 0) header.biHeight = header.biHeight < 0 ? -LONG(scanLines) : LONG(scanLines);
  const uint64_t bitsSize = DibBitsSize(header);
  if (infoSize == 0 || bitsSize == 0) return std::nullopt;
  return Dib::Parse(reinterpret_cast<const uint8_t*>(info), infoSize,
                    static_cast<const uint8_t*>(bits), bitsSize, usage, scanLines);
}

void BlitFromSource(DeviceContext& dc, double x, double y, double w, double h,
                    const PixelSource* source, double sx, double sy, double sw, double sh,
                    DWORD rop) {
  const Affine m = dc.ToDevice();
  const PointD a = m.Apply({x, y});
  const PointD b = m.Apply({x + w, y + h});
  BlitRequest request;
  request.x0 = a.x, request.y0 = a.y, request.x1 = b.x, request.y1 = b.y;
  request.source = source;
  request.srcX = sx, request.srcY = sy, request.srcWidth = sw, request.srcHeight = sh;
  request.rop = rop;
  Blit(dc, request);
}

void WriteDibRow(const Bitmap& bitmap, int y, int bitCount, uint8_t* out) {
  const uint32_t* row = bitmap.Row(y);
  for (int x = 0; x < bitmap.width; ++x) {
    const uint32_t v = row[x];
    switch (bitCount) {
      case 1:
        if ((v & 0xFFFFFF) != 0) out[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
        break;
      case 24:
        out[3 * x] = static_cast<uint8_t>(v), out[3 * x + 1] = static_cast<uint8_t>(v >> 8);
        out[3 * x + 2] = static_cast<uint8_t>(v >> 16);
        break;
      default:
        std::memcpy(out + 4 * x, &v, 4);
        out[4 * x + 3] = 0;
        break;
    }
  }
}

}  // namespace

}  // namespace gdi

using namespace gdi;

int StretchDIBits(HDC handle, int xDest, int yDest, int destWidth, int destHeight, int xSrc,
                  int ySrc, int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* info,
                  UINT usage, DWORD rop) {
  DeviceContext* dc = LookupDc(handle);
  const std::optional<Dib> dib = DibFromCall(bits, info, usage, 0);
  if (dc == nullptr || !dib) return 0;
  if (dc->recorder) {
    return dc->recorder->StretchDIBits(*dc, xDest, yDest, destWidth, destHeight, xSrc, ySrc,
                                       srcWidth, srcHeight, bits, info, usage, rop)
               ? dib->Height()
               : 0;
  }
  if (dc->kind != DeviceContext::Kind::kMemory) return 0;
  // Source rows of a bottom-up bitmap are counted from its last row.
  const double top = dib->BottomUp() ? double(dib->Height()) - ySrc - srcHeight : ySrc;
  BlitFromSource(*dc, xDest, yDest, destWidth, destHeight, &*dib, xSrc, top, srcWidth, srcHeight,
                 rop);
  return dib->Height();
}

int SetDIBitsToDevice(HDC handle, int xDest, int yDest, DWORD width, DWORD height, int xSrc,
                      int ySrc, UINT startScan, UINT scanLines, const void* bits,
                      const BITMAPINFO* info, UINT usage) {
  DeviceContext* dc = LookupDc(handle);
  const std::optional<Dib> dib = DibFromCall(bits, info, usage, scanLines);
  if (dc == nullptr || !dib || width > INT32_MAX || height > INT32_MAX) return 0;
  if (dc->recorder) {
    return dc->recorder->SetDIBitsToDevice(*dc, xDest, yDest, width, height, xSrc, ySrc, startScan,
                                           scanLines, bits, info, usage)
               ? static_cast<int>(scanLines)
               : 0;
  }
  if (dc->kind != DeviceContext::Kind::kMemory) return 0;
  const double top = dib->BottomUp() ? double(dib->Height()) - (double(ySrc) - startScan) - height
                                     : double(ySrc) - startScan;
  BlitFromSource(*dc, xDest, yDest, width, height, &*dib, xSrc, top, width, height, SRCCOPY);
  return static_cast<int>(scanLines);
}

BOOL PatBlt(HDC handle, int x, int y, int width, int height, DWORD rop) {
  DeviceContext* dc = LookupDc(handle);
  if (dc == nullptr || dc->kind != DeviceContext::Kind::kMemory) return FALSE;
  BlitFromSource(*dc, x, y, width, height, nullptr, 0, 0, 0, 0, rop);
  return TRUE;
}

BOOL StretchBlt(HDC handle, int x, int y, int width, int height, HDC sourceHandle, int xSrc,
                int ySrc, int srcWidth, int srcHeight, DWORD rop) {
  DeviceContext* dc = LookupDc(handle);
  DeviceContext* source = LookupDc(sourceHandle);
  if (dc == nullptr || dc->kind != DeviceContext::Kind::kMemory) return FALSE;
  if (source == nullptr || source->bitmap == nullptr) {
    BlitFromSource(*dc, x, y, width, height, nullptr, 0, 0, 0, 0, rop);
    return TRUE;
  }
  const BitmapSource pixels(*source->bitmap);
  const PointD origin = source->ToDevice().Apply({double(xSrc), double(ySrc)});
  BlitFromSource(*dc, x, y, width, height, &pixels, origin.x, origin.y, srcWidth, srcHeight, rop);
  return TRUE;
}

BOOL BitBlt(HDC dc, int x, int y, int width, int height, HDC source, int xSrc, int ySrc,
            DWORD rop) {
  return StretchBlt(dc, x, y, width, height, source, xSrc, ySrc, width, height, rop);
}

int GetDIBits(HDC handle, HBITMAP bitmapHandle, UINT startScan, UINT scanLines, void* bits,
              BITMAPINFO* info, UINT) {
  auto bitmap = LookupObjectAs<Bitmap>(bitmapHandle, ObjectKind::kBitmap);
  if (LookupDc(handle) == nullptr || bitmap == nullptr || info == nullptr ||
      info->bmiHeader.biSize < sizeof(BITMAPINFOHEADER)) {
    return 0;
  }
  BITMAPINFOHEADER& header = info->bmiHeader;
  if (header.biBitCount == 0) {
    header.biWidth = bitmap->width;
    header.biHeight = bitmap->height;
    header.biPlanes = 1;
    header.biBitCount = bitmap->monochrome ? 1 : 32;
    header.biCompression = BI_RGB;
  }
  const int bitCount = header.biBitCount;
  if ((bitCount != 1 && bitCount != 24 && bitCount != 32) || header.biCompression != BI_RGB)
    return 0;
  const size_t stride = RowStride(bitmap->width, bitCount);
  header.biSizeImage = static_cast<DWORD>(stride * bitmap->height);
  if (bitCount == 1) {
    info->bmiColors[0] = RGBQUAD{0, 0, 0, 0};
    (&info->bmiColors[0])[1] = RGBQUAD{255, 255, 255, 0};
  }
  if (bits == nullptr) return TRUE;
  if (header.biWidth != bitmap->width) return 0;
  const bool topDown = header.biHeight < 0;
  const UINT rows =
      std::min<UINT>(scanLines, startScan < UINT(bitmap->height) ? bitmap->height - startScan : 0);
  cairo_surface_flush(bitmap->surface);
  auto* out = static_cast<uint8_t*>(bits);
  for (UINT i = 0; i < rows; ++i) {
    const int line = static_cast<int>(startScan + i);  // scan line number in DIB order
    const int y = topDown ? line : bitmap->height - 1 - line;
    uint8_t* row = out + stride * i;
    std::memset(row, 0, stride);
    WriteDibRow(*bitmap, y, bitCount, row);
  }
  return static_cast<int>(rows);
}

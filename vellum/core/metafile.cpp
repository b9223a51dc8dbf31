#include "vellum/core/metafile.h"

#include <unistd.h>

#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/gdi/handle_owners.h"
#include "platform/kernel/byte_order.h"
#include "vellum/core/conversions.h"
#include "vellum/core/image_buffer.h"

namespace vellum {

namespace {

constexpr uint32_t kInfoHeaderSize = sizeof(BITMAPINFOHEADER);
constexpr LONG kPlainWmfExtent = 1000;  // 0.01 mm, for plain WMF files

using gdi::ScreenDc;
using gdi::Selection;
using MemoryDc = gdi::OwnedDc;
using GdiObject = gdi::OwnedObject;
using EnhMetaFile = gdi::OwnedEnhMetaFile;
using WinMetaFile = gdi::OwnedMetaFile;

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// ---- reading ----

// A plain WMF file: its bits converted with extents of 1000 x 1000.
HENHMETAFILE ConvertPlainWmf(OpContext& ctx, HMETAFILE wmf, HDC screen) {
  const UINT size = GetMetaFileBitsEx(wmf, 0, nullptr);
  if (size == 0) {
    ctx.Fail(kErrBadMetafile);
    return nullptr;
  }
  std::vector<uint8_t> bits(size);
  if (GetMetaFileBitsEx(wmf, size, bits.data()) != size) {
    ctx.Fail(kErrBadMetafile);
    return nullptr;
  }
  const METAFILEPICT picture{MM_ANISOTROPIC, kPlainWmfExtent, kPlainWmfExtent, nullptr};
  HENHMETAFILE emf = SetWinMetaFileBits(size, bits.data(), screen, &picture);
  if (emf == nullptr) ctx.Fail(kErrBadMetafile);
  return emf;
}

// Any other file: read whole and offered to the WMF conversion, behind a
// placeable header or not.
HENHMETAFILE ConvertOtherFile(OpContext& ctx, const char* fileName, HDC screen, int32_t defaultX,
                              int32_t defaultY) {
  HISSRC source = OpenFileSource(fileName);
  if (source == nullptr) {
    ctx.Fail(CoreLastError());
    return nullptr;
  }
  struct Closer {
    HISSRC source;
    ~Closer() { CloseSource(source); }
  } closer{source};
  const uint32_t size = DataSize(source);
  if (size == 0) {
    ctx.Fail(kErrBadMetafile);
    return nullptr;
  }
  std::vector<uint8_t> bytes(size);
  if (!ReadExactly(source, bytes.data(), size)) {
    ctx.Fail(kErrReadFile);
    return nullptr;
  }
  METAFILEPICT picture{MM_ANISOTROPIC, defaultX, defaultY, nullptr};
  uint32_t offset = 0;
  uint32_t key = 0;
  if (size >= 4) std::memcpy(&key, bytes.data(), 4);
  if (key == kPlaceableKey) {
    if (size < kPlaceableHeaderSize) {
      ctx.Fail(kErrSetWinMetaFileBits);  // a header with nothing behind it
      return nullptr;
    }
    const SIZE extents = PlaceableHeaderExtents(bytes.data());
    picture.xExt = extents.cx;
    picture.yExt = extents.cy;
    offset = kPlaceableHeaderSize;
  }
  HENHMETAFILE emf = SetWinMetaFileBits(size - offset, bytes.data() + offset, screen, &picture);
  if (emf == nullptr) ctx.Fail(kErrSetWinMetaFileBits);
  return emf;
}

HGLOBAL ReadMetafileWorker(OpContext& ctx, const char* fileName, int32_t* width, int32_t* height,
                           int32_t defaultX, int32_t defaultY, COLORREF background) {
  if (width == nullptr || height == nullptr) {
    ctx.Fail(kErrInvalidArgument);
    return nullptr;
  }
  if (fileName == nullptr || access(fileName, F_OK) != 0) {
    ctx.Fail(kErrOpenFile);
    return nullptr;
  }
  ScreenDc screen;
  HENHMETAFILE opened = GetEnhMetaFileA(fileName);
  if (opened == nullptr) {
    WinMetaFile wmf(GetMetaFileA(fileName));
    opened = wmf ? ConvertPlainWmf(ctx, wmf.Get(), screen.Get())
                 : ConvertOtherFile(ctx, fileName, screen.Get(), defaultX, defaultY);
  }
  EnhMetaFile emf(opened);
  if (!emf) return nullptr;
  return RenderEnhMetaFile(ctx, emf.Get(), width, height, background);
}

// The render size along one axis: the frame's far edge in pixels minus its near
// edge, each truncated toward zero.
bool FrameSize(int32_t nearEdge, int32_t farEdge, int32_t pixels, int32_t millimeters,
               int32_t* size) {
  if (pixels <= 0 || millimeters <= 0) return false;
  const double perHundredth = static_cast<double>(pixels) / (millimeters * 100.0);
  const double extent = std::trunc(farEdge * perHundredth) - std::trunc(nearEdge * perHundredth);
  if (extent <= 0 || extent > kMaxBitmapSide) return false;
  *size = static_cast<int32_t>(extent);
  return true;
}

// ---- writing ----

// A packed bottom-up 24-bit DIB: the header, then the rows.
GlobalBlock MakePackedDib(OpContext& ctx, const uint8_t* rgb, int32_t width, int32_t height) {
  const uint64_t stride = ((static_cast<uint64_t>(width) * 24 + 31) / 32) * 4;
  GlobalBlock block =
      AllocateImageBuffer(ctx, stride * static_cast<uint64_t>(height) + kInfoHeaderSize);
  if (!block) return block;
  BITMAPINFOHEADER header{};
  header.biSize = kInfoHeaderSize;
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  header.biSizeImage = static_cast<DWORD>(stride * static_cast<uint64_t>(height));
  std::memcpy(block.Data(), &header, sizeof header);
  RgbToBottomUpDib(rgb, static_cast<uint32_t>(width), static_cast<uint32_t>(height), stride,
                   block.Data() + kInfoHeaderSize);
  return block;
}

enum class MetafileKind { kEnhanced, kWindows };

// Records the DIB into an enhanced metafile the way both writers need it.
HENHMETAFILE RecordDib(OpContext& ctx, HDC screen, const uint8_t* dib, int32_t width,
                       int32_t height, MetafileKind kind) {
  const int64_t logX = GetDeviceCaps(screen, LOGPIXELSX), logY = GetDeviceCaps(screen, LOGPIXELSY);
  const int64_t mmX = GetDeviceCaps(screen, HORZSIZE), mmY = GetDeviceCaps(screen, VERTSIZE);
  const int64_t resX = GetDeviceCaps(screen, HORZRES), resY = GetDeviceCaps(screen, VERTRES);
  if (resX <= 0 || resY <= 0) {
    ctx.Fail(kErrDeviceContext);
    return nullptr;
  }
  const RECT frame{0, 0, static_cast<LONG>(width * mmX * 100 / resX),
                   static_cast<LONG>(height * mmY * 100 / resY)};
  HDC recording = CreateEnhMetaFileA(screen, nullptr, &frame, nullptr);
  if (recording == nullptr) {
    ctx.Fail(kErrDeviceContext);
    return nullptr;
  }
  SetMapMode(recording, kind == MetafileKind::kEnhanced ? MM_ISOTROPIC : MM_ANISOTROPIC);
  SetWindowExtEx(recording, static_cast<int>(logX), static_cast<int>(logY), nullptr);
  SetViewportExtEx(recording, static_cast<int>(logX), static_cast<int>(logY), nullptr);
  const auto* info = reinterpret_cast<const BITMAPINFO*>(dib);
  const uint8_t* bits = dib + kInfoHeaderSize;
  const int lines = kind == MetafileKind::kEnhanced
                        ? StretchDIBits(recording, 0, 0, width, height, 0, 0, width, height, bits,
                                        info, DIB_RGB_COLORS, SRCCOPY)
                        : SetDIBitsToDevice(recording, 0, 0, static_cast<DWORD>(width),
                                            static_cast<DWORD>(height), 0, 0, 0,
                                            static_cast<UINT>(height), bits, info, DIB_RGB_COLORS);
  HENHMETAFILE emf = CloseEnhMetaFile(recording);
  if (emf == nullptr || lines != height) {
    if (emf != nullptr) DeleteEnhMetaFile(emf);
    ctx.Fail(kErrDeviceContext);
    return nullptr;
  }
  return emf;
}

bool WriteAll(OpContext& ctx, HISDEST destination, const void* bytes, size_t size) {
  return WriteBytes(destination, bytes, size) || ctx.Fail(kErrWriteFile);
}

bool WriteEnhancedBits(OpContext& ctx, HISDEST destination, HENHMETAFILE emf) {
  const UINT size = GetEnhMetaFileBits(emf, 0, nullptr);
  if (size == 0) return ctx.Fail(kErrGetMetaFileBits);
  std::vector<uint8_t> bytes(size);
  if (GetEnhMetaFileBits(emf, size, bytes.data()) != size) return ctx.Fail(kErrGetMetaFileBits);
  return WriteAll(ctx, destination, bytes.data(), bytes.size());
}

// The finest units a placeable header uses (thousandths of an inch); larger pictures
// take coarser ones.
constexpr int64_t kFinestPlaceableUnits = 1000;

// Fills the header's box for a frame (in 0.01 mm) at `unitsPerInch`, each edge cut
// toward zero or rounded to the nearest unit; false when an edge does not fit the
// box's signed 16-bit fields.
bool FillPlaceableBox(const RECTL& frame, int64_t unitsPerInch, bool rounded, uint8_t* header) {
  const LONG edges[4] = {frame.left, frame.top, frame.right, frame.bottom};
  for (int i = 0; i < 4; ++i) {
    const int64_t units = rounded ? std::llround(double(edges[i]) * double(unitsPerInch) / 2540.0)
                                  : int64_t{edges[i]} * unitsPerInch / 2540;
    if (units < INT16_MIN || units > INT16_MAX) return false;
    Put16(header + 6 + 2 * i, static_cast<uint16_t>(static_cast<int16_t>(units)));
  }
  Put16(header + 14, static_cast<uint16_t>(unitsPerInch));
  return true;
}

// The placeable header for a recording's frame, in the finest units (at most 1000 per
// inch) whose box fits the header's signed 16-bit fields and reads back, as a reader
// sizes the picture in `screen`'s pixels, as the frame's own pixels; the box's edges
// are cut toward zero where that reads back, else rounded. Up to about 3300 pixels
// that is 1000 per inch; larger pictures, up to the format's 32767 pixels, take
// coarser units. False when no units do.
bool MakePlaceableHeader(HENHMETAFILE emf, HDC screen, uint8_t header[kPlaceableHeaderSize]) {
  ENHMETAHEADER info{};
  if (GetEnhMetaFileHeader(emf, sizeof info, &info) == 0) return false;
  const double mmX = GetDeviceCaps(screen, HORZSIZE), mmY = GetDeviceCaps(screen, VERTSIZE);
  if (mmX <= 0 || mmY <= 0) return false;
  const double perHundredthX = GetDeviceCaps(screen, HORZRES) / (mmX * 100);
  const double perHundredthY = GetDeviceCaps(screen, VERTRES) / (mmY * 100);
  const auto pixels = [](double hundredths, double perHundredth) {
    return std::llround(hundredths * perHundredth);
  };
  const int64_t width = pixels(double(info.rclFrame.right) - info.rclFrame.left, perHundredthX);
  const int64_t height = pixels(double(info.rclFrame.bottom) - info.rclFrame.top, perHundredthY);
  std::memset(header, 0, kPlaceableHeaderSize);
  std::memcpy(header, &kPlaceableKey, 4);
  for (int64_t units = kFinestPlaceableUnits; units > 0; --units) {
    for (const bool rounded : {false, true}) {
      if (!FillPlaceableBox(info.rclFrame, units, rounded, header)) continue;
      const SIZE extents = PlaceableHeaderExtents(header);
      if (pixels(extents.cx, perHundredthX) == width &&
          pixels(extents.cy, perHundredthY) == height) {
        uint16_t checksum = 0;
        for (int i = 0; i < 10; ++i) checksum ^= LoadLe16(header + 2 * i);
        Put16(header + 20, checksum);
        return true;
      }
    }
  }
  return false;
}

bool WriteWindowsBits(OpContext& ctx, HISDEST destination, HENHMETAFILE emf, HDC screen,
                      bool placeable) {
  const UINT size = GetWinMetaFileBits(emf, 0, nullptr, MM_ANISOTROPIC, screen);
  if (size == 0) return ctx.Fail(kErrGetMetaFileBits);
  std::vector<uint8_t> bytes(size);
  if (GetWinMetaFileBits(emf, size, bytes.data(), MM_ANISOTROPIC, screen) != size) {
    return ctx.Fail(kErrGetMetaFileBits);
  }
  if (placeable) {
    uint8_t header[kPlaceableHeaderSize];
    if (!MakePlaceableHeader(emf, screen, header)) return ctx.Fail(kErrGetMetaFileBits);
    if (!WriteAll(ctx, destination, header, sizeof header)) return false;
  }
  return WriteAll(ctx, destination, bytes.data(), bytes.size());
}

uint32_t WriteMetafile(HISDEST destination, const uint8_t* rgb, int32_t width, int32_t height,
                       MetafileKind kind, bool placeable) {
  return RunEntry([&](OpContext& ctx) -> uint32_t {
    if (!CheckHandle(ctx, destination)) return 0;
    if (rgb == nullptr || width <= 0 || height <= 0) {
      ctx.Fail(kErrInvalidArgument);
      return DataSize(destination);
    }
    GlobalBlock dib = MakePackedDib(ctx, rgb, width, height);
    ScreenDc screen;
    if (!dib) return DataSize(destination);
    if (screen.Get() == nullptr) {
      ctx.Fail(kErrDeviceContext);
      return DataSize(destination);
    }
    EnhMetaFile emf(RecordDib(ctx, screen.Get(), dib.Data(), width, height, kind));
    if (emf) {
      kind == MetafileKind::kEnhanced
          ? WriteEnhancedBits(ctx, destination, emf.Get())
          : WriteWindowsBits(ctx, destination, emf.Get(), screen.Get(), placeable);
    }
    return DataSize(destination);
  });
}

}  // namespace

SIZE PlaceableHeaderExtents(const uint8_t header[kPlaceableHeaderSize]) {
  const uint32_t unitsPerInch = LoadLe16(header + 14);
  if (unitsPerInch == 0) return {0, 0};  // a division by zero otherwise
  const auto edge = [&](int at) {
    return static_cast<uint32_t>(static_cast<int16_t>(LoadLe16(header + at)));
  };
  return {static_cast<LONG>((edge(10) - edge(6)) * 2540u / unitsPerInch),
          static_cast<LONG>((edge(12) - edge(8)) * 2540u / unitsPerInch)};
}

HGLOBAL ReadMetafile(const char* fileName, int32_t* width, int32_t* height, int32_t defaultXExtent,
                     int32_t defaultYExtent, COLORREF background) {
  return RunEntry([&](OpContext& ctx) {
    return ReadMetafileWorker(ctx, fileName, width, height, defaultXExtent, defaultYExtent,
                              background);
  });
}

HGLOBAL RenderEnhMetaFile(OpContext& ctx, HENHMETAFILE metafile, int32_t* width, int32_t* height,
                          COLORREF background) {
  ENHMETAHEADER header{};
  if (width == nullptr || height == nullptr) {
    ctx.Fail(kErrInvalidArgument);
    return nullptr;
  }
  if (GetEnhMetaFileHeader(metafile, sizeof header, &header) == 0) {
    ctx.Fail(kErrBadMetafile);
    return nullptr;
  }
  int32_t w = 0, h = 0;
  const bool sized = FrameSize(header.rclFrame.left, header.rclFrame.right, header.szlDevice.cx,
                               header.szlMillimeters.cx, &w) &&
                     FrameSize(header.rclFrame.top, header.rclFrame.bottom, header.szlDevice.cy,
                               header.szlMillimeters.cy, &h);
  if (sized && !CheckPixelLimit(ctx, static_cast<uint32_t>(w), static_cast<uint32_t>(h))) {
    return nullptr;
  }
  ScreenDc screen;
  if (screen.Get() == nullptr) {
    ctx.Fail(kErrDeviceContext);
    return nullptr;
  }
  MemoryDc memory(CreateCompatibleDC(screen.Get()));
  if (!memory) {
    ctx.Fail(kErrDeviceContext);
    return nullptr;
  }
  GdiObject bitmap(sized ? CreateCompatibleBitmap(screen.Get(), w, h) : nullptr);
  if (!bitmap) {
    ctx.Fail(kErrCreateCompatibleBitmap);
    return nullptr;
  }
  {
    Selection selected(memory.Get(), bitmap.Get());
    GdiObject brush(CreateSolidBrush(background));
    if (!selected.Ok() || !brush) {
      ctx.Fail(kErrDeviceContext);
      return nullptr;
    }
    const RECT area{0, 0, w, h};
    FillRect(memory.Get(), &area, brush.Get());
    PlayEnhMetaFile(memory.Get(), metafile, &area);
  }
  HGLOBAL rgb = BitmapToRgb(ctx, bitmap.Get(), width, height);
  return rgb;
}

HGLOBAL BitmapToRgb(OpContext& ctx, HBITMAP bitmap, int32_t* width, int32_t* height) {
  ScreenDc screen;
  if (screen.Get() == nullptr || !(GetDeviceCaps(screen.Get(), RASTERCAPS) & RC_DI_BITMAP)) {
    ctx.Fail(kErrDeviceUnsupported);
    return nullptr;
  }
  BITMAP description{};
  if (width == nullptr || height == nullptr ||
      GetObjectA(bitmap, sizeof description, &description) != sizeof description) {
    ctx.Fail(kErrGetDIBits);
    return nullptr;
  }
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colors[256];
  } info{};
  const int bits = description.bmPlanes * description.bmBitsPixel;
  info.header = {kInfoHeaderSize,
                 description.bmWidth,
                 description.bmHeight,
                 1,
                 static_cast<WORD>(bits),
                 BI_RGB,
                 0,
                 0,
                 0,
                 0,
                 0};
  auto* bitmapInfo = reinterpret_cast<BITMAPINFO*>(&info);
  if (GetDIBits(screen.Get(), bitmap, 0, static_cast<UINT>(std::abs(description.bmHeight)), nullptr,
                bitmapInfo, DIB_RGB_COLORS) == 0) {
    ctx.Fail(kErrGetDIBits);
    return nullptr;
  }
  const uint64_t stride = ((static_cast<uint64_t>(bits) * description.bmWidth + 31) / 32) * 4;
  const uint32_t rows = static_cast<uint32_t>(std::abs(description.bmHeight));
  const uint64_t imageSize = info.header.biSizeImage != 0 ? info.header.biSizeImage : stride * rows;
  std::vector<uint8_t> dibBits(imageSize);
  if (GetDIBits(screen.Get(), bitmap, 0, rows, dibBits.data(), bitmapInfo, DIB_RGB_COLORS) == 0) {
    ctx.Fail(kErrGetDIBits);
    return nullptr;
  }
  const uint32_t w = static_cast<uint32_t>(description.bmWidth);
  GlobalBlock rgb = AllocateImageBuffer(ctx, ImageBytes(w, rows, 3));
  if (!rgb) return nullptr;
  Palette palette{};
  std::memcpy(palette.data(), info.colors, sizeof info.colors);
  RowFormat format;
  format.bitsPerPixel = bits;
  format.palette = &palette;
  const bool bottomUp = description.bmHeight > 0;
  for (uint32_t y = 0; y < rows; ++y) {
    const uint8_t* row = dibBits.data() + stride * (bottomUp ? rows - 1 - y : y);
    if (!ExpandRowToRgb(row, w, format, rgb.Data() + static_cast<size_t>(y) * w * 3)) {
      ctx.Fail(kErrGetDIBits);
      return nullptr;
    }
  }
  *width = static_cast<int32_t>(w);
  *height = static_cast<int32_t>(rows);
  return rgb.Release();
}

uint32_t WriteEMF(HISDEST destination, const uint8_t* rgb, int32_t width, int32_t height) {
  return WriteMetafile(destination, rgb, width, height, MetafileKind::kEnhanced, false);
}

uint32_t WriteWMF(HISDEST destination, const uint8_t* rgb, int32_t width, int32_t height,
                  BOOL placeable) {
  return WriteMetafile(destination, rgb, width, height, MetafileKind::kWindows, placeable != FALSE);
}

}  // namespace vellum

#include "vellum/codecs/tiff.h"

#include <sys/mman.h>
#include <tiffio.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/kernel/debug_output.h"
#include "vellum/codecs/entry_checks.h"
#include "vellum/core/image_buffer.h"

namespace vellum {

namespace {

// Page indices are 16-bit values.
constexpr int32_t kMaxPage = 65535;

// ---- client I/O over a data handle ----

DataHandle* HandleOf(thandle_t client) { return static_cast<DataHandle*>(client); }

tmsize_t ReadProc(thandle_t client, void* buffer, tmsize_t count) {
  if (count <= 0) return 0;
  return ReadExactly(HandleOf(client), buffer, static_cast<size_t>(count)) ? count : 0;
}

tmsize_t WriteProc(thandle_t client, void* buffer, tmsize_t count) {
  if (count <= 0) return 0;
  return WriteBytes(HandleOf(client), buffer, static_cast<size_t>(count)) ? count : 0;
}

// libtiff takes the result as the new position; -1 never is one.
toff_t SeekProc(thandle_t client, toff_t offset, int whence) {
  const auto signedOffset = static_cast<int64_t>(offset);
  const int32_t origin = whence == SEEK_CUR   ? kSeekCurrent
                         : whence == SEEK_END ? kSeekEnd
                                              : kSeekStart;
  if (signedOffset < INT32_MIN || signedOffset > INT32_MAX ||
      !Seek(HandleOf(client), static_cast<int32_t>(signedOffset), origin)) {
    return static_cast<toff_t>(-1);
  }
  return Tell(HandleOf(client));
}

// The handle stays open: its owner closes it.
int CloseProc(thandle_t) { return 0; }

toff_t SizeProc(thandle_t client) { return DataSize(HandleOf(client)); }

// Sources are mapped, so that libtiff reads them in place: through the read
// procedure alone it refuses uncompressed tiles of some sizes. A memory source maps
// its block; a file source maps the file read-only.
int MapProc(thandle_t client, void** base, toff_t* size) {
  DataHandle* handle = HandleOf(client);
  if (handle->isDestination) return 0;
  if (handle->kind == kMemoryKind) {
    *base = handle->memoryBase;
    *size = handle->capacity;
    return 1;
  }
  const uint32_t length = DataSize(handle);
  if (length == 0) return 0;
  void* data = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fileno(handle->file), 0);
  if (data == MAP_FAILED) return 0;
  *base = data;
  *size = length;
  return 1;
}

void UnmapProc(thandle_t client, void* base, toff_t size) {
  if (HandleOf(client)->kind == kFileKind) munmap(base, size);
}

// ---- messages: libtiff's texts go to the debugger output only ----

int SendToDebugger(const char* kind, const char* module, const char* format, va_list args) {
  const char* name = module != nullptr && module[0] != '\0' ? module : "TIFFLIB";
  char text[1024];
  const int prefix = std::snprintf(text, sizeof text, "%.64s %s: ", name, kind);
  if (prefix < 0) return 1;
  std::vsnprintf(text + prefix, sizeof text - static_cast<size_t>(prefix), format, args);
  OutputDebugStringA(text);
  OutputDebugStringA("\n");
  return 1;  // handled: libtiff's process-wide handlers stay silent
}

int ReportWarning(TIFF*, void*, const char* module, const char* format, va_list args) {
  return SendToDebugger("Warning", module, format, args);
}

int ReportError(TIFF*, void*, const char* module, const char* format, va_list args) {
  return SendToDebugger("Error", module, format, args);
}

// ---- opening ----

struct TiffCloser {
  void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffFile = std::unique_ptr<TIFF, TiffCloser>;

struct OptionsFreer {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

// A libtiff handle over the data handle, with this handle's message handlers and
// libtiff's single allocations capped like the image buffer.
TiffFile OpenTiff(DataHandle* handle, const char* mode) {
  std::unique_ptr<TIFFOpenOptions, OptionsFreer> options(TIFFOpenOptionsAlloc());
  if (!options) return nullptr;
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(kMaxImageBufferBytes));
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), ReportError, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), ReportWarning, nullptr);
  return TiffFile(TIFFClientOpenExt(handle->fileName, mode, handle, ReadProc, WriteProc, SeekProc,
                                    CloseProc, SizeProc, MapProc, UnmapProc, options.get()));
}

// Opens the source from its start: code 3 when it cannot be rewound, 20 when
// libtiff refuses its header or first directory.
TiffFile OpenForReading(OpContext& ctx, DataHandle* source) {
  if (!Rewind(source)) {
    ctx.Fail(kErrReadFile);
    return nullptr;
  }
  TiffFile tiff = OpenTiff(source, "r");
  if (!tiff) ctx.Fail(kErrBadTiff);
  return tiff;
}

// ---- reading ----

uint16_t CompressionOf(TIFF* tiff) {
  uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
  return compression;
}

// Selects the page and checks that libtiff can deliver it as RGBA.
bool SelectPage(OpContext& ctx, TIFF* tiff, int32_t page) {
  if (TIFFSetDirectory(tiff, static_cast<tdir_t>(page)) == 0) return ctx.Fail(kErrInvalidArgument);
  if (CompressionOf(tiff) == COMPRESSION_LZW) return ctx.Fail(kErrLzwNotPermitted);
  char message[1024];
  if (TIFFRGBAImageOK(tiff, message) == 0) return ctx.Fail(kErrBadTiff);
  return true;
}

// libtiff's RGBA pixels are 32-bit values with red in the low byte; their red, green
// and blue go to 3 bytes per pixel, four pixels (16 bytes in, 12 out) at a time.
void RgbaToRgb(const uint8_t* rgba, uint8_t* rgb, size_t pixelCount) {
  auto load = [&](size_t pixel) {
    uint32_t value;
    std::memcpy(&value, rgba + pixel * 4, 4);
    return value;
  };
  auto store = [&](size_t at, uint32_t value) {
    value = std::endian::native == std::endian::little ? value : __builtin_bswap32(value);
    std::memcpy(rgb + at, &value, 4);
  };
  size_t i = 0;
  for (; i + 4 <= pixelCount; i += 4) {
    const uint32_t p0 = load(i), p1 = load(i + 1), p2 = load(i + 2), p3 = load(i + 3);
    store(i * 3, (p0 & 0xFFFFFF) | p1 << 24);
    store(i * 3 + 4, (p1 >> 8 & 0xFFFF) | p2 << 16);
    store(i * 3 + 8, (p2 >> 16 & 0xFF) | p3 << 8);
  }
  for (; i < pixelCount; ++i) {
    const uint32_t pixel = load(i);
    rgb[i * 3] = static_cast<uint8_t>(TIFFGetR(pixel));
    rgb[i * 3 + 1] = static_cast<uint8_t>(TIFFGetG(pixel));
    rgb[i * 3 + 2] = static_cast<uint8_t>(TIFFGetB(pixel));
  }
}

// libtiff's RGBA reader over one page; ended when it goes.
class RgbaReader {
 public:
  RgbaReader(TIFF* tiff, bool* ready) {
    char message[1024];
    *ready = TIFFRGBAImageBegin(&image_, tiff, 1, message) != 0;
    begun_ = *ready;
    image_.req_orientation = ORIENTATION_TOPLEFT;
  }
  ~RgbaReader() {
    if (begun_) TIFFRGBAImageEnd(&image_);
  }
  RgbaReader(const RgbaReader&) = delete;
  RgbaReader& operator=(const RgbaReader&) = delete;

  // Pages stored top row first are read a band of whole strips (or rows of tiles) at
  // a time, at least 64 rows, so that no strip is decoded twice; the others are turned
  // by libtiff as a whole.
  uint32_t BandRows(TIFF* tiff, uint32_t height) const {
    if (image_.orientation != ORIENTATION_TOPLEFT) return height;
    uint32_t unit = 0;
    if (TIFFIsTiled(tiff)) {
      TIFFGetField(tiff, TIFFTAG_TILELENGTH, &unit);
    } else {
      TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &unit);
    }
    if (unit == 0) return height;
    constexpr uint64_t kMinimumRows = 64;
    const uint64_t rows = (kMinimumRows + unit - 1) / unit * unit;
    return static_cast<uint32_t>(std::min<uint64_t>(rows, height));
  }
  // Rows [top, top + rows) as RGBA pixels into `band`.
  bool Read(uint32_t top, uint32_t rows, uint32_t* band) {
    image_.row_offset = static_cast<int>(top);
    image_.col_offset = 0;
    return TIFFRGBAImageGet(&image_, band, image_.width, rows) != 0;
  }

 private:
  TIFFRGBAImage image_{};
  bool begun_ = false;
};

// ---- the direct strip reader ----

// Pages whose strips already hold 8-bit RGB pixels, gray levels or palette indices, top
// row first, are decoded strip by strip straight into the RGB block, as the RGBA reader
// would turn them; every other page goes through the RGBA reader.
enum class StripLayout { kOther, kRgb, kGray, kInvertedGray, kPalette };

uint16_t FieldOr(TIFF* tiff, ttag_t tag, uint16_t fallback) {
  uint16_t value = fallback;
  TIFFGetFieldDefaulted(tiff, tag, &value);
  return value;
}

StripLayout StripLayoutOf(TIFF* tiff) {
  const uint16_t compression = CompressionOf(tiff);
  uint16_t extraCount = 0;
  uint16_t* extraTypes = nullptr;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);
  if (TIFFIsTiled(tiff) || compression == COMPRESSION_JPEG || compression == COMPRESSION_OJPEG ||
      FieldOr(tiff, TIFFTAG_BITSPERSAMPLE, 1) != 8 ||
      FieldOr(tiff, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT) != SAMPLEFORMAT_UINT ||
      FieldOr(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) != ORIENTATION_TOPLEFT ||
      extraCount != 0) {
    return StripLayout::kOther;
  }
  const uint16_t samples = FieldOr(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
  uint16_t photometric = 0;
  if (TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) == 0) return StripLayout::kOther;
  if (samples == 3 && photometric == PHOTOMETRIC_RGB &&
      FieldOr(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == PLANARCONFIG_CONTIG) {
    return StripLayout::kRgb;
  }
  if (samples != 1) return StripLayout::kOther;
  switch (photometric) {
    case PHOTOMETRIC_MINISBLACK:
      return StripLayout::kGray;
    case PHOTOMETRIC_MINISWHITE:
      return StripLayout::kInvertedGray;
    case PHOTOMETRIC_PALETTE:
      return StripLayout::kPalette;
    default:
      return StripLayout::kOther;
  }
}

// What each sample value of a one-sample page becomes. A colour map whose entries all
// fit in 8 bits is taken as 8-bit, any other gives the high byte of each entry, as the
// RGBA reader does.
using SampleColors = std::array<std::array<uint8_t, 3>, 256>;

bool MakeSampleColors(TIFF* tiff, StripLayout layout, SampleColors& colors) {
  if (layout != StripLayout::kPalette) {
    for (int v = 0; v < 256; ++v) {
      const auto level = static_cast<uint8_t>(layout == StripLayout::kInvertedGray ? 255 - v : v);
      colors[v] = {level, level, level};
    }
    return true;
  }
  uint16_t* red = nullptr;
  uint16_t* green = nullptr;
  uint16_t* blue = nullptr;
  if (TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue) == 0) return false;
  bool sixteenBits = false;
  for (int v = 0; v < 256; ++v) sixteenBits |= red[v] >= 256 || green[v] >= 256 || blue[v] >= 256;
  const int shift = sixteenBits ? 8 : 0;
  for (int v = 0; v < 256; ++v) {
    colors[v] = {static_cast<uint8_t>(red[v] >> shift), static_cast<uint8_t>(green[v] >> shift),
                 static_cast<uint8_t>(blue[v] >> shift)};
  }
  return true;
}

// Decodes every strip into `rgb`: RGB strips in place, one-sample strips through a
// scratch strip. A strip that fails or comes out short fails the page.
bool ReadStrips(TIFF* tiff, StripLayout layout, uint32_t width, uint32_t height, uint8_t* rgb) {
  SampleColors colors{};
  if (layout != StripLayout::kRgb && !MakeSampleColors(tiff, layout, colors)) return false;
  uint32_t rowsPerStrip = height;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
  rowsPerStrip = std::clamp<uint32_t>(rowsPerStrip, 1, height);
  const size_t samplesPerRow = size_t{width} * (layout == StripLayout::kRgb ? 3 : 1);
  std::unique_ptr<uint8_t[]> scratch;
  if (layout != StripLayout::kRgb) scratch.reset(new uint8_t[samplesPerRow * rowsPerStrip]);
  for (uint32_t top = 0, strip = 0; top < height; top += rowsPerStrip, ++strip) {
    const uint32_t rows = std::min(rowsPerStrip, height - top);
    const size_t bytes = samplesPerRow * rows;
    uint8_t* out = rgb + size_t{top} * width * 3;
    uint8_t* into = scratch ? scratch.get() : out;
    if (TIFFReadEncodedStrip(tiff, strip, into, static_cast<tmsize_t>(bytes)) !=
        static_cast<tmsize_t>(bytes)) {
      return false;
    }
    if (!scratch) continue;
    for (size_t i = 0; i < bytes; ++i) std::memcpy(out + i * 3, colors[scratch[i]].data(), 3);
  }
  return true;
}

// Reads the selected page top row first and leaves its RGB pixels in a block of
// exactly width x height x 3 bytes. The page goes through libtiff's RGBA reader a band
// of rows at a time, so the RGBA pixels of the whole page are never held at once; the
// size limit still applies to them as if they were.
GlobalBlock ReadRgb(OpContext& ctx, TIFF* tiff, uint32_t width, uint32_t height) {
  if (ImageBytes(width, height, 4) > kMaxImageBufferBytes) {
    ctx.Fail(kErrNoMemory);
    return {};
  }
  const StripLayout layout = StripLayoutOf(tiff);
  if (layout != StripLayout::kOther) {
    GlobalBlock rgb = AllocateImageBuffer(ctx, ImageBytes(width, height, 3), false);
    if (rgb && !ReadStrips(tiff, layout, width, height, rgb.Data())) {
      ctx.Fail(kErrBadTiff);
      return {};
    }
    return rgb;
  }
  bool ready = false;
  RgbaReader reader(tiff, &ready);
  if (!ready) {
    ctx.Fail(kErrBadTiff);
    return {};
  }
  const uint32_t bandRows = reader.BandRows(tiff, height);
  GlobalBlock band = AllocateImageBuffer(ctx, ImageBytes(width, bandRows, 4), false);
  GlobalBlock rgb =
      band ? AllocateImageBuffer(ctx, ImageBytes(width, height, 3), false) : GlobalBlock();
  if (!rgb) return {};
  auto* bandPixels = reinterpret_cast<uint32_t*>(band.Data());
  const size_t rowBytes = size_t{width} * 3;
  for (uint32_t top = 0; top < height; top += bandRows) {
    const uint32_t rows = std::min(bandRows, height - top);
    if (!reader.Read(top, rows, bandPixels)) {
      ctx.Fail(kErrBadTiff);
      return {};
    }
    RgbaToRgb(band.Data(), rgb.Data() + top * rowBytes, size_t{width} * rows);
  }
  return rgb;
}

uint32_t TagValue(TIFF* tiff, ttag_t tag) {
  uint32_t value = 0;
  TIFFGetField(tiff, tag, &value);
  return value;
}

int32_t SaturateToInt32(uint64_t value) {
  return static_cast<int32_t>(std::min<uint64_t>(value, INT32_MAX));
}

// Truncated toward zero; NaN is 0 and values past the range stop at its ends.
int32_t TruncateToInt32(double value) {
  if (value != value) return 0;
  return static_cast<int32_t>(std::clamp<double>(value, INT32_MIN, INT32_MAX));
}

}  // namespace

HGLOBAL ReadTIFF(HISSRC source, int32_t* width, int32_t* height, int32_t requestedBits,
                 int32_t page) {
  return RunEntry([&](OpContext& ctx) -> HGLOBAL {
    if (!CheckSourceAndOutputs(ctx, source, width, height) ||
        !CheckRequestedBits(ctx, requestedBits)) {
      return nullptr;
    }
    if (page < 0 || page > kMaxPage) {
      ctx.Fail(kErrInvalidArgument);
      return nullptr;
    }
    TiffFile tiff = OpenForReading(ctx, source);
    if (!tiff || !SelectPage(ctx, tiff.get(), page)) return nullptr;
    const uint32_t imageWidth = TagValue(tiff.get(), TIFFTAG_IMAGEWIDTH);
    const uint32_t imageHeight = TagValue(tiff.get(), TIFFTAG_IMAGELENGTH);
    if (imageWidth == 0 || imageHeight == 0) {
      ctx.Fail(kErrBadTiff);
      return nullptr;
    }
    if (!CheckPixelLimit(ctx, imageWidth, imageHeight)) return nullptr;
    GlobalBlock rgb = ReadRgb(ctx, tiff.get(), imageWidth, imageHeight);
    if (!rgb) return nullptr;
    *width = static_cast<int32_t>(imageWidth);
    *height = static_cast<int32_t>(imageHeight);
    return rgb.Release();
  });
}

BOOL ReadTIFFInfo(HISSRC source, int32_t* width, int32_t* height, int32_t* bitsPerPixel,
                  ResolutionRecord* resolution) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (!CheckSourceAndOutputs(ctx, source, width, height, bitsPerPixel, resolution)) return FALSE;
    *width = *height = *bitsPerPixel = 0;
    *resolution = ResolutionRecord{};
    TiffFile tiff = OpenForReading(ctx, source);
    if (!tiff) return FALSE;
    uint16_t unit = RESUNIT_INCH;
    uint16_t samplesPerPixel = 1;
    uint16_t bitsPerSample = 1;
    float xResolution = 0;
    float yResolution = 0;
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_RESOLUTIONUNIT, &unit);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, &samplesPerPixel);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_BITSPERSAMPLE, &bitsPerSample);
    TIFFGetField(tiff.get(), TIFFTAG_XRESOLUTION, &xResolution);
    TIFFGetField(tiff.get(), TIFFTAG_YRESOLUTION, &yResolution);
    *width = SaturateToInt32(TagValue(tiff.get(), TIFFTAG_IMAGEWIDTH));
    *height = SaturateToInt32(TagValue(tiff.get(), TIFFTAG_IMAGELENGTH));
    *bitsPerPixel = SaturateToInt32(uint64_t{bitsPerSample} * samplesPerPixel);
    *resolution =
        ResolutionRecord{TruncateToInt32(xResolution), TruncateToInt32(yResolution), unit};
    return TRUE;
  });
}

// libtiff's RGBA reader, which ReadTIFF uses, turns out the corner a page's Orientation
// names (the mirroring of orientations 2 to 4) but cannot swap rows and columns: it
// treats 5 to 8 like 1 to 4 (LeftTop as TopLeft, RightTop as TopRight, ...). What is
// left for those is one transpose or transverse.
BOOL ReadTIFFOrientation(HISSRC source, int32_t page, int32_t* orientation) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (!CheckSourceAndOutputs(ctx, source, orientation)) return FALSE;
    *orientation = 1;
    if (page < 0 || page > kMaxPage) return ctx.Fail(kErrInvalidArgument);
    TiffFile tiff = OpenForReading(ctx, source);
    if (!tiff) return FALSE;
    if (TIFFSetDirectory(tiff.get(), static_cast<tdir_t>(page)) == 0) {
      return ctx.Fail(kErrInvalidArgument);
    }
    uint16_t stored = ORIENTATION_TOPLEFT;
    TIFFGetField(tiff.get(), TIFFTAG_ORIENTATION, &stored);
    switch (stored) {
      case ORIENTATION_LEFTTOP:
      case ORIENTATION_RIGHTBOT:
        *orientation = ORIENTATION_LEFTTOP;  // transpose
        break;
      case ORIENTATION_RIGHTTOP:
      case ORIENTATION_LEFTBOT:
        *orientation = ORIENTATION_RIGHTBOT;  // transverse
        break;
      default:
        break;
    }
    return TRUE;
  });
}

namespace {

// ---- writing ----

// The colour map holds 16-bit intensities: 257 x v maps 0..255 onto 0..65535.
void SetColorMap(TIFF* tiff, const RGBQUAD* palette) {
  std::array<uint16_t, 256> red{};
  std::array<uint16_t, 256> green{};
  std::array<uint16_t, 256> blue{};
  for (size_t i = 0; i < 256; ++i) {
    red[i] = static_cast<uint16_t>(palette[i].rgbRed * 257);
    green[i] = static_cast<uint16_t>(palette[i].rgbGreen * 257);
    blue[i] = static_cast<uint16_t>(palette[i].rgbBlue * 257);
  }
  TIFFSetField(tiff, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
}

// RowsPerStrip is computed before the sample layout is set, so libtiff sizes the
// strips for 1-bit rows: 8192 / ((width + 7) / 8) rows.
void SetTags(TIFF* tiff, uint32_t width, uint32_t height, int32_t bits, const RGBQUAD* palette,
             int32_t compression, const ResolutionRecord& resolution) {
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, resolution.unit);
  TIFFSetField(tiff, TIFFTAG_XRESOLUTION, static_cast<double>(resolution.xDensity));
  TIFFSetField(tiff, TIFFTAG_YRESOLUTION, static_cast<double>(resolution.yDensity));
  const std::string software = std::string("Ravelin, using ") + TIFFGetVersion();
  TIFFSetField(tiff, TIFFTAG_SOFTWARE, software.c_str());
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
  const bool rgb = bits == 24;
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, rgb ? 3 : 1);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, rgb ? PHOTOMETRIC_RGB : PHOTOMETRIC_PALETTE);
  // Value 0 names no scheme; PackBits keeps such saves lossless and readable.
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, compression == 0 ? COMPRESSION_PACKBITS : compression);
  if (!rgb) SetColorMap(tiff, palette);
}

bool WriteRows(TIFF* tiff, const uint8_t* pixels, uint32_t height, size_t stride) {
  for (uint32_t y = 0; y < height; ++y) {
    // No predictor is set, so no codec alters the row it is given.
    void* row = const_cast<uint8_t*>(pixels + y * stride);
    if (TIFFWriteScanline(tiff, row, y, 0) < 0) return false;
  }
  return true;
}

}  // namespace

uint32_t WriteTIFF(HISDEST destination, const uint8_t* pixels, int32_t width, int32_t height,
                   int32_t bits, const RGBQUAD* palette, int32_t compression,
                   const ResolutionRecord& resolution) {
  return RunEntry([&](OpContext& ctx) -> uint32_t {
    if (!CheckHandle(ctx, destination)) return 0;
    if (pixels == nullptr || width <= 0 || height <= 0 || (bits != 8 && bits != 24) ||
        (bits == 8 && palette == nullptr)) {
      ctx.Fail(kErrInvalidArgument);
      return 0;
    }
    TiffFile tiff = OpenTiff(destination, "w");
    if (!tiff) {
      ctx.Fail(kErrBadTiff);
      return 0;
    }
    const auto imageWidth = static_cast<uint32_t>(width);
    const auto imageHeight = static_cast<uint32_t>(height);
    SetTags(tiff.get(), imageWidth, imageHeight, bits, palette, compression, resolution);
    // The directory is written by the flush; a file without it is no file.
    if (!WriteRows(tiff.get(), pixels, imageHeight, size_t{imageWidth} * (bits / 8)) ||
        TIFFFlush(tiff.get()) == 0) {
      ctx.Fail(kErrWriteFile);
      return 0;
    }
    tiff.reset();
    return DataSize(destination);
  });
}

}  // namespace vellum

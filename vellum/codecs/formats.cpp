#include "vellum/codecs/formats.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include "platform/gdi/gdi.h"
#include "vellum/codecs/avif.h"
#include "vellum/codecs/bmp.h"
#include "vellum/codecs/exif.h"
#include "vellum/codecs/gif.h"
#include "vellum/codecs/jpeg.h"
#include "vellum/codecs/pcx.h"
#include "vellum/codecs/png.h"
#include "vellum/codecs/psd.h"
#include "vellum/codecs/tiff.h"
#include "vellum/codecs/webp.h"
#include "vellum/codecs/whole_file_codec.h"
#include "vellum/core/conversions.h"
#include "vellum/core/metafile.h"
#include "vellum/core/orientation.h"

namespace vellum {

namespace {

using namespace std::string_view_literals;

// DPIUnits of the object.
enum ObjectUnits : int32_t { kNoUnits = 0, kPerInch = 1, kPerCm = 2, kPerMetre = 3 };

constexpr COLORREF kMetafileBackground = 0xFFFFFF;
// A Windows metafile this short holds no picture.
constexpr uint32_t kMinWmfBytes = 28;
constexpr int32_t kGifTableBits = 8;
constexpr int32_t kPngGray = 0;
constexpr int32_t kPngRgb = 2;
constexpr int32_t kPngPalette = 3;
constexpr int32_t kPngBitDepth = 8;
constexpr int32_t kPngAdam7 = 1;
// ImageQuality above this writes TIFF strips uncompressed, at or below it compressed.
constexpr int32_t kTiffRawAbove = 50;

// ---- readers ----

HGLOBAL ReadBmpImage(HISSRC source, const ReadRequest&, int32_t* width, int32_t* height) {
  return ReadBMP(source, width, height, 24);
}

HGLOBAL ReadGifImage(HISSRC source, const ReadRequest& request, int32_t* width, int32_t* height) {
  int32_t ignored = -1;
  return ReadGIF(source, width, height,
                 request.transparentColor != nullptr ? request.transparentColor : &ignored);
}

HGLOBAL ReadJpegImage(HISSRC source, const ReadRequest&, int32_t* width, int32_t* height) {
  return ReadJPEG(source, width, height, 24);
}

HGLOBAL ReadPngImage(HISSRC source, const ReadRequest&, int32_t* width, int32_t* height) {
  return ReadPNG(source, width, height, 24);
}

HGLOBAL ReadPcxImage(HISSRC source, const ReadRequest&, int32_t* width, int32_t* height) {
  return ReadPCX(source, width, height, 24);
}

HGLOBAL ReadTiffImage(HISSRC source, const ReadRequest& request, int32_t* width, int32_t* height) {
  return ReadTIFF(source, width, height, 24, request.page);
}

HGLOBAL ReadPsdImage(HISSRC source, const ReadRequest&, int32_t* width, int32_t* height) {
  return ReadPSD(source, width, height, 24);
}

// A metafile held by a source: the whole source as an enhanced metafile, or a Windows
// metafile (behind a placeable header or not) converted to one. The renderer's
// failures stay in its own context: this path leaves the thread's code alone, but for
// a picture refused for its size (code 54), which the caller must be able to tell.
HGLOBAL RenderMetafileSource(HISSRC source, bool enhanced, int32_t* width, int32_t* height) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeSource(source, &bytes)) return nullptr;
  const auto size = static_cast<uint32_t>(bytes.size());
  HENHMETAFILE metafile = nullptr;
  if (enhanced) {
    metafile = SetEnhMetaFileBits(size, bytes.data());
  } else {
    uint32_t key = 0;
    if (size >= sizeof key) std::memcpy(&key, bytes.data(), sizeof key);
    const uint32_t skip = key == kPlaceableKey ? kPlaceableHeaderSize : 0;
    const METAFILEPICT picture{MM_ANISOTROPIC, 0, 0, nullptr};
    if (size > skip) {
      metafile = SetWinMetaFileBits(size - skip, bytes.data() + skip, nullptr, &picture);
    }
  }
  if (metafile == nullptr) return nullptr;
  OpContext ctx;
  HGLOBAL image = RenderEnhMetaFile(ctx, metafile, width, height, kMetafileBackground);
  DeleteEnhMetaFile(metafile);
  if (ctx.code == kErrPixelLimit) CurrentThreadRecord().lastError = kErrPixelLimit;
  return image;
}

// Metafiles render at their own size on white: from the file when there is one.
HGLOBAL ReadMetafileImage(HISSRC source, const ReadRequest& request, bool enhanced, int32_t* width,
                          int32_t* height) {
  if (request.path != nullptr) {
    return ReadMetafile(request.path, width, height, 0, 0, kMetafileBackground);
  }
  return RenderMetafileSource(source, enhanced, width, height);
}

HGLOBAL ReadWmfImage(HISSRC source, const ReadRequest& request, int32_t* width, int32_t* height) {
  return ReadMetafileImage(source, request, false, width, height);
}

HGLOBAL ReadEmfImage(HISSRC source, const ReadRequest& request, int32_t* width, int32_t* height) {
  return ReadMetafileImage(source, request, true, width, height);
}

HGLOBAL ReadWebpImage(HISSRC source, const ReadRequest&, int32_t* width, int32_t* height) {
  return ReadWEBP(source, width, height);
}

HGLOBAL ReadAvifImage(HISSRC source, const ReadRequest&, int32_t* width, int32_t* height) {
  return ReadAVIF(source, width, height);
}

// ---- resolution queries: the file's unit codes in the object's terms ----

// JFIF density units 0 none, 1 per inch, 2 per centimetre map one to one. Densities
// are kept as their low 16 bits, as DPIx and DPIy hold them.
ResolutionRead ReadJpegResolution(HISSRC source, ObjectResolution* out) {
  int32_t width = 0, height = 0, bits = 0;
  ResolutionRecord resolution;
  if (!Rewind(source) || !ReadJPEGInfo(source, &width, &height, &bits, &resolution)) {
    return ResolutionRead::kNone;
  }
  if (resolution.unit < kNoUnits || resolution.unit > kPerCm) return ResolutionRead::kRefused;
  *out = {true, resolution.xDensity, resolution.yDensity, resolution.unit};
  return ResolutionRead::kTaken;
}

// pHYs: unit 0 (an aspect ratio) gives no densities; unit 1 is per metre.
ResolutionRead ReadPngResolution(HISSRC source, ObjectResolution* out) {
  int32_t colorType = 0, width = 0, height = 0, bitDepth = 0, interlace = 0, paletteCount = 0;
  Palette palette{};
  ResolutionRecord resolution;
  if (!Rewind(source) || !ReadPNGInfo(source, &colorType, &width, &height, &bitDepth, &interlace,
                                      &paletteCount, palette.data(), &resolution)) {
    return ResolutionRead::kNone;
  }
  constexpr int32_t kUnknownUnit = 0;
  constexpr int32_t kMetreUnit = 1;
  if (resolution.unit == kUnknownUnit) {
    *out = {false, 0, 0, kNoUnits};
    return ResolutionRead::kTaken;
  }
  if (resolution.unit != kMetreUnit) return ResolutionRead::kRefused;
  *out = {true, resolution.xDensity, resolution.yDensity, kPerMetre};
  return ResolutionRead::kTaken;
}

// ResolutionUnit 1 none, 2 inch, 3 centimetre: one above DPIUnits.
bool IsTiffUnit(int32_t unit) { return unit >= 1 && unit <= 3; }

ObjectResolution FromTiffUnits(const ResolutionRecord& resolution) {
  return {true, resolution.xDensity, resolution.yDensity, resolution.unit - 1};
}

ResolutionRead ReadTiffResolution(HISSRC source, ObjectResolution* out) {
  int32_t width = 0, height = 0, bits = 0;
  ResolutionRecord resolution;
  if (!Rewind(source) || !ReadTIFFInfo(source, &width, &height, &bits, &resolution)) {
    return ResolutionRead::kNone;
  }
  if (!IsTiffUnit(resolution.unit)) return ResolutionRead::kRefused;
  *out = FromTiffUnits(resolution);
  return ResolutionRead::kTaken;
}

// EXIF records its resolution as TIFF does. Damaged EXIF never refuses the image: a
// unit it names wrongly is taken as no resolution.
ResolutionRead TakeExifResolution(const std::vector<uint8_t>& exif, ObjectResolution* out) {
  ResolutionRecord resolution;
  if (!ExifResolution(exif, &resolution) || !IsTiffUnit(resolution.unit)) {
    return ResolutionRead::kNone;
  }
  *out = FromTiffUnits(resolution);
  return ResolutionRead::kTaken;
}

// The EXIF of a WebP file (empty when it has none or cannot be read).
std::vector<uint8_t> WebpExif(HISSRC source) {
  int32_t width = 0, height = 0;
  std::vector<uint8_t> exif;
  ReadWEBPInfo(source, &width, &height, &exif);
  return exif;
}

ResolutionRead ReadWebpResolution(HISSRC source, ObjectResolution* out) {
  return TakeExifResolution(WebpExif(source), out);
}

ResolutionRead ReadAvifResolution(HISSRC source, ObjectResolution* out) {
  AvifInfo info;
  if (!ReadAVIFInfo(source, &info)) return ResolutionRead::kNone;
  return TakeExifResolution(info.exif, out);
}

// ---- orientation queries ----

int32_t UprightFromExif(const std::vector<uint8_t>& exif) {
  const int32_t orientation = ExifOrientation(exif);
  return orientation != 0 ? orientation : kOrientationUpright;
}

// Entries that collect a file's EXIF: (source, out payload).
template <BOOL (*kReadExif)(HISSRC, std::vector<uint8_t>*)>
int32_t ReadExifOrientation(HISSRC source, const ReadRequest&) {
  std::vector<uint8_t> exif;
  if (!Rewind(source) || !kReadExif(source, &exif)) return kOrientationUpright;
  return UprightFromExif(exif);
}

int32_t ReadWebpOrientation(HISSRC source, const ReadRequest&) {
  return UprightFromExif(WebpExif(source));
}

int32_t ReadTiffOrientation(HISSRC source, const ReadRequest& request) {
  int32_t orientation = kOrientationUpright;
  if (!ReadTIFFOrientation(source, request.page, &orientation)) return kOrientationUpright;
  return orientation;
}

// An AVIF file's rotation and mirroring (irot, imir) are how it records orientation;
// without them its EXIF may.
int32_t ReadAvifOrientation(HISSRC source, const ReadRequest&) {
  AvifInfo info;
  if (!ReadAVIFInfo(source, &info)) return kOrientationUpright;
  if (info.quarterTurns == 0 && info.mirror == AvifInfo::Mirror::kNone) {
    return UprightFromExif(info.exif);
  }
  // By anti-clockwise quarter turns, then by mirroring: none, left-right, top-bottom.
  static constexpr int32_t kByTurnAndMirror[4][3] = {{1, 2, 4}, {8, 7, 5}, {3, 4, 2}, {6, 5, 7}};
  return kByTurnAndMirror[info.quarterTurns & 3][static_cast<int>(info.mirror)];
}

// ---- the object's resolution in each file's terms ----

// Densities times a factor, truncated toward zero.
ResolutionRecord Scaled(int16_t x, int16_t y, double factor, int32_t unit) {
  return {static_cast<int32_t>(x * factor), static_cast<int32_t>(y * factor), unit};
}

// JFIF densities: per inch, per centimetre or none; dots per metre go in per inch.
ResolutionRecord JpegDensity(const WriteRequest& request) {
  if (request.dpiUnits == kPerMetre) return Scaled(request.dpiX, request.dpiY, 0.0254, 1);
  return {request.dpiX, request.dpiY, request.dpiUnits};
}

// pHYs holds pixels per metre (unit 1) or an aspect ratio (unit 0). Units outside
// 0 to 3 are written as an aspect ratio, like 0.
ResolutionRecord PngPhysicalSize(const WriteRequest& request) {
  switch (request.dpiUnits) {
    case kPerInch:
      return Scaled(request.dpiX, request.dpiY, 39.37, 1);
    case kPerCm:
      return Scaled(request.dpiX, request.dpiY, 100, 1);
    case kPerMetre:
      return {request.dpiX, request.dpiY, 1};
    default:
      return {request.dpiX, request.dpiY, 0};
  }
}

// ResolutionUnit: 1 none, 2 inch, 3 centimetre; dots per metre go in per inch.
ResolutionRecord TiffResolution(const WriteRequest& request) {
  if (request.dpiUnits == kPerMetre) return Scaled(request.dpiX, request.dpiY, 0.0254, 2);
  return {request.dpiX, request.dpiY, request.dpiUnits + 1};
}

// ---- writers ----

// Palette entries of the transparent colour are written transparent (fourth byte 0).
void MarkTransparentEntries(const WriteRequest& request) {
  for (int32_t i = 0; i < request.paletteCount; ++i) {
    if (HoldsColor(request.palette[i], request.transparentColor)) {
      request.palette[i].rgbReserved = 0;
    }
  }
}

// Turns PNG palette transparency on for one write, and off again.
class PngTransparencyScope {
 public:
  explicit PngTransparencyScope(bool on) : on_(on) {
    if (on_) SetPNGWriteTransparency(TRUE);
  }
  ~PngTransparencyScope() {
    if (on_) SetPNGWriteTransparency(FALSE);
  }
  PngTransparencyScope(const PngTransparencyScope&) = delete;
  PngTransparencyScope& operator=(const PngTransparencyScope&) = delete;

 private:
  bool on_;
};

uint32_t WriteBmpImage(HISDEST destination, WriteRequest& r) {
  return WriteBMP(destination, r.pixels, r.width, r.height, r.depth, r.paletteCount, r.palette);
}

uint32_t WriteGifImage(HISDEST destination, WriteRequest& r) {
  return WriteGIF(destination, r.pixels, r.width, r.height, 0, r.backgroundIndex,
                  r.transparentIndex, kGifTableBits, r.palette);
}

uint32_t WriteJpegImage(HISDEST destination, WriteRequest& r) {
  return WriteJPEG(destination, r.pixels, r.width, r.height, r.quality, r.progressive, r.depth,
                   JpegDensity(r));
}

uint32_t WritePngImage(HISDEST destination, WriteRequest& r) {
  MarkTransparentEntries(r);
  const PngTransparencyScope transparency(r.paletteCount > 0);
  const int32_t colorType = r.gray ? kPngGray : r.paletteCount > 0 ? kPngPalette : kPngRgb;
  const auto rowBytes = static_cast<int32_t>(static_cast<int64_t>(r.width) * r.depth / 8);
  return WritePNG(destination, r.pixels, r.width, r.height, rowBytes, kPngBitDepth, r.paletteCount,
                  r.palette, colorType, 0.0, kPngAdam7, PngPhysicalSize(r));
}

uint32_t WritePcxImage(HISDEST destination, WriteRequest& r) {
  return WritePCX(destination, r.pixels, r.width, r.height, r.depth, r.palette);
}

uint32_t WriteTiffImage(HISDEST destination, WriteRequest& r) {
  return WriteTIFF(destination, r.pixels, r.width, r.height, r.depth, r.palette,
                   r.quality > kTiffRawAbove ? 1 : 0, TiffResolution(r));
}

uint32_t WritePsdImage(HISDEST destination, WriteRequest& r) {
  return WritePSD(destination, r.pixels, r.width, r.height, r.depth, r.palette);
}

uint32_t WriteWmfImage(HISDEST destination, WriteRequest& r) {
  const uint32_t written = WriteWMF(destination, r.pixels, r.width, r.height, TRUE);
  return written < kMinWmfBytes ? 0 : written;
}

uint32_t WriteEmfImage(HISDEST destination, WriteRequest& r) {
  return WriteEMF(destination, r.pixels, r.width, r.height);
}

uint32_t WriteWebpImage(HISDEST destination, WriteRequest& r) {
  return WriteWEBP(destination, r.pixels, r.width, r.height, r.quality);
}

uint32_t WriteAvifImage(HISDEST destination, WriteRequest& r) {
  return WriteAVIF(destination, r.pixels, r.width, r.height, r.quality);
}

// ---- identification beyond fixed bytes ----

uint32_t BigEndian32(const uint8_t* bytes) {
  return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

// A leading ftyp box naming an AVIF image or sequence ("avif", "avis") as its major
// brand or among the compatible brands that lie within the bytes read.
bool StartsAvifFile(const uint8_t* start, size_t count) {
  constexpr size_t kMajorBrand = 8;
  constexpr size_t kCompatibleBrands = 16;
  if (count < kCompatibleBrands || std::memcmp(start + 4, "ftyp", 4) != 0) return false;
  const size_t boxEnd = std::min<size_t>(BigEndian32(start), count);
  auto isAvifBrand = [&](size_t at) {
    return std::memcmp(start + at, "avif", 4) == 0 || std::memcmp(start + at, "avis", 4) == 0;
  };
  if (isAvifBrand(kMajorBrand)) return true;
  for (size_t at = kCompatibleBrands; at + 4 <= boxEnd; at += 4) {
    if (isAvifBrand(at)) return true;
  }
  return false;
}

constexpr SignaturePiece At0(std::string_view bytes) { return {0, bytes}; }

// Identification order: the first matching signature decides.
constexpr FileFormat kFormats[] = {
    {.code = kFormatBmp,
     .saveCode = 1,
     .signatures = {{At0("BM")}},
     .read = ReadBmpImage,
     .write = WriteBmpImage,
     .mimeType = u"image/bmp",
     .extension = u".BMP",
     .defaultName = u"SaveAs.bmp"},
    {.code = kFormatGif,
     .saveCode = 2,
     .signatures = {{At0("GIF89a")}, {At0("GIF87a")}},
     .read = ReadGifImage,
     .write = WriteGifImage,
     .needsPalette = true,
     .choosesTransparentIndex = true,
     .mimeType = u"image/gif",
     .extension = u".GIF",
     .defaultName = u"SaveAs.GIF"},
    // Start of image with a JFIF marker, then any start of image. Reduced colour
    // images are stored as 24-bit pictures, only the gray image as an 8-bit one.
    {.code = kFormatJpeg,
     .saveCode = 3,
     .signatures = {{At0("\xFF\xD8\xFF\xE0")}, {At0("\xFF\xD8\xFF")}},
     .read = ReadJpegImage,
     .readResolution = ReadJpegResolution,
     .readOrientation = ReadExifOrientation<ReadJPEGExif>,
     .write = WriteJpegImage,
     .expansion = RgbExpansion::kUnlessGray,
     .mimeType = u"image/jpeg",
     .extension = u".JPG",
     .defaultName = u"SaveAs.JPG"},
    // Versions 0, 2, 3 and 5.
    {.code = kFormatPcx,
     .saveCode = 5,
     .signatures = {{At0("\x0A\x00"sv)}, {At0("\x0A\x02")}, {At0("\x0A\x03")}, {At0("\x0A\x05")}},
     .read = ReadPcxImage,
     .write = WritePcxImage,
     .mimeType = u"image/pcx",
     .extension = u".PCX",
     .defaultName = u"SaveAs.pcx",
     .attachment = true},
    {.code = kFormatTiff,
     .saveCode = 6,
     .signatures = {{At0("MM")}, {At0("II")}},
     .read = ReadTiffImage,
     .readResolution = ReadTiffResolution,
     .readOrientation = ReadTiffOrientation,
     .write = WriteTiffImage,
     .mimeType = u"image/tiff",
     .extension = u".TIF",
     .defaultName = u"SaveAs.TIF"},
    {.code = kFormatPng,
     .saveCode = 4,
     .signatures = {{At0("\x89PNG\r\n\x1A\n")}},
     .read = ReadPngImage,
     .readResolution = ReadPngResolution,
     .readOrientation = ReadExifOrientation<ReadPNGExif>,
     .write = WritePngImage,
     .mimeType = u"image/png",
     .extension = u".PNG",
     .defaultName = u"SaveAs.png"},
    // A plain metafile header, then the placeable key. Metafiles hold 24-bit pictures.
    {.code = kFormatWmf,
     .saveCode = 7,
     .signatures = {{At0("\x01\x00\x09\x00\x00"sv)}, {At0("\xD7\xCD\xC6\x9A")}},
     .read = ReadWmfImage,
     .write = WriteWmfImage,
     .expansion = RgbExpansion::kAlways,
     .mimeType = u"image/wmf",
     .extension = u".WMF",
     .defaultName = u"SaveAs.wmf",
     .attachment = true},
    {.code = kFormatEmf,
     .saveCode = 8,
     .signatures = {{{40, " EMF"}}},
     .read = ReadEmfImage,
     .write = WriteEmfImage,
     .expansion = RgbExpansion::kAlways,
     .mimeType = u"image/emf",
     .extension = u".EMF",
     .defaultName = u"SaveAs.emf",
     .attachment = true},
    {.code = kFormatPsd,
     .saveCode = 9,
     .signatures = {{At0("8BPS")}},
     .read = ReadPsdImage,
     .write = WritePsdImage,
     .unpacksSixteenColors = true,
     .mimeType = u"image/psd",
     .extension = u".PSD",
     .defaultName = u"SaveAs.psd",
     .attachment = true},
    // "RIFF", a chunk size, "WEBP".
    {.code = kFormatWebp,
     .saveCode = 11,
     .signatures = {{At0("RIFF"), {8, "WEBP"}}},
     .read = ReadWebpImage,
     .readResolution = ReadWebpResolution,
     .readOrientation = ReadWebpOrientation,
     .write = WriteWebpImage,
     .expansion = RgbExpansion::kAlways,
     .mimeType = u"image/webp",
     .extension = u".WEBP",
     .defaultName = u"SaveAs.webp"},
    // Ahead of the next row: the size of the leading box starts with zero bytes.
    {.code = kFormatAvif,
     .saveCode = 12,
     .matches = StartsAvifFile,
     .read = ReadAvifImage,
     .readResolution = ReadAvifResolution,
     .readOrientation = ReadAvifOrientation,
     .write = WriteAvifImage,
     .expansion = RgbExpansion::kAlways,
     .mimeType = u"image/avif",
     .extension = u".AVIF",
     .defaultName = u"SaveAs.avif"},
    // Recognised, never decoded (a TGA image without identification field, say).
    {.code = kFormatTwoZeroBytes, .signatures = {{At0("\x00\x00"sv)}}},
};

}  // namespace

bool HoldsColor(const RGBQUAD& entry, COLORREF color) {
  return color < 0x1000000 && entry.rgbRed == (color & 0xFF) &&
         entry.rgbGreen == ((color >> 8) & 0xFF) && entry.rgbBlue == ((color >> 16) & 0xFF);
}

const FileFormat* FileFormatsBegin() { return std::begin(kFormats); }
const FileFormat* FileFormatsEnd() { return std::end(kFormats); }

const FileFormat* FindFormatByCode(int32_t code) {
  const auto* row = std::find_if(std::begin(kFormats), std::end(kFormats),
                                 [&](const FileFormat& format) { return format.code == code; });
  return row == std::end(kFormats) ? nullptr : row;
}

const FileFormat* FindFormatBySaveCode(int32_t saveCode) {
  if (saveCode <= 0) return nullptr;
  const auto* row =
      std::find_if(std::begin(kFormats), std::end(kFormats),
                   [&](const FileFormat& format) { return format.saveCode == saveCode; });
  return row == std::end(kFormats) ? nullptr : row;
}

}  // namespace vellum

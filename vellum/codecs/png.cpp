#include "vellum/codecs/png.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <vector>

#include "vellum/codecs/entry_checks.h"
#include "vellum/codecs/jump_guard.h"
#include "vellum/core/image_buffer.h"

namespace vellum {

namespace {

// libpng's own limits, stated here so that a differently built library cannot
// loosen them: image sides, and the memory any one ancillary chunk may take.
constexpr png_uint_32 kMaxSide = 1000000;
constexpr png_alloc_size_t kMaxChunkBytes = 8000000;

// ---- callbacks ----

[[noreturn]] void JumpBack(png_structp png, png_const_charp) { png_longjmp(png, 1); }

void IgnoreWarning(png_structp, png_const_charp) {}

void ReadFromSource(png_structp png, png_bytep data, size_t length) {
  if (!ReadExactly(static_cast<DataHandle*>(png_get_io_ptr(png)), data, length)) {
    png_error(png, "read Error");
  }
}

void WriteToDestination(png_structp png, png_bytep data, size_t length) {
  if (!WriteBytes(static_cast<DataHandle*>(png_get_io_ptr(png)), data, length)) {
    png_error(png, "Write error");
  }
}

void FlushNothing(png_structp) {}

// libpng's structures for one read or one write, destroyed with their owner.
// Steps that may raise a libpng error run through Run.
template <bool kWriting>
class PngSession {
 public:
  PngSession() {
    png_ = kWriting
               ? png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, JumpBack, IgnoreWarning)
               : png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, JumpBack, IgnoreWarning);
    if (png_ != nullptr) info_ = png_create_info_struct(png_);
  }
  ~PngSession() {
    if constexpr (kWriting) {
      png_destroy_write_struct(&png_, &info_);
    } else {
      png_destroy_read_struct(&png_, &info_, nullptr);
    }
  }
  PngSession(const PngSession&) = delete;
  PngSession& operator=(const PngSession&) = delete;

  // False when libpng could not make its structures (code 16 for the entries).
  bool Created() const { return info_ != nullptr; }
  png_structp Png() const { return png_; }
  png_infop Info() const { return info_; }

  template <typename Step>
  bool Run(Step&& step) {
    return RunGuarded(png_jmpbuf(png_), step);
  }

 private:
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

using PngReader = PngSession<false>;
using PngWriter = PngSession<true>;

png_color_16 ToPngColor(const PngColor16& color) {
  return png_color_16{color.index, color.red, color.green, color.blue, color.gray};
}

// The ancillary chunks the entries use (sRGB because it implies a gamma). libpng
// skips every other one unread, rather than buffering chunks such as text that a
// file of a few bytes may declare gigabytes long.
constexpr png_byte kUsedChunks[] = "bKGD\0gAMA\0pHYs\0sRGB\0tRNS";
constexpr int kUsedChunkCount = 5;

constexpr png_byte kExifChunk[] = "eXIf";

// Reads the chunks up to the image data; eXIf among them only when asked.
void ReadInfo(PngReader& reader, DataHandle* source, bool keepExif = false) {
  png_set_user_limits(reader.Png(), kMaxSide, kMaxSide);
  png_set_chunk_malloc_max(reader.Png(), kMaxChunkBytes);
  png_set_keep_unknown_chunks(reader.Png(), PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_set_keep_unknown_chunks(reader.Png(), PNG_HANDLE_CHUNK_AS_DEFAULT, kUsedChunks,
                              kUsedChunkCount);
  if (keepExif) {
    png_set_keep_unknown_chunks(reader.Png(), PNG_HANDLE_CHUNK_AS_DEFAULT, kExifChunk, 1);
  }
  png_set_read_fn(reader.Png(), source, ReadFromSource);
  png_read_info(reader.Png(), reader.Info());
}

// ---- reading ----

// Everything becomes 8-bit RGB without alpha.
void RequestRgb(png_structp png, png_infop info) {
  const int colorType = png_get_color_type(png, info);
  const int bitDepth = png_get_bit_depth(png, info);
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_expand(png);
  if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand(png);
  if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
    png_set_gray_to_rgb(png);
  }
  if (bitDepth == 16) png_set_strip_16(png);
}

// Alpha is composited over the file's bKGD, or else over the thread's default
// background. A file without gAMA counts as having 1 / screen gamma, which makes
// the correction an identity; libpng is not asked for that one, as it would still
// composite and round palettes through its linear 8-bit tables.
void RequestBackgroundAndGamma(png_structp png, png_infop info, const PngOptions& options) {
  png_color_16p fileBackground = nullptr;
  if (png_get_bKGD(png, info, &fileBackground) != 0) {
    png_set_background(png, fileBackground, PNG_BACKGROUND_GAMMA_FILE, 1, 1.0);
  } else {
    const png_color_16 background = ToPngColor(options.defaultBackground);
    png_set_background(png, &background, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
  }
  double fileGamma = 0;
  if (options.gammaCorrection && png_get_gAMA(png, info, &fileGamma) != 0) {
    png_set_gamma(png, options.screenGamma, fileGamma);
  }
}

bool ReadHeaderForRgb(PngReader& reader, DataHandle* source, const PngOptions& options) {
  return reader.Run([&] {
    ReadInfo(reader, source);
    RequestRgb(reader.Png(), reader.Info());
    RequestBackgroundAndGamma(reader.Png(), reader.Info(), options);
    png_read_update_info(reader.Png(), reader.Info());
  });
}

// One pointer per row of a buffer whose rows start `stride` bytes apart.
std::vector<png_bytep> RowPointers(const uint8_t* pixels, png_uint_32 height, size_t stride) {
  std::vector<png_bytep> rows(height);
  for (png_uint_32 y = 0; y < height; ++y) rows[y] = const_cast<png_bytep>(pixels + y * stride);
  return rows;
}

// The seven Adam7 passes, each read as the small image it is (through `passRow`,
// room for a whole row) and its pixels put in place here: libpng's own interlace
// handling would first widen every pass row to the full width.
void ReadAdam7Passes(png_structp png, uint8_t* pixels, png_uint_32 width, png_uint_32 height,
                     size_t rowBytes, png_bytep passRow) {
  constexpr size_t kPixelBytes = 3;
  for (int pass = 0; pass < 7; ++pass) {
    const png_uint_32 columns = PNG_PASS_COLS(width, pass);
    const png_uint_32 rows = PNG_PASS_ROWS(height, pass);
    if (columns == 0 || rows == 0) continue;  // libpng skips empty passes too
    const size_t step = kPixelBytes << PNG_PASS_COL_SHIFT(pass);
    for (png_uint_32 r = 0; r < rows; ++r) {
      png_read_row(png, passRow, nullptr);
      const png_uint_32 y = PNG_PASS_START_ROW(pass) + (r << PNG_PASS_ROW_SHIFT(pass));
      uint8_t* out = pixels + y * rowBytes + PNG_PASS_START_COL(pass) * kPixelBytes;
      for (png_uint_32 c = 0; c < columns; ++c, out += step) {
        std::memcpy(out, passRow + c * kPixelBytes, kPixelBytes);
      }
    }
  }
}

}  // namespace

HGLOBAL ReadPNG(HISSRC source, int32_t* width, int32_t* height, int32_t requestedBits) {
  return RunEntry([&](OpContext& ctx) -> HGLOBAL {
    if (!CheckSourceAndOutputs(ctx, source, width, height) ||
        !CheckRequestedBits(ctx, requestedBits)) {
      return nullptr;
    }
    PngReader reader;
    if (!reader.Created()) {
      ctx.Fail(kErrPngInternal);
      return nullptr;
    }
    if (!ReadHeaderForRgb(reader, source, CurrentThreadRecord().png)) {
      ctx.Fail(kErrBadPng);
      return nullptr;
    }
    const png_uint_32 imageWidth = png_get_image_width(reader.Png(), reader.Info());
    const png_uint_32 imageHeight = png_get_image_height(reader.Png(), reader.Info());
    const size_t rowBytes = png_get_rowbytes(reader.Png(), reader.Info());
    if (rowBytes != size_t{imageWidth} * 3) {
      ctx.Fail(kErrPngUnexpected);
      return nullptr;
    }
    if (!CheckPixelLimit(ctx, imageWidth, imageHeight)) return nullptr;
    GlobalBlock buffer = AllocateImageBuffer(ctx, ImageBytes(imageWidth, imageHeight, 3));
    if (!buffer) return nullptr;
    const bool interlaced =
        png_get_interlace_type(reader.Png(), reader.Info()) == PNG_INTERLACE_ADAM7;
    // Made before libpng runs: its errors jump past destructors.
    std::vector<png_bytep> rows;
    std::vector<png_byte> passRow;
    if (interlaced) {
      passRow.resize(rowBytes);
    } else {
      rows = RowPointers(buffer.Data(), imageHeight, rowBytes);
    }
    if (!reader.Run([&] {
          if (interlaced) {
            ReadAdam7Passes(reader.Png(), buffer.Data(), imageWidth, imageHeight, rowBytes,
                            passRow.data());
          } else {
            png_read_image(reader.Png(), rows.data());
          }
          png_read_end(reader.Png(), nullptr);
        })) {
      ctx.Fail(kErrBadPng);
      return nullptr;
    }
    *width = static_cast<int32_t>(imageWidth);
    *height = static_cast<int32_t>(imageHeight);
    return buffer.Release();
  });
}

namespace {

// Blue, green, red entries, filled up to 256 with copies of entry 0.
void StorePalette(const png_color* colors, int count, RGBQUAD* palette) {
  for (int i = 0; i < 256; ++i) {
    const png_color& color = colors[i < count ? i : 0];
    palette[i] = RGBQUAD{color.blue, color.green, color.red, 0};
  }
}

void ReportPalette(png_structp png, png_infop info, int32_t* paletteCount, RGBQUAD* palette) {
  const int colorType = png_get_color_type(png, info);
  png_colorp colors = nullptr;
  int count = 0;
  if (png_get_PLTE(png, info, &colors, &count) != 0) {
    *paletteCount = count;
    if (colorType == PNG_COLOR_TYPE_PALETTE) StorePalette(colors, count, palette);
  }
  if (colorType == PNG_COLOR_TYPE_GRAY) {
    const int bitDepth = png_get_bit_depth(png, info);
    std::array<png_color, 256> ramp{};
    if (bitDepth <= 8) png_build_grayscale_palette(bitDepth, ramp.data());
    *paletteCount = 1 << bitDepth;
    StorePalette(ramp.data(), *paletteCount, palette);
  }
}

}  // namespace

BOOL ReadPNGInfo(HISSRC source, int32_t* colorType, int32_t* width, int32_t* height,
                 int32_t* bitDepth, int32_t* interlaceMethod, int32_t* paletteCount,
                 RGBQUAD* palette, ResolutionRecord* resolution) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (!CheckSourceAndOutputs(ctx, source, colorType, width, height, bitDepth, interlaceMethod,
                               paletteCount, palette, resolution)) {
      return FALSE;
    }
    *colorType = *width = *height = *bitDepth = *interlaceMethod = *paletteCount = 0;
    std::fill_n(palette, 256, RGBQUAD{});
    *resolution = ResolutionRecord{};
    PngReader reader;
    if (!reader.Created()) return ctx.Fail(kErrPngInternal);
    if (!reader.Run([&] { ReadInfo(reader, source); })) return ctx.Fail(kErrBadPng);

    png_structp png = reader.Png();
    png_infop info = reader.Info();
    *colorType = png_get_color_type(png, info);
    *width = static_cast<int32_t>(png_get_image_width(png, info));
    *height = static_cast<int32_t>(png_get_image_height(png, info));
    *bitDepth = png_get_bit_depth(png, info);
    *interlaceMethod = png_get_interlace_type(png, info);
    ReportPalette(png, info, paletteCount, palette);
    png_uint_32 xDensity = 0;
    png_uint_32 yDensity = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &xDensity, &yDensity, &unit) != 0) {
      *resolution =
          ResolutionRecord{static_cast<int32_t>(xDensity), static_cast<int32_t>(yDensity), unit};
    }
    return TRUE;
  });
}

BOOL ReadPNGExif(HISSRC source, std::vector<uint8_t>* exif) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (!CheckSourceAndOutputs(ctx, source, exif)) return FALSE;
    exif->clear();
    PngReader reader;
    if (!reader.Created()) return ctx.Fail(kErrPngInternal);
    if (!reader.Run([&] { ReadInfo(reader, source, true); })) return ctx.Fail(kErrBadPng);
    png_uint_32 size = 0;
    png_bytep data = nullptr;
    if (png_get_eXIf_1(reader.Png(), reader.Info(), &size, &data) != 0 && data != nullptr) {
      exif->assign(data, data + size);
    }
    return TRUE;
  });
}

void SetPNGWriteTransparency(BOOL on) {
  RunEntry([&](OpContext&) {
    CurrentThreadRecord().png.writeTransparency = on != FALSE;
    return 0;
  });
}

namespace {

// ---- writing ----

struct PngImage {
  const uint8_t* pixels;
  int32_t width;
  int32_t height;
  int32_t bytesPerRow;
  int32_t bitDepth;
  int32_t colorType;
  int32_t interlaceMethod;
};

// The chunks that go with the image, prepared before libpng is called.
struct PngChunks {
  int paletteCount = 0;
  std::array<png_color, 256> colors{};
  std::array<png_byte, 256> opacity{};
  bool transparency = false;
  png_color_16 background{};
  bool withBackground = false;
  png_time time{};
  ResolutionRecord resolution;
  double gamma = 0;
};

bool HasAlpha(int32_t colorType) { return (colorType & PNG_COLOR_MASK_ALPHA) != 0; }

PngChunks PrepareChunks(int32_t colorType, int32_t paletteCount, const RGBQUAD* palette,
                        double gamma, const ResolutionRecord& resolution) {
  const PngOptions& options = CurrentThreadRecord().png;
  PngChunks chunks;
  chunks.paletteCount = paletteCount;
  for (int i = 0; i < paletteCount; ++i) {
    chunks.colors[i] = png_color{palette[i].rgbRed, palette[i].rgbGreen, palette[i].rgbBlue};
    chunks.opacity[i] = palette[i].rgbReserved;
  }
  chunks.transparency =
      paletteCount > 0 && colorType == PNG_COLOR_TYPE_PALETTE && options.writeTransparency;
  chunks.withBackground = chunks.transparency || HasAlpha(colorType);
  chunks.background = ToPngColor(options.defaultBackground);
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  png_convert_from_struct_tm(&chunks.time, &utc);
  chunks.resolution = resolution;
  chunks.gamma = gamma;
  return chunks;
}

void SetChunks(png_structp png, png_infop info, PngChunks& chunks) {
  if (chunks.paletteCount > 0) png_set_PLTE(png, info, chunks.colors.data(), chunks.paletteCount);
  if (chunks.transparency) {
    png_set_tRNS(png, info, chunks.opacity.data(), chunks.paletteCount, nullptr);
  }
  if (chunks.withBackground) png_set_bKGD(png, info, &chunks.background);
  png_set_tIME(png, info, &chunks.time);
  png_set_pHYs(png, info, static_cast<png_uint_32>(chunks.resolution.xDensity),
               static_cast<png_uint_32>(chunks.resolution.yDensity), chunks.resolution.unit);
  if (chunks.gamma > 0) png_set_gAMA(png, info, chunks.gamma);
}

// ---- compression ----

// Photographs leave LZ77 nothing to match beyond runs: on their filtered rows zlib's
// string search costs most of the time and, at low levels, even makes the file
// larger than Huffman coding of the literals. So an image is tried on a sample of
// its rows, filtered by Average: when run-length matching compresses the sample no
// worse than zlib's fastest string matching, the image is written with the Average
// filter and the RLE strategy (about ten times faster, within a few tenths of a
// percent of libpng's default size on photographs); otherwise libpng's defaults
// (adaptive filters, level 6), which drawings and flat colours need. Small images
// are not worth the trial and keep the defaults.
constexpr size_t kTrialMinimumBytes = size_t{512} << 10;
constexpr png_uint_32 kTrialBandRows = 8;
constexpr png_uint_32 kTrialBandStride = 32;  // one band of rows in 32

bool TakesPhotoCompression(int32_t bitDepth, int32_t colorType) {
  return bitDepth == 8 && (colorType == PNG_COLOR_TYPE_RGB || colorType == PNG_COLOR_TYPE_GRAY);
}

// Rows filtered by Average (each with its filter byte), the first row of each band
// against a row of zeros.
std::vector<uint8_t> AverageFilteredSample(const uint8_t* pixels, png_uint_32 height,
                                           size_t rowBytes, size_t stride, size_t pixelBytes) {
  std::vector<uint8_t> sample;
  const std::vector<uint8_t> zeros(rowBytes, 0);
  for (png_uint_32 top = 0; top < height; top += kTrialBandRows * kTrialBandStride) {
    const png_uint_32 end = std::min(height, top + kTrialBandRows);
    for (png_uint_32 y = top; y < end; ++y) {
      const uint8_t* row = pixels + y * stride;
      const uint8_t* up = y > top ? row - stride : zeros.data();
      sample.push_back(PNG_FILTER_VALUE_AVG);
      for (size_t i = 0; i < rowBytes; ++i) {
        const unsigned left = i >= pixelBytes ? row[i - pixelBytes] : 0;
        sample.push_back(static_cast<uint8_t>(row[i] - ((left + up[i]) >> 1)));
      }
    }
  }
  return sample;
}

// The deflated size of `data` at level 1 with the strategy, or SIZE_MAX.
size_t DeflatedSize(std::vector<uint8_t>& data, int strategy) {
  z_stream stream{};
  if (deflateInit2(&stream, 1, Z_DEFLATED, 15, 9, strategy) != Z_OK) return SIZE_MAX;
  std::vector<uint8_t> out(deflateBound(&stream, data.size()));
  stream.next_in = data.data();
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  const bool done = deflate(&stream, Z_FINISH) == Z_STREAM_END;
  const size_t size = stream.total_out;
  deflateEnd(&stream);
  return done ? size : SIZE_MAX;
}

bool LooksPhotographic(const PngImage& image) {
  const size_t pixelBytes = image.colorType == PNG_COLOR_TYPE_RGB ? 3 : 1;
  const size_t rowBytes = static_cast<size_t>(image.width) * pixelBytes;
  if (!TakesPhotoCompression(image.bitDepth, image.colorType) ||
      rowBytes * static_cast<size_t>(image.height) < kTrialMinimumBytes) {
    return false;
  }
  std::vector<uint8_t> sample =
      AverageFilteredSample(image.pixels, static_cast<png_uint_32>(image.height), rowBytes,
                            static_cast<size_t>(image.bytesPerRow), pixelBytes);
  const size_t runs = DeflatedSize(sample, Z_RLE);
  return runs != SIZE_MAX && runs <= DeflatedSize(sample, Z_DEFAULT_STRATEGY);
}

void SetPhotoCompression(png_structp png) {
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_AVG);
  png_set_compression_strategy(png, Z_RLE);
  png_set_compression_mem_level(png, 9);
}

}  // namespace

uint32_t WritePNG(HISDEST destination, const uint8_t* pixels, int32_t width, int32_t height,
                  int32_t bytesPerRow, int32_t bitDepth, int32_t paletteCount,
                  const RGBQUAD* palette, int32_t colorType, double gamma, int32_t interlaceMethod,
                  const ResolutionRecord& resolution) {
  return RunEntry([&](OpContext& ctx) -> uint32_t {
    if (!CheckHandle(ctx, destination)) return 0;
    if (pixels == nullptr || width <= 0 || height <= 0 || bytesPerRow <= 0 || paletteCount < 0 ||
        paletteCount > 256 || (paletteCount > 0 && palette == nullptr)) {
      ctx.Fail(kErrInvalidArgument);
      return 0;
    }
    PngWriter writer;
    if (!writer.Created()) {
      ctx.Fail(kErrPngInternal);
      return 0;
    }
    png_structp png = writer.Png();
    png_infop info = writer.Info();
    if (!writer.Run([&] {
          png_set_write_fn(png, destination, WriteToDestination, FlushNothing);
          png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                       bitDepth, colorType, interlaceMethod, PNG_COMPRESSION_TYPE_DEFAULT,
                       PNG_FILTER_TYPE_DEFAULT);
        })) {
      ctx.Fail(kErrPngInternal);
      return 0;
    }
    // Rows shorter than the header says would make libpng read past the caller's buffer.
    if (static_cast<size_t>(bytesPerRow) < png_get_rowbytes(png, info)) {
      ctx.Fail(kErrInvalidArgument);
      return 0;
    }
    PngChunks chunks = PrepareChunks(colorType, paletteCount, palette, gamma, resolution);
    const bool photographic = LooksPhotographic(
        PngImage{pixels, width, height, bytesPerRow, bitDepth, colorType, interlaceMethod});
    std::vector<png_bytep> rows =
        RowPointers(pixels, static_cast<png_uint_32>(height), static_cast<size_t>(bytesPerRow));
    if (!writer.Run([&] {
          SetChunks(png, info, chunks);
          if (photographic) SetPhotoCompression(png);
          png_write_info(png, info);
          png_set_interlace_handling(png);
          png_write_image(png, rows.data());
          png_write_end(png, nullptr);
        })) {
      ctx.Fail(kErrPngInternal);
      return 0;
    }
    return DataSize(destination);
  });
}

}  // namespace vellum

#include "vellum/codecs/avif.h"

#include <avif/avif.h>

#include <algorithm>
#include <cstdint>
#include <memory>

#include "vellum/codecs/codec_entry.h"
#include "vellum/codecs/whole_file_codec.h"
#include "vellum/core/worker_pool.h"

namespace vellum {

namespace {

// The encoder's speed (0 slowest to 10 fastest), the AV1 encoders' usual default.
constexpr int kEncoderSpeed = 6;
constexpr int kWorstQuantizer = 63;

// The AV1 decoder and encoder run on as many threads as one imaging operation may use.
// Neither pixels nor files depend on the count: the encoder's threads share the tiles
// and the filters, and its row-based threading, whose files do depend on it, is off.
int CodecThreads() { return static_cast<int>(ParallelThreads()); }

struct DecoderDestroy {
  void operator()(avifDecoder* decoder) const { avifDecoderDestroy(decoder); }
};
using Decoder = std::unique_ptr<avifDecoder, DecoderDestroy>;

struct EncoderDestroy {
  void operator()(avifEncoder* encoder) const { avifEncoderDestroy(encoder); }
};
using Encoder = std::unique_ptr<avifEncoder, EncoderDestroy>;

struct ImageDestroy {
  void operator()(avifImage* image) const { avifImageDestroy(image); }
};
using Image = std::unique_ptr<avifImage, ImageDestroy>;

// Frees what libavif wrote into the data when the scope ends.
class OwnedData {
 public:
  OwnedData() = default;
  ~OwnedData() { avifRWDataFree(&data_); }
  OwnedData(const OwnedData&) = delete;
  OwnedData& operator=(const OwnedData&) = delete;
  avifRWData* Get() { return &data_; }

 private:
  avifRWData data_ = AVIF_DATA_EMPTY;
};

// A decoder over a whole file whose container has been parsed (the primary image's
// size, transforms and metadata are known, nothing is decoded yet); null when the file
// is not an AVIF image. `bytes` must outlive the decoder.
Decoder ParseFile(const std::vector<uint8_t>& bytes) {
  Decoder decoder(avifDecoderCreate());
  if (!decoder) return nullptr;
  decoder->maxThreads = CodecThreads();
  decoder->ignoreXMP = AVIF_TRUE;
  // Files from encoders that leave out boxes the format made mandatory later still load.
  decoder->strictFlags = AVIF_STRICT_DISABLED;
  // libavif refuses limits above its default.
  decoder->imageSizeLimit =
      static_cast<uint32_t>(std::min<uint64_t>(kMaxDecodedPixels, AVIF_DEFAULT_IMAGE_SIZE_LIMIT));
  if (avifDecoderSetIOMemory(decoder.get(), bytes.data(), bytes.size()) != AVIF_RESULT_OK ||
      avifDecoderParse(decoder.get()) != AVIF_RESULT_OK) {
    return nullptr;
  }
  return decoder;
}

// The decoded frame's pixels as 8-bit RGB into `rgb`, alpha composited as the PNG
// reader does.
bool ConvertToRgb(const avifImage* image, uint8_t* rgb) {
  avifRGBImage converted;
  avifRGBImageSetDefaults(&converted, image);
  converted.depth = 8;
  if (image->alphaPlane == nullptr) {
    converted.format = AVIF_RGB_FORMAT_RGB;
    converted.pixels = rgb;
    converted.rowBytes = image->width * 3;
    return avifImageYUVToRGB(image, &converted) == AVIF_RESULT_OK;
  }
  std::vector<uint8_t> rgba(size_t{image->width} * image->height * 4);
  converted.format = AVIF_RGB_FORMAT_RGBA;
  converted.pixels = rgba.data();
  converted.rowBytes = image->width * 4;
  if (avifImageYUVToRGB(image, &converted) != AVIF_RESULT_OK) return false;
  CompositeRgba(rgba.data(), image->width, image->height, rgb);
  return true;
}

GlobalBlock Decode(OpContext& ctx, DataHandle* source, ImageSize& size) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeSource(source, &bytes)) {
    ctx.Fail(kErrReadFile);
    return {};
  }
  const Decoder decoder = ParseFile(bytes);
  if (!decoder) {
    ctx.Fail(kErrBadAvif);
    return {};
  }
  const ImageSize decoded{decoder->image->width, decoder->image->height};
  if (!CheckDecodedSize(ctx, decoded.width, decoded.height)) return {};
  GlobalBlock rgb = AllocateImageBuffer(ctx, ImageBytes(decoded.width, decoded.height, 3), false);
  if (!rgb) return {};
  if (avifDecoderNextImage(decoder.get()) != AVIF_RESULT_OK ||
      decoder->image->width != decoded.width || decoder->image->height != decoded.height ||
      !ConvertToRgb(decoder->image, rgb.Data())) {
    ctx.Fail(kErrBadAvif);
    return {};
  }
  size = decoded;
  return rgb;
}

// Quality 100 is lossless: the colours kept as they are (identity matrix, no chroma
// subsampling, quantizer 0). Below it, 4:2:0 with the quantizer falling linearly from
// 63 at quality 0.
bool Encode(DataHandle* destination, const uint8_t* pixels, int32_t width, int32_t height,
            int32_t quality) {
  const bool lossless = quality >= kLosslessQuality;
  const Image image(
      avifImageCreate(static_cast<uint32_t>(width), static_cast<uint32_t>(height), 8,
                      lossless ? AVIF_PIXEL_FORMAT_YUV444 : AVIF_PIXEL_FORMAT_YUV420));
  if (!image) return false;
  image->colorPrimaries = AVIF_COLOR_PRIMARIES_BT709;
  image->transferCharacteristics = AVIF_TRANSFER_CHARACTERISTICS_SRGB;
  image->matrixCoefficients =
      lossless ? AVIF_MATRIX_COEFFICIENTS_IDENTITY : AVIF_MATRIX_COEFFICIENTS_BT601;
  image->yuvRange = AVIF_RANGE_FULL;
  avifRGBImage rgb;
  avifRGBImageSetDefaults(&rgb, image.get());
  rgb.format = AVIF_RGB_FORMAT_RGB;
  rgb.depth = 8;
  rgb.pixels = const_cast<uint8_t*>(pixels);  // only read when converting to YUV
  rgb.rowBytes = static_cast<uint32_t>(width) * 3;
  if (avifImageRGBToYUV(image.get(), &rgb) != AVIF_RESULT_OK) return false;
  const Encoder encoder(avifEncoderCreate());
  if (!encoder) return false;
  encoder->maxThreads = CodecThreads();
  avifEncoderSetCodecSpecificOption(encoder.get(), "row-mt", "0");
  encoder->speed = kEncoderSpeed;
  const int quantizer = lossless ? 0 : (100 - std::clamp(quality, 0, 100)) * kWorstQuantizer / 100;
  encoder->minQuantizer = encoder->maxQuantizer = quantizer;
  OwnedData output;
  return avifEncoderWrite(encoder.get(), image.get(), output.Get()) == AVIF_RESULT_OK &&
         WriteBytes(destination, output.Get()->data, output.Get()->size);
}

}  // namespace

HGLOBAL ReadAVIF(HISSRC source, int32_t* width, int32_t* height) {
  return RunReadEntry(source, width, height, true,
                      [&](OpContext& ctx, ImageSize& size) { return Decode(ctx, source, size); });
}

BOOL ReadAVIFInfo(HISSRC source, AvifInfo* info) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (!CheckSourceAndOutputs(ctx, source, info)) return FALSE;
    *info = {};
    std::vector<uint8_t> bytes;
    if (!ReadWholeSource(source, &bytes)) return ctx.Fail(kErrReadFile);
    const Decoder decoder = ParseFile(bytes);
    if (!decoder) return ctx.Fail(kErrBadAvif);
    const avifImage* image = decoder->image;
    info->width = static_cast<int32_t>(std::min<uint32_t>(image->width, INT32_MAX));
    info->height = static_cast<int32_t>(std::min<uint32_t>(image->height, INT32_MAX));
    if ((image->transformFlags & AVIF_TRANSFORM_IROT) != 0)
      info->quarterTurns = image->irot.angle & 3;
    if ((image->transformFlags & AVIF_TRANSFORM_IMIR) != 0) {
      info->mirror =
          image->imir.mode == 0 ? AvifInfo::Mirror::kTopBottom : AvifInfo::Mirror::kLeftRight;
    }
    info->exif.assign(image->exif.data, image->exif.data + image->exif.size);
    return TRUE;
  });
}

uint32_t WriteAVIF(HISDEST destination, const uint8_t* rgb, int32_t width, int32_t height,
                   int32_t quality) {
  const auto valid = [&] { return rgb != nullptr && width >= 1 && height >= 1; };
  return RunWriteEntry(destination, valid,
                       [&] { return Encode(destination, rgb, width, height, quality); });
}

}  // namespace vellum

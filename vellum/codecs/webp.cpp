#include "vellum/codecs/webp.h"

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>

#include <algorithm>
#include <memory>

#include "vellum/codecs/codec_entry.h"
#include "vellum/codecs/whole_file_codec.h"

namespace vellum {

namespace {

struct DemuxerDelete {
  void operator()(WebPDemuxer* demuxer) const { WebPDemuxDelete(demuxer); }
};
using Demuxer = std::unique_ptr<WebPDemuxer, DemuxerDelete>;

struct AnimDecoderDelete {
  void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};
using AnimDecoder = std::unique_ptr<WebPAnimDecoder, AnimDecoderDelete>;

// The first frame of an animation as libwebp composes it on the canvas: straight
// RGBA, width x height x 4 bytes, valid while the decoder lives.
const uint8_t* FirstFrame(const AnimDecoder& decoder) {
  uint8_t* frame = nullptr;
  int timestamp = 0;
  if (!WebPAnimDecoderHasMoreFrames(decoder.get()) ||
      !WebPAnimDecoderGetNext(decoder.get(), &frame, &timestamp)) {
    return nullptr;
  }
  return frame;
}

bool DecodeAnimation(const WebPData& file, const ImageSize& size, uint8_t* rgb) {
  WebPAnimDecoderOptions options;
  if (!WebPAnimDecoderOptionsInit(&options)) return false;
  options.color_mode = MODE_RGBA;
  const AnimDecoder decoder(WebPAnimDecoderNew(&file, &options));
  if (!decoder) return false;
  WebPAnimInfo info;
  if (!WebPAnimDecoderGetInfo(decoder.get(), &info) || info.canvas_width != size.width ||
      info.canvas_height != size.height) {
    return false;
  }
  const uint8_t* frame = FirstFrame(decoder);
  if (frame == nullptr) return false;
  CompositeRgba(frame, size.width, size.height, rgb);
  return true;
}

// A still image: straight into the RGB buffer, or through RGBA when it has alpha.
bool DecodeStill(const WebPData& file, const WebPBitstreamFeatures& features, const ImageSize& size,
                 uint8_t* rgb) {
  const size_t pixels = size_t{size.width} * size.height;
  if (!features.has_alpha) {
    return WebPDecodeRGBInto(file.bytes, file.size, rgb, pixels * 3,
                             static_cast<int>(size.width * 3)) != nullptr;
  }
  std::vector<uint8_t> rgba(pixels * 4);
  if (WebPDecodeRGBAInto(file.bytes, file.size, rgba.data(), rgba.size(),
                         static_cast<int>(size.width * 4)) == nullptr) {
    return false;
  }
  CompositeRgba(rgba.data(), size.width, size.height, rgb);
  return true;
}

GlobalBlock Decode(OpContext& ctx, DataHandle* source, ImageSize& size) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeSource(source, &bytes)) {
    ctx.Fail(kErrReadFile);
    return {};
  }
  WebPBitstreamFeatures features;
  if (WebPGetFeatures(bytes.data(), bytes.size(), &features) != VP8_STATUS_OK) {
    ctx.Fail(kErrBadWebp);
    return {};
  }
  const ImageSize decoded{static_cast<uint32_t>(features.width),
                          static_cast<uint32_t>(features.height)};
  if (!CheckDecodedSize(ctx, decoded.width, decoded.height)) return {};
  GlobalBlock rgb = AllocateImageBuffer(ctx, ImageBytes(decoded.width, decoded.height, 3), false);
  if (!rgb) return {};
  const WebPData file{bytes.data(), bytes.size()};
  const bool done = features.has_animation ? DecodeAnimation(file, decoded, rgb.Data())
                                           : DecodeStill(file, features, decoded, rgb.Data());
  if (!done) {
    ctx.Fail(kErrBadWebp);
    return {};
  }
  size = decoded;
  return rgb;
}

// libwebp hands the encoded file over in pieces; they go straight to the destination.
int WriteToDestination(const uint8_t* data, size_t size, const WebPPicture* picture) {
  return WriteBytes(static_cast<DataHandle*>(picture->custom_ptr), data, size) ? 1 : 0;
}

class Picture {
 public:
  Picture() { ready_ = WebPPictureInit(&picture_) != 0; }
  ~Picture() { WebPPictureFree(&picture_); }
  Picture(const Picture&) = delete;
  Picture& operator=(const Picture&) = delete;
  bool Ready() const { return ready_; }
  WebPPicture* Get() { return &picture_; }

 private:
  WebPPicture picture_;
  bool ready_ = false;
};

bool Encode(DataHandle* destination, const uint8_t* rgb, int32_t width, int32_t height,
            int32_t quality) {
  WebPConfig config;
  if (!WebPConfigInit(&config)) return false;
  config.lossless = quality >= kLosslessQuality ? 1 : 0;
  if (!config.lossless) config.quality = static_cast<float>(std::clamp(quality, 0, 100));
  Picture picture;
  if (!picture.Ready()) return false;
  WebPPicture* p = picture.Get();
  p->use_argb = config.lossless;
  p->width = width;
  p->height = height;
  p->writer = WriteToDestination;
  p->custom_ptr = destination;
  return WebPPictureImportRGB(p, rgb, width * 3) && WebPEncode(&config, p);
}

}  // namespace

HGLOBAL ReadWEBP(HISSRC source, int32_t* width, int32_t* height) {
  return RunReadEntry(source, width, height, true,
                      [&](OpContext& ctx, ImageSize& size) { return Decode(ctx, source, size); });
}

BOOL ReadWEBPInfo(HISSRC source, int32_t* width, int32_t* height, std::vector<uint8_t>* exif) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (!CheckSourceAndOutputs(ctx, source, width, height, exif)) return FALSE;
    *width = *height = 0;
    exif->clear();
    std::vector<uint8_t> bytes;
    if (!ReadWholeSource(source, &bytes)) return ctx.Fail(kErrReadFile);
    const WebPData file{bytes.data(), bytes.size()};
    const Demuxer demuxer(WebPDemux(&file));
    if (!demuxer) return ctx.Fail(kErrBadWebp);
    *width = static_cast<int32_t>(WebPDemuxGetI(demuxer.get(), WEBP_FF_CANVAS_WIDTH));
    *height = static_cast<int32_t>(WebPDemuxGetI(demuxer.get(), WEBP_FF_CANVAS_HEIGHT));
    WebPChunkIterator chunk;
    if (WebPDemuxGetChunk(demuxer.get(), "EXIF", 1, &chunk)) {
      exif->assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
      WebPDemuxReleaseChunkIterator(&chunk);
    }
    return TRUE;
  });
}

uint32_t WriteWEBP(HISDEST destination, const uint8_t* rgb, int32_t width, int32_t height,
                   int32_t quality) {
  const auto valid = [&] {
    return rgb != nullptr && width >= 1 && width <= WEBP_MAX_DIMENSION && height >= 1 &&
           height <= WEBP_MAX_DIMENSION;
  };
  return RunWriteEntry(destination, valid,
                       [&] { return Encode(destination, rgb, width, height, quality); });
}

}  // namespace vellum

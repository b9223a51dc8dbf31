#include "vellum/codecs/whole_file_codec.h"

namespace vellum {

bool ReadWholeSource(DataHandle* source, std::vector<uint8_t>* bytes) {
  const uint32_t size = DataSize(source);
  bytes->resize(size);
  return size > 0 && Rewind(source) && ReadExactly(source, bytes->data(), size);
}

bool CheckDecodedSize(OpContext& ctx, uint32_t width, uint32_t height) {
  if (width == 0 || height == 0) return ctx.Fail(kErrInvalidArgument);
  if (!CheckPixelLimit(ctx, width, height)) return false;
  if (ImageBytes(width, height, 3) > kMaxImageBufferBytes) return ctx.Fail(kErrNoMemory);
  return true;
}

void CompositeRgba(const uint8_t* rgba, uint32_t width, uint32_t height, uint8_t* rgb) {
  const PngColor16& background = CurrentThreadRecord().png.defaultBackground;
  const uint32_t under[3] = {background.red & 0xFFu, background.green & 0xFFu,
                             background.blue & 0xFFu};
  const size_t pixels = size_t{width} * height;
  for (size_t i = 0; i < pixels; ++i, rgba += 4, rgb += 3) {
    const uint32_t alpha = rgba[3];
    for (int c = 0; c < 3; ++c) {
      rgb[c] = static_cast<uint8_t>((rgba[c] * alpha + under[c] * (255 - alpha) + 127) / 255);
    }
  }
}

}  // namespace vellum

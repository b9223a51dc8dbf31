// The Easel's creation methods: a new working image in one colour or a gradient.
#include "platform/kernel/global_memory.h"
#include "vellum/easel_editing.h"
#include "vellum/pixelops/drawing.h"
#include "vellum/pixelops/gradients.h"

namespace vellum {

namespace {

using GradientFill = BOOL (*)(uint8_t* rgb, uint32_t width, uint32_t height, COLORREF begin,
                              COLORREF end, int32_t direction);

// Paints a width x height image with a one-way or two-way gradient.
auto Gradient(GradientFill fill, LONG width, LONG height, LONG begin, LONG end, int32_t direction) {
  return [=](uint8_t* pixels) {
    return fill(pixels, static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                static_cast<COLORREF>(begin), static_cast<COLORREF>(end), direction);
  };
}

}  // namespace

template <typename Fill>
HRESULT Easel::CreateFilledImage(LONG width, LONG height, Fill fill) {
  if (width < 0 || height < 0) return E_INVALIDARG;
  ReplaceImage(nullptr, 0, 0);
  const uint64_t bytes = ImageBytes(width, height, 3);
  HGLOBAL image = bytes <= kMaxImageBufferBytes ? GlobalAlloc(GHND, bytes) : nullptr;
  if (image == nullptr) return E_FAIL;
  InstallRgbImage(image, static_cast<uint32_t>(width), height);
  imageFormat_ = eziBMP;
  const BlockLock pixels(image);
  return fill(pixels.Data()) ? S_OK : E_FAIL;
}

HRESULT Easel::CreateImage(LONG Width, LONG Height, LONG Color) {
  if (!IsColorValue(Color)) return E_INVALIDARG;
  return CreateFilledImage(Width, Height, [&](uint8_t* pixels) {
    return FillRectangle(pixels, static_cast<uint32_t>(Width), static_cast<uint32_t>(Height), 0, 0,
                         Width, Height, static_cast<COLORREF>(Color));
  });
}

HRESULT Easel::CreateGradientImage(LONG Width, LONG Height, LONG BeginColor, LONG EndColor,
                                   EZImageGradientDirection Direction) {
  if (!IsColorValue(BeginColor) || !IsColorValue(EndColor)) return E_INVALIDARG;
  return CreateFilledImage(Width, Height,
                           Gradient(&FillGradient, Width, Height, BeginColor, EndColor, Direction));
}

HRESULT Easel::CreateTwoWayGradientImage(LONG Width, LONG Height, LONG BeginColor, LONG EndColor,
                                         EZImageGradientDirection Direction) {
  if (!IsColorValue(BeginColor) || !IsColorValue(EndColor)) return E_INVALIDARG;
  return CreateFilledImage(
      Width, Height, Gradient(&FillTwoWayGradient, Width, Height, BeginColor, EndColor, Direction));
}

}  // namespace vellum

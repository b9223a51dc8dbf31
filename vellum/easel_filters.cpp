// The Easel's tonal filters (sharpen, blur, brightness, invert) and drawing
// (rectangles, ellipses, lines), all on the working image in place or by replacement.
#include "platform/kernel/global_memory.h"
#include "vellum/easel_editing.h"
#include "vellum/pixelops/drawing.h"
#include "vellum/pixelops/filters.h"

namespace vellum {

namespace {

constexpr SHORT kMinFilterLevel = 1;
constexpr SHORT kMaxFilterLevel = 100;

// Levels strictly between these leave the image as it is.
constexpr double kUnchangedBrightnessLow = 0.9999;
constexpr double kUnchangedBrightnessHigh = 1.0001;

// True when [start, start + length) lies within 0 .. limit (no sum overflows).
bool SpanFits(LONG start, LONG length, int64_t limit) {
  return start >= 0 && length >= 0 && int64_t{start} + length <= limit;
}

}  // namespace

template <typename Edit>
HRESULT Easel::EditInPlace(std::u16string_view failureMessage, Edit edit) {
  return RunEditing([&] {
    NormalizeForEditing();
    BOOL edited = FALSE;
    {
      const BlockLock pixels(image_);
      edited = edit(pixels.Data());
    }
    if (!edited) ReportFailure(failureMessage, 0, CoreLastError());
    return S_OK;
  });
}

// The neighbourhood filter of SharpenImage and BlurImage: the filtered copy replaces
// the working image.
HRESULT Easel::FilterImage(SHORT level, int32_t kind, std::u16string_view levelMessage) {
  return RunEditing([&] {
    if (level < kMinFilterLevel || level > kMaxFilterLevel) ReportFailure(levelMessage);
    NormalizeForEditing();
    GlobalBlock result = AllocateRgbResult(width_, static_cast<uint32_t>(height_));
    {
      const BlockLock source(image_);
      const BlockLock destination(result.Handle());
      RunOperation(*this, [&] {
        return FilterNeighbourhood(source.Data(), destination.Data(), width_,
                                   static_cast<uint32_t>(height_), level, kind);
      });
    }
    InstallRgbImage(result.Release(), width_, height_);
    return S_OK;
  });
}

HRESULT Easel::SharpenImage(SHORT p_iSharpeningLevel) {
  return FilterImage(p_iSharpeningLevel, kSharpen, u"Sharpening level is incorrect");
}

HRESULT Easel::BlurImage(SHORT p_iLevel) {
  return FilterImage(p_iLevel, kBlur, u"Blur level is incorrect");
}

HRESULT Easel::ChangeBrightness(double p_fLevel) {
  if (!(p_fLevel >= 0)) return E_INVALIDARG;
  if (p_fLevel > kUnchangedBrightnessLow && p_fLevel < kUnchangedBrightnessHigh) return S_OK;
  return EditInPlace(u"Can not change brightness", [&](uint8_t* pixels) {
    return AdjustGamma(pixels, width_, static_cast<uint32_t>(height_), p_fLevel);
  });
}

// Every byte of the block, whatever form the image is in: no normalization first.
HRESULT Easel::InvertImage() {
  return RunEditing([&] {
    RequireImage();
    const BlockLock pixels(image_);
    InvertBytes(pixels.Data(), GlobalSize(image_));
    return S_OK;
  });
}

HRESULT Easel::FillRectInImage(LONG p_lLeft, LONG p_lTop, LONG p_lWidth, LONG p_lHeight,
                               LONG p_lColor) {
  if (!SpanFits(p_lLeft, p_lWidth, width_) || !SpanFits(p_lTop, p_lHeight, height_) ||
      !IsColorValue(p_lColor)) {
    return E_INVALIDARG;
  }
  return EditInPlace(u"Can not fill the rect", [&](uint8_t* pixels) {
    return FillRectangle(pixels, width_, static_cast<uint32_t>(height_), p_lLeft, p_lTop, p_lWidth,
                         p_lHeight, static_cast<COLORREF>(p_lColor));
  });
}

HRESULT Easel::DrawEllipseOnImage(LONG p_lXCenter, LONG p_lYCenter, LONG p_lHorizRadius,
                                  LONG p_lVertRadius, LONG p_bFill, LONG p_lColor) {
  if (!IsColorValue(p_lColor) || p_lXCenter < 0 || p_lYCenter < 0) return E_INVALIDARG;
  return EditInPlace(u"Can not draw ellipce", [&](uint8_t* pixels) {
    const auto draw = p_bFill != 0 ? &FillEllipse : &DrawEllipse;
    return draw(pixels, width_, static_cast<uint32_t>(height_), 3, static_cast<COLORREF>(p_lColor),
                p_lXCenter, p_lYCenter, p_lHorizRadius, p_lVertRadius);
  });
}

// An end point may lie on the column or row just past the image; DrawLine skips it.
HRESULT Easel::DrawLineOnImage(LONG p_lStartX, LONG p_lStartY, LONG p_lEndX, LONG p_lEndY,
                               LONG p_lColor) {
  const auto inX = [&](LONG x) { return x >= 0 && int64_t{x} <= int64_t{width_}; };
  const auto inY = [&](LONG y) { return y >= 0 && y <= height_; };
  if (!inX(p_lStartX) || !inX(p_lEndX) || !inY(p_lStartY) || !inY(p_lEndY) ||
      !IsColorValue(p_lColor)) {
    return E_INVALIDARG;
  }
  return EditInPlace(u"Can not draw the line", [&](uint8_t* pixels) {
    return DrawLine(pixels, width_, static_cast<uint32_t>(height_), 3,
                    static_cast<COLORREF>(p_lColor), p_lStartX, p_lStartY, p_lEndX, p_lEndY, 0);
  });
}

}  // namespace vellum

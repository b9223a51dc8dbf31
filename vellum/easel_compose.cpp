// MergeWithImage and AddWatermark: a second image, loaded into a private Easel,
// blended onto the working image at one opacity.
#include "platform/com/object.h"
#include "vellum/core/blend.h"
#include "vellum/easel_editing.h"

namespace vellum {

namespace {

struct Placement {
  int32_t x;
  int32_t y;
};

bool IsOpacity(double opacity) { return opacity >= 0 && opacity <= 1; }  // NaN is not

// Where AddWatermark puts a width x height overlay on an imageWidth x imageHeight image.
// The halves are taken of the unsigned differences, so an overlay larger than the
// image lands far outside it and the blend clips it away.
Placement WatermarkPlacement(EZWatermarkPosition position, uint32_t imageWidth,
                             uint32_t imageHeight, uint32_t width, uint32_t height) {
  const uint32_t right = imageWidth - width;
  const uint32_t bottom = imageHeight - height;
  const uint32_t columns[3] = {0, right >> 1, right};  // left, middle, right
  const uint32_t rows[3] = {0, bottom >> 1, bottom};   // top, center, bottom
  // Positions come in threes (middle, left, right), each top, center, bottom.
  constexpr int kColumnOfGroup[3] = {1, 0, 2};
  return {static_cast<int32_t>(columns[kColumnOfGroup[position / 3]]),
          static_cast<int32_t>(rows[position % 3])};
}

}  // namespace

template <typename Place>
HRESULT Easel::BlendOverlay(VARIANT image, LONG shrinkToFit, double opacity, COLORREF transparent,
                            bool returnLoadFailure, Place place) {
  RequireRgbPixels();
  ComPtr<IEasel> created;
  if (FAILED(CreateComObject<Easel>(nullptr, IID_IEasel, created.ReceiveVoid()))) {
    ReportFailure(u"Not enough memory to perform the operation");
  }
  Easel& overlay = *static_cast<Easel*>(created.Get());
  overlay.autoOrient_ = autoOrient_;
  const HRESULT loaded = overlay.LoadImage(image);
  if (FAILED(loaded)) return returnLoadFailure ? loaded : S_OK;
  if (shrinkToFit != 0 && (overlay.width_ > width_ || overlay.height_ > height_)) {
    const HRESULT shrunk = overlay.ResizeImage(static_cast<LONG>(width_), height_, eziBilinear, 1);
    if (FAILED(shrunk)) return shrunk;
  }
  const auto [x, y] = place(overlay.width_, static_cast<uint32_t>(overlay.height_));
  if (!overlay.NormalizeImage(0, nullptr)) return S_OK;
  BOOL blended = FALSE;
  {
    const BlockLock destination(image_);
    const BlockLock source(overlay.image_);
    blended = BlendWithOpacity(
        destination.Data(), width_, static_cast<uint32_t>(height_), source.Data(), overlay.width_,
        static_cast<uint32_t>(overlay.height_), x, y, opacity, transparent, 0);
  }
  if (!blended) ReportFailure(u"Can not merge images", 0, CoreLastError());
  return S_OK;
}

HRESULT Easel::MergeWithImage(LONG p_iX, LONG p_iY, VARIANT p_vImage, double p_fOpacity,
                              LONG p_iTransColor, LONG ShrinkToFit) {
  if (!IsOpacity(p_fOpacity) || !IsColorValue(p_iTransColor)) return E_INVALIDARG;
  return RunReporting([&] {
    RequireImage();
    return BlendOverlay(p_vImage, ShrinkToFit, p_fOpacity, static_cast<COLORREF>(p_iTransColor),
                        true, [&](uint32_t, uint32_t) {
                          return Placement{p_iX, p_iY};
                        });
  });
}

HRESULT Easel::AddWatermark(VARIANT Watermark, EZWatermarkPosition Position, double Opacity,
                            LONG TransitionColor, LONG ShrinkToFit) {
  if (!IsOpacity(Opacity)) {
    return ReportArgumentError(u"Opacity must be greater than 0 and less than 1");
  }
  if (!IsColorValue(TransitionColor)) return E_INVALIDARG;
  // A position outside the table has no placement.
  if (Position < eziTopMiddle || Position > eziBottomRight) return E_INVALIDARG;
  return RunEditing([&] {
    RequireImage();
    return BlendOverlay(Watermark, ShrinkToFit, Opacity, static_cast<COLORREF>(TransitionColor),
                        false, [&](uint32_t width, uint32_t height) {
                          return WatermarkPlacement(Position, width_,
                                                    static_cast<uint32_t>(height_), width, height);
                        });
  });
}

}  // namespace vellum

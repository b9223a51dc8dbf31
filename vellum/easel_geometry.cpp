// The Easel's geometry methods: rotating, flipping, cropping, resizing and thumbnails.
#include <cmath>
#include <numbers>
#include <utility>

#include "platform/kernel/global_memory.h"
#include "vellum/core/flip_crop.h"
#include "vellum/core/resample.h"
#include "vellum/core/rotate.h"
#include "vellum/easel_editing.h"

namespace vellum {

namespace {

constexpr uint32_t kLastFilterKind = 13;

// trunc(value) as a LONG; values beyond the range saturate and NaN gives 0, where the
// plain conversion would be undefined.
LONG TruncateToLong(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return 2147483647;
  if (value <= -2147483648.0) return -2147483647 - 1;
  return static_cast<LONG>(value);
}

// ResizeImage's proportions for a current size of width x height (both nonzero): the
// smaller ratio wins, a zero width follows the height and a zero height the width.
// The ratios are rounded to single precision where scripts have always seen them so.
void FitInside(uint32_t currentWidth, int32_t currentHeight, LONG& width, LONG& height) {
  const auto widthRatio = static_cast<float>(static_cast<double>(width) / currentWidth);
  const auto heightAsFloat = static_cast<float>(currentHeight);
  const double heightRatio = static_cast<double>(height) / currentHeight;
  if (width == 0 || (height != 0 && heightRatio < widthRatio)) {
    width = TruncateToLong(currentWidth * heightRatio);
  } else {
    // The product of two floats is exact in double precision.
    height = TruncateToLong(static_cast<double>(heightAsFloat) * widthRatio);
  }
}

// CreateThumbnail's proportions: the larger ratio wins, so the thumbnail covers the
// requested box; a negative size always loses.
void Cover(uint32_t currentWidth, int32_t currentHeight, LONG& width, LONG& height) {
  const double widthRatio = static_cast<double>(width) / currentWidth;
  const auto heightRatio = static_cast<float>(static_cast<double>(height) / currentHeight);
  if (widthRatio >= heightRatio) {
    height = TruncateToLong(static_cast<double>(static_cast<float>(currentHeight)) *
                            static_cast<float>(widthRatio));
  } else {
    width = TruncateToLong(currentWidth * static_cast<double>(heightRatio));
  }
}

}  // namespace

std::pair<LONG, LONG> ThumbnailSize(uint32_t currentWidth, int32_t currentHeight, LONG width,
                                    LONG height, bool keepProportions) {
  if (keepProportions && currentWidth != 0 && currentHeight > 0) {
    Cover(currentWidth, currentHeight, width, height);
    FitInside(currentWidth, currentHeight, width, height);
  }
  return {width, height};
}

HRESULT Easel::RotateImage(SHORT p_iDegrees, LONG p_lBackColor) {
  if (!IsColorValue(p_lBackColor)) return E_INVALIDARG;
  if (p_iDegrees == 0 || p_iDegrees == 360) return S_OK;
  if (p_iDegrees < 0 || p_iDegrees > 360) return E_INVALIDARG;
  return RunEditing([&] {
    RequireImage();
    NormalizeForEditing();
    const auto height = static_cast<uint32_t>(height_);
    if (p_iDegrees == 90 || p_iDegrees == 180 || p_iDegrees == 270) {
      const int32_t kind = p_iDegrees == 90    ? kRotate90Clockwise
                           : p_iDegrees == 180 ? kRotate180
                                               : kRotate90CounterClockwise;
      BOOL rotated = FALSE;
      {
        const BlockLock pixels(image_);
        rotated = RotateRightAngle(pixels.Data(), width_, height, kind);
      }
      if (!rotated) ReportFailure(u"Can not rotate the image", 0, CoreLastError());
      if (kind != kRotate180) {
        height_ = static_cast<int32_t>(std::exchange(width_, height));
      }
      return S_OK;
    }
    const double radians = p_iDegrees * std::numbers::pi / 180;
    uint32_t width = 0;
    uint32_t rotatedHeight = 0;
    HGLOBAL rotated = nullptr;
    {
      const BlockLock pixels(image_);
      rotated = RotateByAngle(pixels.Data(), width_, height, radians,
                              static_cast<COLORREF>(p_lBackColor), &width, &rotatedHeight);
    }
    if (rotated == nullptr) ReportFailure(u"Can not rotate the image", 0, CoreLastError());
    InstallRgbImage(rotated, width, static_cast<int32_t>(rotatedHeight));
    return S_OK;
  });
}

HRESULT Easel::FlipImage(EZImageFlipType p_iFlipType) {
  return RunEditing([&] {
    RequireImage();
    NormalizeForEditing();
    const auto height = static_cast<uint32_t>(height_);
    BOOL flipped = FALSE;
    {
      const BlockLock pixels(image_);
      if (p_iFlipType == eziFlipHorizontal) {
        flipped = FlipHorizontal(pixels.Data(), width_, height, 3);
      } else if (p_iFlipType == eziFlipVertical) {
        flipped = FlipVertical(pixels.Data(), size_t{width_} * 3, height);
      }
    }
    if (!flipped) {
      // An unknown kind called nothing, so there is no core error to add.
      const bool known = p_iFlipType == eziFlipHorizontal || p_iFlipType == eziFlipVertical;
      ReportFailure(u"Can not flip the image", 0, known ? CoreLastError() : kOk);
    }
    return S_OK;
  });
}

HRESULT Easel::CropImage(LONG p_lLeft, LONG p_lTop, LONG p_lWidth, LONG p_lHeight) {
  if (p_lLeft < 0 || p_lTop < 0 || p_lWidth < 0 || p_lHeight < 0 ||
      int64_t{p_lLeft} + p_lWidth > int64_t{width_} || int64_t{p_lTop} + p_lHeight > height_) {
    return E_INVALIDARG;
  }
  return RunEditing([&] {
    NormalizeForEditing();
    GlobalBlock result = AllocateRgbResult(p_lWidth, p_lHeight);
    {
      const BlockLock source(image_);
      const BlockLock destination(result.Handle());
      RunOperation(*this, [&] {
        return Crop(source.Data(), width_, static_cast<uint32_t>(height_), destination.Data(),
                    p_lLeft, p_lTop, p_lWidth, p_lHeight);
      });
    }
    InstallRgbImage(result.Release(), p_lWidth, p_lHeight);
    return S_OK;
  });
}

HRESULT Easel::ResizeImage(LONG Width, LONG Height, EZImageResizeAlgorithm p_iAlgorithm,
                           LONG MaintainProportions) {
  return RunEditing([&] { return Resize(Width, Height, p_iAlgorithm, MaintainProportions); });
}

HRESULT Easel::Resize(LONG width, LONG height, LONG algorithm, LONG keepProportions) {
  if (width < 0 || height < 0) return E_INVALIDARG;
  // Without a size to keep there are no proportions; the missing image is reported below.
  if (keepProportions != 0 && width_ != 0 && height_ > 0) {
    FitInside(width_, height_, width, height);
  }
  if (algorithm > eziFilterImage) {
    ReportFailure(u"This image resizing algorithm is not supported");
  }
  RequireImage();
  RequireRgbPixels();
  GlobalBlock result = AllocateRgbResult(width, height);
  if (algorithm == eziFilterImage && static_cast<uint32_t>(resizeFilter_) > kLastFilterKind) {
    return ReportArgumentError(u"Invalid ResizeFilter");
  }
  if (algorithm < 0) ReportFailure(u"Operation failed", 0, 0, E_FAIL);  // nothing to call
  {
    const BlockLock source(image_);
    const BlockLock destination(result.Handle());
    const uint8_t* from = source.Data();
    const auto fromHeight = static_cast<uint32_t>(height_);
    uint8_t* to = destination.Data();
    const auto toWidth = static_cast<uint32_t>(width);
    const auto toHeight = static_cast<uint32_t>(height);
    RunOperation(*this, [&] {
      switch (algorithm) {
        case eziBilinear:
          return ResizeBilinear(from, width_, fromHeight, to, toWidth, toHeight);
        case eziNearestNeighbor:
          return ResizeNearest(from, width_, fromHeight, 3, to, toWidth, toHeight);
        case eziBicubic:
          return ResizeBicubic(from, width_, fromHeight, to, toWidth, toHeight);
        default:
          return ResizeFiltered(from, width_, fromHeight, to, toWidth, toHeight, 3, resizeFilter_);
      }
    });
  }
  InstallRgbImage(result.Release(), width, height);
  return S_OK;
}

HRESULT Easel::CreateThumbnail(LONG Width, LONG Height, EZImageResizeAlgorithm ResizeAlgorithm,
                               LONG MaintainProportions) {
  if (Width < 0 && Height < 0) return ReportArgumentError(u"Either Width or Height must be set");
  return RunEditing([&] {
    // Without an image the ratios are undefined; report what ResizeImage would.
    RequireImage();
    if (MaintainProportions != 0 && width_ != 0 && height_ > 0) {
      Cover(width_, height_, Width, Height);
    }
    ResizeImage(Width, Height, ResizeAlgorithm, MaintainProportions);
    return S_OK;
  });
}

// A JPEG is decoded reduced (see ReadReducedJpeg), then brought to the size the full
// image would have given; any other image is loaded whole and thumbnailed as
// CreateThumbnail does, pixel for pixel.
HRESULT Easel::LoadThumbnail(VARIANT Image, LONG Width, LONG Height,
                             EZImageResizeAlgorithm ResizeAlgorithm, LONG MaintainProportions) {
  if (Width < 0 && Height < 0) return ReportArgumentError(u"Either Width or Height must be set");
  thumbnailLoad_ = ThumbnailLoad{Width, Height, MaintainProportions != 0};
  const HRESULT loaded = LoadImage(Image);
  const ThumbnailLoad load = *thumbnailLoad_;
  thumbnailLoad_.reset();
  if (FAILED(loaded)) return loaded;
  if (load.targetWidth == 0) {
    return CreateThumbnail(Width, Height, ResizeAlgorithm, MaintainProportions);
  }
  // As CreateThumbnail: the resize's own failures are in ErrorDescription.
  ResizeImage(load.targetWidth, load.targetHeight, ResizeAlgorithm, 0);
  return S_OK;
}

}  // namespace vellum

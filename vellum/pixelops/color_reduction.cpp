#include "vellum/pixelops/color_reduction.h"

#include "vellum/core/image_buffer.h"
#include "vellum/pixelops/dithering.h"
#include "vellum/pixelops/octree_quantizer.h"

namespace vellum {

namespace {

constexpr uint32_t kSavePaletteEntries = 256;

struct Reduction {
  GlobalBlock pixels;
  int32_t bitsPerPixel = 8;
  int32_t paletteCount = 0;
};

// Formats whose 16-colour images go on packed four bits per pixel: to the writer, or to
// the expansion back to 24 bits of the formats that hold 24-bit pictures only.
bool PacksSixteenColors(int32_t format) {
  return format == kSaveBmp || format == kSaveJpeg || format == kSaveWmf || format == kSaveEmf ||
         format == kSavePsd || format == kSaveWebp || format == kSaveAvif;
}

// Formats that store a gray-scale image without a palette.
bool TakesGrayImage(int32_t format) { return format == kSaveJpeg || format == kSavePng; }

void ResetSavePalette(RGBQUAD* savePalette) {
  for (uint32_t i = 0; i < kSavePaletteEntries; ++i) savePalette[i] = RGBQUAD{0, 0, 0, 255};
}

// One index per pixel onto `colors` entries of the save palette, chosen by `method`.
bool MapToPalette(OpContext& ctx, const uint8_t* rgb, uint32_t width, uint32_t height,
                  int32_t method, uint32_t colors, const Palette& defaultPalette,
                  RGBQUAD* savePalette, uint8_t* indices) {
  for (uint32_t i = 0; i < colors; ++i) {
    savePalette[i].rgbBlue = defaultPalette[i].rgbBlue;
    savePalette[i].rgbGreen = defaultPalette[i].rgbGreen;
    savePalette[i].rgbRed = defaultPalette[i].rgbRed;
  }
  switch (method) {
    case kSelectQuantize:
      return QuantizeOctree(ctx, rgb, width, height, indices, static_cast<int32_t>(colors),
                            savePalette);
    case kSelectBestFit:
      return MapToNearestColor(ctx, rgb, width, height, savePalette, colors, indices);
    case kSelectBestFitDithered:
      return MapPaletteDithered(ctx, rgb, width, height, indices, savePalette, colors);
    default:
      return ctx.Fail(kErrInvalidArgument);
  }
}

bool ReduceToPalette(OpContext& ctx, const uint8_t* rgb, uint32_t width, uint32_t height,
                     int32_t method, uint32_t colors, const Palette& defaultPalette,
                     RGBQUAD* savePalette, Reduction& out) {
  out.pixels = AllocateImageBuffer(ctx, ImageBytes(width, height, 1));
  out.bitsPerPixel = 8;
  out.paletteCount = static_cast<int32_t>(colors);
  return out.pixels && MapToPalette(ctx, rgb, width, height, method, colors, defaultPalette,
                                    savePalette, out.pixels.Data());
}

// Two pixels per byte, each row starting on a byte.
bool PackToFourBits(OpContext& ctx, uint32_t width, uint32_t height, Reduction& image) {
  const size_t stride = (size_t{width} + 1) / 2;
  GlobalBlock packed = AllocateImageBuffer(ctx, ImageBytes(stride, height, 1));
  if (!packed || !PackIndices(ctx, image.pixels.Data(), width, height, 4, packed.Data(), stride)) {
    return false;
  }
  image.pixels = std::move(packed);
  image.bitsPerPixel = 4;
  return true;
}

bool ReduceToGray(OpContext& ctx, const uint8_t* rgb, uint32_t width, uint32_t height,
                  int32_t format, RGBQUAD* savePalette, Reduction& out) {
  out.pixels = AllocateImageBuffer(ctx, ImageBytes(width, height, 1));
  out.bitsPerPixel = 8;
  if (!out.pixels) return false;
  if (TakesGrayImage(format)) {
    out.paletteCount = 0;
    return RgbToGray(ctx, rgb, width, height, out.pixels.Data());
  }
  out.paletteCount = kSavePaletteEntries;
  if (!QuantizeOctree(ctx, rgb, width, height, out.pixels.Data(), kSavePaletteEntries,
                      savePalette)) {
    return false;
  }
  for (uint32_t i = 0; i < kSavePaletteEntries; ++i) {
    RGBQUAD& entry = savePalette[i];
    const BYTE gray = static_cast<BYTE>((entry.rgbRed + entry.rgbGreen + entry.rgbBlue) / 3);
    entry = RGBQUAD{gray, gray, gray, 0};
  }
  return true;
}

bool Reduce(OpContext& ctx, const uint8_t* rgb, uint32_t width, uint32_t height, int32_t resolution,
            int32_t method, int32_t format, const Palette& defaultPalette, RGBQUAD* savePalette,
            Reduction& out) {
  switch (resolution) {
    case kColor256:
      return ReduceToPalette(ctx, rgb, width, height, method, 256, defaultPalette, savePalette,
                             out);
    case kColor16:
      return ReduceToPalette(ctx, rgb, width, height, method, 16, defaultPalette, savePalette,
                             out) &&
             (!PacksSixteenColors(format) || PackToFourBits(ctx, width, height, out));
    case kColorGrayScale:
      return ReduceToGray(ctx, rgb, width, height, format, savePalette, out);
    default:
      return ctx.Fail(kErrInvalidArgument);
  }
}

}  // namespace

HGLOBAL ReduceColorsForSave(const uint8_t* rgb, uint32_t width, uint32_t height, int32_t resolution,
                            int32_t method, int32_t format, const Palette& defaultPalette,
                            RGBQUAD* savePalette, int32_t* bitsPerPixel, int32_t* paletteCount) {
  return RunEntry([&](OpContext& ctx) -> HGLOBAL {
    if (rgb == nullptr || savePalette == nullptr || bitsPerPixel == nullptr ||
        paletteCount == nullptr) {
      ctx.Fail(kErrInvalidArgument);
      return nullptr;
    }
    ResetSavePalette(savePalette);
    Reduction reduction;
    if (!Reduce(ctx, rgb, width, height, resolution, method, format, defaultPalette, savePalette,
                reduction)) {
      return nullptr;
    }
    *bitsPerPixel = reduction.bitsPerPixel;
    *paletteCount = reduction.paletteCount;
    return reduction.pixels.Release();
  });
}

}  // namespace vellum

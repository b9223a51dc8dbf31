// The colour reduction the save step runs before it hands pixels to a writer:
// which image, depth and palette each colour resolution, selection method and
// file format get.
#pragma once

#include <cstdint>

#include "platform/kernel/win_types.h"
#include "vellum/core/conversions.h"

namespace vellum {

// Colour resolutions a script chooses (EZImageColorResolution).
enum ColorResolution : int32_t {
  kColorGrayScale = 1,
  kColor16 = 4,
  kColor256 = 8,
  kColorTrue = 24,  // no reduction
};

// How the colours of a 16- or 256-colour image are chosen (EZIImageColorSelectMethod).
enum ColorSelectMethod : int32_t {
  kSelectQuantize = 0,         // adaptive octree palette, dithered
  kSelectBestFit = 1,          // nearest default-palette colour
  kSelectBestFitDithered = 2,  // default palette with error diffusion
};

// File formats as the save step numbers them (the automation layer's EZImageFormat).
enum SaveFormat : int32_t {
  kSaveBmp = 1,
  kSaveGif = 2,
  kSaveJpeg = 3,
  kSavePng = 4,
  kSavePcx = 5,
  kSaveTiff = 6,
  kSaveWmf = 7,
  kSaveEmf = 8,
  kSavePsd = 9,
  kSaveWebp = 11,
  kSaveAvif = 12,
};

// Reduces a width x height RGB image for saving in `format` and returns the new
// image as a fixed global block the caller owns, with its depth and palette count:
//
//   resolution 8: one index per pixel, depth 8, 256 entries. `method` picks the
//     palette: octree quantization (written over the default colours), or the
//     256 default colours mapped nearest or dithered.
//   resolution 4: as for 8 with 16 colours and the first 16 default entries. For
//     BMP, JPEG, WMF, EMF, PSD, WebP and AVIF the rows are then packed two pixels per byte
//     (high nibble first, (width + 1) / 2 bytes per row), depth 4; other formats
//     keep depth 8 with a 16-entry palette.
//   resolution 1: JPEG and PNG get one gray byte per pixel, depth 8, palette
//     count 0 (a palette-less gray image). Other formats get a 256-colour octree
//     quantization whose entries are then replaced by their mean gray
//     (red + green + blue) / 3 with reserved byte 0; depth 8, 256 entries.
//
// `savePalette` (at least 256 entries) is rewritten whole: every entry starts
// black with reserved byte 255, then receives the colours above.
// Resolution 24 (no reduction) and any other value, a method outside 0..2 at
// resolution 4 or 8, or a null pointer are code 5; a failed allocation is code 1.
HGLOBAL ReduceColorsForSave(const uint8_t* rgb, uint32_t width, uint32_t height, int32_t resolution,
                            int32_t method, int32_t format, const Palette& defaultPalette,
                            RGBQUAD* savePalette, int32_t* bitsPerPixel, int32_t* paletteCount);

}  // namespace vellum

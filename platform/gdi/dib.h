// Device-independent bitmaps: reading one from a header, colour table and bits
// with explicit bounds, as a pixel source for blits and as an image for pattern
// brushes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/gdi/objects.h"
#include "platform/gdi/raster.h"

namespace gdi {

class Dib : public PixelSource {
 public:
  // Reads the header (core, info or later versions), the colour table or channel
  // masks from `info`, and checks that `bits` holds every row. `scanLines`, when
  // nonzero and smaller, limits the rows to that many (partial DIB bits).
  // Nothing for compressed or malformed bitmaps.
  static std::optional<Dib> Parse(const uint8_t* info, size_t infoSize, const uint8_t* bits,
                                  size_t bitsSize, UINT usage, uint32_t scanLines = 0);

  int Width() const override { return width_; }
  int Height() const override { return height_; }
  void FetchRow(int y, const int* xs, int count, uint32_t* out) const override;
  // True when the header said the rows are stored bottom-up (the usual way).
  bool BottomUp() const { return bottomUp_; }
  // The whole bitmap as opaque pixels; nothing when it is too large for a pattern.
  std::optional<Image> ToImage() const;

 private:
  uint32_t Pixel(const uint8_t* row, int x) const;
  int width_ = 0;
  int height_ = 0;
  bool bottomUp_ = true;
  int bitCount_ = 0;
  bool useMasks_ = false;
  uint32_t masks_[3] = {0, 0, 0};
  std::vector<uint32_t> colors_;  // 0xFFRRGGBB
  const uint8_t* bits_ = nullptr;
  size_t stride_ = 0;
};

// Bytes the header, masks and colour table of a BITMAPINFO take, as its header
// says; 0 for an unknown header.
size_t DibInfoSize(const BITMAPINFOHEADER& header, UINT usage);
// Bytes of the pixel rows the header describes (64-bit, no overflow).
uint64_t DibBitsSize(const BITMAPINFOHEADER& header);

}  // namespace gdi

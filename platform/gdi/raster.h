// Painting onto a memory context's bitmap: filling and stroking figures, blits
// with raster operations, alpha blending and coverage masks. Everything is
// aliased, as the platform draws, and honours the context's clipping.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/gdi/device.h"
#include "platform/gdi/geometry.h"
#include "platform/gdi/objects.h"

namespace gdi {

void FillFigures(DeviceContext& dc, const Figures& figures, const Brush& brush, bool evenOdd);
void StrokeFigures(DeviceContext& dc, const Figures& figures, const Pen& pen);

// Where blits read their pixels: 0xAARRGGBB words (premultiplied), top row first.
class PixelSource {
 public:
  virtual ~PixelSource() = default;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  // Pixels (xs[i], y) for i < count; every x and y is inside the source.
  virtual void FetchRow(int y, const int* xs, int count, uint32_t* out) const = 0;
};

// Reads an image in memory.
class ImageSource : public PixelSource {
 public:
  explicit ImageSource(const Image& image) : image_(image) {}
  int Width() const override { return image_.width; }
  int Height() const override { return image_.height; }
  void FetchRow(int y, const int* xs, int count, uint32_t* out) const override;

 private:
  const Image& image_;
};

struct BlitRequest {
  // Destination corners in device space: the source's top-left lands on
  // (x0, y0) and its bottom-right on (x1, y1), so mirrored blits have x1 < x0.
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  const PixelSource* source = nullptr;  // null for pattern-only operations
  double srcX = 0, srcY = 0, srcWidth = 0, srcHeight = 0;
  DWORD rop = SRCCOPY;
  // Alpha blending instead of a raster operation: constant alpha 0..255 and
  // whether the source's own alpha counts.
  std::optional<uint8_t> constantAlpha;
  bool sourceAlpha = false;
  // Pixels of this colour are left out (transparent blits).
  std::optional<COLORREF> transparentColor;
};

void Blit(DeviceContext& dc, const BlitRequest& request);

// Paints `color` wherever the 8-bit mask (rows of `width` bytes) is nonzero,
// with the mask's top-left at device pixel (x, y).
void PaintMask(DeviceContext& dc, const uint8_t* mask, int width, int height, int x, int y,
               COLORREF color);

// Fills a device rectangle (pixel edges) with a colour, honouring the clipping.
void FillDeviceRect(DeviceContext& dc, double left, double top, double right, double bottom,
                    COLORREF color);

}  // namespace gdi

// A memory device context drawing on a colour bitmap, for the GDI tests: the
// pixels are read back through GetDIBits as the platform hands them out.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/gdi/gdi.h"

namespace gdi_testing {

class Canvas {
 public:
  Canvas(int width, int height, COLORREF background = RGB(255, 255, 255))
      : width_(width), height_(height) {
    HDC screen = GetDC(nullptr);
    dc_ = CreateCompatibleDC(screen);
    bitmap_ = CreateCompatibleBitmap(screen, width, height);
    previous_ = SelectObject(dc_, bitmap_);
    Clear(background);
  }
  ~Canvas() {
    SelectObject(dc_, previous_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  HDC Dc() const { return dc_; }
  HBITMAP Bitmap() const { return bitmap_; }
  int Width() const { return width_; }
  int Height() const { return height_; }

  void Clear(COLORREF color) {
    HBRUSH brush = CreateSolidBrush(color);
    const RECT all{0, 0, width_, height_};
    FillRect(dc_, &all, brush);
    DeleteObject(brush);
  }

  // Pixels as 0x00BBGGRR colour values, rows top to bottom.
  std::vector<COLORREF> Pixels() const {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width_, -height_, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<uint8_t> bits(static_cast<size_t>(width_) * height_ * 4);
    GetDIBits(dc_, bitmap_, 0, static_cast<UINT>(height_), bits.data(), &info, DIB_RGB_COLORS);
    std::vector<COLORREF> pixels(static_cast<size_t>(width_) * height_);
    for (size_t i = 0; i < pixels.size(); ++i)
      pixels[i] = RGB(bits[4 * i + 2], bits[4 * i + 1], bits[4 * i]);
    return pixels;
  }
  COLORREF At(int x, int y) const { return Pixels()[static_cast<size_t>(y) * width_ + x]; }
  int Count(COLORREF color) const {
    int n = 0;
    for (COLORREF p : Pixels()) n += p == color;
    return n;
  }
  // The smallest box holding every pixel of `color` (left, top, right, bottom exclusive).
  RECT BoundsOf(COLORREF color) const {
    const std::vector<COLORREF> pixels = Pixels();
    RECT box{width_, height_, 0, 0};
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) {
        if (pixels[static_cast<size_t>(y) * width_ + x] != color) continue;
        box = {std::min<LONG>(box.left, x), std::min<LONG>(box.top, y),
               std::max<LONG>(box.right, x + 1), std::max<LONG>(box.bottom, y + 1)};
      }
    }
    return box;
  }

 private:
  int width_;
  int height_;
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ previous_;
};

}  // namespace gdi_testing

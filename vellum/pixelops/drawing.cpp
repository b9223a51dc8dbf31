#include "vellum/pixelops/drawing.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "vellum/core/entry_frame.h"
#include "vellum/pixelops/pixel_fill.h"

namespace vellum {

namespace {

// An image to draw on, with the colour already split into its pixel bytes.
struct Canvas {
  uint8_t* image;
  int64_t width;
  int64_t height;
  size_t pixelBytes;
  std::array<uint8_t, 4> color;

  void Plot(int64_t x, int64_t y) const {
    if (x < 0 || x >= width || y < 0 || y >= height) return;
    std::memcpy(image + (static_cast<size_t>(y) * width + x) * pixelBytes, color.data(),
                pixelBytes);
  }

  // Columns left .. right of row y, both already inside the image.
  void Span(int64_t left, int64_t right, int64_t y) const {
    if (left > right) return;
    FillPixels(image + (static_cast<size_t>(y) * width + left) * pixelBytes,
               static_cast<size_t>(right - left + 1), color.data(), pixelBytes);
  }
};

bool ValidCanvas(const uint8_t* image, uint32_t pixelBytes) {
  return image != nullptr && pixelBytes >= 1 && pixelBytes <= 4;
}

bool ValidRadii(int32_t rx, int32_t ry) {
  return std::abs(int64_t{rx}) <= kMaxEllipseRadius && std::abs(int64_t{ry}) <= kMaxEllipseRadius;
}

// The frame of both ellipse entries: the argument checks, then draw(canvas).
template <typename Draw>
BOOL RunEllipse(uint8_t* image, uint32_t width, uint32_t height, uint32_t pixelBytes,
                COLORREF color, int32_t rx, int32_t ry, Draw draw) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (!ValidCanvas(image, pixelBytes) || !ValidRadii(rx, ry)) {
      return ctx.Fail(kErrInvalidArgument);
    }
    draw(Canvas{image, width, height, pixelBytes, ColorBytes(color)});
    return TRUE;
  });
}

// Walks the first quadrant of the midpoint ellipse with radii a and b from (0, b),
// calling visit(x, y) after every step: region 1 while the limit allows, then
// region 2 down to y = 0. A zero limit (a or b zero) takes no step.
template <typename Visit>
void WalkEllipse(int64_t a, int64_t b, Visit visit) {
  const int64_t a2 = a * a;
  const int64_t b2 = b * b;
  double limit = 2.0 * static_cast<double>(a2) * static_cast<double>(b);
  double reached = 0;
  if (limit == 0) return;
  int64_t d = (1 - 2 * b) * a2;
  int64_t xTerm = 2 * b2;
  int64_t yTerm = (2 - 4 * b) * a2;
  int64_t x = 0;
  int64_t y = b;
  while (reached <= limit) {
    ++x;
    const bool step = d + xTerm > 0;
    if (step) --y;
    visit(x, y);
    d += step ? xTerm + yTerm : xTerm;
    if (step) {
      yTerm += 4 * a2;
      limit -= 2.0 * static_cast<double>(a2);
    }
    reached += 2.0 * static_cast<double>(b2);
    xTerm += 4 * b2;
  }
  int64_t c = (2 - 4 * y) * a2;
  int64_t g = (4 * x + 2) * b2;
  for (int64_t remaining = y; remaining > 0; --remaining) {
    d += c;
    const bool xStep = d < 0;
    if (xStep) ++x;
    --y;
    visit(x, y);
    c += 4 * a2;
    if (xStep) {
      d += g;
      g += 4 * b2;
    }
  }
}

}  // namespace

BOOL FillRectangle(uint8_t* rgb, uint32_t width, uint32_t height, int32_t left, int32_t top,
                   int32_t rectWidth, int32_t rectHeight, COLORREF color) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (rgb == nullptr) return ctx.Fail(kErrInvalidArgument);
    const int64_t x0 = std::max<int64_t>(left, 0);
    const int64_t x1 = std::min<int64_t>(int64_t{left} + rectWidth, width);
    const int64_t y0 = std::max<int64_t>(top, 0);
    const int64_t y1 = std::min<int64_t>(int64_t{top} + rectHeight, height);
    if (x0 >= x1 || y0 >= y1) return TRUE;
    const std::array<uint8_t, 4> pixel = ColorBytes(color);
    const size_t rowBytes = size_t{width} * 3;
    if (x0 == 0 && x1 == width) {  // whole rows: one run
      FillPixels(rgb + y0 * rowBytes, static_cast<size_t>((y1 - y0) * width), pixel.data(), 3);
      return TRUE;
    }
    for (int64_t y = y0; y < y1; ++y) {
      FillPixels(rgb + y * rowBytes + x0 * 3, static_cast<size_t>(x1 - x0), pixel.data(), 3);
    }
    return TRUE;
  });
}

BOOL DrawLine(uint8_t* image, uint32_t width, uint32_t height, uint32_t pixelBytes, COLORREF color,
              int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (!ValidCanvas(image, pixelBytes)) return ctx.Fail(kErrInvalidArgument);
    const Canvas canvas{image, width, height, pixelBytes, ColorBytes(color)};
    const int64_t dx = std::abs(int64_t{x1} - x0);
    const int64_t dy = std::abs(int64_t{y1} - y0);
    const int64_t sx = x1 < x0 ? -1 : 1;
    const int64_t sy = y1 < y0 ? -1 : 1;
    int64_t x = x0;
    int64_t y = y0;
    canvas.Plot(x, y);
    // Steps along the major axis to its end; the minor coordinate moves when the
    // error term allows. A tie (dx = dy) and a single point go along y.
    const auto walk = [&](int64_t& major, int64_t end, int64_t step, int64_t dMajor, int64_t& minor,
                          int64_t minorStep, int64_t dMinor) {
      int64_t err = 2 * dMinor - dMajor;
      while (major != end) {
        major += step;
        if (err < 0) {
          err += 2 * dMinor;
        } else {
          err += 2 * (dMinor - dMajor);
          minor += minorStep;
        }
        canvas.Plot(x, y);
      }
    };
    if (dy < dx) {
      walk(x, x1, sx, dx, y, sy, dy);
    } else {
      walk(y, y1, sy, dy, x, sx, dx);
    }
    return TRUE;
  });
}

BOOL DrawEllipse(uint8_t* image, uint32_t width, uint32_t height, uint32_t pixelBytes,
                 COLORREF color, int32_t cx, int32_t cy, int32_t rx, int32_t ry) {
  return RunEllipse(image, width, height, pixelBytes, color, rx, ry, [&](const Canvas& canvas) {
    canvas.Plot(cx, int64_t{cy} + ry);
    canvas.Plot(cx, int64_t{cy} - ry);
    WalkEllipse(rx, ry, [&](int64_t x, int64_t y) {
      canvas.Plot(cx + x, cy + y);
      canvas.Plot(cx - x, cy + y);
      canvas.Plot(cx + x, cy - y);
      canvas.Plot(cx - x, cy - y);
    });
  });
}

BOOL FillEllipse(uint8_t* image, uint32_t width, uint32_t height, uint32_t pixelBytes,
                 COLORREF color, int32_t cx, int32_t cy, int32_t rx, int32_t ry) {
  return RunEllipse(image, width, height, pixelBytes, color, rx, ry, [&](const Canvas& canvas) {
    // With no rows (ry <= 0), no width (rx = 0) or no image there is nothing to paint.
    if (ry <= 0 || rx == 0 || width == 0 || height == 0) return;
    // halfWidths[y]: the largest x the walk reaches on row offset y.
    std::vector<int64_t> halfWidths(static_cast<size_t>(ry) + 1, 0);
    WalkEllipse(rx, ry, [&](int64_t x, int64_t y) {
      if (y >= 0 && y <= ry) halfWidths[static_cast<size_t>(y)] = x;
    });
    const int64_t lastColumn = int64_t{width} - 1;
    const int64_t lastRow = int64_t{height} - 1;
    for (int64_t y = 0; y <= ry; ++y) {
      const int64_t w = halfWidths[static_cast<size_t>(y)];
      const int64_t left = std::clamp<int64_t>(cx - w, 0, lastColumn);
      const int64_t right = std::clamp<int64_t>(cx + w, 0, lastColumn);
      canvas.Span(left, right, std::clamp<int64_t>(cy - y, 0, lastRow));
      canvas.Span(left, right, std::clamp<int64_t>(cy + y, 0, lastRow));
    }
  });
}

}  // namespace vellum

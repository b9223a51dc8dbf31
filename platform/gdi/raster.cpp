#include "platform/gdi/raster.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

namespace gdi {

namespace {

// Figures are traced through pixel centres, so that a line from x to x' covers
// the pixels x .. x' - 1 and an outline sits on its box's edge pixels.
constexpr double kPixelCentre = 0.5;

// Strokes whose dash pattern would repeat more often than this are drawn solid.
constexpr double kMaxDashes = 1.0e6;

struct CairoSaver {
  explicit CairoSaver(cairo_t* cr) : cr_(cr) { cairo_save(cr_); }
  ~CairoSaver() { cairo_restore(cr_); }
  cairo_t* cr_;
};

void SetColor(cairo_t* cr, COLORREF color) {
  cairo_set_source_rgb(cr, GetRValue(color) / 255.0, GetGValue(color) / 255.0,
                       GetBValue(color) / 255.0);
}

uint32_t OpaqueWord(COLORREF color) {
  return 0xFF000000u | uint32_t{GetRValue(color)} << 16 | uint32_t{GetGValue(color)} << 8 |
         GetBValue(color);
}

bool HatchBit(int hatch, int x, int y) {
  switch (hatch) {
    case HS_HORIZONTAL:
      return y == 0;
    case HS_VERTICAL:
      return x == 0;
    case HS_FDIAGONAL:
      return x == y;
    case HS_BDIAGONAL:
      return x + y == 7;
    case HS_CROSS:
      return x == 0 || y == 0;
    case HS_DIAGCROSS:
      return x == y || x + y == 7;
    default:
      return false;
  }
}

// A repeating surface pattern from 0xAARRGGBB words.
cairo_pattern_t* RepeatingPattern(int width, int height,
                                  const std::function<uint32_t(int, int)>& pixel) {
  cairo_surface_t* tile = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  if (cairo_surface_status(tile) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(tile);
    return nullptr;
  }
  uint8_t* data = cairo_image_surface_get_data(tile);
  const int stride = cairo_image_surface_get_stride(tile);
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
    for (int x = 0; x < width; ++x) row[x] = pixel(x, y);
  }
  cairo_surface_mark_dirty(tile);
  cairo_pattern_t* pattern = cairo_pattern_create_for_surface(tile);
  cairo_surface_destroy(tile);
  cairo_pattern_set_extend(pattern, CAIRO_EXTEND_REPEAT);
  cairo_pattern_set_filter(pattern, CAIRO_FILTER_NEAREST);
  return pattern;
}

cairo_pattern_t* BrushPattern(const DeviceContext& dc, const Brush& brush) {
  const DcState& s = dc.state;
  if (brush.style == BS_HATCHED) {
    const uint32_t line = OpaqueWord(dc.DeviceColor(brush.color));
    const uint32_t back = s.bkMode == OPAQUE ? OpaqueWord(dc.DeviceColor(s.bkColor)) : 0;
    return RepeatingPattern(
        8, 8, [&](int x, int y) { return HatchBit(brush.hatch, x, y) ? line : back; });
  }
  const Image& image = *brush.pattern;
  if (brush.monoMask) {
    const uint32_t fore = OpaqueWord(dc.DeviceColor(s.textColor));
    const uint32_t back = OpaqueWord(dc.DeviceColor(s.bkColor));
    return RepeatingPattern(image.width, image.height, [&](int x, int y) {
      return (image.At(x, y) & 0xFFFFFF) ? back : fore;
    });
  }
  return RepeatingPattern(image.width, image.height, [&](int x, int y) { return image.At(x, y); });
}

// Sets the source for a brush; false when the brush paints nothing.
bool SetBrushSource(cairo_t* cr, const DeviceContext& dc, const Brush& brush) {
  if (brush.style == BS_NULL) return false;
  const bool patterned =
      brush.style == BS_HATCHED ||
      ((brush.style == BS_PATTERN || brush.style == BS_DIBPATTERN ||
        brush.style == BS_DIBPATTERNPT) &&
       brush.pattern != nullptr && brush.pattern->width > 0 && brush.pattern->height > 0);
  if (!patterned) {
    SetColor(cr, dc.DeviceColor(brush.color));
    return true;
  }
  cairo_pattern_t* pattern = BrushPattern(dc, brush);
  if (pattern == nullptr) return false;
  cairo_set_source(cr, pattern);
  cairo_pattern_destroy(pattern);
  return true;
}

// Applies the binary raster operation of the context to a solid colour source.
// Returns false when nothing is to be drawn.
bool ApplyRop2(cairo_t* cr, const DeviceContext& dc, COLORREF* color) {
  switch (dc.state.rop2) {
    case R2_NOP:
      return false;
    case R2_BLACK:
      *color = 0;
      return true;
    case R2_WHITE:
      *color = RGB(255, 255, 255);
      return true;
    case 6:  // R2_NOT: invert the destination
      *color = RGB(255, 255, 255);
      cairo_set_operator(cr, CAIRO_OPERATOR_DIFFERENCE);
      return true;
    case 7:  // R2_XORPEN, approximated by the difference of the colours
      cairo_set_operator(cr, CAIRO_OPERATOR_DIFFERENCE);
      return true;
    default:
      return true;
  }
}

void TraceFigures(cairo_t* cr, const Figures& figures) {
  cairo_new_path(cr);
  for (const Figure& figure : figures) {
    if (figure.points.empty()) continue;
    cairo_move_to(cr, figure.points[0].x + kPixelCentre, figure.points[0].y + kPixelCentre);
    for (size_t i = 1; i < figure.points.size(); ++i) {
      cairo_line_to(cr, figure.points[i].x + kPixelCentre, figure.points[i].y + kPixelCentre);
    }
    if (figure.closed) cairo_close_path(cr);
  }
}

// The work a figure set costs: its points plus the pixels of its box on the bitmap.
int64_t FiguresCost(const DeviceContext& dc, const Figures& figures, double margin) {
  double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
  int64_t points = 0;
  for (const Figure& figure : figures) {
    points += static_cast<int64_t>(figure.points.size());
    for (const PointD& p : figure.points) {
      minX = std::min(minX, p.x);
      maxX = std::max(maxX, p.x);
      minY = std::min(minY, p.y);
      maxY = std::max(maxY, p.y);
    }
  }
  if (points == 0) return 1;
  const double w = std::clamp(maxX - minX + 2 * margin + 1, 0.0, double(dc.bitmap->width));
  const double h = std::clamp(maxY - minY + 2 * margin + 1, 0.0, double(dc.bitmap->height));
  return points + static_cast<int64_t>(w * h);
}

double FiguresLength(const Figures& figures) {
  double length = 0;
  for (const Figure& figure : figures) {
    for (size_t i = 1; i < figure.points.size(); ++i) {
      length += std::hypot(figure.points[i].x - figure.points[i - 1].x,
                           figure.points[i].y - figure.points[i - 1].y);
    }
  }
  return length;
}

std::vector<double> DashPattern(const Pen& pen, double width, double scale) {
  std::vector<double> dashes;
  switch (pen.Kind()) {
    case PS_DASH:
      dashes = {18, 6};
      break;
    case PS_DOT:
      dashes = {3, 3};
      break;
    case PS_DASHDOT:
      dashes = {9, 6, 3, 6};
      break;
    case PS_DASHDOTDOT:
      dashes = {9, 3, 3, 3, 3, 3};
      break;
    case PS_ALTERNATE:
      dashes = {1, 1};
      break;
    case PS_USERSTYLE:
      for (double d : pen.userDashes) dashes.push_back(pen.Geometric() ? d * scale : d);
      return dashes;
    default:
      return dashes;
  }
  if (pen.Geometric() && width > 1) {
    for (double& d : dashes) d *= width / 3;  // geometric dashes grow with the pen
  }
  return dashes;
}

void SetLineStyle(cairo_t* cr, const Pen& pen, double width, bool wide) {
  cairo_set_line_width(cr, width);
  if (!wide) {
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
    return;
  }
  switch (pen.style & PS_ENDCAP_MASK) {
    case PS_ENDCAP_SQUARE:
      cairo_set_line_cap(cr, CAIRO_LINE_CAP_SQUARE);
      break;
    case PS_ENDCAP_FLAT:
      cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
      break;
    default:
      cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
      break;
  }
  switch (pen.style & PS_JOIN_MASK) {
    case PS_JOIN_BEVEL:
      cairo_set_line_join(cr, CAIRO_LINE_JOIN_BEVEL);
      break;
    case PS_JOIN_MITER:
      cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
      break;
    default:
      cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
      break;
  }
}

uint32_t Rop3(uint8_t code, uint32_t p, uint32_t s, uint32_t d) {
  if (code == 0xCC) return s;
  uint32_t result = 0;
  for (int i = 0; i < 8; ++i) {
    if ((code >> i & 1) == 0) continue;
    result |= ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
  }
  return result & 0xFFFFFF;
}

// Whether a ternary raster operation reads the destination or the source.
bool RopUsesDestination(uint8_t code) { return ((code >> 1) & 0x55) != (code & 0x55); }
bool RopUsesSource(uint8_t code) { return ((code >> 2) & 0x33) != (code & 0x33); }

// Maps destination pixel indexes (relative to `start`) to source indexes.
std::vector<int> SourceIndexes(int start, int count, double d0, double d1, double s0, double sSize,
                               int limit) {
  std::vector<int> indexes(count);
  const double span = d1 - d0;
  for (int i = 0; i < count; ++i) {
    const double t = (start + i + 0.5 - d0) / span;
    const double s = std::floor(s0 + t * sSize);
    indexes[i] = (s < 0 || s >= limit) ? -1 : static_cast<int>(s);
  }
  return indexes;
}

uint32_t Premultiply(uint32_t pixel, uint32_t alpha) {
  const auto channel = [&](int shift) {
    return ((pixel >> shift & 0xFF) * alpha + 127) / 255 << shift;
  };
  return alpha << 24 | channel(16) | channel(8) | channel(0);
}

// One output pixel of a blit (0 for a pixel left as it is).
struct BlitPixel {
  const BlitRequest& request;
  uint8_t code;
  uint32_t pattern;
  uint32_t operator()(uint32_t source, uint32_t destination) const {
    if (request.transparentColor &&
        (source & 0xFFFFFF) == OpaqueWord(*request.transparentColor) - 0xFF000000u) {
      return 0;
    }
    if (request.constantAlpha) {
      const uint32_t constant = *request.constantAlpha;
      if (!request.sourceAlpha) return Premultiply(source, constant);
      const auto scale = [&](int shift) {
        return ((source >> shift & 0xFF) * constant + 127) / 255 << shift;
      };
      return scale(24) | scale(16) | scale(8) | scale(0);
    }
    return 0xFF000000u | Rop3(code, pattern, source, destination);
  }
};

}  // namespace

void ImageSource::FetchRow(int y, const int* xs, int count, uint32_t* out) const {
  const uint32_t* row = image_.pixels.data() + static_cast<size_t>(y) * image_.width;
  for (int i = 0; i < count; ++i) out[i] = row[xs[i]];
}

void FillFigures(DeviceContext& dc, const Figures& figures, const Brush& brush, bool evenOdd) {
  cairo_t* cr = dc.Cairo();
  if (cr == nullptr || !dc.Spend(FiguresCost(dc, figures, 0))) return;
  CairoSaver saver(cr);
  if (!SetBrushSource(cr, dc, brush)) return;
  if (brush.style == BS_SOLID) {
    COLORREF color = dc.DeviceColor(brush.color);
    if (!ApplyRop2(cr, dc, &color)) return;
    SetColor(cr, color);
  }
  cairo_set_fill_rule(cr, evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
  TraceFigures(cr, figures);
  cairo_fill(cr);
}

void StrokeFigures(DeviceContext& dc, const Figures& figures, const Pen& pen) {
  if (pen.Kind() == PS_NULL) return;
  cairo_t* cr = dc.Cairo();
  if (cr == nullptr) return;
  const double scale = dc.ToDevice().Scale();
  const bool cosmetic = pen.width == 0 || !std::isfinite(pen.width * scale);
  const double width = cosmetic ? 1.0 : std::clamp(pen.width * scale, 1.0, kCoordinateLimit);
  int64_t points = 1;
  for (const Figure& figure : figures) points += static_cast<int64_t>(figure.points.size());
  const double area = std::min(FiguresLength(figures) * (width + 1), 1e15);
  if (!dc.Spend(points + static_cast<int64_t>(area))) return;
  CairoSaver saver(cr);
  COLORREF color = dc.DeviceColor(pen.color);
  if (!ApplyRop2(cr, dc, &color)) return;
  SetColor(cr, color);
  SetLineStyle(cr, pen, width, width > 1.5);
  cairo_set_miter_limit(cr, std::max(1.0, dc.state.miterLimit));
  std::vector<double> dashes = DashPattern(pen, width, scale);
  double period = 0;
  for (double d : dashes) period += d;
  if (!dashes.empty() && period > 0 && FiguresLength(figures) / period < kMaxDashes) {
    cairo_set_dash(cr, dashes.data(), static_cast<int>(dashes.size()), 0);
  }
  TraceFigures(cr, figures);
  cairo_stroke(cr);
}

void Blit(DeviceContext& dc, const BlitRequest& request) {
  cairo_t* cr = dc.Cairo();
  if (cr == nullptr) return;
  const double x0 = ClampCoordinate(request.x0), x1 = ClampCoordinate(request.x1);
  const double y0 = ClampCoordinate(request.y0), y1 = ClampCoordinate(request.y1);
  const RectI full{static_cast<int>(std::lround(std::min(x0, x1))),
                   static_cast<int>(std::lround(std::min(y0, y1))),
                   static_cast<int>(std::lround(std::max(x0, x1))),
                   static_cast<int>(std::lround(std::max(y0, y1)))};
  const RectI area = full.Intersect({0, 0, dc.bitmap->width, dc.bitmap->height});
  if (area.Empty() || !dc.Spend(int64_t{area.Width()} * area.Height())) return;

  const uint8_t code = static_cast<uint8_t>(request.rop >> 16);
  const PixelSource* source = request.source;
  const bool readsSource = source != nullptr && (request.constantAlpha || RopUsesSource(code));
  if (readsSource && (source->Width() <= 0 || source->Height() <= 0)) return;
  std::vector<int> columns, rows;
  if (readsSource) {
    columns = SourceIndexes(area.left, area.Width(), x0, x1, request.srcX, request.srcWidth,
                            source->Width());
    rows = SourceIndexes(area.top, area.Height(), y0, y1, request.srcY, request.srcHeight,
                         source->Height());
  }
  const bool readsDestination = !request.constantAlpha && RopUsesDestination(code);
  const BlitPixel pixel{request, code, OpaqueWord(dc.DeviceColor(dc.state.brush->color))};

  cairo_surface_t* tile =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, area.Width(), area.Height());
  if (cairo_surface_status(tile) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(tile);
    return;
  }
  cairo_surface_flush(dc.bitmap->surface);
  uint8_t* tileData = cairo_image_surface_get_data(tile);
  const int tileStride = cairo_image_surface_get_stride(tile);
  std::vector<uint32_t> fetched(area.Width());
  std::vector<int> validColumns;
  for (int row = 0; row < area.Height(); ++row) {
    auto* out = reinterpret_cast<uint32_t*>(tileData + static_cast<size_t>(row) * tileStride);
    const uint32_t* destination = dc.bitmap->Row(area.top + row) + area.left;
    const bool rowInside = !readsSource || rows[row] >= 0;
    if (readsSource && rowInside) {
      // Columns outside the source read as pixel 0 and are then left out.
      validColumns.resize(columns.size());
      for (size_t i = 0; i < columns.size(); ++i) validColumns[i] = std::max(columns[i], 0);
      source->FetchRow(rows[row], validColumns.data(), area.Width(), fetched.data());
    }
    for (int x = 0; x < area.Width(); ++x) {
      if (!rowInside || (readsSource && columns[x] < 0)) {
        out[x] = 0;
        continue;
      }
      const uint32_t s = readsSource ? fetched[x] : 0;
      const uint32_t d = readsDestination ? destination[x] : 0;
      uint32_t result = pixel(s, d);
      if (dc.Monochrome() && (result >> 24) == 0xFF) {
        const COLORREF rgb = RGB(result >> 16 & 0xFF, result >> 8 & 0xFF, result & 0xFF);
        result = OpaqueWord(dc.DeviceColor(rgb));
      }
      out[x] = result;
    }
  }
  cairo_surface_mark_dirty(tile);
  CairoSaver saver(cr);
  cairo_set_source_surface(cr, tile, area.left, area.top);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
  cairo_rectangle(cr, area.left, area.top, area.Width(), area.Height());
  cairo_fill(cr);
  cairo_surface_destroy(tile);
}

void PaintMask(DeviceContext& dc, const uint8_t* mask, int width, int height, int x, int y,
               COLORREF color) {
  cairo_t* cr = dc.Cairo();
  if (cr == nullptr || width <= 0 || height <= 0) return;
  const RectI area =
      RectI{x, y, x + width, y + height}.Intersect({0, 0, dc.bitmap->width, dc.bitmap->height});
  if (area.Empty() || !dc.Spend(int64_t{area.Width()} * area.Height())) return;
  cairo_surface_t* alpha = cairo_image_surface_create(CAIRO_FORMAT_A8, width, height);
  if (cairo_surface_status(alpha) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(alpha);
    return;
  }
  uint8_t* data = cairo_image_surface_get_data(alpha);
  const int stride = cairo_image_surface_get_stride(alpha);
  for (int row = 0; row < height; ++row) {
    const uint8_t* in = mask + static_cast<size_t>(row) * width;
    uint8_t* out = data + static_cast<size_t>(row) * stride;
    for (int col = 0; col < width; ++col) out[col] = in[col] ? 0xFF : 0;
  }
  cairo_surface_mark_dirty(alpha);
  CairoSaver saver(cr);
  SetColor(cr, dc.DeviceColor(color));
  cairo_mask_surface(cr, alpha, x, y);
  cairo_surface_destroy(alpha);
}

void FillDeviceRect(DeviceContext& dc, double left, double top, double right, double bottom,
                    COLORREF color) {
  cairo_t* cr = dc.Cairo();
  if (cr == nullptr) return;
  left = ClampCoordinate(left), right = ClampCoordinate(right);
  top = ClampCoordinate(top), bottom = ClampCoordinate(bottom);
  const double w = std::clamp(std::fabs(right - left), 0.0, double(dc.bitmap->width));
  const double h = std::clamp(std::fabs(bottom - top), 0.0, double(dc.bitmap->height));
  if (!dc.Spend(static_cast<int64_t>(w * h) + 1)) return;
  CairoSaver saver(cr);
  SetColor(cr, dc.DeviceColor(color));
  cairo_rectangle(cr, std::round(std::min(left, right)), std::round(std::min(top, bottom)),
                  std::round(std::fabs(right - left)), std::round(std::fabs(bottom - top)));
  cairo_fill(cr);
}

}  // namespace gdi

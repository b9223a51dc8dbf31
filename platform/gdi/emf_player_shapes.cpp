// Shapes, polygons and polylines, paths, regions and clipping records.
#include <algorithm>
#include <cmath>

#include "platform/gdi/emf_player.h"
#include "platform/gdi/raster.h"

namespace gdi {

namespace {

constexpr size_t kBoundsEnd = 24;  // type, size and the bounds rectangle
constexpr uint32_t kMaxPolyCount = 1u << 20;
constexpr size_t kRegionHeaderSize = 32;

enum GradientMode : uint32_t { kGradientH = 0, kGradientV = 1, kGradientTriangle = 2 };

COLORREF VertexColor(ByteView& r, size_t offset) {
  return RGB(r.U16(offset + 8) >> 8, r.U16(offset + 10) >> 8, r.U16(offset + 12) >> 8);
}

}  // namespace

bool EmfPlayer::PlayShapeRecord(uint32_t type, ByteView& r) {
  switch (type) {
    case EMR_RECTANGLE:
    case EMR_ELLIPSE: {
      const RECT box = r.Rect(8);
      if (!r.Ok()) return true;
      type == EMR_RECTANGLE ? DrawRectangle(dc_, box) : DrawEllipse(dc_, box);
      return true;
    }
    case EMR_ROUNDRECT: {
      const RECT box = r.Rect(8);
      const SIZE corner{r.I32(24), r.I32(28)};
      if (r.Ok()) DrawRoundRect(dc_, box, corner);
      return true;
    }
    case EMR_ARC:
    case EMR_ARCTO:
    case EMR_CHORD:
    case EMR_PIE: {
      const RECT box = r.Rect(8);
      const PointD start = Point(r, 24, false), end = Point(r, 32, false);
      if (!r.Ok()) return true;
      const ArcKind kind = type == EMR_ARC     ? ArcKind::kArc
                           : type == EMR_ARCTO ? ArcKind::kArcTo
                           : type == EMR_CHORD ? ArcKind::kChord
                                               : ArcKind::kPie;
      DrawArc(dc_, box, start, end, kind);
      return true;
    }
    case EMR_ANGLEARC: {
      const PointD center = Point(r, 8, false);
      const double radius = r.U32(16), start = r.F32(20), sweep = r.F32(24);
      if (r.Ok()) DrawAngleArc(dc_, center, radius, start, sweep);
      return true;
    }
    case EMR_LINETO: {
      const PointD to = Point(r, 8, false);
      if (r.Ok()) DrawLineTo(dc_, to);
      return true;
    }
    case EMR_SETPIXELV: {
      const PointD at = Point(r, 8, false);
      const COLORREF color = r.U32(16);
      if (r.Ok()) DrawPixel(dc_, at, color);
      return true;
    }
    case EMR_GRADIENTFILL:
      GradientFill(r);
      return true;
    case EMR_EXTFLOODFILL:
    case EMR_INVERTRGN:
    case EMR_FRAMERGN:
      return true;  // not drawn
    default:
      return false;
  }
}

void EmfPlayer::PolyRecord(uint32_t type, ByteView& r, bool shortPoints) {
  const uint32_t count = r.U32(kBoundsEnd);
  const size_t pointSize = shortPoints ? 4 : 8;
  if (!r.Ok() || count == 0 || count > kMaxPolyCount || !r.HasArray(28, count, pointSize)) return;
  Points points(count);
  for (uint32_t i = 0; i < count; ++i) points[i] = Point(r, 28 + i * pointSize, shortPoints);
  switch (type) {
    case EMR_POLYGON:
    case EMR_POLYGON16:
      DrawPolygons(dc_, {points});
      break;
    case EMR_POLYLINE:
    case EMR_POLYLINE16:
      DrawPolylines(dc_, {points});
      break;
    case EMR_POLYBEZIER:
    case EMR_POLYBEZIER16:
      DrawPolyBezier(dc_, points);
      break;
    case EMR_POLYBEZIERTO:
    case EMR_POLYBEZIERTO16:
      DrawPolyBezierTo(dc_, points);
      break;
    default:
      DrawPolylineTo(dc_, points);
      break;
  }
}

void EmfPlayer::PolyPolyRecord(uint32_t type, ByteView& r, bool shortPoints) {
  const uint32_t polygons = r.U32(24), total = r.U32(28);
  const size_t pointSize = shortPoints ? 4 : 8;
  if (!r.Ok() || polygons == 0 || polygons > kMaxPolyCount || total > kMaxPolyCount ||
      !r.HasArray(32, polygons, 4)) {
    return;
  }
  const size_t pointsAt = 32 + size_t{polygons} * 4;
  if (!r.HasArray(pointsAt, total, pointSize)) return;
  std::vector<Points> sets;
  size_t next = 0;
  for (uint32_t p = 0; p < polygons; ++p) {
    const uint32_t count = r.U32(32 + p * 4);
    if (count > total - next) return;  // the counts claim more points than there are
    Points set(count);
    for (uint32_t i = 0; i < count; ++i)
      set[i] = Point(r, pointsAt + (next + i) * pointSize, shortPoints);
    next += count;
    sets.push_back(std::move(set));
  }
  const bool polygon = type == EMR_POLYPOLYGON || type == EMR_POLYPOLYGON16;
  polygon ? DrawPolygons(dc_, sets) : DrawPolylines(dc_, sets);
}

void EmfPlayer::PolyDrawRecord(ByteView& r, bool shortPoints) {
  const uint32_t count = r.U32(kBoundsEnd);
  const size_t pointSize = shortPoints ? 4 : 8;
  if (!r.Ok() || count == 0 || count > kMaxPolyCount || !r.HasArray(28, count, pointSize + 1))
    return;
  Points points(count);
  std::vector<BYTE> types(count);
  for (uint32_t i = 0; i < count; ++i) {
    points[i] = Point(r, 28 + i * pointSize, shortPoints);
    types[i] = r.U8(28 + size_t{count} * pointSize + i);
  }
  DrawPolyDraw(dc_, points, types);
}

bool EmfPlayer::PlayPolyRecord(uint32_t type, ByteView& r) {
  switch (type) {
    case EMR_POLYGON:
    case EMR_POLYLINE:
    case EMR_POLYBEZIER:
    case EMR_POLYBEZIERTO:
    case EMR_POLYLINETO:
      PolyRecord(type, r, false);
      return true;
    case EMR_POLYGON16:
    case EMR_POLYLINE16:
    case EMR_POLYBEZIER16:
    case EMR_POLYBEZIERTO16:
    case EMR_POLYLINETO16:
      PolyRecord(type, r, true);
      return true;
    case EMR_POLYPOLYGON:
    case EMR_POLYPOLYLINE:
      PolyPolyRecord(type, r, false);
      return true;
    case EMR_POLYPOLYGON16:
    case EMR_POLYPOLYLINE16:
      PolyPolyRecord(type, r, true);
      return true;
    case EMR_POLYDRAW:
      PolyDrawRecord(r, false);
      return true;
    case EMR_POLYDRAW16:
      PolyDrawRecord(r, true);
      return true;
    default:
      return false;
  }
}

bool EmfPlayer::PlayPathRecord(uint32_t type, ByteView& r) {
  switch (type) {
    case EMR_BEGINPATH:
      BeginPath(dc_);
      return true;
    case EMR_ENDPATH:
      EndPath(dc_);
      return true;
    case EMR_ABORTPATH:
      AbortPath(dc_);
      return true;
    case EMR_CLOSEFIGURE:
      CloseFigure(dc_);
      return true;
    case EMR_FILLPATH:
      FillPath(dc_);
      return true;
    case EMR_STROKEPATH:
      StrokePath(dc_);
      return true;
    case EMR_STROKEANDFILLPATH:
      StrokeAndFillPath(dc_);
      return true;
    case EMR_FLATTENPATH:
    case EMR_WIDENPATH:
      return true;  // paths are kept flat already
    case EMR_SELECTCLIPPATH: {
      const uint32_t mode = r.U32(8);
      if (r.Ok()) SelectClipPath(dc_, static_cast<int>(mode));
      return true;
    }
    default:
      return false;
  }
}

// The rectangles of a RGNDATA block at `offset`, in device space.
std::vector<RECT> EmfPlayer::RegionRects(ByteView& r, size_t offset, uint32_t size) {
  std::vector<RECT> rects;
  const uint32_t count = r.U32(offset + 8);
  if (!r.Ok() || size < kRegionHeaderSize || !r.Has(offset, size) ||
      !r.HasArray(offset + kRegionHeaderSize, count, 16) ||
      count > (size - kRegionHeaderSize) / 16) {
    return rects;
  }
  rects.reserve(count);
  for (uint32_t i = 0; i < count; ++i)
    rects.push_back(DeviceRect(r.Rect(offset + kRegionHeaderSize + i * 16)));
  return rects;
}

void EmfPlayer::SelectClipRegion(ByteView& r) {
  const uint32_t size = r.U32(8), mode = r.U32(12);
  if (!r.Ok()) return;
  if (mode == RGN_COPY && size == 0) {
    ReplaceClip(dc_, {}, false);
    return;
  }
  const std::vector<RECT> rects = RegionRects(r, 16, size);
  Figures figures;
  for (const RECT& d : rects) {
    figures.push_back(Figure{{{double(d.left), double(d.top)},
                              {double(d.right), double(d.top)},
                              {double(d.right), double(d.bottom)},
                              {double(d.left), double(d.bottom)}},
                             true});
  }
  switch (mode) {
    case RGN_COPY:
      ReplaceClip(dc_, std::move(figures), true);
      break;
    case RGN_AND:
      AddClip(dc_, std::move(figures), true, false);
      break;
    case RGN_DIFF:
      AddClip(dc_, std::move(figures), true, true);
      break;
    default:
      break;  // unions and exclusive-ors of clip regions are not kept
  }
}

bool EmfPlayer::PlayClipRecord(uint32_t type, ByteView& r) {
  switch (type) {
    case EMR_INTERSECTCLIPRECT:
    case EMR_EXCLUDECLIPRECT: {
      const RECT box = r.Rect(8);
      if (r.Ok()) AddClip(dc_, {RectFigure(dc_, box)}, false, type == EMR_EXCLUDECLIPRECT);
      return true;
    }
    case EMR_EXTSELECTCLIPRGN:
      SelectClipRegion(r);
      return true;
    case EMR_FILLRGN:
    case EMR_PAINTRGN: {
      const bool fill = type == EMR_FILLRGN;
      const uint32_t size = r.U32(24);
      std::shared_ptr<GdiObject> brush = fill ? StoredObject(r.U32(28)) : dc_.state.brush;
      const std::vector<RECT> rects = RegionRects(r, fill ? 32 : 28, size);
      if (brush != nullptr && brush->kind == ObjectKind::kBrush) {
        FillDeviceRects(dc_, rects, static_cast<const Brush&>(*brush));
      }
      return true;
    }
    case EMR_OFFSETCLIPRGN:
    case EMR_SETMETARGN:
      return true;  // rare; the clipping stays as it is
    default:
      return false;
  }
}

void EmfPlayer::GradientFill(ByteView& r) {
  const uint32_t vertices = r.U32(24), shapes = r.U32(28), mode = r.U32(32);
  const size_t shapesAt = 36 + size_t{vertices} * 16;
  const size_t shapeSize = mode == kGradientTriangle ? 12 : 8;
  if (!r.Ok() || vertices > kMaxPolyCount || shapes > kMaxPolyCount ||
      !r.HasArray(36, vertices, 16) || !r.HasArray(shapesAt, shapes, shapeSize) ||
      mode > kGradientTriangle) {
    return;
  }
  const auto vertex = [&](uint32_t index) { return 36 + size_t{index} * 16; };
  for (uint32_t i = 0; i < shapes; ++i) {
    const size_t at = shapesAt + i * shapeSize;
    const uint32_t a = r.U32(at), b = r.U32(at + 4);
    if (a >= vertices || b >= vertices) continue;
    if (mode == kGradientTriangle) {
      // Triangles are filled with the colour of their first vertex.
      const uint32_t c = r.U32(at + 8);
      if (c >= vertices) continue;
      Brush brush;
      brush.color = VertexColor(r, vertex(a));
      const Points triangle = {Point(r, vertex(a), false), Point(r, vertex(b), false),
                               Point(r, vertex(c), false)};
      Figure figure{{}, true};
      for (const PointD& p : triangle) figure.points.push_back(dc_.ToDevicePoint(p));
      FillFigures(dc_, {figure}, brush, false);
      continue;
    }
    // A rectangle from vertex a to vertex b, shaded in bands of one device pixel.
    const PointD p0 = dc_.ToDevicePoint(Point(r, vertex(a), false));
    const PointD p1 = dc_.ToDevicePoint(Point(r, vertex(b), false));
    const COLORREF c0 = VertexColor(r, vertex(a)), c1 = VertexColor(r, vertex(b));
    const bool horizontal = mode == kGradientH;
    const double from = horizontal ? p0.x : p0.y, to = horizontal ? p1.x : p1.y;
    const int steps = static_cast<int>(std::min(std::fabs(to - from), 8192.0));
    for (int s = 0; s < steps; ++s) {
      const double t = (s + 0.5) / steps;
      const auto mix = [&](int shift) {
        return static_cast<BYTE>(
            std::lround((c0 >> shift & 0xFF) * (1 - t) + (c1 >> shift & 0xFF) * t));
      };
      const double edge = from + (to - from) * s / steps,
                   next = from + (to - from) * (s + 1) / steps;
      const COLORREF color = RGB(mix(0), mix(8), mix(16));
      if (horizontal) {
        FillDeviceRect(dc_, edge, p0.y, next, p1.y, color);
      } else {
        FillDeviceRect(dc_, p0.x, edge, p1.x, next, color);
      }
    }
  }
}

}  // namespace gdi

#include "platform/gdi/drawing.h"

#include <cmath>
#include <numbers>

#include "platform/gdi/gdi.h"
#include "platform/gdi/raster.h"

namespace gdi {

namespace {

constexpr double kPi = std::numbers::pi;
// A path that grows beyond this many points is dropped (hostile metafiles).
constexpr size_t kMaxPathPoints = size_t{1} << 20;

PointD ToDevice(const Affine& m, PointD p) {
  const PointD d = m.Apply(p);
  return {ClampCoordinate(d.x), ClampCoordinate(d.y)};
}

size_t PointCount(const Figures& figures) {
  size_t count = 0;
  for (const Figure& figure : figures) count += figure.points.size();
  return count;
}

void AddToPath(DeviceContext& dc, Figures figures) {
  if (PointCount(dc.path) + PointCount(figures) > kMaxPathPoints) {
    AbortPath(dc);
    return;
  }
  for (Figure& figure : figures) dc.path.push_back(std::move(figure));
  dc.figureOpen = false;
}

// Paints figures, or adds them to the open path. Closed shapes are filled.
void Emit(DeviceContext& dc, Figures figures, bool fill) {
  if (dc.pathOpen) {
    AddToPath(dc, std::move(figures));
    return;
  }
  if (fill) FillFigures(dc, figures, *dc.state.brush, dc.state.polyFillMode == ALTERNATE);
  StrokeFigures(dc, figures, *dc.state.pen);
}

// Continues from the current position through `points` (device space): in a path
// the current figure grows, otherwise the run is stroked.
void EmitRun(DeviceContext& dc, std::vector<PointD> points) {
  const PointD start = ToDevice(dc.ToDevice(), dc.state.position);
  if (dc.pathOpen) {
    if (PointCount(dc.path) + points.size() > kMaxPathPoints) {
      AbortPath(dc);
      return;
    }
    if (!dc.figureOpen || dc.path.empty()) {
      dc.path.push_back(Figure{{start}, false});
      dc.figureOpen = true;
    }
    auto& target = dc.path.back().points;
    target.insert(target.end(), points.begin(), points.end());
    return;
  }
  Figure figure{{start}, false};
  figure.points.insert(figure.points.end(), points.begin(), points.end());
  StrokeFigures(dc, {std::move(figure)}, *dc.state.pen);
}

// A box in the space its curves are built in: device space when the mapping keeps
// the axes (then the box loses its right and bottom pixel, as outlines sit inside
// it), logical space otherwise.
struct BoxFrame {
  Affine toDevice;
  double cx, cy, rx, ry;
  double left, top, right, bottom;
};

BoxFrame MakeBoxFrame(const DeviceContext& dc, const RECT& box) {
  const Affine m = dc.ToDevice();
  BoxFrame frame{};
  PointD a{double(box.left), double(box.top)}, b{double(box.right), double(box.bottom)};
  if (m.b == 0 && m.c == 0) {
    a = ToDevice(m, a);
    b = ToDevice(m, b);
    frame.toDevice = Affine{};
  } else {
    frame.toDevice = m;
  }
  frame.left = std::min(a.x, b.x);
  frame.right = std::max(a.x, b.x);
  frame.top = std::min(a.y, b.y);
  frame.bottom = std::max(a.y, b.y);
  if (frame.toDevice.a == 1 && frame.toDevice.d == 1) {
    if (frame.right - frame.left >= 1) frame.right -= 1;
    if (frame.bottom - frame.top >= 1) frame.bottom -= 1;
  }
  frame.cx = (frame.left + frame.right) / 2;
  frame.cy = (frame.top + frame.bottom) / 2;
  frame.rx = (frame.right - frame.left) / 2;
  frame.ry = (frame.bottom - frame.top) / 2;
  return frame;
}

// Segments for a curve of the given length in device pixels.
int SegmentsFor(double deviceLength) {
  if (!std::isfinite(deviceLength)) return 8;
  return static_cast<int>(std::clamp(deviceLength / 3, 8.0, 1024.0));
}

// Points of the ellipse arc from angle a0 sweeping `sweep` radians (y down).
std::vector<PointD> ArcPoints(const BoxFrame& f, double a0, double sweep) {
  const double radius = std::max(f.rx, f.ry) * f.toDevice.Scale();
  const int n = std::max(2, static_cast<int>(SegmentsFor(std::fabs(sweep) * radius)));
  std::vector<PointD> points;
  points.reserve(n + 1);
  for (int i = 0; i <= n; ++i) {
    const double t = a0 + sweep * i / n;
    points.push_back(ToDevice(f.toDevice, {f.cx + f.rx * std::cos(t), f.cy + f.ry * std::sin(t)}));
  }
  return points;
}

// The angle of a radial point on the frame's ellipse.
double RadialAngle(const BoxFrame& f, const DeviceContext& dc, PointD logical) {
  PointD p = logical;
  if (f.toDevice.a == 1 && f.toDevice.b == 0 && f.toDevice.c == 0 && f.toDevice.d == 1) {
    p = ToDevice(dc.ToDevice(), logical);
  }
  const double dx = f.rx > 0 ? (p.x - f.cx) / f.rx : 0;
  const double dy = f.ry > 0 ? (p.y - f.cy) / f.ry : 0;
  return std::atan2(dy, dx);
}

// The sweep from a0 to a1 in the context's arc direction, as seen on the device.
double ArcSweep(const DeviceContext& dc, const BoxFrame& f, double a0, double a1) {
  const bool deviceCounterClockwise =
      (dc.state.arcDirection == AD_COUNTERCLOCKWISE) == (f.toDevice.Determinant() > 0);
  double sweep = deviceCounterClockwise ? a0 - a1 : a1 - a0;
  while (sweep <= 1e-9) sweep += 2 * kPi;
  while (sweep > 2 * kPi + 1e-9) sweep -= 2 * kPi;
  return deviceCounterClockwise ? -sweep : sweep;
}

Figures PointFigures(const DeviceContext& dc, const std::vector<Points>& sets, bool closed) {
  const Affine m = dc.ToDevice();
  Figures figures;
  figures.reserve(sets.size());
  for (const Points& set : sets) {
    Figure figure{{}, closed};
    figure.points.reserve(set.size());
    for (const PointD& p : set) figure.points.push_back(ToDevice(m, p));
    figures.push_back(std::move(figure));
  }
  return figures;
}

// Flattens one cubic bézier (device space) onto `out`, without its first point.
void FlattenBezier(PointD p0, PointD p1, PointD p2, PointD p3, std::vector<PointD>& out) {
  const double length = std::hypot(p1.x - p0.x, p1.y - p0.y) +
                        std::hypot(p2.x - p1.x, p2.y - p1.y) + std::hypot(p3.x - p2.x, p3.y - p2.y);
  const int n = std::isfinite(length) ? static_cast<int>(std::clamp(length / 4, 2.0, 256.0)) : 2;
  for (int i = 1; i <= n; ++i) {
    const double t = static_cast<double>(i) / n, u = 1 - t;
    const double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
    out.push_back(
        {a * p0.x + b * p1.x + c * p2.x + d * p3.x, a * p0.y + b * p1.y + c * p2.y + d * p3.y});
  }
}

std::vector<PointD> BezierRun(const DeviceContext& dc, PointD start, const Points& points) {
  const Affine m = dc.ToDevice();
  std::vector<PointD> run;
  PointD from = ToDevice(m, start);
  for (size_t i = 0; i + 2 < points.size(); i += 3) {
    const PointD c1 = ToDevice(m, points[i]), c2 = ToDevice(m, points[i + 1]);
    const PointD to = ToDevice(m, points[i + 2]);
    FlattenBezier(from, c1, c2, to, run);
    from = to;
  }
  return run;
}

void ClearPath(DeviceContext& dc) {
  dc.path.clear();
  dc.pathReady = false;
  dc.figureOpen = false;
}

}  // namespace

void DrawRectangle(DeviceContext& dc, const RECT& box) {
  const BoxFrame f = MakeBoxFrame(dc, box);
  Figure figure{{}, true};
  for (PointD p : {PointD{f.left, f.top}, PointD{f.right, f.top}, PointD{f.right, f.bottom},
                   PointD{f.left, f.bottom}}) {
    figure.points.push_back(ToDevice(f.toDevice, p));
  }
  Emit(dc, {std::move(figure)}, true);
}

void DrawEllipse(DeviceContext& dc, const RECT& box) {
  const BoxFrame f = MakeBoxFrame(dc, box);
  Figure figure{ArcPoints(f, 0, 2 * kPi), true};
  Emit(dc, {std::move(figure)}, true);
}

void DrawRoundRect(DeviceContext& dc, const RECT& box, SIZE corner) {
  BoxFrame f = MakeBoxFrame(dc, box);
  double cw = std::fabs(double(corner.cx)), ch = std::fabs(double(corner.cy));
  if (f.toDevice.a == 1 && f.toDevice.d == 1 && f.toDevice.b == 0 && f.toDevice.c == 0) {
    const Affine m = dc.ToDevice();
    cw *= std::fabs(m.a);
    ch *= std::fabs(m.d);
  }
  const double rx = std::min(cw / 2, f.rx), ry = std::min(ch / 2, f.ry);
  Figure figure{{}, true};
  // Four quarter arcs, each around its own corner centre.
  const struct {
    double cx, cy, start;
  } corners[4] = {{f.right - rx, f.top + ry, -kPi / 2},
                  {f.right - rx, f.bottom - ry, 0},
                  {f.left + rx, f.bottom - ry, kPi / 2},
                  {f.left + rx, f.top + ry, kPi}};
  for (const auto& c : corners) {
    BoxFrame quarter = f;
    quarter.cx = c.cx;
    quarter.cy = c.cy;
    quarter.rx = rx;
    quarter.ry = ry;
    const std::vector<PointD> arc = ArcPoints(quarter, c.start, kPi / 2);
    figure.points.insert(figure.points.end(), arc.begin(), arc.end());
  }
  Emit(dc, {std::move(figure)}, true);
}

void DrawArc(DeviceContext& dc, const RECT& box, PointD start, PointD end, ArcKind kind) {
  const BoxFrame f = MakeBoxFrame(dc, box);
  const double a0 = RadialAngle(f, dc, start);
  const double a1 = RadialAngle(f, dc, end);
  std::vector<PointD> arc = ArcPoints(f, a0, ArcSweep(dc, f, a0, a1));
  switch (kind) {
    case ArcKind::kArc:
      Emit(dc, {Figure{std::move(arc), false}}, false);
      return;
    case ArcKind::kArcTo: {
      const PointD last = arc.back();
      EmitRun(dc, std::move(arc));
      const Affine m = dc.ToDevice();
      if (m.Invertible()) dc.state.position = m.Inverse().Apply(last);
      return;
    }
    case ArcKind::kChord:
      Emit(dc, {Figure{std::move(arc), true}}, true);
      return;
    case ArcKind::kPie:
      arc.insert(arc.begin(), ToDevice(f.toDevice, {f.cx, f.cy}));
      Emit(dc, {Figure{std::move(arc), true}}, true);
      return;
  }
}

void DrawAngleArc(DeviceContext& dc, PointD center, double radius, double startDegrees,
                  double sweepDegrees) {
  if (!std::isfinite(radius) || !std::isfinite(startDegrees) || !std::isfinite(sweepDegrees))
    return;
  const Affine m = dc.ToDevice();
  sweepDegrees = std::clamp(sweepDegrees, -3600.0, 3600.0);
  const double a0 = startDegrees * kPi / 180, sweep = sweepDegrees * kPi / 180;
  const int n = SegmentsFor(std::fabs(sweep) * std::fabs(radius) * m.Scale());
  std::vector<PointD> run;
  PointD last = center;
  for (int i = 0; i <= n; ++i) {
    const double t = a0 + sweep * i / n;
    last = {center.x + radius * std::cos(t), center.y - radius * std::sin(t)};
    run.push_back(ToDevice(m, last));
  }
  EmitRun(dc, std::move(run));
  dc.state.position = last;
}

void DrawPolygons(DeviceContext& dc, const std::vector<Points>& polygons) {
  Emit(dc, PointFigures(dc, polygons, true), true);
}

void DrawPolylines(DeviceContext& dc, const std::vector<Points>& polylines) {
  Emit(dc, PointFigures(dc, polylines, false), false);
}

void DrawPolyBezier(DeviceContext& dc, const Points& points) {
  if (points.empty()) return;
  std::vector<PointD> run = BezierRun(dc, points[0], Points(points.begin() + 1, points.end()));
  run.insert(run.begin(), ToDevice(dc.ToDevice(), points[0]));
  Emit(dc, {Figure{std::move(run), false}}, false);
}

void DrawPolylineTo(DeviceContext& dc, const Points& points) {
  if (points.empty()) return;
  EmitRun(dc, PointFigures(dc, {points}, false)[0].points);
  dc.state.position = points.back();
}

void DrawPolyBezierTo(DeviceContext& dc, const Points& points) {
  if (points.size() < 3) return;
  EmitRun(dc, BezierRun(dc, dc.state.position, points));
  dc.state.position = points[(points.size() / 3) * 3 - 1];
}

void DrawPolyDraw(DeviceContext& dc, const Points& points, const std::vector<BYTE>& types) {
  constexpr BYTE kClose = 0x01, kLine = 0x02, kBezier = 0x04, kMove = 0x06;
  for (size_t i = 0; i < points.size() && i < types.size(); ++i) {
    const BYTE type = types[i] & ~kClose;
    if (type == kMove) {
      MoveTo(dc, points[i]);
    } else if (type == kLine) {
      DrawPolylineTo(dc, {points[i]});
    } else if (type == kBezier && i + 2 < points.size()) {
      DrawPolyBezierTo(dc, {points[i], points[i + 1], points[i + 2]});
      i += 2;
    }
    if ((types[std::min(i, types.size() - 1)] & kClose) && dc.pathOpen) CloseFigure(dc);
  }
}

void MoveTo(DeviceContext& dc, PointD point) {
  dc.state.position = point;
  dc.figureOpen = false;
}

void DrawLineTo(DeviceContext& dc, PointD point) { DrawPolylineTo(dc, {point}); }

void DrawPixel(DeviceContext& dc, PointD point, COLORREF color) {
  const PointD d = ToDevice(dc.ToDevice(), point);
  const double x = std::floor(d.x + 0.5), y = std::floor(d.y + 0.5);
  FillDeviceRect(dc, x, y, x + 1, y + 1, color);
}

void FillDeviceRects(DeviceContext& dc, const std::vector<RECT>& rects, const Brush& brush) {
  Figures figures;
  for (const RECT& r : rects) {
    // Traced through pixel centres, so shifted back by half a pixel to cover
    // exactly the pixels left .. right - 1.
    const double l = r.left - 0.5, t = r.top - 0.5, rr = r.right - 0.5, b = r.bottom - 0.5;
    figures.push_back(Figure{{{l, t}, {rr, t}, {rr, b}, {l, b}}, true});
  }
  FillFigures(dc, figures, brush, false);
}

void BeginPath(DeviceContext& dc) {
  ClearPath(dc);
  dc.pathOpen = true;
}

void EndPath(DeviceContext& dc) {
  if (!dc.pathOpen) return;
  dc.pathOpen = false;
  dc.pathReady = true;
  dc.figureOpen = false;
}

void AbortPath(DeviceContext& dc) {
  ClearPath(dc);
  dc.pathOpen = false;
}

void CloseFigure(DeviceContext& dc) {
  if (!dc.pathOpen || dc.path.empty()) return;
  dc.path.back().closed = true;
  dc.figureOpen = false;
}

void FillPath(DeviceContext& dc) {
  if (!dc.pathReady) return;
  FillFigures(dc, dc.path, *dc.state.brush, dc.state.polyFillMode == ALTERNATE);
  ClearPath(dc);
}

void StrokePath(DeviceContext& dc) {
  if (!dc.pathReady) return;
  StrokeFigures(dc, dc.path, *dc.state.pen);
  ClearPath(dc);
}

void StrokeAndFillPath(DeviceContext& dc) {
  if (!dc.pathReady) return;
  FillFigures(dc, dc.path, *dc.state.brush, dc.state.polyFillMode == ALTERNATE);
  StrokeFigures(dc, dc.path, *dc.state.pen);
  ClearPath(dc);
}

void SelectClipPath(DeviceContext& dc, int mode) {
  if (!dc.pathReady) return;
  const bool evenOdd = dc.state.polyFillMode == ALTERNATE;
  Figures figures = std::move(dc.path);
  ClearPath(dc);
  for (Figure& figure : figures) {
    for (PointD& p : figure.points) p = {p.x + 0.5, p.y + 0.5};  // as painted
    figure.closed = true;
  }
  if (mode == RGN_COPY) {
    ReplaceClip(dc, std::move(figures), evenOdd);
  } else {
    AddClip(dc, std::move(figures), evenOdd, mode == RGN_DIFF);
  }
}

}  // namespace gdi

using namespace gdi;

namespace {

// Runs a drawing call on a drawable context; FALSE for anything else.
template <typename Draw>
BOOL OnContext(HDC handle, Draw draw) {
  DeviceContext* dc = LookupDc(handle);
  if (dc == nullptr || dc->kind != DeviceContext::Kind::kMemory) return FALSE;
  draw(*dc);
  return TRUE;
}

Points ToPoints(const POINT* points, int count) {
  Points result;
  for (int i = 0; i < count; ++i) result.push_back({double(points[i].x), double(points[i].y)});
  return result;
}

}  // namespace

int FillRect(HDC handle, const RECT* rect, HBRUSH brush) {
  auto object = LookupObjectAs<Brush>(brush, ObjectKind::kBrush);
  if (rect == nullptr || object == nullptr) return 0;
  return OnContext(
      handle, [&](DeviceContext& dc) { FillFigures(dc, {RectFigure(dc, *rect)}, *object, false); });
}

BOOL Rectangle(HDC dc, int left, int top, int right, int bottom) {
  return OnContext(dc, [&](DeviceContext& c) { DrawRectangle(c, {left, top, right, bottom}); });
}

BOOL Ellipse(HDC dc, int left, int top, int right, int bottom) {
  return OnContext(dc, [&](DeviceContext& c) { DrawEllipse(c, {left, top, right, bottom}); });
}

BOOL MoveToEx(HDC handle, int x, int y, POINT* previous) {
  DeviceContext* dc = LookupDc(handle);
  if (dc == nullptr) return FALSE;
  if (previous != nullptr) {
    *previous = {static_cast<LONG>(dc->state.position.x), static_cast<LONG>(dc->state.position.y)};
  }
  MoveTo(*dc, {double(x), double(y)});
  return TRUE;
}

BOOL LineTo(HDC dc, int x, int y) {
  return OnContext(dc, [&](DeviceContext& c) { DrawLineTo(c, {double(x), double(y)}); });
}

BOOL Polygon(HDC dc, const POINT* points, int count) {
  if (points == nullptr || count < 2) return FALSE;
  return OnContext(dc, [&](DeviceContext& c) { DrawPolygons(c, {ToPoints(points, count)}); });
}

BOOL Polyline(HDC dc, const POINT* points, int count) {
  if (points == nullptr || count < 2) return FALSE;
  return OnContext(dc, [&](DeviceContext& c) { DrawPolylines(c, {ToPoints(points, count)}); });
}

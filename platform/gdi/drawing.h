// The drawing primitives on a device context, in logical coordinates: they build
// device-space figures and either paint them with the selected pen and brush or,
// inside a path bracket, add them to the path. The calls of gdi.h and the
// metafile player share them.
#pragma once

#include <vector>

#include "platform/gdi/device.h"
#include "platform/gdi/geometry.h"

namespace gdi {

using Points = std::vector<PointD>;

void DrawRectangle(DeviceContext& dc, const RECT& box);
void DrawEllipse(DeviceContext& dc, const RECT& box);
void DrawRoundRect(DeviceContext& dc, const RECT& box, SIZE corner);
enum class ArcKind { kArc, kArcTo, kChord, kPie };
void DrawArc(DeviceContext& dc, const RECT& box, PointD start, PointD end, ArcKind kind);
void DrawAngleArc(DeviceContext& dc, PointD center, double radius, double startDegrees,
                  double sweepDegrees);

void DrawPolygons(DeviceContext& dc, const std::vector<Points>& polygons);
void DrawPolylines(DeviceContext& dc, const std::vector<Points>& polylines);
// A first point followed by groups of three (two controls and an end point).
void DrawPolyBezier(DeviceContext& dc, const Points& points);
// From the current position: lines to each point, or béziers in groups of three.
void DrawPolylineTo(DeviceContext& dc, const Points& points);
void DrawPolyBezierTo(DeviceContext& dc, const Points& points);
// Points with the platform's point types (move, line, bézier, close-figure flag).
void DrawPolyDraw(DeviceContext& dc, const Points& points, const std::vector<BYTE>& types);
void MoveTo(DeviceContext& dc, PointD point);
void DrawLineTo(DeviceContext& dc, PointD point);
void DrawPixel(DeviceContext& dc, PointD point, COLORREF color);

// Device-space rectangles (regions) painted with a brush.
void FillDeviceRects(DeviceContext& dc, const std::vector<RECT>& rects, const Brush& brush);

// The path bracket.
void BeginPath(DeviceContext& dc);
void EndPath(DeviceContext& dc);
void AbortPath(DeviceContext& dc);
void CloseFigure(DeviceContext& dc);
void FillPath(DeviceContext& dc);
void StrokePath(DeviceContext& dc);
void StrokeAndFillPath(DeviceContext& dc);
// Combines the path with the clipping (RGN_AND or RGN_COPY; others intersect too).
void SelectClipPath(DeviceContext& dc, int mode);

}  // namespace gdi

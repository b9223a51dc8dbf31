// Geometry shared by the device contexts, the drawing and the metafile player:
// points in device space, figures (polylines, open or closed) and affine maps.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/gdi/gdi_types.h"

namespace gdi {

struct PointD {
  double x = 0;
  double y = 0;
};

// One sub-path: consecutive points, closed back to the first when `closed`.
struct Figure {
  std::vector<PointD> points;
  bool closed = false;
};
using Figures = std::vector<Figure>;

// x' = a x + c y + e, y' = b x + d y + f (the element order of XFORM).
struct Affine {
  double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;

  PointD Apply(PointD p) const { return {a * p.x + c * p.y + e, b * p.x + d * p.y + f}; }
  PointD ApplyLinear(PointD p) const { return {a * p.x + c * p.y, b * p.x + d * p.y}; }
  // This map followed by `next`.
  Affine Then(const Affine& next) const {
    return {a * next.a + b * next.c,          a * next.b + b * next.d,
            c * next.a + d * next.c,          c * next.b + d * next.d,
            e * next.a + f * next.c + next.e, e * next.b + f * next.d + next.f};
  }
  double Determinant() const { return a * d - b * c; }
  // The mean length a unit vector gets: the factor for pen widths and font sizes.
  double Scale() const { return std::sqrt(std::fabs(Determinant())); }
  bool Invertible() const { return std::fabs(Determinant()) > 1e-12; }
  Affine Inverse() const {
    const double det = Determinant();
    return {d / det, -b / det, -c / det, a / det, (c * f - d * e) / det, (b * e - a * f) / det};
  }
  bool IsFinite() const {
    return std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d) &&
           std::isfinite(e) && std::isfinite(f);
  }
  static Affine FromXform(const XFORM& x) { return {x.eM11, x.eM12, x.eM21, x.eM22, x.eDx, x.eDy}; }
  static Affine Translation(double x, double y) { return {1, 0, 0, 1, x, y}; }
  static Affine Scaling(double x, double y) { return {x, 0, 0, y, 0, 0}; }
};

// Device coordinates handed to the rasteriser stay well inside its fixed-point range.
constexpr double kCoordinateLimit = 4.0e6;
inline double ClampCoordinate(double v) {
  if (!std::isfinite(v)) return 0;
  return std::clamp(v, -kCoordinateLimit, kCoordinateLimit);
}

struct RectI {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Empty() const { return right <= left || bottom <= top; }
  RectI Intersect(const RectI& o) const {
    return {std::max(left, o.left), std::max(top, o.top), std::min(right, o.right),
            std::min(bottom, o.bottom)};
  }
};

}  // namespace gdi

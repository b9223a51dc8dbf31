// The fourteen filter kernels of the filtered resize, evaluated in double precision.
#pragma once

#include <cstdint>

namespace vellum {

constexpr int32_t kFilterKindCount = 14;

struct FilterKernel {
  double (*weight)(double x);
  double support;  // half-width of the kernel at scale 1
};

// The kernel of kind 0..13: box, triangle, Hamming, Gaussian, bell, B-spline,
// Hermite, B-spline, Lanczos3, Mitchell, sinc, Hermite, Hanning, Catmull-Rom.
// The caller checks the kind.
const FilterKernel& KernelOfKind(int32_t kind);

}  // namespace vellum

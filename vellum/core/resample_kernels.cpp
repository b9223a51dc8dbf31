#include "vellum/core/resample_kernels.h"

#include <array>
#include <cmath>

namespace vellum {

namespace {

constexpr double kPi = 3.141592653589793;

double Sinc(double x) {
  if (x == 0) return 1.0;
  const double px = kPi * x;
  return std::sin(px) / px;
}

double Box(double x) { return x > -0.5 && x <= 0.5 ? 1.0 : 0.0; }

double Triangle(double x) {
  const double t = std::fabs(x);
  return t < 1 ? 1.0 - t : 0.0;
}

double Hamming(double x) { return 0.54 + 0.46 * std::cos(kPi * x); }

double Gaussian(double x) { return std::exp(-2.0 * x * x) * std::sqrt(2.0 / kPi); }

double Bell(double x) {
  const double t = std::fabs(x);
  if (t < 0.5) return 0.75 - x * x;
  if (t < 1.5) {
    const double d = t - 1.5;
    return 0.5 * (d * d);
  }
  return 0.0;
}

double BSpline(double x) {
  const double t = std::fabs(x);
  if (t < 1) return 0.5 * (t * t * t) - x * x + 2.0 / 3.0;
  if (t < 2) {
    const double d = 2.0 - t;
    return d * d * d / 6.0;
  }
  return 0.0;
}

double Hermite(double x) {
  const double t = std::fabs(x);
  return t < 1 ? 2.0 * (t * t * t) - 3.0 * (x * x) + 1.0 : 0.0;
}

double Lanczos3(double x) {
  if (x == 0) return 1.0;
  return std::fabs(x) < 3 ? Sinc(x) * Sinc(x / 3.0) : 0.0;
}

double Mitchell(double x) {
  const double t = std::fabs(x);
  const double t2 = x * x;
  const double t3 = t * t2;
  if (t < 1) return (7.0 * t3 - 12.0 * t2 + 16.0 / 3.0) / 6.0;
  if (t < 2) return (-(7.0 / 3.0) * t3 + 12.0 * t2 - 20.0 * t + 32.0 / 3.0) / 6.0;
  return 0.0;
}

double Hanning(double x) { return 0.5 + 0.5 * std::cos(kPi * x); }

double CatmullRom(double x) {
  const double t = std::fabs(x);
  const double t2 = x * x;
  const double t3 = t * t2;
  if (t < 1) return (3.0 * t3 - 5.0 * t2 + 2.0) / 2.0;
  if (t < 2) return (-t3 + 5.0 * t2 - 8.0 * t + 4.0) / 2.0;
  return 0.0;
}

constexpr std::array<FilterKernel, kFilterKindCount> kKernels = {{
    {Box, 0.5},
    {Triangle, 1.0},
    {Hamming, 1.0},
    {Gaussian, 1.25},
    {Bell, 1.5},
    {BSpline, 2.0},
    {Hermite, 1.0},
    {BSpline, 2.0},
    {Lanczos3, 3.0},
    {Mitchell, 2.0},
    {Sinc, 4.0},
    {Hermite, 1.0},
    {Hanning, 1.0},
    {CatmullRom, 2.0},
}};

}  // namespace

const FilterKernel& KernelOfKind(int32_t kind) { return kKernels[kind]; }

}  // namespace vellum

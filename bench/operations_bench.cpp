// Imaging operations on the 1920 x 1200 photograph: each resize algorithm two
// times down and up, rotation by 45 degrees, sharpen, blur, brightness and a
// masked overlay. bench/operations_pillow.py times Pillow's nearest equivalents.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "bench/support/bench_data.h"
#include "platform/kernel/global_memory.h"
#include "vellum/core/blend.h"
#include "vellum/core/resample.h"
#include "vellum/core/rotate.h"
#include "vellum/pixelops/filters.h"

namespace {

using bench_support::RgbImage;
using namespace vellum;

using bench_support::Photo;

enum Algorithm { kBilinear, kNearest, kBicubic, kLanczos };

void Resize(benchmark::State& state, Algorithm algorithm, double factor) {
  const RgbImage& in = Photo();
  const uint32_t w = static_cast<uint32_t>(in.width * factor);
  const uint32_t h = static_cast<uint32_t>(in.height * factor);
  std::vector<uint8_t> out(size_t{w} * h * 3);
  for (auto _ : state) {
    BOOL ok = FALSE;
    switch (algorithm) {
      case kBilinear:
        ok = ResizeBilinear(in.rgb.data(), in.width, in.height, out.data(), w, h);
        break;
      case kNearest:
        ok = ResizeNearest(in.rgb.data(), in.width, in.height, 3, out.data(), w, h);
        break;
      case kBicubic:
        ok = ResizeBicubic(in.rgb.data(), in.width, in.height, out.data(), w, h);
        break;
      case kLanczos:
        ok = ResizeFiltered(in.rgb.data(), in.width, in.height, out.data(), w, h, 3, 8);
        break;
    }
    if (!ok) state.SkipWithError("resize failed");
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK_CAPTURE(Resize, nearest_down, kNearest, 0.5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Resize, nearest_up, kNearest, 2.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Resize, bilinear_down, kBilinear, 0.5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Resize, bilinear_up, kBilinear, 2.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Resize, bicubic_down, kBicubic, 0.5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Resize, bicubic_up, kBicubic, 2.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Resize, lanczos_down, kLanczos, 0.5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Resize, lanczos_up, kLanczos, 2.0)->Unit(benchmark::kMillisecond);

void Rotate45(benchmark::State& state) {
  const RgbImage& in = Photo();
  for (auto _ : state) {
    uint32_t w = 0, h = 0;
    HGLOBAL block = RotateByAngle(in.rgb.data(), in.width, in.height, 45 * M_PI / 180, 0, &w, &h);
    if (block == nullptr) state.SkipWithError("rotation failed");
    GlobalFree(block);
  }
}
BENCHMARK(Rotate45)->Unit(benchmark::kMillisecond);

void Neighbourhood(benchmark::State& state, NeighbourhoodKind kind) {
  const RgbImage& in = Photo();
  std::vector<uint8_t> out(in.rgb.size());
  for (auto _ : state) {
    if (!FilterNeighbourhood(in.rgb.data(), out.data(), in.width, in.height, 50, kind)) {
      state.SkipWithError("filter failed");
    }
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK_CAPTURE(Neighbourhood, sharpen, kSharpen)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Neighbourhood, blur, kBlur)->Unit(benchmark::kMillisecond);

void Brightness(benchmark::State& state) {
  RgbImage image = Photo();
  for (auto _ : state) {
    if (!AdjustGamma(image.rgb.data(), image.width, image.height, 1.5)) {
      state.SkipWithError("brightness failed");
    }
    benchmark::DoNotOptimize(image.rgb.data());
  }
}
BENCHMARK(Brightness)->Unit(benchmark::kMillisecond);

// The photograph over a copy of itself through its own luminance as the mask.
void MaskedOverlay(benchmark::State& state) {
  const RgbImage& in = Photo();
  std::vector<uint8_t> mask(size_t{in.width} * in.height);
  for (size_t p = 0; p < mask.size(); ++p) {
    const uint8_t* px = &in.rgb[p * 3];
    mask[p] = static_cast<uint8_t>((299 * px[0] + 587 * px[1] + 114 * px[2]) / 1000);
  }
  std::vector<uint8_t> target(in.rgb.rbegin(), in.rgb.rend());
  for (auto _ : state) {
    if (!OverlayWithMask(target.data(), in.width, in.height, in.rgb.data(), in.width, in.height,
                         mask.data(), 0, 0)) {
      state.SkipWithError("overlay failed");
    }
    benchmark::DoNotOptimize(target.data());
  }
}
BENCHMARK(MaskedOverlay)->Unit(benchmark::kMillisecond);

}  // namespace

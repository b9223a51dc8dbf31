// Colour reduction and the BMP codec on the 1920 x 1200 photograph.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/support/bench_data.h"
#include "platform/kernel/global_memory.h"
#include "vellum/codecs/bmp.h"
#include "vellum/pixelops/default_palette.h"
#include "vellum/pixelops/dithering.h"
#include "vellum/pixelops/octree_quantizer.h"

namespace {

using bench_support::Photo;

std::vector<uint8_t> EncodeBmp(const bench_support::RgbImage& photo) {
  std::vector<uint8_t> file(photo.rgb.size() + photo.height * 4 + 1024);
  vellum::HISDEST destination =
      vellum::OpenMemoryDestination(file.data(), static_cast<uint32_t>(file.size()));
  const uint32_t size =
      vellum::WriteBMP(destination, photo.rgb.data(), photo.width, photo.height, 24, 0, nullptr);
  vellum::CloseDestination(destination);
  file.resize(size);
  return file;
}

void QuantizeOctree256(benchmark::State& state) {
  const auto& photo = Photo();
  std::vector<uint8_t> indices(size_t{photo.width} * photo.height);
  std::vector<RGBQUAD> palette(256);
  for (auto _ : state) {
    if (!vellum::QuantizeOctree(photo.rgb.data(), photo.width, photo.height, indices.data(), 256,
                                palette.data())) {
      state.SkipWithError("quantization failed");
    }
    benchmark::DoNotOptimize(indices.data());
  }
}
BENCHMARK(QuantizeOctree256)->Unit(benchmark::kMillisecond);

void DitherToDefaultPalette(benchmark::State& state) {
  const auto& photo = Photo();
  const vellum::Palette palette = vellum::MakeDefaultPalette();
  std::vector<uint8_t> indices(size_t{photo.width} * photo.height);
  for (auto _ : state) {
    vellum::MapPaletteDithered(photo.rgb.data(), photo.width, photo.height, indices.data(),
                               palette.data(), 256);
    benchmark::DoNotOptimize(indices.data());
  }
}
BENCHMARK(DitherToDefaultPalette)->Unit(benchmark::kMillisecond);

void WriteBmp24(benchmark::State& state) {
  const auto& photo = Photo();
  for (auto _ : state) {
    const std::vector<uint8_t> file = EncodeBmp(photo);
    if (file.empty()) state.SkipWithError("write failed");
    benchmark::DoNotOptimize(file.data());
  }
}
BENCHMARK(WriteBmp24)->Unit(benchmark::kMillisecond);

void ReadBmp24(benchmark::State& state) {
  const std::vector<uint8_t> file = EncodeBmp(Photo());
  for (auto _ : state) {
    vellum::HISSRC source =
        vellum::OpenMemorySource(file.data(), static_cast<uint32_t>(file.size()));
    int32_t width = 0;
    int32_t height = 0;
    HGLOBAL image = vellum::ReadBMP(source, &width, &height, 24);
    vellum::CloseSource(source);
    if (image == nullptr) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(image);
    GlobalFree(image);
  }
}
BENCHMARK(ReadBmp24)->Unit(benchmark::kMillisecond);

}  // namespace

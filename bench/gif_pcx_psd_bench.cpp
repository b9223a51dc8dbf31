// GIF, PCX and layered-image (8BPS) encode and decode on the 1920 x 1200
// photograph: GIF of a 256-colour index image made from it (3-3-2 bits of red,
// green and blue), PCX (24-bit) and 8BPS (RGB) of the photograph itself; each
// decode reads what the encode wrote. The written files are left beside the
// photograph, where bench/gif_pcx_psd_pillow.py has Pillow decode them too.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "bench/support/bench_data.h"
#include "platform/kernel/global_memory.h"
#include "vellum/codecs/gif.h"
#include "vellum/codecs/pcx.h"
#include "vellum/codecs/psd.h"
#include "vellum/core/conversions.h"

namespace {

using bench_support::RgbImage;
using namespace vellum;

using bench_support::Photo;

struct IndexImage {
  std::vector<uint8_t> indices;
  Palette palette{};
};

// Index = the top 3 bits of red, 3 of green and 2 of blue.
const IndexImage& Indexed() {
  static const IndexImage image = [] {
    const RgbImage& photo = Photo();
    IndexImage made;
    made.indices.resize(size_t{photo.width} * photo.height);
    for (size_t i = 0; i < made.indices.size(); ++i) {
      const uint8_t* p = &photo.rgb[3 * i];
      made.indices[i] = static_cast<uint8_t>((p[0] & 0xE0) | (p[1] & 0xE0) >> 3 | p[2] >> 6);
    }
    for (int i = 0; i < 256; ++i) {
      made.palette[i] =
          RGBQUAD{static_cast<BYTE>((i & 0x03) << 6), static_cast<BYTE>((i & 0x1C) << 3),
                  static_cast<BYTE>(i & 0xE0), 255};
    }
    return made;
  }();
  return image;
}

// Writes into a memory destination over `block`; returns the bytes written.
template <typename Write>
uint32_t EncodeInto(std::vector<uint8_t>& block, Write write) {
  HISDEST destination = OpenMemoryDestination(block.data(), static_cast<uint32_t>(block.size()));
  const uint32_t size = write(destination);
  CloseDestination(destination);
  return size;
}

template <typename Write>
std::vector<uint8_t> Encode(size_t capacity, Write write) {
  std::vector<uint8_t> block(capacity);
  block.resize(EncodeInto(block, write));
  return block;
}

template <typename Write>
void EncodeLoop(benchmark::State& state, size_t capacity, Write write) {
  std::vector<uint8_t> block(capacity);
  for (auto _ : state) {
    if (EncodeInto(block, write) == 0) state.SkipWithError("encode failed");
    benchmark::DoNotOptimize(block.data());
  }
}

template <typename Read>
void DecodeLoop(benchmark::State& state, const std::vector<uint8_t>& file, Read read,
                const char* keepAs) {
  if (FILE* kept = std::fopen(bench_support::DataPath(keepAs).c_str(), "wb")) {
    std::fwrite(file.data(), 1, file.size(), kept);
    std::fclose(kept);
  }
  state.counters["file bytes"] = static_cast<double>(file.size());
  for (auto _ : state) {
    HISSRC source = OpenMemorySource(file.data(), static_cast<uint32_t>(file.size()));
    int32_t width = 0, height = 0;
    HGLOBAL image = read(source, &width, &height);
    CloseSource(source);
    if (image == nullptr) state.SkipWithError("decode failed");
    GlobalFree(image);
  }
}

auto WriteGifOf(const IndexImage& image) {
  return [&image](HISDEST d) {
    const RgbImage& photo = Photo();
    return WriteGIF(d, image.indices.data(), int32_t(photo.width), int32_t(photo.height), 0, 0, -1,
                    8, image.palette.data());
  };
}

auto WritePhotoAs(uint32_t (*writer)(HISDEST, const uint8_t*, int32_t, int32_t, int32_t,
                                     const RGBQUAD*)) {
  return [writer](HISDEST d) {
    const RgbImage& photo = Photo();
    return writer(d, photo.rgb.data(), int32_t(photo.width), int32_t(photo.height), 24, nullptr);
  };
}

size_t Capacity() { return Photo().rgb.size() * 2 + 65536; }

void GifEncode(benchmark::State& state) { EncodeLoop(state, Capacity(), WriteGifOf(Indexed())); }

void GifDecode(benchmark::State& state) {
  const std::vector<uint8_t> file = Encode(Capacity(), WriteGifOf(Indexed()));
  int32_t transparent = 0;
  DecodeLoop(
      state, file, [&](HISSRC s, int32_t* w, int32_t* h) { return ReadGIF(s, w, h, &transparent); },
      "written.gif");
}

void PcxEncode(benchmark::State& state) { EncodeLoop(state, Capacity(), WritePhotoAs(WritePCX)); }

void PcxDecode(benchmark::State& state) {
  const std::vector<uint8_t> file = Encode(Capacity(), WritePhotoAs(WritePCX));
  DecodeLoop(
      state, file, [](HISSRC s, int32_t* w, int32_t* h) { return ReadPCX(s, w, h, 24); },
      "written.pcx");
}

void PsdEncode(benchmark::State& state) { EncodeLoop(state, Capacity(), WritePhotoAs(WritePSD)); }

void PsdDecode(benchmark::State& state) {
  const std::vector<uint8_t> file = Encode(Capacity(), WritePhotoAs(WritePSD));
  DecodeLoop(
      state, file, [](HISSRC s, int32_t* w, int32_t* h) { return ReadPSD(s, w, h, 24); },
      "written.psd");
}

BENCHMARK(GifEncode)->Unit(benchmark::kMillisecond);
BENCHMARK(GifDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(PcxEncode)->Unit(benchmark::kMillisecond);
BENCHMARK(PcxDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(PsdEncode)->Unit(benchmark::kMillisecond);
BENCHMARK(PsdDecode)->Unit(benchmark::kMillisecond);

}  // namespace

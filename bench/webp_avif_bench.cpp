// WebP and AVIF on the 1920x1200 photograph: encoding at the qualities the reference
// uses and decoding the files we wrote. bench/webp_avif_pillow.py measures Pillow (WebP)
// and avifenc/avifdec (AVIF, which Debian's Pillow cannot handle) in the same run on
// the same pixels and files; the "bytes" counter gives each file's size to compare.
#include <benchmark/benchmark.h>

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/support/bench_data.h"
#include "platform/kernel/global_memory.h"
#include "vellum/codecs/avif.h"
#include "vellum/codecs/webp.h"

namespace {

using namespace vellum;
using bench_support::Photo;
using bench_support::RgbImage;

// Qualities shared with the reference script: WebP's lossy quality, and the AVIF
// quality whose quantizer (63 at 0, falling linearly) the script hands avifenc.
constexpr int32_t kWebpQuality = 75;
constexpr int32_t kAvifQuality = 60;

std::vector<uint8_t>& DestinationBlock() {
  static std::vector<uint8_t> block(Photo().rgb.size() * 2 + (1 << 20));
  return block;
}

std::vector<uint8_t> Encode(uint32_t (*write)(HISDEST, const uint8_t*, int32_t, int32_t, int32_t),
                            int32_t quality) {
  const RgbImage& photo = Photo();
  std::vector<uint8_t>& block = DestinationBlock();
  HISDEST destination = OpenMemoryDestination(block.data(), static_cast<uint32_t>(block.size()));
  const uint32_t size =
      write(destination, photo.rgb.data(), int32_t(photo.width), int32_t(photo.height), quality);
  CloseDestination(destination);
  if (size == 0) {
    throw std::runtime_error("encoding failed with code " + std::to_string(CoreLastError()));
  }
  return {block.begin(), block.begin() + size};
}

// Our file at the benchmark's quality, written once beside the photograph for the
// reference script to decode.
const std::vector<uint8_t>& OurFile(const std::string& extension) {
  static const std::vector<uint8_t> webp = Encode(WriteWEBP, kWebpQuality);
  static const std::vector<uint8_t> avif = Encode(WriteAVIF, kAvifQuality);
  const std::vector<uint8_t>& bytes = extension == "webp" ? webp : avif;
  std::ofstream(bench_support::DataPath("medium-vellum." + extension), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bytes;
}

void BM_Encode(benchmark::State& state,
               uint32_t (*write)(HISDEST, const uint8_t*, int32_t, int32_t, int32_t),
               int32_t quality) {
  size_t bytes = 0;
  for (auto _ : state) bytes = Encode(write, quality).size();
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK_CAPTURE(BM_Encode, WebpLossy, WriteWEBP, kWebpQuality)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Encode, WebpLossless, WriteWEBP, 100)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Encode, Avif, WriteAVIF, kAvifQuality)->Unit(benchmark::kMillisecond);

void BM_Decode(benchmark::State& state, HGLOBAL (*read)(HISSRC, int32_t*, int32_t*),
               const char* extension) {
  const std::vector<uint8_t>& file = OurFile(extension);
  for (auto _ : state) {
    HISSRC source = OpenMemorySource(file.data(), static_cast<uint32_t>(file.size()));
    int32_t width = 0;
    int32_t height = 0;
    HGLOBAL image = read(source, &width, &height);
    CloseSource(source);
    if (image == nullptr) {
      throw std::runtime_error("decoding failed with code " + std::to_string(CoreLastError()));
    }
    benchmark::DoNotOptimize(image);
    GlobalFree(image);
  }
  state.counters["bytes"] = static_cast<double>(file.size());
}
BENCHMARK_CAPTURE(BM_Decode, Webp, ReadWEBP, "webp")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decode, Avif, ReadAVIF, "avif")->Unit(benchmark::kMillisecond);

}  // namespace

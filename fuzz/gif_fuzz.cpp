// Reads the input as a GIF file; then takes it as an index image, writes it with
// WriteGIF and checks that ReadGIF gives back exactly those pixels.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_limits.h"
#include "platform/kernel/global_memory.h"
#include "vellum/codecs/gif.h"
#include "vellum/core/conversions.h"

using namespace vellum;

namespace {

void ReadAsGif(const uint8_t* data, size_t size) {
  fuzz_support::UseFuzzPixelLimit();
  HISSRC source = OpenMemorySource(data, static_cast<uint32_t>(size));
  if (source == nullptr) return;
  int32_t width = 0, height = 0, transparent = 0;
  HGLOBAL image = ReadGIF(source, &width, &height, &transparent);
  if (image != nullptr) {
    if (GlobalSize(image) != size_t(width) * size_t(height) * 3) __builtin_trap();
    fuzz_support::CheckWithinLimit(width, height);
    GlobalFree(image);
  }
  CloseSource(source);
}

constexpr size_t kMaxRoundTripPixels = 1 << 14;

// Bytes 0 and 1 give the table bits and the width; the rest are pairs of a run
// length (in units of 1 to 64 pixels) and an index.
void RoundTrip(const uint8_t* data, size_t size) {
  if (size < 4) return;
  const int tableBits = 1 + data[0] % 8;
  const uint32_t width = 1 + data[1];
  const uint32_t unit = 1 + (data[0] >> 3) % 64;
  std::vector<uint8_t> pixels;
  for (size_t i = 2; i + 1 < size && pixels.size() < kMaxRoundTripPixels; i += 2) {
    pixels.insert(pixels.end(), (data[i] + 1) * unit, data[i + 1] & ((1 << tableBits) - 1));
  }
  const uint32_t height = static_cast<uint32_t>(std::min<size_t>(pixels.size() / width, 0xFFFF));
  if (height == 0) return;
  pixels.resize(size_t{width} * height);
  Palette palette{};
  for (int i = 0; i < 256; ++i)
    palette[i] = RGBQUAD{uint8_t(i), uint8_t(i ^ 0x55), uint8_t(~i), 255};

  std::vector<uint8_t> file(pixels.size() * 2 + 2048);
  HISDEST destination = OpenMemoryDestination(file.data(), static_cast<uint32_t>(file.size()));
  const uint32_t written = WriteGIF(destination, pixels.data(), int32_t(width), int32_t(height),
                                    data[0] & 1, 0, -1, tableBits, palette.data());
  CloseDestination(destination);
  if (written == 0) __builtin_trap();

  HISSRC source = OpenMemorySource(file.data(), written);
  int32_t w = 0, h = 0, transparent = 0;
  HGLOBAL image = ReadGIF(source, &w, &h, &transparent);
  CloseSource(source);
  if (image == nullptr || uint32_t(w) != width || uint32_t(h) != height) __builtin_trap();
  std::vector<uint8_t> expected(pixels.size() * 3);
  ExpandRowToRgb(pixels.data(), pixels.size(), RowFormat{8, &palette}, expected.data());
  if (std::memcmp(image, expected.data(), expected.size()) != 0) __builtin_trap();
  GlobalFree(image);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ReadAsGif(data, size);
  RoundTrip(data, size);
  return 0;
}

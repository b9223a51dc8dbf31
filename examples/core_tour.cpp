// A short tour of the imaging core as it stands: builds a colour image in memory,
// reduces it to gray and to an eight-colour palette with the shared conversions,
// and writes both as portable pixmaps through a file destination.
//
//   core_tour OUTPUT_DIR
#include <cstdio>
#include <string>
#include <vector>

#include "vellum/core/conversions.h"
#include "vellum/core/data_handle.h"
#include "vellum/core/entry_frame.h"

using namespace vellum;

namespace {

constexpr uint32_t kWidth = 256;
constexpr uint32_t kHeight = 128;

std::vector<uint8_t> MakeColorWheel() {
  std::vector<uint8_t> rgb(kWidth * kHeight * 3);
  for (uint32_t y = 0; y < kHeight; ++y) {
    for (uint32_t x = 0; x < kWidth; ++x) {
      uint8_t* p = &rgb[(y * kWidth + x) * 3];
      p[0] = static_cast<uint8_t>(x);
      p[1] = static_cast<uint8_t>(y * 2);
      p[2] = static_cast<uint8_t>(255 - x);
    }
  }
  return rgb;
}

// Writes a binary PPM (P6) or PGM (P5) through the core's file destination.
bool WritePortableMap(const std::string& path, const std::vector<uint8_t>& pixels, bool gray) {
  HISDEST destination = OpenFileDestination(path.c_str());
  if (destination == nullptr) {
    std::fprintf(stderr, "cannot open %s: %s", path.c_str(), CoreErrorText(CoreLastError()));
    return false;
  }
  const std::string header = std::string(gray ? "P5" : "P6") + "\n" + std::to_string(kWidth) + " " +
                             std::to_string(kHeight) + "\n255\n";
  const bool ok = WriteBytes(destination, header.data(), header.size()) &&
                  WriteBytes(destination, pixels.data(), pixels.size());
  const uint32_t size = CloseDestination(destination);
  std::printf("  %-28s %7u bytes%s\n", path.c_str(), size, ok ? "" : " (write failed)");
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string outputDir = argc > 1 ? argv[1] : ".";
  const std::vector<uint8_t> rgb = MakeColorWheel();
  std::printf("Vellum imaging core: %ux%u RGB image built in memory\n", kWidth, kHeight);

  std::vector<uint8_t> gray(kWidth * kHeight);
  if (!RgbToGray(rgb.data(), kWidth, kHeight, gray.data())) return 1;

  RGBQUAD eight[8];
  for (int i = 0; i < 8; ++i) {
    eight[i] =
        RGBQUAD{uint8_t(i & 4 ? 255 : 0), uint8_t(i & 2 ? 255 : 0), uint8_t(i & 1 ? 255 : 0), 0};
  }
  std::vector<uint8_t> indices(kWidth * kHeight);
  if (!MapToNearestColor(rgb.data(), kWidth, kHeight, eight, 8, indices.data())) return 1;
  Palette palette{};
  std::copy(std::begin(eight), std::end(eight), palette.begin());
  std::vector<uint8_t> reduced(rgb.size());
  OpContext ctx;
  IndexedToRgb(ctx, indices.data(), kWidth, kHeight, palette, reduced.data());

  std::printf("Writing through file destinations:\n");
  const bool ok = WritePortableMap(outputDir + "/tour-color.ppm", rgb, false) &&
                  WritePortableMap(outputDir + "/tour-gray.pgm", gray, true) &&
                  WritePortableMap(outputDir + "/tour-8colors.ppm", reduced, false);
  return ok ? 0 : 1;
}

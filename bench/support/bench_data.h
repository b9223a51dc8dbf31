// Inputs for benchmarks: the photographs scripts/bench.sh converts to PPM before
// the benchmarks run (VELLUM_BENCH_DATA names the folder).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench_support {

struct RgbImage {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgb;  // 3 bytes per pixel, rows top to bottom
};

inline std::string DataPath(const std::string& name) {
  const char* folder = std::getenv("VELLUM_BENCH_DATA");
  return std::string(folder != nullptr ? folder : "bench-data") + "/" + name;
}

// Reads a binary PPM (P6, maxval 255) as written by ImageMagick.
inline RgbImage LoadPpm(const std::string& name) {
  const std::string path = DataPath(name);
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) throw std::runtime_error("missing benchmark input " + path);
  RgbImage image;
  unsigned maxval = 0;
  if (std::fscanf(file, "P6 %u %u %u", &image.width, &image.height, &maxval) != 3 ||
      maxval != 255) {
    std::fclose(file);
    throw std::runtime_error("not an 8-bit PPM: " + path);
  }
  std::fgetc(file);  // the single whitespace after the header
  image.rgb.resize(size_t{image.width} * image.height * 3);
  const size_t got = std::fread(image.rgb.data(), 1, image.rgb.size(), file);
  std::fclose(file);
  if (got != image.rgb.size()) throw std::runtime_error("short PPM: " + path);
  return image;
}

// The 1920 x 1200 photograph every benchmark works on, loaded once.
inline const RgbImage& Photo() {
  static const RgbImage photo = LoadPpm("medium.ppm");
  return photo;
}

}  // namespace bench_support

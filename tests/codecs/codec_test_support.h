// Running the codec entries over bytes in memory, and the index images and
// palettes the writer tests feed them.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <random>
#include <vector>

#include "platform/kernel/global_memory.h"
#include "platform/kernel/win_types.h"
#include "vellum/core/conversions.h"
#include "vellum/core/data_handle.h"
#include "vellum/core/library.h"

namespace codec_testing {

// What a reader made of some bytes: the RGB pixels on success, and the code it left.
struct Decoded {
  bool ok = false;
  int32_t code = 0;
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgb;
};

// Runs `read(source, &width, &height)` over a memory source holding `bytes`.
template <typename Read>
Decoded DecodeBytes(const std::vector<uint8_t>& bytes, Read read) {
  Decoded result;
  vellum::HISSRC source =
      vellum::OpenMemorySource(bytes.data(), static_cast<uint32_t>(bytes.size()));
  if (source == nullptr) return result;
  HGLOBAL block = read(source, &result.width, &result.height);
  result.code = vellum::CoreLastError();
  if (block != nullptr) {
    result.ok = true;
    const uint8_t* data = static_cast<const uint8_t*>(block);
    result.rgb.assign(data, data + GlobalSize(block));
    GlobalFree(block);
  }
  vellum::CloseSource(source);
  return result;
}

// Runs a reader asked for 24 bits (ReadPCX, ReadPSD) over `bytes`.
inline Decoded DecodeRgb(const std::vector<uint8_t>& bytes,
                         HGLOBAL (*read)(vellum::HISSRC, int32_t*, int32_t*, int32_t)) {
  return DecodeBytes(
      bytes, [read](vellum::HISSRC s, int32_t* w, int32_t* h) { return read(s, w, h, 24); });
}

// What a writer left in a memory destination of `capacity` bytes.
struct Written {
  uint32_t result = 0;
  int32_t code = 0;
  std::vector<uint8_t> bytes;
};

// Runs `write(destination)`, which returns the writer's result.
template <typename Write>
Written WriteToMemory(size_t capacity, Write write) {
  Written written;
  std::vector<uint8_t> block(capacity);
  vellum::HISDEST destination =
      vellum::OpenMemoryDestination(block.data(), static_cast<uint32_t>(capacity));
  written.result = write(destination);
  written.code = vellum::CoreLastError();
  block.resize(vellum::CloseDestination(destination));
  written.bytes = std::move(block);
  return written;
}

inline std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> joined;
  for (const auto& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

inline std::vector<uint8_t> Le16(uint32_t value) { return {uint8_t(value), uint8_t(value >> 8)}; }

// A palette whose entries all differ, so that colours identify indices.
inline vellum::Palette DistinctPalette() {
  vellum::Palette palette{};
  for (int i = 0; i < 256; ++i) {
    palette[i] =
        RGBQUAD{static_cast<BYTE>(255 - i), static_cast<BYTE>(i * 7), static_cast<BYTE>(i), 255};
  }
  return palette;
}

// Indices looked up in a palette, as RGB.
inline std::vector<uint8_t> IndicesToRgb(const std::vector<uint8_t>& indices,
                                         const vellum::Palette& palette) {
  std::vector<uint8_t> rgb;
  rgb.reserve(indices.size() * 3);
  for (uint8_t index : indices) {
    rgb.insert(rgb.end(), {palette[index].rgbRed, palette[index].rgbGreen, palette[index].rgbBlue});
  }
  return rgb;
}

inline std::vector<uint8_t> RandomBytes(size_t count, unsigned limit, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(count);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random() % limit);
  return bytes;
}

// Runs of equal indices whose lengths range from 1 to thousands.
inline std::vector<uint8_t> RandomRuns(size_t count, unsigned limit, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes;
  bytes.reserve(count);
  while (bytes.size() < count) {
    const size_t length = std::min<size_t>(
        count - bytes.size(), 1 + (random() % 4 == 0 ? random() % 5000 : random() % 12));
    bytes.insert(bytes.end(), length, static_cast<uint8_t>(random() % limit));
  }
  return bytes;
}

}  // namespace codec_testing

// Helpers for the codec suites: running readers, info entries and writers over
// memory handles, deterministic pictures, index images and palettes, and PPM files
// for the command-line oracles.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "platform/kernel/global_memory.h"
#include "platform/kernel/win_types.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"
#include "vellum/codecs/codec_types.h"
#include "vellum/core/conversions.h"
#include "vellum/core/data_handle.h"
#include "vellum/core/entry_frame.h"

namespace vellum::codec_tests {

// What every codec suite takes from the shared test support: scratch folders, files
// and the command-line oracles. A suite says `using namespace codec_tests;`.
using testing_support::DecodeWithImageMagick;
using testing_support::DecodeWithPillow;
using testing_support::RawImage;
using testing_support::ReadFileBytes;
using testing_support::RunCommand;
using testing_support::ShellQuote;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

struct Decoded {
  int32_t code = -1;  // the thread's last error after the reader
  bool hasImage = false;
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgb;
};

// Runs read(source, &width, &height) on a memory source over `bytes` and copies the
// buffer it returns (checking its size) before freeing it.
template <typename Reader>
Decoded DecodeBytes(const std::vector<uint8_t>& bytes, Reader read) {
  Decoded decoded;
  HISSRC source = OpenMemorySource(bytes.data(), static_cast<uint32_t>(bytes.size()));
  decoded.code = CoreLastError();
  if (source == nullptr) return decoded;
  HGLOBAL block = read(source, &decoded.width, &decoded.height);
  decoded.code = CoreLastError();
  CloseSource(source);
  if (block == nullptr) return decoded;
  decoded.hasImage = true;
  const size_t size = size_t{static_cast<uint32_t>(decoded.width)} * decoded.height * 3;
  EXPECT_EQ(GlobalSize(block), size);
  const auto* data = static_cast<const uint8_t*>(block);
  decoded.rgb.assign(data, data + std::min<size_t>(size, GlobalSize(block)));
  GlobalFree(block);
  return decoded;
}

// What an info entry taking (source, width, height, bits per pixel, resolution)
// reported, with the thread's last error after it.
struct SizeInfo {
  BOOL result = FALSE;
  int32_t code = -1;
  int32_t width = -1;
  int32_t height = -1;
  int32_t bits = -1;
  ResolutionRecord resolution{-1, -1, -1};
};

template <typename InfoEntry>
SizeInfo ReadSizeInfo(const std::vector<uint8_t>& bytes, InfoEntry entry) {
  SizeInfo info;
  HISSRC source = OpenMemorySource(bytes.data(), static_cast<uint32_t>(bytes.size()));
  info.result = entry(source, &info.width, &info.height, &info.bits, &info.resolution);
  info.code = CoreLastError();
  CloseSource(source);
  return info;
}

struct Encoded {
  uint32_t result = 0;  // what the writer returned
  int32_t code = -1;    // the thread's last error after the writer
  std::vector<uint8_t> bytes;
};

// Runs write(destination) on a memory destination of `capacity` bytes.
template <typename Writer>
Encoded EncodeBytes(Writer write, size_t capacity = 4u << 20) {
  Encoded encoded;
  std::vector<uint8_t> block(capacity);
  HISDEST destination = OpenMemoryDestination(block.data(), static_cast<uint32_t>(capacity));
  EXPECT_NE(destination, nullptr);
  if (destination == nullptr) return encoded;
  encoded.result = write(destination);
  encoded.code = CoreLastError();
  const uint32_t size = CloseDestination(destination);
  encoded.bytes.assign(block.begin(), block.begin() + size);
  return encoded;
}

// A picture with smooth gradients, hard edges and a different look in every
// corner, so that flips, channel swaps and shifted rows all show.
inline std::vector<uint8_t> TestPicture(int width, int height) {
  std::vector<uint8_t> rgb(size_t(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &rgb[(size_t(y) * width + x) * 3];
      p[0] = static_cast<uint8_t>(x * 255 / std::max(1, width - 1));
      p[1] = static_cast<uint8_t>(y * 255 / std::max(1, height - 1));
      p[2] = static_cast<uint8_t>(((x / 8 + y / 8) % 2) ? 200 : 30);
    }
  }
  return rgb;
}

inline std::vector<uint8_t> PpmBytes(int width, int height, const std::vector<uint8_t>& rgb) {
  const std::string header =
      "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  std::vector<uint8_t> bytes(header.begin(), header.end());
  bytes.insert(bytes.end(), rgb.begin(), rgb.end());
  return bytes;
}

// The largest difference between two equally long sample arrays.
inline int MaxDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  EXPECT_EQ(a.size(), b.size());
  int worst = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    worst = std::max(worst, std::abs(int{a[i]} - int{b[i]}));
  }
  return worst;
}

// Expects our decoding to be the oracle's, sample for sample within `tolerance`.
inline void ExpectSameImage(const Decoded& ours, const testing_support::RawImage& oracle,
                            int tolerance = 0) {
  ASSERT_TRUE(ours.hasImage) << "code " << ours.code;
  ASSERT_EQ(ours.width, oracle.width);
  ASSERT_EQ(ours.height, oracle.height);
  EXPECT_LE(MaxDifference(ours.rgb, oracle.rgb), tolerance);
}

// Runs a reader asked for 24 bits (ReadPCX, ReadPSD) over `bytes`.
inline Decoded DecodeRgb(const std::vector<uint8_t>& bytes,
                         HGLOBAL (*read)(HISSRC, int32_t*, int32_t*, int32_t)) {
  return DecodeBytes(bytes, [read](HISSRC s, int32_t* w, int32_t* h) { return read(s, w, h, 24); });
}

inline std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> joined;
  for (const auto& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

inline std::vector<uint8_t> Le16(uint32_t value) { return {uint8_t(value), uint8_t(value >> 8)}; }

// A palette whose entries all differ, so that colours identify indices.
inline Palette DistinctPalette() {
  Palette palette{};
  for (int i = 0; i < 256; ++i) {
    palette[i] =
        RGBQUAD{static_cast<BYTE>(255 - i), static_cast<BYTE>(i * 7), static_cast<BYTE>(i), 255};
  }
  return palette;
}

// Indices looked up in a palette, as RGB.
inline std::vector<uint8_t> IndicesToRgb(const std::vector<uint8_t>& indices,
                                         const Palette& palette) {
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

}  // namespace vellum::codec_tests

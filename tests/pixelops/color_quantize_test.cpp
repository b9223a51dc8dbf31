#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "tests/pixelops/color_test_support.h"
#include "vellum/pixelops/dithering.h"
#include "vellum/pixelops/octree_quantizer.h"

namespace vellum {
namespace {

using namespace color_test;

// Entries whose reserved byte marks them as untouched.
std::vector<RGBQUAD> Sentinels(size_t count) {
  return std::vector<RGBQUAD>(count, RGBQUAD{0x5A, 0x5A, 0x5A, 0x77});
}

std::vector<uint8_t> NoisyPicture(uint32_t width, uint32_t height, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> rgb(size_t{width} * height * 3);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      uint8_t* p = &rgb[(size_t{y} * width + x) * 3];
      p[0] = static_cast<uint8_t>(x * 255 / std::max(1u, width - 1) + random() % 24);
      p[1] = static_cast<uint8_t>(y * 255 / std::max(1u, height - 1) - random() % 24);
      p[2] = static_cast<uint8_t>(random() % 256);
    }
  }
  return rgb;
}

struct Quantized {
  std::vector<uint8_t> indices;
  std::vector<RGBQUAD> palette;
};

Quantized Quantize(const std::vector<uint8_t>& rgb, uint32_t width, uint32_t height, int32_t n,
                   size_t paletteSize = 300) {
  Quantized out{std::vector<uint8_t>(size_t{width} * height, 0xEE), Sentinels(paletteSize)};
  EXPECT_TRUE(QuantizeOctree(rgb.data(), width, height, out.indices.data(), n, out.palette.data()));
  EXPECT_EQ(CoreLastError(), kOk);
  return out;
}

// ---- octree quantization ----

TEST(OctreeQuantizer, OneColourImage) {
  std::vector<uint8_t> rgb;
  for (int i = 0; i < 35; ++i) rgb.insert(rgb.end(), {10, 200, 30});
  const Quantized q = Quantize(rgb, 7, 5, 256);
  EXPECT_EQ(ColorOf(q.palette[0]), (Rgb{10, 200, 30}));
  for (int i = 1; i < 256; ++i) ASSERT_EQ(ColorOf(q.palette[i]), (Rgb{0, 0, 0})) << i;
  // Only the colour bytes of the first n entries are written.
  for (int i = 0; i < 256; ++i) ASSERT_EQ(q.palette[i].rgbReserved, 0x77) << i;
  EXPECT_EQ(ColorOf(q.palette[256]), (Rgb{0x5A, 0x5A, 0x5A}));
  EXPECT_TRUE(std::all_of(q.indices.begin(), q.indices.end(), [](uint8_t i) { return i == 0; }));
}

TEST(OctreeQuantizer, FewCellsKeepOneRoundedMeanEachInTreeOrder) {
  // Three 5-5-5 cells. Cell means round half up: (8 + 9 + 9 + 1) / 3 = 9;
  // (200 + 201 + 1) / 2 = 201, (100 + 101 + 1) / 2 = 101, (50 + 52 + 1) / 2 = 51.
  // The walk visits higher children first: the (200, 100, 50) cell, then the two
  // cells under the black corner, (8, 0, 0) before (0, 0, 0).
  const std::vector<uint8_t> rgb =
      Image({{8, 0, 0}, {200, 100, 50}, {0, 0, 0}, {9, 0, 0}, {201, 101, 52}, {9, 0, 0}});
  const Quantized q = Quantize(rgb, 3, 2, 256);
  EXPECT_EQ(ColorOf(q.palette[0]), (Rgb{201, 101, 51}));
  EXPECT_EQ(ColorOf(q.palette[1]), (Rgb{9, 0, 0}));
  EXPECT_EQ(ColorOf(q.palette[2]), (Rgb{0, 0, 0}));
  EXPECT_EQ(q.indices[1], 0);
  EXPECT_EQ(q.indices[2], 2);
  EXPECT_EQ(q.indices[0], 1);
}

TEST(OctreeQuantizer, HeapTiesKeepTheLeftChildAndStopOnEqualWeight) {
  // Four pixels of weight 1 reduced to 3 colours. With the tie rules black, the
  // lightest root, climbs to the top node; then (0, 0, 128), the left of two
  // equal children, climbs and merges into it. Taking the right child on a tie
  // would merge (136, 0, 0) instead; moving an equal entry down would merge white.
  const std::vector<uint8_t> rgb = Image({{0, 0, 0}, {136, 0, 0}, {0, 0, 128}, {255, 255, 255}});
  const Quantized q = Quantize(rgb, 4, 1, 3);
  EXPECT_EQ(ColorOf(q.palette[0]), (Rgb{255, 255, 255}));
  EXPECT_EQ(ColorOf(q.palette[1]), (Rgb{136, 0, 0}));
  EXPECT_EQ(ColorOf(q.palette[2]), (Rgb{0, 0, 64}));
}

TEST(OctreeQuantizer, ColourCountIsForcedIntoOneTo256) {
  // n = 0 is one colour, the rounded mean of the whole image: (255 + 2) / 4.
  const std::vector<uint8_t> rgb = Image({{0, 0, 0}, {0, 0, 0}, {255, 255, 255}, {0, 0, 0}});
  for (int32_t n : {0, -5}) {
    const Quantized q = Quantize(rgb, 2, 2, n);
    EXPECT_EQ(ColorOf(q.palette[0]), (Rgb{64, 64, 64}));
    EXPECT_EQ(q.palette[1].rgbReserved, 0x77);
    EXPECT_EQ(ColorOf(q.palette[1]), (Rgb{0x5A, 0x5A, 0x5A}));  // only entry 0 written
    EXPECT_EQ(q.indices, std::vector<uint8_t>(4, 0));
  }
  // n = 300 is 256: the same result, and entries 256 and above untouched.
  const std::vector<uint8_t> picture = NoisyPicture(64, 48, 7);
  const Quantized capped = Quantize(picture, 64, 48, 300);
  const Quantized full = Quantize(picture, 64, 48, 256);
  EXPECT_EQ(capped.indices, full.indices);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(ColorOf(capped.palette[i]), ColorOf(full.palette[i]));
  EXPECT_EQ(ColorOf(capped.palette[256]), (Rgb{0x5A, 0x5A, 0x5A}));
  EXPECT_GT(*std::max_element(full.indices.begin(), full.indices.end()), 200);
}

TEST(OctreeQuantizer, ColourSumsOfLargeImagesDoNotOverflow) {
  // 17.2 million white pixels: each channel sums to more than 2^32.
  const uint32_t width = 4200;
  const uint32_t height = 4100;
  const std::vector<uint8_t> rgb(size_t{width} * height * 3, 255);
  const Quantized q = Quantize(rgb, width, height, 16, 16);
  EXPECT_EQ(ColorOf(q.palette[0]), (Rgb{255, 255, 255}));
}

TEST(OctreeQuantizer, RefusesMissingBuffers) {
  uint8_t pixel[3] = {1, 2, 3};
  uint8_t index = 0;
  RGBQUAD palette[1];
  EXPECT_FALSE(QuantizeOctree(nullptr, 1, 1, &index, 1, palette));
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  EXPECT_FALSE(QuantizeOctree(pixel, 1, 1, nullptr, 1, palette));
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  EXPECT_FALSE(QuantizeOctree(pixel, 1, 1, &index, 1, nullptr));
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
}

// ---- dithered mapping ----

std::vector<uint8_t> Dither(const std::vector<uint8_t>& rgb, uint32_t width, uint32_t height,
                            const std::vector<RGBQUAD>& palette) {
  std::vector<uint8_t> indices(size_t{width} * height, 0xEE);
  EXPECT_TRUE(MapPaletteDithered(rgb.data(), width, height, indices.data(), palette.data(),
                                 static_cast<uint32_t>(palette.size())));
  return indices;
}

TEST(DitheredMapping, SecondRowRunsRightToLeftAndFirstColourOfACellDecides) {
  // Row 0 is exact. In row 1, (14, 0, 0) at the right end is met first and picks
  // entry 2; (9, 0, 0) at the left end shares its 5-5-5 cell and gets entry 2 too,
  // though entry 1 is nearer.
  const std::vector<RGBQUAD> palette = {Entry({0, 0, 0}), Entry({8, 0, 0}), Entry({15, 0, 0})};
  const std::vector<uint8_t> rgb =
      Image({{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {9, 0, 0}, {0, 0, 0}, {14, 0, 0}});
  EXPECT_EQ(Dither(rgb, 3, 2, palette), (std::vector<uint8_t>{0, 0, 0, 2, 0, 2}));
}

TEST(DitheredMapping, ErrorBelowWeighsFiveSixteenthsAndIsLimitedToTwenty) {
  // The last pixel of row 0 is 40 above black, limited to 20; 5/16 of it,
  // (100 + 8) >> 4 = 6, reaches the last pixel of row 1, scanned first. Adding 6
  // to 44 ties between black and 100 (black, the first, wins); 45 + 6 is nearer 100.
  const std::vector<RGBQUAD> palette = {Entry({0, 0, 0}), Entry({100, 0, 0})};
  for (const auto& [value, expected] : {std::pair{44, 0}, std::pair{45, 1}}) {
    const uint8_t v = static_cast<uint8_t>(value);
    const std::vector<uint8_t> rgb =
        Image({{0, 0, 0}, {0, 0, 0}, {40, 0, 0}, {0, 0, 0}, {0, 0, 0}, {v, 0, 0}});
    EXPECT_EQ(Dither(rgb, 3, 2, palette)[5], expected) << value;
  }
}

// The mapping restated over whole-image error planes in image coordinates:
// direction-relative neighbours, error dropped where it leaves the image.
std::vector<uint8_t> ReferenceDither(const std::vector<uint8_t>& rgb, int width, int height,
                                     const std::vector<RGBQUAD>& palette) {
  std::vector<int> error(size_t(width) * (height + 1) * 3, 0);
  std::vector<int> cells(32768, -1);
  std::vector<uint8_t> out(size_t(width) * height);
  auto add = [&](int x, int y, int c, int amount) {
    if (x >= 0 && x < width && y <= height) error[(size_t(y) * width + x) * 3 + c] += amount;
  };
  for (int y = 0; y < height; ++y) {
    const int step = y % 2 == 0 ? 1 : -1;
    for (int k = 0; k < width; ++k) {
      const int x = step > 0 ? k : width - 1 - k;
      int adjusted[3];
      for (int c = 0; c < 3; ++c) {
        const int e = error[(size_t(y) * width + x) * 3 + c];
        adjusted[c] = std::clamp(rgb[(size_t(y) * width + x) * 3 + c] + ((e + 8) >> 4), 0, 255);
      }
      int& cell = cells[(adjusted[0] >> 3) * 1024 + (adjusted[1] >> 3) * 32 + (adjusted[2] >> 3)];
      if (cell < 0) {
        int best = 1 << 30;
        for (size_t i = 0; i < palette.size(); ++i) {
          const Rgb p = ColorOf(palette[i]);
          const int d = (p.red - adjusted[0]) * (p.red - adjusted[0]) +
                        (p.green - adjusted[1]) * (p.green - adjusted[1]) +
                        (p.blue - adjusted[2]) * (p.blue - adjusted[2]);
          if (d < best) best = d, cell = static_cast<int>(i);
        }
      }
      out[size_t(y) * width + x] = static_cast<uint8_t>(cell);
      const Rgb chosen = ColorOf(palette[cell]);
      const int values[3] = {chosen.red, chosen.green, chosen.blue};
      for (int c = 0; c < 3; ++c) {
        const int d = std::clamp(adjusted[c] - values[c], -20, 20);
        add(x + step, y, c, 7 * d);
        add(x - step, y + 1, c, 3 * d);
        add(x, y + 1, c, 5 * d);
        add(x + step, y + 1, c, d);
      }
    }
  }
  return out;
}

TEST(DitheredMapping, MatchesTheMappingRestatedInImageCoordinates) {
  std::mt19937 random(11);
  const std::pair<uint32_t, uint32_t> sizes[] = {{1, 1}, {1, 9}, {9, 1}, {2, 3}, {31, 17}};
  for (const auto& [width, height] : sizes) {
    for (uint32_t count : {1u, 2u, 16u, 256u}) {
      std::vector<RGBQUAD> palette(count);
      for (RGBQUAD& entry : palette) {
        entry = Entry({static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
                       static_cast<uint8_t>(random())});
      }
      const std::vector<uint8_t> rgb = NoisyPicture(width, height, random());
      EXPECT_EQ(Dither(rgb, width, height, palette),
                ReferenceDither(rgb, static_cast<int>(width), static_cast<int>(height), palette))
          << width << "x" << height << ", " << count << " colours";
    }
  }
}

TEST(DitheredMapping, RefusesEmptyOrOversizedPalettesAndMissingBuffers) {
  const std::vector<uint8_t> rgb = {1, 2, 3};
  std::vector<RGBQUAD> palette(257);
  uint8_t index = 0;
  EXPECT_FALSE(MapPaletteDithered(rgb.data(), 1, 1, &index, palette.data(), 0));
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  EXPECT_FALSE(MapPaletteDithered(rgb.data(), 1, 1, &index, palette.data(), 257));
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  EXPECT_FALSE(MapPaletteDithered(rgb.data(), 1, 1, nullptr, palette.data(), 2));
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  EXPECT_TRUE(MapPaletteDithered(rgb.data(), 1, 1, &index, palette.data(), 256));
  EXPECT_EQ(CoreLastError(), kOk);
}

}  // namespace
}  // namespace vellum

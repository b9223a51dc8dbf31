#include "vellum/pixelops/filters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "tests/support/test_images.h"
#include "vellum/core/entry_frame.h"

namespace vellum {
namespace {

using testing_support::RandomImage;
using testing_support::RandomSize;
using testing_support::TestImage;
using testing_support::UniformImage;
using Bytes = std::vector<uint8_t>;

TestImage Filter(const TestImage& image, int level, int kind) {
  TestImage out = UniformImage(image.width, image.height, 0xEE);
  EXPECT_TRUE(FilterNeighbourhood(image.bytes.data(), out.bytes.data(), image.width, image.height,
                                  level, kind));
  return out;
}

// Pixel by pixel, neighbours replicated at the edges.
TestImage ReferenceFilter(const TestImage& image, int level, int kind) {
  TestImage out = image;
  const double f = std::clamp(level, 0, 100) * (kind == kSharpen ? 0.005 : 0.01);
  const int64_t w = image.width, h = image.height;
  for (int64_t y = 0; y < h; ++y) {
    for (int64_t x = 0; x < w; ++x) {
      for (int ch = 0; ch < 3; ++ch) {
        int sum = 0;
        for (int dy = -1; dy <= 1; ++dy) {
          for (int dx = -1; dx <= 1; ++dx) {
            if (dx == 0 && dy == 0) continue;
            sum += image.At(std::clamp(x + dx, int64_t{0}, w - 1),
                            std::clamp(y + dy, int64_t{0}, h - 1))[ch];
          }
        }
        const int c = image.At(x, y)[ch];
        double r;
        if (kind == kSharpen) {
          r = std::clamp(c - f * (sum - 8 * c), 0.0, 255.0);
        } else {
          r = f * (sum / 8) + (1 - f) * c;
        }
        out.At(x, y)[ch] = static_cast<uint8_t>(r);
      }
    }
  }
  return out;
}

TEST(Neighbourhood, UniformImages) {
  for (int level : {1, 37, 100}) {
    EXPECT_EQ(Filter(UniformImage(4, 3, 77), level, kSharpen).bytes, UniformImage(4, 3, 77).bytes);
  }
  // 0.01 * 3 + 0.99 * 3 is just below 3; 100 survives.
  EXPECT_EQ(Filter(UniformImage(3, 3, 3), 1, kBlur).bytes, UniformImage(3, 3, 2).bytes);
  EXPECT_EQ(Filter(UniformImage(3, 3, 100), 1, kBlur).bytes, UniformImage(3, 3, 100).bytes);
  // A single pixel is its own neighbourhood.
  EXPECT_EQ(Filter(UniformImage(1, 1, 200), 100, kSharpen).bytes, UniformImage(1, 1, 200).bytes);
  EXPECT_EQ(Filter(UniformImage(1, 1, 3), 1, kBlur).bytes, UniformImage(1, 1, 2).bytes);
}

TEST(Neighbourhood, SinglePointAtFullStrength) {
  TestImage point = UniformImage(5, 5, 0);
  std::fill_n(point.At(2, 2), 3, 200);
  const TestImage sharp = Filter(point, 100, kSharpen);
  const TestImage blurred = Filter(point, 250, kBlur);  // limited to 100
  for (uint32_t y = 0; y < 5; ++y) {
    for (uint32_t x = 0; x < 5; ++x) {
      const bool centre = x == 2 && y == 2;
      const bool ring = !centre && x >= 1 && x <= 3 && y >= 1 && y <= 3;
      EXPECT_EQ(*sharp.At(x, y), centre ? 255 : 0) << x << "," << y;
      EXPECT_EQ(*blurred.At(x, y), ring ? 25 : 0) << x << "," << y;
    }
  }
  // Level 0 (and below) leaves the image as it is.
  EXPECT_EQ(Filter(point, -5, kSharpen).bytes, point.bytes);
  EXPECT_EQ(Filter(point, 0, kBlur).bytes, point.bytes);
}

TEST(NeighbourhoodProperty, MatchesThePixelByPixelFilter) {
  std::mt19937 rng(17);
  for (int round = 0; round < 40; ++round) {
    const TestImage image = RandomImage(rng, RandomSize(rng, 1, 50), RandomSize(rng, 1, 50));
    const int level = static_cast<int>(RandomSize(rng, 0, 110));
    const int kind = round % 2;
    ASSERT_EQ(Filter(image, level, kind).bytes, ReferenceFilter(image, level, kind).bytes)
        << image.width << "x" << image.height << " level " << level << " kind " << kind;
  }
}

TEST(Neighbourhood, ArgumentFailures) {
  Bytes a(12), b(12);
  EXPECT_FALSE(FilterNeighbourhood(a.data(), a.data(), 2, 2, 5, kSharpen));
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  EXPECT_FALSE(FilterNeighbourhood(a.data(), nullptr, 2, 2, 5, kBlur));
  EXPECT_FALSE(FilterNeighbourhood(a.data(), b.data(), 2, 2, 5, 2));
  EXPECT_FALSE(FilterNeighbourhood(a.data(), b.data(), 0, 2, 5, kBlur));
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
}

TEST(Brightness, PowerCurve) {
  Bytes pixels = {64, 255, 0, 128, 1, 2};
  ASSERT_TRUE(AdjustGamma(pixels.data(), 2, 1, 2.0));
  EXPECT_EQ(pixels, (Bytes{128, 255, 0, 181, 16, 22}));
  pixels = {128, 64, 255, 0, 1, 200};
  ASSERT_TRUE(AdjustGamma(pixels.data(), 2, 1, 0.5));
  EXPECT_EQ(pixels, (Bytes{64, 16, 254, 0, 0, 156}));
  // Levels 1 and 0 are the identity.
  for (double level : {0.0, 1.0}) {
    Bytes all(256 * 3);
    for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i / 3);
    const Bytes before = all;
    ASSERT_TRUE(AdjustGamma(all.data(), 256, 1, level));
    EXPECT_EQ(all, before) << level;
  }
  // A huge level saturates at 255 instead of wrapping 256 round to 0.
  pixels = {1, 128, 255, 0, 0, 0};
  ASSERT_TRUE(AdjustGamma(pixels.data(), 2, 1, 1e300));
  EXPECT_EQ(pixels, (Bytes{255, 255, 255, 0, 0, 0}));
  EXPECT_FALSE(AdjustGamma(pixels.data(), 2, 1, -0.5));
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  EXPECT_FALSE(AdjustGamma(pixels.data(), 2, 1, NAN));
  EXPECT_EQ(pixels, (Bytes{255, 255, 255, 0, 0, 0}));
}

TEST(Brightness, LargeImagesMatchThePowerCurve) {
  // Over a megabyte, with an odd byte count.
  std::mt19937 rng(6);
  TestImage image = RandomImage(rng, 701, 499);
  const TestImage before = image;
  ASSERT_TRUE(AdjustGamma(image.bytes.data(), 701, 499, 1.7));
  for (size_t i = 0; i < image.bytes.size(); ++i) {
    const double expected = 256 * std::pow(before.bytes[i] * 0.00390625, 1 / 1.7);
    ASSERT_EQ(image.bytes[i], static_cast<uint8_t>(expected)) << i;
  }
}

TEST(ChannelTable, AppliesOnlySelectedChannels) {
  uint8_t table[256];
  for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(255 - i);
  Bytes pixels = {1, 2, 3, 4, 5, 6};
  ASSERT_TRUE(ApplyChannelTable(pixels.data(), 2, 1, kRedChannel | kBlueChannel, table));
  EXPECT_EQ(pixels, (Bytes{254, 2, 252, 251, 5, 249}));
  ASSERT_TRUE(ApplyChannelTable(pixels.data(), 2, 1, kAllChannels, table));
  EXPECT_EQ(pixels, (Bytes{1, 253, 3, 4, 250, 6}));
  EXPECT_FALSE(ApplyChannelTable(pixels.data(), 2, 1, 8, table));
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  EXPECT_FALSE(ApplyChannelTable(pixels.data(), 2, 1, 7, nullptr));
  EXPECT_FALSE(ApplyChannelTable(nullptr, 2, 1, 7, table));
}

TEST(Invert, TwiceRestores) {
  std::mt19937 rng(2);
  const TestImage image = RandomImage(rng, 13, 7);
  TestImage inverted = image;
  ASSERT_TRUE(InvertBytes(inverted.bytes.data(), inverted.bytes.size()));
  for (size_t i = 0; i < image.bytes.size(); ++i)
    ASSERT_EQ(inverted.bytes[i], 255 - image.bytes[i]);
  ASSERT_TRUE(InvertBytes(inverted.bytes.data(), inverted.bytes.size()));
  EXPECT_EQ(inverted.bytes, image.bytes);
  EXPECT_FALSE(InvertBytes(nullptr, 3));
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
}

}  // namespace
}  // namespace vellum

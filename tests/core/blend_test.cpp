#include "vellum/core/blend.h"

#include <gtest/gtest.h>

#include <cstring>
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

TEST(Blend, OpacityMixesAndSkipsTheTransparentColour) {
  TestImage dst = UniformImage(2, 1, 255);
  Bytes overlay = {0, 0, 0, 0, 0, 0};
  ASSERT_TRUE(
      BlendWithOpacity(dst.bytes.data(), 2, 1, overlay.data(), 2, 1, 0, 0, 0.5, 0xFFFFFF, 0));
  EXPECT_EQ(dst.bytes, Bytes(6, 127));  // 0.5 * 255 + 0.5 * 0 = 127.5
  // Opacity 1 copies, except the pixel exactly equal to the transparent colour;
  // one unit off in any channel is blended (tolerance 0).
  dst = UniformImage(3, 1, 200);
  overlay = {0x10, 0x20, 0x30, 0x10, 0x20, 0x31, 5, 6, 7};
  ASSERT_TRUE(
      BlendWithOpacity(dst.bytes.data(), 3, 1, overlay.data(), 3, 1, 0, 0, 1.0, 0x302010, 0));
  EXPECT_EQ(dst.bytes, (Bytes{200, 200, 200, 0x10, 0x20, 0x31, 5, 6, 7}));
  // A tolerance lets near colours count as transparent (squared distances 3 and 2).
  dst = UniformImage(3, 1, 200);
  ASSERT_TRUE(
      BlendWithOpacity(dst.bytes.data(), 3, 1, overlay.data(), 3, 1, 0, 0, 7.0, 0x312111, 3));
  EXPECT_EQ(dst.bytes, (Bytes{200, 200, 200, 200, 200, 200, 5, 6, 7}));
  // Opacity 0 (and below) keeps the destination.
  ASSERT_TRUE(BlendWithOpacity(dst.bytes.data(), 3, 1, overlay.data(), 3, 1, 0, 0, -3, 0, 0));
  EXPECT_EQ(dst.bytes, (Bytes{200, 200, 200, 200, 200, 200, 5, 6, 7}));
}

TEST(Blend, ClipsTheOverlayAtAnyPosition) {
  std::mt19937 rng(12);
  const TestImage overlay = RandomImage(rng, 10, 10);
  TestImage dst = UniformImage(20, 20, 1);
  ASSERT_TRUE(BlendWithOpacity(dst.bytes.data(), 20, 20, overlay.bytes.data(), 10, 10, -5, -5, 1.0,
                               0x1000000, 0));
  const uint8_t background[3] = {1, 1, 1};
  for (uint32_t y = 0; y < 20; ++y) {
    for (uint32_t x = 0; x < 20; ++x) {
      const uint8_t* expected = x < 5 && y < 5 ? overlay.At(x + 5, y + 5) : background;
      ASSERT_EQ(0, std::memcmp(dst.At(x, y), expected, 3)) << x << "," << y;
    }
  }
  // Entirely outside, including positions whose end overflows 32 bits.
  const TestImage before = dst;
  for (const auto& [x, y] :
       {std::pair{20, 0}, {0, -10}, {2147483647, 2147483647}, {-2147483647 - 1, 3}}) {
    ASSERT_TRUE(
        BlendWithOpacity(dst.bytes.data(), 20, 20, overlay.bytes.data(), 10, 10, x, y, 1.0, 0, 0));
    ASSERT_TRUE(OverlayWithMask(dst.bytes.data(), 20, 20, overlay.bytes.data(), 10, 10,
                                overlay.bytes.data(), x, y));
  }
  EXPECT_EQ(dst.bytes, before.bytes);
}

TEST(Blend, MaskEndsAreExactAndMiddleValuesTruncate) {
  TestImage dst = UniformImage(4, 1, 200);
  const Bytes src = {10, 20, 30, 10, 20, 30, 0, 0, 0, 255, 255, 255};
  const Bytes mask = {255, 0, 128, 51};
  ASSERT_TRUE(OverlayWithMask(dst.bytes.data(), 4, 1, src.data(), 4, 1, mask.data(), 0, 0));
  // 127/255 * 200 = 99.6; 51/255 * 255 + 204/255 * 200 = 51 + 160 = 211 (or just below).
  const double a = 51 * 0.00392156862745098, b = 204 * 0.00392156862745098;
  EXPECT_EQ(dst.bytes, (Bytes{10, 20, 30, 200, 200, 200, 99, 99, 99, uint8_t(a * 255 + b * 200),
                              uint8_t(a * 255 + b * 200), uint8_t(a * 255 + b * 200)}));
}

TEST(BlendProperty, MaskedOverlayMatchesTheTableFormula) {
  std::mt19937 rng(31);
  double over[256], under[256];
  for (int i = 0; i < 256; ++i) {
    over[i] = i * 0.00392156862745098;
    under[i] = (255 - i) * 0.00392156862745098;
  }
  for (int round = 0; round < 40; ++round) {
    const TestImage src = RandomImage(rng, RandomSize(rng, 1, 40), RandomSize(rng, 1, 40));
    const TestImage mask = RandomImage(rng, src.width, src.height, 1);
    TestImage dst = RandomImage(rng, RandomSize(rng, 1, 40), RandomSize(rng, 1, 40));
    const int x = static_cast<int>(RandomSize(rng, 0, 80)) - 40;
    const int y = static_cast<int>(RandomSize(rng, 0, 80)) - 40;
    TestImage expected = dst;
    for (int64_t py = std::max(y, 0); py < std::min<int64_t>(int64_t{y} + src.height, dst.height);
         ++py) {
      for (int64_t px = std::max(x, 0); px < std::min<int64_t>(int64_t{x} + src.width, dst.width);
           ++px) {
        const uint8_t m = *mask.At(px - x, py - y);
        for (int ch = 0; ch < 3; ++ch) {
          uint8_t& out = expected.At(px, py)[ch];
          out = static_cast<uint8_t>(over[m] * src.At(px - x, py - y)[ch] + under[m] * out);
        }
      }
    }
    ASSERT_TRUE(OverlayWithMask(dst.bytes.data(), dst.width, dst.height, src.bytes.data(),
                                src.width, src.height, mask.bytes.data(), x, y));
    ASSERT_EQ(dst.bytes, expected.bytes) << round;
  }
}

TEST(Blend, ArgumentFailures) {
  Bytes a(12, 0), b(12, 0);
  EXPECT_FALSE(BlendWithOpacity(a.data(), 2, 2, a.data(), 2, 2, 0, 0, 1, 0, 0));
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  EXPECT_FALSE(BlendWithOpacity(nullptr, 2, 2, b.data(), 2, 2, 0, 0, 1, 0, 0));
  EXPECT_FALSE(OverlayWithMask(a.data(), 2, 2, b.data(), 2, 2, nullptr, 0, 0));
  EXPECT_FALSE(OverlayWithMask(a.data(), 2, 2, a.data(), 2, 2, b.data(), 0, 0));
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
}

}  // namespace
}  // namespace vellum

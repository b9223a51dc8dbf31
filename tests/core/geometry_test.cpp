#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "platform/kernel/global_memory.h"
#include "tests/support/test_images.h"
#include "vellum/core/entry_frame.h"
#include "vellum/core/flip_crop.h"
#include "vellum/core/rotate.h"

namespace vellum {
namespace {

using testing_support::RandomImage;
using testing_support::RandomSize;
using testing_support::TestImage;
using Bytes = std::vector<uint8_t>;

struct Rotated {
  uint32_t width = 0;
  uint32_t height = 0;
  Bytes rgb;
};

Rotated Rotate(const TestImage& image, double radians, COLORREF background) {
  Rotated out;
  HGLOBAL block = RotateByAngle(image.bytes.data(), image.width, image.height, radians, background,
                                &out.width, &out.height);
  EXPECT_NE(block, nullptr);
  if (block == nullptr) return out;
  EXPECT_EQ(GlobalSize(block), size_t{out.width} * out.height * 3);
  const uint8_t* data = static_cast<const uint8_t*>(block);
  out.rgb.assign(data, data + GlobalSize(block));
  GlobalFree(block);
  return out;
}

// Every output pixel straight from the mapping back into the source.
Bytes ReferenceRotation(const TestImage& image, double radians, COLORREF background, int64_t minX,
                        int64_t minY, uint32_t width, uint32_t height) {
  const double c = std::cos(radians);
  const double s = std::sin(radians);
  Bytes out;
  for (int64_t r = 0; r < height; ++r) {
    for (int64_t k = 0; k < width; ++k) {
      const double x = static_cast<double>(k + minX);
      const double y = static_cast<double>(r + minY);
      const int64_t sx = static_cast<int64_t>(x * c + y * s);
      const int64_t sy = static_cast<int64_t>(y * c - x * s);
      if (sx >= 0 && sx < image.width && sy >= 0 && sy < image.height) {
        out.insert(out.end(), image.At(sx, sy), image.At(sx, sy) + 3);
      } else {
        out.insert(out.end(),
                   {uint8_t(background), uint8_t(background >> 8), uint8_t(background >> 16)});
      }
    }
  }
  return out;
}

TEST(Rotate, HalfRadianOnHundredByFifty) {
  std::mt19937 rng(3);
  const TestImage image = RandomImage(rng, 100, 50);
  const Rotated out = Rotate(image, 0.5, 0x123456);
  ASSERT_EQ(out.width, 110u);
  ASSERT_EQ(out.height, 91u);
  // Corners (0,0), (0,H), (W,H), (W,0) project to (0,0), (-23,43), (63,91), (87,47).
  EXPECT_EQ(out.rgb, ReferenceRotation(image, 0.5, 0x123456, -23, 0, 110, 91));
  for (const auto& [x, y] : {std::pair{0u, 0u}, {109u, 0u}, {0u, 90u}, {109u, 90u}}) {
    const uint8_t* p = &out.rgb[(size_t{y} * out.width + x) * 3];
    EXPECT_EQ((Bytes{p[0], p[1], p[2]}), (Bytes{0x56, 0x34, 0x12})) << x << "," << y;
  }
  // The source origin maps to itself.
  EXPECT_EQ(Bytes(&out.rgb[23 * 3], &out.rgb[23 * 3] + 3),
            Bytes(image.At(0, 0), image.At(0, 0) + 3));
}

TEST(Rotate, RandomAnglesMatchTheDirectMapping) {
  std::mt19937 rng(11);
  for (int round = 0; round < 30; ++round) {
    const TestImage image = RandomImage(rng, RandomSize(rng, 1, 70), RandomSize(rng, 1, 70));
    const double angle = std::uniform_real_distribution<double>(-7, 7)(rng);
    const Rotated out = Rotate(image, angle, 0xFF00FF);
    const double c = std::cos(angle), s = std::sin(angle);
    const double w = image.width, h = image.height;
    const int64_t xs[] = {0, int64_t(-h * s), int64_t(w * c - h * s), int64_t(w * c)};
    const int64_t ys[] = {0, int64_t(h * c), int64_t(w * s + h * c), int64_t(w * s)};
    const int64_t minX = *std::min_element(xs, xs + 4), minY = *std::min_element(ys, ys + 4);
    ASSERT_EQ(out.width, std::max<int64_t>(1, *std::max_element(xs, xs + 4) - minX));
    ASSERT_EQ(out.height, std::max<int64_t>(1, *std::max_element(ys, ys + 4) - minY));
    ASSERT_EQ(out.rgb, ReferenceRotation(image, angle, 0xFF00FF, minX, minY, out.width, out.height))
        << image.width << "x" << image.height << " at " << angle;
  }
}

// The truncated corners of a tiny image can span no pixel in one direction; the
// result still has one, so that the image stays usable.
TEST(Rotate, TinyImagesKeepAtLeastOnePixelEachWay) {
  std::mt19937 rng(5);
  for (const auto& [w, h] : {std::pair{1, 1}, {1, 2}, {2, 1}, {1, 5}}) {
    const TestImage image = RandomImage(rng, w, h);
    for (const double degrees : {1.0, 10.0, 45.0, 100.0, 200.0, -10.0, -170.0}) {
      const Rotated out = Rotate(image, degrees * M_PI / 180, 0x0000FF);
      EXPECT_GE(out.width, 1u) << w << "x" << h << " at " << degrees;
      EXPECT_GE(out.height, 1u) << w << "x" << h << " at " << degrees;
    }
  }
  // A single pixel turned a little stays that pixel.
  const TestImage one = RandomImage(rng, 1, 1);
  const Rotated turned = Rotate(one, 10 * M_PI / 180, 0x0000FF);
  ASSERT_EQ(std::pair(turned.width, turned.height), std::pair(1u, 1u));
  EXPECT_EQ(turned.rgb, one.bytes);
}

TEST(Rotate, FailuresLeaveTheOutSizesAlone) {
  const Bytes pixels(3 * 4, 9);
  uint32_t width = 77, height = 88;
  // A 30000 x 30000 image at 45 degrees needs about 42426^2 * 3 bytes, past the limit.
  EXPECT_EQ(RotateByAngle(pixels.data(), 30000, 30000, M_PI / 4, 0, &width, &height), nullptr);
  EXPECT_EQ(CoreLastError(), kErrNoMemory);
  EXPECT_EQ(RotateByAngle(nullptr, 2, 2, 1, 0, &width, &height), nullptr);
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  EXPECT_EQ(RotateByAngle(pixels.data(), 2, 2, NAN, 0, &width, &height), nullptr);
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  EXPECT_EQ(RotateByAngle(pixels.data(), 2, 0, 1, 0, &width, &height), nullptr);
  EXPECT_EQ(std::pair(width, height), std::pair(77u, 88u));
}

TEST(RotateRightAngle, QuarterTurnsMoveEachPixelWhereExpected) {
  // 2 x 1, clockwise: a 1 x 2 image whose top pixel was the left one.
  Bytes two = {1, 2, 3, 4, 5, 6};
  ASSERT_TRUE(RotateRightAngle(two.data(), 2, 1, kRotate90Clockwise));
  EXPECT_EQ(two, (Bytes{1, 2, 3, 4, 5, 6}));
  std::mt19937 rng(4);
  const TestImage image = RandomImage(rng, 45, 38);  // larger than one tile
  for (int kind : {kRotate90Clockwise, kRotate180, kRotate90CounterClockwise}) {
    TestImage turned = image;
    ASSERT_TRUE(RotateRightAngle(turned.bytes.data(), image.width, image.height, kind));
    const bool quarter = kind != kRotate180;
    const uint32_t outWidth = quarter ? image.height : image.width;
    for (uint32_t y = 0; y < image.height; ++y) {
      for (uint32_t x = 0; x < image.width; ++x) {
        uint32_t ox = image.width - 1 - x, oy = image.height - 1 - y;
        if (kind == kRotate90Clockwise) ox = image.height - 1 - y, oy = x;
        if (kind == kRotate90CounterClockwise) ox = y, oy = image.width - 1 - x;
        ASSERT_EQ(0,
                  std::memcmp(&turned.bytes[(size_t{oy} * outWidth + ox) * 3], image.At(x, y), 3))
            << "kind " << kind << " at " << x << "," << y;
      }
    }
  }
  EXPECT_FALSE(RotateRightAngle(two.data(), 2, 1, 3));
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  EXPECT_FALSE(RotateRightAngle(nullptr, 2, 1, 0));
}

TEST(Flip, MirrorsRowsAndPixels) {
  Bytes image = {1,  2,  3,  4,  5,  6,  7,  8,  9,  // row 0: pixels a b c
                 10, 11, 12, 13, 14, 15, 16, 17, 18};
  Bytes vertical = image;
  ASSERT_TRUE(FlipVertical(vertical.data(), 9, 2));
  EXPECT_EQ(vertical, (Bytes{10, 11, 12, 13, 14, 15, 16, 17, 18, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  Bytes horizontal = image;
  ASSERT_TRUE(FlipHorizontal(horizontal.data(), 3, 2, 3));
  EXPECT_EQ(horizontal, (Bytes{7, 8, 9, 4, 5, 6, 1, 2, 3, 16, 17, 18, 13, 14, 15, 10, 11, 12}));
  Bytes oneRow = {1, 2, 3, 4};
  ASSERT_TRUE(FlipVertical(oneRow.data(), 4, 1));
  EXPECT_EQ(oneRow, (Bytes{1, 2, 3, 4}));
  ASSERT_TRUE(FlipHorizontal(oneRow.data(), 2, 1, 2));
  EXPECT_EQ(oneRow, (Bytes{3, 4, 1, 2}));
  EXPECT_TRUE(FlipVertical(oneRow.data(), 4, 0));
  EXPECT_FALSE(FlipHorizontal(nullptr, 2, 1, 3));
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  EXPECT_FALSE(FlipHorizontal(oneRow.data(), 2, 1, 0));
}

TEST(Crop, CopiesTheRectangleOrRefusesIt) {
  std::mt19937 rng(8);
  const TestImage image = RandomImage(rng, 5, 4);
  Bytes out(2 * 3 * 3, 0);
  ASSERT_TRUE(Crop(image.bytes.data(), 5, 4, out.data(), 3, 1, 2, 3));
  for (uint32_t y = 0; y < 3; ++y) {
    EXPECT_EQ(0, std::memcmp(&out[y * 6], image.At(3, y + 1), 6));
  }
  Bytes whole(image.bytes.size());
  ASSERT_TRUE(Crop(image.bytes.data(), 5, 4, whole.data(), 0, 0, 5, 4));
  EXPECT_EQ(whole, image.bytes);
  const Bytes before = out;
  EXPECT_FALSE(Crop(image.bytes.data(), 5, 4, out.data(), 4, 0, 2, 1));  // left + CW = W + 1
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  EXPECT_FALSE(Crop(image.bytes.data(), 5, 4, out.data(), 5, 0, 0, 1));  // left = W
  EXPECT_FALSE(
      Crop(image.bytes.data(), 5, 4, out.data(), 1, 0, 0xFFFFFFFF, 1));  // wraps in 32 bits
  EXPECT_FALSE(Crop(whole.data(), 5, 4, whole.data(), 0, 0, 1, 1));
  EXPECT_EQ(out, before);
}

}  // namespace
}  // namespace vellum

// Every operation that splits its work over the worker pool gives the same bytes on
// one thread as on several, for shapes that make ranges end anywhere: odd widths,
// single rows and columns, single pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/kernel/global_memory.h"
#include "tests/support/parallel_threads.h"
#include "tests/support/test_images.h"
#include "vellum/core/conversions.h"
#include "vellum/core/resample.h"
#include "vellum/core/rotate.h"
#include "vellum/pixelops/filters.h"

namespace vellum {
namespace {

using testing_support::RandomImage;
using testing_support::ScopedParallelThreads;
using testing_support::TestImage;
using Bytes = std::vector<uint8_t>;

struct Operation {
  std::string name;
  std::function<Bytes(const TestImage&)> run;
  uint32_t maxSide = UINT32_MAX;  // rotations of long images would be huge
};

Bytes Rotated(const TestImage& image, double radians) {
  uint32_t width = 0, height = 0;
  HGLOBAL block = RotateByAngle(image.bytes.data(), image.width, image.height, radians, 0x30A0F0,
                                &width, &height);
  EXPECT_NE(block, nullptr);
  if (block == nullptr) return {};
  const auto* data = static_cast<const uint8_t*>(block);
  Bytes out(data, data + GlobalSize(block));
  GlobalFree(block);
  return out;
}

Bytes Filtered(const TestImage& image, int kind, double scale) {
  const auto w = std::max<uint32_t>(1, static_cast<uint32_t>(image.width * scale));
  const auto h = std::max<uint32_t>(1, static_cast<uint32_t>(image.height * scale));
  Bytes out(size_t{w} * h * 3);
  EXPECT_TRUE(
      ResizeFiltered(image.bytes.data(), image.width, image.height, out.data(), w, h, 3, kind));
  return out;
}

Bytes Neighbourhood(const TestImage& image, int kind) {
  Bytes out(image.bytes.size());
  EXPECT_TRUE(
      FilterNeighbourhood(image.bytes.data(), out.data(), image.width, image.height, 63, kind));
  return out;
}

Palette SomePalette() {
  Palette palette{};
  for (int i = 0; i < 256; ++i) {
    palette[i] =
        RGBQUAD{static_cast<BYTE>(i * 7), static_cast<BYTE>(255 - i), static_cast<BYTE>(i * 13), 0};
  }
  return palette;
}

std::vector<Operation> Operations() {
  return {
      {"sharpen", [](const TestImage& i) { return Neighbourhood(i, kSharpen); }},
      {"blur", [](const TestImage& i) { return Neighbourhood(i, kBlur); }},
      {"rotate 0.5", [](const TestImage& i) { return Rotated(i, 0.5); }, 2000},
      {"rotate -2.3", [](const TestImage& i) { return Rotated(i, -2.3); }, 2000},
      {"rotate 1.5708", [](const TestImage& i) { return Rotated(i, 1.5708); }, 2000},
      {"lanczos down", [](const TestImage& i) { return Filtered(i, 8, 0.37); }},
      {"catmull-rom up", [](const TestImage& i) { return Filtered(i, 13, 1.6); }},
      {"gray",
       [](const TestImage& i) {
         Bytes out(size_t{i.width} * i.height);
         EXPECT_TRUE(RgbToGray(i.bytes.data(), i.width, i.height, out.data()));
         return out;
       }},
      {"nearest colour",
       [](const TestImage& i) {
         const Palette palette = SomePalette();
         Bytes out(size_t{i.width} * i.height);
         EXPECT_TRUE(
             MapToNearestColor(i.bytes.data(), i.width, i.height, palette.data(), 200, out.data()));
         return out;
       }},
      {"indexed to rgb",
       [](const TestImage& i) {
         OpContext ctx;
         Bytes out(size_t{i.width} * i.height * 3);
         // The first third of the bytes serve as indices.
         EXPECT_TRUE(
             IndexedToRgb(ctx, i.bytes.data(), i.width, i.height, SomePalette(), out.data()));
         return out;
       }},
      {"replace colour",
       [](const TestImage& i) {
         OpContext ctx;
         Bytes out = i.bytes;
         EXPECT_TRUE(ReplaceColor(ctx, out.data(), i.width, i.height, 0x808080, 0x0000FF, 20000));
         return out;
       }},
  };
}

struct Shape {
  uint32_t width;
  uint32_t height;
};

class ParallelIdentity : public testing::TestWithParam<Shape> {};

TEST_P(ParallelIdentity, OneThreadAndManyGiveTheSameBytes) {
  const Shape shape = GetParam();
  std::mt19937 rng(shape.width * 31 + shape.height);
  // Few levels, so that runs of equal samples and exact colour matches occur too.
  const TestImage image = RandomImage(rng, shape.width, shape.height, 3, 5);
  for (const Operation& operation : Operations()) {
    if (std::max(shape.width, shape.height) > operation.maxSide) continue;
    Bytes single;
    {
      ScopedParallelThreads scoped(1);
      single = operation.run(image);
    }
    for (size_t threads : {2, 5}) {
      ScopedParallelThreads scoped(threads);
      ASSERT_EQ(operation.run(image), single) << operation.name << " on " << threads << " threads";
    }
  }
}

// Big enough to be split (ranges hold about 256 KiB), with odd sizes.
INSTANTIATE_TEST_SUITE_P(Shapes, ParallelIdentity,
                         testing::Values(Shape{1, 1}, Shape{2, 1}, Shape{1, 3}, Shape{601, 301},
                                         Shape{1023, 257}, Shape{1, 90001}, Shape{90001, 1},
                                         Shape{3, 30011}),
                         [](const testing::TestParamInfo<Shape>& shape) {
                           return std::to_string(shape.param.width) + "x" +
                                  std::to_string(shape.param.height);
                         });

}  // namespace
}  // namespace vellum

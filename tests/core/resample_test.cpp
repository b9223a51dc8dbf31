#include "vellum/core/resample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <tuple>
#include <vector>

#include "tests/support/test_images.h"
#include "vellum/core/entry_frame.h"
#include "vellum/core/resample_kernels.h"

namespace vellum {
namespace {

using testing_support::RandomImage;
using testing_support::RandomSize;
using testing_support::TestImage;
using testing_support::UniformImage;
using Bytes = std::vector<uint8_t>;

// ---- straightforward versions written from the arithmetic, one output at a time ----

uint8_t ReferenceRound(double sum) {
  return static_cast<uint8_t>(std::clamp(std::round(sum), 0.0, 255.0));
}

struct Tap {
  int64_t index;
  double weight;
};

std::vector<Tap> ReferenceContributions(int kind, uint32_t n, uint32_t m, uint32_t i) {
  const FilterKernel& kernel = KernelOfKind(kind);
  const double scale = static_cast<double>(m) / n;
  const double centre = i / scale;
  const double w = scale < 1 ? kernel.support / scale : kernel.support;
  std::vector<Tap> taps;
  for (double j = std::ceil(centre - w); j <= std::floor(centre + w); ++j) {
    if (taps.size() >= static_cast<size_t>(2 * w + 1)) break;
    const double weight =
        scale < 1 ? kernel.weight((centre - j) * scale) * scale : kernel.weight(centre - j);
    int64_t index = static_cast<int64_t>(j);
    if (index < 0) index = -index;
    if (index >= n) index = 2 * int64_t{n} - index - 1;
    taps.push_back({std::clamp<int64_t>(index, 0, n - 1), weight});
  }
  return taps;
}

// Equal samples are copied; anything else is the rounded weighted sum.
uint8_t ReferenceFilter(const std::vector<Tap>& taps,
                        const std::function<uint8_t(int64_t)>& sample) {
  const uint8_t first = sample(taps[0].index);
  bool same = true;
  double sum = 0;
  for (const Tap& tap : taps) {
    same = same && sample(tap.index) == first;
    sum += tap.weight * sample(tap.index);
  }
  return same ? first : ReferenceRound(sum);
}

// One output column at a time: every source row filtered into a scratch column,
// then every output row filtered from it.
TestImage ReferenceFiltered(const TestImage& src, uint32_t dw, uint32_t dh, int kind) {
  TestImage out = UniformImage(dw, dh, 0, src.pixelBytes);
  std::vector<std::vector<Tap>> vertical;
  for (uint32_t y = 0; y < dh; ++y)
    vertical.push_back(ReferenceContributions(kind, src.height, dh, y));
  std::vector<uint8_t> column(size_t{src.height} * src.pixelBytes);
  for (uint32_t x = 0; x < dw; ++x) {
    const std::vector<Tap> horizontal = ReferenceContributions(kind, src.width, dw, x);
    for (uint32_t r = 0; r < src.height; ++r) {
      for (uint32_t ch = 0; ch < src.pixelBytes; ++ch) {
        column[r * src.pixelBytes + ch] = ReferenceFilter(
            horizontal, [&](int64_t j) { return src.At(static_cast<uint32_t>(j), r)[ch]; });
      }
    }
    for (uint32_t y = 0; y < dh; ++y) {
      for (uint32_t ch = 0; ch < src.pixelBytes; ++ch) {
        out.At(x, y)[ch] = ReferenceFilter(
            vertical[y], [&](int64_t r) { return column[r * src.pixelBytes + ch]; });
      }
    }
  }
  return out;
}

TestImage ReferenceBilinear(const TestImage& src, uint32_t dw, uint32_t dh) {
  TestImage out = UniformImage(dw, dh, 0);
  const double xr = static_cast<double>(src.width) / dw;
  const double yr = static_cast<double>(src.height) / dh;
  for (uint32_t i = 0; i < dh; ++i) {
    double v = i * yr;
    if (v >= src.height - 1.0) v = src.height - 1.0;
    if (!(v > 0)) v = 0;
    const uint32_t r0 = static_cast<uint32_t>(v);
    const uint32_t r1 = std::min(r0 + 1, src.height - 1);
    for (uint32_t j = 0; j < dw; ++j) {
      const double u = std::max(std::min(xr * j, src.width - 1.0), 0.0);
      const uint32_t k = static_cast<uint32_t>(u);
      const uint32_t k1 = std::min(k + 1, src.width - 1);
      const double f = u - k;
      for (int ch = 0; ch < 3; ++ch) {
        const double top = (1 - f) * src.At(k, r0)[ch] + f * src.At(k1, r0)[ch];
        const double bottom = (1 - f) * src.At(k, r1)[ch] + f * src.At(k1, r1)[ch];
        out.At(j, i)[ch] = static_cast<uint8_t>(top * (r0 + 1 - v) + bottom * (v - r0));
      }
    }
  }
  return out;
}

struct CubicAxis {
  int64_t taps[4];
  double weights[4];
};

CubicAxis ReferenceCubicAxis(uint32_t j, uint32_t dst, uint32_t n) {
  const double p = std::min(j * (static_cast<double>(n) / dst), n - 1.0);
  const int64_t ip = static_cast<int64_t>(p);
  CubicAxis axis;
  axis.taps[0] = p < 1 ? 0 : ip - 1;
  axis.taps[1] = p >= n - 1.0 ? n - 1 : ip;
  axis.taps[2] = p >= n - 2.0 ? axis.taps[1] : ip + 1;
  axis.taps[3] = p >= n - 3.0 ? axis.taps[2] : ip + 2;
  const double f = p - ip;
  axis.weights[0] = -(f * ((1 - f) * (1 - f)));
  axis.weights[1] = 1 - 2 * (f * f) + f * f * f;
  axis.weights[2] = f * ((1 + f) - f * f);
  axis.weights[3] = -((f * f) * (1 - f));
  return axis;
}

TestImage ReferenceBicubic(const TestImage& src, uint32_t dw, uint32_t dh) {
  TestImage out = UniformImage(dw, dh, 0);
  for (uint32_t i = 0; i < dh; ++i) {
    const CubicAxis ya = ReferenceCubicAxis(i, dh, src.height);
    for (uint32_t j = 0; j < dw; ++j) {
      const CubicAxis xa = ReferenceCubicAxis(j, dw, src.width);
      for (int ch = 0; ch < 3; ++ch) {
        double total = 0;
        for (int r = 0; r < 4; ++r) {
          const auto s = [&](int c) {
            return src.At(static_cast<uint32_t>(xa.taps[c]), static_cast<uint32_t>(ya.taps[r]))[ch];
          };
          const double row = xa.weights[0] * s(0) + xa.weights[1] * s(1) + xa.weights[2] * s(2) +
                             xa.weights[3] * s(3);
          total = r == 0 ? ya.weights[0] * row : total + ya.weights[r] * row;
        }
        out.At(j, i)[ch] = static_cast<uint8_t>(std::clamp(total + 0.5, 0.0, 255.0));
      }
    }
  }
  return out;
}

// ---- running the entries ----

TestImage Resize(int algorithm, const TestImage& src, uint32_t dw, uint32_t dh, int kind = 0) {
  TestImage out = UniformImage(dw, dh, 0xEE, src.pixelBytes);
  const uint8_t* in = src.bytes.data();
  BOOL ok = FALSE;
  switch (algorithm) {
    case 0:
      ok = ResizeBilinear(in, src.width, src.height, out.bytes.data(), dw, dh);
      break;
    case 1:
      ok = ResizeNearest(in, src.width, src.height, src.pixelBytes, out.bytes.data(), dw, dh);
      break;
    case 2:
      ok = ResizeBicubic(in, src.width, src.height, out.bytes.data(), dw, dh);
      break;
    case 3:
      ok =
          ResizeFiltered(in, src.width, src.height, out.bytes.data(), dw, dh, src.pixelBytes, kind);
      break;
    case 4:
      ok = ReduceBox(in, src.width, src.height, out.bytes.data(), dw, dh);
      break;
  }
  EXPECT_TRUE(ok) << "algorithm " << algorithm << " kind " << kind;
  EXPECT_EQ(CoreLastError(), kOk);
  return out;
}

constexpr int kBilinear = 0, kNearest = 1, kBicubic = 2, kFiltered = 3, kBox = 4;

TestImage Gray(uint32_t width, uint32_t height, const Bytes& values) {
  TestImage image = UniformImage(width, height, 0);
  for (size_t p = 0; p < values.size(); ++p) std::fill_n(&image.bytes[p * 3], 3, values[p]);
  return image;
}

Bytes Channel(const TestImage& image, int ch = 0) {
  Bytes out;
  for (size_t p = 0; p < image.bytes.size() / image.pixelBytes; ++p)
    out.push_back(image.bytes[p * image.pixelBytes + ch]);
  return out;
}

// ---- pinned cases ----

TEST(Resize, NearestPicksTruncatedPositions) {
  TestImage src = Gray(4, 4, {0, 1, 2, 3, 10, 11, 12, 13, 20, 21, 22, 23, 30, 31, 32, 33});
  EXPECT_EQ(Channel(Resize(kNearest, src, 2, 2)), (Bytes{0, 2, 20, 22}));
  // Upscaling repeats rows and columns; four-byte pixels move whole.
  TestImage wide = UniformImage(2, 1, 0, 4);
  for (int b = 0; b < 8; ++b) wide.bytes[b] = static_cast<uint8_t>(b + 1);
  EXPECT_EQ(Resize(kNearest, wide, 3, 2).bytes,
            (Bytes{1, 2, 3, 4, 1, 2, 3, 4, 5, 6, 7, 8, 1, 2, 3, 4, 1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(Resize, BilinearTruncatesAndClampsToTheLastSample) {
  EXPECT_EQ(Channel(Resize(kBilinear, Gray(2, 1, {0, 255}), 4, 1)), (Bytes{0, 127, 255, 255}));
  // Vertically the same rule: v = 0, 0.5, 1, 1 (clamped).
  EXPECT_EQ(Channel(Resize(kBilinear, Gray(1, 2, {0, 255}), 1, 4)), (Bytes{0, 127, 255, 255}));
}

TEST(Resize, BicubicTapRuleAndClamping) {
  // u = 0, 0.5, ..., 3.5 (clamped to 3). At 0.5 the sum undershoots to -31.375 and at
  // 2.5 it overshoots to 287.375 (sample 3 takes no part there): both are clamped.
  EXPECT_EQ(Channel(Resize(kBicubic, Gray(4, 1, {0, 0, 255, 255}), 8, 1)),
            (Bytes{0, 0, 0, 128, 255, 255, 255, 255}));
  for (uint8_t value : {0, 1, 77, 254, 255}) {
    const TestImage out = Resize(kBicubic, UniformImage(5, 3, value), 13, 2);
    EXPECT_EQ(out.bytes, UniformImage(13, 2, value).bytes) << int{value};
  }
}

TEST(Resize, FilteredBoxAtScaleOneCopies) {
  std::mt19937 rng(1);
  const TestImage src = RandomImage(rng, 7, 5, 3);
  EXPECT_EQ(Resize(kFiltered, src, 7, 5, 0).bytes, src.bytes);
}

TEST(Resize, EveryFilterKeepsUniformImagesUniform) {
  for (int kind = 0; kind < kFilterKindCount; ++kind) {
    for (const auto& [dw, dh] : {std::pair{3u, 2u}, std::pair{29u, 31u}}) {
      const TestImage out = Resize(kFiltered, UniformImage(9, 8, 201), dw, dh, kind);
      EXPECT_EQ(out.bytes, UniformImage(dw, dh, 201).bytes) << "kind " << kind;
    }
  }
}

TEST(Resize, FilteredRoundsHalvesAwayFromZeroBetweenPasses) {
  // Triangle, 2 -> 3 samples (scale 1.5): output 1 has centre 2/3 and weights
  // 1/3, 2/3 on samples 0 and 1.
  EXPECT_EQ(Channel(Resize(kFiltered, Gray(2, 1, {0, 255}), 3, 1, 1)), (Bytes{0, 170, 255}));
  // Box at scale 0.5: weights 0.5 on two samples; 0.5 * 0 + 0.5 * 1 = 0.5 rounds up.
  EXPECT_EQ(Channel(Resize(kFiltered, Gray(4, 1, {0, 1, 2, 2}), 2, 1, 0)), (Bytes{1, 2}));
}

TEST(Resize, BoxReductionAveragesWholeBlocks) {
  Bytes values(36);
  for (int i = 0; i < 36; ++i) values[i] = static_cast<uint8_t>(i * 7);
  // 6 x 6 -> 2 x 2: 3 x 3 blocks at 0 and 3; (0+7+14+42+49+56+84+91+98) / 9 = 49.
  EXPECT_EQ(Channel(Resize(kBox, Gray(6, 6, values), 2, 2)), (Bytes{49, 70, 175, 196}));
  // 5 x 5 -> 2 x 2: f = 2, blocks start at 0 and trunc(2.5) = 2.
  Bytes five(values.begin(), values.begin() + 25);
  EXPECT_EQ(Channel(Resize(kBox, Gray(5, 5, five), 2, 2)), (Bytes{21, 35, 91, 105}));
}

TEST(Resize, ArgumentFailuresAreCodeFive) {
  Bytes src(48, 1);
  Bytes dst(48, 0);
  const auto fails = [](BOOL result) {
    return result == FALSE && CoreLastError() == kErrInvalidArgument;
  };
  EXPECT_TRUE(fails(ResizeBilinear(nullptr, 4, 4, dst.data(), 4, 4)));
  EXPECT_TRUE(fails(ResizeBilinear(src.data(), 4, 0, dst.data(), 4, 4)));
  EXPECT_TRUE(fails(ResizeNearest(src.data(), 4, 4, 0, dst.data(), 4, 4)));
  EXPECT_TRUE(fails(ResizeBicubic(src.data(), 4, 4, src.data(), 4, 4)));
  EXPECT_TRUE(fails(ResizeFiltered(src.data(), 4, 4, dst.data(), 4, 4, 3, 14)));
  EXPECT_TRUE(fails(ResizeFiltered(src.data(), 4, 4, dst.data(), 4, 4, 3, -1)));
  EXPECT_TRUE(fails(ResizeFiltered(src.data(), 4, 4, dst.data(), 4, 4, 0, 4)));
  EXPECT_TRUE(fails(ReduceBox(src.data(), 2, 4, dst.data(), 4, 2)));
  EXPECT_TRUE(fails(ReduceBox(src.data(), 4, 4, dst.data(), 0, 2)));
  EXPECT_EQ(dst, Bytes(48, 0));
  // 4097 x 4097 blocks would pass 16777216 pixels (checked before any pixel is read).
  EXPECT_TRUE(fails(ReduceBox(src.data(), 4097, 4097, dst.data(), 1, 1)));
  EXPECT_TRUE(ReduceBox(src.data(), 4, 4, dst.data(), 4, 4));
  EXPECT_EQ(CoreLastError(), kOk);
}

// ---- properties on random images and sizes ----

// Sizes from 1 up, with ratios far from 1 both ways.
std::pair<uint32_t, uint32_t> RandomTarget(std::mt19937& rng, uint32_t w, uint32_t h) {
  switch (rng() % 4) {
    case 0:
      return {RandomSize(rng, 1, 3), RandomSize(rng, 1, 3)};
    case 1:
      return {RandomSize(rng, 1, 3), RandomSize(rng, h, 4 * h + 40)};
    case 2:
      return {RandomSize(rng, w / 3 + 1, 3 * w), RandomSize(rng, h / 3 + 1, 3 * h)};
    default:
      return {RandomSize(rng, w, 4 * w + 40), RandomSize(rng, 1, 3)};
  }
}

TEST(ResizeProperty, FilteredMatchesColumnAtATimeReference) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 60; ++round) {
    const int kind = round % kFilterKindCount;
    const uint32_t w = RandomSize(rng, 1, round % 5 == 0 ? 300 : 40);
    const uint32_t h = RandomSize(rng, 1, round % 5 == 1 ? 300 : 40);
    const uint32_t px = round % 7 == 0 ? 1 : (round % 7 == 1 ? 4 : 3);
    const TestImage src = RandomImage(rng, w, h, px, round % 3 == 0 ? 3 : 256);
    const auto [dw, dh] = RandomTarget(rng, w, h);
    SCOPED_TRACE(testing::Message() << w << "x" << h << " -> " << dw << "x" << dh << " kind "
                                    << kind << " bytes " << px);
    ASSERT_EQ(Resize(kFiltered, src, dw, dh, kind).bytes,
              ReferenceFiltered(src, dw, dh, kind).bytes);
  }
}

TEST(ResizeProperty, FilteredWideBandsMatchReference) {
  // Wide enough for several bands and row chunks of the band scratch.
  std::mt19937 rng(7);
  const TestImage src = RandomImage(rng, 700, 90);
  for (const auto& [dw, dh, kind] : {std::tuple{1300u, 40u, 8}, std::tuple{333u, 170u, 13}}) {
    ASSERT_EQ(Resize(kFiltered, src, dw, dh, kind).bytes,
              ReferenceFiltered(src, dw, dh, kind).bytes);
  }
}

TEST(ResizeProperty, BilinearAndBicubicMatchReferences) {
  std::mt19937 rng(99);
  for (int round = 0; round < 40; ++round) {
    const uint32_t w = RandomSize(rng, 1, 60);
    const uint32_t h = RandomSize(rng, 1, 60);
    const TestImage src = RandomImage(rng, w, h);
    const auto [dw, dh] = RandomTarget(rng, w, h);
    SCOPED_TRACE(testing::Message() << w << "x" << h << " -> " << dw << "x" << dh);
    ASSERT_EQ(Resize(kBilinear, src, dw, dh).bytes, ReferenceBilinear(src, dw, dh).bytes);
    ASSERT_EQ(Resize(kBicubic, src, dw, dh).bytes, ReferenceBicubic(src, dw, dh).bytes);
  }
}

TEST(ResizeProperty, ExtremeShapesStayInsideTheBuffers) {
  // Under the sanitizers any read or write outside a buffer stops the test.
  std::mt19937 rng(5);
  const std::pair<uint32_t, uint32_t> shapes[][2] = {
      {{1, 1}, {3000, 2}}, {{3000, 1}, {1, 1}},    {{1, 2500}, {2, 1}},
      {{2, 2}, {1, 2900}}, {{2500, 3}, {7, 2000}}, {{5, 2600}, {1900, 3}},
  };
  for (const auto& shape : shapes) {
    const auto [w, h] = shape[0];
    const auto [dw, dh] = shape[1];
    const TestImage src = RandomImage(rng, w, h);
    for (int algorithm : {kBilinear, kNearest, kBicubic}) Resize(algorithm, src, dw, dh);
    for (int kind : {0, 3, 8, 10}) Resize(kFiltered, src, dw, dh, kind);
    if (dw <= w && dh <= h) Resize(kBox, src, dw, dh);
  }
}

}  // namespace
}  // namespace vellum

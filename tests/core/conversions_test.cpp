#include "vellum/core/conversions.h"

#include <gtest/gtest.h>

#include <vector>

namespace vellum {
namespace {

Palette GrayRamp() {
  Palette palette{};
  for (int i = 0; i < 256; ++i) {
    palette[i] =
        RGBQUAD{static_cast<BYTE>(i), static_cast<BYTE>(255 - i), static_cast<BYTE>(i / 2), 0};
  }
  return palette;
}

std::vector<uint8_t> Expand(const std::vector<uint8_t>& row, size_t count,
                            const RowFormat& format) {
  std::vector<uint8_t> out(count * (format.addFourthByte ? 4 : 3), 0xEE);
  EXPECT_TRUE(ExpandRowToRgb(row.data(), count, format, out.data()));
  return out;
}

TEST(ExpandRow, SixteenBitFillsDifferByPath) {
  // Maskless 5-5-5 sets the three low bits (7); the mask path fills a 5-bit channel with 14.
  const std::vector<uint8_t> white = {0xFF, 0x7F};
  EXPECT_EQ(Expand(white, 1, {.bitsPerPixel = 16}), (std::vector<uint8_t>{255, 255, 255}));
  const std::vector<uint8_t> zero = {0x00, 0x00};
  EXPECT_EQ(Expand(zero, 1, {.bitsPerPixel = 16}), (std::vector<uint8_t>{7, 7, 7}));

  const uint32_t masks555[3] = {0x7C00, 0x03E0, 0x001F};
  EXPECT_EQ(Expand(zero, 1, {.bitsPerPixel = 16, .masks16 = masks555}),
            (std::vector<uint8_t>{14, 14, 14}));
  // 5-6-5: the 6-bit green channel is filled with 6.
  const uint32_t masks565[3] = {0xF800, 0x07E0, 0x001F};
  const std::vector<uint8_t> pure = {0x00, 0xF8};  // red all ones
  EXPECT_EQ(Expand(pure, 1, {.bitsPerPixel = 16, .masks16 = masks565}),
            (std::vector<uint8_t>{0xFE, 6, 14}));
}

TEST(ExpandRow, MaskRunReachingBit15AndEightBitChannels) {
  // An 8-bit channel at the top gets fill 1; a mask running into bit 15 ends there.
  const uint32_t masks[3] = {0xFF00, 0x00F0, 0x000F};
  const std::vector<uint8_t> pixel = {0x5A, 0x80};  // red 0x80, green 0x5, blue 0xA
  EXPECT_EQ(Expand(pixel, 1, {.bitsPerPixel = 16, .masks16 = masks}),
            (std::vector<uint8_t>{0x81, 0x50 | 30, 0xA0 | 30}));
}

TEST(ExpandRow, PalettedDepthsReadMostSignificantFirst) {
  const Palette palette = GrayRamp();
  const std::vector<uint8_t> oneBit = {0x80};
  std::vector<uint8_t> out = Expand(oneBit, 3, {.bitsPerPixel = 1, .palette = &palette});
  EXPECT_EQ(out, (std::vector<uint8_t>{0, 254, 1, 0, 255, 0, 0, 255, 0}));
  const std::vector<uint8_t> fourBit = {0x2F};
  out = Expand(fourBit, 2, {.bitsPerPixel = 4, .palette = &palette});
  EXPECT_EQ(out, (std::vector<uint8_t>{1, 253, 2, 7, 240, 15}));
  const std::vector<uint8_t> eightBit = {200};
  out = Expand(eightBit, 1,
               {.bitsPerPixel = 8, .palette = &palette, .addFourthByte = true, .fourthByte = 9});
  EXPECT_EQ(out, (std::vector<uint8_t>{100, 55, 200, 9}));
}

TEST(ExpandRow, TrueColourRowsSwapToRgbAndThirtyTwoKeepsItsTopByte) {
  const std::vector<uint8_t> bgr = {1, 2, 3};
  EXPECT_EQ(Expand(bgr, 1, {.bitsPerPixel = 24, .addFourthByte = true, .fourthByte = 77}),
            (std::vector<uint8_t>{3, 2, 1, 77}));
  const std::vector<uint8_t> bgra = {1, 2, 3, 4};
  EXPECT_EQ(Expand(bgra, 1, {.bitsPerPixel = 32, .addFourthByte = true, .fourthByte = 77}),
            (std::vector<uint8_t>{3, 2, 1, 4}));
  uint8_t out[3];
  EXPECT_FALSE(ExpandRowToRgb(bgr.data(), 1, {.bitsPerPixel = 2}, out));
  EXPECT_FALSE(ExpandRowToRgb(bgr.data(), 1, {.bitsPerPixel = 8}, out));  // no palette
}

TEST(Indices, OneBitRowUnpacksAndPacksBack) {
  const uint8_t row[1] = {0x80};
  uint8_t unpacked[8];
  ASSERT_TRUE(UnpackRowIndices(row, 8, 1, unpacked));
  EXPECT_EQ(std::vector<uint8_t>(unpacked, unpacked + 8),
            (std::vector<uint8_t>{1, 0, 0, 0, 0, 0, 0, 0}));
  uint8_t packed = 0;
  EXPECT_TRUE(PackIndices(unpacked, 8, 1, 1, &packed, 0));
  EXPECT_EQ(packed, 0x80);
}

TEST(Indices, ContinuousStreamFlushesOnlyTheLastPartialByte) {
  // 3 x 2 pixels of 3 bits: 18 bits, one continuous stream, last byte left-aligned.
  const uint8_t in[6] = {1, 2, 3, 4, 5, 0xFF};
  uint8_t out[3] = {};
  ASSERT_TRUE(PackIndices(in, 3, 2, 3, out, 0));
  // 001 010 011 100 101 111 -> 00101001 11001011 11000000
  EXPECT_EQ(out[0], 0x29);
  EXPECT_EQ(out[1], 0xCB);
  EXPECT_EQ(out[2], 0xC0);
  uint8_t back[6] = {};
  OpContext ctx;
  ASSERT_TRUE(UnpackBitIndices(ctx, out, 3, 2, 3, back));
  EXPECT_EQ(std::vector<uint8_t>(back, back + 6), (std::vector<uint8_t>{1, 2, 3, 4, 5, 7}));
}

TEST(Indices, StridedRowsStartAfreshAndEndLeftAligned) {
  const uint8_t in[6] = {0xF, 0x1, 0x2, 0xA, 0xB, 0xC};  // 3 x 2 at 4 bits
  uint8_t out[8];
  std::fill(std::begin(out), std::end(out), 0x55);
  ASSERT_TRUE(PackIndices(in, 3, 2, 4, out, 4));
  EXPECT_EQ(out[0], 0xF1);
  EXPECT_EQ(out[1], 0x20);
  EXPECT_EQ(out[2], 0x55);  // padding untouched
  EXPECT_EQ(out[4], 0xAB);
  EXPECT_EQ(out[5], 0xC0);
}

TEST(Indices, BadDepthsAndNullsAreCodeFive) {
  uint8_t byte = 0;
  EXPECT_FALSE(PackIndices(&byte, 1, 1, 0, &byte, 0));
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  EXPECT_FALSE(PackIndices(&byte, 1, 1, 9, &byte, 0));
  EXPECT_FALSE(PackIndices(nullptr, 1, 1, 8, &byte, 0));
  OpContext ctx;
  EXPECT_FALSE(UnpackBitIndices(ctx, &byte, 1, 1, 0, &byte));
  EXPECT_EQ(ctx.code, kErrInvalidArgument);
  uint8_t wide[2] = {0x12, 0x34};
  uint8_t out[2];
  OpContext ok;
  EXPECT_TRUE(UnpackBitIndices(ok, wide, 2, 1, 8, out));
  EXPECT_EQ(out[1], 0x34);
}

TEST(Gray, WeightsAndTruncates) {
  const uint8_t rgb[9] = {255, 255, 255, 255, 0, 0, 10, 20, 30};
  uint8_t gray[3];
  ASSERT_TRUE(RgbToGray(rgb, 3, 1, gray));
  EXPECT_EQ(gray[0], 255);
  EXPECT_EQ(gray[1], 76);  // 76.245
  EXPECT_EQ(gray[2], 18);  // 2.99 + 11.74 + 3.42 = 18.15
  EXPECT_FALSE(RgbToGray(nullptr, 1, 1, gray));
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
}

TEST(NearestColor, TiesKeepTheLowerIndexAndExactHitsStop) {
  RGBQUAD palette[8] = {};
  for (auto& entry : palette) entry = RGBQUAD{200, 200, 200, 0};
  palette[3] = RGBQUAD{0, 0, 10, 0};  // red 10
  palette[7] = RGBQUAD{0, 0, 30, 0};  // red 30
  const uint8_t rgb[6] = {20, 0, 0, 200, 200, 200};
  uint8_t indices[2];
  ASSERT_TRUE(MapToNearestColor(rgb, 2, 1, palette, 8, indices));
  EXPECT_EQ(indices[0], 3);
  EXPECT_EQ(indices[1], 0);
  EXPECT_FALSE(MapToNearestColor(rgb, 2, 1, palette, 257, indices));
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
}

TEST(NearestColor, CacheNeverChangesTheAnswer) {
  // Many colours that collide in any small cache must still map like a plain search.
  const Palette palette = GrayRamp();
  std::vector<uint8_t> rgb;
  for (int i = 0; i < 20000; ++i) {
    rgb.push_back(static_cast<uint8_t>(i * 7));
    rgb.push_back(static_cast<uint8_t>(i * 13));
    rgb.push_back(static_cast<uint8_t>(i >> 3));
  }
  std::vector<uint8_t> fast(20000);
  ASSERT_TRUE(MapToNearestColor(rgb.data(), 20000, 1, palette.data(), 256, fast.data()));
  for (int i = 0; i < 20000; ++i) {
    uint8_t single;
    ASSERT_TRUE(MapToNearestColor(&rgb[3 * i], 1, 1, palette.data(), 256, &single));
    ASSERT_EQ(fast[i], single) << i;
  }
}

TEST(Conversions, IndexedToRgbRgbaAndSwap) {
  const Palette palette = GrayRamp();
  const uint8_t indices[2] = {0, 255};
  uint8_t rgb[6];
  OpContext ctx;
  ASSERT_TRUE(IndexedToRgb(ctx, indices, 2, 1, palette, rgb));
  EXPECT_EQ(std::vector<uint8_t>(rgb, rgb + 6), (std::vector<uint8_t>{0, 255, 0, 127, 0, 255}));
  uint8_t rgba[8];
  ASSERT_TRUE(RgbToRgba(ctx, rgb, 2, 200, rgba));
  EXPECT_EQ(rgba[3], 200);
  EXPECT_EQ(rgba[4], 127);
  SwapRedBlue(rgb, 2);
  EXPECT_EQ(rgb[0], 0);
  EXPECT_EQ(rgb[3], 255);
  EXPECT_EQ(rgb[5], 127);
  EXPECT_FALSE(IndexedToRgb(ctx, nullptr, 2, 1, palette, rgb));
}

TEST(Conversions, BottomUpDibRowsAreReversedAndBgr) {
  const uint8_t rgb[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};  // 2 x 2
  uint8_t dib[16];
  std::fill(std::begin(dib), std::end(dib), 0);
  RgbToBottomUpDib(rgb, 2, 2, 8, dib);
  EXPECT_EQ(std::vector<uint8_t>(dib, dib + 16),
            (std::vector<uint8_t>{9, 8, 7, 12, 11, 10, 0, 0, 3, 2, 1, 6, 5, 4, 0, 0}));
}

TEST(Colors, MatchingUsesTheSquaredDistanceAgainstTheTolerance) {
  EXPECT_TRUE(ColorsMatch(0x123456, 0x123456, 0));
  EXPECT_FALSE(ColorsMatch(0x123456, 0x123457, 0));
  EXPECT_TRUE(ColorsMatch(0x000000, 0x010203, 14));  // 1 + 4 + 9
  EXPECT_FALSE(ColorsMatch(0x000000, 0x010203, 13));

  uint8_t rgb[6] = {0, 0, 0, 3, 0, 0};
  OpContext ctx;
  ASSERT_TRUE(ReplaceColor(ctx, rgb, 2, 1, 0x000000, 0x0000FF, 4));
  EXPECT_EQ(rgb[0], 255);
  EXPECT_EQ(rgb[3], 3);  // 9 > 4
  EXPECT_FALSE(ReplaceColor(ctx, nullptr, 2, 1, 0, 0, 0));
}

TEST(Colors, BlendTablesClampTheOpacity) {
  BlendTables half = MakeBlendTables(0.5);
  EXPECT_DOUBLE_EQ(half.over[255], 127.5);
  EXPECT_DOUBLE_EQ(half.under[255], 127.5);
  EXPECT_DOUBLE_EQ(MakeBlendTables(2.0).over[10], 10.0);
  EXPECT_DOUBLE_EQ(MakeBlendTables(-1.0).under[10], 10.0);
}

}  // namespace
}  // namespace vellum

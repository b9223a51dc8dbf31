#include "vellum/codecs/psd.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/codecs/codec_test_support.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"

namespace vellum {
namespace {

using namespace codec_tests;

Decoded ReadPsd(const std::vector<uint8_t>& bytes) { return DecodeRgb(bytes, ReadPSD); }

void Put16(std::vector<uint8_t>& f, uint32_t v) {
  f.insert(f.end(), {uint8_t(v >> 8), uint8_t(v)});
}
void Put32(std::vector<uint8_t>& f, uint32_t v) {
  Put16(f, v >> 16);
  Put16(f, v);
}

// A hand-made file with empty resources and layers; `data` follows the compression.
std::vector<uint8_t> PsdFile(uint16_t mode, uint16_t depth, uint16_t channels, uint32_t width,
                             uint32_t height, uint16_t compression,
                             const std::vector<uint8_t>& data,
                             const std::vector<uint8_t>& colorData = {}) {
  std::vector<uint8_t> f = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0};
  Put16(f, channels);
  Put32(f, height);
  Put32(f, width);
  Put16(f, depth);
  Put16(f, mode);
  Put32(f, uint32_t(colorData.size()));
  f.insert(f.end(), colorData.begin(), colorData.end());
  Put32(f, 0);
  Put32(f, 0);
  Put16(f, compression);
  f.insert(f.end(), data.begin(), data.end());
  return f;
}

// PackBits data of rows given as they decode: a count table, then each row as
// one literal run (rows of at most 128 bytes).
std::vector<uint8_t> PackBitsRows(const std::vector<std::vector<uint8_t>>& rows) {
  std::vector<uint8_t> data;
  for (const auto& row : rows) Put16(data, uint32_t(row.size() + 1));
  for (const auto& row : rows) {
    data.push_back(uint8_t(row.size() - 1));
    data.insert(data.end(), row.begin(), row.end());
  }
  return data;
}

TEST(ReadPsd, FilesFromImageMagickDecodeAsItSeesThem) {
  TempDir dir;
  const std::string src = dir.File("src.png");
  ASSERT_TRUE(
      testing_support::RunCommand("/usr/bin/convert -seed 4 -size 61x43 plasma:red-blue " + src));
  const std::vector<std::string> options = {
      "",
      "-compress none",
      "-alpha set -channel A -evaluate set 40% +channel",
      "-colorspace Gray",
      "-colorspace Gray -compress none",
      "-type Palette",
      "-colorspace CMYK",
      "-colorspace CMYK -compress none",
      // The first image is the composite, the others become layers.
      "\\( -size 20x10 xc:red -set page +3+4 \\) \\( -size 7x9 xc:blue \\)",
  };
  for (const std::string& option : options) {
    SCOPED_TRACE(option);
    const std::string out = dir.File("tool.psd");
    ASSERT_TRUE(
        testing_support::RunCommand("/usr/bin/convert " + src + " " + option + " -depth 8 " + out));
    // Pillow keeps the composite's colours under an alpha channel, where ImageMagick
    // blends them; but Pillow turns CMYK into RGB by subtraction, and ImageMagick
    // by the product of ink and black (rounded, where we truncate).
    const bool cmyk = option.find("CMYK") != std::string::npos;
    const auto oracle =
        cmyk ? testing_support::DecodeWithImageMagick(out) : testing_support::DecodeWithPillow(out);
    ASSERT_TRUE(oracle.has_value());
    const Decoded ours = ReadPsd(testing_support::ReadFileBytes(out));
    ASSERT_TRUE(ours.hasImage) << ours.code;
    EXPECT_EQ(ours.width, 61);
    EXPECT_EQ(ours.height, 43);
    ASSERT_EQ(ours.rgb.size(), oracle->rgb.size());
    for (size_t i = 0; i < ours.rgb.size(); ++i) {
      ASSERT_LE(std::abs(ours.rgb[i] - oracle->rgb[i]), cmyk ? 1 : 0) << i;
    }
  }
}

TEST(ReadPsd, HandMadeModesDecodeByTheirRules) {
  // Bitmap: 1 is black, 0 white, run-length only.
  const std::vector<uint8_t> bits = PackBitsRows({{0xA5, 0x40}, {0xFF, 0x00}});
  const Decoded bitmap = ReadPsd(PsdFile(0, 1, 1, 10, 2, 1, bits));
  ASSERT_TRUE(bitmap.hasImage);
  const std::vector<uint8_t> expected = {1, 0, 1, 0, 0, 1, 0, 1, 0, 1,
                                         1, 1, 1, 1, 1, 1, 1, 1, 0, 0};
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(bitmap.rgb[3 * i], expected[i] ? 0 : 255);
  EXPECT_EQ(ReadPsd(PsdFile(0, 1, 1, 10, 2, 0, {0xA5, 0x40, 0xFF, 0})).code, kErrUnsupportedPsd);

  // CMYK stores inverted inks: all 255 is white. A fifth channel is ignored.
  const Decoded white = ReadPsd(PsdFile(4, 8, 5, 2, 1, 0, std::vector<uint8_t>(8, 255)));
  EXPECT_EQ(white.rgb, std::vector<uint8_t>(6, 255));
  const Decoded inked = ReadPsd(PsdFile(4, 8, 4, 1, 1, 0, {200, 100, 255, 128}));
  EXPECT_EQ(inked.rgb, (std::vector<uint8_t>{200 * 128 / 255, 100 * 128 / 255, 128}));

  // Duotone reads its channel as gray whatever its colour data holds.
  const Decoded duotone = ReadPsd(PsdFile(8, 8, 1, 2, 1, 0, {7, 250}, {1, 2, 3}));
  EXPECT_EQ(duotone.rgb, (std::vector<uint8_t>{7, 7, 7, 250, 250, 250}));
  // Run-length RGB with repeat runs; an alpha channel after it is not read.
  const std::vector<uint8_t> rgb = {0, 2, 0, 2, 0, 2, 0, 2, 0xFF, 1, 0xFF, 2, 0xFF, 3};
  EXPECT_EQ(ReadPsd(PsdFile(3, 8, 4, 2, 1, 1, rgb)).rgb, (std::vector<uint8_t>{1, 2, 3, 1, 2, 3}));

  EXPECT_EQ(ReadPsd(PsdFile(3, 16, 3, 1, 1, 0, std::vector<uint8_t>(6))).code, kErrUnsupportedPsd);
  EXPECT_EQ(ReadPsd(PsdFile(9, 8, 3, 1, 1, 0, {1, 2, 3})).code, kErrUnsupportedPsd);  // Lab
}

TEST(ReadPsd, HostileFilesFailWithTheirCodes) {
  const std::vector<uint8_t> good = PsdFile(1, 8, 1, 3, 2, 1, PackBitsRows({{1, 2, 3}, {4, 5, 6}}));
  for (size_t size = 1; size < good.size(); ++size) {
    const Decoded read = ReadPsd(std::vector<uint8_t>(good.begin(), good.begin() + size));
    EXPECT_EQ(read.code, size < 6 ? kErrBadPsd : kErrReadFile) << size;
  }
  auto code = [](std::vector<uint8_t> file) { return ReadPsd(file).code; };
  std::vector<uint8_t> bad = good;
  bad[5] = 2;  // version
  EXPECT_EQ(code(bad), kErrBadPsd);
  EXPECT_EQ(code(PsdFile(3, 8, 2, 3, 2, 0, std::vector<uint8_t>(18))), kErrBadPsd);  // 2 channels
  EXPECT_EQ(code(PsdFile(1, 8, 1, 0, 2, 0, {})), kErrBadPsd);
  EXPECT_EQ(code(PsdFile(2, 8, 1, 1, 1, 0, {0}, std::vector<uint8_t>(767))), kErrBadPsd);
  EXPECT_EQ(code(PsdFile(1, 8, 1, 3, 2, 2, std::vector<uint8_t>(6))), kErrReadFile);  // zip
  const uint32_t hugeLength = 0x7FFFFFF0;
  std::vector<uint8_t> lying = PsdFile(1, 8, 1, 1, 1, 0, {9});
  lying[26 + 3] = 0xF0, lying[26 + 2] = 0xFF, lying[26 + 1] = 0xFF, lying[26] = 0x7F;
  EXPECT_EQ(code(lying), kErrReadFile) << hugeLength;
  // Row counts that promise more than the file holds, too little for a row, or
  // runs that overrun the row or need bytes the count does not give.
  bad = good;
  bad[good.size() - 10] = 0x40;
  EXPECT_EQ(code(bad), kErrReadFile);
  EXPECT_EQ(code(PsdFile(1, 8, 1, 200, 1, 1, {0, 3, 0xFF, 9, 9})), kErrReadFile);
  EXPECT_EQ(code(PsdFile(1, 8, 1, 3, 1, 1, {0, 2, 0xFD, 9})), kErrReadFile);     // 4 bytes in 3
  EXPECT_EQ(code(PsdFile(1, 8, 1, 3, 1, 1, {0, 2, 0x02, 9})), kErrReadFile);     // literal cut
  EXPECT_EQ(code(PsdFile(1, 8, 1, 3, 1, 1, {0, 3, 0x01, 9, 9})), kErrReadFile);  // row short
  EXPECT_EQ(code(PsdFile(1, 8, 1, 0x40000000, 0x40000000, 0, {})), kErrReadFile);
  // Data enough to pass for 26800 x 26800 gray pixels, whose buffer exceeds the limit.
  std::vector<uint8_t> table;
  for (int y = 0; y < 26800; ++y) Put16(table, 419);
  table.resize(table.size() + 26800ull * 419);
  EXPECT_EQ(code(PsdFile(1, 8, 1, 26800, 26800, 1, table)), kErrNoMemory);

  int32_t w = 0, h = 0;
  EXPECT_EQ(ReadPSD(nullptr, &w, &h, 24), nullptr);
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
}

TEST(WritePsd, IndependentDecodersReadWhatWeWrite) {
  const Palette palette = DistinctPalette();
  const std::vector<uint8_t> indices = RandomRuns(37 * 23, 256, 31);
  const std::vector<uint8_t> rgb = RandomBytes(37 * 23 * 3, 256, 32);
  TempDir dir;
  for (int bits : {8, 24}) {
    SCOPED_TRACE(bits);
    const std::vector<uint8_t>& pixels = bits == 8 ? indices : rgb;
    const Encoded written = EncodeBytes(
        [&](HISDEST d) { return WritePSD(d, pixels.data(), 37, 23, bits, palette.data()); }, 10000);
    ASSERT_EQ(written.code, kOk);
    EXPECT_EQ(written.result, 26u + 4 + 4 + 4 + 2 + (bits == 8 ? 768 + 37 * 23 : 37 * 23 * 3));
    testing_support::WriteFileBytes(dir.File("w.psd"), written.bytes);
    const std::vector<uint8_t> expected = bits == 8 ? IndicesToRgb(indices, palette) : rgb;
    const auto pillow = testing_support::DecodeWithPillow(dir.File("w.psd"));
    ASSERT_TRUE(pillow.has_value());
    EXPECT_TRUE(pillow->rgb == expected);
    if (bits == 24) {  // ImageMagick 6 refuses indexed files that have no layers
      const auto magick = testing_support::DecodeWithImageMagick(dir.File("w.psd"));
      ASSERT_TRUE(magick.has_value());
      EXPECT_TRUE(magick->rgb == expected);
    }
    EXPECT_TRUE(ReadPsd(written.bytes).rgb == expected);
  }
  auto code = [&](int bits, const RGBQUAD* pal, size_t capacity) {
    return EncodeBytes([&](HISDEST d) { return WritePSD(d, rgb.data(), 37, 23, bits, pal); },
                       capacity)
        .code;
  };
  EXPECT_EQ(code(16, palette.data(), 10000), kErrInvalidArgument);
  EXPECT_EQ(code(8, nullptr, 10000), kErrInvalidArgument);
  EXPECT_EQ(code(24, nullptr, 100), kErrWriteFile);
}

}  // namespace
}  // namespace vellum

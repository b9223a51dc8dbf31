#include "vellum/codecs/pcx.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/codecs/codec_test_support.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"

namespace vellum {
namespace {

using namespace codec_tests;

Decoded ReadPcx(const std::vector<uint8_t>& bytes) { return DecodeRgb(bytes, ReadPCX); }

// A hand-made file: header, then each line stored as runs of one byte.
std::vector<uint8_t> PcxFile(int version, int bitsPerPlane, int planes, int width, int height,
                             int bytesPerLine, const std::vector<uint8_t>& lines,
                             const std::vector<uint8_t>& palette16 = {}) {
  std::vector<uint8_t> f(128);
  f[0] = 10, f[1] = uint8_t(version), f[2] = 1, f[3] = uint8_t(bitsPerPlane);
  f[8] = uint8_t(width - 1), f[9] = uint8_t((width - 1) >> 8);
  f[10] = uint8_t(height - 1), f[11] = uint8_t((height - 1) >> 8);
  std::copy(palette16.begin(), palette16.end(), f.begin() + 16);
  f[65] = uint8_t(planes), f[66] = uint8_t(bytesPerLine), f[67] = uint8_t(bytesPerLine >> 8);
  for (uint8_t byte : lines) f.insert(f.end(), {0xC1, byte});
  return f;
}

// Bit planes of 1 bit (plane i holding bit i of each index), one line after another.
std::vector<uint8_t> BitPlanes(const std::vector<uint8_t>& indices, int width, int planes,
                               int bytesPerLine) {
  const int height = int(indices.size()) / width;
  std::vector<uint8_t> lines(size_t(height * planes * bytesPerLine));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int p = 0; p < planes; ++p) {
        if (indices[y * width + x] >> p & 1)
          lines[(y * planes + p) * bytesPerLine + x / 8] |= uint8_t(0x80 >> (x % 8));
      }
    }
  }
  return lines;
}

TEST(ReadPcx, FilesFromOtherToolsDecodeAsTheyDo) {
  TempDir dir;
  const std::string src = dir.File("src.png");
  ASSERT_TRUE(
      testing_support::RunCommand("/usr/bin/convert -seed 4 -size 61x43 plasma:red-blue " + src));
  const std::vector<std::string> makers = {
      "pillow 1",   "pillow L",           "pillow P",
      "pillow RGB", "magick -colors 200", "magick -type TrueColor",
  };
  for (const std::string& maker : makers) {
    SCOPED_TRACE(maker);
    const std::string out = dir.File("tool.pcx");
    if (maker.rfind("pillow", 0) == 0) {
      ASSERT_TRUE(testing_support::RunPython(
          "import sys\nfrom PIL import Image\n"
          "Image.open(sys.argv[1]).convert(sys.argv[2]).save(sys.argv[3])\n",
          {src, maker.substr(7), out}));
    } else {
      ASSERT_TRUE(testing_support::RunCommand("/usr/bin/convert " + src + " " + maker.substr(7) +
                                              " " + out));
    }
    const auto pillow = testing_support::DecodeWithPillow(out);
    ASSERT_TRUE(pillow.has_value());
    const Decoded ours = ReadPcx(testing_support::ReadFileBytes(out));
    ASSERT_TRUE(ours.hasImage) << ours.code;
    EXPECT_EQ(ours.width, 61);
    EXPECT_EQ(ours.height, 43);
    EXPECT_TRUE(ours.rgb == pillow->rgb);
  }
}

TEST(ReadPcx, SixteenColourPlanesUseTheHeaderPalette) {
  std::vector<uint8_t> palette16(48);
  for (int i = 0; i < 48; ++i) palette16[i] = uint8_t(i * 37 + 11);
  const std::vector<uint8_t> indices = RandomBytes(13 * 5, 16, 21);
  const std::vector<uint8_t> file =
      PcxFile(2, 1, 4, 13, 5, 2, BitPlanes(indices, 13, 4, 2), palette16);
  TempDir dir;
  testing_support::WriteFileBytes(dir.File("ega.pcx"), file);
  const auto magick = testing_support::DecodeWithImageMagick(dir.File("ega.pcx"));
  const auto pillow = testing_support::DecodeWithPillow(dir.File("ega.pcx"));
  ASSERT_TRUE(magick.has_value() && pillow.has_value());
  const Decoded ours = ReadPcx(file);
  EXPECT_TRUE(ours.rgb == magick->rgb);
  EXPECT_TRUE(ours.rgb == pillow->rgb);

  // Two planes: four colours, the header's first four.
  const std::vector<uint8_t> four = RandomBytes(10 * 3, 4, 22);
  const Decoded planes2 = ReadPcx(PcxFile(5, 1, 2, 10, 3, 2, BitPlanes(four, 10, 2, 2), palette16));
  EXPECT_EQ(planes2.rgb[0], palette16[3 * four[0]]);
  EXPECT_EQ(planes2.rgb[3 * 29 + 2], palette16[3 * four[29] + 2]);
}

TEST(ReadPcx, PalettesFollowTheVersionAndDepth) {
  std::vector<uint8_t> indices = {0, 1, 7, 200};
  std::vector<uint8_t> colours(768);
  for (int i = 0; i < 768; ++i) colours[i] = uint8_t(255 - i / 3);
  std::vector<uint8_t> v5 = PcxFile(5, 8, 1, 4, 1, 4, indices);
  v5.push_back(12);
  v5.insert(v5.end(), colours.begin(), colours.end());
  EXPECT_EQ(ReadPcx(v5).rgb[3 * 3], 255 - 200);
  v5[v5.size() - 769] = 11;  // no mark: a gray ramp
  EXPECT_EQ(ReadPcx(v5).rgb[3 * 3], 200);
  v5[1] = 3;  // no extended palette before version 5
  v5[v5.size() - 769] = 12;
  EXPECT_EQ(ReadPcx(v5).rgb[3 * 3], 200);

  // One bit: black and white whatever the header palette says; all 10 pixels decoded.
  const std::vector<uint8_t> bits = {0xA5, 0xC0};
  const Decoded mono = ReadPcx(PcxFile(5, 1, 1, 10, 1, 2, bits, std::vector<uint8_t>(48, 90)));
  const std::vector<uint8_t> expected = IndicesToRgb({1, 0, 1, 0, 0, 1, 0, 1, 1, 1}, [] {
    Palette bw{};
    bw[1] = {255, 255, 255, 0};
    return bw;
  }());
  EXPECT_EQ(mono.rgb, expected);
}

TEST(ReadPcx, DamagedFilesDecodeAsZerosOrFailWithCodes22And3) {
  std::vector<uint8_t> lines(8 * 3 * 4, 0x33);
  const std::vector<uint8_t> good = PcxFile(5, 8, 3, 4, 8, 4, lines);
  for (size_t size = 1; size < good.size(); ++size) {
    const Decoded read = ReadPcx(std::vector<uint8_t>(good.begin(), good.begin() + size));
    // The data of the 8 lines of 12 bytes needs at least 2 of its bytes, and 24 (runs of
    // one byte) to fill the first line.
    EXPECT_EQ(read.code, size < 130 ? kErrBadPcx : size < 152 ? kErrReadFile : kOk) << size;
    if (read.hasImage) {  // every whole run decoded, zeros after them
      const size_t decoded = std::count(read.rgb.begin(), read.rgb.end(), 0x33);
      EXPECT_EQ(decoded, (size - 128) / 2) << size;
      EXPECT_EQ(decoded + std::count(read.rgb.begin(), read.rgb.end(), 0), read.rgb.size());
    }
  }
  // A run across the end of a line is cut there: the next line starts afresh.
  std::vector<uint8_t> runs = PcxFile(5, 8, 1, 2, 2, 2, {});
  runs.insert(runs.end(), {0xC3, 9, 4, 5});
  const Decoded cut = ReadPcx(runs);
  EXPECT_EQ(cut.rgb, (std::vector<uint8_t>{9, 9, 9, 9, 9, 9, 4, 4, 4, 5, 5, 5}));

  auto code = [&](std::vector<uint8_t> file) { return ReadPcx(file).code; };
  EXPECT_EQ(code(PcxFile(1, 8, 1, 4, 1, 4, lines)), kErrBadPcx);   // version 1
  EXPECT_EQ(code(PcxFile(4, 8, 1, 4, 1, 4, lines)), kErrBadPcx);   // version 4
  EXPECT_EQ(code(PcxFile(5, 8, 1, 4, 1, 3, lines)), kErrBadPcx);   // lines too short
  EXPECT_EQ(code(PcxFile(5, 1, 1, 17, 1, 2, lines)), kErrBadPcx);  // 17 bits in 2 bytes
  EXPECT_EQ(code(PcxFile(5, 4, 2, 4, 1, 4, lines)), kErrBadPcx);   // two planes of 4 bits
  EXPECT_EQ(code(PcxFile(5, 8, 1, 0xFFFF, 0xFFFF, 0xFFFF, lines)), kErrBadPcx);  // no data
  std::vector<uint8_t> bad = good;
  bad[0] = 11;
  EXPECT_EQ(code(bad), kErrBadPcx);
  bad = good;
  bad[8] = 0, bad[4] = 1;  // x max below x min
  EXPECT_EQ(code(bad), kErrBadPcx);
  // Enough data to pass for 26800 x 26800 pixels, whose buffer exceeds the limit.
  std::vector<uint8_t> huge = PcxFile(5, 8, 1, 26800, 26800, 26800, {});
  huge.resize(huge.size() + 26800ull * 26800 / 63 + 1);
  EXPECT_EQ(code(huge), kErrNoMemory);
  int32_t w = 0, h = 0;
  EXPECT_EQ(ReadPCX(nullptr, &w, &h, 24), nullptr);
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  EXPECT_EQ(
      DecodeBytes(good, [](HISSRC s, int32_t* w2, int32_t* h2) { return ReadPCX(s, w2, h2, 8); })
          .code,
      kErrInvalidArgument);
}

Encoded WritePcx(const std::vector<uint8_t>& pixels, int width, int height, int bits,
                 const RGBQUAD* palette, size_t capacity = 0) {
  return EncodeBytes(
      [&](HISDEST d) { return WritePCX(d, pixels.data(), width, height, bits, palette); },
      capacity ? capacity : pixels.size() * 3 + 2000);
}

TEST(WritePcx, IndependentDecodersReadWhatWeWrite) {
  const Palette palette = DistinctPalette();
  struct Case {
    int width, height, bits;
    std::vector<uint8_t> pixels;
  };
  const std::vector<Case> cases = {
      {3, 2, 8, {0, 200, 201, 0xC0, 0xFF, 7}},
      {301, 77, 8, RandomRuns(301 * 77, 256, 23)},
      {1, 1, 24, {1, 2, 3}},
      {157, 61, 24, RandomRuns(157 * 61 * 3, 256, 24)},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    const Encoded written = WritePcx(c.pixels, c.width, c.height, c.bits, palette.data());
    ASSERT_EQ(written.code, kOk);
    ASSERT_EQ(written.result, written.bytes.size());
    EXPECT_EQ(written.bytes[1], 5);
    EXPECT_EQ(written.bytes[65], c.bits == 8 ? 1 : 3);
    EXPECT_EQ(written.bytes[66] | written.bytes[67] << 8, c.width + c.width % 2);
    EXPECT_EQ(written.bytes[12], 96);
    testing_support::WriteFileBytes(dir.File("w.pcx"), written.bytes);
    const std::vector<uint8_t> expected = c.bits == 8 ? IndicesToRgb(c.pixels, palette) : c.pixels;
    const auto pillow = testing_support::DecodeWithPillow(dir.File("w.pcx"));
    const auto magick = testing_support::DecodeWithImageMagick(dir.File("w.pcx"));
    ASSERT_TRUE(pillow.has_value() && magick.has_value());
    // Pillow misplaces the planes of padded 24-bit lines narrower than 5 pixels.
    EXPECT_TRUE(pillow->rgb == expected || (c.bits == 24 && c.width < 5));
    EXPECT_TRUE(magick->rgb == expected);
    EXPECT_TRUE(ReadPcx(written.bytes).rgb == expected);
  }
}

TEST(WritePcx, RunsStopAt63AndHighBytesAreAlwaysCounted) {
  const Palette palette = DistinctPalette();
  std::vector<uint8_t> row(200, 9);
  row[199] = 0xC5;
  const Encoded written = WritePcx(row, 200, 1, 8, palette.data());
  const std::vector<uint8_t> data(written.bytes.begin() + 128, written.bytes.end() - 769);
  EXPECT_EQ(data, (std::vector<uint8_t>{0xFF, 9, 0xFF, 9, 0xFF, 9, 0xCA, 9, 0xC1, 0xC5}));
  EXPECT_EQ(written.bytes[written.bytes.size() - 769], 12);

  EXPECT_EQ(WritePcx(row, 200, 1, 16, palette.data()).code, kErrInvalidArgument);
  EXPECT_EQ(WritePcx(row, 200, 1, 8, nullptr).code, kErrInvalidArgument);
  EXPECT_EQ(WritePcx(row, 0, 1, 8, palette.data()).code, kErrInvalidArgument);
  const Encoded cut = WritePcx(row, 200, 1, 8, palette.data(), 500);
  EXPECT_EQ(cut.result, 0u);
  EXPECT_EQ(cut.code, kErrWriteFile);
}

// Runs found eight bytes at a time must still end where the bytes change, at 63,
// at the end of each plane (the pad byte included) and of each line.
TEST(WritePcx, RunsEndWhereTheBytesChangeAndAtPlaneAndLineEnds) {
  struct Case {
    std::string name;
    int width, height, bits;
    std::vector<uint8_t> pixels, data;
  };
  auto same = [](size_t n, uint8_t v) { return std::vector<uint8_t>(n, v); };
  const std::vector<Case> cases = {
      {"nine", 10, 1, 8, Concat({same(9, 5), {6}}), {0xC9, 5, 6}},
      {"eight then one", 10, 1, 8, Concat({same(8, 7), {3, 4}}), {0xC8, 7, 3, 4}},
      {"sixty-four", 64, 1, 8, same(64, 1), {0xFF, 1, 1}},
      {"one hundred twenty-seven",
       128,
       1,
       8,
       Concat({same(127, 2), {0}}),
       {0xFF, 2, 0xFF, 2, 2, 0}},
      {"high singles", 4, 1, 8, {0xC0, 0xBF, 0xFF, 0xBF}, {0xC1, 0xC0, 0xBF, 0xC1, 0xFF, 0xBF}},
      {"run into the pad byte", 3, 1, 8, {1, 0, 0}, {1, 0xC3, 0}},
      {"pad after a run", 3, 1, 8, {4, 4, 4}, {0xC3, 4, 0}},
      {"rows apart", 2, 2, 8, same(4, 9), {0xC2, 9, 0xC2, 9}},
      {"planes apart", 2, 1, 24, same(6, 7), {0xC2, 7, 0xC2, 7, 0xC2, 7}},
      {"one pixel", 1, 1, 24, {1, 0xD0, 3}, {1, 0, 0xC1, 0xD0, 0, 3, 0}},
  };
  const Palette palette = DistinctPalette();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Encoded written = WritePcx(c.pixels, c.width, c.height, c.bits, palette.data());
    ASSERT_EQ(written.code, kOk);
    const size_t trailer = c.bits == 8 ? 769 : 0;
    EXPECT_EQ(std::vector<uint8_t>(written.bytes.begin() + 128, written.bytes.end() - trailer),
              c.data);
    EXPECT_EQ(ReadPcx(written.bytes).rgb, c.bits == 8 ? IndicesToRgb(c.pixels, palette) : c.pixels);
  }
}

}  // namespace
}  // namespace vellum

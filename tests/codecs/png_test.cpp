#include "vellum/codecs/png.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/kernel/global_memory.h"
#include "tests/codecs/codec_test_support.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"

namespace vellum {
namespace {

using namespace codec_tests;

// ---- building PNG files from known samples ----

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

std::vector<uint8_t> Chunk(const std::string& type, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> chunk;
  chunk.reserve(12 + data.size());
  PutU32(chunk, static_cast<uint32_t>(data.size()));
  chunk.insert(chunk.end(), type.begin(), type.end());
  for (uint8_t byte : data) chunk.push_back(byte);
  PutU32(chunk,
         static_cast<uint32_t>(crc32(0, chunk.data() + 4, static_cast<uInt>(chunk.size() - 4))));
  return chunk;
}

struct PngSpec {
  uint32_t width;
  uint32_t height;
  int bitDepth;
  int colorType;
  std::vector<std::vector<uint8_t>> rows;  // packed samples, without filter bytes
  std::vector<std::vector<uint8_t>> chunksBeforeData;
};

std::vector<uint8_t> MakePng(const PngSpec& spec) {
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  std::vector<uint8_t> header;
  PutU32(header, spec.width);
  PutU32(header, spec.height);
  header.insert(header.end(), {static_cast<uint8_t>(spec.bitDepth),
                               static_cast<uint8_t>(spec.colorType), 0, 0, 0});
  const std::vector<uint8_t> ihdr = Chunk("IHDR", header);
  png.insert(png.end(), ihdr.begin(), ihdr.end());
  for (const auto& chunk : spec.chunksBeforeData) png.insert(png.end(), chunk.begin(), chunk.end());
  std::vector<uint8_t> raw;
  for (const auto& row : spec.rows) {
    raw.push_back(0);
    raw.insert(raw.end(), row.begin(), row.end());
  }
  std::vector<uint8_t> packed(compressBound(static_cast<uLong>(raw.size())));
  uLongf size = static_cast<uLongf>(packed.size());
  compress(packed.data(), &size, raw.data(), static_cast<uLong>(raw.size()));
  packed.resize(size);
  for (const auto& chunk : {Chunk("IDAT", packed), Chunk("IEND", {})}) {
    png.insert(png.end(), chunk.begin(), chunk.end());
  }
  return png;
}

// Rows of `width` samples of `depth` bits each (16-bit samples big-endian), from
// sample(x, y, channel).
template <typename Sample>
std::vector<std::vector<uint8_t>> PackRows(uint32_t width, uint32_t height, int channels, int depth,
                                           Sample sample) {
  std::vector<std::vector<uint8_t>> rows;
  for (uint32_t y = 0; y < height; ++y) {
    std::vector<uint8_t> row((size_t{width} * channels * depth + 7) / 8);
    size_t bit = 0;
    for (uint32_t x = 0; x < width; ++x) {
      for (int c = 0; c < channels; ++c, bit += depth) {
        const uint32_t v = sample(x, y, c);
        if (depth == 16) {
          row[bit / 8] = static_cast<uint8_t>(v >> 8);
          row[bit / 8 + 1] = static_cast<uint8_t>(v);
        } else {
          row[bit / 8] |= static_cast<uint8_t>(v << (8 - depth - bit % 8));
        }
      }
    }
    rows.push_back(row);
  }
  return rows;
}

std::vector<uint8_t> PaletteChunk(int count) {
  std::vector<uint8_t> colors;
  for (int i = 0; i < count; ++i) {
    colors.insert(colors.end(), {static_cast<uint8_t>(i * 37), static_cast<uint8_t>(255 - i),
                                 static_cast<uint8_t>(i * 5)});
  }
  return Chunk("PLTE", colors);
}

Decoded ReadPngBytes(const std::vector<uint8_t>& bytes) {
  return DecodeBytes(bytes, [](HISSRC source, int32_t* width, int32_t* height) {
    return ReadPNG(source, width, height, 24);
  });
}

// Every colour type without alpha at every depth, filled from the test picture,
// as ImageMagick decodes it; 16-bit samples are multiples of 257, which both
// ImageMagick's scaling and our high byte take to the same 8 bits.
TEST(ReadPng, DecodesEveryOpaqueTypeAndDepthAsAnIndependentDecoder) {
  TempDir dir;
  constexpr uint32_t kW = 37;
  constexpr uint32_t kH = 23;
  const std::vector<uint8_t> picture = TestPicture(kW, kH);
  struct Variant {
    int colorType;
    int depth;
  };
  const std::vector<Variant> variants = {{0, 1},  {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8},
                                         {2, 16}, {3, 1}, {3, 2}, {3, 4}, {3, 8}};
  for (const Variant& variant : variants) {
    SCOPED_TRACE(testing::Message() << "type " << variant.colorType << " depth " << variant.depth);
    const int channels = variant.colorType == 2 ? 3 : 1;
    const uint32_t top = (1u << variant.depth) - 1;
    PngSpec spec{kW, kH, variant.depth, variant.colorType, {}, {}};
    spec.rows = PackRows(kW, kH, channels, variant.depth, [&](uint32_t x, uint32_t y, int c) {
      const uint8_t v = picture[(y * kW + x) * 3 + c];
      if (variant.depth == 16) return v * 257u;
      return variant.depth == 8 ? v : (v * top + 127) / 255;
    });
    if (variant.colorType == 3) spec.chunksBeforeData.push_back(PaletteChunk(1 << variant.depth));
    const std::vector<uint8_t> png = MakePng(spec);
    const std::string path = dir.File("variant.png");
    WriteFileBytes(path, png);
    const auto oracle = DecodeWithImageMagick(path);
    ASSERT_TRUE(oracle.has_value());
    const Decoded ours = ReadPngBytes(png);
    EXPECT_EQ(ours.code, kOk);
    ExpectSameImage(ours, *oracle);

    // The same file interlaced (Adam7) by ImageMagick decodes the same.
    const std::string interlaced = dir.File("adam7.png");
    ASSERT_TRUE(RunCommand("/usr/bin/convert " + ShellQuote(path) +
                           " -interlace PNG -define png:exclude-chunk=gAMA,cHRM,sRGB " +
                           ShellQuote(interlaced)));
    const std::vector<uint8_t> adam7 = ReadFileBytes(interlaced);
    ASSERT_EQ(adam7[28], 1);
    ExpectSameImage(ReadPngBytes(adam7), *oracle);
  }
}

TEST(ReadPng, ExpandsLowDepthGrayAndKeepsTheHighByteOfSixteenBits) {
  PngSpec gray2{4, 1, 2, 0, PackRows(4, 1, 1, 2, [](uint32_t x, uint32_t, int) { return x; }), {}};
  EXPECT_EQ(ReadPngBytes(MakePng(gray2)).rgb,
            (std::vector<uint8_t>{0, 0, 0, 85, 85, 85, 170, 170, 170, 255, 255, 255}));

  const uint32_t samples[3] = {0x80FF, 0x1200, 0xFF7F};  // scaling would give 0x81, 0x12, 0xFF
  PngSpec rgb16{
      1, 1, 16, 2, PackRows(1, 1, 3, 16, [&](uint32_t, uint32_t, int c) {
                  return samples[c]; }),
      {}};
  EXPECT_EQ(ReadPngBytes(MakePng(rgb16)).rgb, (std::vector<uint8_t>{0x80, 0x12, 0xFF}));
}

std::vector<uint8_t> Background16(uint16_t red, uint16_t green, uint16_t blue) {
  std::vector<uint8_t> data;
  for (uint16_t v : {red, green, blue}) data.insert(data.end(), {uint8_t(v >> 8), uint8_t(v)});
  return data;
}

TEST(ReadPng, CompositesAlphaOverTheFileBackgroundOrBlack) {
  // Opaque, half transparent and fully transparent pixels.
  const uint8_t rgba[3][4] = {{200, 100, 50, 255}, {200, 100, 50, 128}, {200, 100, 50, 0}};
  PngSpec spec{
      3, 1, 8, 6, PackRows(3, 1, 4, 8, [&](uint32_t x, uint32_t, int c) {
                 return rgba[x][c]; }),
      {}};
  const Decoded overBlack = ReadPngBytes(MakePng(spec));
  EXPECT_EQ(overBlack.code, kOk);
  const std::vector<uint8_t> expectBlack = {200, 100, 50, 100, 50, 25, 0, 0, 0};
  EXPECT_LE(codec_tests::MaxDifference(overBlack.rgb, expectBlack), 1);

  spec.chunksBeforeData = {Chunk("bKGD", Background16(0, 0, 255))};
  const Decoded overBlue = ReadPngBytes(MakePng(spec));
  const std::vector<uint8_t> expectBlue = {200, 100, 50, 100, 50, 152, 0, 0, 255};
  EXPECT_LE(codec_tests::MaxDifference(overBlue.rgb, expectBlue), 1);

  // Gray with alpha, 16 bits: becomes RGB over black.
  PngSpec grayAlpha{2,
                    1,
                    16,
                    4,
                    PackRows(2, 1, 2, 16,
                             [](uint32_t x, uint32_t, int c) {
                               return c == 0 ? 0xFFFFu : (x == 0 ? 0xFFFFu : 0x8000u);
                             }),
                    {}};
  EXPECT_LE(codec_tests::MaxDifference(ReadPngBytes(MakePng(grayAlpha)).rgb,
                                       {255, 255, 255, 128, 128, 128}),
            1);
}

TEST(ReadPng, PaletteTransparencyTakesTheBackground) {
  PngSpec spec{3, 1, 8, 3, PackRows(3, 1, 1, 8, [](uint32_t x, uint32_t, int) { return x; }), {}};
  const std::vector<uint8_t> palette = {10, 20, 30, 40, 50, 60, 70, 80, 90};
  spec.chunksBeforeData = {Chunk("PLTE", palette), Chunk("tRNS", {255, 0})};
  EXPECT_EQ(ReadPngBytes(MakePng(spec)).rgb,
            (std::vector<uint8_t>{10, 20, 30, 0, 0, 0, 70, 80, 90}));
  spec.chunksBeforeData.push_back(Chunk("bKGD", {2}));
  EXPECT_EQ(ReadPngBytes(MakePng(spec)).rgb,
            (std::vector<uint8_t>{10, 20, 30, 70, 80, 90, 70, 80, 90}));
}

// With the screen gamma 2.9, a file without gAMA is left alone and one whose
// gAMA is 1.0 is corrected with exponent 1 / 2.9.
TEST(ReadPng, GammaCorrectsOnlyFilesThatStateTheirGamma) {
  PngSpec spec{256, 1, 8, 0, PackRows(256, 1, 1, 8, [](uint32_t x, uint32_t, int) { return x; }),
               {}};
  const Decoded plain = ReadPngBytes(MakePng(spec));
  for (int v = 0; v < 256; ++v) ASSERT_EQ(plain.rgb[v * 3], v);

  std::vector<uint8_t> gamma;
  PutU32(gamma, 100000);
  spec.chunksBeforeData = {Chunk("gAMA", gamma)};
  const Decoded corrected = ReadPngBytes(MakePng(spec));
  ASSERT_EQ(corrected.code, kOk);
  for (int v : {0, 16, 64, 128, 200, 255}) {
    const double expected = 255 * std::pow(v / 255.0, 1 / 2.9);
    EXPECT_NEAR(corrected.rgb[v * 3], expected, 1.0) << v;
  }
}

TEST(ReadPng, TruncatedBrokenAndMisusedSourcesFail) {
  const std::vector<uint8_t> picture = TestPicture(40, 30);
  PngSpec spec{
      40,
      30,
      8,
      2,
      PackRows(40, 30, 3, 8,
               [&](uint32_t x, uint32_t y, int c) { return picture[(y * 40 + x) * 3 + c]; }),
      {}};
  const std::vector<uint8_t> png = MakePng(spec);
  const size_t blocksBefore = GlobalLiveBlockCount();
  for (size_t keep : {png.size() - 1, png.size() - 12, png.size() / 2, size_t{40}, size_t{8}}) {
    SCOPED_TRACE(keep);
    const Decoded cut = ReadPngBytes(std::vector<uint8_t>(png.begin(), png.begin() + keep));
    EXPECT_EQ(cut.code, kErrBadPng);
    EXPECT_FALSE(cut.hasImage);
  }
  std::vector<uint8_t> badCrc = png;
  badCrc[30] ^= 1;  // inside IHDR
  EXPECT_EQ(ReadPngBytes(badCrc).code, kErrBadPng);
  EXPECT_EQ(ReadPngBytes(std::vector<uint8_t>(64, 'x')).code, kErrBadPng);
  EXPECT_EQ(GlobalLiveBlockCount(), blocksBefore);

  const Decoded eightBits =
      DecodeBytes(png, [](HISSRC s, int32_t* w, int32_t* h) { return ReadPNG(s, w, h, 8); });
  EXPECT_EQ(eightBits.code, kErrInvalidArgument);
  int32_t width = 0;
  EXPECT_EQ(ReadPNG(nullptr, &width, &width, 24), nullptr);
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
}

TEST(ReadPng, RefusesSizesPastTheLimitBeforeAllocating) {
  const size_t blocksBefore = GlobalLiveBlockCount();
  // Within libpng's limits, but the RGB buffer would pass the core's.
  PngSpec big{30000, 30000, 8, 2, {}, {}};
  EXPECT_EQ(ReadPngBytes(MakePng(big)).code, kErrNoMemory);
  // Past libpng's own limit on a side.
  PngSpec wide{2000000, 1, 8, 0, {}, {}};
  EXPECT_EQ(ReadPngBytes(MakePng(wide)).code, kErrBadPng);
  EXPECT_EQ(GlobalLiveBlockCount(), blocksBefore);
}

// The process's peak virtual size (VmPeak), which any mapping raises even when
// its pages are never touched.
uint64_t PeakVirtualKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string key;
  uint64_t value = 0;
  while (status >> key) {
    if (key == "VmPeak:" && status >> value) return value;
  }
  return 0;
}

// A text chunk may declare 1.6 GB in a file of a hundred bytes; libpng is told to
// skip chunks the entries do not use instead of buffering them.
TEST(ReadPng, SkipsUnusedChunksInsteadOfBufferingThem) {
  PngSpec spec{4, 4, 8, 0, PackRows(4, 4, 1, 8, [](uint32_t x, uint32_t, int) { return x; }), {}};
  std::vector<uint8_t> png = MakePng(spec);
  std::vector<uint8_t> text;
  PutU32(text, 0x63726561);
  for (char c : std::string("tEXtComment\0a few bytes")) text.push_back(static_cast<uint8_t>(c));
  png.insert(png.begin() + 33, text.begin(), text.end());  // after IHDR

  const uint64_t peakBefore = PeakVirtualKilobytes();
  ASSERT_GT(peakBefore, 0u);
  EXPECT_EQ(ReadPngBytes(png).code, kErrBadPng);
  EXPECT_LT(PeakVirtualKilobytes() - peakBefore, 256u * 1024);
}

struct PngInfo {
  BOOL result = FALSE;
  int32_t code = -1;
  int32_t colorType = -1;
  int32_t width = -1;
  int32_t height = -1;
  int32_t bitDepth = -1;
  int32_t interlace = -1;
  int32_t paletteCount = -1;
  std::vector<RGBQUAD> palette = std::vector<RGBQUAD>(256, RGBQUAD{1, 2, 3, 4});
  ResolutionRecord resolution{-1, -1, -1};
};

PngInfo ReadInfo(const std::vector<uint8_t>& bytes) {
  PngInfo info;
  HISSRC source = OpenMemorySource(bytes.data(), static_cast<uint32_t>(bytes.size()));
  info.result =
      ReadPNGInfo(source, &info.colorType, &info.width, &info.height, &info.bitDepth,
                  &info.interlace, &info.paletteCount, info.palette.data(), &info.resolution);
  info.code = CoreLastError();
  CloseSource(source);
  return info;
}

bool SameEntry(const RGBQUAD& a, const RGBQUAD& b) {
  return a.rgbBlue == b.rgbBlue && a.rgbGreen == b.rgbGreen && a.rgbRed == b.rgbRed &&
         a.rgbReserved == b.rgbReserved;
}

TEST(ReadPngInfo, ReportsHeaderPaletteAndPhysicalSize) {
  PngSpec spec{5, 3, 4, 3, PackRows(5, 3, 1, 4, [](uint32_t x, uint32_t, int) { return x; }), {}};
  std::vector<uint8_t> phys;
  PutU32(phys, 3780);
  PutU32(phys, 2835);
  phys.push_back(1);
  spec.chunksBeforeData = {Chunk("pHYs", phys), PaletteChunk(5)};
  PngInfo info = ReadInfo(MakePng(spec));
  EXPECT_TRUE(info.result);
  EXPECT_EQ(info.code, kOk);
  EXPECT_EQ(info.colorType, 3);
  EXPECT_EQ(info.width, 5);
  EXPECT_EQ(info.height, 3);
  EXPECT_EQ(info.bitDepth, 4);
  EXPECT_EQ(info.interlace, 0);
  EXPECT_EQ(info.paletteCount, 5);
  EXPECT_TRUE(SameEntry(info.palette[4], RGBQUAD{20, 251, 148, 0}));  // blue, green, red
  EXPECT_TRUE(SameEntry(info.palette[5], info.palette[0]));
  EXPECT_TRUE(SameEntry(info.palette[255], info.palette[0]));
  EXPECT_EQ(info.resolution.xDensity, 3780);
  EXPECT_EQ(info.resolution.yDensity, 2835);
  EXPECT_EQ(info.resolution.unit, 1);

  // Gray gets libpng's ramp and no pHYs leaves the resolution at 0.
  PngSpec gray{2, 2, 4, 0, PackRows(2, 2, 1, 4, [](uint32_t, uint32_t, int) { return 3; }), {}};
  info = ReadInfo(MakePng(gray));
  EXPECT_EQ(info.paletteCount, 16);
  EXPECT_TRUE(SameEntry(info.palette[1], RGBQUAD{0x11, 0x11, 0x11, 0}));
  EXPECT_TRUE(SameEntry(info.palette[15], RGBQUAD{0xFF, 0xFF, 0xFF, 0}));
  EXPECT_TRUE(SameEntry(info.palette[16], RGBQUAD{0, 0, 0, 0}));
  EXPECT_EQ(info.resolution.xDensity, 0);
  EXPECT_EQ(info.resolution.unit, 0);

  const std::vector<uint8_t> png = MakePng(gray);
  info = ReadInfo(std::vector<uint8_t>(png.begin(), png.begin() + 20));
  EXPECT_FALSE(info.result);
  EXPECT_EQ(info.code, kErrBadPng);
}

// ---- writing ----

Encoded WritePngBytes(const std::vector<uint8_t>& pixels, int width, int height, int bytesPerRow,
                      int paletteCount, const RGBQUAD* palette, int colorType,
                      ResolutionRecord resolution = {2835, 2835, 1}, size_t capacity = 1u << 20) {
  return EncodeBytes(
      [&](HISDEST destination) {
        return WritePNG(destination, pixels.data(), width, height, bytesPerRow, 8, paletteCount,
                        palette, colorType, 0.0, 1, resolution);
      },
      capacity);
}

std::map<std::string, std::vector<uint8_t>> ChunksOf(const std::vector<uint8_t>& png) {
  std::map<std::string, std::vector<uint8_t>> chunks;
  size_t at = 8;
  while (at + 12 <= png.size()) {
    const size_t length =
        size_t{png[at]} << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3];
    const std::string type(png.begin() + at + 4, png.begin() + at + 8);
    if (at + 12 + length > png.size()) break;
    chunks[type] = std::vector<uint8_t>(png.begin() + at + 8, png.begin() + at + 8 + length);
    at += 12 + length;
  }
  return chunks;
}

TEST(WritePng, WritesInterlacedRgbWithTimeAndPhysicalSize) {
  TempDir dir;
  constexpr int kW = 41;
  constexpr int kH = 29;
  std::vector<uint8_t> picture = TestPicture(kW, kH);
  // Rows start 4 bytes apart beyond their pixels.
  std::vector<uint8_t> padded;
  for (int y = 0; y < kH; ++y) {
    padded.insert(padded.end(), picture.begin() + y * kW * 3, picture.begin() + (y + 1) * kW * 3);
    padded.insert(padded.end(), 4, 0xEE);
  }
  const Encoded ours = WritePngBytes(padded, kW, kH, kW * 3 + 4, 0, nullptr, 2, {3780, 2000, 1});
  ASSERT_EQ(ours.code, kOk);
  EXPECT_EQ(ours.result, ours.bytes.size());
  auto chunks = ChunksOf(ours.bytes);
  EXPECT_EQ(chunks["IHDR"][12], 1);  // Adam7
  EXPECT_EQ(chunks["tIME"].size(), 7u);
  std::vector<uint8_t> phys;
  PutU32(phys, 3780);
  PutU32(phys, 2000);
  phys.push_back(1);
  EXPECT_EQ(chunks["pHYs"], phys);
  EXPECT_EQ(chunks.count("gAMA"), 0u);
  EXPECT_EQ(chunks.count("tRNS"), 0u);

  const std::string path = dir.File("ours.png");
  WriteFileBytes(path, ours.bytes);
  const auto oracle = testing_support::DecodeWithPillow(path);
  ASSERT_TRUE(oracle.has_value());
  EXPECT_EQ(oracle->rgb, picture);
  EXPECT_EQ(ReadPngBytes(ours.bytes).rgb, picture);
}

struct PaletteImage {
  std::vector<uint8_t> indices;
  std::vector<RGBQUAD> palette;
};

PaletteImage EightByEightPalette() {
  PaletteImage image;
  for (int i = 0; i < 256; ++i) {
    image.palette.push_back(RGBQUAD{uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 255});
  }
  image.palette[5].rgbReserved = 0;  // the transparent entry
  for (int i = 0; i < 64; ++i) image.indices.push_back(static_cast<uint8_t>(i * 4 + 1));
  return image;
}

TEST(WritePng, PaletteWithTransparencyWritesTrnsAndBackground) {
  TempDir dir;
  const PaletteImage image = EightByEightPalette();
  SetPNGWriteTransparency(TRUE);
  const Encoded transparent = WritePngBytes(image.indices, 8, 8, 8, 256, image.palette.data(), 3);
  SetPNGWriteTransparency(FALSE);
  ASSERT_EQ(transparent.code, kOk);
  auto chunks = ChunksOf(transparent.bytes);
  ASSERT_EQ(chunks["PLTE"].size(), 768u);
  EXPECT_EQ(chunks["PLTE"][3 * 7 + 0], 3);    // red of entry 7 from byte 2
  EXPECT_EQ(chunks["PLTE"][3 * 7 + 1], 248);  // green
  EXPECT_EQ(chunks["PLTE"][3 * 7 + 2], 7);    // blue
  std::vector<uint8_t> opacity(256, 255);
  opacity[5] = 0;
  EXPECT_EQ(chunks["tRNS"], opacity);
  EXPECT_EQ(chunks["bKGD"], std::vector<uint8_t>{0});

  const std::string path = dir.File("palette.png");
  WriteFileBytes(path, transparent.bytes);
  const auto oracle = testing_support::DecodeWithPillow(path);
  ASSERT_TRUE(oracle.has_value());
  for (int i = 0; i < 64; ++i) {
    const RGBQUAD& entry = image.palette[image.indices[i]];
    ASSERT_EQ(oracle->rgb[i * 3], entry.rgbRed);
    ASSERT_EQ(oracle->rgb[i * 3 + 2], entry.rgbBlue);
  }

  const Encoded opaque = WritePngBytes(image.indices, 8, 8, 8, 256, image.palette.data(), 3);
  chunks = ChunksOf(opaque.bytes);
  EXPECT_EQ(chunks.count("tRNS"), 0u);
  EXPECT_EQ(chunks.count("bKGD"), 0u);
}

TEST(WritePng, TransparencyOptionBelongsToTheThreadThatSetIt) {
  const PaletteImage image = EightByEightPalette();
  SetPNGWriteTransparency(TRUE);
  size_t otherThreadTrns = 1;
  std::thread other([&] {
    otherThreadTrns =
        ChunksOf(WritePngBytes(image.indices, 8, 8, 8, 256, image.palette.data(), 3).bytes)
            .count("tRNS");
  });
  other.join();
  const size_t ownTrns =
      ChunksOf(WritePngBytes(image.indices, 8, 8, 8, 256, image.palette.data(), 3).bytes)
          .count("tRNS");
  SetPNGWriteTransparency(FALSE);
  EXPECT_EQ(otherThreadTrns, 0u);
  EXPECT_EQ(ownTrns, 1u);
}

// A tRNS on an RGB image names one transparent colour, not palette opacities:
// written from the palette it would make black transparent.
TEST(WritePng, RgbWithAPaletteGetsNoTransparency) {
  const PaletteImage image = EightByEightPalette();
  const std::vector<uint8_t> rgb = TestPicture(8, 8);
  SetPNGWriteTransparency(TRUE);
  const Encoded ours = WritePngBytes(rgb, 8, 8, 24, 256, image.palette.data(), 2);
  SetPNGWriteTransparency(FALSE);
  ASSERT_EQ(ours.code, kOk);
  const auto chunks = ChunksOf(ours.bytes);
  EXPECT_EQ(chunks.count("PLTE"), 1u);
  EXPECT_EQ(chunks.count("tRNS"), 0u);
}

TEST(WritePng, GrayAndGammaAsGiven) {
  std::vector<uint8_t> gray(16 * 4);
  for (size_t i = 0; i < gray.size(); ++i) gray[i] = static_cast<uint8_t>(i * 4);
  const Encoded ours = EncodeBytes([&](HISDEST destination) {
    return WritePNG(destination, gray.data(), 16, 4, 16, 8, 0, nullptr, 0, 0.45455, 0, {});
  });
  ASSERT_EQ(ours.code, kOk);
  auto chunks = ChunksOf(ours.bytes);
  EXPECT_EQ(chunks["IHDR"][9], 0);   // colour type
  EXPECT_EQ(chunks["IHDR"][12], 0);  // not interlaced
  std::vector<uint8_t> gamma;
  PutU32(gamma, 45455);
  EXPECT_EQ(chunks["gAMA"], gamma);
  EXPECT_EQ(chunks["pHYs"], std::vector<uint8_t>(9, 0));
}

TEST(WritePng, BadArgumentsAndFullDestinationsFail) {
  const std::vector<uint8_t> rgb = TestPicture(20, 20);
  // Rows shorter than the header says would be read past the caller's buffer.
  EXPECT_EQ(WritePngBytes(rgb, 20, 20, 59, 0, nullptr, 2).code, kErrInvalidArgument);
  EXPECT_EQ(WritePngBytes(rgb, 20, 20, 60, 16, nullptr, 2).code, kErrInvalidArgument);
  EXPECT_EQ(WritePngBytes(rgb, 20, 20, 60, 257, nullptr, 2).code, kErrInvalidArgument);
  EXPECT_EQ(WritePngBytes(rgb, 0, 20, 60, 0, nullptr, 2).code, kErrInvalidArgument);
  EXPECT_EQ(WritePngBytes(rgb, 20, 20, 60, 0, nullptr, 5).code, kErrPngInternal);
  EXPECT_EQ(WritePngBytes(rgb, 20, 20, 60, 0, nullptr, 3).code, kErrPngInternal);  // no palette
  const Encoded full = WritePngBytes(rgb, 20, 20, 60, 0, nullptr, 2, {}, 200);
  EXPECT_EQ(full.code, kErrPngInternal);
  EXPECT_EQ(full.result, 0u);
  EXPECT_EQ(WritePNG(nullptr, rgb.data(), 20, 20, 60, 8, 0, nullptr, 2, 0, 1, {}), 0u);
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
}

// ---- the compression chosen for the image ----

// A smooth field with sensor-like noise: what a photograph looks like to a compressor.
std::vector<uint8_t> NoisyPhoto(int width, int height, int channels) {
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> noise(-7, 7);
  std::vector<uint8_t> pixels(size_t(width) * height * channels);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < channels; ++c) {
        const double field = 128 + 70 * std::sin(x / (23.0 + c)) * std::cos(y / 31.0);
        pixels[(size_t(y) * width + x) * channels + c] =
            static_cast<uint8_t>(std::clamp(static_cast<int>(field) + noise(rng), 0, 255));
      }
    }
  }
  return pixels;
}

void AppendToVector(png_structp png, png_bytep data, size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

// The same image through libpng with all its defaults.
std::vector<uint8_t> DefaultPng(const std::vector<uint8_t>& pixels, int width, int height,
                                int colorType, int interlace) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, AppendToVector, nullptr);
  png_set_IHDR(png, info, width, height, 8, colorType, interlace, 0, 0);
  png_write_info(png, info);
  const size_t stride = pixels.size() / height;
  std::vector<png_bytep> rows(height);
  for (int y = 0; y < height; ++y) rows[y] = const_cast<png_bytep>(&pixels[y * stride]);
  png_set_interlace_handling(png);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

std::vector<uint8_t> ImageData(const std::vector<uint8_t>& png) {
  std::vector<uint8_t> data;
  for (size_t at = 8; at + 12 <= png.size();) {
    const size_t length =
        size_t{png[at]} << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3];
    if (std::string(png.begin() + at + 4, png.begin() + at + 8) == "IDAT") {
      data.insert(data.end(), png.begin() + at + 8, png.begin() + at + 8 + length);
    }
    at += 12 + length;
  }
  return data;
}

std::vector<uint8_t> Inflated(const std::vector<uint8_t>& deflated, size_t size) {
  std::vector<uint8_t> out(size);
  uLongf length = size;
  EXPECT_EQ(uncompress(out.data(), &length, deflated.data(), deflated.size()), Z_OK);
  out.resize(length);
  return out;
}

class PngCompression : public testing::TestWithParam<int> {};  // colour type

TEST_P(PngCompression, PhotographsGetTheAverageFilterAtTheDefaultSize) {
  const int colorType = GetParam();
  const int channels = colorType == PNG_COLOR_TYPE_RGB ? 3 : 1;
  // Large enough to be tried: at least 512 KiB of samples.
  const int kW = channels == 3 ? 700 : 1400, kH = 400;
  const std::vector<uint8_t> photo = NoisyPhoto(kW, kH, channels);
  for (int interlace : {0, 1}) {
    const Encoded ours = EncodeBytes(
        [&](HISDEST destination) {
          return WritePNG(destination, photo.data(), kW, kH, kW * channels, 8, 0, nullptr,
                          colorType, 0.0, interlace, {});
        },
        photo.size() * 2);
    ASSERT_EQ(ours.code, kOk);
    std::vector<uint8_t> rgb;
    for (uint8_t sample : photo) rgb.insert(rgb.end(), 4 - channels, sample);
    EXPECT_EQ(ReadPngBytes(ours.bytes).rgb, channels == 3 ? photo : rgb);
    const size_t defaultSize = DefaultPng(photo, kW, kH, colorType, interlace).size();
    EXPECT_LE(ours.bytes.size(), defaultSize * 1.02) << "interlace " << interlace;
    if (interlace == 0) {
      const size_t rowBytes = 1 + static_cast<size_t>(kW * channels);
      const std::vector<uint8_t> rows = Inflated(ImageData(ours.bytes), rowBytes * kH);
      ASSERT_EQ(rows.size(), rowBytes * kH);
      for (int y = 0; y < kH; ++y) ASSERT_EQ(rows[y * rowBytes], PNG_FILTER_VALUE_AVG) << y;
    }
  }
}

// The first `channels` samples of every pixel of the test picture: gradients and checks.
std::vector<uint8_t> Drawing(int width, int height, int channels) {
  const std::vector<uint8_t> rgb = TestPicture(width, height);
  std::vector<uint8_t> drawing;
  for (size_t i = 0; i < rgb.size(); i += 3) {
    drawing.insert(drawing.end(), rgb.begin() + i, rgb.begin() + i + channels);
  }
  return drawing;
}

TEST_P(PngCompression, DrawingsAndSmallImagesKeepLibpngDefaults) {
  const int colorType = GetParam();
  const int channels = colorType == PNG_COLOR_TYPE_RGB ? 3 : 1;
  struct Case {
    std::vector<uint8_t> pixels;
    int width;
    int height;
  };
  const Case cases[] = {{Drawing(700, 400, channels), 700, 400},
                        {Drawing(200, 150, channels), 200, 150},
                        {NoisyPhoto(200, 150, channels), 200, 150}};
  for (const Case& image : cases) {
    const Encoded ours = EncodeBytes(
        [&](HISDEST destination) {
          return WritePNG(destination, image.pixels.data(), image.width, image.height,
                          image.width * channels, 8, 0, nullptr, colorType, 0.0, 1, {});
        },
        image.pixels.size() * 2);
    ASSERT_EQ(ours.code, kOk);
    EXPECT_EQ(ImageData(ours.bytes),
              ImageData(DefaultPng(image.pixels, image.width, image.height, colorType, 1)))
        << image.width << "x" << image.height;
  }
}

INSTANTIATE_TEST_SUITE_P(RgbAndGray, PngCompression,
                         testing::Values(PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_GRAY));

// Adam7 passes put in place by the reader give what the same pixels give without
// interlacing: sizes where passes are empty or one pixel wide, every channel count.
TEST(ReadPng, InterlacedFilesDecodeAsTheirPlainTwins) {
  const std::vector<std::pair<int, int>> sizes = {{1, 1}, {1, 9}, {9, 1}, {2, 3},   {5, 5},
                                                  {7, 8}, {8, 7}, {9, 9}, {33, 17}, {64, 2}};
  struct ColorType {
    int type, channels;
  };
  for (const ColorType color :
       {ColorType{0, 1}, ColorType{2, 3}, ColorType{4, 2}, ColorType{6, 4}}) {
    for (const auto& [width, height] : sizes) {
      SCOPED_TRACE(testing::Message() << "type " << color.type << ", " << width << "x" << height);
      const std::vector<uint8_t> pixels =
          RandomBytes(size_t(width) * height * color.channels, 256, uint32_t(width * 97 + height));
      const Decoded plain = ReadPngBytes(DefaultPng(pixels, width, height, color.type, 0));
      const Decoded adam7 = ReadPngBytes(DefaultPng(pixels, width, height, color.type, 1));
      ASSERT_EQ(plain.code, kOk);
      ASSERT_EQ(adam7.code, kOk);
      EXPECT_EQ(adam7.width, width);
      EXPECT_EQ(adam7.height, height);
      EXPECT_TRUE(adam7.rgb == plain.rgb);
    }
  }
}

}  // namespace
}  // namespace vellum

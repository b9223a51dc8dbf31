#include "vellum/codecs/bmp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "platform/kernel/global_memory.h"
#include "tests/codecs/codec_test_support.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"
#include "vellum/codecs/identify.h"

namespace vellum {
namespace {

using codec_tests::RawImage;
using codec_tests::ShellQuote;
using codec_tests::TempDir;
using codec_tests::TestPicture;

// ---- helpers ----

struct Decoded {
  int32_t code = 0;
  bool hasImage = false;
  RawImage image;
};

Decoded ReadFrom(HISSRC source) {
  Decoded result;
  int32_t width = 0;
  int32_t height = 0;
  HGLOBAL block = ReadBMP(source, &width, &height, 24);
  result.code = CoreLastError();
  if (block != nullptr) {
    result.hasImage = true;
    const auto* data = static_cast<const uint8_t*>(block);
    result.image = {width, height, std::vector<uint8_t>(data, data + size_t(width) * height * 3)};
    EXPECT_EQ(GlobalSize(block), result.image.rgb.size());
    GlobalFree(block);
  }
  return result;
}

Decoded Decode(const std::vector<uint8_t>& bytes) {
  HISSRC source = OpenMemorySource(bytes.data(), static_cast<uint32_t>(bytes.size()));
  Decoded result = ReadFrom(source);
  CloseSource(source);
  return result;
}

// The way loading reads a file: identify, rewind, read.
Decoded DecodeFile(const std::string& path) {
  HISSRC source = OpenFileSource(path.c_str());
  EXPECT_NE(source, nullptr);
  EXPECT_EQ(IdentifyFormat(source), kFormatBmp);
  EXPECT_TRUE(Rewind(source));
  Decoded result = ReadFrom(source);
  CloseSource(source);
  return result;
}

void PutLe(std::vector<uint8_t>& bytes, size_t at, uint32_t value, int size) {
  for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetLe(const std::vector<uint8_t>& bytes, size_t at, int size) {
  uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes[at + i];
  return value;
}

// A bitmap file assembled field by field, for variants no tool at hand writes.
struct BmpLayout {
  uint32_t infoSize = 40;
  int32_t width = 1;
  int32_t height = 1;
  uint16_t bits = 24;
  uint32_t compression = 0;
  uint32_t colorsUsed = 0;
  std::vector<uint32_t> masks{};  // after a 40-byte header, inside a larger one
  std::vector<RGBQUAD> palette{};
  std::vector<uint8_t> pixels{};          // the stored pixel data
  std::optional<uint32_t> pixelOffset{};  // default: right after the colour table
};

std::vector<uint8_t> BuildBmp(const BmpLayout& layout) {
  const size_t maskBytes = layout.infoSize == 40 ? layout.masks.size() * 4 : 0;
  const size_t tableEnd = 14 + layout.infoSize + maskBytes + layout.palette.size() * 4;
  const size_t pixelOffset = layout.pixelOffset.value_or(tableEnd);
  std::vector<uint8_t> bytes(std::max(tableEnd, pixelOffset) + layout.pixels.size(), 0);
  bytes[0] = 'B';
  bytes[1] = 'M';
  PutLe(bytes, 2, static_cast<uint32_t>(bytes.size()), 4);
  PutLe(bytes, 10, static_cast<uint32_t>(pixelOffset), 4);
  PutLe(bytes, 14, layout.infoSize, 4);
  PutLe(bytes, 18, static_cast<uint32_t>(layout.width), 4);
  PutLe(bytes, 22, static_cast<uint32_t>(layout.height), 4);
  PutLe(bytes, 26, 1, 2);
  PutLe(bytes, 28, layout.bits, 2);
  PutLe(bytes, 30, layout.compression, 4);
  PutLe(bytes, 46, layout.colorsUsed, 4);
  for (size_t i = 0; i < layout.masks.size(); ++i) PutLe(bytes, 54 + 4 * i, layout.masks[i], 4);
  size_t at = 14 + layout.infoSize + maskBytes;
  for (const RGBQUAD& entry : layout.palette) {
    bytes[at++] = entry.rgbBlue;
    bytes[at++] = entry.rgbGreen;
    bytes[at++] = entry.rgbRed;
    bytes[at++] = entry.rgbReserved;
  }
  std::copy(layout.pixels.begin(), layout.pixels.end(), bytes.begin() + pixelOffset);
  return bytes;
}

std::vector<uint8_t> Cut(std::vector<uint8_t> bytes, size_t size) {
  bytes.resize(size);
  return bytes;
}

RGBQUAD Color(uint8_t red, uint8_t green, uint8_t blue) { return RGBQUAD{blue, green, red, 0}; }

std::vector<uint8_t> Pixels(std::initializer_list<RGBQUAD> colors) {
  std::vector<uint8_t> rgb;
  for (const RGBQUAD& c : colors) rgb.insert(rgb.end(), {c.rgbRed, c.rgbGreen, c.rgbBlue});
  return rgb;
}

std::vector<uint8_t> Written(const uint8_t* pixels, int32_t width, int32_t height, int32_t bits,
                             int32_t count, const RGBQUAD* palette) {
  std::vector<uint8_t> block(1 << 16);
  HISDEST destination = OpenMemoryDestination(block.data(), static_cast<uint32_t>(block.size()));
  const uint32_t size = WriteBMP(destination, pixels, width, height, bits, count, palette);
  EXPECT_EQ(CoreLastError(), kOk);
  EXPECT_EQ(CloseDestination(destination), size);
  block.resize(size);
  return block;
}

void ExpectSameImage(const RawImage& ours, const std::optional<RawImage>& theirs,
                     const std::string& what) {
  ASSERT_TRUE(theirs.has_value()) << what;
  EXPECT_EQ(ours.width, theirs->width) << what;
  EXPECT_EQ(ours.height, theirs->height) << what;
  EXPECT_TRUE(ours.rgb == theirs->rgb) << what;
}

// Both tools decode `bytes` to the pixels we decoded.
void ExpectToolsAgree(const RawImage& ours, const std::vector<uint8_t>& bytes) {
  TempDir dir;
  const std::string path = dir.File("file.bmp");
  testing_support::WriteFileBytes(path, bytes);
  ExpectSameImage(ours, testing_support::DecodeWithImageMagick(path), "magick");
  ExpectSameImage(ours, testing_support::DecodeWithPillow(path), "pillow");
}

// ---- files made by independent tools ----

struct ToolFile {
  std::string name;
  std::string maker;  // shell command; {} stands for the output path
  uint32_t infoSize;
  uint16_t bits;
  uint32_t compression;
};

std::string Expand(std::string command, const std::string& path) {
  command.replace(command.find("{}"), 2, ShellQuote(path));
  return command;
}

const char* kRose = "/usr/bin/convert rose: -crop 37x23+0+0 +repage ";
const char* kPillow =
    "/usr/bin/python3 -c \"import sys; from PIL import Image; "
    "im = Image.open(sys.argv[1]).convert('RGB'); ";

std::vector<ToolFile> ToolFiles(const std::string& png) {
  const std::string rose = kRose;
  const std::string pillow = kPillow;
  const std::string from = "\" " + ShellQuote(png) + " {}";
  return {
      {"magick 24-bit", rose + "BMP3:{}", 40, 24, 0},
      {"magick 24-bit, 124-byte header", rose + "bmp:{}", 124, 24, 0},
      {"magick 8-bit", rose + "-colors 200 -type palette -compress None BMP3:{}", 40, 8, 0},
      {"magick 8-bit, 124-byte header", rose + "-colors 200 -type palette -compress None bmp:{}",
       124, 8, 0},
      {"magick RLE8", rose + "-colors 200 -type palette -compress RLE BMP3:{}", 40, 8, 1},
      {"magick RLE8, 124-byte header", rose + "-colors 200 -type palette -compress RLE bmp:{}", 124,
       8, 1},
      {"magick 4-bit", rose + "-colors 16 -type palette BMP3:{}", 40, 4, 0},
      {"magick 4-bit, 124-byte header", rose + "-colors 16 -type palette bmp:{}", 124, 4, 0},
      {"magick 1-bit", rose + "-monochrome BMP3:{}", 40, 1, 0},
      {"magick 32-bit bit fields", rose + "-alpha set bmp:{}", 124, 32, 3},
      {"pillow 1-bit", pillow + "im.convert('1').save(sys.argv[2], 'BMP')" + from, 40, 1, 0},
      {"pillow gray", pillow + "im.convert('L').save(sys.argv[2], 'BMP')" + from, 40, 8, 0},
      {"pillow palette", pillow + "im.quantize(100).save(sys.argv[2], 'BMP')" + from, 40, 8, 0},
      {"pillow 24-bit", pillow + "im.save(sys.argv[2], 'BMP')" + from, 40, 24, 0},
      {"pillow 32-bit", pillow + "im.convert('RGBA').save(sys.argv[2], 'BMP')" + from, 40, 32, 0},
  };
}

// Makes the file, checks that the tool wrote the variant meant, decodes it.
Decoded MakeAndDecode(const ToolFile& file, const std::string& path) {
  EXPECT_TRUE(testing_support::RunCommand(Expand(file.maker, path))) << file.name;
  const std::vector<uint8_t> bytes = testing_support::ReadFileBytes(path);
  EXPECT_EQ(GetLe(bytes, 14, 4), file.infoSize) << file.name;
  EXPECT_EQ(GetLe(bytes, 28, 2), file.bits) << file.name;
  EXPECT_EQ(GetLe(bytes, 30, 4), file.compression) << file.name;
  return DecodeFile(path);
}

TEST(ReadBMP, ToolMadeFilesDecodeAsTheToolsDecodeThem) {
  TempDir dir;
  const std::string png = dir.File("rose.png");
  ASSERT_TRUE(testing_support::RunCommand(std::string(kRose) + ShellQuote(png)));
  for (const ToolFile& file : ToolFiles(png)) {
    const std::string path = dir.File("file.bmp");
    const Decoded ours = MakeAndDecode(file, path);
    ASSERT_TRUE(ours.hasImage) << file.name;
    EXPECT_EQ(ours.code, kOk) << file.name;
    EXPECT_EQ(ours.image.width, 37) << file.name;
    ExpectSameImage(ours.image, testing_support::DecodeWithImageMagick(path),
                    file.name + " (magick)");
    ExpectSameImage(ours.image, testing_support::DecodeWithPillow(path), file.name + " (pillow)");
  }
}

// 16-bit channels are widened with a fill of our own (14 for 5 bits, 6 for 6
// bits, 30 for 4 bits, which also sets the channel's lowest bit); the channel
// value itself comes from the tool's decoding.
uint8_t WidenedChannel(uint8_t toolValue, int bits) {
  const int shift = 8 - bits;
  const uint8_t fill = bits == 6 ? 6 : (bits == 5 ? 14 : 30);
  return static_cast<uint8_t>((toolValue >> shift << shift) | fill);
}

TEST(ReadBMP, ToolMadeSixteenBitFilesKeepEveryChannel) {
  struct Case {
    const char* subtype;
    int redBits, greenBits, blueBits;
  };
  TempDir dir;
  const std::string path = dir.File("file.bmp");
  for (const Case& c :
       {Case{"RGB555", 5, 5, 5}, Case{"RGB565", 5, 6, 5}, Case{"ARGB4444 -alpha set", 4, 4, 4}}) {
    const std::string maker = std::string(kRose) + "-define bmp:subtype=" + c.subtype + " bmp:{}";
    const Decoded ours = MakeAndDecode({c.subtype, maker, 124, 16, 3}, path);
    ASSERT_TRUE(ours.hasImage) << c.subtype;
    EXPECT_EQ(ours.code, kOk) << c.subtype;  // no colour table is read: the file is short
    auto expected = testing_support::DecodeWithImageMagick(path);
    ASSERT_TRUE(expected.has_value());
    const int bits[3] = {c.redBits, c.greenBits, c.blueBits};
    for (size_t i = 0; i < expected->rgb.size(); ++i) {
      expected->rgb[i] = WidenedChannel(expected->rgb[i], bits[i % 3]);
    }
    ExpectSameImage(ours.image, expected, c.subtype);
  }
}

// ---- hand-made variants ----

TEST(ReadBMP, SixteenBitWithoutMasksIsFiveFiveFive) {
  // Width 3: 6 bytes of pixels plus 2 of padding; colours-used 0 and no table.
  BmpLayout layout{.width = 3, .height = 1, .bits = 16};
  layout.pixels = {0xFF, 0x7F, 0x00, 0x00, 0x1F, 0x7C, 0, 0};
  const Decoded decoded = Decode(BuildBmp(layout));
  EXPECT_EQ(decoded.code, kOk);
  EXPECT_EQ(decoded.image.rgb, (std::vector<uint8_t>{255, 255, 255, 7, 7, 7, 255, 7, 255}));
}

TEST(ReadBMP, TopDownAndBottomUpFilesDecodeAlike) {
  // 3 x 2 pixels at 24 bits: rows of 9 bytes padded to 12.
  const std::vector<uint8_t> topRow = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0};
  const std::vector<uint8_t> bottomRow = {10, 11, 12, 13, 14, 15, 16, 17, 18, 0, 0, 0};
  BmpLayout bottomUp{.width = 3, .height = 2};
  bottomUp.pixels = bottomRow;
  bottomUp.pixels.insert(bottomUp.pixels.end(), topRow.begin(), topRow.end());
  BmpLayout topDown{.width = 3, .height = -2};
  topDown.pixels = topRow;
  topDown.pixels.insert(topDown.pixels.end(), bottomRow.begin(), bottomRow.end());

  const Decoded up = Decode(BuildBmp(bottomUp));
  const Decoded down = Decode(BuildBmp(topDown));
  EXPECT_EQ(down.code, kOk);
  EXPECT_EQ(down.image.height, 2);
  EXPECT_EQ(up.image.rgb, down.image.rgb);
  EXPECT_EQ(down.image.rgb,
            (std::vector<uint8_t>{3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10, 15, 14, 13, 18, 17, 16}));
}

TEST(ReadBMP, BitFieldsAtThirtyTwoBitsStartAtThePixelOffset) {
  BmpLayout layout{.width = 2, .height = 1, .bits = 32, .compression = 3};
  layout.masks = {0x00FF0000, 0x0000FF00, 0x000000FF};
  layout.pixels = {0x30, 0x20, 0x10, 0xFF, 0x60, 0x50, 0x40, 0xFF};
  const std::vector<uint8_t> bytes = BuildBmp(layout);
  ASSERT_EQ(GetLe(bytes, 10, 4), 66u);
  const Decoded decoded = Decode(bytes);
  EXPECT_EQ(decoded.code, kOk);
  EXPECT_EQ(decoded.image.rgb, (std::vector<uint8_t>{0x10, 0x20, 0x30, 0x40, 0x50, 0x60}));
  ExpectToolsAgree(decoded.image, bytes);
}

TEST(ReadBMP, ColourTableFollowsAnInformationHeaderOf108Bytes) {
  BmpLayout layout{.infoSize = 108, .width = 3, .height = 1, .bits = 8, .colorsUsed = 3};
  layout.palette = {Color(255, 0, 0), Color(0, 255, 0), Color(0, 0, 255)};
  layout.pixels = {2, 0, 1, 0};
  const std::vector<uint8_t> bytes = BuildBmp(layout);
  const Decoded decoded = Decode(bytes);
  EXPECT_EQ(decoded.code, kOk);
  EXPECT_EQ(decoded.image.rgb, Pixels({Color(0, 0, 255), Color(255, 0, 0), Color(0, 255, 0)}));
  ExpectToolsAgree(decoded.image, bytes);
}

const RGBQUAD kFourColors[4] = {Color(9, 9, 9), Color(255, 0, 0), Color(0, 255, 0),
                                Color(0, 0, 255)};

TEST(ReadBMP, RunLengthFourBitAsTheToolsDecodeIt) {
  BmpLayout layout{.width = 5, .height = 3, .bits = 4, .compression = 2, .colorsUsed = 4};
  layout.palette.assign(kFourColors, kFourColors + 4);
  layout.pixels = {5,    0x12,  // run of 5 alternating nibbles 1 and 2
                   0,    0,     // end of line
                   0,    4,     // literal of 4 ...
                   0x12, 0x33,  // ... 1 2 3 3
                   1,    0x20,  // run of one 2
                   0,    0,     // end of line
                   2,    0x00,  // run of 0 0
                   3,    0x31,  // run of 3 1 3
                   0,    1};    // end of bitmap
  const std::vector<uint8_t> bytes = BuildBmp(layout);
  const Decoded decoded = Decode(bytes);
  EXPECT_EQ(decoded.code, kOk);
  const auto [z, r, g, b] = kFourColors;
  EXPECT_EQ(decoded.image.rgb, Pixels({z, z, b, r, b,  //
                                       r, g, b, b, g,  //
                                       r, g, r, g, r}));
  ExpectToolsAgree(decoded.image, bytes);
}

// Deltas, runs past the right edge and padded odd literals, where the tools
// disagree among themselves: pixels beyond the row are dropped.
TEST(ReadBMP, RunLengthFourBitDeltaClippingAndPadding) {
  BmpLayout layout{.width = 5, .height = 4, .bits = 4, .compression = 2, .colorsUsed = 4};
  layout.palette.assign(kFourColors, kFourColors + 4);
  layout.pixels = {0, 5,    0x12, 0x31, 0x20, 0xEE,  // literal of 5: three bytes and a pad byte
                   0, 0,                             // end of line
                   3, 0x12,                          // run of 3
                   0, 2,    1,    1,                 // delta: column 3 -> 4, one row up
                   9, 0x33,                          // run of 9: only one pixel fits
                   0, 0,                             // end of line
                   2, 0x11,                          // run of 2
                   0, 1};                            // end of bitmap
  const Decoded decoded = Decode(BuildBmp(layout));
  EXPECT_EQ(decoded.code, kOk);
  const auto [z, r, g, b] = kFourColors;
  EXPECT_EQ(decoded.image.rgb, Pixels({r, r, z, z, z,  //
                                       z, z, z, z, b,  //
                                       r, g, r, z, z,  //
                                       r, g, b, r, g}));
}

TEST(ReadBMP, RunLengthEightBitDeltaLiteralAndRowsAboveTheTop) {
  // A delta and the end marker alone leave every pixel in entry 0's colour.
  BmpLayout layout{.width = 4, .height = 3, .bits = 8, .compression = 1, .colorsUsed = 3};
  layout.palette = {Color(12, 34, 56), Color(10, 20, 30), Color(40, 50, 60)};
  layout.pixels = {0, 2, 3, 1, 0, 1};
  Decoded decoded = Decode(BuildBmp(layout));
  EXPECT_EQ(decoded.code, kOk);
  std::vector<uint8_t> expected;
  for (int i = 0; i < 12; ++i) expected.insert(expected.end(), {12, 34, 56});
  EXPECT_EQ(decoded.image.rgb, expected);

  // A literal of 3 is padded with one byte; the line past the top of a one-row
  // image is dropped, and decoding goes on to the end marker.
  layout.height = 1;
  layout.pixels = {0, 3, 1, 2, 1, 0xEE, 0, 0, 4, 2, 0, 1};
  decoded = Decode(BuildBmp(layout));
  EXPECT_EQ(decoded.code, kOk);
  EXPECT_EQ(decoded.image.rgb,
            Pixels({layout.palette[1], layout.palette[2], layout.palette[1], layout.palette[0]}));
}

TEST(ReadBMP, TruncatedPixelDataLeavesTheUnreadRowsBlack) {
  // Bottom-up 24-bit, 2 x 3, every pixel white; the file ends inside the second
  // stored row, so only the bottom row arrives.
  BmpLayout layout{.width = 2, .height = 3};
  layout.pixels.assign(3 * 8, 0xFF);
  std::vector<uint8_t> bytes = BuildBmp(layout);
  bytes.resize(bytes.size() - 8 - 3);
  const Decoded decoded = Decode(bytes);
  ASSERT_TRUE(decoded.hasImage);
  EXPECT_EQ(decoded.code, kErrReadFile);
  std::vector<uint8_t> expected(18, 0);
  std::fill(expected.begin() + 12, expected.end(), 0xFF);
  EXPECT_EQ(decoded.image.rgb, expected);

  // A run-length stream without its end marker keeps what it decoded.
  BmpLayout rle{.width = 2, .height = 2, .bits = 8, .compression = 1, .colorsUsed = 2};
  rle.palette = {Color(1, 1, 1), Color(200, 200, 200)};
  rle.pixels = {2, 1, 0, 0};
  const Decoded partial = Decode(BuildBmp(rle));
  ASSERT_TRUE(partial.hasImage);
  EXPECT_EQ(partial.code, kErrReadFile);
  EXPECT_EQ(partial.image.rgb,
            Pixels({rle.palette[0], rle.palette[0], rle.palette[1], rle.palette[1]}));
}

TEST(ReadBMP, MalformedFilesFailWithTheirCode) {
  const BmpLayout good{.width = 1, .height = 1, .pixels = {1, 2, 3, 0}};
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    int32_t code;
  };
  auto with = [&](auto change) {
    BmpLayout layout = good;
    change(layout);
    return BuildBmp(layout);
  };
  std::vector<uint8_t> notBm = BuildBmp(good);
  notBm[1] = 'A';
  std::vector<uint8_t> farOffset = BuildBmp(good);
  PutLe(farOffset, 10, 5000, 4);
  const std::vector<uint8_t> full = BuildBmp(good);
  const Case cases[] = {
      {"not BM", notBm, kErrBadBmp},
      {"width 0", with([](BmpLayout& s) { s.width = 0; }), kErrBadBmp},
      {"negative width", with([](BmpLayout& s) { s.width = -3; }), kErrBadBmp},
      {"height 0", with([](BmpLayout& s) { s.height = 0; }), kErrBadBmp},
      {"2 bits", with([](BmpLayout& s) { s.bits = 2; }), kErrBadBmp},
      {"RLE8 at 4 bits", with([](BmpLayout& s) {
         s.bits = 4;
         s.compression = 1;
       }),
       kErrBadBmp},
      {"RLE4 at 8 bits", with([](BmpLayout& s) {
         s.bits = 8;
         s.compression = 2;
       }),
       kErrBadBmp},
      {"compression 4", with([](BmpLayout& s) { s.compression = 4; }), kErrBadBmp},
      {"top-down RLE8", with([](BmpLayout& s) {
         s.bits = 8;
         s.compression = 1;
         s.height = -1;
         s.colorsUsed = 1;
       }),
       kErrBadBmp},
      {"pixel offset beyond the data", farOffset, kErrBadBmp},
      {"RLE pixel offset inside the table", with([](BmpLayout& s) {
         s.bits = 8;
         s.compression = 1;
         s.colorsUsed = 2;
         s.pixelOffset = 54;
         s.palette = {Color(1, 1, 1), Color(2, 2, 2)};
       }),
       kErrBadBmp},
      {"file header cut", Cut(full, 13), kErrReadFile},
      {"information header cut", Cut(full, 53), kErrReadFile},
      {"masks cut",
       Cut(with([](BmpLayout& s) {
             s.bits = 16;
             s.compression = 3;
             s.masks = {0x7C00, 0x3E0, 0x1F};
           }),
           60),
       kErrReadFile},
      {"colour table cut", with([](BmpLayout& s) {
         s.bits = 8;
         s.colorsUsed = 200;
         s.pixelOffset = 54;
         s.pixels.clear();
       }),
       kErrReadFile},
  };
  for (const Case& c : cases) {
    const Decoded decoded = Decode(c.bytes);
    EXPECT_FALSE(decoded.hasImage) << c.what;
    EXPECT_EQ(decoded.code, c.code) << c.what;
  }
}

// Huge dimensions whose data cannot fill one row fail with code 3 before any buffer is
// allocated; data that fills a row of a picture too large for any buffer, with code 1.
TEST(ReadBMP, HugeDimensionsAreRefusedBeforeAnyPixelIsRead) {
  BmpLayout layout{.width = 0x7FFFFFFF, .height = -0x7FFFFFFF - 1, .pixels = {0, 0, 0, 0}};
  Decoded decoded = Decode(BuildBmp(layout));
  EXPECT_FALSE(decoded.hasImage);
  EXPECT_EQ(decoded.code, kErrReadFile);
  layout = {.width = 16, .height = 0x7FFFFFFF, .pixels = std::vector<uint8_t>(48)};
  decoded = Decode(BuildBmp(layout));
  EXPECT_FALSE(decoded.hasImage);
  EXPECT_EQ(decoded.code, kErrNoMemory);
}

TEST(ReadBMP, ChecksItsArguments) {
  const std::vector<uint8_t> bytes = BuildBmp({.pixels = {1, 2, 3, 0}});
  HISSRC source = OpenMemorySource(bytes.data(), static_cast<uint32_t>(bytes.size()));
  int32_t width = 0;
  int32_t height = 0;
  EXPECT_EQ(ReadBMP(source, &width, &height, 8), nullptr);
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  EXPECT_EQ(ReadBMP(source, nullptr, &height, 24), nullptr);
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  EXPECT_EQ(ReadBMP(nullptr, &width, &height, 24), nullptr);
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  auto* unmarked = static_cast<DataHandle*>(GlobalAlloc(GPTR, sizeof(DataHandle)));
  EXPECT_EQ(ReadBMP(unmarked, &width, &height, 24), nullptr);
  EXPECT_EQ(CoreLastError(), kErrInvalidHandle);
  GlobalFree(unmarked);
  CloseSource(source);
}

// ---- writing ----

TEST(WriteBMP, HeaderFieldsAndRowPadding) {
  // 24 bits, width 1: rows of 3 pixel bytes and one zero byte.
  const std::vector<uint8_t> column = Pixels({Color(1, 2, 3), Color(4, 5, 6), Color(7, 8, 9)});
  const std::vector<uint8_t> file = Written(column.data(), 1, 3, 24, 99, nullptr);
  ASSERT_EQ(file.size(), 54u + 4 * 3);
  EXPECT_EQ(GetLe(file, 2, 4), file.size());
  EXPECT_EQ(GetLe(file, 10, 4), 54u);
  EXPECT_EQ(GetLe(file, 14, 4), 40u);
  EXPECT_EQ(GetLe(file, 22, 4), 3u);  // positive height: bottom-up
  EXPECT_EQ(GetLe(file, 26, 2), 1u);
  EXPECT_EQ(GetLe(file, 28, 2), 24u);
  EXPECT_EQ(GetLe(file, 34, 4), 12u);  // image size
  EXPECT_EQ(GetLe(file, 46, 4), 0u);   // no palette at 24 bits
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 54, file.end()),
            (std::vector<uint8_t>{9, 8, 7, 0, 6, 5, 4, 0, 3, 2, 1, 0}));

  // 4 bits with 16 entries: the pixels start at 54 + 64.
  std::vector<RGBQUAD> palette(16, Color(1, 2, 3));
  const std::vector<uint8_t> packed = {0x12, 0x30};  // width 3, one row
  const std::vector<uint8_t> four = Written(packed.data(), 3, 1, 4, 16, palette.data());
  EXPECT_EQ(GetLe(four, 10, 4), 118u);
  EXPECT_EQ(GetLe(four, 46, 4), 16u);
  EXPECT_EQ(GetLe(four, 50, 4), 16u);
  EXPECT_EQ(std::vector<uint8_t>(four.begin() + 54, four.begin() + 58),
            (std::vector<uint8_t>{3, 2, 1, 0}));
  EXPECT_EQ(std::vector<uint8_t>(four.begin() + 118, four.end()),
            (std::vector<uint8_t>{0x12, 0x30, 0, 0}));
}

// Our files at every depth read back through us and through both tools as the
// pixels we meant.
TEST(WriteBMP, FilesWeWriteDecodeIdenticallyEverywhere) {
  const int width = 13;
  const int height = 5;
  std::vector<RGBQUAD> palette(256);
  for (int i = 0; i < 256; ++i) {
    palette[i] =
        Color(static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 7));
  }
  std::vector<uint8_t> indices(width * height);
  for (size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<uint8_t>(i * 37 + 11);

  TempDir dir;
  for (int bits : {1, 4, 8, 24}) {
    const int colors = bits == 24 ? 0 : 1 << bits;
    std::vector<uint8_t> expected;
    std::vector<uint8_t> pixels;
    if (bits == 24) {
      pixels = TestPicture(width, height);
      expected = pixels;
    } else {
      const size_t rowBytes = (width * bits + 7) / 8;
      pixels.assign(rowBytes * height, 0);
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          const uint8_t index = indices[y * width + x] % colors;
          const int shift = 8 - bits - (x * bits) % 8;
          pixels[y * rowBytes + x * bits / 8] |= static_cast<uint8_t>(index << shift);
          const std::vector<uint8_t> rgb = Pixels({palette[index]});
          expected.insert(expected.end(), rgb.begin(), rgb.end());
        }
      }
    }
    const std::vector<uint8_t> file =
        Written(pixels.data(), width, height, bits, colors, palette.data());
    const std::string what = std::to_string(bits) + " bits";
    const RawImage meant{width, height, expected};
    const Decoded ours = Decode(file);
    EXPECT_EQ(ours.code, kOk) << what;
    ExpectSameImage(meant, ours.image, what + " (ours)");
    const std::string path = dir.File("ours.bmp");
    testing_support::WriteFileBytes(path, file);
    ExpectSameImage(meant, testing_support::DecodeWithImageMagick(path), what + " (magick)");
    ExpectSameImage(meant, testing_support::DecodeWithPillow(path), what + " (pillow)");
  }
}

TEST(WriteBMP, RefusesBadArgumentsAndReportsFullDestinations) {
  const std::vector<uint8_t> pixels(64, 1);
  const RGBQUAD palette[2] = {Color(0, 0, 0), Color(255, 255, 255)};
  std::vector<uint8_t> block(4096);
  HISDEST destination = OpenMemoryDestination(block.data(), static_cast<uint32_t>(block.size()));
  struct Case {
    const char* what;
    const uint8_t* pixels;
    int32_t width, height, bits, count;
    const RGBQUAD* palette;
  };
  const Case cases[] = {
      {"16 bits", pixels.data(), 2, 2, 16, 0, nullptr},
      {"32 bits", pixels.data(), 2, 2, 32, 0, nullptr},
      {"no palette", pixels.data(), 2, 2, 8, 2, nullptr},
      {"empty palette", pixels.data(), 2, 2, 8, 0, palette},
      {"palette of 257", pixels.data(), 2, 2, 8, 257, palette},
      {"no pixels", nullptr, 2, 2, 24, 0, nullptr},
      {"width 0", pixels.data(), 0, 2, 24, 0, nullptr},
      {"negative height", pixels.data(), 2, -2, 24, 0, nullptr},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WriteBMP(destination, c.pixels, c.width, c.height, c.bits, c.count, c.palette), 0u)
        << c.what;
    EXPECT_EQ(CoreLastError(), kErrInvalidArgument) << c.what;
  }
  EXPECT_EQ(WriteBMP(nullptr, pixels.data(), 2, 2, 24, 0, nullptr), 0u);
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  CloseDestination(destination);

  // 54 header bytes fit in 60; the 2 x 2 rows do not.
  std::vector<uint8_t> small(60);
  destination = OpenMemoryDestination(small.data(), static_cast<uint32_t>(small.size()));
  EXPECT_EQ(WriteBMP(destination, pixels.data(), 2, 2, 24, 0, nullptr), 0u);
  EXPECT_EQ(CoreLastError(), kErrWriteFile);
  CloseDestination(destination);
}

}  // namespace
}  // namespace vellum

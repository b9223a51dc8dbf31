#include "vellum/codecs/tiff.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/kernel/global_memory.h"
#include "tests/codecs/codec_test_support.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"
#include "vellum/core/conversions.h"

namespace vellum {
namespace {

using namespace codec_tests;

constexpr int kWidth = 61;
constexpr int kHeight = 37;

Decoded ReadTiffBytes(const std::vector<uint8_t>& bytes, int32_t page = 0) {
  return DecodeBytes(bytes, [page](HISSRC source, int32_t* width, int32_t* height) {
    return ReadTIFF(source, width, height, 24, page);
  });
}

// The test picture as an uncompressed RGB TIFF made by ImageMagick.
std::string PictureTiff(const TempDir& dir, int width = kWidth, int height = kHeight) {
  const std::string ppm = dir.File("picture.ppm");
  const std::string tif = dir.File("picture-" + std::to_string(width) + ".tif");
  WriteFileBytes(ppm, codec_tests::PpmBytes(width, height, TestPicture(width, height)));
  EXPECT_TRUE(
      RunCommand("/usr/bin/convert " + ShellQuote(ppm) + " -compress None " + ShellQuote(tif)));
  return tif;
}

void Tool(const std::string& command) { EXPECT_TRUE(RunCommand(command)) << command; }

TEST(ReadTiff, DecodesEveryVariantAsAnIndependentDecoder) {
  TempDir dir;
  const std::string base = ShellQuote(PictureTiff(dir));
  const std::string out = ShellQuote(dir.File("variant.tif"));
  struct Variant {
    std::string name;
    std::string command;
    int tolerance;
  };
  const std::string convert = "/usr/bin/convert " + base;
  const std::vector<Variant> variants = {
      {"uncompressed", "tiffcp -c none " + base + " " + out, 0},
      {"PackBits", "tiffcp -c packbits " + base + " " + out, 0},
      {"Deflate", "tiffcp -c zip " + base + " " + out, 0},
      {"JPEG", "tiffcp -c jpeg:90 " + base + " " + out, 2},
      {"tiled", "tiffcp -t -w 16 -l 16 " + base + " " + out, 0},
      {"big-endian", "tiffcp -B " + base + " " + out, 0},
      {"planar", "tiffcp -p separate " + base + " " + out, 0},
      {"gray", convert + " -colorspace Gray -compress None " + out, 0},
      {"gray 4 bits", convert + " -colorspace Gray -depth 4 " + out, 0},
      // ImageMagick rounds its 16-bit colour map to 8 bits; libtiff takes the high byte.
      {"palette", convert + " -colors 50 -type Palette " + out, 1},
      {"CMYK", convert + " -colorspace CMYK -compress None " + out, 2},
      {"CCITT G3", convert + " -monochrome -compress Fax " + out, 0},
      {"CCITT G4", convert + " -monochrome -compress Group4 " + out, 0},
  };
  for (const Variant& variant : variants) {
    SCOPED_TRACE(variant.name);
    Tool(variant.command);
    const auto oracle = DecodeWithImageMagick(dir.File("variant.tif"));
    ASSERT_TRUE(oracle.has_value());
    const Decoded ours = ReadTiffBytes(ReadFileBytes(dir.File("variant.tif")));
    EXPECT_EQ(ours.code, kOk);
    ExpectSameImage(ours, *oracle, variant.tolerance);
  }
}

// Tall pages are read a band of strips or tiles at a time: every layout, whether its
// strips divide the band or not, gives the whole picture in order.
TEST(ReadTiff, TallPagesComeOutWholeWhateverTheirStripsAndTiles) {
  TempDir dir;
  const std::string base = ShellQuote(PictureTiff(dir, 45, 203));
  const std::string out = ShellQuote(dir.File("layout.tif"));
  const std::vector<std::pair<std::string, int>> layouts = {
      {"tiffcp -r 1 " + base + " " + out, 0},
      {"tiffcp -r 50 -c zip " + base + " " + out, 0},
      {"tiffcp -r 203 -c packbits " + base + " " + out, 0},
      {"tiffcp -r 300 " + base + " " + out, 0},
      {"tiffcp -t -w 16 -l 48 " + base + " " + out, 0},
      {"tiffcp -p separate -r 7 " + base + " " + out, 0},
      {"tiffcp -c jpeg:90 -r 16 " + base + " " + out, 2},
  };
  for (const auto& [command, tolerance] : layouts) {
    SCOPED_TRACE(command);
    Tool(command);
    const auto oracle = DecodeWithImageMagick(dir.File("layout.tif"));
    ASSERT_TRUE(oracle.has_value());
    const Decoded ours = ReadTiffBytes(ReadFileBytes(dir.File("layout.tif")));
    EXPECT_EQ(ours.code, kOk);
    ExpectSameImage(ours, *oracle, tolerance);
  }
}

// File sources are read through a mapping of the file, memory sources in place.
TEST(ReadTiff, ReadsFileSourcesLikeMemorySources) {
  TempDir dir;
  const std::string tiled = dir.File("tiled.tif");
  Tool("tiffcp -t -w 16 -l 16 " + ShellQuote(PictureTiff(dir)) + " " + ShellQuote(tiled));
  HISSRC source = OpenFileSource(tiled.c_str());
  ASSERT_NE(source, nullptr);
  int32_t width = 0;
  int32_t height = 0;
  HGLOBAL block = ReadTIFF(source, &width, &height, 24, 0);
  EXPECT_EQ(CoreLastError(), kOk);
  CloseSource(source);
  ASSERT_NE(block, nullptr);
  const auto* data = static_cast<const uint8_t*>(block);
  EXPECT_EQ(std::vector<uint8_t>(data, data + GlobalSize(block)), TestPicture(kWidth, kHeight));
  GlobalFree(block);
}

TEST(ReadTiff, TopRowComesFirstWhateverTheStoredOrientation) {
  TempDir dir;
  const std::string path = PictureTiff(dir);
  const std::vector<uint8_t> picture = TestPicture(kWidth, kHeight);
  EXPECT_EQ(ReadTiffBytes(ReadFileBytes(path)).rgb, picture);
  // Rows stored bottom-up: the picture is upside down in the file.
  Tool("tiffset -s 274 4 " + ShellQuote(path));
  std::vector<uint8_t> flipped;
  for (int y = kHeight - 1; y >= 0; --y) {
    flipped.insert(flipped.end(), picture.begin() + y * kWidth * 3,
                   picture.begin() + (y + 1) * kWidth * 3);
  }
  EXPECT_EQ(ReadTiffBytes(ReadFileBytes(path)).rgb, flipped);
}

TEST(ReadTiff, SelectsPagesByIndex) {
  TempDir dir;
  const std::string first = PictureTiff(dir);
  const std::string second = PictureTiff(dir, 20, 10);
  const std::string third = dir.File("third.tif");
  Tool("/usr/bin/convert " + ShellQuote(first) + " -flop " + ShellQuote(third));
  const std::string multi = dir.File("multi.tif");
  Tool("tiffcp " + ShellQuote(first) + " " + ShellQuote(second) + " " + ShellQuote(third) + " " +
       ShellQuote(multi));
  const std::vector<uint8_t> bytes = ReadFileBytes(multi);

  const Decoded page1 = ReadTiffBytes(bytes, 1);
  EXPECT_EQ(page1.code, kOk);
  EXPECT_EQ(page1.width, 20);
  EXPECT_EQ(page1.rgb, TestPicture(20, 10));
  const auto flopped = DecodeWithImageMagick(third);
  ASSERT_TRUE(flopped.has_value());
  ExpectSameImage(ReadTiffBytes(bytes, 2), *flopped);

  const size_t blocksBefore = GlobalLiveBlockCount();
  EXPECT_EQ(ReadTiffBytes(bytes, 3).code, kErrInvalidArgument);
  EXPECT_EQ(ReadTiffBytes(bytes, -1).code, kErrInvalidArgument);
  EXPECT_EQ(ReadTiffBytes(bytes, 65536).code, kErrInvalidArgument);
  EXPECT_EQ(ReadTiffBytes(ReadFileBytes(first), 1).code, kErrInvalidArgument);
  EXPECT_EQ(GlobalLiveBlockCount(), blocksBefore);
}

TEST(ReadTiff, RefusesLzwButReadsTheSameImageOtherwiseCompressed) {
  TempDir dir;
  const std::string base = ShellQuote(PictureTiff(dir));
  Tool("tiffcp -c lzw " + base + " " + ShellQuote(dir.File("lzw.tif")));
  const Decoded lzw = ReadTiffBytes(ReadFileBytes(dir.File("lzw.tif")));
  EXPECT_EQ(lzw.code, kErrLzwNotPermitted);
  EXPECT_FALSE(lzw.hasImage);
  Tool("tiffcp -c zip " + ShellQuote(dir.File("lzw.tif")) + " " + ShellQuote(dir.File("zip.tif")));
  EXPECT_EQ(ReadTiffBytes(ReadFileBytes(dir.File("zip.tif"))).rgb, TestPicture(kWidth, kHeight));
}

TEST(ReadTiff, BrokenAndMisusedSourcesFail) {
  TempDir dir;
  const std::vector<uint8_t> good = ReadFileBytes(PictureTiff(dir));
  const size_t blocksBefore = GlobalLiveBlockCount();
  std::vector<uint8_t> notTiff(100, 0);
  notTiff[0] = notTiff[1] = 'I';
  EXPECT_EQ(ReadTiffBytes(notTiff).code, kErrBadTiff);
  // Cut inside the pixel data: the strips cannot be read.
  const std::vector<uint8_t> cut(good.begin(), good.begin() + good.size() / 2);
  const Decoded truncated = ReadTiffBytes(cut);
  EXPECT_NE(truncated.code, kOk);
  EXPECT_FALSE(truncated.hasImage);
  EXPECT_EQ(GlobalLiveBlockCount(), blocksBefore);

  const Decoded eightBits =
      DecodeBytes(good, [](HISSRC s, int32_t* w, int32_t* h) { return ReadTIFF(s, w, h, 8, 0); });
  EXPECT_EQ(eightBits.code, kErrInvalidArgument);
  int32_t width = 0;
  EXPECT_EQ(ReadTIFF(nullptr, &width, &width, 24, 0), nullptr);
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
}

TEST(ReadTiff, RefusesSizesPastTheLimitBeforeAllocating) {
  TempDir dir;
  const std::string path = PictureTiff(dir);
  Tool("tiffset -s 256 40000 " + ShellQuote(path));
  Tool("tiffset -s 257 40000 " + ShellQuote(path));
  const size_t blocksBefore = GlobalLiveBlockCount();
  EXPECT_EQ(ReadTiffBytes(ReadFileBytes(path)).code, kErrNoMemory);
  EXPECT_EQ(GlobalLiveBlockCount(), blocksBefore);
}

codec_tests::SizeInfo ReadInfo(const std::vector<uint8_t>& bytes) {
  return codec_tests::ReadSizeInfo(bytes, ReadTIFFInfo);
}

TEST(ReadTiffInfo, DescribesTheFirstDirectory) {
  TempDir dir;
  const std::string first = dir.File("dense.tif");
  Tool("/usr/bin/convert " + ShellQuote(PictureTiff(dir)) +
       " -units PixelsPerCentimeter -density 118.7x40 " + ShellQuote(first));
  const std::string multi = dir.File("multi.tif");
  Tool("tiffcp " + ShellQuote(first) + " " + ShellQuote(PictureTiff(dir, 20, 10)) + " " +
       ShellQuote(multi));
  codec_tests::SizeInfo info = ReadInfo(ReadFileBytes(multi));
  EXPECT_TRUE(info.result);
  EXPECT_EQ(info.code, kOk);
  EXPECT_EQ(info.width, kWidth);
  EXPECT_EQ(info.height, kHeight);
  EXPECT_EQ(info.bits, 24);
  EXPECT_EQ(info.resolution.xDensity, 118);  // truncated
  EXPECT_EQ(info.resolution.yDensity, 40);
  EXPECT_EQ(info.resolution.unit, 3);

  // Without ResolutionUnit the unit is inch; without resolutions they are 0.
  Tool("tiffset -u 296 " + ShellQuote(first));
  EXPECT_EQ(ReadInfo(ReadFileBytes(first)).resolution.unit, 2);
  const std::string bilevel = dir.File("bilevel.tif");
  Tool("/usr/bin/convert " + ShellQuote(first) + " -monochrome -compress Group4 " +
       ShellQuote(bilevel));
  Tool("tiffset -u 282 " + ShellQuote(bilevel));
  info = ReadInfo(ReadFileBytes(bilevel));
  EXPECT_EQ(info.bits, 1);
  EXPECT_EQ(info.resolution.xDensity, 0);

  info = ReadInfo(std::vector<uint8_t>(64, 'M'));
  EXPECT_FALSE(info.result);
  EXPECT_EQ(info.code, kErrBadTiff);
  EXPECT_EQ(info.width, 0);
}

// ---- pages read strip by strip, against libtiff's RGBA reader ----

struct StripCase {
  std::string name;
  uint16_t photometric;
  uint16_t samples;
  uint16_t compression;
  uint16_t predictor;
  uint32_t rowsPerStrip;
  uint16_t colorMapScale;  // 257 for a 16-bit map, 1 for one whose entries fit in 8 bits
};

// A page written by libtiff itself, with sample values that run through all 256.
std::string WriteStripPage(const TempDir& dir, const StripCase& page, uint32_t width,
                           uint32_t height) {
  const std::string path = dir.File(page.name + ".tif");
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  EXPECT_NE(tiff, nullptr);
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, page.samples);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, page.photometric);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, page.compression);
  if (page.predictor != 0) TIFFSetField(tiff, TIFFTAG_PREDICTOR, page.predictor);
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, page.rowsPerStrip);
  if (page.photometric == PHOTOMETRIC_PALETTE) {
    std::vector<uint16_t> red(256), green(256), blue(256);
    for (int i = 0; i < 256; ++i) {
      red[i] = static_cast<uint16_t>(i * page.colorMapScale);
      green[i] = static_cast<uint16_t>((255 - i) * page.colorMapScale);
      blue[i] = static_cast<uint16_t>((i * 7 % 256) * page.colorMapScale);
    }
    TIFFSetField(tiff, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
  }
  std::vector<uint8_t> row(size_t{width} * page.samples);
  for (uint32_t y = 0; y < height; ++y) {
    for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<uint8_t>(i * 31 + y * 17 + i / 5);
    EXPECT_EQ(TIFFWriteScanline(tiff, row.data(), y, 0), 1);
  }
  TIFFClose(tiff);
  return path;
}

// libtiff's RGBA reader on the whole page, top row first, alpha dropped.
std::vector<uint8_t> RgbaReaderPixels(const std::string& path) {
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  uint32_t width = 0, height = 0;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  std::vector<uint32_t> rgba(size_t{width} * height);
  EXPECT_EQ(TIFFReadRGBAImageOriented(tiff, width, height, rgba.data(), ORIENTATION_TOPLEFT, 1), 1);
  TIFFClose(tiff);
  std::vector<uint8_t> rgb;
  for (uint32_t pixel : rgba) {
    rgb.insert(rgb.end(),
               {static_cast<uint8_t>(TIFFGetR(pixel)), static_cast<uint8_t>(TIFFGetG(pixel)),
                static_cast<uint8_t>(TIFFGetB(pixel))});
  }
  return rgb;
}

class StripPages : public testing::TestWithParam<StripCase> {};

TEST_P(StripPages, GiveTheRgbaReadersPixels) {
  TempDir dir;
  for (const auto& [width, height] : {std::pair{1u, 1u}, std::pair{1u, 9u}, std::pair{13u, 1u},
                                      std::pair{37u, 23u}, std::pair{250u, 61u}}) {
    SCOPED_TRACE(testing::Message() << width << "x" << height);
    const std::string path = WriteStripPage(dir, GetParam(), width, height);
    const Decoded ours = ReadTiffBytes(ReadFileBytes(path));
    ASSERT_EQ(ours.code, kOk);
    EXPECT_EQ(ours.rgb, RgbaReaderPixels(path));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, StripPages,
    testing::Values(
        StripCase{"rgb", PHOTOMETRIC_RGB, 3, COMPRESSION_NONE, 0, 7, 0},
        StripCase{"rgb_one_row_strips", PHOTOMETRIC_RGB, 3, COMPRESSION_NONE, 0, 1, 0},
        StripCase{"rgb_packbits", PHOTOMETRIC_RGB, 3, COMPRESSION_PACKBITS, 0, 16, 0},
        StripCase{"rgb_deflate_predictor", PHOTOMETRIC_RGB, 3, COMPRESSION_ADOBE_DEFLATE, 2, 5, 0},
        StripCase{"gray", PHOTOMETRIC_MINISBLACK, 1, COMPRESSION_NONE, 0, 3, 0},
        StripCase{"inverted_gray", PHOTOMETRIC_MINISWHITE, 1, COMPRESSION_PACKBITS, 0, 64, 0},
        StripCase{"palette_16_bit_map", PHOTOMETRIC_PALETTE, 1, COMPRESSION_NONE, 0, 4, 257},
        StripCase{"palette_8_bit_map", PHOTOMETRIC_PALETTE, 1, COMPRESSION_ADOBE_DEFLATE, 0, 11,
                  1}),
    [](const testing::TestParamInfo<StripCase>& page) { return page.param.name; });

TEST(ReadTiff, ABrokenStripFailsThePage) {
  TempDir dir;
  const std::string path = WriteStripPage(
      dir, {"broken", PHOTOMETRIC_RGB, 3, COMPRESSION_ADOBE_DEFLATE, 0, 8, 0}, 40, 30);
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  // The strips follow the 8-byte header; garble the first one's deflate stream.
  for (size_t i = 8; i < 40; ++i) bytes[i] = static_cast<uint8_t>(~bytes[i]);
  const Decoded ours = ReadTiffBytes(bytes);
  EXPECT_EQ(ours.code, kErrBadTiff);
  EXPECT_TRUE(ours.rgb.empty());
}

// ---- writing ----

// The first directory of a little-endian TIFF, read by hand: tag -> values.
std::map<uint16_t, std::vector<uint32_t>> FirstDirectory(const std::vector<uint8_t>& tiff) {
  auto u16 = [&](size_t at) { return uint32_t{tiff.at(at)} | uint32_t{tiff.at(at + 1)} << 8; };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  std::map<uint16_t, std::vector<uint32_t>> tags;
  const size_t directory = u32(4);
  for (uint32_t i = 0; i < u16(directory); ++i) {
    const size_t entry = directory + 2 + i * 12;
    const uint32_t type = u16(entry + 2);
    const uint32_t count = u32(entry + 4);
    const size_t size = type == 3 ? 2 : type == 5 ? 8 : type == 2 || type == 1 ? 1 : 4;
    const size_t at = size * count <= 4 ? entry + 8 : u32(entry + 8);
    std::vector<uint32_t>& values = tags[static_cast<uint16_t>(u16(entry))];
    for (uint32_t n = 0; n < count * (type == 5 ? 2 : 1); ++n) {
      values.push_back(type == 3 ? u16(at + n * 2) : size == 1 ? tiff.at(at + n) : u32(at + n * 4));
    }
  }
  return tags;
}

std::string AsciiTag(const std::vector<uint32_t>& values) {
  std::string text;
  for (uint32_t c : values) {
    if (c != 0) text += static_cast<char>(c);
  }
  return text;
}

Encoded WriteTiffBytes(const std::vector<uint8_t>& pixels, int width, int height, int bits,
                       const RGBQUAD* palette, int compression, ResolutionRecord resolution = {},
                       size_t capacity = 4u << 20) {
  return EncodeBytes(
      [&](HISDEST destination) {
        return WriteTIFF(destination, pixels.data(), width, height, bits, palette, compression,
                         resolution);
      },
      capacity);
}

// Expects ImageMagick and ReadTIFF to see `expected` in a file we wrote.
void ExpectDecodersSee(const std::vector<uint8_t>& tiff, const std::vector<uint8_t>& expected) {
  TempDir dir;
  const std::string path = dir.File("written.tif");
  WriteFileBytes(path, tiff);
  const auto oracle = DecodeWithImageMagick(path);
  ASSERT_TRUE(oracle.has_value());
  EXPECT_EQ(oracle->rgb, expected);
  EXPECT_EQ(ReadTiffBytes(tiff).rgb, expected);
}

TEST(WriteTiff, WritesRgbStripsWithTheTagsGiven) {
  TempDir dir;
  const std::vector<uint8_t> picture = TestPicture(100, 700);
  const Encoded ours = WriteTiffBytes(picture, 100, 700, 24, nullptr, 1, {300, 150, 2});
  ASSERT_EQ(ours.code, kOk);
  EXPECT_EQ(ours.result, ours.bytes.size());
  ASSERT_GT(ours.bytes.size(), 8u);
  EXPECT_EQ(ours.bytes[0], 'I');
  EXPECT_EQ(ours.bytes[1], 'I');
  auto tags = FirstDirectory(ours.bytes);
  EXPECT_EQ(tags[278], std::vector<uint32_t>{630});  // 8192 / ((100 + 7) / 8)
  EXPECT_EQ(tags[273].size(), 2u);                   // two strips
  EXPECT_EQ(tags[259], std::vector<uint32_t>{1});
  EXPECT_EQ(tags[262], std::vector<uint32_t>{2});
  EXPECT_EQ(tags[274], std::vector<uint32_t>{1});
  EXPECT_EQ(tags[277], std::vector<uint32_t>{3});
  EXPECT_EQ(tags[296], std::vector<uint32_t>{2});
  ASSERT_EQ(tags[282].size(), 2u);
  EXPECT_EQ(tags[282][0] / tags[282][1], 300u);
  EXPECT_EQ(tags[283][0] / tags[283][1], 150u);
  EXPECT_TRUE(AsciiTag(tags[305]).starts_with("Ravelin, using ")) << AsciiTag(tags[305]);
  EXPECT_GT(AsciiTag(tags[305]).size(), 15u);

  ExpectDecodersSee(ours.bytes, picture);
}

// Compression value 0 names no scheme; such saves are stored with PackBits.
TEST(WriteTiff, WritesPaletteImagesWithAColourMapAndPackBitsForValueZero) {
  TempDir dir;
  std::vector<RGBQUAD> palette(256);
  for (int i = 0; i < 256; ++i)
    palette[i] = RGBQUAD{uint8_t(i), uint8_t(i / 3), uint8_t(255 - i), 0};
  std::vector<uint8_t> indices(64 * 40);
  for (size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<uint8_t>(i / 64 * 6);
  const Encoded ours = WriteTiffBytes(indices, 64, 40, 8, palette.data(), 0, {72, 72, 1});
  ASSERT_EQ(ours.code, kOk);
  auto tags = FirstDirectory(ours.bytes);
  EXPECT_EQ(tags[259], std::vector<uint32_t>{32773});
  EXPECT_EQ(tags[262], std::vector<uint32_t>{3});
  EXPECT_EQ(tags[258], std::vector<uint32_t>{8});
  EXPECT_EQ(tags[278], std::vector<uint32_t>{1024});  // 8192 / 8
  ASSERT_EQ(tags[320].size(), 768u);
  EXPECT_EQ(tags[320][0], 65535u);          // red of entry 0 is 255
  EXPECT_EQ(tags[320][256 + 3], 257u);      // green of entry 3 is 1
  EXPECT_EQ(tags[320][512 + 200], 51400u);  // blue of entry 200

  Palette full{};
  std::copy(palette.begin(), palette.end(), full.begin());
  std::vector<uint8_t> expected(indices.size() * 3);
  OpContext ctx;
  ASSERT_TRUE(IndexedToRgb(ctx, indices.data(), 64, 40, full, expected.data()));
  ExpectDecodersSee(ours.bytes, expected);

  const Encoded uncompressed = WriteTiffBytes(indices, 64, 40, 8, palette.data(), 1);
  EXPECT_EQ(FirstDirectory(uncompressed.bytes)[259], std::vector<uint32_t>{1});
  EXPECT_GT(uncompressed.bytes.size(), ours.bytes.size());
}

TEST(WriteTiff, FullDestinationsAndBadArgumentsFail) {
  const std::vector<uint8_t> picture = TestPicture(100, 700);
  // The rows fill the destination.
  EXPECT_EQ(WriteTiffBytes(picture, 100, 700, 24, nullptr, 1, {}, 50000).code, kErrWriteFile);
  // The rows fit, the directory written at the end does not: no usable file.
  const size_t whole = WriteTiffBytes(picture, 100, 700, 24, nullptr, 1).bytes.size();
  const Encoded late = WriteTiffBytes(picture, 100, 700, 24, nullptr, 1, {}, whole - 20);
  EXPECT_EQ(late.code, kErrWriteFile);
  EXPECT_EQ(late.result, 0u);

  EXPECT_EQ(WriteTiffBytes(picture, 100, 700, 16, nullptr, 1).code, kErrInvalidArgument);
  EXPECT_EQ(WriteTiffBytes(picture, 100, 700, 8, nullptr, 1).code, kErrInvalidArgument);
  EXPECT_EQ(WriteTiffBytes(picture, 0, 700, 24, nullptr, 1).code, kErrInvalidArgument);
  EXPECT_EQ(WriteTIFF(nullptr, picture.data(), 100, 700, 24, nullptr, 1, {}), 0u);
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
}

}  // namespace
}  // namespace vellum

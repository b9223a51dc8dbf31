#include "vellum/codecs/jpeg.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/kernel/global_memory.h"
#include "tests/codecs/codec_test_support.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"

namespace vellum {
namespace {

using namespace codec_tests;

constexpr int kWidth = 67;  // not a multiple of the MCU size
constexpr int kHeight = 45;

Decoded ReadJpegBytes(const std::vector<uint8_t>& bytes) {
  return DecodeBytes(bytes, [](HISSRC source, int32_t* width, int32_t* height) {
    return ReadJPEG(source, width, height, 24);
  });
}

// The test picture compressed by libjpeg's own command-line encoder.
std::vector<uint8_t> CompressWithTool(const TempDir& dir, const std::string& options) {
  const std::string ppm = dir.File("picture.ppm");
  const std::string jpg = dir.File("picture.jpg");
  WriteFileBytes(ppm, codec_tests::PpmBytes(kWidth, kHeight, TestPicture(kWidth, kHeight)));
  EXPECT_TRUE(
      RunCommand("cjpeg " + options + " -outfile " + ShellQuote(jpg) + " " + ShellQuote(ppm)));
  return ReadFileBytes(jpg);
}

// The marker codes of the segments before the first scan.
std::vector<uint8_t> HeaderMarkers(const std::vector<uint8_t>& jpeg) {
  std::vector<uint8_t> markers;
  size_t at = 2;
  while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
    const uint8_t marker = jpeg[at + 1];
    markers.push_back(marker);
    if (marker == 0xDA) break;
    at += 2 + (size_t{jpeg[at + 2]} << 8 | jpeg[at + 3]);
  }
  return markers;
}

bool HasMarker(const std::vector<uint8_t>& jpeg, uint8_t marker) {
  const std::vector<uint8_t> markers = HeaderMarkers(jpeg);
  return std::find(markers.begin(), markers.end(), marker) != markers.end();
}

size_t MarkerOffset(const std::vector<uint8_t>& jpeg, uint8_t marker) {
  size_t at = 2;
  while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != marker) {
    at += 2 + (size_t{jpeg[at + 2]} << 8 | jpeg[at + 3]);
  }
  return at;
}

TEST(ReadJpeg, DecodesEveryVariantAsAnIndependentDecoder) {
  TempDir dir;
  const std::vector<std::string> variants = {"-quality 90", "-progressive", "-grayscale",
                                             "-restart 1",  "-sample 1x1",  "-sample 2x1 -optimize",
                                             "-arithmetic"};
  for (const std::string& options : variants) {
    SCOPED_TRACE(options);
    const std::vector<uint8_t> jpeg = CompressWithTool(dir, options);
    const auto oracle = testing_support::DecodeWithPillow(dir.File("picture.jpg"));
    ASSERT_TRUE(oracle.has_value());
    const Decoded ours = ReadJpegBytes(jpeg);
    EXPECT_EQ(ours.code, kOk);
    ExpectSameImage(ours, *oracle);
  }
}

TEST(ReadJpeg, GrayLoadsWithThreeEqualChannels) {
  TempDir dir;
  const Decoded ours = ReadJpegBytes(CompressWithTool(dir, "-grayscale"));
  ASSERT_TRUE(ours.hasImage);
  bool someGray = false;
  for (size_t i = 0; i < ours.rgb.size(); i += 3) {
    ASSERT_EQ(ours.rgb[i], ours.rgb[i + 1]);
    ASSERT_EQ(ours.rgb[i], ours.rgb[i + 2]);
    someGray = someGray || (ours.rgb[i] > 20 && ours.rgb[i] < 235);
  }
  EXPECT_TRUE(someGray);
}

// Adobe files store the ink inverted: 255 is no ink.
TEST(ReadJpeg, AdobeCmykLoadsWithTheInkTakenOff) {
  TempDir dir;
  const std::string path = dir.File("cmyk.jpg");
  static const char* kProgram = R"(
import sys
from PIL import Image
image = Image.new('CMYK', (32, 8), (0, 0, 0, 0))
image.paste((0, 255, 255, 0), (8, 0, 16, 8))
image.paste((0, 0, 0, 128), (16, 0, 24, 8))
image.paste((0, 0, 0, 255), (24, 0, 32, 8))
image.save(sys.argv[1], quality=100, subsampling=0)
)";
  ASSERT_TRUE(testing_support::RunPython(kProgram, {path}));
  const Decoded ours = ReadJpegBytes(ReadFileBytes(path));
  ASSERT_TRUE(ours.hasImage) << ours.code;
  EXPECT_EQ(ours.code, kOk);
  auto pixel = [&](int x) {
    const uint8_t* p = &ours.rgb[(4 * 32 + x) * 3];
    return std::vector<int>{p[0], p[1], p[2]};
  };
  auto near = [](std::vector<int> got, std::vector<int> want) {
    for (int i = 0; i < 3; ++i) {
      if (std::abs(got[i] - want[i]) > 2) return false;
    }
    return true;
  };
  EXPECT_TRUE(near(pixel(3), {255, 255, 255}));  // stored all 255: white
  EXPECT_TRUE(near(pixel(11), {255, 0, 0}));
  EXPECT_TRUE(near(pixel(19), {127, 127, 127}));  // 255 x 127 / 255
  EXPECT_TRUE(near(pixel(27), {0, 0, 0}));
}

TEST(ReadJpeg, TruncatedEntropyDataCompletesTheImage) {
  TempDir dir;
  const std::vector<uint8_t> whole = CompressWithTool(dir, "-quality 95");
  const Decoded full = ReadJpegBytes(whole);
  ASSERT_TRUE(full.hasImage);
  const size_t scan = MarkerOffset(whole, 0xDA);
  const std::vector<uint8_t> cut(whole.begin(), whole.begin() + scan + (whole.size() - scan) / 2);

  const Decoded partial = ReadJpegBytes(cut);
  ASSERT_TRUE(partial.hasImage);
  EXPECT_EQ(partial.code, kOk);
  EXPECT_EQ(partial.width, kWidth);
  EXPECT_EQ(partial.height, kHeight);
  // The first MCU row lies well inside the half that is left.
  const size_t firstRows = size_t{kWidth} * 8 * 3;
  EXPECT_TRUE(std::equal(full.rgb.begin(), full.rgb.begin() + firstRows, partial.rgb.begin()));
}

TEST(ReadJpeg, EmptyBrokenAndMisusedSourcesFail) {
  TempDir dir;
  const std::string empty = dir.File("empty.jpg");
  WriteFileBytes(empty, {});
  HISSRC source = OpenFileSource(empty.c_str());
  ASSERT_NE(source, nullptr);
  int32_t width = 0;
  int32_t height = 0;
  EXPECT_EQ(ReadJPEG(source, &width, &height, 24), nullptr);
  EXPECT_EQ(CoreLastError(), kErrBadJpeg);
  CloseSource(source);

  std::vector<uint8_t> broken = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x02, 0x13, 0x37};
  EXPECT_EQ(ReadJpegBytes(broken).code, kErrBadJpeg);
  broken.assign(100, 0x00);
  EXPECT_EQ(ReadJpegBytes(broken).code, kErrBadJpeg);

  const std::vector<uint8_t> jpeg = CompressWithTool(dir, "");
  const Decoded eightBits =
      DecodeBytes(jpeg, [](HISSRC s, int32_t* w, int32_t* h) { return ReadJPEG(s, w, h, 8); });
  EXPECT_EQ(eightBits.code, kErrInvalidArgument);
  EXPECT_EQ(ReadJPEG(nullptr, &width, &height, 24), nullptr);
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  DataHandle fake{};
  EXPECT_EQ(ReadJPEG(&fake, &width, &height, 24), nullptr);
  EXPECT_EQ(CoreLastError(), kErrInvalidHandle);
}

// A Huffman table whose code counts add up to more than 256, after the scan: the
// fatal error comes while finishing, and the decoded rows are handed out with code 3.
TEST(ReadJpeg, FatalErrorAfterTheRowsKeepsTheImage) {
  TempDir dir;
  const std::vector<uint8_t> whole = CompressWithTool(dir, "");
  const Decoded good = ReadJpegBytes(whole);
  std::vector<uint8_t> bad(whole.begin(), whole.end() - 2);
  const std::vector<uint8_t> bogusTable = {0xFF, 0xC4, 0x00, 0x13, 0x00};
  bad.insert(bad.end(), bogusTable.begin(), bogusTable.end());
  bad.insert(bad.end(), 16, 0xFF);
  bad.insert(bad.end(), {0xFF, 0xD9});

  const size_t blocksBefore = GlobalLiveBlockCount();
  const Decoded ours = ReadJpegBytes(bad);
  EXPECT_EQ(ours.code, kErrReadFile);
  ASSERT_TRUE(ours.hasImage);
  EXPECT_EQ(ours.rgb, good.rgb);
  EXPECT_EQ(GlobalLiveBlockCount(), blocksBefore);
}

TEST(ReadJpeg, RefusesSizesPastTheLimitBeforeAllocating) {
  TempDir dir;
  for (const bool progressive : {false, true}) {
    std::vector<uint8_t> jpeg = CompressWithTool(dir, progressive ? "-progressive" : "");
    const size_t frame = MarkerOffset(jpeg, progressive ? 0xC2 : 0xC0);
    ASSERT_LT(frame, jpeg.size());
    // Height and width follow the marker, its length and the sample precision.
    for (size_t at : {frame + 5, frame + 7}) {
      jpeg[at] = 30000 >> 8;
      jpeg[at + 1] = 30000 & 0xFF;
    }
    const size_t blocksBefore = GlobalLiveBlockCount();
    const Decoded ours = ReadJpegBytes(jpeg);
    EXPECT_EQ(ours.code, kErrNoMemory);
    EXPECT_FALSE(ours.hasImage);
    EXPECT_EQ(GlobalLiveBlockCount(), blocksBefore);
  }
}

codec_tests::SizeInfo ReadInfo(const std::vector<uint8_t>& bytes) {
  return codec_tests::ReadSizeInfo(bytes, ReadJPEGInfo);
}

Encoded WriteJpegBytes(const std::vector<uint8_t>& pixels, int width, int height, int quality,
                       bool progressive, int bits, ResolutionRecord resolution,
                       size_t capacity = 1u << 20) {
  return EncodeBytes(
      [&](HISDEST destination) {
        return WriteJPEG(destination, pixels.data(), width, height, quality, progressive, bits,
                         resolution);
      },
      capacity);
}

TEST(ReadJpegInfo, ReportsSizeDepthAndDensity) {
  TempDir dir;
  const std::vector<uint8_t> picture = TestPicture(kWidth, kHeight);
  const Encoded written = WriteJpegBytes(picture, kWidth, kHeight, 80, false, 24, {300, 150, 1});
  codec_tests::SizeInfo info = ReadInfo(written.bytes);
  EXPECT_TRUE(info.result);
  EXPECT_EQ(info.code, kOk);
  EXPECT_EQ(info.width, kWidth);
  EXPECT_EQ(info.height, kHeight);
  EXPECT_EQ(info.bits, 24);
  EXPECT_EQ(info.resolution.xDensity, 300);
  EXPECT_EQ(info.resolution.yDensity, 150);
  EXPECT_EQ(info.resolution.unit, 1);

  EXPECT_EQ(ReadInfo(CompressWithTool(dir, "-grayscale")).bits, 8);

  // Without its JFIF segment the file still describes itself.
  std::vector<uint8_t> bare = written.bytes;
  ASSERT_EQ(bare[3], 0xE0);
  bare.erase(bare.begin() + 2, bare.begin() + 4 + (bare[4] << 8 | bare[5]));
  info = ReadInfo(bare);
  EXPECT_TRUE(info.result);
  EXPECT_EQ(info.width, kWidth);
  EXPECT_EQ(info.resolution.unit, 0);

  info = ReadInfo({0xFF, 0xD8, 0xFF, 0xE0, 0x00});
  EXPECT_FALSE(info.result);
  EXPECT_EQ(info.code, kErrBadJpeg);
}

// libjpeg's own encoder with the same settings writes the same bytes.
TEST(WriteJpeg, BaselineOrProgressiveAtTheQualityGiven) {
  TempDir dir;
  const std::vector<uint8_t> picture = TestPicture(kWidth, kHeight);
  for (const bool progressive : {false, true}) {
    SCOPED_TRACE(progressive);
    const Encoded ours = WriteJpegBytes(picture, kWidth, kHeight, 70, progressive, 24, {1, 1, 0});
    EXPECT_EQ(ours.code, kOk);
    EXPECT_EQ(ours.result, ours.bytes.size());
    EXPECT_EQ(HasMarker(ours.bytes, 0xC0), !progressive);
    EXPECT_EQ(HasMarker(ours.bytes, 0xC2), progressive);
    const std::string options = std::string("-quality 70") + (progressive ? " -progressive" : "");
    EXPECT_EQ(ours.bytes, CompressWithTool(dir, options));
  }
}

TEST(WriteJpeg, StoresDensityAndUnitInTheJfifHeader) {
  const std::vector<uint8_t> picture = TestPicture(16, 16);
  const Encoded ours = WriteJpegBytes(picture, 16, 16, 75, false, 24, {0x1234, 72, 2});
  ASSERT_GT(ours.bytes.size(), 18u);
  EXPECT_EQ(std::string(ours.bytes.begin() + 6, ours.bytes.begin() + 11), std::string("JFIF\0", 5));
  EXPECT_EQ(ours.bytes[13], 2);
  EXPECT_EQ(ours.bytes[14], 0x12);
  EXPECT_EQ(ours.bytes[15], 0x34);
  EXPECT_EQ(ours.bytes[16], 0);
  EXPECT_EQ(ours.bytes[17], 72);
}

TEST(WriteJpeg, GrayRowsMakeAOneComponentFile) {
  TempDir dir;
  std::vector<uint8_t> gray(size_t{kWidth} * kHeight);
  for (size_t i = 0; i < gray.size(); ++i) gray[i] = static_cast<uint8_t>(i % kWidth * 3);
  const Encoded ours = WriteJpegBytes(gray, kWidth, kHeight, 95, false, 8, {});
  ASSERT_EQ(ours.code, kOk);
  const size_t frame = MarkerOffset(ours.bytes, 0xC0);
  ASSERT_LT(frame + 9, ours.bytes.size());
  EXPECT_EQ(ours.bytes[frame + 9], 1);  // component count

  const std::string path = dir.File("gray.jpg");
  WriteFileBytes(path, ours.bytes);
  const auto oracle = testing_support::DecodeWithPillow(path);
  ASSERT_TRUE(oracle.has_value());
  std::vector<uint8_t> expected;
  for (uint8_t v : gray) expected.insert(expected.end(), {v, v, v});
  EXPECT_LE(codec_tests::MaxDifference(oracle->rgb, expected), 8);
}

TEST(WriteJpeg, FullDestinationsAndBadArgumentsFail) {
  std::vector<uint8_t> noise(200 * 200 * 3);
  uint32_t state = 1;
  for (uint8_t& v : noise) v = static_cast<uint8_t>((state = state * 1103515245 + 12345) >> 24);
  // The rows overflow the 4096-byte buffer into a destination that is full.
  EXPECT_EQ(WriteJpegBytes(noise, 200, 200, 90, false, 24, {}, 1000).code, kErrWriteFile);
  // A small picture fits libjpeg's buffer; the flush at the end fails.
  const std::vector<uint8_t> small = TestPicture(8, 8);
  const Encoded late = WriteJpegBytes(small, 8, 8, 90, false, 24, {}, 100);
  EXPECT_EQ(late.code, kErrBadJpeg);
  EXPECT_EQ(late.result, 0u);

  EXPECT_EQ(WriteJpegBytes(small, 0, 8, 90, false, 24, {}).code, kErrInvalidArgument);
  EXPECT_EQ(WriteJpegBytes(small, 8, -1, 90, false, 24, {}).code, kErrInvalidArgument);
  EXPECT_EQ(WriteJpegBytes(small, 8, 8, 90, false, 16, {}).code, kErrInvalidArgument);
  EXPECT_EQ(WriteJPEG(nullptr, small.data(), 8, 8, 90, FALSE, 24, {}), 0u);
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  // libjpeg refuses sides above 65500 while setting up.
  const std::vector<uint8_t> wide(70000);
  EXPECT_EQ(WriteJpegBytes(wide, 70000, 1, 90, false, 8, {}).code, kErrBadJpeg);
}

TEST(Jpeg, ThreadsCodeAtTheSameTime) {
  const std::vector<uint8_t> picture = TestPicture(kWidth, kHeight);
  const Encoded reference = WriteJpegBytes(picture, kWidth, kHeight, 85, true, 24, {});
  std::vector<std::thread> threads;
  std::vector<int> matches(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 5; ++i) {
        const Encoded again = WriteJpegBytes(picture, kWidth, kHeight, 85, true, 24, {});
        const Decoded decoded = ReadJpegBytes(again.bytes);
        if (again.bytes == reference.bytes && decoded.code == kOk) ++matches[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(matches, std::vector<int>(4, 5));
}

}  // namespace
}  // namespace vellum

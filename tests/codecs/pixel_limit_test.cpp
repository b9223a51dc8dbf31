// The operator's limit on decoded pixels, as every reader applies it, and files whose
// data does not hold a single row.
#include "platform/policy/pixel_limit.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/codecs/codec_test_support.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"
#include "vellum/codecs/bmp.h"
#include "vellum/codecs/gif.h"
#include "vellum/codecs/jpeg.h"
#include "vellum/codecs/pcx.h"
#include "vellum/codecs/png.h"
#include "vellum/codecs/psd.h"
#include "vellum/codecs/tiff.h"
#include "vellum/core/metafile.h"

namespace vellum {
namespace {

using namespace codec_tests;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

constexpr int kWidth = 40;
constexpr int kHeight = 30;
constexpr uint64_t kPixels = kWidth * kHeight;

// Sets the process's limit for one test and hands the choice back afterwards.
class LimitScope {
 public:
  explicit LimitScope(uint64_t pixels) { policy::SetMaxImagePixels(pixels); }
  ~LimitScope() { policy::SetMaxImagePixels(std::nullopt); }
};

struct ReaderCase {
  std::string name;
  std::function<Encoded(const std::vector<uint8_t>& rgb)> encode;
  std::function<Decoded(const std::vector<uint8_t>& bytes)> decode;
};

Decoded DecodeMetafileFile(const std::vector<uint8_t>& bytes, const char* extension) {
  const TempDir dir;
  const std::string path = dir.File(std::string("picture.") + extension);
  WriteFileBytes(path, bytes);
  Decoded decoded;
  HGLOBAL block = ReadMetafile(path.c_str(), &decoded.width, &decoded.height, 0, 0, 0xFFFFFF);
  decoded.code = CoreLastError();
  decoded.hasImage = block != nullptr;
  GlobalFree(block);
  return decoded;
}

std::vector<ReaderCase> ReaderCases() {
  static const ResolutionRecord kNoResolution{};
  static const Palette kGray = DistinctPalette();
  auto indices = [](const std::vector<uint8_t>& rgb) {
    std::vector<uint8_t> out(rgb.size() / 3);
    for (size_t i = 0; i < out.size(); ++i) out[i] = rgb[3 * i];
    return out;
  };
  return {
      {"Bmp",
       [](const std::vector<uint8_t>& rgb) {
         return EncodeBytes(
             [&](HISDEST d) { return WriteBMP(d, rgb.data(), kWidth, kHeight, 24, 0, nullptr); });
       },
       [](const std::vector<uint8_t>& bytes) { return DecodeRgb(bytes, ReadBMP); }},
      {"Gif",
       [indices](const std::vector<uint8_t>& rgb) {
         const std::vector<uint8_t> pixels = indices(rgb);
         return EncodeBytes([&](HISDEST d) {
           return WriteGIF(d, pixels.data(), kWidth, kHeight, 0, 0, -1, 8, kGray.data());
         });
       },
       [](const std::vector<uint8_t>& bytes) {
         int32_t transparent = 0;
         return DecodeBytes(bytes, [&](HISSRC s, int32_t* w, int32_t* h) {
           return ReadGIF(s, w, h, &transparent);
         });
       }},
      {"Jpeg",
       [](const std::vector<uint8_t>& rgb) {
         return EncodeBytes([&](HISDEST d) {
           return WriteJPEG(d, rgb.data(), kWidth, kHeight, 80, TRUE, 24, kNoResolution);
         });
       },
       [](const std::vector<uint8_t>& bytes) { return DecodeRgb(bytes, ReadJPEG); }},
      {"Png",
       [](const std::vector<uint8_t>& rgb) {
         return EncodeBytes([&](HISDEST d) {
           return WritePNG(d, rgb.data(), kWidth, kHeight, kWidth * 3, 8, 0, nullptr, 2, 0, 1,
                           kNoResolution);
         });
       },
       [](const std::vector<uint8_t>& bytes) { return DecodeRgb(bytes, ReadPNG); }},
      {"Pcx",
       [](const std::vector<uint8_t>& rgb) {
         return EncodeBytes(
             [&](HISDEST d) { return WritePCX(d, rgb.data(), kWidth, kHeight, 24, nullptr); });
       },
       [](const std::vector<uint8_t>& bytes) { return DecodeRgb(bytes, ReadPCX); }},
      {"Tiff",
       [](const std::vector<uint8_t>& rgb) {
         return EncodeBytes([&](HISDEST d) {
           return WriteTIFF(d, rgb.data(), kWidth, kHeight, 24, nullptr, 1, kNoResolution);
         });
       },
       [](const std::vector<uint8_t>& bytes) {
         return DecodeBytes(
             bytes, [](HISSRC s, int32_t* w, int32_t* h) { return ReadTIFF(s, w, h, 24, 0); });
       }},
      {"Psd",
       [](const std::vector<uint8_t>& rgb) {
         return EncodeBytes(
             [&](HISDEST d) { return WritePSD(d, rgb.data(), kWidth, kHeight, 24, nullptr); });
       },
       [](const std::vector<uint8_t>& bytes) { return DecodeRgb(bytes, ReadPSD); }},
      {"Emf",
       [](const std::vector<uint8_t>& rgb) {
         return EncodeBytes([&](HISDEST d) { return WriteEMF(d, rgb.data(), kWidth, kHeight); });
       },
       [](const std::vector<uint8_t>& bytes) { return DecodeMetafileFile(bytes, "emf"); }},
      {"Wmf",
       [](const std::vector<uint8_t>& rgb) {
         return EncodeBytes(
             [&](HISDEST d) { return WriteWMF(d, rgb.data(), kWidth, kHeight, TRUE); });
       },
       [](const std::vector<uint8_t>& bytes) { return DecodeMetafileFile(bytes, "wmf"); }},
  };
}

class PixelLimit : public testing::TestWithParam<ReaderCase> {};

TEST_P(PixelLimit, RefusesAnImageOnePixelOverTheLimitAndReadsOneAtIt) {
  const Encoded file = GetParam().encode(TestPicture(kWidth, kHeight));
  ASSERT_GT(file.result, 0u) << "code " << file.code;
  {
    const LimitScope limit(kPixels - 1);
    const Decoded refused = GetParam().decode(file.bytes);
    EXPECT_FALSE(refused.hasImage);
    EXPECT_EQ(refused.code, kErrPixelLimit);
  }
  {
    const LimitScope limit(kPixels);
    const Decoded read = GetParam().decode(file.bytes);
    ASSERT_TRUE(read.hasImage) << "code " << read.code;
    EXPECT_EQ(read.width, kWidth);
    EXPECT_EQ(read.height, kHeight);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryReader, PixelLimit, testing::ValuesIn(ReaderCases()),
                         [](const auto& tested) { return tested.param.name; });

// ---- files whose data ends before the first row ----

std::vector<uint8_t> Le32(uint32_t value) {
  return {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
}

// A bitmap's headers for 26000 x 26000 pixels at 24 bits with no pixel data (118
// bytes with the padding of a 16-colour table, as such files are often made).
std::vector<uint8_t> BmpHeaderOnly(uint16_t bits, uint32_t compression) {
  std::vector<uint8_t> bytes = Concat({{'B', 'M'},
                                       Le32(118),
                                       Le32(0),
                                       Le32(118),
                                       Le32(40),
                                       Le32(26000),
                                       Le32(26000),
                                       Le16(1),
                                       Le16(bits),
                                       Le32(compression),
                                       Le32(0),
                                       Le32(0),
                                       Le32(0),
                                       Le32(0),
                                       Le32(0)});
  bytes.resize(118, 0);
  return bytes;
}

// A JPEG made by our writer, cut right after its start-of-scan header.
std::vector<uint8_t> JpegWithoutScanData(bool progressive) {
  const std::vector<uint8_t> rgb = TestPicture(64, 48);
  const Encoded file = EncodeBytes([&](HISDEST d) {
    return WriteJPEG(d, rgb.data(), 64, 48, 80, progressive ? TRUE : FALSE, 24, {});
  });
  std::vector<uint8_t> bytes = file.bytes;
  for (size_t i = 0; i + 3 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA) {
      const size_t length = size_t{bytes[i + 2]} << 8 | bytes[i + 3];
      bytes.resize(i + 2 + length);
      break;
    }
  }
  return bytes;
}

TEST(NoRowOfPixels, BitmapHeadersWithoutDataFailWithCode3) {
  for (const auto& [bits, compression] : {std::pair<uint16_t, uint32_t>{24, 0}, {8, 1}}) {
    const Decoded decoded = DecodeRgb(BmpHeaderOnly(bits, compression), ReadBMP);
    EXPECT_FALSE(decoded.hasImage) << bits;
    EXPECT_EQ(decoded.code, kErrReadFile) << bits;
  }
}

TEST(NoRowOfPixels, JpegWithoutScanDataFailsWithCode3) {
  for (const bool progressive : {false, true}) {
    const Decoded decoded = DecodeRgb(JpegWithoutScanData(progressive), ReadJPEG);
    EXPECT_FALSE(decoded.hasImage) << progressive;
    EXPECT_EQ(decoded.code, kErrReadFile) << progressive;
    // The same with an end-of-image marker where the data should be.
    std::vector<uint8_t> ended = JpegWithoutScanData(progressive);
    ended.insert(ended.end(), {0xFF, 0xD9});
    EXPECT_FALSE(DecodeRgb(ended, ReadJPEG).hasImage) << progressive;
  }
}

TEST(NoRowOfPixels, GifAndPcxWithoutDataFailWithCode3) {
  // 40 x 40 pixels whose data is a clear code and the end code.
  const std::vector<uint8_t> gif = Concat({{'G', 'I', 'F', '8', '9', 'a'},
                                           Le16(40),
                                           Le16(40),
                                           {0, 0, 0, 0x2C},
                                           Le16(0),
                                           Le16(0),
                                           Le16(40),
                                           Le16(40),
                                           {0, 8, 3, 0x00, 0x03, 0x04, 0, 0x3B}});
  int32_t transparent = 0;
  const Decoded fromGif = DecodeBytes(
      gif, [&](HISSRC s, int32_t* w, int32_t* h) { return ReadGIF(s, w, h, &transparent); });
  EXPECT_FALSE(fromGif.hasImage);
  EXPECT_EQ(fromGif.code, kErrReadFile);

  // A 24-bit PCX of 100 x 2 (300 bytes a line) whose data is five runs of one byte.
  std::vector<uint8_t> pcx(128, 0);
  pcx[0] = 10, pcx[1] = 5, pcx[2] = 1, pcx[3] = 8;
  pcx[8] = 99, pcx[10] = 1, pcx[65] = 3, pcx[66] = 100;
  for (int i = 0; i < 5; ++i) pcx.insert(pcx.end(), {0xC1, 0x20});
  const Decoded fromPcx = DecodeRgb(pcx, ReadPCX);
  EXPECT_FALSE(fromPcx.hasImage);
  EXPECT_EQ(fromPcx.code, kErrReadFile);
}

// Files cut after their first rows still load, with what they hold.
TEST(NoRowOfPixels, FilesCutAfterTheirFirstRowsStillLoad) {
  const std::vector<uint8_t> rgb = TestPicture(64, 64);
  Encoded bmp = EncodeBytes([&](HISDEST d) { return WriteBMP(d, rgb.data(), 64, 64, 24, 0, {}); });
  bmp.bytes.resize(bmp.bytes.size() / 2);
  EXPECT_TRUE(DecodeRgb(bmp.bytes, ReadBMP).hasImage);

  Encoded jpeg =
      EncodeBytes([&](HISDEST d) { return WriteJPEG(d, rgb.data(), 64, 64, 90, FALSE, 24, {}); });
  jpeg.bytes.resize(jpeg.bytes.size() * 2 / 3);
  EXPECT_TRUE(DecodeRgb(jpeg.bytes, ReadJPEG).hasImage);
}

}  // namespace
}  // namespace vellum

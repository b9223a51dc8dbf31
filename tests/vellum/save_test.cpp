// SaveImage through IDispatch: every format at every colour resolution and selection
// method, the destinations, the writers' arguments and the messages.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "tests/support/allowed_folders.h"
#include "tests/support/file_faults.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"
#include "tests/vellum/image_io_support.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TestImage;
using vellum_testing::ByteArray;
using vellum_testing::CallResult;
using vellum_testing::EaselSession;
using vellum_testing::RecordingField;

enum Format { kBmp = 1, kGif, kJpeg, kPng, kPcx, kTiff, kWmf, kEmf, kPsd, kWebp = 11, kAvif };
constexpr int kAllFormats[] = {kBmp, kGif, kJpeg, kPng,  kPcx, kTiff,
                               kWmf, kEmf, kPsd,  kWebp, kAvif};
// The formats that store 24-bit pictures lossily (at the default quality).
bool IsLossy(int format) { return format == kJpeg || format == kWebp || format == kAvif; }
constexpr int kFile = 0;
constexpr int kDatabase = 4;

struct Reduction {
  int resolution;
  int algorithm;
};
constexpr Reduction kReductions[] = {{24, 2}, {8, 0}, {8, 1}, {8, 2}, {4, 0},
                                     {4, 1},  {4, 2}, {1, 0}, {1, 2}};

std::string Describe(int format, const Reduction& r) {
  return "format " + std::to_string(format) + ", resolution " + std::to_string(r.resolution) +
         ", algorithm " + std::to_string(r.algorithm);
}

TestImage Photo(uint32_t width = 23, uint32_t height = 11) {
  std::mt19937 rng(width * 31 + height);
  return testing_support::RandomImage(rng, width, height);
}

size_t ColorCount(const std::vector<uint8_t>& rgb) {
  std::set<uint32_t> colors;
  for (size_t i = 0; i + 2 < rgb.size(); i += 3)
    colors.insert(rgb[i] << 16 | rgb[i + 1] << 8 | rgb[i + 2]);
  return colors.size();
}

double MeanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 1e9;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += std::abs(a[i] - b[i]);
  return sum / static_cast<double>(a.size());
}

// The gray image JPEG and PNG get at resolution 1.
std::vector<uint8_t> GrayOf(const TestImage& image) {
  std::vector<uint8_t> rgb;
  for (size_t i = 0; i < image.bytes.size(); i += 3) {
    const auto gray = static_cast<uint8_t>(0.299 * image.bytes[i] + 0.587 * image.bytes[i + 1] +
                                           0.114 * image.bytes[i + 2]);
    rgb.insert(rgb.end(), {gray, gray, gray});
  }
  return rgb;
}

// A PNG's tIME chunk holds the moment of writing; zeroed, two writings compare.
std::vector<uint8_t> WithoutTime(std::vector<uint8_t> png) {
  for (size_t at = 8; at + 12 <= png.size();) {
    const size_t length = png[at] << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3];
    if (std::equal(png.begin() + at + 4, png.begin() + at + 8, "tIME")) {
      std::fill(png.begin() + at + 8, png.begin() + at + 12 + length, 0);
    }
    at += 12 + length;
  }
  return png;
}

// The bytes after the first occurrence of a marker, or nothing.
std::vector<uint8_t> After(const std::vector<uint8_t>& bytes, std::vector<uint8_t> marker,
                           size_t count) {
  const auto found = std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end());
  if (found == bytes.end() || bytes.end() - found < static_cast<ptrdiff_t>(marker.size() + count))
    return {};
  return {found + static_cast<ptrdiff_t>(marker.size()),
          found + static_cast<ptrdiff_t>(marker.size() + count)};
}

class SaveTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(easel_); }
  Variant FilePath(const std::string& name) {
    const std::string path = dir_.File(name);
    return Variant::String(std::u16string(path.begin(), path.end()));
  }
  void SetReduction(EaselSession& easel, const Reduction& r) {
    ASSERT_EQ(easel.Set(u"ColorResolution", r.resolution).hr, S_OK);
    ASSERT_EQ(easel.Set(u"ColorAdjustmentAlgorithm", r.algorithm).hr, S_OK);
  }
  // Loads bytes into a new object; its pixels, or nothing when the load fails.
  static std::vector<uint8_t> Decode(const std::vector<uint8_t>& bytes, LONG* width = nullptr,
                                     LONG* height = nullptr) {
    EaselSession reader;
    if (reader.Load(ByteArray(bytes)).hr != S_OK) return {};
    if (width != nullptr) *width = reader.Get(u"Width");
    if (height != nullptr) *height = reader.Get(u"Height");
    return reader.Pixels();
  }

  testing_support::TempDir dir_;
  EaselSession easel_;
};

// Every format at every resolution and selection method: the save leaves the
// working image alone, and what is written loads back as the reduced picture. The
// lossless formats agree byte for byte with BMP, the simplest writer, on every
// reduction; JPEG comes close.
TEST_F(SaveTest, EveryFormatRoundTripsAtEveryResolution) {
  const TestImage photo = Photo();
  easel_.Install(photo);
  const vellum_testing::WorkingImage before = easel_.State();
  // The picture each reduction gives, as BMP holds it.
  std::map<std::pair<int, int>, std::vector<uint8_t>> reduced;
  for (const Reduction& r : kReductions) {
    SetReduction(easel_, r);
    reduced[{r.resolution, r.algorithm}] = Decode(easel_.SaveToMemory(kBmp));
  }
  for (const Reduction& r : kReductions) {
    SetReduction(easel_, r);
    const std::vector<uint8_t>& reference = reduced[{r.resolution, r.algorithm}];
    ASSERT_EQ(reference.size(), photo.bytes.size()) << Describe(kBmp, r);
    if (r.resolution == 24) {
      EXPECT_EQ(reference, photo.bytes);
    } else {
      EXPECT_LE(ColorCount(reference), r.resolution == 4 ? 16u : 256u);
    }
    for (int format : kAllFormats) {
      const std::vector<uint8_t> saved = easel_.SaveToMemory(format);
      EXPECT_EQ(easel_.State(), before) << Describe(format, r);
      ASSERT_FALSE(saved.empty()) << Describe(format, r);
      LONG width = 0;
      LONG height = 0;
      const std::vector<uint8_t> loaded = Decode(saved, &width, &height);
      EXPECT_EQ(width, 23) << Describe(format, r);
      EXPECT_EQ(height, 11) << Describe(format, r);
      // GIF holds 256 colours at most; JPEG and PNG store gray without a palette.
      const bool gifAt24 = format == kGif && r.resolution == 24;
      const bool grayWithoutPalette = r.resolution == 1 && (format == kJpeg || format == kPng);
      const std::vector<uint8_t> expected = gifAt24              ? reduced[{8, r.algorithm}]
                                            : grayWithoutPalette ? GrayOf(photo)
                                                                 : reference;
      if (format == kJpeg && grayWithoutPalette) {
        EXPECT_LT(MeanDifference(loaded, expected), 30.0) << Describe(format, r);
        for (size_t i = 0; i + 2 < loaded.size(); i += 3) {
          ASSERT_TRUE(loaded[i] == loaded[i + 1] && loaded[i] == loaded[i + 2]) << i;
        }
      } else if (IsLossy(format)) {
        // JPEG, WebP and AVIF hold the reduced picture at 24 bits: the file is that
        // picture's.
        EaselSession truecolor;
        truecolor.Install({23, 11, 3, expected});
        EXPECT_EQ(saved, truecolor.SaveToMemory(format)) << Describe(format, r);
      } else {
        EXPECT_EQ(loaded, expected) << Describe(format, r);
      }
    }
  }
  EXPECT_EQ(easel_.ErrorDescription(), u"");
}

// The in-memory block has room for the palette and headers of every writer, however
// small the image.
TEST_F(SaveTest, OnePixelImagesSaveInEveryFormat) {
  easel_.Install(TestImage{1, 1, 3, {200, 100, 50}});
  for (const Reduction& r : kReductions) {
    SetReduction(easel_, r);
    for (int format : kAllFormats) {
      const std::vector<uint8_t> saved = easel_.SaveToMemory(format);
      EXPECT_FALSE(saved.empty()) << Describe(format, r);
      LONG width = 0;
      LONG height = 0;
      Decode(saved, &width, &height);
      EXPECT_EQ(width * height, 1) << Describe(format, r);
    }
  }
  EXPECT_EQ(easel_.ErrorDescription(), u"");
}

// Noise whose every byte needs a run-length escape, at the highest JPEG quality: the
// largest output each writer makes still fits the block.
TEST_F(SaveTest, TheLargestEncodingsFitTheBlock) {
  std::mt19937 rng(23);
  TestImage noise = testing_support::RandomImage(rng, 37, 29);
  for (uint8_t& byte : noise.bytes) byte |= 0xC0;
  easel_.Install(noise);
  ASSERT_EQ(easel_.Set(u"ImageQuality", 100).hr, S_OK);
  for (int format : kAllFormats) EXPECT_FALSE(easel_.SaveToMemory(format).empty()) << format;
  EXPECT_EQ(easel_.ErrorDescription(), u"");
}

TEST_F(SaveTest, AByteArrayHoldsWhatAFileWouldHold) {
  easel_.Install(Photo(40, 30));
  for (int format : kAllFormats) {
    const std::string name = "saved." + std::to_string(format);
    ASSERT_EQ(easel_.Save(kFile, format, FilePath(name)).hr, S_OK) << format;
    std::vector<uint8_t> inFile = ReadFileBytes(dir_.File(name));
    std::vector<uint8_t> inMemory = easel_.SaveToMemory(format);
    if (format == kPng) {
      inFile = WithoutTime(inFile);
      inMemory = WithoutTime(inMemory);
    }
    EXPECT_EQ(inMemory, inFile) << format;
  }
  // A path passed by reference, as script variables are.
  Variant path = FilePath("by-reference.bmp");
  EXPECT_EQ(easel_.Save(kFile, kBmp, vellum_testing::Reference(&path)).hr, S_OK);
  EXPECT_EQ(ReadFileBytes(dir_.File("by-reference.bmp")), easel_.SaveToMemory(kBmp));
}

TEST_F(SaveTest, ArgumentsAreCheckedFormatFirst) {
  easel_.Install(Photo());
  EXPECT_EQ(easel_.Save(3, 1, FilePath("x.bmp")).hr, DISP_E_EXCEPTION);
  EXPECT_EQ(easel_.ErrorDescription(), u"The image save method is not supported\r\n");
  const CallResult format = easel_.Save(3, 10, FilePath("x.bmp"));
  EXPECT_EQ(format.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(format.source, u"Quillmark.Easel.1");
  EXPECT_TRUE(format.description.ends_with(
      u"supported\r\nCan not convert to the image format specified\r\n"));
  EXPECT_EQ(format.description, easel_.ErrorDescription());
  EXPECT_EQ(easel_.Save(-1, 1, FilePath("x.bmp")).hr, DISP_E_EXCEPTION);
  EXPECT_TRUE(easel_.ErrorDescription().ends_with(
      u"specified\r\nThe image save method is not supported\r\n"));
}

// Formats 11 and 12 (WebP and AVIF) are written; 10, which a loaded PSD file reports,
// and anything past 12 are refused as every value past 9 used to be.
TEST_F(SaveTest, OnlyElevenAndTwelveExtendTheFormats) {
  easel_.Install(Photo());
  for (int format : {10, 13, 100}) {
    EXPECT_EQ(easel_.Save(kFile, format, FilePath("x")).hr, DISP_E_EXCEPTION) << format;
    EXPECT_TRUE(
        easel_.ErrorDescription().ends_with(u"Can not convert to the image format specified\r\n"));
  }
  // At quality 100 both keep every pixel.
  ASSERT_EQ(easel_.Set(u"ImageQuality", 100).hr, S_OK);
  for (int format : {kWebp, kAvif}) {
    ASSERT_EQ(easel_.Save(kFile, format, FilePath("lossless")).hr, S_OK) << format;
    EaselSession reader;
    ASSERT_EQ(reader.Load(FilePath("lossless")).hr, S_OK) << format;
    EXPECT_EQ(reader.Get(u"ImageFormat"), format);
    EXPECT_EQ(reader.Pixels(), Photo().bytes) << format;
  }
}

TEST_F(SaveTest, FormatZeroHasNoWriter) {
  easel_.Install(Photo());
  EXPECT_EQ(easel_.Save(kFile, 0, FilePath("zero")).hr, DISP_E_EXCEPTION);
  EXPECT_EQ(easel_.ErrorDescription(),
            u"Can not write image data to the storage\n\r\nImage file could not be saved to the "
            u"file\r\n");
}

TEST_F(SaveTest, DestinationsThatAreNoneEndWithoutText) {
  easel_.Install(Photo());
  EXPECT_EQ(easel_.Save(kFile, kBmp, Variant::Long(3)).hr, DISP_E_EXCEPTION);
  EXPECT_EQ(easel_.Save(kFile, kBmp, Variant::String(u"")).hr, DISP_E_EXCEPTION);
  EXPECT_EQ(easel_.Save(kDatabase, kBmp, Variant::String(u"field")).hr, DISP_E_EXCEPTION);
  EXPECT_EQ(easel_.ErrorDescription(), u"");
  EXPECT_EQ(easel_.Save(kFile, kBmp, FilePath("missing/dir/x.bmp")).hr, DISP_E_EXCEPTION);
  EXPECT_TRUE(easel_.ErrorDescription().ends_with(u"Can not open image file\r\n"));
}

TEST_F(SaveTest, WithoutAnImageNothingIsSaved) {
  // An existing file is left as it was.
  testing_support::WriteFileBytes(dir_.File("kept.png"), {1, 2, 3});
  EXPECT_EQ(easel_.Save(kFile, kPng, FilePath("kept.png")).hr, DISP_E_EXCEPTION);
  EXPECT_EQ(easel_.ErrorDescription(),
            u"Can not save an empty image\r\nImage file could not be saved to the file\r\n");
  EXPECT_EQ(ReadFileBytes(dir_.File("kept.png")), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(easel_.Save(1, kPng, Variant()).hr, DISP_E_EXCEPTION);
  const std::u16string text = easel_.ErrorDescription();
  EXPECT_NE(text.find(u"the file\r\nCan not save an empty image\r\n"), std::u16string::npos);
  EXPECT_TRUE(text.ends_with(u"Operation failed\r\n"));
}

TEST_F(SaveTest, GifIsAlwaysWrittenWithAPalette) {
  easel_.Install(Photo());
  const std::vector<uint8_t> gif = easel_.SaveToMemory(kGif);  // at the default 24 bits
  ASSERT_GE(gif.size(), 13u);
  EXPECT_EQ(gif[10] & 0x87, 0x87);  // a global table of 2^8 entries
  EXPECT_LE(ColorCount(Decode(gif)), 256u);
}

// A colour that is in the save palette becomes the GIF's transparent index and stays
// it; without one, no colour is transparent.
TEST_F(SaveTest, GifTransparencyFollowsTheTransparentColor) {
  easel_.Install(TestImage{2, 1, 3, {255, 255, 0, 0, 0, 255}});  // yellow and blue
  std::vector<uint8_t> gif = easel_.SaveToMemory(kGif);
  ASSERT_GT(gif.size(), 6u);
  EXPECT_TRUE(After(gif, {0x21, 0xF9, 0x04}, 4).empty());
  EXPECT_EQ(std::string(gif.begin(), gif.begin() + 6), "GIF87a");

  ASSERT_EQ(easel_.Set(u"TransparentColor", 0xFF0000).hr, S_OK);  // blue
  gif = easel_.SaveToMemory(kGif);
  ASSERT_GT(gif.size(), 6u);
  const std::vector<uint8_t> control = After(gif, {0x21, 0xF9, 0x04}, 4);
  ASSERT_EQ(control.size(), 4u);
  EXPECT_EQ(control[0] & 1, 1);
  EXPECT_EQ(std::string(gif.begin(), gif.begin() + 6), "GIF89a");
  EXPECT_EQ(easel_.Get(u"TransparentColor"), 0xFF0000);
  LONG index = -1;
  easel_.Easel().get_GifTransparentIndex(&index);
  EXPECT_EQ(control[3], index);
  EaselSession reader;
  ASSERT_EQ(reader.Load(ByteArray(gif)).hr, S_OK);
  EXPECT_EQ(reader.Get(u"TransparentColor"), 0xFF0000);
}

TEST_F(SaveTest, PngTransparencyMarksTheMatchingEntriesOnly) {
  easel_.Install(TestImage{2, 1, 3, {255, 255, 255, 0, 0, 255}});  // white and blue
  ASSERT_EQ(easel_.Set(u"ColorResolution", 8).hr, S_OK);
  ASSERT_EQ(easel_.Set(u"TransparentColor", -1).hr, S_OK);  // as after a GIF without one
  std::vector<uint8_t> trns = After(easel_.SaveToMemory(kPng), {'t', 'R', 'N', 'S'}, 256);
  ASSERT_EQ(trns.size(), 256u);
  EXPECT_EQ(std::count(trns.begin(), trns.end(), 0), 0);  // -1 names no colour, not white
  // White is transparent: exactly the palette's white entries are marked.
  ASSERT_EQ(easel_.Set(u"TransparentColor", 0xFFFFFF).hr, S_OK);
  const std::vector<uint8_t> png = easel_.SaveToMemory(kPng);
  trns = After(png, {'t', 'R', 'N', 'S'}, 256);
  const std::vector<uint8_t> plte = After(png, {'P', 'L', 'T', 'E'}, 768);
  ASSERT_EQ(plte.size(), 768u);
  size_t whites = 0;
  for (size_t i = 0; i < 256; ++i) {
    const bool white = plte[3 * i] == 255 && plte[3 * i + 1] == 255 && plte[3 * i + 2] == 255;
    whites += white;
    EXPECT_EQ(trns[i], white ? 0 : 255) << i;
  }
  EXPECT_GE(whites, 1u);
}

TEST_F(SaveTest, JpegTakesTheObjectsSettings) {
  easel_.Install(Photo(32, 16));
  // Progressive by default, at quality 70; baseline and quality 30 on request.
  EXPECT_FALSE(After(easel_.SaveToMemory(kJpeg), {0xFF, 0xC2}, 1).empty());
  ASSERT_EQ(easel_.Set(u"JPEGProgressive", 0).hr, S_OK);
  ASSERT_EQ(easel_.Set(u"ImageQuality", 30).hr, S_OK);
  std::vector<uint8_t> jpeg = easel_.SaveToMemory(kJpeg);
  EXPECT_TRUE(After(jpeg, {0xFF, 0xC2}, 1).empty());
  // Length, precision, height 16, width 32, three components.
  EXPECT_EQ(After(jpeg, {0xFF, 0xC0}, 8), (std::vector<uint8_t>{0, 17, 8, 0, 16, 0, 32, 3}));
  // The first luminance quantizer, 16 at quality 50, scaled by 5000 / 30 %.
  EXPECT_EQ(After(jpeg, {0xFF, 0xDB}, 4),
            (std::vector<uint8_t>{0, 0x43, 0, (16 * 166 + 50) / 100}));

  // Dots per metre go into the file as dots per inch.
  ASSERT_EQ(easel_.Set(u"DPIUnits", 3).hr, S_OK);
  ASSERT_EQ(easel_.Set(u"DPIx", 2835).hr, S_OK);
  ASSERT_EQ(easel_.Set(u"DPIy", 5670).hr, S_OK);
  jpeg = easel_.SaveToMemory(kJpeg);
  EXPECT_EQ(After(jpeg, {'J', 'F', 'I', 'F', 0}, 7),
            (std::vector<uint8_t>{1, 1, 1, 0, 72, 0, 144}));

  // Gray at resolution 1: one component.
  ASSERT_EQ(easel_.Set(u"ColorResolution", 1).hr, S_OK);
  EXPECT_EQ(After(easel_.SaveToMemory(kJpeg), {0xFF, 0xC0}, 8),
            (std::vector<uint8_t>{0, 11, 8, 0, 16, 0, 32, 1}));
  ASSERT_EQ(easel_.Set(u"ColorResolution", 8).hr, S_OK);
  EXPECT_EQ(After(easel_.SaveToMemory(kJpeg), {0xFF, 0xC0}, 8),
            (std::vector<uint8_t>{0, 17, 8, 0, 16, 0, 32, 3}));
}

TEST_F(SaveTest, ResolutionsGoIntoTheFilesAndComeBack) {
  easel_.Install(Photo());
  struct Case {
    int units;
    int dpi;
    std::vector<uint8_t> phys;  // x, y (4 bytes each) and the unit
  };
  const Case cases[] = {{1, 72, {0, 0, 0x0B, 0x12, 0, 0, 0x0B, 0x12, 1}},  // trunc(72 x 39.37)
                        {2, 30, {0, 0, 0x0B, 0xB8, 0, 0, 0x0B, 0xB8, 1}},
                        {3, 2835, {0, 0, 0x0B, 0x13, 0, 0, 0x0B, 0x13, 1}},
                        {0, 5, {0, 0, 0, 5, 0, 0, 0, 5, 0}}};
  for (const Case& c : cases) {
    easel_.Set(u"DPIUnits", c.units);
    easel_.Set(u"DPIx", c.dpi);
    easel_.Set(u"DPIy", c.dpi);
    const std::vector<uint8_t> png = easel_.SaveToMemory(kPng);
    EXPECT_EQ(After(png, {'p', 'H', 'Y', 's'}, 9), c.phys) << c.units;
  }
  // A PNG at 2835 per metre reads back as dots per metre.
  EaselSession reader;
  ASSERT_EQ(reader.Load(ByteArray(easel_.SaveToMemory(kPng))).hr, S_OK);  // units 0, 5
  EXPECT_EQ(reader.Get(u"DPIUnits"), 0);
  EXPECT_EQ(reader.Get(u"DPIx"), 72);  // left alone without a unit
  easel_.Set(u"DPIUnits", 3);
  easel_.Set(u"DPIx", 2835);
  easel_.Set(u"DPIy", 2835);
  ASSERT_EQ(reader.Load(ByteArray(easel_.SaveToMemory(kPng))).hr, S_OK);
  EXPECT_EQ(reader.Get(u"DPIUnits"), 3);
  EXPECT_EQ(reader.Get(u"DPIx"), 2835);
  EXPECT_EQ(reader.Get(u"DPIy"), 2835);

  // TIFF and JPEG carry per-centimetre densities both ways.
  easel_.Set(u"DPIUnits", 2);
  easel_.Set(u"DPIx", 40);
  easel_.Set(u"DPIy", 50);
  for (int format : {kTiff, kJpeg}) {
    EaselSession other;
    ASSERT_EQ(other.Load(ByteArray(easel_.SaveToMemory(format))).hr, S_OK) << format;
    EXPECT_EQ(other.Get(u"DPIUnits"), 2) << format;
    EXPECT_EQ(other.Get(u"DPIx"), 40) << format;
    EXPECT_EQ(other.Get(u"DPIy"), 50) << format;
  }
}

TEST_F(SaveTest, LayeredImagesLoadAsFormatTen) {
  easel_.Install(Photo());
  EaselSession reader;
  ASSERT_EQ(reader.Load(ByteArray(easel_.SaveToMemory(kPsd))).hr, S_OK);
  EXPECT_EQ(reader.Get(u"ImageFormat"), 10);
}

TEST_F(SaveTest, TiffQualityChoosesTheCompression) {
  easel_.Install(Photo());
  ASSERT_EQ(easel_.Set(u"ImageQuality", 30).hr, S_OK);
  const std::vector<uint8_t> low = easel_.SaveToMemory(kTiff);
  ASSERT_EQ(easel_.Set(u"ImageQuality", 80).hr, S_OK);
  const std::vector<uint8_t> high = easel_.SaveToMemory(kTiff);
  EXPECT_FALSE(high.empty());
  EXPECT_EQ(Decode(high), Photo().bytes);
  EXPECT_NE(low, high);
}

// A database field receives the file in pieces of 1000 bytes, the last one shorter.
TEST_F(SaveTest, FieldsReceiveTheFileInThousandBytePieces) {
  easel_.Install(Photo(40, 30));
  const std::vector<uint8_t> bmp = easel_.SaveToMemory(kBmp);
  for (bool earlyBound : {false, true}) {
    ComPtr<RecordingField> field = RecordingField::Make();
    field->earlyBound = earlyBound;
    ASSERT_EQ(easel_.Save(kDatabase, kBmp, vellum_testing::Dispatch(field.Get())).hr, S_OK);
    EXPECT_EQ(field->Appended(), bmp);
    ASSERT_EQ(field->pieces.size(), (bmp.size() + 999) / 1000);
    for (size_t i = 0; i + 1 < field->pieces.size(); ++i) EXPECT_EQ(field->pieces[i].size(), 1000u);
    EXPECT_EQ(field->pieces.back().size(), bmp.size() % 1000);
    EXPECT_EQ(field->locales.front(), 0x800u);
  }
}

TEST_F(SaveTest, FieldsThatRefuseTheBytesFailTheSave) {
  easel_.Install(Photo(40, 30));
  ComPtr<RecordingField> refusing = RecordingField::Make();
  refusing->failAppendAt = 1;
  EXPECT_EQ(easel_.Save(kDatabase, kBmp, vellum_testing::Dispatch(refusing.Get())).hr,
            DISP_E_EXCEPTION);
  EXPECT_EQ(refusing->pieces.size(), 1u);  // no piece after the refused one
  EXPECT_TRUE(easel_.ErrorDescription().ends_with(u"Operation failed\r\n"));

  ComPtr<RecordingField> notAField = RecordingField::Make();
  notAField->hasAppendChunk = false;
  EXPECT_EQ(easel_.Save(kDatabase, kBmp, vellum_testing::Dispatch(notAField.Get())).hr,
            DISP_E_EXCEPTION);
  EXPECT_TRUE(easel_.ErrorDescription().ends_with(
      u"Invalid pointer, please, convert it to the ADO field\r\n"));
}

// A save that fails once its file is open (no writer for the format, or a write that
// fails as on a full disk) leaves an existing file's bytes as they were, and no other
// file behind.
TEST_F(SaveTest, AFailedSaveLeavesAnExistingFileAsItWas) {
  easel_.Install(Photo(200, 100));
  const std::string path = dir_.File("kept.gif");
  ASSERT_EQ(easel_.Save(kFile, kGif, FilePath("kept.gif")).hr, S_OK);
  const std::vector<uint8_t> before = ReadFileBytes(path);
  ASSERT_GT(before.size(), 1000u);
  EXPECT_EQ(easel_.Save(kFile, 0, FilePath("kept.gif")).hr, DISP_E_EXCEPTION);
  EXPECT_EQ(ReadFileBytes(path), before);
  {
    const testing_support::FileSizeLimit limit(1000);
    EXPECT_EQ(easel_.Save(kFile, kBmp, FilePath("kept.gif")).hr, DISP_E_EXCEPTION);
  }
  EXPECT_EQ(ReadFileBytes(path), before);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}), 1);
  // A save that succeeds replaces the file and keeps its permissions.
  std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::owner_write |
                                         std::filesystem::perms::group_read);
  ASSERT_EQ(easel_.Save(kFile, kBmp, FilePath("kept.gif")).hr, S_OK);
  EXPECT_EQ(ReadFileBytes(path).size(), 54u + 600 * 100);
  EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms::owner_read |
                                                             std::filesystem::perms::owner_write |
                                                             std::filesystem::perms::group_read);
}

// Pipes, directories and devices are refused at once, as files that cannot be
// opened, whether loaded or saved to; a pipe stays a pipe.
TEST_F(SaveTest, PipesDirectoriesAndDevicesFailAtOnce) {
  easel_.Install(Photo());
  const std::string pipe = dir_.File("pipe");
  ASSERT_TRUE(testing_support::MakeFifo(pipe));
  for (const std::string& path : {pipe, dir_.Path().string(), std::string("/dev/zero")}) {
    const std::u16string name(path.begin(), path.end());
    EXPECT_EQ(easel_.Load(Variant::String(name)).hr, DISP_E_EXCEPTION) << path;
    EXPECT_TRUE(easel_.ErrorDescription().ends_with(u"Can not access to the image file\r\n"))
        << path;
    EXPECT_EQ(easel_.Save(kFile, kBmp, Variant::String(name)).hr, DISP_E_EXCEPTION) << path;
    EXPECT_TRUE(easel_.ErrorDescription().ends_with(u"Can not open image file\r\n")) << path;
  }
  EXPECT_TRUE(std::filesystem::is_fifo(pipe));
  EXPECT_EQ(easel_.Pixels(), Photo().bytes);
}

// With the files restricted to some folders, loading and saving outside them fail
// with a message that says so; inside them both work.
TEST_F(SaveTest, PathsOutsideTheAllowedFoldersAreRefused) {
  easel_.Install(Photo());
  const testing_support::TempDir outside;
  testing_support::WriteFileBytes(outside.File("picture.bmp"), easel_.SaveToMemory(kBmp));
  const testing_support::AllowedFoldersScope scope({dir_.Path().string()});
  EXPECT_EQ(easel_.Load(Variant::String(outside.Path().u16string() + u"/picture.bmp")).hr,
            DISP_E_EXCEPTION);
  EXPECT_EQ(easel_.ErrorDescription(),
            u"The file is outside the folders this server may open files in\r\n"
            u"Permission denied\r\nCan not access to the image file\r\n");
  const std::u16string before = easel_.ErrorDescription();
  EXPECT_EQ(easel_.Save(kFile, kPng, Variant::String(outside.Path().u16string() + u"/new.png")).hr,
            DISP_E_EXCEPTION);
  EXPECT_EQ(easel_.ErrorDescription().substr(before.size()),
            u"The file is outside the folders this server may open files in\r\n"
            u"An error occured while opening the file\r\nPermission denied\r\n"
            u"Can not open image file\r\n");
  EXPECT_FALSE(std::filesystem::exists(outside.File("new.png")));
  ASSERT_EQ(easel_.Save(kFile, kBmp, FilePath("inside.bmp")).hr, S_OK);
  EXPECT_EQ(easel_.Load(FilePath("inside.bmp")).hr, S_OK);
}

// A Windows metafile as large as 4000 x 3000 pixels is written and reads back.
TEST_F(SaveTest, LargeWindowsMetafilesSaveAndReadBack) {
  const TestImage picture = Photo(4000, 3000);
  easel_.Install(picture);
  ASSERT_EQ(easel_.Save(kFile, kWmf, FilePath("large.wmf")).hr, S_OK);
  EaselSession reader;
  ASSERT_EQ(reader.Load(FilePath("large.wmf")).hr, S_OK);
  EXPECT_EQ(reader.Get(u"Width"), 4000);
  EXPECT_EQ(reader.Get(u"Height"), 3000);
  EXPECT_TRUE(reader.Pixels() == picture.bytes);
}

// Sizes are computed in 64 bits: an image too large for any block is refused, not
// given a block whose size wrapped around.
TEST_F(SaveTest, ImagesTooLargeForMemoryAreRefused) {
  HGLOBAL pixel = GlobalAlloc(GPTR, 3);
  easel_.Easel().ReplaceImage(pixel, 40000, 40000);  // 40000 x 40000 x 12 passes 2^32
  const CallResult saved = easel_.Save(1, kBmp, Variant());
  EXPECT_EQ(saved.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(easel_.Get(u"Width"), 40000);
}

}  // namespace

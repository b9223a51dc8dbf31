#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"
#include "tests/vellum/easel_fixture.h"
#include "vellum/codecs/bmp.h"
#include "vellum/core/data_handle.h"

namespace {

using vellum_testing::kNoImage;
using vellum_testing::kNotConverted;
using vellum_testing::Rgb;

class ComposeTest : public vellum_testing::EaselFixture {
 protected:
  void CreateImage(LONG width, LONG height, LONG color) {
    ASSERT_EQ(Script().Call(u"CreateImage", width, height, color).hr, S_OK);
  }
  // One channel of every pixel, row by row.
  std::vector<int> Channel(int channel) {
    std::vector<int> values;
    const std::vector<uint8_t> bytes = Bytes();
    for (size_t at = channel; at < bytes.size(); at += 3) values.push_back(bytes[at]);
    return values;
  }
  // The pixels of the image that equal `color`, as (x, y) pairs.
  std::vector<std::pair<int, int>> PixelsOf(Rgb color) {
    std::vector<std::pair<int, int>> found;
    const std::vector<uint8_t> bytes = Bytes();
    const LONG width = Width();
    for (size_t at = 0; at + 2 < bytes.size(); at += 3) {
      const auto pixel = static_cast<int>(at / 3);
      if (Rgb{bytes[at], bytes[at + 1], bytes[at + 2]} == color) {
        found.emplace_back(pixel % width, pixel / width);
      }
    }
    return found;
  }
  // The smallest rectangle holding every pixel of `color`: left, top, right, bottom.
  std::vector<int> Bounds(Rgb color) {
    std::vector<int> box = {1 << 30, 1 << 30, -1, -1};
    for (const auto& [x, y] : PixelsOf(color)) {
      box = {std::min(box[0], x), std::min(box[1], y), std::max(box[2], x), std::max(box[3], y)};
    }
    return box;
  }
  // A 24-bit BMP file of the RGB pixels, written by the codec, as a path a script passes.
  std::u16string BmpFile(const std::vector<uint8_t>& rgb, int32_t width, int32_t height) {
    std::vector<uint8_t> file(rgb.size() * 2 + 1024);
    vellum::HISDEST destination =
        vellum::OpenMemoryDestination(file.data(), static_cast<uint32_t>(file.size()));
    file.resize(vellum::WriteBMP(destination, rgb.data(), width, height, 24, 0, nullptr));
    vellum::CloseDestination(destination);
    const std::string path = directory_.File("overlay" + std::to_string(files_++) + ".bmp");
    testing_support::WriteFileBytes(path, file);
    return std::u16string(path.begin(), path.end());
  }
  std::u16string UniformBmp(int32_t width, int32_t height, Rgb color) {
    std::vector<uint8_t> rgb;
    for (int32_t i = 0; i < width * height; ++i) rgb.insert(rgb.end(), {color.r, color.g, color.b});
    return BmpFile(rgb, width, height);
  }

  testing_support::TempDir directory_;
  int files_ = 0;
};

const Rgb kRed{255, 0, 0};
const Rgb kBlack{0, 0, 0};

// ---- creation ----

TEST_F(ComposeTest, CreateImageFillsEveryPixel) {
  CreateImage(2, 1, 0x0000FF);
  EXPECT_EQ(Bytes(), (std::vector<uint8_t>{0xFF, 0, 0, 0xFF, 0, 0}));
  EXPECT_EQ(Script().Get(u"ImageFormat").Long(), 1);
  EXPECT_TRUE(Object().IsNormalized());
  CreateImage(3, 2, 0x102030);
  EXPECT_EQ(Channel(0), std::vector<int>(6, 0x30));
  EXPECT_EQ(Channel(1), std::vector<int>(6, 0x20));
  EXPECT_EQ(Channel(2), std::vector<int>(6, 0x10));
  CreateImage(0, 5, 0);  // an empty image is still an image
  EXPECT_EQ(Width(), 0);
  EXPECT_EQ(Height(), 5);
}

TEST_F(ComposeTest, CreationRefusesBadArgumentsAndKeepsTheImage) {
  CreateImage(2, 2, 0x00FF00);
  EXPECT_EQ(Script().Call(u"CreateImage", -1, 2, 0).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Call(u"CreateImage", 2, 2, 0x1000000).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Call(u"CreateGradientImage", 2, 2, 0, -1, 0).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Call(u"CreateTwoWayGradientImage", 2, -2, 0, 0, 0).Error(), E_INVALIDARG);
  EXPECT_EQ(Width(), 2);
  EXPECT_EQ(Pixel(1, 1), (Rgb{0, 255, 0}));

  // An image that cannot be had leaves none, without error information.
  const testing_support::CallResult call = Script().Call(u"CreateImage", 100000, 100000, 0);
  EXPECT_EQ(call.Error(), E_FAIL);
  EXPECT_EQ(call.description, u"");
  EXPECT_EQ(Object().Image(), nullptr);
  EXPECT_EQ(Width(), 0);
  EXPECT_EQ(Height(), 0);
  EXPECT_EQ(ErrorDescription(), u"");
}

TEST_F(ComposeTest, GradientsStepFromTheBeginColour) {
  ASSERT_EQ(Script().Call(u"CreateGradientImage", 256, 2, 0, 0xFFFFFF, 0).hr, S_OK);
  EXPECT_EQ(Script().Get(u"ImageFormat").Long(), 1);
  for (int x : {0, 1, 2, 128, 255}) {
    const auto value = static_cast<uint8_t>(x * 255 / 256);
    EXPECT_EQ(Pixel(x, 0), (Rgb{value, value, value})) << x;
    EXPECT_EQ(Pixel(x, 1), (Rgb{value, value, value})) << x;
  }
  EXPECT_EQ(Pixel(255, 0).r, 254);

  ASSERT_EQ(Script().Call(u"CreateTwoWayGradientImage", 4, 1, 0, 0x00FF00, 0).hr, S_OK);
  EXPECT_EQ(Channel(1), (std::vector<int>{0, 127, 255, 127}));

  // Vertical: rows change, columns do not; red falls from 200 to 0 in 4 steps of 50.
  ASSERT_EQ(Script().Call(u"CreateGradientImage", 2, 4, 200, 0, 1).hr, S_OK);
  EXPECT_EQ(Channel(0), (std::vector<int>{200, 200, 150, 150, 100, 100, 50, 50}));

  ASSERT_EQ(Script().Call(u"CreateGradientImage", 3, 2, 0xFFFFFF, 0xFFFFFF, 2).hr, S_OK);
  EXPECT_EQ(Bytes(), std::vector<uint8_t>(18, 0));  // another direction stays black
  EXPECT_EQ(Width(), 3);
}

// ---- filters ----

TEST_F(ComposeTest, FilterLevelsOutsideOneToHundredAreReported) {
  CreateImage(3, 3, 0x808080);
  const std::vector<uint8_t> before = Bytes();
  for (int level : {0, 101, -5}) {
    std::u16string text = ErrorDescription();
    EXPECT_EQ(Script().Call(u"SharpenImage", level).hr, S_OK);
    EXPECT_EQ(Appended(text), u"Sharpening level is incorrect\r\n");
    text = ErrorDescription();
    EXPECT_EQ(Script().Call(u"BlurImage", level).hr, S_OK);
    EXPECT_EQ(Appended(text), u"Blur level is incorrect\r\n");
  }
  EXPECT_EQ(Bytes(), before);
}

TEST_F(ComposeTest, SharpenAndBlurReplaceTheImageWithTheFilteredCopy) {
  // One pixel of 200 on black, in the middle of 3 x 3.
  std::vector<uint8_t> spot(27, 0);
  spot[12] = spot[13] = spot[14] = 200;
  Install(spot, 3, 3);
  ASSERT_EQ(Script().Call(u"SharpenImage", 100).hr, S_OK);
  EXPECT_EQ(Channel(0), (std::vector<int>{0, 0, 0, 0, 255, 0, 0, 0, 0}));

  Install(spot, 3, 3);
  ASSERT_EQ(Script().Call(u"BlurImage", 100).hr, S_OK);
  EXPECT_EQ(Channel(2), (std::vector<int>{25, 25, 25, 25, 0, 25, 25, 25, 25}));
  EXPECT_EQ(Bytes().size(), 27u);
  EXPECT_EQ(ErrorDescription(), u"");
}

TEST_F(ComposeTest, FiltersWithoutAnImageCannotConvertIt) {
  for (const char16_t* method : {u"SharpenImage", u"BlurImage"}) {
    const std::u16string text = ErrorDescription();
    EXPECT_EQ(Script().Call(method, 50).hr, S_OK);
    EXPECT_EQ(Appended(text), kNotConverted);
  }
  const std::u16string text = ErrorDescription();
  EXPECT_EQ(Script().Call(u"ChangeBrightness", 2.0).hr, S_OK);
  EXPECT_EQ(Appended(text), kNotConverted);
}

TEST_F(ComposeTest, BrightnessFollowsItsCurve) {
  EXPECT_EQ(Script().Call(u"ChangeBrightness", 1.0).hr, S_OK);  // no image needed for nothing
  EXPECT_EQ(Script().Call(u"ChangeBrightness", -0.5).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Call(u"ChangeBrightness", std::nan("")).Error(), E_INVALIDARG);
  EXPECT_EQ(ErrorDescription(), u"");

  Install({64, 255, 0, 128, 128, 128}, 2, 1);
  ASSERT_EQ(Script().Call(u"ChangeBrightness", 1.00005).hr, S_OK);
  EXPECT_EQ(Bytes(), (std::vector<uint8_t>{64, 255, 0, 128, 128, 128}));
  ASSERT_EQ(Script().Call(u"ChangeBrightness", 2.0).hr, S_OK);
  EXPECT_EQ(Pixel(0, 0), (Rgb{128, 255, 0}));
  Install({128, 128, 128}, 1, 1);
  ASSERT_EQ(Script().Call(u"ChangeBrightness", 0.5).hr, S_OK);
  EXPECT_EQ(Pixel(0, 0), (Rgb{64, 64, 64}));
  EXPECT_EQ(ErrorDescription(), u"");
}

TEST_F(ComposeTest, InvertComplementsTheWholeBlockAsItIs) {
  EXPECT_EQ(Script().Call(u"InvertImage").hr, S_OK);
  EXPECT_EQ(ErrorDescription(), kNoImage);

  // A block with bytes beyond the image is inverted whole and not normalized first.
  const HGLOBAL block = Install({0, 1, 2, 250, 255, 128}, 1, 1, 6);
  ASSERT_EQ(Script().Call(u"InvertImage").hr, S_OK);
  EXPECT_EQ(Object().Image(), block);
  EXPECT_EQ(Bytes(), (std::vector<uint8_t>{255, 254, 253, 5, 0, 127}));
  ASSERT_EQ(Script().Call(u"InvertImage").hr, S_OK);
  EXPECT_EQ(Bytes(), (std::vector<uint8_t>{0, 1, 2, 250, 255, 128}));
  EXPECT_EQ(ErrorDescription(), kNoImage);
}

// ---- drawing ----

TEST_F(ComposeTest, FillRectStaysInsideTheImage) {
  CreateImage(4, 3, 0);
  EXPECT_EQ(Script().Call(u"FillRectInImage", 1, 0, 4, 3, 0xFF).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Call(u"FillRectInImage", 0, 1, 4, 3, 0xFF).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Call(u"FillRectInImage", 2, 0, 2147483647, 1, 0xFF).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Call(u"FillRectInImage", 0, 0, 1, 1, 0x1000000).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Call(u"FillRectInImage", 0, -1, 1, 1, 0).Error(), E_INVALIDARG);
  EXPECT_EQ(Bytes(), std::vector<uint8_t>(36, 0));

  ASSERT_EQ(Script().Call(u"FillRectInImage", 1, 1, 3, 2, 0x0000FF).hr, S_OK);
  EXPECT_EQ(Channel(0), (std::vector<int>{0, 0, 0, 0, 0, 255, 255, 255, 0, 255, 255, 255}));
  ASSERT_EQ(Script().Call(u"FillRectInImage", 0, 0, 4, 3, 0x777777).hr, S_OK);
  EXPECT_EQ(Bytes(), std::vector<uint8_t>(36, 0x77));
  EXPECT_EQ(ErrorDescription(), u"");
}

TEST_F(ComposeTest, EllipsesCheckOnlyTheCentre) {
  CreateImage(9, 7, 0);
  EXPECT_EQ(Script().Call(u"DrawEllipseOnImage", -1, 3, 2, 2, 0, 0xFF).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Call(u"DrawEllipseOnImage", 3, 3, 2, 2, 0, 0x1000000).Error(), E_INVALIDARG);
  EXPECT_EQ(ErrorDescription(), u"");

  ASSERT_EQ(Script().Call(u"DrawEllipseOnImage", 4, 3, 0, 2, 0, 0xFF).hr, S_OK);
  EXPECT_EQ(PixelsOf(kRed), (std::vector<std::pair<int, int>>{{4, 1}, {4, 5}}));
  ASSERT_EQ(Script().Call(u"DrawEllipseOnImage", 4, 3, 2, 1, 1, 0xFF).hr, S_OK);
  EXPECT_EQ(Pixel(4, 3), kRed);  // filled
  EXPECT_EQ(Pixel(2, 3), kRed);
  EXPECT_EQ(Pixel(0, 3), (Rgb{0, 0, 0}));
  // A centre far outside and radii that reach in still draw, clipped.
  ASSERT_EQ(Script().Call(u"DrawEllipseOnImage", 100, 100, 200, 200, 0, 0xFF).hr, S_OK);
  EXPECT_EQ(ErrorDescription(), u"");

  std::u16string text = ErrorDescription();
  EXPECT_EQ(Script().Call(u"DrawEllipseOnImage", 4, 3, 2000000, 2, 1, 0xFF).hr, S_OK);
  EXPECT_EQ(Appended(text), u"Invalid argument\r\nCan not draw ellipce\r\n");
}

TEST_F(ComposeTest, LinesMayEndJustPastTheImage) {
  CreateImage(5, 3, 0);
  EXPECT_EQ(Script().Call(u"DrawLineOnImage", 0, 0, 5, 3, 0xFF).hr, S_OK);
  EXPECT_EQ(Script().Call(u"DrawLineOnImage", 0, 0, 6, 3, 0xFF).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Call(u"DrawLineOnImage", 0, 0, 5, 4, 0xFF).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Call(u"DrawLineOnImage", 0, -1, 5, 3, 0xFF).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Call(u"DrawLineOnImage", 0, 0, 1, 1, 0x1000000).Error(), E_INVALIDARG);

  CreateImage(5, 3, 0);
  ASSERT_EQ(Script().Call(u"DrawLineOnImage", 0, 0, 4, 2, 0x00FF00).hr, S_OK);
  EXPECT_EQ(PixelsOf(Rgb{0, 255, 0}),
            (std::vector<std::pair<int, int>>{{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 2}}));
  EXPECT_EQ(ErrorDescription(), u"");
}

TEST_F(ComposeTest, DrawingWithoutAnImageCannotConvertIt) {
  EXPECT_EQ(Script().Call(u"FillRectInImage", 0, 0, 0, 0, 0).hr, S_OK);
  EXPECT_EQ(Script().Call(u"DrawEllipseOnImage", 0, 0, 1, 1, 0, 0).hr, S_OK);
  EXPECT_EQ(Script().Call(u"DrawLineOnImage", 0, 0, 0, 0, 0).hr, S_OK);
  EXPECT_EQ(ErrorDescription(), std::u16string(kNotConverted) + kNotConverted + kNotConverted);
}

// ---- overlays: the checks made before anything is loaded ----

TEST_F(ComposeTest, MergeChecksOpacityAndColourFirst) {
  for (double opacity : {1.5, -0.01, std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_EQ(Script().Call(u"MergeWithImage", 0, 0, u"x.bmp", opacity, 0).Error(), E_INVALIDARG);
  }
  EXPECT_EQ(Script().Call(u"MergeWithImage", 0, 0, u"x.bmp", 0.5, 0x1000000).Error(), E_INVALIDARG);
  EXPECT_EQ(ErrorDescription(), u"");

  const testing_support::CallResult call = Script().Call(u"MergeWithImage", 0, 0, u"x.bmp", 1.0, 0);
  EXPECT_EQ(call.hr, DISP_E_EXCEPTION);  // Merge reports its failures to the script
  EXPECT_EQ(call.description, kNoImage);
  EXPECT_EQ(call.source, u"");
  EXPECT_EQ(ErrorDescription(), kNoImage);
}

TEST_F(ComposeTest, WatermarkChecksOpacityColourAndPositionFirst) {
  for (double opacity : {1.5, -0.5, std::numeric_limits<double>::quiet_NaN()}) {
    const testing_support::CallResult call = Script().Call(u"AddWatermark", u"x.bmp", 1, opacity);
    EXPECT_EQ(call.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(call.description, u"Opacity must be greater than 0 and less than 1");
  }
  EXPECT_EQ(Script().Call(u"AddWatermark", u"x.bmp", 1, 0.5, 0x1000000).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Call(u"AddWatermark", u"x.bmp", 9).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Call(u"AddWatermark", u"x.bmp", -1).Error(), E_INVALIDARG);
  EXPECT_EQ(ErrorDescription(), u"");

  EXPECT_EQ(Script().Call(u"AddWatermark", u"x.bmp", 8, 0.0).hr, S_OK);  // 0 and 1 are fine
  EXPECT_EQ(ErrorDescription(), kNoImage);
}

// ---- overlays ----

TEST_F(ComposeTest, MergeBlendsAllButTheTransparentColourAndClips) {
  CreateImage(4, 2, 0);
  const std::u16string overlay = BmpFile({255, 255, 255, 255, 0, 0}, 2, 1);  // white, red
  ASSERT_EQ(Script().Call(u"MergeWithImage", 1, 1, overlay, 1.0, 0xFFFFFF).hr, S_OK);
  EXPECT_EQ(PixelsOf(kRed), (std::vector<std::pair<int, int>>{{2, 1}}));  // white was skipped
  EXPECT_EQ(PixelsOf(kBlack).size(), 7u);

  // Half the red at (-1, 0): only the overlay's right pixel lands, on (0, 0).
  ASSERT_EQ(Script().Call(u"MergeWithImage", -1, 0, overlay, 0.5, 0xFFFFFF).hr, S_OK);
  EXPECT_EQ(Pixel(0, 0), (Rgb{127, 0, 0}));
  EXPECT_EQ(Pixel(1, 0), kBlack);
  EXPECT_EQ(ErrorDescription(), u"");
}

TEST_F(ComposeTest, MergeShrinksALargerOverlayOnlyWhenAsked) {
  const std::u16string overlay = UniformBmp(8, 8, kRed);
  CreateImage(4, 2, 0);
  ASSERT_EQ(Script().Call(u"MergeWithImage", 0, 0, overlay, 1.0, 0xFFFFFF, 1).hr, S_OK);
  EXPECT_EQ(Bounds(kRed), (std::vector<int>{0, 0, 1, 1}));  // 8 x 8 kept square: 2 x 2
  CreateImage(4, 2, 0);
  ASSERT_EQ(Script().Call(u"MergeWithImage", 0, 0, overlay, 1.0, 0xFFFFFF).hr, S_OK);
  EXPECT_EQ(PixelsOf(kRed).size(), 8u);  // clipped to the image
}

TEST_F(ComposeTest, MergeReturnsTheOverlaysOwnLoadFailure) {
  CreateImage(4, 2, 0);
  const std::string missing = directory_.File("missing.bmp");
  const testing_support::CallResult call = Script().Call(
      u"MergeWithImage", 0, 0, std::u16string(missing.begin(), missing.end()), 1.0, 0);
  EXPECT_EQ(call.hr, DISP_E_EXCEPTION);
  EXPECT_NE(call.description.find(u"Can not access to the image file"), std::u16string::npos);
  EXPECT_EQ(ErrorDescription(), u"");  // the overlay's text, not this object's
}

TEST_F(ComposeTest, WatermarksArePlacedByPosition) {
  const std::u16string mark = UniformBmp(50, 20, kRed);
  const struct {
    int position;
    std::vector<int> bounds;
  } cases[] = {{8, {150, 80, 199, 99}}, {1, {75, 40, 124, 59}},  {0, {75, 0, 124, 19}},
               {3, {0, 0, 49, 19}},     {7, {150, 40, 199, 59}}, {5, {0, 80, 49, 99}}};
  for (const auto& c : cases) {
    CreateImage(200, 100, 0);
    ASSERT_EQ(Script().Call(u"AddWatermark", mark, c.position, 1.0).hr, S_OK);
    EXPECT_EQ(Bounds(kRed), c.bounds) << c.position;
    EXPECT_EQ(PixelsOf(kRed).size(), 1000u) << c.position;
  }
  // A 300 x 300 mark is shrunk to 100 x 100 first (the default), then centred.
  CreateImage(200, 100, 0);
  ASSERT_EQ(Script().Call(u"AddWatermark", UniformBmp(300, 300, kRed), 1, 1.0).hr, S_OK);
  EXPECT_EQ(Bounds(kRed), (std::vector<int>{50, 0, 149, 99}));
  EXPECT_EQ(ErrorDescription(), u"");
}

TEST_F(ComposeTest, WatermarkDefaultsAndFailures) {
  CreateImage(4, 4, 0x800000);
  const std::u16string mark = UniformBmp(2, 2, kRed);
  ASSERT_EQ(Script().Call(u"AddWatermark", mark).hr, S_OK);  // centre, half opacity
  EXPECT_EQ(Pixel(1, 1), (Rgb{127, 0, 64}));
  EXPECT_EQ(Pixel(0, 0), (Rgb{0, 0, 128}));
  const std::vector<uint8_t> before = Bytes();
  ASSERT_EQ(Script().Call(u"AddWatermark", mark, 3, 0.0).hr, S_OK);
  EXPECT_EQ(Bytes(), before);
  // The default transition colour, white, is left out.
  ASSERT_EQ(Script().Call(u"AddWatermark", UniformBmp(2, 2, Rgb{255, 255, 255}), 3, 1.0).hr, S_OK);
  EXPECT_EQ(Bytes(), before);
  EXPECT_EQ(ErrorDescription(), u"");

  // A mark that does not load ends the call quietly; this object's text is untouched.
  const std::string missing = directory_.File("missing.bmp");
  EXPECT_EQ(Script().Call(u"AddWatermark", std::u16string(missing.begin(), missing.end())).hr,
            S_OK);
  EXPECT_EQ(Bytes(), before);
  EXPECT_EQ(ErrorDescription(), u"");
}

}  // namespace

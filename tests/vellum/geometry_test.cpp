#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/vellum/easel_fixture.h"

namespace {

using vellum_testing::kNoImage;
using vellum_testing::kNotConverted;
using vellum_testing::Rgb;

class GeometryTest : public vellum_testing::EaselFixture {
 protected:
  void CreateImage(LONG width, LONG height, LONG color = 0x336699) {
    ASSERT_EQ(Script().Call(u"CreateImage", width, height, color).hr, S_OK);
  }
  // Width x height after the call, or {-1, -1} when the call did not return S_OK.
  std::pair<LONG, LONG> SizeAfter(const testing_support::CallResult& call) {
    if (call.hr != S_OK) return {-1, -1};
    return {Width(), Height()};
  }
};

TEST_F(GeometryTest, RotateChecksItsArgumentsBeforeTheImage) {
  EXPECT_EQ(Script().Call(u"RotateImage", 0, 0).hr, S_OK);  // nothing to do, image or not
  EXPECT_EQ(Script().Call(u"RotateImage", 360, 0).hr, S_OK);
  EXPECT_EQ(Script().Call(u"RotateImage", 361, 0).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Call(u"RotateImage", -90, 0).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Call(u"RotateImage", 90, 16777216).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Call(u"RotateImage", 0, -1).Error(), E_INVALIDARG);  // colour comes first
  EXPECT_EQ(ErrorDescription(), u"");

  // Without an image the failure is only in the text; the script sees S_OK.
  EXPECT_EQ(Script().Call(u"RotateImage", 45, 0).hr, S_OK);
  EXPECT_EQ(ErrorDescription(), kNoImage);
}

// A 1 x 1 image turned by a small angle stays 1 x 1, and later calls still work.
TEST_F(GeometryTest, OnePixelRotatedStaysAnImage) {
  CreateImage(1, 1, 0x112233);
  ASSERT_EQ(Script().Call(u"RotateImage", 10, 0).hr, S_OK);
  EXPECT_EQ(SizeAfter(Script().Call(u"RotateImage", 350, 0)), (std::pair<LONG, LONG>(1, 1)));
  EXPECT_EQ(Pixel(0, 0), (Rgb{0x33, 0x22, 0x11}));
  EXPECT_EQ(SizeAfter(Script().Call(u"ResizeImage", 4, 4)), (std::pair<LONG, LONG>(4, 4)));
  EXPECT_EQ(ErrorDescription(), u"");
}

TEST_F(GeometryTest, RightAngleRotationsMovePixelsAndSwapTheSize) {
  InstallPattern(3, 2);
  ASSERT_EQ(Script().Call(u"RotateImage", 90, 0).hr, S_OK);
  ASSERT_EQ(Width(), 2);
  ASSERT_EQ(Height(), 3);
  // Clockwise: source (x, y) lands at column H - 1 - y of row x.
  for (uint32_t y = 0; y < 2; ++y) {
    for (uint32_t x = 0; x < 3; ++x) EXPECT_EQ(Pixel(1 - y, x), Pattern(x, y, 3)) << x << "," << y;
  }
  ASSERT_EQ(Script().Call(u"RotateImage", 270, 0).hr, S_OK);  // and back
  EXPECT_EQ(Width(), 3);
  EXPECT_EQ(Height(), 2);
  EXPECT_EQ(Pixel(2, 0), Pattern(2, 0, 3));
  const std::vector<uint8_t> before = Bytes();
  ASSERT_EQ(Script().Call(u"RotateImage", 180, 0).hr, S_OK);
  EXPECT_EQ(Pixel(0, 0), Pattern(2, 1, 3));
  ASSERT_EQ(Script().Call(u"RotateImage", 180, 0).hr, S_OK);
  EXPECT_EQ(Bytes(), before);
  EXPECT_EQ(ErrorDescription(), u"");
}

TEST_F(GeometryTest, AnyOtherAngleGrowsTheImageAndFillsTheCorners) {
  CreateImage(100, 100, 0x000000);
  ASSERT_EQ(Script().Call(u"RotateImage", 45, 0xFFFFFF).hr, S_OK);
  // Corners (0, 0), (0, 100), (100, 100), (100, 0) project to x in -70 .. 70 and
  // y in 0 .. 141 (each coordinate truncated).
  EXPECT_EQ(Width(), 140);
  EXPECT_EQ(Height(), 141);
  const Rgb white{255, 255, 255};
  EXPECT_EQ(Pixel(0, 0), white);
  EXPECT_EQ(Pixel(139, 0), white);
  EXPECT_EQ(Pixel(0, 140), white);
  EXPECT_EQ(Pixel(139, 140), white);
  EXPECT_EQ(Pixel(70, 70), (Rgb{0, 0, 0}));
  EXPECT_EQ(Bytes().size(), 140u * 141 * 3);
}

TEST_F(GeometryTest, FlipsMirrorThePixels) {
  InstallPattern(3, 2);
  ASSERT_EQ(Script().Call(u"FlipImage", 0).hr, S_OK);
  EXPECT_EQ(Pixel(0, 0), Pattern(2, 0, 3));
  EXPECT_EQ(Pixel(2, 1), Pattern(0, 1, 3));
  ASSERT_EQ(Script().Call(u"FlipImage", 1).hr, S_OK);
  EXPECT_EQ(Pixel(0, 0), Pattern(2, 1, 3));
  EXPECT_EQ(Pixel(1, 1), Pattern(1, 0, 3));

  const std::vector<uint8_t> before = Bytes();
  const std::u16string text = ErrorDescription();
  EXPECT_EQ(Script().Call(u"FlipImage", 2).hr, S_OK);
  EXPECT_EQ(Appended(text), u"Can not flip the image\r\n");
  EXPECT_EQ(Bytes(), before);
}

TEST_F(GeometryTest, FlipWithoutAnImageSaysSo) {
  EXPECT_EQ(Script().Call(u"FlipImage", 0).hr, S_OK);
  EXPECT_EQ(ErrorDescription(), kNoImage);
}

TEST_F(GeometryTest, CropCopiesTheRectangleOrRefusesIt) {
  InstallPattern(40, 40);
  EXPECT_EQ(Script().Call(u"CropImage", 10, 10, 50, 50).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Call(u"CropImage", -1, 0, 5, 5).Error(), E_INVALIDARG);
  // Sums that would wrap in 32 bits are refused too.
  EXPECT_EQ(Script().Call(u"CropImage", 30, 0, 2147483647, 5).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Call(u"CropImage", 0, 30, 5, 2147483647).Error(), E_INVALIDARG);
  EXPECT_EQ(ErrorDescription(), u"");
  EXPECT_EQ(Width(), 40);

  ASSERT_EQ(Script().Call(u"CropImage", 5, 7, 30, 33).hr, S_OK);  // reaches the bottom edge
  ASSERT_EQ(Width(), 30);
  ASSERT_EQ(Height(), 33);
  EXPECT_EQ(Pixel(0, 0), Pattern(5, 7, 40));
  EXPECT_EQ(Pixel(29, 32), Pattern(34, 39, 40));
  EXPECT_EQ(Bytes().size(), 30u * 33 * 3);
  EXPECT_EQ(ErrorDescription(), u"");
}

TEST_F(GeometryTest, CropWithoutAnImagePassesOnlyAnEmptyRectangle) {
  EXPECT_EQ(Script().Call(u"CropImage", 0, 0, 1, 1).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Call(u"CropImage", 0, 0, 0, 0).hr, S_OK);
  EXPECT_EQ(ErrorDescription(), kNotConverted);
}

TEST_F(GeometryTest, ResizeKeepsProportionsInsideTheBox) {
  const struct {
    LONG width, height, keep;
    std::pair<LONG, LONG> expected;
  } cases[] = {
      {300, 0, 1, {300, 200}}, {300, 300, 1, {300, 200}}, {300, 300, 0, {300, 300}},
      {0, 100, 1, {150, 100}}, {900, 100, 1, {150, 100}}, {1200, 1200, 1, {1200, 800}},
  };
  for (const auto& c : cases) {
    CreateImage(600, 400);
    EXPECT_EQ(SizeAfter(Script().Call(u"ResizeImage", c.width, c.height, 1, c.keep)), c.expected)
        << c.width << "x" << c.height << " keep " << c.keep;
  }
  // The width ratio is a float: 0.7 rounds down, so 10 x 0.7 truncates to 6.
  CreateImage(10, 10);
  EXPECT_EQ(SizeAfter(Script().Call(u"ResizeImage", 7, 0)), std::make_pair(7, 6));
  EXPECT_EQ(ErrorDescription(), u"");
}

TEST_F(GeometryTest, ResizeAlgorithmsProduceTheirPixels) {
  InstallPattern(4, 4);
  ASSERT_EQ(Script().Call(u"ResizeImage", 2, 2, 1).hr, S_OK);  // nearest neighbour
  EXPECT_EQ(Pixel(0, 0), Pattern(0, 0, 4));
  EXPECT_EQ(Pixel(1, 0), Pattern(2, 0, 4));
  EXPECT_EQ(Pixel(0, 1), Pattern(0, 2, 4));
  EXPECT_EQ(Pixel(1, 1), Pattern(2, 2, 4));

  // Bilinear from (black, white) to 4 pixels: 0, 127, 255, 255.
  Install({0, 0, 0, 255, 255, 255}, 2, 1);
  ASSERT_EQ(Script().Call(u"ResizeImage", 4, 1, 0, 0).hr, S_OK);
  EXPECT_EQ(Bytes(), (std::vector<uint8_t>{0, 0, 0, 127, 127, 127, 255, 255, 255, 255, 255, 255}));

  // A uniform image stays uniform under bicubic and every filter.
  for (LONG filter = 0; filter <= 13; ++filter) {
    CreateImage(7, 5, 0x804020);
    ASSERT_EQ(Script().Put(u"ResizeFilter", filter).hr, S_OK);
    ASSERT_EQ(Script().Call(u"ResizeImage", 3, 9, 3, 0).hr, S_OK);
    EXPECT_EQ(SizeAfter(Script().Call(u"ResizeImage", 11, 2, 2, 0)), std::make_pair(11, 2));
    EXPECT_EQ(Pixel(10, 1), (Rgb{0x20, 0x40, 0x80})) << filter;
  }
  EXPECT_EQ(ErrorDescription(), u"");
}

TEST_F(GeometryTest, ResizeFailures) {
  EXPECT_EQ(Script().Call(u"ResizeImage", -1, 10).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Call(u"ResizeImage", 10, 10, 4).hr, S_OK);
  EXPECT_EQ(ErrorDescription(), u"This image resizing algorithm is not supported\r\n");
  std::u16string text = ErrorDescription();
  EXPECT_EQ(Script().Call(u"ResizeImage", 10, 10).hr, S_OK);
  EXPECT_EQ(Appended(text), kNoImage);

  CreateImage(20, 10);
  text = ErrorDescription();
  EXPECT_EQ(Script().Call(u"ResizeImage", 10, 10, -1).hr, S_OK);
  EXPECT_EQ(Appended(text), u"Operation failed\r\n");
  text = ErrorDescription();
  EXPECT_EQ(Script().Call(u"ResizeImage", 0, 0, 0, 0).hr, S_OK);  // the core refuses a 0 x 0 image
  EXPECT_EQ(Appended(text), u"Invalid argument\r\nOperation failed\r\n");
  EXPECT_EQ(Width(), 20);
  EXPECT_EQ(Height(), 10);
}

TEST_F(GeometryTest, AnInvalidResizeFilterIsAnArgumentError) {
  CreateImage(20, 10);
  const std::vector<uint8_t> before = Bytes();
  for (LONG filter : {14, -1}) {
    ASSERT_EQ(Script().Put(u"ResizeFilter", filter).hr, S_OK);
    const testing_support::CallResult call = Script().Call(u"ResizeImage", 100, 100, 3);
    EXPECT_EQ(call.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(call.description, u"Invalid ResizeFilter");
  }
  EXPECT_EQ(Bytes(), before);
  EXPECT_EQ(ErrorDescription(), u"");
}

TEST_F(GeometryTest, AnImpossibleSizeRaisesMemoryWithoutAppendingIt) {
  CreateImage(20, 10);
  EXPECT_EQ(Script().Call(u"ResizeImage", 100000, 100000, 0, 0).hr, S_OK);
  EXPECT_EQ(TakeErrorDescription(), u"Not enough memory to perform the operation");
  EXPECT_EQ(ErrorDescription(), u"");
  EXPECT_EQ(Width(), 20);
  // A width that follows the height past the 32-bit range saturates (and cannot be
  // had) instead of wrapping into a size the core would refuse.
  Install({1, 2, 3, 4, 5, 6}, 2, 1);
  EXPECT_EQ(Script().Call(u"ResizeImage", 0, 2147483647, 0, 1).hr, S_OK);
  EXPECT_EQ(ErrorDescription(), u"");
  EXPECT_EQ(Width(), 2);
}

// The working image is read as RGB without normalizing; a block too small for that is
// not read past its end.
TEST_F(GeometryTest, ResizeRefusesABlockTooSmallForItsImage) {
  Install({1, 2, 3}, 4, 4);
  EXPECT_EQ(Script().Call(u"ResizeImage", 2, 2).hr, S_OK);
  EXPECT_EQ(ErrorDescription(), std::u16string(u"Invalid argument\r\n"
                                               u"Can not convert image to the BMP format\r\n") +
                                    kNotConverted);
}

TEST_F(GeometryTest, ThumbnailsCoverTheBoxWithResizesProportions) {
  const struct {
    std::vector<int> arguments;
    std::pair<LONG, LONG> expected;
  } cases[] = {
      {{}, {225, 150}},
      {{100}, {225, 150}},
      {{100, -1}, {99, 66}},
      {{200, 150}, {225, 150}},
      {{-1, 40}, {60, 40}},
      {{90, 90, 0, 0}, {90, 90}},
      {{300, 300, 1}, {450, 300}},
  };
  for (const auto& c : cases) {
    CreateImage(600, 400);
    std::vector<Variant> arguments;
    for (int value : c.arguments) arguments.push_back(Variant::Long(value));
    const testing_support::CallResult call =
        Script().Invoke(Script().Id(u"CreateThumbnail"), DISPATCH_METHOD, std::move(arguments));
    EXPECT_EQ(SizeAfter(call), c.expected) << c.arguments.size();
  }
  // Single-precision ratios on both sides: a height of 7 on a 10 x 10 image gives a width
  // of 6 (10 x float(0.7)), and ResizeImage then makes the height 10 x float(0.6) = 6.
  CreateImage(10, 10);
  EXPECT_EQ(SizeAfter(Script().Call(u"CreateThumbnail", -1, 7)), std::make_pair(6, 6));
  EXPECT_EQ(ErrorDescription(), u"");
}

TEST_F(GeometryTest, ThumbnailFailures) {
  const testing_support::CallResult call = Script().Call(u"CreateThumbnail", -1, -1);
  EXPECT_EQ(call.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(call.description, u"Either Width or Height must be set");
  EXPECT_EQ(ErrorDescription(), u"");

  EXPECT_EQ(Script().Call(u"CreateThumbnail").hr, S_OK);
  EXPECT_EQ(ErrorDescription(), kNoImage);

  // ResizeImage's own refusals do not reach the script.
  CreateImage(60, 40);
  ASSERT_EQ(Script().Put(u"ResizeFilter", 14).hr, S_OK);
  EXPECT_EQ(Script().Call(u"CreateThumbnail", 30, 20, 3).hr, S_OK);
  EXPECT_EQ(Script().Call(u"CreateThumbnail", -5, 20, 0, 0).hr, S_OK);
  EXPECT_EQ(Width(), 60);
}

}  // namespace

#include <gtest/gtest.h>

#include <vector>

#include "tests/vellum/easel_fixture.h"

namespace {

using NormalizeTest = vellum_testing::EaselFixture;

const std::vector<uint8_t> kRgb = {255, 0,  0,  0,  255, 0,  0,  0,  255,  // red green blue
                                   10,  20, 30, 40, 50,  60, 70, 80, 90};

TEST_F(NormalizeTest, WithoutAnImageItFailsQuietly) {
  EXPECT_FALSE(Object().NormalizeImage(0, nullptr));
  EXPECT_EQ(ErrorDescription(), u"");
}

TEST_F(NormalizeTest, AnRgbBufferOfItsOwnSizeIsAlreadyNormal) {
  const HGLOBAL block = Install(kRgb, 3, 2);
  ASSERT_TRUE(Object().NormalizeImage(0, nullptr));
  EXPECT_EQ(Object().Image(), block);  // the round trip would give these very bytes
  EXPECT_TRUE(Object().IsNormalized());
  EXPECT_EQ(Bytes(), kRgb);
}

TEST_F(NormalizeTest, AnyOtherBufferMakesTheBmpRoundTrip) {
  // An RGB buffer with bytes to spare comes back exactly as large as the image.
  const HGLOBAL block = Install(kRgb, 3, 2, kRgb.size() + 7);
  ASSERT_TRUE(Object().NormalizeImage(0, nullptr));
  EXPECT_NE(Object().Image(), block);
  EXPECT_EQ(Bytes(), kRgb);
  EXPECT_TRUE(Object().NormalizeImage(0, nullptr));  // the flag makes it a no-op now
  EXPECT_EQ(Width(), 3);
  EXPECT_EQ(Height(), 2);
}

// A 2 x 2 image also shows that the round trip has room for a whole palette.
TEST_F(NormalizeTest, IndexedImagesAreExpandedThroughTheirPalette) {
  std::vector<RGBQUAD> palette(256, RGBQUAD{0, 0, 0, 0});
  palette[1] = {30, 20, 10, 0};  // blue, green, red
  palette[2] = {0, 0, 255, 0};
  palette[255] = {1, 2, 3, 0};
  Install({1, 2, 255, 0}, 2, 2);
  ASSERT_TRUE(Object().NormalizeImage(256, palette.data()));
  EXPECT_EQ(Bytes(), (std::vector<uint8_t>{10, 20, 30, 255, 0, 0, 3, 2, 1, 0, 0, 0}));

  // Sixteen colours: four bits per pixel, the high nibble first, rows on a byte.
  Install({0x12, 0xF0, 0x21, 0x00}, 3, 2);
  palette[15] = {9, 8, 7, 0};
  ASSERT_TRUE(Object().NormalizeImage(16, palette.data()));
  EXPECT_EQ(Bytes(), (std::vector<uint8_t>{10, 20, 30, 255, 0, 0, 7, 8, 9,  //
                                           255, 0, 0, 10, 20, 30, 0, 0, 0}));
}

TEST_F(NormalizeTest, ABufferShorterThanItsImageIsNotConverted) {
  const HGLOBAL block = Install({1, 2, 3}, 4, 4);
  EXPECT_FALSE(Object().NormalizeImage(0, nullptr));
  EXPECT_EQ(Object().Image(), block);  // kept
  EXPECT_EQ(ErrorDescription(), u"Invalid argument\r\nCan not convert image to the BMP format\r\n");
}

TEST_F(NormalizeTest, AnImageTooLargeForTheRoundTripReportsMemory) {
  Install({1, 2, 3}, 100000, 100000);
  EXPECT_FALSE(Object().NormalizeImage(256, nullptr));
  const std::u16string text = ErrorDescription();
  EXPECT_EQ(text.substr(text.size() - 44), u"Not enough memory to perform the operation\r\n");
}

}  // namespace

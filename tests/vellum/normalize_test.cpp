#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/kernel/global_memory.h"
#include "tests/support/automation.h"
#include "tests/vellum/vellum_objects.h"
#include "vellum/easel.h"

namespace {

using vellum::Easel;

class NormalizeTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(object_); }
  Easel& Object() { return *vellum_testing::AsEasel(object_); }
  std::u16string ErrorDescription() {
    return testing_support::Automation(object_.Get()).Get(u"ErrorDescription").Text();
  }
  // Installs a working image: `bytes` in a new global block of `blockSize` bytes.
  HGLOBAL Install(const std::vector<uint8_t>& bytes, uint32_t width, int32_t height,
                  size_t blockSize = 0) {
    HGLOBAL block = GlobalAlloc(GPTR, blockSize != 0 ? blockSize : bytes.size());
    std::memcpy(block, bytes.data(), bytes.size());
    Object().ReplaceImage(block, width, height);
    return block;
  }
  std::vector<uint8_t> Pixels() {
    const auto* data = static_cast<const uint8_t*>(GlobalLock(Object().Image()));
    std::vector<uint8_t> pixels(data, data + GlobalSize(Object().Image()));
    GlobalUnlock(Object().Image());
    return pixels;
  }
  LONG Dimension(const char16_t* name) {
    return testing_support::Automation(object_.Get()).Get(name).Long();
  }

  ComPtr<IDispatch> object_ = vellum_testing::CreateDispatch(vellum::CLSID_Easel);
};

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
  EXPECT_EQ(Pixels(), kRgb);
}

TEST_F(NormalizeTest, AnyOtherBufferMakesTheBmpRoundTrip) {
  // An RGB buffer with bytes to spare comes back exactly as large as the image.
  const HGLOBAL block = Install(kRgb, 3, 2, kRgb.size() + 7);
  ASSERT_TRUE(Object().NormalizeImage(0, nullptr));
  EXPECT_NE(Object().Image(), block);
  EXPECT_EQ(Pixels(), kRgb);
  EXPECT_TRUE(Object().NormalizeImage(0, nullptr));  // the flag makes it a no-op now
  EXPECT_EQ(Dimension(u"Width"), 3);
  EXPECT_EQ(Dimension(u"Height"), 2);
}

// A 2 x 2 image also shows that the round trip has room for a whole palette.
TEST_F(NormalizeTest, IndexedImagesAreExpandedThroughTheirPalette) {
  std::vector<RGBQUAD> palette(256, RGBQUAD{0, 0, 0, 0});
  palette[1] = {30, 20, 10, 0};  // blue, green, red
  palette[2] = {0, 0, 255, 0};
  palette[255] = {1, 2, 3, 0};
  Install({1, 2, 255, 0}, 2, 2);
  ASSERT_TRUE(Object().NormalizeImage(256, palette.data()));
  EXPECT_EQ(Pixels(), (std::vector<uint8_t>{10, 20, 30, 255, 0, 0, 3, 2, 1, 0, 0, 0}));

  // Sixteen colours: four bits per pixel, the high nibble first, rows on a byte.
  Install({0x12, 0xF0, 0x21, 0x00}, 3, 2);
  palette[15] = {9, 8, 7, 0};
  ASSERT_TRUE(Object().NormalizeImage(16, palette.data()));
  EXPECT_EQ(Pixels(), (std::vector<uint8_t>{10, 20, 30, 255, 0, 0, 7, 8, 9,  //
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

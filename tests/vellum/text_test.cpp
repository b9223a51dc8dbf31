#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/kernel/global_memory.h"
#include "tests/support/automation.h"
#include "tests/vellum/vellum_objects.h"
#include "vellum/easel.h"
#include "vellum/pixelops/text_render.h"

namespace {

using testing_support::Automation;
using testing_support::CallResult;

constexpr COLORREF kWhite = 0xFFFFFF;
constexpr COLORREF kRed = 0x0000FF;

class TextTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(object_); }
  Automation Script() { return Automation(object_.Get()); }
  Automation Font() { return Automation(font_.Get()); }
  vellum::Easel& Object() { return *vellum_testing::AsEasel(object_); }
  std::u16string ErrorDescription() { return Script().Get(u"ErrorDescription").Text(); }

  // A white working image of the given size.
  void InstallImage(uint32_t width, uint32_t height) {
    const size_t bytes = size_t{width} * height * 3;
    HGLOBAL block = GlobalAlloc(GPTR, bytes);
    std::memset(block, 0xFF, bytes);
    Object().ReplaceImage(block, width, static_cast<int32_t>(height));
  }
  // The colours of the working image's pixels, rows top to bottom.
  std::vector<COLORREF> Pixels() {
    const auto* data = static_cast<const uint8_t*>(GlobalLock(Object().Image()));
    std::vector<COLORREF> pixels(GlobalSize(Object().Image()) / 3);
    for (size_t i = 0; i < pixels.size(); ++i) {
      pixels[i] = data[3 * i] | data[3 * i + 1] << 8 | data[3 * i + 2] << 16;
    }
    GlobalUnlock(Object().Image());
    return pixels;
  }
  // The rightmost column holding a pixel that is not white, plus one.
  LONG InkRight(uint32_t width) {
    const std::vector<COLORREF> pixels = Pixels();
    LONG right = 0;
    for (size_t i = 0; i < pixels.size(); ++i) {
      if (pixels[i] != kWhite) right = std::max<LONG>(right, static_cast<LONG>(i % width) + 1);
    }
    return right;
  }
  // An argument error: DISP_E_EXCEPTION with the message, ErrorDescription untouched.
  void ExpectArgumentError(const CallResult& result, const std::u16string& message) {
    EXPECT_EQ(result.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(result.description, message);
    EXPECT_EQ(ErrorDescription(), u"");
  }

  ComPtr<IDispatch> object_ = vellum_testing::CreateDispatch(vellum::CLSID_Easel);
  ComPtr<IDispatch> font_ = [this] {
    ComPtr<IDispatch> font;
    Automation(object_.Get())
        .Get(u"Font")
        .value.pdispVal->QueryInterface(IID_IDispatch, font.ReceiveVoid());
    return font;
  }();
};

TEST_F(TextTest, MeasuringNeedsAText) {
  ExpectArgumentError(Script().Get(u"TextWidth"), u"The Text property has not been set");
  ExpectArgumentError(Script().Get(u"TextHeight", u""), u"The Text property has not been set");
  LONG value = 0;
  EXPECT_EQ(Object().get_TextWidth(nullptr, nullptr), E_POINTER);
  EXPECT_EQ(Object().get_TextHeight(nullptr, &value), DISP_E_EXCEPTION);
}

TEST_F(TextTest, MeasurementsAreCachedUntilTheTextChanges) {
  ASSERT_EQ(Script().Put(u"Text", u"Hello").hr, S_OK);
  const LONG width = Script().Get(u"TextWidth").Long();
  const LONG height = Script().Get(u"TextHeight").Long();
  EXPECT_GT(width, 20);
  EXPECT_GT(height, 10);
  // A larger font is not measured while the cache holds...
  ASSERT_EQ(Font().Put(u"Height", -48).hr, S_OK);
  EXPECT_EQ(Script().Get(u"TextWidth").Long(), width);
  // ...but setting the text again measures anew.
  ASSERT_EQ(Script().Put(u"Text", u"Hello").hr, S_OK);
  const LONG larger = Script().Get(u"TextWidth").Long();
  EXPECT_GT(larger, 2 * width);
  // A measured argument refills both cached values and leaves Text alone.
  ASSERT_EQ(Font().Put(u"Height", -12).hr, S_OK);
  const LONG argumentWidth = Script().Get(u"TextWidth", u"Hello").Long();
  EXPECT_LT(argumentWidth, larger);
  EXPECT_LT(Script().Get(u"TextHeight").Long(), height);
  EXPECT_EQ(Script().Get(u"TextWidth").Long(), argumentWidth);
  EXPECT_EQ(Script().Get(u"Text").Text(), u"Hello");
  // Texts that are not valid UTF-16 are measured too.
  EXPECT_GT(Script()
                .Get(u"TextWidth", std::u16string(u"a\xD800"
                                                  u"b"))
                .Long(),
            0);
}

TEST_F(TextTest, AFontThatCannotBeDrawnCannotBeMeasured) {
  ASSERT_EQ(Font().Put(u"Height", -40000).hr, S_OK);
  ExpectArgumentError(Script().Get(u"TextWidth", u"a"),
                      u"Could not get text dimensions.  Win32 Error: 22");
}

TEST_F(TextTest, DrawingChecksItsBoxFirst) {
  InstallImage(40, 30);
  ExpectArgumentError(Script().Call(u"DrawTextOnImage", -1, 0, 10, 10),
                      u"Left must be greater than 0");
  ExpectArgumentError(Script().Call(u"DrawTextOnImage", 0, 0, -1, 10),
                      u"Width must be greater than 0");
  ExpectArgumentError(Script().Call(u"DrawTextOnImage", 0, 0, 10, -1),
                      u"Height must be greater than 0");
  ExpectArgumentError(
      Script().Call(u"DrawTextOnImage", 5, 0, 40, 10),
      u"The specified Width is too great for the specified Left position and image size");
  ExpectArgumentError(
      Script().Call(u"DrawTextOnImage", 0, 5, 10, 30),
      u"The specified Height is too great for the specified Top position and image size");
  // A top above the image passes only while the box still ends inside it.
  ExpectArgumentError(
      Script().Call(u"DrawTextOnImage", 0, -5, 10, 4),
      u"The specified Height is too great for the specified Top position and image size");
  ExpectArgumentError(Script().Call(u"DrawTextOnImage", 0, 0, 10, 10),
                      u"The Text property has not been set");
  EXPECT_EQ(Script().Call(u"DrawTextOnImage", 0, -5, 10, 5, u"x").hr, S_OK);
  EXPECT_EQ(ErrorDescription(), u"");
}

TEST_F(TextTest, DrawingTakesItsTextAndReportsAMissingImage) {
  EXPECT_EQ(Script().Call(u"DrawTextOnImage", 0, 0, 0, 0, u"word").hr, S_OK);
  EXPECT_EQ(Script().Get(u"Text").Text(), u"word");
  EXPECT_EQ(ErrorDescription(), u"Image could not be converted to the BMP format\r\n");

  InstallImage(100, 20);
  ASSERT_EQ(Script().Put(u"Text", u"W").hr, S_OK);
  const LONG narrow = Script().Get(u"TextWidth").Long();
  EXPECT_EQ(Script().Call(u"DrawTextOnImage", 0, 0, 100, 20, u"WWW").hr, S_OK);
  EXPECT_EQ(Script().Get(u"Text").Text(), u"WWW");
  EXPECT_GT(Script().Get(u"TextWidth").Long(), 2 * narrow);  // the cache was emptied
}

TEST_F(TextTest, HardEdgedTextIsTheFontColourAndCutWithAnEllipsis) {
  InstallImage(300, 40);
  ASSERT_EQ(Font().Put(u"Color", static_cast<int>(kRed)).hr, S_OK);
  ASSERT_EQ(Font().Put(u"Height", -16).hr, S_OK);
  const char16_t* text = u"alpha beta gamma delta epsilon";
  ASSERT_EQ(Script().Call(u"DrawTextOnImage", 0, 0, 300, 40, text).hr, S_OK);
  const std::vector<COLORREF> pixels = Pixels();
  EXPECT_EQ(std::set<COLORREF>(pixels.begin(), pixels.end()), (std::set<COLORREF>{kWhite, kRed}));
  const LONG whole = InkRight(300);

  InstallImage(300, 40);
  const LONG room = Script().Get(u"TextWidth", u"alpha beta...").Long() + 3;
  ASSERT_LT(room, whole);
  ASSERT_EQ(Script().Call(u"DrawTextOnImage", 10, 0, room, 40, text).hr, S_OK);
  EXPECT_LE(InkRight(300), 10 + room);
  EXPECT_GT(InkRight(300), 10 + room / 2);
  EXPECT_EQ(ErrorDescription(), u"");
}

TEST_F(TextTest, AntiAliasedTextBlendsTheColour) {
  InstallImage(200, 40);
  ASSERT_EQ(Font().Put(u"Height", -20).hr, S_OK);
  ASSERT_EQ(Script().Put(u"AntiAliasFactor", 4).hr, S_OK);
  ASSERT_EQ(Script().Call(u"DrawTextOnImage", 2, 2, 0, 0, u"Smooth").hr, S_OK);
  const std::vector<COLORREF> pixels = Pixels();
  const std::set<COLORREF> colors(pixels.begin(), pixels.end());
  EXPECT_TRUE(colors.count(0));
  EXPECT_GT(colors.size(), 4u);  // grays between black and white
  EXPECT_EQ(ErrorDescription(), u"");
}

// Enlarged eight times for anti-aliasing, a 150-pixel font is drawn at 1200 pixels.
TEST_F(TextTest, AntiAliasedTextOfALargeFontIsDrawn) {
  InstallImage(600, 200);
  ASSERT_EQ(Font().Put(u"Height", 150).hr, S_OK);
  ASSERT_EQ(Script().Put(u"AntiAliasFactor", 8).hr, S_OK);
  ASSERT_EQ(Script().Call(u"DrawTextOnImage", 0, 0, 0, 0, u"Big").hr, S_OK);
  EXPECT_EQ(ErrorDescription(), u"");
  EXPECT_GT(InkRight(600), 150);
  const std::vector<COLORREF> pixels = Pixels();
  EXPECT_GT(std::count(pixels.begin(), pixels.end(), COLORREF{0}), 2000);
}

TEST_F(TextTest, CoreFailuresAreReportedAsEditingFailures) {
  InstallImage(50, 20);
  ASSERT_EQ(Script().Put(u"AntiAliasFactor", 9).hr, S_OK);
  EXPECT_EQ(Script().Call(u"DrawTextOnImage", 0, 0, 10, 10, u"x").hr, S_OK);
  EXPECT_EQ(ErrorDescription(), u"Invalid argument\r\nCan not draw the text\r\n");
  ASSERT_EQ(Script().Put(u"AntiAliasFactor", 0).hr, S_OK);
  ASSERT_EQ(Font().Put(u"Height", -40000).hr, S_OK);
  EXPECT_EQ(Script().Call(u"DrawTextOnImage", 0, 0, 10, 10, u"x").hr, S_OK);
  EXPECT_EQ(ErrorDescription(),
            u"Invalid argument\r\nCan not draw the text\r\n"
            u"Font creation failed\r\nCan not draw the text\r\n");
}

}  // namespace

#include "vellum/pixelops/text_render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/gdi/device.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/objects.h"
#include "vellum/core/conversions.h"
#include "vellum/core/entry_frame.h"

namespace {

using vellum::CoreLastError;

constexpr COLORREF kGray = 0x808080;
constexpr COLORREF kWhite = 0xFFFFFF;
constexpr COLORREF kBlue = 0xCC6633;
constexpr UINT kBoxFormat = DT_NOPREFIX | DT_WORD_ELLIPSIS;

struct Image {
  Image(uint32_t w, uint32_t h, COLORREF color) : width(w), height(h), rgb(size_t{w} * h * 3) {
    for (size_t i = 0; i < size_t{w} * h; ++i) vellum::StoreColor(&rgb[i * 3], color);
  }
  COLORREF At(uint32_t x, uint32_t y) const {
    return vellum::PixelColor(&rgb[(size_t{y} * width + x) * 3]);
  }
  uint32_t width;
  uint32_t height;
  std::vector<uint8_t> rgb;
};

// The pixels an operation changed.
struct Change {
  std::set<std::pair<uint32_t, uint32_t>> where;
  std::set<COLORREF> colors;
  RECT bounds{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};  // right and bottom exclusive
  LONG Width() const { return bounds.right - bounds.left; }
  LONG Height() const { return bounds.bottom - bounds.top; }
};

Change Compare(const Image& before, const Image& after) {
  Change change;
  for (uint32_t y = 0; y < before.height; ++y) {
    for (uint32_t x = 0; x < before.width; ++x) {
      if (before.At(x, y) == after.At(x, y)) continue;
      change.where.insert({x, y});
      change.colors.insert(after.At(x, y));
      change.bounds = {std::min<LONG>(change.bounds.left, x), std::min<LONG>(change.bounds.top, y),
                       std::max<LONG>(change.bounds.right, x + 1),
                       std::max<LONG>(change.bounds.bottom, y + 1)};
    }
  }
  return change;
}

LOGFONTA Arial(LONG height, LONG width = 0) {
  LOGFONTA font{};
  font.lfHeight = height;
  font.lfWidth = width;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfOutPrecision = OUT_TT_PRECIS;
  std::strcpy(font.lfFaceName, "Arial");
  return font;
}

SIZE Measure(const char* text, const LOGFONTA& font) {
  SIZE size{-1, -1};
  EXPECT_TRUE(vellum::MeasureText(text, &font, &size));
  return size;
}

// Hard-edged text in a box at (left, top) on a gray image; returns what changed.
Change Hard(const char* text, const LOGFONTA& font, RECT box, COLORREF color,
            UINT format = kBoxFormat, uint32_t width = 240, uint32_t height = 80) {
  Image image(width, height, kGray);
  const Image before = image;
  EXPECT_TRUE(vellum::RenderText(image.rgb.data(), width, height, text, &font, box.left, box.top,
                                 box.right, box.bottom, format, color));
  EXPECT_EQ(CoreLastError(), 0);
  return Compare(before, image);
}

Change Smooth(const char* text, const LOGFONTA& font, int32_t factor, POINT at, COLORREF color,
              COLORREF background = kWhite, uint32_t width = 240, uint32_t height = 80) {
  Image image(width, height, background);
  const Image before = image;
  EXPECT_TRUE(vellum::RenderTextSmooth(image.rgb.data(), width, height, text, &font, factor, at.x,
                                       at.y, color));
  EXPECT_EQ(CoreLastError(), 0);
  return Compare(before, image);
}

// GDI objects and device contexts alive now; every entry must leave them as it found them.
struct LiveHandles {
  LiveHandles() {
    ReleaseDC(nullptr, GetDC(nullptr));  // the thread's screen context, made once
    objects = gdi::LiveObjectCount();
    contexts = gdi::LiveDcCount();
  }
  bool Unchanged() const {
    return gdi::LiveObjectCount() == objects && gdi::LiveDcCount() == contexts;
  }
  size_t objects = 0;
  size_t contexts = 0;
};

TEST(RenderText, HardEdgedTextTakesExactlyItsColourInTheSameShapeForEveryColour) {
  const LOGFONTA font = Arial(-20);
  const RECT box{10, 10, 230, 70};
  const Change black = Hard("Hello, World", font, box, 0);
  ASSERT_GT(black.where.size(), 100u);
  EXPECT_EQ(black.colors, std::set<COLORREF>{0});
  EXPECT_GE(black.bounds.left, box.left);
  EXPECT_GE(black.bounds.top, box.top);
  EXPECT_LE(black.bounds.right, box.right);
  EXPECT_LE(black.bounds.bottom, box.top + Measure("Hello, World", font).cy);
  // Black is drawn black on white, any other colour white on black and recoloured:
  // the same glyph pixels either way, white included.
  for (COLORREF color : {kWhite, kBlue, COLORREF{1}}) {
    const Change other = Hard("Hello, World", font, box, color);
    EXPECT_EQ(other.colors, std::set<COLORREF>{color});
    EXPECT_EQ(other.where, black.where);
  }
}

TEST(RenderText, BoxesAndArgumentsAreCheckedInOrder) {
  const LOGFONTA font = Arial(-16);
  Image image(40, 20, kGray);
  const Image before = image;
  const auto render = [&](const LOGFONTA* f, RECT box, const char* text = "Hi") {
    return vellum::RenderText(image.rgb.data(), 40, 20, text, f, box.left, box.top, box.right,
                              box.bottom, kBoxFormat, kBlue);
  };
  // A box reaching beyond the image draws nothing, whatever else is wrong.
  for (RECT beyond : {RECT{0, 0, 41, 20}, RECT{41, 0, 41, 20}, RECT{0, 0, 40, 21}}) {
    EXPECT_TRUE(render(nullptr, beyond));
    EXPECT_EQ(CoreLastError(), 0);
  }
  EXPECT_FALSE(render(nullptr, {0, 0, 40, 20}));
  EXPECT_EQ(CoreLastError(), vellum::kErrInvalidArgument);
  EXPECT_FALSE(render(&font, {20, 0, 10, 20}));
  EXPECT_EQ(CoreLastError(), vellum::kErrInvalidArgument);
  EXPECT_FALSE(render(&font, {0, 15, 40, 5}));
  EXPECT_EQ(CoreLastError(), vellum::kErrInvalidArgument);
  EXPECT_FALSE(render(&font, {INT32_MIN, 0, 40, 20}));  // a width beyond 32 bits
  EXPECT_TRUE(render(&font, {0, 0, 40, 20}, nullptr));
  EXPECT_TRUE(render(&font, {0, 0, 40, 20}, ""));
  EXPECT_EQ(Compare(before, image).where.size(), 0u);
  EXPECT_FALSE(vellum::RenderText(nullptr, 40, 20, "Hi", &font, 0, 0, 40, 20, 0, 0));
  EXPECT_EQ(CoreLastError(), vellum::kErrInvalidArgument);
  // A box starting left of or above the image is drawn where it falls.
  EXPECT_TRUE(render(&font, {-6, -4, 40, 20}));
  EXPECT_GT(Compare(before, image).where.size(), 0u);
}

TEST(RenderText, LineBreaksStartNewLines) {
  const LOGFONTA font = Arial(-16);
  const LONG lineHeight = Measure("X", font).cy;
  const Change one = Hard("Top", font, {0, 0, 200, 10}, 0);
  const Change two = Hard("Top\nTop", font, {0, 0, 200, 10}, 0);
  EXPECT_EQ(two.bounds.left, one.bounds.left);
  EXPECT_EQ(two.bounds.top, one.bounds.top);
  EXPECT_EQ(two.bounds.bottom, one.bounds.bottom + lineHeight);  // not cut at the box's bottom
  EXPECT_EQ(two.where.size(), 2 * one.where.size());
}

TEST(RenderText, FailuresGiveTheirCodesAndNoPathKeepsGdiObjects) {
  const LiveHandles live;
  Image image(100, 40, kGray);
  const LOGFONTA huge = Arial(-40000);  // beyond the sizes the font engine draws
  EXPECT_FALSE(vellum::RenderText(image.rgb.data(), 100, 40, "A", &huge, 0, 0, 100, 40, 0, 0));
  EXPECT_EQ(CoreLastError(), vellum::kErrFontCreation);
  EXPECT_FALSE(vellum::RenderTextSmooth(image.rgb.data(), 100, 40, "A", &huge, 2, 0, 0, 0));
  EXPECT_EQ(CoreLastError(), vellum::kErrFontCreation);
  SIZE size{};
  EXPECT_FALSE(vellum::MeasureText("A", &huge, &size));
  EXPECT_EQ(CoreLastError(), vellum::kErrFontCreation);
  // Lines taller than any bitmap the device makes.
  std::string tall;
  for (int i = 0; i < 2000; ++i) tall += "x\n";
  const LOGFONTA font = Arial(-20);
  EXPECT_FALSE(
      vellum::RenderText(image.rgb.data(), 100, 40, tall.c_str(), &font, 0, 0, 100, 40, 0, 0));
  EXPECT_EQ(CoreLastError(), vellum::kErrDeviceContext);
  EXPECT_TRUE(vellum::RenderText(image.rgb.data(), 100, 40, "ok", &font, 0, 0, 100, 40, 0, kBlue));
  EXPECT_TRUE(vellum::RenderTextSmooth(image.rgb.data(), 100, 40, "ok", &font, 4, 0, 0, kBlue));
  EXPECT_TRUE(vellum::MeasureText("ok", &font, &size));
  EXPECT_TRUE(live.Unchanged());
}

TEST(RenderTextSmooth, FactorFourRendersFourTimesLargerAndShrinksWithoutTheRemainders) {
  const char* text = "Hallo Welt";
  const LOGFONTA font = Arial(-20);
  const SIZE large = Measure(text, Arial(-80));
  const Change smooth = Smooth(text, font, 4, {7, 3}, kBlue);
  ASSERT_GT(smooth.where.size(), 50u);
  EXPECT_GE(smooth.bounds.left, 7);
  EXPECT_GE(smooth.bounds.top, 3);
  EXPECT_LE(smooth.bounds.right, 7 + large.cx / 4);
  EXPECT_LE(smooth.bounds.bottom, 3 + large.cy / 4);
  // About where and how large the hard-edged text at the font's own size is.
  const Change hard = Hard(text, font, {7, 3, 230, 70}, kBlue, 0);
  EXPECT_NEAR(smooth.bounds.left, hard.bounds.left, 2);
  EXPECT_NEAR(smooth.bounds.right, hard.bounds.right, 3);
  EXPECT_NEAR(smooth.bounds.top, hard.bounds.top, 2);
  EXPECT_NEAR(smooth.bounds.bottom, hard.bounds.bottom, 2);
}

TEST(RenderTextSmooth, CoverageBlendsTheColourIntoTheImage) {
  const COLORREF red = 0x0000FF;
  const Change change = Smooth("HH", Arial(-24), 4, {2, 2}, red);
  bool full = false;
  bool partial = false;
  for (COLORREF c : change.colors) {
    const int r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
    EXPECT_EQ(g, b);  // a mix of red and white
    EXPECT_GE(r, 254);
    full |= c == red;
    partial |= g > 0 && g < 255;
  }
  EXPECT_TRUE(full);
  EXPECT_TRUE(partial);
}

TEST(RenderTextSmooth, ASpaceOrAnEmptyTextLeavesTheImageAlone) {
  const LOGFONTA font = Arial(-20);
  EXPECT_EQ(Smooth(" ", font, 4, {0, 0}, 0).where.size(), 0u);
  EXPECT_EQ(Smooth("", font, 8, {0, 0}, 0).where.size(), 0u);
  Image image(10, 10, kGray);
  EXPECT_TRUE(vellum::RenderTextSmooth(image.rgb.data(), 10, 10, nullptr, &font, 2, 0, 0, 0));
}

TEST(RenderTextSmooth, OnlyTheFirstLineIsDrawn) {
  const LOGFONTA font = Arial(-16);
  const Change first = Smooth("Ag", font, 2, {0, 0}, 0);
  const Change both = Smooth("Ag\nWWWWWW", font, 2, {0, 0}, 0);
  EXPECT_LE(both.bounds.right, first.bounds.right + 1);
  EXPECT_LE(both.bounds.bottom, Measure("Ag", Arial(-32)).cy / 2);
  EXPECT_EQ(Measure("Ag\nWWWWWW", font).cy, Measure("Ag", font).cy);
}

TEST(RenderTextSmooth, TheWholeFontIsEnlargedDefaultHeightAndWidthIncluded) {
  for (const LOGFONTA& font : {Arial(0), Arial(-24, 20)}) {
    const Change hard = Hard("Wide", font, {0, 0, 240, 80}, 0, 0);
    const Change smooth = Smooth("Wide", font, 4, {0, 0}, 0);
    EXPECT_NEAR(smooth.Height(), hard.Height(), 2) << font.lfHeight;
    EXPECT_NEAR(smooth.Width(), hard.Width(), hard.Width() / 10 + 2) << font.lfHeight;
  }
}

TEST(RenderTextSmooth, RefusesMissingArgumentsAndFactorsOutsideItsRange) {
  const LOGFONTA font = Arial(-10);
  Image image(10, 10, kGray);
  for (int32_t factor : {0, -2, 9}) {
    EXPECT_FALSE(vellum::RenderTextSmooth(image.rgb.data(), 10, 10, "a", &font, factor, 0, 0, 0));
    EXPECT_EQ(CoreLastError(), vellum::kErrInvalidArgument);
  }
  EXPECT_FALSE(vellum::RenderTextSmooth(image.rgb.data(), 10, 10, "a", nullptr, 2, 0, 0, 0));
  EXPECT_FALSE(vellum::RenderTextSmooth(nullptr, 10, 10, "a", &font, 2, 0, 0, 0));
  EXPECT_EQ(CoreLastError(), vellum::kErrInvalidArgument);
  EXPECT_EQ(Smooth("tiny", Arial(-1), 2, {0, 0}, 0).where.size(), 0u);  // under a pixel
}

TEST(MeasureText, MeasuresOneLineAndScalesWithTheFont) {
  SIZE size{-1, -1};
  const LOGFONTA font = Arial(-20);
  EXPECT_TRUE(vellum::MeasureText("", &font, &size));
  EXPECT_EQ(size.cx, 0);
  EXPECT_EQ(size.cy, 0);
  EXPECT_FALSE(vellum::MeasureText("a", &font, nullptr));
  EXPECT_EQ(CoreLastError(), vellum::kErrInvalidArgument);
  EXPECT_FALSE(vellum::MeasureText("a", nullptr, &size));
  const SIZE small = Measure("Hello", font);
  const SIZE large = Measure("Hello", Arial(-80));
  EXPECT_NEAR(large.cx, 4 * small.cx, large.cx / 10);  // hinting differs by size
  EXPECT_NEAR(large.cy, 4 * small.cy, 4);
  EXPECT_EQ(Measure("&Hello", font).cx, small.cx);  // prefixes are taken out
}

}  // namespace

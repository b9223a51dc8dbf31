#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/gdi/gdi.h"
#include "platform/kernel/last_error.h"
#include "tests/gdi/canvas.h"

namespace {

using gdi_testing::Canvas;

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr UINT kMeasure = DT_CALCRECT;

// A canvas with an Arial font of the given em size selected.
class TextCanvas : public Canvas {
 public:
  explicit TextCanvas(LONG emPixels, int width = 300, int height = 120) : Canvas(width, height) {
    LOGFONTA log{};
    log.lfHeight = -emPixels;
    log.lfCharSet = DEFAULT_CHARSET;
    std::strcpy(log.lfFaceName, "Arial");
    font_ = CreateFontIndirectA(&log);
    previous_ = SelectObject(Dc(), font_);
    SetBkMode(Dc(), TRANSPARENT);
    SetTextColor(Dc(), kBlack);
  }
  ~TextCanvas() {
    SelectObject(Dc(), previous_);
    DeleteObject(font_);
  }

  SIZE Extent(const std::string& text) const {
    SIZE size{};
    GetTextExtentPointA(Dc(), text.data(), static_cast<int>(text.size()), &size);
    return size;
  }
  // The rectangle DT_CALCRECT makes of `box`, and the height returned.
  RECT Measure(const std::string& text, UINT format, RECT box = {0, 0, 0, 0},
               int* returned = nullptr) const {
    const int height = DrawTextExA(Dc(), text.c_str(), -1, &box, format | kMeasure, nullptr);
    if (returned != nullptr) *returned = height;
    return box;
  }
  RECT Draw(const std::string& text, RECT box, UINT format) {
    Clear(kWhite);
    EXPECT_GT(DrawTextExA(Dc(), text.c_str(), -1, &box, format, nullptr), 0) << text;
    return BoundsOf(kBlack);
  }

 private:
  HFONT font_;
  HGDIOBJ previous_;
};

TEST(DrawTextMeasure, OneLineMeasuresAsTheTextExtentFromTheRectanglesCorner) {
  TextCanvas canvas(20);
  const SIZE extent = canvas.Extent("Hello world");
  int returned = 0;
  const RECT box = canvas.Measure("Hello world", DT_SINGLELINE, {5, 7, 6, 8}, &returned);
  EXPECT_EQ(box.left, 5);
  EXPECT_EQ(box.top, 7);
  EXPECT_EQ(box.right - box.left, extent.cx);
  EXPECT_EQ(box.bottom - box.top, extent.cy);
  EXPECT_EQ(returned, extent.cy);
  // The text measurement of the imaging core: a rectangle whose right and bottom
  // are the smallest 32-bit number.
  const RECT fromMinimum =
      canvas.Measure("Hello world", DT_SINGLELINE, {0, 0, INT32_MIN, INT32_MIN});
  EXPECT_EQ(fromMinimum.right, extent.cx);
  EXPECT_EQ(fromMinimum.bottom, extent.cy);
}

TEST(DrawTextMeasure, LinesBreakAtCarriageReturnsAndLineFeedsUnlessSingleLine) {
  TextCanvas canvas(16);
  const LONG lineHeight = canvas.Extent("x").cy;
  const RECT lines = canvas.Measure("One\nTwo\r\nThree\rFour", 0);
  EXPECT_EQ(lines.bottom, 4 * lineHeight);  // CR LF is one break
  EXPECT_EQ(lines.right, canvas.Extent("Three").cx);
  EXPECT_EQ(canvas.Measure("\n", 0).bottom, 2 * lineHeight);
  const RECT empty = canvas.Measure("", 0);
  EXPECT_EQ(empty.right, 0);
  EXPECT_EQ(empty.bottom, lineHeight);
  const RECT single = canvas.Measure("One\nTwo\r\nThree", DT_SINGLELINE);
  EXPECT_EQ(single.bottom, lineHeight);
  EXPECT_EQ(single.right, canvas.Extent("OneTwoThree").cx);  // the breaks take no room
}

TEST(DrawTextMeasure, PrefixesAreTakenOutUnlessNoPrefix) {
  TextCanvas canvas(18);
  EXPECT_EQ(canvas.Measure("&File", 0).right, canvas.Extent("File").cx);
  EXPECT_EQ(canvas.Measure("A&&B", 0).right, canvas.Extent("A&B").cx);
  EXPECT_EQ(canvas.Measure("Tail&", 0).right, canvas.Extent("Tail").cx);
  EXPECT_EQ(canvas.Measure("&File", DT_NOPREFIX).right, canvas.Extent("&File").cx);
  EXPECT_EQ(canvas.Measure("A&&B", DT_NOPREFIX).right, canvas.Extent("A&&B").cx);
}

TEST(DrawTextMeasure, WordEllipsisCutsAfterTheLastWordThatFits) {
  TextCanvas canvas(16);
  const std::string text = "alpha beta gamma";
  const LONG full = canvas.Extent(text).cx;
  const LONG twoWords = canvas.Extent("alpha beta...").cx;
  const LONG oneWord = canvas.Extent("alpha...").cx;
  // Wide enough: nothing is cut, and the rectangle shrinks to the text.
  EXPECT_EQ(canvas.Measure(text, DT_WORD_ELLIPSIS, {0, 0, full + 40, 0}).right, full);
  EXPECT_EQ(canvas.Measure(text, DT_WORD_ELLIPSIS, {0, 0, full - 1, 0}).right, twoWords);
  EXPECT_EQ(canvas.Measure(text, DT_WORD_ELLIPSIS, {0, 0, twoWords, 0}).right, twoWords);
  EXPECT_EQ(canvas.Measure(text, DT_WORD_ELLIPSIS, {0, 0, twoWords - 1, 0}).right, oneWord);
  // Narrower than the first word with the ellipsis: the word itself is cut.
  const RECT cut = canvas.Measure(text, DT_WORD_ELLIPSIS, {0, 0, oneWord - 1, 0});
  EXPECT_LT(cut.right, oneWord);
  EXPECT_GE(cut.right, canvas.Extent("...").cx);
  EXPECT_EQ(canvas.Measure(text, DT_WORD_ELLIPSIS, {0, 0, 1, 0}).right, canvas.Extent("...").cx);
  // Each line is fitted by itself; a line that fits is left alone.
  const RECT two = canvas.Measure(text + "\nab", DT_WORD_ELLIPSIS, {0, 0, full - 1, 0});
  EXPECT_EQ(two.right, twoWords);
  EXPECT_EQ(two.bottom, 2 * canvas.Extent("x").cy);
  // Without the flag a line wider than the rectangle widens it.
  EXPECT_EQ(canvas.Measure(text, 0, {0, 0, 10, 0}).right, full);
}

TEST(DrawTextDraw, LinesAreDrawnOneUnderTheOtherInsideTheRectangle) {
  TextCanvas canvas(20);
  const LONG lineHeight = canvas.Extent("x").cy;
  const RECT one = canvas.Draw("HH", {10, 5, 290, 115}, 0);
  ASSERT_LT(one.left, one.right);
  EXPECT_GE(one.left, 10);
  EXPECT_GE(one.top, 5);
  const RECT two = canvas.Draw("HH\nHH", {10, 5, 290, 115}, 0);
  EXPECT_EQ(two.left, one.left);
  EXPECT_EQ(two.top, one.top);
  EXPECT_EQ(two.bottom, one.bottom + lineHeight);  // the same glyphs, one line lower
  // Clipped to the rectangle unless DT_NOCLIP.
  const RECT clipped = canvas.Draw("HH\nHH", {10, 5, 290, 5 + lineHeight}, 0);
  EXPECT_EQ(clipped.bottom, one.bottom);
  EXPECT_EQ(canvas.Draw("HH\nHH", {10, 5, 290, 5 + lineHeight}, DT_NOCLIP).bottom, two.bottom);
  EXPECT_LE(canvas.Draw("HHHH", {10, 5, 25, 115}, 0).right, 25);
}

TEST(DrawTextDraw, AMarkedCharacterIsUnderlinedAndAlignmentIsRestored) {
  TextCanvas canvas(24);
  SetTextAlign(canvas.Dc(), TA_RIGHT | TA_BASELINE);
  const RECT plain = canvas.Draw("File", {10, 10, 290, 110}, 0);
  const int plainPixels = canvas.Count(kBlack);
  const RECT marked = canvas.Draw("&File", {10, 10, 290, 110}, 0);
  EXPECT_GT(canvas.Count(kBlack), plainPixels);
  EXPECT_GT(marked.bottom, plain.bottom);  // the bar lies below the baseline
  EXPECT_EQ(marked.top, plain.top);
  // The bar spans the first character only.
  EXPECT_LT(canvas.BoundsOf(kBlack).left, plain.left + canvas.Extent("F").cx);
  int barPixels = 0;
  for (int x = plain.left + canvas.Extent("F").cx + 1; x < plain.right; ++x) {
    barPixels += canvas.At(x, marked.bottom - 1) == kBlack;
  }
  EXPECT_EQ(barPixels, 0);
  EXPECT_EQ(SetTextAlign(canvas.Dc(), TA_LEFT | TA_TOP), TA_RIGHT | TA_BASELINE);
}

TEST(DrawTextDraw, EllipsizedTextIsDrawnAsItWasMeasured) {
  TextCanvas canvas(16);
  const LONG room = canvas.Extent("alpha beta...").cx;
  const RECT drawn =
      canvas.Draw("alpha beta gamma", {0, 0, room, 100}, DT_WORD_ELLIPSIS | DT_NOCLIP);
  EXPECT_LE(drawn.right, room);
  const std::vector<COLORREF> cut = canvas.Pixels();
  canvas.Draw("alpha beta...", {0, 0, 300, 100}, 0);
  EXPECT_EQ(canvas.Pixels(), cut);
}

TEST(DrawTextRefusals, BadArgumentsAndUnsupportedFormatsFail) {
  TextCanvas canvas(16);
  RECT box{0, 0, 100, 100};
  HDC dc = canvas.Dc();
  EXPECT_EQ(DrawTextExA(dc, "a", -2, &box, 0, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  const UINT kCenter = 0x0001;
  EXPECT_EQ(DrawTextExA(dc, "a", -1, &box, kCenter, nullptr), 0);
  DRAWTEXTPARAMS params{sizeof(DRAWTEXTPARAMS), 8, 0, 0, 0};
  EXPECT_EQ(DrawTextExA(dc, "a", -1, &box, 0, &params), 0);
  // The screen only measures; a deleted context does nothing.
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(DrawTextExA(screen, "a", -1, &box, 0, nullptr), 0);
  EXPECT_GT(DrawTextExA(screen, "a", -1, &box, DT_CALCRECT, nullptr), 0);
  ReleaseDC(nullptr, screen);
  HDC gone = CreateCompatibleDC(nullptr);
  DeleteDC(gone);
  EXPECT_EQ(DrawTextExA(gone, "a", -1, &box, DT_CALCRECT, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  // A font beyond the sizes that are drawn cannot be laid out.
  LOGFONTA huge{};
  huge.lfHeight = -40000;
  HFONT hugeFont = CreateFontIndirectA(&huge);
  HGDIOBJ previous = SelectObject(dc, hugeFont);
  box = {0, 0, 100, 100};
  EXPECT_EQ(DrawTextExA(dc, "a", -1, &box, DT_CALCRECT, nullptr), 0);
  EXPECT_EQ(box.right, 100);  // left as it was
  SelectObject(dc, previous);
  DeleteObject(hugeFont);
  // An explicit length stops short of the terminator.
  box = {0, 0, 0, 0};
  DrawTextExA(dc, "abc", 1, &box, DT_CALCRECT, nullptr);
  EXPECT_EQ(box.right, canvas.Extent("a").cx);
}

}  // namespace

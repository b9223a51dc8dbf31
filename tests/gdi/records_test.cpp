// Record families of enhanced and Windows metafiles, each drawn and checked
// where its pixels must land.
#include <gtest/gtest.h>

#include <thread>

#include "platform/gdi/gdi.h"
#include "tests/gdi/metafile_builders.h"

namespace {

using gdi_testing::EmfBuilder;
using gdi_testing::kStock;
using gdi_testing::PackedDib;
using gdi_testing::Play;
using gdi_testing::WmfBuilder;
using namespace gdi;

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kGreen = RGB(0, 255, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);

// Draws with a black brush and no pen, the common start of the shape tests.
EmfBuilder SolidBlack(SIZE pixels) {
  EmfBuilder emf(pixels);
  emf->Record(EMR_SELECTOBJECT, {kStock | BLACK_BRUSH});
  emf->Record(EMR_SELECTOBJECT, {kStock | NULL_PEN});
  return emf;
}

void Arc(EmfBuilder& emf, uint32_t type, RECT box, POINT start, POINT end) {
  emf->Begin(type);
  emf->Rect(box);
  emf->I32(start.x), emf->I32(start.y), emf->I32(end.x), emf->I32(end.y);
  emf->End();
}

TEST(ShapeRecords, PiesFollowTheArcDirection) {
  // From the right-hand radial to the top one: counter-clockwise is the top-right
  // quarter, clockwise the other three.
  for (uint32_t direction : {AD_COUNTERCLOCKWISE, AD_CLOCKWISE}) {
    EmfBuilder emf = SolidBlack({40, 40});
    emf->Record(EMR_SETARCDIRECTION, {direction});
    Arc(emf, EMR_PIE, {0, 0, 40, 40}, {40, 20}, {20, 0});
    auto canvas = Play(emf.Finish(), 40, 40);
    const bool counter = direction == AD_COUNTERCLOCKWISE;
    EXPECT_EQ(canvas->At(28, 10), counter ? kBlack : kWhite) << direction;
    EXPECT_EQ(canvas->At(10, 28), counter ? kWhite : kBlack) << direction;
    EXPECT_EQ(canvas->At(10, 10), counter ? kWhite : kBlack) << direction;
  }
}

TEST(ShapeRecords, ChordsCloseTheirArcWithAStraightLine) {
  EmfBuilder emf = SolidBlack({40, 40});
  Arc(emf, EMR_CHORD, {0, 0, 40, 40}, {40, 20}, {0, 20});  // the upper half
  auto canvas = Play(emf.Finish(), 40, 40);
  EXPECT_EQ(canvas->At(20, 5), kBlack);
  EXPECT_EQ(canvas->At(20, 30), kWhite);
  EXPECT_EQ(canvas->At(2, 2), kWhite);  // outside the circle
}

TEST(ShapeRecords, RoundRectanglesCutTheirCorners) {
  EmfBuilder emf = SolidBlack({40, 40});
  emf->Begin(EMR_ROUNDRECT);
  emf->Rect({0, 0, 40, 40});
  emf->I32(20), emf->I32(20);
  emf->End();
  auto canvas = Play(emf.Finish(), 40, 40);
  EXPECT_EQ(canvas->At(1, 1), kWhite);
  EXPECT_EQ(canvas->At(20, 1), kBlack);
  EXPECT_EQ(canvas->At(1, 20), kBlack);
}

TEST(ShapeRecords, BeziersInBothPointFormsAndFromTheCurrentPosition) {
  // Degenerate curves (controls on the chord) are straight lines: easy to check.
  for (bool shortPoints : {true, false}) {
    EmfBuilder emf(SIZE{40, 20});
    emf.Points(shortPoints ? EMR_POLYBEZIER16 : EMR_POLYBEZIER, {{0, 5}, {10, 5}, {20, 5}, {30, 5}},
               shortPoints);
    emf->Record(EMR_MOVETOEX, {5, 15});
    emf.Points(shortPoints ? EMR_POLYBEZIERTO16 : EMR_POLYBEZIERTO, {{15, 15}, {25, 15}, {35, 15}},
               shortPoints);
    emf.Points(shortPoints ? EMR_POLYLINETO16 : EMR_POLYLINETO, {{35, 19}}, shortPoints);
    auto canvas = Play(emf.Finish(), 40, 20);
    EXPECT_EQ(canvas->At(15, 5), kBlack) << shortPoints;
    EXPECT_EQ(canvas->At(31, 5), kWhite) << shortPoints;
    EXPECT_EQ(canvas->At(5, 15), kBlack) << shortPoints;
    EXPECT_EQ(canvas->At(4, 15), kWhite) << shortPoints;
    EXPECT_EQ(canvas->At(35, 17), kBlack) << shortPoints;  // continued from the curve's end
  }
}

TEST(ShapeRecords, PolyPolygonsFillTheirHolesAlternately) {
  EmfBuilder emf = SolidBlack({40, 40});
  emf->Begin(EMR_POLYPOLYGON16);
  emf->Rect({0, 0, -1, -1});
  emf->U32(2), emf->U32(8), emf->U32(4), emf->U32(4);
  const int16_t points[16] = {0, 0, 40, 0, 40, 40, 0, 40, 10, 10, 30, 10, 30, 30, 10, 30};
  emf->Bytes(points, sizeof points);
  emf->End();
  auto canvas = Play(emf.Finish(), 40, 40);
  EXPECT_EQ(canvas->At(5, 5), kBlack);
  EXPECT_EQ(canvas->At(20, 20), kWhite);
}

TEST(ShapeRecords, TheWorldTransformMovesAndTurnsShapes) {
  EmfBuilder emf = SolidBlack({40, 40});
  emf->Begin(EMR_SETWORLDTRANSFORM);
  for (float f : {0.f, 1.f, -1.f, 0.f, 30.f, 5.f}) emf->F32(f);  // a quarter turn, then a shift
  emf->End();
  emf.Box(EMR_RECTANGLE, {0, 0, 21, 6});  // 20 wide, 5 high: becomes 5 wide, 20 high
  auto canvas = Play(emf.Finish(), 40, 40);
  const RECT box = canvas->BoundsOf(kBlack);
  EXPECT_NEAR(box.right - box.left, 5, 1);
  EXPECT_NEAR(box.bottom - box.top, 20, 1);
  EXPECT_NEAR(box.right, 30, 1);
  EXPECT_NEAR(box.top, 5, 1);
}

// A region record: bounds, data size, mode or brush, then RGNDATA of rectangles.
void Region(EmfBuilder& emf, uint32_t type, uint32_t modeOrBrush, const std::vector<RECT>& rects) {
  emf->Begin(type);
  const uint32_t size = 32 + 16 * static_cast<uint32_t>(rects.size());
  if (type == EMR_EXTSELECTCLIPRGN) {
    emf->U32(size), emf->U32(modeOrBrush);
  } else {
    emf->Rect({0, 0, -1, -1});
    emf->U32(size), emf->U32(modeOrBrush);
  }
  emf->U32(32), emf->U32(1), emf->U32(static_cast<uint32_t>(rects.size())), emf->U32(0);
  emf->Rect({0, 0, 0, 0});
  for (const RECT& r : rects) emf->Rect(r);
  emf->End();
}

TEST(ClipRecords, RegionsReplaceIntersectAndExcludeInDeviceUnits) {
  EmfBuilder emf({40, 20});
  emf->Record(EMR_CREATEBRUSHINDIRECT, {1, BS_SOLID, kRed, 0});
  Region(emf, EMR_EXTSELECTCLIPRGN, RGN_COPY, {{0, 0, 20, 20}});
  Region(emf, EMR_EXTSELECTCLIPRGN, RGN_DIFF, {{0, 0, 5, 20}});
  Region(emf, EMR_FILLRGN, 1, {{0, 0, 40, 10}});     // clipped to 5..19
  emf->Record(EMR_EXTSELECTCLIPRGN, {0, RGN_COPY});  // no clipping again
  Region(emf, EMR_FILLRGN, 1, {{30, 15, 32, 17}});
  auto canvas = Play(emf.Finish(), 40, 20);
  const RECT red = canvas->BoundsOf(kRed);
  EXPECT_EQ(red.left, 5);
  EXPECT_EQ(red.right, 32);
  EXPECT_EQ(canvas->At(20, 5), kWhite);
  EXPECT_EQ(canvas->Count(kRed), 15 * 10 + 4);
}

TEST(BrushRecords, HatchesPatternsAndMonochromePatterns) {
  EmfBuilder emf({16, 8});
  emf->Record(EMR_SELECTOBJECT, {kStock | NULL_PEN});
  emf->Record(EMR_CREATEBRUSHINDIRECT, {1, BS_HATCHED, kBlue, HS_VERTICAL});
  emf->Record(EMR_SETBKMODE, {TRANSPARENT});
  emf->Record(EMR_SELECTOBJECT, {1});
  emf.Box(EMR_RECTANGLE, {0, 0, 9, 9});
  // A 2 x 2 pattern: red and green checks.
  const std::vector<uint8_t> dib =
      PackedDib(2, 2, 24, {}, {0, 0, 255, 0, 255, 0, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0});
  emf->Begin(EMR_CREATEDIBPATTERNBRUSHPT);
  emf->U32(2), emf->U32(DIB_RGB_COLORS);
  emf->AppendDib(emf->ReserveDibFields(), dib.data(), 40, dib.data() + 40, dib.size() - 40);
  emf->End();
  emf->Record(EMR_SELECTOBJECT, {2});
  emf.Box(EMR_RECTANGLE, {8, 0, 17, 5});
  // A monochrome pattern takes the text and background colours.
  const std::vector<uint8_t> mono =
      PackedDib(1, 1, 1, {{0, 0, 0, 0}, {255, 255, 255, 0}}, {0x00, 0, 0, 0});
  emf->Begin(EMR_CREATEMONOBRUSH);
  emf->U32(3), emf->U32(DIB_RGB_COLORS);
  emf->AppendDib(emf->ReserveDibFields(), mono.data(), 48, mono.data() + 48, 4);
  emf->End();
  emf->Record(EMR_SETTEXTCOLOR, {kGreen});
  emf->Record(EMR_SELECTOBJECT, {3});
  emf.Box(EMR_RECTANGLE, {8, 5, 17, 9});
  auto canvas = Play(emf.Finish(), 16, 8);
  EXPECT_EQ(canvas->At(0, 3), kBlue);
  EXPECT_EQ(canvas->At(1, 3), kWhite);
  EXPECT_NE(canvas->At(8, 0), canvas->At(9, 0));  // checks alternate
  EXPECT_EQ(canvas->At(8, 0), canvas->At(9, 1));
  EXPECT_EQ(canvas->At(10, 6), kGreen);
}

TEST(PenRecords, ExtendedPensCarryWidthAndDashes) {
  EmfBuilder emf({60, 20});
  emf->Begin(EMR_EXTCREATEPEN);
  emf->U32(1);
  for (int i = 0; i < 4; ++i) emf->U32(0);  // no bitmap
  emf->U32(PS_GEOMETRIC | PS_ENDCAP_FLAT | PS_USERSTYLE), emf->U32(3), emf->U32(BS_SOLID),
      emf->U32(kRed);
  emf->U32(0), emf->U32(2), emf->U32(6), emf->U32(6);  // hatch, two style entries
  emf->End();
  emf->Record(EMR_SELECTOBJECT, {1});
  emf->Record(EMR_MOVETOEX, {0, 10});
  emf->Record(EMR_LINETO, {60, 10});
  auto canvas = Play(emf.Finish(), 60, 20);
  const RECT line = canvas->BoundsOf(kRed);
  EXPECT_EQ(line.bottom - line.top, 3);
  EXPECT_EQ(canvas->At(2, 10), kRed);
  EXPECT_EQ(canvas->At(8, 10), kWhite);  // the gap of the user style
}

TEST(BitmapRecords, DibsOfEveryDepthDrawTheirColours) {
  struct Case {
    int bits;
    std::vector<RGBQUAD> colors;
    std::vector<uint8_t> row;  // one row of two pixels: red then blue
    DWORD compression;
  };
  const std::vector<Case> cases = {
      {1, {{0, 0, 255, 0}, {255, 0, 0, 0}}, {0x40, 0, 0, 0}, BI_RGB},
      {4, {{0, 0, 255, 0}, {255, 0, 0, 0}}, {0x01, 0, 0, 0}, BI_RGB},
      {8, {{0, 0, 0, 0}, {0, 0, 255, 0}, {255, 0, 0, 0}}, {1, 2, 0, 0}, BI_RGB},
      {16, {}, {0x00, 0x7C, 0x1F, 0x00}, BI_RGB},
      {24, {}, {0, 0, 255, 255, 0, 0, 0, 0}, BI_RGB},
      {32, {}, {0, 0, 255, 0, 255, 0, 0, 0}, BI_RGB},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> dib = PackedDib(2, 1, c.bits, c.colors, c.row, c.compression);
    const size_t infoSize = 40 + 4 * c.colors.size();
    EmfBuilder emf({4, 2});
    emf->Begin(EMR_STRETCHDIBITS);
    emf->Rect({0, 0, -1, -1});
    for (int v : {0, 0, 0, 0, 2, 1}) emf->I32(v);
    const size_t fields = emf->ReserveDibFields();
    emf->U32(DIB_RGB_COLORS), emf->U32(SRCCOPY), emf->I32(4), emf->I32(2);
    emf->AppendDib(fields, dib.data(), infoSize, dib.data() + infoSize, dib.size() - infoSize);
    emf->End();
    auto canvas = Play(emf.Finish(), 4, 2);
    EXPECT_EQ(canvas->At(0, 0), kRed) << c.bits;
    EXPECT_EQ(canvas->At(1, 1), kRed) << c.bits;
    EXPECT_EQ(canvas->At(3, 1), kBlue) << c.bits;
  }
}

TEST(BitmapRecords, ShortBitsAreSkippedAndAlphaAndKeyColoursBlend) {
  EmfBuilder emf({4, 1});
  // Bits shorter than the header says: the record draws nothing.
  const std::vector<uint8_t> dib = PackedDib(2, 2, 24, {}, {0, 0, 255, 0, 0, 255, 0, 0});
  emf->Begin(EMR_STRETCHDIBITS);
  emf->Rect({0, 0, -1, -1});
  for (int v : {0, 0, 0, 0, 2, 2}) emf->I32(v);
  size_t fields = emf->ReserveDibFields();
  emf->U32(DIB_RGB_COLORS), emf->U32(SRCCOPY), emf->I32(4), emf->I32(1);
  emf->AppendDib(fields, dib.data(), 40, dib.data() + 40, dib.size() - 40);
  emf->End();
  // Half-transparent black over white, then a key colour (white) left out.
  const std::vector<uint8_t> pixels = PackedDib(2, 1, 32, {}, {0, 0, 0, 128, 255, 255, 255, 255});
  for (uint32_t type : {EMR_ALPHABLEND, EMR_TRANSPARENTBLT}) {
    emf->Begin(type);
    emf->Rect({0, 0, -1, -1});
    const int x = type == EMR_ALPHABLEND ? 0 : 2;
    emf->I32(x), emf->I32(0), emf->I32(2), emf->I32(1);
    emf->U32(type == EMR_ALPHABLEND ? (AC_SRC_ALPHA << 24 | 255 << 16) : kWhite);
    emf->I32(0), emf->I32(0);
    for (float f : {1.f, 0.f, 0.f, 1.f, 0.f, 0.f}) emf->F32(f);
    emf->U32(0), emf->U32(DIB_RGB_COLORS);
    fields = emf->ReserveDibFields();
    emf->I32(2), emf->I32(1);
    emf->AppendDib(fields, pixels.data(), 40, pixels.data() + 40, 8);
    emf->End();
  }
  auto canvas = Play(emf.Finish(), 4, 1);
  EXPECT_EQ(canvas->At(0, 0), RGB(127, 127, 127));  // black at alpha 128 over white
  EXPECT_EQ(canvas->At(1, 0), kWhite);
  EXPECT_EQ(canvas->At(2, 0), kBlack);
  EXPECT_EQ(canvas->At(3, 0), kWhite);  // the key colour let the background through
}

// ---- Windows-metafile records ----

TEST(WindowsRecords, TextAndItsCodePageComeThrough) {
  WmfBuilder wmf;
  wmf.Record(META_SETWINDOWEXT, {30, 80});
  const char face[] = "Arial";
  wmf.Record(META_CREATEFONTINDIRECT, {-20, 0, 0, 0, 400, 0, 0, 0, 0},
             std::vector<uint8_t>(face, face + sizeof face));
  wmf.Record(META_SELECTOBJECT, {0});
  wmf.Record(META_SETTEXTCOLOR, {0x00FF, 0});
  wmf.Record(META_SETBKMODE, {TRANSPARENT});
  wmf.Record(META_TEXTOUT, {3, 'E' | 0x80 << 8, 'x', 4, 2});  // "E€x" at (2, 4)
  wmf.Record(META_EXTTEXTOUT, {18, 40, 2, 0, 'H' | 'i' << 8, 10, 10});
  auto canvas = wmf.Play(80, 30);
  const RECT text = canvas->BoundsOf(kRed);
  EXPECT_GE(text.left, 2);
  EXPECT_LE(text.left, 4);
  EXPECT_GE(text.top, 4);
  EXPECT_GT(text.right, 45);
  EXPECT_GT(canvas->Count(kRed), 60);
}

TEST(WindowsRecords, BitmapRecordsOfEveryKindLandInTheirBoxes) {
  const std::vector<uint8_t> red = PackedDib(1, 1, 24, {}, {0, 0, 255, 0});
  WmfBuilder wmf;
  wmf.Record(META_SETWINDOWEXT, {10, 40});
  wmf.Record(META_STRETCHDIB, {0x0020, 0x00CC, DIB_RGB_COLORS, 1, 1, 0, 0, 10, 10, 0, 0}, red);
  wmf.Record(META_DIBSTRETCHBLT, {0x0020, 0x00CC, 1, 1, 0, 0, 5, 10, 0, 10}, red);
  wmf.Record(META_SETDIBTODEV, {DIB_RGB_COLORS, 1, 0, 0, 0, 1, 1, 0, 20}, red);
  wmf.Record(META_CREATEBRUSHINDIRECT, {BS_SOLID, 0, 0x00FF, 0});
  wmf.Record(META_SELECTOBJECT, {0});
  wmf.Record(META_DIBBITBLT, {0x0021, 0x00F0, 0, 0, 0, 5, 5, 0, 30});  // no bitmap: the brush
  auto canvas = wmf.Play(40, 10);
  EXPECT_EQ(canvas->At(5, 5), kRed);
  EXPECT_EQ(canvas->At(15, 2), kRed);
  EXPECT_EQ(canvas->At(15, 7), kWhite);
  EXPECT_EQ(canvas->At(20, 0), kRed);
  EXPECT_EQ(canvas->At(21, 1), kWhite);
  EXPECT_EQ(canvas->At(32, 2), kBlue);
}

TEST(WindowsRecords, RegionsFillAndClip) {
  // A region of one scan: rows 2..6, columns 2..8 (region units are logical).
  WmfBuilder wmf;
  wmf.Record(META_SETWINDOWEXT, {10, 20});
  wmf.Record(META_CREATEBRUSHINDIRECT, {BS_SOLID, 0x00FF, 0, 0});
  wmf.Record(META_CREATEREGION, {0, 6, 0, 0, 0, 1, 0, 0, 0, 0, 0, 2, 2, 6, 2, 8, 2});
  wmf.Record(META_FILLREGION, {1, 0});
  wmf.Record(META_SELECTCLIPREGION, {1});
  wmf.Record(META_CREATEBRUSHINDIRECT, {BS_SOLID, 0, 0x00FF, 0});
  wmf.Record(META_SELECTOBJECT, {2});
  wmf.Record(META_SELECTOBJECT, {0});  // a brush as current, to be replaced
  wmf.Record(META_SELECTOBJECT, {2});
  wmf.Record(META_PATBLT, {0x0021, 0x00F0, 10, 20, 0, 0});  // everything, clipped to the region
  auto canvas = wmf.Play(20, 10);
  EXPECT_EQ(canvas->At(1, 1), kWhite);
  EXPECT_EQ(canvas->At(5, 4), kBlue);
  EXPECT_EQ(canvas->BoundsOf(kBlue).right, 8);
}

TEST(Threads, TwoThreadsRenderTheSamePictureAtOnce) {
  const auto render = [] {
    WmfBuilder wmf;
    wmf.Record(META_SETWINDOWEXT, {40, 120});
    wmf.Record(META_CREATEFONTINDIRECT, {-24, 0, 0, 0, 700, 0, 0, 0, 0},
               {'A', 'r', 'i', 'a', 'l', 0});
    wmf.Record(META_SELECTOBJECT, {0});
    wmf.Record(META_SETBKMODE, {TRANSPARENT});
    for (int i = 0; i < 20; ++i)
      wmf.Record(META_TEXTOUT, {4, 'T' | 'e' << 8, 'x' | 't' << 8, 4 + i, 2 + i});
    return wmf.Play(120, 40)->Pixels();
  };
  std::vector<COLORREF> first, second;
  std::thread a([&] { first = render(); });
  std::thread b([&] { second = render(); });
  a.join();
  b.join();
  EXPECT_EQ(first, second);
  EXPECT_EQ(first, render());
}

}  // namespace

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "platform/gdi/gdi.h"
#include "tests/gdi/canvas.h"

namespace {

using gdi_testing::Canvas;

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kRed = RGB(255, 0, 0);

POINT Map(HDC dc, int x, int y) {
  POINT p{x, y};
  LPtoDP(dc, &p, 1);
  return p;
}

TEST(ReferenceScreen, HasFixedMetricsWithAWholePitchInHundredthsOfAMillimetre) {
  HDC screen = GetDC(nullptr);
  ASSERT_NE(screen, nullptr);
  EXPECT_EQ(GetDeviceCaps(screen, HORZRES), 1920);
  EXPECT_EQ(GetDeviceCaps(screen, VERTRES), 1080);
  EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSX), 96);
  EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSY), 96);
  EXPECT_EQ(GetDeviceCaps(screen, BITSPIXEL), 32);
  // Frames written in 0.01 mm convert back to the same pixel counts.
  EXPECT_EQ(GetDeviceCaps(screen, HORZSIZE) * 100 % GetDeviceCaps(screen, HORZRES), 0);
  EXPECT_EQ(GetDeviceCaps(screen, VERTSIZE) * 100 % GetDeviceCaps(screen, VERTRES), 0);
  const int caps = GetDeviceCaps(screen, RASTERCAPS);
  EXPECT_TRUE(caps & RC_DI_BITMAP);
  EXPECT_FALSE(caps & RC_PALETTE);
  EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
  EXPECT_EQ(GetDC(reinterpret_cast<HWND>(1)), nullptr);  // there are no windows
}

TEST(Mapping, FollowsTheModesWindowsAndViewports) {
  Canvas canvas(4, 4);
  HDC dc = canvas.Dc();
  EXPECT_EQ(Map(dc, 7, 9).x, 7);

  SetMapMode(dc, MM_LOMETRIC);  // 0.1 mm units, y up; 0.25 mm pixels
  EXPECT_EQ(Map(dc, 100, 100).x, 40);
  EXPECT_EQ(Map(dc, 100, 100).y, -40);

  SetMapMode(dc, MM_ANISOTROPIC);
  SetWindowOrgEx(dc, 10, 10, nullptr);
  SetWindowExtEx(dc, 100, 100, nullptr);
  SetViewportExtEx(dc, 50, 200, nullptr);
  SetViewportOrgEx(dc, 5, 0, nullptr);
  EXPECT_EQ(Map(dc, 110, 60).x, 55);
  EXPECT_EQ(Map(dc, 110, 60).y, 100);
  EXPECT_FALSE(SetWindowExtEx(dc, 0, 10, nullptr));

  SetMapMode(dc, MM_ISOTROPIC);  // both axes take the smaller scale
  EXPECT_EQ(Map(dc, 110, 60).y, 25);

  XFORM shift{1, 0, 0, 1, 3, 4};
  SetMapMode(dc, MM_TEXT);
  SetViewportOrgEx(dc, 0, 0, nullptr);
  SetWindowOrgEx(dc, 0, 0, nullptr);
  EXPECT_FALSE(SetWorldTransform(dc, &shift));  // only in the advanced mode
  SetGraphicsMode(dc, GM_ADVANCED);
  EXPECT_TRUE(SetWorldTransform(dc, &shift));
  EXPECT_EQ(Map(dc, 1, 1).x, 4);
  XFORM singular{0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(SetWorldTransform(dc, &singular));
}

TEST(DeviceContextState, SaveAndRestoreTakeEverythingBack) {
  Canvas canvas(20, 20);
  HDC dc = canvas.Dc();
  SetTextColor(dc, kRed);
  const int level = SaveDC(dc);
  EXPECT_EQ(level, 1);
  SetTextColor(dc, kBlack);
  IntersectClipRect(dc, 0, 0, 5, 5);
  EXPECT_TRUE(RestoreDC(dc, -1));
  EXPECT_EQ(SetTextColor(dc, kWhite), kRed);
  EXPECT_FALSE(RestoreDC(dc, -1));  // nothing saved any more
  canvas.Clear(kBlack);             // the clipping went back with the state
  EXPECT_EQ(canvas.Count(kBlack), 400);
}

TEST(Objects, HandlesOfDeletedOrForeignObjectsAreRefused) {
  HPEN pen = CreatePen(PS_SOLID, 1, kRed);
  LOGPEN log{};
  EXPECT_EQ(GetObjectA(pen, sizeof log, &log), static_cast<int>(sizeof log));
  EXPECT_EQ(log.lopnColor, kRed);
  EXPECT_TRUE(DeleteObject(pen));
  EXPECT_EQ(GetObjectA(pen, sizeof log, &log), 0);
  EXPECT_FALSE(DeleteObject(pen));
  HPEN next = CreatePen(PS_SOLID, 1, kRed);
  EXPECT_NE(next, pen);  // handles are never reused
  DeleteObject(next);

  Canvas canvas(2, 2);
  EXPECT_EQ(SelectObject(canvas.Dc(), pen), nullptr);
  EXPECT_EQ(SelectObject(canvas.Dc(), reinterpret_cast<HGDIOBJ>(0x12345678)), nullptr);
  EXPECT_TRUE(DeleteObject(GetStockObject(BLACK_PEN)));  // harmless for stock objects
  EXPECT_NE(SelectObject(canvas.Dc(), GetStockObject(BLACK_PEN)), nullptr);
}

TEST(Objects, DeletingASelectedObjectKeepsItUsableByTheContext) {
  Canvas canvas(10, 10);
  HBRUSH brush = CreateSolidBrush(kRed);
  SelectObject(canvas.Dc(), brush);
  SelectObject(canvas.Dc(), GetStockObject(NULL_PEN));
  DeleteObject(brush);
  Rectangle(canvas.Dc(), 0, 0, 10, 10);
  EXPECT_EQ(canvas.At(4, 4), kRed);
}

TEST(Bitmaps, CompatibleBitmapsFollowTheSelectedBitmap) {
  HDC memory = CreateCompatibleDC(nullptr);
  HBITMAP mono = CreateCompatibleBitmap(memory, 8, 8);
  BITMAP info{};
  GetObjectA(mono, sizeof info, &info);
  EXPECT_EQ(info.bmBitsPixel, 1);
  HBITMAP color = CreateCompatibleBitmap(GetDC(nullptr), 8, 8);
  GetObjectA(color, sizeof info, &info);
  EXPECT_EQ(info.bmBitsPixel, 32);
  HGDIOBJ initial = SelectObject(memory, color);
  EXPECT_EQ(GetDeviceCaps(memory, BITSPIXEL), 32);
  HBITMAP second = CreateCompatibleBitmap(memory, 4, 4);
  GetObjectA(second, sizeof info, &info);
  EXPECT_EQ(info.bmBitsPixel, 32);
  SelectObject(memory, initial);
  EXPECT_EQ(GetDeviceCaps(memory, BITSPIXEL), 1);
  EXPECT_EQ(CreateCompatibleBitmap(memory, kMaxBitmapSide + 1, 1), nullptr);
  // The widest bitmap is drawn on up to its last pixel.
  const Canvas widest(kMaxBitmapSide, 1, RGB(10, 20, 30));
  EXPECT_EQ(widest.Count(RGB(10, 20, 30)), kMaxBitmapSide);
  EXPECT_EQ(CreateCompatibleBitmap(memory, 0, 5), nullptr);
  for (HGDIOBJ object : {mono, color, second}) DeleteObject(object);
  DeleteDC(memory);
}

TEST(Bitmaps, GetDIBitsDeliversMonochromeRowsWithTheirColourTable) {
  HDC memory = CreateCompatibleDC(nullptr);
  HBITMAP mono = CreateCompatibleBitmap(memory, 10, 2);
  HGDIOBJ previous = SelectObject(memory, mono);
  SelectObject(memory, GetStockObject(WHITE_BRUSH));
  const RECT left{0, 0, 3, 2};
  FillRect(memory, &left, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SelectObject(memory, previous);
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colors[2];
  } info{};
  info.header = {sizeof(BITMAPINFOHEADER), 10, 2, 1, 1, BI_RGB, 0, 0, 0, 0, 0};
  auto* bmi = reinterpret_cast<BITMAPINFO*>(&info);
  ASSERT_EQ(GetDIBits(memory, mono, 0, 2, nullptr, bmi, DIB_RGB_COLORS), TRUE);
  EXPECT_EQ(info.header.biSizeImage, 8u);  // rows of 4 bytes
  uint8_t bits[8] = {};
  EXPECT_EQ(GetDIBits(memory, mono, 0, 2, bits, bmi, DIB_RGB_COLORS), 2);
  EXPECT_EQ(bits[0], 0xE0);  // three white pixels, then black
  EXPECT_EQ(bits[1], 0x00);
  EXPECT_EQ(info.colors[1].rgbRed, 255);
  DeleteObject(mono);
  DeleteDC(memory);
}

TEST(Drawing, RectanglesCoverThePixelsThePlatformCovers) {
  Canvas canvas(20, 12);
  HDC dc = canvas.Dc();
  HBRUSH red = CreateSolidBrush(kRed);
  SelectObject(dc, red);
  Rectangle(dc, 2, 2, 12, 8);  // outline on 2..11 x 2..7, red inside
  EXPECT_EQ(canvas.BoundsOf(kBlack).left, 2);
  EXPECT_EQ(canvas.BoundsOf(kBlack).right, 12);
  EXPECT_EQ(canvas.BoundsOf(kBlack).bottom, 8);
  EXPECT_EQ(canvas.Count(kRed), 8 * 4);

  canvas.Clear(kWhite);
  SelectObject(dc, GetStockObject(NULL_PEN));
  Rectangle(dc, 2, 2, 12, 8);  // without a pen: one pixel less each way
  EXPECT_EQ(canvas.Count(kRed), 9 * 5);

  canvas.Clear(kWhite);
  const RECT box{1, 1, 6, 4};
  FillRect(dc, &box, red);  // right and bottom edges excluded
  EXPECT_EQ(canvas.Count(kRed), 5 * 3);
  SelectObject(dc, GetStockObject(WHITE_BRUSH));
  DeleteObject(red);
}

TEST(Drawing, ClippingKeepsIntersectionsAndLeavesExclusionsOut) {
  Canvas canvas(20, 20);
  HDC dc = canvas.Dc();
  IntersectClipRect(dc, 5, 5, 15, 15);
  ExcludeClipRect(dc, 8, 8, 10, 10);
  canvas.Clear(kBlack);
  EXPECT_EQ(canvas.Count(kBlack), 100 - 4);
  EXPECT_EQ(canvas.At(8, 8), kWhite);
  EXPECT_EQ(canvas.At(4, 5), kWhite);
}

TEST(Drawing, FillModesDecideTheInsideOfACrossingPolygon) {
  // A star whose middle is covered twice: filled only with the winding rule.
  const POINT star[5] = {{20, 2}, {32, 38}, {2, 14}, {38, 14}, {8, 38}};
  Canvas canvas(40, 40);
  HDC dc = canvas.Dc();
  SelectObject(dc, GetStockObject(BLACK_BRUSH));
  SelectObject(dc, GetStockObject(NULL_PEN));
  SetPolyFillMode(dc, ALTERNATE);
  Polygon(dc, star, 5);
  EXPECT_EQ(canvas.At(20, 20), kWhite);
  EXPECT_EQ(canvas.At(20, 8), kBlack);
  SetPolyFillMode(dc, WINDING);
  Polygon(dc, star, 5);
  EXPECT_EQ(canvas.At(20, 20), kBlack);
}

TEST(Drawing, PensFollowStyleWidthAndMapping) {
  Canvas canvas(60, 30);
  HDC dc = canvas.Dc();
  HPEN dashed = CreatePen(PS_DASH, 0, kBlack);
  SelectObject(dc, dashed);
  MoveToEx(dc, 0, 5, nullptr);
  LineTo(dc, 60, 5);
  const int dashedPixels = canvas.Count(kBlack);
  EXPECT_GT(dashedPixels, 30);
  EXPECT_LT(dashedPixels, 60);  // gaps

  canvas.Clear(kWhite);
  HPEN wide = CreatePen(PS_SOLID, 4, kBlack);
  SelectObject(dc, wide);
  SetMapMode(dc, MM_ANISOTROPIC);
  SetWindowExtEx(dc, 1, 1, nullptr);
  SetViewportExtEx(dc, 2, 2, nullptr);  // everything twice as large
  MoveToEx(dc, 5, 7, nullptr);
  LineTo(dc, 25, 7);
  const RECT line = canvas.BoundsOf(kBlack);
  EXPECT_NEAR(line.bottom - line.top, 8, 1);

  canvas.Clear(kWhite);
  SelectObject(dc, GetStockObject(NULL_PEN));
  LineTo(dc, 5, 12);
  EXPECT_EQ(canvas.Count(kBlack), 0);
  SelectObject(dc, GetStockObject(BLACK_PEN));
  DeleteObject(dashed);
  DeleteObject(wide);
}

TEST(Drawing, HatchedBrushesShowTheBackgroundOnlyWhenOpaque) {
  Canvas canvas(16, 16, kRed);
  HDC dc = canvas.Dc();
  HBRUSH cross = CreateHatchBrush(HS_CROSS, kBlack);
  const RECT all{0, 0, 16, 16};
  SetBkMode(dc, TRANSPARENT);
  FillRect(dc, &all, cross);
  EXPECT_EQ(canvas.Count(kBlack), 2 * (16 + 16) - 4);  // lines every 8 pixels both ways
  EXPECT_EQ(canvas.Count(kRed), 256 - 60);
  SetBkMode(dc, OPAQUE);
  SetBkColor(dc, kWhite);
  FillRect(dc, &all, cross);
  EXPECT_EQ(canvas.Count(kRed), 0);
  DeleteObject(cross);
}

struct TinyDib {
  BITMAPINFOHEADER header{sizeof(BITMAPINFOHEADER), 2, 2, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  // Bottom-up rows of 8 bytes (6 used): bottom row blue, green; top row red, white.
  uint8_t bits[16] = {255, 0, 0, 0, 255, 0, 0, 0, 0, 0, 255, 255, 255, 255, 0, 0};
};

TEST(Blits, StretchDIBitsScalesBottomUpBitmapsAndMirrors) {
  Canvas canvas(8, 4);
  TinyDib dib;
  const auto* info = reinterpret_cast<const BITMAPINFO*>(&dib.header);
  EXPECT_EQ(
      StretchDIBits(canvas.Dc(), 0, 0, 4, 4, 0, 0, 2, 2, dib.bits, info, DIB_RGB_COLORS, SRCCOPY),
      2);
  EXPECT_EQ(canvas.At(0, 0), kRed);
  EXPECT_EQ(canvas.At(1, 1), kRed);
  EXPECT_EQ(canvas.At(3, 0), kWhite);
  EXPECT_EQ(canvas.At(0, 3), RGB(0, 0, 255));
  EXPECT_EQ(canvas.At(3, 3), RGB(0, 255, 0));
  // A negative destination width mirrors the picture.
  StretchDIBits(canvas.Dc(), 8, 0, -4, 4, 0, 0, 2, 2, dib.bits, info, DIB_RGB_COLORS, SRCCOPY);
  EXPECT_EQ(canvas.At(7, 0), kRed);
  EXPECT_EQ(canvas.At(4, 3), RGB(0, 255, 0));
}

TEST(Blits, RasterOperationsCombineSourcePatternAndDestination) {
  Canvas canvas(4, 4, RGB(0x0F, 0xF0, 0x55));
  TinyDib dib;
  const auto* info = reinterpret_cast<const BITMAPINFO*>(&dib.header);
  StretchDIBits(canvas.Dc(), 0, 0, 2, 2, 0, 0, 2, 2, dib.bits, info, DIB_RGB_COLORS, SRCINVERT);
  EXPECT_EQ(canvas.At(0, 0), RGB(0xF0, 0xF0, 0x55));  // red xor the background
  HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
  SelectObject(canvas.Dc(), brush);
  PatBlt(canvas.Dc(), 2, 2, 2, 2, PATCOPY);
  EXPECT_EQ(canvas.At(3, 3), RGB(1, 2, 3));
  PatBlt(canvas.Dc(), 2, 2, 1, 1, DSTINVERT);
  EXPECT_EQ(canvas.At(2, 2), RGB(254, 253, 252));
  PatBlt(canvas.Dc(), 0, 2, 1, 1, WHITENESS);
  EXPECT_EQ(canvas.At(0, 2), kWhite);
  SelectObject(canvas.Dc(), GetStockObject(WHITE_BRUSH));
  DeleteObject(brush);
}

LOGFONTA Font(const char* face, LONG height, LONG weight = FW_NORMAL) {
  LOGFONTA font{};
  font.lfHeight = height;
  font.lfWeight = weight;
  font.lfCharSet = DEFAULT_CHARSET;
  std::strncpy(font.lfFaceName, face, LF_FACESIZE - 1);
  return font;
}

TEST(Fonts, ArialResolvesAndMeasuresLikeAMetricCompatibleFace) {
  Canvas canvas(200, 40);
  HDC dc = canvas.Dc();
  const LOGFONTA arial = Font("Arial", -20);
  HFONT font = CreateFontIndirectA(&arial);
  SelectObject(dc, font);
  SIZE hello{}, longer{};
  ASSERT_TRUE(GetTextExtentPointA(dc, "Hello", 5, &hello));
  ASSERT_TRUE(GetTextExtentPointA(dc, "Hello Hello", 11, &longer));
  EXPECT_NEAR(hello.cx, 46, 3);  // the metric-compatible face's advances
  EXPECT_NEAR(hello.cy, 23, 1);  // an em of 20 pixels plus the face's leading
  EXPECT_GT(longer.cx, 2 * hello.cx);
  const LOGFONTA bold = Font("Arial", -20, FW_BOLD);
  HFONT boldFont = CreateFontIndirectA(&bold);
  SelectObject(dc, boldFont);
  SIZE boldHello{};
  GetTextExtentPointA(dc, "Hello", 5, &boldHello);
  EXPECT_GT(boldHello.cx, hello.cx);
  const LOGFONTA unknown = Font("No Such Face At All", -20);
  HFONT fallback = CreateFontIndirectA(&unknown);
  SelectObject(dc, fallback);
  SIZE fallbackHello{};
  EXPECT_TRUE(GetTextExtentPointA(dc, "Hello", 5, &fallbackHello));
  EXPECT_GT(fallbackHello.cx, 0);
  SelectObject(dc, GetStockObject(SYSTEM_FONT));
  for (HFONT f : {font, boldFont, fallback}) DeleteObject(f);
}

TEST(Fonts, TextIsDrawnAliasedInTheTextColourAtItsAlignment) {
  Canvas canvas(120, 40);
  HDC dc = canvas.Dc();
  const LOGFONTA arial = Font("Arial", -24);
  HFONT font = CreateFontIndirectA(&arial);
  SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, kRed);
  TextOutA(dc, 10, 5, "Wave", 4);
  std::set<COLORREF> colors;
  for (COLORREF p : canvas.Pixels()) colors.insert(p);
  EXPECT_EQ(colors, (std::set<COLORREF>{kWhite, kRed}));
  const RECT top = canvas.BoundsOf(kRed);
  EXPECT_GE(top.left, 10);
  EXPECT_GE(top.top, 5);
  EXPECT_LT(top.top, 12);

  canvas.Clear(kWhite);
  SetTextAlign(dc, TA_RIGHT | TA_BASELINE);
  TextOutA(dc, 110, 30, "Wave", 4);
  const RECT right = canvas.BoundsOf(kRed);
  EXPECT_LE(right.right, 111);
  EXPECT_GE(right.right, 106);
  EXPECT_LE(right.bottom, 31);

  canvas.Clear(kWhite);
  SetTextAlign(dc, TA_LEFT | TA_TOP);
  SetBkMode(dc, OPAQUE);
  SetBkColor(dc, kBlack);
  TextOutA(dc, 10, 5, "Wave", 4);
  EXPECT_GT(canvas.Count(kBlack), 200);  // the opaque cell behind the text
  SelectObject(dc, GetStockObject(SYSTEM_FONT));
  DeleteObject(font);
}

}  // namespace

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/gdi/metafile_records.h"
#include "tests/gdi/canvas.h"
#include "tests/gdi/metafile_builders.h"
#include "tests/support/oracle.h"
#include "tests/support/picture_compare.h"

namespace {

using gdi_testing::Canvas;
using gdi_testing::EmfBuilder;
using gdi_testing::kStock;
using gdi_testing::Play;
using gdi_testing::WmfBuilder;

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
TEST(EnhancedMetafile, SetEnhMetaFileBitsChecksTheHeader) {
  std::vector<uint8_t> bytes = EmfBuilder().Bytes();
  HENHMETAFILE emf = SetEnhMetaFileBits(static_cast<UINT>(bytes.size()), bytes.data());
  ASSERT_NE(emf, nullptr);
  ENHMETAHEADER header{};
  EXPECT_EQ(GetEnhMetaFileHeader(emf, sizeof header, &header), sizeof header);
  EXPECT_EQ(header.rclFrame.right, 1000);
  EXPECT_EQ(GetEnhMetaFileBits(emf, 0, nullptr), bytes.size());
  EXPECT_EQ(GetEnhMetaFileBits(emf, 10, bytes.data()), 0u);  // too small a buffer
  DeleteEnhMetaFile(emf);
  EXPECT_EQ(GetEnhMetaFileHeader(emf, sizeof header, &header), 0u);

  bytes[40] ^= 1;  // the signature
  EXPECT_EQ(SetEnhMetaFileBits(static_cast<UINT>(bytes.size()), bytes.data()), nullptr);
  EXPECT_EQ(SetEnhMetaFileBits(50, bytes.data()), nullptr);
}

TEST(EnhancedMetafile, PlaysShapesWithItsObjectsMappingAndClipping) {
  EmfBuilder emf({40, 20});
  emf->Record(gdi::EMR_SETMAPMODE, {MM_ANISOTROPIC});
  emf->Record(gdi::EMR_SETWINDOWEXTEX, {400, 200});  // tenths of a pixel
  emf->Record(gdi::EMR_SETVIEWPORTEXTEX, {40, 20});
  emf->Record(gdi::EMR_CREATEBRUSHINDIRECT, {1, BS_SOLID, kRed, 0});
  emf->Record(gdi::EMR_SELECTOBJECT, {1});
  emf->Record(gdi::EMR_SELECTOBJECT, {kStock | NULL_PEN});
  emf->Record(9999, {1, 2, 3});  // unknown: skipped
  emf->Record(gdi::EMR_SAVEDC, {});
  emf.Box(gdi::EMR_INTERSECTCLIPRECT, {0, 0, 200, 200});
  emf.Box(gdi::EMR_RECTANGLE, {0, 0, 301, 101});  // clipped to the left half
  emf->Record(gdi::EMR_RESTOREDC, {static_cast<uint32_t>(-1)});
  emf->Record(gdi::EMR_CREATEBRUSHINDIRECT, {2, BS_SOLID, kBlue, 0});
  emf->Record(gdi::EMR_SELECTOBJECT, {2});
  emf->Record(gdi::EMR_SELECTOBJECT, {40});  // no such object: ignored
  emf.Box(gdi::EMR_ELLIPSE, {300, 100, 401, 201});
  HENHMETAFILE handle = emf.Finish();
  BOOL complete = FALSE;
  auto canvas = Play(handle, 40, 20, &complete);
  EXPECT_TRUE(complete);
  EXPECT_EQ(canvas->BoundsOf(kRed).left, 0);
  EXPECT_EQ(canvas->BoundsOf(kRed).right, 20);
  EXPECT_EQ(canvas->BoundsOf(kRed).bottom, 10);
  const RECT ellipse = canvas->BoundsOf(kBlue);
  EXPECT_NEAR(ellipse.left, 30, 1);
  EXPECT_NEAR(ellipse.top, 10, 1);
  EXPECT_LE(ellipse.right, 40);
  DeleteEnhMetaFile(handle);
}

TEST(EnhancedMetafile, PlayingIntoALargerRectangleScalesThePicture) {
  EmfBuilder emf({10, 10});
  emf->Record(gdi::EMR_CREATEBRUSHINDIRECT, {1, BS_SOLID, kRed, 0});
  emf->Record(gdi::EMR_SELECTOBJECT, {1});
  emf->Record(gdi::EMR_SELECTOBJECT, {kStock | NULL_PEN});
  emf.Box(gdi::EMR_RECTANGLE, {0, 0, 6, 6});
  HENHMETAFILE handle = emf.Finish();
  auto canvas = Play(handle, 30, 30);
  // Six pixels become eighteen; without a pen the box loses its last one.
  EXPECT_EQ(canvas->BoundsOf(kRed).right, 17);
  EXPECT_EQ(canvas->BoundsOf(kRed).bottom, 17);
  DeleteEnhMetaFile(handle);
}

TEST(EnhancedMetafile, PathsAreFilledStrokedOrClippedTo) {
  EmfBuilder emf({20, 20});
  emf->Record(gdi::EMR_SELECTOBJECT, {kStock | BLACK_BRUSH});
  emf->Record(gdi::EMR_BEGINPATH, {});
  emf->Record(gdi::EMR_MOVETOEX, {2, 2});
  emf->Record(gdi::EMR_LINETO, {10, 2});
  emf->Record(gdi::EMR_LINETO, {10, 10});
  emf->Record(gdi::EMR_LINETO, {2, 10});
  emf->Record(gdi::EMR_CLOSEFIGURE, {});
  emf->Record(gdi::EMR_ENDPATH, {});
  emf->Record(gdi::EMR_SELECTCLIPPATH, {RGN_COPY});
  emf->Record(gdi::EMR_SELECTOBJECT, {kStock | NULL_PEN});
  emf.Box(gdi::EMR_RECTANGLE, {0, 0, 21, 21});  // everything, clipped to the path
  HENHMETAFILE handle = emf.Finish();
  auto canvas = Play(handle, 20, 20);
  EXPECT_EQ(canvas->BoundsOf(kBlack).left, 2);
  EXPECT_EQ(canvas->BoundsOf(kBlack).right, 10);
  EXPECT_EQ(canvas->Count(kBlack), 64);
  DeleteEnhMetaFile(handle);
}

// Red text "Abc" at (5, 4) in a font of the given height, spread out by advances of 20.
HENHMETAFILE TextPicture(int32_t fontHeight) {
  EmfBuilder emf({80, 30});
  emf->Begin(gdi::EMR_EXTCREATEFONTINDIRECTW);
  emf->U32(1);
  for (int32_t v : {fontHeight, 0, 0, 0, 400}) emf->I32(v);
  emf->U32(0), emf->U32(0);
  const char16_t face[32] = u"Arial";
  emf->Bytes(face, sizeof face);
  emf->End();
  emf->Record(gdi::EMR_SELECTOBJECT, {1});
  emf->Record(gdi::EMR_SETTEXTCOLOR, {kRed});
  emf->Record(gdi::EMR_SETBKMODE, {TRANSPARENT});
  emf->Begin(gdi::EMR_EXTTEXTOUTW);
  emf->Rect({0, 0, -1, -1});
  emf->U32(GM_COMPATIBLE), emf->F32(1), emf->F32(1);
  emf->I32(5), emf->I32(4);                // reference point
  emf->U32(3), emf->U32(76), emf->U32(0);  // three characters at offset 76
  emf->Rect({0, 0, 0, 0});
  emf->U32(84);  // advances after the text
  const char16_t text[4] = u"Abc";
  emf->Bytes(text, 6);
  emf->Bytes("\0\0", 2);
  for (int32_t dx : {20, 20, 20}) emf->I32(dx);  // spread out by the advances
  emf->End();
  return emf.Finish();
}

TEST(EnhancedMetafile, TextRecordsDrawWithTheirFontAndColour) {
  HENHMETAFILE handle = TextPicture(-20);
  auto canvas = Play(handle, 80, 30);
  const RECT text_box = canvas->BoundsOf(kRed);
  EXPECT_GE(text_box.left, 5);
  EXPECT_GE(text_box.top, 4);
  EXPECT_GT(text_box.right, 45);  // the third character starts 40 pixels in
  DeleteEnhMetaFile(handle);
}

// Fonts above 1024 pixels per em are not drawn from a metafile, though the same size
// is drawn outside playback.
TEST(EnhancedMetafile, TextOfHugeFontsIsNotDrawnFromAMetafile) {
  HENHMETAFILE handle = TextPicture(-1500);
  EXPECT_EQ(Play(handle, 80, 30)->Count(kRed), 0);
  DeleteEnhMetaFile(handle);
  Canvas direct(80, 30);
  LOGFONTA huge{};
  huge.lfHeight = -1500;
  HFONT font = CreateFontIndirectA(&huge);
  HGDIOBJ previous = SelectObject(direct.Dc(), font);
  RECT box{0, 0, 80, 30};
  EXPECT_GT(DrawTextExA(direct.Dc(), "A", -1, &box, DT_CALCRECT, nullptr), 0);
  EXPECT_GT(box.bottom, 1500);
  SelectObject(direct.Dc(), previous);
  DeleteObject(font);
}

TEST(EnhancedMetafile, RecordingAndPlayingABitmapKeepsEveryPixel) {
  constexpr int kW = 7, kH = 5;
  std::vector<uint8_t> bits(((kW * 3 + 3) / 4) * 4 * kH);
  for (size_t i = 0; i < bits.size(); ++i) bits[i] = static_cast<uint8_t>(i * 37);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), kW, kH, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  const RECT frame{0, 0, kW * 25, kH * 25};
  HDC recording = CreateEnhMetaFileA(GetDC(nullptr), nullptr, &frame, nullptr);
  ASSERT_NE(recording, nullptr);
  SetMapMode(recording, MM_ISOTROPIC);
  SetWindowExtEx(recording, 96, 96, nullptr);
  SetViewportExtEx(recording, 96, 96, nullptr);
  EXPECT_EQ(StretchDIBits(recording, 0, 0, kW, kH, 0, 0, kW, kH, bits.data(), &info, DIB_RGB_COLORS,
                          SRCCOPY),
            kH);
  HENHMETAFILE emf = CloseEnhMetaFile(recording);
  ASSERT_NE(emf, nullptr);
  ENHMETAHEADER header{};
  GetEnhMetaFileHeader(emf, sizeof header, &header);
  EXPECT_EQ(header.rclFrame.right, kW * 25);
  EXPECT_EQ(header.rclBounds.right, kW - 1);
  EXPECT_EQ(header.nHandles, 1);

  Canvas direct(kW, kH);
  StretchDIBits(direct.Dc(), 0, 0, kW, kH, 0, 0, kW, kH, bits.data(), &info, DIB_RGB_COLORS,
                SRCCOPY);
  EXPECT_EQ(Play(emf, kW, kH)->Pixels(), direct.Pixels());

  // Converted to a Windows metafile and back: the same picture.
  const UINT size = GetWinMetaFileBits(emf, 0, nullptr, MM_ANISOTROPIC, GetDC(nullptr));
  ASSERT_GT(size, 0u);
  std::vector<uint8_t> wmf(size);
  ASSERT_EQ(GetWinMetaFileBits(emf, size, wmf.data(), MM_ANISOTROPIC, GetDC(nullptr)), size);
  EXPECT_EQ(wmf[0], 1);  // a metafile in memory, nine header words
  EXPECT_EQ(wmf[2], 9);
  const METAFILEPICT picture{MM_ANISOTROPIC, kW * 25, kH * 25, nullptr};
  HENHMETAFILE back = SetWinMetaFileBits(size, wmf.data(), GetDC(nullptr), &picture);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(Play(back, kW, kH)->Pixels(), direct.Pixels());
  DeleteEnhMetaFile(back);
  DeleteEnhMetaFile(emf);
}

TEST(EnhancedMetafile, ConversionToAWindowsMetafileRefusesWhatItCannotCarry) {
  EmfBuilder emf;
  emf.Box(gdi::EMR_RECTANGLE, {0, 0, 5, 5});
  HENHMETAFILE handle = emf.Finish();
  EXPECT_EQ(GetWinMetaFileBits(handle, 0, nullptr, MM_ANISOTROPIC, nullptr), 0u);
  DeleteEnhMetaFile(handle);
}

TEST(WindowsMetafile, ConvertsRecordsObjectSlotsAndTheWindow) {
  WmfBuilder wmf;
  wmf.Record(gdi::META_SETWINDOWORG, {0, 0});
  wmf.Record(gdi::META_SETWINDOWEXT, {100, 200});  // y, x: 200 x 100 units
  wmf.Record(gdi::META_CREATEBRUSHINDIRECT, {BS_SOLID, 0x00FF, 0x0000, 0});  // slot 0: red
  wmf.Record(gdi::META_CREATEBRUSHINDIRECT, {BS_SOLID, 0x0000, 0x00FF, 0});  // slot 1: blue
  wmf.Record(gdi::META_DELETEOBJECT, {0});
  wmf.Record(gdi::META_CREATEPENINDIRECT, {PS_NULL, 0, 0, 0, 0});  // takes slot 0
  wmf.Record(gdi::META_SELECTOBJECT, {0});
  wmf.Record(gdi::META_SELECTOBJECT, {1});
  wmf.Record(gdi::META_RECTANGLE, {51, 101, 0, 0});  // bottom, right, top, left
  wmf.Record(0x0999, {1, 2});                        // unknown: skipped
  wmf.Record(gdi::META_SELECTOBJECT, {7});           // no such slot: ignored
  wmf.Record(gdi::META_ELLIPSE, {100, 200, 50, 100});
  const std::vector<uint8_t> bytes = wmf.Finish();
  const METAFILEPICT picture{MM_ANISOTROPIC, 1000, 500, nullptr};  // 40 x 20 pixels
  HENHMETAFILE emf =
      SetWinMetaFileBits(static_cast<UINT>(bytes.size()), bytes.data(), nullptr, &picture);
  ASSERT_NE(emf, nullptr);
  ENHMETAHEADER header{};
  GetEnhMetaFileHeader(emf, sizeof header, &header);
  EXPECT_EQ(header.rclFrame.right, 1000);
  EXPECT_EQ(header.rclFrame.bottom, 500);
  auto canvas = Play(emf, 40, 20);
  EXPECT_EQ(canvas->BoundsOf(kBlue).left, 0);
  EXPECT_EQ(canvas->BoundsOf(kBlue).right, 39);  // the ellipse, without a pen
  EXPECT_EQ(canvas->BoundsOf(kBlue).bottom, 19);
  EXPECT_EQ(canvas->At(5, 15), kWhite);  // neither the rectangle nor the ellipse
  EXPECT_EQ(canvas->Count(kBlack), 0);   // the null pen was used
  DeleteEnhMetaFile(emf);

  // Without a suggested size, the window extent is taken as pixels.
  HENHMETAFILE natural =
      SetWinMetaFileBits(static_cast<UINT>(bytes.size()), bytes.data(), nullptr, nullptr);
  GetEnhMetaFileHeader(natural, sizeof header, &header);
  EXPECT_EQ(header.rclFrame.right, 200 * 25);
  DeleteEnhMetaFile(natural);
}

TEST(WindowsMetafile, RefusesWhatIsNotOne) {
  const uint8_t junk[40] = {1, 2, 3};
  EXPECT_EQ(SetWinMetaFileBits(sizeof junk, junk, nullptr, nullptr), nullptr);
  WmfBuilder wmf;
  std::vector<uint8_t> bytes = wmf.Finish();
  EXPECT_EQ(SetWinMetaFileBits(10, bytes.data(), nullptr, nullptr), nullptr);
}

// ---- hostile metafiles: clean ends, bounded work ----

TEST(HostileMetafiles, RecordSizesThatLieEndThePlayback) {
  EmfBuilder emf;
  emf->Record(gdi::EMR_SELECTOBJECT, {kStock | BLACK_BRUSH});
  emf.Box(gdi::EMR_RECTANGLE, {0, 0, 10, 10});
  std::vector<uint8_t> bytes = emf.Bytes();
  // The rectangle's size now claims far more than there is.
  const size_t rectangle = bytes.size() - 20 - 24;
  bytes[rectangle + 5] = 0x70;
  HENHMETAFILE handle = SetEnhMetaFileBits(static_cast<UINT>(bytes.size()), bytes.data());
  ASSERT_NE(handle, nullptr);
  BOOL complete = TRUE;
  auto canvas = Play(handle, 40, 20, &complete);
  EXPECT_FALSE(complete);
  EXPECT_EQ(canvas->Count(kBlack), 0);
  DeleteEnhMetaFile(handle);

  // Truncated in the middle of a record: what came before is drawn.
  EmfBuilder cut;
  cut->Record(gdi::EMR_SELECTOBJECT, {kStock | BLACK_BRUSH});
  cut.Box(gdi::EMR_RECTANGLE, {0, 0, 10, 10});
  cut.Box(gdi::EMR_RECTANGLE, {20, 0, 30, 10});
  std::vector<uint8_t> full = cut.Bytes();
  full.resize(full.size() - 30);
  HENHMETAFILE truncated = SetEnhMetaFileBits(static_cast<UINT>(full.size()), full.data());
  ASSERT_NE(truncated, nullptr);
  EXPECT_GT(Play(truncated, 40, 20)->Count(kBlack), 0);
  DeleteEnhMetaFile(truncated);
}

TEST(HostileMetafiles, CountsIndexesAndExtentsOutOfRangeAreSkipped) {
  EmfBuilder emf;
  emf->Record(gdi::EMR_SELECTOBJECT, {kStock | BLACK_BRUSH});
  emf->Record(gdi::EMR_POLYGON16,
              {0, 0, 0, 0, 0x7FFFFFFF, 0x00010001});                // a count far past the end
  emf->Record(gdi::EMR_POLYPOLYGON, {0, 0, 0, 0, 2, 3, 100, 100});  // counts beyond the total
  emf->Record(gdi::EMR_CREATEBRUSHINDIRECT, {0x7FFFFFFF, BS_SOLID, 0, 0});
  emf->Record(gdi::EMR_DELETEOBJECT, {0xFFFFFFF0});
  emf->Record(gdi::EMR_SELECTOBJECT, {kStock | 9999});
  emf->Record(gdi::EMR_SETMAPMODE, {MM_ANISOTROPIC});
  emf->Record(gdi::EMR_SETWINDOWEXTEX, {1, 1});
  emf->Record(gdi::EMR_SETVIEWPORTEXTEX, {0x7FFFFFFF, 0x7FFFFFFF});
  emf.Box(gdi::EMR_ELLIPSE, {-1000, -1000, 1000, 1000});  // an ellipse of astronomic size
  emf->Begin(gdi::EMR_SETWORLDTRANSFORM);
  for (float f : {1e30f, 0.f, 0.f, 1e30f, 0.f, 0.f}) emf->F32(f);
  emf->End();
  emf.Box(gdi::EMR_RECTANGLE, {0, 0, 3, 3});
  HENHMETAFILE handle = emf.Finish();
  BOOL complete = FALSE;
  Play(handle, 40, 20, &complete);
  EXPECT_TRUE(complete);
  DeleteEnhMetaFile(handle);
}

TEST(HostileMetafiles, FramesAtTheEdgesOfTheRangeAreRefusedByTheConverter) {
  gdi::EmfWriter writer(RECT{INT32_MIN, 0, INT32_MAX, 100}, SIZE{1920, 1080}, SIZE{480, 270});
  const std::vector<uint8_t> bytes = writer.Finish();
  HENHMETAFILE emf = SetEnhMetaFileBits(static_cast<UINT>(bytes.size()), bytes.data());
  ASSERT_NE(emf, nullptr);
  EXPECT_EQ(GetWinMetaFileBits(emf, 0, nullptr, MM_ANISOTROPIC, nullptr), 0u);
  Play(emf, 10, 10);
  DeleteEnhMetaFile(emf);
}

TEST(HostileMetafiles, WorkIsBoundedByTheDestinationsSize) {
  EmfBuilder emf({400, 400});
  emf->Record(gdi::EMR_SELECTOBJECT, {kStock | BLACK_BRUSH});
  for (int i = 0; i < 100000; ++i) emf.Box(gdi::EMR_RECTANGLE, {0, 0, 400, 400});
  for (int i = 0; i < 5000; ++i) emf->Record(gdi::EMR_SAVEDC, {});
  HENHMETAFILE handle = emf.Finish();
  BOOL complete = TRUE;
  Play(handle, 400, 400, &complete);
  EXPECT_FALSE(complete);  // the allowance ran out long before the last rectangle
  DeleteEnhMetaFile(handle);
}

TEST(HostileMetafiles, WindowsMetafileSizesThatLieEndTheConversion) {
  WmfBuilder wmf;
  wmf.Record(gdi::META_SETWINDOWEXT, {10, 10});
  wmf.Record(gdi::META_POLYGON, {30000, 1, 1});  // claims 30000 points
  std::vector<uint8_t> bytes = wmf.Finish();
  bytes[18] = 0xFF;  // the first record's size runs past the end
  EXPECT_NE(SetWinMetaFileBits(static_cast<UINT>(bytes.size()), bytes.data(), nullptr, nullptr),
            nullptr);
  bytes[18] = 0;  // a zero size
  HENHMETAFILE emf =
      SetWinMetaFileBits(static_cast<UINT>(bytes.size()), bytes.data(), nullptr, nullptr);
  ASSERT_NE(emf, nullptr);
  Play(emf, 10, 10);
  DeleteEnhMetaFile(emf);
}

// ---- a metafile made by an independent tool, against that tool's rendering ----

TEST(ReferenceMetafiles, InkscapeEnhancedMetafilePlaysLikeInkscapeDrawsIt) {
  using namespace testing_support;
  const std::vector<uint8_t> bytes = ReadFileBytes(TestDataPath("metafiles/ink-drawing.emf"));
  const std::optional<RawImage> reference =
      DecodeWithPillow(TestDataPath("metafiles/ink-drawing.emf.png"));
  ASSERT_TRUE(reference.has_value());
  HENHMETAFILE emf = SetEnhMetaFileBits(static_cast<UINT>(bytes.size()), bytes.data());
  ASSERT_NE(emf, nullptr);
  auto canvas = Play(emf, reference->width, reference->height);
  RawImage ours{reference->width, reference->height, {}};
  for (COLORREF p : canvas->Pixels()) {
    ours.rgb.insert(ours.rgb.end(), {GetRValue(p), GetGValue(p), GetBValue(p)});
  }
  // Within one pixel and 48 levels per channel: anti-aliased edges and slightly
  // different glyphs; 97 % of the pixels both ways keeps shapes, places and colours.
  EXPECT_GE(NeighbourhoodMatch(ours, *reference, 1, 48), 0.97);
  EXPECT_GE(NeighbourhoodMatch(*reference, ours, 1, 48), 0.97);
  DeleteEnhMetaFile(emf);
}

}  // namespace

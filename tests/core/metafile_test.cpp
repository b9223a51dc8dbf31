#include "vellum/core/metafile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/kernel/global_memory.h"
#include "tests/support/oracle.h"
#include "tests/support/picture_compare.h"
#include "tests/support/temp_dir.h"

namespace vellum {
namespace {

using testing_support::DecodeWithPillow;
using testing_support::NeighbourhoodMatch;
using testing_support::RawImage;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::TestDataPath;
using testing_support::WriteFileBytes;

struct Picture {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgb;
};

// Reads a metafile file through the entry; an empty picture on failure.
Picture Read(const std::string& path, COLORREF background = 0xFFFFFF, int32_t xExt = 0,
             int32_t yExt = 0) {
  Picture picture;
  HGLOBAL rgb = ReadMetafile(path.c_str(), &picture.width, &picture.height, xExt, yExt, background);
  if (rgb == nullptr) return {};
  const auto* bytes = static_cast<const uint8_t*>(rgb);
  picture.rgb.assign(bytes, bytes + static_cast<size_t>(picture.width) * picture.height * 3);
  GlobalFree(rgb);
  return picture;
}

RawImage Raw(const Picture& p) { return {p.width, p.height, p.rgb}; }

std::vector<uint8_t> TestImage(int width, int height) {
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 7 + i / 3);
  return rgb;
}

// What a writer put into a memory destination, its result and its code.
struct Written {
  std::vector<uint8_t> bytes;
  uint32_t result = 0;
  int32_t code = kOk;
};

Written WriteToMemory(bool emf, const std::vector<uint8_t>& rgb, int width, int height,
                      size_t capacity = 1 << 20) {
  std::vector<uint8_t> block(capacity);
  HISDEST destination = OpenMemoryDestination(block.data(), static_cast<uint32_t>(capacity));
  Written written;
  written.result = emf ? WriteEMF(destination, rgb.data(), width, height)
                       : WriteWMF(destination, rgb.data(), width, height, TRUE);
  written.code = CoreLastError();
  block.resize(CloseDestination(destination));
  written.bytes = std::move(block);
  return written;
}

uint16_t Word(const std::vector<uint8_t>& bytes, size_t at) {
  return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

uint32_t Dword(const std::vector<uint8_t>& bytes, size_t at) {
  return Word(bytes, at) | uint32_t{Word(bytes, at + 2)} << 16;
}

TEST(ReadMetafile, FailsBeforeDrawingForAMissingOrForeignFile) {
  TempDir dir;
  int32_t w = 0, h = 0;
  const size_t blocks = GlobalLiveBlockCount();
  EXPECT_EQ(ReadMetafile(dir.File("missing.wmf").c_str(), &w, &h, 0, 0, 0xFFFFFF), nullptr);
  EXPECT_EQ(CoreLastError(), kErrOpenFile);
  EXPECT_EQ(ReadMetafile(nullptr, &w, &h, 0, 0, 0xFFFFFF), nullptr);
  EXPECT_EQ(CoreLastError(), kErrOpenFile);

  // Neither kind: offered to the WMF conversion, which refuses it.
  WriteFileBytes(dir.File("text.wmf"), std::vector<uint8_t>(100, 'x'));
  EXPECT_EQ(ReadMetafile(dir.File("text.wmf").c_str(), &w, &h, 1000, 1000, 0xFFFFFF), nullptr);
  EXPECT_EQ(CoreLastError(), kErrSetWinMetaFileBits);
  WriteFileBytes(dir.File("empty.wmf"), {});
  EXPECT_EQ(ReadMetafile(dir.File("empty.wmf").c_str(), &w, &h, 0, 0, 0xFFFFFF), nullptr);
  EXPECT_EQ(CoreLastError(), kErrBadMetafile);
  // A placeable key with nothing behind it.
  WriteFileBytes(dir.File("key.wmf"), {0xD7, 0xCD, 0xC6, 0x9A, 0, 0});
  EXPECT_EQ(ReadMetafile(dir.File("key.wmf").c_str(), &w, &h, 0, 0, 0xFFFFFF), nullptr);
  EXPECT_EQ(CoreLastError(), kErrSetWinMetaFileBits);
  EXPECT_EQ(GlobalLiveBlockCount(), blocks);
}

// A plain Windows metafile: window 100 x 100 units, a red box in its top-left quarter.
std::vector<uint8_t> PlainWmf() {
  std::vector<uint16_t> words = {1, 9, 0x0300, 0, 0, 0, 0, 0, 0};
  const auto record = [&](uint16_t function, std::initializer_list<uint16_t> params) {
    words.insert(words.end(), {static_cast<uint16_t>(3 + params.size()), 0, function});
    words.insert(words.end(), params);
  };
  record(0x020C, {100, 100});         // window extent
  record(0x02FC, {0, 0x00FF, 0, 0});  // a red brush
  record(0x012D, {0});
  record(0x041B, {51, 51, 0, 0});  // rectangle to (51, 51)
  record(0x0000, {});
  std::vector<uint8_t> bytes;
  for (uint16_t w : words)
    bytes.insert(bytes.end(), {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8)});
  return bytes;
}

TEST(ReadMetafile, PlainWindowsMetafilesGetExtentsOfTenMillimetres) {
  TempDir dir;
  WriteFileBytes(dir.File("plain.wmf"), PlainWmf());
  const Picture picture = Read(dir.File("plain.wmf"), RGB(0, 0, 255));
  EXPECT_EQ(CoreLastError(), kOk);
  EXPECT_EQ(picture.width, 40);  // 1000 x 1000 hundredths of a millimetre
  EXPECT_EQ(picture.height, 40);
  ASSERT_EQ(picture.rgb.size(), 40u * 40 * 3);
  EXPECT_EQ(picture.rgb[(5 * 40 + 5) * 3], 255);        // the box, red
  EXPECT_EQ(picture.rgb[(30 * 40 + 30) * 3 + 2], 255);  // the background, blue

  // Behind a placeable header the box and its units decide the size.
  std::vector<uint8_t> placeable = {
      0xD7, 0xCD, 0xC6, 0x9A, 0,    0, 0, 0, 0, 0, 0xD0,
      0x07, 0xE8, 0x03, 0xE8, 0x03, 0, 0, 0, 0, 0, 0};  // 2000 x 1000 at 1000 per inch
  const std::vector<uint8_t> body = PlainWmf();
  placeable.insert(placeable.end(), body.begin(), body.end());
  WriteFileBytes(dir.File("placeable.wmf"), placeable);
  const Picture sized = Read(dir.File("placeable.wmf"));
  EXPECT_EQ(sized.width, 203);   // 5080 hundredths of a millimetre in pixels of 0.25 mm
  EXPECT_EQ(sized.height, 102);  // 2540
}

TEST(ReadMetafile, PlaceableExtentsComeFromTheBoxAndItsUnits) {
  uint8_t header[kPlaceableHeaderSize] = {0xD7, 0xCD, 0xC6, 0x9A};
  const auto put = [&](int at, int16_t v) { std::memcpy(header + at, &v, 2); };
  put(10, 2000), put(12, 1000), put(14, 1000);
  EXPECT_EQ(PlaceableHeaderExtents(header).cx, 5080);
  EXPECT_EQ(PlaceableHeaderExtents(header).cy, 2540);
  put(6, 100), put(8, -200), put(14, 1440);
  EXPECT_EQ(PlaceableHeaderExtents(header).cx, 1900 * 2540 / 1440);
  EXPECT_EQ(PlaceableHeaderExtents(header).cy, 1200 * 2540 / 1440);
  put(14, 0);  // no units: no size rather than a division by zero
  EXPECT_EQ(PlaceableHeaderExtents(header).cx, 0);
}

TEST(WriteWMF, WritesThePlaceableHeaderAndItsChecksum) {
  const Written written = WriteToMemory(false, TestImage(100, 50), 100, 50);
  const std::vector<uint8_t>& bytes = written.bytes;
  EXPECT_EQ(written.code, kOk);
  ASSERT_GT(bytes.size(), 40u);
  EXPECT_EQ(written.result, bytes.size());
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4),
            (std::vector<uint8_t>{0xD7, 0xCD, 0xC6, 0x9A}));
  uint16_t checksum = 0;
  for (int i = 0; i < 10; ++i) checksum ^= Word(bytes, 2 * i);
  EXPECT_EQ(Word(bytes, 20), checksum);
  // The frame of 100 x 50 pixels of 0.25 mm, in thousandths of an inch.
  EXPECT_EQ(Word(bytes, 6), 0);
  EXPECT_EQ(Word(bytes, 10), 2500 * 1000 / 2540);
  EXPECT_EQ(Word(bytes, 12), 1250 * 1000 / 2540);
  EXPECT_EQ(Word(bytes, 14), 1000);
  EXPECT_EQ(Dword(bytes, 16), 0u);
  EXPECT_EQ(Word(bytes, 22), 1);  // then a Windows metafile
  EXPECT_EQ(Word(bytes, 24), 9);
}

TEST(WriteEMF, RecordsOneBitmapWithTheFrameAndMapping) {
  const Written written = WriteToMemory(true, TestImage(100, 50), 100, 50);
  const std::vector<uint8_t>& bytes = written.bytes;
  EXPECT_EQ(written.code, kOk);
  ASSERT_GT(bytes.size(), 108u);
  EXPECT_EQ(Dword(bytes, 0), 1u);          // the header record
  EXPECT_EQ(Dword(bytes, 24 + 8), 2500u);  // frame right: 100 x 480 mm x 100 / 1920
  EXPECT_EQ(Dword(bytes, 24 + 12), 1250u);
  EXPECT_EQ(Dword(bytes, 48), bytes.size());
  std::vector<uint32_t> types;
  for (size_t at = Dword(bytes, 4); at + 8 <= bytes.size(); at += Dword(bytes, at + 4)) {
    types.push_back(Dword(bytes, at));
    const uint32_t value = Dword(bytes, at + 8);
    if (types.back() == 17) {
      EXPECT_EQ(value, 7u);  // MM_ISOTROPIC
    } else if (types.back() == 9 || types.back() == 11) {
      EXPECT_EQ(value, 96u);  // window and viewport extents
    }
  }
  EXPECT_EQ(types, (std::vector<uint32_t>{17, 9, 11, 81, 14}));
}

TEST(MetafileWriters, OurFilesReadBackPixelForPixel) {
  TempDir dir;
  for (const auto& [w, h] : {std::pair{100, 50}, std::pair{37, 23}, std::pair{1, 1}}) {
    const std::vector<uint8_t> rgb = TestImage(w, h);
    for (bool emf : {true, false}) {
      const std::string path = dir.File(emf ? "ours.emf" : "ours.wmf");
      WriteFileBytes(path, WriteToMemory(emf, rgb, w, h).bytes);
      const Picture picture = Read(path);
      EXPECT_EQ(picture.width, w) << (emf ? "EMF " : "WMF ") << w << "x" << h;
      EXPECT_EQ(picture.height, h);
      EXPECT_TRUE(picture.rgb == rgb) << (emf ? "EMF " : "WMF ") << w << "x" << h;
    }
  }
}

TEST(MetafileWriters, ReturnTheDestinationSizeOnEveryPath) {
  const std::vector<uint8_t> rgb = TestImage(100, 50);
  const Written small = WriteToMemory(true, rgb, 100, 50, 64);  // too small a block
  EXPECT_EQ(small.code, kErrWriteFile);
  EXPECT_EQ(small.result, 0u);
  const Written partial = WriteToMemory(false, rgb, 100, 50, 64);
  EXPECT_EQ(partial.code, kErrWriteFile);
  EXPECT_EQ(partial.result, 22u);  // the placeable header went in before the block ran out
  EXPECT_EQ(partial.bytes.size(), 22u);

  std::vector<uint8_t> block(100);
  HISDEST destination = OpenMemoryDestination(block.data(), 100);
  EXPECT_EQ(WriteEMF(destination, nullptr, 10, 10), 0u);
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  EXPECT_EQ(WriteWMF(destination, rgb.data(), 0, 10, TRUE), 0u);
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  CloseDestination(destination);
  EXPECT_EQ(WriteEMF(nullptr, rgb.data(), 10, 10), 0u);
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  DataHandle fake{};
  EXPECT_EQ(WriteWMF(&fake, rgb.data(), 10, 10, TRUE), 0u);
  EXPECT_EQ(CoreLastError(), kErrInvalidHandle);

  // Wider than a Windows metafile's 16-bit coordinates reach: refused, not wrapped.
  const std::vector<uint8_t> wide = TestImage(40000, 1);
  const Written refused = WriteToMemory(false, wide, 40000, 1);
  EXPECT_EQ(refused.code, kErrGetMetaFileBits);
  EXPECT_EQ(refused.result, 0u);
}

// Beyond about 3300 pixels the placeable header's box takes coarser units than
// thousandths of an inch, up to the format's 32767 pixels; the pictures read back (our
// bitmaps end at 32766 pixels).
TEST(WriteWMF, LargePicturesTakeCoarserUnitsAndReadBack) {
  TempDir dir;
  for (const auto& [w, h] : {std::pair{3400, 2}, std::pair{2, 13001}, std::pair{32766, 1}}) {
    const std::vector<uint8_t> rgb = TestImage(w, h);
    const Written written = WriteToMemory(false, rgb, w, h, rgb.size() * 2 + 4096);
    ASSERT_EQ(written.code, kOk) << w << "x" << h;
    EXPECT_LT(Word(written.bytes, 14), 1000) << w << "x" << h;  // units per inch
    WriteFileBytes(dir.File("large.wmf"), written.bytes);
    const Picture picture = Read(dir.File("large.wmf"));
    EXPECT_EQ(picture.width, w);
    EXPECT_EQ(picture.height, h);
    EXPECT_TRUE(picture.rgb == rgb) << w << "x" << h;
  }
}

TEST(BitmapToRgb, ReadsColourAndMonochromeBitmaps) {
  HDC memory = CreateCompatibleDC(nullptr);
  HBITMAP mono = CreateCompatibleBitmap(memory, 5, 3);
  HGDIOBJ previous = SelectObject(memory, mono);
  const RECT corner{0, 0, 2, 1};
  FillRect(memory, &corner, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SelectObject(memory, previous);
  OpContext ctx;
  int32_t w = 0, h = 0;
  HGLOBAL rgb = BitmapToRgb(ctx, mono, &w, &h);
  ASSERT_NE(rgb, nullptr);
  EXPECT_EQ(ctx.code, kOk);
  EXPECT_EQ(w, 5);
  EXPECT_EQ(h, 3);
  const auto* p = static_cast<const uint8_t*>(rgb);
  EXPECT_EQ(p[0], 255);    // top-left white
  EXPECT_EQ(p[2 * 3], 0);  // third pixel black
  EXPECT_EQ(p[5 * 3], 0);  // second row black
  GlobalFree(rgb);
  DeleteObject(mono);
  DeleteDC(memory);

  HBITMAP gone = CreateCompatibleBitmap(GetDC(nullptr), 2, 2);
  DeleteObject(gone);
  OpContext failed;
  EXPECT_EQ(BitmapToRgb(failed, gone, &w, &h), nullptr);
  EXPECT_EQ(failed.code, kErrGetDIBits);
}

TEST(RenderEnhMetaFile, FillsTheBackgroundAndRefusesUnusableFrames) {
  // An empty picture of 8 x 4 pixels shows only the background.
  RECT frame{0, 0, 8 * 25, 4 * 25};
  HDC recording = CreateEnhMetaFileA(nullptr, nullptr, &frame, nullptr);
  HENHMETAFILE emf = CloseEnhMetaFile(recording);
  OpContext ctx;
  int32_t w = 0, h = 0;
  HGLOBAL rgb = RenderEnhMetaFile(ctx, emf, &w, &h, RGB(10, 20, 30));
  ASSERT_NE(rgb, nullptr);
  EXPECT_EQ(w, 8);
  EXPECT_EQ(h, 4);
  const auto* p = static_cast<const uint8_t*>(rgb);
  EXPECT_EQ(p[3 * 31 + 2], 30);
  GlobalFree(rgb);
  DeleteEnhMetaFile(emf);

  frame = {0, 0, 0, 100};  // no width
  emf = CloseEnhMetaFile(CreateEnhMetaFileA(nullptr, nullptr, &frame, nullptr));
  OpContext empty;
  EXPECT_EQ(RenderEnhMetaFile(empty, emf, &w, &h, 0), nullptr);
  EXPECT_EQ(empty.code, kErrCreateCompatibleBitmap);
  DeleteEnhMetaFile(emf);
  frame = {0, 0, 2000000000, 100};  // far beyond any bitmap
  emf = CloseEnhMetaFile(CreateEnhMetaFileA(nullptr, nullptr, &frame, nullptr));
  OpContext huge;
  EXPECT_EQ(RenderEnhMetaFile(huge, emf, &w, &h, 0), nullptr);
  EXPECT_EQ(huge.code, kErrCreateCompatibleBitmap);
  DeleteEnhMetaFile(emf);
}

// ---- independent tools ----

// Within one pixel and 48 levels per channel (anti-aliased edges in the tools'
// renderings, glyphs from another rasteriser), for 97 % of the pixels both ways:
// a shape that is missing, moved or recoloured fails this.
void ExpectLooksLike(const RawImage& ours, const RawImage& reference, const std::string& what) {
  const RawImage scaled = testing_support::ResizeNearest(reference, ours.width, ours.height);
  EXPECT_GE(NeighbourhoodMatch(ours, scaled, 1, 48), 0.97) << what;
  EXPECT_GE(NeighbourhoodMatch(scaled, ours, 1, 48), 0.97) << what;
}

TEST(ReferenceMetafiles, RenderLikeTheIndependentReaderDrawsThem) {
  for (const char* name : {"lo-drawing.emf", "lo-drawing.wmf", "ink-drawing.wmf"}) {
    const Picture ours = Read(TestDataPath(std::string("metafiles/") + name));
    ASSERT_GT(ours.width, 0) << name << ": " << CoreErrorText(CoreLastError());
    const std::optional<RawImage> reference =
        DecodeWithPillow(TestDataPath(std::string("metafiles/") + name + ".png"));
    ASSERT_TRUE(reference.has_value());
    // Sizes differ only by the reference devices' pixel pitches (0.25 mm here, 1/96 inch there).
    EXPECT_NEAR(ours.width, reference->width * 25.4 / 96 / 0.25, 0.07 * reference->width) << name;
    ExpectLooksLike(Raw(ours), *reference, name);
  }
  // Inkscape's EMF names a 1200-dpi reference device: the picture is rendered at that size.
  const Picture large = Read(TestDataPath("metafiles/ink-drawing.emf"));
  EXPECT_EQ(large.width, 3023);
  EXPECT_EQ(large.height, 2031);
}

TEST(ReferenceMetafiles, AnIndependentReaderSeesThePictureWeWrite) {
  const std::optional<RawImage> input = DecodeWithPillow(TestDataPath("metafiles/input.png"));
  ASSERT_TRUE(input.has_value());
  for (const char* name : {"ours.emf", "ours.wmf"}) {
    // What we write today is what the reader was given.
    const Written written =
        WriteToMemory(std::string(name) == "ours.emf", input->rgb, input->width, input->height);
    EXPECT_EQ(written.bytes, ReadFileBytes(TestDataPath(std::string("metafiles/") + name))) << name;
    const std::optional<RawImage> seen =
        DecodeWithPillow(TestDataPath(std::string("metafiles/") + name + ".png"));
    ASSERT_TRUE(seen.has_value());
    const RawImage original = testing_support::ResizeNearest(*input, seen->width, seen->height);
    EXPECT_GE(NeighbourhoodMatch(*seen, original, 1, 48), 0.97) << name;
    EXPECT_GE(NeighbourhoodMatch(original, *seen, 1, 48), 0.97) << name;
  }
}

}  // namespace
}  // namespace vellum

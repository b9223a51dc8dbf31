#include "vellum/pixelops/color_reduction.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/kernel/global_memory.h"
#include "tests/pixelops/color_test_support.h"
#include "vellum/codecs/bmp.h"
#include "vellum/pixelops/default_palette.h"
#include "vellum/pixelops/dithering.h"
#include "vellum/pixelops/octree_quantizer.h"

namespace vellum {
namespace {

using namespace color_test;

std::vector<uint8_t> Gradient(uint32_t width, uint32_t height) {
  std::vector<uint8_t> rgb(size_t{width} * height * 3);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      uint8_t* p = &rgb[(size_t{y} * width + x) * 3];
      p[0] = static_cast<uint8_t>(x * 255 / (width - 1));
      p[1] = static_cast<uint8_t>(y * 255 / (height - 1));
      p[2] = static_cast<uint8_t>((x * 5 + y * 3) % 256);
    }
  }
  return rgb;
}

struct Reduced {
  int32_t code = 0;
  std::vector<uint8_t> pixels;
  int32_t bitsPerPixel = 0;
  int32_t paletteCount = 0;
  std::vector<RGBQUAD> palette = std::vector<RGBQUAD>(300, RGBQUAD{9, 9, 9, 9});
};

Reduced Reduce(const std::vector<uint8_t>& rgb, uint32_t width, uint32_t height, int32_t resolution,
               int32_t method, int32_t format) {
  static const Palette kDefault = MakeDefaultPalette();
  Reduced out;
  HGLOBAL block =
      ReduceColorsForSave(rgb.data(), width, height, resolution, method, format, kDefault,
                          out.palette.data(), &out.bitsPerPixel, &out.paletteCount);
  out.code = CoreLastError();
  if (block != nullptr) {
    const auto* data = static_cast<const uint8_t*>(block);
    out.pixels.assign(data, data + GlobalSize(block));
    GlobalFree(block);
  }
  return out;
}

TEST(DefaultPalette, FixedColoursCubeAndBlackTail) {
  const Palette palette = MakeDefaultPalette();
  EXPECT_EQ(ColorOf(palette[0]), (Rgb{255, 255, 255}));
  EXPECT_EQ(ColorOf(palette[2]), (Rgb{102, 255, 0}));
  EXPECT_EQ(ColorOf(palette[4]), (Rgb{0, 0, 0}));
  EXPECT_EQ(ColorOf(palette[7]), (Rgb{0, 0, 102}));
  EXPECT_EQ(ColorOf(palette[11]), (Rgb{102, 102, 255}));
  EXPECT_EQ(ColorOf(palette[15]), (Rgb{102, 0, 255}));
  // The cube: red slowest, blue fastest.
  EXPECT_EQ(ColorOf(palette[16]), (Rgb{0, 0, 0}));
  EXPECT_EQ(ColorOf(palette[17]), (Rgb{0, 0, 51}));
  EXPECT_EQ(ColorOf(palette[16 + 6]), (Rgb{0, 51, 0}));
  EXPECT_EQ(ColorOf(palette[16 + 36 * 2 + 6 * 3 + 4]), (Rgb{102, 153, 204}));
  EXPECT_EQ(ColorOf(palette[231]), (Rgb{255, 255, 255}));
  for (int i = 232; i < 256; ++i) EXPECT_EQ(ColorOf(palette[i]), (Rgb{0, 0, 0})) << i;
  for (const RGBQUAD& entry : palette) EXPECT_EQ(entry.rgbReserved, 0);
}

TEST(SaveReduction, BestFitAt256ColoursUsesTheFirstOfEqualEntries) {
  const std::vector<uint8_t> rgb = Image({{0, 0, 0}, {255, 255, 255}, {102, 153, 204}});
  const Reduced r = Reduce(rgb, 3, 1, kColor256, kSelectBestFit, kSaveGif);
  EXPECT_EQ(r.code, kOk);
  EXPECT_EQ(r.bitsPerPixel, 8);
  EXPECT_EQ(r.paletteCount, 256);
  EXPECT_EQ(r.pixels, (std::vector<uint8_t>{4, 0, 16 + 36 * 2 + 6 * 3 + 4}));
  // The save palette holds the default colours, every fourth byte opaque.
  const Palette defaults = MakeDefaultPalette();
  for (int i = 0; i < 256; ++i) {
    ASSERT_EQ(ColorOf(r.palette[i]), ColorOf(defaults[i])) << i;
    ASSERT_EQ(r.palette[i].rgbReserved, 255) << i;
  }
}

TEST(SaveReduction, SixteenColoursKeepBytesForGifAndPackForBmp) {
  // (153, 153, 153) is 7803 from both entry 8 and entry 12: the earlier wins.
  const std::vector<uint8_t> rgb =
      Image({{153, 153, 153}, {255, 0, 0}, {0, 0, 0}, {204, 204, 204}, {102, 0, 255}});
  const Reduced gif = Reduce(rgb, 5, 1, kColor16, kSelectBestFit, kSaveGif);
  EXPECT_EQ(gif.code, kOk);
  EXPECT_EQ(gif.bitsPerPixel, 8);
  EXPECT_EQ(gif.paletteCount, 16);
  EXPECT_EQ(gif.pixels, (std::vector<uint8_t>{8, 5, 4, 12, 15}));
  EXPECT_EQ(ColorOf(gif.palette[15]), (Rgb{102, 0, 255}));
  for (int i = 16; i < 256; ++i) {
    ASSERT_EQ(ColorOf(gif.palette[i]), (Rgb{0, 0, 0})) << i;
    ASSERT_EQ(gif.palette[i].rgbReserved, 255) << i;
  }

  // Width 5 packs into rows of 3 bytes, the fifth pixel in the high nibble.
  for (int32_t format : {kSaveBmp, kSaveJpeg, kSaveWmf, kSaveEmf, kSavePsd}) {
    const Reduced packed = Reduce(rgb, 5, 1, kColor16, kSelectBestFit, format);
    EXPECT_EQ(packed.bitsPerPixel, 4) << format;
    EXPECT_EQ(packed.paletteCount, 16) << format;
    EXPECT_EQ(packed.pixels, (std::vector<uint8_t>{0x85, 0x4C, 0xF0})) << format;
  }
  for (int32_t format : {kSavePng, kSavePcx, kSaveTiff}) {
    EXPECT_EQ(Reduce(rgb, 5, 1, kColor16, kSelectBestFit, format).bitsPerPixel, 8) << format;
  }
  // Each row starts on a byte of its own.
  std::vector<uint8_t> twoRows = rgb;
  twoRows.insert(twoRows.end(), rgb.begin(), rgb.end());
  EXPECT_EQ(Reduce(twoRows, 5, 2, kColor16, kSelectBestFit, kSaveBmp).pixels,
            (std::vector<uint8_t>{0x85, 0x4C, 0xF0, 0x85, 0x4C, 0xF0}));
}

TEST(SaveReduction, MethodsAreTheQuantizerAndTheDitheredMapping) {
  const uint32_t width = 23;
  const uint32_t height = 11;
  const std::vector<uint8_t> rgb = Gradient(width, height);
  const Palette defaults = MakeDefaultPalette();

  std::vector<uint8_t> indices(width * height);
  std::vector<RGBQUAD> palette(256);
  ASSERT_TRUE(QuantizeOctree(rgb.data(), width, height, indices.data(), 256, palette.data()));
  const Reduced quantized = Reduce(rgb, width, height, kColor256, kSelectQuantize, kSaveBmp);
  EXPECT_EQ(quantized.pixels, indices);
  for (int i = 0; i < 256; ++i) {
    ASSERT_EQ(ColorOf(quantized.palette[i]), ColorOf(palette[i])) << i;
  }

  ASSERT_TRUE(MapPaletteDithered(rgb.data(), width, height, indices.data(), defaults.data(), 16));
  const Reduced dithered = Reduce(rgb, width, height, kColor16, kSelectBestFitDithered, kSaveGif);
  EXPECT_EQ(dithered.pixels, indices);
}

TEST(SaveReduction, GrayScaleByFormat) {
  const uint32_t width = 16;
  const uint32_t height = 9;
  const std::vector<uint8_t> rgb = Gradient(width, height);
  for (int32_t format : {kSaveJpeg, kSavePng}) {
    const Reduced gray = Reduce(rgb, width, height, kColorGrayScale, kSelectBestFit, format);
    std::vector<uint8_t> expected(width * height);
    ASSERT_TRUE(RgbToGray(rgb.data(), width, height, expected.data()));
    EXPECT_EQ(gray.pixels, expected) << format;
    EXPECT_EQ(gray.bitsPerPixel, 8);
    EXPECT_EQ(gray.paletteCount, 0);
  }

  // Other formats: the quantized image over the mean grays of its palette.
  std::vector<uint8_t> indices(width * height);
  std::vector<RGBQUAD> palette(256);
  ASSERT_TRUE(QuantizeOctree(rgb.data(), width, height, indices.data(), 256, palette.data()));
  const Reduced gif = Reduce(rgb, width, height, kColorGrayScale, -1, kSaveGif);
  EXPECT_EQ(gif.code, kOk);
  EXPECT_EQ(gif.pixels, indices);
  EXPECT_EQ(gif.bitsPerPixel, 8);
  EXPECT_EQ(gif.paletteCount, 256);
  for (int i = 0; i < 256; ++i) {
    const uint8_t mean =
        static_cast<uint8_t>((palette[i].rgbRed + palette[i].rgbGreen + palette[i].rgbBlue) / 3);
    ASSERT_EQ(ColorOf(gif.palette[i]), (Rgb{mean, mean, mean})) << i;
    ASSERT_EQ(gif.palette[i].rgbReserved, 0) << i;
  }
}

TEST(SaveReduction, RefusesTrueColourUnknownResolutionsAndMethods) {
  const std::vector<uint8_t> rgb = Image({{1, 2, 3}});
  const struct {
    int32_t resolution, method;
  } cases[] = {{kColorTrue, kSelectBestFit},
               {2, kSelectBestFit},
               {kColor256, 3},
               {kColor256, -1},
               {kColor16, -1}};
  for (const auto& c : cases) {
    const Reduced r = Reduce(rgb, 1, 1, c.resolution, c.method, kSaveBmp);
    EXPECT_TRUE(r.pixels.empty()) << c.resolution << " " << c.method;
    EXPECT_EQ(r.code, kErrInvalidArgument) << c.resolution << " " << c.method;
  }
  int32_t bits = 0;
  int32_t count = 0;
  const Palette defaults = MakeDefaultPalette();
  EXPECT_EQ(ReduceColorsForSave(rgb.data(), 1, 1, kColor256, kSelectBestFit, kSaveBmp, defaults,
                                nullptr, &bits, &count),
            nullptr);
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
}

// The 16-colour save of a BMP: packed rows and palette through WriteBMP, read
// back as the colours the reduction chose.
TEST(SaveReduction, SixteenColourBmpRoundTrip) {
  const uint32_t width = 21;
  const uint32_t height = 6;
  const std::vector<uint8_t> rgb = Gradient(width, height);
  const Reduced packed = Reduce(rgb, width, height, kColor16, kSelectQuantize, kSaveBmp);
  const Reduced bytes = Reduce(rgb, width, height, kColor16, kSelectQuantize, kSaveGif);
  ASSERT_EQ(packed.bitsPerPixel, 4);

  std::vector<uint8_t> file(4096);
  HISDEST destination = OpenMemoryDestination(file.data(), static_cast<uint32_t>(file.size()));
  const uint32_t size = WriteBMP(destination, packed.pixels.data(), width, height, 4,
                                 packed.paletteCount, packed.palette.data());
  CloseDestination(destination);
  ASSERT_GT(size, 0u);

  HISSRC source = OpenMemorySource(file.data(), size);
  int32_t readWidth = 0;
  int32_t readHeight = 0;
  HGLOBAL image = ReadBMP(source, &readWidth, &readHeight, 24);
  CloseSource(source);
  ASSERT_NE(image, nullptr);
  const auto* decoded = static_cast<const uint8_t*>(image);
  for (size_t i = 0; i < bytes.pixels.size(); ++i) {
    ASSERT_EQ((Rgb{decoded[3 * i], decoded[3 * i + 1], decoded[3 * i + 2]}),
              ColorOf(bytes.palette[bytes.pixels[i]]))
        << i;
  }
  GlobalFree(image);
}

}  // namespace
}  // namespace vellum

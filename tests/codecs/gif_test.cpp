#include "vellum/codecs/gif.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "tests/codecs/codec_test_support.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"
#include "vellum/codecs/gif_run_encoder.h"

namespace vellum {
namespace {

using namespace codec_tests;

struct ReadResult {
  Decoded image;
  int32_t transparent = -2;
};

ReadResult ReadGif(const std::vector<uint8_t>& bytes) {
  ReadResult result;
  result.image = DecodeBytes(bytes, [&](HISSRC source, int32_t* w, int32_t* h) {
    return ReadGIF(source, w, h, &result.transparent);
  });
  return result;
}

Encoded WriteGif(const std::vector<uint8_t>& pixels, int width, int height, int tableBits,
                 const Palette& palette, int transparent = -1, int interlace = 0) {
  return EncodeBytes(
      [&](HISDEST destination) {
        return WriteGIF(destination, pixels.data(), width, height, interlace, 0, transparent,
                        tableBits, palette.data());
      },
      pixels.size() * 2 + 4096);
}

// ---- hand-made files ----

// Packs codes least significant bit first, each at its width.
struct CodePacker {
  std::vector<uint8_t> bytes;
  uint32_t bits = 0;
  int count = 0;
  void Put(uint32_t code, int width) {
    bits |= code << count;
    for (count += width; count >= 8; count -= 8, bits >>= 8) bytes.push_back(uint8_t(bits));
  }
  std::vector<uint8_t> Done() {
    if (count > 0) bytes.push_back(uint8_t(bits));
    return bytes;
  }
};

// Image data of a minimum code size (8 unless given): a clear code, then `codes`
// at the widths a standard decoder expects (it adds an entry for every code after
// the first following a clear, and widens codes when the next entry reaches 2^width).
std::vector<uint8_t> CodeStream(const std::vector<uint32_t>& codes, int codeSize = 8) {
  CodePacker packer;
  const uint32_t clear = 1u << codeSize;
  int width = codeSize + 1;
  packer.Put(clear, width);
  uint32_t next = clear + 2;
  bool first = true;
  for (uint32_t code : codes) {
    packer.Put(code, width);
    if (code == clear) {
      width = codeSize + 1, next = clear + 2, first = true;
      continue;
    }
    if (!first && next < 4096 && ++next == (1u << width) && width < 12) ++width;
    first = false;
  }
  return packer.Done();
}

// A GIF89a file with a 256-entry distinct global table, `extensions` before the
// image and `after` after its data; `data` is cut into sub-blocks of `blockSize`
// bytes. Image flags 0x80 | k add a local table of 2 << k red, green, blue triples
// from `local`; 0x40 marks the rows as interlaced.
std::vector<uint8_t> GifFile(int width, int height, const std::vector<uint8_t>& data,
                             const std::vector<uint8_t>& extensions = {},
                             const std::vector<uint8_t>& after = {}, uint8_t flags = 0,
                             const std::vector<uint8_t>& local = {}, uint8_t codeSize = 8,
                             size_t blockSize = 255) {
  std::vector<uint8_t> table;
  for (const RGBQUAD& e : DistinctPalette())
    table.insert(table.end(), {e.rgbRed, e.rgbGreen, e.rgbBlue});
  const auto screen =
      Concat({{'G', 'I', 'F', '8', '9', 'a'}, Le16(width), Le16(height), {0xF7, 0, 0}});
  const auto image =
      Concat({{0x2C, 0, 0, 0, 0}, Le16(width), Le16(height), {flags}, local, {codeSize}});
  std::vector<uint8_t> f = Concat({screen, table, extensions, image});
  for (size_t at = 0; at < data.size(); at += blockSize) {
    const size_t n = std::min<size_t>(blockSize, data.size() - at);
    f.push_back(uint8_t(n));
    f.insert(f.end(), data.begin() + at, data.begin() + at + n);
  }
  f.push_back(0);
  f.insert(f.end(), after.begin(), after.end());
  f.push_back(0x3B);
  return f;
}

std::vector<uint8_t> GraphicControl(bool transparent, uint8_t index) {
  return {0x21, 0xF9, 4, uint8_t(transparent ? 1 : 0), 0, 0, index, 0};
}

// giflib's view of the indices of the first image.
std::vector<uint8_t> GiflibIndices(const std::string& path) {
  std::string raw;
  EXPECT_TRUE(testing_support::RunCommand("giftext -r " + testing_support::ShellQuote(path), &raw));
  return {raw.begin(), raw.end()};
}

// ---- writer ----

struct IndexCase {
  std::string name;
  int width, height, tableBits;
  std::vector<uint8_t> pixels;
};

// A photo-like picture reduced to 256 colours by Pillow: its indices and palette.
IndexCase Photographic(int width, int height, Palette& palette) {
  TempDir dir;
  const char* program = R"(
import sys
from PIL import Image, ImageFilter
w, h = int(sys.argv[1]), int(sys.argv[2])
bands = [Image.linear_gradient('L').resize((w, h)), Image.radial_gradient('L').resize((w, h)),
         Image.effect_noise((w, h), 60)]
q = Image.merge('RGB', bands).filter(ImageFilter.GaussianBlur(2)).quantize(256)
open(sys.argv[3], 'wb').write(q.tobytes())
open(sys.argv[4], 'wb').write(bytes((q.getpalette() + [0] * 768)[:768]))
)";
  const std::string indices = dir.File("indices"), colours = dir.File("palette");
  EXPECT_TRUE(testing_support::RunPython(
      program, {std::to_string(width), std::to_string(height), indices, colours}));
  const std::vector<uint8_t> rgb = testing_support::ReadFileBytes(colours);
  for (int i = 0; i < 256; ++i) palette[i] = {rgb[3 * i + 2], rgb[3 * i + 1], rgb[3 * i], 255};
  return {"photographic", width, height, 8, testing_support::ReadFileBytes(indices)};
}

TEST(WriteGif, IndexImagesDecodeExactlyInIndependentDecoders) {
  std::vector<uint8_t> gradient(256 * 3);
  for (size_t i = 0; i < gradient.size(); ++i) gradient[i] = uint8_t(i);
  Palette photoPalette{};
  const Palette palette = DistinctPalette();
  const std::vector<IndexCase> cases = {
      {"two colours", 37, 19, 1, RandomBytes(37 * 19, 2, 1)},
      {"two-colour runs", 301, 97, 1, RandomRuns(301 * 97, 2, 2)},
      {"every index", 256, 3, 8, gradient},
      {"single colour", 100, 100, 8, std::vector<uint8_t>(100 * 100, 7)},
      // More pixels than one triangle of run codes covers before the table fills.
      {"large single colour", 4001, 2001, 8, std::vector<uint8_t>(4001 * 2001, 200)},
      {"noisy", 300, 200, 8, RandomBytes(300 * 200, 256, 3)},
      {"runs", 1023, 769, 8, RandomRuns(1023 * 769, 256, 4)},
      {"sixteen colours", 129, 65, 4, RandomRuns(129 * 65, 16, 5)},
      {"one pixel", 1, 1, 8, {42}},
      {"one column", 1, 257, 8, RandomRuns(257, 3, 6)},
      {"one row", 641, 1, 8, RandomBytes(641, 256, 7)},
      Photographic(333, 211, photoPalette),
  };
  TempDir dir;
  for (const IndexCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Palette& colours = c.name == "photographic" ? photoPalette : palette;
    const Encoded written = WriteGif(c.pixels, c.width, c.height, c.tableBits, colours);
    ASSERT_EQ(written.code, kOk);
    ASSERT_EQ(written.result, written.bytes.size());
    const std::string path = dir.File("written.gif");
    testing_support::WriteFileBytes(path, written.bytes);

    EXPECT_EQ(GiflibIndices(path), c.pixels);
    const std::vector<uint8_t> expected = IndicesToRgb(c.pixels, colours);
    const auto pillow = testing_support::DecodeWithPillow(path);
    ASSERT_TRUE(pillow.has_value());
    EXPECT_TRUE(pillow->rgb == expected);
    const auto magick = testing_support::DecodeWithImageMagick(path);
    ASSERT_TRUE(magick.has_value());
    EXPECT_TRUE(magick->rgb == expected);
    const ReadResult ours = ReadGif(written.bytes);
    EXPECT_EQ(ours.image.width, c.width);
    EXPECT_EQ(ours.image.height, c.height);
    EXPECT_TRUE(ours.image.rgb == expected);
  }
}

TEST(WriteGif, HeaderAndGraphicControlFollowTheTransparentIndex) {
  const Palette palette = DistinctPalette();
  const std::vector<uint8_t> pixels = RandomBytes(5 * 4, 256, 8);
  const Encoded opaque = WriteGif(pixels, 5, 4, 8, palette, -1);
  EXPECT_EQ(std::string(opaque.bytes.begin(), opaque.bytes.begin() + 6), "GIF87a");
  EXPECT_EQ(opaque.bytes[10], 0xF7);
  EXPECT_EQ(opaque.bytes[13 + 768], 0x2C);  // the image right after the table

  const Encoded transparent = WriteGif(pixels, 5, 4, 8, palette, 0);
  EXPECT_EQ(std::string(transparent.bytes.begin(), transparent.bytes.begin() + 6), "GIF89a");
  const std::vector<uint8_t> extension(transparent.bytes.begin() + 13 + 768,
                                       transparent.bytes.begin() + 13 + 768 + 8);
  EXPECT_EQ(extension, GraphicControl(true, 0));
  const ReadResult read = ReadGif(transparent.bytes);
  EXPECT_EQ(read.transparent,
            int32_t(palette[0].rgbRed | palette[0].rgbGreen << 8 | palette[0].rgbBlue << 16));
  EXPECT_EQ(ReadGif(opaque.bytes).transparent, -1);
}

TEST(WriteGif, InterlacedFilesStoreTheirRowsInPassOrder) {
  const Palette palette = DistinctPalette();
  const std::vector<uint8_t> pixels = RandomRuns(23 * 19, 256, 9);
  const Encoded written = WriteGif(pixels, 23, 19, 8, palette, -1, 1);
  TempDir dir;
  testing_support::WriteFileBytes(dir.File("i.gif"), written.bytes);
  const auto pillow = testing_support::DecodeWithPillow(dir.File("i.gif"));
  ASSERT_TRUE(pillow.has_value());
  EXPECT_TRUE(pillow->rgb == IndicesToRgb(pixels, palette));
  EXPECT_TRUE(ReadGif(written.bytes).image.rgb == IndicesToRgb(pixels, palette));
}

TEST(WriteGif, RefusesBadArgumentsAndReportsFailedWrites) {
  const Palette palette = DistinctPalette();
  const std::vector<uint8_t> pixels = {0, 1, 2, 3};
  auto code = [&](const uint8_t* p, int w, int h, int transparent, int bits, const RGBQUAD* pal) {
    return EncodeBytes(
               [&](HISDEST d) { return WriteGIF(d, p, w, h, 0, 0, transparent, bits, pal); }, 4096)
        .code;
  };
  EXPECT_EQ(code(nullptr, 2, 2, -1, 8, palette.data()), kErrInvalidArgument);
  EXPECT_EQ(code(pixels.data(), 2, 2, -1, 8, nullptr), kErrInvalidArgument);
  EXPECT_EQ(code(pixels.data(), 0, 2, -1, 8, palette.data()), kErrInvalidArgument);
  EXPECT_EQ(code(pixels.data(), 70000, 1, -1, 8, palette.data()), kErrInvalidArgument);
  EXPECT_EQ(code(pixels.data(), 2, 2, -1, 9, palette.data()), kErrInvalidArgument);
  EXPECT_EQ(code(pixels.data(), 2, 2, 256, 8, palette.data()), kErrInvalidArgument);
  EXPECT_EQ(code(pixels.data(), 2, 2, -1, 1, palette.data()), kErrInvalidArgument);  // index 3
  EXPECT_EQ(code(pixels.data(), 2, 2, -1, 2, palette.data()), kOk);
  EXPECT_EQ(WriteGIF(nullptr, pixels.data(), 2, 2, 0, 0, -1, 8, palette.data()), 0u);
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);

  const std::vector<uint8_t> noisy = RandomBytes(100 * 100, 256, 10);
  const Encoded cut = EncodeBytes(
      [&](HISDEST d) { return WriteGIF(d, noisy.data(), 100, 100, 0, 0, -1, 8, palette.data()); },
      5000);
  EXPECT_EQ(cut.result, 0u);
  EXPECT_EQ(cut.code, kErrWriteFile);
}

TEST(GifRunCodes, SquareRootAndTriangleCostAreExact) {
  auto exact = [](uint64_t x) {
    const uint64_t root = IntegerSquareRoot(uint32_t(x));
    return root * root <= x && (root + 1) * (root + 1) > x;
  };
  for (uint64_t x = 0; x < 300000; ++x) ASSERT_TRUE(exact(x)) << x;
  for (uint64_t x = 300000; x <= UINT32_MAX; x = x * 3 + 1) ASSERT_TRUE(exact(x)) << x;
  EXPECT_TRUE(exact(UINT32_MAX));
  // Spelling x pixels with runs 1, 2, ..., q long, starting afresh after each full triangle.
  for (uint32_t q : {3u, 10u, 3837u}) {
    for (uint64_t x : {1u, 2u, 3u, 6u, 7u, 100u, 7363400u, 7363403u, 40000000u}) {
      uint64_t codes = 0, left = x, n = 0;
      while (left > 0) {
        n = n == q ? 1 : n + 1;
        left -= std::min(left, n);
        ++codes;
      }
      EXPECT_EQ(TriangleCost(x, q), codes) << x << " with " << q;
    }
  }
}

// ---- reader ----

TEST(ReadGif, FilesFromOtherToolsDecodeAsTheyDo) {
  TempDir dir;
  const std::string src = dir.File("src.png");
  ASSERT_TRUE(
      testing_support::RunCommand("/usr/bin/convert -seed 4 -size 61x43 plasma:red-blue " + src));
  struct ToolCase {
    std::string name, command;
  };
  const std::string c = "/usr/bin/convert ";
  const std::vector<ToolCase> cases = {
      {"plain", c + src + " -colors 200 OUT"},
      {"interlaced", c + src + " -colors 256 -interlace GIF OUT"},
      {"two colours", c + src + " -monochrome OUT"},
      {"sixteen colours", c + src + " -colors 16 -interlace GIF OUT"},
      // A first frame smaller than the screen and placed inside it, then a second one.
      {"animated", c + "-delay 10 \\( " + src +
                       " -crop 50x30+0+0 +repage -set page 90x70+4+3 \\) " +
                       "\\( -size 90x70 gradient:red-yellow \\) OUT"},
  };
  for (const ToolCase& tc : cases) {
    SCOPED_TRACE(tc.name);
    std::string command = tc.command;
    const std::string out = dir.File("tool.gif");
    command.replace(command.find("OUT"), 3, out);
    ASSERT_TRUE(testing_support::RunCommand(command));
    const auto magick = testing_support::DecodeWithImageMagick(out);
    ASSERT_TRUE(magick.has_value());
    const ReadResult ours = ReadGif(testing_support::ReadFileBytes(out));
    ASSERT_TRUE(ours.image.hasImage) << ours.image.code;
    EXPECT_EQ(ours.image.width, magick->width);
    EXPECT_EQ(ours.image.height, magick->height);
    EXPECT_TRUE(ours.image.rgb == magick->rgb);
  }
}

TEST(ReadGif, TransparentColourComesFromPillowsTransparencyIndex) {
  TempDir dir;
  const std::string path = dir.File("t.gif");
  ASSERT_TRUE(testing_support::RunPython(R"(
import sys
from PIL import Image
im = Image.new('P', (9, 5))
im.putpalette([10, 20, 30, 200, 100, 50] + [0] * 762)
im.putdata([0, 1] * 22 + [1])
im.save(sys.argv[1], transparency=1)
)",
                                         {path}));
  const ReadResult read = ReadGif(testing_support::ReadFileBytes(path));
  EXPECT_TRUE(read.image.hasImage);
  EXPECT_EQ(read.transparent, 200 | 100 << 8 | 50 << 16);
}

TEST(ReadGif, OnlyGraphicControlBlocksBeforeTheImageCount) {
  const std::vector<uint8_t> data = CodeStream({1, 2, 3, 257});
  auto with = [&](std::vector<uint8_t> before, std::vector<uint8_t> after) {
    return ReadGif(GifFile(3, 1, data, before, after)).transparent;
  };
  const int32_t color2 = DistinctPalette()[2].rgbRed | DistinctPalette()[2].rgbGreen << 8 |
                         DistinctPalette()[2].rgbBlue << 16;
  EXPECT_EQ(with({}, GraphicControl(true, 2)), -1);
  EXPECT_EQ(with(GraphicControl(true, 2), {}), color2);
  EXPECT_EQ(with(Concat({GraphicControl(true, 7), GraphicControl(true, 2)}), {}), color2);
  // Comments and application blocks are skipped whatever they hold.
  const std::vector<uint8_t> others = {0x21, 0xFE, 3, 'a', 0x2C, 'c', 0, 0x21, 0xFF, 1, 0x3B, 0};
  const auto two = Concat({GraphicControl(true, 2), GraphicControl(false, 2), others});
  EXPECT_EQ(with(two, {}), -1);
}

TEST(ReadGif, ALocalTableReplacesTheGlobalOne) {
  const std::vector<uint8_t> data = CodeStream({0, 1, 5, 257});
  const ReadResult read =
      ReadGif(GifFile(3, 1, data, GraphicControl(true, 1), {}, 0x80, {1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(read.image.rgb, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 0, 0, 0}));
  EXPECT_EQ(read.transparent, 4 | 5 << 8 | 6 << 16);
}

TEST(ReadGif, DecodesLzwCornerCasesLikeGiflib) {
  std::vector<uint32_t> filling;  // fills the table, then goes on with 12-bit codes
  for (int i = 0; i < 5000; ++i) filling.push_back(uint32_t(i * 7 % 256));
  struct Stream {
    int width, height;
    std::vector<uint32_t> codes;
  };
  const std::vector<Stream> streams = {
      {11, 1, {5, 258, 259, 260, 1, 257}},                 // codes equal to the next free code
      {5, 2, {9, 9, 258, 259, 256, 4, 258, 256, 3, 257}},  // clears between strings
      {100, 50, filling},
  };
  TempDir dir;
  for (const Stream& stream : streams) {
    const std::vector<uint8_t> file =
        GifFile(stream.width, stream.height, CodeStream(stream.codes));
    testing_support::WriteFileBytes(dir.File("s.gif"), file);
    const std::vector<uint8_t> expected = GiflibIndices(dir.File("s.gif"));
    ASSERT_EQ(expected.size(), size_t(stream.width * stream.height));
    const ReadResult read = ReadGif(file);
    ASSERT_TRUE(read.image.hasImage);
    EXPECT_TRUE(read.image.rgb == IndicesToRgb(expected, DistinctPalette()));
  }
}

// ---- random code streams against a plain decoder ----

// The reader's rules spelled with whole strings: a clear resets the table, the end
// code or a code the table cannot stand for ends decoding, a full table stays as it
// is. The indices in stored order, at most `pixels` of them.
std::vector<uint8_t> PlainLzwIndices(const std::vector<uint8_t>& data, int codeSize,
                                     size_t pixels) {
  const uint32_t clear = 1u << codeSize;
  std::vector<std::vector<uint8_t>> table;
  int width = 0;
  int64_t previous = -1;
  auto reset = [&] {
    table.assign(clear + 2, {});
    for (uint32_t i = 0; i < clear; ++i) table[i] = {uint8_t(i)};
    width = codeSize + 1;
    previous = -1;
  };
  reset();
  std::vector<uint8_t> out;
  size_t bit = 0;
  while (out.size() < pixels && bit + width <= data.size() * 8) {
    uint32_t code = 0;
    for (int i = 0; i < width; ++i, ++bit) code |= uint32_t(data[bit / 8] >> (bit % 8) & 1) << i;
    if (code == clear) {
      reset();
      continue;
    }
    if (code == clear + 1 || (previous < 0 ? code >= clear : code > table.size())) break;
    if (previous >= 0 && table.size() < 4096) {
      std::vector<uint8_t> entry = table[previous];
      entry.push_back(code == table.size() ? entry[0] : table[code][0]);
      table.push_back(entry);
      if (table.size() == (1u << width) && width < 12) ++width;
    }
    out.insert(out.end(), table[code].begin(), table[code].end());
    previous = code;
  }
  out.resize(std::min(out.size(), pixels));
  return out;
}

// The image rows in the order a file stores them.
std::vector<int> StoredRows(int height, bool interlaced) {
  std::vector<int> rows;
  const int passes[4][2] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};
  for (const auto& [start, step] : passes) {
    for (int y = interlaced ? start : 0; y < height; y += interlaced ? step : 1) rows.push_back(y);
    if (!interlaced) break;
  }
  return rows;
}

struct RandomStream {
  int clearPercent;   // chance of a clear code
  int newestPercent;  // chance of the newest entry or the one about to be made
  bool damaged;       // also end codes and codes no table holds
};

// Codes an encoder might send: literals, entries made lately (their strings grow
// long), the entry about to be made, older entries, now and then a clear.
std::vector<uint32_t> RandomCodes(int codeSize, size_t count, const RandomStream& kind,
                                  uint32_t seed) {
  std::mt19937 random(seed);
  const uint32_t clear = 1u << codeSize;
  uint32_t next = clear + 2;
  int width = codeSize + 1;
  bool first = true;
  std::vector<uint32_t> codes;
  while (codes.size() < count) {
    const uint32_t made = next - clear - 2;  // entries in the table
    const unsigned pick = random() % 1000;
    uint32_t code = random() % clear;
    if (pick < unsigned(kind.clearPercent) * 10) {
      code = clear;
    } else if (!first && made > 0 && random() % 100 < unsigned(kind.newestPercent)) {
      code = next < 4096 ? next - (random() & 1) : next - 1;
    } else if (kind.damaged && pick >= 997) {
      code = first ? clear + 2 : next + 1 < (1u << width) ? next + 1 : clear + 1;
    } else if (kind.damaged && pick >= 995) {
      code = clear + 1;
    } else if (!first && pick >= 600 && next < 4096) {
      code = next;
    } else if (made > 0 && pick >= 250) {
      code = next - 1 - random() % std::min(made, pick >= 500 ? made : 3u);
    }
    if (code >= (1u << width)) code = random() % clear;  // no wider than the width
    codes.push_back(code);
    if (code == clear) {
      next = clear + 2, width = codeSize + 1, first = true;
      continue;
    }
    if (!first && next < 4096 && ++next == (1u << width) && width < 12) ++width;
    first = false;
  }
  return codes;
}

TEST(ReadGif, RandomCodeStreamsDecodeAsAPlainDecoderSays) {
  struct Shape {
    std::string name;
    int width, height, codeSize;
    bool interlaced;
    size_t blockSize;
  };
  const std::vector<Shape> shapes = {
      {"one pixel", 1, 1, 8, false, 255},
      {"one pixel, two colours", 1, 1, 2, true, 255},
      {"one column, interlaced", 1, 37, 3, true, 255},
      {"one row", 997, 1, 8, false, 255},
      {"odd sizes", 333, 7, 4, false, 255},
      {"three interlaced rows", 13, 3, 8, true, 255},
      {"ten interlaced rows", 9, 10, 5, true, 255},
      {"code size 1", 17, 5, 1, false, 255},
      {"code size 2, one-byte sub-blocks", 31, 29, 2, false, 1},
      {"code size 7, seven-byte sub-blocks", 64, 48, 7, true, 7},
      {"rows shorter than strings", 3, 400, 8, false, 255},
      {"wide, interlaced", 1201, 33, 8, true, 255},
  };
  // Short strings with clears, a table that fills, strings hundreds long, damage.
  const std::vector<RandomStream> kinds = {{2, 0, false},  {0, 0, false}, {0, 90, false},
                                           {0, 99, false}, {1, 0, true},  {0, 90, true}};
  for (const Shape& shape : shapes) {
    for (size_t k = 0; k < kinds.size(); ++k) {
      for (uint32_t seed = 1; seed <= 3; ++seed) {
        SCOPED_TRACE(shape.name + ", kind " + std::to_string(k) + ", seed " + std::to_string(seed));
        const size_t pixels = size_t(shape.width) * shape.height;
        // Enough codes for the picture; the last seed cuts the data to a third.
        std::vector<uint8_t> data = CodeStream(
            RandomCodes(shape.codeSize, pixels + 8, kinds[k], seed * 31 + k), shape.codeSize);
        if (seed == 3) data.resize(std::max<size_t>(data.size() / 3, 2));
        const std::vector<uint8_t> stored = PlainLzwIndices(data, shape.codeSize, pixels);
        std::vector<uint8_t> indices(pixels, 0);
        const std::vector<int> rows = StoredRows(shape.height, shape.interlaced);
        for (size_t i = 0; i < stored.size(); ++i) {
          indices[size_t(rows[i / shape.width]) * shape.width + i % shape.width] = stored[i];
        }
        const ReadResult read =
            ReadGif(GifFile(shape.width, shape.height, data, {}, {}, shape.interlaced ? 0x40 : 0,
                            {}, uint8_t(shape.codeSize), shape.blockSize));
        if (stored.size() < size_t(shape.width)) {
          EXPECT_EQ(read.image.code, kErrReadFile);
          EXPECT_FALSE(read.image.hasImage);
          continue;
        }
        ASSERT_EQ(read.image.code, kOk);
        EXPECT_TRUE(read.image.rgb == IndicesToRgb(indices, DistinctPalette()));
      }
    }
  }
}

// Data that ends early, once it has given a whole row, is no error: the pixels not
// reached keep index 0. Data that ends before the first row is whole holds no picture.
TEST(ReadGif, DamagedDataEndsDecodingWithoutAnErrorOnceARowIsWhole) {
  auto decodes = [](const std::vector<uint8_t>& file, const std::vector<uint8_t>& indices) {
    const ReadResult read = ReadGif(file);
    EXPECT_EQ(read.image.code, kOk);
    return read.image.rgb == IndicesToRgb(indices, DistinctPalette());
  };
  const std::vector<uint8_t> row = {1, 2, 3, 4};
  auto twoRows = [&](std::vector<uint32_t> rest) {
    rest.insert(rest.begin(), row.begin(), row.end());
    return GifFile(4, 2, CodeStream(rest));
  };
  EXPECT_TRUE(decodes(twoRows({1, 2, 300, 3}), {1, 2, 3, 4, 1, 2, 0, 0}));       // beyond the table
  EXPECT_TRUE(decodes(twoRows({1, 2, 256, 258, 3}), {1, 2, 3, 4, 1, 2, 0, 0}));  // no string yet
  EXPECT_TRUE(decodes(twoRows({1, 257, 3, 4}), {1, 2, 3, 4, 1, 0, 0, 0}));       // end code
  std::vector<uint8_t> cut = twoRows({5, 6, 7, 8});
  cut.resize(cut.size() - 4);  // the sub-block, its terminator and the trailer end early
  const ReadResult partial = ReadGif(cut);
  EXPECT_EQ(partial.image.code, kOk);
  ASSERT_EQ(partial.image.rgb.size(), 24u);
  EXPECT_EQ(std::vector<uint8_t>(partial.image.rgb.begin(), partial.image.rgb.begin() + 12),
            IndicesToRgb(row, DistinctPalette()));

  for (const std::vector<uint8_t>& noRow :
       {GifFile(4, 1, CodeStream({1, 2, 300, 3})), GifFile(4, 1, CodeStream({1, 257, 3, 4})),
        GifFile(4, 1, {})}) {
    const ReadResult read = ReadGif(noRow);
    EXPECT_FALSE(read.image.hasImage);
    EXPECT_EQ(read.image.code, kErrReadFile);
  }
}

TEST(ReadGif, HostileFilesFailWithTheirCodes) {
  const std::vector<uint8_t> good = GifFile(7, 3, CodeStream({1, 2, 3, 4, 5, 6, 7, 257}));
  for (size_t size = 1; size < good.size(); ++size) {
    const ReadResult read = ReadGif(std::vector<uint8_t>(good.begin(), good.begin() + size));
    // Cut in the header or tables, before the image data, or inside the data (which
    // then cannot hold 21 pixels until a code fits in it, and holds no whole row of 7
    // until a few more do; after that it ends early).
    const int32_t expected = size < 781   ? kErrBadGif
                             : size < 792 ? kErrReadFile
                             : size < 794 ? kErrBadGif
                             : size < 802 ? kErrReadFile
                                          : kOk;
    EXPECT_EQ(read.image.code, expected) << size;
  }
  std::vector<uint8_t> bad = good;
  bad[4] = '8';
  EXPECT_EQ(ReadGif(bad).image.code, kErrBadGif);
  for (uint8_t codeSize : {0, 9, 12}) {
    bad = good;
    bad[13 + 768 + 10] = codeSize;
    EXPECT_EQ(ReadGif(bad).image.code, kErrBadGif);
  }
  bad = good;
  bad[13 + 768 + 7] = 0;  // height 0
  EXPECT_EQ(ReadGif(bad).image.code, kErrBadGif);
  // More pixels than the data could spell, and more than a buffer may hold.
  EXPECT_EQ(ReadGif(GifFile(0xFFFF, 0xFFFF, CodeStream({1}))).image.code, kErrBadGif);
  EXPECT_EQ(ReadGif(GifFile(0xFFFF, 0xFFFF, std::vector<uint8_t>(1200000))).image.code,
            kErrNoMemory);

  int32_t w = 0, h = 0, t = 0;
  EXPECT_EQ(ReadGIF(nullptr, &w, &h, &t), nullptr);
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  EXPECT_EQ(DecodeBytes(good, [](HISSRC s, int32_t* w2,
                                 int32_t* h2) { return ReadGIF(s, w2, h2, nullptr); })
                .code,
            kErrInvalidArgument);
  DataHandle forged{};
  EXPECT_EQ(ReadGIF(&forged, &w, &h, &t), nullptr);
  EXPECT_EQ(CoreLastError(), kErrInvalidHandle);
}

}  // namespace
}  // namespace vellum

// WebP and AVIF: files made by Pillow, cwebp and avifenc decoded against the tools' own
// decoding and against the picture they were made from; files we write decoded by the
// tools; damaged files refused with the format's code.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tests/codecs/codec_test_support.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"
#include "vellum/codecs/avif.h"
#include "vellum/codecs/webp.h"
#include "vellum/core/error_table.h"
#include "vellum/core/worker_pool.h"

namespace vellum {
namespace {

using codec_tests::DecodeBytes;
using codec_tests::Decoded;
using codec_tests::EncodeBytes;
using codec_tests::Encoded;
using codec_tests::MaxDifference;
using codec_tests::TestPicture;
using testing_support::RawImage;
using testing_support::ReadFileBytes;
using testing_support::RunCommand;
using testing_support::RunPython;
using testing_support::ShellQuote;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

struct Codec {
  const char* extension;
  HGLOBAL (*read)(HISSRC, int32_t*, int32_t*);
  uint32_t (*write)(HISDEST, const uint8_t*, int32_t, int32_t, int32_t);
  int32_t badDataCode;
};

constexpr Codec kWebp{".webp", ReadWEBP, WriteWEBP, kErrBadWebp};
constexpr Codec kAvif{".avif", ReadAVIF, WriteAVIF, kErrBadAvif};

// The tools' own decoding: Pillow for WebP (through libwebp), avifdec for AVIF.
std::optional<RawImage> ReferenceDecoding(const Codec& codec, const std::string& path,
                                          const TempDir& dir) {
  if (&codec == &kWebp) return testing_support::DecodeWithPillow(path);
  const std::string png = dir.File("reference.png");
  if (!RunCommand("avifdec -d 8 " + ShellQuote(path) + " " + ShellQuote(png))) return std::nullopt;
  return testing_support::DecodeWithPillow(png);
}

double MeanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  EXPECT_EQ(a.size(), b.size());
  if (a.size() != b.size() || a.empty()) return 1e9;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int{a[i]} - int{b[i]});
  return sum / static_cast<double>(a.size());
}

constexpr int kWidth = 61;  // odd sides: the chroma of 4:2:0 runs past the last pixel
constexpr int kHeight = 37;

// The test picture with an alpha that runs from transparent at the left to opaque.
std::vector<uint8_t> PictureWithAlpha() {
  const std::vector<uint8_t> rgb = TestPicture(kWidth, kHeight);
  std::vector<uint8_t> rgba;
  for (size_t i = 0; i < rgb.size() / 3; ++i) {
    const auto x = static_cast<int>(i % kWidth);
    rgba.insert(rgba.end(), {rgb[i * 3], rgb[i * 3 + 1], rgb[i * 3 + 2],
                             static_cast<uint8_t>(x * 255 / (kWidth - 1))});
  }
  return rgba;
}

// RGBA over black, as the PNG reader composites a file without bKGD.
std::vector<uint8_t> OverBlack(const std::vector<uint8_t>& rgba) {
  std::vector<uint8_t> rgb;
  for (size_t i = 0; i < rgba.size(); i += 4) {
    for (int c = 0; c < 3; ++c) {
      rgb.push_back(static_cast<uint8_t>((rgba[i + c] * rgba[i + 3] + 127) / 255));
    }
  }
  return rgb;
}

// Writes the source picture as a PNG (RGB or RGBA) for the tools.
void WriteSourcePng(const std::string& path, const std::vector<uint8_t>& pixels, bool alpha,
                    const TempDir& dir) {
  const std::string raw = dir.File("source.raw");
  WriteFileBytes(raw, pixels);
  static const char* kProgram = R"(
import sys
from PIL import Image
mode = sys.argv[3]
data = open(sys.argv[1], 'rb').read()
Image.frombytes(mode, (int(sys.argv[4]), int(sys.argv[5])), data).save(sys.argv[2])
)";
  ASSERT_TRUE(RunPython(kProgram, {raw, path, alpha ? "RGBA" : "RGB", std::to_string(kWidth),
                                   std::to_string(kHeight)}));
}

// ---- files the tools make ----

struct MadeFile {
  const char* description;
  const Codec* codec;
  // A shell command with {in} (the source PNG) and {out}, or a Pillow program taking
  // them as its arguments when it starts with "py:".
  const char* command;
  bool alpha;
  bool lossless;
};

void PrintTo(const MadeFile& file, std::ostream* out) { *out << file.description; }

bool Make(const MadeFile& file, const std::string& in, const std::string& out) {
  std::string command = file.command;
  if (command.starts_with("py:")) {
    const std::string program =
        "import sys\nfrom PIL import Image\nimage = Image.open(sys.argv[1])\n" + command.substr(3) +
        "\n";
    return RunPython(program, {in, out});
  }
  for (const auto& [name, value] : {std::pair{"{in}", in}, std::pair{"{out}", out}}) {
    command.replace(command.find(name), std::string(name).size(), ShellQuote(value));
  }
  return RunCommand(command);
}

class MadeFileTest : public ::testing::TestWithParam<MadeFile> {};

TEST_P(MadeFileTest, DecodesAsTheToolsDoAndWithinTheLoss) {
  const MadeFile& file = GetParam();
  TempDir dir;
  const std::vector<uint8_t> source =
      file.alpha ? PictureWithAlpha() : TestPicture(kWidth, kHeight);
  const std::string in = dir.File("source.png");
  WriteSourcePng(in, source, file.alpha, dir);
  const std::string out = dir.File(std::string("made") + file.codec->extension);
  ASSERT_TRUE(Make(file, in, out));

  const Decoded ours = DecodeBytes(ReadFileBytes(out), file.codec->read);
  ASSERT_TRUE(ours.hasImage) << "code " << ours.code;
  EXPECT_EQ(ours.code, kOk);
  ASSERT_EQ(ours.width, kWidth);
  ASSERT_EQ(ours.height, kHeight);
  const std::vector<uint8_t> expected = file.alpha ? OverBlack(source) : source;
  if (file.lossless) {
    EXPECT_EQ(ours.rgb, expected);
  } else {
    // The picture's fine checkerboard loses much to chroma subsampling; a swapped
    // channel or a shifted row would lose far more.
    EXPECT_LT(MeanDifference(ours.rgb, expected), 20.0);
  }
  // Alpha is composited by us, not by the tools' RGB decoding.
  if (!file.alpha) {
    const std::optional<RawImage> reference = ReferenceDecoding(*file.codec, out, dir);
    ASSERT_TRUE(reference);
    EXPECT_LE(MaxDifference(ours.rgb, reference->rgb), 1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tools, MadeFileTest,
    ::testing::Values(
        MadeFile{"cwebp lossy", &kWebp, "cwebp -quiet -q 80 {in} -o {out}", false, false},
        MadeFile{"cwebp lossless", &kWebp, "cwebp -quiet -lossless {in} -o {out}", false, true},
        MadeFile{"cwebp lossless with alpha", &kWebp, "cwebp -quiet -lossless -exact {in} -o {out}",
                 true, true},
        MadeFile{"Pillow lossy", &kWebp, "py:image.save(sys.argv[2], 'WEBP', quality=80)", false,
                 false},
        MadeFile{"Pillow lossless", &kWebp, "py:image.save(sys.argv[2], 'WEBP', lossless=True)",
                 false, true},
        // Two frames: the first is the image.
        MadeFile{"Pillow animation", &kWebp,
                 "py:from PIL import ImageOps\n"
                 "image.save(sys.argv[2], 'WEBP', lossless=True, save_all=True,\n"
                 "           append_images=[ImageOps.invert(image)], duration=100)",
                 false, true},
        MadeFile{"avifenc 4:2:0", &kAvif, "avifenc -j 1 -s 8 -y 420 --min 20 --max 20 {in} {out}",
                 false, false},
        MadeFile{"avifenc 4:4:4, 10 bits", &kAvif,
                 "avifenc -j 1 -s 8 -y 444 -d 10 --min 10 --max 10 {in} {out}", false, false},
        MadeFile{"avifenc lossless", &kAvif, "avifenc -j 1 -s 8 -l {in} {out}", false, true},
        MadeFile{"avifenc lossless with alpha", &kAvif, "avifenc -j 1 -s 8 -l {in} {out}", true,
                 true}));

// ---- files we write ----

class WrittenFileTest : public ::testing::TestWithParam<const Codec*> {
 protected:
  Encoded Write(const std::vector<uint8_t>& rgb, int width, int height, int quality) {
    return EncodeBytes([&](HISDEST destination) {
      return GetParam()->write(destination, rgb.data(), width, height, quality);
    });
  }
  // The tools' decoding of what we wrote.
  RawImage Reference(const Encoded& encoded) {
    const std::string path = dir_.File(std::string("ours") + GetParam()->extension);
    WriteFileBytes(path, encoded.bytes);
    std::optional<RawImage> reference = ReferenceDecoding(*GetParam(), path, dir_);
    EXPECT_TRUE(reference);
    return reference.value_or(RawImage{});
  }
  TempDir dir_;
};

TEST_P(WrittenFileTest, QualityOneHundredIsLosslessInTheTools) {
  for (const auto& [width, height] : {std::pair{kWidth, kHeight}, std::pair{1, 1}}) {
    const std::vector<uint8_t> picture = TestPicture(width, height);
    const Encoded encoded = Write(picture, width, height, 100);
    ASSERT_GT(encoded.result, 0u) << "code " << encoded.code;
    EXPECT_EQ(encoded.result, encoded.bytes.size());
    const RawImage reference = Reference(encoded);
    EXPECT_EQ(reference.width, width);
    EXPECT_EQ(reference.height, height);
    EXPECT_EQ(reference.rgb, picture);
  }
}

TEST_P(WrittenFileTest, LowerQualityIsSmallerAndStillThePicture) {
  const std::vector<uint8_t> picture = TestPicture(kWidth, kHeight);
  const Encoded fine = Write(picture, kWidth, kHeight, 90);
  const Encoded coarse = Write(picture, kWidth, kHeight, 20);
  ASSERT_GT(fine.result, 0u);
  ASSERT_GT(coarse.result, 0u);
  EXPECT_LT(coarse.bytes.size(), fine.bytes.size());
  const RawImage reference = Reference(fine);
  ASSERT_EQ(reference.width, kWidth);
  EXPECT_LT(MeanDifference(reference.rgb, picture), 20.0);
  // Our reader agrees with the tools on our own file.
  const Decoded ours = DecodeBytes(fine.bytes, GetParam()->read);
  ASSERT_TRUE(ours.hasImage);
  EXPECT_LE(MaxDifference(ours.rgb, reference.rgb), 1);
}

TEST_P(WrittenFileTest, DamagedFilesAreRefusedWithTheFormatsCode) {
  const std::vector<uint8_t> picture = TestPicture(kWidth, kHeight);
  const Encoded encoded = Write(picture, kWidth, kHeight, 60);
  ASSERT_GT(encoded.result, 0u);
  for (size_t keep : {size_t{16}, size_t{40}, encoded.bytes.size() / 2, encoded.bytes.size() - 1}) {
    const std::vector<uint8_t> cut(encoded.bytes.begin(), encoded.bytes.begin() + keep);
    const Decoded decoded = DecodeBytes(cut, GetParam()->read);
    EXPECT_FALSE(decoded.hasImage) << keep;
    EXPECT_EQ(decoded.code, GetParam()->badDataCode) << keep;
  }
  // Noise behind a valid start.
  std::vector<uint8_t> noisy(encoded.bytes.begin(), encoded.bytes.begin() + 32);
  const std::vector<uint8_t> noise = codec_tests::RandomBytes(4000, 256, 7);
  noisy.insert(noisy.end(), noise.begin(), noise.end());
  EXPECT_FALSE(DecodeBytes(noisy, GetParam()->read).hasImage);
}

TEST_P(WrittenFileTest, FilesAndPixelsDoNotDependOnTheThreadCount) {
  // Big enough for several rows of coding blocks, odd for partial ones.
  const int width = 641;
  const int height = 331;
  const std::vector<uint8_t> picture = TestPicture(width, height);
  std::vector<Encoded> files;
  std::vector<Decoded> pictures;
  for (const size_t threads : {1, 2, 4}) {
    SetParallelThreads(threads);
    files.push_back(Write(picture, width, height, 60));
    pictures.push_back(DecodeBytes(files.front().bytes, GetParam()->read));
  }
  SetParallelThreads(0);
  for (size_t i = 1; i < files.size(); ++i) {
    ASSERT_GT(files[i].result, 0u);
    EXPECT_EQ(files[i].bytes, files[0].bytes) << i;
    ASSERT_TRUE(pictures[i].hasImage);
    EXPECT_EQ(pictures[i].rgb, pictures[0].rgb) << i;
  }
}

TEST_P(WrittenFileTest, EmptyImagesAreRefused) {
  const std::vector<uint8_t> pixel(3);
  EXPECT_EQ(Write(pixel, 0, 1, 75).code, kErrInvalidArgument);
  EXPECT_EQ(Write(pixel, 1, 0, 75).code, kErrInvalidArgument);
}

// What headless Chromium draws of a file: the picture decoded by the browser, read back
// from a canvas (the file goes in as a data: URL, so the canvas stays readable).
std::optional<RawImage> DecodeWithChromium(const Encoded& file, const char* mimeType,
                                           const TempDir& dir) {
  static const char* kProgram = R"(
import base64, subprocess, sys
data = base64.b64encode(open(sys.argv[1], 'rb').read()).decode()
page = """<html><body><img id="i" src="data:%s;base64,%s"><script>
var img = document.getElementById('i');
function report() {
  var c = document.createElement('canvas'); c.width = img.naturalWidth; c.height = img.naturalHeight;
  var g = c.getContext('2d'); g.drawImage(img, 0, 0);
  var d = g.getImageData(0, 0, c.width, c.height).data, out = [c.width, c.height];
  for (var k = 0; k < d.length; k += 4) out.push(d[k], d[k + 1], d[k + 2]);
  document.body.setAttribute('data-pixels', out.join(','));
}
if (img.complete && img.naturalWidth) report(); else img.onload = report;
</script></body></html>""" % (sys.argv[2], data)
open(sys.argv[3], 'w').write(page)
dom = subprocess.run(['timeout', '120', 'chromium', '--headless=new', '--no-sandbox', '--disable-gpu',
                      '--force-color-profile=srgb', '--user-data-dir=' + sys.argv[4],
                      '--virtual-time-budget=10000', '--dump-dom', 'file://' + sys.argv[3]],
                     capture_output=True, text=True).stdout
values = [int(v) for v in dom.split('data-pixels="')[1].split('"')[0].split(',')]
open(sys.argv[5], 'wb').write(bytes(values[2:]))
print(values[0], values[1])
)";
  const std::string input = dir.File("browser-input");
  const std::string raw = dir.File("browser.rgb");
  WriteFileBytes(input, file.bytes);
  std::string size;
  if (!RunPython(kProgram, {input, mimeType, dir.File("page.html"), dir.File("profile"), raw},
                 &size)) {
    return std::nullopt;
  }
  RawImage image;
  if (std::sscanf(size.c_str(), "%d %d", &image.width, &image.height) != 2) return std::nullopt;
  image.rgb = ReadFileBytes(raw);
  return image;
}

TEST_P(WrittenFileTest, ChromiumShowsWhatWeWrite) {
  const char* mimeType = GetParam() == &kWebp ? "image/webp" : "image/avif";
  const std::vector<uint8_t> picture = TestPicture(kWidth, kHeight);
  // Lossless files show exactly; lossy ones as our own reader decodes them, give or take
  // the browser's rounding of the chroma.
  const Encoded lossless = Write(picture, kWidth, kHeight, 100);
  const std::optional<RawImage> exact = DecodeWithChromium(lossless, mimeType, dir_);
  ASSERT_TRUE(exact);
  ASSERT_EQ(exact->width, kWidth);
  ASSERT_EQ(exact->height, kHeight);
  EXPECT_EQ(exact->rgb, picture);
  const Encoded lossy = Write(picture, kWidth, kHeight, 75);
  const std::optional<RawImage> shown = DecodeWithChromium(lossy, mimeType, dir_);
  ASSERT_TRUE(shown);
  const Decoded ours = DecodeBytes(lossy.bytes, GetParam()->read);
  ASSERT_TRUE(ours.hasImage);
  EXPECT_LT(MeanDifference(shown->rgb, ours.rgb), 2.0);
}

INSTANTIATE_TEST_SUITE_P(Codecs, WrittenFileTest, ::testing::Values(&kWebp, &kAvif),
                         [](const auto& codec) { return std::string(codec.param->extension + 1); });

}  // namespace
}  // namespace vellum

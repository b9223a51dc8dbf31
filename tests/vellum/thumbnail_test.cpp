// LoadThumbnail: LoadImage and CreateThumbnail in one step, a big JPEG decoded at the
// smallest of libjpeg's scales that leaves twice the thumbnail's size.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <utility>

#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_images.h"
#include "tests/vellum/image_io_support.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TestImage;
using testing_support::WriteFileBytes;
using vellum_testing::ByteArray;
using vellum_testing::CallResult;
using vellum_testing::EaselSession;

// Smooth shapes with a little noise, as photographs are.
TestImage Photo(uint32_t width, uint32_t height) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> noise(-4, 4);
  TestImage image = testing_support::UniformImage(width, height, 0);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) {
        const double field = 128 + 90 * std::sin(x / (40.0 + 9 * c)) * std::cos(y / 57.0);
        image.At(x, y)[c] = static_cast<uint8_t>(std::clamp(int(field) + noise(rng), 0, 255));
      }
    }
  }
  return image;
}

class LoadThumbnailTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(thumbnail_ && reference_); }

  std::string Path(const std::string& name) const { return dir_.File(name); }
  static Variant Text(const std::string& text) {
    return Variant::String(std::u16string(text.begin(), text.end()));
  }
  // Pillow saves the image; `options` are save()'s keyword arguments.
  void Save(const TestImage& image, const std::string& path, const std::string& options) {
    const std::string raw = Path("pixels.rgb");
    WriteFileBytes(raw, image.bytes);
    ASSERT_TRUE(testing_support::RunPython(
        "import sys\nfrom PIL import Image\n"
        "Image.frombytes('RGB', (int(sys.argv[2]), int(sys.argv[3])), open(sys.argv[1], "
        "'rb').read()).save(sys.argv[4]" +
            options + ")\n",
        {raw, std::to_string(image.width), std::to_string(image.height), path}));
  }
  // The reference object loads the whole file and thumbnails it.
  void LoadAndThumbnail(Variant image, int width, int height, int algorithm) {
    ASSERT_EQ(reference_.Load(std::move(image)).hr, S_OK);
    ASSERT_EQ(reference_.Script().Call(u"CreateThumbnail", width, height, algorithm).hr, S_OK);
  }

  testing_support::TempDir dir_;
  EaselSession thumbnail_;
  EaselSession reference_;
};

TEST_F(LoadThumbnailTest, BigJpegsAreDecodedReducedAndResampledToTheSameSize) {
  const std::string jpeg = Path("photo.jpg");
  Save(Photo(1600, 1200), jpeg, ", quality=90, dpi=(300, 300)");
  // 200 x 150 wants at least 400 x 300: libjpeg's 2/8 scale.
  ASSERT_EQ(thumbnail_.Script().Call(u"LoadThumbnail", Text(jpeg)).hr, S_OK);
  LoadAndThumbnail(Text(jpeg), -1, 150, 0);
  EXPECT_EQ(thumbnail_.Get(u"Width"), 200);
  EXPECT_EQ(thumbnail_.Get(u"Height"), 150);
  EXPECT_EQ(reference_.Get(u"Width"), 200);
  for (const std::u16string member : {u"ImageFormat", u"DPIx", u"DPIy", u"DPIUnits"}) {
    EXPECT_EQ(thumbnail_.Get(member.c_str()), reference_.Get(member.c_str()))
        << std::string(member.begin(), member.end());
  }
  // The pixels: libjpeg's quarter-size decode (as Pillow's draft asks for it), resized by
  // the algorithm as ResizeImage does.
  const std::string quarter = Path("quarter.png");
  ASSERT_TRUE(testing_support::RunPython(
      "import sys\nfrom PIL import Image\n"
      "im = Image.open(sys.argv[1]); im.draft('RGB', (400, 300)); im.save(sys.argv[2])\n",
      {jpeg, quarter}));
  ASSERT_EQ(reference_.Load(Text(quarter)).hr, S_OK);
  ASSERT_EQ(reference_.Get(u"Width"), 400);
  ASSERT_EQ(reference_.Script().Call(u"ResizeImage", 200, 150, 0, 0).hr, S_OK);
  EXPECT_EQ(thumbnail_.Pixels(), reference_.Pixels());
  EXPECT_EQ(thumbnail_.ErrorDescription(), u"");

  // Bicubic, from a byte array, at an explicit size without proportions: 1/8 is enough.
  ASSERT_EQ(
      thumbnail_.Script().Call(u"LoadThumbnail", ByteArray(ReadFileBytes(jpeg)), 90, 70, 2, 0).hr,
      S_OK);
  EXPECT_EQ(thumbnail_.Get(u"Width"), 90);
  EXPECT_EQ(thumbnail_.Get(u"Height"), 70);
}

TEST_F(LoadThumbnailTest, OtherImagesAndSmallJpegsGiveCreateThumbnailsPixels) {
  const TestImage photo = Photo(640, 480);
  const std::string png = Path("photo.png");
  const std::string jpeg = Path("small.jpg");
  Save(photo, png, "");
  Save(Photo(260, 180), jpeg, ", quality=80");
  struct Case {
    std::string path;
    int width;
    int height;
    int algorithm;
  };
  // The small JPEG's thumbnail is more than half its size: nothing to reduce.
  for (const Case& c : {Case{png, 300, 200, 2}, Case{png, -1, 150, 0}, Case{jpeg, -1, 150, 3},
                        Case{jpeg, 200, -1, 1}}) {
    SCOPED_TRACE(c.path + " " + std::to_string(c.width) + "x" + std::to_string(c.height));
    ASSERT_EQ(
        thumbnail_.Script().Call(u"LoadThumbnail", Text(c.path), c.width, c.height, c.algorithm).hr,
        S_OK);
    LoadAndThumbnail(Text(c.path), c.width, c.height, c.algorithm);
    EXPECT_EQ(thumbnail_.Get(u"Width"), reference_.Get(u"Width"));
    EXPECT_EQ(thumbnail_.Pixels(), reference_.Pixels());
  }
}

TEST_F(LoadThumbnailTest, RefusalsAreThoseOfCreateThumbnailAndLoadImage) {
  const CallResult noSize = thumbnail_.Script().Call(u"LoadThumbnail", Text("x.jpg"), -1, -1);
  EXPECT_EQ(noSize.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(noSize.description, u"Either Width or Height must be set");
  const CallResult missing = thumbnail_.Script().Call(u"LoadThumbnail", Text(Path("none.jpg")));
  const CallResult loadMissing = reference_.Load(Text(Path("none.jpg")));
  EXPECT_EQ(missing.Error(), loadMissing.Error());
  EXPECT_EQ(missing.description, loadMissing.description);
  EXPECT_EQ(thumbnail_.ErrorDescription(), reference_.ErrorDescription());
}

}  // namespace

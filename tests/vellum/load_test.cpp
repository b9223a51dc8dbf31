// LoadImage through IDispatch: the kinds of argument, the formats and the messages.
#include <gtest/gtest.h>

#include <random>

#include "platform/kernel/last_error.h"
#include "platform/policy/pixel_limit.h"
#include "tests/support/oracle.h"
#include "tests/support/picture_compare.h"
#include "tests/support/temp_dir.h"
#include "tests/vellum/image_io_support.h"

namespace {

using testing_support::RawImage;
using testing_support::ReadFileBytes;
using testing_support::TestImage;
using testing_support::WriteFileBytes;
using vellum_testing::ByteArray;
using vellum_testing::CallResult;
using vellum_testing::EaselSession;
using vellum_testing::RecordingField;
using vellum_testing::Reference;

// Pillow writes an RGB image in a format it names; extra keyword arguments go to save().
void WriteWithPillow(const TestImage& image, const std::string& path, const std::string& format,
                     const std::string& options = "") {
  testing_support::TempDir dir;
  const std::string raw = dir.File("pixels.rgb");
  WriteFileBytes(raw, image.bytes);
  const std::string program =
      "import sys\nfrom PIL import Image\n"
      "im = Image.frombytes('RGB', (int(sys.argv[2]), int(sys.argv[3])), open(sys.argv[1], "
      "'rb').read())\n"
      "im.save(sys.argv[4], '" +
      format + "'" + options + ")\n";
  ASSERT_TRUE(testing_support::RunPython(
      program, {raw, std::to_string(image.width), std::to_string(image.height), path}));
}

class LoadTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(easel_); }
  std::string Path(const std::string& name) const { return dir_.File(name); }
  Variant PathArgument(const std::string& name) const {
    return Variant::String(std::u16string(name.begin(), name.end()));
  }
  // An image whose 7 x 5 pixels hold few colours, so that every format keeps them.
  static TestImage Picture() {
    std::mt19937 rng(7);
    return testing_support::RandomImage(rng, 7, 5, 3, 3);
  }
  std::vector<uint8_t> PictureAs(const std::string& format, const std::string& options = "") {
    const std::string path = Path("picture." + format);
    WriteWithPillow(Picture(), path, format, options);
    return ReadFileBytes(path);
  }

  testing_support::TempDir dir_;
  vellum_testing::EaselSession easel_;
};

TEST_F(LoadTest, ReadsAPathAndABytesArrayAlike) {
  const std::vector<uint8_t> bmp = PictureAs("BMP");
  WriteFileBytes(Path("picture.bmp"), bmp);
  const TestImage picture = Picture();

  EXPECT_EQ(easel_.Load(PathArgument(Path("picture.bmp"))).hr, S_OK);
  EXPECT_EQ(easel_.Pixels(), picture.bytes);
  EXPECT_EQ(easel_.Get(u"Width"), 7);
  EXPECT_EQ(easel_.Get(u"Height"), 5);
  EXPECT_EQ(easel_.Get(u"ImageFormat"), 1);
  EXPECT_FALSE(easel_.Easel().IsNormalized());

  // A path held by a referenced variant, as script engines pass variables.
  Variant path = PathArgument(Path("picture.bmp"));
  EXPECT_EQ(easel_.Load(Reference(&path)).hr, S_OK);

  // The bytes directly, by reference, and inside a referenced variant; the array is
  // read, never changed.
  Variant bytes = ByteArray(bmp);
  EXPECT_EQ(easel_.Load(ByteArray(bmp)).hr, S_OK);
  EXPECT_EQ(easel_.Pixels(), picture.bytes);
  Variant byReference;
  byReference.vt = VT_BYREF | VT_ARRAY | VT_UI1;
  byReference.pparray = &bytes.parray;
  EXPECT_EQ(easel_.Load(Reference(&byReference)).hr, S_OK);
  byReference.vt = VT_EMPTY;  // it borrowed the array
  EXPECT_EQ(easel_.Load(Reference(&bytes)).hr, S_OK);
  EXPECT_EQ(vellum_testing::ArrayBytes(bytes), bmp);
  EXPECT_EQ(easel_.Pixels(), picture.bytes);
  EXPECT_EQ(easel_.ErrorDescription(), u"");
}

// Files other tools wrote: each format loads with its code; the lossless ones give
// their pixels exactly, JPEG what Pillow decodes.
TEST_F(LoadTest, ReadsTheFormatsOtherToolsWrite) {
  const TestImage picture = Picture();
  struct Case {
    const char* format;
    LONG code;
  };
  for (const Case& c :
       {Case{"BMP", 1}, Case{"GIF", 2}, Case{"PNG", 4}, Case{"PCX", 5}, Case{"TIFF", 6}}) {
    ASSERT_EQ(easel_.Load(ByteArray(PictureAs(c.format))).hr, S_OK) << c.format;
    EXPECT_EQ(easel_.Get(u"ImageFormat"), c.code) << c.format;
    EXPECT_EQ(easel_.Pixels(), picture.bytes) << c.format;
  }
  const std::string jpeg = Path("picture.jpg");
  WriteWithPillow(picture, jpeg, "JPEG", ", quality=90");
  ASSERT_EQ(easel_.Load(PathArgument(jpeg)).hr, S_OK);
  EXPECT_EQ(easel_.Get(u"ImageFormat"), 3);
  EXPECT_EQ(easel_.Pixels(), testing_support::DecodeWithPillow(jpeg)->rgb);

  // The layered format, as ImageMagick writes it, reports code 10.
  const std::string psd = Path("picture.psd");
  ASSERT_TRUE(testing_support::RunCommand("/usr/bin/convert " + Path("picture.PNG") + " " + psd));
  ASSERT_EQ(easel_.Load(PathArgument(psd)).hr, S_OK);
  EXPECT_EQ(easel_.Get(u"ImageFormat"), 10);
  EXPECT_EQ(easel_.Pixels(), picture.bytes);
  EXPECT_EQ(easel_.ErrorDescription(), u"");
}

TEST_F(LoadTest, ResolutionsAndTransparencyComeFromTheFile) {
  PictureAs("PNG", ", dpi=(72.009, 72.009)");  // 2835 pixels per metre
  ASSERT_EQ(easel_.Load(PathArgument(Path("picture.PNG"))).hr, S_OK);
  EXPECT_EQ(easel_.Get(u"DPIUnits"), 3);
  EXPECT_EQ(easel_.Get(u"DPIx"), 2835);
  EXPECT_EQ(easel_.Get(u"DPIy"), 2835);

  ASSERT_EQ(easel_.Load(ByteArray(PictureAs("JPEG", ", dpi=(300, 150)"))).hr, S_OK);
  EXPECT_EQ(easel_.Get(u"DPIUnits"), 1);
  EXPECT_EQ(easel_.Get(u"DPIx"), 300);
  EXPECT_EQ(easel_.Get(u"DPIy"), 150);

  ASSERT_EQ(easel_.Load(ByteArray(PictureAs("TIFF", ", dpi=(96, 96)"))).hr, S_OK);
  EXPECT_EQ(easel_.Get(u"DPIUnits"), 1);
  EXPECT_EQ(easel_.Get(u"DPIx"), 96);

  // A JFIF density unit the object has no name for refuses the image.
  std::vector<uint8_t> jpeg = PictureAs("JPEG", ", dpi=(300, 150)");
  jpeg[13] = 7;  // the unit byte of the JFIF segment
  EXPECT_EQ(easel_.Load(ByteArray(jpeg)).hr, DISP_E_EXCEPTION);
  EXPECT_EQ(easel_.ErrorDescription(),
            u"The DPI units of this image is not supported\r\n"
            u"Can not read image data from the storage\r\n"
            u"Can not load image. Operation failed\n\r\n");

  // A GIF's transparent colour becomes TransparentColor; one without gives -1.
  TestImage twoColors{2, 1, 3, {10, 20, 30, 200, 100, 50}};
  WriteWithPillow(twoColors, Path("clear.gif"), "GIF", ", transparency=1");
  EaselSession gif;
  ASSERT_EQ(gif.Load(PathArgument(Path("clear.gif"))).hr, S_OK);
  LONG transparent = gif.Get(u"TransparentColor");
  EXPECT_TRUE(transparent == 0x1E140A || transparent == 0x3264C8) << transparent;
  WriteWithPillow(twoColors, Path("solid.gif"), "GIF");
  ASSERT_EQ(gif.Load(PathArgument(Path("solid.gif"))).hr, S_OK);
  EXPECT_EQ(gif.Get(u"TransparentColor"), -1);
}

TEST_F(LoadTest, TiffPageChoosesThePage) {
  const std::string first = Path("first.png");
  const std::string second = Path("second.png");
  WriteWithPillow(Picture(), first, "PNG");
  WriteWithPillow(testing_support::UniformImage(3, 2, 77), second, "PNG");
  const std::string tiff = Path("pages.tif");
  ASSERT_TRUE(testing_support::RunCommand("/usr/bin/convert " + first + " " + second +
                                          " -compress none " + tiff));
  ASSERT_EQ(easel_.Set(u"TiffPage", 2).hr, S_OK);
  ASSERT_EQ(easel_.Load(PathArgument(tiff)).hr, S_OK);
  EXPECT_EQ(easel_.Get(u"Width"), 3);
  EXPECT_EQ(easel_.Pixels(), testing_support::UniformImage(3, 2, 77).bytes);
  ASSERT_EQ(easel_.Set(u"TiffPage", 3).hr, S_OK);  // no third page
  EXPECT_EQ(easel_.Load(PathArgument(tiff)).hr, DISP_E_EXCEPTION);
  EXPECT_EQ(easel_.Get(u"Width"), 3);
}

TEST_F(LoadTest, AMissingFileGivesTheSystemTextAndKeepsTheImage) {
  ASSERT_EQ(easel_.Load(ByteArray(PictureAs("BMP"))).hr, S_OK);
  const CallResult missing = easel_.Load(PathArgument(Path("none.bmp")));
  EXPECT_EQ(missing.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(missing.source, u"Quillmark.Easel.1");
  const std::string systemText = SystemMessageText(ERROR_FILE_NOT_FOUND);
  const std::u16string expected = std::u16string(systemText.begin(), systemText.end()) +
                                  u"Can not access to the image file\r\n";
  EXPECT_EQ(easel_.ErrorDescription(), expected);
  EXPECT_EQ(missing.description, expected);
  EXPECT_EQ(easel_.Pixels(), Picture().bytes);
}

TEST_F(LoadTest, AnImageOverThePixelLimitIsRefusedWithTheLimitNamed) {
  ASSERT_EQ(easel_.Load(ByteArray(PictureAs("BMP"))).hr, S_OK);
  WriteFileBytes(Path("picture.png"), PictureAs("PNG"));
  policy::SetMaxImagePixels(34);  // the picture has 7 x 5 pixels
  const CallResult refused = easel_.Load(PathArgument(Path("picture.png")));
  EXPECT_EQ(refused.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(easel_.ErrorDescription(),
            u"The image has more pixels than the limit on decoded images allows\r\n"
            u"The limit is 34 pixels per image\r\n"
            u"Can not read image data from the storage\r\n"
            u"An error occured while loading the image file\n\r\n");
  EXPECT_EQ(easel_.Get(u"ImageFormat"), 4);
  EXPECT_EQ(easel_.Pixels(), Picture().bytes);  // the previous image stays
  policy::SetMaxImagePixels(35);
  EXPECT_EQ(easel_.Load(PathArgument(Path("picture.png"))).hr, S_OK);
  policy::SetMaxImagePixels(std::nullopt);
}

TEST_F(LoadTest, AnUnknownHeaderIsRefusedButItsCodeIsKept) {
  ASSERT_EQ(easel_.Load(ByteArray(PictureAs("BMP"))).hr, S_OK);
  WriteFileBytes(Path("noise.bin"), std::vector<uint8_t>(100, 'x'));
  EXPECT_EQ(easel_.Load(PathArgument(Path("noise.bin"))).hr, DISP_E_EXCEPTION);
  EXPECT_EQ(easel_.ErrorDescription(),
            u"Format of the image is not supported\r\n"
            u"Can not read image data from the storage\r\n"
            u"An error occured while loading the image file\n\r\n");
  // The failed read wrote the format code; the image itself stays.
  EXPECT_EQ(easel_.Get(u"ImageFormat"), 0);
  EXPECT_EQ(easel_.Get(u"Width"), 7);
  EXPECT_EQ(easel_.Pixels(), Picture().bytes);

  // Two zero bytes are recognised but never decoded; from memory the text differs.
  std::vector<uint8_t> zeros(64, 0);
  EXPECT_EQ(easel_.Load(ByteArray(zeros)).hr, DISP_E_EXCEPTION);
  EXPECT_EQ(easel_.Get(u"ImageFormat"), 13);
  EXPECT_TRUE(easel_.ErrorDescription().ends_with(
      u"Format of the image is not supported\r\nCan not read image data from the storage\r\n"
      u"Can not load image. Operation failed\n\r\n"));
}

TEST_F(LoadTest, ArgumentsThatAreNoImageEndWithoutText) {
  std::vector<Variant> values;
  values.push_back(Variant::Long(5));
  values.push_back(Variant());
  values.push_back(Variant::Double(1.5));
  for (Variant& value : values) {
    const CallResult result = easel_.Load(std::move(value));
    EXPECT_EQ(result.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(result.source, u"Quillmark.Easel.1");
    EXPECT_EQ(result.description, u"");
  }
  EXPECT_EQ(easel_.ErrorDescription(), u"");
}

TEST_F(LoadTest, ArraysMustBeVectorsOfImageBytes) {
  const SAFEARRAYBOUND bounds[] = {{2, 0}, {50, 0}};
  Variant square;
  square.parray = SafeArrayCreate(VT_UI1, 2, bounds);
  square.vt = VT_ARRAY | VT_UI1;
  EXPECT_EQ(easel_.Load(std::move(square)).hr, DISP_E_EXCEPTION);
  EXPECT_EQ(easel_.ErrorDescription(), u"Safe array should contain a vector of values\r\n");

  // An empty array opens no source at all; nothing but the method's own text.
  EXPECT_EQ(easel_.Load(ByteArray({})).hr, DISP_E_EXCEPTION);
  EXPECT_TRUE(easel_.ErrorDescription().ends_with(
      u"vector of values\r\nCan not load image. Operation failed\n\r\n"));
}

TEST_F(LoadTest, PathsThatCannotBeFileNamesAreRefused) {
  WriteFileBytes(Path("picture.bmp"), PictureAs("BMP"));
  // A NUL inside the name would open the shorter path before it.
  const std::string path = Path("picture.bmp");
  std::u16string withNul(path.begin(), path.end());
  withNul += u'\0';
  withNul += u".txt";
  EXPECT_EQ(easel_.Load(Variant::String(withNul)).hr, DISP_E_EXCEPTION);
  EXPECT_TRUE(
      easel_.ErrorDescription().ends_with(u"Can not convert unicode file name to ANSI format\r\n"));
  EXPECT_EQ(easel_.Get(u"Width"), 0);

  // Too long for the conversion buffer; an unpaired surrogate does not convert.
  EXPECT_EQ(easel_.Load(Variant::String(std::u16string(3000, u'a'))).hr, DISP_E_EXCEPTION);
  EXPECT_EQ(easel_.Load(Variant::String(u"a\xD800.bmp")).hr, DISP_E_EXCEPTION);
  const std::u16string text = easel_.ErrorDescription();
  size_t count = 0;
  for (size_t at = text.find(u"ANSI format"); at != std::u16string::npos;
       at = text.find(u"ANSI format", at + 1))
    ++count;
  EXPECT_EQ(count, 3u);
}

TEST_F(LoadTest, MetafilesReadFromAFileAndFromMemoryAlike) {
  const std::string emf = testing_support::TestDataPath("metafiles/ours.emf");
  ASSERT_EQ(easel_.Load(PathArgument(emf)).hr, S_OK);
  EXPECT_EQ(easel_.Get(u"ImageFormat"), 8);
  const vellum_testing::WorkingImage fromFile = easel_.State();
  EXPECT_GT(fromFile.width, 0);
  ASSERT_EQ(easel_.Load(ByteArray(ReadFileBytes(emf))).hr, S_OK);
  EXPECT_EQ(easel_.State(), fromFile);

  // A placeable Windows metafile: from memory its header is skipped.
  const std::string wmf = testing_support::TestDataPath("metafiles/ours.wmf");
  ASSERT_EQ(easel_.Load(ByteArray(ReadFileBytes(wmf))).hr, S_OK);
  EXPECT_EQ(easel_.Get(u"ImageFormat"), 7);
  EXPECT_GT(easel_.Get(u"Width"), 0);
  ASSERT_EQ(easel_.Load(PathArgument(wmf)).hr, S_OK);
  EXPECT_GT(easel_.Get(u"Width"), 0);

  // A metafile key with nothing behind it.
  EXPECT_EQ(easel_.Load(ByteArray({0xD7, 0xCD, 0xC6, 0x9A, 0, 0})).hr, DISP_E_EXCEPTION);
  EXPECT_EQ(
      easel_.ErrorDescription(),
      u"Can not read image data from the storage\r\nCan not load image. Operation failed\n\r\n");
}

TEST_F(LoadTest, FieldsAreReadInChunksOfAThousandBytes) {
  std::mt19937 rng(3);
  const TestImage picture = testing_support::RandomImage(rng, 30, 20);
  WriteWithPillow(picture, Path("large.bmp"), "BMP");
  const std::vector<uint8_t> bmp = ReadFileBytes(Path("large.bmp"));
  ASSERT_GT(bmp.size(), 1000u);
  for (bool earlyBound : {false, true}) {
    vellum_testing::EaselSession easel;
    ComPtr<RecordingField> field = RecordingField::Make();
    field->value = bmp;
    field->earlyBound = earlyBound;
    EXPECT_EQ(easel.Load(vellum_testing::Dispatch(field.Get())).hr, S_OK);
    EXPECT_EQ(easel.Pixels(), picture.bytes);
    const size_t chunks = (bmp.size() + 999) / 1000 + 1;  // the last answers VT_NULL
    EXPECT_EQ(field->chunkRequests, std::vector<LONG>(chunks, 1000));
    EXPECT_EQ(field->locales.front(), 0x800u);
  }
}

TEST_F(LoadTest, FieldsThatHoldNoImageAreReported) {
  ComPtr<RecordingField> empty = RecordingField::Make();
  EXPECT_EQ(easel_.Load(vellum_testing::Dispatch(empty.Get())).hr, DISP_E_EXCEPTION);
  EXPECT_EQ(easel_.ErrorDescription(),
            u"Can not read data from the database BLOB referenced by the field\r\n");

  ComPtr<RecordingField> notAField = RecordingField::Make();
  notAField->hasGetChunk = false;
  EXPECT_EQ(easel_.Load(vellum_testing::Dispatch(notAField.Get())).hr, DISP_E_EXCEPTION);
  EXPECT_TRUE(easel_.ErrorDescription().ends_with(
      u"field\r\nInvalid pointer, please, convert it to the ADO field\r\n"));

  // A chunk that is no byte array is a database error, not bytes.
  ComPtr<RecordingField> textChunks = RecordingField::Make();
  textChunks->chunkIsText = true;
  EXPECT_EQ(easel_.Load(vellum_testing::Dispatch(textChunks.Get())).hr, DISP_E_EXCEPTION);
  // (with whatever system error the thread holds in between)
  const std::u16string text = easel_.ErrorDescription();
  const size_t invalid = text.find(u"ADO field\r\n");
  const size_t database =
      text.find(u"A database error has occured: can not read BLOB from the database\r\n");
  EXPECT_LT(invalid, database);
  EXPECT_NE(database, std::u16string::npos);
  EXPECT_TRUE(
      text.ends_with(u"from the database\r\n"
                     u"Can not read data from the database BLOB referenced by the field\r\n"));
  EXPECT_EQ(textChunks->chunkRequests.size(), 1u);
}

}  // namespace

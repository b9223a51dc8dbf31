// AutoOrient: files recording each of the eight orientations, loaded upright when it is
// on and as stored when it is off, against Pillow's turns of the stored pictures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"
#include "tests/vellum/image_io_support.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::RunCommand;
using testing_support::RunPython;
using testing_support::ShellQuote;
using testing_support::TempDir;
using vellum_testing::EaselSession;

// A picture that looks different after every one of the eight turns and mirrorings.
constexpr int kWidth = 40;
constexpr int kHeight = 24;
constexpr const char* kMakePicture = R"(
import sys
from PIL import Image
source = Image.new('RGB', (40, 24))
source.putdata([(x * 6, y * 10, (x * 7 + y * 13) % 256) for y in range(24) for x in range(40)])
)";

// Pillow's turns that show each orientation upright.
constexpr const char* kTurns = R"(
turns = {2: Image.Transpose.FLIP_LEFT_RIGHT, 3: Image.Transpose.ROTATE_180,
         4: Image.Transpose.FLIP_TOP_BOTTOM, 5: Image.Transpose.TRANSPOSE,
         6: Image.Transpose.ROTATE_270, 7: Image.Transpose.TRANSVERSE, 8: Image.Transpose.ROTATE_90}
def upright(image, n):
    return image.transpose(turns[n]) if n in turns else image
)";

// Pillow writes files recording orientations 1 to 8 (o1.EXT ...), with the picture as
// stored (storedN.rgb: Pillow's decoding; the source itself for lossless TIFF, which
// Pillow turns as it reads) and turned upright (uprightN.rgb).
constexpr const char* kWriteOrientedFiles = R"(
folder, kind = sys.argv[1], sys.argv[2]
for n in range(1, 9):
    exif = Image.Exif()
    exif[0x0112] = n
    path = f'{folder}/o{n}.{kind}'
    if kind == 'jpg':
        source.save(path, 'JPEG', quality=95, exif=exif.tobytes())
    elif kind == 'png':
        source.save(path, 'PNG', exif=exif.tobytes())
    elif kind == 'webp':
        source.save(path, 'WEBP', lossless=True, exif=exif.tobytes())
    elif kind == 'tif':
        source.save(path, 'TIFF', tiffinfo={0x0112: n})
    stored = source if kind == 'tif' else Image.open(path).convert('RGB')
    open(f'{folder}/stored{n}.rgb', 'wb').write(stored.tobytes())
    open(f'{folder}/upright{n}.rgb', 'wb').write(upright(stored, n).tobytes())
)";

Variant PathOf(const std::string& path) {
  return Variant::String(std::u16string(path.begin(), path.end()));
}

struct Loaded {
  LONG width = 0;
  LONG height = 0;
  std::vector<uint8_t> pixels;
  std::u16string errors;
};

Loaded LoadFile(const std::string& path, bool autoOrient) {
  EaselSession easel;
  EXPECT_EQ(easel.Script().Put(u"AutoOrient", autoOrient).hr, S_OK);
  const HRESULT hr = easel.Load(PathOf(path)).hr;
  EXPECT_EQ(hr, S_OK) << path;
  return {easel.Get(u"Width"), easel.Get(u"Height"), easel.Pixels(), easel.ErrorDescription()};
}

int MaxDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size()) return 256;
  int worst = 0;
  for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
  return worst;
}

bool SwapsSides(int orientation) { return orientation >= 5; }

struct Kind {
  const char* extension;
  int tolerance;        // JPEG decoders may round differently
  bool storedAsPillow;  // loaded as stored when AutoOrient is off, as Pillow decodes it
};

void PrintTo(const Kind& kind, std::ostream* out) { *out << kind.extension; }

class OrientationTest : public ::testing::TestWithParam<Kind> {};

TEST_P(OrientationTest, AllEightOrientationsTurnUprightOnlyWhenAsked) {
  const Kind& kind = GetParam();
  TempDir dir;
  ASSERT_TRUE(RunPython(std::string(kMakePicture) + kTurns + kWriteOrientedFiles,
                        {dir.Path().string(), kind.extension}));
  for (int n = 1; n <= 8; ++n) {
    const std::string file = dir.File("o" + std::to_string(n) + "." + kind.extension);
    const Loaded upright = LoadFile(file, true);
    EXPECT_EQ(upright.width, SwapsSides(n) ? kHeight : kWidth) << n;
    EXPECT_EQ(upright.height, SwapsSides(n) ? kWidth : kHeight) << n;
    EXPECT_LE(MaxDifference(upright.pixels,
                            ReadFileBytes(dir.File("upright" + std::to_string(n) + ".rgb"))),
              kind.tolerance)
        << "orientation " << n;
    EXPECT_EQ(upright.errors, u"");

    const Loaded stored = LoadFile(file, false);
    EXPECT_EQ(stored.width, kWidth) << n;
    EXPECT_EQ(stored.height, kHeight) << n;
    if (kind.storedAsPillow) {
      EXPECT_LE(MaxDifference(stored.pixels,
                              ReadFileBytes(dir.File("stored" + std::to_string(n) + ".rgb"))),
                kind.tolerance)
          << "orientation " << n;
    }
  }
}

// TIFF pages come out of libtiff's reader already mirrored as their Orientation tag
// says, AutoOrient or not; with it on they end up upright like the others.
INSTANTIATE_TEST_SUITE_P(Files, OrientationTest,
                         ::testing::Values(Kind{"jpg", 2, true}, Kind{"png", 0, true},
                                           Kind{"webp", 0, true}, Kind{"tif", 0, false}),
                         [](const auto& kind) { return std::string(kind.param.extension); });

// AVIF records its orientation as a rotation (irot) and a mirroring (imir) of the
// container; the upright pictures come from Pillow's turns of the source.
TEST(AvifOrientationTest, RotationAndMirroringOfTheContainerTurnUpright) {
  TempDir dir;
  constexpr const char* kWriteSourceAndTurns = R"(
folder = sys.argv[1]
source.save(f'{folder}/source.png')
for n in range(1, 9):
    open(f'{folder}/upright{n}.rgb', 'wb').write(upright(source, n).tobytes())
)";
  ASSERT_TRUE(
      RunPython(std::string(kMakePicture) + kTurns + kWriteSourceAndTurns, {dir.Path().string()}));
  // The container properties that record each EXIF orientation.
  const char* kProperties[] = {
      "",         "--imir 1",          "--irot 2", "--imir 0", "--irot 1 --imir 0",
      "--irot 3", "--irot 3 --imir 0", "--irot 1"};
  for (int n = 1; n <= 8; ++n) {
    const std::string file = dir.File("o" + std::to_string(n) + ".avif");
    ASSERT_TRUE(RunCommand("avifenc -j 1 -s 10 -l " + std::string(kProperties[n - 1]) + " " +
                           ShellQuote(dir.File("source.png")) + " " + ShellQuote(file)));
    const Loaded upright = LoadFile(file, true);
    EXPECT_EQ(upright.width, SwapsSides(n) ? kHeight : kWidth) << n;
    EXPECT_EQ(upright.pixels, ReadFileBytes(dir.File("upright" + std::to_string(n) + ".rgb")))
        << "orientation " << n;
    const Loaded stored = LoadFile(file, false);
    EXPECT_EQ(stored.pixels, ReadFileBytes(dir.File("upright1.rgb"))) << "orientation " << n;
  }
}

// LoadThumbnail with AutoOrient on gives the thumbnail of the upright picture, as
// LoadImage and CreateThumbnail do, also when the JPEG is decoded reduced.
TEST(LoadThumbnailOrientationTest, TurnedJpegsGiveTheUprightPicturesThumbnail) {
  TempDir dir;
  constexpr const char* kWriteBigTurned = R"(
import sys
from PIL import Image
folder = sys.argv[1]
picture = Image.new('RGB', (480, 320))
picture.putdata([(x // 2, y * 3 // 4, (x + y) // 4) for y in range(320) for x in range(480)])
for n in (3, 6, 7):
    exif = Image.Exif()
    exif[0x0112] = n
    picture.save(f'{folder}/o{n}.jpg', quality=95, exif=exif.tobytes())
)";
  ASSERT_TRUE(RunPython(kWriteBigTurned, {dir.Path().string()}));
  for (int n : {3, 6, 7}) {
    const std::string file = dir.File("o" + std::to_string(n) + ".jpg");
    EaselSession thumbnail;
    ASSERT_EQ(thumbnail.Script().Put(u"AutoOrient", true).hr, S_OK);
    ASSERT_EQ(thumbnail.Script().Call(u"LoadThumbnail", PathOf(file), -1, 60).hr, S_OK);
    EaselSession reference;
    ASSERT_EQ(reference.Script().Put(u"AutoOrient", true).hr, S_OK);
    ASSERT_EQ(reference.Load(PathOf(file)).hr, S_OK);
    ASSERT_EQ(reference.Script().Call(u"CreateThumbnail", -1, 60).hr, S_OK);
    EXPECT_EQ(thumbnail.Get(u"Width"), SwapsSides(n) ? 40 : 90) << n;
    EXPECT_EQ(thumbnail.Get(u"Height"), 60) << n;
    EXPECT_EQ(reference.Get(u"Width"), thumbnail.Get(u"Width")) << n;
    // The reduced decode is smoother, not another picture.
    EXPECT_LE(MaxDifference(thumbnail.Pixels(), reference.Pixels()), 24) << n;
  }
}

// EXIF that libexif cannot make sense of, or an orientation outside 1 to 8, loads the
// image as stored and adds nothing to ErrorDescription.
TEST(DamagedExifTest, LoadsTheImageUnturned) {
  TempDir dir;
  constexpr const char* kWriteDamaged = R"(
import io, struct
folder = sys.argv[1]
good = io.BytesIO()
source.save(good, 'JPEG', quality=95)
jpeg = good.getvalue()
def with_app1(payload):
    segment = b'\xff\xe1' + struct.pack('>H', len(payload) + 2) + payload
    return jpeg[:2] + segment + jpeg[2:]
tiff_le = b'II*\x00\x08\x00\x00\x00'
entry = lambda value: struct.pack('<HHII', 0x0112, 3, 1, value)
bodies = {
    'garbage': b'Exif\x00\x00' + bytes(range(256)) * 3,
    'truncated': b'Exif\x00\x00' + tiff_le + struct.pack('<H', 5),
    'offset-outside': b'Exif\x00\x00II*\x00\xff\xff\xff\x7f',
    'orientation-nine': b'Exif\x00\x00' + tiff_le + struct.pack('<H', 1) + entry(9) + b'\x00' * 4,
    'entry-cut': b'Exif\x00\x00' + tiff_le + struct.pack('<H', 1) + entry(6)[:6],
}
for name, body in bodies.items():
    open(f'{folder}/{name}.jpg', 'wb').write(with_app1(body))
open(f'{folder}/plain.rgb', 'wb').write(Image.open(io.BytesIO(jpeg)).convert('RGB').tobytes())
)";
  ASSERT_TRUE(RunPython(std::string(kMakePicture) + kWriteDamaged, {dir.Path().string()}));
  const std::vector<uint8_t> plain = ReadFileBytes(dir.File("plain.rgb"));
  for (const char* name :
       {"garbage", "truncated", "offset-outside", "orientation-nine", "entry-cut"}) {
    const Loaded loaded = LoadFile(dir.File(std::string(name) + ".jpg"), true);
    EXPECT_EQ(loaded.width, kWidth) << name;
    EXPECT_LE(MaxDifference(loaded.pixels, plain), 2) << name;
    EXPECT_EQ(loaded.errors, u"") << name;
  }
}

// WebP and AVIF carry no resolution of their own: an EXIF resolution is taken.
TEST(WebResolutionTest, ExifResolutionBecomesDpi) {
  TempDir dir;
  constexpr const char* kWriteWithResolution = R"(
folder = sys.argv[1]
exif = Image.Exif()
exif[0x011A] = 300
exif[0x011B] = 150
exif[0x0128] = 3
source.save(f'{folder}/dense.webp', 'WEBP', quality=80, exif=exif.tobytes())
source.save(f'{folder}/plain.webp', 'WEBP', quality=80)
)";
  ASSERT_TRUE(RunPython(std::string(kMakePicture) + kWriteWithResolution, {dir.Path().string()}));
  EaselSession easel;
  ASSERT_EQ(easel.Load(PathOf(dir.File("dense.webp"))).hr, S_OK);
  EXPECT_EQ(easel.Get(u"ImageFormat"), 11);
  EXPECT_EQ(easel.Get(u"DPIx"), 300);
  EXPECT_EQ(easel.Get(u"DPIy"), 150);
  EXPECT_EQ(easel.Get(u"DPIUnits"), 2);  // per centimetre
  // Without one, the object keeps what it had.
  ASSERT_EQ(easel.Load(PathOf(dir.File("plain.webp"))).hr, S_OK);
  EXPECT_EQ(easel.Get(u"DPIx"), 300);
  EXPECT_EQ(easel.Get(u"DPIUnits"), 2);
}

}  // namespace

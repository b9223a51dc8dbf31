#include "vellum/codecs/identify.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/kernel/global_memory.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"

namespace vellum {
namespace {

// The format of a memory image of `bytes`, and where the source was left.
struct Identified {
  int32_t format;
  uint32_t position;
};

Identified Identify(const std::vector<uint8_t>& bytes) {
  HISSRC source = OpenMemorySource(bytes.data(), static_cast<uint32_t>(bytes.size()));
  EXPECT_NE(source, nullptr);
  const int32_t format = IdentifyFormat(source);
  EXPECT_EQ(CoreLastError(), kOk);
  const uint32_t position = Tell(source);
  CloseSource(source);
  return {format, position};
}

// `start` followed by `fill` up to `size` bytes.
std::vector<uint8_t> FileStarting(std::vector<uint8_t> start, size_t size = 64,
                                  uint8_t fill = 0x11) {
  start.resize(size, fill);
  return start;
}

TEST(IdentifyFormat, SignatureRowsInTheirOrder) {
  struct Case {
    std::vector<uint8_t> start;
    int32_t format;
  };
  const Case cases[] = {
      {{'B', 'M'}, kFormatBmp},
      {{'G', 'I', 'F', '8', '9', 'a'}, kFormatGif},
      {{'G', 'I', 'F', '8', '7', 'a'}, kFormatGif},
      {{'G', 'I', 'F', '8', '8', 'a'}, kFormatUnknown},
      {{0xFF, 0xD8, 0xFF, 0xE0}, kFormatJpeg},
      {{0xFF, 0xD8, 0xFF, 0xDB}, kFormatJpeg},
      {{0xFF, 0xD8, 0xFE}, kFormatUnknown},
      {{0x0A, 0x00}, kFormatPcx},
      {{0x0A, 0x02}, kFormatPcx},
      {{0x0A, 0x03}, kFormatPcx},
      {{0x0A, 0x05}, kFormatPcx},
      {{0x0A, 0x01}, kFormatUnknown},
      {{0x0A, 0x04}, kFormatUnknown},
      {{'M', 'M'}, kFormatTiff},  // whatever follows
      {{'I', 'I'}, kFormatTiff},
      {{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, kFormatPng},
      {{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x00}, kFormatUnknown},
      {{0x01, 0x00, 0x09, 0x00, 0x00}, kFormatWmf},
      {{0x01, 0x00, 0x09, 0x00, 0x01}, kFormatUnknown},
      {{0xD7, 0xCD, 0xC6, 0x9A}, kFormatWmf},
      {{'8', 'B', 'P', 'S'}, kFormatPsd},
      {{0x00, 0x00}, kFormatTwoZeroBytes},  // e.g. a TGA without identification field
      {{0x00, 0x01}, kFormatUnknown},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Identify(FileStarting(c.start)).format, c.format)
        << "first bytes " << int(c.start[0]) << " " << int(c.start[1]);
  }
}

// WebP needs "WEBP" after the RIFF size; AVIF an ftyp box naming an AVIF brand, as
// its major brand or as a compatible one within the bytes read. Other ISO media files
// start with zero bytes and stay what they were.
TEST(IdentifyFormat, WebAndIsoMediaStarts) {
  using namespace std::string_literals;
  auto bytes = [](const std::string& text) {
    std::vector<uint8_t> out;
    for (char c : text) out.push_back(static_cast<uint8_t>(c));
    return out;
  };
  auto box = [&](const std::string& text) {
    return bytes(std::string{0, 0, 0, static_cast<char>(text.size() + 4)} + text);
  };
  // A brand just past the box's own size is not the box's.
  std::vector<uint8_t> shortBox = box("ftypmif1\0\0\0\0avif"s);
  shortBox[3] -= 4;
  struct Case {
    std::vector<uint8_t> start;
    int32_t format;
  };
  const Case cases[] = {
      {bytes("RIFF\x10\x20\x00\x00WEBPVP8 "s), kFormatWebp},
      {bytes("RIFF\x10\x20\x00\x00WAVEfmt "s), kFormatUnknown},
      {box("ftypavif\0\0\0\0mif1miaf"s), kFormatAvif},
      {box("ftypavis\0\0\0\0msf1"s), kFormatAvif},
      {box("ftypmif1\0\0\0\0mif1avifmiaf"s), kFormatAvif},
      {box("ftypheic\0\0\0\0mif1heic"s), kFormatTwoZeroBytes},
      {shortBox, kFormatTwoZeroBytes},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Identify(FileStarting(c.start, 64, 0)).format, c.format)
        << std::string(c.start.begin() + 4, c.start.begin() + 12);
  }
}

TEST(IdentifyFormat, EnhancedMetafileMarkAtOffsetForty) {
  std::vector<uint8_t> emf = FileStarting({0x01, 0x00, 0x00, 0x00}, 88, 0);
  emf[40] = ' ';
  emf[41] = 'E';
  emf[42] = 'M';
  emf[43] = 'F';
  EXPECT_EQ(Identify(emf).format, kFormatEmf);
  // The mark needs all 44 bytes: one byte short, it cannot match.
  emf.resize(43);
  EXPECT_EQ(Identify(emf).format, kFormatUnknown);
}

TEST(IdentifyFormat, ShortFilesMatchOnTheBytesActuallyRead) {
  EXPECT_EQ(Identify(FileStarting({'B', 'M'}, 43)).format, kFormatBmp);
  EXPECT_EQ(Identify({'B', 'M'}).format, kFormatBmp);
  EXPECT_EQ(Identify({'B'}).format, kFormatUnknown);
  EXPECT_EQ(Identify({0xFF, 0xD8, 0xFF}).format, kFormatJpeg);
  // The PNG row needs eight bytes; five PNG bytes are no PNG and match nothing else.
  EXPECT_EQ(Identify({0x89, 'P', 'N', 'G', 0x0D}).format, kFormatUnknown);
  // A four-byte plain metafile start does not reach the fifth signature byte.
  EXPECT_EQ(Identify({0x01, 0x00, 0x09, 0x00}).format, kFormatUnknown);

  // A real one-pixel GIF is shorter than 44 bytes.
  testing_support::TempDir dir;
  const std::string path = dir.File("tiny.gif");
  ASSERT_TRUE(testing_support::RunCommand("/usr/bin/convert -size 1x1 xc:red gif:" +
                                          testing_support::ShellQuote(path)));
  const std::vector<uint8_t> gif = testing_support::ReadFileBytes(path);
  ASSERT_LT(gif.size(), kIdentifyBytes);
  EXPECT_EQ(Identify(gif).format, kFormatGif);

  HISSRC file = OpenFileSource(path.c_str());
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(IdentifyFormat(file), kFormatGif);
  EXPECT_EQ(Tell(file), gif.size());
  CloseSource(file);
}

TEST(IdentifyFormat, LeavesTheSourceWhereTheReadStopped) {
  EXPECT_EQ(Identify(FileStarting({'B', 'M'}, 100)).position, kIdentifyBytes);
  EXPECT_EQ(Identify(FileStarting({'B', 'M'}, 10)).position, 10u);
  EXPECT_EQ(Identify(FileStarting({'Z'}, 100)).position, kIdentifyBytes);
}

TEST(IdentifyFormat, RefusesMissingAndInvalidHandles) {
  EXPECT_EQ(IdentifyFormat(nullptr), kFormatUnknown);
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  auto* unmarked = static_cast<DataHandle*>(GlobalAlloc(GPTR, sizeof(DataHandle)));
  EXPECT_EQ(IdentifyFormat(unmarked), kFormatUnknown);
  EXPECT_EQ(CoreLastError(), kErrInvalidHandle);
  GlobalFree(unmarked);
}

}  // namespace
}  // namespace vellum

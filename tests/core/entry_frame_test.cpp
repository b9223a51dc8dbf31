#include "vellum/core/entry_frame.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "vellum/core/data_handle.h"

namespace vellum {
namespace {

TEST(CoreErrors, TextsCoverOneToFiftySixOnly) {
  EXPECT_STREQ(CoreErrorText(1), "Not enough memory to perform the operation\r\n");
  EXPECT_STREQ(CoreErrorText(4), "An error occured while writting to the file\r\n");
  EXPECT_STREQ(CoreErrorText(13), "Resource not found\r\n");
  EXPECT_STREQ(CoreErrorText(14), "callback returned FALSE - operation aborted\r\n");
  EXPECT_STREQ(CoreErrorText(21),
               "this will not read TIFF-LZW images (note, unused error message)\r\n");
  EXPECT_STREQ(CoreErrorText(32), "Invalid TGA File\r\n");
  EXPECT_STREQ(CoreErrorText(33), "No TGA Thumbnail in the file\r\n");
  EXPECT_STREQ(CoreErrorText(38),
               "The HISSRC or HISDEST object passed into the function does appear to be valid\r\n");
  EXPECT_STREQ(CoreErrorText(39), "The function is obsolete\r\n");
  EXPECT_STREQ(CoreErrorText(42), "A call to GetEnhMetaFileBits\tor GetWinMetaFileBits failed\r\n");
  EXPECT_STREQ(CoreErrorText(53), "Invalid or unsupported WBMP (Wireless Bitmap) image\r\n");
  for (int code = 43; code <= 56; ++code) {
    ASSERT_NE(CoreErrorText(code), nullptr) << code;
    EXPECT_TRUE(std::string(CoreErrorText(code)).ends_with("\r\n")) << code;
  }
  EXPECT_EQ(CoreErrorText(0), nullptr);
  EXPECT_STREQ(CoreErrorText(54),
               "The image has more pixels than the limit on decoded images allows\r\n");
  EXPECT_EQ(CoreErrorText(57), nullptr);
  EXPECT_EQ(CoreErrorText(60), nullptr);
  EXPECT_EQ(CoreErrorText(-1), nullptr);
}

TEST(CoreErrors, SuccessResetsTheLastError) {
  EXPECT_EQ(OpenMemorySource(nullptr, 10), nullptr);
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  char byte = 0;
  HISSRC source = OpenMemorySource(&byte, 1);
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(CoreLastError(), kOk);
  CloseSource(source);
}

TEST(CoreErrors, EachThreadReadsItsOwnCode) {
  int32_t first = -1;
  int32_t second = -1;
  std::thread a([&] {
    OpenMemorySource(nullptr, 0);  // code 5
    std::this_thread::yield();
    first = CoreLastError();
  });
  std::thread b([&] {
    OpenFileSource("");  // code 2
    std::this_thread::yield();
    second = CoreLastError();
  });
  a.join();
  b.join();
  EXPECT_EQ(first, kErrInvalidArgument);
  EXPECT_EQ(second, kErrOpenFile);
}

TEST(RunEntry, TurnsAllocationFailureIntoCodeOne) {
  int* result = RunEntry([](OpContext&) -> int* { throw std::bad_alloc(); });
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(CoreLastError(), kErrNoMemory);
}

TEST(RunEntry, HandsOnAPartialResultWithItsCode) {
  int value = 7;
  int* result = RunEntry([&](OpContext& ctx) -> int* {
    ctx.Fail(kErrReadFile);
    return &value;
  });
  EXPECT_EQ(result, &value);
  EXPECT_EQ(CoreLastError(), kErrReadFile);
}

}  // namespace
}  // namespace vellum

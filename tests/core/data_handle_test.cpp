#include "vellum/core/data_handle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "platform/kernel/global_memory.h"
#include "platform/kernel/last_error.h"
#include "tests/support/temp_dir.h"
#include "vellum/core/entry_frame.h"

namespace vellum {
namespace {

std::vector<uint8_t> Counting(size_t n) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i);
  return bytes;
}

TEST(MemorySource, RefusesNullBlockAndZeroCapacity) {
  uint8_t byte = 0;
  EXPECT_EQ(OpenMemorySource(nullptr, 10), nullptr);
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  EXPECT_EQ(OpenMemorySource(&byte, 0), nullptr);
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  EXPECT_EQ(OpenMemoryDestination(&byte, 0), nullptr);
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
}

TEST(MemorySource, SeeksByTheRulesOfEachOrigin) {
  const std::vector<uint8_t> data = Counting(1000);
  HISSRC source = OpenMemorySource(data.data(), 1000);
  ASSERT_NE(source, nullptr);

  ASSERT_TRUE(Seek(source, -769, kSeekEnd));
  uint8_t byte = 0;
  ASSERT_EQ(ReadBytes(source, &byte, 1), 1u);
  EXPECT_EQ(byte, 231);

  EXPECT_FALSE(Seek(source, 1000, kSeekStart));
  EXPECT_TRUE(Seek(source, 999, kSeekStart));
  EXPECT_FALSE(Seek(source, 1, kSeekCurrent));
  EXPECT_TRUE(Seek(source, -999, kSeekCurrent));
  EXPECT_FALSE(Seek(source, -1, kSeekCurrent));
  EXPECT_FALSE(Seek(source, 1, kSeekEnd));
  EXPECT_FALSE(Seek(source, -1001, kSeekEnd));  // before the start
  EXPECT_FALSE(Seek(source, 0, 3));
  EXPECT_TRUE(Seek(source, 0, kSeekEnd));
  EXPECT_EQ(ReadBytes(source, &byte, 1), 0u);
  EXPECT_EQ(DataSize(source), 1000u);
  CloseSource(source);
}

TEST(MemorySource, ReadsWhatIsLeftAndReportsThePositionAtClose) {
  const std::vector<uint8_t> data = Counting(10);
  HISSRC source = OpenMemorySource(data.data(), 10);
  uint8_t buffer[16] = {};
  EXPECT_TRUE(ReadExactly(source, buffer, 4));
  EXPECT_EQ(ReadBytes(source, buffer, 16), 6u);
  EXPECT_EQ(buffer[0], 4);
  EXPECT_FALSE(ReadExactly(source, buffer, 1));
  EXPECT_FALSE(WriteBytes(source, buffer, 1));  // a source is never written
  Seek(source, 3, kSeekStart);
  EXPECT_EQ(CloseSource(source), 3u);
  EXPECT_EQ(CoreLastError(), kOk);
}

TEST(MemoryDestination, KeepsTheLastByteOfTheBlockUnused) {
  std::vector<uint8_t> block(100);
  HISDEST destination = OpenMemoryDestination(block.data(), 100);
  const std::vector<uint8_t> bytes = Counting(99);
  EXPECT_TRUE(WriteBytes(destination, bytes.data(), 99));
  EXPECT_FALSE(WriteBytes(destination, bytes.data(), 1));
  EXPECT_EQ(DataSize(destination), 99u);
  EXPECT_EQ(CloseDestination(destination), 99u);
  EXPECT_EQ(block[98], 98);
}

TEST(MemoryDestination, SeekingRaisesTheHighWaterMark) {
  std::vector<uint8_t> block(50, 0xAA);
  HISDEST destination = OpenMemoryDestination(block.data(), 50);
  ASSERT_TRUE(Seek(destination, 20, kSeekStart));
  EXPECT_EQ(DataSize(destination), 20u);
  // The bytes skipped are zeros, whatever the block held before.
  EXPECT_EQ(std::count(block.begin(), block.begin() + 20, 0), 20);
  EXPECT_EQ(block[20], 0xAA);
  ASSERT_TRUE(Seek(destination, 0, kSeekStart));
  const uint8_t bytes[3] = {1, 2, 3};
  EXPECT_TRUE(WriteBytes(destination, bytes, 3));
  EXPECT_EQ(DataSize(destination), 20u);
  ASSERT_TRUE(Seek(destination, -2, kSeekEnd));
  EXPECT_EQ(Tell(destination), 18u);
  // What was written can be read back up to the high-water mark.
  ASSERT_TRUE(Seek(destination, 0, kSeekStart));
  uint8_t back[32] = {};
  EXPECT_EQ(ReadBytes(destination, back, 32), 20u);
  EXPECT_EQ(back[2], 3);
  EXPECT_EQ(CloseDestination(destination), 20u);
}

TEST(Validation, RefusesStaleForeignSmallAndUnmarkedHandles) {
  // Each case is refused by validation, and by an entry with code 38.
  int onStack = 0;
  EXPECT_FALSE(IsValidHandle(nullptr));
  EXPECT_FALSE(IsValidHandle(reinterpret_cast<DataHandle*>(&onStack)));

  uint8_t byte = 0;
  HISSRC closed = OpenMemorySource(&byte, 1);
  CloseSource(closed);
  EXPECT_FALSE(IsValidHandle(closed));
  EXPECT_FALSE(SeekHandle(closed, 0, kSeekStart));
  EXPECT_EQ(CoreLastError(), kErrInvalidHandle);

  HGLOBAL small = GlobalAlloc(GPTR, sizeof(DataHandle) - 1);
  EXPECT_FALSE(IsValidHandle(static_cast<DataHandle*>(small)));
  GlobalFree(small);

  auto* unmarked = static_cast<DataHandle*>(GlobalAlloc(GPTR, sizeof(DataHandle)));
  unmarked->kind = kMemoryKind;
  unmarked->memoryBase = &byte;
  unmarked->capacity = 1;
  unmarked->leadingMark = kLeadingMark;
  EXPECT_FALSE(IsValidHandle(unmarked));
  unmarked->trailingMark = kTrailingMark;
  EXPECT_TRUE(IsValidHandle(unmarked));
  unmarked->kind = 3;
  EXPECT_FALSE(IsValidHandle(unmarked));
  unmarked->kind = kFileKind;  // a file handle without a stream
  EXPECT_FALSE(IsValidHandle(unmarked));
  GlobalFree(unmarked);

  EXPECT_EQ(CloseSource(nullptr), 0u);
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  EXPECT_FALSE(SeekHandle(nullptr, 0, 0));
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
}

TEST(FileHandles, WriteThenReadBackThroughTheSameCalls) {
  testing_support::TempDir dir;
  const std::string path = dir.File("data.bin");
  HISDEST destination = OpenFileDestination(path.c_str());
  ASSERT_NE(destination, nullptr);
  const std::vector<uint8_t> bytes = Counting(300);
  EXPECT_TRUE(WriteBytes(destination, bytes.data(), 300));
  ASSERT_TRUE(Seek(destination, 10, kSeekStart));
  uint8_t byte = 0;
  EXPECT_EQ(ReadBytes(destination, &byte, 1), 1u);  // reading between writes
  EXPECT_EQ(byte, 10);
  EXPECT_TRUE(WriteBytes(destination, "\xFF", 1));
  EXPECT_EQ(CloseDestination(destination), 300u);

  HISSRC source = OpenFileSource(path.c_str());
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(DataSize(source), 300u);
  ASSERT_TRUE(Seek(source, -289, kSeekEnd));
  EXPECT_TRUE(ReadExactly(source, &byte, 1));
  EXPECT_EQ(byte, 0xFF);
  EXPECT_FALSE(WriteBytes(source, &byte, 1));
  EXPECT_FALSE(Seek(source, 0, 7));
  EXPECT_EQ(CloseSource(source), 12u);
}

TEST(FileHandles, RefuseMissingEmptyDirectoryAndOverlongNames) {
  testing_support::TempDir dir;
  EXPECT_EQ(OpenFileSource(nullptr), nullptr);
  EXPECT_EQ(CoreLastError(), kErrOpenFile);
  EXPECT_EQ(OpenFileSource(""), nullptr);
  EXPECT_EQ(CoreLastError(), kErrOpenFile);
  EXPECT_EQ(OpenFileSource(dir.File("missing").c_str()), nullptr);
  EXPECT_EQ(CoreLastError(), kErrOpenFile);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(OpenFileSource(dir.Path().c_str()), nullptr);
  EXPECT_EQ(CoreLastError(), kErrOpenFile);
  EXPECT_EQ(OpenFileDestination(dir.File("no/such/dir").c_str()), nullptr);

  const std::string longest = dir.File(std::string(259 - dir.Path().string().size() - 1, 'a'));
  ASSERT_EQ(longest.size(), 259u);
  HISDEST fits = OpenFileDestination(longest.c_str());
  ASSERT_NE(fits, nullptr);
  CloseDestination(fits);
  EXPECT_EQ(OpenFileSource((longest + "b").c_str()), nullptr);
  EXPECT_EQ(CoreLastError(), kErrOpenFile);
  EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
}

}  // namespace
}  // namespace vellum

#include "platform/kernel/global_memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "platform/kernel/last_error.h"

namespace {

TEST(GlobalMemory, FixedBlockHandleIsItsData) {
  HGLOBAL block = GlobalAlloc(GMEM_FIXED, 100);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(GlobalLock(block), block);
  EXPECT_EQ(GlobalSize(block), 100u);
  EXPECT_EQ(GlobalHandle(block), block);
  EXPECT_EQ(GlobalFree(block), nullptr);
}

TEST(GlobalMemory, ZeroInitAndMovableLocking) {
  HGLOBAL block = GlobalAlloc(GHND, 64);
  ASSERT_NE(block, nullptr);
  auto* data = static_cast<unsigned char*>(GlobalLock(block));
  ASSERT_NE(data, nullptr);
  EXPECT_NE(static_cast<void*>(data), block);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(data[i], 0) << i;
  EXPECT_EQ(GlobalHandle(data), block);

  EXPECT_EQ(GlobalLock(block), data);  // a second lock
  EXPECT_EQ(GlobalUnlock(block), TRUE);
  EXPECT_EQ(GlobalUnlock(block), FALSE);
  EXPECT_EQ(GetLastError(), NO_ERROR);
  EXPECT_EQ(GlobalUnlock(block), FALSE);
  EXPECT_EQ(GetLastError(), ERROR_NOT_LOCKED);
  EXPECT_EQ(GlobalFree(block), nullptr);
}

TEST(GlobalMemory, StaleAndForeignHandlesAreRefusedWithoutBeingRead) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 16);
  ASSERT_EQ(GlobalFree(block), nullptr);
  int onStack = 0;
  for (HGLOBAL bad : {block, static_cast<HGLOBAL>(&onStack), reinterpret_cast<HGLOBAL>(0x10)}) {
    SetLastError(0);
    EXPECT_EQ(GlobalSize(bad), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GlobalLock(bad), nullptr);
    EXPECT_EQ(GlobalFree(bad), bad);
    EXPECT_EQ(GlobalReAlloc(bad, 32, GMEM_MOVEABLE), nullptr);
  }
  EXPECT_EQ(GlobalFree(nullptr), nullptr);
}

TEST(GlobalMemory, ZeroByteBlockIsLiveAndDistinct) {
  HGLOBAL a = GlobalAlloc(GMEM_FIXED, 0);
  HGLOBAL b = GlobalAlloc(GMEM_FIXED, 0);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(GlobalSize(a), 0u);
  EXPECT_EQ(GlobalFree(a), nullptr);
  EXPECT_EQ(GlobalFree(b), nullptr);
}

TEST(GlobalMemory, AbsurdSizesAndFlagsFailCleanly) {
  EXPECT_EQ(GlobalAlloc(GMEM_FIXED, SIZE_MAX), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(GlobalAlloc(GMEM_FIXED, kGlobalMemoryLimit + 1), nullptr);
  EXPECT_EQ(GlobalAlloc(0x8000, 10), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(GlobalMemory, ReAllocKeepsContentAndZeroesGrowth) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 4);
  std::memcpy(GlobalLock(block), "abcd", 4);
  GlobalUnlock(block);
  HGLOBAL grown = GlobalReAlloc(block, 8, GMEM_ZEROINIT);
  ASSERT_EQ(grown, block);  // a movable handle survives a move
  auto* data = static_cast<char*>(GlobalLock(grown));
  EXPECT_EQ(std::memcmp(data, "abcd\0\0\0\0", 8), 0);
  // Locked and without GMEM_MOVEABLE it may not move, so it may not grow.
  EXPECT_EQ(GlobalReAlloc(grown, 1 << 20, 0), nullptr);
  EXPECT_EQ(GlobalReAlloc(grown, 2, 0), grown);
  EXPECT_EQ(GlobalSize(grown), 2u);
  GlobalUnlock(grown);
  EXPECT_EQ(GlobalFree(grown), nullptr);
}

TEST(GlobalMemory, FixedBlockMovesOnlyWhenAllowed) {
  HGLOBAL block = GlobalAlloc(GMEM_FIXED, 16);
  std::memset(block, 7, 16);
  EXPECT_EQ(GlobalReAlloc(block, 1 << 20, 0), nullptr);
  HGLOBAL moved = GlobalReAlloc(block, 1 << 20, GMEM_MOVEABLE);
  ASSERT_NE(moved, nullptr);
  EXPECT_EQ(static_cast<unsigned char*>(moved)[15], 7);
  EXPECT_EQ(GlobalSize(moved), size_t{1} << 20);
  if (moved != block) {
    EXPECT_EQ(GlobalSize(block), 0u);
  }
  EXPECT_EQ(GlobalFree(moved), nullptr);
}

TEST(GlobalMemory, ThreadsAllocateAndFreeConcurrently) {
  const SIZE_T before = GlobalLiveBlockCount();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 2000; ++i) {
        HGLOBAL block = GlobalAlloc(i % 2 ? GHND : GPTR, 32);
        void* data = GlobalLock(block);
        std::memset(data, i, 32);
        GlobalUnlock(block);
        GlobalFree(block);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(GlobalLiveBlockCount(), before);
}

}  // namespace

#include "platform/kernel/global_memory.h"

#include <gtest/gtest.h>

#include <chrono>
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

// Sets a budget for one test and lifts it afterwards.
class BudgetScope {
 public:
  BudgetScope(uint64_t bytes, std::chrono::milliseconds wait) {
    SetGlobalMemoryBudget(bytes, wait);
  }
  ~BudgetScope() { SetGlobalMemoryBudget(0, std::chrono::milliseconds(0)); }
};

TEST(GlobalMemoryBudget, LargeBlocksBeyondItFailAndSmallOnesAreOnlyCounted) {
  const uint64_t before = GlobalLiveBytes();
  const BudgetScope budget(before + (1 << 20), std::chrono::milliseconds(0));
  HGLOBAL first = GlobalAlloc(GPTR, 700 << 10);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GlobalLiveBytes(), before + (700 << 10));
  EXPECT_EQ(GlobalAlloc(GPTR, 700 << 10), nullptr);  // would pass it
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(GlobalAlloc(GPTR, before + (2 << 20)), nullptr);  // larger than the whole budget
  std::vector<HGLOBAL> small;
  for (int i = 0; i < 12; ++i) small.push_back(GlobalAlloc(GPTR, 32 << 10));  // never refused
  for (HGLOBAL block : small) EXPECT_NE(block, nullptr);
  for (HGLOBAL block : small) GlobalFree(block);
  // A resize is counted, and a freed block makes room.
  first = GlobalReAlloc(first, 100 << 10, GMEM_MOVEABLE);
  EXPECT_EQ(GlobalLiveBytes(), before + (100 << 10));
  HGLOBAL second = GlobalAlloc(GPTR, 700 << 10);
  EXPECT_NE(second, nullptr);
  GlobalFree(first);
  GlobalFree(second);
  EXPECT_EQ(GlobalLiveBytes(), before);
}

// A block that would pass the budget waits until another is freed or the budget is lifted.
TEST(GlobalMemoryBudget, ABlockWaitsForRoomAnotherFreesOrTheBudgetLifted) {
  for (const bool lift : {false, true}) {
    const uint64_t before = GlobalLiveBytes();
    const BudgetScope budget(before + (1 << 20), std::chrono::seconds(30));
    HGLOBAL held = GlobalAlloc(GPTR, 700 << 10);
    ASSERT_NE(held, nullptr);
    HGLOBAL waited = nullptr;
    std::thread waiter([&] { waited = GlobalAlloc(GPTR, 700 << 10); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // lets the waiter start waiting
    if (lift) {
      SetGlobalMemoryBudget(0, std::chrono::milliseconds(0));
    } else {
      held = GlobalFree(held);
    }
    waiter.join();
    EXPECT_NE(waited, nullptr) << "lift " << lift;
    GlobalFree(waited);
    GlobalFree(held);
  }
}

}  // namespace

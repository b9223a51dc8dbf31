#include "platform/kernel/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/kernel/last_error.h"

namespace {

TEST(ThreadLocalStorage, EachThreadSeesItsOwnValue) {
  DWORD slot = TlsAlloc();
  ASSERT_NE(slot, TLS_OUT_OF_INDEXES);
  int mine = 1;
  int theirs = 2;
  ASSERT_TRUE(TlsSetValue(slot, &mine));
  void* seenByOther = &mine;
  std::thread other([&] {
    seenByOther = TlsGetValue(slot);
    TlsSetValue(slot, &theirs);
  });
  other.join();
  EXPECT_EQ(seenByOther, nullptr);
  EXPECT_EQ(TlsGetValue(slot), &mine);
  EXPECT_EQ(GetLastError(), NO_ERROR);
  EXPECT_TRUE(TlsFree(slot));
}

TEST(LastError, IsPerThread) {
  SetLastError(5);
  DWORD other = 0;
  std::thread([&] {
    SetLastError(7);
    other = GetLastError();
  }).join();
  EXPECT_EQ(GetLastError(), 5u);
  EXPECT_EQ(other, 7u);
}

TEST(CriticalSection, IsReentrantAndExcludesOthers) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  EnterCriticalSection(&section);
  EXPECT_TRUE(TryEnterCriticalSection(&section));  // the holder may enter again
  bool otherGotIn = true;
  std::thread([&] { otherGotIn = TryEnterCriticalSection(&section); }).join();
  EXPECT_FALSE(otherGotIn);
  LeaveCriticalSection(&section);
  LeaveCriticalSection(&section);
  std::thread([&] {
    otherGotIn = TryEnterCriticalSection(&section);
    if (otherGotIn) LeaveCriticalSection(&section);
  }).join();
  EXPECT_TRUE(otherGotIn);
  DeleteCriticalSection(&section);
}

TEST(CriticalSection, CountsCorrectlyUnderContention) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        CriticalSectionLock lock(&section);
        ++counter;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(counter, 40000);
  DeleteCriticalSection(&section);
}

TEST(Semaphore, CountsReleasesAndRespectsTheMaximum) {
  HANDLE semaphore = CreateSemaphoreA(nullptr, 1, 2, nullptr);
  ASSERT_NE(semaphore, nullptr);
  EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(semaphore, 10), WAIT_TIMEOUT);
  LONG previous = -1;
  EXPECT_TRUE(ReleaseSemaphore(semaphore, 2, &previous));
  EXPECT_EQ(previous, 0);
  EXPECT_FALSE(ReleaseSemaphore(semaphore, 1, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_TOO_MANY_POSTS);
  EXPECT_EQ(WaitForSingleObject(semaphore, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(semaphore, INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(semaphore));
  EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_FAILED);
  EXPECT_FALSE(CloseHandle(semaphore));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(Semaphore, WakesAWaitingThread) {
  HANDLE semaphore = CreateSemaphoreA(nullptr, 0, 0x7FFFFFFF, nullptr);
  std::atomic<bool> woke{false};
  std::thread waiter([&] {
    EXPECT_EQ(WaitForSingleObject(semaphore, INFINITE), WAIT_OBJECT_0);
    woke = true;
  });
  EXPECT_TRUE(ReleaseSemaphore(semaphore, 1, nullptr));
  waiter.join();
  EXPECT_TRUE(woke);
  CloseHandle(semaphore);
}

TEST(Semaphore, RefusesBadCounts) {
  EXPECT_EQ(CreateSemaphoreA(nullptr, 3, 2, nullptr), nullptr);
  EXPECT_EQ(CreateSemaphoreA(nullptr, -1, 2, nullptr), nullptr);
  EXPECT_EQ(CreateSemaphoreA(nullptr, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(Interlocked, ReturnsTheNewOrPreviousValue) {
  volatile LONG value = 5;
  EXPECT_EQ(InterlockedIncrement(&value), 6);
  EXPECT_EQ(InterlockedDecrement(&value), 5);
  EXPECT_EQ(InterlockedExchange(&value, 9), 5);
  EXPECT_EQ(InterlockedCompareExchange(&value, 1, 8), 9);  // no exchange: 9 != 8
  EXPECT_EQ(InterlockedCompareExchange(&value, 1, 9), 9);
  EXPECT_EQ(value, 1);
}

}  // namespace

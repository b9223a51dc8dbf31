#include "vellumset/read_write_lock.h"

namespace vellumset {

namespace {

constexpr LONG kMaximumWaiters = 2147483647;

}  // namespace

ReadWriteLock::ReadWriteLock()
    : readersGo_(CreateSemaphoreA(nullptr, 0, kMaximumWaiters, nullptr)),
      writersGo_(CreateSemaphoreA(nullptr, 0, kMaximumWaiters, nullptr)) {
  InitializeCriticalSection(&section_);
}

ReadWriteLock::~ReadWriteLock() {
  if (readersGo_ != nullptr) CloseHandle(readersGo_);
  if (writersGo_ != nullptr) CloseHandle(writersGo_);
  DeleteCriticalSection(&section_);
}

void ReadWriteLock::AcquireShared() {
  bool wait = false;
  {
    CriticalSectionLock hold(&section_);
    wait = waitingWriters_ > 0 || active_ < 0;
    if (wait) {
      ++waitingReaders_;
    } else {
      ++active_;
    }
  }
  if (wait) WaitForSingleObject(readersGo_, INFINITE);
}

void ReadWriteLock::AcquireExclusive() {
  bool wait = false;
  {
    CriticalSectionLock hold(&section_);
    wait = active_ != 0;
    if (wait) {
      ++waitingWriters_;
    } else {
      active_ = -1;
    }
  }
  if (wait) WaitForSingleObject(writersGo_, INFINITE);
}

// The lock passes straight to the waiters it wakes: `active_` already counts them when
// the semaphore lets them go.
void ReadWriteLock::Release() {
  HANDLE wake = nullptr;
  LONG count = 0;
  {
    CriticalSectionLock hold(&section_);
    if (active_ > 0) {
      --active_;
    } else {
      active_ = 0;
    }
    if (active_ == 0) {
      if (waitingWriters_ > 0) {
        active_ = -1;
        --waitingWriters_;
        wake = writersGo_;
        count = 1;
      } else if (waitingReaders_ > 0) {
        active_ = waitingReaders_;
        waitingReaders_ = 0;
        wake = readersGo_;
        count = active_;
      }
    }
  }
  if (wake != nullptr) ReleaseSemaphore(wake, count, nullptr);
}

}  // namespace vellumset

// The writer-preferring read/write lock of a Dictionary: a critical section guarding
// three counters, and two counting semaphores on which waiting readers and waiting
// writers sleep. A waiting writer keeps new readers out; a releasing holder hands the
// lock to one waiting writer, or else to every waiting reader at once. Waits have no
// time limit, and the lock is not re-entrant.
#pragma once

#include "platform/kernel/threads.h"

namespace vellumset {

class ReadWriteLock {
 public:
  ReadWriteLock();
  ~ReadWriteLock();
  ReadWriteLock(const ReadWriteLock&) = delete;
  ReadWriteLock& operator=(const ReadWriteLock&) = delete;

  // False when the semaphores could not be made; such a lock must not be used.
  bool Usable() const { return readersGo_ != nullptr && writersGo_ != nullptr; }

  void AcquireShared();
  void AcquireExclusive();
  // Releases a shared or an exclusive hold.
  void Release();

 private:
  CRITICAL_SECTION section_;
  LONG active_ = 0;  // readers holding the lock, -1 while a writer holds it
  LONG waitingReaders_ = 0;
  LONG waitingWriters_ = 0;
  HANDLE readersGo_;
  HANDLE writersGo_;
};

// Holds a ReadWriteLock for the lifetime of a scope.
class SharedHold {
 public:
  explicit SharedHold(ReadWriteLock& lock) : lock_(lock) { lock_.AcquireShared(); }
  ~SharedHold() { lock_.Release(); }
  SharedHold(const SharedHold&) = delete;
  SharedHold& operator=(const SharedHold&) = delete;

 private:
  ReadWriteLock& lock_;
};

class ExclusiveHold {
 public:
  explicit ExclusiveHold(ReadWriteLock& lock) : lock_(lock) { lock_.AcquireExclusive(); }
  ~ExclusiveHold() { lock_.Release(); }
  ExclusiveHold(const ExclusiveHold&) = delete;
  ExclusiveHold& operator=(const ExclusiveHold&) = delete;

 private:
  ReadWriteLock& lock_;
};

}  // namespace vellumset

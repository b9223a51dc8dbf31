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

// Holds a ReadWriteLock, shared or exclusive, for the lifetime of a scope.
template <void (ReadWriteLock::*Acquire)()>
class LockHold {
 public:
  explicit LockHold(ReadWriteLock& lock) : lock_(lock) { (lock_.*Acquire)(); }
  ~LockHold() { lock_.Release(); }
  LockHold(const LockHold&) = delete;
  LockHold& operator=(const LockHold&) = delete;

 private:
  ReadWriteLock& lock_;
};

using SharedHold = LockHold<&ReadWriteLock::AcquireShared>;
using ExclusiveHold = LockHold<&ReadWriteLock::AcquireExclusive>;

}  // namespace vellumset

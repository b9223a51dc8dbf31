// The lock count of one server module: one lock per live object, per outstanding
// LockServer(TRUE) and per class factory reference held outside the module's cache.
// A module owns exactly one, which its ServerModule and its objects share, so that an
// object keeps its module loaded without knowing the module that creates it.
#pragma once

#include "platform/kernel/threads.h"

class ModuleLockCount {
 public:
  ModuleLockCount() = default;
  ModuleLockCount(const ModuleLockCount&) = delete;
  ModuleLockCount& operator=(const ModuleLockCount&) = delete;

  LONG Lock() { return InterlockedIncrement(&count_); }
  LONG Unlock() { return InterlockedDecrement(&count_); }
  LONG Count() const {
    return InterlockedCompareExchange(const_cast<volatile LONG*>(&count_), 0, 0);
  }

 private:
  volatile LONG count_ = 0;
};

// Keeps a module locked for as long as it lives: a member of every object a module
// hands out.
class ModuleLockHolder {
 public:
  explicit ModuleLockHolder(ModuleLockCount& locks) : locks_(locks) { locks_.Lock(); }
  ~ModuleLockHolder() { locks_.Unlock(); }
  ModuleLockHolder(const ModuleLockHolder&) = delete;
  ModuleLockHolder& operator=(const ModuleLockHolder&) = delete;

 private:
  ModuleLockCount& locks_;
};

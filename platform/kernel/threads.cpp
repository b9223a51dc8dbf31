#include "platform/kernel/threads.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <unordered_map>

#include "platform/kernel/kernel_objects.h"
#include "platform/kernel/last_error.h"

// ---- kernel object table ----

namespace {

struct KernelObjectTable {
  std::mutex mutex;
  std::unordered_map<HANDLE, std::shared_ptr<KernelObject>> objects;
  uintptr_t next = 0x10000;  // kernel handles are multiples of 4 with bit 2 set

  static KernelObjectTable& Instance() {
    static KernelObjectTable* table = new KernelObjectTable;  // outlives static destructors
    return *table;
  }
};

}  // namespace

HANDLE RegisterKernelObject(std::shared_ptr<KernelObject> object) {
  KernelObjectTable& table = KernelObjectTable::Instance();
  std::lock_guard lock(table.mutex);
  table.next += 8;
  HANDLE handle = reinterpret_cast<HANDLE>(table.next | 0x4);
  table.objects.emplace(handle, std::move(object));
  return handle;
}

std::shared_ptr<KernelObject> FindAnyKernelObject(HANDLE handle) {
  KernelObjectTable& table = KernelObjectTable::Instance();
  std::lock_guard lock(table.mutex);
  auto it = table.objects.find(handle);
  return it == table.objects.end() ? nullptr : it->second;
}

BOOL CloseHandle(HANDLE handle) {
  std::shared_ptr<KernelObject> closing;  // destroyed after the table lock is released
  KernelObjectTable& table = KernelObjectTable::Instance();
  std::lock_guard lock(table.mutex);
  auto it = table.objects.find(handle);
  if (it == table.objects.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  closing = std::move(it->second);
  table.objects.erase(it);
  return TRUE;
}

// ---- thread-local storage ----

DWORD TlsAlloc() {
  pthread_key_t key;
  int error = pthread_key_create(&key, nullptr);
  if (error != 0) {
    SetLastError(static_cast<DWORD>(error));
    return TLS_OUT_OF_INDEXES;
  }
  return static_cast<DWORD>(key);
}

LPVOID TlsGetValue(DWORD slot) {
  SetLastError(NO_ERROR);
  return pthread_getspecific(static_cast<pthread_key_t>(slot));
}

BOOL TlsSetValue(DWORD slot, LPVOID value) {
  int error = pthread_setspecific(static_cast<pthread_key_t>(slot), value);
  if (error != 0) {
    SetLastError(static_cast<DWORD>(error));
    return FALSE;
  }
  return TRUE;
}

BOOL TlsFree(DWORD slot) {
  int error = pthread_key_delete(static_cast<pthread_key_t>(slot));
  if (error != 0) {
    SetLastError(static_cast<DWORD>(error));
    return FALSE;
  }
  return TRUE;
}

// ---- critical sections ----

void InitializeCriticalSection(CRITICAL_SECTION* section) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&section->mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

void EnterCriticalSection(CRITICAL_SECTION* section) { pthread_mutex_lock(&section->mutex); }

BOOL TryEnterCriticalSection(CRITICAL_SECTION* section) {
  return pthread_mutex_trylock(&section->mutex) == 0 ? TRUE : FALSE;
}

void LeaveCriticalSection(CRITICAL_SECTION* section) { pthread_mutex_unlock(&section->mutex); }

void DeleteCriticalSection(CRITICAL_SECTION* section) { pthread_mutex_destroy(&section->mutex); }

// ---- semaphores ----

namespace {

class Semaphore : public KernelObject {
 public:
  Semaphore(LONG initial, LONG maximum) : count_(initial), maximum_(maximum) {}

  bool Release(LONG amount, LONG* previous) {
    std::lock_guard lock(mutex_);
    if (amount <= 0 || amount > maximum_ - count_) return false;
    if (previous != nullptr) *previous = count_;
    count_ += amount;
    if (amount == 1) {
      available_.notify_one();
    } else {
      available_.notify_all();
    }
    return true;
  }

  DWORD Wait(DWORD milliseconds) {
    std::unique_lock lock(mutex_);
    auto ready = [this] { return count_ > 0; };
    if (milliseconds == INFINITE) {
      available_.wait(lock, ready);
    } else if (!available_.wait_for(lock, std::chrono::milliseconds(milliseconds), ready)) {
      return WAIT_TIMEOUT;
    }
    --count_;
    return WAIT_OBJECT_0;
  }

 private:
  std::mutex mutex_;
  std::condition_variable available_;
  LONG count_;
  const LONG maximum_;
};

}  // namespace

HANDLE CreateSemaphoreA(LPVOID, LONG initialCount, LONG maximumCount, LPCSTR) {
  if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return RegisterKernelObject(std::make_shared<Semaphore>(initialCount, maximumCount));
}

BOOL ReleaseSemaphore(HANDLE handle, LONG releaseCount, LONG* previousCount) {
  std::shared_ptr<Semaphore> semaphore = FindKernelObject<Semaphore>(handle);
  if (semaphore == nullptr) return FALSE;
  if (!semaphore->Release(releaseCount, previousCount)) {
    SetLastError(releaseCount <= 0 ? ERROR_INVALID_PARAMETER : ERROR_TOO_MANY_POSTS);
    return FALSE;
  }
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  std::shared_ptr<Semaphore> semaphore = FindKernelObject<Semaphore>(handle);
  if (semaphore == nullptr) return WAIT_FAILED;
  return semaphore->Wait(milliseconds);
}

// ---- interlocked counters ----

LONG InterlockedIncrement(volatile LONG* value) {
  return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedDecrement(volatile LONG* value) {
  return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedExchange(volatile LONG* value, LONG newValue) {
  return __atomic_exchange_n(value, newValue, __ATOMIC_SEQ_CST);
}

LONG InterlockedCompareExchange(volatile LONG* value, LONG exchange, LONG comparand) {
  __atomic_compare_exchange_n(value, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                              __ATOMIC_SEQ_CST);
  return comparand;
}

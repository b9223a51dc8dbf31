// Thread-local storage, critical sections, counting semaphores and interlocked
// counters, with the calling conventions of the platform interface.
#pragma once

#include <pthread.h>

#include "platform/kernel/win_types.h"

// Thread-local storage slots. TlsAlloc returns TLS_OUT_OF_INDEXES when no slot is
// left; TlsGetValue sets the last error to NO_ERROR on success so that a null value
// can be told from a failure.
constexpr DWORD TLS_OUT_OF_INDEXES = 0xFFFFFFFF;
DWORD TlsAlloc();
LPVOID TlsGetValue(DWORD slot);
BOOL TlsSetValue(DWORD slot, LPVOID value);
BOOL TlsFree(DWORD slot);

// A critical section may be entered again by the thread that holds it.
struct CRITICAL_SECTION {
  pthread_mutex_t mutex;
};
void InitializeCriticalSection(CRITICAL_SECTION* section);
void EnterCriticalSection(CRITICAL_SECTION* section);
BOOL TryEnterCriticalSection(CRITICAL_SECTION* section);
void LeaveCriticalSection(CRITICAL_SECTION* section);
void DeleteCriticalSection(CRITICAL_SECTION* section);

// Holds a critical section for the lifetime of a scope.
class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CRITICAL_SECTION* section) : section_(section) {
    EnterCriticalSection(section_);
  }
  ~CriticalSectionLock() { LeaveCriticalSection(section_); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CRITICAL_SECTION* section_;
};

// Counting semaphores are kernel objects: a HANDLE released with CloseHandle.
// The security attributes and the name of the platform call are not kept here.
HANDLE CreateSemaphoreA(LPVOID securityAttributes, LONG initialCount, LONG maximumCount,
                        LPCSTR name);
// Fails with ERROR_TOO_MANY_POSTS when the count would pass the maximum.
BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LONG* previousCount);

constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
BOOL CloseHandle(HANDLE object);

LONG InterlockedIncrement(volatile LONG* value);
LONG InterlockedDecrement(volatile LONG* value);
LONG InterlockedExchange(volatile LONG* value, LONG newValue);
LONG InterlockedCompareExchange(volatile LONG* value, LONG exchange, LONG comparand);

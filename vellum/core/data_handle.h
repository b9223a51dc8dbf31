// Data sources and destinations: every codec reads from an HISSRC and writes to an
// HISDEST without knowing whether the bytes live in a file or in a memory block.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/kernel/win_types.h"
#include "vellum/core/entry_frame.h"

namespace vellum {

constexpr uint32_t kLeadingMark = 0x03031996;
constexpr uint32_t kTrailingMark = 0x09241996;
constexpr uint32_t kFileKind = 1;
constexpr uint32_t kMemoryKind = 2;
constexpr size_t kMaxFileName = 260;  // including the terminator

// The record a handle's global block holds. The marks are written last when a
// handle opens, so a half-opened handle never passes validation.
struct DataHandle {
  uint32_t leadingMark;
  FILE* file;
  uint32_t kind;
  uint8_t* memoryBase;
  uint32_t capacity;
  uint32_t position;
  uint32_t highWater;
  char fileName[kMaxFileName];
  uint32_t isDestination;
  uint32_t lastFileAccess;  // a file stream must be repositioned between reading and writing
  uint32_t trailingMark;
};

using HISSRC = DataHandle*;
using HISDEST = DataHandle*;

enum SeekOrigin : int32_t { kSeekStart = 0, kSeekCurrent = 1, kSeekEnd = 2 };

// True for an open handle. The handle's global-memory record is consulted before
// the handle is read, so a stale or foreign pointer is refused without touching it.
bool IsValidHandle(const DataHandle* handle);

// The first check of every entry that takes a handle: code 5 for a null handle,
// code 38 for one that is not valid.
bool CheckHandle(OpContext& ctx, const DataHandle* handle);

// ---- entries (each stores its outcome as the thread's last-error code) ----

// Code 2 for a null, empty or over-long name or a file that cannot be opened.
HISSRC OpenFileSource(const char* fileName);
// Code 5 for a null block or a capacity of 0. The block stays the caller's.
HISSRC OpenMemorySource(const void* block, uint32_t capacity);
// Returns the position at close; code 5 for a null handle.
uint32_t CloseSource(HISSRC source);
HISDEST OpenFileDestination(const char* fileName);
HISDEST OpenMemoryDestination(void* block, uint32_t capacity);
// Returns the number of bytes written (taken before closing); code 5 for a null handle.
uint32_t CloseDestination(HISDEST destination);
// Code 5 for a null handle or a seek the handle refuses, code 38 for an invalid handle.
BOOL SeekHandle(DataHandle* handle, int32_t offset, int32_t origin);

// ---- operations for codecs on a handle already validated ----

// Bytes delivered, fewer than asked at the end of the data.
size_t ReadBytes(DataHandle* handle, void* buffer, size_t count);
// True only when all bytes were delivered.
bool ReadExactly(DataHandle* handle, void* buffer, size_t count);
bool WriteBytes(DataHandle* handle, const void* buffer, size_t count);
bool Seek(DataHandle* handle, int32_t offset, int32_t origin);
inline bool Rewind(DataHandle* handle) { return Seek(handle, 0, kSeekStart); }
uint32_t Tell(const DataHandle* handle);
// A source's full size; the bytes written so far to a destination.
uint32_t DataSize(DataHandle* handle);

}  // namespace vellum

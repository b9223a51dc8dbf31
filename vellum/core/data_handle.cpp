#include "vellum/core/data_handle.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/kernel/global_memory.h"
#include "platform/kernel/last_error.h"
#include "platform/policy/file_access.h"
#include "vellum/core/entry_frame.h"

namespace vellum {

namespace {

DataHandle* AllocateHandle() {
  return static_cast<DataHandle*>(GlobalAlloc(GPTR, sizeof(DataHandle)));
}

// Clears the marks before the block goes back, so that a later block at the same
// address can never pass for this handle.
void FreeHandle(DataHandle* handle) {
  handle->leadingMark = 0;
  handle->trailingMark = 0;
  GlobalFree(handle);
}

void SetMarks(DataHandle* handle) {
  handle->leadingMark = kLeadingMark;
  handle->trailingMark = kTrailingMark;
}

uint32_t ClampToU32(int64_t value) {
  return static_cast<uint32_t>(std::clamp<int64_t>(value, 0, UINT32_MAX));
}

// Where the data ends: a memory source's capacity, a memory destination's high-water mark.
uint32_t MemoryEnd(const DataHandle* handle) {
  return handle->isDestination ? handle->highWater : handle->capacity;
}

enum FileAccess : uint32_t { kNoAccess = 0, kReading = 1, kWriting = 2 };

// C streams need a seek between a read and a following write, and the reverse.
void SwitchFileAccess(DataHandle* handle, FileAccess access) {
  if (handle->lastFileAccess != kNoAccess && handle->lastFileAccess != access) {
    std::fseek(handle->file, 0, SEEK_CUR);
  }
  handle->lastFileAccess = access;
}

bool NameFits(const char* fileName) {
  if (std::strlen(fileName) < kMaxFileName) return true;
  SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return false;
}

// Files are opened through the platform's file access: regular files inside the
// allowed folders only, never blocking.
FILE* OpenStream(const char* fileName, bool destination) {
  int descriptor = -1;
  const DWORD error = destination ? policy::OpenFileForWriting(fileName, &descriptor)
                                  : policy::OpenFileForReading(fileName, &descriptor);
  if (error != NO_ERROR) {
    SetLastError(error);
    return nullptr;
  }
  FILE* file = fdopen(descriptor, destination ? "wb+" : "rb");
  if (file == nullptr) {
    SetLastErrorFromErrno();
    close(descriptor);
  }
  return file;
}

DataHandle* OpenFile(OpContext& ctx, const char* fileName, bool destination) {
  if (fileName == nullptr || fileName[0] == '\0' || !NameFits(fileName)) {
    ctx.Fail(kErrOpenFile);
    return nullptr;
  }
  DataHandle* handle = AllocateHandle();
  if (handle == nullptr) {
    ctx.Fail(kErrNoMemory);
    return nullptr;
  }
  FILE* file = OpenStream(fileName, destination);
  if (file == nullptr) {
    FreeHandle(handle);
    ctx.Fail(kErrOpenFile);
    return nullptr;
  }
  handle->file = file;
  handle->kind = kFileKind;
  std::strcpy(handle->fileName, fileName);
  handle->isDestination = destination ? 1 : 0;
  SetMarks(handle);
  return handle;
}

DataHandle* OpenMemory(OpContext& ctx, const void* block, uint32_t capacity, bool destination) {
  if (block == nullptr || capacity == 0) {
    ctx.Fail(kErrInvalidArgument);
    return nullptr;
  }
  DataHandle* handle = AllocateHandle();
  if (handle == nullptr) {
    ctx.Fail(kErrNoMemory);
    return nullptr;
  }
  handle->kind = kMemoryKind;
  // A source is never written through: WriteBytes refuses sources.
  handle->memoryBase = static_cast<uint8_t*>(const_cast<void*>(block));
  handle->capacity = capacity;
  handle->isDestination = destination ? 1 : 0;
  SetMarks(handle);
  return handle;
}

// Shared by both close entries: checks the handle, takes the result, releases it.
template <typename Measure>
uint32_t CloseHandleRecord(DataHandle* handle, Measure measure) {
  return RunEntry([&](OpContext& ctx) -> uint32_t {
    if (!CheckHandle(ctx, handle)) return 0;
    const uint32_t result = measure(handle);
    if (handle->kind == kFileKind) std::fclose(handle->file);
    FreeHandle(handle);
    return result;
  });
}

bool SeekMemory(DataHandle* handle, int32_t offset, int32_t origin) {
  int64_t target;
  switch (origin) {
    case kSeekStart:
    case kSeekCurrent:
      target = (origin == kSeekStart ? 0 : int64_t{handle->position}) + offset;
      if (target < 0 || target >= int64_t{handle->capacity}) return false;
      handle->position = static_cast<uint32_t>(target);
      if (handle->isDestination && handle->position > handle->highWater) {
        // Bytes skipped over read as zeros, as in a file: the block may hold anything.
        std::memset(handle->memoryBase + handle->highWater, 0,
                    handle->position - handle->highWater);
        handle->highWater = handle->position;
      }
      return true;
    case kSeekEnd:
      target = int64_t{MemoryEnd(handle)} + offset;
      // Positions before the start are refused: reads would otherwise run off the block.
      if (offset > 0 || target < 0) return false;
      handle->position = static_cast<uint32_t>(target);
      return true;
    default:
      return false;
  }
}

}  // namespace

bool IsValidHandle(const DataHandle* handle) {
  if (handle == nullptr) return false;
  if (GlobalSize(const_cast<DataHandle*>(handle)) < sizeof(DataHandle)) return false;
  if (handle->kind != kFileKind && handle->kind != kMemoryKind) return false;
  if (handle->leadingMark != kLeadingMark || handle->trailingMark != kTrailingMark) return false;
  if (handle->kind == kFileKind) return handle->file != nullptr;
  return handle->memoryBase != nullptr && handle->capacity != 0;
}

bool CheckHandle(OpContext& ctx, const DataHandle* handle) {
  if (handle == nullptr) return ctx.Fail(kErrInvalidArgument);
  if (!IsValidHandle(handle)) return ctx.Fail(kErrInvalidHandle);
  return true;
}

HISSRC OpenFileSource(const char* fileName) {
  return RunEntry([&](OpContext& ctx) { return OpenFile(ctx, fileName, false); });
}

HISSRC OpenMemorySource(const void* block, uint32_t capacity) {
  return RunEntry([&](OpContext& ctx) { return OpenMemory(ctx, block, capacity, false); });
}

HISDEST OpenFileDestination(const char* fileName) {
  return RunEntry([&](OpContext& ctx) { return OpenFile(ctx, fileName, true); });
}

HISDEST OpenMemoryDestination(void* block, uint32_t capacity) {
  return RunEntry([&](OpContext& ctx) { return OpenMemory(ctx, block, capacity, true); });
}

uint32_t CloseSource(HISSRC source) { return CloseHandleRecord(source, Tell); }

uint32_t CloseDestination(HISDEST destination) { return CloseHandleRecord(destination, DataSize); }

BOOL SeekHandle(DataHandle* handle, int32_t offset, int32_t origin) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (!CheckHandle(ctx, handle)) return FALSE;
    if (!Seek(handle, offset, origin)) return ctx.Fail(kErrInvalidArgument);
    return TRUE;
  });
}

size_t ReadBytes(DataHandle* handle, void* buffer, size_t count) {
  if (handle->kind == kFileKind) {
    SwitchFileAccess(handle, kReading);
    return std::fread(buffer, 1, count, handle->file);
  }
  const uint32_t end = MemoryEnd(handle);
  if (handle->position >= end) return 0;
  const size_t delivered = std::min<size_t>(count, end - handle->position);
  std::memcpy(buffer, handle->memoryBase + handle->position, delivered);
  handle->position += static_cast<uint32_t>(delivered);
  return delivered;
}

bool ReadExactly(DataHandle* handle, void* buffer, size_t count) {
  return ReadBytes(handle, buffer, count) == count;
}

bool WriteBytes(DataHandle* handle, const void* buffer, size_t count) {
  if (!handle->isDestination) return false;
  if (handle->kind == kFileKind) {
    SwitchFileAccess(handle, kWriting);
    return std::fwrite(buffer, 1, count, handle->file) == count;
  }
  // The block's last byte always stays unused: a write that would fill it fails.
  if (uint64_t{handle->position} + count >= handle->capacity) return false;
  if (count > 0) std::memcpy(handle->memoryBase + handle->position, buffer, count);
  handle->position += static_cast<uint32_t>(count);
  handle->highWater = std::max(handle->highWater, handle->position);
  return true;
}

bool Seek(DataHandle* handle, int32_t offset, int32_t origin) {
  if (handle->kind == kMemoryKind) return SeekMemory(handle, offset, origin);
  if (origin != kSeekStart && origin != kSeekCurrent && origin != kSeekEnd) return false;
  static_assert(SEEK_SET == kSeekStart && SEEK_CUR == kSeekCurrent && SEEK_END == kSeekEnd);
  handle->lastFileAccess = kNoAccess;
  return std::fseek(handle->file, offset, origin) == 0;
}

uint32_t Tell(const DataHandle* handle) {
  if (handle->kind == kMemoryKind) return handle->position;
  return ClampToU32(ftello(handle->file));
}

uint32_t DataSize(DataHandle* handle) {
  if (handle->kind == kMemoryKind) return MemoryEnd(handle);
  if (handle->isDestination) std::fflush(handle->file);
  struct stat info {};
  if (fstat(fileno(handle->file), &info) != 0) return 0;
  return ClampToU32(info.st_size);
}

}  // namespace vellum

// Global memory blocks: the buffers that cross from one module to another.
//
// A fixed block's handle is the address of its data; a movable block's handle is
// an opaque value that GlobalLock turns into the address. Every live block is in a
// record, so that a stale, freed or foreign handle is recognised by lookup, never
// by reading the memory it points at.
#pragma once

#include <chrono>
#include <cstdint>

#include "platform/kernel/win_types.h"

constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;
constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;

// The largest block the layer hands out. Image sizes are 32-bit quantities in
// every format this system handles; a request above this fails with
// ERROR_NOT_ENOUGH_MEMORY instead of reaching the C heap.
constexpr SIZE_T kGlobalMemoryLimit = 0xFFFFFFFFu;

// All of these fail by returning null (or 0) and setting the last error:
// ERROR_INVALID_HANDLE for an unknown handle, ERROR_NOT_ENOUGH_MEMORY when the
// heap refuses, ERROR_INVALID_PARAMETER for unknown flags.
HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
LPVOID GlobalLock(HGLOBAL block);
// Returns TRUE while the block stays locked; FALSE once unlocked, with the last
// error NO_ERROR, or FALSE with ERROR_NOT_LOCKED when it was not locked.
BOOL GlobalUnlock(HGLOBAL block);
// The size asked for when the block was made or last resized; 0 for an unknown handle.
SIZE_T GlobalSize(HGLOBAL block);
// A locked movable block, or a fixed one, moves only when GMEM_MOVEABLE is given.
// The new handle is returned (it differs from the old one only for a fixed block that moved).
HGLOBAL GlobalReAlloc(HGLOBAL block, SIZE_T bytes, UINT flags);
// Returns null on success and the handle itself when it is not a live block.
HGLOBAL GlobalFree(HGLOBAL block);
// The handle of the block whose data starts at the given address, or null.
HGLOBAL GlobalHandle(LPCVOID data);

// Number of live blocks; lets tests see that every block handed out was freed.
SIZE_T GlobalLiveBlockCount();
// Bytes held by all live blocks together.
uint64_t GlobalLiveBytes();

// A budget on the bytes all live blocks hold together (0: none, how a process starts),
// which is how a server keeps a burst of large images from exhausting its memory. A
// block of kBudgetedBlockBytes or more that would pass the budget waits up to `wait`
// for others to be freed, then fails with ERROR_NOT_ENOUGH_MEMORY (at once when it is
// larger than the whole budget); smaller blocks are counted but never wait.
constexpr SIZE_T kBudgetedBlockBytes = 64 * 1024;
void SetGlobalMemoryBudget(uint64_t bytes, std::chrono::milliseconds wait);

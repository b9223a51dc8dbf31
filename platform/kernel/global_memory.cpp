#include "platform/kernel/global_memory.h"

#include <sys/mman.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/kernel/last_error.h"

namespace {

struct Block {
  void* data = nullptr;
  SIZE_T size = 0;
  bool movable = false;
  UINT locks = 0;
};

// Movable handles are odd multiples of two: the C heap returns 16-byte aligned
// addresses, so they never collide with a fixed block's handle, and the counter
// never hands out the same value twice.
constexpr uintptr_t kMovableTag = 0x2;
constexpr uintptr_t kMovableStep = 0x10;

class BlockRecord {
 public:
  static BlockRecord& Instance() {
    static BlockRecord* record = new BlockRecord;  // outlives every static destructor
    return *record;
  }

  std::mutex mutex;
  std::unordered_map<HGLOBAL, Block> blocks;
  std::unordered_map<const void*, HGLOBAL> handleOfData;  // movable blocks only
  uint64_t liveBytes = 0;  // of the live blocks and of the allocations under way
  uint64_t budget = 0;     // 0: none
  std::chrono::milliseconds budgetWait{0};
  std::condition_variable roomMade;  // signalled when liveBytes goes down or the budget changes

  // Counts `bytes` for an allocation about to be made; a large one waits (releasing the
  // lock, which is held on entry and on return) while it would pass the budget. False
  // when the wait ends without room.
  bool Reserve(std::unique_lock<std::mutex>& lock, SIZE_T bytes) {
    if (bytes >= kBudgetedBlockBytes) {
      if (budget != 0 && bytes > budget) return false;  // would never fit
      const auto deadline = std::chrono::steady_clock::now() + budgetWait;
      const bool fits = roomMade.wait_until(lock, deadline, [&] {
        return budget == 0 || (bytes <= budget && liveBytes + bytes <= budget);
      });
      if (!fits) return false;
    }
    liveBytes += bytes;
    return true;
  }
  // Counts a block's change of size from `before` to `after` bytes; never waits.
  void Recount(SIZE_T before, SIZE_T after) {
    liveBytes = liveBytes - before + after;
    if (after < before) roomMade.notify_all();
  }

  HGLOBAL NewMovableHandle() {
    nextMovable_ += kMovableStep;
    return reinterpret_cast<HGLOBAL>(nextMovable_ | kMovableTag);
  }

  Block* Find(HGLOBAL handle) {
    auto it = blocks.find(handle);
    return it == blocks.end() ? nullptr : &it->second;
  }

 private:
  uintptr_t nextMovable_ = 0x10000;
};

// Blocks this large (whole images) ask for transparent huge pages over their
// aligned interior: filling them then takes a few dozen page faults instead of
// thousands, which on a virtual machine costs more than the filling itself.
constexpr SIZE_T kHugePageBlock = SIZE_T{4} << 20;
constexpr uintptr_t kHugePage = uintptr_t{2} << 20;

void AdviseHugePages(void* data, SIZE_T bytes) {
  const uintptr_t start = (reinterpret_cast<uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kHugePage - 1);
  // Only advice: a kernel without huge pages leaves the block as it is.
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

void* AllocateData(SIZE_T bytes, bool zero) {
  // A zero-byte block still gets an address of its own.
  const SIZE_T real = bytes == 0 ? 1 : bytes;
  void* data = zero ? std::calloc(1, real) : std::malloc(real);
  if (data != nullptr && real >= kHugePageBlock) AdviseHugePages(data, real);
  return data;
}

bool FlagsAreKnown(UINT flags, UINT allowed) { return (flags & ~allowed) == 0; }

Block* FindOrFail(BlockRecord& record, HGLOBAL handle) {
  Block* block = record.Find(handle);
  if (block == nullptr) SetLastError(ERROR_INVALID_HANDLE);
  return block;
}

// Resizes the data of a block in place of its record entry; false when the heap refuses.
// A resize is counted against the budget but never waits for it.
bool ResizeData(BlockRecord& record, Block& block, SIZE_T bytes, bool zeroTail) {
  void* data = std::realloc(block.data, bytes == 0 ? 1 : bytes);
  if (data == nullptr) return false;
  if (zeroTail && bytes > block.size) {
    std::memset(static_cast<char*>(data) + block.size, 0, bytes - block.size);
  }
  record.Recount(block.size, bytes);
  block.data = data;
  block.size = bytes;
  return true;
}

}  // namespace

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
  if (!FlagsAreKnown(flags, GMEM_MOVEABLE | GMEM_ZEROINIT)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (bytes > kGlobalMemoryLimit) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  BlockRecord& record = BlockRecord::Instance();
  std::unique_lock lock(record.mutex);
  if (!record.Reserve(lock, bytes)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  lock.unlock();
  void* data = AllocateData(bytes, (flags & GMEM_ZEROINIT) != 0);
  lock.lock();
  if (data == nullptr) {
    record.Recount(bytes, 0);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  const bool movable = (flags & GMEM_MOVEABLE) != 0;
  HGLOBAL handle = movable ? record.NewMovableHandle() : data;
  record.blocks[handle] = Block{data, bytes, movable, 0};
  if (movable) record.handleOfData[data] = handle;
  return handle;
}

LPVOID GlobalLock(HGLOBAL handle) {
  BlockRecord& record = BlockRecord::Instance();
  std::lock_guard lock(record.mutex);
  Block* block = FindOrFail(record, handle);
  if (block == nullptr) return nullptr;
  if (block->movable) ++block->locks;
  return block->data;
}

BOOL GlobalUnlock(HGLOBAL handle) {
  BlockRecord& record = BlockRecord::Instance();
  std::lock_guard lock(record.mutex);
  Block* block = FindOrFail(record, handle);
  if (block == nullptr) return FALSE;
  if (!block->movable) {
    SetLastError(NO_ERROR);
    return FALSE;
  }
  if (block->locks == 0) {
    SetLastError(ERROR_NOT_LOCKED);
    return FALSE;
  }
  --block->locks;
  if (block->locks == 0) SetLastError(NO_ERROR);
  return block->locks > 0 ? TRUE : FALSE;
}

SIZE_T GlobalSize(HGLOBAL handle) {
  BlockRecord& record = BlockRecord::Instance();
  std::lock_guard lock(record.mutex);
  Block* block = FindOrFail(record, handle);
  return block == nullptr ? 0 : block->size;
}

HGLOBAL GlobalReAlloc(HGLOBAL handle, SIZE_T bytes, UINT flags) {
  if (!FlagsAreKnown(flags, GMEM_MOVEABLE | GMEM_ZEROINIT)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (bytes > kGlobalMemoryLimit) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  BlockRecord& record = BlockRecord::Instance();
  std::lock_guard lock(record.mutex);
  Block* block = FindOrFail(record, handle);
  if (block == nullptr) return nullptr;

  const bool zeroTail = (flags & GMEM_ZEROINIT) != 0;
  const bool mayMove = (flags & GMEM_MOVEABLE) != 0 || (block->movable && block->locks == 0);
  if (!mayMove) {
    // Pinned data can only shrink where it stands.
    if (bytes > block->size) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    record.Recount(block->size, bytes);
    block->size = bytes;
    return handle;
  }

  const void* oldData = block->data;
  if (!ResizeData(record, *block, bytes, zeroTail)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (block->movable) {
    record.handleOfData.erase(oldData);
    record.handleOfData[block->data] = handle;
    return handle;
  }
  if (block->data == handle) return handle;
  // A fixed block that moved gets the new address as its handle.
  Block moved = *block;
  record.blocks.erase(handle);
  record.blocks[moved.data] = moved;
  return moved.data;
}

HGLOBAL GlobalFree(HGLOBAL handle) {
  if (handle == nullptr) return nullptr;
  BlockRecord& record = BlockRecord::Instance();
  std::lock_guard lock(record.mutex);
  Block* block = FindOrFail(record, handle);
  if (block == nullptr) return handle;
  if (block->movable) record.handleOfData.erase(block->data);
  std::free(block->data);
  record.Recount(block->size, 0);
  record.blocks.erase(handle);
  return nullptr;
}

HGLOBAL GlobalHandle(LPCVOID data) {
  BlockRecord& record = BlockRecord::Instance();
  std::lock_guard lock(record.mutex);
  auto movable = record.handleOfData.find(data);
  if (movable != record.handleOfData.end()) return movable->second;
  HGLOBAL asFixed = const_cast<void*>(data);
  if (record.Find(asFixed) != nullptr) return asFixed;
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

SIZE_T GlobalLiveBlockCount() {
  BlockRecord& record = BlockRecord::Instance();
  std::lock_guard lock(record.mutex);
  return record.blocks.size();
}

uint64_t GlobalLiveBytes() {
  BlockRecord& record = BlockRecord::Instance();
  std::lock_guard lock(record.mutex);
  return record.liveBytes;
}

void SetGlobalMemoryBudget(uint64_t bytes, std::chrono::milliseconds wait) {
  BlockRecord& record = BlockRecord::Instance();
  std::lock_guard lock(record.mutex);
  record.budget = bytes;
  record.budgetWait = wait;
  record.roomMade.notify_all();
}

#include "script/script_heap.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace script {

namespace {

// Each block carries its size in front, so that a free knows what it gives back; the
// header keeps the block aligned as malloc's are.
constexpr size_t kHeader = alignof(std::max_align_t);

size_t& SizeOf(void* block) {
  return *reinterpret_cast<size_t*>(static_cast<char*>(block) - kHeader);
}

void* AllocateBlock(void* udata, duk_size_t size) {
  return static_cast<ScriptHeap*>(udata)->Allocate(size);
}
void* ReallocateBlock(void* udata, void* block, duk_size_t size) {
  return static_cast<ScriptHeap*>(udata)->Reallocate(block, size);
}
void FreeBlock(void* udata, void* block) { static_cast<ScriptHeap*>(udata)->Free(block); }

void Fatal(void*, const char* message) {
  std::fprintf(stderr, "script engine: fatal: %s\n", message != nullptr ? message : "");
  std::abort();
}

// Pushes a new thread that shares the heap's globals.
duk_ret_t PushScriptThread(duk_context* ctx, void*) {
  duk_push_thread(ctx);
  return 1;
}

}  // namespace

std::unique_ptr<ScriptHeap> ScriptHeap::Create(size_t maxBytes) {
  std::unique_ptr<ScriptHeap> heap(new ScriptHeap(maxBytes));
  heap->heapCtx_ = duk_create_heap(AllocateBlock, ReallocateBlock, FreeBlock, heap.get(), Fatal);
  if (heap->heapCtx_ == nullptr) return nullptr;
  // Scripts run on a thread of their own, kept on the first thread's stack. The engine
  // runs finalizers on the first thread, which it cannot do while that thread is in a
  // call and another thread runs (a script started from a call of the script, as a
  // page runs another page): kept idle, it finalizes (and so releases) whatever
  // becomes garbage on any thread.
  if (duk_safe_call(heap->heapCtx_, PushScriptThread, nullptr, 0, 1) != DUK_EXEC_SUCCESS) {
    return nullptr;
  }
  heap->ctx_ = duk_get_context(heap->heapCtx_, -1);
  return heap;
}

ScriptHeap::~ScriptHeap() {
  // Finalizers run as the heap goes (releasing the objects its scripts held); they get
  // the memory they need whatever the cap.
  capLifted_ = true;
  duk_destroy_heap(heapCtx_);
}

void ScriptHeap::Stop(StopReason reason) {
  if (reason_ == StopReason::kNone) reason_ = reason;
  if (ctx_ != nullptr) vellum_script_interrupt_now(ctx_);
}

bool ScriptHeap::MustStop() {
  if (reason_ == StopReason::kNone && std::chrono::steady_clock::now() >= deadline_) {
    reason_ = StopReason::kTimeLimit;
  }
  return reason_ != StopReason::kNone;
}

bool ScriptHeap::Admit(size_t grow) {
  if (maxBytes_ == 0 || capLifted_ || (used_ <= maxBytes_ && grow <= maxBytes_ - used_)) {
    return true;
  }
  Stop(StopReason::kMemoryLimit);
  return false;
}

void* ScriptHeap::Allocate(size_t size) {
  if (size > SIZE_MAX - kHeader || !Admit(size + kHeader)) return nullptr;
  void* raw = std::malloc(size + kHeader);
  if (raw == nullptr) return nullptr;
  void* block = static_cast<char*>(raw) + kHeader;
  SizeOf(block) = size;
  used_ += size + kHeader;
  return block;
}

void* ScriptHeap::Reallocate(void* block, size_t size) {
  if (block == nullptr) return Allocate(size);
  if (size == 0) {
    Free(block);
    return nullptr;
  }
  const size_t old = SizeOf(block);
  if (size > SIZE_MAX - kHeader || (size > old && !Admit(size - old))) return nullptr;
  void* raw = std::realloc(static_cast<char*>(block) - kHeader, size + kHeader);
  if (raw == nullptr) return nullptr;
  block = static_cast<char*>(raw) + kHeader;
  SizeOf(block) = size;
  used_ = used_ - old + size;
  return block;
}

void ScriptHeap::Free(void* block) {
  if (block == nullptr) return;
  used_ -= SizeOf(block) + kHeader;
  std::free(static_cast<char*>(block) - kHeader);
}

}  // namespace script

extern "C" int vellum_script_must_stop(void* udata) {
  return udata != nullptr && static_cast<script::ScriptHeap*>(udata)->MustStop() ? 1 : 0;
}

// An engine heap with limits: a cap on the bytes its scripts may allocate, a deadline,
// and a way to end the running script from a call it made (a page's Response.End).
// Once a limit is reached or Stop is called, the script stops at its next instruction:
// the engine throws there, and again at every instruction a catch or finally clause
// tries to run, until the script has unwound to the host's protected call. The host
// then reads StopReason to tell the outcome from a script error.
//
// A heap belongs to the thread that runs it; Stop and the deadline may be changed from
// the script's own calls. Time spent inside a native call (an image operation) is not
// interrupted: the check runs between script instructions.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>

#include "duktape.h"

namespace script {

enum class StopReason {
  kNone,
  kTimeLimit,    // the deadline passed
  kMemoryLimit,  // an allocation would have gone past the cap
  kEnded,        // Stop was called (the page ended itself)
};

class ScriptHeap {
 public:
  // A heap whose scripts may hold at most `maxBytes` (0: no cap); null when the engine
  // cannot make one within that.
  static std::unique_ptr<ScriptHeap> Create(size_t maxBytes);
  ~ScriptHeap();
  ScriptHeap(const ScriptHeap&) = delete;
  ScriptHeap& operator=(const ScriptHeap&) = delete;

  // The engine thread scripts run on.
  duk_context* Context() const { return ctx_; }

  // Scripts stop once `deadline` has passed (checked every few thousand instructions).
  void SetDeadline(std::chrono::steady_clock::time_point deadline) { deadline_ = deadline; }
  std::chrono::steady_clock::time_point Deadline() const { return deadline_; }

  // Ends the running script at its next instruction; later scripts of this heap do not
  // run either. The first reason given is kept.
  void Stop(StopReason reason);
  StopReason Stopped() const { return reason_; }

  size_t BytesInUse() const { return used_; }
  size_t MaxBytes() const { return maxBytes_; }

  // Called by the engine through its configuration (duktape_overrides.h).
  bool MustStop();
  void* Allocate(size_t size);
  void* Reallocate(void* block, size_t size);
  void Free(void* block);

 private:
  explicit ScriptHeap(size_t maxBytes) : maxBytes_(maxBytes) {}
  bool Admit(size_t grow);

  duk_context* heapCtx_ = nullptr;  // the heap's first thread
  duk_context* ctx_ = nullptr;
  size_t maxBytes_;
  size_t used_ = 0;
  bool capLifted_ = false;
  std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::time_point::max();
  StopReason reason_ = StopReason::kNone;
};

}  // namespace script

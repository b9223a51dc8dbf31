// The frame every imaging-core entry shares: the per-thread library record with
// its last-error code and options, and RunEntry, which gives each entry its shape.
#pragma once

#include <cstdint>
#include <exception>
#include <new>
#include <stdexcept>

#include "platform/kernel/win_types.h"
#include "vellum/core/error_table.h"

namespace vellum {

// libpng's 16-bit colour record: palette index, red, green, blue, gray.
struct PngColor16 {
  uint8_t index = 0;
  uint16_t red = 0;
  uint16_t green = 0;
  uint16_t blue = 0;
  uint16_t gray = 0;
};

// Options the PNG codec reads from the calling thread's record.
struct PngOptions {
  double screenGamma = 2.9;
  bool gammaCorrection = true;
  PngColor16 defaultBackground;
  bool writeTransparency = false;
};

// One record per thread that has called the library.
struct ThreadRecord {
  int32_t lastError = kOk;
  PngOptions png;
};

// Thrown only when thread-local storage itself fails; carries the system error code.
class TlsException : public std::runtime_error {
 public:
  explicit TlsException(DWORD systemError)
      : std::runtime_error("thread-local storage failed"), systemError_(systemError) {}
  DWORD SystemError() const { return systemError_; }

 private:
  DWORD systemError_;
};

// The calling thread's record, created on its first use. Throws TlsException.
ThreadRecord& CurrentThreadRecord();

// The last-error query: the code the calling thread's last entry stored.
int32_t CoreLastError();

// The state of one entry call. A worker records a failure with Fail, which
// returns false so that `return ctx.Fail(kErr...)` reads naturally.
struct OpContext {
  int32_t code = kOk;
  bool Fail(int32_t failure) {
    code = failure;
    return false;
  }
  bool Failed() const { return code != kOk; }
};

// Runs an entry's worker and stores its code as the thread's last error on every
// return. Allocation failures inside the worker become code 1; no exception other
// than TlsException leaves an entry. The worker's result is returned as it is, so
// a worker decides itself whether a failure still hands out a (partial) result.
template <typename Worker>
auto RunEntry(Worker&& worker) -> decltype(worker(std::declval<OpContext&>())) {
  using Result = decltype(worker(std::declval<OpContext&>()));
  ThreadRecord& record = CurrentThreadRecord();
  OpContext ctx;
  Result result{};
  try {
    result = worker(ctx);
  } catch (const std::bad_alloc&) {
    ctx.code = kErrNoMemory;
    result = Result{};
  } catch (const std::length_error&) {
    ctx.code = kErrNoMemory;
    result = Result{};
  }
  record.lastError = ctx.code;
  return result;
}

}  // namespace vellum

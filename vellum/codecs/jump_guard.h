// libjpeg and libpng report fatal errors through a handler that must not return;
// ours jumps back into the entry that is running. A jump is sound in C++ only when
// the frames it leaves hold no object with a non-trivial destructor, so the jump
// target is RunGuarded's own frame, which owns nothing, and the step it runs is a
// lambda whose body makes no such object: library calls and plain arithmetic only.
// Everything with a destructor lives in the caller, which the jump never leaves.
#pragma once

#include <csetjmp>
#include <type_traits>

namespace vellum {

// Runs one library step; false when the library's error handler jumped back.
template <typename Step>
bool RunGuarded(std::jmp_buf& jump, Step&& step) {
  static_assert(std::is_trivially_destructible_v<std::remove_reference_t<Step>>);
  if (setjmp(jump) != 0) return false;
  step();
  return true;
}

}  // namespace vellum

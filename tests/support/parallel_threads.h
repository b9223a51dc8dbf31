// Sets the imaging core's thread count for the life of a scope.
#pragma once

#include <cstddef>

#include "vellum/core/worker_pool.h"

namespace testing_support {

class ScopedParallelThreads {
 public:
  explicit ScopedParallelThreads(size_t threads) { vellum::SetParallelThreads(threads); }
  ~ScopedParallelThreads() { vellum::SetParallelThreads(0); }
  ScopedParallelThreads(const ScopedParallelThreads&) = delete;
  ScopedParallelThreads& operator=(const ScopedParallelThreads&) = delete;
};

}  // namespace testing_support

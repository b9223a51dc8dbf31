#include "vellum/core/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/support/parallel_threads.h"

namespace vellum {
namespace {

using testing_support::ScopedParallelThreads;

// Counts how often each item was handed out.
std::vector<int> Visits(size_t count, size_t grain) {
  std::vector<std::atomic<int>> visits(count);
  ParallelFor(count, grain, [&](size_t begin, size_t end) {
    EXPECT_LT(begin, end);
    EXPECT_TRUE(end - begin >= grain || end == count) << begin << ".." << end;
    for (size_t i = begin; i < end; ++i) visits[i].fetch_add(1);
  });
  return {visits.begin(), visits.end()};
}

TEST(WorkerPool, EveryItemExactlyOnceForAnyThreadCount) {
  for (size_t threads : {1, 2, 3, 7}) {
    ScopedParallelThreads scoped(threads);
    for (size_t count : {0, 1, 2, 5, 63, 64, 65, 1000, 4097}) {
      for (size_t grain : {0, 1, 3, 64, 5000}) {
        EXPECT_EQ(Visits(count, grain), std::vector<int>(count, 1))
            << threads << " threads, " << count << " items, grain " << grain;
      }
    }
  }
}

TEST(WorkerPool, ConcurrentAndNestedCallersAllFinish) {
  ScopedParallelThreads scoped(3);
  std::atomic<size_t> total{0};
  std::vector<std::thread> callers;
  for (int c = 0; c < 4; ++c) {
    callers.emplace_back([&] {
      for (int round = 0; round < 50; ++round) {
        ParallelFor(8, 1, [&](size_t begin, size_t end) {
          for (size_t i = begin; i < end; ++i) {
            ParallelFor(10, 1, [&](size_t b, size_t e) { total.fetch_add(e - b); });
          }
        });
      }
    });
  }
  for (std::thread& caller : callers) caller.join();
  EXPECT_EQ(total.load(), size_t{4} * 50 * 8 * 10);
}

TEST(WorkerPool, AnExceptionReachesTheCallerAfterEveryRangeRan) {
  ScopedParallelThreads scoped(4);
  std::atomic<size_t> done{0};
  EXPECT_THROW(ParallelFor(100, 1,
                           [&](size_t begin, size_t end) {
                             done.fetch_add(end - begin);
                             if (begin == 0) throw std::runtime_error("range failed");
                           }),
               std::runtime_error);
  EXPECT_EQ(done.load(), 100u);
}

TEST(WorkerPool, ThreadCountComesFromTheSetting) {
  ScopedParallelThreads scoped(5);
  EXPECT_EQ(ParallelThreads(), 5u);
  SetParallelThreads(kMaxParallelThreads + 10);
  EXPECT_EQ(ParallelThreads(), kMaxParallelThreads);
  SetParallelThreads(0);
  EXPECT_GE(ParallelThreads(), 1u);
}

}  // namespace
}  // namespace vellum

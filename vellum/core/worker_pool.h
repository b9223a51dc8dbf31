// One small pool of worker threads that the imaging core's big operations share.
// An operation splits its work into independent pieces (rows, bands) and runs them
// with ParallelFor: the calling thread takes pieces itself while idle workers help,
// so a call never waits for a busy pool, and work too small to be worth a hand-over
// stays on the calling thread. Every piece writes only its own part of the result,
// so the bytes are the same for any number of threads.
//
// The number of threads one operation may use (its caller included) is, in order:
// the last SetParallelThreads value, VELLUM_THREADS from the environment, or the
// processors the process may run on. 1 keeps every operation on its calling thread.
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

namespace vellum {

// The most threads one operation uses.
constexpr size_t kMaxParallelThreads = 64;

size_t ParallelThreads();
// 0 restores the default (environment, then processors); larger values are capped.
void SetParallelThreads(size_t threads);

// A non-owning reference to a callable taking the range [begin, end) of items.
class RangeWork {
 public:
  template <typename Work,
            typename = std::enable_if_t<!std::is_same_v<std::decay_t<Work>, RangeWork>>>
  RangeWork(Work& work)  // implicit: ParallelFor takes any callable
      : object_(&work), call_([](void* object, size_t begin, size_t end) {
          (*static_cast<Work*>(object))(begin, end);
        }) {}
  void operator()(size_t begin, size_t end) const { call_(object_, begin, end); }

 private:
  void* object_;
  void (*call_)(void*, size_t, size_t);
};

// Calls work(begin, end) over consecutive ranges that cover [0, count) exactly once,
// each at least `grain` items long (the last may be shorter), possibly on several
// threads at once, and returns when all are done. An exception from a range is
// rethrown here once every range has finished.
void ParallelFor(size_t count, size_t grain, RangeWork work);

template <typename Work>
void ParallelFor(size_t count, size_t grain, Work&& work) {
  ParallelFor(count, grain, RangeWork(work));
}

// Items per range so that each holds about `bytesPerRange` bytes of work, at least one.
constexpr size_t GrainFor(size_t bytesPerItem, size_t bytesPerRange = size_t{256} << 10) {
  return bytesPerItem >= bytesPerRange ? 1 : bytesPerRange / (bytesPerItem == 0 ? 1 : bytesPerItem);
}

}  // namespace vellum

#include "vellum/core/worker_pool.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace vellum {

namespace {

// Ranges per thread: more than one, so that a thread that finishes early (or a
// caller whose helpers are busy elsewhere) takes over the rest.
constexpr size_t kRangesPerThread = 4;

size_t ProcessorsAvailable() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return std::max(1u, std::thread::hardware_concurrency());
}

// VELLUM_THREADS when it holds a whole number from 1 on, else 0.
size_t ThreadsFromEnvironment() {
  const char* text = std::getenv("VELLUM_THREADS");
  if (text == nullptr || *text == '\0') return 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (*end != '\0' || value == 0) return 0;
  return static_cast<size_t>(std::min<unsigned long long>(value, kMaxParallelThreads));
}

size_t DefaultThreads() {
  const size_t configured = ThreadsFromEnvironment();
  return std::min(configured != 0 ? configured : ProcessorsAvailable(), kMaxParallelThreads);
}

std::atomic<size_t> chosenThreads{0};  // 0: the default

// One ParallelFor call. It lives on its caller's stack; workers touch it only
// between taking it from the queue and giving it back, both under the pool's lock.
struct Job {
  Job(RangeWork work_, size_t count_, size_t rangeLength_, size_t helperLimit_)
      : work(work_),
        count(count_),
        rangeLength(rangeLength_),
        ranges((count_ + rangeLength_ - 1) / rangeLength_),
        helperLimit(helperLimit_) {}

  RangeWork work;
  size_t count;
  size_t rangeLength;
  size_t ranges;
  size_t helperLimit;
  std::atomic<size_t> next{0};
  size_t helpers = 0;  // workers inside the job (under the lock)
  std::mutex errorLock;
  std::exception_ptr error;

  // Runs ranges until none is left unclaimed.
  void RunRanges() {
    for (size_t i = next.fetch_add(1); i < ranges; i = next.fetch_add(1)) {
      const size_t begin = i * rangeLength;
      try {
        work(begin, std::min(count, begin + rangeLength));
      } catch (...) {
        std::lock_guard<std::mutex> hold(errorLock);
        if (!error) error = std::current_exception();
      }
    }
  }
  bool Exhausted() const { return next.load() >= ranges; }
};

class WorkerPool {
 public:
  ~WorkerPool() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }

  void Run(Job& job) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      StartWorkers(job.helperLimit);
      jobs_.push_back(&job);
    }
    for (size_t i = 0; i < std::min(job.helperLimit, job.ranges - 1); ++i) wake_.notify_one();
    job.RunRanges();
    std::unique_lock<std::mutex> hold(lock_);
    jobs_.erase(std::remove(jobs_.begin(), jobs_.end(), &job), jobs_.end());
    finished_.wait(hold, [&] { return job.helpers == 0; });
  }

 private:
  // Threads are started when first needed and kept until the library unloads.
  void StartWorkers(size_t count) {
    while (threads_.size() < count) threads_.emplace_back([this] { Serve(); });
  }

  // The first queued job with ranges left and room for one more helper.
  Job* TakeJob() {
    for (Job* job : jobs_) {
      if (!job->Exhausted() && job->helpers < job->helperLimit) {
        ++job->helpers;
        return job;
      }
    }
    return nullptr;
  }

  void Serve() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
      Job* job = nullptr;
      wake_.wait(hold, [&] { return stopping_ || (job = TakeJob()) != nullptr; });
      if (job == nullptr) return;
      hold.unlock();
      job->RunRanges();
      hold.lock();
      if (--job->helpers == 0) finished_.notify_all();
    }
  }

  std::mutex lock_;
  std::condition_variable wake_;
  std::condition_variable finished_;
  std::deque<Job*> jobs_;
  std::vector<std::thread> threads_;
  bool stopping_ = false;
};

WorkerPool& Pool() {
  static WorkerPool pool;
  return pool;
}

}  // namespace

size_t ParallelThreads() {
  const size_t chosen = chosenThreads.load(std::memory_order_relaxed);
  if (chosen != 0) return chosen;
  static const size_t defaultThreads = DefaultThreads();
  return defaultThreads;
}

void SetParallelThreads(size_t threads) {
  chosenThreads.store(std::min(threads, kMaxParallelThreads), std::memory_order_relaxed);
}

void ParallelFor(size_t count, size_t grain, RangeWork work) {
  if (count == 0) return;
  grain = std::max<size_t>(grain, 1);
  const size_t threads = ParallelThreads();
  const size_t ranges = std::min(count / grain, threads * kRangesPerThread);
  if (threads <= 1 || ranges <= 1) {
    work(0, count);
    return;
  }
  Job job(work, count, (count + ranges - 1) / ranges, threads - 1);
  Pool().Run(job);
  if (job.error) std::rethrow_exception(job.error);
}

}  // namespace vellum

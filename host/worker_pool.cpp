#include "host/worker_pool.h"

#include <sched.h>

#include <algorithm>

namespace host {

namespace {

// The threads asked for, or one per processor the process may run on.
unsigned ThreadCount(unsigned workers) {
  if (workers != 0) return workers;
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace

WorkerPool::WorkerPool(unsigned workers, unsigned backlog)
    : capacity_(static_cast<size_t>(ThreadCount(workers)) + backlog) {
  const unsigned count = ThreadCount(workers);
  threads_.reserve(count);
  for (unsigned i = 0; i < count; ++i) threads_.emplace_back(&WorkerPool::Work, this);
}

WorkerPool::~WorkerPool() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

bool WorkerPool::Submit(std::function<void()> job) {
  {
    const std::lock_guard lock(mutex_);
    if (stopping_ || running_ + queue_.size() >= capacity_) return false;
    queue_.push_back(std::move(job));
  }
  wake_.notify_one();
  return true;
}

bool WorkerPool::WaitIdle(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  return idle_.wait_until(lock, deadline, [this] { return running_ == 0 && queue_.empty(); });
}

void WorkerPool::Work() {
  std::unique_lock lock(mutex_);
  while (true) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, and nothing left to do
    std::function<void()> job = std::move(queue_.front());
    queue_.pop_front();
    ++running_;
    lock.unlock();
    job();
    job = nullptr;  // what the job held goes before the pool counts it done
    lock.lock();
    --running_;
    if (running_ == 0 && queue_.empty()) idle_.notify_all();
  }
}

}  // namespace host

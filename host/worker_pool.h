// Threads that run pages. A job beyond the busy workers waits in a queue of bounded
// length; past that it is refused, so the caller can answer 503 at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace host {

class WorkerPool {
 public:
  // `workers` threads (0: one per processor the process may run on).
  WorkerPool(unsigned workers, unsigned backlog);
  // Waits for the jobs in progress and the queue (call WaitIdle first to bound it).
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Queues the job; false when every worker is busy and the queue is full.
  bool Submit(std::function<void()> job);
  // Waits until no job runs or waits, at most until `deadline`; true when idle.
  bool WaitIdle(std::chrono::steady_clock::time_point deadline);

 private:
  void Work();

  const size_t capacity_;  // jobs running and waiting at most
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<std::function<void()>> queue_;
  size_t running_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace host

#include "parallel_writer.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

namespace zolv::host {
namespace {

// Items a worker claims at once: few claims, yet an even share at the end.
constexpr std::size_t kClaim = 8;

}  // namespace

std::size_t DefaultJobs() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : cores;
}

WorkerPool::WorkerPool(std::size_t jobs) {
  for (std::size_t worker = 1; worker < jobs; ++worker) {
    threads_.emplace_back([this, worker] { Work(worker); });
  }
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  started_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void WorkerPool::Run(std::size_t count, const Task& task) {
  std::atomic<std::size_t> next{0};
  const Task claiming = [&](std::size_t worker, std::size_t) {
    for (;;) {
      const std::size_t first =
          next.fetch_add(kClaim, std::memory_order_relaxed);
      if (first >= count) return;
      const std::size_t last = std::min(count, first + kClaim);
      for (std::size_t i = first; i < last; ++i) {
        try {
          task(worker, i);
        } catch (...) {
          std::lock_guard<std::mutex> lock(mutex_);
          if (!failure_) failure_ = std::current_exception();
        }
      }
    }
  };
  {
    std::lock_guard<std::mutex> lock(mutex_);
    task_ = &claiming;
    count_ = count;
    running_ = threads_.size();
    ++generation_;
    failure_ = nullptr;
  }
  started_.notify_all();
  RunShare(0);
  std::unique_lock<std::mutex> lock(mutex_);
  finished_.wait(lock, [this] { return running_ == 0; });
  task_ = nullptr;
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void WorkerPool::RunShare(std::size_t worker) { (*task_)(worker, 0); }

void WorkerPool::Work(std::size_t worker) {
  std::size_t seen = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      started_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
    }
    RunShare(worker);
    std::lock_guard<std::mutex> lock(mutex_);
    if (--running_ == 0) finished_.notify_one();
  }
}

}  // namespace zolv::host

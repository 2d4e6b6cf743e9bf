// Writing many molecules on several threads through the one loaded driver,
// which keeps nothing between calls: the reader hands batches to the
// workers, and results come back in input order, as a serial run gives them.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace zolv::host {

/// Items a batch holds per worker: enough that the handoff is rare, few
/// enough that memory stays small.
inline constexpr std::size_t kItemsPerWorker = 256;

/// The default of --jobs: the number of cores, at least 1.
std::size_t DefaultJobs();

/// Threads that run one batch of tasks at a time. The caller's thread is
/// worker 0, so a pool of one job starts no thread and runs everything on
/// the caller's, in order.
class WorkerPool {
 public:
  using Task = std::function<void(std::size_t worker, std::size_t index)>;

  explicit WorkerPool(std::size_t jobs);
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;
  ~WorkerPool();

  std::size_t size() const { return threads_.size() + 1; }

  /// Runs task(worker, i) once for every i below count and returns when all
  /// are done. An exception from a task is rethrown here, after the rest.
  void Run(std::size_t count, const Task& task);

 private:
  void Work(std::size_t worker);
  void RunShare(std::size_t worker);

  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable started_;
  std::condition_variable finished_;
  const Task* task_ = nullptr;
  std::size_t count_ = 0;
  std::size_t generation_ = 0;
  std::size_t running_ = 0;
  bool stopping_ = false;
  std::exception_ptr failure_;
};

/// Reads items with read(Item*) until it returns false, computes
/// work(worker, const Item&, Result*) on the pool, and hands each pair to
/// emit(Item&, Result&) in read order. Workers share nothing but the item
/// they are given; per-worker state is indexed by worker. Stops early when
/// emit returns false; returns whether every item was emitted.
template <class Item, class Result, class Read, class Compute, class Emit>
bool OrderedParallelMap(WorkerPool& pool, Read read, Compute work, Emit emit) {
  const std::size_t capacity = pool.size() * kItemsPerWorker;
  std::vector<Item> items(capacity);
  std::vector<Result> results(capacity);
  for (;;) {
    std::size_t count = 0;
    while (count < capacity && read(&items[count])) ++count;
    if (count == 0) return true;
    pool.Run(count, [&](std::size_t worker, std::size_t index) {
      results[index] = Result();
      work(worker, static_cast<const Item&>(items[index]), &results[index]);
    });
    for (std::size_t i = 0; i < count; ++i) {
      if (!emit(items[i], results[i])) return false;
    }
    if (count < capacity) return true;
  }
}

}  // namespace zolv::host

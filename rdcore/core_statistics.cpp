#include "core_statistics.h"

#include <memory>
#include <mutex>
#include <vector>

#include "rdcore.h"

namespace zolv::rdcore {
namespace {

// Every block ever handed to a thread, and those whose threads have ended,
// which the next new thread takes over with their counts.
struct CounterBlocks {
  std::mutex mutex;
  std::vector<std::unique_ptr<detail::CoreCounters>> all;
  std::vector<detail::CoreCounters*> free;
};

CounterBlocks& Blocks() {
  static CounterBlocks* blocks = new CounterBlocks();  // outlives every thread
  return *blocks;
}

// The thread's block. Left to the default thread-local model: the core is
// also loaded by dlopen (SQLite's and PostgreSQL's extensions), where the
// initial-exec model fails once the static TLS surplus is used up.
thread_local detail::CoreCounters* own = nullptr;

// Hands the thread's block back when the thread ends.
struct Returner {
  Returner() = default;
  Returner(const Returner&) = delete;
  Returner& operator=(const Returner&) = delete;
  ~Returner() {
    if (own == nullptr) return;
    CounterBlocks& blocks = Blocks();
    const std::lock_guard<std::mutex> lock(blocks.mutex);
    blocks.free.push_back(own);
    own = nullptr;
  }
};

template <typename Visit>
void ForEachBlock(Visit&& visit) {
  CounterBlocks& blocks = Blocks();
  const std::lock_guard<std::mutex> lock(blocks.mutex);
  for (const auto& block : blocks.all) visit(*block);
}

}  // namespace

detail::CoreCounters& detail::Counters() {
  if (own != nullptr) return *own;
  {
    CounterBlocks& blocks = Blocks();
    const std::lock_guard<std::mutex> lock(blocks.mutex);
    if (!blocks.free.empty()) {
      own = blocks.free.back();
      blocks.free.pop_back();
    } else {
      blocks.all.push_back(std::make_unique<CoreCounters>());
      own = blocks.all.back().get();
    }
  }
  thread_local Returner returner;
  return *own;
}

CoreStatistics GetCoreStatistics() {
  CoreStatistics statistics;
  ForEachBlock([&statistics](const detail::CoreCounters& counters) {
    constexpr auto kRelaxed = std::memory_order_relaxed;
    statistics.targetsSet += counters.targetsSet.load(kRelaxed);
    statistics.nextMatchCalls += counters.nextMatchCalls.load(kRelaxed);
    statistics.substructureSearches +=
        counters.substructureSearches.load(kRelaxed);
    statistics.graphSearches += counters.graphSearches.load(kRelaxed);
    statistics.prescreenCalls += counters.prescreenCalls.load(kRelaxed);
    statistics.prescreenRejections +=
        counters.prescreenRejections.load(kRelaxed);
  });
  return statistics;
}

void ResetCoreStatistics() {
  ForEachBlock([](detail::CoreCounters& counters) {
    constexpr auto kRelaxed = std::memory_order_relaxed;
    counters.targetsSet.store(0, kRelaxed);
    counters.nextMatchCalls.store(0, kRelaxed);
    counters.substructureSearches.store(0, kRelaxed);
    counters.graphSearches.store(0, kRelaxed);
    counters.prescreenCalls.store(0, kRelaxed);
    counters.prescreenRejections.store(0, kRelaxed);
  });
}

}  // namespace zolv::rdcore

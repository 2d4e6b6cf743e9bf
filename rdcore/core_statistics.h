// Counters of the work the core does for the driver, kept for benchmarks:
// how many matcher calls and prescreen comparisons a write costs. Each thread
// counts in a block of its own, which only it writes: an increment is a plain
// load and store, never a locked instruction on a line that other threads
// write too.
#pragma once

#include <atomic>
#include <cstdint>

namespace zolv::rdcore::detail {

struct CoreCounters {
  std::atomic<std::uint64_t> targetsSet{0};
  std::atomic<std::uint64_t> nextMatchCalls{0};
  std::atomic<std::uint64_t> substructureSearches{0};
  std::atomic<std::uint64_t> graphSearches{0};
  std::atomic<std::uint64_t> prescreenCalls{0};
  std::atomic<std::uint64_t> prescreenRejections{0};
};

/// The calling thread's counters.
CoreCounters& Counters();

/// Only the owning thread counts, so the increment needs no atomic
/// read-modify-write; readers on other threads see a recent value.
inline void Count(std::atomic<std::uint64_t>& counter) {
  counter.store(counter.load(std::memory_order_relaxed) + 1,
                std::memory_order_relaxed);
}

}  // namespace zolv::rdcore::detail

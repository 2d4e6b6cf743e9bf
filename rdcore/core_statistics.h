// Counters of the work the core does for the driver, kept for benchmarks:
// how many matcher calls and prescreen comparisons a write costs. Relaxed
// atomic increments: a few nanoseconds against microseconds of matching.
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

CoreCounters& Counters();

inline void Count(std::atomic<std::uint64_t>& counter) {
  counter.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace zolv::rdcore::detail

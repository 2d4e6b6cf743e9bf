#include "core_statistics.h"

#include "rdcore.h"

namespace zolv::rdcore {

detail::CoreCounters& detail::Counters() {
  static CoreCounters counters;
  return counters;
}

CoreStatistics GetCoreStatistics() {
  const detail::CoreCounters& counters = detail::Counters();
  CoreStatistics statistics;
  statistics.targetsSet = counters.targetsSet.load(std::memory_order_relaxed);
  statistics.nextMatchCalls =
      counters.nextMatchCalls.load(std::memory_order_relaxed);
  statistics.substructureSearches =
      counters.substructureSearches.load(std::memory_order_relaxed);
  statistics.graphSearches =
      counters.graphSearches.load(std::memory_order_relaxed);
  statistics.prescreenCalls =
      counters.prescreenCalls.load(std::memory_order_relaxed);
  statistics.prescreenRejections =
      counters.prescreenRejections.load(std::memory_order_relaxed);
  return statistics;
}

void ResetCoreStatistics() {
  detail::CoreCounters& counters = detail::Counters();
  counters.targetsSet.store(0, std::memory_order_relaxed);
  counters.nextMatchCalls.store(0, std::memory_order_relaxed);
  counters.substructureSearches.store(0, std::memory_order_relaxed);
  counters.graphSearches.store(0, std::memory_order_relaxed);
  counters.prescreenCalls.store(0, std::memory_order_relaxed);
  counters.prescreenRejections.store(0, std::memory_order_relaxed);
}

}  // namespace zolv::rdcore

#include "screen_cache.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zolv::rdcore {
namespace {

// Every write looks up the same few hundred screens, on every thread, so a
// warm lookup takes only a shared lock and writes nothing shared unless the
// entry's recency stamp is out of date. Recency is counted in insertions
// rather than lookups: the clock moves only under the exclusive lock, and a
// lookup just copies it into the entry it used.
class ScreenCache {
 public:
  std::shared_ptr<const Structure> Find(std::string_view key) {
    std::shared_lock<std::shared_mutex> lock(mutex_);
    const auto found = index_.find(key);
    if (found == index_.end()) return nullptr;
    Entry& entry = *found->second;
    const std::uint64_t now = clock_.load(std::memory_order_relaxed);
    if (entry.stamp.load(std::memory_order_relaxed) != now) {
      entry.stamp.store(now, std::memory_order_relaxed);
    }
    return entry.structure;
  }

  /// Keeps structure under key unless another thread was first; returns the
  /// one kept.
  std::shared_ptr<const Structure> Insert(
      std::string key, std::shared_ptr<const Structure> structure) {
    std::unique_lock<std::shared_mutex> lock(mutex_);
    const auto found = index_.find(key);
    if (found != index_.end()) return found->second->structure;
    if (index_.size() >= kScreenCacheCapacity) EvictOldest();
    const std::uint64_t now =
        clock_.fetch_add(1, std::memory_order_relaxed) + 1;
    auto entry = std::make_unique<Entry>(std::move(key), std::move(structure));
    entry->stamp.store(now, std::memory_order_relaxed);
    // The entry owns the key text and never moves, so the index can view it.
    const std::string_view view = entry->key;
    Entry& kept = *index_.emplace(view, std::move(entry)).first->second;
    return kept.structure;
  }

 private:
  struct Entry {
    Entry(std::string k, std::shared_ptr<const Structure> s)
        : key(std::move(k)), structure(std::move(s)) {}
    std::string key;
    std::shared_ptr<const Structure> structure;
    std::atomic<std::uint64_t> stamp{0};
  };

  // Drops the least recently used eighth at once, so that a full cache
  // scans its stamps once per many insertions, not on each one.
  void EvictOldest() {
    std::vector<std::uint64_t> stamps;
    stamps.reserve(index_.size());
    for (const auto& item : index_) {
      stamps.push_back(item.second->stamp.load(std::memory_order_relaxed));
    }
    const std::size_t drop = std::max<std::size_t>(1, stamps.size() / 8);
    std::nth_element(stamps.begin(), stamps.begin() + (drop - 1), stamps.end());
    const std::uint64_t cutoff = stamps[drop - 1];
    std::size_t dropped = 0;
    for (auto it = index_.begin(); it != index_.end() && dropped < drop;) {
      if (it->second->stamp.load(std::memory_order_relaxed) <= cutoff) {
        it = index_.erase(it);
        ++dropped;
      } else {
        ++it;
      }
    }
  }

  std::shared_mutex mutex_;
  std::atomic<std::uint64_t> clock_{0};
  std::unordered_map<std::string_view, std::unique_ptr<Entry>> index_;
};

ScreenCache& Cache() {
  static ScreenCache cache;
  return cache;
}

}  // namespace

std::shared_ptr<const Structure> LoadScreen(const std::uint8_t* bytes,
                                            std::uint32_t length) noexcept {
  if (bytes == nullptr || length == 0) return EmptyStructure();
  try {
    const std::string_view text(reinterpret_cast<const char*>(bytes), length);
    if (text.size() > kLargestCachedScreen) return BuildScreenStructure(text);
    if (auto cached = Cache().Find(text)) return cached;
    // Parsed outside the lock: another thread may parse the same text
    // meanwhile, and the first one kept wins.
    return Cache().Insert(std::string(text), BuildScreenStructure(text));
  } catch (...) {
    return EmptyStructure();
  }
}

}  // namespace zolv::rdcore

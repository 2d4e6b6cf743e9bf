#include "rdcore/screen_cache.h"

#include <algorithm>
#include <array>
#include <functional>
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

// Each thread keeps the screens it loaded in a table of its own, so that the
// few hundred loads of every write neither lock nor write anything that
// other threads read. Its entries hold their structures even when the shared
// cache has dropped them; it forgets everything when it is full.
class ThreadScreens {
 public:
  /// The kept structure, or null.
  const std::shared_ptr<const Structure>* Find(std::string_view key,
                                               std::size_t hash) const {
    for (std::size_t slot = hash & (kSlots - 1);;
         slot = (slot + 1) & (kSlots - 1)) {
      const Slot& s = slots_[slot];
      if (s.entry == 0) return nullptr;
      const Entry& entry = entries_[s.entry - 1];
      if (s.hash == hash && entry.key == key) return &entry.structure;
    }
  }

  void Keep(std::string_view key, std::size_t hash,
            std::shared_ptr<const Structure> structure) {
    if (entries_.size() >= kMostEntries) {
      entries_.clear();
      slots_.fill(Slot{});
    }
    entries_.push_back({std::string(key), std::move(structure)});
    for (std::size_t slot = hash & (kSlots - 1);;
         slot = (slot + 1) & (kSlots - 1)) {
      if (slots_[slot].entry == 0) {
        slots_[slot] = {hash, static_cast<std::uint32_t>(entries_.size())};
        return;
      }
    }
  }

 private:
  static constexpr std::size_t kMostEntries = 1024;
  static constexpr std::size_t kSlots = 2 * kMostEntries;  // a power of two
  struct Slot {
    std::size_t hash = 0;
    std::uint32_t entry = 0;  // 1 + its place in entries_; 0: free
  };
  struct Entry {
    std::string key;
    std::shared_ptr<const Structure> structure;
  };
  std::array<Slot, kSlots> slots_{};
  std::vector<Entry> entries_;
};

}  // namespace

std::shared_ptr<const Structure> LoadScreen(const std::uint8_t* bytes,
                                            std::uint32_t length) noexcept {
  if (bytes == nullptr || length == 0) return EmptyStructure();
  try {
    const std::string_view text(reinterpret_cast<const char*>(bytes), length);
    if (text.size() > kLargestCachedScreen) return BuildScreenStructure(text);
    thread_local ThreadScreens own;
    const std::size_t hash = std::hash<std::string_view>()(text);
    if (const auto* kept = own.Find(text, hash)) return *kept;
    std::shared_ptr<const Structure> structure = Cache().Find(text);
    // Parsed outside the lock: another thread may parse the same text
    // meanwhile, and the first one kept wins.
    if (structure == nullptr) {
      structure = Cache().Insert(std::string(text), BuildScreenStructure(text));
    }
    own.Keep(text, hash, structure);
    return structure;
  } catch (...) {
    return EmptyStructure();
  }
}

}  // namespace zolv::rdcore

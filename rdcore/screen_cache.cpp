#include "rdcore/screen_cache.h"

#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace zolv::rdcore {
namespace {

class ScreenCache {
 public:
  std::shared_ptr<const Structure> Find(std::string_view key) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = index_.find(key);
    if (found == index_.end()) return nullptr;
    entries_.splice(entries_.begin(), entries_, found->second);
    return found->second->structure;
  }

  /// Keeps structure under key unless another thread was first; returns the
  /// one kept.
  std::shared_ptr<const Structure> Insert(
      std::string key, std::shared_ptr<const Structure> structure) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = index_.find(key);
    if (found != index_.end()) return found->second->structure;
    if (entries_.size() >= kScreenCacheCapacity) {
      index_.erase(entries_.back().key);
      entries_.pop_back();
    }
    entries_.push_front(Entry{std::move(key), std::move(structure)});
    // The list node owns the key text, so the index can view it.
    index_.emplace(entries_.front().key, entries_.begin());
    return entries_.front().structure;
  }

 private:
  struct Entry {
    std::string key;
    std::shared_ptr<const Structure> structure;
  };

  std::mutex mutex_;
  std::list<Entry> entries_;  // most recently used first
  std::unordered_map<std::string_view, std::list<Entry>::iterator> index_;
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

#include "screen_cache.h"

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zolv::rdcore {
namespace {

// The screens that one thread has loaded. Every write loads the same few
// hundred screens again, and each load and release of a chemistry, index
// or matcher counts references on its structure: were the structures
// shared by the threads, those counts would move their cache lines from
// core to core hundreds of times per write. Each thread therefore parses
// its own copy once and keeps it; a structure handed to another thread
// stays valid, since it is reference counted. The table forgets everything
// when it is full.
class ThreadScreens {
 public:
  /// The kept structure, or null.
  const std::shared_ptr<const Structure>* Find(std::string_view key,
                                               std::size_t hash) const {
    if (slots_.empty()) return nullptr;
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
    if (slots_.empty()) slots_.resize(kSlots);
    if (entries_.size() >= kScreenCacheCapacity) {
      entries_.clear();
      std::fill(slots_.begin(), slots_.end(), Slot{});
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
  static constexpr std::size_t kSlots = 2 * kScreenCacheCapacity;
  static_assert((kSlots & (kSlots - 1)) == 0, "slots are a power of two");
  struct Slot {
    std::size_t hash = 0;
    std::uint32_t entry = 0;  // 1 + its place in entries_; 0: free
  };
  struct Entry {
    std::string key;
    std::shared_ptr<const Structure> structure;
  };
  std::vector<Slot> slots_;  // made on first use
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
    std::shared_ptr<const Structure> structure = BuildScreenStructure(text);
    own.Keep(text, hash, structure);
    return structure;
  } catch (...) {
    return EmptyStructure();
  }
}

}  // namespace zolv::rdcore

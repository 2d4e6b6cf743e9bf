// How many stored targets hold each screen, kept by the index itself as it
// stores its rows: what a search ranks a query's screens by, so that the
// index is asked for the rarest ones. Counting them in the database instead
// would read every target's screens at every search, and an aggregate over
// a table spread over several servers cannot be left to them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zolv::search {

class ScreenCounts {
 public:
  /// The counts as Format() writes them ("3:120,17:4", screens ascending);
  /// none when text is not in that form. An empty text holds no count.
  static std::optional<ScreenCounts> Parse(std::string_view text);

  /// Every screen held by at least one target, ascending, with its count.
  std::string Format() const;

  /// Counts one target's screens (each once, however often listed).
  void Add(const std::vector<std::uint32_t>& screens);

  /// Targets holding screen; 0 for a screen never counted.
  std::int64_t Of(std::uint32_t screen) const;

  /// screens ordered by how few targets hold them, ties by number, repeats
  /// removed: the first is the one the fewest targets hold.
  std::vector<std::uint32_t> RarestFirst(
      std::vector<std::uint32_t> screens) const;

  bool operator==(const ScreenCounts& other) const {
    return Format() == other.Format();
  }

 private:
  std::vector<std::int64_t> counts_;  // by screen number
};

}  // namespace zolv::search

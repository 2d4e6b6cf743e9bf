#include "screen_counts.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace zolv::search {
namespace {

// Screen numbers are 16-bit in the dictionary file; a larger one is no
// count this index wrote.
constexpr std::uint64_t kHighestScreen = 65535;

template <typename Number>
bool ReadNumber(std::string_view text, std::uint64_t max, Number* value) {
  std::uint64_t number = 0;
  const auto [end, code] =
      std::from_chars(text.data(), text.data() + text.size(), number);
  if (code != std::errc() || end != text.data() + text.size() || number > max) {
    return false;
  }
  *value = static_cast<Number>(number);
  return true;
}

}  // namespace

std::optional<ScreenCounts> ScreenCounts::Parse(std::string_view text) {
  ScreenCounts counts;
  if (text.empty()) return counts;
  for (;;) {
    const std::size_t comma = text.find(',');
    const std::string_view entry = text.substr(0, comma);
    const std::size_t colon = entry.find(':');
    std::uint32_t screen = 0;
    std::int64_t count = 0;
    if (colon == std::string_view::npos ||
        !ReadNumber(entry.substr(0, colon), kHighestScreen, &screen) ||
        !ReadNumber(entry.substr(colon + 1),
                    std::numeric_limits<std::int64_t>::max(), &count)) {
      return std::nullopt;
    }
    if (counts.counts_.size() <= screen) counts.counts_.resize(screen + 1);
    counts.counts_[screen] = count;
    if (comma == std::string_view::npos) return counts;
    text.remove_prefix(comma + 1);
  }
}

std::string ScreenCounts::Format() const {
  std::string text;
  for (std::size_t screen = 0; screen < counts_.size(); ++screen) {
    if (counts_[screen] == 0) continue;
    if (!text.empty()) text.push_back(',');
    text += std::to_string(screen) + ":" + std::to_string(counts_[screen]);
  }
  return text;
}

void ScreenCounts::Add(const std::vector<std::uint32_t>& screens) {
  std::vector<std::uint32_t> distinct = screens;
  std::sort(distinct.begin(), distinct.end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  for (const std::uint32_t screen : distinct) {
    if (counts_.size() <= screen) counts_.resize(screen + 1);
    ++counts_[screen];
  }
}

std::int64_t ScreenCounts::Of(std::uint32_t screen) const {
  return screen < counts_.size() ? counts_[screen] : 0;
}

std::vector<std::uint32_t> ScreenCounts::RarestFirst(
    std::vector<std::uint32_t> screens) const {
  std::sort(screens.begin(), screens.end(),
            [this](std::uint32_t a, std::uint32_t b) {
              const std::int64_t countA = Of(a);
              const std::int64_t countB = Of(b);
              return countA != countB ? countA < countB : a < b;
            });
  screens.erase(std::unique(screens.begin(), screens.end()), screens.end());
  return screens;
}

}  // namespace zolv::search

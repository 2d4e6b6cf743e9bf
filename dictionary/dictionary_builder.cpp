#include "dictionary_builder.h"

#include <algorithm>
#include <cassert>
#include <cstddef>

namespace zolv {
namespace {

using Reach = std::vector<std::vector<bool>>;

// reach[i][j]: screen j + 1 can be reached from screen i + 1 by one or more
// implications. One search per screen over the direct implications keeps
// the work proportional to what is reachable.
Reach ReachableScreens(const std::vector<std::vector<std::size_t>>& direct) {
  const std::size_t count = direct.size();
  Reach reach(count, std::vector<bool>(count, false));
  std::vector<std::size_t> pending;
  for (std::size_t start = 0; start < count; ++start) {
    std::vector<bool>& seen = reach[start];
    pending.assign(direct[start].begin(), direct[start].end());
    while (!pending.empty()) {
      const std::size_t next = pending.back();
      pending.pop_back();
      if (seen[next]) continue;
      seen[next] = true;
      for (std::size_t further : direct[next]) {
        if (!seen[further]) pending.push_back(further);
      }
    }
  }
  return reach;
}

}  // namespace

BuiltDictionary BuildDictionary(
    const std::vector<ListedScreen>& screens,
    const std::vector<std::vector<std::uint16_t>>& found) {
  assert(screens.size() == found.size());
  assert(screens.size() <= kMaxScreens);
  const std::size_t count = screens.size();
  BuiltDictionary built;

  std::vector<std::vector<std::size_t>> direct(count);
  for (std::size_t i = 0; i < count; ++i) {
    bool foundItself = false;
    for (std::uint16_t number : found[i]) {
      if (number == 0 || number > count) continue;
      const std::size_t other = number - std::size_t{1};
      if (other == i) {
        foundItself = true;
      } else {
        direct[i].push_back(other);
      }
    }
    if (!foundItself) {
      built.notes.push_back(
          {screens[i].line, "screen \"" + screens[i].smarts +
                                "\" is not found when its own SMARTS is "
                                "written as a query, so SMARTS queries will "
                                "not ask for it"});
    }
  }
  const Reach reach = ReachableScreens(direct);

  // Screens that imply each other cannot both stay: neither could be tested
  // before the other. The later one goes.
  for (std::size_t i = 0; i < count; ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (reach[i][j] && reach[j][i]) {
        built.problems.push_back(
            {screens[i].line, "screen \"" + screens[i].smarts +
                                  "\" is equivalent to \"" + screens[j].smarts +
                                  "\" on line " +
                                  std::to_string(screens[j].line) +
                                  " (each implies the other)"});
        break;
      }
    }
  }
  if (!built.problems.empty()) return built;

  std::vector<DictionaryScreen> records(count);
  for (std::size_t i = 0; i < count; ++i) {
    records[i].number = static_cast<std::uint16_t>(i + 1);
    records[i].stored = screens[i].smarts;
  }
  for (std::size_t s = 0; s < count; ++s) {
    for (std::size_t t = 0; t < count; ++t) {
      if (t == s || !reach[s][t]) continue;
      records[s].implied.push_back(static_cast<std::uint16_t>(t + 1));
      records[t].dependent.push_back(static_cast<std::uint16_t>(s + 1));
    }
  }

  // The order the driver would sort into, larger key first; equal keys keep
  // list order so that a list always gives the same file.
  const auto key = [](const DictionaryScreen& screen) {
    return static_cast<long>(screen.dependent.size()) -
           static_cast<long>(screen.implied.size());
  };
  std::stable_sort(records.begin(), records.end(),
                   [&](const DictionaryScreen& a, const DictionaryScreen& b) {
                     return key(a) > key(b);
                   });
  built.content.orderFlag = 1;
  built.content.screens = std::move(records);
  return built;
}

}  // namespace zolv

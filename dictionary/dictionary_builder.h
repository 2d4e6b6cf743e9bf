// Turns what the driver finds in each screen, written as a query, into the
// implied and dependent lists of a dictionary in test order.
#pragma once

#include <cstdint>
#include <vector>

#include "dictionary_format.h"
#include "screen_list.h"

namespace zolv {

struct BuiltDictionary {
  /// Records in test order, order flag set; empty when problems is not.
  DictionaryContent content;
  /// Screens equivalent to an earlier screen (each implies the other): fatal.
  std::vector<ListProblem> problems;
  /// Screens that the driver does not find when their own SMARTS is written
  /// as a query (the core library can be sure of too little in it): sound,
  /// but such a screen is never asked for by a SMARTS query.
  std::vector<ListProblem> notes;
};

/// screens[n - 1] is screen n; found[n - 1] holds the screen numbers found
/// when screen n is written as a query. Screen A implies screen B when B is
/// found in A's query, closed transitively; a screen is never in its own
/// lists, and t is in s's implied list exactly when s is in t's dependent
/// list.
BuiltDictionary BuildDictionary(
    const std::vector<ListedScreen>& screens,
    const std::vector<std::vector<std::uint16_t>>& found);

}  // namespace zolv

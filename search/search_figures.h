// The figures of one search, or of many added up: how much the text
// preselection let through, how much of it the confirmation kept, and, when
// every target was also checked directly, how many hits it missed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zolv::search {

struct SearchFigures {
  std::int64_t queries = 0;  // searches added up here
  std::int64_t targets = 0;  // (query, target) pairs: stored targets per query
  std::int64_t candidates = 0;  // pairs the preselection let through
  std::int64_t hits = 0;        // candidates the confirmation kept
  /// Pairs whose target holds the query, from a check of every target; none
  /// when only the candidates were checked.
  std::optional<std::int64_t> trueHits;
  double seconds = 0;  // preselection and confirmation, not the full check

  /// Adds another search's figures; true hits stay known only when both
  /// knew them (figures of no query know theirs: none).
  SearchFigures& operator+=(const SearchFigures& other);

  /// Hits among the candidates; none without candidates.
  std::optional<double> Precision() const;
  /// Share of the pairs whose target does not hold the query that the
  /// preselection removed; none when there are no such pairs. Without true
  /// hits the confirmed hits stand in for them, which is exact when the
  /// preselection misses none.
  std::optional<double> ScreenOut() const;
  /// True hits that are not among the hits: what the preselection lost.
  std::optional<std::int64_t> FalseNegatives() const;
};

/// "candidates 123, hits 100, precision 0.813, screen-out 0.9987, time
/// 0.42 s", followed by ", true hits 100, false negatives 0" when they are
/// known; "-" for a figure that has no value.
std::string FormatSummary(const SearchFigures& figures);

}  // namespace zolv::search

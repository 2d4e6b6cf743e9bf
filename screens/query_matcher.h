// The query-mode test of one screen: a match of the screen in the query counts
// only when every mapped atom passes the per-atom property check.
#pragma once

#include "core_api.h"
#include "core_handle.h"

namespace zolv {

class QueryMatcher {
 public:
  /// Makes the matcher on first use and gives it the screen's structure
  /// (borrowed). When the matcher cannot be made nothing is recorded and every
  /// later test fails.
  void SetPattern(Chemistry* pattern);
  /// The query's structure (borrowed); starts a new search.
  void SetTarget(Chemistry* target);
  /// Whether some match passes AtomsCompatible; false when the search cannot
  /// run (no matcher, pattern or target, or no match map).
  bool FindAcceptedMatch();
  /// Whether every mapped pattern atom asks no more of its target atom than
  /// that atom guarantees.
  bool AtomsCompatible(MatchMap* map);

  CoreHandle<Matcher> matcher;
  Chemistry* pattern = nullptr;  // the owning record's structure
  Chemistry* target = nullptr;   // the query's structure
};

}  // namespace zolv

#include "matcher.h"

#include <GraphMol/RDKitBase.h>
#include <GraphMol/Substruct/SubstructMatch.h>

#include <algorithm>

#include "chemistry.h"
#include "core_statistics.h"
#include "object_cast.h"
#include "screen_set.h"

namespace zolv::rdcore {

void CoreMatchMap::Release() { delete this; }

CoreBool CoreMatchMap::MappedAtom(std::uint32_t patternAtom,
                                  std::uint32_t* targetAtom) {
  if (patternAtom >= targetOf_.size() || targetOf_[patternAtom] == kUnmapped) {
    return 0;
  }
  if (targetAtom != nullptr) {
    *targetAtom = static_cast<std::uint32_t>(targetOf_[patternAtom]);
  }
  return 1;
}

void CoreMatchMap::MappedAtoms(ScreenSet* atoms) {
  if (atoms == nullptr) return;
  for (std::size_t atom = 0; atom < targetOf_.size(); ++atom) {
    if (targetOf_[atom] != kUnmapped) {
      atoms->Add(static_cast<std::uint32_t>(atom));
    }
  }
}

void CoreMatchMap::Assign(const AtomPairs& match) {
  targetOf_.clear();
  for (const auto& [patternAtom, targetAtom] : match) {
    if (patternAtom < 0 || targetAtom < 0) continue;
    if (static_cast<std::size_t>(patternAtom) >= targetOf_.size()) {
      targetOf_.resize(patternAtom + 1, kUnmapped);
    }
    targetOf_[patternAtom] = targetAtom;
  }
}

void CoreMatcher::Release() { delete this; }

void CoreMatcher::SetOption(std::int32_t) {}

void CoreMatcher::SetPattern(Chemistry* pattern) {
  const CoreChemistry* ours = CoreChemistry::From(pattern);
  pattern_ = ours != nullptr ? ours->structure() : nullptr;
  Restart();
}

void CoreMatcher::SetTarget(Chemistry* target) {
  detail::Count(detail::Counters().targetsSet);
  CoreChemistry* ours = CoreChemistry::From(target);
  target_ = ours != nullptr ? ours->structure() : nullptr;
  answers_ = ours != nullptr ? ours->Answers() : nullptr;
  Restart();
}

void CoreMatcher::Restart() {
  matches_.clear();
  next_ = 0;
  found_ = 0;
  searchedLimit_ = 0;
  kept_ = false;
  complete_ = false;
}

std::uint32_t CoreMatcher::SearchIn(TargetAnswers& answers, std::uint32_t limit,
                                    std::vector<AtomPairs>* matches) {
  const CompiledPattern& compiled = pattern_->compiled();
  const TargetGraph& graph = target_->graph();
  if (compiled.exact && graph.usable) {
    detail::Count(detail::Counters().graphSearches);
    // Working memory of the search, reused by every matcher on the thread.
    thread_local GraphMatcher graphMatcher;
    return graphMatcher.Find(compiled, graph, answers, limit, matches);
  }
  detail::Count(detail::Counters().substructureSearches);
  RDKit::SubstructMatchParameters parameters;
  // Every mapping counts: the query-mode check may accept one of several
  // mappings onto the same atoms.
  parameters.uniquify = false;
  parameters.maxMatches = limit;
  std::vector<AtomPairs> found =
      RDKit::SubstructMatch(*target_->mol(), *pattern_->mol(), parameters);
  const auto count = static_cast<std::uint32_t>(found.size());
  if (matches != nullptr) *matches = std::move(found);
  return count;
}

void CoreMatcher::Search(std::uint32_t limit, bool keep) {
  matches_.clear();
  found_ = SearchIn(*answers_, limit, keep ? &matches_ : nullptr);
  kept_ = keep;
  searchedLimit_ = limit;
  complete_ = found_ < limit || limit >= kMatchLimit;
}

void CoreMatcher::SearchFirst() {
  const std::uint64_t serial = pattern_->compiled().serial;
  found_ = target_->outcomes().Resolve(
               serial, [this] { return SearchIn(*answers_, 1, nullptr) != 0; })
               ? 1
               : 0;
  matches_.clear();
  kept_ = false;
  searchedLimit_ = 1;
  complete_ = found_ == 0;
}

CoreBool CoreMatcher::NextMatch(MatchMap* map) {
  detail::Count(detail::Counters().nextMatchCalls);
  try {
    // An empty pattern (unreadable, or no atoms) matches nothing.
    if (pattern_ == nullptr || target_ == nullptr || answers_ == nullptr ||
        pattern_->mol() == nullptr || target_->mol() == nullptr ||
        pattern_->AtomCount() == 0) {
      return 0;
    }
    CoreMatchMap* ourMap = nullptr;
    if (map != nullptr) {
      ourMap = AsOurs<CoreMatchMap>(map);
      if (ourMap == nullptr) return 0;
    }
    if (searchedLimit_ == 0 && map == nullptr) {
      // Without a map only whether a match exists is asked.
      SearchFirst();
    } else if (next_ >= found_ && !complete_) {
      // Every search finds matches in the same order, so a larger search
      // continues where the smaller one stopped.
      const std::uint32_t limit =
          searchedLimit_ == 0
              ? kFirstBatch
              : std::min(kMatchLimit,
                         std::max(kFirstBatch, searchedLimit_ * 8));
      Search(limit, map != nullptr);
    } else if (map != nullptr && !kept_ && next_ < found_) {
      // Counted without being kept: the same search again, keeping them.
      Search(searchedLimit_, true);
    }
    if (next_ >= found_) return 0;
    if (ourMap != nullptr) ourMap->Assign(matches_[next_]);
    ++next_;
    return 1;
  } catch (...) {
    return 0;
  }
}

}  // namespace zolv::rdcore

// Substructure search of a pattern in a target with RDKit's semantics.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "core_api.h"
#include "graph_match.h"
#include "object_pool.h"
#include "structure.h"

namespace zolv::rdcore {

class CoreMatchMap final : public MatchMap, public Pooled<CoreMatchMap> {
 public:
  CoreMatchMap() = default;
  CoreMatchMap(const CoreMatchMap&) = delete;
  CoreMatchMap& operator=(const CoreMatchMap&) = delete;

  void ZOLV_STDCALL Release() override;
  CoreBool ZOLV_STDCALL MappedAtom(std::uint32_t patternAtom,
                                   std::uint32_t* targetAtom) override;
  void ZOLV_STDCALL MappedAtoms(ScreenSet* atoms) override;

  /// Replaces the match held.
  void Assign(const AtomPairs& match);

 private:
  ~CoreMatchMap() = default;

  static constexpr std::int32_t kUnmapped = -1;
  std::vector<std::int32_t> targetOf_;  // by pattern atom
};

class CoreMatcher final : public Matcher, public Pooled<CoreMatcher> {
 public:
  /// Matches looked at per search at most; later ones are never given.
  static constexpr std::uint32_t kMatchLimit = 1024;
  /// Matches found by the first search that fills a map.
  static constexpr std::uint32_t kFirstBatch = 16;

  CoreMatcher() = default;
  CoreMatcher(const CoreMatcher&) = delete;
  CoreMatcher& operator=(const CoreMatcher&) = delete;

  void ZOLV_STDCALL Release() override;
  /// Option 2 selects substructure search, the only kind there is; other
  /// options change nothing.
  void ZOLV_STDCALL SetOption(std::int32_t option) override;
  void ZOLV_STDCALL SetPattern(Chemistry* pattern) override;
  void ZOLV_STDCALL SetTarget(Chemistry* target) override;
  /// Without a map, only whether a match exists is searched for. With a map,
  /// matches come from a list found in batches that grow up to kMatchLimit.
  CoreBool ZOLV_STDCALL NextMatch(MatchMap* map) override;

 private:
  ~CoreMatcher() = default;

  void Restart();
  /// Whether the pattern occurs in the target: the outcome the target keeps
  /// for the pattern, or a search for one match, whose outcome it then keeps.
  void SearchFirst();
  /// Searches again, for at most limit matches, and keeps them in matches_
  /// when asked to: with the graph matcher when it treats the pair exactly,
  /// else with RDKit.
  void Search(std::uint32_t limit, bool keep);
  /// The search proper, with the target's answers.
  std::uint32_t SearchIn(TargetAnswers& answers, std::uint32_t limit,
                         std::vector<AtomPairs>* matches);

  std::shared_ptr<const Structure> pattern_;
  std::shared_ptr<const Structure> target_;
  std::shared_ptr<TargetAnswers> answers_;  // the target chemistry's
  // The first found_ matches in the order that every search gives them;
  // held in matches_ only when kept_.
  std::vector<AtomPairs> matches_;
  std::size_t next_ = 0;
  std::uint32_t found_ = 0;
  std::uint32_t searchedLimit_ = 0;  // 0: not searched since SetTarget
  bool kept_ = false;
  bool complete_ = false;  // found_ counts every match
};

}  // namespace zolv::rdcore

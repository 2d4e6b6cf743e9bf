// The graph matcher against RDKit's SubstructMatch on (pattern, molecule)
// pairs, structures made as rdcore makes them; shared by the test and the
// full check.
#pragma once

#include <GraphMol/FileParsers/FileParsers.h>
#include <GraphMol/RDKitBase.h>
#include <GraphMol/SmilesParse/SmilesParse.h>
#include <GraphMol/Substruct/SubstructMatch.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <istream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "graph_match.h"

namespace zolv::testing {

/// Matches looked at per search at most, as the core matcher does.
inline constexpr std::uint32_t kCheckLimit = 1024;

/// A parsed structure with both layouts, rings and property cache ready as
/// rdcore's structures have them.
struct CheckedStructure {
  std::string text;
  std::unique_ptr<RDKit::RWMol> mol;
  rdcore::CompiledPattern compiled;
  rdcore::TargetGraph graph;
};

/// Null when RDKit cannot read the text or it has no atoms.
inline std::unique_ptr<CheckedStructure> MakeChecked(const std::string& text,
                                                     bool smarts) {
  auto checked = std::make_unique<CheckedStructure>();
  checked->text = text;
  try {
    checked->mol.reset(smarts ? RDKit::SmartsToMol(text)
                              : RDKit::SmilesToMol(text));
  } catch (...) {
    return nullptr;
  }
  if (checked->mol == nullptr || checked->mol->getNumAtoms() == 0) {
    return nullptr;
  }
  if (!checked->mol->getRingInfo()->isInitialized()) {
    RDKit::MolOps::findSSSR(*checked->mol);
  }
  checked->mol->updatePropertyCache(false);
  checked->compiled = rdcore::CompilePattern(*checked->mol);
  checked->graph = rdcore::BuildTargetGraph(*checked->mol);
  return checked;
}

/// First words of the lines of a screen list, without comments and blanks.
inline std::vector<std::string> ReadFirstWords(std::istream& in) {
  std::vector<std::string> words;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string word;
    if (fields >> word) words.push_back(word);
  }
  return words;
}

inline std::vector<std::string> ReadFirstWords(const std::string& path) {
  std::ifstream in(path);
  return ReadFirstWords(in);
}

/// What the comparison of pairs found.
struct CheckTally {
  std::uint64_t pairs = 0;            ///< pairs compared
  std::uint64_t differences = 0;      ///< pairs where the answers differ
  std::uint64_t matches = 0;          ///< mappings compared
  double graphSeconds = 0;            ///< graph matcher, enumeration
  double rdkitSeconds = 0;            ///< RDKit, enumeration
  double graphFirstSeconds = 0;       ///< graph matcher, first match only
  double rdkitFirstSeconds = 0;       ///< RDKit, first match only
  std::vector<std::string> examples;  ///< the first few differences
};

inline std::vector<rdcore::AtomPairs> Sorted(
    std::vector<rdcore::AtomPairs> matches) {
  for (rdcore::AtomPairs& match : matches) {
    std::sort(match.begin(), match.end());
  }
  std::sort(matches.begin(), matches.end());
  return matches;
}

/// Compares existence and the set of mappings of one exactly treated
/// pattern in one target.
inline void ComparePair(const CheckedStructure& pattern,
                        const CheckedStructure& target,
                        rdcore::TargetAnswers& answers,
                        rdcore::GraphMatcher& matcher, CheckTally& tally) {
  using Clock = std::chrono::steady_clock;
  RDKit::SubstructMatchParameters parameters;
  parameters.uniquify = false;
  parameters.maxMatches = kCheckLimit;

  const auto rdkitStart = Clock::now();
  const std::vector<RDKit::MatchVectType> expected =
      RDKit::SubstructMatch(*target.mol, *pattern.mol, parameters);
  const auto graphStart = Clock::now();
  std::vector<rdcore::AtomPairs> found;
  matcher.Find(pattern.compiled, target.graph, answers, kCheckLimit, &found);
  const auto graphEnd = Clock::now();
  tally.rdkitSeconds +=
      std::chrono::duration<double>(graphStart - rdkitStart).count();
  tally.graphSeconds +=
      std::chrono::duration<double>(graphEnd - graphStart).count();

  parameters.maxMatches = 1;
  const auto rdkitFirstStart = Clock::now();
  const bool exists =
      !RDKit::SubstructMatch(*target.mol, *pattern.mol, parameters).empty();
  // Existence alone, as the target-mode test asks it: the search may then
  // skip matches that the pattern's symmetry makes equivalent.
  const auto graphFirstStart = Clock::now();
  const bool occurs =
      matcher.Find(pattern.compiled, target.graph, answers, 1, nullptr) != 0;
  const auto graphFirstEnd = Clock::now();
  std::vector<rdcore::AtomPairs> first;
  matcher.Find(pattern.compiled, target.graph, answers, 1, &first);
  tally.rdkitFirstSeconds +=
      std::chrono::duration<double>(graphFirstStart - rdkitFirstStart).count();
  tally.graphFirstSeconds +=
      std::chrono::duration<double>(graphFirstEnd - graphFirstStart).count();
  ++tally.pairs;
  tally.matches += expected.size();
  // Past the limit each search keeps a different subset; only the count is
  // comparable.
  const bool same =
      occurs == exists && first.empty() == !exists &&
      exists == !expected.empty() && found.size() == expected.size() &&
      (expected.size() >= kCheckLimit || Sorted(found) == Sorted(expected));
  if (!same) {
    ++tally.differences;
    if (tally.examples.size() < 10) {
      tally.examples.push_back(pattern.text + " in " + target.text + ": " +
                               std::to_string(found.size()) + " vs RDKit " +
                               std::to_string(expected.size()));
    }
  }
}

/// Every exactly treated pattern against every target.
inline void CompareAll(
    const std::vector<std::unique_ptr<CheckedStructure>>& patterns,
    const std::vector<std::unique_ptr<CheckedStructure>>& targets,
    CheckTally& tally) {
  rdcore::GraphMatcher matcher;
  for (const auto& target : targets) {
    if (!target->graph.usable) continue;
    // One target's answers serve every pattern, as in a write.
    rdcore::TargetAnswers answers;
    for (const auto& pattern : patterns) {
      if (pattern->compiled.exact)
        ComparePair(*pattern, *target, answers, matcher, tally);
    }
  }
}

}  // namespace zolv::testing

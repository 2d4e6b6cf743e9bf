// Choosing the screens of a dictionary from sample molecules: candidate
// screens (listed ones, and linear paths collected from the samples), sample
// queries cut from the sample molecules, and a greedy choice of the screens
// that remove the most (query, target) pairs from a text preselection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace RDKit {
class ROMol;
}  // namespace RDKit

namespace zolv {

/// Sample molecules, RDKit's, borrowed from the caller.
using SampleMolecules = std::vector<const RDKit::ROMol*>;

/// A linear path of atoms and bonds as SMARTS, and how many of the sample
/// molecules hold it.
struct PathScreen {
  std::string smarts;
  std::size_t bonds = 0;
  std::size_t molecules = 0;
};

/// Every linear path of minBonds to maxBonds bonds in the molecules, written
/// with what stays true when a structure is embedded in a larger one: atomic
/// numbers ("[#7]"), aromatic atoms ("c", "n"), bond orders ("-", "=", "#",
/// ":"). Paths held by fewer than minShare or more than maxShare of the
/// molecules are left out; the rest come most frequent first, at most limit.
std::vector<PathScreen> CollectPaths(const SampleMolecules& molecules,
                                     std::size_t minBonds, std::size_t maxBonds,
                                     double minShare, double maxShare,
                                     std::size_t limit);

/// Mean time of one RDKit match of smarts (first match only, as a screen
/// test runs) over the first `limit` molecules, in microseconds; none when
/// RDKit cannot read smarts.
std::optional<double> MatchMicroseconds(const std::string& smarts,
                                        const SampleMolecules& molecules,
                                        std::size_t limit);

/// Connected pieces of molecules as SMILES, for use as sample queries: per
/// molecule, perPiece pieces of minAtoms to maxAtoms atoms grown from a
/// random atom (a ring with an aromatic atom in the piece is taken whole, so
/// that the piece stays aromatic). Deterministic for a seed; pieces RDKit
/// cannot read back are dropped.
std::vector<std::string> CutPieces(const SampleMolecules& molecules,
                                   std::size_t perMolecule,
                                   std::size_t minAtoms, std::size_t maxAtoms,
                                   std::uint32_t seed);

/// What the greedy choice works on. Screens are candidate indexes.
struct ChoiceInput {
  std::size_t candidates = 0;
  /// Per sample target: the candidates found in it (target mode).
  std::vector<std::vector<std::uint16_t>> targetScreens;
  /// Per sample query: the candidates found in it (query mode).
  std::vector<std::vector<std::uint16_t>> queryScreens;
  /// Per candidate: the candidates found in its own query, i.e. implied.
  std::vector<std::vector<std::uint16_t>> implied;
  /// Per candidate: whether it may be chosen (not too costly, readable).
  std::vector<bool> allowed;
  std::size_t count = 255;  // screens to choose
};

struct ChoiceResult {
  /// Chosen candidates in the order chosen.
  std::vector<std::size_t> chosen;
  /// Pairs each choice removed, in the same order.
  std::vector<std::uint64_t> gains;
  std::uint64_t pairs = 0;      // sample (query, target) pairs
  std::uint64_t remaining = 0;  // pairs no chosen screen removes
};

/// Greedily chooses the candidate that removes the most pairs still left: a
/// pair (q, t) is removed when q holds a chosen screen that t lacks, which
/// for sound screens only ever removes targets that do not hold the query.
/// A candidate equivalent to a chosen one (each implies the other) is never
/// chosen as well.
ChoiceResult ChooseScreens(const ChoiceInput& input);

/// How often each candidate is written in a query's text: found in the
/// query and implied by no other found chosen screen.
std::vector<std::size_t> WrittenCounts(const ChoiceInput& input,
                                       const std::vector<std::size_t>& chosen);

/// Screen numbers whose raw "SBI" character a query pattern cannot give as
/// it is: bell, double quote, "%", apostrophe, "*", "?", "[", "^", "_",
/// "|". Their screens are wildcards or lose their character in one dialect
/// or both.
inline constexpr std::uint16_t kBlurredNumbers[] = {7,  34, 37, 39, 42,
                                                    63, 91, 94, 95, 124};
static_assert(sizeof(kBlurredNumbers) / sizeof(kBlurredNumbers[0]) == 10);

/// The screen numbers of the chosen candidates: element n - 1 is the
/// candidate that becomes screen n. The blurred numbers go to the chosen
/// screens that queries write least often, the others keep the order of
/// chosen.
std::vector<std::size_t> NumberChosen(const ChoiceInput& input,
                                      const std::vector<std::size_t>& chosen);

}  // namespace zolv

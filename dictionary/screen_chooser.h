// Choosing the screens of a dictionary from sample molecules: candidate
// screens (listed ones, and paths, branched pieces and ring pieces collected
// from the samples), sample queries cut from the sample molecules, a greedy
// choice of the screens that remove the most (query, target) pairs from a
// text preselection, and a first numbering of the chosen screens.
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

/// A piece of the sample molecules as SMARTS (a path, a branched piece, a
/// ring with what hangs on it), and how many of the sample molecules hold
/// it.
struct PathScreen {
  std::string smarts;
  std::size_t bonds = 0;
  std::size_t molecules = 0;
};

/// RDKit's canonical SMILES of a SMILES; none when RDKit cannot read it.
std::optional<std::string> CanonicalSmiles(const std::string& smiles);
/// RDKit's canonical SMILES of a molecule.
std::string CanonicalSmiles(const RDKit::ROMol& molecule);

/// Every connected piece of minBonds to maxBonds bonds that is not a linear
/// path (it branches or closes a ring), in every stride-th molecule, written
/// as the paths are and canonical, so that each piece is one candidate.
/// Shares and limit as for CollectPaths, the share counted over the
/// molecules looked at.
std::vector<PathScreen> CollectSubgraphs(const SampleMolecules& molecules,
                                         std::size_t minBonds,
                                         std::size_t maxBonds, double minShare,
                                         double maxShare, std::size_t limit,
                                         std::size_t stride);

/// Connected pieces of minBonds to maxBonds bonds grown at random, perMolecule
/// tries in each molecule: a random bond, then random bonds next to the
/// piece. Finds the frequent large pieces that enumerating every subgraph
/// cannot reach in time. Deterministic for a seed; shares and limit as for
/// CollectPaths.
std::vector<PathScreen> GrowPieces(const SampleMolecules& molecules,
                                   std::size_t minBonds, std::size_t maxBonds,
                                   std::size_t perMolecule, double minShare,
                                   double maxShare, std::size_t limit,
                                   std::uint32_t seed);

/// The ring pieces CollectRingPieces collects.
enum class RingPiece {
  /// A ring of at most 7 atoms with one or two of its substituent atoms,
  /// each piece once by element and once with the substituents as any atom.
  kSubstituents,
  /// Two rings of at most 7 atoms that share a bond, bare and with each one
  /// substituent atom.
  kFusedPairs,
  /// A ring of at most 7 atoms with a chain of two bonds leaving one atom.
  kArms,
};

/// Ring pieces of every stride-th molecule, canonical; shares and limit as
/// for CollectPaths.
std::vector<PathScreen> CollectRingPieces(const SampleMolecules& molecules,
                                          RingPiece kind, double minShare,
                                          double maxShare, std::size_t limit,
                                          std::size_t stride);

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
  /// A screen's gain: over the queries it removes targets from, the sum of
  /// log((left + 1) / (left after + 1)) of their targets left, rather than
  /// the pairs it removes; a query with few targets left then weighs as
  /// much as one with many, which keeps the choice from spending itself on
  /// the broadest queries.
  bool logObjective = false;
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

/// Numbers whose raw character is blurred (n mod 256 in kBlurredNumbers).
bool IsBlurredNumber(std::size_t number);

/// The alphabet position of screen number n: (n - 1) mod 64 + 1; position
/// 64 is never written.
inline std::size_t AlphabetPosition(std::size_t number) {
  return (number - 1) % 64 + 1;
}

/// As NumberChosen, but the screens that are not blurred get the numbers
/// that lose fewest sample pairs when numbers share a raw character
/// (n mod 256) or an alphabet position: a pair that exactly one chosen
/// screen a removes comes back when a shares with a screen that the target
/// holds. Screens that remove more such pairs choose first. Computed on at
/// most `most` sample targets and queries each.
std::vector<std::size_t> NumberByCost(const ChoiceInput& input,
                                      const std::vector<std::size_t>& chosen,
                                      std::size_t most = 6000);

}  // namespace zolv

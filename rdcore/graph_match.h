// A substructure search made for screens: the pattern is compiled once into a
// search order, the target's graph is laid out once, and each atom and bond
// query is answered with RDKit's own Match, at most once per target atom or
// bond. It gives exactly the mappings of RDKit's SubstructMatch without
// uniquifying; patterns it cannot treat exactly are left to RDKit.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace RDKit {
class Atom;
class Bond;
class ROMol;
}  // namespace RDKit

namespace zolv::rdcore {

/// One match: (pattern atom, target atom) pairs, by pattern atom.
using AtomPairs = std::vector<std::pair<int, int>>;

/// A pattern laid out for the search.
struct CompiledPattern {
  /// False when only RDKit gives its matches exactly (recursive queries,
  /// stereo, enhanced stereo, atoms that are no queries...).
  bool exact = false;
  std::vector<const RDKit::Atom*> atoms;  // by pattern atom
  std::vector<const RDKit::Bond*> bonds;  // by pattern bond
  /// By pattern atom and bond: the number of its query text, the same in
  /// every pattern, so that a target answers each query once.
  std::vector<int> atomQueries;
  std::vector<int> bondQueries;
  /// Pattern atoms in the order they are mapped.
  std::vector<int> order;
  /// By position in order: the earlier atom it is bonded to and that bond,
  /// or -1 for the first atom of a fragment.
  std::vector<int> parent;
  std::vector<int> parentBond;
  /// By position: closures[closureStart[i], closureStart[i+1]) are the other
  /// bonds (earlier atom, pattern bond) that must map onto target bonds.
  std::vector<int> closureStart;
  std::vector<std::pair<int, int>> closures;
};

CompiledPattern CompilePattern(const RDKit::ROMol& mol);

/// A target's atoms and bonds with their neighbours in one array.
struct TargetGraph {
  /// False when the target's rings were never perceived: RDKit's search is
  /// left to deal with it.
  bool usable = false;
  std::vector<const RDKit::Atom*> atoms;
  std::vector<const RDKit::Bond*> bonds;
  /// neighbours[start[a], start[a+1]): (neighbour atom, bond) of atom a.
  std::vector<int> start;
  std::vector<std::pair<int, int>> neighbours;
};

TargetGraph BuildTargetGraph(const RDKit::ROMol& mol);

/// A target's answers to the queries of the patterns searched in it so far,
/// by query number and target atom or bond: 0 not asked yet, 1 no, 2 yes.
/// Belongs to one target and one thread.
class TargetAnswers {
 public:
  std::uint8_t* AtomRow(int query, std::size_t atomCount) {
    return Row(atoms_, query, atomCount);
  }
  std::uint8_t* BondRow(int query, std::size_t bondCount) {
    return Row(bonds_, query, bondCount);
  }

 private:
  static std::uint8_t* Row(std::vector<std::vector<std::uint8_t>>& rows,
                           int query, std::size_t size) {
    if (static_cast<std::size_t>(query) >= rows.size()) rows.resize(query + 1);
    if (rows[query].size() != size) rows[query].assign(size, 0);
    return rows[query].data();
  }

  std::vector<std::vector<std::uint8_t>> atoms_;
  std::vector<std::vector<std::uint8_t>> bonds_;
};

/// The search's working memory, kept between searches to reuse it.
class GraphMatcher {
 public:
  /// Appends at most limit matches of the pattern in the target, always in
  /// the same order; returns how many it found. RDKit's Match may throw.
  std::uint32_t Find(const CompiledPattern& pattern, const TargetGraph& target,
                     TargetAnswers& answers, std::uint32_t limit,
                     std::vector<AtomPairs>* matches);

 private:
  bool AtomMatches(int patternAtom, int targetAtom);
  bool BondMatches(int patternBond, int targetBond);
  /// The bond between two target atoms, or -1.
  int BondBetween(int atom, int other) const;
  void Extend(std::size_t position);

  const CompiledPattern* pattern_ = nullptr;
  const TargetGraph* target_ = nullptr;
  // Rows of the target's answers, by pattern atom and bond.
  std::vector<std::uint8_t*> atomAnswers_;
  std::vector<std::uint8_t*> bondAnswers_;
  std::vector<int> image_;          // by pattern atom
  std::vector<std::uint8_t> used_;  // by target atom
  std::uint32_t limit_ = 0;
  std::uint32_t found_ = 0;
  std::vector<AtomPairs>* matches_ = nullptr;
};

}  // namespace zolv::rdcore

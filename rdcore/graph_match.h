// A substructure search made for screens: the pattern is compiled once, with
// a search order from each of its atoms; the target's graph is laid out once,
// with the atoms and bonds that lie on cycles; and each atom and bond query is
// answered with RDKit's own Match once per target, for all its atoms or bonds
// at a time, as a bit mask. The search
// then starts each fragment of the pattern at the atom with the fewest
// candidates in this target and only ever tests bits. It gives exactly the
// mappings of RDKit's SubstructMatch without uniquifying; patterns it cannot
// treat exactly are left to RDKit.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
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

/// One step of a search order: the pattern atom mapped at this step.
struct SearchStep {
  int atom = 0;
  /// The earlier atom it is bonded to and that bond; -1 for the first atom
  /// of a fragment.
  int parent = -1;
  int parentBond = -1;
  /// closures[closureBegin, closureEnd) of the pattern: the other bonds to
  /// earlier atoms of the order.
  int closureBegin = 0;
  int closureEnd = 0;
  /// lowerSteps[lowerBegin, lowerEnd) of the pattern: positions in the
  /// fragment's order whose target atoms must be lower than this one's when
  /// only whether a match exists is asked (the pattern's symmetry).
  int lowerBegin = 0;
  int lowerEnd = 0;
};

/// A pattern laid out for the search.
struct CompiledPattern {
  /// False when only RDKit gives its matches exactly (recursive queries,
  /// stereo, enhanced stereo, atoms that are no queries...).
  bool exact = false;
  /// Different for every compiled pattern of the process: what a target
  /// remembers the pattern's outcome by.
  std::uint64_t serial = 0;
  std::vector<const RDKit::Atom*> atoms;  // by pattern atom
  std::vector<const RDKit::Bond*> bonds;  // by pattern bond
  /// By pattern atom and bond: the number of its query text, the same in
  /// every pattern, so that a target answers each query once.
  std::vector<int> atomQueries;
  std::vector<int> bondQueries;
  /// By pattern atom: its bonds, and whether it lies on a cycle of the
  /// pattern (then its image lies on a cycle of the target).
  std::vector<int> degree;
  std::vector<std::uint8_t> atomOnCycle;
  /// By pattern atom: its bonds on cycles, and the atoms and independent
  /// cycles of its ring system (atoms joined by bonds on cycles), and
  /// whether that has a cycle of odd length; 0 off every cycle. Its image
  /// has at least as many bonds on cycles and lies in a ring system at least
  /// as large, with a cycle of odd length if this one's has one.
  std::vector<int> cycleDegree;
  std::vector<int> ringSystemAtoms;
  std::vector<int> ringSystemCycles;
  std::vector<std::uint8_t> ringSystemOdd;
  /// By pattern bond: whether it lies on a cycle of the pattern.
  std::vector<std::uint8_t> bondOnCycle;
  /// By pattern atom: its fragment (atoms joined by bonds), numbered from 0.
  std::vector<int> fragment;
  int fragmentCount = 0;
  /// By fragment: its atoms, and whether it has a cycle.
  std::vector<int> fragmentSize;
  std::vector<std::uint8_t> fragmentHasCycle;
  /// The order of each fragment when it starts at atom a:
  /// steps[orderStart[a], orderStart[a] + size of a's fragment); -1 when
  /// the pattern has no order from a (large patterns have one per fragment).
  std::vector<int> orderStart;
  std::vector<SearchStep> steps;
  /// (earlier pattern atom, pattern bond), for SearchStep's closures.
  std::vector<std::pair<int, int>> closures;
  /// Positions within a fragment's order, for SearchStep's lower steps.
  std::vector<int> lowerSteps;
  /// Each distinct atom query once: (query number, a pattern atom with it,
  /// how many pattern atoms have it). A target with fewer atoms answering it
  /// cannot hold the pattern.
  struct QueryUse {
    int query = 0;
    int atom = 0;
    int count = 0;
  };
  std::vector<QueryUse> atomQueryUses;
  /// Each distinct bond query once: (query number, a pattern bond with it).
  std::vector<std::pair<int, int>> bondQueryUses;
  /// By pattern atom and bond: its entry in atomQueryUses or bondQueryUses.
  std::vector<int> atomUse;
  std::vector<int> bondUse;
  /// Each distinct kind of bond end once, by entries of atomQueryUses and
  /// bondQueryUses: a pattern atom answering atomUse bonded through bondUse
  /// to one answering otherUse. Its image answers the atom query and has a
  /// neighbour that answers the other through a bond answering the bond's.
  struct BondEnd {
    int atomUse = 0;
    int bondUse = 0;
    int otherUse = 0;
    /// The kind's number, by its three queries: the same in every pattern.
    int number = 0;
  };
  std::vector<BondEnd> bondEnds;
  /// The kinds of bond end of atom a: bondEndsOf[endStart[a], endStart[a+1]).
  std::vector<int> endStart;
  std::vector<int> bondEndsOf;
};

CompiledPattern CompilePattern(const RDKit::ROMol& mol);

/// A target's atoms and bonds with their neighbours in one array, and what
/// the graph alone tells about them.
struct TargetGraph {
  /// False when the target's rings were never perceived: RDKit's search is
  /// left to deal with it.
  bool usable = false;
  std::vector<const RDKit::Atom*> atoms;
  std::vector<const RDKit::Bond*> bonds;
  std::vector<std::pair<int, int>> bondAtoms;  // by bond: its two atoms
  /// neighbours[start[a], start[a+1]): (neighbour atom, bond) of atom a.
  std::vector<int> start;
  std::vector<std::pair<int, int>> neighbours;
  /// 64-bit words of a mask over the atoms, and over the bonds.
  std::size_t atomWords = 0;
  std::size_t bondWords = 0;
  /// Bonds that lie on a cycle.
  std::vector<std::uint64_t> cycleBonds;
  /// atomsOfDegree[d * atomWords, (d + 1) * atomWords): the atoms with at
  /// least d bonds, for d up to kDegreeLevels - 1; atomsOfCycleDegree
  /// likewise for bonds on cycles.
  static constexpr int kDegreeLevels = 7;
  std::vector<std::uint64_t> atomsOfDegree;
  std::vector<std::uint64_t> atomsOfCycleDegree;
  /// By ring system (atoms joined by bonds on cycles): its size, and its
  /// atoms at ringSystems[s * atomWords].
  struct RingSystem {
    int atoms = 0;
    int cycles = 0;    ///< independent cycles
    bool odd = false;  ///< some cycle has an odd number of atoms
  };
  std::vector<RingSystem> ringSystemSizes;
  std::vector<std::uint64_t> ringSystems;
};

TargetGraph BuildTargetGraph(const RDKit::ROMol& mol);

/// What a target has learnt from the searches in it: by query number, the
/// mask of its atoms or bonds that RDKit's Match accepts, and what follows
/// from those. Belongs to one target; not thread-safe.
class TargetAnswers {
 public:
  /// Offsets of the masks in the answer words, computed on first request
  /// with the given pattern atom or bond. RDKit's Match may throw.
  std::size_t AtomMask(int query, const RDKit::Atom& patternAtom,
                       const TargetGraph& target);
  std::size_t BondMask(int query, const RDKit::Bond& patternBond,
                       const TargetGraph& target);
  /// The offset of the mask of the atoms that answer a kind of bond end
  /// (CompiledPattern::BondEnd), from the masks of its three queries.
  std::size_t BondEndMask(int number, std::size_t atomMask,
                          std::size_t bondMask, std::size_t otherMask,
                          const TargetGraph& target);
  const std::uint64_t* Words(std::size_t offset) const {
    return words_.data() + offset;
  }
  /// Forgets everything learnt, keeping the storage for another target.
  void Clear();

  /// Answers for a new target from the thread's spare storage; their
  /// storage goes back to the releasing thread's spares.
  static std::shared_ptr<TargetAnswers> Make();

 private:
  static constexpr std::size_t kUnknown = static_cast<std::size_t>(-1);

  std::vector<std::size_t> atomMasks_;  // by query number
  std::vector<std::size_t> bondMasks_;
  std::vector<std::size_t> bondEndMasks_;  // by BondEnd number
  std::vector<std::uint64_t> words_;
};

/// Whether patterns occur in one target, by pattern serial; thread-safe.
/// A molecule written several times is searched once per pattern.
class KnownOutcomes {
 public:
  /// Whether the pattern with this serial occurs: what was kept for it, or
  /// what search() gives, which is then kept. One thread at a time: a
  /// target searched by several threads at once is searched by one after
  /// the other.
  template <typename Search>
  bool Resolve(std::uint64_t serial, Search&& search) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (serial < kDenseSerials) {
      if (serial < dense_.size() && dense_[serial] != 0) {
        return dense_[serial] == 2;
      }
    } else if (const auto kept = sparse_.find(serial); kept != sparse_.end()) {
      return kept->second;
    }
    const bool occurs = search();
    if (serial < kDenseSerials) {
      if (serial >= dense_.size()) {
        // Serials come roughly in the order the patterns were compiled.
        dense_.resize(std::min<std::size_t>(
                          kDenseSerials,
                          std::max<std::size_t>(serial + 1, 2 * dense_.size())),
                      0);
      }
      dense_[serial] = occurs ? 2 : 1;
    } else {
      sparse_.emplace(serial, occurs);
    }
    return occurs;
  }

 private:
  // The first patterns compiled (a dictionary's, on each thread) are kept
  // by serial in a few bytes; later ones in a hash map.
  static constexpr std::uint64_t kDenseSerials = 2048;

  std::mutex mutex_;
  std::vector<std::uint8_t> dense_;  // by serial: 0 unknown, 1 no, 2 yes
  std::unordered_map<std::uint64_t, bool> sparse_;
};

/// The search's working memory, kept between searches to reuse it.
class GraphMatcher {
 public:
  /// Finds at most limit matches of the pattern in the target, always in the
  /// same order, and returns how many it found; with matches given, appends
  /// them. RDKit's Match may throw.
  std::uint32_t Find(const CompiledPattern& pattern, const TargetGraph& target,
                     TargetAnswers& answers, std::uint32_t limit,
                     std::vector<AtomPairs>* matches);

 private:
  bool Prepare(const CompiledPattern& pattern, const TargetGraph& target,
               TargetAnswers& answers);
  /// The atoms of the target's ring systems with at least so many atoms and
  /// independent cycles, and with a cycle of odd length when odd.
  const std::uint64_t* RingSystemsHolding(int atoms, int cycles, bool odd);
  void Extend(std::size_t position);
  void Record();

  const CompiledPattern* pattern_ = nullptr;
  const TargetGraph* target_ = nullptr;
  std::size_t atomWords_ = 0;
  // By pattern atom: the target atoms it may map to (words of atomWords_).
  std::vector<std::uint64_t> candidates_;
  // By pattern bond: the target bonds it may map to, the query's mask or,
  // for a bond on a cycle, one in cycleBondCandidates_.
  std::vector<const std::uint64_t*> bondCandidates_;
  std::vector<std::uint64_t> cycleBondCandidates_;
  // Offsets of the query masks in the target's answers, by entry of the
  // pattern's atomQueryUses and bondQueryUses.
  std::vector<std::size_t> atomMaskOffsets_;
  std::vector<std::size_t> bondMaskOffsets_;
  std::vector<std::size_t> bondEndMaskOffsets_;
  std::vector<int> candidateCounts_;  // by pattern atom
  // RingSystemsHolding's last answer in this search, and what it was asked.
  std::vector<std::uint64_t> systemsMask_;
  TargetGraph::RingSystem systemsWanted_;
  bool systemsKnown_ = false;
  std::vector<int> roots_;  // by fragment, in search order
  std::vector<const SearchStep*> order_;
  // By position: the position of its fragment's first atom.
  std::vector<int> fragmentStart_;
  std::vector<int> image_;           // by pattern atom
  std::vector<std::uint64_t> used_;  // target atoms mapped
  std::uint32_t limit_ = 0;
  std::uint32_t found_ = 0;
  bool breakSymmetry_ = false;  // only whether a match exists is asked
  std::vector<AtomPairs>* matches_ = nullptr;
};

}  // namespace zolv::rdcore

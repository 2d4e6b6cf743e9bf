#include "graph_match.h"

#include <GraphMol/QueryAtom.h>
#include <GraphMol/QueryBond.h>
#include <GraphMol/RDKitBase.h>
#include <GraphMol/SmilesParse/SmartsWrite.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>

#include "thread_spares.h"

namespace zolv::rdcore {
namespace {

using AtomQuery = RDKit::Atom::QUERYATOM_QUERY;

// Masks over atoms or bonds, 64 to a word, lowest number in the lowest bit.
bool HasBit(const std::uint64_t* mask, int bit) {
  return ((mask[bit >> 6] >> (bit & 63)) & 1u) != 0;
}

void SetBit(std::uint64_t* mask, int bit) {
  mask[bit >> 6] |= std::uint64_t{1} << (bit & 63);
}

void ClearBit(std::uint64_t* mask, int bit) {
  mask[bit >> 6] &= ~(std::uint64_t{1} << (bit & 63));
}

// Without a popcount instruction in the target's baseline the builtin is a
// library call; this is a handful of instructions.
inline int CountBits(std::uint64_t word) {
  word -= (word >> 1) & 0x5555555555555555ull;
  word = (word & 0x3333333333333333ull) + ((word >> 2) & 0x3333333333333333ull);
  word = (word + (word >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  return static_cast<int>((word * 0x0101010101010101ull) >> 56);
}

inline int CountBits(const std::uint64_t* mask, std::size_t words) {
  if (words == 1) return CountBits(mask[0]);
  int count = 0;
  for (std::size_t w = 0; w < words; ++w) count += CountBits(mask[w]);
  return count;
}

std::size_t WordsFor(std::size_t bits) { return (bits + 63) / 64; }

// Recursive queries need RDKit to match their inner patterns first.
bool HasRecursion(const AtomQuery* query) {
  if (query == nullptr) return false;
  if (query->getDescription() == "RecursiveStructure") return true;
  for (auto child = query->beginChildren(); child != query->endChildren();
       ++child) {
    if (HasRecursion(child->get())) return true;
  }
  return false;
}

// Patterns with more atoms get one search order per fragment, not one from
// each atom.
constexpr int kMostRootedAtoms = 32;

// Query texts numbered in the order first seen. Only compiling a pattern,
// once per screen structure, takes the lock; searches never do.
int QueryNumber(const std::string& text) {
  static std::mutex mutex;
  static std::unordered_map<std::string, int> numbers;
  const std::lock_guard<std::mutex> lock(mutex);
  return numbers.emplace(text, static_cast<int>(numbers.size())).first->second;
}

// Kinds of bond end, by their three query numbers, numbered in the order
// first seen, like the queries.
int BondEndNumber(int atomQuery, int bondQuery, int otherQuery) {
  static std::mutex mutex;
  static std::map<std::array<int, 3>, int> numbers;
  const std::lock_guard<std::mutex> lock(mutex);
  return numbers
      .emplace(std::array<int, 3>{atomQuery, bondQuery, otherQuery},
               static_cast<int>(numbers.size()))
      .first->second;
}

std::uint64_t NextSerial() {
  static std::atomic<std::uint64_t> last{0};
  return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

bool TreatedExactly(const RDKit::ROMol& mol) {
  if (!mol.getStereoGroups().empty()) return false;
  for (const RDKit::Atom* atom : mol.atoms()) {
    // Plain atoms have no query text to share answers by.
    if (!atom->hasQuery()) return false;
    if (atom->getChiralTag() != RDKit::Atom::CHI_UNSPECIFIED) return false;
    if (atom->hasQuery() && HasRecursion(atom->getQuery())) return false;
  }
  for (const RDKit::Bond* bond : mol.bonds()) {
    if (!bond->hasQuery()) return false;
    if (bond->getStereo() != RDKit::Bond::STEREONONE ||
        bond->getBondDir() != RDKit::Bond::NONE) {
      return false;
    }
  }
  return true;
}

// A graph's atoms with their (neighbour atom, bond) pairs in one array.
struct Adjacency {
  std::vector<int> start;
  std::vector<std::pair<int, int>> neighbours;
};

Adjacency AdjacencyOf(const RDKit::ROMol& mol) {
  Adjacency adjacency;
  adjacency.start.reserve(mol.getNumAtoms() + 1);
  adjacency.neighbours.reserve(2 * mol.getNumBonds());
  for (const RDKit::Atom* atom : mol.atoms()) {
    adjacency.start.push_back(static_cast<int>(adjacency.neighbours.size()));
    for (const RDKit::Bond* bond : mol.atomBonds(atom)) {
      adjacency.neighbours.emplace_back(
          static_cast<int>(bond->getOtherAtomIdx(atom->getIdx())),
          static_cast<int>(bond->getIdx()));
    }
  }
  adjacency.start.push_back(static_cast<int>(adjacency.neighbours.size()));
  return adjacency;
}

// By bond: 1 when the bond lies on a cycle, that is, when it is no bridge.
// Any injective mapping takes a cycle of the pattern onto a cycle of the
// target, so a pattern bond on a cycle can only map onto such a bond.
// Tarjan's bridge search, without recursion.
std::vector<std::uint8_t> BondsOnCycles(const Adjacency& graph,
                                        std::size_t bondCount) {
  const int atomCount = static_cast<int>(graph.start.size()) - 1;
  std::vector<std::uint8_t> onCycle(bondCount, 1);
  std::vector<int> reached(atomCount, -1);
  std::vector<int> low(atomCount, 0);
  struct Frame {
    int atom;
    int parentBond;
    int next;  // next entry of neighbours to look at
  };
  std::vector<Frame> stack;
  int counter = 0;
  for (int root = 0; root < atomCount; ++root) {
    if (reached[root] >= 0) continue;
    reached[root] = low[root] = counter++;
    stack.push_back({root, -1, graph.start[root]});
    while (!stack.empty()) {
      Frame& frame = stack.back();
      if (frame.next < graph.start[frame.atom + 1]) {
        const auto [other, bond] = graph.neighbours[frame.next++];
        if (bond == frame.parentBond) continue;
        if (reached[other] < 0) {
          reached[other] = low[other] = counter++;
          stack.push_back({other, bond, graph.start[other]});
        } else {
          low[frame.atom] = std::min(low[frame.atom], reached[other]);
        }
        continue;
      }
      const int atom = frame.atom;
      const int parentBond = frame.parentBond;
      stack.pop_back();
      if (stack.empty()) break;
      const int parent = stack.back().atom;
      low[parent] = std::min(low[parent], low[atom]);
      if (low[atom] > reached[parent]) onCycle[parentBond] = 0;
    }
  }
  return onCycle;
}

// Ring systems: the sets of atoms joined by bonds on cycles. Any injective
// mapping takes a pattern's ring system into one ring system of the target,
// which therefore has at least as many atoms, at least as many independent
// cycles (bonds - atoms + 1, which only grows as a connected graph grows),
// and a cycle of odd length if the pattern's has one (a graph without one
// has no subgraph with one).
struct RingSystems {
  std::vector<int> of;  // by atom: its system, or -1 off every cycle
  struct System {
    int atoms = 0;
    int bonds = 0;
    bool odd = false;  // some cycle has an odd number of atoms
    int Cycles() const { return bonds - atoms + 1; }
  };
  std::vector<System> systems;
};

RingSystems FindRingSystems(const Adjacency& graph,
                            const std::vector<std::uint8_t>& onCycle) {
  const int atomCount = static_cast<int>(graph.start.size()) - 1;
  RingSystems found;
  found.of.assign(atomCount, -1);
  std::vector<std::uint8_t> side(atomCount, 0);  // a two-colouring
  std::vector<int> queue;
  for (int atom = 0; atom < atomCount; ++atom) {
    if (found.of[atom] >= 0) continue;
    bool cyclic = false;
    for (int i = graph.start[atom]; i < graph.start[atom + 1]; ++i) {
      cyclic = cyclic || onCycle[graph.neighbours[i].second] != 0;
    }
    if (!cyclic) continue;
    const int number = static_cast<int>(found.systems.size());
    found.systems.emplace_back();
    RingSystems::System& system = found.systems.back();
    found.of[atom] = number;
    queue.assign(1, atom);
    for (std::size_t head = 0; head < queue.size(); ++head) {
      const int current = queue[head];
      ++system.atoms;
      for (int i = graph.start[current]; i < graph.start[current + 1]; ++i) {
        const auto [other, bond] = graph.neighbours[i];
        if (!onCycle[bond]) continue;
        // Each bond is seen from both ends.
        if (current < other) ++system.bonds;
        if (found.of[other] < 0) {
          found.of[other] = number;
          side[other] = side[current] ^ 1;
          queue.push_back(other);
        } else if (side[other] == side[current]) {
          system.odd = true;
        }
      }
    }
  }
  return found;
}

// By atom: how many of its bonds lie on cycles.
std::vector<int> CycleDegrees(const Adjacency& graph,
                              const std::vector<std::uint8_t>& onCycle) {
  const int atomCount = static_cast<int>(graph.start.size()) - 1;
  std::vector<int> degrees(atomCount, 0);
  for (int atom = 0; atom < atomCount; ++atom) {
    for (int i = graph.start[atom]; i < graph.start[atom + 1]; ++i) {
      degrees[atom] += onCycle[graph.neighbours[i].second] != 0 ? 1 : 0;
    }
  }
  return degrees;
}

// Automorphisms of a pattern that keep every atom's and bond's query, and
// with them every constraint the search derives from the pattern: composing
// a match with one gives another. An existence search may therefore demand,
// at each step of its order, that the atom placed there get a lower target
// atom than every later atom that an automorphism fixing the earlier ones
// maps it onto; some match always obeys all of these at once.
class Symmetry {
 public:
  Symmetry(const Adjacency& graph, const CompiledPattern& pattern)
      : graph_(graph),
        pattern_(pattern),
        image_(pattern.atoms.size(), -1),
        used_(pattern.atoms.size(), 0) {}

  /// Whether some such automorphism of the fragment of `from` fixes each
  /// atom of `fixed` and maps `from` onto `to`. False, too, once the
  /// pattern's budget of search steps is spent: leaving a demand out is
  /// always sound.
  bool Maps(const std::vector<int>& fixed, int from, int to) {
    if (!Alike(from, to) || budget_ <= 0) return false;
    std::fill(image_.begin(), image_.end(), -1);
    std::fill(used_.begin(), used_.end(), 0);
    for (const int atom : fixed) Assign(atom, atom);
    if (used_[to]) return false;
    Assign(from, to);
    // The fragment in breadth-first order from `from`, each atom after a
    // neighbour.
    order_.assign(1, from);
    parent_.assign(1, -1);
    std::vector<std::uint8_t> seen(image_.size(), 0);
    seen[from] = 1;
    for (std::size_t head = 0; head < order_.size(); ++head) {
      const int atom = order_[head];
      for (int i = graph_.start[atom]; i < graph_.start[atom + 1]; ++i) {
        const int other = graph_.neighbours[i].first;
        if (!seen[other]) {
          seen[other] = 1;
          order_.push_back(other);
          parent_.push_back(atom);
        }
      }
    }
    for (const int atom : fixed) {
      if (seen[atom] && !Consistent(atom, atom)) return false;
    }
    if (!Consistent(from, to)) return false;
    budget_ -= static_cast<long>(order_.size());
    return Extend(1);
  }

 private:
  // Search steps for all the automorphisms of one pattern: the pairs to try
  // grow as the cube of its atoms.
  static constexpr long kBudget = 200000;

  bool Alike(int atom, int other) const {
    return pattern_.atomQueries[atom] == pattern_.atomQueries[other] &&
           pattern_.degree[atom] == pattern_.degree[other];
  }

  void Assign(int atom, int image) {
    image_[atom] = image;
    used_[image] = 1;
  }

  int BondBetween(int atom, int other) const {
    for (int i = graph_.start[atom]; i < graph_.start[atom + 1]; ++i) {
      if (graph_.neighbours[i].first == other)
        return graph_.neighbours[i].second;
    }
    return -1;
  }

  // Every bond from atom to an atom with an image lands on a bond with the
  // same query.
  bool Consistent(int atom, int image) const {
    for (int i = graph_.start[atom]; i < graph_.start[atom + 1]; ++i) {
      const auto [other, bond] = graph_.neighbours[i];
      if (image_[other] < 0 || other == atom) continue;
      const int onto = BondBetween(image, image_[other]);
      if (onto < 0 ||
          pattern_.bondQueries[onto] != pattern_.bondQueries[bond]) {
        return false;
      }
    }
    return true;
  }

  bool Extend(std::size_t position) {
    if (position == order_.size()) return true;
    if (--budget_ < 0) return false;
    const int atom = order_[position];
    if (image_[atom] >= 0) return Extend(position + 1);
    const int from = image_[parent_[position]];
    for (int i = graph_.start[from]; i < graph_.start[from + 1]; ++i) {
      const int candidate = graph_.neighbours[i].first;
      if (used_[candidate] || !Alike(atom, candidate) ||
          !Consistent(atom, candidate)) {
        continue;
      }
      Assign(atom, candidate);
      if (Extend(position + 1)) return true;
      image_[atom] = -1;
      used_[candidate] = 0;
      if (budget_ < 0) return false;
    }
    return false;
  }

  const Adjacency& graph_;
  const CompiledPattern& pattern_;
  std::vector<int> image_;
  std::vector<std::uint8_t> used_;
  std::vector<int> order_;
  std::vector<int> parent_;
  long budget_ = kBudget;
};

// The order of one fragment from the given atom: next comes the atom with
// the most bonds to atoms already placed, so that closures prune early, then
// the most connected one.
void AppendOrder(const RDKit::ROMol& mol, const Adjacency& graph,
                 const std::vector<int>& fragment, int root, Symmetry* symmetry,
                 CompiledPattern& pattern) {
  const int atomCount = static_cast<int>(mol.getNumAtoms());
  const int size = pattern.fragmentSize[fragment[root]];
  std::vector<int> placedBonds(atomCount, 0);
  std::vector<std::uint8_t> placed(atomCount, 0);
  for (int step = 0; step < size; ++step) {
    int best = root;
    if (step > 0) {
      best = -1;
      for (int atom = 0; atom < atomCount; ++atom) {
        if (placed[atom] || placedBonds[atom] == 0) continue;
        if (best < 0 || placedBonds[atom] > placedBonds[best] ||
            (placedBonds[atom] == placedBonds[best] &&
             pattern.degree[atom] > pattern.degree[best])) {
          best = atom;
        }
      }
    }
    placed[best] = 1;
    SearchStep entry;
    entry.atom = best;
    entry.closureBegin = static_cast<int>(pattern.closures.size());
    for (int i = graph.start[best]; i < graph.start[best + 1]; ++i) {
      const auto [other, bond] = graph.neighbours[i];
      if (placed[other] && other != best) {
        if (entry.parent < 0) {
          entry.parent = other;
          entry.parentBond = bond;
        } else {
          pattern.closures.emplace_back(other, bond);
        }
      } else {
        ++placedBonds[other];
      }
    }
    entry.closureEnd = static_cast<int>(pattern.closures.size());
    pattern.steps.push_back(entry);
  }
  if (symmetry == nullptr) return;
  // Demands by later position: the earlier positions whose images must be
  // lower.
  const std::size_t first = pattern.steps.size() - size;
  std::vector<std::vector<int>> lower(size);
  std::vector<int> fixed;
  for (int i = 0; i < size; ++i) {
    const int atom = pattern.steps[first + i].atom;
    for (int j = i + 1; j < size; ++j) {
      if (symmetry->Maps(fixed, atom, pattern.steps[first + j].atom)) {
        lower[j].push_back(i);
      }
    }
    fixed.push_back(atom);
  }
  for (int j = 0; j < size; ++j) {
    SearchStep& entry = pattern.steps[first + j];
    entry.lowerBegin = static_cast<int>(pattern.lowerSteps.size());
    pattern.lowerSteps.insert(pattern.lowerSteps.end(), lower[j].begin(),
                              lower[j].end());
    entry.lowerEnd = static_cast<int>(pattern.lowerSteps.size());
  }
}

}  // namespace

CompiledPattern CompilePattern(const RDKit::ROMol& mol) {
  CompiledPattern pattern;
  pattern.serial = NextSerial();
  pattern.exact = TreatedExactly(mol);
  const int atomCount = static_cast<int>(mol.getNumAtoms());
  for (const RDKit::Atom* atom : mol.atoms()) pattern.atoms.push_back(atom);
  for (const RDKit::Bond* bond : mol.bonds()) pattern.bonds.push_back(bond);
  if (pattern.exact) {
    // The text with the query's type and description tree: two queries that
    // agree in all of it answer alike.
    for (const RDKit::Atom* atom : pattern.atoms) {
      pattern.atomQueries.push_back(
          QueryNumber(RDKit::SmartsWrite::GetAtomSmarts(atom) + '\n' +
                      RDKit::describeQuery(atom)));
    }
    for (const RDKit::Bond* bond : pattern.bonds) {
      pattern.bondQueries.push_back(
          QueryNumber(RDKit::SmartsWrite::GetBondSmarts(bond) + '\n' +
                      RDKit::describeQuery(bond)));
    }
    for (int atom = 0; atom < atomCount; ++atom) {
      const int query = pattern.atomQueries[atom];
      auto use = std::find_if(pattern.atomQueryUses.begin(),
                              pattern.atomQueryUses.end(),
                              [query](const CompiledPattern::QueryUse& u) {
                                return u.query == query;
                              });
      if (use == pattern.atomQueryUses.end()) {
        pattern.atomQueryUses.push_back({query, atom, 0});
        use = pattern.atomQueryUses.end() - 1;
      }
      ++use->count;
      pattern.atomUse.push_back(
          static_cast<int>(use - pattern.atomQueryUses.begin()));
    }
    for (std::size_t bond = 0; bond < pattern.bonds.size(); ++bond) {
      const int query = pattern.bondQueries[bond];
      auto use = std::find_if(
          pattern.bondQueryUses.begin(), pattern.bondQueryUses.end(),
          [query](const std::pair<int, int>& u) { return u.first == query; });
      if (use == pattern.bondQueryUses.end()) {
        pattern.bondQueryUses.emplace_back(query, static_cast<int>(bond));
        use = pattern.bondQueryUses.end() - 1;
      }
      pattern.bondUse.push_back(
          static_cast<int>(use - pattern.bondQueryUses.begin()));
    }
  }

  const Adjacency graph = AdjacencyOf(mol);
  if (pattern.exact) {
    for (int atom = 0; atom < atomCount; ++atom) {
      pattern.endStart.push_back(static_cast<int>(pattern.bondEndsOf.size()));
      for (int i = graph.start[atom]; i < graph.start[atom + 1]; ++i) {
        const auto [other, bond] = graph.neighbours[i];
        CompiledPattern::BondEnd end;
        end.atomUse = pattern.atomUse[atom];
        end.bondUse = pattern.bondUse[bond];
        end.otherUse = pattern.atomUse[other];
        end.number =
            BondEndNumber(pattern.atomQueries[atom], pattern.bondQueries[bond],
                          pattern.atomQueries[other]);
        const auto known = std::find_if(
            pattern.bondEnds.begin(), pattern.bondEnds.end(),
            [&end](const CompiledPattern::BondEnd& e) {
              return e.atomUse == end.atomUse && e.bondUse == end.bondUse &&
                     e.otherUse == end.otherUse;
            });
        const int number = static_cast<int>(known - pattern.bondEnds.begin());
        if (known == pattern.bondEnds.end()) pattern.bondEnds.push_back(end);
        if (std::find(pattern.bondEndsOf.begin() + pattern.endStart.back(),
                      pattern.bondEndsOf.end(),
                      number) == pattern.bondEndsOf.end()) {
          pattern.bondEndsOf.push_back(number);
        }
      }
    }
    pattern.endStart.push_back(static_cast<int>(pattern.bondEndsOf.size()));
  }
  pattern.bondOnCycle = BondsOnCycles(graph, pattern.bonds.size());
  pattern.atomOnCycle.assign(atomCount, 0);
  pattern.degree.assign(atomCount, 0);
  for (int atom = 0; atom < atomCount; ++atom) {
    pattern.degree[atom] = graph.start[atom + 1] - graph.start[atom];
    for (int i = graph.start[atom]; i < graph.start[atom + 1]; ++i) {
      if (pattern.bondOnCycle[graph.neighbours[i].second]) {
        pattern.atomOnCycle[atom] = 1;
      }
    }
  }

  pattern.cycleDegree = CycleDegrees(graph, pattern.bondOnCycle);
  const RingSystems rings = FindRingSystems(graph, pattern.bondOnCycle);
  pattern.ringSystemAtoms.assign(atomCount, 0);
  pattern.ringSystemCycles.assign(atomCount, 0);
  pattern.ringSystemOdd.assign(atomCount, 0);
  for (int atom = 0; atom < atomCount; ++atom) {
    if (rings.of[atom] < 0) continue;
    const RingSystems::System& system = rings.systems[rings.of[atom]];
    pattern.ringSystemAtoms[atom] = system.atoms;
    pattern.ringSystemCycles[atom] = system.Cycles();
    pattern.ringSystemOdd[atom] = system.odd ? 1 : 0;
  }

  // Fragments, each numbered from its lowest atom.
  pattern.fragment.assign(atomCount, -1);
  std::vector<int> queue;
  for (int atom = 0; atom < atomCount; ++atom) {
    if (pattern.fragment[atom] >= 0) continue;
    const int number = pattern.fragmentCount++;
    pattern.fragmentSize.push_back(0);
    pattern.fragmentHasCycle.push_back(0);
    queue.assign(1, atom);
    pattern.fragment[atom] = number;
    for (std::size_t head = 0; head < queue.size(); ++head) {
      const int current = queue[head];
      ++pattern.fragmentSize[number];
      if (pattern.atomOnCycle[current]) pattern.fragmentHasCycle[number] = 1;
      for (int i = graph.start[current]; i < graph.start[current + 1]; ++i) {
        const int other = graph.neighbours[i].first;
        if (pattern.fragment[other] < 0) {
          pattern.fragment[other] = number;
          queue.push_back(other);
        }
      }
    }
  }

  // An order from every atom, so that the search can start where the target
  // has the fewest candidates; a larger pattern gets one order per fragment,
  // from its most connected atom, since each order costs as the square of
  // its atoms.
  Symmetry symmetry(graph, pattern);
  const bool everyRoot = atomCount <= kMostRootedAtoms;
  std::vector<int> fragmentRoot(pattern.fragmentCount, -1);
  for (int atom = 0; atom < atomCount; ++atom) {
    int& root = fragmentRoot[pattern.fragment[atom]];
    if (root < 0 || pattern.degree[atom] > pattern.degree[root]) root = atom;
  }
  for (int root = 0; root < atomCount; ++root) {
    if (!everyRoot && fragmentRoot[pattern.fragment[root]] != root) {
      pattern.orderStart.push_back(-1);
      continue;
    }
    pattern.orderStart.push_back(static_cast<int>(pattern.steps.size()));
    AppendOrder(mol, graph, pattern.fragment, root,
                pattern.exact ? &symmetry : nullptr, pattern);
  }
  return pattern;
}

TargetGraph BuildTargetGraph(const RDKit::ROMol& mol) {
  TargetGraph graph;
  graph.usable =
      mol.getRingInfo() != nullptr && mol.getRingInfo()->isInitialized();
  for (const RDKit::Atom* atom : mol.atoms()) graph.atoms.push_back(atom);
  for (const RDKit::Bond* bond : mol.bonds()) {
    graph.bonds.push_back(bond);
    graph.bondAtoms.emplace_back(static_cast<int>(bond->getBeginAtomIdx()),
                                 static_cast<int>(bond->getEndAtomIdx()));
  }
  Adjacency adjacency = AdjacencyOf(mol);
  const std::vector<std::uint8_t> onCycle =
      BondsOnCycles(adjacency, graph.bonds.size());
  const std::vector<int> cycleDegrees = CycleDegrees(adjacency, onCycle);
  const RingSystems rings = FindRingSystems(adjacency, onCycle);
  graph.start = std::move(adjacency.start);
  graph.neighbours = std::move(adjacency.neighbours);

  const std::size_t atomCount = graph.atoms.size();
  graph.atomWords = WordsFor(atomCount);
  graph.bondWords = WordsFor(graph.bonds.size());
  graph.cycleBonds.assign(graph.bondWords, 0);
  for (std::size_t bond = 0; bond < onCycle.size(); ++bond) {
    if (onCycle[bond]) SetBit(graph.cycleBonds.data(), static_cast<int>(bond));
  }
  const int levels = TargetGraph::kDegreeLevels;
  graph.atomsOfDegree.assign(levels * graph.atomWords, 0);
  graph.atomsOfCycleDegree.assign(levels * graph.atomWords, 0);
  for (std::size_t atom = 0; atom < atomCount; ++atom) {
    const int degree = graph.start[atom + 1] - graph.start[atom];
    const int a = static_cast<int>(atom);
    for (int level = 0; level <= std::min(degree, levels - 1); ++level) {
      SetBit(graph.atomsOfDegree.data() + level * graph.atomWords, a);
    }
    for (int level = 0; level <= std::min(cycleDegrees[atom], levels - 1);
         ++level) {
      SetBit(graph.atomsOfCycleDegree.data() + level * graph.atomWords, a);
    }
  }
  graph.ringSystems.assign(rings.systems.size() * graph.atomWords, 0);
  for (const RingSystems::System& system : rings.systems) {
    graph.ringSystemSizes.push_back(
        {system.atoms, system.Cycles(), system.odd});
  }
  for (std::size_t atom = 0; atom < atomCount; ++atom) {
    if (rings.of[atom] >= 0) {
      SetBit(graph.ringSystems.data() + rings.of[atom] * graph.atomWords,
             static_cast<int>(atom));
    }
  }
  return graph;
}

std::size_t TargetAnswers::AtomMask(int query, const RDKit::Atom& patternAtom,
                                    const TargetGraph& target) {
  if (static_cast<std::size_t>(query) >= atomMasks_.size()) {
    atomMasks_.resize(query + 1, kUnknown);
  }
  if (atomMasks_[query] != kUnknown) return atomMasks_[query];
  const std::size_t offset = words_.size();
  words_.resize(offset + target.atomWords, 0);
  for (std::size_t atom = 0; atom < target.atoms.size(); ++atom) {
    if (patternAtom.Match(target.atoms[atom])) {
      SetBit(words_.data() + offset, static_cast<int>(atom));
    }
  }
  atomMasks_[query] = offset;
  return offset;
}

std::size_t TargetAnswers::BondMask(int query, const RDKit::Bond& patternBond,
                                    const TargetGraph& target) {
  if (static_cast<std::size_t>(query) >= bondMasks_.size()) {
    bondMasks_.resize(query + 1, kUnknown);
  }
  if (bondMasks_[query] != kUnknown) return bondMasks_[query];
  const std::size_t offset = words_.size();
  words_.resize(offset + target.bondWords, 0);
  for (std::size_t bond = 0; bond < target.bonds.size(); ++bond) {
    if (patternBond.Match(target.bonds[bond])) {
      SetBit(words_.data() + offset, static_cast<int>(bond));
    }
  }
  bondMasks_[query] = offset;
  return offset;
}

std::size_t TargetAnswers::BondEndMask(int number, std::size_t atomMask,
                                       std::size_t bondMask,
                                       std::size_t otherMask,
                                       const TargetGraph& target) {
  if (static_cast<std::size_t>(number) >= bondEndMasks_.size()) {
    bondEndMasks_.resize(number + 1, kUnknown);
  }
  if (bondEndMasks_[number] != kUnknown) return bondEndMasks_[number];
  const std::size_t offset = words_.size();
  words_.resize(offset + target.atomWords, 0);
  std::uint64_t* mask = words_.data() + offset;
  const std::uint64_t* atoms = words_.data() + atomMask;
  const std::uint64_t* bonds = words_.data() + bondMask;
  const std::uint64_t* others = words_.data() + otherMask;
  for (std::size_t w = 0; w < target.bondWords; ++w) {
    for (std::uint64_t bits = bonds[w]; bits != 0; bits &= bits - 1) {
      const auto [begin, end] =
          target.bondAtoms[w * 64 + __builtin_ctzll(bits)];
      if (HasBit(atoms, begin) && HasBit(others, end)) SetBit(mask, begin);
      if (HasBit(atoms, end) && HasBit(others, begin)) SetBit(mask, end);
    }
  }
  bondEndMasks_[number] = offset;
  return offset;
}

void TargetAnswers::Clear() {
  atomMasks_.clear();
  bondMasks_.clear();
  bondEndMasks_.clear();
  words_.clear();
}

namespace {

void DeleteAnswers(TargetAnswers* answers) noexcept { delete answers; }

// Every write searches a new molecule chemistry, whose answers take a few
// kilobytes; each thread keeps the storage of finished answers for the next
// ones rather than asking the allocator for it each time.
using SpareAnswers =
    ThreadSpares<TargetAnswers, TargetAnswers, 8, &DeleteAnswers>;

void Recycle(TargetAnswers* answers) {
  answers->Clear();
  if (!SpareAnswers::Keep(answers)) delete answers;
}

}  // namespace

std::shared_ptr<TargetAnswers> TargetAnswers::Make() {
  TargetAnswers* answers = SpareAnswers::Take();
  if (answers == nullptr) answers = new TargetAnswers();
  return std::shared_ptr<TargetAnswers>(answers, Recycle);
}

const std::uint64_t* GraphMatcher::RingSystemsHolding(int atoms, int cycles,
                                                      bool odd) {
  const TargetGraph::RingSystem wanted{atoms, cycles, odd};
  if (!systemsKnown_ || wanted.atoms != systemsWanted_.atoms ||
      wanted.cycles != systemsWanted_.cycles ||
      wanted.odd != systemsWanted_.odd) {
    const TargetGraph& target = *target_;
    const std::size_t words = target.atomWords;
    systemsMask_.assign(words, 0);
    for (std::size_t s = 0; s < target.ringSystemSizes.size(); ++s) {
      const TargetGraph::RingSystem& size = target.ringSystemSizes[s];
      if (size.atoms < atoms || size.cycles < cycles || (odd && !size.odd)) {
        continue;
      }
      const std::uint64_t* system = target.ringSystems.data() + s * words;
      for (std::size_t w = 0; w < words; ++w) systemsMask_[w] |= system[w];
    }
    systemsWanted_ = wanted;
    systemsKnown_ = true;
  }
  return systemsMask_.data();
}

bool GraphMatcher::Prepare(const CompiledPattern& pattern,
                           const TargetGraph& target, TargetAnswers& answers) {
  pattern_ = &pattern;
  target_ = &target;
  systemsKnown_ = false;
  const std::size_t words = target.atomWords;
  const std::size_t bondWords = target.bondWords;
  atomWords_ = words;

  // A query that fewer target atoms answer than pattern atoms ask it rules
  // the pattern out before any mask is combined.
  atomMaskOffsets_.resize(pattern.atomQueryUses.size());
  for (std::size_t i = 0; i < pattern.atomQueryUses.size(); ++i) {
    const CompiledPattern::QueryUse& use = pattern.atomQueryUses[i];
    atomMaskOffsets_[i] =
        answers.AtomMask(use.query, *pattern.atoms[use.atom], target);
    // A single use is checked with the atom's candidates.
    if (use.count > 1 &&
        CountBits(answers.Words(atomMaskOffsets_[i]), words) < use.count) {
      return false;
    }
  }
  bondMaskOffsets_.resize(pattern.bondQueryUses.size());
  for (std::size_t i = 0; i < pattern.bondQueryUses.size(); ++i) {
    const auto [query, bond] = pattern.bondQueryUses[i];
    bondMaskOffsets_[i] = answers.BondMask(query, *pattern.bonds[bond], target);
  }

  bondEndMaskOffsets_.resize(pattern.bondEnds.size());
  for (std::size_t i = 0; i < pattern.bondEnds.size(); ++i) {
    const CompiledPattern::BondEnd& end = pattern.bondEnds[i];
    bondEndMaskOffsets_[i] = answers.BondEndMask(
        end.number, atomMaskOffsets_[end.atomUse],
        bondMaskOffsets_[end.bondUse], atomMaskOffsets_[end.otherUse], target);
  }

  // Masks are stable from here on: the answers grow no further.
  const std::size_t atomCount = pattern.atoms.size();
  candidates_.resize(atomCount * words);
  candidateCounts_.resize(atomCount);
  for (std::size_t atom = 0; atom < atomCount; ++atom) {
    const std::uint64_t* query =
        answers.Words(atomMaskOffsets_[pattern.atomUse[atom]]);
    const std::uint64_t* degree =
        target.atomsOfDegree.data() +
        std::min(pattern.degree[atom], TargetGraph::kDegreeLevels - 1) * words;
    std::uint64_t* candidates = &candidates_[atom * words];
    for (std::size_t w = 0; w < words; ++w)
      candidates[w] = query[w] & degree[w];
    if (pattern.atomOnCycle[atom]) {
      const std::uint64_t* cycleDegree =
          target.atomsOfCycleDegree.data() +
          std::min(pattern.cycleDegree[atom], TargetGraph::kDegreeLevels - 1) *
              words;
      const std::uint64_t* systems = RingSystemsHolding(
          pattern.ringSystemAtoms[atom], pattern.ringSystemCycles[atom],
          pattern.ringSystemOdd[atom] != 0);
      for (std::size_t w = 0; w < words; ++w) {
        candidates[w] &= cycleDegree[w] & systems[w];
      }
    }
    for (int e = pattern.endStart[atom]; e < pattern.endStart[atom + 1]; ++e) {
      const std::uint64_t* ends =
          answers.Words(bondEndMaskOffsets_[pattern.bondEndsOf[e]]);
      for (std::size_t w = 0; w < words; ++w) candidates[w] &= ends[w];
    }
    const int count = CountBits(candidates, words);
    if (count == 0) return false;
    candidateCounts_[atom] = count;
  }
  // A bond off every cycle may go wherever its query allows: the query's
  // own mask serves.
  bondCandidates_.resize(pattern.bonds.size());
  cycleBondCandidates_.resize(pattern.bonds.size() * bondWords);
  for (std::size_t bond = 0; bond < pattern.bonds.size(); ++bond) {
    const std::uint64_t* query =
        answers.Words(bondMaskOffsets_[pattern.bondUse[bond]]);
    if (!pattern.bondOnCycle[bond]) {
      bondCandidates_[bond] = query;
      continue;
    }
    std::uint64_t* candidates = &cycleBondCandidates_[bond * bondWords];
    std::uint64_t any = 0;
    for (std::size_t w = 0; w < bondWords; ++w) {
      candidates[w] = query[w] & target.cycleBonds[w];
      any |= candidates[w];
    }
    if (any == 0) return false;
    bondCandidates_[bond] = candidates;
  }

  // Each fragment starts at its atom with the fewest candidates, the more
  // connected one on a tie; the fragment with the fewest goes first.
  roots_.assign(pattern.fragmentCount, -1);
  for (std::size_t atom = 0; atom < atomCount; ++atom) {
    if (pattern.orderStart[atom] < 0) continue;
    int& root = roots_[pattern.fragment[atom]];
    const int a = static_cast<int>(atom);
    if (root < 0 || candidateCounts_[a] < candidateCounts_[root] ||
        (candidateCounts_[a] == candidateCounts_[root] &&
         pattern.degree[a] > pattern.degree[root])) {
      root = a;
    }
  }
  // Few fragments: an insertion sort, stable.
  for (std::size_t i = 1; i < roots_.size(); ++i) {
    const int root = roots_[i];
    std::size_t j = i;
    for (; j > 0 && candidateCounts_[roots_[j - 1]] > candidateCounts_[root];
         --j) {
      roots_[j] = roots_[j - 1];
    }
    roots_[j] = root;
  }
  order_.clear();
  fragmentStart_.clear();
  for (const int root : roots_) {
    const int fragment = pattern.fragment[root];
    const int first = static_cast<int>(order_.size());
    const SearchStep* steps = &pattern.steps[pattern.orderStart[root]];
    for (int i = 0; i < pattern.fragmentSize[fragment]; ++i) {
      order_.push_back(steps + i);
      fragmentStart_.push_back(first);
    }
  }
  image_.assign(atomCount, -1);
  used_.assign(words, 0);
  return true;
}

void GraphMatcher::Record() {
  ++found_;
  if (matches_ == nullptr) return;
  AtomPairs match;
  match.reserve(image_.size());
  for (std::size_t atom = 0; atom < image_.size(); ++atom) {
    match.emplace_back(static_cast<int>(atom), image_[atom]);
  }
  matches_->push_back(std::move(match));
}

void GraphMatcher::Extend(std::size_t position) {
  if (position == order_.size()) {
    Record();
    return;
  }
  const SearchStep& step = *order_[position];
  const std::uint64_t* candidates = &candidates_[step.atom * atomWords_];
  const TargetGraph& target = *target_;
  if (step.parent < 0) {
    for (std::size_t w = 0; w < atomWords_ && found_ < limit_; ++w) {
      std::uint64_t bits = candidates[w] & ~used_[w];
      while (bits != 0 && found_ < limit_) {
        const int atom = static_cast<int>(w * 64) + __builtin_ctzll(bits);
        bits &= bits - 1;
        image_[step.atom] = atom;
        SetBit(used_.data(), atom);
        Extend(position + 1);
        ClearBit(used_.data(), atom);
      }
    }
    image_[step.atom] = -1;
    return;
  }
  const int from = image_[step.parent];
  const std::uint64_t* parentBonds = bondCandidates_[step.parentBond];
  for (int i = target.start[from];
       i < target.start[from + 1] && found_ < limit_; ++i) {
    const auto [atom, bond] = target.neighbours[i];
    if (!HasBit(candidates, atom) || HasBit(used_.data(), atom) ||
        !HasBit(parentBonds, bond)) {
      continue;
    }
    if (breakSymmetry_) {
      bool lowest = true;
      const int start = fragmentStart_[position];
      for (int k = step.lowerBegin; k < step.lowerEnd && lowest; ++k) {
        lowest = image_[order_[start + pattern_->lowerSteps[k]]->atom] < atom;
      }
      if (!lowest) continue;
    }
    bool closed = true;
    for (int c = step.closureBegin; c < step.closureEnd && closed; ++c) {
      const auto [other, patternBond] = pattern_->closures[c];
      const int otherImage = image_[other];
      int between = -1;
      for (int k = target.start[atom]; k < target.start[atom + 1]; ++k) {
        if (target.neighbours[k].first == otherImage) {
          between = target.neighbours[k].second;
          break;
        }
      }
      closed = between >= 0 && HasBit(bondCandidates_[patternBond], between);
    }
    if (!closed) continue;
    image_[step.atom] = atom;
    SetBit(used_.data(), atom);
    Extend(position + 1);
    ClearBit(used_.data(), atom);
  }
  image_[step.atom] = -1;
}

std::uint32_t GraphMatcher::Find(const CompiledPattern& pattern,
                                 const TargetGraph& target,
                                 TargetAnswers& answers, std::uint32_t limit,
                                 std::vector<AtomPairs>* matches) {
  limit_ = limit;
  found_ = 0;
  matches_ = matches;
  breakSymmetry_ = limit == 1 && matches == nullptr;
  if (limit == 0 || !pattern.exact || pattern.atoms.empty() ||
      pattern.atoms.size() > target.atoms.size() ||
      pattern.bonds.size() > target.bonds.size()) {
    return 0;
  }
  if (!Prepare(pattern, target, answers)) return 0;
  Extend(0);
  return found_;
}

}  // namespace zolv::rdcore

#include "rdcore/graph_match.h"

#include <GraphMol/QueryAtom.h>
#include <GraphMol/QueryBond.h>
#include <GraphMol/RDKitBase.h>
#include <GraphMol/SmilesParse/SmartsWrite.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <unordered_map>

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

int CountBits(const std::uint64_t* mask, std::size_t words) {
  int count = 0;
  for (std::size_t w = 0; w < words; ++w) count += __builtin_popcountll(mask[w]);
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

// Query texts numbered in the order first seen. Only compiling a pattern,
// once per screen structure, takes the lock; searches never do.
int QueryNumber(const std::string& text) {
  static std::mutex mutex;
  static std::unordered_map<std::string, int> numbers;
  const std::lock_guard<std::mutex> lock(mutex);
  return numbers.emplace(text, static_cast<int>(numbers.size())).first->second;
}

std::uint32_t NextSerial() {
  static std::atomic<std::uint32_t> last{0};
  std::uint32_t serial = last.fetch_add(1, std::memory_order_relaxed) + 1;
  // After four billion patterns the count wraps; 0 stays free.
  if (serial == 0) serial = last.fetch_add(1, std::memory_order_relaxed) + 1;
  return serial;
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

// Distances in bonds from one atom, by breadth-first search; atoms out of
// reach keep `far`.
template <typename Distance>
void BreadthFirstDistances(const std::vector<int>& start,
                   const std::vector<std::pair<int, int>>& neighbours,
                   int from, Distance far, Distance* row,
                   std::vector<int>& queue) {
  const int atomCount = static_cast<int>(start.size()) - 1;
  std::fill(row, row + atomCount, far);
  queue.clear();
  row[from] = 0;
  queue.push_back(from);
  for (std::size_t head = 0; head < queue.size(); ++head) {
    const int atom = queue[head];
    const Distance next = row[atom] == far - 1 ? far : row[atom] + 1;
    if (next == far) continue;
    for (int i = start[atom]; i < start[atom + 1]; ++i) {
      const int other = neighbours[i].first;
      if (row[other] == far) {
        row[other] = next;
        queue.push_back(other);
      }
    }
  }
}

// The order of one fragment from the given atom: next comes the atom with
// the most bonds to atoms already placed, so that closures prune early, then
// the most connected one.
void AppendOrder(const RDKit::ROMol& mol, const Adjacency& graph,
                 const std::vector<int>& fragment, int root,
                 CompiledPattern& pattern) {
  const int atomCount = static_cast<int>(mol.getNumAtoms());
  const int size = pattern.fragmentSize[fragment[root]];
  std::vector<int> placedBonds(atomCount, 0);
  std::vector<std::uint8_t> placed(atomCount, 0);
  std::vector<int> distance(atomCount);
  std::vector<int> queue;
  BreadthFirstDistances(graph.start, graph.neighbours, root, atomCount + 1,
                        distance.data(), queue);
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
    entry.rootDistance = distance[best];
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
      auto use = std::find_if(
          pattern.atomQueryUses.begin(), pattern.atomQueryUses.end(),
          [query](const CompiledPattern::QueryUse& u) { return u.query == query; });
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

  for (int root = 0; root < atomCount; ++root) {
    pattern.orderStart.push_back(static_cast<int>(pattern.steps.size()));
    AppendOrder(mol, graph, pattern.fragment, root, pattern);
  }
  return pattern;
}

TargetGraph BuildTargetGraph(const RDKit::ROMol& mol) {
  TargetGraph graph;
  graph.usable =
      mol.getRingInfo() != nullptr && mol.getRingInfo()->isInitialized();
  for (const RDKit::Atom* atom : mol.atoms()) graph.atoms.push_back(atom);
  for (const RDKit::Bond* bond : mol.bonds()) graph.bonds.push_back(bond);
  Adjacency adjacency = AdjacencyOf(mol);
  const std::vector<std::uint8_t> onCycle =
      BondsOnCycles(adjacency, graph.bonds.size());
  graph.start = std::move(adjacency.start);
  graph.neighbours = std::move(adjacency.neighbours);

  const std::size_t atomCount = graph.atoms.size();
  graph.atomWords = WordsFor(atomCount);
  graph.bondWords = WordsFor(graph.bonds.size());
  graph.cycleAtoms.assign(graph.atomWords, 0);
  graph.cycleBonds.assign(graph.bondWords, 0);
  graph.atomsOfDegree.assign(TargetGraph::kDegreeLevels * graph.atomWords, 0);
  for (std::size_t atom = 0; atom < atomCount; ++atom) {
    const int degree = graph.start[atom + 1] - graph.start[atom];
    for (int level = 0; level <= std::min(degree, TargetGraph::kDegreeLevels - 1);
         ++level) {
      SetBit(graph.atomsOfDegree.data() + level * graph.atomWords,
             static_cast<int>(atom));
    }
    for (int i = graph.start[atom]; i < graph.start[atom + 1]; ++i) {
      if (onCycle[graph.neighbours[i].second]) {
        SetBit(graph.cycleAtoms.data(), static_cast<int>(atom));
      }
    }
  }
  for (std::size_t bond = 0; bond < onCycle.size(); ++bond) {
    if (onCycle[bond]) SetBit(graph.cycleBonds.data(), static_cast<int>(bond));
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

bool TargetAnswers::ReserveDistances(const TargetGraph& target) {
  const std::size_t atomCount = target.atoms.size();
  if (atomCount > kMostDistanceAtoms) return false;
  if (distanceRowDone_.size() != atomCount) {
    distances_.assign(atomCount * atomCount, kFar);
    distanceRowDone_.assign(atomCount, 0);
  }
  return true;
}

const std::uint8_t* TargetAnswers::DistancesFrom(int atom,
                                                 const TargetGraph& target) {
  std::uint8_t* row = distances_.data() + atom * target.atoms.size();
  if (!distanceRowDone_[atom]) {
    std::vector<int> queue;
    queue.reserve(target.atoms.size());
    BreadthFirstDistances(target.start, target.neighbours, atom, kFar, row,
                          queue);
    distanceRowDone_[atom] = 1;
  }
  return row;
}

namespace {

std::size_t SlotOf(std::uint32_t serial, std::size_t slots) {
  // Fibonacci hashing; slots is a power of two.
  return static_cast<std::size_t>(
             (std::uint64_t{serial} * 0x9E3779B97F4A7C15ull) >> 32) &
         (slots - 1);
}

}  // namespace

int TargetAnswers::Outcome(std::uint32_t serial) const {
  if (outcomes_.empty()) return -1;
  for (std::size_t slot = SlotOf(serial, outcomes_.size());;
       slot = (slot + 1) & (outcomes_.size() - 1)) {
    const std::uint64_t entry = outcomes_[slot];
    if (entry == 0) return -1;
    if ((entry >> 1) == serial) return static_cast<int>(entry & 1);
  }
}

void TargetAnswers::RecordOutcome(std::uint32_t serial, bool occurs) {
  if (serial == 0) return;
  if (2 * (outcomeCount_ + 1) > outcomes_.size()) {
    std::vector<std::uint64_t> old = std::move(outcomes_);
    outcomes_.assign(std::max<std::size_t>(64, old.size() * 2), 0);
    outcomeCount_ = 0;
    for (const std::uint64_t entry : old) {
      if (entry != 0) RecordOutcome(static_cast<std::uint32_t>(entry >> 1),
                                    (entry & 1) != 0);
    }
  }
  for (std::size_t slot = SlotOf(serial, outcomes_.size());;
       slot = (slot + 1) & (outcomes_.size() - 1)) {
    std::uint64_t& entry = outcomes_[slot];
    if (entry == 0 || (entry >> 1) == serial) {
      if (entry == 0) ++outcomeCount_;
      entry = (std::uint64_t{serial} << 1) | (occurs ? 1 : 0);
      return;
    }
  }
}

bool GraphMatcher::Prepare(const CompiledPattern& pattern,
                           const TargetGraph& target, TargetAnswers& answers) {
  pattern_ = &pattern;
  target_ = &target;
  answers_ = &answers;
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
    if (CountBits(answers.Words(atomMaskOffsets_[i]), words) < use.count) {
      return false;
    }
  }
  bondMaskOffsets_.resize(pattern.bondQueryUses.size());
  for (std::size_t i = 0; i < pattern.bondQueryUses.size(); ++i) {
    const auto [query, bond] = pattern.bondQueryUses[i];
    bondMaskOffsets_[i] = answers.BondMask(query, *pattern.bonds[bond], target);
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
    const std::uint64_t* cycle =
        pattern.atomOnCycle[atom] ? target.cycleAtoms.data() : nullptr;
    std::uint64_t* candidates = &candidates_[atom * words];
    int count = 0;
    for (std::size_t w = 0; w < words; ++w) {
      candidates[w] = query[w] & degree[w] & (cycle ? cycle[w] : ~0ull);
      count += __builtin_popcountll(candidates[w]);
    }
    if (count == 0) return false;
    candidateCounts_[atom] = count;
  }
  bondCandidates_.resize(pattern.bonds.size() * bondWords);
  for (std::size_t bond = 0; bond < pattern.bonds.size(); ++bond) {
    const std::uint64_t* query =
        answers.Words(bondMaskOffsets_[pattern.bondUse[bond]]);
    const bool cycle = pattern.bondOnCycle[bond] != 0;
    std::uint64_t* candidates = &bondCandidates_[bond * bondWords];
    std::uint64_t any = 0;
    for (std::size_t w = 0; w < bondWords; ++w) {
      candidates[w] = query[w] & (cycle ? target.cycleBonds[w] : ~0ull);
      any |= candidates[w];
    }
    if (any == 0) return false;
  }

  // Each fragment starts at its atom with the fewest candidates, the more
  // connected one on a tie; the fragment with the fewest goes first.
  roots_.assign(pattern.fragmentCount, -1);
  for (std::size_t atom = 0; atom < atomCount; ++atom) {
    int& root = roots_[pattern.fragment[atom]];
    const int a = static_cast<int>(atom);
    if (root < 0 || candidateCounts_[a] < candidateCounts_[root] ||
        (candidateCounts_[a] == candidateCounts_[root] &&
         pattern.degree[a] > pattern.degree[root])) {
      root = a;
    }
  }
  std::stable_sort(roots_.begin(), roots_.end(), [this](int a, int b) {
    return candidateCounts_[a] < candidateCounts_[b];
  });
  const bool distances = false && answers.ReserveDistances(target);
  order_.clear();
  fragmentStart_.clear();
  checkDistance_.clear();
  for (const int root : roots_) {
    const int fragment = pattern.fragment[root];
    const int first = static_cast<int>(order_.size());
    const auto begin = pattern.steps.begin() + pattern.orderStart[root];
    order_.insert(order_.end(), begin,
                  begin + pattern.fragmentSize[fragment]);
    const bool check = distances && pattern.fragmentHasCycle[fragment] != 0;
    for (int i = 0; i < pattern.fragmentSize[fragment]; ++i) {
      fragmentStart_.push_back(first);
      checkDistance_.push_back(check && i > 0 ? 1 : 0);
    }
  }
  distanceRows_.assign(order_.size(), nullptr);
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
  const SearchStep& step = order_[position];
  const std::uint64_t* candidates = &candidates_[step.atom * atomWords_];
  const TargetGraph& target = *target_;
  if (step.parent < 0) {
    const bool keepDistances =
        position + 1 < order_.size() && checkDistance_[position + 1] != 0;
    for (std::size_t w = 0; w < atomWords_ && found_ < limit_; ++w) {
      std::uint64_t bits = candidates[w] & ~used_[w];
      while (bits != 0 && found_ < limit_) {
        const int atom = static_cast<int>(w * 64) + __builtin_ctzll(bits);
        bits &= bits - 1;
        if (keepDistances) {
          distanceRows_[position] = answers_->DistancesFrom(atom, target);
        }
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
  const std::size_t bondWords = target.bondWords;
  const std::uint64_t* parentBonds =
      &bondCandidates_[step.parentBond * bondWords];
  const std::uint8_t* distances =
      checkDistance_[position] ? distanceRows_[fragmentStart_[position]]
                               : nullptr;
  for (int i = target.start[from];
       i < target.start[from + 1] && found_ < limit_; ++i) {
    const auto [atom, bond] = target.neighbours[i];
    if (!HasBit(candidates, atom) || HasBit(used_.data(), atom) ||
        !HasBit(parentBonds, bond)) {
      continue;
    }
    if (distances != nullptr && distances[atom] > step.rootDistance) continue;
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
      closed = between >= 0 &&
               HasBit(&bondCandidates_[patternBond * bondWords], between);
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

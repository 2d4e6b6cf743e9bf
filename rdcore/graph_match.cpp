#include "graph_match.h"

#include <GraphMol/QueryAtom.h>
#include <GraphMol/QueryBond.h>
#include <GraphMol/RDKitBase.h>
#include <GraphMol/SmilesParse/SmartsWrite.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <unordered_map>

namespace zolv::rdcore {
namespace {

using AtomQuery = RDKit::Atom::QUERYATOM_QUERY;

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

}  // namespace

CompiledPattern CompilePattern(const RDKit::ROMol& mol) {
  CompiledPattern pattern;
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
  }

  // Greedy order: each fragment starts at its most connected atom; next comes
  // the atom with the most bonds to atoms already placed, so that closures
  // prune early, then the most connected one.
  std::vector<int> placedBonds(atomCount, 0);
  std::vector<std::uint8_t> placed(atomCount, 0);
  std::vector<int> position(atomCount, -1);
  for (int step = 0; step < atomCount; ++step) {
    int best = -1;
    for (int atom = 0; atom < atomCount; ++atom) {
      if (placed[atom]) continue;
      if (best < 0 || placedBonds[atom] > placedBonds[best] ||
          (placedBonds[atom] == placedBonds[best] &&
           mol.getAtomWithIdx(atom)->getDegree() >
               mol.getAtomWithIdx(best)->getDegree())) {
        best = atom;
      }
    }
    placed[best] = 1;
    position[best] = step;
    pattern.order.push_back(best);
    pattern.closureStart.push_back(static_cast<int>(pattern.closures.size()));
    int parent = -1;
    int parentBond = -1;
    for (const RDKit::Bond* bond : mol.atomBonds(mol.getAtomWithIdx(best))) {
      const int other = static_cast<int>(bond->getOtherAtomIdx(best));
      const int bondIdx = static_cast<int>(bond->getIdx());
      if (placed[other] && other != best) {
        if (parent < 0) {
          parent = other;
          parentBond = bondIdx;
        } else {
          pattern.closures.emplace_back(other, bondIdx);
        }
      } else {
        ++placedBonds[other];
      }
    }
    pattern.parent.push_back(parent);
    pattern.parentBond.push_back(parentBond);
  }
  pattern.closureStart.push_back(static_cast<int>(pattern.closures.size()));
  return pattern;
}

TargetGraph BuildTargetGraph(const RDKit::ROMol& mol) {
  TargetGraph graph;
  graph.usable =
      mol.getRingInfo() != nullptr && mol.getRingInfo()->isInitialized();
  for (const RDKit::Atom* atom : mol.atoms()) graph.atoms.push_back(atom);
  for (const RDKit::Bond* bond : mol.bonds()) graph.bonds.push_back(bond);
  graph.start.reserve(graph.atoms.size() + 1);
  for (const RDKit::Atom* atom : mol.atoms()) {
    graph.start.push_back(static_cast<int>(graph.neighbours.size()));
    for (const RDKit::Bond* bond : mol.atomBonds(atom)) {
      graph.neighbours.emplace_back(
          static_cast<int>(bond->getOtherAtomIdx(atom->getIdx())),
          static_cast<int>(bond->getIdx()));
    }
  }
  graph.start.push_back(static_cast<int>(graph.neighbours.size()));
  return graph;
}

bool GraphMatcher::AtomMatches(int patternAtom, int targetAtom) {
  std::uint8_t& answer = atomAnswers_[patternAtom][targetAtom];
  if (answer == 0) {
    answer =
        pattern_->atoms[patternAtom]->Match(target_->atoms[targetAtom]) ? 2 : 1;
  }
  return answer == 2;
}

bool GraphMatcher::BondMatches(int patternBond, int targetBond) {
  std::uint8_t& answer = bondAnswers_[patternBond][targetBond];
  if (answer == 0) {
    answer =
        pattern_->bonds[patternBond]->Match(target_->bonds[targetBond]) ? 2 : 1;
  }
  return answer == 2;
}

int GraphMatcher::BondBetween(int atom, int other) const {
  for (int i = target_->start[atom]; i < target_->start[atom + 1]; ++i) {
    if (target_->neighbours[i].first == other) {
      return target_->neighbours[i].second;
    }
  }
  return -1;
}

void GraphMatcher::Extend(std::size_t position) {
  if (position == pattern_->order.size()) {
    AtomPairs match;
    match.reserve(image_.size());
    for (std::size_t atom = 0; atom < image_.size(); ++atom) {
      match.emplace_back(static_cast<int>(atom), image_[atom]);
    }
    matches_->push_back(std::move(match));
    ++found_;
    return;
  }
  const int atom = pattern_->order[position];
  const int parent = pattern_->parent[position];
  const auto tryAtom = [&](int candidate) {
    if (used_[candidate] || !AtomMatches(atom, candidate)) return;
    for (int i = pattern_->closureStart[position];
         i < pattern_->closureStart[position + 1]; ++i) {
      const auto [other, patternBond] = pattern_->closures[i];
      const int bond = BondBetween(candidate, image_[other]);
      if (bond < 0 || !BondMatches(patternBond, bond)) return;
    }
    image_[atom] = candidate;
    used_[candidate] = 1;
    Extend(position + 1);
    used_[candidate] = 0;
    image_[atom] = -1;
  };
  if (parent < 0) {
    const int count = static_cast<int>(target_->atoms.size());
    for (int candidate = 0; candidate < count && found_ < limit_; ++candidate) {
      tryAtom(candidate);
    }
    return;
  }
  const int from = image_[parent];
  const int patternBond = pattern_->parentBond[position];
  for (int i = target_->start[from];
       i < target_->start[from + 1] && found_ < limit_; ++i) {
    const auto [candidate, bond] = target_->neighbours[i];
    if (used_[candidate] || !BondMatches(patternBond, bond)) continue;
    tryAtom(candidate);
  }
}

std::uint32_t GraphMatcher::Find(const CompiledPattern& pattern,
                                 const TargetGraph& target,
                                 TargetAnswers& answers, std::uint32_t limit,
                                 std::vector<AtomPairs>* matches) {
  pattern_ = &pattern;
  target_ = &target;
  limit_ = limit;
  found_ = 0;
  matches_ = matches;
  if (limit == 0 || pattern.atoms.empty() ||
      pattern.atoms.size() > target.atoms.size() ||
      pattern.bonds.size() > target.bonds.size()) {
    return 0;
  }
  if (!pattern.exact) return 0;
  atomAnswers_.resize(pattern.atoms.size());
  for (std::size_t atom = 0; atom < pattern.atoms.size(); ++atom) {
    atomAnswers_[atom] =
        answers.AtomRow(pattern.atomQueries[atom], target.atoms.size());
  }
  bondAnswers_.resize(pattern.bonds.size());
  for (std::size_t bond = 0; bond < pattern.bonds.size(); ++bond) {
    bondAnswers_[bond] =
        answers.BondRow(pattern.bondQueries[bond], target.bonds.size());
  }
  image_.assign(pattern.atoms.size(), -1);
  used_.assign(target.atoms.size(), 0);
  Extend(0);
  return found_;
}

}  // namespace zolv::rdcore

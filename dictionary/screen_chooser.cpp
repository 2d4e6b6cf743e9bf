#include "screen_chooser.h"

#include <GraphMol/ROMol.h>
#include <GraphMol/RingInfo.h>
#include <GraphMol/SmilesParse/SmilesWrite.h>
#include <GraphMol/Subgraphs/Subgraphs.h>
#include <GraphMol/Substruct/SubstructMatch.h>
#include <RDGeneral/RDLog.h>

#include <algorithm>
#include <bitset>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <queue>
#include <random>
#include <set>
#include <unordered_map>
#include <utility>

#include "rdkit_molecule.h"

namespace zolv {
namespace {

// A charge as SMARTS writes it: "+", "-", "+2"; empty for none.
std::string ChargeText(int charge) {
  if (charge == 0) return "";
  const std::string sign = charge > 0 ? "+" : "-";
  const int size = charge > 0 ? charge : -charge;
  return size == 1 ? sign : sign + std::to_string(size);
}

// Aromatic elements SMARTS writes as one lower-case letter. A charged atom
// keeps its charge: a query atom with a charge lies only on target atoms
// with the same charge, so the charge stays true in every target.
std::string AtomToken(const RDKit::Atom& atom) {
  const int element = atom.getAtomicNum();
  const int charge = atom.getFormalCharge();
  if (charge != 0) {
    return "[#" + std::to_string(element) + (atom.getIsAromatic() ? ";a" : "") +
           ChargeText(charge) + "]";
  }
  if (atom.getIsAromatic()) {
    switch (element) {
      case 5:
        return "b";
      case 6:
        return "c";
      case 7:
        return "n";
      case 8:
        return "o";
      case 15:
        return "p";
      case 16:
        return "s";
      default:
        return "[#" + std::to_string(element) + ";a]";
    }
  }
  // Not "C": a query's aliphatic atom may lie on an aromatic one.
  return "[#" + std::to_string(element) + "]";
}

std::string BondToken(const RDKit::Bond& bond) {
  switch (bond.getBondType()) {
    case RDKit::Bond::SINGLE:
      return "-";
    case RDKit::Bond::DOUBLE:
      return "=";
    case RDKit::Bond::TRIPLE:
      return "#";
    case RDKit::Bond::AROMATIC:
      return ":";
    default:
      return "~";
  }
}

// The path's SMARTS, read from whichever end gives the smaller text, so
// that both directions give one string.
std::string PathSmarts(const RDKit::ROMol& molecule,
                       const std::vector<int>& bonds) {
  std::vector<unsigned> atoms;
  const RDKit::Bond* first = molecule.getBondWithIdx(bonds[0]);
  unsigned start = first->getBeginAtomIdx();
  if (bonds.size() > 1) {
    const RDKit::Bond* second = molecule.getBondWithIdx(bonds[1]);
    if (start == second->getBeginAtomIdx() ||
        start == second->getEndAtomIdx()) {
      start = first->getEndAtomIdx();
    }
  }
  atoms.push_back(start);
  for (const int index : bonds) {
    atoms.push_back(
        molecule.getBondWithIdx(index)->getOtherAtomIdx(atoms.back()));
  }
  std::vector<std::string> atomTokens;
  std::vector<std::string> bondTokens;
  for (const unsigned atom : atoms) {
    atomTokens.push_back(AtomToken(*molecule.getAtomWithIdx(atom)));
  }
  for (const int index : bonds) {
    bondTokens.push_back(BondToken(*molecule.getBondWithIdx(index)));
  }
  std::string forward = atomTokens.front();
  std::string backward = atomTokens.back();
  for (std::size_t i = 0; i < bondTokens.size(); ++i) {
    forward += bondTokens[i] + atomTokens[i + 1];
    backward += bondTokens[bondTokens.size() - 1 - i] +
                atomTokens[atomTokens.size() - 2 - i];
  }
  return std::min(forward, backward);
}

// The canonical SMARTS of a connected piece given by its bonds, its atoms
// and bonds written as the paths are; atoms outside `core` (substituents)
// as any atom when `generic`.
std::string PieceSmarts(const RDKit::ROMol& molecule,
                        const std::vector<int>& bonds,
                        const std::vector<bool>* core = nullptr,
                        bool generic = false) {
  std::vector<int> atoms;
  std::vector<bool> in(molecule.getNumAtoms(), false);
  for (const int index : bonds) {
    const RDKit::Bond* bond = molecule.getBondWithIdx(index);
    for (const unsigned atom :
         {bond->getBeginAtomIdx(), bond->getEndAtomIdx()}) {
      if (!in[atom]) atoms.push_back(static_cast<int>(atom));
      in[atom] = true;
    }
  }
  std::vector<std::string> atomSymbols(molecule.getNumAtoms());
  for (const int atom : atoms) {
    atomSymbols[atom] = generic && core != nullptr && !(*core)[atom]
                            ? "*"
                            : AtomToken(*molecule.getAtomWithIdx(atom));
  }
  std::vector<std::string> bondSymbols(molecule.getNumBonds());
  for (const int index : bonds) {
    bondSymbols[index] = BondToken(*molecule.getBondWithIdx(index));
  }
  return RDKit::MolFragmentToSmiles(molecule, atoms, &bonds, &atomSymbols,
                                    &bondSymbols, /*doIsomericSmiles=*/false,
                                    /*doKekule=*/false, /*rootedAtAtom=*/-1,
                                    /*canonical=*/true,
                                    /*allBondsExplicit=*/true);
}

// Counts each piece once per molecule it lies in.
class PieceCounter {
 public:
  void StartMolecule() {
    ++molecules_;
    seen_.clear();
  }
  void Add(std::string smarts, std::size_t bonds) {
    seen_.emplace(std::move(smarts), bonds);
  }
  void EndMolecule() {
    for (const auto& [smarts, bonds] : seen_) {
      PathScreen& entry = found_[smarts];
      entry.smarts = smarts;
      entry.bonds = bonds;
      ++entry.molecules;
    }
  }
  // What lies within the shares, most frequent first, at most limit.
  std::vector<PathScreen> Keep(double minShare, double maxShare,
                               std::size_t limit) const {
    const double total =
        static_cast<double>(std::max<std::size_t>(molecules_, 1));
    std::vector<PathScreen> kept;
    for (const auto& [smarts, entry] : found_) {
      const double share = static_cast<double>(entry.molecules) / total;
      if (share >= minShare && share <= maxShare) kept.push_back(entry);
    }
    std::sort(kept.begin(), kept.end(),
              [](const PathScreen& a, const PathScreen& b) {
                return a.molecules != b.molecules ? a.molecules > b.molecules
                                                  : a.smarts < b.smarts;
              });
    if (kept.size() > limit) kept.resize(limit);
    return kept;
  }

 private:
  std::size_t molecules_ = 0;
  std::map<std::string, std::size_t> seen_;
  std::unordered_map<std::string, PathScreen> found_;
};

// Rings too large to be a screen's piece are left out.
constexpr std::size_t kMostRingAtoms = 7;
// A ring or ring pair with more substituents than this (a crowded cage) adds
// too many pieces for what it tells.
constexpr std::size_t kMostSubstituents = 10;

// The bonds that leave the atoms marked in core, each once.
std::vector<int> BondsLeaving(const RDKit::ROMol& molecule,
                              const std::vector<int>& atoms,
                              const std::vector<bool>& core) {
  std::vector<int> leaving;
  for (const int atom : atoms) {
    for (const RDKit::Bond* bond :
         molecule.atomBonds(molecule.getAtomWithIdx(atom))) {
      if (!core[bond->getOtherAtomIdx(atom)]) {
        leaving.push_back(static_cast<int>(bond->getIdx()));
      }
    }
  }
  return leaving;
}

using Bits = std::vector<std::uint64_t>;

std::uint64_t CountAndNot(const Bits& left, const Bits& right) {
  std::uint64_t count = 0;
  for (std::size_t i = 0; i < left.size(); ++i) {
    count += static_cast<std::uint64_t>(
        std::bitset<64>(left[i] & ~right[i]).count());
  }
  return count;
}

}  // namespace

std::vector<PathScreen> CollectPaths(const SampleMolecules& molecules,
                                     std::size_t minBonds, std::size_t maxBonds,
                                     double minShare, double maxShare,
                                     std::size_t limit) {
  PieceCounter counter;
  for (const RDKit::ROMol* molecule : molecules) {
    const RDKit::ROMol& mol = *molecule;
    counter.StartMolecule();
    for (std::size_t length = minBonds; length <= maxBonds; ++length) {
      for (const std::vector<int>& path : RDKit::findAllPathsOfLengthN(
               mol, static_cast<unsigned>(length), true, false)) {
        counter.Add(PathSmarts(mol, path), length);
      }
    }
    counter.EndMolecule();
  }
  return counter.Keep(minShare, maxShare, limit);
}

// Read as the core reads SMILES.
static std::unique_ptr<RDKit::ROMol> ReadSmiles(const std::string& smiles) {
  return std::move(rdcore::ReadRdkitMolecule(smiles).molecule);
}

std::optional<std::string> CanonicalSmiles(const std::string& smiles) {
  RDLog::LogStateSetter quiet;
  try {
    std::unique_ptr<RDKit::ROMol> molecule = ReadSmiles(smiles);
    if (molecule == nullptr) return std::nullopt;
    return RDKit::MolToSmiles(*molecule);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::string CanonicalSmiles(const RDKit::ROMol& molecule) {
  return RDKit::MolToSmiles(molecule);
}

std::vector<PathScreen> CollectSubgraphs(const SampleMolecules& molecules,
                                         std::size_t minBonds,
                                         std::size_t maxBonds, double minShare,
                                         double maxShare, std::size_t limit,
                                         std::size_t stride) {
  PieceCounter counter;
  for (std::size_t m = 0; m < molecules.size();
       m += std::max<std::size_t>(stride, 1)) {
    const RDKit::ROMol& molecule = *molecules[m];
    counter.StartMolecule();
    std::vector<int> degree(molecule.getNumAtoms(), 0);
    for (std::size_t length = minBonds; length <= maxBonds; ++length) {
      for (const std::vector<int>& bonds : RDKit::findAllSubgraphsOfLengthN(
               molecule, static_cast<unsigned>(length), false, -1)) {
        // Linear paths are a family of their own.
        std::size_t atoms = 0;
        bool branched = false;
        for (const int index : bonds) {
          const RDKit::Bond* bond = molecule.getBondWithIdx(index);
          for (const unsigned atom :
               {bond->getBeginAtomIdx(), bond->getEndAtomIdx()}) {
            if (degree[atom]++ == 0) ++atoms;
            branched = branched || degree[atom] > 2;
          }
        }
        for (const int index : bonds) {
          const RDKit::Bond* bond = molecule.getBondWithIdx(index);
          degree[bond->getBeginAtomIdx()] = 0;
          degree[bond->getEndAtomIdx()] = 0;
        }
        const bool linear = !branched && atoms == bonds.size() + 1;
        if (!linear) counter.Add(PieceSmarts(molecule, bonds), length);
      }
    }
    counter.EndMolecule();
  }
  return counter.Keep(minShare, maxShare, limit);
}

std::vector<PathScreen> GrowPieces(const SampleMolecules& molecules,
                                   std::size_t minBonds, std::size_t maxBonds,
                                   std::size_t perMolecule, double minShare,
                                   double maxShare, std::size_t limit,
                                   std::uint32_t seed) {
  std::mt19937 random(seed);
  PieceCounter counter;
  for (const RDKit::ROMol* pointer : molecules) {
    const RDKit::ROMol& molecule = *pointer;
    const unsigned bondCount = molecule.getNumBonds();
    counter.StartMolecule();
    if (bondCount < minBonds) {
      counter.EndMolecule();
      continue;
    }
    std::vector<bool> in(bondCount, false);
    for (std::size_t attempt = 0; attempt < perMolecule; ++attempt) {
      const std::size_t want = std::uniform_int_distribution<std::size_t>(
          minBonds, std::min<std::size_t>(maxBonds, bondCount))(random);
      std::vector<int> bonds{static_cast<int>(
          std::uniform_int_distribution<unsigned>(0, bondCount - 1)(random))};
      in[bonds[0]] = true;
      std::vector<int> frontier;
      while (bonds.size() < want) {
        frontier.clear();
        for (const int index : bonds) {
          const RDKit::Bond* bond = molecule.getBondWithIdx(index);
          for (const unsigned atom :
               {bond->getBeginAtomIdx(), bond->getEndAtomIdx()}) {
            for (const RDKit::Bond* next :
                 molecule.atomBonds(molecule.getAtomWithIdx(atom))) {
              if (!in[next->getIdx()]) {
                frontier.push_back(static_cast<int>(next->getIdx()));
              }
            }
          }
        }
        if (frontier.empty()) break;
        const int next = frontier[std::uniform_int_distribution<std::size_t>(
            0, frontier.size() - 1)(random)];
        in[next] = true;
        bonds.push_back(next);
      }
      if (bonds.size() >= minBonds) {
        counter.Add(PieceSmarts(molecule, bonds), bonds.size());
      }
      for (const int index : bonds) in[index] = false;
    }
    counter.EndMolecule();
  }
  return counter.Keep(minShare, maxShare, limit);
}

std::vector<PathScreen> CollectRingPieces(const SampleMolecules& molecules,
                                          RingPiece kind, double minShare,
                                          double maxShare, std::size_t limit,
                                          std::size_t stride) {
  PieceCounter counter;
  for (std::size_t m = 0; m < molecules.size();
       m += std::max<std::size_t>(stride, 1)) {
    const RDKit::ROMol& molecule = *molecules[m];
    const RDKit::RingInfo* rings = molecule.getRingInfo();
    const auto& atomRings = rings->atomRings();
    const auto& bondRings = rings->bondRings();
    counter.StartMolecule();
    std::vector<bool> core(molecule.getNumAtoms(), false);
    // Adds the piece of `bonds` with the substituent bonds `extra`.
    const auto add = [&](std::vector<int> bonds, const std::vector<int>& extra,
                         bool alsoGeneric) {
      bonds.insert(bonds.end(), extra.begin(), extra.end());
      counter.Add(PieceSmarts(molecule, bonds, &core, false), bonds.size());
      if (alsoGeneric && !extra.empty()) {
        counter.Add(PieceSmarts(molecule, bonds, &core, true), bonds.size());
      }
    };
    for (std::size_t r = 0; r < atomRings.size(); ++r) {
      if (atomRings[r].size() > kMostRingAtoms) continue;
      if (kind == RingPiece::kFusedPairs) {
        for (std::size_t o = r + 1; o < atomRings.size(); ++o) {
          if (atomRings[o].size() > kMostRingAtoms) continue;
          const std::vector<int>& a = bondRings[r];
          const std::vector<int>& b = bondRings[o];
          bool fused = false;
          for (const int bond : b) {
            fused = fused || std::find(a.begin(), a.end(), bond) != a.end();
          }
          if (!fused) continue;
          std::vector<int> bonds = a;
          for (const int bond : b) {
            if (std::find(a.begin(), a.end(), bond) == a.end()) {
              bonds.push_back(bond);
            }
          }
          std::vector<int> atoms = atomRings[r];
          for (const int atom : atomRings[o]) {
            if (std::find(atoms.begin(), atoms.end(), atom) == atoms.end()) {
              atoms.push_back(atom);
            }
          }
          for (const int atom : atoms) core[atom] = true;
          const std::vector<int> leaving = BondsLeaving(molecule, atoms, core);
          add(bonds, {}, false);
          if (leaving.size() <= kMostSubstituents) {
            for (const int bond : leaving) add(bonds, {bond}, false);
          }
          for (const int atom : atoms) core[atom] = false;
        }
        continue;
      }
      const std::vector<int>& atoms = atomRings[r];
      for (const int atom : atoms) core[atom] = true;
      const std::vector<int> leaving = BondsLeaving(molecule, atoms, core);
      if (leaving.size() <= kMostSubstituents) {
        for (std::size_t i = 0; i < leaving.size(); ++i) {
          if (kind == RingPiece::kSubstituents) {
            for (std::size_t j = i; j < leaving.size(); ++j) {
              add(bondRings[r],
                  j == i ? std::vector<int>{leaving[i]}
                         : std::vector<int>{leaving[i], leaving[j]},
                  true);
            }
            continue;
          }
          // kArms: the substituent atom and each of its other neighbours
          // outside the ring.
          const RDKit::Bond* first = molecule.getBondWithIdx(leaving[i]);
          const unsigned ringAtom = core[first->getBeginAtomIdx()]
                                        ? first->getBeginAtomIdx()
                                        : first->getEndAtomIdx();
          const unsigned armAtom = first->getOtherAtomIdx(ringAtom);
          for (const RDKit::Bond* second :
               molecule.atomBonds(molecule.getAtomWithIdx(armAtom))) {
            if (second == first || core[second->getOtherAtomIdx(armAtom)]) {
              continue;
            }
            add(bondRings[r], {leaving[i], static_cast<int>(second->getIdx())},
                false);
          }
        }
      }
      for (const int atom : atoms) core[atom] = false;
    }
    counter.EndMolecule();
  }
  return counter.Keep(minShare, maxShare, limit);
}

std::optional<double> MatchMicroseconds(const std::string& smarts,
                                        const SampleMolecules& molecules,
                                        std::size_t limit) {
  const std::unique_ptr<RDKit::ROMol> pattern = std::move(
      rdcore::ReadRdkitMolecule(smarts, {rdcore::Notation::kSmarts}).molecule);
  if (pattern == nullptr) return std::nullopt;
  RDKit::SubstructMatchParameters first;
  first.uniquify = false;
  first.maxMatches = 1;
  const std::size_t timed = std::min(limit, molecules.size());
  if (timed == 0) return 0.0;
  // The best of three passes: what the pattern costs, not what other
  // processes on the machine cost.
  double best = 0;
  for (int pass = 0; pass < 3; ++pass) {
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t m = 0; m < timed; ++m) {
      RDKit::SubstructMatch(*molecules[m], *pattern, first);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
            .count();
    if (pass == 0 || seconds < best) best = seconds;
  }
  return best * 1e6 / static_cast<double>(timed);
}

std::vector<std::string> CutPieces(const SampleMolecules& molecules,
                                   std::size_t perMolecule,
                                   std::size_t minAtoms, std::size_t maxAtoms,
                                   std::uint32_t seed) {
  RDLog::LogStateSetter quiet;
  std::mt19937 random(seed);
  std::vector<std::string> pieces;
  for (const RDKit::ROMol* molecule : molecules) {
    const RDKit::ROMol& mol = *molecule;
    const unsigned atomCount = mol.getNumAtoms();
    if (atomCount < minAtoms) continue;
    const RDKit::RingInfo* rings = mol.getRingInfo();
    for (std::size_t n = 0; n < perMolecule; ++n) {
      const std::size_t want = std::uniform_int_distribution<std::size_t>(
          minAtoms, std::min<std::size_t>(maxAtoms, atomCount))(random);
      std::vector<bool> in(atomCount, false);
      std::vector<unsigned> members{static_cast<unsigned>(
          std::uniform_int_distribution<unsigned>(0, atomCount - 1)(random))};
      in[members[0]] = true;
      while (members.size() < want) {
        std::vector<unsigned> frontier;
        for (const unsigned atom : members) {
          for (const auto& neighbor : boost::make_iterator_range(
                   mol.getAtomNeighbors(mol.getAtomWithIdx(atom)))) {
            if (!in[neighbor])
              frontier.push_back(static_cast<unsigned>(neighbor));
          }
        }
        if (frontier.empty()) break;
        const unsigned next =
            frontier[std::uniform_int_distribution<std::size_t>(
                0, frontier.size() - 1)(random)];
        in[next] = true;
        members.push_back(next);
      }
      // Whole aromatic rings, until no piece of one is left.
      for (bool grown = true; grown;) {
        grown = false;
        for (const std::vector<int>& ring : rings->atomRings()) {
          bool touches = false;
          bool aromatic = false;
          for (const int atom : ring) {
            touches = touches || in[atom];
            aromatic = aromatic || mol.getAtomWithIdx(atom)->getIsAromatic();
          }
          if (!touches || !aromatic) continue;
          for (const int atom : ring) {
            if (!in[atom]) {
              in[atom] = true;
              grown = true;
            }
          }
        }
      }
      std::vector<int> atoms;
      for (unsigned atom = 0; atom < atomCount; ++atom) {
        if (in[atom]) atoms.push_back(static_cast<int>(atom));
      }
      std::string smiles;
      try {
        smiles = RDKit::MolFragmentToSmiles(mol, atoms);
        std::unique_ptr<RDKit::ROMol> check = ReadSmiles(smiles);
        if (check == nullptr) smiles.clear();
      } catch (const std::exception&) {
        smiles.clear();
      }
      if (!smiles.empty()) pieces.push_back(smiles);
    }
  }
  return pieces;
}

ChoiceResult ChooseScreens(const ChoiceInput& input) {
  const std::size_t targets = input.targetScreens.size();
  const std::size_t words = (targets + 63) / 64;
  // Per candidate: the targets holding it, and the queries holding it.
  std::vector<Bits> holders(input.candidates, Bits(words, 0));
  std::vector<std::vector<std::uint32_t>> askers(input.candidates);
  for (std::size_t t = 0; t < targets; ++t) {
    for (const std::uint16_t s : input.targetScreens[t]) {
      holders[s][t / 64] |= std::uint64_t{1} << (t % 64);
    }
  }
  for (std::size_t q = 0; q < input.queryScreens.size(); ++q) {
    for (const std::uint16_t s : input.queryScreens[q]) {
      askers[s].push_back(static_cast<std::uint32_t>(q));
    }
  }
  // Per query: the targets no chosen screen removed yet, as bits, their
  // count, and once few are left also as a list, which is then faster to
  // test than the words.
  Bits all(words, ~std::uint64_t{0});
  if (targets % 64 != 0) all.back() = (std::uint64_t{1} << (targets % 64)) - 1;
  std::vector<Bits> left(input.queryScreens.size(), all);
  std::vector<std::uint32_t> leftCount(input.queryScreens.size(),
                                       static_cast<std::uint32_t>(targets));
  constexpr std::uint32_t kListBelow = 48;
  std::vector<std::uint32_t> everyTarget;
  if (targets < kListBelow) {
    for (std::size_t t = 0; t < targets; ++t) {
      everyTarget.push_back(static_cast<std::uint32_t>(t));
    }
  }
  std::vector<std::vector<std::uint32_t>> leftList(input.queryScreens.size(),
                                                   everyTarget);

  // Gains decide; between equal gains (once the sample can tell no more
  // apart) the screen whose share of the targets carries the most
  // information wins.
  std::vector<double> tieBreak(input.candidates, 0);
  for (std::size_t s = 0; s < input.candidates; ++s) {
    std::uint64_t held = 0;
    for (const std::uint64_t word : holders[s]) {
      held += static_cast<std::uint64_t>(std::bitset<64>(word).count());
    }
    const double p = targets == 0 ? 0 : double(held) / double(targets);
    tieBreak[s] =
        p <= 0 || p >= 1 ? 0 : -(p * std::log2(p) + (1 - p) * std::log2(1 - p));
  }
  const auto removedFrom = [&](std::uint32_t q,
                               std::size_t s) -> std::uint64_t {
    if (leftCount[q] == 0) return 0;
    if (leftCount[q] < kListBelow) {
      std::uint64_t removed = 0;
      for (const std::uint32_t t : leftList[q]) {
        if ((holders[s][t / 64] >> (t % 64) & 1) == 0) ++removed;
      }
      return removed;
    }
    return CountAndNot(left[q], holders[s]);
  };
  const auto gainOf = [&](std::size_t s) {
    double gain = 0;
    for (const std::uint32_t q : askers[s]) {
      const std::uint64_t removed = removedFrom(q, s);
      if (removed == 0) continue;
      gain += input.logObjective
                  ? std::log(double(leftCount[q]) + 1) -
                        std::log(double(leftCount[q] - removed) + 1)
                  : double(removed);
    }
    return gain;
  };
  // The tie-break stays below the smallest step of a gain.
  const double tieScale = input.logObjective ? 1e-6 : 0.25;
  const auto keyOf = [&](std::size_t s, double gain) {
    return gain + tieScale * tieBreak[s];
  };
  // Lazy greedy: with pairs a candidate's gain only shrinks as others are
  // chosen, so a stale gain is an upper bound. With the log objective a gain
  // can grow (a query's few targets left make each removal count more), so
  // every gain is computed afresh after the first choices and then at
  // intervals, which costs a pass over all candidates each time.
  std::vector<bool> excluded(input.candidates, false);
  using Heap = std::priority_queue<std::pair<double, std::size_t>>;
  const auto freshHeap = [&] {
    Heap fresh;
    for (std::size_t s = 0; s < input.candidates; ++s) {
      if (input.allowed[s] && !excluded[s]) {
        fresh.push({keyOf(s, gainOf(s)), s});
      }
    }
    return fresh;
  };
  const auto refreshAfter = [&](std::size_t chosen) {
    constexpr std::size_t kEvery = 32;
    return input.logObjective &&
           (chosen % kEvery == 0 ||
            (chosen < kEvery && (chosen & (chosen - 1)) == 0));
  };
  Heap heap = freshHeap();
  const auto impliedBy = [&](std::size_t a, std::size_t b) {
    const auto& list = input.implied[a];
    return std::find(list.begin(), list.end(), b) != list.end();
  };

  ChoiceResult result;
  result.pairs = static_cast<std::uint64_t>(targets) *
                 static_cast<std::uint64_t>(input.queryScreens.size());
  while (result.chosen.size() < input.count && !heap.empty()) {
    const std::size_t s = heap.top().second;
    heap.pop();
    if (excluded[s]) continue;
    const double gain = gainOf(s);
    if (!heap.empty() && keyOf(s, gain) < heap.top().first) {
      heap.push({keyOf(s, gain), s});
      continue;
    }
    std::uint64_t removedPairs = 0;
    for (const std::uint32_t q : askers[s]) {
      const std::uint64_t removed = removedFrom(q, s);
      if (removed == 0) continue;
      removedPairs += removed;
      leftCount[q] -= static_cast<std::uint32_t>(removed);
      for (std::size_t w = 0; w < words; ++w) left[q][w] &= holders[s][w];
      if (leftCount[q] < kListBelow) {
        leftList[q].clear();
        for (std::size_t w = 0; w < words; ++w) {
          for (std::uint64_t word = left[q][w]; word != 0; word &= word - 1) {
            leftList[q].push_back(static_cast<std::uint32_t>(
                w * 64 + static_cast<std::size_t>(__builtin_ctzll(word))));
          }
        }
      }
    }
    result.chosen.push_back(s);
    result.gains.push_back(removedPairs);
    excluded[s] = true;
    for (std::size_t other = 0; other < input.candidates; ++other) {
      if (!excluded[other] && impliedBy(s, other) && impliedBy(other, s)) {
        excluded[other] = true;
      }
    }
    if (refreshAfter(result.chosen.size())) heap = freshHeap();
  }
  for (const std::uint32_t count : leftCount) result.remaining += count;
  return result;
}

std::vector<std::size_t> WrittenCounts(const ChoiceInput& input,
                                       const std::vector<std::size_t>& chosen) {
  std::vector<bool> isChosen(input.candidates, false);
  for (const std::size_t s : chosen) isChosen[s] = true;
  std::vector<std::size_t> counts(input.candidates, 0);
  for (const std::vector<std::uint16_t>& found : input.queryScreens) {
    std::vector<bool> shadowed(input.candidates, false);
    for (const std::uint16_t s : found) {
      if (!isChosen[s]) continue;
      for (const std::uint16_t implied : input.implied[s]) {
        if (implied != s) shadowed[implied] = true;
      }
    }
    for (const std::uint16_t s : found) {
      if (isChosen[s] && !shadowed[s]) ++counts[s];
    }
  }
  return counts;
}

bool IsBlurredNumber(std::size_t number) {
  return std::find(std::begin(kBlurredNumbers), std::end(kBlurredNumbers),
                   number % 256) != std::end(kBlurredNumbers);
}

namespace {

constexpr std::size_t kUnnumbered = SIZE_MAX;

// Entry n - 1: the index into chosen of screen n, for the blurred numbers
// only; they go to the chosen screens that queries write least often.
std::vector<std::size_t> NumberBlurred(const ChoiceInput& input,
                                       const std::vector<std::size_t>& chosen) {
  const std::vector<std::size_t> written = WrittenCounts(input, chosen);
  std::vector<std::size_t> byUse(chosen.size());
  for (std::size_t i = 0; i < byUse.size(); ++i) byUse[i] = i;
  std::stable_sort(byUse.begin(), byUse.end(),
                   [&](std::size_t a, std::size_t b) {
                     return written[chosen[a]] < written[chosen[b]];
                   });
  std::vector<std::size_t> numbered(chosen.size(), kUnnumbered);
  std::size_t next = 0;
  for (std::size_t number = 1; number <= chosen.size(); ++number) {
    if (IsBlurredNumber(number)) numbered[number - 1] = byUse[next++];
  }
  return numbered;
}

// Every screen's bit set over the chosen screens' ranks, for at most `most`
// of the lists, evenly spread.
std::vector<Bits> RankSets(const std::vector<std::vector<std::uint16_t>>& lists,
                           const std::vector<std::size_t>& rank,
                           std::size_t words, std::size_t most) {
  std::vector<Bits> sets;
  const std::size_t stride =
      std::max<std::size_t>(1, lists.size() / std::max<std::size_t>(most, 1));
  for (std::size_t i = 0; i < lists.size(); i += stride) {
    Bits bits(words, 0);
    for (const std::uint16_t s : lists[i]) {
      if (rank[s] != kUnnumbered) {
        bits[rank[s] / 64] |= std::uint64_t{1} << (rank[s] % 64);
      }
    }
    sets.push_back(std::move(bits));
  }
  return sets;
}

}  // namespace

std::vector<std::size_t> NumberChosen(const ChoiceInput& input,
                                      const std::vector<std::size_t>& chosen) {
  std::vector<std::size_t> numbered = NumberBlurred(input, chosen);
  std::vector<bool> placed(chosen.size(), false);
  for (const std::size_t index : numbered) {
    if (index != kUnnumbered) placed[index] = true;
  }
  std::size_t fill = 0;
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    if (placed[i]) continue;
    while (numbered[fill] != kUnnumbered) ++fill;
    numbered[fill] = i;
  }
  for (std::size_t& entry : numbered) entry = chosen[entry];
  return numbered;
}

std::vector<std::size_t> NumberByCost(const ChoiceInput& input,
                                      const std::vector<std::size_t>& chosen,
                                      std::size_t most) {
  const std::size_t n = chosen.size();
  std::vector<std::size_t> numbered = NumberBlurred(input, chosen);
  std::vector<bool> placed(n, false);
  for (const std::size_t index : numbered) {
    if (index != kUnnumbered) placed[index] = true;
  }
  std::vector<std::size_t> rank(input.candidates, kUnnumbered);
  for (std::size_t i = 0; i < n; ++i) rank[chosen[i]] = i;
  const std::size_t words = (n + 63) / 64;
  const std::vector<Bits> targets =
      RankSets(input.targetScreens, rank, words, most);
  const std::vector<Bits> queries =
      RankSets(input.queryScreens, rank, words, most);
  std::vector<std::vector<std::uint32_t>> targetLists(targets.size());
  for (std::size_t t = 0; t < targets.size(); ++t) {
    for (std::size_t w = 0; w < words; ++w) {
      for (std::uint64_t word = targets[t][w]; word != 0; word &= word - 1) {
        targetLists[t].push_back(static_cast<std::uint32_t>(
            w * 64 + static_cast<std::size_t>(__builtin_ctzll(word))));
      }
    }
  }
  // cost[a * n + b]: the pairs lost when a and b share a character or
  // position; alone[a]: the pairs a alone removes.
  std::vector<double> cost(n * n, 0);
  std::vector<double> alone(n, 0);
  for (const Bits& query : queries) {
    for (std::size_t t = 0; t < targets.size(); ++t) {
      std::size_t removers = 0;
      std::size_t remover = 0;
      for (std::size_t w = 0; w < words && removers < 2; ++w) {
        const std::uint64_t missing = query[w] & ~targets[t][w];
        if (missing == 0) continue;
        removers += static_cast<std::size_t>(__builtin_popcountll(missing));
        remover = w * 64 + static_cast<std::size_t>(__builtin_ctzll(missing));
      }
      if (removers != 1) continue;
      alone[remover] += 1;
      for (const std::uint32_t b : targetLists[t]) {
        cost[remover * n + b] += 1;
        cost[b * n + remover] += 1;
      }
    }
  }
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < n; ++i) {
    if (!placed[i]) order.push_back(i);
  }
  std::stable_sort(
      order.begin(), order.end(),
      [&](std::size_t a, std::size_t b) { return alone[a] > alone[b]; });
  for (const std::size_t a : order) {
    double best = 0;
    std::size_t bestNumber = 0;
    for (std::size_t number = 1; number <= n; ++number) {
      if (numbered[number - 1] != kUnnumbered) continue;
      double total = 0;
      const std::size_t position = AlphabetPosition(number);
      if (position == 64) {
        total = alone[a];  // never written in the alphabet variant
      } else {
        for (std::size_t other = position; other <= n; other += 64) {
          if (numbered[other - 1] != kUnnumbered) {
            total += cost[a * n + numbered[other - 1]];
          }
        }
      }
      for (std::size_t other = number % 256; other <= n; other += 256) {
        if (other != 0 && numbered[other - 1] != kUnnumbered) {
          total += cost[a * n + numbered[other - 1]];
        }
      }
      if (bestNumber == 0 || total < best) {
        best = total;
        bestNumber = number;
      }
    }
    numbered[bestNumber - 1] = a;
  }
  for (std::size_t& entry : numbered) entry = chosen[entry];
  return numbered;
}

}  // namespace zolv

#include "screen_chooser.h"

#include <GraphMol/ROMol.h>
#include <GraphMol/RingInfo.h>
#include <GraphMol/SmilesParse/SmilesParse.h>
#include <GraphMol/SmilesParse/SmilesWrite.h>
#include <GraphMol/Subgraphs/Subgraphs.h>
#include <GraphMol/Substruct/SubstructMatch.h>
#include <RDGeneral/RDLog.h>

#include <algorithm>
#include <bitset>
#include <chrono>
#include <cstdint>
#include <cmath>
#include <exception>
#include <map>
#include <memory>
#include <queue>
#include <random>
#include <set>
#include <unordered_map>
#include <utility>

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
  std::unordered_map<std::string, PathScreen> paths;
  for (const RDKit::ROMol* molecule : molecules) {
    const RDKit::ROMol& mol = *molecule;
    std::map<std::string, std::size_t> seen;  // each path once per molecule
    for (std::size_t length = minBonds; length <= maxBonds; ++length) {
      for (const std::vector<int>& path : RDKit::findAllPathsOfLengthN(
               mol, static_cast<unsigned>(length), true, false)) {
        seen.emplace(PathSmarts(mol, path), length);
      }
    }
    for (const auto& [smarts, length] : seen) {
      PathScreen& entry = paths[smarts];
      entry.smarts = smarts;
      entry.bonds = length;
      ++entry.molecules;
    }
  }
  const double total =
      static_cast<double>(std::max<std::size_t>(molecules.size(), 1));
  std::vector<PathScreen> kept;
  for (auto& [smarts, entry] : paths) {
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

std::optional<double> MatchMicroseconds(const std::string& smarts,
                                        const SampleMolecules& molecules,
                                        std::size_t limit) {
  std::unique_ptr<RDKit::ROMol> pattern;
  try {
    pattern.reset(RDKit::SmartsToMol(smarts));
  } catch (const std::exception&) {
  }
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
        std::unique_ptr<RDKit::ROMol> check(RDKit::SmilesToMol(smiles));
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
  // Pairs left per query: the targets no chosen screen removed yet.
  Bits all(words, ~std::uint64_t{0});
  if (targets % 64 != 0) all.back() = (std::uint64_t{1} << (targets % 64)) - 1;
  std::vector<Bits> left(input.queryScreens.size(), all);

  // Gains decide; between equal gains (once the sample can tell no more
  // apart) the screen whose share of the targets carries the most
  // information wins, in the low bits of the key.
  constexpr std::uint64_t kTieBits = 20;
  std::vector<std::uint64_t> tieBreak(input.candidates, 0);
  for (std::size_t s = 0; s < input.candidates; ++s) {
    std::uint64_t held = 0;
    for (const std::uint64_t word : holders[s]) {
      held += static_cast<std::uint64_t>(std::bitset<64>(word).count());
    }
    const double p = targets == 0 ? 0 : double(held) / double(targets);
    const double entropy =
        p <= 0 || p >= 1 ? 0 : -(p * std::log2(p) + (1 - p) * std::log2(1 - p));
    tieBreak[s] = static_cast<std::uint64_t>(
        entropy * double((std::uint64_t{1} << kTieBits) - 1));
  }
  const auto gainOf = [&](std::size_t s) {
    std::uint64_t gain = 0;
    for (const std::uint32_t q : askers[s]) {
      gain += CountAndNot(left[q], holders[s]);
    }
    return gain;
  };
  const auto keyOf = [&](std::size_t s, std::uint64_t gain) {
    return (gain << kTieBits) | tieBreak[s];
  };
  // Lazy greedy: a candidate's gain only shrinks as others are chosen, so a
  // stale gain is an upper bound.
  std::priority_queue<std::pair<std::uint64_t, std::size_t>> heap;
  for (std::size_t s = 0; s < input.candidates; ++s) {
    if (input.allowed[s]) heap.push({keyOf(s, gainOf(s)), s});
  }
  std::vector<bool> excluded(input.candidates, false);
  const auto impliedBy = [&](std::size_t a, std::size_t b) {
    const auto& list = input.implied[a];
    return std::find(list.begin(), list.end(), b) != list.end();
  };

  ChoiceResult result;
  result.pairs = static_cast<std::uint64_t>(targets) *
                 static_cast<std::uint64_t>(input.queryScreens.size());
  while (result.chosen.size() < input.count && !heap.empty()) {
    auto [stale, s] = heap.top();
    heap.pop();
    if (excluded[s]) continue;
    const std::uint64_t gain = gainOf(s);
    if (!heap.empty() && keyOf(s, gain) < heap.top().first) {
      heap.push({keyOf(s, gain), s});
      continue;
    }
    result.chosen.push_back(s);
    result.gains.push_back(gain);
    excluded[s] = true;
    for (const std::uint32_t q : askers[s]) {
      for (std::size_t w = 0; w < words; ++w) left[q][w] &= holders[s][w];
    }
    for (std::size_t other = 0; other < input.candidates; ++other) {
      if (!excluded[other] && impliedBy(s, other) && impliedBy(other, s)) {
        excluded[other] = true;
      }
    }
  }
  for (const Bits& bits : left) {
    for (const std::uint64_t word : bits) {
      result.remaining +=
          static_cast<std::uint64_t>(std::bitset<64>(word).count());
    }
  }
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

std::vector<std::size_t> NumberChosen(const ChoiceInput& input,
                                      const std::vector<std::size_t>& chosen) {
  const std::vector<std::size_t> written = WrittenCounts(input, chosen);
  std::vector<std::size_t> byUse = chosen;
  std::stable_sort(
      byUse.begin(), byUse.end(),
      [&](std::size_t a, std::size_t b) { return written[a] < written[b]; });
  constexpr std::size_t kUnnumbered = SIZE_MAX;
  std::vector<std::size_t> numbered(chosen.size(), kUnnumbered);
  std::set<std::size_t> placed;
  std::size_t next = 0;
  for (const std::uint16_t number : kBlurredNumbers) {
    if (number > numbered.size()) break;
    numbered[number - 1] = byUse[next];
    placed.insert(byUse[next]);
    ++next;
  }
  std::size_t fill = 0;
  for (const std::size_t s : chosen) {
    if (placed.count(s) != 0) continue;
    while (numbered[fill] != kUnnumbered) ++fill;
    numbered[fill] = s;
  }
  return numbered;
}

}  // namespace zolv

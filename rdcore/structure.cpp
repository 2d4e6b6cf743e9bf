#include "structure.h"

#include <GraphMol/MolOps.h>
#include <GraphMol/RDKitBase.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string>
#include <utility>

#include "element_table.h"
#include "query_facts.h"
#include "rdkit_molecule.h"

namespace zolv::rdcore {
namespace {

using ElementCounts = std::array<std::uint32_t, kElementCount + 1>;

int CountedOrderOf(int bondType) {
  switch (bondType) {
    case RDKit::Bond::SINGLE:
      return static_cast<int>(CountedOrder::kSingle);
    case RDKit::Bond::DOUBLE:
      return static_cast<int>(CountedOrder::kDouble);
    case RDKit::Bond::TRIPLE:
      return static_cast<int>(CountedOrder::kTriple);
    case RDKit::Bond::AROMATIC:
      return static_cast<int>(CountedOrder::kAromatic);
    default:
      return -1;
  }
}

std::vector<ElementCount> ElementList(const ElementCounts& counts) {
  std::vector<ElementCount> list;
  for (int element = 1; element <= kElementCount; ++element) {
    if (counts[element] != 0) {
      list.push_back({static_cast<std::uint8_t>(element), counts[element]});
    }
  }
  return list;
}

bool InRing(const RDKit::ROMol& mol, const RDKit::Bond& bond) {
  return mol.getRingInfo()->numBondRings(bond.getIdx()) != 0;
}

void Include(ElementMask& mask, const ElementMask& elements) {
  mask[0] |= elements[0];
  mask[1] |= elements[1];
}

std::uint64_t RingSizeBit(int size) {
  return size > 0 && size < 64 ? std::uint64_t{1} << size : 0;
}

// The size of the smallest ring, 0 without rings. The smallest cycle of a
// graph is always among the rings that RDKit finds.
std::uint32_t SmallestRing(const RDKit::ROMol& mol) {
  std::uint32_t smallest = 0;
  for (const auto& ring : mol.getRingInfo()->atomRings()) {
    const auto size = static_cast<std::uint32_t>(ring.size());
    if (smallest == 0 || size < smallest) smallest = size;
  }
  return smallest;
}

// What a pattern needs in any structure it occurs in: only what its atom and
// bond queries make certain, since the search reads nothing else.
PrescreenSummary PatternSummary(const RDKit::ROMol& pattern) {
  PrescreenSummary summary;
  summary.known = true;
  summary.atoms = pattern.getNumAtoms();
  summary.bonds = pattern.getNumBonds();
  summary.smallestRing = SmallestRing(pattern);
  ElementCounts counts{};
  std::vector<AtomFacts> facts;
  facts.reserve(pattern.getNumAtoms());
  for (const RDKit::Atom* atom : pattern.atoms()) {
    facts.push_back(FactsOf(*atom));
    const AtomFacts& atomFacts = facts.back();
    ++counts[atomFacts.element];
    if (atomFacts.element == 0 && atomFacts.allowed != kAllElements &&
        std::find(summary.elementChoices.begin(), summary.elementChoices.end(),
                  atomFacts.allowed) == summary.elementChoices.end()) {
      summary.elementChoices.push_back(atomFacts.allowed);
    }
    if (atomFacts.aromatic == true) ++summary.aromaticAtoms;
    if (atomFacts.aromatic == false) ++summary.aliphaticAtoms;
    if (atomFacts.charge.value_or(0) != 0) ++summary.chargedAtoms;
    if (atomFacts.isotope.value_or(0) != 0) ++summary.isotopeAtoms;
    if (atomFacts.hydrogens.value_or(0) > 0) ++summary.hydrogenBearingAtoms;
    if (atomFacts.element != 0) {
      const ElementMask bit = ElementBit(atomFacts.element);
      if (atomFacts.aromatic == true) Include(summary.aromaticElements, bit);
      if (atomFacts.hydrogens.value_or(0) > 0) {
        Include(summary.hydrogenBearingElements, bit);
      }
    }
    summary.smallestRingSizes |=
        RingSizeBit(atomFacts.smallestRing.value_or(0));
  }
  counts[0] = 0;
  summary.elements = ElementList(counts);
  for (const RDKit::Bond* bond : pattern.bonds()) {
    const BondFacts bondFacts = FactsOf(*bond);
    const AtomFacts& begin = facts[bond->getBeginAtomIdx()];
    const AtomFacts& end = facts[bond->getEndAtomIdx()];
    // A cycle of the pattern lands on a cycle of the structure.
    if (bondFacts.inRing || InRing(pattern, *bond)) {
      ++summary.ringBonds;
      if (begin.aromatic == false && end.aromatic == false) {
        ++summary.aliphaticRingBonds;
      }
    }
    // A plain pattern bond also matches a bond of unspecified type.
    if (!bond->hasQuery()) continue;
    const int order = CountedOrderOf(SingleOrder(bondFacts.orders));
    if (order < 0) continue;
    ++summary.bondsByOrder[order];
    if (begin.element != 0 && end.element != 0) {
      summary.bondKinds |= BondKindBit(begin.element, end.element,
                                       static_cast<CountedOrder>(order));
    }
  }
  return summary;
}

// What a molecule has, read from the same fields that a pattern's queries
// read when they are searched in it.
PrescreenSummary MoleculeSummary(const RDKit::ROMol& mol) {
  PrescreenSummary summary;
  summary.known = true;
  summary.atoms = mol.getNumAtoms();
  summary.bonds = mol.getNumBonds();
  summary.smallestRing = SmallestRing(mol);
  const RDKit::RingInfo& rings = *mol.getRingInfo();
  ElementCounts counts{};
  for (const RDKit::Atom* atom : mol.atoms()) {
    const int element = atom->getAtomicNum();
    if (element >= 1 && element <= kElementCount) ++counts[element];
    const ElementMask bit = ElementBit(element);
    Include(summary.elementsPresent, bit);
    if (atom->getIsAromatic()) {
      ++summary.aromaticAtoms;
      Include(summary.aromaticElements, bit);
    } else {
      ++summary.aliphaticAtoms;
    }
    if (atom->getFormalCharge() != 0) ++summary.chargedAtoms;
    if (atom->getIsotope() != 0) ++summary.isotopeAtoms;
    if (atom->getTotalNumHs(true) > 0) {
      ++summary.hydrogenBearingAtoms;
      Include(summary.hydrogenBearingElements, bit);
    }
    summary.smallestRingSizes |=
        RingSizeBit(static_cast<int>(rings.minAtomRingSize(atom->getIdx())));
  }
  summary.elements = ElementList(counts);
  for (const RDKit::Bond* bond : mol.bonds()) {
    const RDKit::Atom* begin = bond->getBeginAtom();
    const RDKit::Atom* end = bond->getEndAtom();
    if (InRing(mol, *bond)) {
      ++summary.ringBonds;
      if (!begin->getIsAromatic() && !end->getIsAromatic()) {
        ++summary.aliphaticRingBonds;
      }
    }
    const int order = CountedOrderOf(bond->getBondType());
    if (order < 0) continue;
    ++summary.bondsByOrder[order];
    summary.bondKinds |= BondKindBit(begin->getAtomicNum(), end->getAtomicNum(),
                                     static_cast<CountedOrder>(order));
  }
  return summary;
}

// Hill order: carbon, then hydrogen, then the rest alphabetically; without
// carbon, everything alphabetically. Counts of 1 carry no digits.
std::string HillFormula(const ElementCounts& counts, int charge) {
  std::vector<std::string_view> symbols;
  for (int element = 1; element <= kElementCount; ++element) {
    if (counts[element] == 0) continue;
    if (counts[6] != 0 && (element == 6 || element == 1)) continue;
    symbols.push_back(ElementSymbol(element));
  }
  std::sort(symbols.begin(), symbols.end());
  if (counts[6] != 0) {
    if (counts[1] != 0) symbols.insert(symbols.begin(), "H");
    symbols.insert(symbols.begin(), "C");
  }
  std::string text;
  for (std::string_view symbol : symbols) {
    text += symbol;
    const std::uint32_t count = counts[AtomicNumberOf(symbol)];
    if (count != 1) text += std::to_string(count);
  }
  // Brackets keep the charge out of the element entries of readers that
  // drop bracketed segments.
  if (charge != 0) {
    text += '[';
    if (std::abs(charge) != 1) text += std::to_string(std::abs(charge));
    text += charge > 0 ? '+' : '-';
    text += ']';
  }
  return text;
}

// A stored molecule counts every atom with its hydrogens and its net charge.
// A query or a screen counts only atoms of a certain element other than
// hydrogen: a molecule that contains it has at least those, while its
// hydrogens, charges and generic atoms are not certain.
std::string FormulaOf(const RDKit::ROMol& mol, StructureRole role) {
  const bool exact = role == StructureRole::kTarget;
  ElementCounts counts{};
  int charge = 0;
  for (const RDKit::Atom* atom : mol.atoms()) {
    const int element = FactsOf(*atom).element;
    if (element == 0 || (!exact && element == 1)) continue;
    ++counts[element];
    if (exact && !atom->hasQuery()) {
      counts[1] += atom->getTotalNumHs(false);
      charge += atom->getFormalCharge();
    }
  }
  return HillFormula(counts, exact ? charge : 0);
}

void EnsureRings(RDKit::ROMol& mol) {
  if (!mol.getRingInfo()->isInitialized()) RDKit::MolOps::findSSSR(mol);
}

}  // namespace

std::int32_t StructureAtom::Property(std::int32_t code) {
  switch (code) {
    case kPropertyHydrogenCount:
      return values_.hydrogens;
    case kPropertyBondsAndNeighbourhood:
      return values_.neighbours;
    case kPropertyRingsAndAromaticity:
      return values_.ringAromatic;
    case kPropertyChargeAndIsotope:
      return values_.charge;
    default:
      return 0;
  }
}

Structure::Structure() {
  summary_.known = true;
  summary_.matchesNothing = true;
}

Structure::Structure(StructureRole role, std::unique_ptr<RDKit::ROMol> mol,
                     const std::vector<AtomValues>& values, std::string formula)
    : role_(role),
      mol_(std::move(mol)),
      atomCount_(static_cast<std::uint32_t>(values.size())),
      atoms_(std::make_unique<StructureAtom[]>(values.size())),
      formula_(std::move(formula)) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    atoms_[i] = StructureAtom(values[i]);
  }
  if (role_ == StructureRole::kScreen) compiled();
}

Structure::~Structure() = default;

const CompiledPattern& Structure::compiled() const {
  compiledOnce_([this] {
    if (mol_ != nullptr) compiled_ = CompilePattern(*mol_);
  });
  return compiled_;
}

const TargetGraph& Structure::graph() const {
  graphOnce_([this] {
    if (mol_ != nullptr) graph_ = BuildTargetGraph(*mol_);
  });
  return graph_;
}

const PrescreenSummary& Structure::summary() const {
  if (mol_ == nullptr) return summary_;
  summaryOnce_([this] {
    try {
      summary_ = role_ == StructureRole::kScreen ? PatternSummary(*mol_)
                                                 : MoleculeSummary(*mol_);
    } catch (...) {
      summary_ = PrescreenSummary{};
    }
  });
  return summary_;
}

Atom* Structure::AtomAt(std::uint32_t number) const {
  return number < atomCount_ ? &atoms_[number] : nullptr;
}

const std::shared_ptr<const Structure>& EmptyStructure() {
  static const std::shared_ptr<const Structure> empty =
      std::make_shared<const Structure>();
  return empty;
}

std::shared_ptr<const Structure> BuildScreenStructure(std::string_view smarts) {
  // Stored structures are ASCII text without a terminator; RDKit would read
  // only up to an embedded NUL, and the rest is no SMARTS either.
  for (const char c : smarts) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F) return EmptyStructure();
  }
  try {
    std::unique_ptr<RDKit::RWMol> mol =
        std::move(ReadRdkitMolecule(smarts, {Notation::kSmarts}).molecule);
    if (mol == nullptr || mol->getNumAtoms() == 0) return EmptyStructure();
    EnsureRings(*mol);
    // Queries that read valences or hydrogens of the pattern itself (as the
    // search does on query atoms) need the cache; it must not change later,
    // when threads share the pattern.
    mol->updatePropertyCache(false);
    std::vector<AtomValues> demands = ScreenDemands(*mol);
    std::string formula = FormulaOf(*mol, StructureRole::kScreen);
    return std::make_shared<const Structure>(
        StructureRole::kScreen, std::move(mol), demands, std::move(formula));
  } catch (...) {
    return EmptyStructure();
  }
}

std::shared_ptr<const Structure> BuildMoleculeStructure(
    std::unique_ptr<RDKit::RWMol> mol, StructureRole role) {
  if (mol == nullptr) return EmptyStructure();
  EnsureRings(*mol);
  std::vector<AtomValues> guarantees = MoleculeGuarantees(*mol);
  mol->updatePropertyCache(false);
  std::string formula = FormulaOf(*mol, role);
  return std::make_shared<const Structure>(role, std::move(mol), guarantees,
                                           std::move(formula));
}

}  // namespace zolv::rdcore

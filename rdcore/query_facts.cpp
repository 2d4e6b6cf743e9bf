// Why these values are sound. A screen S is reported for a query Q when some
// match f of S in Q passes the atom check; let g be a match of Q in a molecule
// M. Then g(f(s)) is an injective map of S into M under which every bond of S
// lands on a bond of M, and it is a match when every atom query and bond query
// of S gives on M what it gave on Q. A primitive gives the same answer on M as
// on Q when the property it reads is certain for the Q atom (its value is the
// same in every M), and a primitive that only reads whether something holds
// keeps its answer when that something cannot change in the direction that
// would turn the whole query false: ring membership and aromaticity, once
// true, stay true (a ring of Q maps onto a ring of M; an aromatic bond of Q
// onto an aromatic bond of M, whose atoms are aromatic). So a screen atom
// demands certainty for every property it reads in a way that can change
// (hydrogen counts, charges, aliphatic-only, degrees, ring counts, recursive
// queries...), and a molecule atom guarantees exactly the properties that its
// own atom match (RDKit's Atom::Match for plain atoms, the query for query
// atoms) pins in every M.
#include "query_facts.h"

#include <GraphMol/QueryOps.h>
#include <GraphMol/RDKitBase.h>

#include <algorithm>
#include <string>

namespace zolv::rdcore {
namespace {

using AtomQuery = RDKit::Atom::QUERYATOM_QUERY;
using BondQuery = RDKit::Bond::QUERYBOND_QUERY;

constexpr BondOrderSet OrderBit(RDKit::Bond::BondType type) {
  return BondOrderSet{1} << static_cast<unsigned>(type);
}
constexpr BondOrderSet kSingle = OrderBit(RDKit::Bond::SINGLE);
constexpr BondOrderSet kDouble = OrderBit(RDKit::Bond::DOUBLE);
constexpr BondOrderSet kAromatic = OrderBit(RDKit::Bond::AROMATIC);
constexpr BondOrderSet kSingleOrAromatic = kSingle | kAromatic;

// The value an equality query without tolerance compares with, or nothing
// for any other kind of query.
template <typename Arg>
std::optional<int> ExactValue(const Queries::Query<int, Arg, true>& query) {
  const auto* equality =
      dynamic_cast<const Queries::EqualityQuery<int, Arg, true>*>(&query);
  if (equality == nullptr || equality->getTol() != 0) return std::nullopt;
  return equality->getVal();
}

bool IsElement(int number) { return number >= 1 && number <= 118; }

// --- Facts -----------------------------------------------------------------

// Facts of both a and b (an atom that passes both queries). Where the two pin
// different values no atom passes, and either value is vacuously true.
AtomFacts Conjoin(AtomFacts a, const AtomFacts& b) {
  if (a.element == 0) a.element = b.element;
  a.allowed = {a.allowed[0] & b.allowed[0], a.allowed[1] & b.allowed[1]};
  if (!a.aromatic) a.aromatic = b.aromatic;
  if (!a.charge) a.charge = b.charge;
  if (!a.isotope) a.isotope = b.isotope;
  if (!a.hydrogens) a.hydrogens = b.hydrogens;
  if (!a.smallestRing) a.smallestRing = b.smallestRing;
  return a;
}

// Facts of a or b: only what both pin alike.
AtomFacts Disjoin(const AtomFacts& a, const AtomFacts& b) {
  AtomFacts facts;
  if (a.element == b.element) facts.element = a.element;
  facts.allowed = {a.allowed[0] | b.allowed[0], a.allowed[1] | b.allowed[1]};
  if (a.aromatic == b.aromatic) facts.aromatic = a.aromatic;
  if (a.charge == b.charge) facts.charge = a.charge;
  if (a.isotope == b.isotope) facts.isotope = a.isotope;
  if (a.hydrogens == b.hydrogens) facts.hydrogens = a.hydrogens;
  if (a.smallestRing == b.smallestRing) facts.smallestRing = a.smallestRing;
  return facts;
}

AtomFacts FactsOfQuery(const AtomQuery& query) {
  // A negated query pins nothing: it only excludes.
  if (query.getNegation()) return {};
  const std::string& kind = query.getDescription();
  if (kind == "AtomAnd") {
    AtomFacts facts;
    for (auto child = query.beginChildren(); child != query.endChildren();
         ++child) {
      facts = Conjoin(facts, FactsOfQuery(**child));
    }
    return facts;
  }
  if (kind == "AtomOr") {
    AtomFacts facts;
    bool first = true;
    for (auto child = query.beginChildren(); child != query.endChildren();
         ++child) {
      AtomFacts branch = FactsOfQuery(**child);
      facts = first ? branch : Disjoin(facts, branch);
      first = false;
    }
    return facts;
  }
  const std::optional<int> value = ExactValue(query);
  if (!value) return {};
  AtomFacts facts;
  if (kind == "AtomAtomicNum") {
    if (IsElement(*value)) facts.element = *value;
    facts.allowed = ElementBit(*value);
  } else if (kind == "AtomType") {
    int number = 0;
    bool aromatic = false;
    RDKit::parseAtomType(*value, number, aromatic);
    if (IsElement(number)) facts.element = number;
    facts.allowed = ElementBit(number);
    facts.aromatic = aromatic;
  } else if (kind == "AtomIsAromatic") {
    facts.aromatic = *value != 0;
  } else if (kind == "AtomIsAliphatic") {
    facts.aromatic = *value == 0;
  } else if (kind == "AtomFormalCharge") {
    facts.charge = *value;
  } else if (kind == "AtomNegativeFormalCharge") {
    facts.charge = -*value;
  } else if (kind == "AtomIsotope") {
    facts.isotope = *value;
  } else if (kind == "AtomHCount") {
    facts.hydrogens = *value;
  } else if (kind == "AtomMinRingSize") {
    facts.smallestRing = *value;
  }
  return facts;
}

// The bond types a bond-type primitive accepts, or nothing when the query
// reads something else.
std::optional<BondOrderSet> OrdersOfPrimitive(const std::string& kind,
                                              int value) {
  BondOrderSet orders = 0;
  if (kind == "BondOrder") {
    if (value < 0 || value >= 32) return std::nullopt;
    orders = BondOrderSet{1} << value;
  } else if (kind == "SingleOrAromaticBond") {
    orders = kSingleOrAromatic;
  } else if (kind == "DoubleOrAromaticBond") {
    orders = kDouble | kAromatic;
  } else if (kind == "SingleOrDoubleBond") {
    orders = kSingle | kDouble;
  } else if (kind == "SingleOrDoubleOrAromaticBond") {
    orders = kSingle | kDouble | kAromatic;
  } else if (kind == "BondNull") {
    return kAnyOrder;
  } else {
    return std::nullopt;
  }
  // The "or" primitives compare a yes/no answer with true.
  if (kind != "BondOrder" && value == 0) orders = ~orders;
  return orders;
}

BondFacts FactsOfQuery(const BondQuery& query) {
  const std::string& kind = query.getDescription();
  const bool negated = query.getNegation();
  if (kind == "BondAnd" || kind == "BondOr") {
    if (negated) return {};
    const bool both = kind == "BondAnd";
    BondFacts facts;
    facts.orders = both ? kAnyOrder : 0;
    facts.inRing = !both;
    bool any = false;
    for (auto child = query.beginChildren(); child != query.endChildren();
         ++child) {
      const BondFacts branch = FactsOfQuery(**child);
      any = true;
      if (both) {
        facts.orders &= branch.orders;
        facts.inRing = facts.inRing || branch.inRing;
      } else {
        facts.orders |= branch.orders;
        facts.inRing = facts.inRing && branch.inRing;
      }
    }
    return any ? facts : BondFacts{};
  }
  const std::optional<int> value = ExactValue(query);
  if (!value) return {};
  BondFacts facts;
  if (kind == "BondInRing") {
    facts.inRing = (*value != 0) != negated;
    return facts;
  }
  // A type primitive accepts an exact set of types, so its negation accepts
  // exactly the others.
  if (const auto orders = OrdersOfPrimitive(kind, *value)) {
    facts.orders = negated ? ~*orders : *orders;
  }
  return facts;
}

// --- Screen demands --------------------------------------------------------

void Raise(std::int32_t& level, std::int32_t to) {
  level = std::max(level, to);
}

// A primitive that reads aromaticity: when its answer is true for aromatic
// atoms and it sits under an even number of negations, a match through it can
// only be lost if an aromatic atom of the query became aliphatic, which an
// aromatic bond prevents; any other use needs aromaticity to be certain.
void DemandAromaticity(bool trueForAromatic, bool negated, AtomValues& demand) {
  Raise(demand.ringAromatic,
        trueForAromatic != negated ? kAromaticAtom : kExactAromaticity);
}

void DemandOfAtomQuery(const AtomQuery& query, bool negated,
                       AtomValues& demand) {
  negated = negated != query.getNegation();
  const std::string& kind = query.getDescription();
  if (kind == "AtomAnd" || kind == "AtomOr" || kind == "AtomXor") {
    for (auto child = query.beginChildren(); child != query.endChildren();
         ++child) {
      DemandOfAtomQuery(**child, negated, demand);
      // Under an exclusive or, a child counts under both polarities.
      if (kind == "AtomXor") DemandOfAtomQuery(**child, !negated, demand);
    }
    return;
  }
  const std::optional<int> value = ExactValue(query);
  if (kind == "AtomNull" || kind == "AtomAtomicNum") return;
  if (kind == "AtomType" && value) {
    int number = 0;
    bool aromatic = false;
    RDKit::parseAtomType(*value, number, aromatic);
    DemandAromaticity(aromatic, negated, demand);
  } else if (kind == "AtomIsAromatic" && value) {
    DemandAromaticity(*value != 0, negated, demand);
  } else if (kind == "AtomIsAliphatic" && value) {
    DemandAromaticity(*value == 0, negated, demand);
  } else if (kind == "AtomHCount") {
    Raise(demand.hydrogens, kHydrogenCount);
  } else if (kind == "AtomFormalCharge" || kind == "AtomNegativeFormalCharge") {
    Raise(demand.charge, kCharge);
  } else if (kind == "AtomIsotope" || kind == "AtomMass") {
    Raise(demand.charge, kChargeAndIsotope);
  } else if (kind == "AtomInNRings" && value && *value < 0 && !negated) {
    // "In some ring", asked positively: a ring of the query is one of M.
  } else if (kind == "AtomHasRingBond" && value && *value != 0 && !negated) {
    // Likewise: a ring bond of the query is a ring bond of M.
  } else if (kind.find("Ring") != std::string::npos ||
             kind == "AtomIsBridgehead") {
    // Ring counts and sizes, and "not in a ring", can change in M.
    Raise(demand.ringAromatic, kUnattainable);
  } else {
    // Degrees, valences, implicit hydrogens, hybridization, neighbours,
    // recursive queries, and anything unknown.
    Raise(demand.neighbours, kUnattainable);
  }
}

void DemandOfBondQuery(const BondQuery& query, bool negated,
                       AtomValues& demand) {
  negated = negated != query.getNegation();
  const std::string& kind = query.getDescription();
  if (kind == "BondAnd" || kind == "BondOr" || kind == "BondXor") {
    for (auto child = query.beginChildren(); child != query.endChildren();
         ++child) {
      DemandOfBondQuery(**child, negated, demand);
      if (kind == "BondXor") DemandOfBondQuery(**child, !negated, demand);
    }
    return;
  }
  const std::optional<int> value = ExactValue(query);
  if (kind == "BondNull" || kind == "SingleOrAromaticBond" ||
      kind == "SingleOrDoubleOrAromaticBond") {
    // The same answer for single and aromatic bonds, the one uncertainty
    // that a query bond may leave without vetoing its atoms.
  } else if (kind == "BondOrder" || kind == "SingleOrDoubleBond" ||
             kind == "DoubleOrAromaticBond") {
    Raise(demand.neighbours, kExactBondOrders);
  } else if (kind == "BondInRing" && value && *value != 0 && !negated) {
    // A ring bond of the query is a ring bond of M.
  } else if (kind.find("Ring") != std::string::npos) {
    Raise(demand.ringAromatic, kUnattainable);
  } else {
    Raise(demand.neighbours, kUnattainable);
  }
}

AtomValues DemandOfAtom(const RDKit::ROMol& pattern, const RDKit::Atom& atom) {
  AtomValues demand;
  if (atom.hasQuery()) {
    DemandOfAtomQuery(*atom.getQuery(), false, demand);
  } else {
    // RDKit's plain atom match: charge and isotope when set, radicals when
    // set, and at least as many rings as the pattern atom is in.
    if (atom.getFormalCharge() != 0) Raise(demand.charge, kCharge);
    if (atom.getIsotope() != 0) Raise(demand.charge, kChargeAndIsotope);
    if (atom.getNumRadicalElectrons() != 0) {
      Raise(demand.neighbours, kUnattainable);
    }
    if (pattern.getRingInfo()->isInitialized() &&
        pattern.getRingInfo()->numAtomRings(atom.getIdx()) != 0) {
      Raise(demand.ringAromatic, kUnattainable);
    }
  }
  for (const RDKit::Bond* bond : pattern.atomBonds(&atom)) {
    if (bond->hasQuery()) {
      DemandOfBondQuery(*bond->getQuery(), false, demand);
    } else {
      Raise(demand.neighbours, kExactBondOrders);
    }
  }
  return demand;
}

// --- Molecule guarantees ---------------------------------------------------

enum class BondCertainty : std::uint8_t {
  kExact,             // one bond type
  kSingleOrAromatic,  // single or aromatic, nothing else
  kUncertain,
};

BondCertainty CertaintyOf(BondOrderSet orders) {
  if (SingleOrder(orders) >= 0) return BondCertainty::kExact;
  if (orders != 0 && (orders & ~kSingleOrAromatic) == 0) {
    return BondCertainty::kSingleOrAromatic;
  }
  return BondCertainty::kUncertain;
}

// Sets a query bond's own type to what its query makes certain; a single-or-
// aromatic bond is recorded as single, which no single-or-aromatic-uniform
// screen bond tells apart.
void PinBondFields(RDKit::Bond& bond, BondOrderSet orders) {
  if (!bond.hasQuery()) return;
  const int order = SingleOrder(orders);
  if (order >= 0) {
    bond.setBondType(static_cast<RDKit::Bond::BondType>(order));
    bond.setIsAromatic(order == RDKit::Bond::AROMATIC);
  } else if (CertaintyOf(orders) == BondCertainty::kSingleOrAromatic) {
    bond.setBondType(RDKit::Bond::SINGLE);
    bond.setIsAromatic(false);
  }
}

// Sets a query atom's own fields to its facts, so that a screen searched in
// the molecule sees only what is certain and reads the certain values.
void PinAtomFields(RDKit::Atom& atom, const AtomFacts& facts, bool aromatic) {
  atom.setAtomicNum(facts.element);
  atom.setIsAromatic(aromatic);
  atom.setFormalCharge(facts.charge.value_or(0));
  atom.setIsotope(
      static_cast<unsigned>(std::max(0, facts.isotope.value_or(0))));
  atom.setNumExplicitHs(
      static_cast<unsigned>(std::max(0, facts.hydrogens.value_or(0))));
  atom.setNoImplicit(true);
  atom.setNumRadicalElectrons(0);
}

// Whether every atom that this plain, aliphatic atom of a query lies on, in
// every molecule containing the query, is aliphatic too. RDKit makes an atom
// aromatic only inside an aromatic ring, which gives it two aromatic bonds,
// and never when its element is univalent or it has more than three
// neighbours, hydrogens included. A plain bond lies only on a bond of its own
// type, so an atom with two neighbours here through non-aromatic bonds would
// need four in the molecule to be aromatic there.
bool StaysAliphatic(const RDKit::ROMol& molecule, const RDKit::Atom& atom) {
  switch (atom.getAtomicNum()) {
    case 1:
    case 9:
    case 17:
    case 35:
    case 53:
      return true;
    default:
      break;
  }
  unsigned neighbours = 0;
  for (const RDKit::Bond* bond : molecule.atomBonds(&atom)) {
    const RDKit::Bond::BondType type = bond->getBondType();
    if (bond->hasQuery() || bond->getIsAromatic() ||
        (type != RDKit::Bond::SINGLE && type != RDKit::Bond::DOUBLE &&
         type != RDKit::Bond::TRIPLE)) {
      return false;
    }
    ++neighbours;
  }
  return neighbours >= 2;
}

}  // namespace

AtomFacts FactsOf(const RDKit::Atom& atom) {
  if (atom.hasQuery()) return FactsOfQuery(*atom.getQuery());
  AtomFacts facts;
  if (IsElement(atom.getAtomicNum())) facts.element = atom.getAtomicNum();
  facts.allowed = ElementBit(atom.getAtomicNum());
  if (atom.getFormalCharge() != 0) facts.charge = atom.getFormalCharge();
  if (atom.getIsotope() != 0) facts.isotope = atom.getIsotope();
  return facts;
}

BondFacts FactsOf(const RDKit::Bond& bond) {
  if (bond.hasQuery()) return FactsOfQuery(*bond.getQuery());
  BondFacts facts;
  if (bond.getBondType() != RDKit::Bond::UNSPECIFIED) {
    facts.orders = OrderBit(bond.getBondType());
  }
  return facts;
}

int SingleOrder(BondOrderSet orders) {
  if (orders == 0 || (orders & (orders - 1)) != 0) return -1;
  int order = 0;
  while ((orders >> order) != 1) ++order;
  return order == RDKit::Bond::UNSPECIFIED ? -1 : order;
}

std::vector<AtomValues> ScreenDemands(const RDKit::ROMol& pattern) {
  std::vector<AtomValues> demands;
  demands.reserve(pattern.getNumAtoms());
  for (const RDKit::Atom* atom : pattern.atoms()) {
    demands.push_back(DemandOfAtom(pattern, *atom));
  }
  return demands;
}

std::vector<AtomValues> MoleculeGuarantees(RDKit::RWMol& molecule) {
  const unsigned atomCount = molecule.getNumAtoms();
  std::vector<BondCertainty> bondCertainty(molecule.getNumBonds());
  std::vector<bool> hasAromaticBond(atomCount, false);
  for (RDKit::Bond* bond : molecule.bonds()) {
    const BondOrderSet orders = FactsOf(*bond).orders;
    bondCertainty[bond->getIdx()] = CertaintyOf(orders);
    if (SingleOrder(orders) == RDKit::Bond::AROMATIC) {
      hasAromaticBond[bond->getBeginAtomIdx()] = true;
      hasAromaticBond[bond->getEndAtomIdx()] = true;
    }
    PinBondFields(*bond, orders);
  }

  std::vector<AtomFacts> facts(atomCount);
  for (RDKit::Atom* atom : molecule.atoms()) {
    const unsigned index = atom->getIdx();
    facts[index] = FactsOf(*atom);
    if (atom->hasQuery()) {
      AtomFacts& pinned = facts[index];
      // An aromatic bond of M joins aromatic atoms, so an atom on a certainly
      // aromatic bond is certainly aromatic.
      if (!pinned.aromatic && hasAromaticBond[index]) pinned.aromatic = true;
      PinAtomFields(*atom, pinned, pinned.aromatic.value_or(false));
    }
  }

  std::vector<AtomValues> guarantees(atomCount);
  for (const RDKit::Atom* atom : molecule.atoms()) {
    const unsigned index = atom->getIdx();
    const AtomFacts& atomFacts = facts[index];
    AtomValues& values = guarantees[index];
    bool exactBonds = true;
    bool vetoed = atomFacts.element == 0;
    bool hydrogenNeighbour = false;
    for (const RDKit::Bond* bond : molecule.atomBonds(atom)) {
      const BondCertainty certainty = bondCertainty[bond->getIdx()];
      if (certainty == BondCertainty::kUncertain) vetoed = true;
      if (certainty != BondCertainty::kExact) exactBonds = false;
      if (bond->getOtherAtom(atom)->getAtomicNum() == 1) {
        hydrogenNeighbour = true;
      }
    }
    if (vetoed) {
      values = {kNothingCertain, kNothingCertain, kNothingCertain,
                kNothingCertain};
      continue;
    }
    values.neighbours = exactBonds ? kExactBondOrders : 0;
    if (atom->hasQuery()) {
      // A hydrogen neighbour in the graph would be counted on top of the
      // pinned count when a screen reads this atom.
      if (atomFacts.hydrogens && !hydrogenNeighbour) {
        values.hydrogens = kHydrogenCount;
      }
      values.ringAromatic =
          atomFacts.aromatic ? kExactAromaticity : kAromaticAtom;
    } else if (!atom->getIsAromatic()) {
      // Aliphatic here may be aromatic in M, but then a screen's aromatic
      // primitive was false on this atom and cannot lose the match; unless
      // no atom it lies on can be aromatic at all.
      values.ringAromatic =
          StaysAliphatic(molecule, *atom) ? kExactAromaticity : kAromaticAtom;
    } else {
      values.ringAromatic = hasAromaticBond[index] ? kExactAromaticity : 0;
    }
    if (atomFacts.charge) {
      values.charge = atomFacts.isotope ? kChargeAndIsotope : kCharge;
    }
  }
  return guarantees;
}

}  // namespace zolv::rdcore

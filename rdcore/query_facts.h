// What RDKit's substructure search makes certain about the atoms and bonds that
// a pattern or query atom (or bond) matches, and from that the per-atom values
// of the query-mode atom check. Used only by this library's RDKit code.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "structure.h"

namespace RDKit {
class Atom;
class Bond;
class ROMol;
class RWMol;
}  // namespace RDKit

namespace zolv::rdcore {

/// What every atom that an atom matches has, as far as it is certain. A plain
/// atom pins its element, and its charge and isotope when they are not 0; a
/// query atom pins what its query requires of every atom.
struct AtomFacts {
  int element = 0;  ///< atomic number; 0 when not one certain element
  ElementMask allowed = kAllElements;  ///< the elements it may have
  std::optional<bool> aromatic;
  std::optional<int> charge;
  std::optional<int> isotope;
  std::optional<int> hydrogens;     ///< total hydrogen count
  std::optional<int> smallestRing;  ///< size of the atom's smallest ring
};

/// A set of RDKit bond types, one bit per type.
using BondOrderSet = std::uint32_t;
inline constexpr BondOrderSet kAnyOrder = 0xFFFFFFFFu;

/// What every bond that a bond matches has, as far as it is certain.
struct BondFacts {
  BondOrderSet orders = kAnyOrder;  ///< types a matching bond may have
  bool inRing = false;              ///< every matching bond is a ring bond
};

AtomFacts FactsOf(const RDKit::Atom& atom);
BondFacts FactsOf(const RDKit::Bond& bond);

/// The one definite bond type of a set, or -1.
int SingleOrder(BondOrderSet orders);

/// What each atom of a screen pattern demands, by atom number.
std::vector<AtomValues> ScreenDemands(const RDKit::ROMol& pattern);

/// What each atom of a molecule guarantees to every molecule that contains
/// it, by atom number. Sets the own fields of query atoms and bonds (element,
/// aromaticity, charge, isotope, hydrogens, bond type) to what their queries
/// make certain, so that a screen searched in the molecule reads only those.
std::vector<AtomValues> MoleculeGuarantees(RDKit::RWMol& molecule);

}  // namespace zolv::rdcore

// The prescreen: counts that a structure needs from any structure it occurs
// in, compared before a substructure search.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "core_api.h"
#include "object_pool.h"

namespace zolv::rdcore {

class Structure;

/// Bond orders that the prescreen counts separately.
enum class CountedOrder : std::uint8_t { kSingle, kDouble, kTriple, kAromatic };
inline constexpr std::size_t kCountedOrderCount = 4;

/// A set of atomic numbers 0 to 127, one bit each.
using ElementMask = std::array<std::uint64_t, 2>;
inline constexpr ElementMask kAllElements = {~std::uint64_t{0},
                                             ~std::uint64_t{0}};

/// The mask of one atomic number (empty beyond 127).
ElementMask ElementBit(int element);

/// A count per atomic number; lists keep atomic numbers ascending.
struct ElementCount {
  std::uint8_t element = 0;
  std::uint32_t count = 0;
};

/// For a pattern: what every structure that it occurs in must have at least
/// (only what is certain is counted). For a molecule: what it has.
struct PrescreenSummary {
  /// False when nothing is known: such a summary never rules anything out.
  bool known = false;
  /// A pattern that occurs nowhere: an unreadable or atom-less screen.
  bool matchesNothing = false;
  std::uint32_t atoms = 0;
  std::uint32_t bonds = 0;
  std::uint32_t ringBonds = 0;
  /// Ring bonds between two aliphatic atoms.
  std::uint32_t aliphaticRingBonds = 0;
  /// Size of the smallest ring; 0 without rings. A pattern ring of size n
  /// lands on a ring of size n, so a molecule whose smallest ring is larger
  /// cannot hold it.
  std::uint32_t smallestRing = 0;
  std::uint32_t aromaticAtoms = 0;
  std::uint32_t aliphaticAtoms = 0;
  std::uint32_t chargedAtoms = 0;
  std::uint32_t isotopeAtoms = 0;
  /// Atoms with at least one hydrogen.
  std::uint32_t hydrogenBearingAtoms = 0;
  std::array<std::uint32_t, kCountedOrderCount> bondsByOrder{};
  /// One bit per (element, element, order) kind of bond, hashed.
  std::uint64_t bondKinds = 0;
  std::vector<ElementCount> elements;
  /// Molecule: the elements present. Pattern: unused.
  ElementMask elementsPresent{};
  /// Elements of aromatic atoms, and of atoms with hydrogens: a pattern's
  /// must all be among the molecule's.
  ElementMask aromaticElements{};
  ElementMask hydrogenBearingElements{};
  /// Bit n: an atom whose smallest ring has n atoms (n < 64). A pattern's
  /// bits must all be among the molecule's.
  std::uint64_t smallestRingSizes = 0;
  /// Pattern: for each atom that allows several (but not all) elements, the
  /// elements it allows, one of which must be present.
  std::vector<ElementMask> elementChoices;
};

/// The bit of a bond between elements a and b of the given order.
std::uint64_t BondKindBit(int elementA, int elementB, CountedOrder order);

/// False only when a pattern with the first summary cannot occur in a
/// structure with the second.
bool MayOccurIn(const PrescreenSummary& pattern,
                const PrescreenSummary& molecule);

/// The Index of this library: keeps the built structure, whose summary is
/// computed once with it.
class PrescreenIndex final : public Index, public Pooled<PrescreenIndex> {
 public:
  PrescreenIndex() = default;
  PrescreenIndex(const PrescreenIndex&) = delete;
  PrescreenIndex& operator=(const PrescreenIndex&) = delete;

  void ZOLV_STDCALL Release() override;
  /// A chemistry of another library gives an index that rules nothing out.
  void ZOLV_STDCALL Build(Chemistry* chemistry) override;
  CoreBool ZOLV_STDCALL MayOccurIn(Index* other) override;

 private:
  ~PrescreenIndex() = default;

  std::shared_ptr<const Structure> structure_;  // keeps summary_ alive
  const PrescreenSummary* summary_ = nullptr;
};

}  // namespace zolv::rdcore

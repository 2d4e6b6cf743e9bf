#include "prescreen.h"

#include <algorithm>

#include "chemistry.h"
#include "core_statistics.h"
#include "object_cast.h"
#include "structure.h"

namespace zolv::rdcore {

std::uint64_t BondKindBit(int elementA, int elementB, CountedOrder order) {
  if (elementA > elementB) std::swap(elementA, elementB);
  const std::uint64_t kind = (static_cast<std::uint64_t>(elementA) * 131 +
                              static_cast<std::uint64_t>(elementB)) *
                                 kCountedOrderCount +
                             static_cast<std::uint64_t>(order);
  // Fibonacci hashing: the top six bits of the product pick the bit.
  return std::uint64_t{1} << ((kind * 0x9E3779B97F4A7C15ull) >> 58);
}

ElementMask ElementBit(int element) {
  ElementMask mask{};
  if (element >= 0 && element < 128) {
    mask[element / 64] = std::uint64_t{1} << (element % 64);
  }
  return mask;
}

bool MayOccurIn(const PrescreenSummary& pattern,
                const PrescreenSummary& molecule) {
  if (pattern.matchesNothing) return false;
  if (!pattern.known || !molecule.known) return true;
  if (pattern.atoms > molecule.atoms || pattern.bonds > molecule.bonds ||
      pattern.ringBonds > molecule.ringBonds ||
      pattern.aliphaticRingBonds > molecule.aliphaticRingBonds ||
      pattern.aromaticAtoms > molecule.aromaticAtoms ||
      pattern.aliphaticAtoms > molecule.aliphaticAtoms ||
      pattern.chargedAtoms > molecule.chargedAtoms ||
      pattern.isotopeAtoms > molecule.isotopeAtoms ||
      pattern.hydrogenBearingAtoms > molecule.hydrogenBearingAtoms ||
      (pattern.bondKinds & ~molecule.bondKinds) != 0) {
    return false;
  }
  if (pattern.smallestRing != 0 &&
      (molecule.smallestRing == 0 ||
       molecule.smallestRing > pattern.smallestRing)) {
    return false;
  }
  for (int half = 0; half < 2; ++half) {
    if ((pattern.aromaticElements[half] & ~molecule.aromaticElements[half]) !=
            0 ||
        (pattern.hydrogenBearingElements[half] &
         ~molecule.hydrogenBearingElements[half]) != 0) {
      return false;
    }
  }
  if ((pattern.smallestRingSizes & ~molecule.smallestRingSizes) != 0) {
    return false;
  }
  for (const ElementMask& choice : pattern.elementChoices) {
    if ((choice[0] & molecule.elementsPresent[0]) == 0 &&
        (choice[1] & molecule.elementsPresent[1]) == 0) {
      return false;
    }
  }
  for (std::size_t order = 0; order < kCountedOrderCount; ++order) {
    if (pattern.bondsByOrder[order] > molecule.bondsByOrder[order]) {
      return false;
    }
  }
  // Both lists ascend by element.
  auto have = molecule.elements.begin();
  for (const ElementCount& need : pattern.elements) {
    while (have != molecule.elements.end() && have->element < need.element) {
      ++have;
    }
    if (have == molecule.elements.end() || have->element != need.element ||
        have->count < need.count) {
      return false;
    }
  }
  return true;
}

void PrescreenIndex::Release() { delete this; }

void PrescreenIndex::Build(Chemistry* chemistry) {
  const CoreChemistry* ours = CoreChemistry::From(chemistry);
  structure_ = ours != nullptr ? ours->structure() : nullptr;
  // Computed here, once per structure, rather than at the first comparison.
  summary_ = structure_ != nullptr ? &structure_->summary() : nullptr;
}

CoreBool PrescreenIndex::MayOccurIn(Index* other) {
  detail::Count(detail::Counters().prescreenCalls);
  const PrescreenIndex* theirs = AsOurs<PrescreenIndex>(other);
  if (summary_ == nullptr || theirs == nullptr || theirs->summary_ == nullptr) {
    return 1;
  }
  if (rdcore::MayOccurIn(*summary_, *theirs->summary_)) return 1;
  detail::Count(detail::Counters().prescreenRejections);
  return 0;
}

}  // namespace zolv::rdcore

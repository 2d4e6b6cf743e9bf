#include "query_matcher.h"

#include <cstdint>

#include "screen_set.h"

namespace zolv {
namespace {

// The four compared properties of one atom, read in code order.
struct AtomProperties {
  std::int32_t p65;
  std::int32_t p74;
  std::int32_t p77;
  std::int32_t p78;

  // 64-bit, so that four extreme values cannot wrap into a small sum.
  std::int64_t Sum() const { return std::int64_t{p65} + p74 + p77 + p78; }
};

AtomProperties ReadProperties(Atom* atom) {
  AtomProperties properties{};
  properties.p65 = atom->Property(kPropertyHydrogenCount);
  properties.p74 = atom->Property(kPropertyBondsAndNeighbourhood);
  properties.p77 = atom->Property(kPropertyRingsAndAromaticity);
  properties.p78 = atom->Property(kPropertyChargeAndIsotope);
  return properties;
}

}  // namespace

void QueryMatcher::SetPattern(Chemistry* structure) {
  if (!matcher) {
    const Status status = ZolvCreateMatcher(matcher.Receive());
    if (!Succeeded(status) || !matcher) {
      matcher.reset();
      return;
    }
    matcher->SetOption(kSubstructureSearch);
  }
  pattern = structure;
  if (pattern != nullptr) matcher->SetPattern(pattern);
}

void QueryMatcher::SetTarget(Chemistry* structure) {
  target = structure;
  if (matcher && target != nullptr) matcher->SetTarget(target);
}

bool QueryMatcher::FindAcceptedMatch() {
  if (!matcher || pattern == nullptr || target == nullptr) return false;
  CoreHandle<MatchMap> map;
  if (!Succeeded(ZolvCreateMatchMap(map.Receive())) || !map) return false;
  while (matcher->NextMatch(map.get()) != 0) {
    if (AtomsCompatible(map.get())) return true;
  }
  return false;
}

bool QueryMatcher::AtomsCompatible(MatchMap* map) {
  ScreenSet atoms;
  pattern->CollectAtoms(&atoms, 0);
  ScreenSet mapped;
  map->MappedAtoms(&mapped);
  atoms.Intersect(atoms, mapped);

  std::uint32_t a = 0;
  for (std::uint32_t from = 0; atoms.NextFrom(from, &a); from = a + 1) {
    std::uint32_t t = 0;
    if (map->MappedAtom(a, &t) == 0) continue;
    // An atom that cannot be read cannot be vouched for: keeping the screen
    // would let the query demand it of molecules that may lack it.
    Atom* patternAtom = pattern->AtomAt(a);
    if (patternAtom == nullptr) return false;
    const AtomProperties demand = ReadProperties(patternAtom);
    Atom* targetAtom = target->AtomAt(t);
    if (targetAtom == nullptr) return false;
    const AtomProperties offer = ReadProperties(targetAtom);
    if (demand.Sum() > offer.Sum() || demand.p74 > offer.p74 ||
        demand.p77 > offer.p77 || demand.p78 > offer.p78) {
      return false;
    }
  }
  return true;
}

}  // namespace zolv

// Helpers for the tests of the RDKit-backed core: molecules made as the host
// makes them, screens loaded and searched as the driver does it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core_api.h"
#include "core_handle.h"
#include "rdcore.h"
#include "screen_set.h"

namespace zolv::testing {

using ChemistryHandle = CoreHandle<Chemistry>;

/// Where rdkit-data keeps the first 5000 molecules of the NCI set.
inline constexpr const char* kNciMolecules =
    "/usr/share/RDKit/Data/NCI/first_5K.smi";

/// A Chemistry loaded from stored SMARTS bytes, as a screen record loads it.
inline ChemistryHandle LoadScreen(std::string_view smarts) {
  ChemistryHandle chemistry;
  ZolvCreateChemistry(chemistry.Receive());
  chemistry->LoadStored(static_cast<std::uint32_t>(smarts.size()),
                        reinterpret_cast<const std::uint8_t*>(smarts.data()));
  return chemistry;
}

/// A host molecule; null (and a failed test) when it cannot be parsed.
inline std::unique_ptr<rdcore::HostMolecule> MakeMolecule(
    std::string_view text,
    rdcore::MoleculeRole role = rdcore::MoleculeRole::kTarget,
    rdcore::Notation notation = rdcore::Notation::kSmiles) {
  rdcore::ParsedMolecule parsed = rdcore::ParseMolecule(text, notation, role);
  EXPECT_NE(parsed.molecule, nullptr) << text << ": " << parsed.error;
  return std::move(parsed.molecule);
}

/// A Chemistry copied from a host molecule, as perception copies it.
inline ChemistryHandle CopyOf(HostObject& molecule) {
  ChemistryHandle chemistry;
  ZolvCreateChemistry(chemistry.Receive());
  chemistry->CopyFrom(molecule.GetChemistry());
  return chemistry;
}

/// Whether the pattern occurs in the target: the target-mode test.
inline bool Occurs(Chemistry* pattern, Chemistry* target) {
  CoreHandle<Matcher> matcher;
  ZolvCreateMatcher(matcher.Receive());
  matcher->SetOption(kSubstructureSearch);
  matcher->SetPattern(pattern);
  matcher->SetTarget(target);
  return matcher->NextMatch(nullptr) != 0;
}

/// The query-mode atom check of one match: every mapped pattern atom's four
/// values against its target atom's.
inline bool AtomsCompatible(Chemistry* pattern, Chemistry* target,
                            MatchMap* map) {
  ScreenSet atoms;
  ScreenSet mapped;
  pattern->CollectAtoms(&atoms, 0);
  map->MappedAtoms(&mapped);
  atoms.Intersect(atoms, mapped);
  std::uint32_t atom = 0;
  for (std::uint32_t from = 0; atoms.NextFrom(from, &atom); from = atom + 1) {
    std::uint32_t targetAtom = 0;
    if (!map->MappedAtom(atom, &targetAtom)) continue;
    Atom* p = pattern->AtomAt(atom);
    Atom* t = target->AtomAt(targetAtom);
    const std::int64_t p65 = p->Property(kPropertyHydrogenCount);
    const std::int64_t p74 = p->Property(kPropertyBondsAndNeighbourhood);
    const std::int64_t p77 = p->Property(kPropertyRingsAndAromaticity);
    const std::int64_t p78 = p->Property(kPropertyChargeAndIsotope);
    const std::int64_t t65 = t->Property(kPropertyHydrogenCount);
    const std::int64_t t74 = t->Property(kPropertyBondsAndNeighbourhood);
    const std::int64_t t77 = t->Property(kPropertyRingsAndAromaticity);
    const std::int64_t t78 = t->Property(kPropertyChargeAndIsotope);
    if (p65 + p74 + p77 + p78 > t65 + t74 + t77 + t78 || p74 > t74 ||
        p77 > t77 || p78 > t78) {
      return false;
    }
  }
  return true;
}

/// Whether query mode finds the screen in the query: some match passes the
/// atom check.
inline bool FoundInQuery(Chemistry* screen, Chemistry* query) {
  CoreHandle<Matcher> matcher;
  CoreHandle<MatchMap> map;
  ZolvCreateMatcher(matcher.Receive());
  ZolvCreateMatchMap(map.Receive());
  matcher->SetOption(kSubstructureSearch);
  matcher->SetPattern(screen);
  matcher->SetTarget(query);
  while (matcher->NextMatch(map.get())) {
    if (AtomsCompatible(screen, query, map.get())) return true;
  }
  return false;
}

}  // namespace zolv::testing

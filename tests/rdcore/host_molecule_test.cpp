#include <gtest/gtest.h>

#include <string>

#include "rdcore.h"
#include "rdcore_test_util.h"

namespace zolv::testing {
namespace {

using rdcore::MoleculeRole;
using rdcore::Notation;
using rdcore::ParseMolecule;

constexpr const char* kRecordWithData =
    "caffeine-ish\n  test\n\n"
    "  2  1  0  0  0  0  0  0  0  0999 V2000\n"
    "    0.0000    0.0000    0.0000 N   0  0  0  0  0  0  0  0  0  0  0  0\n"
    "    1.5000    0.0000    0.0000 C   0  0  0  0  0  0  0  0  0  0  0  0\n"
    "  1  2  1  0\nM  END\n> <ID>\n42\n\n$$$$\n";

TEST(HostMolecule, IsAMoleculeWhoseChemistryIsOfThisLibrary) {
  auto molecule = MakeMolecule("CCO");
  ASSERT_NE(molecule, nullptr);
  EXPECT_EQ(molecule->IsOfType(kMoleculeType), 1);
  EXPECT_EQ(molecule->IsOfType(111), 0);
  EXPECT_EQ(molecule->IsOfType(0), 0);
  EXPECT_EQ(molecule->role(), MoleculeRole::kTarget);
  ChemistryHandle copy = CopyOf(*molecule);
  // The copy shares the molecule's atoms: numbered alike, three of them.
  EXPECT_EQ(copy->AtomAt(2), molecule->GetChemistry()->AtomAt(2));
  EXPECT_NE(copy->AtomAt(2), nullptr);
  EXPECT_EQ(copy->AtomAt(3), nullptr);
}

TEST(HostMolecule, ReadsMolfilesAndSdfRecordsWithTheirTitle) {
  auto molecule =
      MakeMolecule(kRecordWithData, MoleculeRole::kTarget, Notation::kMolBlock);
  ASSERT_NE(molecule, nullptr);
  EXPECT_EQ(molecule->name(), "caffeine-ish");
  ChemistryHandle screen = LoadScreen("[#7][CH3]");
  ChemistryHandle copy = CopyOf(*molecule);
  EXPECT_TRUE(Occurs(screen.get(), copy.get()));
}

TEST(HostMolecule, TakesSmilesAndSmartsWithSurroundingSpace) {
  auto target = MakeMolecule("  CCO\n");
  auto query =
      MakeMolecule("\t[#6]~[#8] ", MoleculeRole::kQuery, Notation::kSmarts);
  ASSERT_NE(target, nullptr);
  ASSERT_NE(query, nullptr);
  EXPECT_EQ(query->role(), MoleculeRole::kQuery);
}

struct ErrorCase {
  const char* text;
  Notation notation;
  MoleculeRole role;
  const char* errorPart;  // a piece of the message
};

TEST(HostMolecule, ReportsWhyATextCannotBeRead) {
  const ErrorCase cases[] = {
      {"C((", Notation::kSmiles, MoleculeRole::kTarget, "cannot read SMILES"},
      {"C(C)(C)(C)(C)C", Notation::kSmiles, MoleculeRole::kTarget, "valence"},
      {"c1cccc1", Notation::kSmiles, MoleculeRole::kQuery, "kekulize"},
      {"[C", Notation::kSmarts, MoleculeRole::kQuery, "cannot read SMARTS"},
      {"CC", Notation::kSmarts, MoleculeRole::kTarget, "only"},
      {"   ", Notation::kSmiles, MoleculeRole::kTarget, "no SMILES"},
      {"", Notation::kMolBlock, MoleculeRole::kTarget, "no molfile"},
      {"title\n\n\n  x\n", Notation::kMolBlock, MoleculeRole::kTarget,
       "cannot read molfile"},
  };
  for (const ErrorCase& c : cases) {
    const rdcore::ParsedMolecule parsed =
        ParseMolecule(c.text, c.notation, c.role);
    EXPECT_EQ(parsed.molecule, nullptr) << c.text;
    EXPECT_NE(parsed.error.find(c.errorPart), std::string::npos)
        << c.text << " gave: " << parsed.error;
  }
}

}  // namespace
}  // namespace zolv::testing

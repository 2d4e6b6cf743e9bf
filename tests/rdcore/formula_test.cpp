// Formula texts of real molecules, read back by the driver's formula parser.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core_handle.h"
#include "formula_parser.h"
#include "rdcore_test_util.h"

namespace zolv::testing {
namespace {

using rdcore::MoleculeRole;
using rdcore::Notation;
using Entries = std::vector<std::pair<std::string, int>>;

constexpr const char* kEthanolRecord =
    "ethanol\n  test\n\n"
    "  3  2  0  0  0  0  0  0  0  0999 V2000\n"
    "    0.0000    0.0000    0.0000 C   0  0  0  0  0  0  0  0  0  0  0  0\n"
    "    1.5000    0.0000    0.0000 C   0  0  0  0  0  0  0  0  0  0  0  0\n"
    "    2.0000    1.0000    0.0000 O   0  0  0  0  0  0  0  0  0  0  0  0\n"
    "  1  2  1  0\n  2  3  1  0\nM  END\n> <NAME>\nethanol\n\n$$$$\n";

struct FormulaCase {
  const char* text;
  Notation notation;
  MoleculeRole role;
  const char* formula;
  Entries entries;  // as the driver's parser reads the formula
};

std::string FormulaOf(HostObject& molecule) {
  CoreHandle<StringObject> text;
  ZolvCreateString(text.Receive());
  EXPECT_EQ(ZolvFormula(&molecule, 0, text.get()) & 1, 1);
  return text->GetText();
}

Entries ParsedEntries(HostObject& molecule) {
  CoreHandle<StringObject> text;
  ZolvCreateString(text.Receive());
  EXPECT_EQ(FetchFormulaText(&molecule, text.get()) & 1, 1);
  FormulaParser parser;
  parser.SetText(TextBuffer(text->GetText()));
  parser.Parse();
  parser.Rewind();
  Entries entries;
  for (const char* symbol = parser.CurrentSymbol(); symbol != nullptr;
       parser.Next(), symbol = parser.CurrentSymbol()) {
    entries.emplace_back(symbol, parser.CurrentCount());
  }
  return entries;
}

TEST(CoreFormula, IsHillOrderTextThatTheDriverReadsWhole) {
  constexpr auto kTarget = MoleculeRole::kTarget;
  constexpr auto kQuery = MoleculeRole::kQuery;
  constexpr auto kSmiles = Notation::kSmiles;
  constexpr auto kSmarts = Notation::kSmarts;
  const FormulaCase cases[] = {
      {"c1ccccc1Cl",
       kSmiles,
       kTarget,
       "C6H5Cl",
       {{"C", 6}, {"H", 5}, {"Cl", 1}}},
      {"O", kSmiles, kTarget, "H2O", {{"H", 2}, {"O", 1}}},
      {"CC[NH3+]",
       kSmiles,
       kTarget,
       "C2H8N[+]",
       {{"C", 2}, {"H", 8}, {"N", 1}}},
      {"[Cu+2]", kSmiles, kTarget, "Cu[2+]", {{"Cu", 1}}},
      {"[O-]S(=O)(=O)[O-]", kSmiles, kTarget, "O4S[2-]", {{"O", 4}, {"S", 1}}},
      // Fragments are counted together; their charges cancel.
      {"CC(=O)[O-].[Na+]",
       kSmiles,
       kTarget,
       "C2H3NaO2",
       {{"C", 2}, {"H", 3}, {"Na", 1}, {"O", 2}}},
      {"Cl.Cl.NCCN",
       kSmiles,
       kTarget,
       "C2H10Cl2N2",
       {{"C", 2}, {"H", 10}, {"Cl", 2}, {"N", 2}}},
      // Isotopes count with their element, deuterium as hydrogen.
      {"[13CH3][2H]", kSmiles, kTarget, "CH4", {{"C", 1}, {"H", 4}}},
      {"[2H]OC([2H])([2H])[2H]",
       kSmiles,
       kTarget,
       "CH4O",
       {{"C", 1}, {"H", 4}, {"O", 1}}},
      // A radical is no charge and is left out.
      {"[CH3]", kSmiles, kTarget, "CH3", {{"C", 1}, {"H", 3}}},
      // Dummy atoms have no element.
      {"*C(=O)O", kSmiles, kTarget, "CHO2", {{"C", 1}, {"H", 1}, {"O", 2}}},
      {kEthanolRecord,
       Notation::kMolBlock,
       kTarget,
       "C2H6O",
       {{"C", 2}, {"H", 6}, {"O", 1}}},
      // A query counts only atoms of a certain element other than hydrogen.
      {"c1ccccc1Cl", kSmiles, kQuery, "C6Cl", {{"C", 6}, {"Cl", 1}}},
      {"CC[NH3+]", kSmiles, kQuery, "C2N", {{"C", 2}, {"N", 1}}},
      {"[#6]~[#7,#8]Cl", kSmarts, kQuery, "CCl", {{"C", 1}, {"Cl", 1}}},
      {"[CH3][N+;H0]([O-])*",
       kSmarts,
       kQuery,
       "CNO",
       {{"C", 1}, {"N", 1}, {"O", 1}}},
      {"[Br,Cl]", kSmarts, kQuery, "", {}},
      {"[2H]", kSmiles, kQuery, "", {}},
      {"[Na+].[Cl-]", kSmiles, kQuery, "ClNa", {{"Cl", 1}, {"Na", 1}}},
  };
  for (const FormulaCase& c : cases) {
    SCOPED_TRACE(std::string(c.text).substr(0, 20));
    auto molecule = MakeMolecule(c.text, c.role, c.notation);
    ASSERT_NE(molecule, nullptr);
    EXPECT_EQ(FormulaOf(*molecule), c.formula);
    EXPECT_EQ(ParsedEntries(*molecule), c.entries);
  }
}

// A host object whose molecule is not of this library.
class ForeignHost final : public HostObject {
 public:
  Status ZOLV_STDCALL IsOfType(std::int32_t) override { return 1; }
  Chemistry* ZOLV_STDCALL GetChemistry() override { return nullptr; }
};

TEST(CoreFormula, FailsForAHostObjectWithoutAMoleculeOfThisLibrary) {
  ForeignHost host;
  CoreHandle<StringObject> text;
  ZolvCreateString(text.Receive());
  text->PutText("unchanged");
  EXPECT_EQ(ZolvFormula(&host, 0, text.get()) & 1, 0);
  EXPECT_STREQ(text->GetText(), "unchanged");
}

}  // namespace
}  // namespace zolv::testing

// The graph matcher gives exactly RDKit's mappings, and leaves to RDKit what
// it cannot treat exactly.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "graph_match_check.h"
#include "rdcore_test_util.h"

namespace zolv::testing {
namespace {

std::vector<std::unique_ptr<CheckedStructure>> ReadStructures(
    const std::vector<std::string>& texts, bool smarts) {
  std::vector<std::unique_ptr<CheckedStructure>> structures;
  for (const std::string& text : texts) {
    if (auto checked = MakeChecked(text, smarts)) {
      structures.push_back(std::move(checked));
    }
  }
  return structures;
}

TEST(GraphMatch, LeavesToRDKitWhatItCannotTreatExactly) {
  const struct {
    const char* smarts;
    bool exact;
  } cases[] = {
      {"c1ccccc1", true},  {"[#6;R2]~[#7X3]", true}, {"C=O.N", true},
      {"[$(C=O)]", false}, {"[C;!$(C-N)]", false},   {"[C@H](F)(Cl)Br", false},
      {"F/C=C/F", false},  {"[N;H1,H2;+0]", true},
  };
  for (const auto& c : cases) {
    auto checked = MakeChecked(c.smarts, true);
    ASSERT_NE(checked, nullptr) << c.smarts;
    EXPECT_EQ(checked->compiled.exact, c.exact) << c.smarts;
  }
}

TEST(GraphMatch, GivesRDKitsMappingsForEveryScreenAndMolecule) {
  std::vector<std::string> screens;
  for (const char* list :
       {"data/screen_candidates.txt", "data/default_screens.txt",
        "tests/rdcore/hard_screens.txt"}) {
    const std::vector<std::string> words =
        ReadFirstWords(std::string(ZOLV_SOURCE_DIR) + "/" + list);
    ASSERT_FALSE(words.empty()) << list;
    screens.insert(screens.end(), words.begin(), words.end());
  }
  std::ifstream nci(kNciMolecules);
  ASSERT_TRUE(nci.good()) << kNciMolecules;
  std::vector<std::string> smiles = ReadFirstWords(nci);
  smiles.resize(std::min<std::size_t>(smiles.size(), 300));

  const auto patterns = ReadStructures(screens, true);
  const std::vector<std::string> hard = ReadFirstWords(
      std::string(ZOLV_SOURCE_DIR) + "/tests/rdcore/hard_molecules.smi");
  ASSERT_FALSE(hard.empty());
  for (const std::string& text : hard) {
    ASSERT_NE(MakeChecked(text, false), nullptr) << text;
  }
  smiles.insert(smiles.end(), hard.begin(), hard.end());

  // Queries as targets: molecules from SMILES, and SMARTS whose atoms are
  // queries themselves.
  auto targets = ReadStructures(smiles, false);
  auto smartsTargets = ReadStructures(screens, true);
  for (auto& target : smartsTargets) targets.push_back(std::move(target));

  CheckTally tally;
  CompareAll(patterns, targets, tally);
  EXPECT_GT(tally.pairs, patterns.size() * smiles.size() / 2);
  EXPECT_GT(tally.matches, tally.pairs);
  EXPECT_EQ(tally.differences, 0u);
  for (const std::string& example : tally.examples) ADD_FAILURE() << example;
}

}  // namespace
}  // namespace zolv::testing

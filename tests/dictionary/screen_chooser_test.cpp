#include "screen_chooser.h"

#include <GraphMol/ROMol.h>
#include <GraphMol/SmilesParse/SmilesParse.h>
#include <GraphMol/Substruct/SubstructMatch.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace zolv {
namespace {

// RDKit's molecules of SMILES texts, owned, and the view the chooser takes.
struct Samples {
  std::vector<std::unique_ptr<RDKit::ROMol>> owned;
  SampleMolecules view;
};

Samples Molecules(const std::vector<std::string>& smiles) {
  Samples samples;
  for (const std::string& text : smiles) {
    std::unique_ptr<RDKit::ROMol> molecule(RDKit::SmilesToMol(text));
    EXPECT_NE(molecule, nullptr) << text;
    if (molecule == nullptr) continue;
    samples.view.push_back(molecule.get());
    samples.owned.push_back(std::move(molecule));
  }
  return samples;
}

bool HasSubstructure(const RDKit::ROMol& molecule, const RDKit::ROMol& query) {
  RDKit::MatchVectType match;
  return RDKit::SubstructMatch(molecule, query, match);
}

std::set<std::string> Smarts(const std::vector<PathScreen>& paths) {
  std::set<std::string> texts;
  for (const PathScreen& path : paths) texts.insert(path.smarts);
  return texts;
}

TEST(CollectPaths, WritesEachPathOnceWithWhatEmbeddingKeeps) {
  struct Case {
    std::string smiles;
    std::size_t minBonds;
    std::size_t maxBonds;
    std::set<std::string> expected;
  };
  const std::vector<Case> cases = {
      // Aliphatic atoms by atomic number only: a query's may lie on
      // aromatic ones.
      {"CCO", 1, 2, {"[#6]-[#6]", "[#6]-[#8]", "[#6]-[#6]-[#8]"}},
      // Read from either end, one text.
      {"OCC", 2, 2, {"[#6]-[#6]-[#8]"}},
      {"Oc1ccccc1", 1, 1, {"[#8]-c", "c:c"}},
      {"C#N", 1, 1, {"[#6]#[#7]"}},
      {"C=O", 1, 1, {"[#6]=[#8]"}},
      // A charge stays with its atom.
      {"C[NH3+]", 1, 1, {"[#6]-[#7+]"}},
      {"CC(=O)[O-]", 1, 1, {"[#6]-[#6]", "[#6]=[#8]", "[#6]-[#8-]"}},
  };
  for (const Case& c : cases) {
    const Samples molecules = Molecules({c.smiles});
    ASSERT_EQ(molecules.view.size(), 1u) << c.smiles;
    EXPECT_EQ(Smarts(CollectPaths(molecules.view, c.minBonds, c.maxBonds, 0, 1,
                                  1000)),
              c.expected)
        << c.smiles;
  }
}

TEST(CollectPaths, KeepsSharesWithinTheRangeMostFrequentFirst) {
  const Samples molecules = Molecules({"CCO", "CCN", "CC", "CO"});
  const std::vector<PathScreen> all =
      CollectPaths(molecules.view, 1, 1, 0, 1, 10);
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all[0].smarts, "[#6]-[#6]");  // in three of four
  EXPECT_EQ(all[0].molecules, 3u);
  EXPECT_EQ(all[0].bonds, 1u);
  // At most half of the molecules: C-C (3/4) goes, C-O (2/4) and C-N stay.
  EXPECT_EQ(Smarts(CollectPaths(molecules.view, 1, 1, 0, 0.5, 10)),
            (std::set<std::string>{"[#6]-[#8]", "[#6]-[#7]"}));
  EXPECT_EQ(CollectPaths(molecules.view, 1, 1, 0, 1, 1).size(), 1u);
}

TEST(CutPieces, GivesConnectedPiecesThatLieInTheirMolecule) {
  const Samples molecules =
      Molecules({"CC(=O)Nc1ccc(O)cc1", "c1ccc2c(c1)[nH]c1ccccc12",
                 "CCOC(=O)C1CCN(C)CC1"});
  const std::vector<std::string> pieces = CutPieces(molecules.view, 4, 3, 8, 7);
  ASSERT_FALSE(pieces.empty());
  for (const std::string& piece : pieces) {
    std::unique_ptr<RDKit::ROMol> query(RDKit::SmilesToMol(piece));
    ASSERT_NE(query, nullptr) << piece;
    EXPECT_EQ(piece.find('.'), std::string::npos) << piece;
    bool inSome = false;
    for (const RDKit::ROMol* molecule : molecules.view) {
      inSome = inSome || HasSubstructure(*molecule, *query);
    }
    EXPECT_TRUE(inSome) << piece;
  }
  EXPECT_EQ(CutPieces(molecules.view, 4, 3, 8, 7), pieces);
}

TEST(MatchMicroseconds, RefusesWhatRdkitCannotRead) {
  const Samples molecules = Molecules({"CCO"});
  EXPECT_FALSE(MatchMicroseconds("[#6", molecules.view, 10));
  const auto cost = MatchMicroseconds("[#6]-[#8]", molecules.view, 10);
  ASSERT_TRUE(cost);
  EXPECT_GE(*cost, 0.0);
}

// Three targets (bits: which candidates each holds) and two queries.
ChoiceInput SmallChoice() {
  ChoiceInput input;
  input.candidates = 4;
  input.targetScreens = {{0, 1}, {0}, {2}};
  input.queryScreens = {{0, 1}, {2, 3}};
  input.implied = {{}, {0}, {}, {}};
  input.allowed = {true, true, true, true};
  input.count = 4;
  return input;
}

TEST(ChooseScreens, TakesTheScreenThatRemovesMostPairsFirst) {
  const ChoiceInput input = SmallChoice();
  const ChoiceResult result = ChooseScreens(input);
  // Candidate 3 is held by no target: query 1 asks for it, which removes
  // all three of its targets; candidate 1 removes query 0's targets 1 and
  // 2; then nothing is left to gain.
  ASSERT_GE(result.chosen.size(), 2u);
  EXPECT_EQ(result.chosen[0], 3u);
  EXPECT_EQ(result.gains[0], 3u);
  EXPECT_EQ(result.chosen[1], 1u);
  EXPECT_EQ(result.gains[1], 2u);
  EXPECT_EQ(result.pairs, 6u);
  EXPECT_EQ(result.remaining, 1u);  // query 0 and target 0, a true hit
  EXPECT_EQ(result.chosen.size(), 4u);
}

TEST(ChooseScreens, KeepsToTheCountAndTheAllowedCandidates) {
  ChoiceInput input = SmallChoice();
  input.allowed[3] = false;
  input.count = 1;
  const ChoiceResult result = ChooseScreens(input);
  ASSERT_EQ(result.chosen.size(), 1u);
  EXPECT_NE(result.chosen[0], 3u);
}

TEST(ChooseScreens, NeverTakesTwoEquivalentScreens) {
  ChoiceInput input = SmallChoice();
  // Candidates 0 and 1 imply each other.
  input.implied = {{1}, {0}, {}, {}};
  const ChoiceResult result = ChooseScreens(input);
  const bool both =
      std::count(result.chosen.begin(), result.chosen.end(), 0u) == 1 &&
      std::count(result.chosen.begin(), result.chosen.end(), 1u) == 1;
  EXPECT_FALSE(both);
  EXPECT_EQ(result.chosen.size(), 3u);
}

TEST(NumberChosen, GivesTheBlurredNumbersToTheScreensWrittenLeast) {
  // Twelve candidates, each written in one query of its own, but for
  // candidates 5 and 9, which no query holds.
  ChoiceInput input;
  input.candidates = 12;
  input.implied.assign(12, {});
  for (std::uint16_t c = 0; c < 12; ++c) {
    if (c != 5 && c != 9) input.queryScreens.push_back({c});
  }
  struct Case {
    std::vector<std::size_t> chosen;
    std::vector<std::size_t> expected;  // candidate of screen 1, 2, ...
  };
  const std::vector<Case> cases = {
      // Screen 7 is the only blurred number up to 12: the first of the
      // least written (5, then 9, in the order chosen) takes it.
      {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
       {0, 1, 2, 3, 4, 6, 5, 7, 8, 9, 10, 11}},
      {{11, 9, 10, 8, 7, 6, 5, 4}, {11, 10, 8, 7, 6, 5, 9, 4}},
      // Too few screens for a blurred number: the order chosen stays.
      {{3, 5, 1}, {3, 5, 1}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NumberChosen(input, c.chosen), c.expected);
  }
}

TEST(WrittenCounts, CountsOnlyScreensNoOtherFoundScreenImplies) {
  const ChoiceInput input = SmallChoice();
  // Query 0 holds 0 and 1, and 1 implies 0: only 1 is written.
  EXPECT_EQ(WrittenCounts(input, {0, 1, 2, 3}),
            (std::vector<std::size_t>{0, 1, 1, 1}));
  // Without 1 among the chosen, 0 is written.
  EXPECT_EQ(WrittenCounts(input, {0, 2}),
            (std::vector<std::size_t>{1, 0, 1, 0}));
}

}  // namespace
}  // namespace zolv

#include "screen_chooser.h"

#include <GraphMol/ROMol.h>
#include <GraphMol/SmilesParse/SmartsWrite.h>
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

// Whether RDKit finds the SMARTS in the molecule.
bool SmartsIn(const std::string& smarts, const RDKit::ROMol& molecule) {
  std::unique_ptr<RDKit::ROMol> pattern(RDKit::SmartsToMol(smarts));
  EXPECT_NE(pattern, nullptr) << smarts;
  return pattern != nullptr && HasSubstructure(molecule, *pattern);
}

// Every collected piece is a SMARTS that lies in the molecule it was taken
// from; how many there are shows which pieces a family takes.
TEST(CollectPieces, EachFamilyTakesItsPiecesOncePerShape) {
  enum Family { kSubgraphs, kSubstituents, kFusedPairs, kArms, kGrown };
  struct Case {
    Family family;
    const char* smiles;
    std::size_t pieces;
  };
  const Case cases[] = {
      // Propane holds only paths; isobutane one branched piece of 3 bonds.
      {kSubgraphs, "CCC", 0},
      {kSubgraphs, "CC(C)C", 1},
      // Cyclopropane: the ring itself is its only piece of 3 bonds.
      {kSubgraphs, "C1CC1", 1},
      // Toluene: the ring with its methyl by element and as any atom;
      // xylene adds the ring with both, each way; benzene has none.
      {kSubstituents, "c1ccccc1", 0},
      {kSubstituents, "Cc1ccccc1", 2},
      {kSubstituents, "Cc1ccc(C)cc1", 4},
      // Naphthalene: the pair bare; methylnaphthalene also with the methyl.
      {kFusedPairs, "c1ccc2ccccc2c1", 1},
      {kFusedPairs, "Cc1ccc2ccccc2c1", 2},
      {kFusedPairs, "c1ccccc1-c1ccccc1", 0},  // joined, not fused
      // Ethylbenzene has one chain of two bonds; isopropylbenzene two of
      // the same shape.
      {kArms, "CCc1ccccc1", 1},
      {kArms, "CC(C)c1ccccc1", 1},
      {kArms, "Cc1ccccc1", 0},
      // Hexane's pieces of 5 bonds: the whole chain only.
      {kGrown, "CCCCCC", 1},
  };
  for (const Case& c : cases) {
    const Samples molecules = Molecules({c.smiles});
    ASSERT_EQ(molecules.view.size(), 1u);
    std::vector<PathScreen> pieces;
    switch (c.family) {
      case kSubgraphs:
        pieces = CollectSubgraphs(molecules.view, 3, 3, 0, 1, 100, 1);
        break;
      case kSubstituents:
        pieces = CollectRingPieces(molecules.view, RingPiece::kSubstituents, 0,
                                   1, 100, 1);
        break;
      case kFusedPairs:
        pieces = CollectRingPieces(molecules.view, RingPiece::kFusedPairs, 0, 1,
                                   100, 1);
        break;
      case kArms:
        pieces =
            CollectRingPieces(molecules.view, RingPiece::kArms, 0, 1, 100, 1);
        break;
      case kGrown:
        pieces = GrowPieces(molecules.view, 5, 5, 20, 0, 1, 100, 3);
        break;
    }
    EXPECT_EQ(pieces.size(), c.pieces) << c.smiles;
    for (const PathScreen& piece : pieces) {
      EXPECT_TRUE(SmartsIn(piece.smarts, *molecules.view[0]))
          << piece.smarts << " from " << c.smiles;
      EXPECT_EQ(piece.molecules, 1u) << piece.smarts;
    }
  }
}

TEST(GrowPieces, GrowsConnectedPiecesOfTheSizeAskedDeterministically) {
  const Samples molecules = Molecules(
      {"CC(=O)Nc1ccc(O)cc1", "CCOC(=O)C1CCN(C)CC1", "c1ccc2[nH]ccc2c1"});
  const std::vector<PathScreen> pieces =
      GrowPieces(molecules.view, 4, 6, 30, 0, 1, 1000, 11);
  ASSERT_FALSE(pieces.empty());
  for (const PathScreen& piece : pieces) {
    EXPECT_GE(piece.bonds, 4u);
    EXPECT_LE(piece.bonds, 6u);
    std::unique_ptr<RDKit::ROMol> pattern(RDKit::SmartsToMol(piece.smarts));
    ASSERT_NE(pattern, nullptr) << piece.smarts;
    EXPECT_EQ(pattern->getNumBonds(), piece.bonds) << piece.smarts;
    std::size_t holders = 0;
    for (const RDKit::ROMol* molecule : molecules.view) {
      holders += HasSubstructure(*molecule, *pattern) ? 1 : 0;
    }
    EXPECT_GE(holders, piece.molecules) << piece.smarts;
  }
  EXPECT_EQ(Smarts(GrowPieces(molecules.view, 4, 6, 30, 0, 1, 1000, 11)),
            Smarts(pieces));
}

TEST(CanonicalSmiles, GivesOneTextPerMoleculeAndNoneForNonsense) {
  EXPECT_EQ(CanonicalSmiles("OCC"), CanonicalSmiles("C(O)C"));
  EXPECT_EQ(CanonicalSmiles("c1ccccc1"), CanonicalSmiles("C1=CC=CC=C1"));
  EXPECT_NE(CanonicalSmiles("CCO"), CanonicalSmiles("COC"));
  EXPECT_FALSE(CanonicalSmiles("C1CC"));
  const Samples molecules = Molecules({"OCC"});
  EXPECT_EQ(CanonicalSmiles(*molecules.view[0]), *CanonicalSmiles("CCO"));
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

// Twelve targets. Candidate 2 comes first in any case: it takes query 1's
// targets down to two (10 and 11). Then candidate 0 removes three of query
// 0's twelve, candidate 1 one of query 1's two: pairs favour candidate 0,
// the log objective candidate 1 (a halving against a cut by 3/13).
TEST(ChooseScreens, TheObjectiveDecidesTheSecondChoice) {
  ChoiceInput input;
  input.candidates = 3;
  input.count = 2;
  input.allowed = {true, true, true};
  input.implied = {{}, {}, {}};
  for (std::uint16_t t = 0; t < 12; ++t) {
    std::vector<std::uint16_t> held;
    if (t >= 3) held.push_back(0);
    if (t != 11) held.push_back(1);
    if (t >= 10) held.push_back(2);
    input.targetScreens.push_back(held);
  }
  input.queryScreens = {{0}, {1, 2}};
  struct Case {
    bool log;
    std::size_t second;
  };
  for (const Case& c : {Case{false, 0}, Case{true, 1}}) {
    input.logObjective = c.log;
    const ChoiceResult result = ChooseScreens(input);
    ASSERT_EQ(result.chosen.size(), 2u);
    EXPECT_EQ(result.chosen[0], 2u);
    EXPECT_EQ(result.chosen[1], c.second) << c.log;
  }
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

// 300 screens, more than one raw character each: every target holds
// screen 0 only, and each other screen is the one screen its own query
// writes, so any screen sharing a character or position with screen 0 lets
// its query's pairs through.
TEST(NumberByCost, KeepsTheScreenEveryTargetHoldsApartFromTheOthers) {
  constexpr std::size_t kScreens = 300;
  ChoiceInput input;
  input.candidates = kScreens;
  input.implied.assign(kScreens, {});
  input.targetScreens.assign(20, {0});
  std::vector<std::size_t> chosen;
  for (std::uint16_t s = 1; s < kScreens; ++s) {
    input.queryScreens.push_back({s});
    chosen.push_back(s);
  }
  input.queryScreens.push_back({0});
  chosen.push_back(0);
  const std::vector<std::size_t> numbered = NumberByCost(input, chosen);
  ASSERT_EQ(numbered.size(), kScreens);
  std::vector<std::size_t> sorted = numbered;
  std::sort(sorted.begin(), sorted.end());
  std::vector<std::size_t> every(kScreens);
  for (std::size_t i = 0; i < kScreens; ++i) every[i] = i;
  EXPECT_EQ(sorted, every);  // a permutation of the chosen
  // Blurred numbers as NumberChosen gives them.
  const std::vector<std::size_t> plain = NumberChosen(input, chosen);
  for (std::size_t n = 1; n <= kScreens; ++n) {
    if (IsBlurredNumber(n)) {
      EXPECT_EQ(numbered[n - 1], plain[n - 1]) << n;
    }
  }
  const std::size_t zero =
      std::find(numbered.begin(), numbered.end(), 0u) - numbered.begin() + 1;
  EXPECT_EQ(AlphabetPosition(zero), 64u) << zero;
  for (std::size_t n = 1; n <= kScreens; ++n) {
    if (n != zero) {
      EXPECT_NE(n % 256, zero % 256) << n << " and " << zero;
    }
  }
}

}  // namespace
}  // namespace zolv

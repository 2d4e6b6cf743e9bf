#include "formula_fragment.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core_test.h"
#include "encoder_test_util.h"
#include "pattern_encoder.h"

namespace zolv::testing {
namespace {

class FormulaFragment : public CoreTest {};

struct FragmentCase {
  std::string formula;
  ScreenMode mode;
  WildcardDialect dialect;
  std::uint8_t offset;
  std::uint32_t budget;
  std::string expected;
  std::uint32_t budgetLeft;
};

constexpr std::uint32_t kLarge = 1000;

void ExpectFragments(const std::vector<FragmentCase>& cases) {
  for (const FragmentCase& c : cases) {
    FakeCore::Get().SetFormula("mol", c.formula);
    FakeHostObject molecule("mol");
    FakeOutputStream stream;
    std::uint32_t budget = c.budget;
    WriteFormulaFragment(&molecule, c.mode, c.dialect, &budget, &stream,
                         c.offset);
    EXPECT_EQ(Hex(stream.text()), Hex(c.expected))
        << c.formula << " mode " << int(c.mode) << " dialect " << int(c.dialect)
        << " offset " << int{c.offset} << " budget " << c.budget;
    EXPECT_EQ(budget, c.budgetLeft) << c.formula << " budget " << c.budget;
    EXPECT_EQ(FakeCore::Get().Live(), 0u) << c.formula;
  }
}

TEST_F(FormulaFragment, SkipsCarbonAndHydrogen) {
  ExpectFragments({
      {"C6H5Cl", kTarget, kAccess, 0, kLarge, "Cl", kLarge - 2},
      {"C6H5Cl", kQuery, kAccess, 0, kLarge, "*Cl*", kLarge - 4},
      {"C6H5Cl", kQuery, kOdbc, 0, kLarge, "%Cl%", kLarge - 4},
      {"C6H5Cl", kTarget, kAccess, 10, kLarge, "Mv", kLarge - 2},
      {"C6H5Cl", kQuery, kAccess, 10, kLarge, "*Mv*", kLarge - 4},
      {"C6H6", kTarget, kAccess, 0, kLarge, "", kLarge},
      {"C6H6", kQuery, kAccess, 0, kLarge, "*", kLarge - 1},
      {"CD3T", kTarget, kAccess, 0, kLarge, "", kLarge},
      {"HgDyTcCa", kTarget, kAccess, 0, kLarge, "HgDyTcCa", kLarge - 8},
      {"C6H5X", kQuery, kAccess, 0, kLarge, "*X*", kLarge - 3},
      {"C6H6:H2O", kTarget, kAccess, 0, kLarge, ":O", kLarge - 2},
      {"C6H5[Cl,Br]", kQuery, kAccess, 0, kLarge, "*", kLarge - 1},
  });
}

TEST_F(FormulaFragment, RepeatsCountAgainstTheLastWrittenLength) {
  ExpectFragments({
      {"N2N3", kTarget, kAccess, 0, kLarge, "NNNN", kLarge - 4},
      {"N2N3", kQuery, kAccess, 0, kLarge, "*NN*NN*", kLarge - 7},
      {"N2HN3", kTarget, kAccess, 0, kLarge, "NNNN", kLarge - 4},
      {"N2HN3", kQuery, kAccess, 0, kLarge, "*NN*NN*", kLarge - 7},
      {"Cl3Cl4", kTarget, kAccess, 0, kLarge, "ClClClClCl", kLarge - 10},
      {"BrBr2", kTarget, kAccess, 0, kLarge, "Br", kLarge - 2},
      {"BrBr2", kQuery, kAccess, 0, kLarge, "*Br**", kLarge - 5},
      {"OSO", kTarget, kAccess, 0, kLarge, "OSO", kLarge - 3},
      {"OSO", kQuery, kAccess, 0, kLarge, "*O*S*O*", kLarge - 7},
      {"CH3COOH", kTarget, kAccess, 0, kLarge, "O", kLarge - 1},
      {"CH3COOH", kQuery, kAccess, 0, kLarge, "*O**", kLarge - 4},
      // A written symbol's length carries over an entry that wrote nothing.
      {"ClN0N3", kTarget, kAccess, 0, kLarge, "ClN", kLarge - 3},
  });
}

TEST_F(FormulaFragment, CapsCopiesAtFive) {
  ExpectFragments({
      {"Cl7", kTarget, kAccess, 0, kLarge, "ClClClClCl", kLarge - 10},
      {"N5", kTarget, kAccess, 0, kLarge, "NNNNN", kLarge - 5},
      {"N40000", kQuery, kAccess, 0, kLarge, "*NNNNN*", kLarge - 7},
      {"N0", kQuery, kAccess, 0, kLarge, "**", kLarge - 2},
      {"N0", kTarget, kAccess, 0, kLarge, "", kLarge},
  });
}

TEST_F(FormulaFragment, MovedCharactersGoThroughThePatternRules) {
  ExpectFragments({
      {"Br", kTarget, kAccess, 10, kLarge, "L?", kLarge - 2},
      {"Br", kQuery, kAccess, 10, kLarge, "*L?*", kLarge - 4},
      {"Br", kQuery, kOdbc, 10, kLarge, "%L_%", kLarge - 4},
      {"Ti", kTarget, kAccess, 10, kLarge, "^s", kLarge - 2},
      {"Ti", kQuery, kAccess, 10, kLarge, "*?s*", kLarge - 4},
      {"Ti", kQuery, kOdbc, 10, kLarge, "%_s%", kLarge - 4},
      {"Q", kTarget, kAccess, 10, kLarge, "[[]", kLarge - 3},
      {"Q", kQuery, kOdbc, 10, kLarge, "%%%]%", kLarge - 5},
      {"Zr", kTarget, kAccess, 10, kLarge, "d?", kLarge - 2},
      {"Yb", kTarget, kAccess, 10, kLarge, "cl", kLarge - 2},
      {"Zn", kTarget, kAccess, 10, kLarge, "dx", kLarge - 2},
      {"Au", kTarget, kAccess, 200, kLarge, "\x09\x3D", kLarge - 2},
  });
}

TEST_F(FormulaFragment, StopsWhenTheBudgetRunsOut) {
  ExpectFragments({
      {"C6H5Cl", kQuery, kAccess, 10, 3, "*M*", 0},
      {"C6H5Cl", kQuery, kAccess, 10, 1, "*", 0},
      {"C6H5Cl", kTarget, kAccess, 10, 2, "M*", 0},
      {"C6H5Cl", kTarget, kAccess, 10, 0, "", 0},
      {"C6H5Cl", kQuery, kAccess, 10, 0, "", 0},
      {"C6H5Cl", kQuery, kAccess, 10, 4, "*Mv*", 0},
      {"C6H6", kQuery, kAccess, 0, 1, "*", 0},
      {"NO", kQuery, kOdbc, 0, 3, "%N%", 0},
  });
}

TEST_F(FormulaFragment, QueryKeepsItsClosingSeparatorWithoutAFormula) {
  FakeHostObject molecule("unscripted");
  for (ScreenMode mode : {kTarget, kQuery}) {
    FakeOutputStream stream;
    std::uint32_t budget = 10;
    WriteFormulaFragment(&molecule, mode, kOdbc, &budget, &stream, 0);
    EXPECT_EQ(stream.text(), mode == kQuery ? "%" : "");
  }
  EXPECT_EQ(core().Created(ObjectKind::kString),
            core().Released(ObjectKind::kString));
}

TEST_F(FormulaFragment, FailedStringCreationWritesOnlyTheSeparator) {
  // 1: the fragment's own string; 2: the temporary inside FetchFormulaText.
  for (std::uint64_t failing : {1, 2}) {
    for (ScreenMode mode : {kTarget, kQuery}) {
      core().Reset();
      core().SetFormula("mol", "C6H5Cl");
      core().FailCreation(ObjectKind::kString, failing);
      FakeHostObject molecule("mol");
      FakeOutputStream stream;
      std::uint32_t budget = 10;
      WriteFormulaFragment(&molecule, mode, kAccess, &budget, &stream, 0);
      EXPECT_EQ(stream.text(), mode == kQuery ? "*" : "")
          << "failing creation " << failing;
      EXPECT_TRUE(core().Problems().empty()) << "failing creation " << failing;
    }
  }
}

TEST_F(FormulaFragment, ReleasesEachStringOnce) {
  core().SetFormula("mol", "C6H5Cl");
  FakeHostObject molecule("mol");
  FakeOutputStream stream;
  std::uint32_t budget = kLarge;
  WriteFormulaFragment(&molecule, kQuery, kAccess, &budget, &stream, 0);
  EXPECT_EQ(core().Created(ObjectKind::kString), 2u);
  EXPECT_EQ(core().Released(ObjectKind::kString), 2u);
}

// The screen part and the fragment of one raw "SBI" text share the budget.
std::string RawText(std::uint32_t length, ScreenMode mode,
                    WildcardDialect dialect) {
  ScreenSet screens;
  AddAll(&screens, {3, 4, 7});
  FakeCore::Get().SetFormula("mol", "C6H5Cl");
  FakeHostObject molecule("mol");
  FakeOutputStream stream;
  std::uint32_t budget = length;
  WriteRawScreens(screens, mode, dialect, &budget, &stream);
  WriteFormulaFragment(&molecule, mode, dialect, &budget, &stream, 10);
  return stream.text();
}

TEST_F(FormulaFragment, RawTextSharesOneBudget) {
  struct Case {
    std::uint32_t length;
    ScreenMode mode;
    WildcardDialect dialect;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {1, kQuery, kAccess, "*"},
      {2, kQuery, kAccess, "**"},
      {3, kQuery, kAccess, "*?*"},
      {4, kQuery, kAccess, "*?**"},
      {5, kQuery, kAccess, "\x2A\x3F\x2A\x04\x2A"},
      {6, kQuery, kAccess, "\x2A\x3F\x2A\x04\x03\x2A"},
      {7, kQuery, kAccess, "\x2A\x3F\x2A\x04\x03\x2A\x2A"},
      {8, kQuery, kAccess, "\x2A\x3F\x2A\x04\x03\x2A\x4D\x2A"},
      {128, kQuery, kAccess, "\x2A\x3F\x2A\x04\x03\x2A\x4D\x76\x2A"},
      {128, kQuery, kOdbc, "\x25\x5F\x25\x04\x03\x25\x4D\x76\x25"},
      {4, kTarget, kAccess, "\x07\x04\x03\x2A"},
      {5, kTarget, kAccess, "\x07\x04\x03\x4D\x2A"},
      {6, kTarget, kAccess, "\x07\x04\x03\x4D\x76"},
      {128, kTarget, kAccess, "\x07\x04\x03\x4D\x76"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Hex(RawText(c.length, c.mode, c.dialect)), Hex(c.expected))
        << "length " << c.length << " mode " << int(c.mode);
  }
}

}  // namespace
}  // namespace zolv::testing

#include "numbering_search.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zolv::host {
namespace {

// 300 screens, so that numbers above 256 share the raw characters of low
// ones. Each row: the number screen 1 starts on and what the one target
// (holding screen 0, on number 1) lets through of the one query (writing
// screen 1, which the target lacks).
TEST(SearchNumbering, SwapsAwayASharedCharacterThatLetsAPairThrough) {
  constexpr std::size_t kScreens = 300;
  const std::vector<NumberingObject> targets = {{{0}, "", ""}};
  const std::vector<NumberingObject> queries = {{{1}, "", ""}};
  struct Case {
    std::size_t start;        // screen 1's number
    std::uint64_t rawBefore;  // raw pattern matches the target text
  };
  const Case cases[] = {
      {257, 1},  // character 1, as screen 0's: a false candidate
      {258, 0},  // character 2: already apart
  };
  for (const Case& c : cases) {
    std::vector<std::size_t> numbers(kScreens);
    for (std::size_t s = 0; s < kScreens; ++s) numbers[s] = s + 1;
    std::swap(numbers[1], numbers[c.start - 1]);
    const NumberingScore before = ScoreNumbering(targets, queries, numbers);
    EXPECT_EQ(before.pairs, 1u);
    EXPECT_EQ(before.contained, 0u);
    EXPECT_EQ(before.raw, c.rawBefore) << c.start;
    NumberingSearchOptions options;
    options.swaps = 2000;
    const std::vector<std::size_t> searched =
        SearchNumbering(targets, queries, numbers, options);
    const NumberingScore after = ScoreNumbering(targets, queries, searched);
    EXPECT_EQ(after.raw, 0u) << c.start;
    EXPECT_EQ(after.alphabet, before.alphabet) << c.start;  // untouched
    // Still a permutation, blurred numbers where they were.
    std::vector<bool> seen(kScreens + 1, false);
    for (std::size_t s = 0; s < kScreens; ++s) {
      ASSERT_GE(searched[s], 1u);
      ASSERT_LE(searched[s], kScreens);
      EXPECT_FALSE(seen[searched[s]]);
      seen[searched[s]] = true;
      if (numbers[s] % 256 == 7 || numbers[s] % 256 == 42) {
        EXPECT_EQ(searched[s], numbers[s]);
      }
    }
  }
}

// Contained pairs match whatever the numbering; the formula fragment that
// follows the screens takes part in the match.
TEST(ScoreNumbering, MatchesWholeTextsScreensThenFormula) {
  std::vector<std::size_t> numbers = {1, 2, 3};
  const std::vector<NumberingObject> targets = {
      {{0, 1}, "XY", "NO"},  // holds both screens the query writes
      {{0, 1}, "X", "N"},    // and them, but not the query's Y
      {{0}, "XY", "NO"},     // lacks screen 1
  };
  const std::vector<NumberingObject> queries = {{{0, 1}, "*X*Y*", "*N*O*"}};
  const NumberingScore score = ScoreNumbering(targets, queries, numbers);
  EXPECT_EQ(score.pairs, 3u);
  EXPECT_EQ(score.contained, 2u);
  EXPECT_EQ(score.raw, 1u);
  EXPECT_EQ(score.alphabet, 1u);
}

}  // namespace
}  // namespace zolv::host

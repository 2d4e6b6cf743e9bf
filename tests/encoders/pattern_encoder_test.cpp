#include "pattern_encoder.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "bit_string_encoder.h"
#include "core_test.h"
#include "encoder_test_util.h"

namespace zolv::testing {
namespace {

class PatternEncoder : public CoreTest {};

struct CharCase {
  std::uint8_t character;
  ScreenMode mode;
  WildcardDialect dialect;
  std::uint32_t budget;
  std::string expected;
  std::uint32_t budgetLeft;
};

void ExpectChars(const std::vector<CharCase>& cases) {
  for (const CharCase& c : cases) {
    FakeOutputStream stream;
    std::uint32_t budget = c.budget;
    PutPatternChar(c.character, c.mode, c.dialect, &budget, &stream);
    EXPECT_EQ(Hex(stream.text()), Hex(c.expected))
        << "character " << int{c.character} << " mode " << int(c.mode)
        << " dialect " << int(c.dialect) << " budget " << c.budget;
    EXPECT_EQ(budget, c.budgetLeft) << "character " << int{c.character};
    EXPECT_LE(stream.putCalls(), c.budget - c.budgetLeft)
        << "every PutChar takes a budget unit";
  }
}

TEST_F(PatternEncoder, BracketsSpecialCharactersInTargets) {
  ExpectChars({
      {'*', kTarget, kAccess, 100, "[*]", 97},
      {'?', kTarget, kAccess, 100, "[?]", 97},
      {'#', kTarget, kAccess, 100, "[#]", 97},
      {'-', kTarget, kAccess, 100, "[-]", 97},
      {'[', kTarget, kAccess, 100, "[[]", 97},
      {'|', kTarget, kAccess, 100, "?", 99},
      {'"', kTarget, kAccess, 100, "\"", 99},
      {'\'', kTarget, kAccess, 100, "'", 99},
      {'^', kTarget, kAccess, 100, "^", 99},
      {0x07, kTarget, kAccess, 100, "\x07", 99},
      {']', kTarget, kAccess, 100, "]", 99},
      {'%', kTarget, kAccess, 100, "%", 99},
      {'_', kTarget, kAccess, 100, "_", 99},
      {0x00, kTarget, kAccess, 100, std::string(1, '\0'), 99},
      {0xFF, kTarget, kAccess, 100, "\xFF", 99},
      {'A', kTarget, kAccess, 100, "A", 99},
  });
}

TEST_F(PatternEncoder, EscapesQueryCharactersByDialect) {
  ExpectChars({
      {'*', kQuery, kAccess, 100, "**]", 97},
      {'*', kQuery, kOdbc, 100, "%*]", 97},
      {'?', kQuery, kAccess, 100, "*?]", 97},
      {'?', kQuery, kOdbc, 100, "%?]", 97},
      {'#', kQuery, kAccess, 100, "*#]", 97},
      {'#', kQuery, kOdbc, 100, "%#]", 97},
      {'-', kQuery, kAccess, 100, "*-]", 97},
      {'-', kQuery, kOdbc, 100, "%-]", 97},
      {'[', kQuery, kAccess, 100, "**]", 97},
      {'[', kQuery, kOdbc, 100, "%%]", 97},
      {'|', kQuery, kAccess, 100, "?", 99},
      {'|', kQuery, kOdbc, 100, "_", 99},
      {'"', kQuery, kAccess, 100, "*", 99},
      {'"', kQuery, kOdbc, 100, "%", 99},
      {'\'', kQuery, kAccess, 100, "?", 99},
      {'\'', kQuery, kOdbc, 100, "_", 99},
      {'^', kQuery, kAccess, 100, "?", 99},
      {'^', kQuery, kOdbc, 100, "_", 99},
      {0x07, kQuery, kAccess, 100, "?", 99},
      {0x07, kQuery, kOdbc, 100, "_", 99},
      {'%', kQuery, kAccess, 100, "%", 99},
      {'_', kQuery, kAccess, 100, "_", 99},
      {0x00, kQuery, kOdbc, 100, std::string(1, '\0'), 99},
      {0x87, kQuery, kOdbc, 100, "\x87", 99},  // not 0x07 read as signed
  });
}

TEST_F(PatternEncoder, EndsOnASeparatorWhenTheBudgetRunsOut) {
  ExpectChars({
      {'A', kTarget, kAccess, 0, "", 0},
      {'A', kQuery, kOdbc, 0, "", 0},
      {'A', kTarget, kAccess, 1, "*", 0},
      {'A', kQuery, kOdbc, 1, "%", 0},
      {'A', kTarget, kAccess, 2, "A", 1},
      {'*', kTarget, kAccess, 1, "*", 0},
      {'*', kTarget, kAccess, 2, "*", 0},
      {'*', kTarget, kAccess, 4, "*", 0},
      {'*', kTarget, kAccess, 5, "[*]", 2},
      {'[', kQuery, kOdbc, 3, "%", 0},
      {'[', kQuery, kOdbc, 5, "%%]", 2},
      {'|', kQuery, kOdbc, 2, "_", 1},
  });
}

struct ScreensCase {
  std::vector<std::uint32_t> members;
  ScreenMode mode;
  WildcardDialect dialect;
  std::uint32_t budget;
  std::string expected;
};

void ExpectRaw(const std::vector<ScreensCase>& cases) {
  for (const ScreensCase& c : cases) {
    ScreenSet set;
    for (std::uint32_t m : c.members) set.Add(m);
    FakeOutputStream stream;
    std::uint32_t budget = c.budget;
    WriteRawScreens(set, c.mode, c.dialect, &budget, &stream);
    EXPECT_EQ(Hex(stream.text()), Hex(c.expected))
        << "first screen " << (c.members.empty() ? 0 : c.members[0]) << " mode "
        << int(c.mode) << " dialect " << int(c.dialect) << " budget "
        << c.budget;
    ASSERT_LE(budget, c.budget);
    EXPECT_LE(stream.putCalls(), c.budget - budget)
        << "every PutChar takes a budget unit";
  }
}

TEST_F(PatternEncoder, RawScreensLargestFirstWithOneSeparatorPerRun) {
  ExpectRaw({
      {{3, 4, 7}, kTarget, kAccess, 128, "\x07\x04\x03"},
      {{3, 4, 7}, kQuery, kAccess, 128, "*?*\x04\x03"},
      {{3, 4, 7}, kQuery, kOdbc, 128, "%_%\x04\x03"},
      {{1, 2, 3, 5, 6, 9}, kQuery, kAccess, 128, "*\x09*\x06\x05*\x03\x02\x01"},
      {{}, kQuery, kAccess, 128, ""},
      {{0}, kQuery, kAccess, 128, ""},  // screen 0 is never written
      {{0, 65}, kTarget, kAccess, 128, "A"},
  });
}

TEST_F(PatternEncoder, RawScreensUnderASmallBudget) {
  ExpectRaw({
      {{3, 4, 7}, kQuery, kAccess, 1, "*"},
      {{3, 4, 7}, kQuery, kAccess, 2, "**"},
      {{3, 4, 7}, kQuery, kAccess, 3, "*?*"},
      {{3, 4, 7}, kQuery, kAccess, 4, "*?**"},
      {{3, 4, 7}, kQuery, kAccess, 5, "*?*\x04*"},
      {{3, 4, 7}, kTarget, kAccess, 2, "\x07*"},
      {{3, 4, 7}, kTarget, kAccess, 0, ""},
  });
}

TEST_F(PatternEncoder, RawSingleScreensWrapAt256) {
  const std::string nul(1, '\0');
  ExpectRaw({
      {{42}, kTarget, kAccess, 128, "[*]"},
      {{42}, kQuery, kAccess, 128, "***]"},
      {{42}, kQuery, kOdbc, 128, "%%*]"},
      {{42}, kQuery, kAccess, 5, "**"},
      {{42}, kTarget, kAccess, 4, "*"},
      {{42}, kTarget, kAccess, 5, "[*]"},
      {{298}, kTarget, kAccess, 128, "[*]"},
      {{298}, kQuery, kAccess, 128, "***]"},
      {{298}, kQuery, kOdbc, 128, "%%*]"},
      {{256}, kTarget, kAccess, 128, nul},
      {{256}, kQuery, kAccess, 128, "*" + nul},
      {{124}, kTarget, kAccess, 128, "?"},
      {{124}, kQuery, kAccess, 128, "*?"},
      {{124}, kQuery, kOdbc, 128, "%_"},
      // 257 and 256 are consecutive: one run, one separator.
      {{256, 257}, kQuery, kAccess, 128, "*\x01" + nul},
  });
}

void ExpectAlphabet(const std::vector<ScreensCase>& cases) {
  for (const ScreensCase& c : cases) {
    ScreenSet perceived;
    ScreenSet folded;
    for (std::uint32_t m : c.members) perceived.Add(m);
    FoldScreens(perceived, &folded, 64);
    FakeOutputStream stream;
    std::uint32_t budget = c.budget;
    WriteAlphabetScreens(folded, c.mode, c.dialect, &budget, &stream);
    EXPECT_EQ(stream.text(), c.expected)
        << "first screen " << (c.members.empty() ? 0 : c.members[0]) << " mode "
        << int(c.mode) << " budget " << c.budget;
    EXPECT_EQ(budget, c.budget - stream.putCalls());
  }
}

TEST_F(PatternEncoder, AlphabetScreensAfterTheFoldToSixtyFour) {
  ExpectAlphabet({
      {{3, 4, 7}, kTarget, kAccess, 128, "347"},
      {{3, 4, 7}, kQuery, kAccess, 128, "*34*7"},
      {{3, 4, 7}, kQuery, kOdbc, 128, "%34%7"},
      {{1, 63, 64, 65, 127, 128, 129}, kTarget, kAccess, 128, "1}"},
      {{1, 63, 64, 65, 127, 128, 129}, kQuery, kAccess, 128, "*1*}"},
      {{1, 2, 63, 64, 66}, kQuery, kAccess, 128, "*12*}"},
      {{64}, kQuery, kAccess, 128, ""},
      {{128, 192}, kTarget, kAccess, 128, ""},
      {{}, kQuery, kAccess, 128, ""},
      {{10, 36, 62, 126}, kTarget, kAccess, 128, "Aa{"},
  });
}

TEST_F(PatternEncoder, AlphabetHasOneCharacterPerPosition) {
  std::vector<std::uint32_t> all;
  for (std::uint32_t m = 1; m <= 64; ++m) all.push_back(m);
  ExpectAlphabet({
      {all, kTarget, kAccess, 128,
       "123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz{}"},
      {all, kQuery, kOdbc, 128,
       "%123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz{}"},
  });
}

TEST_F(PatternEncoder, AlphabetStopsWhenTheBudgetIsSpent) {
  ExpectAlphabet({
      {{1, 2, 3}, kTarget, kAccess, 2, "12"},
      {{1, 2, 3}, kTarget, kAccess, 0, ""},
      {{1, 3}, kQuery, kAccess, 3, "*1*"},
      // The last place of a query goes to the separator, as in the raw
      // variant: "*1*3" would miss a target whose text goes on after "13".
      {{1, 3}, kQuery, kAccess, 4, "*1**"},
      {{1, 3}, kQuery, kAccess, 1, "*"},
  });
}

TEST_F(PatternEncoder, ACutAlphabetQueryEndsWithTheSeparator) {
  // Every budget short of the whole pattern "*34*7" and its place for a
  // closing separator: the cut pattern ends with the separator, so it
  // matches whatever the whole one matches.
  for (const WildcardDialect dialect : {kAccess, kOdbc}) {
    const char separator = dialect == kAccess ? '*' : '%';
    const std::vector<std::pair<std::uint32_t, std::string>> cuts = {
        {1, "*"},    {2, "**"},    {3, "*3*"},
        {4, "*34*"}, {5, "*34**"}, {6, "*34*7"}};
    std::vector<ScreensCase> cases;
    for (const auto& [budget, expected] : cuts) {
      std::string text = expected;
      for (char& c : text) {
        if (c == '*') c = separator;
      }
      cases.push_back({{3, 4, 7}, kQuery, dialect, budget, text});
    }
    ExpectAlphabet(cases);
  }
}

}  // namespace
}  // namespace zolv::testing

#include "whole_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zolv::search {
namespace {

// Writes a text under a budget the way the driver does: a character that
// finds one place left, or a bracketed one ("[x]") that finds fewer than
// five, is written as the separator "*", which ends the text.
class FakeWriter {
 public:
  explicit FakeWriter(std::vector<std::string> units)
      : units_(std::move(units)) {}

  bool operator()(std::uint32_t length, std::string* text) {
    lengths.push_back(length);
    text->clear();
    std::uint32_t budget = length;
    for (const std::string& unit : units_) {
      if (budget == 0) break;
      const std::uint32_t need = unit.size() == 1 ? 2 : 5;
      if (budget < need) {
        text->push_back('*');
        budget = 0;
        break;
      }
      *text += unit;
      budget -= static_cast<std::uint32_t>(unit.size());
    }
    return true;
  }

  std::vector<std::uint32_t> lengths;

 private:
  std::vector<std::string> units_;
};

std::vector<std::string> Units(const std::string& plain) {
  std::vector<std::string> units;
  for (char c : plain) units.emplace_back(1, c);
  return units;
}

TEST(WholeText, GrowsTheBudgetUntilTheTextIsWhole) {
  FakeWriter writer(Units("ABCDEFGHIJKLMNOPQRST"));
  BudgetedText result;
  ASSERT_TRUE(WriteWholeText(std::ref(writer), 8, &result));
  EXPECT_EQ(result.text, "ABCDEFGHIJKLMNOPQRST");
  EXPECT_FALSE(result.cut);
  EXPECT_EQ(writer.lengths, (std::vector<std::uint32_t>{8, 16, 32}));
  EXPECT_EQ(result.length, 32u);
}

TEST(WholeText, TellsACutTextFromOneThatJustFits) {
  struct Case {
    std::vector<std::string> units;
    std::uint32_t length;
    std::string text;
    bool cut;
  };
  const std::vector<Case> cases = {
      // The last place goes to the separator, even for the last character.
      {Units("ABCDE"), 5, "ABCD*", true},
      {Units("ABCDE"), 6, "ABCDE", false},
      {Units("ABCDE"), 9, "ABCDE", false},
      // A bracketed character that finds 4 places or fewer leaves them
      // unused but one.
      {{"A", "[*]"}, 5, "A*", true},
      {{"A", "[*]", "B"}, 5, "A*", true},
      {{"A", "[*]"}, 6, "A[*]", false},
  };
  for (const Case& c : cases) {
    FakeWriter writer(c.units);
    BudgetedText result;
    ASSERT_TRUE(WriteWithLength(std::ref(writer), c.length, &result));
    EXPECT_EQ(result.text, c.text);
    EXPECT_EQ(result.length, c.length);
    EXPECT_EQ(result.cut, c.cut) << c.text << " with " << c.length;
  }
}

TEST(WholeText, GivesUpAtTheLargestBudgetAndReportsTheCut) {
  // A writer whose text always fills the budget can never be shown whole.
  int calls = 0;
  const BudgetedWriter endless = [&calls](std::uint32_t length,
                                          std::string* text) {
    ++calls;
    text->assign(length, 'x');
    return true;
  };
  BudgetedText result;
  ASSERT_TRUE(WriteWholeText(endless, 1u << 18, &result));
  EXPECT_TRUE(result.cut);
  EXPECT_EQ(result.length, kMaxTextLength);
  EXPECT_EQ(calls, 3);
}

TEST(WholeText, PassesOnTheWritersFailure) {
  const BudgetedWriter failing = [](std::uint32_t, std::string*) {
    return false;
  };
  BudgetedText result;
  EXPECT_FALSE(WriteWholeText(failing, 16, &result));
  EXPECT_FALSE(WriteWithLength(failing, 16, &result));
}

}  // namespace
}  // namespace zolv::search

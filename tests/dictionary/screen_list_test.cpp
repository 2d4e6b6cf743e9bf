#include "screen_list.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace zolv {
namespace {

ScreenList Parse(const std::string& text) {
  std::istringstream in(text);
  return ParseScreenList(in);
}

struct LineCase {
  const char* line;
  const char* smarts;  // nullptr: the line holds no screen
  const char* name;
};

TEST(ScreenList, SplitsScreenNameAndComment) {
  const LineCase cases[] = {
      {"[#7]", "[#7]", ""},
      {"[#7] nitrogen", "[#7]", "nitrogen"},
      {"  C#N\tnitrile group  ", "C#N", "nitrile group"},
      {"[#7]~[#8] N-O # not in nitro", "[#7]~[#8]", "N-O"},
      {"c1ccccc1 # benzene", "c1ccccc1", ""},
      {"# [#7] commented out", nullptr, ""},
      {"   # indented comment", nullptr, ""},
      {"", nullptr, ""},
      {" \t\r", nullptr, ""},
      {"[#6]#[#7]\r", "[#6]#[#7]", ""},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.line);
    const ScreenList list = Parse(c.line);
    EXPECT_TRUE(list.problems.empty());
    if (c.smarts == nullptr) {
      EXPECT_TRUE(list.screens.empty());
      continue;
    }
    ASSERT_EQ(list.screens.size(), 1u);
    EXPECT_EQ(list.screens[0].smarts, c.smarts);
    EXPECT_EQ(list.screens[0].name, c.name);
    EXPECT_EQ(list.screens[0].line, 1u);
  }
}

TEST(ScreenList, NumbersScreensInListOrderWithTheirLines) {
  const ScreenList list = Parse("# header\n[#7]\n\n[#8] oxygen\nC=O\n");
  ASSERT_EQ(list.screens.size(), 3u);
  EXPECT_EQ(list.screens[0].line, 2u);
  EXPECT_EQ(list.screens[1].line, 4u);
  EXPECT_EQ(list.screens[2].line, 5u);
  EXPECT_EQ(list.screens[2].smarts, "C=O");
}

TEST(ScreenList, ReportsRepeatedSmartsWithBothLines) {
  const ScreenList list = Parse("[#7] n\n[#8]\n[#7] again\n");
  ASSERT_EQ(list.screens.size(), 2u);
  ASSERT_EQ(list.problems.size(), 1u);
  EXPECT_EQ(list.problems[0].line, 3u);
  EXPECT_NE(list.problems[0].message.find("first listed on line 1"),
            std::string::npos)
      << list.problems[0].message;
}

TEST(ScreenList, RefusesMoreScreensThanSixteenBitsNumber) {
  std::string text;
  for (std::size_t i = 0; i <= kMaxScreens + 1; ++i) {
    text += "[#6]" + std::string(i % 7 + 1, '~') + std::to_string(i) + "\n";
  }
  const ScreenList list = Parse(text);
  EXPECT_EQ(list.screens.size(), kMaxScreens);
  ASSERT_EQ(list.problems.size(), 1u);
  EXPECT_EQ(list.problems[0].line, kMaxScreens + 1);
}

}  // namespace
}  // namespace zolv

#include "dictionary_builder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dictionary_format.h"

namespace zolv {
namespace {

using Numbers = std::vector<std::uint16_t>;

std::vector<ListedScreen> Listed(std::size_t count) {
  std::vector<ListedScreen> screens;
  for (std::size_t i = 0; i < count; ++i) {
    screens.push_back({i + 10, "S" + std::to_string(i + 1), ""});
  }
  return screens;
}

const DictionaryScreen& Screen(const DictionaryContent& content,
                               std::uint16_t number) {
  for (const DictionaryScreen& screen : content.screens) {
    if (screen.number == number) return screen;
  }
  ADD_FAILURE() << "no screen " << number;
  return content.screens.front();
}

std::string Joined(const std::vector<std::string>& messages) {
  std::string text;
  for (const std::string& message : messages) text += message + "\n";
  return text;
}

TEST(DictionaryBuilder, ClosesImplicationsAndWritesTestOrder) {
  // 4 finds 3 only, 3 finds 2, 2 finds 1: the closure must give 4 all three.
  // 5 stands alone.
  const BuiltDictionary built =
      BuildDictionary(Listed(5), {{1}, {1, 2}, {2, 3}, {3, 4}, {5}});
  ASSERT_TRUE(built.problems.empty());
  EXPECT_TRUE(built.notes.empty());
  const DictionaryContent& content = built.content;
  EXPECT_EQ(content.orderFlag, 1);
  ASSERT_EQ(content.screens.size(), 5u);
  EXPECT_EQ(Screen(content, 4).implied, (Numbers{1, 2, 3}));
  EXPECT_EQ(Screen(content, 4).dependent, Numbers{});
  EXPECT_EQ(Screen(content, 1).dependent, (Numbers{2, 3, 4}));
  EXPECT_EQ(Screen(content, 2).implied, Numbers{1});
  EXPECT_EQ(Screen(content, 2).dependent, (Numbers{3, 4}));
  EXPECT_EQ(Screen(content, 5).implied, Numbers{});
  EXPECT_EQ(Screen(content, 3).stored, "S3");
  // Keys 3, 1, 0, -1, -3; the lone screen 5 (key 0) sits between.
  Numbers order;
  for (const DictionaryScreen& screen : content.screens) {
    order.push_back(screen.number);
  }
  EXPECT_EQ(order, (Numbers{1, 2, 5, 3, 4}));
  EXPECT_TRUE(IsInTestOrder(content));
  EXPECT_TRUE(ValidateDictionary(content).empty())
      << Joined(ValidateDictionary(content));
}

TEST(DictionaryBuilder, EqualKeysKeepListOrder) {
  const BuiltDictionary built = BuildDictionary(Listed(3), {{1}, {2}, {3}});
  ASSERT_EQ(built.content.screens.size(), 3u);
  for (std::uint16_t i = 0; i < 3; ++i) {
    EXPECT_EQ(built.content.screens[i].number, i + 1);
  }
}

TEST(DictionaryBuilder, ReportsTheLaterOfTwoEquivalentScreens) {
  // 2 and 4 find each other (through 3 for one direction): all of 2, 3 and
  // 4 are equivalent, and both later ones are reported against screen 2.
  const BuiltDictionary built =
      BuildDictionary(Listed(4), {{1}, {2, 3}, {3, 4}, {2, 4}});
  ASSERT_EQ(built.problems.size(), 2u);
  EXPECT_EQ(built.problems[0].line, 12u);
  EXPECT_NE(built.problems[0].message.find("\"S3\" is equivalent to \"S2\" "
                                           "on line 11"),
            std::string::npos)
      << built.problems[0].message;
  EXPECT_EQ(built.problems[1].line, 13u);
  EXPECT_TRUE(built.content.screens.empty());
}

TEST(DictionaryBuilder, NotesScreensMissingFromTheirOwnQuery) {
  // Screen 2 is not found in its own query; it still implies screen 1.
  const BuiltDictionary built = BuildDictionary(Listed(2), {{1}, {1}});
  ASSERT_TRUE(built.problems.empty());
  ASSERT_EQ(built.notes.size(), 1u);
  EXPECT_EQ(built.notes[0].line, 11u);
  EXPECT_EQ(Screen(built.content, 2).implied, Numbers{1});
}

TEST(DictionaryBuilder, IgnoresNumbersOutsideTheList) {
  const BuiltDictionary built = BuildDictionary(Listed(2), {{1, 0, 7}, {2}});
  ASSERT_TRUE(built.problems.empty());
  EXPECT_TRUE(ValidateDictionary(built.content).empty());
}

}  // namespace
}  // namespace zolv

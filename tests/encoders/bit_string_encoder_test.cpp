#include "bit_string_encoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core_test.h"
#include "encoder_test_util.h"

namespace zolv::testing {
namespace {

class BitStringEncoder : public CoreTest {};

std::vector<std::uint32_t> Members(const ScreenSet& set) {
  std::vector<std::uint32_t> members;
  std::uint32_t m = 0;
  for (bool found = set.NextFrom(0, &m); found;
       found = set.NextFrom(m + 1, &m)) {
    members.push_back(m);
  }
  return members;
}

TEST_F(BitStringEncoder, FoldsOnlyWhenTheLargestMemberExceedsTheLength) {
  struct Case {
    std::vector<std::uint32_t> members;
    std::uint32_t length;
    std::string expected;
    bool folds;
  };
  const std::vector<Case> cases = {
      {{3, 4, 7}, 128, "0011001" + std::string(121, '0'), false},
      {{3, 4, 7}, 7, "0011001", false},  // 7 is not greater than 7: no fold
      {{3, 4, 7}, 6, "101100", true},
      {{3, 4, 7}, 5, "01110", true},
      {{5, 10, 15}, 5, "00001", true},  // multiples of the width land on it
      {{40}, 16, "0000000100000000", true},
      {{16}, 16, "0000000000000001", false},
      {{}, 4, "0000", false},
      {{0}, 3, "000", false},     // screen 0 has no position
      {{0, 9}, 4, "1000", true},  // folded, and 0 still left out
      {{300}, 1, "1", true},
  };
  for (const Case& c : cases) {
    ScreenSet perceived;
    ScreenSet folded;
    for (std::uint32_t m : c.members) perceived.Add(m);
    FakeOutputStream stream;
    WriteBitStringEncoding(perceived, &folded, c.length, &stream);
    EXPECT_EQ(stream.text(), c.expected) << "length " << c.length;
    EXPECT_EQ(stream.putCalls(), c.length);
    EXPECT_EQ(!folded.IsEmpty(), c.folds) << "length " << c.length;
  }
}

TEST_F(BitStringEncoder, FoldMapsEachMemberOntoOneToWidth) {
  struct Case {
    std::uint32_t member;
    std::uint32_t width;
    std::uint32_t position;
  };
  const std::vector<Case> cases = {
      {1, 64, 1},    {63, 64, 63}, {64, 64, 64},        {65, 64, 1},
      {128, 64, 64}, {129, 64, 1}, {268435454, 64, 62}, {268435454, 1, 1},
      {7, 6, 1},     {7, 5, 2},    {1000, 7, 6},
  };
  for (const Case& c : cases) {
    ScreenSet source;
    ScreenSet destination;
    source.Add(c.member);
    FoldScreens(source, &destination, c.width);
    EXPECT_EQ(Members(destination), std::vector<std::uint32_t>{c.position})
        << c.member << " onto " << c.width;
  }
}

TEST_F(BitStringEncoder, FoldMergesMembersThatLandTogether) {
  ScreenSet source;
  ScreenSet destination;
  AddAll(&source, {0, 1, 63, 64, 65, 127, 128, 129, 200, 1000});
  FoldScreens(source, &destination, 64);
  // 200 -> 8, 1000 -> 40; 0 is never folded.
  EXPECT_EQ(Members(destination),
            (std::vector<std::uint32_t>{1, 8, 40, 63, 64}));
  EXPECT_EQ(Members(source).size(), 10u) << "the source is only read";
}

TEST_F(BitStringEncoder, ZeroWidthFoldAddsNothing) {
  ScreenSet source;
  ScreenSet destination;
  AddAll(&source, {1, 5});
  FoldScreens(source, &destination, 0);
  EXPECT_TRUE(destination.IsEmpty());
}

TEST_F(BitStringEncoder, ShortSetGivesTrailingZeros) {
  ScreenSet set;
  AddAll(&set, {1, 32});
  FakeOutputStream stream;
  WriteBitString(set, 300, &stream);
  std::string expected(300, '0');
  expected[0] = '1';
  expected[31] = '1';
  EXPECT_EQ(stream.text(), expected);
}

}  // namespace
}  // namespace zolv::testing

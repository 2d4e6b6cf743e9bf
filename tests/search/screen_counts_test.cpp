#include "screen_counts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zolv::search {
namespace {

TEST(ScreenCounts, CountsEachTargetsScreensOnceAndReadsBackWhatItWrites) {
  ScreenCounts counts;
  counts.Add({3, 17, 17, 170});  // a repeat counts once
  counts.Add({17, 3});
  counts.Add({});
  EXPECT_EQ(counts.Format(), "3:2,17:2,170:1");
  EXPECT_EQ(counts.Of(17), 2);
  EXPECT_EQ(counts.Of(4), 0);
  EXPECT_EQ(counts.Of(100000), 0);
  const auto read = ScreenCounts::Parse(counts.Format());
  ASSERT_TRUE(read);
  EXPECT_EQ(*read, counts);
  ScreenCounts more = *read;
  more.Add({3});
  EXPECT_EQ(more.Format(), "3:3,17:2,170:1");
}

TEST(ScreenCounts, RefusesWhatItDidNotWrite) {
  for (const char* text :
       {"3", "3:", ":3", "3:1,", ",3:1", "3:1,,4:1", "x:1", "3:-1", "3:1x",
        "65536:1", "3 :1", "3:99999999999999999999"}) {
    EXPECT_FALSE(ScreenCounts::Parse(text)) << text;
  }
  EXPECT_TRUE(ScreenCounts::Parse(""));
  EXPECT_TRUE(ScreenCounts::Parse("65535:9223372036854775807"));
}

TEST(ScreenCounts, OrdersScreensRarestFirst) {
  ScreenCounts counts;
  counts.Add({1, 2, 3});
  counts.Add({1, 2});
  counts.Add({1});
  struct Case {
    std::vector<std::uint32_t> screens;
    std::vector<std::uint32_t> rarestFirst;
  };
  const Case cases[] = {
      {{1, 2, 3}, {3, 2, 1}},
      {{3, 1, 3}, {3, 1}},           // repeats once
      {{2, 9, 1, 8}, {8, 9, 2, 1}},  // held by none: rarest of all, by number
      {{}, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(counts.RarestFirst(c.screens), c.rarestFirst);
  }
}

}  // namespace
}  // namespace zolv::search

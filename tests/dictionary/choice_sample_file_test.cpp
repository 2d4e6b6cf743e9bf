#include "choice_sample_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_files.h"

namespace zolv {
namespace {

using testing::ReadFile;
using testing::TempFile;
using testing::WriteFile;

ChoiceSample SmallSample() {
  ChoiceSample sample;
  sample.origin = "zolv dict choose --molecules a.smi\n(two lines)";
  sample.candidates = {{"[#7]", "nitrogen", 0.25, true},
                       {"c1ccccc1", "benzene ring", 1.5, false}};
  // Formula fragments hold any byte, the separator and NUL among them.
  sample.targets = {{{0, 1}, std::string("X\0Y", 3), "NO"}, {{}, "", ""}};
  sample.queries = {{{1}, "*X*", "*N*"}};
  sample.implied = {{}, {0}};
  return sample;
}

TEST(ChoiceSampleFile, ReadsBackWhatItWrote) {
  const TempFile file("sample.txt");
  std::string error;
  const ChoiceSample written = SmallSample();
  ASSERT_TRUE(WriteChoiceSample(file.path(), written, &error)) << error;
  ChoiceSample read;
  ASSERT_TRUE(ReadChoiceSample(file.path(), &read, &error)) << error;
  EXPECT_EQ(read.origin, "zolv dict choose --molecules a.smi (two lines)");
  ASSERT_EQ(read.candidates.size(), 2u);
  EXPECT_EQ(read.candidates[1].smarts, "c1ccccc1");
  EXPECT_EQ(read.candidates[1].name, "benzene ring");
  EXPECT_DOUBLE_EQ(read.candidates[1].microseconds, 1.5);
  EXPECT_FALSE(read.candidates[1].allowed);
  ASSERT_EQ(read.targets.size(), 2u);
  EXPECT_EQ(read.targets[0].found, (std::vector<std::uint16_t>{0, 1}));
  EXPECT_EQ(read.targets[0].rawFormula, std::string("X\0Y", 3));
  EXPECT_TRUE(read.targets[1].found.empty());
  ASSERT_EQ(read.queries.size(), 1u);
  EXPECT_EQ(read.queries[0].alphabetFormula, "*N*");
  EXPECT_EQ(read.implied, written.implied);
}

// Each row damages one line of a good file; the reader names that line.
TEST(ChoiceSampleFile, RefusesDamageNamingTheLine) {
  const TempFile good("good.txt");
  std::string error;
  ASSERT_TRUE(WriteChoiceSample(good.path(), SmallSample(), &error));
  const std::string text = ReadFile(good.path());
  struct Case {
    const char* from;
    const char* to;
    const char* where;  // file:line the message must name
  };
  const Case cases[] = {
      {"zolv choice sample 1", "zolv choice sample 2", ":1:"},
      {"candidates 2", "candidates 3", ":6:"},  // reads "targets 2" as one
      {"0 1.500 c1ccccc1", "2 1.500 c1ccccc1", ":5:"},
      {"580059 4e4f 0 1", "580059 4e4f 1 0", ":7:"},  // not ascending
      {"580059 4e4f 0 1", "580059 4e4f 0 2", ":7:"},  // no candidate 2
      {"580059 4e4f 0 1", "58005 4e4f 0 1", ":7:"},   // odd hex digits
      {"\nend\n", "\n", ":14:"},                      // cut short
  };
  for (const Case& c : cases) {
    std::string damaged = text;
    const std::size_t at = damaged.find(c.from);
    ASSERT_NE(at, std::string::npos) << c.from;
    damaged.replace(at, std::string(c.from).size(), c.to);
    const TempFile file("damaged.txt", damaged);
    ChoiceSample read;
    error.clear();
    EXPECT_FALSE(ReadChoiceSample(file.path(), &read, &error)) << c.to;
    EXPECT_NE(error.find(file.path() + c.where), std::string::npos)
        << c.to << ": " << error;
  }
}

// The second sample shares candidate [#7] with the first and adds one; it
// must describe the same objects, which their formula fragments show.
TEST(ChoiceSampleFile, MergesTheCandidatesOfTheSameSample) {
  ChoiceSample more = SmallSample();
  more.origin = "second run";
  more.candidates = {{"[#8]", "oxygen", 0.5, true},
                     {"[#7]", "nitrogen", 0.25, true}};
  more.targets[0].found = {0, 1};
  more.targets[1].found = {0};
  more.queries[0].found = {1};
  more.implied = {{}, {0}};
  ChoiceSample merged = SmallSample();
  std::string error;
  ASSERT_TRUE(MergeChoiceSample(&merged, more, &error)) << error;
  ASSERT_EQ(merged.candidates.size(), 3u);
  EXPECT_EQ(merged.candidates[2].smarts, "[#8]");
  EXPECT_EQ(merged.targets[0].found, (std::vector<std::uint16_t>{0, 1, 2}));
  EXPECT_EQ(merged.targets[1].found, (std::vector<std::uint16_t>{2}));
  EXPECT_EQ(merged.queries[0].found, (std::vector<std::uint16_t>{1}));
  EXPECT_EQ(merged.implied.size(), 3u);
  EXPECT_NE(merged.origin.find("second run"), std::string::npos);

  struct Case {
    const char* what;
    void (*damage)(ChoiceSample*);
  };
  const Case refused[] = {
      {"a target fewer", [](ChoiceSample* s) { s->targets.pop_back(); }},
      {"another formula",
       [](ChoiceSample* s) { s->queries[0].rawFormula = "*Y*"; }},
  };
  for (const Case& c : refused) {
    ChoiceSample other = more;
    c.damage(&other);
    ChoiceSample into = SmallSample();
    EXPECT_FALSE(MergeChoiceSample(&into, other, &error)) << c.what;
    EXPECT_NE(error.find("differ"), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace zolv

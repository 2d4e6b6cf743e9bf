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
  sample.moleculeQueries = 1;
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
  EXPECT_EQ(read.moleculeQueries, 1u);
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
      {"molecule-queries 1", "molecule-queries 9", ":11:"},
      {"candidates 2", "candidates 3", ":7:"},  // reads "targets 2" as one
      {"0 1.500 c1ccccc1", "2 1.500 c1ccccc1", ":6:"},
      {"580059 4e4f 0 1", "580059 4e4f 1 0", ":8:"},  // not ascending
      {"580059 4e4f 0 1", "580059 4e4f 0 2", ":8:"},  // no candidate 2
      {"580059 4e4f 0 1", "58005 4e4f 0 1", ":8:"},   // odd hex digits
      {"\nend\n", "\n", ":15:"},                      // cut short
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

}  // namespace
}  // namespace zolv

#include "bench_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace zolv::bench {
namespace {

TEST(BenchTable, FormatsCountsAndFixedNumbers) {
  struct Case {
    std::int64_t value;
    std::string text;
  };
  for (const Case& c : std::vector<Case>{{0, "0"},
                                         {999, "999"},
                                         {1000, "1,000"},
                                         {1234567, "1,234,567"},
                                         {-45000, "-45,000"}}) {
    EXPECT_EQ(Count(c.value), c.text);
  }
  EXPECT_EQ(Fixed(0.7951, 3), "0.795");
  EXPECT_EQ(Fixed(std::nullopt, 3), "-");
}

TEST(BenchTable, PrintsMarkdownWithAlignedColumns) {
  Table table({"screen", "µs"});
  table.AddRow({"a", "1.5"});
  table.AddRow({"longer", "12.25"});
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  table.Print(out);
  std::rewind(out);
  std::string text;
  for (int c; (c = std::fgetc(out)) != EOF;)
    text.push_back(static_cast<char>(c));
  std::fclose(out);
  // "µs" is two bytes but one column wide.
  EXPECT_EQ(text,
            "| screen |    µs |\n"
            "|--------|------:|\n"
            "| a      |   1.5 |\n"
            "| longer | 12.25 |\n");
}

}  // namespace
}  // namespace zolv::bench

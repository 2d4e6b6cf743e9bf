#include "molecule_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "test_files.h"

namespace zolv::host {
namespace {

// Eight records and a comment; record 6 is too large for 5 atoms, record 7
// holds a NUL byte.
const std::string kSmiles =
    std::string("C one\nCC two\n# none\nCCC three\nCCCC four\nCCCCC five\n") +
    "CCCCCCCCCC six\nC" + std::string(1, '\0') + "C seven\nO eight\n";

// What the loop handed back, in order: "where text|problem".
std::vector<std::string> RunLoop(MoleculeLoop& loop, const std::string& path,
                                 MoleculeLoop::End* end, std::string* error) {
  std::vector<std::string> seen;
  *end = loop.Run<std::string>(
      {path, InputFormat::kSmiles},
      [](std::size_t, const MoleculeItem& item, std::string* result) {
        std::string text = item.record.text;
        std::replace(text.begin(), text.end(), '\0', '?');
        *result = item.where + " " + text +
                  (item.record.problem.empty() ? "" : "|problem");
      },
      [&](MoleculeItem&, std::string& result) {
        seen.push_back(result);
        return seen.size() < 100;
      },
      error);
  return seen;
}

TEST(MoleculeLoop, HandsBackEveryRecordInFileOrderWithItsPlace) {
  testing::TempFile file("in.smi", kSmiles);
  const std::string f = file.path();
  const struct {
    const char* what;
    std::size_t jobs;
    std::int64_t skip;
    std::size_t limit;  // 0: none
    std::vector<std::string> seen;
  } kCases[] = {
      {"all, one thread",
       1,
       0,
       0,
       {f + ":1 C", f + ":2 CC", f + ":4 CCC", f + ":5 CCCC", f + ":6 CCCCC",
        f + ":7 CCCCCCCCCC|problem", f + ":8 C?C|problem", f + ":9 O"}},
      {"all, three threads",
       3,
       0,
       0,
       {f + ":1 C", f + ":2 CC", f + ":4 CCC", f + ":5 CCCC", f + ":6 CCCCC",
        f + ":7 CCCCCCCCCC|problem", f + ":8 C?C|problem", f + ":9 O"}},
      {"the first five passed over",
       2,
       5,
       0,
       {f + ":7 CCCCCCCCCC|problem", f + ":8 C?C|problem", f + ":9 O"}},
      {"two after one passed over", 2, 1, 2, {f + ":2 CC", f + ":4 CCC"}},
  };
  for (const auto& c : kCases) {
    WorkerPool pool(c.jobs);
    MoleculeLoop loop(pool, 5);
    loop.SkipFirst(c.skip);
    if (c.limit != 0) loop.LimitTo(c.limit);
    MoleculeLoop::End end = MoleculeLoop::End::kFailed;
    std::string error;
    const std::vector<std::string> seen = RunLoop(loop, f, &end, &error);
    EXPECT_EQ(end, MoleculeLoop::End::kDone) << c.what << ": " << error;
    EXPECT_EQ(seen, c.seen) << c.what;
    EXPECT_EQ(loop.skipped(), std::min<std::int64_t>(c.skip, 8)) << c.what;
  }
}

TEST(MoleculeLoop, NamesTheFileThatCannotBeOpened) {
  const testing::TempFile missing("missing.smi");
  WorkerPool pool(1);
  MoleculeLoop loop(pool, 0);
  MoleculeLoop::End end = MoleculeLoop::End::kDone;
  std::string error;
  EXPECT_TRUE(RunLoop(loop, missing.path(), &end, &error).empty());
  EXPECT_EQ(end, MoleculeLoop::End::kFailed);
  EXPECT_EQ(error.rfind(missing.path() + ": cannot open: ", 0), 0u) << error;
}

}  // namespace
}  // namespace zolv::host

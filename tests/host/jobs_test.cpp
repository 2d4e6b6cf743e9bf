// Every command that writes many molecules gives the same output, messages
// and exit code on several threads as on one.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <fstream>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "parallel_writer.h"
#include "zolv_runner.h"

namespace zolv::host {
namespace {

using testing::RunZolv;
using testing::TempDirectory;
using testing::WriteFile;
using testing::ZolvRun;

constexpr char kNciSample[] = "/usr/share/RDKit/Data/NCI/first_5K.smi";
// More than one batch of three workers, so that batches are handed over.
constexpr std::size_t kSampleSize = 1000;
constexpr std::size_t kBadEvery = 97;
constexpr std::size_t kQueries = 40;
constexpr std::size_t kSmallSample = 120;

// The sample with an unreadable SMILES now and then, so that messages have
// to come out in order too.
std::string Sample(std::size_t first, std::size_t count, bool faults = false) {
  std::ifstream nci(kNciSample);
  std::string sample;
  std::string line;
  for (std::size_t i = 0; i < first && std::getline(nci, line); ++i) {
  }
  for (std::size_t i = 0; i < count && std::getline(nci, line); ++i) {
    if (faults && i % kBadEvery == kBadEvery - 1) {
      sample += "C1CC(" + std::to_string(i) + " bad" + std::to_string(i) + "\n";
    }
    sample += line + "\n";
  }
  return sample;
}

// Every row of an index, in id order, as one text.
std::string DumpIndex(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) !=
      SQLITE_OK) {
    sqlite3_close(db);
    return "cannot open " + path;
  }
  sqlite3_stmt* rows = nullptr;
  std::string dump;
  sqlite3_prepare_v2(db,
                     "SELECT id, name, smiles, raw, ascii, bits, name_bytes, "
                     "data, screens, molecule FROM targets ORDER BY id",
                     -1, &rows, nullptr);
  while (rows != nullptr && sqlite3_step(rows) == SQLITE_ROW) {
    for (int column = 0; column < 10; ++column) {
      const void* bytes = sqlite3_column_blob(rows, column);
      const int size = sqlite3_column_bytes(rows, column);
      if (bytes != nullptr) dump.append(static_cast<const char*>(bytes), size);
      dump += '\t';
    }
    dump += '\n';
  }
  sqlite3_finalize(rows);
  sqlite3_close(db);
  return dump;
}

// text without what differs between any two runs: the output file's name
// and times ("1.2 s", "3.25 us").
std::string Scrubbed(const std::string& text, const std::string& out) {
  std::string scrubbed = text;
  for (std::size_t at; (at = scrubbed.find(out)) != std::string::npos;) {
    scrubbed.replace(at, out.size(), "OUT");
  }
  static const std::regex kTime(R"([0-9]+\.[0-9]+ u?s\b)");
  return std::regex_replace(scrubbed, kTime, "TIME");
}

struct JobsCase {
  const char* name;
  // The command's arguments; "IN", "SMALL", "OUT", "QUERIES", "DICT",
  // "INDEX" and "PIECES" stand for the input file, a smaller one, a file the
  // command writes, queries, the default dictionary, an index of the input
  // and small queries with many hits each.
  std::vector<std::string> arguments;
  bool indexes = false;  // OUT is a SQLite index
  bool compareOut = false;
};

TEST(Jobs, SeveralThreadsWriteWhatOneWrites) {
  if (!std::ifstream(kNciSample)) GTEST_SKIP() << kNciSample << " is missing";
  const std::string dictionary =
      std::string(ZOLV_DRIVER_FILE)
          .substr(0, std::string(ZOLV_DRIVER_FILE).rfind('/') + 1) +
      "default.vetorb";
  const char* source = std::getenv("ZOLV_SOURCE_DIR");
  const std::string data = std::string(source ? source : ".") + "/data/";
  const std::string screens = data + "default_screens.txt";
  const std::string candidates = data + "screen_candidates.txt";
  const JobsCase cases[] = {
      {"write bits", {"write", "IN", "--name", "-o", "length=128"}},
      {"write SBI",
       {"write", "IN", "--encoding", "hex", "-o", "format=SBI length=64"}},
      {"write queries",
       {"write", "IN", "--encoding", "escaped", "-o",
        "format=SBI object=query ascii=true length=200"}},
      {"index", {"index", "OUT", "IN"}, true},
      {"dict stats", {"dict", "stats", "DICT", "--molecules", "IN"}},
      {"dict build", {"dict", "build", screens, "-o", "OUT"}, false, true},
      // Every candidate allowed: how fast each one matches varies by run.
      {"dict choose",
       {"dict", "choose", candidates, "--molecules", "SMALL", "-o", "OUT",
        "--count", "30", "--max-cost", "1000000"},
       false,
       true},
      {"bench quality",
       {"bench", "quality", "--target-file", "SMALL", "--query-file", "QUERIES",
        "--targets", "0", "--no-progress"}},
      {"search", {"search", "INDEX", "--queries", "PIECES", "--verify"}},
      {"search, stopped early",
       {"search", "INDEX", "--queries", "PIECES", "--max-hits", "7", "--format",
        "csv"}},
      {"search by the pattern alone",
       {"search", "INDEX", "--queries", "PIECES", "--scan", "--format",
        "json"}},
  };
  TempDirectory dir;
  const std::string input = dir / "sample.smi";
  WriteFile(input, Sample(0, kSampleSize, /*faults=*/true));
  const std::string queries = dir / "queries.smi";
  WriteFile(queries, Sample(kSampleSize, kQueries));
  // For the commands that match every candidate screen with RDKit.
  const std::string small = dir / "small.smi";
  WriteFile(small, Sample(0, kSmallSample, /*faults=*/true));
  const std::string pieces =
      std::string(source ? source : ".") + "/tests/search/queries.smi";
  const std::string index = dir / "index.db";
  const ZolvRun indexed = RunZolv({"index", index, input, "--jobs", "1"});
  ASSERT_EQ(indexed.exitCode, 2) << indexed.err;  // the faults left out
  for (const JobsCase& c : cases) {
    std::vector<ZolvRun> runs;
    std::vector<std::string> outputs;
    for (const char* jobs : {"1", "3"}) {
      const std::string out = dir / (std::string("out") + jobs);
      std::vector<std::string> arguments;
      for (const std::string& argument : c.arguments) {
        arguments.push_back(argument == "IN"        ? input
                            : argument == "OUT"     ? out
                            : argument == "DICT"    ? dictionary
                            : argument == "QUERIES" ? queries
                            : argument == "SMALL"   ? small
                            : argument == "INDEX"   ? index
                            : argument == "PIECES"  ? pieces
                                                    : argument);
      }
      arguments.insert(arguments.end(), {"--jobs", jobs});
      ZolvRun run = RunZolv(arguments);
      run.out = Scrubbed(run.out, out);
      run.err = Scrubbed(run.err, out);
      runs.push_back(run);
      outputs.push_back(c.indexes      ? DumpIndex(out)
                        : c.compareOut ? Scrubbed(testing::ReadFile(out), out)
                                       : "");
    }
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(runs[0].out.empty() && outputs[0].empty())
        << "nothing written: " << runs[0].err;
    EXPECT_EQ(runs[0].exitCode, runs[1].exitCode);
    EXPECT_EQ(runs[0].out, runs[1].out);
    EXPECT_EQ(outputs[0], outputs[1]);
    EXPECT_EQ(runs[0].err, runs[1].err);
  }
}

TEST(Jobs, RejectsBadCounts) {
  for (const char* jobs : {"0", "-2", "x", "1025", "99999999999"}) {
    const ZolvRun run = RunZolv({"write", "--smiles", "CCO", "--jobs", jobs});
    EXPECT_EQ(run.exitCode, 1) << jobs;
    EXPECT_NE(run.err.find("--jobs"), std::string::npos) << run.err;
  }
}

// The ordered map keeps the read order whatever the pool size, stops where
// emit says so, and passes a worker's exception to the caller.
TEST(OrderedParallelMapTest, KeepsOrderStopsAndRethrows) {
  constexpr int kItems = 5000;
  for (std::size_t jobs : {1, 2, 5}) {
    WorkerPool pool(jobs);
    for (int stopAt : {-1, 0, 777, kItems - 1}) {
      int next = 0;
      std::vector<int> emitted;
      const bool completed = OrderedParallelMap<int, long>(
          pool,
          [&](int* item) {
            if (next == kItems) return false;
            *item = next++;
            return true;
          },
          [&](std::size_t worker, const int& item, long* result) {
            EXPECT_LT(worker, jobs);
            *result = static_cast<long>(item) * item;
          },
          [&](int& item, long& result) {
            EXPECT_EQ(result, static_cast<long>(item) * item);
            emitted.push_back(item);
            return item != stopAt;
          });
      SCOPED_TRACE("jobs " + std::to_string(jobs) + " stop " +
                   std::to_string(stopAt));
      EXPECT_EQ(completed, stopAt < 0);
      const int expected = stopAt < 0 ? kItems : stopAt + 1;
      ASSERT_EQ(emitted.size(), static_cast<std::size_t>(expected));
      for (int i = 0; i < expected; ++i) ASSERT_EQ(emitted[i], i);
    }
    std::atomic<int> ran{0};
    EXPECT_THROW(pool.Run(100,
                          [&](std::size_t, std::size_t index) {
                            ++ran;
                            if (index == 42) throw std::runtime_error("42");
                          }),
                 std::runtime_error);
    EXPECT_EQ(ran.load(), 100);
  }
}

}  // namespace
}  // namespace zolv::host

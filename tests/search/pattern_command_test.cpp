// zolv pattern as the user runs it: the literals it prints must hold exactly
// the bytes that zolv write and zolv search write for the same query.
#include "host/pattern_command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/host/zolv_runner.h"

namespace zolv::host {
namespace {

using testing::RunZolv;
using testing::TempDirectory;
using testing::WriteFile;
using testing::ZolvRun;

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(
        static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// The bytes a printed literal stands for; fails the test on a malformed one.
std::string Decode(const std::string& literal, const std::string& form) {
  std::string prefix;
  std::string suffix;
  if (form == "sqlite") {
    prefix = "X'";
    suffix = "'";
  } else if (form == "postgres") {
    prefix = "'\\x";
    suffix = "'::bytea";
  }
  if (literal.size() < prefix.size() + suffix.size() ||
      literal.compare(0, prefix.size(), prefix) != 0 ||
      literal.compare(literal.size() - suffix.size(), suffix.size(), suffix) !=
          0) {
    ADD_FAILURE() << form << " literal malformed: " << literal;
    return {};
  }
  const std::string hex = literal.substr(
      prefix.size(), literal.size() - prefix.size() - suffix.size());
  EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos)
      << literal;
  EXPECT_EQ(hex.size() % 2, 0u) << literal;
  return FromHex(hex);
}

struct QueryCase {
  const char* kind;  // "smiles" or "smarts"
  const char* text;
};

const QueryCase kQueries[] = {
    {"smiles", "c1ccccc1Cl"},
    {"smiles", "OC(=O)c1ccccc1"},
    {"smarts", "[#6]C(=O)[OH]"},
    {"smarts", "c1ccccc1[Cl,Br]"},
};

TEST(PatternCommand, LiteralsHoldTheBytesZolvWriteWrites) {
  for (const char* variant : {"raw", "alphabet"}) {
    for (const char* dialect : {"access", "odbc"}) {
      const std::string driverOptions =
          std::string("object=query format=SBI length=48 database=") +
          (std::string(dialect) == "odbc" ? "ODBC" : "Access") +
          (std::string(variant) == "alphabet" ? " ascii=true" : " ascii=false");
      for (const QueryCase& query : kQueries) {
        const ZolvRun written =
            RunZolv({"write", std::string("--") + query.kind, query.text, "-o",
                     driverOptions, "--encoding", "hex"});
        ASSERT_EQ(written.exitCode, 0) << written.err;
        ASSERT_EQ(written.Lines().size(), 1u) << written.out;
        const std::string expected = FromHex(written.Lines()[0]);
        for (const char* form : {"sqlite", "postgres", "hex"}) {
          SCOPED_TRACE(std::string(variant) + " " + dialect + " " + query.text +
                       " " + form);
          const ZolvRun run =
              RunZolv({"pattern", std::string("--") + query.kind, query.text,
                       "--variant", variant, "--dialect", dialect, "-o",
                       "length=48", "--as", form});
          ASSERT_EQ(run.exitCode, 0) << run.err;
          ASSERT_EQ(run.Lines().size(), 1u) << run.out;
          EXPECT_EQ(Decode(run.Lines()[0], form), expected);
        }
      }
    }
  }
}

// Without a "length" the pattern is the whole one zolv search preselects
// with, printed as --show-pattern prints it; one line per query, files too.
TEST(PatternCommand, WritesTheWholePatternZolvSearchUses) {
  TempDirectory dir;
  const std::string targets = dir / "targets.smi";
  const std::string database = dir / "targets.db";
  WriteFile(targets, "c1ccccc1Cl chlorobenzene\nCCO ethanol\n");
  ASSERT_EQ(RunZolv({"index", database, targets}).exitCode, 0);
  const std::string queries = dir / "queries.smi";
  WriteFile(queries, "c1ccccc1Cl\nC(\nCCO\n");

  for (const char* variant : {"raw", "alphabet"}) {
    for (const char* dialect : {"access", "odbc"}) {
      SCOPED_TRACE(std::string(variant) + " " + dialect);
      const ZolvRun run = RunZolv({"pattern", queries, "--variant", variant,
                                   "--dialect", dialect, "--as", "escaped"});
      EXPECT_EQ(run.exitCode, 2) << "the unreadable query is left out";
      EXPECT_NE(run.err.find(queries + ":2:"), std::string::npos) << run.err;
      std::vector<std::string> expected;
      for (const char* smiles : {"c1ccccc1Cl", "CCO"}) {
        const ZolvRun search =
            RunZolv({"search", database, "--smiles", smiles, "--variant",
                     variant, "--dialect", dialect, "--show-pattern"});
        ASSERT_EQ(search.exitCode, 0) << search.err;
        for (const std::string& line : search.Lines()) {
          if (line.rfind("# pattern ", 0) == 0)
            expected.push_back(line.substr(10));
        }
      }
      EXPECT_EQ(run.Lines(), expected);
    }
  }
}

TEST(PatternCommand, RefusesBadOptions) {
  const std::vector<std::vector<std::string>> cases = {
      {"pattern"},
      {"pattern", "--smiles", "C", "--as", "oracle"},
      {"pattern", "--smiles", "C", "--dialect", "sql"},
      {"pattern", "--smiles", "C", "--variant", "ebcdic"},
      {"pattern", "--smiles", "C", "-o", "screenfile=\"x.vetorb\""},
      {"pattern", "--smiles", "C", "--dictionary", "/nonexistent.vetorb"},
  };
  for (const auto& arguments : cases) {
    const ZolvRun run = RunZolv(arguments);
    EXPECT_EQ(run.exitCode, 1) << arguments.back();
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_EQ(run.err.rfind("zolv pattern: ", 0), 0u) << run.err;
  }
}

}  // namespace
}  // namespace zolv::host

// zolv pattern as the user runs it: the literals it prints must hold exactly
// the bytes that zolv write and zolv search write for the same query.
#include "pattern_command.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "pattern_match.h"
#include "zolv_runner.h"

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
        const std::string written_pattern = FromHex(written.Lines()[0]);
        for (const char* form : {"sqlite", "postgres", "hex"}) {
          SCOPED_TRACE(std::string(variant) + " " + dialect + " " + query.text +
                       " " + form);
          // PostgreSQL matches with LIKE: an Access pattern comes translated.
          const std::string expected =
              std::string(form) == "postgres" &&
                      std::string(dialect) == "access"
                  ? search::AccessPatternToLike(written_pattern)
                  : written_pattern;
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

// The ids of the rows whose alphabet text the statement's literal matches,
// run through SQLite's own C API: alphabet texts are printable ASCII, which
// GLOB and case-sensitive LIKE compare as zolv_match does once both sides
// are read as text.
std::set<std::int64_t> MatchInSqlite(const std::string& database,
                                     const std::string& statement) {
  std::set<std::int64_t> ids;
  sqlite3* db = nullptr;
  EXPECT_EQ(
      sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
      SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, "PRAGMA case_sensitive_like = ON", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  sqlite3_stmt* query = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, statement.c_str(), -1, &query, nullptr),
            SQLITE_OK)
      << statement << ": " << sqlite3_errmsg(db);
  while (query != nullptr && sqlite3_step(query) == SQLITE_ROW) {
    ids.insert(sqlite3_column_int64(query, 0));
  }
  sqlite3_finalize(query);
  sqlite3_close(db);
  return ids;
}

TEST(PatternCommand, SqliteLiteralPreselectsWhatZolvSearchPreselects) {
  TempDirectory dir;
  const std::string targets = dir / "targets.smi";
  const std::string database = dir / "targets.db";
  WriteFile(targets,
            "c1ccccc1Cl a\nClCCCl b\nOC(=O)c1ccc(Cl)cc1 c\nCCO d\n"
            "OC(=O)c1ccccc1 e\nc1ccncc1 f\nBrc1ccccc1 g\n");
  ASSERT_EQ(RunZolv({"index", database, targets}).exitCode, 0);
  for (const char* dialect : {"access", "odbc"}) {
    for (const QueryCase& query : kQueries) {
      SCOPED_TRACE(std::string(dialect) + " " + query.text);
      const ZolvRun pattern =
          RunZolv({"pattern", std::string("--") + query.kind, query.text,
                   "--variant", "alphabet", "--dialect", dialect});
      ASSERT_EQ(pattern.exitCode, 0) << pattern.err;
      ASSERT_EQ(pattern.Lines().size(), 1u);
      const std::set<std::int64_t> ids = MatchInSqlite(
          database,
          "SELECT id FROM targets WHERE CAST(ascii AS TEXT) " +
              std::string(std::string(dialect) == "odbc" ? "LIKE" : "GLOB") +
              " CAST(" + pattern.Lines()[0] + " AS TEXT)");
      const ZolvRun search = RunZolv(
          {"search", database, std::string("--") + query.kind, query.text,
           "--variant", "alphabet", "--dialect", dialect, "--format", "csv"});
      ASSERT_EQ(search.exitCode, 0) << search.err;
      const std::string candidates =
          "# candidates " + std::to_string(ids.size()) + ",";
      EXPECT_NE(search.err.find(candidates), std::string::npos) << search.err;
      const std::vector<std::string> rows = search.Lines();
      ASSERT_FALSE(rows.empty());
      EXPECT_GT(rows.size(), 1u) << "every query has a hit here";
      for (std::size_t i = 1; i < rows.size(); ++i) {
        const std::int64_t id =
            std::stoll(rows[i].substr(0, rows[i].find(',')));
        EXPECT_EQ(ids.count(id), 1u) << rows[i];
      }
    }
  }
}

// The raw texts of the index, read through SQLite's C API.
std::vector<std::string> RawTexts(const std::string& database) {
  std::vector<std::string> texts;
  sqlite3* db = nullptr;
  EXPECT_EQ(
      sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
      SQLITE_OK);
  sqlite3_stmt* query = nullptr;
  EXPECT_EQ(
      sqlite3_prepare_v2(db, "SELECT raw FROM targets", -1, &query, nullptr),
      SQLITE_OK);
  while (query != nullptr && sqlite3_step(query) == SQLITE_ROW) {
    const void* bytes = sqlite3_column_blob(query, 0);
    texts.emplace_back(
        static_cast<const char*>(bytes),
        static_cast<std::size_t>(sqlite3_column_bytes(query, 0)));
  }
  sqlite3_finalize(query);
  sqlite3_close(db);
  return texts;
}

// The PostgreSQL literal goes into LIKE ... ESCAPE '', where an Access "*"
// is a plain byte: printed untranslated, it matched almost nothing.
TEST(PatternCommand, PostgresLiteralOfAnAccessPatternIsALikePattern) {
  TempDirectory dir;
  const std::string targets = dir / "targets.smi";
  const std::string database = dir / "targets.db";
  WriteFile(targets,
            "c1ccccc1Cl a\nClCCCl b\nOC(=O)c1ccc(Cl)cc1 c\nCCO d\n"
            "OC(=O)c1ccccc1 e\nBrc1ccccc1 g\n");
  ASSERT_EQ(RunZolv({"index", database, targets}).exitCode, 0);
  const std::vector<std::string> texts = RawTexts(database);
  for (const QueryCase& query : kQueries) {
    SCOPED_TRACE(query.text);
    const auto print = [&](const char* form) {
      const ZolvRun run = RunZolv({"pattern", std::string("--") + query.kind,
                                   query.text, "--as", form});
      EXPECT_EQ(run.exitCode, 0) << run.err;
      return run.Lines().empty() ? std::string() : Decode(run.Lines()[0], form);
    };
    const std::string access = print("sqlite");
    const std::string like = print("postgres");
    std::size_t matched = 0;
    for (const std::string& text : texts) {
      if (!search::MatchPattern(access, text, WildcardDialect::kAccess)) {
        continue;
      }
      ++matched;
      EXPECT_TRUE(search::MatchPattern(like, text, WildcardDialect::kOdbc))
          << "the LIKE pattern loses a text the Access pattern matches";
    }
    EXPECT_GT(matched, 0u);
  }
}

// zolv pattern once read a damaged line as the molecule before its NUL byte
// and took queries of any size; it now skips them with zolv search's
// messages and exit status.
TEST(PatternCommand, SkipsTheQueriesZolvSearchSkips) {
  const TempDirectory directory;
  const std::string file = directory / "queries.smi";
  WriteFile(file, std::string("C") + '\0' + "C nul\nCCCCCC hexane\nCCO\n");
  const struct {
    std::vector<std::string> arguments;
    std::size_t lines;  // patterns printed
    std::vector<std::string> messages;
    int exitCode;
  } kCases[] = {
      {{"pattern", file},
       2,
       {"zolv pattern: " + file + ":1: skipped: a NUL byte at column 2"},
       2},
      {{"pattern", file, "--max-atoms", "5"},
       1,
       {"zolv pattern: " + file + ":1: skipped: a NUL byte at column 2",
        "zolv pattern: " + file +
            ":2: skipped: 6 atoms, more than the limit of 5 (see --max-atoms)"},
       2},
      {{"pattern", "--smiles", "CCCCCC", "--smarts", "[#6]", "--max-atoms",
        "5"},
       1,
       {"zolv pattern: --smiles: skipped: 6 atoms, more than the limit of 5 "
        "(see --max-atoms)"},
       2},
      {{"pattern", "--smiles", "CCCCCC"}, 1, {}, 0},
  };
  for (const auto& c : kCases) {
    const ZolvRun run = RunZolv(c.arguments);
    const std::string shown = c.arguments.back();
    EXPECT_EQ(run.exitCode, c.exitCode) << shown << run.err;
    EXPECT_EQ(run.Lines().size(), c.lines) << shown << run.out;
    std::string expected;
    for (const std::string& message : c.messages) expected += message + "\n";
    EXPECT_EQ(run.err, expected) << shown;
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

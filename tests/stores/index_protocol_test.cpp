// zolv index stopped at any point, run twice at once, pointed at tables it
// did not make; zolv search on what that leaves and on damaged files. Run
// as the user runs them, against SQLite and, through with_postgres.sh, a
// PostgreSQL schema of each case's own.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "text_store.h"
#include "zolv_runner.h"

namespace zolv::host {
namespace {

using testing::RunProgram;
using testing::RunZolv;
using testing::ShellQuote;
using testing::TempDirectory;
using testing::WriteFile;
using testing::WriteGzipFile;
using testing::ZolvRun;

constexpr char kBatch[] = "7";

// Molecules "C...Cl" named prefix1 ... prefixN.
std::string Molecules(const std::string& prefix, int count) {
  std::string text;
  for (int i = 1; i <= count; ++i) {
    text += std::string(static_cast<std::size_t>(i), 'C') + "Cl " + prefix +
            std::to_string(i) + "\n";
  }
  return text;
}

std::vector<std::string> Names(const std::string& prefix, int count) {
  std::vector<std::string> names;
  for (int i = 1; i <= count; ++i) names.push_back(prefix + std::to_string(i));
  return names;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

bool IsInputFile(const std::string& word) {
  return word.size() > 4 && word.compare(word.size() - 4, 4, ".smi") == 0;
}

const char* PostgresConnection() { return std::getenv("ZOLV_TEST_POSTGRES"); }

enum class Backend { kSqlite, kPostgres };

class IndexProtocolTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    WriteFile(dir_ / "m.smi", Molecules("m", 40));
    WriteFile(dir_ / "n.smi", Molecules("n", 40));
    WriteFile(dir_ / "old.smi", Molecules("old", 6));
    if (GetParam() == Backend::kPostgres) {
      ASSERT_NE(PostgresConnection(), nullptr);
      const std::string schema =
          "zolv_" + std::to_string(getpid()) + "_" + std::to_string(counter_++);
      conninfo_ = std::string(PostgresConnection()) +
                  " options='-csearch_path=" + schema + "'";
      ASSERT_TRUE(Sql("CREATE SCHEMA " + schema));
    }
  }

  bool Postgres() const { return GetParam() == Backend::kPostgres; }

  // The database as command-line arguments.
  std::vector<std::string> Database() const {
    if (Postgres()) return {"--postgres", conninfo_};
    return {database_};
  }

  ZolvRun Zolv(const std::string& command, std::vector<std::string> arguments,
               const std::vector<std::string>& environment = {}) const {
    std::vector<std::string> all = environment;
    all.push_back(ZOLV_PROGRAM_FILE);
    all.push_back(command);
    for (const std::string& word : Database()) all.push_back(word);
    all.insert(all.end(), arguments.begin(), arguments.end());
    return RunProgram("/usr/bin/env", all);
  }

  ZolvRun Index(std::vector<std::string> arguments,
                const std::vector<std::string>& environment = {}) const {
    arguments.push_back("--batch");
    arguments.push_back(kBatch);
    return Zolv("index", arguments, environment);
  }

  ZolvRun Search() const { return Zolv("search", {"--smiles", "CCl"}); }

  // Runs SQL of the test's own on the database.
  bool Sql(const std::string& sql) const {
    if (Postgres()) {
      PGconn* connection = PQconnectdb(conninfo_.empty() ? PostgresConnection()
                                                         : conninfo_.c_str());
      PGresult* result = PQexec(connection, sql.c_str());
      const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
      if (!ok) ADD_FAILURE() << PQerrorMessage(connection);
      PQclear(result);
      PQfinish(connection);
      return ok;
    }
    sqlite3* db = nullptr;
    bool ok =
        sqlite3_open(database_.c_str(), &db) == SQLITE_OK &&
        sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!ok) ADD_FAILURE() << sqlite3_errmsg(db);
    sqlite3_close(db);
    return ok;
  }

  // The first value of a query of the test's own; -1 when it fails.
  std::int64_t Scalar(const std::string& sql) const {
    std::int64_t value = -1;
    if (Postgres()) {
      PGconn* connection = PQconnectdb(conninfo_.c_str());
      PGresult* result = PQexec(connection, sql.c_str());
      if (PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) > 0) {
        value = std::strtoll(PQgetvalue(result, 0, 0), nullptr, 10);
      }
      PQclear(result);
      PQfinish(connection);
      return value;
    }
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_open(database_.c_str(), &db) == SQLITE_OK &&
        sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) ==
            SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      value = sqlite3_column_int64(statement, 0);
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return value;
  }

  // The names of the stored targets in id order, after checking that the
  // ids run 1, 2, 3, ... without a gap or a repeat.
  std::vector<std::string> Stored() const {
    std::string error;
    std::unique_ptr<search::TextStore> store =
        Postgres() ? search::OpenPostgresStore(conninfo_,
                                               search::OpenMode::kRead, &error)
                   : search::OpenSqliteStore(database_, search::OpenMode::kRead,
                                             &error);
    std::vector<std::string> names;
    if (!store) {
      ADD_FAILURE() << error;
      return names;
    }
    std::int64_t expectedId = 1;
    EXPECT_TRUE(store->ForEachTarget(
        [&](const search::Candidate& target) {
          EXPECT_EQ(target.id, expectedId++) << target.name;
          names.push_back(target.name);
          return true;
        },
        &error))
        << error;
    return names;
  }

  static inline int counter_ = 0;
  TempDirectory dir_;
  std::string database_ = dir_ / "t.db";
  std::string conninfo_;
};

std::vector<std::string> Joined(std::vector<std::string> first,
                                const std::vector<std::string>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

bool IsPrefix(const std::vector<std::string>& part,
              const std::vector<std::string>& whole) {
  return part.size() <= whole.size() &&
         std::equal(part.begin(), part.end(), whole.begin());
}

// A run killed after some batches loses nothing of the index before it; the
// same command again finishes the work without storing a molecule twice.
TEST_P(IndexProtocolTest, KilledRunsKeepThePreviousStateAndFinishOnRerun) {
  struct Case {
    const char* what;
    bool previous;                   // a complete index of old.smi first
    std::vector<std::string> words;  // the run that is killed
    int stopAfter;                   // rows
  };
  const std::vector<Case> cases = {
      {"new index, before the first batch", false, {"m.smi"}, 0},
      {"new index, after one batch", false, {"m.smi"}, 7},
      {"new index, in the second file", false, {"m.smi", "n.smi"}, 45},
      {"replace, midway", true, {"--replace", "m.smi"}, 21},
      {"append, midway", true, {"--append", "m.smi"}, 14},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();  // a fresh database for each case
    if (!Postgres()) std::remove(database_.c_str());
    std::vector<std::string> words;
    for (const std::string& word : c.words) {
      words.push_back(IsInputFile(word) ? dir_ / word : word);
    }
    std::vector<std::string> before;
    if (c.previous) {
      ASSERT_EQ(Index({dir_ / "old.smi"}).exitCode, 0);
      before = Stored();
    }
    std::vector<std::string> wanted;
    for (const std::string& word : c.words) {
      if (IsInputFile(word)) {
        wanted = Joined(wanted, Names(word.substr(0, 1), 40));
      }
    }
    const bool append = words[0] == "--append";
    if (append) wanted = Joined(before, wanted);

    const ZolvRun killed = Index(
        words, {"ZOLV_TEST_INDEX_STOP_AFTER=" + std::to_string(c.stopAfter)});
    EXPECT_NE(killed.exitCode, 0) << killed.err;
    if (c.previous && !append) {
      EXPECT_EQ(Stored(), before);
      const ZolvRun search = Search();
      EXPECT_EQ(search.exitCode, 0) << search.err;
    } else {
      const std::vector<std::string> stored = Stored();
      EXPECT_TRUE(IsPrefix(before, stored) && IsPrefix(stored, wanted));
      const ZolvRun search = Search();
      EXPECT_EQ(search.exitCode, 1);
      EXPECT_TRUE(Contains(search.err, "run zolv index again")) << search.err;
    }

    const ZolvRun rerun = Index(words);
    EXPECT_EQ(rerun.exitCode, 0) << rerun.err;
    EXPECT_EQ(Stored(), wanted);
    const ZolvRun search = Search();
    EXPECT_EQ(search.exitCode, 0) << search.err;
    EXPECT_EQ(search.Lines().size(), wanted.size() + 1) << search.out;
  }
}

// A replacing run that fails on its input keeps the index it would replace.
TEST_P(IndexProtocolTest, FailedReplaceKeepsThePreviousIndex) {
  const std::string smiles = Molecules("m", 40);
  WriteGzipFile(dir_ / "whole.smi.gz", smiles);
  const std::string gzip = testing::ReadFile(dir_ / "whole.smi.gz");
  WriteFile(dir_ / "cut.smi.gz", gzip.substr(0, gzip.size() / 2));
  ASSERT_EQ(Index({dir_ / "old.smi"}).exitCode, 0);
  const std::vector<std::string> before = Stored();

  const std::vector<std::vector<std::string>> failures = {
      {dir_ / "cut.smi.gz"},
      {"--input-format", "sdf", dir_ / "m.smi"},
  };
  for (const std::vector<std::string>& words : failures) {
    SCOPED_TRACE(words.back());
    std::vector<std::string> all = {"--replace"};
    all.insert(all.end(), words.begin(), words.end());
    const ZolvRun run = Index(all);
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_EQ(Stored(), before);
    EXPECT_EQ(Search().exitCode, 0);
  }
}

// Tables of the same names that zolv index did not make are no index: they
// are neither written nor dropped, whatever the options.
TEST_P(IndexProtocolTest, NeverTakesOrDropsTablesItDidNotMake) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"targets",
       "CREATE TABLE targets (x text); INSERT INTO targets "
       "VALUES ('mine')"},
      {"index_settings",
       "CREATE TABLE index_settings (key text, value text); INSERT INTO "
       "index_settings VALUES ('mine', 'mine')"},
      {"targets",
       "CREATE TABLE targets (id bigint, name text); CREATE TABLE "
       "index_settings (key text, value text); INSERT INTO targets VALUES "
       "(1, 'mine')"},
  };
  for (const auto& [table, sql] : cases) {
    SCOPED_TRACE(sql);
    SetUp();
    if (!Postgres()) std::remove(database_.c_str());
    ASSERT_TRUE(Sql(sql));
    for (const char* option : {"--append", "--replace"}) {
      const ZolvRun run = Index({option, dir_ / "m.smi"});
      EXPECT_EQ(run.exitCode, 1);
      EXPECT_TRUE(Contains(run.err, "did not make")) << run.err;
    }
    const ZolvRun search = Search();
    EXPECT_EQ(search.exitCode, 1);
    EXPECT_TRUE(Contains(search.err, "holds no index")) << search.err;
    // Still there, row and all.
    EXPECT_EQ(Scalar("SELECT count(*) FROM " + table), 1);
  }
}

// Waits until the process stops itself; false when it ends instead.
bool WaitUntilStopped(pid_t pid) {
  for (int i = 0; i < 6000; ++i) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)),
                     std::istreambuf_iterator<char>());
    const std::size_t end = text.rfind(')');
    if (end == std::string::npos) return false;
    const char state = text.size() > end + 2 ? text[end + 2] : '?';
    if (state == 'T' || state == 't') return true;
    if (state == 'Z' || state == 'X') return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// While one zolv index writes, a second fails at once and a search refuses
// the unfinished index; the first one's work is then finished by a rerun.
TEST_P(IndexProtocolTest, SecondWriterFailsAndSearchRefusesWorkInProgress) {
  std::string command =
      "ZOLV_TEST_INDEX_STOP_SIGNAL=STOP "
      "ZOLV_TEST_INDEX_STOP_AFTER=7 " +
      ShellQuote(ZOLV_PROGRAM_FILE) + " index";
  for (const std::string& word : Database()) command += " " + ShellQuote(word);
  command += " " + ShellQuote(dir_ / "m.smi") + " --batch " + kBatch +
             " >/dev/null 2>&1 & echo $! >" + ShellQuote(dir_ / "pid");
  ASSERT_EQ(std::system(command.c_str()), 0);
  const pid_t pid =
      static_cast<pid_t>(std::stol(testing::ReadFile(dir_ / "pid")));
  const bool stopped = WaitUntilStopped(pid);
  if (stopped) {
    const ZolvRun second = Index({dir_ / "m.smi"});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_TRUE(Contains(second.err, "another zolv index")) << second.err;
    const ZolvRun search = Search();
    EXPECT_EQ(search.exitCode, 1);
    EXPECT_TRUE(Contains(search.err, "incomplete")) << search.err;
  }
  kill(pid, SIGKILL);
  ASSERT_TRUE(stopped);
  // The killed writer's locks go with it (the server may take a moment to
  // see its connection close).
  ZolvRun rerun;
  for (int attempt = 0; attempt < 100; ++attempt) {
    rerun = Index({dir_ / "m.smi"});
    if (!Contains(rerun.err, "another zolv index")) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(rerun.exitCode, 0) << rerun.err;
  EXPECT_EQ(Stored(), Names("m", 40));
}

// Rows changed behind the index's back are found before any search.
TEST_P(IndexProtocolTest, SearchRefusesAChangedIndex) {
  ASSERT_EQ(Index({dir_ / "m.smi"}).exitCode, 0);
  const std::vector<std::string> changes = {
      "DELETE FROM targets WHERE name = 'm23'",
      "UPDATE targets SET smiles = 'CCCl' WHERE name = 'm5'",
      "UPDATE targets SET molecule = substr(molecule, 2) WHERE name = 'm7'",
  };
  for (const std::string& change : changes) {
    SCOPED_TRACE(change);
    ASSERT_EQ(Search().exitCode, 0);
    ASSERT_TRUE(Sql("BEGIN; CREATE TABLE saved AS SELECT * FROM targets; " +
                    change + "; COMMIT"));
    const ZolvRun search = Search();
    EXPECT_EQ(search.exitCode, 1);
    EXPECT_TRUE(Contains(search.err, "is damaged")) << search.err;
    ASSERT_TRUE(
        Sql("DELETE FROM targets; INSERT INTO targets SELECT * FROM "
            "saved; DROP TABLE saved"));
  }
}

// An index from before the screens index is neither searched nor continued
// (it has no screens to search by), and --replace writes it again.
TEST_P(IndexProtocolTest, AnIndexOfAnOlderFormatIsWrittenAgainOnlyByReplace) {
  ASSERT_EQ(Index({dir_ / "m.smi"}).exitCode, 0);
  ASSERT_TRUE(Sql(
      "UPDATE index_settings SET value = 'zolv index 1' WHERE key = 'format'"));
  struct Case {
    const char* what;
    ZolvRun run;
  };
  const Case refused[] = {
      {"search", Search()},
      {"append", Index({"--append", dir_ / "n.smi"})},
      {"rerun", Index({dir_ / "m.smi"})},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.run.exitCode, 1);
    EXPECT_TRUE(Contains(c.run.err, "'zolv index 1'")) << c.run.err;
    EXPECT_TRUE(Contains(c.run.err, "zolv index --replace")) << c.run.err;
  }
  const ZolvRun replaced = Index({"--replace", dir_ / "n.smi"});
  EXPECT_EQ(replaced.exitCode, 0) << replaced.err;
  EXPECT_EQ(Search().exitCode, 0);
  EXPECT_EQ(Stored(), Names("n", 40));
}

std::vector<Backend> Backends() {
  std::vector<Backend> backends = {Backend::kSqlite};
  if (PostgresConnection() != nullptr) backends.push_back(Backend::kPostgres);
  return backends;
}

INSTANTIATE_TEST_SUITE_P(Stores, IndexProtocolTest,
                         ::testing::ValuesIn(Backends()),
                         [](const ::testing::TestParamInfo<Backend>& info) {
                           return info.param == Backend::kSqlite ? "Sqlite"
                                                                 : "Postgres";
                         });

// Zeroed bytes inside a SQLite file: in a row's own bytes, which SQLite's
// own check cannot see, and in a page's header, which it can.
TEST(SqliteIndexDamage, ZeroedBytesAreReportedBeforeSearching) {
  TempDirectory dir;
  WriteFile(dir / "m.smi", Molecules("m", 40));
  ASSERT_EQ(RunZolv({"index", dir / "good.db", dir / "m.smi"}).exitCode, 0);
  const std::string good = testing::ReadFile(dir / "good.db");
  const std::size_t row = good.find("m23CCC");
  ASSERT_NE(row, std::string::npos);
  const std::size_t pageSize = 4096;
  ASSERT_GT(row / pageSize, 0u);
  struct Damage {
    const char* where;
    std::size_t offset;
  };
  const std::vector<Damage> damages = {
      {"a row's SMILES", row + 6},
      {"the header of the row's page", row / pageSize * pageSize},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.where);
    std::string bytes = good;
    bytes.replace(damage.offset, 8, std::string(8, '\0'));
    WriteFile(dir / "bad.db", bytes);
    const ZolvRun run = RunZolv({"search", dir / "bad.db", "--smiles", "CCl"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.err, "damaged") || Contains(run.err, "malformed"))
        << run.err;
  }
  const ZolvRun run = RunZolv({"search", dir / "good.db", "--smiles", "CCl"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
}

}  // namespace
}  // namespace zolv::host

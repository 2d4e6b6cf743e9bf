// The SQLite extension as a client uses it: loaded with
// sqlite3_load_extension into a connection to an index that zolv wrote. Its
// functions must give what zolv pattern, zolv index and zolv search give, and
// turn every bad argument into an error of the statement.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "zolv_runner.h"

namespace zolv::sql {
namespace {

using testing::RunZolv;
using testing::TempDirectory;
using testing::ZolvRun;

// A result value: NULL, or its bytes.
using Value = std::optional<std::string>;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
    return static_cast<char>(std::tolower(c));
  });
  return text;
}

// text as an SQL string literal.
std::string Literal(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted + "'";
}

std::string DefaultDictionary() {
  return (std::filesystem::path(ZOLV_PROGRAM_FILE).parent_path() /
          "default.vetorb")
      .string();
}

class SqliteExtension : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    directory_ = new TempDirectory;
    database_ = new std::string(*directory_ / "sample.db");
    const ZolvRun run = RunZolv({"index", *database_, ZOLV_SAMPLE_FILE});
    ASSERT_EQ(run.exitCode, 0) << run.err;
  }
  static void TearDownTestSuite() {
    delete database_;
    delete directory_;
  }

  void SetUp() override {
    ASSERT_EQ(sqlite3_open_v2(database_->c_str(), &db_, SQLITE_OPEN_READONLY,
                              nullptr),
              SQLITE_OK);
    Load();
  }
  void TearDown() override { sqlite3_close(db_); }

  void Load() {
    ASSERT_EQ(sqlite3_enable_load_extension(db_, 1), SQLITE_OK);
    char* error = nullptr;
    const int status =
        sqlite3_load_extension(db_, ZOLV_SQLITE_EXTENSION, nullptr, &error);
    EXPECT_EQ(status, SQLITE_OK) << (error != nullptr ? error : "");
    sqlite3_free(error);
  }

  // The first column of every row; the statement's error in *error, empty
  // when it ran through.
  std::vector<Value> Column(const std::string& sql, std::string* error) {
    std::vector<Value> values;
    error->clear();
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) !=
        SQLITE_OK) {
      *error = sqlite3_errmsg(db_);
      return values;
    }
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
      if (sqlite3_column_type(statement, 0) == SQLITE_NULL) {
        values.emplace_back();
        continue;
      }
      const void* bytes = sqlite3_column_blob(statement, 0);
      const int size = sqlite3_column_bytes(statement, 0);
      values.emplace_back(std::string(static_cast<const char*>(bytes),
                                      static_cast<std::size_t>(size)));
    }
    if (step != SQLITE_DONE) *error = sqlite3_errmsg(db_);
    sqlite3_finalize(statement);
    return values;
  }

  // The one value a statement gives; fails the test on an error.
  Value One(const std::string& sql) {
    std::string error;
    const std::vector<Value> values = Column(sql, &error);
    EXPECT_EQ(error, "") << sql;
    EXPECT_EQ(values.size(), 1u) << sql;
    return values.empty() ? Value() : values[0];
  }

  std::set<std::string> Ids(const std::string& sql) {
    std::string error;
    std::set<std::string> ids;
    for (const Value& value : Column(sql, &error)) ids.insert(value.value());
    EXPECT_EQ(error, "") << sql;
    return ids;
  }

  sqlite3* db_ = nullptr;
  static TempDirectory* directory_;
  static std::string* database_;
};

TempDirectory* SqliteExtension::directory_ = nullptr;
std::string* SqliteExtension::database_ = nullptr;

TEST_F(SqliteExtension, PatternsAreWhatZolvPatternWrites) {
  // The default dictionary again, under a path that needs quoting.
  TempDirectory spaced;
  const std::string dictionary = spaced / "my screens.vetorb";
  std::filesystem::copy_file(DefaultDictionary(), dictionary);
  struct Case {
    std::string arguments;  // of zolv_pattern
    std::vector<std::string> command;
  };
  const Case cases[] = {
      {"'c1ccccc1Cl', ''", {"--smiles", "c1ccccc1Cl"}},
      {"'c1ccccc1Cl', 'dialect=odbc'",
       {"--smiles", "c1ccccc1Cl", "--dialect", "odbc"}},
      {"'[#6]C(=O)[OH]', 'variant=alphabet', 'smarts'",
       {"--smarts", "[#6]C(=O)[OH]", "--variant", "alphabet"}},
      {"'[#6]C(=O)[OH]', ' query=SMARTS\tdialect=odbc ', 'SMARTS'",
       {"--smarts", "[#6]C(=O)[OH]", "--dialect", "odbc"}},
      {"'OC(=O)c1ccccc1', 'length=6 variant=ascii'",
       {"--smiles", "OC(=O)c1ccccc1", "-o", "length=6", "--variant",
        "alphabet"}},
      {"'c1ccncc1', 'dictionary=\"" + dictionary + "\"'",
       {"--smiles", "c1ccncc1", "--dictionary", dictionary}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    std::vector<std::string> command = {"pattern", "--as", "hex"};
    command.insert(command.end(), c.command.begin(), c.command.end());
    const ZolvRun run = RunZolv(command);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(run.Lines().size(), 1u);
    const Value pattern = One("SELECT hex(zolv_pattern(" + c.arguments + "))");
    ASSERT_TRUE(pattern);
    EXPECT_EQ(Lower(*pattern), run.Lines()[0]);
  }
}

TEST_F(SqliteExtension, TextsAreWhatZolvIndexStores) {
  for (const char* variant : {"raw", "alphabet"}) {
    SCOPED_TRACE(variant);
    const std::string column = variant == std::string("raw") ? "raw" : "ascii";
    EXPECT_EQ(One("SELECT count(*) FROM targets WHERE zolv_text(smiles, "
                  "'variant=" +
                  std::string(variant) + "') = " + column),
              "20");
  }
}

// The whole search as one statement: candidates and hits the same as zolv
// search's, and the hits what --verify confirms.
TEST_F(SqliteExtension, SearchFindsWhatZolvSearchVerifies) {
  struct Case {
    const char* notation;
    const char* query;
    const char* variant;
    const char* dialect;
  };
  const Case cases[] = {
      {"smiles", "c1ccccc1Cl", "raw", "access"},
      {"smiles", "OC(=O)c1ccccc1", "raw", "odbc"},
      {"smarts", "[#6]C(=O)[OH]", "alphabet", "access"},
      {"smarts", "[#7,#8;!H0]", "alphabet", "odbc"},
      {"smiles", "c1ccccc1", "raw", "access"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.query) + " " + c.variant + " " + c.dialect);
    const ZolvRun run =
        RunZolv({"search", *database_, std::string("--") + c.notation, c.query,
                 "--variant", c.variant, "--dialect", c.dialect, "--verify",
                 "--format", "csv"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::set<std::string> hits;
    for (const std::string& row : run.Lines()) {
      if (row.rfind("id,", 0) != 0) hits.insert(row.substr(0, row.find(',')));
    }
    ASSERT_FALSE(hits.empty());
    const std::string column =
        c.variant == std::string("raw") ? "raw" : "ascii";
    const std::string match =
        "zolv_match(zolv_pattern(" + Literal(c.query) + ", " +
        Literal(std::string("variant=") + c.variant + " dialect=" + c.dialect) +
        ", " + Literal(c.notation) + "), " + column + ", " +
        (c.dialect == std::string("odbc") ? "1" : "0") + ")";
    const std::string confirm = "zolv_contains(smiles, " + Literal(c.query) +
                                ", " + Literal(c.notation) + ")";
    EXPECT_EQ(Ids("SELECT id FROM targets WHERE " + match + " AND " + confirm),
              hits);
    const Value candidates = One("SELECT count(*) FROM targets WHERE " + match);
    EXPECT_NE(run.err.find("# candidates " + candidates.value_or("?") + ","),
              std::string::npos)
        << run.err;
  }
}

TEST_F(SqliteExtension, NullInNullOut) {
  const char* const expressions[] = {
      "zolv_match(NULL, x'2a', 0)",
      "zolv_match(x'2a', NULL, 0)",
      "zolv_match(x'2a', x'00', NULL)",
      "zolv_pattern(NULL, '')",
      "zolv_pattern('C', NULL)",
      "zolv_pattern('C', '', NULL)",
      "zolv_text(NULL, '')",
      "zolv_text('C', NULL)",
      "zolv_contains(NULL, 'C')",
      "zolv_contains('C', NULL)",
      "zolv_contains('C', 'C', NULL)",
      // A stored SMILES that cannot be read: unknown, not an error.
      "zolv_contains('C1CC', 'C')",
  };
  for (const char* expression : expressions) {
    EXPECT_EQ(One(std::string("SELECT ") + expression), std::nullopt)
        << expression;
  }
}

TEST_F(SqliteExtension, BadArgumentsAreErrorsOfTheStatement) {
  const std::string many = "replace(hex(zeroblob(N)), '00', 'C')";
  const auto carbons = [&](int n) {
    std::string text = many;
    return text.replace(text.find('N'), 1, std::to_string(n));
  };
  struct Case {
    std::string expression;
    std::string message;
  };
  const Case cases[] = {
      {"zolv_pattern('C(', '')", "zolv_pattern: cannot read SMILES"},
      {"zolv_pattern('C', 'colour=red')", "unknown option 'colour'"},
      {"zolv_pattern('C', 'variant=rare')", "variant must be raw or alphabet"},
      {"zolv_pattern('C', 'dialect=sql')", "dialect must be access or odbc"},
      {"zolv_pattern('C', 'length=0')", "length must be a number from 1"},
      {"zolv_pattern('C', 'length=12x')", "length must be a number from 1"},
      {"zolv_pattern('C', 'length')", "option 'length' has no value"},
      {"zolv_pattern('C', 'variant=raw variant=raw')", "given twice"},
      {"zolv_pattern('C', 'dictionary=\"/tmp')", "lacks its closing \""},
      {"zolv_pattern('C', 'dictionary=/no/such.vetorb')",
       "/no/such.vetorb: no such dictionary"},
      {"zolv_pattern('C', 'dictionary=" + std::string(ZOLV_SAMPLE_FILE) + "')",
       "not a screen dictionary"},
      {"zolv_pattern('CC', 'query=smarts', 'smiles')",
       "the options say query=smarts"},
      {"zolv_pattern('C', '', 'inchi')", "the notation must be"},
      {"zolv_pattern(CAST(x'430043' AS TEXT), '')", "holds a NUL byte"},
      {"zolv_pattern(" + carbons(1001) + ", '')",
       "1001 atoms, more than the limit of 1000"},
      {"zolv_pattern(" + carbons(100001) + ", '')",
       "100001 bytes long, more than the limit"},
      {"zolv_pattern('C', 'x=' || " + carbons(4095) + ")",
       "more than the limit of 4096"},
      {"zolv_text('C', 'dialect=odbc')", "zolv_text: unknown option 'dialect'"},
      {"zolv_text('C(', '')", "zolv_text: cannot read SMILES"},
      {"zolv_contains('C', 'C(')", "zolv_contains: cannot read the SMILES"},
      {"zolv_contains('C', '[C', 'smarts')", "cannot read the SMARTS"},
      {"zolv_match(x'2a', x'00', 2)", "dialect must be 0 (Access) or 1"},
  };
  for (const Case& c : cases) {
    std::string error;
    const std::vector<Value> values = Column("SELECT " + c.expression, &error);
    EXPECT_NE(error.find(c.message), std::string::npos)
        << c.expression.substr(0, 80) << ": " << error;
  }
}

TEST_F(SqliteExtension, RefusesPatternsBeyondSqlitesLimitOnLikePatterns) {
  sqlite3_limit(db_, SQLITE_LIMIT_LIKE_PATTERN_LENGTH, 4);
  EXPECT_EQ(One("SELECT zolv_match(x'2a2a2a41', x'41', 0)"), "1");
  std::string error;
  Column("SELECT zolv_match(x'2a2a2a2a41', x'41', 0)", &error);
  EXPECT_NE(error.find("longer than SQLite's limit"), std::string::npos)
      << error;
}

// A pattern or query kept for the statement must give way when another
// argument of the same call changes from row to row.
TEST_F(SqliteExtension, KeptArgumentsFollowTheOtherArgumentsOfEachRow) {
  // "%A": a literal "%" for Access, any run of bytes for ODBC. "[CH4]": any
  // carbon as SMILES (hydrogens constrain nothing), methane as SMARTS.
  EXPECT_EQ(One("WITH cases(text, dialect) AS (VALUES (x'4241', 1), "
                "(x'4241', 0), (x'2541', 0), (x'2541', 1), (x'41', 1)) "
                "SELECT group_concat(zolv_match(x'2541', text, dialect), '') "
                "FROM cases"),
            "10111");
  EXPECT_EQ(One("WITH cases(smiles, notation) AS (VALUES ('CCO', 'smiles'), "
                "('CCO', 'smarts'), ('C', 'smarts'), ('CCO', 'smiles')) "
                "SELECT group_concat(zolv_contains(smiles, '[CH4]', "
                "notation), '') FROM cases"),
            "1011");
}

TEST_F(SqliteExtension, LoadsAgainOnTheSameConnection) {
  Load();
  EXPECT_EQ(One("SELECT zolv_contains('CCO', 'CO')"), "1");
  EXPECT_EQ(One("SELECT zolv_match(zolv_pattern('CCO', ''), zolv_text('CCO', "
                "''), 0)"),
            "1");
}

}  // namespace
}  // namespace zolv::sql

#include "text_store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "test_files.h"

namespace zolv::search {
namespace {

constexpr WildcardDialect kAccess = WildcardDialect::kAccess;
constexpr WildcardDialect kOdbc = WildcardDialect::kOdbc;

using testing::Bytes;
using testing::TempFile;

// The PostgreSQL server that tests/search/with_postgres.sh started.
const char* PostgresConnection() { return std::getenv("ZOLV_TEST_POSTGRES"); }

enum class Backend { kSqlite, kPostgres };

void PrintTo(Backend backend, std::ostream* out) {
  *out << (backend == Backend::kSqlite ? "SQLite" : "PostgreSQL");
}

class TextStoreTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    std::string error;
    if (GetParam() == Backend::kSqlite) {
      store_ = OpenSqliteStore(file_.path(), OpenMode::kWrite, &error);
    } else {
      ASSERT_NE(PostgresConnection(), nullptr);
      store_ =
          OpenPostgresStore(PostgresConnection(), OpenMode::kWrite, &error);
    }
    ASSERT_TRUE(store_) << error;
    ASSERT_TRUE(store_->CreateSchema(true, &error)) << error;
  }

  std::vector<std::int64_t> Ids(const std::string& pattern,
                                WildcardDialect dialect,
                                TextVariant variant = TextVariant::kRaw,
                                std::vector<std::uint32_t> screens = {}) {
    std::vector<std::int64_t> ids;
    std::string error;
    EXPECT_TRUE(store_->PreselectIds(
        {pattern, variant, dialect, std::move(screens)}, &ids, &error))
        << error;
    return ids;
  }

  TempFile file_{"zolv-store"};
  std::unique_ptr<TextStore> store_;
};

// The bytes a raw text holds that text functions and escapes get wrong.
std::vector<int> AwkwardBytes() {
  std::vector<int> bytes = {0x00, 0x07, 0x22, 0x27, 0x5B, 0x5C, 0x7C};
  for (int b = 0x80; b <= 0xFF; ++b) bytes.push_back(b);
  return bytes;
}

TEST_P(TextStoreTest, FindsEveryAwkwardByteExactly) {
  // Target i holds its awkward byte between two screen bytes and before a
  // formula; the patterns must find it by that byte and by what follows.
  const std::vector<int> awkward = AwkwardBytes();
  std::vector<TargetRow> rows;
  for (std::size_t i = 0; i < awkward.size(); ++i) {
    TargetRow row;
    row.id = static_cast<std::int64_t>(i + 1);
    row.name = "t" + std::to_string(i);
    row.smiles = "C";
    row.raw = Bytes({0x41, awkward[i], 0x42}) + "Mv";
    row.ascii = "12";
    row.bits = "01";
    rows.push_back(row);
  }
  std::string error;
  ASSERT_TRUE(store_->Insert(rows, &error)) << error;

  for (std::size_t i = 0; i < awkward.size(); ++i) {
    const char b = static_cast<char>(awkward[i]);
    const std::vector<std::int64_t> only = {static_cast<std::int64_t>(i + 1)};
    SCOPED_TRACE("byte " + std::to_string(awkward[i]));
    EXPECT_EQ(Ids(std::string("*") + b + "*", kAccess), only);
    EXPECT_EQ(Ids(std::string("%") + b + "%", kOdbc), only);
    EXPECT_EQ(Ids(std::string("*") + b + "B*Mv*", kAccess), only);
    EXPECT_EQ(Ids(std::string("%") + b + "B%Mv%", kOdbc), only);
    EXPECT_EQ(Ids(std::string("A") + b + "BMv", kAccess), only);
    EXPECT_EQ(Ids(std::string("A") + b + "BMv", kOdbc), only);
  }
  // One byte wildcard: exactly one byte, never a decoded character.
  EXPECT_EQ(Ids("A?BMv", kAccess).size(), awkward.size());
  EXPECT_EQ(Ids("A_BMv", kOdbc).size(), awkward.size());
  EXPECT_TRUE(Ids("A??BMv", kAccess).empty());
  EXPECT_TRUE(Ids("A__BMv", kOdbc).empty());
  // Letter case counts.
  EXPECT_TRUE(Ids("*mv", kAccess).empty());
  EXPECT_TRUE(Ids("%mv", kOdbc).empty());
}

TEST_P(TextStoreTest, MatchesTheVariantsOwnTexts) {
  TargetRow row;
  row.id = 7;
  row.name = "benzyl chloride";
  row.smiles = "ClCc1ccccc1";
  row.raw = Bytes({0x07, 0x04, 0x03, 0x4D, 0x76});
  row.ascii = "347Cl";
  row.bits = "0011001";
  std::string error;
  ASSERT_TRUE(store_->Insert({row}, &error)) << error;

  // The queries the driver writes for a structure with the same screens.
  const std::vector<std::int64_t> seven = {7};
  EXPECT_EQ(Ids(Bytes({0x2A, 0x3F, 0x2A, 0x04, 0x03, 0x2A, 0x4D, 0x76, 0x2A}),
                kAccess, TextVariant::kRaw),
            seven);
  EXPECT_EQ(Ids(Bytes({0x25, 0x5F, 0x25, 0x04, 0x03, 0x25, 0x4D, 0x76, 0x25}),
                kOdbc, TextVariant::kRaw),
            seven);
  EXPECT_EQ(Ids("*34*7*Cl*", kAccess, TextVariant::kAlphabet), seven);
  EXPECT_EQ(Ids("%34%7%Cl%", kOdbc, TextVariant::kAlphabet), seven);
  // Each variant is matched against its own texts only.
  EXPECT_TRUE(Ids("*34*7*Cl*", kAccess, TextVariant::kRaw).empty());
  EXPECT_TRUE(Ids("*Mv*", kAccess, TextVariant::kAlphabet).empty());

  std::vector<Candidate> candidates;
  ASSERT_TRUE(store_->Preselect({"*Cl*", TextVariant::kAlphabet, kAccess},
                                &candidates, &error))
      << error;
  ASSERT_EQ(candidates.size(), 1u);
  EXPECT_EQ(candidates[0].id, 7);
  EXPECT_EQ(candidates[0].name, "benzyl chloride");
  EXPECT_EQ(candidates[0].smiles, "ClCc1ccccc1");
}

// The index gives the targets holding the query's first (rarest) screens,
// then the pattern tests their texts: a target must pass both.
TEST_P(TextStoreTest, NarrowsByScreensThenByPattern) {
  struct Target {
    std::vector<std::uint32_t> screens;
    std::string raw;
  };
  const Target targets[] = {
      {{1, 2, 3}, "ab"},   // 1
      {{2, 3}, "ab"},      // 2
      {{3, 300}, "ab"},    // 3
      {{1, 2, 3}, "xy"},   // 4
      {{}, "ab"},          // 5
      {{2, 65535}, "ab"},  // 6
  };
  std::vector<TargetRow> rows;
  for (const Target& target : targets) {
    TargetRow row;
    row.id = static_cast<std::int64_t>(rows.size() + 1);
    row.raw = target.raw;
    row.screens = target.screens;
    rows.push_back(row);
  }
  std::string error;
  ASSERT_TRUE(store_->Insert(rows, &error)) << error;
  struct Case {
    std::vector<std::uint32_t> screens;
    std::string pattern;
    std::vector<std::int64_t> ids;
  };
  const Case cases[] = {
      {{3}, "*", {1, 2, 3, 4}},
      {{3}, "a*", {1, 2, 3}},
      {{1, 3}, "*", {1, 4}},
      {{3, 2}, "*b", {1, 2}},
      {{300}, "*", {3}},
      {{65535, 2}, "*", {6}},
      {{7}, "*", {}},               // a screen no target holds
      {{}, "a*", {1, 2, 3, 5, 6}},  // no screen: every text
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern + " with " + std::to_string(c.screens.size()) +
                 " screens");
    EXPECT_EQ(Ids(c.pattern, kAccess, TextVariant::kRaw, c.screens), c.ids);
  }
  // The same statement again and again, for another variant and dialect.
  EXPECT_EQ(Ids("%", kOdbc, TextVariant::kAlphabet, {2, 3}),
            (std::vector<std::int64_t>{1, 2, 4}));
  EXPECT_EQ(Ids("*", kAccess, TextVariant::kRaw, {2, 3}),
            (std::vector<std::int64_t>{1, 2, 4}));
}

TEST_P(TextStoreTest, ReturnsStoredMoleculesByteForByte) {
  std::vector<TargetRow> rows(2);
  rows[0].id = 1;
  rows[0].molecule = Bytes({0x00, 0xFF, 0x5C, 0x27, 0x00});
  rows[1].id = 2;  // none
  rows[0].screens = rows[1].screens = {5};
  std::string error;
  ASSERT_TRUE(store_->Insert(rows, &error)) << error;
  for (const std::vector<std::uint32_t>& screens :
       {std::vector<std::uint32_t>{}, std::vector<std::uint32_t>{5}}) {
    std::vector<Candidate> candidates;
    ASSERT_TRUE(store_->Preselect({"*", TextVariant::kRaw, kAccess, screens},
                                  &candidates, &error))
        << error;
    ASSERT_EQ(candidates.size(), 2u);
    EXPECT_EQ(candidates[0].molecule, rows[0].molecule);
    EXPECT_EQ(candidates[1].molecule, "");
  }
  std::vector<std::string> read;
  ASSERT_TRUE(store_->ForEachTarget(
      [&read](const Candidate& target) {
        read.push_back(target.molecule);
        return true;
      },
      &error))
      << error;
  EXPECT_EQ(read, (std::vector<std::string>{rows[0].molecule, ""}));
}

TEST_P(TextStoreTest, KeepsEmptyTextsAsEmptyNotNull) {
  TargetRow row;
  row.id = 1;
  std::string error;
  ASSERT_TRUE(store_->Insert({row}, &error)) << error;
  EXPECT_EQ(Ids("*", kAccess), std::vector<std::int64_t>{1});
  EXPECT_EQ(Ids("", kOdbc), std::vector<std::int64_t>{1});
  EXPECT_TRUE(Ids("?", kAccess).empty());
}

// Names and data items of any bytes come back exactly, through both ways a
// store reads its targets, and the store's checksum sees every one of them.
TEST_P(TextStoreTest, KeepsNamesAndDataItemsByteForByte) {
  const std::vector<std::pair<std::string, std::string>> kept = {
      {"caf\xc3\xa9", ""},
      {"caf\xe9 \xff\xfe", "{\"MW\":\"16.04\"}"},
      {"", "{\"LATIN\":\"caf\\udce9\"}"},
      {"\xc3\xa9\xef\xbf\xbd", ""},  // U+FFFD itself, as a name may hold
  };
  std::vector<TargetRow> rows;
  for (const auto& [name, data] : kept) {
    TargetRow row;
    row.id = static_cast<std::int64_t>(rows.size()) + 1;
    row.name = name;
    row.data = data;
    row.raw = "x";
    rows.push_back(row);
  }
  std::string error;
  ASSERT_TRUE(store_->Insert(rows, &error)) << error;
  std::vector<Candidate> read;
  ASSERT_TRUE(
      store_->Preselect({"*", TextVariant::kRaw, kAccess}, &read, &error))
      << error;
  ASSERT_TRUE(store_->ForEachTarget(
      [&read](const Candidate& target) {
        read.push_back(target);
        return true;
      },
      &error))
      << error;
  ASSERT_EQ(read.size(), 2 * kept.size());
  for (std::size_t i = 0; i < read.size(); ++i) {
    EXPECT_EQ(read[i].name, kept[i % kept.size()].first) << i;
    EXPECT_EQ(read[i].data, kept[i % kept.size()].second) << i;
  }

  TargetSummary before;
  ASSERT_TRUE(store_->Summarize(&before, &error)) << error;
  std::vector<TargetRow> other = rows;
  other[1].name = "caf\xe8 \xff\xfe";
  other[3].data = "{}";
  ASSERT_TRUE(store_->CreateSchema(true, &error)) << error;
  ASSERT_TRUE(store_->Insert(other, &error)) << error;
  TargetSummary after;
  ASSERT_TRUE(store_->Summarize(&after, &error)) << error;
  EXPECT_NE(after.checksum, before.checksum);
}

TEST_P(TextStoreTest, StoresAllOrNothingAndCountsAndListsInIdOrder) {
  std::vector<TargetRow> rows(3);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    rows[i].id = static_cast<std::int64_t>(30 - 10 * i);
    rows[i].smiles = "C" + std::string(i, 'C');
  }
  std::string error;
  ASSERT_TRUE(store_->Insert(rows, &error)) << error;

  // A batch with a repeated id is refused whole.
  std::vector<TargetRow> clash(2);
  clash[0].id = 40;
  clash[1].id = 10;
  EXPECT_FALSE(store_->Insert(clash, &error));
  EXPECT_FALSE(error.empty());

  std::int64_t count = 0;
  ASSERT_TRUE(store_->CountTargets(&count, &error)) << error;
  EXPECT_EQ(count, 3);
  std::vector<std::int64_t> seen;
  ASSERT_TRUE(store_->ForEachTarget(
      [&seen](const Candidate& target) {
        seen.push_back(target.id);
        return true;
      },
      &error))
      << error;
  EXPECT_EQ(seen, (std::vector<std::int64_t>{10, 20, 30}));
  EXPECT_EQ(Ids("*", kAccess), (std::vector<std::int64_t>{10, 20, 30}));

  // Stopping early is no failure, and the store stays usable.
  seen.clear();
  ASSERT_TRUE(store_->ForEachTarget(
      [&seen](const Candidate& target) {
        seen.push_back(target.id);
        return false;
      },
      &error));
  EXPECT_EQ(seen, std::vector<std::int64_t>{10});
  ASSERT_TRUE(store_->CountTargets(&count, &error)) << error;
}

TEST_P(TextStoreTest, RefusesToOverwriteAnIndexUnlessAskedAndKeepsSettings) {
  std::string error;
  EXPECT_FALSE(store_->CreateSchema(false, &error));
  EXPECT_NE(error.find("already holds an index"), std::string::npos) << error;

  std::optional<std::string> value;
  ASSERT_TRUE(store_->GetSetting("length", &value, &error)) << error;
  EXPECT_FALSE(value);
  ASSERT_TRUE(store_->SetSetting("length", "128", &error)) << error;
  ASSERT_TRUE(store_->SetSetting("length", "4096", &error)) << error;
  ASSERT_TRUE(store_->GetSetting("length", &value, &error)) << error;
  EXPECT_EQ(value, "4096");

  TargetRow row;
  row.id = 1;
  ASSERT_TRUE(store_->Insert({row}, &error)) << error;
  ASSERT_TRUE(store_->CreateSchema(true, &error)) << error;
  std::int64_t count = -1;
  ASSERT_TRUE(store_->CountTargets(&count, &error)) << error;
  EXPECT_EQ(count, 0);
}

// PostgreSQL only when a server is given: CTest runs these cases once more
// through tests/search/with_postgres.sh, which starts one.
std::vector<Backend> Backends() {
  std::vector<Backend> backends = {Backend::kSqlite};
  if (PostgresConnection() != nullptr) backends.push_back(Backend::kPostgres);
  return backends;
}

INSTANTIATE_TEST_SUITE_P(Stores, TextStoreTest, ::testing::ValuesIn(Backends()),
                         [](const ::testing::TestParamInfo<Backend>& info) {
                           return info.param == Backend::kSqlite ? "Sqlite"
                                                                 : "Postgres";
                         });

TEST(SqliteTextStore, OpensOnlyAnIndexForReading) {
  std::string error;
  TempFile missing("zolv-missing");
  EXPECT_FALSE(OpenSqliteStore(missing.path(), OpenMode::kRead, &error));
  EXPECT_FALSE(std::filesystem::exists(missing.path()));

  TempFile junk("zolv-junk");
  std::ofstream(junk.path()) << "not a database, but long enough to be read "
                                "as one: SQLite wants a header of 100 bytes "
                                "and this text is longer than that.\n";
  EXPECT_FALSE(OpenSqliteStore(junk.path(), OpenMode::kRead, &error));
  EXPECT_NE(error.find(junk.path()), std::string::npos) << error;

  TempFile empty("zolv-empty");
  ASSERT_TRUE(OpenSqliteStore(empty.path(), OpenMode::kWrite, &error));
  EXPECT_FALSE(OpenSqliteStore(empty.path(), OpenMode::kRead, &error));
  EXPECT_NE(error.find("holds no index"), std::string::npos) << error;
}

// What the store does instead of SQLite's own GLOB and LIKE, shown by the
// targets those lose: text read up to a NUL byte only, and bytes read as
// UTF-8 sequences, so that a screen byte inside one is no longer there.
TEST(SqliteTextStore, BuiltinGlobAndLikeLoseTargetsThatTheExactMatchFinds) {
  TempFile file("zolv-builtin");
  std::string error;
  auto exact = OpenSqliteStore(file.path(), OpenMode::kWrite, &error);
  ASSERT_TRUE(exact) << error;
  ASSERT_TRUE(exact->CreateSchema(false, &error)) << error;
  std::vector<TargetRow> rows(2);
  rows[0].id = 1;  // screens 257 and 256 (the NUL), then the formula Cl
  rows[0].raw = Bytes({0x01, 0x00, 0x4D, 0x76});
  rows[1].id = 2;  // screens 197 and 133: C5 85 reads as one character
  rows[1].raw = Bytes({0xC5, 0x85});
  ASSERT_TRUE(exact->Insert(rows, &error)) << error;
  auto builtin = OpenSqliteStore(file.path(), OpenMode::kRead, &error,
                                 SqliteMatching::kBuiltin);
  ASSERT_TRUE(builtin) << error;

  struct LostCase {
    std::string pattern;
    WildcardDialect dialect;
    std::int64_t target;
  };
  const std::vector<LostCase> cases = {
      {"*Mv*", kAccess, 1},
      {"%Mv%", kOdbc, 1},
      {Bytes({0x2A, 0x85, 0x2A}), kAccess, 2},
      {Bytes({0x25, 0x85, 0x25}), kOdbc, 2},
  };
  for (const LostCase& c : cases) {
    const PatternQuery query{c.pattern, TextVariant::kRaw, c.dialect};
    std::vector<std::int64_t> found;
    ASSERT_TRUE(exact->PreselectIds(query, &found, &error)) << error;
    EXPECT_EQ(found, std::vector<std::int64_t>{c.target}) << c.pattern;
    found.clear();
    ASSERT_TRUE(builtin->PreselectIds(query, &found, &error)) << error;
    EXPECT_TRUE(found.empty()) << c.pattern << " found by the built-in match";
  }
}

}  // namespace
}  // namespace zolv::search

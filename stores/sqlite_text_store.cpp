// The SQLite store: one file, texts in BLOB columns, and the byte-exact
// function zolv_match(pattern, text, dialect) in place of GLOB and LIKE,
// registered through the entry point of zolv's SQLite extension as any other
// program registers it. SQLite's own GLOB and LIKE read their arguments as
// NUL-terminated UTF-8, and LIKE folds letter case, so on raw texts they
// would silently drop targets; zolv_match compares every byte as it is.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "sql_text_store.h"
#include "text_store.h"
#include "zolv_sqlite.h"

namespace zolv::search {
namespace {

constexpr char kMatchFunction[] = "zolv_match";
constexpr char kChecksumFunction[] = "zolv_checksum";
// How many of a query's rarest screens the full-text index is asked for.
// Measured on 50,000 ZINC targets: 2 to 4 are about equally fast, fewer let
// more targets through to the pattern, more make FTS5 intersect the long
// lists of common screens.
constexpr std::size_t kIndexScreens = 3;
// How long a statement waits for another connection's lock: a search holds
// its snapshot for as long as it runs, and an indexing run waits for it.
constexpr int kBusyMilliseconds = 60000;

struct DatabaseCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using DatabaseHandle = std::unique_ptr<sqlite3, DatabaseCloser>;

// A prepared statement, finalized once.
class Statement {
 public:
  Statement() = default;
  explicit Statement(sqlite3_stmt* statement) : statement_(statement) {}
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement(Statement&& other) noexcept
      : statement_(std::exchange(other.statement_, nullptr)) {}
  Statement& operator=(Statement&& other) noexcept {
    std::swap(statement_, other.statement_);
    return *this;
  }
  ~Statement() { sqlite3_finalize(statement_); }

  sqlite3_stmt* get() const { return statement_; }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

std::string_view BytesOf(sqlite3_value* value) {
  // Blob first, then its size: the order SQLite asks for. An empty blob
  // comes back as a null pointer.
  const void* data = sqlite3_value_blob(value);
  const int size = sqlite3_value_bytes(value);
  if (data == nullptr || size <= 0) return {};
  return {static_cast<const char*>(data), static_cast<std::size_t>(size)};
}

// One step of the row hash: the word folded in, multiplied by an odd
// constant (2^64 over the golden ratio), its high half folded back down.
std::uint64_t Step(std::uint64_t hash, std::uint64_t word) {
  hash = (hash ^ word) * 0x9E3779B97F4A7C15ull;
  return hash ^ (hash >> 32);
}

// A column's length and then its bytes, eight at a time, so that moving a
// byte from one column to the next changes the hash. The checksum only has
// to notice damage, at a cost well below the search it guards: a byte at a
// time cost as much as a whole search of a few queries.
std::uint64_t Mix(std::uint64_t hash, std::string_view bytes) {
  hash = Step(hash, bytes.size());
  std::size_t at = 0;
  for (; at + 8 <= bytes.size(); at += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes.data() + at, 8);
    hash = Step(hash, word);
  }
  std::uint64_t last = 0;
  if (at < bytes.size()) {
    std::memcpy(&last, bytes.data() + at, bytes.size() - at);
  }
  return Step(hash, last);
}

// zolv_checksum(column...): the sum of every row's hash, so that it does not
// depend on the order the rows are read in.
void ChecksumStep(sqlite3_context* context, int argc, sqlite3_value** argv) {
  auto* sum = static_cast<std::uint64_t*>(
      sqlite3_aggregate_context(context, sizeof(std::uint64_t)));
  if (sum == nullptr) {
    sqlite3_result_error_nomem(context);
    return;
  }
  // Any odd start (here pi's digits), so that no row hashes to 0.
  std::uint64_t hash = 0x243F6A8885A308D3ull;
  for (int i = 0; i < argc; ++i) {
    const int type = sqlite3_value_type(argv[i]);
    // NULL sums as a length no text has, so that it differs from empty.
    hash = type == SQLITE_NULL ? Step(hash, ~std::uint64_t{0})
           : type == SQLITE_INTEGER
               ? Mix(hash, std::to_string(sqlite3_value_int64(argv[i])))
               : Mix(hash, BytesOf(argv[i]));
  }
  *sum += hash;
}

void ChecksumFinal(sqlite3_context* context) {
  auto* sum =
      static_cast<std::uint64_t*>(sqlite3_aggregate_context(context, 0));
  char text[32];
  std::snprintf(text, sizeof(text), "%016" PRIx64,
                sum != nullptr ? *sum : std::uint64_t{0});
  sqlite3_result_text(context, text, -1, SQLITE_TRANSIENT);
}

std::string ColumnText(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  const int size = sqlite3_column_bytes(statement, column);
  if (text == nullptr || size <= 0) return {};
  return {reinterpret_cast<const char*>(text), static_cast<std::size_t>(size)};
}

// A row of kCandidateColumns: the name from name_bytes when it holds one.
Candidate ReadCandidate(sqlite3_stmt* statement) {
  Candidate candidate;
  candidate.id = sqlite3_column_int64(statement, 0);
  candidate.name = sqlite3_column_type(statement, 3) == SQLITE_NULL
                       ? ColumnText(statement, 1)
                       : ColumnText(statement, 3);
  candidate.smiles = ColumnText(statement, 2);
  candidate.data = ColumnText(statement, 4);
  const void* molecule = sqlite3_column_blob(statement, 5);
  const int size = sqlite3_column_bytes(statement, 5);
  if (molecule != nullptr && size > 0) {
    candidate.molecule.assign(static_cast<const char*>(molecule),
                              static_cast<std::size_t>(size));
  }
  return candidate;
}

// "?1, ?2, ..." for every column of a target row.
std::string PlaceholderList() {
  std::string list;
  for (std::size_t i = 1;
       i <= sizeof(kTargetColumns) / sizeof(kTargetColumns[0]); ++i) {
    if (i > 1) list += ", ";
    list += Placeholder(SqlDialect::kSqlite, static_cast<int>(i));
  }
  return list;
}

// The descriptor of the lock that keeps a second writer out. Closed only
// after the database: closing any descriptor of the file drops the POSIX
// locks SQLite holds on it.
class LockFile {
 public:
  LockFile() = default;
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;
  ~LockFile() {
    if (fd_ >= 0) close(fd_);
  }
  int fd() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

class SqliteTextStore final : public SqlTextStore {
 public:
  SqliteTextStore(DatabaseHandle db, std::string path, SqliteMatching matching)
      : SqlTextStore(SqlDialect::kSqlite),
        db_(std::move(db)),
        path_(std::move(path)),
        matching_(matching) {}

  bool Insert(const std::vector<TargetRow>& rows, std::string* error) override {
    return InsertWithSettings(rows, {}, error);
  }

  bool InsertWithSettings(const std::vector<TargetRow>& rows,
                          const SettingChanges& settings,
                          std::string* error) override {
    if (insert_.get() == nullptr &&
        (!Prepare("INSERT INTO " + targetsTable() + " (" + TargetColumnList() +
                      ") VALUES (" + PlaceholderList() + ")",
                  &insert_, error) ||
         !Prepare("INSERT INTO " + ScreensTable(targetsTable()) +
                      " (rowid, screens) VALUES (?1, ?2)",
                  &insertScreens_, error))) {
      insert_ = Statement();
      return false;
    }
    sqlite3_stmt* statement = insert_.get();
    sqlite3_stmt* screens = insertScreens_.get();
    return InTransaction(
        [&] {
          for (const TargetRow& row : rows) {
            sqlite3_reset(statement);
            sqlite3_clear_bindings(statement);
            sqlite3_reset(screens);
            // Texts bind from std::string data, never a null pointer, so an
            // empty text is stored as an empty value, not as NULL.
            const std::optional<std::string> nameBytes =
                NameBytesColumn(row.name);
            const std::string tokens = ScreenTokens(row.screens);
            const bool bound =
                sqlite3_bind_int64(statement, 1, row.id) == SQLITE_OK &&
                BindText(statement, 2, NameColumn(row.name)) &&
                BindText(statement, 3, row.smiles) &&
                BindBlob(statement, 4, row.raw) &&
                BindBlob(statement, 5, row.ascii) &&
                BindText(statement, 6, row.bits) &&
                (!nameBytes || BindBlob(statement, 7, *nameBytes)) &&
                (row.data.empty() || BindText(statement, 8, row.data)) &&
                BindText(statement, 9, tokens) &&
                BindBlob(statement, 10, row.molecule) &&
                sqlite3_bind_int64(screens, 1, row.id) == SQLITE_OK &&
                BindText(screens, 2, tokens);
            if (!bound || sqlite3_step(statement) != SQLITE_DONE ||
                sqlite3_step(screens) != SQLITE_DONE) {
              *error = Message("cannot store target " + std::to_string(row.id));
              sqlite3_reset(statement);
              sqlite3_reset(screens);
              return false;
            }
          }
          sqlite3_reset(statement);
          sqlite3_reset(screens);
          return WriteSettings(settings, error);
        },
        error);
  }

  bool GetState(IndexState* state, std::string* error) override {
    bool targets = false;
    bool settings = false;
    if (!HasTable(kTargetsTable, &targets, error) ||
        !HasTable(kSettingsTable, &settings, error)) {
      return false;
    }
    *state = IndexState::kNone;
    if (!targets && !settings) return true;
    *state = IndexState::kForeign;
    if (!targets || !settings) return true;
    std::optional<std::string> format;
    std::optional<std::string> complete;
    // A table of that name but other columns is not the index's either.
    std::string ignored;
    if (!ReadSetting(kSettingsTable, kSettingFormat, &format, &ignored)) {
      return true;
    }
    if (format == kFormatMarker &&
        !ReadSetting(kSettingsTable, kSettingComplete, &complete, error)) {
      return false;
    }
    *state = StateOfMarker(format, complete.has_value());
    return true;
  }

  bool LockForWriting(std::string* error) override {
    const int fd = open(path_.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
      *error = Describe() + ": cannot open it to lock it";
      return false;
    }
    lock_.reset(fd);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      *error = Describe() +
               " is being written by another zolv index; wait until it "
               "finishes";
      return false;
    }
    return true;
  }

  bool HoldSnapshot(std::string* error) override {
    // A read transaction, begun by its first read, held until the store
    // closes: writers wait for it to end before they commit.
    return Command("BEGIN", error) && Probe(error);
  }

  bool Summarize(TargetSummary* summary, std::string* error) override {
    Statement statement;
    if (!Prepare(std::string("SELECT count(*), coalesce(max(id), 0), ") +
                     kChecksumFunction + "(" + TargetColumnList() + ") FROM " +
                     targetsTable(),
                 &statement, error)) {
      return false;
    }
    if (sqlite3_step(statement.get()) != SQLITE_ROW) {
      *error = Message("cannot read the targets");
      return false;
    }
    summary->count = sqlite3_column_int64(statement.get(), 0);
    summary->highestId = sqlite3_column_int64(statement.get(), 1);
    summary->checksum = ColumnText(statement.get(), 2);
    return true;
  }

  bool CheckStructure(std::string* error) override {
    Statement statement;
    if (!Prepare("PRAGMA quick_check", &statement, error)) return false;
    std::string problems;
    for (;;) {
      const int step = sqlite3_step(statement.get());
      if (step == SQLITE_DONE) break;
      if (step != SQLITE_ROW) {
        *error = Message("cannot check the file");
        return false;
      }
      const std::string line = ColumnText(statement.get(), 0);
      if (line == "ok") continue;
      if (!problems.empty()) problems += "; ";
      problems += line;
    }
    if (!problems.empty()) {
      *error = Describe() + " is damaged: " + problems;
      return false;
    }
    return true;
  }

  bool Preselect(const PatternQuery& query, std::vector<Candidate>* candidates,
                 std::string* error) override {
    return RunPreselect(query, true, error,
                        [candidates](sqlite3_stmt* statement) {
                          candidates->push_back(ReadCandidate(statement));
                        });
  }

  bool PreselectIds(const PatternQuery& query, std::vector<std::int64_t>* ids,
                    std::string* error) override {
    return RunPreselect(query, false, error, [ids](sqlite3_stmt* statement) {
      ids->push_back(sqlite3_column_int64(statement, 0));
    });
  }

  bool CountTargets(std::int64_t* count, std::string* error) override {
    Statement statement;
    if (!Prepare("SELECT count(*) FROM " + targetsTable(), &statement, error)) {
      return false;
    }
    if (sqlite3_step(statement.get()) != SQLITE_ROW) {
      *error = Message("cannot count the targets");
      return false;
    }
    *count = sqlite3_column_int64(statement.get(), 0);
    return true;
  }

  bool ForEachTarget(const std::function<bool(const Candidate&)>& visit,
                     std::string* error) override {
    Statement statement;
    if (!Prepare(std::string("SELECT ") + kCandidateColumns + " FROM " +
                     targetsTable() + " ORDER BY id",
                 &statement, error)) {
      return false;
    }
    for (;;) {
      const int step = sqlite3_step(statement.get());
      if (step == SQLITE_DONE) return true;
      if (step != SQLITE_ROW) {
        *error = Message("cannot read the targets");
        return false;
      }
      if (!visit(ReadCandidate(statement.get()))) return true;
    }
  }

  std::string Describe() const override { return "SQLite file " + path_; }

  // Checks that the file is a database at all: opening does not read it.
  bool Probe(std::string* error) {
    return Command("SELECT count(*) FROM sqlite_master", error);
  }

 protected:
  bool Command(const std::string& sql, std::string* error) override {
    if (sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, nullptr) !=
        SQLITE_OK) {
      if (error != nullptr) *error = Message("cannot run \"" + sql + "\"");
      return false;
    }
    return true;
  }

  bool WriteSetting(const std::string& key,
                    const std::optional<std::string>& value,
                    std::string* error) override {
    Statement statement;
    const std::string sql =
        value ? UpsertSettingSql(SqlDialect::kSqlite, settingsTable())
              : "DELETE FROM " + settingsTable() + " WHERE key = ?1";
    if (!Prepare(sql, &statement, error)) return false;
    if (!BindText(statement.get(), 1, key) ||
        (value && !BindText(statement.get(), 2, *value)) ||
        sqlite3_step(statement.get()) != SQLITE_DONE) {
      *error = Message("cannot store the setting " + key);
      return false;
    }
    return true;
  }

  bool ReadSetting(const std::string& table, const std::string& key,
                   std::optional<std::string>* value,
                   std::string* error) override {
    Statement statement;
    if (!Prepare("SELECT value FROM " + table + " WHERE key = ?1", &statement,
                 error)) {
      return false;
    }
    if (!BindText(statement.get(), 1, key)) {
      *error = Message("cannot read the setting " + key);
      return false;
    }
    const int step = sqlite3_step(statement.get());
    if (step == SQLITE_DONE) {
      value->reset();
      return true;
    }
    if (step != SQLITE_ROW) {
      *error = Message("cannot read the setting " + key);
      return false;
    }
    *value = ColumnText(statement.get(), 0);
    return true;
  }

  void TablesChanged() override {
    insert_ = Statement();
    insertScreens_ = Statement();
    for (Statement& statement : preselections_) statement = Statement();
  }

 private:
  bool HasTable(const char* name, bool* exists, std::string* error) {
    Statement statement;
    if (!Prepare("SELECT count(*) FROM sqlite_master WHERE name = ?1",
                 &statement, error)) {
      return false;
    }
    sqlite3_bind_text(statement.get(), 1, name, -1, SQLITE_STATIC);
    if (sqlite3_step(statement.get()) != SQLITE_ROW) {
      *error = Message("cannot read the schema");
      return false;
    }
    *exists = sqlite3_column_int(statement.get(), 0) > 0;
    return true;
  }

  // The preselection statement for a form of query, prepared on first use
  // and kept for every later query of the run.
  bool PreselectStatement(const PatternQuery& query, bool whole, bool indexed,
                          sqlite3_stmt** statement, std::string* error) {
    const std::size_t slot =
        (whole ? 8 : 0) + (indexed ? 4 : 0) +
        (query.variant == TextVariant::kRaw ? 0 : 2) +
        (query.dialect == WildcardDialect::kAccess ? 0 : 1);
    Statement& kept = preselections_[slot];
    if (kept.get() == nullptr) {
      const std::string text = TextColumn(query.variant);
      std::string condition;
      if (matching_ == SqliteMatching::kExact) {
        condition = std::string(kMatchFunction) + "(?1, " + text + ", ?2)";
      } else {
        condition =
            "CAST(" + text + " AS TEXT) " +
            (query.dialect == WildcardDialect::kAccess ? "GLOB" : "LIKE") +
            " CAST(?1 AS TEXT)";
      }
      if (indexed) {
        // The ids come from the full-text index in ascending order, and
        // each is one lookup by rowid: no row is read that the index ruled
        // out, and no sort is needed.
        condition = "id IN (SELECT rowid FROM " + ScreensTable(targetsTable()) +
                    " WHERE " + ScreensTable(targetsTable()) +
                    " MATCH ?3) AND " + condition;
      }
      if (!Prepare(std::string("SELECT ") + (whole ? kCandidateColumns : "id") +
                       " FROM " + targetsTable() + " WHERE " + condition +
                       " ORDER BY id",
                   &kept, error, SQLITE_PREPARE_PERSISTENT)) {
        return false;
      }
    }
    *statement = kept.get();
    return true;
  }

  template <typename OnRow>
  bool RunPreselect(const PatternQuery& query, bool whole, std::string* error,
                    OnRow onRow) {
    const bool indexed = !query.screens.empty();
    sqlite3_stmt* statement = nullptr;
    if (!PreselectStatement(query, whole, indexed, &statement, error)) {
      return false;
    }
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    const std::vector<std::uint32_t> rarest(
        query.screens.begin(),
        query.screens.begin() + static_cast<std::ptrdiff_t>(std::min(
                                    query.screens.size(), kIndexScreens)));
    if (!BindBlob(statement, 1, query.pattern) ||
        (matching_ == SqliteMatching::kExact &&
         sqlite3_bind_int(statement, 2, static_cast<int>(query.dialect)) !=
             SQLITE_OK) ||
        (indexed && !BindText(statement, 3, ScreenTokens(rarest)))) {
      *error = Message("cannot bind the pattern");
      return false;
    }
    for (;;) {
      const int step = sqlite3_step(statement);
      if (step == SQLITE_DONE) break;
      if (step != SQLITE_ROW) {
        *error = Message("preselection failed");
        sqlite3_reset(statement);
        return false;
      }
      onRow(statement);
    }
    // Reset at once, so that the statement holds no read lock in between.
    sqlite3_reset(statement);
    return true;
  }

  static bool BindText(sqlite3_stmt* statement, int index,
                       const std::string& text) {
    return sqlite3_bind_text64(statement, index, text.data(), text.size(),
                               SQLITE_TRANSIENT, SQLITE_UTF8) == SQLITE_OK;
  }

  static bool BindBlob(sqlite3_stmt* statement, int index,
                       const std::string& bytes) {
    return sqlite3_bind_blob64(statement, index, bytes.data(), bytes.size(),
                               SQLITE_TRANSIENT) == SQLITE_OK;
  }

  bool Prepare(const std::string& sql, Statement* statement, std::string* error,
               unsigned flags = 0) {
    sqlite3_stmt* prepared = nullptr;
    if (sqlite3_prepare_v3(db_.get(), sql.c_str(),
                           static_cast<int>(sql.size() + 1), flags, &prepared,
                           nullptr) != SQLITE_OK) {
      sqlite3_finalize(prepared);
      *error = Message("cannot prepare a statement");
      return false;
    }
    *statement = Statement(prepared);
    return true;
  }

  std::string Message(const std::string& what) const {
    return Describe() + ": " + what + ": " + sqlite3_errmsg(db_.get());
  }

  LockFile lock_;  // declared first, so closed last
  DatabaseHandle db_;
  std::string path_;
  SqliteMatching matching_;
  Statement insert_;
  Statement insertScreens_;
  // By whether whole candidates are read, the index used, the variant and
  // the dialect.
  Statement preselections_[16];
};

}  // namespace

std::unique_ptr<TextStore> OpenSqliteStore(const std::string& path,
                                           OpenMode mode, std::string* error,
                                           SqliteMatching matching) {
  const int flags = mode == OpenMode::kRead
                        ? SQLITE_OPEN_READONLY
                        : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  sqlite3* opened = nullptr;
  const int status = sqlite3_open_v2(path.c_str(), &opened, flags, nullptr);
  DatabaseHandle db(opened);
  if (status != SQLITE_OK) {
    *error = "SQLite file " + path + ": cannot open: " +
             (db ? sqlite3_errmsg(db.get()) : sqlite3_errstr(status));
    return nullptr;
  }
  sqlite3_extended_result_codes(db.get(), 1);
  char* message = nullptr;
  if (sqlite3_zolvsqlite_init(db.get(), &message, nullptr) != SQLITE_OK) {
    *error = "SQLite file " + path + ": cannot register zolv's functions: " +
             (message != nullptr ? message : sqlite3_errmsg(db.get()));
    sqlite3_free(message);
    return nullptr;
  }
  if (sqlite3_create_function_v2(db.get(), kChecksumFunction, -1,
                                 SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                 nullptr, &ChecksumStep, &ChecksumFinal,
                                 nullptr) != SQLITE_OK ||
      sqlite3_busy_timeout(db.get(), kBusyMilliseconds) != SQLITE_OK) {
    *error = "SQLite file " + path +
             ": cannot set up the connection: " + sqlite3_errmsg(db.get());
    return nullptr;
  }
  auto store = std::make_unique<SqliteTextStore>(std::move(db), path, matching);
  if (!store->Probe(error)) return nullptr;
  if (mode == OpenMode::kRead && !CheckReadable(*store, error)) return nullptr;
  return store;
}

}  // namespace zolv::search

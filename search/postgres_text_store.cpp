// The PostgreSQL store: texts in bytea columns, matched with the server's own
// LIKE on bytea, which compares bytes as they are (no encoding, no case
// folding, NUL bytes included). Two things keep it sound: "ESCAPE ''", since
// LIKE otherwise takes a backslash (a raw screen byte like any other) as its
// escape character; and Access patterns translated to LIKE so that the
// translation matches at least what the pattern does. Every value travels as
// a parameter; no pattern byte is ever put into SQL text.
#include <libpq-fe.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pattern_match.h"
#include "text_store.h"

namespace zolv::search {
namespace {

// Type oids of the parameters, from PostgreSQL's catalog.
constexpr Oid kInt8Oid = 20;
constexpr Oid kTextOid = 25;
constexpr Oid kByteaOid = 17;
// Format codes of parameters and results.
constexpr int kTextFormat = 0;
constexpr int kBinaryFormat = 1;
// A statement takes at most 65535 parameters; rows go in chunks well below.
constexpr std::size_t kRowsPerStatement = 1000;
constexpr int kColumnsPerRow = 6;
// The names a replacing index is built under.
constexpr char kBesideTargets[] = "zolv_new_targets";
constexpr char kBesideSettings[] = "zolv_new_settings";
// Each row's bytes, every column led by its length so that moving a byte
// from one column to the next changes the sum; rows are summed, so that the
// order they are read in does not matter.
constexpr char kRowBytes[] =
    "int8send(id) || int4send(octet_length(convert_to(name, 'UTF8')))"
    " || convert_to(name, 'UTF8')"
    " || int4send(octet_length(convert_to(smiles, 'UTF8')))"
    " || convert_to(smiles, 'UTF8') || int4send(octet_length(raw)) || raw"
    " || int4send(octet_length(ascii)) || ascii"
    " || int4send(octet_length(convert_to(bits, 'UTF8')))"
    " || convert_to(bits, 'UTF8')";

struct ConnectionCloser {
  void operator()(PGconn* connection) const { PQfinish(connection); }
};
using Connection = std::unique_ptr<PGconn, ConnectionCloser>;

struct ResultClearer {
  void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultClearer>;

// Server messages end in a line break; messages here do not.
std::string Trimmed(const char* message) {
  std::string text = message != nullptr ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

void IgnoreNotice(void*, const char*) {}

// The parameters of one statement: values with their types and formats.
class Parameters {
 public:
  void AddText(std::string value) {
    Add(std::move(value), kTextOid, kBinaryFormat);
  }
  void AddBytes(std::string value) {
    Add(std::move(value), kByteaOid, kBinaryFormat);
  }
  void AddInt8(std::int64_t value) {
    Add(std::to_string(value), kInt8Oid, kTextFormat);
  }
  int count() const { return static_cast<int>(values_.size()); }

  // Pointers into values_: valid until the next Add.
  void Finish() {
    pointers_.clear();
    lengths_.clear();
    for (const std::string& value : values_) {
      pointers_.push_back(value.c_str());
      lengths_.push_back(static_cast<int>(value.size()));
    }
  }
  const Oid* types() const { return types_.data(); }
  const char* const* values() const { return pointers_.data(); }
  const int* lengths() const { return lengths_.data(); }
  const int* formats() const { return formats_.data(); }

 private:
  void Add(std::string value, Oid type, int format) {
    values_.push_back(std::move(value));
    types_.push_back(type);
    formats_.push_back(format);
  }

  std::vector<std::string> values_;
  std::vector<Oid> types_;
  std::vector<int> formats_;
  std::vector<const char*> pointers_;
  std::vector<int> lengths_;
};

const char* TextColumn(TextVariant variant) {
  return variant == TextVariant::kRaw ? "raw" : "ascii";
}

// The LIKE pattern for a query: ODBC patterns are LIKE patterns already.
std::string LikePattern(const PatternQuery& query) {
  return query.dialect == WildcardDialect::kAccess
             ? AccessPatternToLike(query.pattern)
             : query.pattern;
}

class PostgresTextStore final : public TextStore {
 public:
  explicit PostgresTextStore(Connection connection)
      : connection_(std::move(connection)) {}

  bool CreateSchema(bool replace, std::string* error) override {
    IndexState state = IndexState::kNone;
    if (!GetState(&state, error)) return false;
    if (state == IndexState::kForeign) {
      *error = Describe() + " holds " + ForeignTables() +
               "; it is left as it is (index into another database)";
      return false;
    }
    if (state != IndexState::kNone && !replace) {
      *error = Describe() + " already holds an index";
      return false;
    }
    if (!Command("BEGIN", error)) return false;
    if (!Command(std::string("DROP TABLE IF EXISTS ") + kTargetsTable +
                     ";DROP TABLE IF EXISTS " + kSettingsTable,
                 error) ||
        !MakeTables(kTargetsTable, kSettingsTable, {}, error)) {
      Command("ROLLBACK", nullptr);
      return false;
    }
    if (!Commit(error)) return false;
    UseTables(kTargetsTable, kSettingsTable);
    return true;
  }

  bool CreateTables(bool beside, const SettingChanges& settings,
                    std::string* error) override {
    const std::string targets = beside ? kBesideTargets : kTargetsTable;
    const std::string table = beside ? kBesideSettings : kSettingsTable;
    if (!Command("BEGIN", error)) return false;
    if ((beside && !Command("DROP TABLE IF EXISTS " + targets +
                                ";DROP TABLE IF EXISTS " + table,
                            error)) ||
        !MakeTables(targets, table, settings, error)) {
      Command("ROLLBACK", nullptr);
      return false;
    }
    if (!Commit(error)) return false;
    UseTables(targets, table);
    return true;
  }

  bool SwapIn(const SettingChanges& settings, std::string* error) override {
    if (targets_ == kTargetsTable) {
      *error = Describe() + ": no tables were made beside the index";
      return false;
    }
    // The primary keys' indexes are renamed too, so that the next index
    // built beside can take their names again.
    const std::string sql =
        std::string("DROP TABLE IF EXISTS ") + kTargetsTable +
        ";DROP TABLE IF EXISTS " + kSettingsTable + ";ALTER TABLE " + targets_ +
        " RENAME TO " + kTargetsTable + ";ALTER INDEX " + targets_ +
        "_pkey RENAME TO " + kTargetsTable + "_pkey;ALTER TABLE " + settings_ +
        " RENAME TO " + kSettingsTable + ";ALTER INDEX " + settings_ +
        "_pkey RENAME TO " + kSettingsTable + "_pkey";
    if (!Command("BEGIN", error)) return false;
    if (!WriteSettings(settings, error) || !Command(sql, error)) {
      Command("ROLLBACK", nullptr);
      return false;
    }
    if (!Commit(error)) return false;
    UseTables(kTargetsTable, kSettingsTable);
    return true;
  }

  bool Insert(const std::vector<TargetRow>& rows, std::string* error) override {
    return InsertWithSettings(rows, {}, error);
  }

  bool InsertWithSettings(const std::vector<TargetRow>& rows,
                          const SettingChanges& settings,
                          std::string* error) override {
    if (!Command("BEGIN", error)) return false;
    for (std::size_t start = 0; start < rows.size();
         start += kRowsPerStatement) {
      const std::size_t end = std::min(rows.size(), start + kRowsPerStatement);
      std::string sql = "INSERT INTO " + targets_ +
                        " (id, name, smiles, raw, ascii, bits) VALUES ";
      Parameters parameters;
      for (std::size_t i = start; i < end; ++i) {
        const TargetRow& row = rows[i];
        const int first = parameters.count() + 1;
        sql += i == start ? "(" : ",(";
        for (int column = 0; column < kColumnsPerRow; ++column) {
          sql += (column == 0 ? "$" : ",$") + std::to_string(first + column);
        }
        sql += ")";
        parameters.AddInt8(row.id);
        parameters.AddText(row.name);
        parameters.AddText(row.smiles);
        parameters.AddBytes(row.raw);
        parameters.AddBytes(row.ascii);
        parameters.AddText(row.bits);
      }
      if (!Execute(sql, &parameters, PGRES_COMMAND_OK, error)) {
        Command("ROLLBACK", nullptr);
        return false;
      }
    }
    if (!WriteSettings(settings, error)) {
      Command("ROLLBACK", nullptr);
      return false;
    }
    return Commit(error);
  }

  bool ChangeSettings(const SettingChanges& settings,
                      std::string* error) override {
    if (!Command("BEGIN", error)) return false;
    if (!WriteSettings(settings, error)) {
      Command("ROLLBACK", nullptr);
      return false;
    }
    return Commit(error);
  }

  bool GetState(IndexState* state, std::string* error) override {
    Parameters parameters;
    parameters.AddText(kTargetsTable);
    parameters.AddText(kSettingsTable);
    Result result =
        Query("SELECT to_regclass($1) IS NOT NULL, to_regclass($2) IS NOT NULL",
              &parameters, error);
    if (!result) return false;
    const bool targets = PQgetvalue(result.get(), 0, 0)[0] == 't';
    const bool settings = PQgetvalue(result.get(), 0, 1)[0] == 't';
    *state = IndexState::kNone;
    if (!targets && !settings) return true;
    *state = IndexState::kForeign;
    if (!targets || !settings) return true;
    // A table of that name but other columns is not the index's either; the
    // failed query must not leave a transaction aborted, hence the savepoint
    // when one is open.
    const bool inTransaction =
        PQtransactionStatus(connection_.get()) == PQTRANS_INTRANS;
    if (inTransaction && !Command("SAVEPOINT zolv_state", error)) return false;
    std::optional<std::string> format;
    std::string ignored;
    const bool read =
        ReadSetting(kSettingsTable, kSettingFormat, &format, &ignored);
    if (inTransaction) {
      Command(read ? "RELEASE SAVEPOINT zolv_state"
                   : "ROLLBACK TO SAVEPOINT zolv_state",
              nullptr);
    }
    if (!read || format != kFormatMarker) return true;
    std::optional<std::string> complete;
    if (!ReadSetting(kSettingsTable, kSettingComplete, &complete, error)) {
      return false;
    }
    *state = complete ? IndexState::kComplete : IndexState::kIncomplete;
    return true;
  }

  bool LockForWriting(std::string* error) override {
    // A session lock: the server drops it with the connection, however the
    // client ends. One per schema, as the tables are.
    Result result = Query(
        "SELECT pg_try_advisory_lock(hashtext(current_schema() ||"
        " '.zolv index'))",
        nullptr, error);
    if (!result) return false;
    if (PQgetvalue(result.get(), 0, 0)[0] != 't') {
      *error = Describe() +
               " is being written by another zolv index; wait until it "
               "finishes";
      return false;
    }
    return true;
  }

  bool HoldSnapshot(std::string* error) override {
    return Command("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", error);
  }

  bool Summarize(TargetSummary* summary, std::string* error) override {
    Result result = Query(
        std::string("SELECT count(*), coalesce(max(id), 0), coalesce(sum(('x'"
                    " || substr(md5(") +
            kRowBytes + "), 1, 15))::bit(60)::bigint), 0) FROM " + targets_,
        nullptr, error);
    if (!result) return false;
    summary->count = std::strtoll(PQgetvalue(result.get(), 0, 0), nullptr, 10);
    summary->highestId =
        std::strtoll(PQgetvalue(result.get(), 0, 1), nullptr, 10);
    summary->checksum = PQgetvalue(result.get(), 0, 2);
    return true;
  }

  bool CheckStructure(std::string*) override { return true; }

  bool Preselect(const PatternQuery& query, std::vector<Candidate>* candidates,
                 std::string* error) override {
    Result result = RunPreselect(query, "id, name, smiles", error);
    if (!result) return false;
    const int rows = PQntuples(result.get());
    candidates->reserve(candidates->size() + static_cast<std::size_t>(rows));
    for (int row = 0; row < rows; ++row) {
      candidates->push_back(ReadCandidate(result.get(), row));
    }
    return true;
  }

  bool PreselectIds(const PatternQuery& query, std::vector<std::int64_t>* ids,
                    std::string* error) override {
    Result result = RunPreselect(query, "id", error);
    if (!result) return false;
    const int rows = PQntuples(result.get());
    ids->reserve(ids->size() + static_cast<std::size_t>(rows));
    for (int row = 0; row < rows; ++row) {
      ids->push_back(
          std::strtoll(PQgetvalue(result.get(), row, 0), nullptr, 10));
    }
    return true;
  }

  bool CountTargets(std::int64_t* count, std::string* error) override {
    Result result = Query("SELECT count(*) FROM " + targets_, nullptr, error);
    if (!result) return false;
    *count = std::strtoll(PQgetvalue(result.get(), 0, 0), nullptr, 10);
    return true;
  }

  bool ForEachTarget(const std::function<bool(const Candidate&)>& visit,
                     std::string* error) override {
    // Row by row, so that a large store is never held whole in memory.
    const std::string sql =
        "SELECT id, name, smiles FROM " + targets_ + " ORDER BY id";
    if (PQsendQuery(connection_.get(), sql.c_str()) != 1 ||
        PQsetSingleRowMode(connection_.get()) != 1) {
      *error = Message("cannot read the targets", nullptr);
      Drain();
      return false;
    }
    bool visiting = true;
    bool ok = true;
    for (;;) {
      Result result(PQgetResult(connection_.get()));
      if (!result) break;
      const ExecStatusType status = PQresultStatus(result.get());
      if (status == PGRES_SINGLE_TUPLE) {
        if (visiting) visiting = visit(ReadCandidate(result.get(), 0));
      } else if (status != PGRES_TUPLES_OK && ok) {
        *error = Message("cannot read the targets", result.get());
        ok = false;
      }
    }
    return ok;
  }

  bool SetSetting(const std::string& key, const std::string& value,
                  std::string* error) override {
    return WriteSettings({{key, value}}, error);
  }

  bool GetSetting(const std::string& key, std::optional<std::string>* value,
                  std::string* error) override {
    return ReadSetting(settings_, key, value, error);
  }

  std::string Describe() const override {
    const char* db = PQdb(connection_.get());
    return std::string("PostgreSQL database ") + (db != nullptr ? db : "?");
  }

 private:
  // Inside a transaction.
  bool MakeTables(const std::string& targets, const std::string& table,
                  const SettingChanges& settings, std::string* error) {
    if (!Command("CREATE TABLE " + targets +
                     " (id bigint PRIMARY KEY, name text NOT NULL, smiles text"
                     " NOT NULL, raw bytea NOT NULL, ascii bytea NOT NULL,"
                     " bits text NOT NULL);CREATE TABLE " +
                     table + " (key text PRIMARY KEY, value text NOT NULL)",
                 error)) {
      return false;
    }
    const std::string previous = settings_;
    settings_ = table;
    SettingChanges all = {{kSettingFormat, std::string(kFormatMarker)}};
    all.insert(all.end(), settings.begin(), settings.end());
    const bool written = WriteSettings(all, error);
    settings_ = previous;
    return written;
  }

  void UseTables(const std::string& targets, const std::string& settings) {
    targets_ = targets;
    settings_ = settings;
  }

  bool WriteSettings(const SettingChanges& settings, std::string* error) {
    for (const auto& [key, value] : settings) {
      Parameters parameters;
      parameters.AddText(key);
      std::string sql = "DELETE FROM " + settings_ + " WHERE key = $1";
      if (value) {
        parameters.AddText(*value);
        sql = "INSERT INTO " + settings_ +
              " (key, value) VALUES ($1, $2) ON CONFLICT (key) DO "
              "UPDATE SET value = EXCLUDED.value";
      }
      if (!Execute(sql, &parameters, PGRES_COMMAND_OK, error)) return false;
    }
    return true;
  }

  bool ReadSetting(const std::string& table, const std::string& key,
                   std::optional<std::string>* value, std::string* error) {
    Parameters parameters;
    parameters.AddText(key);
    Result result = Query("SELECT value FROM " + table + " WHERE key = $1",
                          &parameters, error);
    if (!result) return false;
    if (PQntuples(result.get()) == 0) {
      value->reset();
    } else {
      *value = std::string(
          PQgetvalue(result.get(), 0, 0),
          static_cast<std::size_t>(PQgetlength(result.get(), 0, 0)));
    }
    return true;
  }

  bool Commit(std::string* error) {
    if (!Command("COMMIT", error)) {
      Command("ROLLBACK", nullptr);
      return false;
    }
    return true;
  }

  Result RunPreselect(const PatternQuery& query, const char* columns,
                      std::string* error) {
    Parameters parameters;
    parameters.AddBytes(LikePattern(query));
    return Query(std::string("SELECT ") + columns + " FROM " + targets_ +
                     " WHERE " + TextColumn(query.variant) +
                     " LIKE $1 ESCAPE '' ORDER BY id",
                 &parameters, error);
  }

  static Candidate ReadCandidate(PGresult* result, int row) {
    Candidate candidate;
    candidate.id = std::strtoll(PQgetvalue(result, row, 0), nullptr, 10);
    candidate.name.assign(
        PQgetvalue(result, row, 1),
        static_cast<std::size_t>(PQgetlength(result, row, 1)));
    candidate.smiles.assign(
        PQgetvalue(result, row, 2),
        static_cast<std::size_t>(PQgetlength(result, row, 2)));
    return candidate;
  }

  // A statement without result rows; error may be null.
  bool Command(const std::string& sql, std::string* error) {
    Result result(PQexec(connection_.get(), sql.c_str()));
    if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
      if (error != nullptr)
        *error = Message("\"" + sql + "\" failed", result.get());
      return false;
    }
    return true;
  }

  bool Execute(const std::string& sql, Parameters* parameters,
               ExecStatusType expected, std::string* error) {
    Result result = Run(sql, parameters);
    if (PQresultStatus(result.get()) != expected) {
      *error = Message("statement failed", result.get());
      return false;
    }
    return true;
  }

  // A statement with result rows, in text format; null on failure.
  Result Query(const std::string& sql, Parameters* parameters,
               std::string* error) {
    Result result = Run(sql, parameters);
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) {
      *error = Message("query failed", result.get());
      return nullptr;
    }
    return result;
  }

  Result Run(const std::string& sql, Parameters* parameters) {
    if (parameters == nullptr) {
      return Result(PQexecParams(connection_.get(), sql.c_str(), 0, nullptr,
                                 nullptr, nullptr, nullptr, kTextFormat));
    }
    parameters->Finish();
    return Result(PQexecParams(connection_.get(), sql.c_str(),
                               parameters->count(), parameters->types(),
                               parameters->values(), parameters->lengths(),
                               parameters->formats(), kTextFormat));
  }

  void Drain() {
    while (Result(PQgetResult(connection_.get()))) {
    }
  }

  std::string Message(const std::string& what, const PGresult* result) const {
    const char* detail = result != nullptr ? PQresultErrorMessage(result) : "";
    if (detail == nullptr || *detail == '\0') {
      detail = PQerrorMessage(connection_.get());
    }
    return Describe() + ": " + what + ": " + Trimmed(detail);
  }

  Connection connection_;
  std::string targets_ = kTargetsTable;
  std::string settings_ = kSettingsTable;
};

}  // namespace

std::unique_ptr<TextStore> OpenPostgresStore(const std::string& conninfo,
                                             OpenMode mode,
                                             std::string* error) {
  Connection connection(PQconnectdb(conninfo.c_str()));
  if (!connection) {
    *error = "PostgreSQL: cannot connect: out of memory";
    return nullptr;
  }
  if (PQstatus(connection.get()) != CONNECTION_OK) {
    *error = "PostgreSQL: cannot connect: " +
             Trimmed(PQerrorMessage(connection.get()));
    return nullptr;
  }
  // The server's notices ("table does not exist, skipping") are no news to
  // the user of this store.
  PQsetNoticeProcessor(connection.get(), &IgnoreNotice, nullptr);
  auto store = std::make_unique<PostgresTextStore>(std::move(connection));
  if (mode == OpenMode::kRead) {
    IndexState state = IndexState::kNone;
    if (!store->GetState(&state, error)) return nullptr;
    if (state == IndexState::kNone) {
      *error = store->Describe() + " holds no index";
      return nullptr;
    }
    if (state == IndexState::kForeign) {
      *error = store->Describe() + " holds no index, only " + ForeignTables();
      return nullptr;
    }
  }
  return store;
}

}  // namespace zolv::search

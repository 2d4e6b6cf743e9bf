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
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pattern_match.h"
#include "sql_text_store.h"
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
constexpr int kColumnsPerRow =
    static_cast<int>(sizeof(kTargetColumns) / sizeof(kTargetColumns[0]));

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
  /// Bytes, or NULL when there are none.
  void AddBytesOrNull(const std::optional<std::string>& value) {
    null_.resize(values_.size());
    null_.push_back(!value);
    Add(value.value_or(""), kByteaOid, kBinaryFormat);
  }
  /// Text, or NULL when it is empty.
  void AddTextOrNull(std::string value) {
    null_.resize(values_.size());
    null_.push_back(value.empty());
    Add(std::move(value), kTextOid, kBinaryFormat);
  }
  int count() const { return static_cast<int>(values_.size()); }

  // Pointers into values_: valid until the next Add.
  void Finish() {
    pointers_.clear();
    lengths_.clear();
    null_.resize(values_.size());
    for (std::size_t i = 0; i < values_.size(); ++i) {
      pointers_.push_back(null_[i] ? nullptr : values_[i].c_str());
      lengths_.push_back(static_cast<int>(values_[i].size()));
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
  std::vector<bool> null_;  // sized on need; missing entries are not NULL
  std::vector<Oid> types_;
  std::vector<int> formats_;
  std::vector<const char*> pointers_;
  std::vector<int> lengths_;
};

// The bytes of bytea's hex output ("\\x" and two hexadecimal digits per
// byte), which every connection of this store asks for.
std::string FromByteaText(const std::string& text) {
  std::string bytes;
  const auto digit = [](char c) {
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
  };
  for (std::size_t i = 2; i + 1 < text.size(); i += 2) {
    bytes.push_back(
        static_cast<char>(digit(text[i]) * 16 + digit(text[i + 1])));
  }
  return bytes;
}

// Each row's bytes, every column led by its length so that moving a byte
// from one column to the next changes the sum; rows are summed, so that the
// order they are read in does not matter.
std::string RowBytes() {
  std::string bytes;
  for (const ColumnSpec& column : kTargetColumns) {
    const std::string name = column.name;
    if (!bytes.empty()) bytes += " || ";
    std::string value;
    switch (column.kind) {
      case ColumnKind::kKey:
        value = "int8send(" + name + ")";
        break;
      case ColumnKind::kText:
        value = "int4send(octet_length(convert_to(" + name +
                ", 'UTF8'))) || convert_to(" + name + ", 'UTF8')";
        break;
      case ColumnKind::kBytes:
        value = "int4send(octet_length(" + name + ")) || " + name;
        break;
    }
    // NULL as a length no value has, so that it neither voids the row's
    // sum nor equals an empty value.
    bytes += column.nullable ? "coalesce(" + value + ", int4send(-1))" : value;
  }
  return bytes;
}

class PostgresTextStore final : public SqlTextStore {
 public:
  explicit PostgresTextStore(Connection connection)
      : SqlTextStore(SqlDialect::kPostgres),
        connection_(std::move(connection)) {}

  bool Insert(const std::vector<TargetRow>& rows, std::string* error) override {
    return InsertWithSettings(rows, {}, error);
  }

  bool InsertWithSettings(const std::vector<TargetRow>& rows,
                          const SettingChanges& settings,
                          std::string* error) override {
    return InTransaction(
        [&] {
          for (std::size_t start = 0; start < rows.size();
               start += kRowsPerStatement) {
            const std::size_t end =
                std::min(rows.size(), start + kRowsPerStatement);
            std::string sql = "INSERT INTO " + targetsTable() + " (" +
                              TargetColumnList() + ") VALUES ";
            Parameters parameters;
            for (std::size_t i = start; i < end; ++i) {
              const TargetRow& row = rows[i];
              const int first = parameters.count() + 1;
              sql += i == start ? "(" : ",(";
              for (int column = 0; column < kColumnsPerRow; ++column) {
                sql += (column == 0 ? "" : ",") +
                       Placeholder(SqlDialect::kPostgres, first + column);
              }
              sql += ")";
              parameters.AddInt8(row.id);
              parameters.AddText(NameColumn(row.name));
              parameters.AddText(row.smiles);
              parameters.AddBytes(row.raw);
              parameters.AddBytes(row.ascii);
              parameters.AddText(row.bits);
              parameters.AddBytesOrNull(NameBytesColumn(row.name));
              parameters.AddTextOrNull(row.data);
            }
            if (!Execute(sql, &parameters, PGRES_COMMAND_OK, error)) {
              return false;
            }
          }
          return WriteSettings(settings, error);
        },
        error);
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
    if (!read) return true;
    std::optional<std::string> complete;
    if (format == kFormatMarker &&
        !ReadSetting(kSettingsTable, kSettingComplete, &complete, error)) {
      return false;
    }
    *state = StateOfMarker(format, complete.has_value());
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
        "SELECT count(*), coalesce(max(id), 0), coalesce(sum(('x' || "
        "substr(md5(" +
            RowBytes() + "), 1, 15))::bit(60)::bigint), 0) FROM " +
            targetsTable(),
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
    Result result = RunPreselect(query, kCandidateColumns, error);
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
    Result result =
        Query("SELECT count(*) FROM " + targetsTable(), nullptr, error);
    if (!result) return false;
    *count = std::strtoll(PQgetvalue(result.get(), 0, 0), nullptr, 10);
    return true;
  }

  bool ForEachTarget(const std::function<bool(const Candidate&)>& visit,
                     std::string* error) override {
    // Row by row, so that a large store is never held whole in memory.
    const std::string sql = std::string("SELECT ") + kCandidateColumns +
                            " FROM " + targetsTable() + " ORDER BY id";
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

  std::string Describe() const override {
    const char* db = PQdb(connection_.get());
    return std::string("PostgreSQL database ") + (db != nullptr ? db : "?");
  }

 protected:
  bool WriteSetting(const std::string& key,
                    const std::optional<std::string>& value,
                    std::string* error) override {
    Parameters parameters;
    parameters.AddText(key);
    std::string sql = "DELETE FROM " + settingsTable() + " WHERE key = $1";
    if (value) {
      parameters.AddText(*value);
      sql = UpsertSettingSql(SqlDialect::kPostgres, settingsTable());
    }
    return Execute(sql, &parameters, PGRES_COMMAND_OK, error);
  }

  bool ReadSetting(const std::string& table, const std::string& key,
                   std::optional<std::string>* value,
                   std::string* error) override {
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

 private:
  Result RunPreselect(const PatternQuery& query, const char* columns,
                      std::string* error) {
    Parameters parameters;
    parameters.AddBytes(LikePatternOf(query.pattern, query.dialect));
    return Query(std::string("SELECT ") + columns + " FROM " + targetsTable() +
                     " WHERE " + TextColumn(query.variant) +
                     " LIKE $1 ESCAPE '' ORDER BY id",
                 &parameters, error);
  }

  // A row of kCandidateColumns, in text format: name_bytes comes as
  // bytea's hexadecimal text.
  static Candidate ReadCandidate(PGresult* result, int row) {
    const auto value = [&](int column) {
      return std::string(
          PQgetvalue(result, row, column),
          static_cast<std::size_t>(PQgetlength(result, row, column)));
    };
    Candidate candidate;
    candidate.id = std::strtoll(PQgetvalue(result, row, 0), nullptr, 10);
    candidate.name =
        PQgetisnull(result, row, 3) ? value(1) : FromByteaText(value(3));
    candidate.smiles = value(2);
    candidate.data = value(4);
    return candidate;
  }

  // A statement without result rows; error may be null.
  bool Command(const std::string& sql, std::string* error) override {
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
  // Names read back as bytea come in the text form ReadCandidate reads,
  // whatever the database's own setting says.
  Result set(PQexec(connection.get(), "SET bytea_output = 'hex'"));
  if (PQresultStatus(set.get()) != PGRES_COMMAND_OK) {
    *error = "PostgreSQL: cannot set bytea_output: " +
             Trimmed(PQerrorMessage(connection.get()));
    return nullptr;
  }
  auto store = std::make_unique<PostgresTextStore>(std::move(connection));
  if (mode == OpenMode::kRead && !CheckReadable(*store, error)) return nullptr;
  return store;
}

}  // namespace zolv::search

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

#include "search/pattern_match.h"
#include "search/text_store.h"

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
    bool exists = false;
    if (!HasIndex(&exists, error)) return false;
    if (exists && !replace) {
      *error = Describe() + " already holds an index";
      return false;
    }
    const std::string sql =
        std::string(
            "BEGIN;"
            "DROP TABLE IF EXISTS ") +
        kTargetsTable + ";DROP TABLE IF EXISTS " + kSettingsTable +
        ";CREATE TABLE " + kTargetsTable +
        " (id bigint PRIMARY KEY, name text NOT NULL, smiles text NOT NULL,"
        " raw bytea NOT NULL, ascii bytea NOT NULL, bits text NOT NULL);"
        "CREATE TABLE " +
        kSettingsTable +
        " (key text PRIMARY KEY, value text NOT NULL);"
        "COMMIT;";
    if (!Command(sql, error)) {
      Command("ROLLBACK", nullptr);
      return false;
    }
    return true;
  }

  bool Insert(const std::vector<TargetRow>& rows, std::string* error) override {
    if (!Command("BEGIN", error)) return false;
    for (std::size_t start = 0; start < rows.size();
         start += kRowsPerStatement) {
      const std::size_t end = std::min(rows.size(), start + kRowsPerStatement);
      std::string sql = std::string("INSERT INTO ") + kTargetsTable +
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
    if (!Command("COMMIT", error)) {
      Command("ROLLBACK", nullptr);
      return false;
    }
    return true;
  }

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
    Result result = Query(std::string("SELECT count(*) FROM ") + kTargetsTable,
                          nullptr, error);
    if (!result) return false;
    *count = std::strtoll(PQgetvalue(result.get(), 0, 0), nullptr, 10);
    return true;
  }

  bool ForEachTarget(const std::function<bool(const Candidate&)>& visit,
                     std::string* error) override {
    // Row by row, so that a large store is never held whole in memory.
    const std::string sql = std::string("SELECT id, name, smiles FROM ") +
                            kTargetsTable + " ORDER BY id";
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
    Parameters parameters;
    parameters.AddText(key);
    parameters.AddText(value);
    return Execute(std::string("INSERT INTO ") + kSettingsTable +
                       " (key, value) VALUES ($1, $2) ON CONFLICT (key) DO "
                       "UPDATE SET value = EXCLUDED.value",
                   &parameters, PGRES_COMMAND_OK, error);
  }

  bool GetSetting(const std::string& key, std::optional<std::string>* value,
                  std::string* error) override {
    Parameters parameters;
    parameters.AddText(key);
    Result result = Query(
        std::string("SELECT value FROM ") + kSettingsTable + " WHERE key = $1",
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

  std::string Describe() const override {
    const char* db = PQdb(connection_.get());
    return std::string("PostgreSQL database ") + (db != nullptr ? db : "?");
  }

  bool HasIndex(bool* exists, std::string* error) {
    Parameters parameters;
    parameters.AddText(kTargetsTable);
    parameters.AddText(kSettingsTable);
    Result result = Query(
        "SELECT to_regclass($1) IS NOT NULL OR to_regclass($2) IS NOT NULL",
        &parameters, error);
    if (!result) return false;
    *exists = PQgetvalue(result.get(), 0, 0)[0] == 't';
    return true;
  }

 private:
  Result RunPreselect(const PatternQuery& query, const char* columns,
                      std::string* error) {
    Parameters parameters;
    parameters.AddBytes(LikePattern(query));
    return Query(std::string("SELECT ") + columns + " FROM " + kTargetsTable +
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
    bool exists = false;
    if (!store->HasIndex(&exists, error)) return nullptr;
    if (!exists) {
      *error = store->Describe() + " holds no index";
      return nullptr;
    }
  }
  return store;
}

}  // namespace zolv::search

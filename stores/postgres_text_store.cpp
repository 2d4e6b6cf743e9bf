// The PostgreSQL store: texts in bytea columns, matched with the server's own
// LIKE on bytea, which compares bytes as they are (no encoding, no case
// folding, NUL bytes included). Two things keep it sound: "ESCAPE ''", since
// LIKE otherwise takes a backslash (a raw screen byte like any other) as its
// escape character; and Access patterns translated to LIKE so that the
// translation matches at least what the pattern does. Every value travels as
// a parameter; no pattern byte is ever put into SQL text.
//
// The index spreads over several servers with PostgreSQL's own means: the
// targets table of the connected database (the coordinator) is partitioned
// by a hash of the id, each partition a postgres_fdw foreign table on a
// shard server (postgres_shards.h), so that every statement of this store
// runs on it unchanged and the shards scan their parts at once
// (async_capable).
#include <libpq-fe.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pattern_match.h"
#include "postgres_connection.h"
#include "postgres_shards.h"
#include "sql_text_store.h"
#include "text_store.h"

namespace zolv::search {
namespace {

// A statement takes at most 65535 parameters; rows go in chunks well below.
constexpr std::size_t kRowsPerStatement = 1000;
// How many of a query's rarest screens the GIN index is asked for. Measured
// on 50,000 ZINC targets: 4 is fastest, 3 to 6 about as fast; fewer let
// more targets through to LIKE, more make GIN read the long posting lists
// of common screens.
constexpr std::size_t kIndexScreens = 4;
// One 64-bit hash per row: the hashes of its columns, each with a seed of
// its own, so that a byte moved from one column to the next changes it.
// Only immutable built-in functions, which postgres_fdw ships to the shards
// (a sharded index sums its rows there), and no text computed on the way:
// postgres_fdw keeps a function of such text home, as its collation might
// differ there. Bytes are hashed as a one-element array, which hashes them
// with bytea's own hash function.
std::string RowHash() {
  std::string hash;
  int seed = 0;
  for (const ColumnSpec& column : kTargetColumns) {
    const std::string name = column.name;
    const std::string with = ", " + std::to_string(seed++) + ")";
    std::string value;
    switch (column.kind) {
      case ColumnKind::kKey:
        value = "hashint8extended(" + name + with;
        break;
      case ColumnKind::kText:
        // A NULL would void the row's hash; in an array it hashes as no
        // text does. (postgres_fdw ships no COALESCE to the shards.)
        value = column.nullable
                    ? "hash_array_extended(ARRAY[" + name + "]" + with
                    : "hashtextextended(" + name + with;
        break;
      case ColumnKind::kBytes:  // NULL included, as for nullable text
        value = "hash_array_extended(ARRAY[" + name + "]" + with;
        break;
      case ColumnKind::kScreens:
        value = "hash_array_extended(" + name + with;
        break;
    }
    if (!hash.empty()) hash += " # ";
    hash += value;
  }
  return hash;
}

// A candidate from a binary result of kCandidateColumns.
Candidate ReadCandidate(const PGresult* result, int row) {
  Candidate candidate;
  candidate.id = BinaryInt8(PQgetvalue(result, row, 0));
  // name_bytes holds the name's bytes when they are not UTF-8.
  candidate.name = PQgetisnull(result, row, 3) ? Value(result, row, 1)
                                               : Value(result, row, 3);
  candidate.smiles = Value(result, row, 2);
  candidate.data = Value(result, row, 4);
  candidate.molecule = Value(result, row, 5);
  return candidate;
}

class PostgresTextStore final : public SqlTextStore {
 public:
  PostgresTextStore(Connection connection, std::vector<std::string> shards)
      : SqlTextStore(SqlDialect::kPostgres),
        connection_(std::move(connection)),
        shards_(connection_, std::move(shards)) {}

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
              for (int column = 0; column < kTargetColumnCount; ++column) {
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
              parameters.AddScreens(row.screens);
              parameters.AddBytes(row.molecule);
            }
            if (!connection_.Execute(sql, &parameters, PGRES_COMMAND_OK,
                                     error)) {
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
    Result result = connection_.Query(
        "SELECT to_regclass($1) IS NOT NULL, to_regclass($2) IS NOT NULL",
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
    Result result = connection_.Query(
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
    // Partition by partition, each branch an aggregate that a shard computes
    // whole: postgres_fdw does not push an aggregate over a partitioned
    // table down, and fetching every row to the coordinator would cost as
    // much as the search it guards. A table without partitions is its own
    // one leaf.
    std::vector<std::string> leaves;
    if (!shards_.Leaves(targetsTable(), &leaves, error)) return false;
    std::string sql =
        "SELECT coalesce(sum(n), 0), coalesce(max(m), 0), coalesce(sum(h), 0) "
        "FROM (";
    for (std::size_t i = 0; i < leaves.size(); ++i) {
      sql += (i == 0 ? "" : " UNION ALL ") +
             std::string("SELECT count(*) AS n, max(id) AS m, sum(") +
             RowHash() + ") AS h FROM " + leaves[i];
    }
    Result result = connection_.Query(sql + ") AS parts", nullptr, error);
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
    Result result = RunPreselect(query, true, error);
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
    Result result = RunPreselect(query, false, error);
    if (!result) return false;
    const int rows = PQntuples(result.get());
    ids->reserve(ids->size() + static_cast<std::size_t>(rows));
    for (int row = 0; row < rows; ++row) {
      ids->push_back(BinaryInt8(PQgetvalue(result.get(), row, 0)));
    }
    return true;
  }

  bool CountTargets(std::int64_t* count, std::string* error) override {
    Result result = connection_.Query("SELECT count(*) FROM " + targetsTable(),
                                      nullptr, error);
    if (!result) return false;
    *count = std::strtoll(PQgetvalue(result.get(), 0, 0), nullptr, 10);
    return true;
  }

  bool ForEachTarget(const std::function<bool(const Candidate&)>& visit,
                     std::string* error) override {
    // Row by row, so that a large store is never held whole in memory.
    const std::string sql = std::string("SELECT ") + kCandidateColumns +
                            " FROM " + targetsTable() + " ORDER BY id";
    if (PQsendQueryParams(connection_.get(), sql.c_str(), 0, nullptr, nullptr,
                          nullptr, nullptr, kBinaryFormat) != 1 ||
        PQsetSingleRowMode(connection_.get()) != 1) {
      *error = connection_.Message("cannot read the targets", nullptr);
      connection_.Drain();
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
        *error = connection_.Message("cannot read the targets", result.get());
        ok = false;
      }
    }
    return ok;
  }

  bool CreateSchema(bool replace, std::string* error) override {
    std::vector<RemoteTable> dropped;
    return shards_.RemoteTables(kTargetsTable, &dropped, error) &&
           shards_.Tidied(SqlTextStore::CreateSchema(replace, error), dropped);
  }

  bool CreateTables(bool beside, const SettingChanges& settings,
                    std::string* error) override {
    // Tables an earlier attempt left beside the index are dropped first.
    std::vector<RemoteTable> dropped;
    return (!beside || shards_.RemoteTables(kBesideTargets, &dropped, error)) &&
           shards_.Tidied(SqlTextStore::CreateTables(beside, settings, error),
                          dropped);
  }

  bool SwapIn(const SettingChanges& settings, std::string* error) override {
    shards_.ForgetReplaced();
    if (!SqlTextStore::SwapIn(settings, error)) return false;
    // The shard tables of the index just dropped, now that no table of the
    // coordinator reaches them any more.
    shards_.DropReplaced();
    return true;
  }

  std::vector<std::string> TakeWarnings() override {
    return shards_.TakeWarnings();
  }

  std::string Describe() const override { return connection_.Describe(); }

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
    return connection_.Execute(sql, &parameters, PGRES_COMMAND_OK, error);
  }

  bool ReadSetting(const std::string& table, const std::string& key,
                   std::optional<std::string>* value,
                   std::string* error) override {
    Parameters parameters;
    parameters.AddText(key);
    Result result = connection_.Query(
        "SELECT value FROM " + table + " WHERE key = $1", &parameters, error);
    if (!result) return false;
    if (PQntuples(result.get()) == 0) {
      value->reset();
    } else {
      *value = Value(result.get(), 0, 0);
    }
    return true;
  }

  void TablesChanged() override {
    // Statements prepared for the old tables would read them still.
    if (!prepared_.empty()) Command("DEALLOCATE ALL", nullptr);
    prepared_.clear();
  }

  bool MakeTargets(const std::string& targets, std::string* error) override {
    if (!shards_.spread()) return SqlTextStore::MakeTargets(targets, error);
    return shards_.MakeTargets(targets, error);
  }

  bool DropIndexTables(std::string* error) override {
    return shards_.NoteReplaced(kTargetsTable, error) &&
           SqlTextStore::DropIndexTables(error) &&
           shards_.DropUnusedServers(error);
  }

  bool RenameBesideTables(std::string* error) override {
    // The partitions keep their names through the rename of their table;
    // they follow it, so that the next index built beside can use theirs.
    std::vector<std::string> partitions;
    if (!shards_.Partitions(targetsTable(), &partitions, error)) return false;
    if (!SqlTextStore::RenameBesideTables(error)) return false;
    for (const std::string& partition : partitions) {
      const std::string renamed =
          kTargetsTable + partition.substr(targetsTable().size());
      if (!Command("ALTER TABLE " + partition + " RENAME TO " + renamed,
                   error)) {
        return false;
      }
    }
    return true;
  }

 private:
  // The preselection of a form of query, prepared on the first query of
  // that form and run by name from then on.
  Result RunPreselect(const PatternQuery& query, bool whole,
                      std::string* error) {
    const bool indexed = !query.screens.empty();
    const std::string name = std::string("zolv_preselect_") +
                             (whole ? "w" : "i") + (indexed ? "x" : "s") +
                             VariantName(query.variant);
    if (std::find(prepared_.begin(), prepared_.end(), name) ==
        prepared_.end()) {
      // Planned again for each query's own screens and pattern: a plan
      // made once for any screens reads the index even for screens that
      // nearly every target holds, where a scan is faster.
      if (indexed &&
          !Command("SET plan_cache_mode = force_custom_plan", error)) {
        return nullptr;
      }
      std::string sql = std::string("SELECT ") +
                        (whole ? kCandidateColumns : "id") + " FROM " +
                        targetsTable() + " WHERE ";
      if (indexed) {
        // Spelled out, so that no operator of the same name (intarray's)
        // takes the place of the one the GIN index serves.
        sql += "screens OPERATOR(pg_catalog.@>) $2::integer[] AND ";
      }
      sql += std::string(TextColumn(query.variant)) +
             " LIKE $1 ESCAPE '' ORDER BY id";
      const Oid types[] = {kByteaOid, kInt4ArrayOid};
      Result made(PQprepare(connection_.get(), name.c_str(), sql.c_str(),
                            indexed ? 2 : 1, types));
      if (PQresultStatus(made.get()) != PGRES_COMMAND_OK) {
        *error =
            connection_.Message("cannot prepare the preselection", made.get());
        return nullptr;
      }
      prepared_.push_back(name);
    }
    const std::string pattern = LikePatternOf(query.pattern, query.dialect);
    const std::vector<std::uint32_t> rarest(
        query.screens.begin(),
        query.screens.begin() + static_cast<std::ptrdiff_t>(std::min(
                                    query.screens.size(), kIndexScreens)));
    const std::string screens = ScreenArray(rarest);
    const char* values[] = {pattern.data(), screens.c_str()};
    const int lengths[] = {static_cast<int>(pattern.size()),
                           static_cast<int>(screens.size())};
    const int formats[] = {kBinaryFormat, kTextFormat};
    Result result(PQexecPrepared(connection_.get(), name.c_str(),
                                 indexed ? 2 : 1, values, lengths, formats,
                                 kBinaryFormat));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) {
      *error = connection_.Message("preselection failed", result.get());
      return nullptr;
    }
    return result;
  }

  bool Command(const std::string& sql, std::string* error) override {
    return connection_.Command(sql, error);
  }

  PostgresConnection connection_;
  PostgresShards shards_;
  std::vector<std::string> prepared_;  // names of the prepared statements
};

}  // namespace

std::unique_ptr<TextStore> OpenPostgresStore(
    const std::string& conninfo, OpenMode mode, std::string* error,
    const std::vector<std::string>& shards) {
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
  auto store =
      std::make_unique<PostgresTextStore>(std::move(connection), shards);
  if (mode == OpenMode::kRead && !CheckReadable(*store, error)) return nullptr;
  return store;
}

}  // namespace zolv::search

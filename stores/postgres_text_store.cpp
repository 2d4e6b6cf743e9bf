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
// shard server, so that every statement of this store runs on it unchanged
// and the shards scan their parts at once (async_capable).
#include <libpq-fe.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "pattern_match.h"
#include "plain_text.h"
#include "sql_text_store.h"
#include "text_store.h"

namespace zolv::search {
namespace {

// Type oids of the parameters, from PostgreSQL's catalog.
constexpr Oid kInt8Oid = 20;
constexpr Oid kTextOid = 25;
constexpr Oid kByteaOid = 17;
constexpr Oid kInt4ArrayOid = 1007;
// Format codes of parameters and results.
constexpr int kTextFormat = 0;
constexpr int kBinaryFormat = 1;
// A statement takes at most 65535 parameters; rows go in chunks well below.
constexpr std::size_t kRowsPerStatement = 1000;
// How many of a query's rarest screens the GIN index is asked for. Measured
// on 50,000 ZINC targets: 4 is fastest, 3 to 6 about as fast; fewer let
// more targets through to LIKE, more make GIN read the long posting lists
// of common screens.
constexpr std::size_t kIndexScreens = 4;
// The options of every shard's foreign server: scans of all shards at once,
// big fetches (a query of common screens returns thousands of rows), and
// inserts through the coordinator in batches as large as ours.
constexpr char kShardServerOptions[] =
    "async_capable 'true', fetch_size '10000', batch_size '1000', "
    "parallel_commit 'true'";

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
  return std::string(TrimWhiteSpace(message != nullptr ? message : ""));
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
  void AddScreens(const std::vector<std::uint32_t>& screens) {
    Add(ScreenArray(screens), kInt4ArrayOid, kTextFormat);
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

// A big-endian integer of a binary result.
std::int64_t BinaryInt8(const char* bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i) {
    value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  }
  return static_cast<std::int64_t>(value);
}

// A value as its bytes, in either format.
std::string Value(const PGresult* result, int row, int column) {
  return std::string(
      PQgetvalue(result, row, column),
      static_cast<std::size_t>(PQgetlength(result, row, column)));
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

// A shard's table as its coordinator reaches it, and how to reach it
// directly to drop it.
struct RemoteTable {
  std::string conninfo;  // libpq connection string
  std::string schema;
  std::string table;
};

// A word of eight hexadecimal digits that names a generation of shard
// tables: two builds (an index and the one replacing it, or two databases
// sharing a shard) never pick the same table.
std::string GenerationName() {
  std::random_device device;
  const std::uint32_t value = device();
  char text[9];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

class PostgresTextStore final : public SqlTextStore {
 public:
  PostgresTextStore(Connection connection, std::vector<std::string> shards)
      : SqlTextStore(SqlDialect::kPostgres),
        connection_(std::move(connection)),
        shards_(std::move(shards)) {}

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
    // Partition by partition, each branch an aggregate that a shard computes
    // whole: postgres_fdw does not push an aggregate over a partitioned
    // table down, and fetching every row to the coordinator would cost as
    // much as the search it guards. A table without partitions is its own
    // one leaf.
    std::vector<std::string> leaves;
    if (!Leaves(targetsTable(), &leaves, error)) return false;
    std::string sql =
        "SELECT coalesce(sum(n), 0), coalesce(max(m), 0), coalesce(sum(h), 0) "
        "FROM (";
    for (std::size_t i = 0; i < leaves.size(); ++i) {
      sql += (i == 0 ? "" : " UNION ALL ") +
             std::string("SELECT count(*) AS n, max(id) AS m, sum(") +
             RowHash() + ") AS h FROM " + leaves[i];
    }
    Result result = Query(sql + ") AS parts", nullptr, error);
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
    if (PQsendQueryParams(connection_.get(), sql.c_str(), 0, nullptr, nullptr,
                          nullptr, nullptr, kBinaryFormat) != 1 ||
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

  bool CreateSchema(bool replace, std::string* error) override {
    std::vector<RemoteTable> dropped;
    return RemoteTables(kTargetsTable, &dropped, error) &&
           Tidied(SqlTextStore::CreateSchema(replace, error), dropped);
  }

  bool CreateTables(bool beside, const SettingChanges& settings,
                    std::string* error) override {
    // Tables an earlier attempt left beside the index are dropped first.
    std::vector<RemoteTable> dropped;
    return (!beside || RemoteTables(kBesideTargets, &dropped, error)) &&
           Tidied(SqlTextStore::CreateTables(beside, settings, error), dropped);
  }

  bool SwapIn(const SettingChanges& settings, std::string* error) override {
    replaced_.clear();
    if (!SqlTextStore::SwapIn(settings, error)) return false;
    // The shard tables of the index just dropped, now that no table of the
    // coordinator reaches them any more.
    for (const RemoteTable& table : replaced_) DropRemote(table);
    replaced_.clear();
    return true;
  }

  std::vector<std::string> TakeWarnings() override {
    return std::exchange(warnings_, {});
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
    if (shards_.empty()) return SqlTextStore::MakeTargets(targets, error);
    return MakeShardedTargets(targets, error);
  }

  bool DropIndexTables(std::string* error) override {
    return RemoteTables(kTargetsTable, &replaced_, error) &&
           SqlTextStore::DropIndexTables(error) && DropUnusedServers(error);
  }

  bool RenameBesideTables(std::string* error) override {
    // The partitions keep their names through the rename of their table;
    // they follow it, so that the next index built beside can use theirs.
    std::vector<std::string> partitions;
    if (!Partitions(targetsTable(), &partitions, error)) return false;
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
  // After an attempt to make tables: when it failed, the shard tables it
  // made are dropped again, since the coordinator's tables that would have
  // reached them were rolled back; when it succeeded, those of the tables
  // it dropped, and their servers.
  bool Tidied(bool made, const std::vector<RemoteTable>& dropped) {
    for (const RemoteTable& table : made ? dropped : made_) DropRemote(table);
    made_.clear();
    std::string ignored;
    if (made && !dropped.empty() && !DropUnusedServers(&ignored)) {
      warnings_.push_back(ignored);
    }
    return made;
  }

  // On every shard a table of the index's columns with its own primary key
  // and GIN index, then on the coordinator the targets table partitioned
  // over them. A partitioned table whose partitions are foreign tables can
  // have no primary key of its own; ids stay unique because the hash of an
  // id sends it to one shard, whose key refuses it twice.
  bool MakeShardedTargets(const std::string& targets, std::string* error) {
    const std::string generation = GenerationName();
    const std::string remote = "zolv_targets_" + generation;
    const std::string count = std::to_string(shards_.size());
    if (!Command("CREATE EXTENSION IF NOT EXISTS postgres_fdw", error) ||
        !Command(CreatePartitionedTargetsSql(targets), error)) {
      return false;
    }
    for (std::size_t k = 0; k < shards_.size(); ++k) {
      const std::string number = std::to_string(k + 1);
      const std::string where = "shard " + number + " of " + count;
      Connection shard(PQconnectdb(shards_[k].c_str()));
      if (!shard || PQstatus(shard.get()) != CONNECTION_OK) {
        *error = Describe() + ": " + where + ": cannot connect: " +
                 (shard ? Trimmed(PQerrorMessage(shard.get())) : "no memory");
        return false;
      }
      PQsetNoticeProcessor(shard.get(), &IgnoreNotice, nullptr);
      RemoteTable table;
      table.conninfo = shards_[k];
      table.table = remote;
      if (!ShardSchema(shard.get(), &table.schema, error) ||
          !OnShard(shard.get(), where,
                   CreateTargetsSql(SqlDialect::kPostgres, remote) +
                       ";COMMENT ON TABLE " + remote + " IS 'zolv index " +
                       where + "'",
                   error)) {
        return false;
      }
      made_.push_back(table);
      const std::string server = "zolv_shard_" + generation + "_" + number;
      if (!Command("CREATE SERVER " + server +
                       " FOREIGN DATA WRAPPER postgres_fdw OPTIONS (" +
                       ServerOptions(shard.get(), shards_[k]) + ", " +
                       kShardServerOptions + ")",
                   error) ||
          !Command("CREATE USER MAPPING FOR CURRENT_USER SERVER " + server +
                       " OPTIONS (" + MappingOptions(shard.get()) + ")",
                   error) ||
          !Command("CREATE FOREIGN TABLE " + targets + "_shard_" + number +
                       " PARTITION OF " + targets +
                       " FOR VALUES WITH (MODULUS " + count + ", REMAINDER " +
                       std::to_string(k) + ") SERVER " + server +
                       " OPTIONS (schema_name " + Literal(table.schema) +
                       ", table_name " + Literal(remote) + ")",
                   error)) {
        return false;
      }
    }
    return true;
  }

  bool ShardSchema(PGconn* shard, std::string* schema, std::string* error) {
    Result result(PQexec(shard, "SELECT current_schema()"));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK ||
        PQgetisnull(result.get(), 0, 0)) {
      *error = Describe() + ": a shard has no schema to make tables in: " +
               Trimmed(PQerrorMessage(shard));
      return false;
    }
    *schema = PQgetvalue(result.get(), 0, 0);
    return true;
  }

  bool OnShard(PGconn* shard, const std::string& where, const std::string& sql,
               std::string* error) {
    Result result(PQexec(shard, sql.c_str()));
    if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
      *error = Describe() + ": " + where + " (" + PQdb(shard) +
               "): " + Trimmed(PQresultErrorMessage(result.get()));
      return false;
    }
    return true;
  }

  // The foreign server's options: where the shard is, as the connection to
  // it found it (so that defaults of this client's environment are spelled
  // out for the coordinator), and every other option of its connection
  // string but the user's, which go to the user mapping.
  std::string ServerOptions(PGconn* shard, const std::string& conninfo) {
    std::vector<std::pair<std::string, std::string>> options = {
        {"host", PQhost(shard)},
        {"port", PQport(shard)},
        {"dbname", PQdb(shard)},
    };
    char* ignored = nullptr;
    PQconninfoOption* given = PQconninfoParse(conninfo.c_str(), &ignored);
    PQfreemem(ignored);
    for (PQconninfoOption* option = given;
         option != nullptr && option->keyword != nullptr; ++option) {
      static constexpr const char* kElsewhere[] = {
          "host", "hostaddr", "port", "dbname", "user", "password"};
      if (option->val == nullptr || *option->val == '\0' ||
          std::any_of(std::begin(kElsewhere), std::end(kElsewhere),
                      [&](const char* name) {
                        return std::strcmp(name, option->keyword) == 0;
                      })) {
        continue;
      }
      options.emplace_back(option->keyword, option->val);
    }
    PQconninfoFree(given);
    std::string text;
    for (const auto& [key, value] : options) {
      if (value.empty()) continue;
      text += (text.empty() ? "" : ", ") + key + " " + Literal(value);
    }
    return text;
  }

  // The user the shard took, and the password when it asked for one:
  // postgres_fdw lets only superusers connect without one.
  std::string MappingOptions(PGconn* shard) {
    std::string text = "user " + Literal(PQuser(shard));
    if (PQconnectionUsedPassword(shard) && PQpass(shard) != nullptr) {
      text += ", password " + Literal(PQpass(shard));
    }
    return text;
  }

  std::string Literal(const std::string& value) {
    char* quoted =
        PQescapeLiteral(connection_.get(), value.c_str(), value.size());
    if (quoted == nullptr) return "''";
    std::string text = quoted;
    PQfreemem(quoted);
    return text;
  }

  // The tables a targets table stores its rows in: itself, or its leaf
  // partitions.
  bool Leaves(const std::string& table, std::vector<std::string>* leaves,
              std::string* error) {
    Parameters parameters;
    parameters.AddText(table);
    Result result = Query(
        "SELECT relid::regclass::text FROM pg_partition_tree($1::regclass) "
        "WHERE isleaf ORDER BY relid::regclass::text",
        &parameters, error);
    if (!result) return false;
    for (int row = 0; row < PQntuples(result.get()); ++row) {
      leaves->push_back(Value(result.get(), row, 0));
    }
    if (leaves->empty()) leaves->push_back(table);
    return true;
  }

  bool Partitions(const std::string& table,
                  std::vector<std::string>* partitions, std::string* error) {
    Parameters parameters;
    parameters.AddText(table);
    Result result = Query(
        "SELECT relid::regclass::text FROM pg_partition_tree(to_regclass($1)) "
        "WHERE parentrelid IS NOT NULL",
        &parameters, error);
    if (!result) return false;
    for (int row = 0; row < PQntuples(result.get()); ++row) {
      partitions->push_back(Value(result.get(), row, 0));
    }
    return true;
  }

  // Where the shard tables of a targets table are, read back from the
  // coordinator's catalog: the foreign server's options and the user
  // mapping's give a connection string.
  bool RemoteTables(const std::string& table, std::vector<RemoteTable>* tables,
                    std::string* error) {
    Parameters parameters;
    parameters.AddText(table);
    Result result = Query(
        "SELECT array_to_string(array_cat(s.srvoptions, m.umoptions), "
        "chr(10)), array_to_string(f.ftoptions, chr(10)) "
        "FROM pg_partition_tree(to_regclass($1)) AS p "
        "JOIN pg_foreign_table AS f ON f.ftrelid = p.relid "
        "JOIN pg_foreign_server AS s ON s.oid = f.ftserver "
        "LEFT JOIN pg_user_mappings AS m ON m.srvid = s.oid "
        "AND m.usename = current_user",
        &parameters, error);
    if (!result) return false;
    for (int row = 0; row < PQntuples(result.get()); ++row) {
      RemoteTable remote;
      for (const std::string& option : Lines(Value(result.get(), row, 0))) {
        const std::size_t equals = option.find('=');
        const std::string key = option.substr(0, equals);
        if (equals == std::string::npos || key == "async_capable" ||
            key == "fetch_size" || key == "batch_size" ||
            key == "parallel_commit") {
          continue;
        }
        remote.conninfo +=
            key + "='" + ConninfoValue(option.substr(equals + 1)) + "' ";
      }
      for (const std::string& option : Lines(Value(result.get(), row, 1))) {
        if (option.rfind("schema_name=", 0) == 0)
          remote.schema = option.substr(12);
        if (option.rfind("table_name=", 0) == 0)
          remote.table = option.substr(11);
      }
      tables->push_back(std::move(remote));
    }
    return true;
  }

  // The foreign servers of zolv's shards that no foreign table uses any
  // more, with their user mappings.
  bool DropUnusedServers(std::string* error) {
    Result result = Query(
        "SELECT srvname FROM pg_foreign_server AS s "
        "WHERE srvname LIKE 'zolv\\_shard\\_%' AND NOT EXISTS "
        "(SELECT FROM pg_foreign_table AS f WHERE f.ftserver = s.oid)",
        nullptr, error);
    if (!result) return false;
    for (int row = 0; row < PQntuples(result.get()); ++row) {
      if (!Command("DROP SERVER " + Value(result.get(), row, 0) + " CASCADE",
                   error)) {
        return false;
      }
    }
    return true;
  }

  // Drops a shard table no index uses, or warns that it is left.
  void DropRemote(const RemoteTable& table) {
    Connection shard(PQconnectdb(table.conninfo.c_str()));
    if (shard && PQstatus(shard.get()) == CONNECTION_OK) {
      PQsetNoticeProcessor(shard.get(), &IgnoreNotice, nullptr);
      char* name = PQescapeIdentifier(shard.get(), table.table.c_str(),
                                      table.table.size());
      char* schema = PQescapeIdentifier(shard.get(), table.schema.c_str(),
                                        table.schema.size());
      const std::string sql = std::string("DROP TABLE IF EXISTS ") +
                              (schema != nullptr ? schema : "") + "." +
                              (name != nullptr ? name : "");
      PQfreemem(name);
      PQfreemem(schema);
      Result result(PQexec(shard.get(), sql.c_str()));
      if (PQresultStatus(result.get()) == PGRES_COMMAND_OK) return;
    }
    warnings_.push_back("the shard table " + table.schema + "." + table.table +
                        " that no index uses any more could not be dropped (" +
                        (shard ? Trimmed(PQerrorMessage(shard.get()))
                               : std::string("no memory")) +
                        "); drop it on its server");
  }

  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
      const std::size_t end = std::min(text.find('\n', start), text.size());
      lines.push_back(text.substr(start, end - start));
      start = end + 1;
    }
    return lines;
  }

  // A value inside '...' of a connection string.
  static std::string ConninfoValue(const std::string& value) {
    std::string quoted;
    for (const char c : value) {
      if (c == '\'' || c == '\\') quoted.push_back('\\');
      quoted.push_back(c);
    }
    return quoted;
  }

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
        *error = Message("cannot prepare the preselection", made.get());
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
      *error = Message("preselection failed", result.get());
      return nullptr;
    }
    return result;
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
    Result result = Run(sql, parameters, kTextFormat);
    if (PQresultStatus(result.get()) != expected) {
      *error = Message("statement failed", result.get());
      return false;
    }
    return true;
  }

  // A statement with result rows; null on failure.
  Result Query(const std::string& sql, Parameters* parameters,
               std::string* error, int format = kTextFormat) {
    Result result = Run(sql, parameters, format);
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) {
      *error = Message("query failed", result.get());
      return nullptr;
    }
    return result;
  }

  Result Run(const std::string& sql, Parameters* parameters, int format) {
    if (parameters == nullptr) {
      return Result(PQexecParams(connection_.get(), sql.c_str(), 0, nullptr,
                                 nullptr, nullptr, nullptr, format));
    }
    parameters->Finish();
    return Result(PQexecParams(connection_.get(), sql.c_str(),
                               parameters->count(), parameters->types(),
                               parameters->values(), parameters->lengths(),
                               parameters->formats(), format));
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
  std::vector<std::string> shards_;    // connection strings, for new tables
  std::vector<std::string> prepared_;  // names of the prepared statements
  std::vector<RemoteTable> made_;      // by the current attempt to make tables
  std::vector<RemoteTable> replaced_;  // of the index being replaced
  std::vector<std::string> warnings_;
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

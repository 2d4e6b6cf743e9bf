// The shards of a PostgreSQL index: each shard server holds a table of the
// index's columns with its own key and GIN index, and the coordinator's
// targets table is partitioned by a hash of the id over postgres_fdw
// foreign tables that reach them. Made when a new index is, found again in
// the coordinator's catalog when one is replaced or dropped, so that no
// shard table or server outlives the index that used it.
#include "postgres_shards.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <random>
#include <utility>

#include "sql_text_store.h"
#include "text_store.h"

namespace zolv::search {
namespace {

// The options of every shard's foreign server: scans of all shards at once,
// big fetches (a query of common screens returns thousands of rows), and
// inserts through the coordinator in batches as large as ours.
constexpr char kShardServerOptions[] =
    "async_capable 'true', fetch_size '10000', batch_size '1000', "
    "parallel_commit 'true'";

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

std::vector<std::string> Lines(const std::string& text) {
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
std::string ConninfoValue(const std::string& value) {
  std::string quoted;
  for (const char c : value) {
    if (c == '\'' || c == '\\') quoted.push_back('\\');
    quoted.push_back(c);
  }
  return quoted;
}

}  // namespace

PostgresShards::PostgresShards(PostgresConnection& coordinator,
                               std::vector<std::string> shards)
    : coordinator_(coordinator), shards_(std::move(shards)) {}

bool PostgresShards::NoteReplaced(const std::string& table,
                                  std::string* error) {
  return RemoteTables(table, &replaced_, error);
}

void PostgresShards::DropReplaced() {
  for (const RemoteTable& table : replaced_) DropRemote(table);
  replaced_.clear();
}

std::vector<std::string> PostgresShards::TakeWarnings() {
  return std::exchange(warnings_, {});
}

// After an attempt to make tables: when it failed, the shard tables it
// made are dropped again, since the coordinator's tables that would have
// reached them were rolled back; when it succeeded, those of the tables
// it dropped, and their servers.
bool PostgresShards::Tidied(bool made,
                            const std::vector<RemoteTable>& dropped) {
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
bool PostgresShards::MakeTargets(const std::string& targets,
                                 std::string* error) {
  const std::string generation = GenerationName();
  const std::string remote = "zolv_targets_" + generation;
  const std::string count = std::to_string(shards_.size());
  if (!coordinator_.Command("CREATE EXTENSION IF NOT EXISTS postgres_fdw",
                            error) ||
      !coordinator_.Command(CreatePartitionedTargetsSql(targets), error)) {
    return false;
  }
  for (std::size_t k = 0; k < shards_.size(); ++k) {
    const std::string number = std::to_string(k + 1);
    const std::string where = "shard " + number + " of " + count;
    Connection shard(PQconnectdb(shards_[k].c_str()));
    if (!shard || PQstatus(shard.get()) != CONNECTION_OK) {
      *error = coordinator_.Describe() + ": " + where + ": cannot connect: " +
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
    if (!coordinator_.Command(
            "CREATE SERVER " + server +
                " FOREIGN DATA WRAPPER postgres_fdw OPTIONS (" +
                ServerOptions(shard.get(), shards_[k]) + ", " +
                kShardServerOptions + ")",
            error) ||
        !coordinator_.Command("CREATE USER MAPPING FOR CURRENT_USER SERVER " +
                                  server + " OPTIONS (" +
                                  MappingOptions(shard.get()) + ")",
                              error) ||
        !coordinator_.Command(
            "CREATE FOREIGN TABLE " + targets + "_shard_" + number +
                " PARTITION OF " + targets + " FOR VALUES WITH (MODULUS " +
                count + ", REMAINDER " + std::to_string(k) + ") SERVER " +
                server + " OPTIONS (schema_name " +
                coordinator_.Literal(table.schema) + ", table_name " +
                coordinator_.Literal(remote) + ")",
            error)) {
      return false;
    }
  }
  return true;
}

bool PostgresShards::ShardSchema(PGconn* shard, std::string* schema,
                                 std::string* error) {
  Result result(PQexec(shard, "SELECT current_schema()"));
  if (PQresultStatus(result.get()) != PGRES_TUPLES_OK ||
      PQgetisnull(result.get(), 0, 0)) {
    *error = coordinator_.Describe() +
             ": a shard has no schema to make tables in: " +
             Trimmed(PQerrorMessage(shard));
    return false;
  }
  *schema = PQgetvalue(result.get(), 0, 0);
  return true;
}

bool PostgresShards::OnShard(PGconn* shard, const std::string& where,
                             const std::string& sql, std::string* error) {
  Result result(PQexec(shard, sql.c_str()));
  if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
    *error = coordinator_.Describe() + ": " + where + " (" + PQdb(shard) +
             "): " + Trimmed(PQresultErrorMessage(result.get()));
    return false;
  }
  return true;
}

// The foreign server's options: where the shard is, as the connection to
// it found it (so that defaults of this client's environment are spelled
// out for the coordinator), and every other option of its connection
// string but the user's, which go to the user mapping.
std::string PostgresShards::ServerOptions(PGconn* shard,
                                          const std::string& conninfo) {
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
    text +=
        (text.empty() ? "" : ", ") + key + " " + coordinator_.Literal(value);
  }
  return text;
}

// The user the shard took, and the password when it asked for one:
// postgres_fdw lets only superusers connect without one.
std::string PostgresShards::MappingOptions(PGconn* shard) {
  std::string text = "user " + coordinator_.Literal(PQuser(shard));
  if (PQconnectionUsedPassword(shard) && PQpass(shard) != nullptr) {
    text += ", password " + coordinator_.Literal(PQpass(shard));
  }
  return text;
}

// The tables a targets table stores its rows in: itself, or its leaf
// partitions.
bool PostgresShards::Leaves(const std::string& table,
                            std::vector<std::string>* leaves,
                            std::string* error) {
  Parameters parameters;
  parameters.AddText(table);
  Result result = coordinator_.Query(
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

bool PostgresShards::Partitions(const std::string& table,
                                std::vector<std::string>* partitions,
                                std::string* error) {
  Parameters parameters;
  parameters.AddText(table);
  Result result = coordinator_.Query(
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
bool PostgresShards::RemoteTables(const std::string& table,
                                  std::vector<RemoteTable>* tables,
                                  std::string* error) {
  Parameters parameters;
  parameters.AddText(table);
  Result result = coordinator_.Query(
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
      if (option.rfind("table_name=", 0) == 0) remote.table = option.substr(11);
    }
    tables->push_back(std::move(remote));
  }
  return true;
}

// The foreign servers of zolv's shards that no foreign table uses any
// more, with their user mappings.
bool PostgresShards::DropUnusedServers(std::string* error) {
  Result result = coordinator_.Query(
      "SELECT srvname FROM pg_foreign_server AS s "
      "WHERE srvname LIKE 'zolv\\_shard\\_%' AND NOT EXISTS "
      "(SELECT FROM pg_foreign_table AS f WHERE f.ftserver = s.oid)",
      nullptr, error);
  if (!result) return false;
  for (int row = 0; row < PQntuples(result.get()); ++row) {
    if (!coordinator_.Command(
            "DROP SERVER " + Value(result.get(), row, 0) + " CASCADE", error)) {
      return false;
    }
  }
  return true;
}

// Drops a shard table no index uses, or warns that it is left.
void PostgresShards::DropRemote(const RemoteTable& table) {
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

}  // namespace zolv::search

// The shard servers of a PostgreSQL index and the coordinator's partitions
// that reach them (postgres_fdw foreign tables): made with a new index,
// read back from the coordinator's catalog, dropped with the index that
// used them. The coordinator's connection stays the store's.
#pragma once

#include <string>
#include <vector>

#include "postgres_connection.h"

namespace zolv::search {

/// A shard's table as its coordinator reaches it, and how to reach it
// directly to drop it.
struct RemoteTable {
  std::string conninfo;  // libpq connection string
  std::string schema;
  std::string table;
};

class PostgresShards {
 public:
  /// shards: libpq connection strings of the servers that the targets
  /// tables made from now on are spread over; none: tables stay whole.
  PostgresShards(PostgresConnection& coordinator,
                 std::vector<std::string> shards);

  /// Whether tables made from now on are spread over shards.
  bool spread() const { return !shards_.empty(); }

  /// Makes the targets table partitioned over the shards, with a table on
  /// each; the shard tables are remembered until Tidied.
  bool MakeTargets(const std::string& targets, std::string* error);

  /// After an attempt to make tables: when it failed, drops the shard
  /// tables it made; when it succeeded, those of dropped and the servers
  /// no table uses any more. made, passed on.
  bool Tidied(bool made, const std::vector<RemoteTable>& dropped);

  /// The shard tables that table's partitions reach, from the catalog.
  bool RemoteTables(const std::string& table, std::vector<RemoteTable>* tables,
                    std::string* error);
  /// Notes the shard tables of an index about to be dropped, for
  /// DropReplaced once no table of the coordinator reaches them.
  bool NoteReplaced(const std::string& table, std::string* error);
  void DropReplaced();
  void ForgetReplaced() { replaced_.clear(); }

  /// Drops the foreign servers of zolv's shards that no table uses.
  bool DropUnusedServers(std::string* error);
  /// Drops a shard table no index uses, or warns that it is left.
  void DropRemote(const RemoteTable& table);

  /// The tables table stores its rows in: itself, or its leaf partitions.
  bool Leaves(const std::string& table, std::vector<std::string>* leaves,
              std::string* error);
  /// table's partitions; none for a table without.
  bool Partitions(const std::string& table,
                  std::vector<std::string>* partitions, std::string* error);

  /// What went wrong without failing (a shard table left), since the last
  /// call.
  std::vector<std::string> TakeWarnings();

 private:
  bool ShardSchema(PGconn* shard, std::string* schema, std::string* error);
  bool OnShard(PGconn* shard, const std::string& where, const std::string& sql,
               std::string* error);
  std::string ServerOptions(PGconn* shard, const std::string& conninfo);
  std::string MappingOptions(PGconn* shard);

  PostgresConnection& coordinator_;
  std::vector<std::string> shards_;    // connection strings, for new tables
  std::vector<RemoteTable> made_;      // by the current attempt to make tables
  std::vector<RemoteTable> replaced_;  // of the index being replaced
  std::vector<std::string> warnings_;
};

}  // namespace zolv::search

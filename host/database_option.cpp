#include "database_option.h"

#include <vector>

namespace zolv::host {

DatabaseName ReadDatabaseName(const ParsedCommandLine& line) {
  DatabaseName name;
  name.postgres = line.Value("postgres");
  const std::vector<std::string> positional = line.Positional();
  if (!positional.empty()) name.sqlitePath = positional[0];
  return name;
}

std::unique_ptr<search::TextStore> OpenDatabase(
    const DatabaseName& name, search::OpenMode mode, std::string* error,
    search::SqliteMatching matching, const std::vector<std::string>& shards) {
  if (name.postgres) {
    if (matching != search::SqliteMatching::kExact) {
      *error = "--builtin is for SQLite databases only";
      return nullptr;
    }
    return search::OpenPostgresStore(*name.postgres, mode, error, shards);
  }
  if (!shards.empty()) {
    *error = "shards are PostgreSQL servers: give --postgres CONNINFO too";
    return nullptr;
  }
  if (name.sqlitePath.empty()) {
    *error = "no database: give a SQLite file DB or --postgres CONNINFO";
    return nullptr;
  }
  return search::OpenSqliteStore(name.sqlitePath, mode, error, matching);
}

bool OpenWriter(const CommandContext& context, const std::string& driverPath,
                const std::string& dictionaryPath, SbiTextWriter* writer) {
  std::string error;
  if (!writer->Open(driverPath, dictionaryPath, &error)) {
    context.Report(error);
    return false;
  }
  return true;
}

bool ReadPatternForm(const CommandContext& context,
                     const ParsedCommandLine& line, WildcardDialect* dialect,
                     search::TextVariant* variant) {
  if (const auto name = line.Value("dialect")) {
    const auto parsed = search::ParseDialect(*name);
    if (!parsed) {
      context.Report("unknown dialect '" + *name + "' (use access or odbc)");
      return false;
    }
    *dialect = *parsed;
  }
  if (const auto name = line.Value("variant")) {
    const auto parsed = search::ParseVariant(*name);
    if (!parsed) {
      context.Report("unknown variant '" + *name + "' (use raw or alphabet)");
      return false;
    }
    *variant = *parsed;
  }
  return true;
}

}  // namespace zolv::host

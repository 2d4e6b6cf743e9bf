// What zolv index, zolv search and zolv pattern share about a database: the
// one a command names, the writer of its texts, and the form of the
// patterns searched in it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "command_context.h"
#include "command_line.h"
#include "sbi_text_writer.h"
#include "text_store.h"

namespace zolv::host {

/// The database a command names: --postgres CONNINFO, or else the SQLite
/// file given as the first positional argument.
struct DatabaseName {
  std::optional<std::string> postgres;  // libpq connection string
  std::string sqlitePath;               // empty: none given
};

/// The database of a command line, read as it is; OpenDatabase says what
/// is missing.
DatabaseName ReadDatabaseName(const ParsedCommandLine& line);

/// Opens the database named. Null with a message. shards (PostgreSQL only)
/// are the servers new tables are spread over.
std::unique_ptr<search::TextStore> OpenDatabase(
    const DatabaseName& name, search::OpenMode mode, std::string* error,
    search::SqliteMatching matching = search::SqliteMatching::kExact,
    const std::vector<std::string>& shards = {});

/// The writer of a command's texts: the driver at driverPath (empty: the
/// one beside zolv) and the dictionary at dictionaryPath (empty:
/// default.vetorb beside the driver). False after a report.
bool OpenWriter(const CommandContext& context, const std::string& driverPath,
                const std::string& dictionaryPath, SbiTextWriter* writer);

/// --dialect access|odbc and --variant raw|alphabet, the form of the
/// patterns searched; each keeps its default when absent. False after a
/// report.
bool ReadPatternForm(const CommandContext& context,
                     const ParsedCommandLine& line, WildcardDialect* dialect,
                     search::TextVariant* variant);

}  // namespace zolv::host

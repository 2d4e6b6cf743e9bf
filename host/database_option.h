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
/// file given as the first positional argument. Null with a message. shards
/// (PostgreSQL only) are the servers new tables are spread over.
std::unique_ptr<search::TextStore> OpenDatabase(
    const ParsedCommandLine& line, search::OpenMode mode, std::string* error,
    search::SqliteMatching matching = search::SqliteMatching::kExact,
    const std::vector<std::string>& shards = {});

/// The writer of a command's texts: the driver of --driver and the
/// dictionary of --dictionary (default: default.vetorb beside the driver).
/// False after a report.
bool OpenWriter(const CommandContext& context, const ParsedCommandLine& line,
                SbiTextWriter* writer);

/// --dialect access|odbc and --variant raw|alphabet, the form of the
/// patterns searched; each keeps its default when absent. False after a
/// report.
bool ReadPatternForm(const CommandContext& context,
                     const ParsedCommandLine& line, WildcardDialect* dialect,
                     search::TextVariant* variant);

}  // namespace zolv::host

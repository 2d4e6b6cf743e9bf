// What zolv index, zolv search and zolv pattern share about a database: the
// one a command names, the settings an index keeps beside its targets, and
// the form of the patterns searched in it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "command_context.h"
#include "command_line.h"
#include "text_store.h"

namespace zolv::host {

/// Keys of the settings an index keeps beside its targets.
inline constexpr char kSettingDictionary[] = "dictionary";
inline constexpr char kSettingDictionaryDigest[] = "dictionary_digest";
inline constexpr char kSettingLength[] = "length";
inline constexpr char kSettingBitsLength[] = "bits_length";
inline constexpr char kSettingTargets[] = "targets";
inline constexpr char kSettingCutTargets[] = "cut_targets";

/// The database a command names: --postgres CONNINFO, or else the SQLite
/// file given as the first positional argument. Null with a message.
std::unique_ptr<search::TextStore> OpenDatabase(
    const ParsedCommandLine& line, search::OpenMode mode, std::string* error,
    search::SqliteMatching matching = search::SqliteMatching::kExact);

/// --dialect access|odbc and --variant raw|alphabet, the form of the
/// patterns searched; each keeps its default when absent. False after a
/// report.
bool ReadPatternForm(const CommandContext& context,
                     const ParsedCommandLine& line, WildcardDialect* dialect,
                     search::TextVariant* variant);

}  // namespace zolv::host

// What zolv index, zolv search and zolv pattern share about a database: the
// one a command names, the settings an index keeps beside its targets, and
// the lengths the commands read.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "command_line.h"
#include "text_store.h"

namespace zolv::host {

/// A "length" the driver takes: it converts the value in 32-bit arithmetic.
inline constexpr std::uint32_t kLargestLength = 1u << 30;

/// Keys of the settings an index keeps beside its targets.
inline constexpr char kSettingDictionary[] = "dictionary";
inline constexpr char kSettingDictionaryDigest[] = "dictionary_digest";
inline constexpr char kSettingLength[] = "length";
inline constexpr char kSettingBitsLength[] = "bits_length";
inline constexpr char kSettingTargets[] = "targets";
inline constexpr char kSettingCutTargets[] = "cut_targets";

/// A "length" from the command line: a whole number from 1 to 2^30; none
/// for anything else.
std::optional<std::uint32_t> ParseLengthValue(const std::string& text);

/// The database a command names: --postgres CONNINFO, or else the SQLite
/// file given as the first positional argument. Null with a message.
std::unique_ptr<search::TextStore> OpenDatabase(
    const ParsedCommandLine& line, search::OpenMode mode, std::string* error,
    search::SqliteMatching matching = search::SqliteMatching::kExact);

}  // namespace zolv::host

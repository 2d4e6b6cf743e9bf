// The option string of a write call: key=value pairs such as
// format=SBI object='query' length=64 screenfile="screens.bin".
//
// Unknown keys and unaccepted values are skipped without a message; nothing
// here fails.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "text_buffer.h"
#include "write_options.h"

namespace zolv {

/// The settings of one write. The defaults are what a call without options
/// writes.
struct WriteOptions {
  ScreenMode screenMode = ScreenMode::kTarget;         // "object"
  bool sbi = false;                                    // "format" = "SBI"
  WildcardDialect dialect = WildcardDialect::kAccess;  // "database"
  bool ascii = false;                                  // "ascii"
  std::uint32_t length = 128;  // "length": characters of the record
  TextBuffer screenFile;       // "screenfile": none unless given
};

/// The keys the driver reads.
enum class OptionKey {
  kAscii,
  kDatabase,
  kFormat,
  kObject,
  kLength,
  kScreenFile
};

/// How the driver reads one key: its name and the values it accepts, both
/// in any letter case (no values listed: any text), and whether only the
/// key's first accepted value counts (otherwise the last does).
struct OptionSyntax {
  OptionKey key;
  const char* name;
  std::array<const char*, 2> values;  // null where a key has fewer
  bool firstWins;
};

/// Every key the driver reads, in the order messages name them.
inline constexpr OptionSyntax kOptionSyntax[] = {
    {OptionKey::kAscii, "ascii", {"true", "false"}, false},
    {OptionKey::kDatabase, "database", {"Access", "ODBC"}, true},
    {OptionKey::kFormat, "format", {"SBI", nullptr}, true},
    {OptionKey::kObject, "object", {"target", "query"}, true},
    {OptionKey::kLength, "length", {nullptr, nullptr}, true},
    {OptionKey::kScreenFile, "screenfile", {nullptr, nullptr}, true},
};
inline constexpr std::size_t kOptionKeyCount =
    sizeof(kOptionSyntax) / sizeof(kOptionSyntax[0]);
static_assert(kOptionKeyCount == 6);

/// The syntax of key as the driver matches it; null for a key it skips.
const OptionSyntax* FindOptionKey(const char* key);

/// Which of syntax.values value is, as the driver matches it: its index, 0
/// for any value of a key that lists none, -1 for a value the driver skips.
int AcceptedValue(const OptionSyntax& syntax, const char* value);

/// Reads the next pair at *cursor into key and value (either may be left
/// without text) and moves the cursor past it; false at the end of the text
/// or when *cursor is null.
bool NextOption(const char** cursor, TextBuffer* key, TextBuffer* value);

/// Applies options to the fields. sbi, dialect and ascii are reset first;
/// screenMode, length and screenFile keep what the caller put in them unless
/// an option sets them. A null options text sets nothing else.
void ParseOptions(const char* options, ScreenMode* screenMode, bool* sbi,
                  WildcardDialect* dialect, bool* ascii, std::uint32_t* length,
                  TextBuffer* screenFile);

/// The same, into one record.
void ParseOptions(const char* options, WriteOptions* result);

}  // namespace zolv

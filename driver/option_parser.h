// The option string of a write call: key=value pairs such as
// format=SBI object='query' length=64 screenfile="screens.bin".
//
// Unknown keys and unaccepted values are skipped without a message; nothing
// here fails.
#pragma once

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

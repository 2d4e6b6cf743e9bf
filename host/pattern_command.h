// zolv pattern: prints a query's "SBI" pattern as a literal that SQL can
// take, for searching an index from a program of one's own.
#pragma once

#include <optional>
#include <string>

#include "command_line.h"
#include "write_options.h"

namespace zolv::host {

/// How zolv pattern prints a pattern's bytes.
enum class PatternForm {
  kSqlite,    // X'...'
  kPostgres,  // '\x...'::bytea
  kHex,       // lowercase hexadecimal digits
  kEscaped,   // as zolv write --encoding escaped
};

std::optional<PatternForm> ParsePatternForm(const std::string& name);

/// The pattern's bytes in the given form. PostgreSQL matches with LIKE, so
/// for it an Access pattern is translated into LIKE's wildcards first.
std::string FormatPattern(const std::string& pattern, WildcardDialect dialect,
                          PatternForm form);

const CommandSpec& PatternCommandSpec();

/// Runs zolv pattern; argv[0] is the command's name. Returns the exit code.
int RunPattern(int argc, char** argv);

}  // namespace zolv::host

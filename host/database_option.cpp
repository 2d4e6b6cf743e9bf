#include "database_option.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace zolv::host {

std::optional<std::uint32_t> ParseLengthValue(const std::string& text) {
  if (text.empty() ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  if (errno != 0 || value == 0 || value > kLargestLength) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

std::unique_ptr<search::TextStore> OpenDatabase(
    const ParsedCommandLine& line, search::OpenMode mode, std::string* error,
    search::SqliteMatching matching) {
  if (const auto conninfo = line.Value("postgres")) {
    if (matching != search::SqliteMatching::kExact) {
      *error = "--builtin is for SQLite databases only";
      return nullptr;
    }
    return search::OpenPostgresStore(*conninfo, mode, error);
  }
  const std::vector<std::string> positional = line.Positional();
  if (positional.empty()) {
    *error = "no database: give a SQLite file DB or --postgres CONNINFO";
    return nullptr;
  }
  return search::OpenSqliteStore(positional[0], mode, error, matching);
}

}  // namespace zolv::host

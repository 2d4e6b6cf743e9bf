// Byte-exact matching of the driver's query patterns against stored target
// texts. Raw texts hold any byte from 0x00 to 0xFF, so the databases' own
// GLOB and LIKE cannot be trusted with them (SQLite's stop at a NUL and read
// UTF-8; LIKE folds letter case); this matcher is what the stores use in
// their place, with the same wildcard rules and every byte compared as it is.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "write_options.h"

namespace zolv::search {

/// A pattern prepared once for many texts.
///
/// Access (the rules of SQLite's GLOB): "*" matches any run of bytes, "?"
/// exactly one byte, "[...]" one byte of a class ("[!...]" one byte outside
/// it; "a-z" a range of byte values; a "]" right after "[" or "[!" is a
/// member). A "[" without a closing "]" stands for itself. The driver never
/// writes "[" into a query pattern, but target texts hold it literally.
///
/// ODBC (SQL LIKE with no escape character): "%" matches any run of bytes,
/// "_" exactly one byte, every other byte itself, letter case included.
///
/// A pattern must match the whole text; the NUL byte is an ordinary byte.
class CompiledPattern {
 public:
  CompiledPattern(std::string_view pattern, WildcardDialect dialect);

  bool Matches(std::string_view text) const;

 private:
  enum class Kind : std::uint8_t { kByte, kAnyByte, kAnyRun, kClass };
  struct Element {
    Kind kind = Kind::kByte;
    std::uint8_t byte = 0;    // kByte: the byte to compare with
    std::uint32_t klass = 0;  // kClass: index into classes_
  };

  bool MatchesOne(const Element& element, std::uint8_t byte) const;

  std::vector<Element> elements_;
  std::vector<std::bitset<256>> classes_;
};

/// Whether pattern, in dialect, matches the whole of text, byte for byte.
bool MatchPattern(std::string_view pattern, std::string_view text,
                  WildcardDialect dialect);

/// An Access pattern as a LIKE pattern (to be used with no escape character)
/// that matches every text the Access pattern matches: "*" becomes "%", "?"
/// and a whole "[...]" class become "_". A literal "%" or "_" of the Access
/// pattern becomes a wildcard there, which only lets more texts through.
std::string AccessPatternToLike(std::string_view pattern);

/// A pattern of dialect as LIKE ... ESCAPE '' is to read it: an ODBC pattern
/// is one already, an Access pattern is translated.
std::string LikePatternOf(std::string_view pattern, WildcardDialect dialect);

}  // namespace zolv::search

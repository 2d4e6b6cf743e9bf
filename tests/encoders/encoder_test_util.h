// Shared helpers of the encoder tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>

#include "screen_set.h"
#include "write_options.h"

namespace zolv::testing {

inline constexpr ScreenMode kTarget = ScreenMode::kTarget;
inline constexpr ScreenMode kQuery = ScreenMode::kQuery;
inline constexpr WildcardDialect kAccess = WildcardDialect::kAccess;
inline constexpr WildcardDialect kOdbc = WildcardDialect::kOdbc;

/// Bytes as space-separated hexadecimal, so that a failure shows control
/// characters and NULs.
inline std::string Hex(const std::string& bytes) {
  std::string out;
  for (unsigned char byte : bytes) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%02X", byte);
    if (!out.empty()) out += ' ';
    out += digits;
  }
  return out;
}

inline void AddAll(ScreenSet* set,
                   std::initializer_list<std::uint32_t> members) {
  for (std::uint32_t member : members) set->Add(member);
}

}  // namespace zolv::testing

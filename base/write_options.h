// The settings of one write, as the option string gives them.
#pragma once

#include <cstdint>

namespace zolv {

/// What is being written: a stored molecule or a search query. One byte.
enum class ScreenMode : std::uint8_t {
  kTarget = 0,
  kQuery = 1,
};

/// The LIKE dialect of a query's "SBI" text. 32-bit.
enum class WildcardDialect : std::int32_t {
  kAccess = 0,
  kOdbc = 1,
};

static_assert(sizeof(ScreenMode) == 1, "ScreenMode is one byte");
static_assert(sizeof(WildcardDialect) == 4, "WildcardDialect is 32-bit");

}  // namespace zolv

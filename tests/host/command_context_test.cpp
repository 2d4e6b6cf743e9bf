#include "command_context.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace zolv::host {
namespace {

TEST(ParseWholeNumber, TakesDigitsWithinTheLimitsOnly) {
  struct Case {
    const char* text;
    std::uint64_t min;
    std::uint64_t max;
    std::optional<std::uint64_t> expected;
  };
  const std::vector<Case> cases = {
      {"0", 0, 10, 0},
      {"10", 0, 10, 10},
      {"11", 0, 10, std::nullopt},
      {"0", 1, 10, std::nullopt},
      {"007", 1, 10, 7},
      {"", 0, 10, std::nullopt},
      {"-1", 0, 10, std::nullopt},
      {"+1", 0, 10, std::nullopt},
      {" 1", 0, 10, std::nullopt},
      {"1e3", 0, 10000, std::nullopt},
      {"1073741824", 1, kLargestLength, kLargestLength},
      {"1073741825", 1, kLargestLength, std::nullopt},
      // One past the largest 64-bit number does not wrap round to 0.
      {"18446744073709551616", 0, UINT64_MAX, std::nullopt},
      {"18446744073709551615", 0, UINT64_MAX, UINT64_MAX},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseWholeNumber(c.text, c.min, c.max), c.expected) << c.text;
  }
}

}  // namespace
}  // namespace zolv::host

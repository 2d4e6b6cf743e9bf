// Writing "SBI" text that the character budget did not cut. A target text cut
// short loses screens or formula symbols, and a query that needs them then
// misses that target; a query pattern cut short only matches more.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace zolv::search {

/// Writes one text with the given "length"; false when it cannot.
using BudgetedWriter =
    std::function<bool(std::uint32_t length, std::string* text)>;

/// A text and what its budget did to it.
struct BudgetedText {
  std::string text;
  /// The budget it was written with.
  std::uint32_t length = 0;
  /// Whether the budget cut it: a larger budget writes more.
  bool cut = false;
};

/// The most budget WriteWholeText tries before it gives up on a whole text.
inline constexpr std::uint32_t kMaxTextLength = 1u << 20;

/// Whether a text written with length can have been cut. The writer spends
/// the budget one character at a time and ends a cut text with a separator
/// when fewer than five characters remain (a bracketed special character
/// needs five), so a text shorter than length - 4 is certainly whole.
bool MayBeCut(const std::string& text, std::uint32_t length);

/// Writes with length, doubling it while the text may be cut, and returns
/// the whole text. The result is marked cut only when even kMaxTextLength
/// did not hold it.
bool WriteWholeText(const BudgetedWriter& write, std::uint32_t length,
                    BudgetedText* result);

/// Writes with exactly length and tells whether that cut the text, by
/// writing it again with larger budgets when it may be cut.
bool WriteWithLength(const BudgetedWriter& write, std::uint32_t length,
                     BudgetedText* result);

}  // namespace zolv::search

// The screen part of "SBI" text: one character per screen, as a plain run for
// a stored molecule (target) or as a LIKE pattern for a query.
//
// Every character takes one from the character budget, which the screen part
// and the formula fragment of one write share. Once it is spent nothing more
// is written, and a text cut short by it ends with the dialect's any-string
// wildcard (the separator) wherever PutPatternChar did the cutting.
#pragma once

#include <cstdint>

#include "core_api.h"
#include "screen_set.h"
#include "write_options.h"

namespace zolv {

/// The budget a bracketed special character needs (three places, and room
/// for what follows); with less left, PutPatternChar ends the text on one
/// separator instead.
inline constexpr std::uint32_t kBracketedBudget = 5;

/// The most characters of its budget that a text cut short leaves unused: a
/// special character that finds 4, 3 or 2 left writes one separator and
/// drops the rest. A text shorter than its budget by more was not cut.
inline constexpr std::uint32_t kMostUnusedByCut = kBracketedBudget - 1;

/// The dialect's any-string wildcard: "*" (Access) or "%" (ODBC).
char SeparatorOf(WildcardDialect dialect);

/// Writes one character of "SBI" text under *budget, with the bracketing of
/// special characters, the query's wildcard replacements and the separator
/// that ends a text whose budget runs out.
void PutPatternChar(std::uint8_t character, ScreenMode mode,
                    WildcardDialect dialect, std::uint32_t* budget,
                    Stream* stream);

/// Raw variant: one character (screen number mod 256) per member, largest
/// first; a query puts a separator before each run of consecutive numbers.
void WriteRawScreens(const ScreenSet& set, ScreenMode mode,
                     WildcardDialect dialect, std::uint32_t* budget,
                     Stream* stream);

/// Alphabet variant for a set folded onto 64 positions: one alphabet
/// character per position 1..63, smallest first; a query puts a separator
/// before each run, and a query cut short ends on the separator. Stops once
/// *budget is 0 and never takes it below 0.
void WriteAlphabetScreens(const ScreenSet& folded, ScreenMode mode,
                          WildcardDialect dialect, std::uint32_t* budget,
                          Stream* stream);

}  // namespace zolv

// The "0"/"1" bit-string text of a screen set, and the fold that maps high
// screen numbers back onto a fixed number of positions.
#pragma once

#include <cstdint>

#include "core_api.h"
#include "screen_set.h"

namespace zolv {

/// Adds every member m >= 1 of source to destination at position
/// ((m - 1) mod width) + 1; member 0 is left out. A width of 0 adds nothing.
void FoldScreens(const ScreenSet& source, ScreenSet* destination,
                 std::uint32_t width);

/// Writes positions 1..length of set as "1" (member) or "0", one PutChar per
/// position; nothing else.
void WriteBitString(const ScreenSet& set, std::uint32_t length, Stream* stream);

/// The bit-string text of perceived: folded onto length positions (into
/// folded, which must be empty) when its largest member exceeds length,
/// otherwise written as it is.
void WriteBitStringEncoding(const ScreenSet& perceived, ScreenSet* folded,
                            std::uint32_t length, Stream* stream);

}  // namespace zolv

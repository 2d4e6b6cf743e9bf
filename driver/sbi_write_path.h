// The "SBI" encoding: the screen part and the formula fragment of one record
// under one character budget.
#pragma once

#include <cstdint>

#include "core_api.h"
#include "screen_set.h"
#include "write_options.h"

namespace zolv {

/// Writes the SBI text of object; folded must be empty and receives the fold
/// to 64 positions in the alphabet variant. length is the character budget.
void WriteSbiText(HostObject* object, const ScreenSet& perceived,
                  ScreenSet* folded, ScreenMode screenMode,
                  WildcardDialect dialect, bool ascii, std::uint32_t* length,
                  Stream* stream);

}  // namespace zolv

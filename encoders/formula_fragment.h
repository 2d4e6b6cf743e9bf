// The element part that closes every "SBI" text: the formula's symbols other
// than carbon and hydrogen (and its isotopes), each repeated by its count.
#pragma once

#include <cstdint>

#include "core_api.h"
#include "write_options.h"

namespace zolv {

/// Appends the formula fragment of molecule under *budget: each symbol at most
/// five times, every character moved up by characterOffset (mod 256); a query
/// puts a separator before each element and one after the last.
void WriteFormulaFragment(HostObject* molecule, ScreenMode mode,
                          WildcardDialect dialect, std::uint32_t* budget,
                          Stream* stream, std::uint8_t characterOffset);

}  // namespace zolv

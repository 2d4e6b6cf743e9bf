// The periodic table by symbol: exact, case-sensitive symbols H to Og.
#pragma once

#include <string_view>

namespace zolv::rdcore {

/// Number of elements known, atomic numbers 1 to kElementCount.
inline constexpr int kElementCount = 118;

/// Atomic number of an element symbol; 0 for any other text.
int AtomicNumberOf(std::string_view symbol);

/// Symbol of an atomic number from 1 to kElementCount; empty otherwise.
std::string_view ElementSymbol(int atomicNumber);

}  // namespace zolv::rdcore

// The periodic table by symbol, exact and case-sensitive, H to Og: what every
// core library answers ZolvAtomicSymbolToNumber with and writes formulas in,
// the RDKit-backed one and the tests' fake alike.
#pragma once

#include <array>
#include <string_view>

namespace zolv {

/// Number of elements known, atomic numbers 1 to kElementCount.
inline constexpr int kElementCount = 118;

/// Element symbol by atomic number; entry 0 stands for no element.
inline constexpr std::array<std::string_view, kElementCount + 1>
    kElementSymbols = {
        "",   "H",  "He", "Li", "Be", "B",  "C",  "N",  "O",  "F",  "Ne", "Na",
        "Mg", "Al", "Si", "P",  "S",  "Cl", "Ar", "K",  "Ca", "Sc", "Ti", "V",
        "Cr", "Mn", "Fe", "Co", "Ni", "Cu", "Zn", "Ga", "Ge", "As", "Se", "Br",
        "Kr", "Rb", "Sr", "Y",  "Zr", "Nb", "Mo", "Tc", "Ru", "Rh", "Pd", "Ag",
        "Cd", "In", "Sn", "Sb", "Te", "I",  "Xe", "Cs", "Ba", "La", "Ce", "Pr",
        "Nd", "Pm", "Sm", "Eu", "Gd", "Tb", "Dy", "Ho", "Er", "Tm", "Yb", "Lu",
        "Hf", "Ta", "W",  "Re", "Os", "Ir", "Pt", "Au", "Hg", "Tl", "Pb", "Bi",
        "Po", "At", "Rn", "Fr", "Ra", "Ac", "Th", "Pa", "U",  "Np", "Pu", "Am",
        "Cm", "Bk", "Cf", "Es", "Fm", "Md", "No", "Lr", "Rf", "Db", "Sg", "Bh",
        "Hs", "Mt", "Ds", "Rg", "Cn", "Nh", "Fl", "Mc", "Lv", "Ts", "Og"};
static_assert(kElementSymbols.size() == 119,
              "one symbol per element plus entry 0");
static_assert(kElementSymbols[6] == "C" && kElementSymbols[118] == "Og",
              "symbols are indexed by atomic number");

/// Atomic number of an element symbol; 0 for any other text.
constexpr int AtomicNumberOf(std::string_view symbol) {
  // Symbols are one upper-case letter and at most one lower-case letter, so
  // anything longer is refused before the table is searched.
  if (symbol.empty() || symbol.size() > 2) return 0;
  for (int number = 1; number <= kElementCount; ++number) {
    if (kElementSymbols[number] == symbol) return number;
  }
  return 0;
}

/// Symbol of an atomic number from 1 to kElementCount; empty otherwise.
constexpr std::string_view ElementSymbol(int atomicNumber) {
  if (atomicNumber < 1 || atomicNumber > kElementCount) return {};
  return kElementSymbols[atomicNumber];
}

}  // namespace zolv

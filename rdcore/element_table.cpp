#include "element_table.h"

#include <array>

namespace zolv::rdcore {
namespace {

// Element symbol by atomic number; entry 0 stands for no element.
constexpr std::array<std::string_view, kElementCount + 1> kSymbols = {
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
static_assert(kSymbols.size() == 119, "one symbol per element plus entry 0");
static_assert(kSymbols[6] == "C" && kSymbols[118] == "Og",
              "symbols are indexed by atomic number");

}  // namespace

int AtomicNumberOf(std::string_view symbol) {
  // Symbols are one upper-case letter and at most one lower-case letter, so
  // anything else is refused before the table is searched.
  if (symbol.empty() || symbol.size() > 2) return 0;
  for (int number = 1; number <= kElementCount; ++number) {
    if (kSymbols[number] == symbol) return number;
  }
  return 0;
}

std::string_view ElementSymbol(int atomicNumber) {
  if (atomicNumber < 1 || atomicNumber > kElementCount) return {};
  return kSymbols[atomicNumber];
}

}  // namespace zolv::rdcore

// Screens of the kinds a screen dictionary holds, as stored SMARTS: elements,
// atom types, bond pairs, rings and functional groups, a few with the
// hazards of query mode (hydrogen counts, charges, aliphatic atoms, degrees,
// recursive queries).
#pragma once

#include <array>
#include <string_view>

namespace zolv::testing {

inline constexpr std::array<std::string_view, 110> kTypicalScreens = {
    // Elements and atom types.
    "[#5]", "[#6]", "[#7]", "[#8]", "[#9]", "[#14]", "[#15]", "[#16]", "[#17]",
    "[#35]", "[#53]", "[#11,#19]", "c", "n", "o", "s", "C", "N", "O", "S",
    "[Cl,Br,I]", "[F,Cl,Br,I]", "[#7+]", "[#8-]", "[N+](=O)[O-]", "[n+]",
    "[nH]", "[OH]", "[NH2]", "[CH3]", "[CH2]", "[SH]", "[#6;R]", "[#6;!R]",
    "[c;H0]", "[#6;D3]", "[#6;X4]", "[13#6]", "[#6;a]",
    // Bond pairs.
    "[#6]-[#6]", "[#6]=[#6]", "[#6]#[#6]", "[#6]-[#7]", "[#6]=[#7]",
    "[#6]#[#7]", "[#6]-[#8]", "[#6]=[#8]", "[#6]-[#16]", "[#6]=[#16]", "c:c",
    "c:n", "c-c", "cc", "C-Cl", "c-Cl", "c-F", "C-F", "c-Br", "[#7]-[#8]",
    "[#7]=[#8]", "[#16]=[#8]", "[#15]=[#8]", "[#7]-[#7]", "[#7]=[#7]",
    "[#6]@[#6]", "[#6]!@[#6]", "[#6]~[#7]", "[#6][#8]",
    // Rings.
    "C1CC1", "C1CCC1", "C1CCCC1", "C1CCCCC1", "c1ccccc1", "c1ccncc1", "c1ccoc1",
    "c1ccsc1", "c1cc[nH]c1", "[#6]1~[#6]~[#6]~[#6]~[#6]~[#6]~1", "*1~*~*~*~*~1",
    "[r5]", "[r6]", "c1ccc2ccccc2c1", "[#6]1:[#6]:[#7]:[#6]:[#6]:1",
    // Functional groups.
    "C(=O)O", "C(=O)[OH]", "[#6](=[#8])[#8]", "C(=O)N", "[#6](=[#8])[#7]",
    "S(=O)(=O)", "[#16](=[#8])(=[#8])", "OC(=O)", "NC(=O)N", "C#N",
    "[NX3;H2,H1;!$(NC=O)]", "[$([#6]=[#8])]", "[#6][CX3](=O)[#6]",
    "[OX2]([#6])[#6]", "c[OH]", "[#6]-[#8]-[#6]", "c-[#7]",
    "[#6]=[#6]-[#6]=[#6]", "[#7]-[#6](=[#8])-[#8]",
    // Aliphatic atoms inside pieces, which hold for a query atom with two
    // neighbours through plain bonds.
    "[#6]-C-C-[#6]", "[#6]-C(=[#8])-[#7]", "[#6]-N(-[#6])-[#6]", "C=C",
    "[#6]-O-[#6]", "Cl", "[#6]-C(-[#6])-[#8]", "[#7]-C-C-[#8]"};

}  // namespace zolv::testing

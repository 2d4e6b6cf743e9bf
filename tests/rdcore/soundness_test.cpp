// The two promises that the driver's output rests on, checked on real
// molecules: a screen found for a query occurs in every molecule that
// contains the query, and the prescreen never rules out a screen that occurs.
// RDKit itself is the judge of containment.
#include <GraphMol/MolOps.h>
#include <GraphMol/RDKitBase.h>
#include <GraphMol/SmilesParse/SmartsWrite.h>
#include <GraphMol/SmilesParse/SmilesParse.h>
#include <GraphMol/SmilesParse/SmilesWrite.h>
#include <GraphMol/Substruct/SubstructMatch.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core_handle.h"
#include "dictionary_format.h"
#include "module_directory.h"
#include "perception.h"
#include "rdcore_test_util.h"
#include "typical_screens.h"

namespace zolv::testing {
namespace {

using rdcore::MoleculeRole;
using rdcore::Notation;

struct HazardCase {
  const char* screen;
  const char* query;
  Notation notation;
  bool found;  // whether query mode may report the screen
};

// Each row is a screen that matches the query in RDKit's sense; the ones
// not found are those that some molecule containing the query lacks.
TEST(QueryAtomCheck, FindsOnlyWhatEveryContainingMoleculeHas) {
  constexpr auto kSmiles = Notation::kSmiles;
  constexpr auto kSmarts = Notation::kSmarts;
  const HazardCase cases[] = {
      {"[#6]", "CC", kSmiles, true},
      {"*", "C", kSmiles, true},
      // A query drawn with implicit hydrogens does not demand them: COC
      // contains CO.
      {"[OH]", "CO", kSmiles, false},
      {"[OH]", "C[OH]", kSmiles, false},
      {"[OH]", "[CH3][OH]", kSmarts, true},
      {"[CH3]", "[CH3][OH]", kSmarts, true},
      {"[CH2]", "[CH3][OH]", kSmarts, false},  // no match at all
      {"[#8;H1]", "[#6][#8;H1]", kSmarts, true},
      // An aliphatic query atom may be aromatic in a molecule (biphenyl
      // contains CC; a pyridone contains C=O); an aromatic one stays so.
      {"C", "CC", kSmiles, false},
      {"[#6]-[#6]", "CC", kSmiles, true},
      {"C=O", "C=O", kSmiles, false},
      {"C", "Cc1ccccc1", kSmiles, false},
      {"C=C", "C=C", kSmiles, false},
      // ... unless it has two neighbours (an aromatic atom would then have
      // four) or is a halogen: then it is aliphatic in every molecule.
      {"C=[#8]", "CC=O", kSmiles, true},
      {"C=O", "CC=O", kSmiles, false},  // the oxygen has one neighbour
      {"C", "CCC", kSmiles, true},
      {"C-C", "CCC", kSmiles, false},  // no match on two middle atoms
      {"C-C", "CCCC", kSmiles, true},
      {"C1CC1", "C1CC1", kSmiles, true},
      {"N", "CN(C)C", kSmiles, true},
      {"N", "CN", kSmiles, false},
      {"Cl", "CCl", kSmiles, true},
      {"C-Cl", "ClCCl", kSmiles, true},
      {"C-Cl", "CCl", kSmiles, false},
      {"C", "C=CC", kSmiles, true},
      {"C#[#7]", "CC#N", kSmiles, true},
      {"C", "C[C@@H](O)CC", kSmiles, true},
      // A SMARTS bond may lie on an aromatic one: no guarantee through it.
      {"C", "[#6]-,:[#6]-,:[#6]", kSmarts, false},
      {"[#6]=[#8]", "CC=O", kSmiles, true},
      {"c", "c1ccccc1", kSmiles, true},
      {"c1ccccc1", "C1=CC=CC=C1", kSmiles, true},
      {"c:c", "[#6]:[#6]", kSmarts, true},
      {"C", "[C;H3]", kSmarts, true},
      // Charges: 0 in a query is no demand, anything else is.
      {"[#7+]", "C[N+](C)(C)C", kSmiles, true},
      {"[#7;+0]", "CN", kSmiles, false},
      {"[#8-]", "C[O-]", kSmiles, true},
      {"[#8;+0]", "[#6][#8;+0]", kSmarts, true},
      {"[13#6]", "C[13CH3]", kSmiles, false},  // isotope without charge
      {"[13#6]", "[13#6;+0]", kSmarts, true},
      // Degrees, ring counts, "not in a ring" and recursive queries change.
      {"[#6;D2]", "CCC", kSmiles, false},
      {"[#6;X4]", "CC", kSmiles, false},
      {"[#6;!R]", "CCC", kSmiles, false},
      {"[#6]!@[#6]", "CC", kSmiles, false},
      {"[r6]", "C1CCCCC1", kSmiles, false},
      {"[$([#6]=[#8])]", "CC=O", kSmiles, false},
      {"[#6;R]", "C1CC1", kSmiles, true},
      {"[#6]@[#6]", "C1CC1", kSmiles, true},
      // Atoms that allow several elements, and any-bonds, guarantee nothing.
      {"[#6]", "[C,N]", kSmarts, false},
      {"*", "[C,N]", kSmarts, false},
      {"*", "*", kSmiles, false},
      {"[#6]~[#6]", "C~C", kSmarts, false},
      {"[#6]", "C~C", kSmarts, false},
      {"[#6]", "C~CO", kSmarts, false},
      {"[#8]", "C~CO", kSmarts, true},
      // An implicit SMARTS bond is single or aromatic: fine for screens that
      // accept both, not for those that read the order.
      {"[#6][#6]", "CC", kSmarts, true},
      {"[#6]-[#6]", "CC", kSmarts, false},
      {"[#6]-[#6]", "C-C", kSmarts, true},
  };
  for (const HazardCase& c : cases) {
    auto query = MakeMolecule(c.query, MoleculeRole::kQuery, c.notation);
    ASSERT_NE(query, nullptr);
    ChemistryHandle screen = LoadScreen(c.screen);
    ChemistryHandle target = CopyOf(*query);
    EXPECT_EQ(FoundInQuery(screen.get(), target.get()), c.found)
        << c.screen << " for " << c.query;
  }
}

TEST(QueryAtomCheck, AtomsOfAQueryGuaranteeNothingThroughAnAnyBond) {
  auto query = MakeMolecule("C~CO", MoleculeRole::kQuery, Notation::kSmarts);
  ChemistryHandle target = CopyOf(*query);
  for (std::uint32_t atom : {0u, 1u}) {
    for (std::int32_t code :
         {kPropertyHydrogenCount, kPropertyBondsAndNeighbourhood,
          kPropertyRingsAndAromaticity, kPropertyChargeAndIsotope}) {
      EXPECT_LT(target->AtomAt(atom)->Property(code), -1000) << atom;
    }
  }
  EXPECT_GE(target->AtomAt(2)->Property(kPropertyBondsAndNeighbourhood), 0);
  EXPECT_EQ(target->AtomAt(2)->Property(0), 0);
}

// A molfile query: an atom list (N or O) on a single bond, then an any-bond.
constexpr const char* kListQuery =
    "list query\n  test\n\n"
    "  4  3  0  0  0  0  0  0  0  0999 V2000\n"
    "    0.0000    0.0000    0.0000 C   0  0  0  0  0  0  0  0  0  0  0  0\n"
    "    1.5000    0.0000    0.0000 L   0  0  0  0  0  0  0  0  0  0  0  0\n"
    "    3.0000    0.0000    0.0000 C   0  0  0  0  0  0  0  0  0  0  0  0\n"
    "    4.5000    0.0000    0.0000 Cl  0  0  0  0  0  0  0  0  0  0  0  0\n"
    "  1  2  1  0\n  2  3  1  0\n  3  4  8  0\n"
    "M  ALS   2  2 F N   O   \n"
    "M  END\n";

TEST(QueryAtomCheck, MolfileQueryFeaturesGuaranteeNothing) {
  auto query =
      MakeMolecule(kListQuery, MoleculeRole::kQuery, Notation::kMolBlock);
  ASSERT_NE(query, nullptr);
  ChemistryHandle target = CopyOf(*query);
  const HazardCase cases[] = {
      {"[#6]", "", Notation::kMolBlock, true},     // the first carbon
      {"[#6]-*", "", Notation::kMolBlock, false},  // through the list atom
      {"[#7,#8]", "", Notation::kMolBlock, false},
      {"[#17]", "", Notation::kMolBlock, false},  // on the any-bond
  };
  for (const HazardCase& c : cases) {
    ChemistryHandle screen = LoadScreen(c.screen);
    EXPECT_EQ(FoundInQuery(screen.get(), target.get()), c.found) << c.screen;
  }
  CoreHandle<StringObject> formula;
  ZolvCreateString(formula.Receive());
  ZolvFormula(query.get(), 0, formula.get());
  EXPECT_STREQ(formula->GetText(), "C2Cl");
}

// --- NCI molecules ---------------------------------------------------------

struct NciMolecule {
  std::unique_ptr<rdcore::HostMolecule> host;
  std::unique_ptr<RDKit::ROMol> mol;  // RDKit's own, for the judge
};

std::vector<NciMolecule> ReadNci(std::size_t count) {
  std::vector<NciMolecule> molecules;
  std::ifstream file(kNciMolecules);
  std::string line;
  while (molecules.size() < count && std::getline(file, line)) {
    const std::string smiles = line.substr(0, line.find_first_of(" \t"));
    rdcore::ParsedMolecule parsed =
        rdcore::ParseMolecule(smiles, Notation::kSmiles, MoleculeRole::kTarget);
    std::unique_ptr<RDKit::ROMol> mol;
    try {
      mol.reset(RDKit::SmilesToMol(smiles));
    } catch (...) {
    }
    if (parsed.molecule == nullptr || mol == nullptr) continue;
    molecules.push_back({std::move(parsed.molecule), std::move(mol)});
  }
  return molecules;
}

bool Contains(const RDKit::ROMol& molecule, const RDKit::ROMol& query) {
  RDKit::SubstructMatchParameters parameters;
  parameters.maxMatches = 1;
  return !RDKit::SubstructMatch(molecule, query, parameters).empty();
}

// A connected piece of the molecule: up to size atoms reached breadth first.
std::vector<int> ConnectedAtoms(const RDKit::ROMol& mol, int start,
                                std::size_t size) {
  std::vector<int> atoms{start};
  for (std::size_t next = 0; next < atoms.size() && atoms.size() < size;
       ++next) {
    for (const RDKit::Atom* neighbour :
         mol.atomNeighbors(mol.getAtomWithIdx(atoms[next]))) {
      const int index = static_cast<int>(neighbour->getIdx());
      if (atoms.size() < size &&
          std::find(atoms.begin(), atoms.end(), index) == atoms.end()) {
        atoms.push_back(index);
      }
    }
  }
  return atoms;
}

// SMARTS of a piece in which every atom pins its element, aromaticity, total
// hydrogen count and charge, and every bond its order: what a query drawn
// with all its hydrogens and charges says.
std::string PinnedSmarts(const RDKit::ROMol& mol,
                         const std::vector<int>& atoms) {
  std::vector<std::string> atomSymbols;
  for (const RDKit::Atom* atom : mol.atoms()) {
    std::ostringstream symbol;
    symbol << "[#" << atom->getAtomicNum() << '&'
           << (atom->getIsAromatic() ? 'a' : 'A') << "&H"
           << atom->getTotalNumHs(true) << '&' << std::showpos
           << atom->getFormalCharge() << ']';
    atomSymbols.push_back(symbol.str());
  }
  std::vector<std::string> bondSymbols;
  for (const RDKit::Bond* bond : mol.bonds()) {
    switch (bond->getBondType()) {
      case RDKit::Bond::DOUBLE:
        bondSymbols.push_back("=");
        break;
      case RDKit::Bond::TRIPLE:
        bondSymbols.push_back("#");
        break;
      case RDKit::Bond::AROMATIC:
        bondSymbols.push_back(":");
        break;
      default:
        bondSymbols.push_back("-");
    }
  }
  return RDKit::MolFragmentToSmiles(mol, atoms, nullptr, &atomSymbols,
                                    &bondSymbols, false, false, -1, false);
}

struct Query {
  std::string text;
  Notation notation;
};

// Queries of every kind drawn from a molecule: the molecule itself as a
// SMILES query, and pieces of it as SMILES, as RDKit's SMARTS, and as SMARTS
// that pins hydrogens and charges.
std::vector<Query> QueriesFrom(const RDKit::ROMol& mol, int seed) {
  std::vector<Query> queries;
  queries.push_back({RDKit::MolToSmiles(mol), Notation::kSmiles});
  if (mol.getNumAtoms() < 3) return queries;
  const int start = seed % static_cast<int>(mol.getNumAtoms());
  const std::size_t size = 3 + seed % 6;
  const std::vector<int> atoms = ConnectedAtoms(mol, start, size);
  queries.push_back(
      {RDKit::MolFragmentToSmiles(mol, atoms), Notation::kSmiles});
  queries.push_back(
      {RDKit::MolFragmentToSmarts(mol, atoms), Notation::kSmarts});
  queries.push_back({PinnedSmarts(mol, atoms), Notation::kSmarts});
  return queries;
}

std::unique_ptr<RDKit::ROMol> JudgeMolecule(const Query& query) {
  try {
    return std::unique_ptr<RDKit::ROMol>(query.notation == Notation::kSmarts
                                             ? RDKit::SmartsToMol(query.text)
                                             : RDKit::SmilesToMol(query.text));
  } catch (...) {
    return nullptr;
  }
}

// What the rule that keeps a query atom aliphatic rests on, checked on every
// atom of real molecules: an aromatic atom has two aromatic bonds and at
// most three neighbours, hydrogens included, and is never univalent.
TEST(QueryAtomCheck, AromaticAtomsOfRealMoleculesLeaveRoomForNoTwoOtherBonds) {
  const std::vector<NciMolecule> molecules = ReadNci(5000);
  if (molecules.empty()) GTEST_SKIP() << "no " << kNciMolecules;
  constexpr int kUnivalent[] = {1, 9, 17, 35, 53};
  std::size_t aromatic = 0;
  for (const NciMolecule& molecule : molecules) {
    for (const RDKit::Atom* atom : molecule.mol->atoms()) {
      if (!atom->getIsAromatic()) continue;
      ++aromatic;
      std::size_t aromaticBonds = 0;
      for (const RDKit::Bond* bond : molecule.mol->atomBonds(atom)) {
        if (bond->getBondType() == RDKit::Bond::AROMATIC) ++aromaticBonds;
      }
      const std::string where = RDKit::MolToSmiles(*molecule.mol) + " atom " +
                                std::to_string(atom->getIdx());
      EXPECT_GE(aromaticBonds, 2u) << where;
      EXPECT_LE(atom->getTotalDegree(), 3u) << where;
      EXPECT_EQ(std::count(std::begin(kUnivalent), std::end(kUnivalent),
                           atom->getAtomicNum()),
                0)
          << where;
    }
  }
  EXPECT_GE(aromatic, 10000u);
}

TEST(QueryAtomCheck, FoundScreensOccurInEveryMoleculeContainingTheQuery) {
  std::vector<NciMolecule> molecules = ReadNci(600);
  if (molecules.empty()) GTEST_SKIP() << "no " << kNciMolecules;
  std::vector<ChemistryHandle> screens;
  for (std::string_view text : kTypicalScreens) {
    screens.push_back(LoadScreen(text));
  }
  std::vector<ChemistryHandle> targets;
  for (NciMolecule& molecule : molecules) {
    targets.push_back(CopyOf(*molecule.host));
  }

  std::size_t pairs = 0;
  std::size_t checks = 0;
  std::size_t queryCount = 0;
  for (std::size_t source = 0; source < molecules.size(); source += 15) {
    for (const Query& query :
         QueriesFrom(*molecules[source].mol, static_cast<int>(source))) {
      const auto judge = JudgeMolecule(query);
      const rdcore::ParsedMolecule parsed = rdcore::ParseMolecule(
          query.text, query.notation, MoleculeRole::kQuery);
      if (judge == nullptr || parsed.molecule == nullptr) continue;
      ++queryCount;
      ChemistryHandle queryChemistry = CopyOf(*parsed.molecule);
      std::vector<std::size_t> found;
      for (std::size_t s = 0; s < screens.size(); ++s) {
        if (FoundInQuery(screens[s].get(), queryChemistry.get())) {
          found.push_back(s);
        }
      }
      for (std::size_t m = 0; m < molecules.size(); ++m) {
        if (!Contains(*molecules[m].mol, *judge)) continue;
        ++pairs;
        for (std::size_t s : found) {
          ++checks;
          EXPECT_TRUE(Occurs(screens[s].get(), targets[m].get()))
              << kTypicalScreens[s] << " found for query " << query.text
              << " but absent from " << RDKit::MolToSmiles(*molecules[m].mol);
        }
      }
    }
  }
  std::printf("[ stats    ] %zu queries, %zu containing pairs, %zu checks\n",
              queryCount, pairs, checks);
  // The run must have had substance: a few hundred containing pairs and
  // many found screens to check.
  EXPECT_GE(queryCount, 100u);
  EXPECT_GE(pairs, 300u);
  EXPECT_GE(checks, 3000u);
}

struct PrescreenCase {
  const char* screen;
  const char* molecule;
  bool mayOccur;
};

bool MayOccur(Chemistry* screen, Chemistry* molecule) {
  CoreHandle<Index> screenIndex;
  CoreHandle<Index> moleculeIndex;
  ZolvCreateIndex(screenIndex.Receive());
  ZolvCreateIndex(moleculeIndex.Receive());
  screenIndex->Build(screen);
  moleculeIndex->Build(molecule);
  return screenIndex->MayOccurIn(moleculeIndex.get()) != 0;
}

TEST(Prescreen, RulesOutByWhatThePatternMakesCertain) {
  const PrescreenCase cases[] = {
      {"[#6]-[#6]-[#6]", "CC", false},  // atoms and bonds
      {"[#7]", "CCO", false},           // elements
      {"[#8]~[#8]", "CCO", false},      // element counts
      {"[Cl,Br,I]", "CCO", false},      // element choices
      {"[Cl,Br,I]", "CCBr", true},
      {"[#6]#[#6]", "C=CC=C", false},  // bond orders
      {"[#6]=[#8]", "C=CO", false},    // bond kinds
      {"C1CC1", "c1ccccc1", false},    // smallest ring
      {"C1CC1", "C1CC1C1CCCCC1", true},
      {"C1CCCCC1", "c1ccccc1CC", false},  // aliphatic ring bonds
      {"[r5]", "C1CCCCC1", false},        // ring sizes
      {"o", "c1ccccc1O", false},          // aromatic elements
      {"[OH]", "COC", false},             // hydrogen-bearing elements
      {"[13#6]", "CC", false},            // isotopes
      {"[#8-]", "CO", false},             // charges
      {"[#6]@[#6]", "CCCC", false},       // ring bonds
      // Queries that pin nothing rule out nothing beyond their size.
      {"[!#6]", "CCO", true},
      {"*~*", "CC", true},
      {"[$(C=O)]", "CC", true},
  };
  for (const PrescreenCase& c : cases) {
    auto molecule = MakeMolecule(c.molecule);
    ChemistryHandle target = CopyOf(*molecule);
    ChemistryHandle screen = LoadScreen(c.screen);
    EXPECT_EQ(MayOccur(screen.get(), target.get()), c.mayOccur)
        << c.screen << " in " << c.molecule;
    if (!c.mayOccur) {
      EXPECT_FALSE(Occurs(screen.get(), target.get())) << c.screen;
    }
  }
}

TEST(Prescreen, NeverRulesOutAScreenThatOccurs) {
  std::vector<NciMolecule> molecules = ReadNci(5000);
  if (molecules.empty()) GTEST_SKIP() << "no " << kNciMolecules;
  // Cages and fused systems, where rings are hardest to count.
  for (const char* smiles :
       {"C12C3C4C1C5C2C3C45", "C1C2CC3CC1CC(C2)C3", "C1CC2CCC1C2",
        "C1CC23CCC1(CC2)CC3", "C12C3C1C23", "C1CCC2(CC1)CCCC2",
        "c1cc2ccc3cccc4ccc(c1)c2c34", "C1CCCCCCCCCCCCCCCCC1",
        "C1CC2CC1C1CCCC21", "N12CCC(CC1)CC2"}) {
    rdcore::ParsedMolecule parsed =
        rdcore::ParseMolecule(smiles, Notation::kSmiles, MoleculeRole::kTarget);
    ASSERT_NE(parsed.molecule, nullptr) << smiles;
    molecules.push_back(
        {std::move(parsed.molecule),
         std::unique_ptr<RDKit::ROMol>(RDKit::SmilesToMol(smiles))});
  }
  std::vector<ChemistryHandle> screens;
  for (std::string_view text : kTypicalScreens) {
    screens.push_back(LoadScreen(text));
  }
  std::size_t ruledOut = 0;
  for (const NciMolecule& molecule : molecules) {
    ChemistryHandle target = CopyOf(*molecule.host);
    for (std::size_t s = 0; s < screens.size(); ++s) {
      if (MayOccur(screens[s].get(), target.get())) continue;
      ++ruledOut;
      EXPECT_FALSE(Occurs(screens[s].get(), target.get()))
          << kTypicalScreens[s] << " ruled out for "
          << RDKit::MolToSmiles(*molecule.mol);
    }
  }
  // It must also do its job: rule out a good share of the pairs.
  EXPECT_GT(ruledOut, molecules.size() * screens.size() / 2);
}

// --- The whole pass --------------------------------------------------------

// The driver's perception on this library: a dictionary of the typical
// screens (numbered from 1, without implications) beside this program.
class CorePerception : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    fileName_ = "rdcore_screens_" + std::to_string(getpid()) + ".dat";
    DictionaryContent content;
    for (std::size_t s = 0; s < kTypicalScreens.size(); ++s) {
      content.screens.push_back({static_cast<std::uint16_t>(s + 1),
                                 {},
                                 {},
                                 std::string(kTypicalScreens[s])});
    }
    ASSERT_TRUE(WriteDictionaryFile(Path(), content));
  }

  static void TearDownTestSuite() { std::remove(Path().c_str()); }

  static std::string Path() {
    return std::string(ModuleDirectory().text()) + fileName_;
  }

  static std::set<std::uint32_t> ScreensOf(HostObject& molecule, bool query) {
    ScreenSet found;
    ComputeScreens(&molecule, query ? 1 : 0, &found, fileName_.c_str());
    std::set<std::uint32_t> numbers;
    std::uint32_t number = 0;
    for (std::uint32_t from = 0; found.NextFrom(from, &number);
         from = number + 1) {
      numbers.insert(number);
    }
    return numbers;
  }

  static std::string fileName_;
};

std::string CorePerception::fileName_;

TEST_F(CorePerception, TargetsGetEveryScreenThatOccursDespiteThePrescreen) {
  const std::vector<NciMolecule> molecules = ReadNci(300);
  if (molecules.empty()) GTEST_SKIP() << "no " << kNciMolecules;
  std::vector<ChemistryHandle> screens;
  for (std::string_view text : kTypicalScreens) {
    screens.push_back(LoadScreen(text));
  }
  for (const NciMolecule& molecule : molecules) {
    ChemistryHandle target = CopyOf(*molecule.host);
    std::set<std::uint32_t> expected;
    for (std::size_t s = 0; s < screens.size(); ++s) {
      if (Occurs(screens[s].get(), target.get())) expected.insert(s + 1);
    }
    EXPECT_EQ(ScreensOf(*molecule.host, false), expected)
        << RDKit::MolToSmiles(*molecule.mol);
  }
}

// A molecule written again (as the index writes each molecule three times)
// gets the same screens without a search; another molecule of the same
// structure is searched afresh.
TEST_F(CorePerception, AMoleculeWrittenAgainIsNotSearchedAgain) {
  for (const char* smiles :
       {"CC(=O)Nc1ccc(O)cc1", "c1ccc2[nH]ccc2c1", "C[N+](C)(C)CC(=O)[O-]"}) {
    auto molecule = MakeMolecule(smiles);
    auto twin = MakeMolecule(smiles);
    ASSERT_NE(twin, nullptr);
    const auto searches = [] {
      const rdcore::CoreStatistics counted = rdcore::GetCoreStatistics();
      return counted.graphSearches + counted.substructureSearches;
    };
    for (const bool query : {false, true}) {
      rdcore::ResetCoreStatistics();
      const std::set<std::uint32_t> first = ScreensOf(*molecule, query);
      const std::uint64_t firstSearches = searches();
      EXPECT_GT(firstSearches, 0u) << smiles;
      rdcore::ResetCoreStatistics();
      EXPECT_EQ(ScreensOf(*molecule, query), first) << smiles;
      // Targets ask only whether a screen occurs, which is remembered;
      // queries enumerate matches, which are searched again.
      EXPECT_EQ(searches(), query ? firstSearches : 0u) << smiles;
      EXPECT_GT(rdcore::GetCoreStatistics().targetsSet, 0u);
      rdcore::ResetCoreStatistics();
      EXPECT_EQ(ScreensOf(*twin, query), first) << smiles;
      EXPECT_EQ(searches(), firstSearches) << smiles;
    }
  }
}

TEST_F(CorePerception,
       QueryScreensAreAmongTheScreensOfEveryContainingMolecule) {
  const std::vector<NciMolecule> molecules = ReadNci(300);
  if (molecules.empty()) GTEST_SKIP() << "no " << kNciMolecules;
  std::vector<std::set<std::uint32_t>> targetScreens;
  for (const NciMolecule& molecule : molecules) {
    targetScreens.push_back(ScreensOf(*molecule.host, false));
  }
  std::size_t pairs = 0;
  std::size_t queryScreens = 0;
  for (std::size_t source = 0; source < molecules.size(); source += 20) {
    for (const Query& query :
         QueriesFrom(*molecules[source].mol, static_cast<int>(source) + 7)) {
      const auto judge = JudgeMolecule(query);
      rdcore::ParsedMolecule parsed = rdcore::ParseMolecule(
          query.text, query.notation, MoleculeRole::kQuery);
      if (judge == nullptr || parsed.molecule == nullptr) continue;
      const std::set<std::uint32_t> found = ScreensOf(*parsed.molecule, true);
      queryScreens += found.size();
      for (std::size_t m = 0; m < molecules.size(); ++m) {
        if (!Contains(*molecules[m].mol, *judge)) continue;
        ++pairs;
        for (std::uint32_t number : found) {
          EXPECT_EQ(targetScreens[m].count(number), 1u)
              << kTypicalScreens[number - 1] << " for query " << query.text
              << " but not for " << RDKit::MolToSmiles(*molecules[m].mol);
        }
      }
    }
  }
  EXPECT_GE(pairs, 200u);
  EXPECT_GE(queryScreens, 200u);
}

}  // namespace
}  // namespace zolv::testing

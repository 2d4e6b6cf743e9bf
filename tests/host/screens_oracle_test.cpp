// The screens that zolv write reports for real molecules, checked against
// RDKit's own substructure match of each screen's SMARTS: an oracle that
// shares nothing with the driver's pruned pass or its prescreen.
#include <GraphMol/SmilesParse/SmilesParse.h>
#include <GraphMol/Substruct/SubstructMatch.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dictionary_format.h"
#include "test_files.h"
#include "zolv_runner.h"

namespace zolv::host {
namespace {

using testing::RunZolv;
using testing::TempDirectory;
using testing::ZolvRun;

// Screens 1..20, no implications: every screen is tested on its own.
const char* const kScreenSmarts[] = {
    "[#6]",
    "[#7]",
    "[#8]",
    "[#16]",
    "[F,Cl,Br,I]",
    "c1ccccc1",
    "[CX3]=[OX1]",
    "[OX2H]",
    "[NX3;H2,H1;!$(NC=O)]",
    "C(=O)[OH]",
    "C(=O)N",
    "[R2]",
    "[r5]",
    "n",
    "[#6]#[#6,#7]",
    "[+,-]",
    "C=C",
    "[CH3]",
    "S(=O)(=O)",
    "[#6]~[#7]~[#6]",
};

const char* const kMolecules[] = {
    "CC(=O)Oc1ccccc1C(=O)O",
    "CN1C=NC2=C1C(=O)N(C(=O)N2C)C",
    "CC(C)Cc1ccc(cc1)C(C)C(=O)O",
    "CC(=O)Nc1ccc(O)cc1",
    "c1ccc2ccccc2c1",
    "Clc1ccccc1",
    "OCC(O)CO",
    "C1CCCCC1",
    "c1ccncc1",
    "O=C(O)c1ccccc1O",
    "CCN(CC)CC",
    "C#N",
    "CC#CC",
    "C=CC=C",
    "c1ccoc1",
    "c1cc[nH]c1",
    "CS(=O)(=O)N",
    "CCS",
    "FC(F)(F)c1ccccc1",
    "BrCCBr",
    "ICI",
    "[NH4+]",
    "CC(=O)[O-].[Na+]",
    "NC(CC(=O)O)C(=O)O",
    "C1CC2CCC1C2",
    "c1ccc2c(c1)[nH]c1ccccc12",
    "O=C1NC(=O)C(N1)=O",
    "CC(C)(C)OC(=O)N",
    "N#Cc1ccccc1",
    "OC1=CC=CC=C1",
    "C1=CC=C2C(=C1)C=CC=C2",
    "O",
    "[Cl-]",
    "CC[N+](C)(C)C",
    "OS(=O)(=O)O",
    "NCCc1c[nH]c2ccccc12",
    "C1COCCN1",
    "CC(=O)C",
    "Nc1ccc(cc1)S(N)(=O)=O",
    "C1CC1C(=O)OC",
};

std::string Expected(
    const RDKit::ROMol& molecule,
    const std::vector<std::unique_ptr<RDKit::ROMol>>& screens) {
  std::string bits(128, '0');
  for (std::size_t i = 0; i < screens.size(); ++i) {
    RDKit::MatchVectType match;
    if (RDKit::SubstructMatch(molecule, *screens[i], match)) bits[i] = '1';
  }
  return bits;
}

class ScreensOracle : public ::testing::Test {
 protected:
  void SetUp() override {
    DictionaryContent content;
    std::uint16_t number = 1;
    for (const char* smarts : kScreenSmarts) {
      content.screens.push_back({number++, {}, {}, smarts});
      screens_.emplace_back(RDKit::SmartsToMol(smarts));
      ASSERT_TRUE(screens_.back()) << smarts;
    }
    ASSERT_TRUE(WriteDictionaryFile(dictionary_, content));
    std::string smi;
    for (const char* smiles : kMolecules) smi += std::string(smiles) + "\n";
    testing::WriteFile(input_, smi);
  }

  std::vector<std::string> WriteLines(const std::string& options) {
    const ZolvRun run =
        RunZolv({"write", "--dictionary", dictionary_, "-o", options, input_});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.Lines().size(), std::size(kMolecules)) << run.err;
    return run.Lines();
  }

  TempDirectory dir_;
  std::string dictionary_ = dir_ / "oracle.vetorb";
  std::string input_ = dir_ / "molecules.smi";
  std::vector<std::unique_ptr<RDKit::ROMol>> screens_;
};

TEST_F(ScreensOracle, TargetScreensAreExactlyTheMatchingSmarts) {
  const std::vector<std::string> lines = WriteLines("object=target");
  ASSERT_EQ(lines.size(), std::size(kMolecules));
  int found = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::unique_ptr<RDKit::ROMol> molecule(RDKit::SmilesToMol(kMolecules[i]));
    ASSERT_TRUE(molecule) << kMolecules[i];
    const std::string expected = Expected(*molecule, screens_);
    EXPECT_EQ(lines[i], expected) << kMolecules[i];
    for (char bit : expected) found += bit == '1';
  }
  // The table is meant to exercise most screens, not to match nothing.
  EXPECT_GT(found, 100);
}

TEST_F(ScreensOracle, QueryScreensAreAmongThoseOfTheMoleculeItself) {
  // A query's screens must be held by every molecule that contains it, and
  // so by the molecule the query was made from.
  const std::vector<std::string> targets = WriteLines("");
  const std::vector<std::string> queries = WriteLines("object=query");
  ASSERT_EQ(targets.size(), queries.size());
  int kept = 0;
  for (std::size_t i = 0; i < queries.size(); ++i) {
    ASSERT_EQ(queries[i].size(), targets[i].size());
    for (std::size_t bit = 0; bit < queries[i].size(); ++bit) {
      if (queries[i][bit] != '1') continue;
      ++kept;
      EXPECT_EQ(targets[i][bit], '1')
          << kMolecules[i] << " as a query claims screen " << bit + 1 << " ("
          << kScreenSmarts[bit] << ")";
    }
  }
  EXPECT_GT(kept, 40);
}

}  // namespace
}  // namespace zolv::host

// rdcore_graph_match_check [--targets N] FILE...: every screen of the
// dictionaries and of the hard list against every molecule of the SMILES
// files ("-" reads standard input; only the first word of a line counts) and
// of the hard molecules' list, as
// molecules and as queries, and every screen as a SMARTS target: prints the
// pairs compared, the differences from RDKit and the time of both searches.
#include "graph_match_check.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace {

using zolv::testing::CheckedStructure;
using zolv::testing::CheckTally;

void Report(const char* what, const CheckTally& tally) {
  const double pairs = tally.pairs > 0 ? static_cast<double>(tally.pairs) : 1;
  std::printf(
      "%-18s pairs %llu, mappings %llu, differences %llu\n"
      "%-18s all mappings: graph %.2f us/pair, RDKit %.2f us/pair (%.1fx)\n"
      "%-18s first match:  graph %.2f us/pair, RDKit %.2f us/pair (%.1fx)\n",
      what, static_cast<unsigned long long>(tally.pairs),
      static_cast<unsigned long long>(tally.matches),
      static_cast<unsigned long long>(tally.differences), "",
      tally.graphSeconds * 1e6 / pairs, tally.rdkitSeconds * 1e6 / pairs,
      tally.rdkitSeconds / (tally.graphSeconds > 0 ? tally.graphSeconds : 1),
      "", tally.graphFirstSeconds * 1e6 / pairs,
      tally.rdkitFirstSeconds * 1e6 / pairs,
      tally.rdkitFirstSeconds /
          (tally.graphFirstSeconds > 0 ? tally.graphFirstSeconds : 1));
  for (const std::string& example : tally.examples) {
    std::printf("  difference: %s\n", example.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t targetLimit = static_cast<std::size_t>(-1);
  std::vector<std::string> smiles;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") {
      std::printf(
          "usage: rdcore_graph_match_check [--targets N] FILE...\n"
          "  compares the graph matcher with RDKit's SubstructMatch on every\n"
          "  screen and every molecule of the SMILES files (- for stdin)\n"
          "  --targets N  read at most N molecules in all\n");
      return 0;
    }
    if (arg == "--targets" && i + 1 < argc) {
      targetLimit = std::strtoull(argv[++i], nullptr, 10);
      continue;
    }
    std::vector<std::string> words;
    if (arg == "-") {
      words = zolv::testing::ReadFirstWords(std::cin);
    } else {
      std::ifstream in(arg);
      if (!in) {
        std::fprintf(stderr, "rdcore_graph_match_check: %s: cannot read\n",
                     arg.c_str());
        return 1;
      }
      words = zolv::testing::ReadFirstWords(in);
    }
    smiles.insert(smiles.end(), words.begin(), words.end());
  }
  if (smiles.size() > targetLimit) smiles.resize(targetLimit);
  // Always the molecules written for the check.
  const std::vector<std::string> hard = zolv::testing::ReadFirstWords(
      std::string(ZOLV_SOURCE_DIR) + "/tests/rdcore/hard_molecules.smi");
  smiles.insert(smiles.end(), hard.begin(), hard.end());

  std::vector<std::string> screens;
  for (const char* list :
       {"data/screen_candidates.txt", "data/default_screens.txt",
        "tests/rdcore/hard_screens.txt"}) {
    auto words = zolv::testing::ReadFirstWords(std::string(ZOLV_SOURCE_DIR) +
                                               "/" + list);
    screens.insert(screens.end(), words.begin(), words.end());
  }
  std::vector<std::unique_ptr<CheckedStructure>> patterns;
  std::vector<std::unique_ptr<CheckedStructure>> smartsTargets;
  std::size_t exact = 0;
  for (const std::string& screen : screens) {
    if (auto checked = zolv::testing::MakeChecked(screen, true)) {
      exact += checked->compiled.exact ? 1 : 0;
      patterns.push_back(std::move(checked));
      smartsTargets.push_back(zolv::testing::MakeChecked(screen, true));
    }
  }
  std::vector<std::unique_ptr<CheckedStructure>> molecules;
  for (const std::string& text : smiles) {
    if (auto checked = zolv::testing::MakeChecked(text, false)) {
      molecules.push_back(std::move(checked));
    }
  }
  std::printf("screens %zu (%zu treated exactly), molecules %zu of %zu\n",
              patterns.size(), exact, molecules.size(), smiles.size());
  CheckTally onMolecules;
  zolv::testing::CompareAll(patterns, molecules, onMolecules);
  Report("molecules:", onMolecules);
  CheckTally onSmarts;
  zolv::testing::CompareAll(patterns, smartsTargets, onSmarts);
  Report("SMARTS targets:", onSmarts);
  return onMolecules.differences + onSmarts.differences == 0 ? 0 : 2;
}

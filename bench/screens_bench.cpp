// What each screen of a dictionary costs and how often it is found: every
// screen's stored structure matched by RDKit against every target, without
// pruning or prescreen, as one test of the pass would run it (first match
// only, mappings not made unique). Sorted by total time, the costliest
// first: the screens worth replacing when writing is slow.
#include <GraphMol/ROMol.h>
#include <GraphMol/Substruct/SubstructMatch.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "bench_driver.h"
#include "bench_table.h"
#include "benchmarks.h"
#include "dictionary_format.h"
#include "rdkit_molecule.h"

namespace zolv::bench {
namespace {

struct ScreenCost {
  std::uint16_t number = 0;
  std::string stored;
  std::unique_ptr<RDKit::ROMol> pattern;
  double seconds = 0;
  std::size_t found = 0;
};

}  // namespace

int RunScreenCosts(const BenchOptions& options) {
  const char* const me = "zolv bench screens";
  std::string error;
  BenchDriver driver;
  if (!driver.Open(options.driverPath, options.dictionaryPath, &error)) {
    std::fprintf(stderr, "%s: %s\n", me, error.c_str());
    return 1;
  }
  const DictionaryFile dictionary = ReadDictionaryFile(driver.dictionaryPath());
  std::vector<ScreenCost> screens;
  for (const DictionaryScreen& screen : dictionary.content.screens) {
    ScreenCost cost;
    cost.number = screen.number;
    cost.stored = screen.stored;
    cost.pattern = std::move(
        rdcore::ReadRdkitMolecule(screen.stored, {rdcore::Notation::kSmarts})
            .molecule);
    if (cost.pattern == nullptr) {
      std::fprintf(stderr, "%s: screen %u: RDKit cannot read '%s'\n", me,
                   screen.number, screen.stored.c_str());
      continue;
    }
    screens.push_back(std::move(cost));
  }
  std::vector<SmilesEntry> entries;
  if (!ReadSmilesFile(options.targetFile, options.targetLimit, &entries, &error,
                      options.maxAtoms)) {
    std::fprintf(stderr, "%s: %s\n", me, error.c_str());
    return 1;
  }
  std::size_t refused = 0;
  const std::vector<BenchMolecule> targets =
      ParseMolecules(entries, rdcore::MoleculeRole::kTarget, &refused);

  RDKit::SubstructMatchParameters parameters;
  parameters.uniquify = false;
  parameters.maxMatches = 1;
  ProgressMeter progress("screens", screens.size(), options.progress);
  double total = 0;
  for (std::size_t s = 0; s < screens.size(); ++s) {
    ScreenCost& screen = screens[s];
    const auto start = std::chrono::steady_clock::now();
    for (const BenchMolecule& target : targets) {
      if (!RDKit::SubstructMatch(*target.rdkit, *screen.pattern, parameters)
               .empty()) {
        ++screen.found;
      }
    }
    screen.seconds = SecondsSince(start);
    total += screen.seconds;
    progress.Step(s);
  }
  progress.Finish();
  std::sort(screens.begin(), screens.end(),
            [](const ScreenCost& a, const ScreenCost& b) {
              return a.seconds > b.seconds;
            });

  const double n =
      static_cast<double>(std::max<std::size_t>(targets.size(), 1));
  std::printf(
      "## Screen costs\n\n"
      "Dictionary %s: %zu screens, each matched by RDKit against %zu targets "
      "of %s without pruning; %.1f µs per target for all screens together."
      "\n\n",
      driver.dictionaryPath().c_str(), screens.size(), targets.size(),
      options.targetFile.c_str(), total / n * 1e6);
  Table table(
      {"screen", "stored structure", "found in", "µs/test", "share of time"});
  for (const ScreenCost& screen : screens) {
    table.AddRow(
        {std::to_string(screen.number), "`" + screen.stored + "`",
         Fixed(static_cast<double>(screen.found) / n * 100, 1) + "%",
         Fixed(screen.seconds / n * 1e6, 2),
         Fixed(total > 0 ? screen.seconds / total * 100 : 0, 1) + "%"});
  }
  table.AlignRightFrom(2);
  table.Print(stdout);
  return 0;
}

}  // namespace zolv::bench

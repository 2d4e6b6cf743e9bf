// What the pruned pass saves: per molecule, how many screens are examined,
// how many of those the prescreen settles, and how many substructure
// searches are left, against one search per screen of the dictionary. The
// counts come from the core library's own counters, read around each write.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_driver.h"
#include "bench_table.h"
#include "benchmarks.h"
#include "rdcore.h"

namespace zolv::bench {
namespace {

// Sums over the molecules of one set, and the largest per molecule.
struct PruningFigures {
  std::string label;
  bool query = false;
  std::size_t molecules = 0;
  std::size_t failures = 0;
  double seconds = 0;
  std::uint64_t examined = 0;  // screens visited: prescreened or tested
  std::uint64_t rejected = 0;  // prescreen answered "cannot occur"
  std::uint64_t tests = 0;     // matcher targets set: one per screen test
  std::uint64_t searches = 0;  // RDKit substructure searches run
  std::uint64_t nextMatches = 0;
  std::uint64_t written = 0;  // screens in the record
  std::uint64_t mostTests = 0;
  std::vector<std::uint64_t> testsPerMolecule;
};

std::uint64_t Ones(const std::string& bits) {
  return static_cast<std::uint64_t>(std::count(bits.begin(), bits.end(), '1'));
}

PruningFigures Measure(BenchDriver& driver, const std::string& label,
                       const std::vector<SmilesEntry>& entries, bool query,
                       bool showProgress) {
  PruningFigures figures;
  figures.label = label;
  figures.query = query;
  std::size_t refused = 0;
  std::vector<BenchMolecule> molecules = ParseMolecules(
      entries,
      query ? rdcore::MoleculeRole::kQuery : rdcore::MoleculeRole::kTarget,
      &refused);
  // Unfolded bit strings: each written screen is one "1".
  const std::string options = driver.Options(
      std::string(query ? "object=query " : "") + "length=" +
      std::to_string(std::max<std::uint32_t>(driver.highestScreen(), 1)));
  ProgressMeter progress(label, molecules.size(), showProgress);
  for (std::size_t i = 0; i < molecules.size(); ++i) {
    rdcore::ResetCoreStatistics();
    const auto start = std::chrono::steady_clock::now();
    const bool written = driver.Write(molecules[i].host.get(), options);
    figures.seconds += SecondsSince(start);
    const rdcore::CoreStatistics counts = rdcore::GetCoreStatistics();
    if (!written) {
      ++figures.failures;
      continue;
    }
    ++figures.molecules;
    // Targets are prescreened: every examined screen is compared once.
    // Queries are not: every examined screen is tested.
    figures.examined += query ? counts.targetsSet : counts.prescreenCalls;
    figures.rejected += counts.prescreenRejections;
    figures.tests += counts.targetsSet;
    figures.searches += counts.substructureSearches;
    figures.nextMatches += counts.nextMatchCalls;
    figures.written += Ones(driver.record());
    figures.mostTests = std::max(figures.mostTests, counts.targetsSet);
    figures.testsPerMolecule.push_back(counts.targetsSet);
    if ((i & 63) == 0) progress.Step(i);
  }
  progress.Finish();
  return figures;
}

}  // namespace

int RunPruning(const BenchOptions& options) {
  std::string error;
  BenchDriver driver;
  if (!driver.Open(options.driverPath, options.dictionaryPath, &error)) {
    std::fprintf(stderr, "zolv bench pruning: %s\n", error.c_str());
    return 1;
  }
  std::vector<PruningFigures> all;
  std::vector<SmilesEntry> targets;
  if (!ReadSmilesFile(options.targetFile, options.targetLimit, &targets, &error,
                      options.maxAtoms)) {
    std::fprintf(stderr, "zolv bench pruning: %s\n", error.c_str());
    return 1;
  }
  all.push_back(Measure(driver, "targets", targets, false, options.progress));
  for (const MoleculeFile& file : options.queryFiles) {
    std::vector<SmilesEntry> queries;
    if (!ReadSmilesFile(file.path, options.queryLimit, &queries, &error,
                        options.maxAtoms)) {
      std::fprintf(stderr, "zolv bench pruning: %s\n", error.c_str());
      return 1;
    }
    all.push_back(Measure(driver, file.label + " (queries)", queries, true,
                          options.progress));
  }

  const double screens = static_cast<double>(driver.screenCount());
  std::printf(
      "## Pruned perception\n\n"
      "Dictionary %s: %zu screens, so an unpruned pass would run %zu "
      "substructure tests per molecule. Targets: the first %zu of %s. Per "
      "molecule, averaged; single thread.\n\n",
      driver.dictionaryPath().c_str(), driver.screenCount(),
      driver.screenCount(), targets.size(), options.targetFile.c_str());
  Table table({"molecules", "n", "screens examined", "prescreen rejections",
               "substructure tests", "median / max tests", "RDKit searches",
               "NextMatch calls", "screens written", "tests saved",
               "saved by prescreen", "µs/molecule"});
  for (PruningFigures& f : all) {
    const double n = static_cast<double>(std::max<std::size_t>(f.molecules, 1));
    std::sort(f.testsPerMolecule.begin(), f.testsPerMolecule.end());
    const std::uint64_t median =
        f.testsPerMolecule.empty()
            ? 0
            : f.testsPerMolecule[f.testsPerMolecule.size() / 2];
    const double tests = static_cast<double>(f.tests) / n;
    const double saved = screens - tests;
    const double byPrescreen = static_cast<double>(f.rejected) / n;
    table.AddRow(
        {f.label, Count(static_cast<std::int64_t>(f.molecules)),
         Fixed(static_cast<double>(f.examined) / n, 1),
         f.query ? "(off)" : Fixed(byPrescreen, 1), Fixed(tests, 1),
         Count(static_cast<std::int64_t>(median)) + " / " +
             Count(static_cast<std::int64_t>(f.mostTests)),
         Fixed(static_cast<double>(f.searches) / n, 1),
         Fixed(static_cast<double>(f.nextMatches) / n, 1),
         Fixed(static_cast<double>(f.written) / n, 1),
         Fixed(screens > 0 ? saved / screens * 100 : 0, 1) + "%",
         f.query ? "-"
                 : Fixed(saved > 0 ? byPrescreen / saved * 100 : 0, 1) + "%",
         Fixed(f.seconds / n * 1e6, 0)});
  }
  table.Print(stdout);
  std::printf(
      "\nscreens examined: visited by the pass (prescreened, for targets); "
      "the rest were settled by an earlier outcome through the implied and "
      "dependent lists. substructure tests: screens tested with a matcher. "
      "tests saved: share of the unpruned tests not run. saved by "
      "prescreen: share of the saving owed to prescreen rejections (the "
      "rest is owed to the lists). Queries written with object=query, "
      "targets as targets; screens written: in the unfolded bit string.\n");
  return 0;
}

}  // namespace zolv::bench

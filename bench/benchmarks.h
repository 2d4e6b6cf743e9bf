// The four benchmarks of the zolv bench command. Each reads its molecules,
// runs its measurements side by side on the same parsed molecules in one
// run, prints Markdown tables on stdout and progress on stderr, and returns
// an exit code.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "bench_data.h"
#include "text_store.h"
#include "write_options.h"

namespace zolv::bench {

struct BenchOptions {
  std::string targetFile;                // SMILES, gzipped or not
  std::vector<MoleculeFile> queryFiles;  // SMILES, each a query set
  std::size_t targetLimit = 10000;       // first targets used; 0: all
  std::size_t queryLimit = 0;            // first queries of each set; 0: all
  std::size_t maxAtoms = host::kDefaultMaxAtoms;  // larger ones left out
  std::string driverPath;                         // the format driver to load
  std::string dictionaryPath;   // empty: default.vetorb beside it
  bool progress = true;         // progress lines on stderr
  int rounds = 3;               // throughput: timed passes per form
  bool fullTruth = false;       // quality: SubstructMatch every pair
  std::size_t jobs = 1;         // quality: threads writing targets
  std::size_t showMissed = 50;  // missed pairs printed at most
  std::string sqlitePath;       // search: SQLite index, or empty
  std::string postgres;         // search: libpq conninfo, or empty
  search::TextVariant variant = search::TextVariant::kRaw;  // search
  WildcardDialect dialect = WildcardDialect::kAccess;       // search
};

/// Exit code when a screen lost a true hit.
inline constexpr int kExitMissedHits = 3;

int RunThroughput(const BenchOptions& options);
int RunPruning(const BenchOptions& options);
int RunQuality(const BenchOptions& options);
int RunSearchTimes(const BenchOptions& options);
int RunScreenCosts(const BenchOptions& options);

}  // namespace zolv::bench

// Search time per query over an index that zolv index wrote, in SQLite
// and in PostgreSQL, against a full RDKit scan of the same targets and
// against RDKit's pattern fingerprint held in memory.
//
// Every method starts from the same parsed targets (read from the index
// once, parsed once, outside every timing). A search's time covers what a
// caller waits for: writing the query's pattern with the driver, the
// database's preselection, and RDKit's confirmation of each candidate. The
// hits of every method are compared with the full scan's.
#include <GraphMol/ROMol.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "bench_driver.h"
#include "bench_table.h"
#include "benchmarks.h"
#include "database_option.h"
#include "sbi_text_writer.h"
#include "whole_text.h"

namespace zolv::bench {
namespace {

constexpr char kMe[] = "zolv bench search";

struct StoreUnderTest {
  std::string name;
  std::unique_ptr<search::TextStore> store;
};

// Times and figures of one method over the queries of one set.
struct MethodFigures {
  explicit MethodFigures(std::string label) : name(std::move(label)) {}

  std::string name;
  std::vector<double> milliseconds;  // per query
  std::vector<double> preselectMilliseconds;
  std::int64_t candidates = 0;
  std::int64_t hits = 0;
  std::int64_t missed = 0;  // full-scan hits not found
};

double Mean(const std::vector<double>& values) {
  double sum = 0;
  for (double v : values) sum += v;
  return values.empty() ? 0 : sum / static_cast<double>(values.size());
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return SecondsSince(start) * 1e3;
}

// Compares hits (target indexes, ascending) with the full scan's.
void Compare(const std::vector<std::size_t>& hits,
             const std::vector<std::size_t>& truth, MethodFigures* figures) {
  std::vector<std::size_t> difference;
  std::set_difference(truth.begin(), truth.end(), hits.begin(), hits.end(),
                      std::back_inserter(difference));
  figures->missed += static_cast<std::int64_t>(difference.size());
  figures->hits += static_cast<std::int64_t>(hits.size());
}

bool ReadTargets(search::TextStore& store,
                 std::vector<search::Candidate>* targets, std::string* error) {
  return store.ForEachTarget(
      [targets](const search::Candidate& target) {
        targets->push_back(target);
        return true;
      },
      error);
}

}  // namespace

int RunSearchTimes(const BenchOptions& options) {
  std::string error;
  std::vector<StoreUnderTest> stores;
  if (!options.sqlitePath.empty()) {
    auto store = search::OpenSqliteStore(options.sqlitePath,
                                         search::OpenMode::kRead, &error);
    if (!store) {
      std::fprintf(stderr, "%s: %s\n", kMe, error.c_str());
      return 1;
    }
    stores.push_back({"SQLite", std::move(store)});
  }
  if (!options.postgres.empty()) {
    auto store = search::OpenPostgresStore(options.postgres,
                                           search::OpenMode::kRead, &error);
    if (!store) {
      std::fprintf(stderr, "%s: %s\n", kMe, error.c_str());
      return 1;
    }
    stores.push_back({"PostgreSQL", std::move(store)});
  }
  if (stores.empty()) {
    std::fprintf(stderr,
                 "%s: give --sqlite FILE, --postgres CONNINFO or "
                 "both\n",
                 kMe);
    return 1;
  }

  BenchDriver driver;
  if (!driver.Open(options.driverPath, options.dictionaryPath, &error)) {
    std::fprintf(stderr, "%s: %s\n", kMe, error.c_str());
    return 1;
  }
  // Patterns from another dictionary than the texts' would miss targets.
  for (StoreUnderTest& tested : stores) {
    std::optional<std::string> digest;
    if (!tested.store->GetSetting(host::kSettingDictionaryDigest, &digest,
                                  &error)) {
      std::fprintf(stderr, "%s: %s: %s\n", kMe, tested.name.c_str(),
                   error.c_str());
      return 1;
    }
    if (digest && *digest != driver.writer().dictionaryDigest()) {
      std::fprintf(stderr,
                   "%s: %s was indexed with another dictionary than %s\n", kMe,
                   tested.name.c_str(), driver.dictionaryPath().c_str());
      return 1;
    }
  }

  // The targets, from the first store; every other must hold the same.
  std::vector<search::Candidate> targets;
  if (!ReadTargets(*stores[0].store, &targets, &error)) {
    std::fprintf(stderr, "%s: %s\n", kMe, error.c_str());
    return 1;
  }
  for (std::size_t s = 1; s < stores.size(); ++s) {
    std::vector<search::Candidate> others;
    if (!ReadTargets(*stores[s].store, &others, &error)) {
      std::fprintf(stderr, "%s: %s\n", kMe, error.c_str());
      return 1;
    }
    bool same = others.size() == targets.size();
    for (std::size_t i = 0; same && i < targets.size(); ++i) {
      same = others[i].id == targets[i].id &&
             others[i].smiles == targets[i].smiles;
    }
    if (!same) {
      std::fprintf(stderr, "%s: %s and %s hold different targets\n", kMe,
                   stores[0].name.c_str(), stores[s].name.c_str());
      return 1;
    }
  }
  std::vector<SmilesEntry> targetEntries;
  targetEntries.reserve(targets.size());
  for (const search::Candidate& target : targets) {
    targetEntries.push_back({target.smiles, target.name, 0});
  }
  const auto parseStart = std::chrono::steady_clock::now();
  // Both parsers run, so that exactly the targets both read are compared;
  // only the RDKit molecules are used here.
  std::size_t refused = 0;
  std::vector<BenchMolecule> molecules =
      ParseMolecules(targetEntries, rdcore::MoleculeRole::kTarget, &refused);
  std::unordered_map<std::int64_t, std::size_t> indexOfId;
  std::vector<Fingerprint> fingerprints;
  fingerprints.reserve(molecules.size());
  for (std::size_t i = 0; i < molecules.size(); ++i) {
    const std::size_t entry =
        static_cast<std::size_t>(molecules[i].entry - targetEntries.data());
    indexOfId.emplace(targets[entry].id, i);
    fingerprints.push_back(PatternFingerprint(*molecules[i].rdkit));
  }
  const double parseSeconds = SecondsSince(parseStart);

  std::printf(
      "## Search time\n\n"
      "%zu targets from the index (%zu refused by a parser), parsed and "
      "fingerprinted once in %.1f s, outside the timings. Patterns: SBI %s, "
      "%s, written whole. Single thread; time per query in ms.\n\n",
      molecules.size(), refused, parseSeconds,
      search::VariantName(options.variant),
      search::DialectName(options.dialect));
  std::fflush(stdout);

  std::int64_t missedTotal = 0;
  for (const MoleculeFile& file : options.queryFiles) {
    std::vector<SmilesEntry> queryEntries;
    if (!ReadSmilesFile(file.path, options.queryLimit, &queryEntries, &error,
                        options.maxAtoms)) {
      std::fprintf(stderr, "%s: %s\n", kMe, error.c_str());
      return 1;
    }
    std::size_t refusedQueries = 0;
    const std::vector<BenchMolecule> queries = ParseMolecules(
        queryEntries, rdcore::MoleculeRole::kQuery, &refusedQueries);

    MethodFigures full{"full RDKit scan (SubstructMatch on every target)"};
    MethodFigures fingerprint{
        "RDKit pattern fingerprint in memory, then SubstructMatch"};
    std::vector<MethodFigures> byStore;
    for (const StoreUnderTest& tested : stores) {
      byStore.emplace_back(tested.name +
                           ": SBI preselection, then SubstructMatch");
    }
    Progress progress(file.label, queries.size(), options.progress);
    for (std::size_t q = 0; q < queries.size(); ++q) {
      const RDKit::ROMol& query = *queries[q].rdkit;

      auto start = std::chrono::steady_clock::now();
      std::vector<std::size_t> truth;
      for (std::size_t t = 0; t < molecules.size(); ++t) {
        if (HasSubstructure(*molecules[t].rdkit, query)) truth.push_back(t);
      }
      full.milliseconds.push_back(MillisecondsSince(start));
      full.candidates += static_cast<std::int64_t>(molecules.size());
      full.hits += static_cast<std::int64_t>(truth.size());

      start = std::chrono::steady_clock::now();
      {
        const Fingerprint queryBits = PatternFingerprint(query);
        std::vector<std::size_t> hits;
        for (std::size_t t = 0; t < molecules.size(); ++t) {
          if (!IsSubset(queryBits, fingerprints[t])) continue;
          ++fingerprint.candidates;
          if (HasSubstructure(*molecules[t].rdkit, query)) hits.push_back(t);
        }
        fingerprint.milliseconds.push_back(MillisecondsSince(start));
        Compare(hits, truth, &fingerprint);
      }

      for (std::size_t s = 0; s < stores.size(); ++s) {
        MethodFigures& figures = byStore[s];
        start = std::chrono::steady_clock::now();
        search::BudgetedText pattern;
        if (!driver.writer().WriteBudgeted(
                queries[q].host.get(), ScreenMode::kQuery, options.variant,
                options.dialect, 0, &pattern, &error)) {
          std::fprintf(stderr, "%s: query %s: %s\n", kMe,
                       queries[q].entry->smiles.c_str(), error.c_str());
          return 1;
        }
        const auto preselectStart = std::chrono::steady_clock::now();
        std::vector<std::int64_t> ids;
        if (!stores[s].store->PreselectIds(
                {pattern.text, options.variant, options.dialect}, &ids,
                &error)) {
          std::fprintf(stderr, "%s: %s: %s\n", kMe, stores[s].name.c_str(),
                       error.c_str());
          return 1;
        }
        figures.preselectMilliseconds.push_back(
            MillisecondsSince(preselectStart));
        std::vector<std::size_t> hits;
        for (const std::int64_t id : ids) {
          const auto found = indexOfId.find(id);
          if (found == indexOfId.end()) continue;  // refused by a parser
          ++figures.candidates;
          if (HasSubstructure(*molecules[found->second].rdkit, query)) {
            hits.push_back(found->second);
          }
        }
        figures.milliseconds.push_back(MillisecondsSince(start));
        std::sort(hits.begin(), hits.end());
        const std::int64_t missedBefore = figures.missed;
        Compare(hits, truth, &figures);
        if (figures.missed > missedBefore) {
          std::fprintf(stderr, "%s: %s missed %lld hits of query %s\n", kMe,
                       stores[s].name.c_str(),
                       static_cast<long long>(figures.missed - missedBefore),
                       queries[q].entry->smiles.c_str());
        }
      }
      progress.Step(q);
    }
    progress.Finish();

    std::printf("### %s: %zu queries of %s (%zu refused)\n\n",
                file.label.c_str(), queries.size(), file.path.c_str(),
                refusedQueries);
    Table table({"method", "mean ms/query", "median ms/query",
                 "of which preselection (mean)", "candidates/query",
                 "hits/query", "missed hits", "speed-up vs full scan"});
    const double n =
        static_cast<double>(std::max<std::size_t>(queries.size(), 1));
    const double fullMean = Mean(full.milliseconds);
    std::vector<const MethodFigures*> rows{&full, &fingerprint};
    for (const MethodFigures& figures : byStore) rows.push_back(&figures);
    for (const MethodFigures* figures : rows) {
      const double mean = Mean(figures->milliseconds);
      table.AddRow({figures->name, Fixed(mean, 2),
                    Fixed(Median(figures->milliseconds), 2),
                    figures->preselectMilliseconds.empty()
                        ? "-"
                        : Fixed(Mean(figures->preselectMilliseconds), 2),
                    Fixed(static_cast<double>(figures->candidates) / n, 1),
                    Fixed(static_cast<double>(figures->hits) / n, 1),
                    figures == &full ? "(truth)" : Count(figures->missed),
                    Fixed(mean > 0 ? fullMean / mean : 0, 1) + "x"});
      if (figures != &full) missedTotal += figures->missed;
    }
    table.Print(stdout);
    std::printf("\n");
    std::fflush(stdout);
  }
  if (missedTotal > 0) {
    std::printf("Some searches missed hits: %s in all.\n",
                Count(missedTotal).c_str());
    return kExitMissedHits;
  }
  std::printf("Every search found exactly the full scan's hits.\n");
  return 0;
}

}  // namespace zolv::bench

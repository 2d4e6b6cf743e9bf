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
#include "index_writing.h"
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

// Reports on stderr; the exit code of a failed benchmark.
int Fail(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kMe, message.c_str());
  return 1;
}

// The stores named, each checked against the driver's dictionary: patterns
// from another dictionary than the texts' would miss targets.
bool OpenStores(const BenchOptions& options, const BenchDriver& driver,
                std::vector<StoreUnderTest>* stores, std::string* error) {
  if (!options.sqlitePath.empty()) {
    auto store = search::OpenSqliteStore(options.sqlitePath,
                                         search::OpenMode::kRead, error);
    if (!store) return false;
    stores->push_back({"SQLite", std::move(store)});
  }
  if (!options.postgres.empty()) {
    auto store = search::OpenPostgresStore(options.postgres,
                                           search::OpenMode::kRead, error);
    if (!store) return false;
    stores->push_back({"PostgreSQL", std::move(store)});
  }
  for (StoreUnderTest& tested : *stores) {
    std::optional<std::string> digest;
    if (!tested.store->GetSetting(search::kSettingDictionaryDigest, &digest,
                                  error)) {
      *error = tested.name + ": " + *error;
      return false;
    }
    if (digest && *digest != driver.writer().dictionaryDigest()) {
      *error = tested.name + " was indexed with another dictionary than " +
               driver.dictionaryPath();
      return false;
    }
  }
  return true;
}

// The targets of the first store; every other must hold the same.
bool ReadCommonTargets(const std::vector<StoreUnderTest>& stores,
                       std::vector<search::Candidate>* targets,
                       std::string* error) {
  if (!ReadTargets(*stores[0].store, targets, error)) return false;
  for (std::size_t s = 1; s < stores.size(); ++s) {
    std::vector<search::Candidate> others;
    if (!ReadTargets(*stores[s].store, &others, error)) return false;
    bool same = others.size() == targets->size();
    for (std::size_t i = 0; same && i < targets->size(); ++i) {
      same = others[i].id == (*targets)[i].id &&
             others[i].smiles == (*targets)[i].smiles;
    }
    if (!same) {
      *error =
          stores[0].name + " and " + stores[s].name + " hold different targets";
      return false;
    }
  }
  return true;
}

// The targets parsed once, outside every timing, with their fingerprints
// and their positions by row id.
struct ParsedTargets {
  std::vector<SmilesEntry> entries;
  std::vector<BenchMolecule> molecules;
  std::vector<Fingerprint> fingerprints;
  std::unordered_map<std::int64_t, std::size_t> indexOfId;
  std::size_t refused = 0;  // by either parser
  double seconds = 0;       // parsing and fingerprinting
};

void ParseTargets(const std::vector<search::Candidate>& targets,
                  ParsedTargets* parsed) {
  parsed->entries.reserve(targets.size());
  for (const search::Candidate& target : targets) {
    parsed->entries.push_back({target.smiles, target.name, 0});
  }
  const auto start = std::chrono::steady_clock::now();
  // Both parsers run, so that exactly the targets both read are compared;
  // only the RDKit molecules are used here.
  parsed->molecules = ParseMolecules(
      parsed->entries, rdcore::MoleculeRole::kTarget, &parsed->refused);
  parsed->fingerprints.reserve(parsed->molecules.size());
  for (std::size_t i = 0; i < parsed->molecules.size(); ++i) {
    const std::size_t entry = static_cast<std::size_t>(
        parsed->molecules[i].entry - parsed->entries.data());
    parsed->indexOfId.emplace(targets[entry].id, i);
    parsed->fingerprints.push_back(
        PatternFingerprint(*parsed->molecules[i].rdkit));
  }
  parsed->seconds = SecondsSince(start);
}

// The full scan: the truth every other method is compared with.
std::vector<std::size_t> TimeFullScan(const RDKit::ROMol& query,
                                      const ParsedTargets& targets,
                                      MethodFigures* figures) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::size_t> truth;
  for (std::size_t t = 0; t < targets.molecules.size(); ++t) {
    if (HasSubstructure(*targets.molecules[t].rdkit, query)) {
      truth.push_back(t);
    }
  }
  figures->milliseconds.push_back(MillisecondsSince(start));
  figures->candidates += static_cast<std::int64_t>(targets.molecules.size());
  figures->hits += static_cast<std::int64_t>(truth.size());
  return truth;
}

void TimeFingerprint(const RDKit::ROMol& query, const ParsedTargets& targets,
                     const std::vector<std::size_t>& truth,
                     MethodFigures* figures) {
  const auto start = std::chrono::steady_clock::now();
  const Fingerprint queryBits = PatternFingerprint(query);
  std::vector<std::size_t> hits;
  for (std::size_t t = 0; t < targets.molecules.size(); ++t) {
    if (!IsSubset(queryBits, targets.fingerprints[t])) continue;
    ++figures->candidates;
    if (HasSubstructure(*targets.molecules[t].rdkit, query)) hits.push_back(t);
  }
  figures->milliseconds.push_back(MillisecondsSince(start));
  Compare(hits, truth, figures);
}

// The driver's pattern, the store's preselection and RDKit's confirmation.
// False with a message.
bool TimeStore(const BenchOptions& options, const BenchDriver& driver,
               const BenchMolecule& query, const StoreUnderTest& tested,
               const ParsedTargets& targets,
               const std::vector<std::size_t>& truth, MethodFigures* figures,
               std::string* error) {
  const auto start = std::chrono::steady_clock::now();
  search::BudgetedText pattern;
  if (!driver.writer().WriteBudgeted(query.host.get(), ScreenMode::kQuery,
                                     options.variant, options.dialect, 0,
                                     &pattern, error)) {
    *error = "query " + query.entry->smiles + ": " + *error;
    return false;
  }
  const auto preselectStart = std::chrono::steady_clock::now();
  std::vector<std::int64_t> ids;
  if (!tested.store->PreselectIds(
          {pattern.text, options.variant, options.dialect}, &ids, error)) {
    *error = tested.name + ": " + *error;
    return false;
  }
  figures->preselectMilliseconds.push_back(MillisecondsSince(preselectStart));
  std::vector<std::size_t> hits;
  for (const std::int64_t id : ids) {
    const auto found = targets.indexOfId.find(id);
    if (found == targets.indexOfId.end()) continue;  // refused by a parser
    ++figures->candidates;
    if (HasSubstructure(*targets.molecules[found->second].rdkit,
                        *query.rdkit)) {
      hits.push_back(found->second);
    }
  }
  figures->milliseconds.push_back(MillisecondsSince(start));
  std::sort(hits.begin(), hits.end());
  const std::int64_t missedBefore = figures->missed;
  Compare(hits, truth, figures);
  if (figures->missed > missedBefore) {
    std::fprintf(stderr, "%s: %s missed %lld hits of query %s\n", kMe,
                 tested.name.c_str(),
                 static_cast<long long>(figures->missed - missedBefore),
                 query.entry->smiles.c_str());
  }
  return true;
}

// The table of one query set.
void PrintSet(const MoleculeFile& file, std::size_t queries,
              std::size_t refused,
              const std::vector<const MethodFigures*>& rows) {
  std::printf("### %s: %zu queries of %s (%zu refused)\n\n", file.label.c_str(),
              queries, file.path.c_str(), refused);
  Table table({"method", "mean ms/query", "median ms/query",
               "of which preselection (mean)", "candidates/query", "hits/query",
               "missed hits", "speed-up vs full scan"});
  const double n = static_cast<double>(std::max<std::size_t>(queries, 1));
  const MethodFigures* full = rows.front();
  const double fullMean = Mean(full->milliseconds);
  for (const MethodFigures* figures : rows) {
    const double mean = Mean(figures->milliseconds);
    table.AddRow({figures->name, Fixed(mean, 2),
                  Fixed(Median(figures->milliseconds), 2),
                  figures->preselectMilliseconds.empty()
                      ? "-"
                      : Fixed(Mean(figures->preselectMilliseconds), 2),
                  Fixed(static_cast<double>(figures->candidates) / n, 1),
                  Fixed(static_cast<double>(figures->hits) / n, 1),
                  figures == full ? "(truth)" : Count(figures->missed),
                  Fixed(mean > 0 ? fullMean / mean : 0, 1) + "x"});
  }
  table.Print(stdout);
  std::printf("\n");
  std::fflush(stdout);
}

// Times every method on one query set; the hits the methods other than the
// full scan missed, or none with a message.
std::optional<std::int64_t> TimeQuerySet(
    const BenchOptions& options, const BenchDriver& driver,
    const std::vector<StoreUnderTest>& stores, const ParsedTargets& targets,
    const MoleculeFile& file, std::string* error) {
  std::vector<SmilesEntry> queryEntries;
  if (!ReadSmilesFile(file.path, options.queryLimit, &queryEntries, error,
                      options.maxAtoms)) {
    return std::nullopt;
  }
  std::size_t refused = 0;
  const std::vector<BenchMolecule> queries =
      ParseMolecules(queryEntries, rdcore::MoleculeRole::kQuery, &refused);

  MethodFigures full{"full RDKit scan (SubstructMatch on every target)"};
  MethodFigures fingerprint{
      "RDKit pattern fingerprint in memory, then SubstructMatch"};
  std::vector<MethodFigures> byStore;
  for (const StoreUnderTest& tested : stores) {
    byStore.emplace_back(tested.name +
                         ": SBI preselection, then SubstructMatch");
  }
  ProgressMeter progress(file.label, queries.size(), options.progress);
  for (std::size_t q = 0; q < queries.size(); ++q) {
    const RDKit::ROMol& query = *queries[q].rdkit;
    const std::vector<std::size_t> truth = TimeFullScan(query, targets, &full);
    TimeFingerprint(query, targets, truth, &fingerprint);
    for (std::size_t s = 0; s < stores.size(); ++s) {
      if (!TimeStore(options, driver, queries[q], stores[s], targets, truth,
                     &byStore[s], error)) {
        return std::nullopt;
      }
    }
    progress.Step(q);
  }
  progress.Finish();

  std::vector<const MethodFigures*> rows{&full, &fingerprint};
  std::int64_t missed = fingerprint.missed;
  for (const MethodFigures& figures : byStore) {
    rows.push_back(&figures);
    missed += figures.missed;
  }
  PrintSet(file, queries.size(), refused, rows);
  return missed;
}

}  // namespace

int RunSearchTimes(const BenchOptions& options) {
  if (options.sqlitePath.empty() && options.postgres.empty()) {
    return Fail("give --sqlite FILE, --postgres CONNINFO or both");
  }
  std::string error;
  BenchDriver driver;
  std::vector<StoreUnderTest> stores;
  std::vector<search::Candidate> targets;
  if (!driver.Open(options.driverPath, options.dictionaryPath, &error) ||
      !OpenStores(options, driver, &stores, &error) ||
      !ReadCommonTargets(stores, &targets, &error)) {
    return Fail(error);
  }
  ParsedTargets parsed;
  ParseTargets(targets, &parsed);

  std::printf(
      "## Search time\n\n"
      "%zu targets from the index (%zu refused by a parser), parsed and "
      "fingerprinted once in %.1f s, outside the timings. Patterns: SBI %s, "
      "%s, written whole. Single thread; time per query in ms.\n\n",
      parsed.molecules.size(), parsed.refused, parsed.seconds,
      search::VariantName(options.variant),
      search::DialectName(options.dialect));
  std::fflush(stdout);

  std::int64_t missedTotal = 0;
  for (const MoleculeFile& file : options.queryFiles) {
    const std::optional<std::int64_t> missed =
        TimeQuerySet(options, driver, stores, parsed, file, &error);
    if (!missed) return Fail(error);
    missedTotal += *missed;
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

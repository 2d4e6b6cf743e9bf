// Screen quality: for every (query, target) pair, which screens let the
// target through as a candidate, and whether the target truly holds the
// query (RDKit's substructure match). Reported per query set and screen:
// candidates, true hits, precision, screen-out and false negatives, with
// every missed pair named. A screen is sound only with no false negative.
//
// The truth: by default RDKit's pattern fingerprint preselects the pairs
// that are then matched, as RDKit's own screening benchmark does (the
// fingerprint loses no hit of a SMILES query); --full-check matches every
// pair instead and counts the fingerprint's own misses as well.
#include <GraphMol/ROMol.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench_driver.h"
#include "bench_table.h"
#include "benchmarks.h"
#include "parallel_writer.h"
#include "pattern_match.h"
#include "record_stream.h"
#include "whole_text.h"

namespace zolv::bench {
namespace {

// The screens compared, in the order of the tables.
enum ScreenKind : std::size_t {
  kFingerprint,
  kRawAccess,
  kRawOdbc,
  kAlphabetAccess,
  kAlphabetOdbc,
  kBits,
  kScreenKinds
};

constexpr const char* kScreenNames[kScreenKinds] = {
    "RDKit pattern fingerprint 2048",
    "SBI raw, Access",
    "SBI raw, ODBC",
    "SBI alphabet, Access",
    "SBI alphabet, ODBC",
    "driver bit string (screens only)"};

// Bits of a "0"/"1" string as words: position p (from 1) in bit p - 1.
std::vector<std::uint64_t> BitWords(const std::string& bits) {
  std::vector<std::uint64_t> words((bits.size() + 63) / 64, 0);
  for (std::size_t i = 0; i < bits.size(); ++i) {
    if (bits[i] == '1') words[i / 64] |= std::uint64_t{1} << (i % 64);
  }
  return words;
}

struct Target {
  const BenchMolecule* molecule = nullptr;
  Fingerprint fingerprint;
  std::string raw;
  std::string alphabet;
  std::vector<std::uint64_t> bits;
};

struct Query {
  const BenchMolecule* molecule = nullptr;
  Fingerprint fingerprint;
  std::vector<search::CompiledPattern> patterns;  // raw A, raw O, alpha A, O
  std::vector<std::string> texts;                 // the same, as written
  std::vector<std::uint64_t> bits;
};

struct Tally {
  std::int64_t candidates = 0;
  std::int64_t confirmed = 0;  // candidates that are true hits
  std::int64_t missed = 0;     // true hits that are not candidates
};

struct Missed {
  std::size_t screen;
  const SmilesEntry* query;
  const SmilesEntry* target;
  std::string pattern;
  std::string text;
};

std::string Escaped(const std::string& bytes) {
  return host::EncodeRecord(bytes, host::RecordEncoding::kEscaped);
}

bool WriteWhole(const BenchDriver& driver, HostObject* object, ScreenMode mode,
                search::TextVariant variant, WildcardDialect dialect,
                std::string* text, std::size_t* cut, std::string* error) {
  search::BudgetedText written;
  if (!driver.writer().WriteBudgeted(object, mode, variant, dialect, 0,
                                     &written, error)) {
    return false;
  }
  if (written.cut) ++*cut;
  *text = std::move(written.text);
  return true;
}

constexpr char kMe[] = "zolv bench quality";

// Reports on stderr; the exit code of a failed benchmark.
int Fail(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kMe, message.c_str());
  return 1;
}

// The targets, each written once in every form and fingerprinted.
struct TargetSet {
  std::vector<SmilesEntry> entries;
  std::vector<BenchMolecule> molecules;
  std::vector<Target> targets;
  std::size_t refused = 0;        // by either parser
  std::size_t cut = 0;            // texts cut by their budget
  std::size_t rawBytes = 0;       // of every raw text
  std::size_t alphabetBytes = 0;  // of every alphabet text
};

// Writes one target in every form; false with a message.
bool WriteTarget(const BenchDriver& driver, const std::string& bitsLength,
                 Target* target, std::size_t* cut, std::string* error) {
  HostObject* object = target->molecule->host.get();
  target->fingerprint = PatternFingerprint(*target->molecule->rdkit);
  std::string bits;
  if (!WriteWhole(driver, object, ScreenMode::kTarget,
                  search::TextVariant::kRaw, WildcardDialect::kAccess,
                  &target->raw, cut, error) ||
      !WriteWhole(driver, object, ScreenMode::kTarget,
                  search::TextVariant::kAlphabet, WildcardDialect::kAccess,
                  &target->alphabet, cut, error) ||
      !driver.WriteTo(object, driver.Options(bitsLength), &bits)) {
    if (error->empty()) *error = "the driver failed";
    return false;
  }
  target->bits = BitWords(bits);
  return true;
}

// Reads, parses and writes the targets on the pool's threads. False with a
// message.
bool WriteTargets(const BenchOptions& options, const BenchDriver& driver,
                  const std::string& bitsLength, TargetSet* set,
                  std::string* error) {
  if (!ReadSmilesFile(options.targetFile, options.targetLimit, &set->entries,
                      error, options.maxAtoms)) {
    return false;
  }
  set->molecules = ParseMolecules(set->entries, rdcore::MoleculeRole::kTarget,
                                  &set->refused);
  std::vector<Target>& targets = set->targets;
  targets.resize(set->molecules.size());
  ProgressMeter progress("writing targets", targets.size(), options.progress);
  host::WorkerPool pool(options.jobs);
  std::vector<std::string> errors(targets.size());
  std::vector<std::size_t> cuts(targets.size(), 0);
  // In slices, so that progress moves and a failure stops the run soon.
  const std::size_t slice = pool.size() * host::kItemsPerWorker;
  for (std::size_t first = 0; first < targets.size(); first += slice) {
    const std::size_t count = std::min(slice, targets.size() - first);
    pool.Run(count, [&](std::size_t, std::size_t offset) {
      const std::size_t i = first + offset;
      targets[i].molecule = &set->molecules[i];
      WriteTarget(driver, bitsLength, &targets[i], &cuts[i], &errors[i]);
    });
    for (std::size_t i = first; i < first + count; ++i) {
      if (!errors[i].empty()) {
        progress.Finish();
        *error =
            "target " + targets[i].molecule->entry->smiles + ": " + errors[i];
        return false;
      }
      set->cut += cuts[i];
      set->rawBytes += targets[i].raw.size();
      set->alphabetBytes += targets[i].alphabet.size();
    }
    progress.Step(first + count - 1);
  }
  progress.Finish();
  return true;
}

// Writes each query's four patterns and bit string; a query the driver
// fails on is reported and counted in *refused.
std::vector<Query> WriteQueries(BenchDriver& driver,
                                const std::vector<BenchMolecule>& molecules,
                                const std::string& bitsLength,
                                std::size_t* cutPatterns,
                                std::size_t* refused) {
  std::vector<Query> queries;
  for (const BenchMolecule& molecule : molecules) {
    Query query;
    query.molecule = &molecule;
    query.fingerprint = PatternFingerprint(*molecule.rdkit);
    bool written = true;
    std::string error;
    for (const auto& [variant, dialect] :
         {std::pair{search::TextVariant::kRaw, WildcardDialect::kAccess},
          std::pair{search::TextVariant::kRaw, WildcardDialect::kOdbc},
          std::pair{search::TextVariant::kAlphabet, WildcardDialect::kAccess},
          std::pair{search::TextVariant::kAlphabet, WildcardDialect::kOdbc}}) {
      std::string pattern;
      if (!WriteWhole(driver, molecule.host.get(), ScreenMode::kQuery, variant,
                      dialect, &pattern, cutPatterns, &error)) {
        written = false;
        break;
      }
      query.patterns.emplace_back(pattern, dialect);
      query.texts.push_back(std::move(pattern));
    }
    if (!written ||
        !driver.Write(molecule.host.get(),
                      driver.Options("object=query " + bitsLength))) {
      std::fprintf(stderr, "%s: query %s: the driver failed: %s\n", kMe,
                   molecule.entry->smiles.c_str(), error.c_str());
      ++*refused;
      continue;
    }
    query.bits = BitWords(driver.record());
    queries.push_back(std::move(query));
  }
  return queries;
}

// What every screen kind did on one query set.
struct SetTally {
  Tally tallies[kScreenKinds];
  std::int64_t trueHits = 0;
  std::int64_t missed = 0;        // by any screen kind
  std::int64_t driverMissed = 0;  // by the driver's screens
};

// Runs every (query, target) pair through every screen kind and the truth;
// the first options.showMissed misses are kept in *missed.
void TallyPairs(const BenchOptions& options, const std::vector<Query>& queries,
                const std::vector<Target>& targets, const std::string& label,
                SetTally* tally, std::vector<Missed>* missed) {
  ProgressMeter progress(label, queries.size(), options.progress);
  for (std::size_t q = 0; q < queries.size(); ++q) {
    const Query& query = queries[q];
    for (const Target& target : targets) {
      bool candidate[kScreenKinds];
      candidate[kFingerprint] = IsSubset(query.fingerprint, target.fingerprint);
      candidate[kRawAccess] = query.patterns[0].Matches(target.raw);
      candidate[kRawOdbc] = query.patterns[1].Matches(target.raw);
      candidate[kAlphabetAccess] = query.patterns[2].Matches(target.alphabet);
      candidate[kAlphabetOdbc] = query.patterns[3].Matches(target.alphabet);
      candidate[kBits] = IsSubset(query.bits, target.bits);
      const bool hit =
          (options.fullTruth || candidate[kFingerprint]) &&
          HasSubstructure(*target.molecule->rdkit, *query.molecule->rdkit);
      tally->trueHits += hit ? 1 : 0;
      for (std::size_t s = 0; s < kScreenKinds; ++s) {
        if (candidate[s]) {
          ++tally->tallies[s].candidates;
          if (hit) ++tally->tallies[s].confirmed;
        } else if (hit) {
          ++tally->tallies[s].missed;
          ++tally->missed;
          if (s != kFingerprint) ++tally->driverMissed;
          if (missed->size() < options.showMissed) {
            const std::size_t text = s == 0 || s == kBits ? 0 : s - 1;
            missed->push_back({s, query.molecule->entry, target.molecule->entry,
                               s == 0 || s == kBits ? "" : query.texts[text],
                               s == 0 || s == kBits ? ""
                               : s <= kRawOdbc      ? target.raw
                                                    : target.alphabet});
          }
        }
      }
    }
    progress.Step(q);
  }
  progress.Finish();
}

void PrintTally(const BenchOptions& options, const SetTally& tally,
                std::int64_t pairs) {
  Table table({"screen", "candidates", "true hits", "precision", "screen-out",
               "false negatives"});
  for (std::size_t s = 0; s < kScreenKinds; ++s) {
    const Tally& t = tally.tallies[s];
    const std::int64_t negatives = pairs - tally.trueHits;
    const std::int64_t falsePositives = t.candidates - t.confirmed;
    table.AddRow(
        {kScreenNames[s], Count(t.candidates), Count(t.confirmed),
         t.candidates > 0 ? Fixed(static_cast<double>(t.confirmed) /
                                      static_cast<double>(t.candidates),
                                  3)
                          : "-",
         negatives > 0 ? Fixed(static_cast<double>(negatives - falsePositives) /
                                   static_cast<double>(negatives),
                               5)
                       : "-",
         s == kFingerprint && !options.fullTruth ? "(truth)"
                                                 : Count(t.missed)});
  }
  table.Print(stdout);
}

void PrintMissed(const std::vector<Missed>& missed, std::int64_t total) {
  if (total == 0) {
    std::printf("No screen missed a true hit.\n\n");
    return;
  }
  std::printf("### Missed hits: %s in all, the first %zu\n\n",
              Count(total).c_str(), missed.size());
  for (const Missed& m : missed) {
    std::printf(
        "- %s: query `%s` (line %zu) misses target `%s` %s (line "
        "%zu)%s%s%s%s\n",
        kScreenNames[m.screen], m.query->smiles.c_str(), m.query->line,
        m.target->smiles.c_str(), m.target->name.c_str(), m.target->line,
        m.pattern.empty() ? "" : "; pattern `", Escaped(m.pattern).c_str(),
        m.pattern.empty() ? "" : "`, text `",
        m.pattern.empty() ? "" : (Escaped(m.text) + "`").c_str());
  }
  std::printf("\n");
}

}  // namespace

int RunQuality(const BenchOptions& options) {
  std::string error;
  BenchDriver driver;
  if (!driver.Open(options.driverPath, options.dictionaryPath, &error)) {
    return Fail(error);
  }
  const auto runStart = std::chrono::steady_clock::now();
  const std::string bitsLength =
      "length=" +
      std::to_string(std::max<std::uint32_t>(driver.highestScreen(), 1));
  TargetSet set;
  if (!WriteTargets(options, driver, bitsLength, &set, &error)) {
    return Fail(error);
  }
  const std::vector<Target>& targets = set.targets;
  const double targetSeconds = SecondsSince(runStart);

  std::printf(
      "## Screen quality\n\n"
      "Targets: %zu of the first %zu molecules of %s (%zu refused by a "
      "parser); dictionary %s (%zu screens). Texts written whole: mean "
      "length %.1f bytes raw, %.1f alphabet; %zu cut by their budget. Truth: "
      "%s. Writing and fingerprinting the targets took %.1f s.\n\n",
      targets.size(), set.entries.size(), options.targetFile.c_str(),
      set.refused, driver.dictionaryPath().c_str(), driver.screenCount(),
      targets.empty() ? 0.0
                      : static_cast<double>(set.rawBytes) /
                            static_cast<double>(targets.size()),
      targets.empty() ? 0.0
                      : static_cast<double>(set.alphabetBytes) /
                            static_cast<double>(targets.size()),
      set.cut,
      options.fullTruth
          ? "RDKit SubstructMatch on every pair"
          : "RDKit SubstructMatch on the pattern fingerprint's candidates",
      targetSeconds);
  std::fflush(stdout);

  std::vector<Missed> missed;
  std::int64_t missedTotal = 0;
  std::int64_t driverMissed = 0;
  for (const MoleculeFile& file : options.queryFiles) {
    std::vector<SmilesEntry> queryEntries;
    if (!ReadSmilesFile(file.path, options.queryLimit, &queryEntries, &error,
                        options.maxAtoms)) {
      return Fail(error);
    }
    std::size_t refusedQueries = 0;
    const std::vector<BenchMolecule> queryMolecules = ParseMolecules(
        queryEntries, rdcore::MoleculeRole::kQuery, &refusedQueries);
    std::size_t cutPatterns = 0;
    const std::vector<Query> queries = WriteQueries(
        driver, queryMolecules, bitsLength, &cutPatterns, &refusedQueries);

    const auto start = std::chrono::steady_clock::now();
    SetTally tally;
    TallyPairs(options, queries, targets, file.label, &tally, &missed);
    const double seconds = SecondsSince(start);
    missedTotal += tally.missed;
    driverMissed += tally.driverMissed;

    const std::int64_t pairs = static_cast<std::int64_t>(queries.size()) *
                               static_cast<std::int64_t>(targets.size());
    std::printf(
        "### %s: %zu queries of %s (%zu refused), %s targets, %s pairs, %s "
        "true hits\n\n",
        file.label.c_str(), queries.size(), file.path.c_str(), refusedQueries,
        Count(static_cast<std::int64_t>(targets.size())).c_str(),
        Count(pairs).c_str(), Count(tally.trueHits).c_str());
    PrintTally(options, tally, pairs);
    std::printf("\n%zu query patterns cut by their budget; %.1f s.\n\n",
                cutPatterns, seconds);
    std::fflush(stdout);
  }
  PrintMissed(missed, missedTotal);
  std::printf("Whole run: %.1f s.\n", SecondsSince(runStart));
  return driverMissed > 0 ? kExitMissedHits : 0;
}

}  // namespace zolv::bench

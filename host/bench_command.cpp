#include "bench_command.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "benchmarks.h"
#include "command_context.h"
#include "database_option.h"
#include "parallel_writer.h"

namespace zolv::host {
namespace {

constexpr char kProgram[] = "zolv bench";

// The benchmark sets' file names in a --data directory.
constexpr char kTargetsName[] = "znp.50k.smi.gz";
struct QuerySetName {
  const char* label;
  const char* file;
};
constexpr QuerySetName kQuerySets[] = {
    {"fragments", "zinc.frags.500.q.smi"},
    {"leads", "zinc.leads.500.q.smi"},
    {"pieces", "pieces.823.q.txt.gz"},
};

const char kDetails[] =
    "Modes:\n"
    "  throughput  molecules per second written as targets (bit string, raw\n"
    "              and alphabet \"SBI\") against RDKit's pattern fingerprint\n"
    "              (2048 bits), on the same parsed molecules\n"
    "  pruning     per molecule: screens examined, prescreen rejections and\n"
    "              substructure tests, against one test per screen\n"
    "  quality     candidates, true hits, precision, screen-out and false\n"
    "              negatives of every text form and of RDKit's pattern\n"
    "              fingerprint, per query set; every missed hit is named\n"
    "  search      time per query in a zolv index database (SQLite, and\n"
    "              PostgreSQL), against a full RDKit scan\n"
    "  screens     each screen's matching time and frequency on the targets,\n"
    "              without pruning: the screens that make writing slow\n"
    "\n"
    "Molecules:\n"
    "  --data DIR takes the benchmark sets by their names: targets from\n"
    "  znp.50k.smi.gz; queries from zinc.frags.500.q.smi (fragments),\n"
    "  zinc.leads.500.q.smi (leads) and pieces.823.q.txt.gz (pieces).\n"
    "  --target-file and --query-file replace them. Files hold SMILES, one\n"
    "  a line (then a name), gzipped or not. search takes its targets from\n"
    "  the index.\n"
    "\n"
    "Output:\n"
    "  Markdown tables on stdout, progress on stderr.\n"
    "\n"
    "Exit status:\n"
    "  0  done\n"
    "  1  usage or fatal error\n"
    "  3  a screen of the driver, or a search, missed a true hit\n"
    "\n"
    "Examples:\n"
    "  zolv bench throughput --data ../shared/bench --targets 10000\n"
    "  zolv bench quality --data ../shared/bench --targets 10000\n"
    "  zolv bench search --sqlite t.db --postgres 'host=/tmp dbname=z' "
    "--data ../shared/bench --queries 50\n";

const CommandSpec& Definition() {
  static const CommandSpec command = [] {
    CommandSpec s;
    s.name = "zolv bench";
    s.arguments = "MODE";
    s.summary =
        "Measures the driver against RDKit on the same molecules: write "
        "throughput, pruned perception, screen quality, search time or the "
        "cost of each screen.";
    s.options = {
        {"data", '\0', "DIR", "Directory of the benchmark sets."},
        {"target-file", '\0', "FILE", "Target molecules (SMILES)."},
        {"query-file", '\0', "[LABEL=]FILE",
         "A query set (SMILES); repeatable.", true},
        {"targets", '\0', "N",
         "Use the first N targets (default 10000; 0: all)."},
        {"queries", '\0', "N",
         "Use the first N queries of each set "
         "(default: all)."},
        {"rounds", '\0', "N",
         "throughput: timed passes of each form (default 3); the best "
         "counts."},
        {"full-check", '\0', "",
         "quality: match every (query, target) pair with RDKit, not only the "
         "fingerprint's candidates."},
        {"jobs", 'j', "N",
         "quality: write the targets on N threads (default: the number of "
         "cores); the tables are the same for every N."},
        {"show-missed", '\0', "N",
         "quality: name at most N missed pairs (default 50)."},
        {"sqlite", '\0', "FILE", "search: a SQLite index from zolv index."},
        {"postgres", '\0', "CONNINFO",
         "search: a PostgreSQL index (libpq connection string)."},
        {"variant", '\0', "VARIANT",
         "search: raw (default) or alphabet patterns."},
        {"dialect", '\0', "DIALECT",
         "search: access (default) or odbc patterns."},
        {"dictionary", '\0', "FILE",
         "Screen dictionary (default: default.vetorb beside the driver)."},
        DriverOption(),
        {"no-progress", '\0', "", "No progress lines on stderr."},
        MaxAtomsOption(),
    };
    s.details = kDetails;
    s.minPositional = 1;
    s.maxPositional = 1;
    return s;
  }();
  return command;
}

constexpr CommandContext kContext(kProgram);
void Report(const std::string& message) { kContext.Report(message); }

// The limit of every count zolv bench reads.
constexpr std::uint64_t kMostCount = 1000000000;

// The query files of --query-file LABEL=FILE or FILE (labelled by its
// name), or else the benchmark sets in --data DIR.
std::vector<bench::MoleculeFile> QueryFiles(const ParsedCommandLine& line) {
  std::vector<bench::MoleculeFile> files;
  for (const std::string& value : line.Values("query-file")) {
    const std::size_t equals = value.find('=');
    if (equals != std::string::npos && equals > 0) {
      files.push_back({value.substr(0, equals), value.substr(equals + 1)});
    } else {
      const std::size_t slash = value.find_last_of('/');
      files.push_back(
          {slash == std::string::npos ? value : value.substr(slash + 1),
           value});
    }
  }
  if (const auto data = line.Value("data"); files.empty() && data) {
    for (const QuerySetName& set : kQuerySets) {
      files.push_back({set.label, *data + "/" + set.file});
    }
  }
  return files;
}

// Reads and checks the command line into options; false after a report.
bool ReadOptions(const ParsedCommandLine& line, const std::string& mode,
                 bench::BenchOptions* options) {
  std::size_t rounds = 3;
  if (!kContext.ReadNumber(line, "targets", 0, kMostCount,
                           &options->targetLimit) ||
      !kContext.ReadNumber(line, "queries", 0, kMostCount,
                           &options->queryLimit) ||
      !kContext.ReadNumber(line, "rounds", 0, kMostCount, &rounds) ||
      !kContext.ReadNumber(line, "show-missed", 0, kMostCount,
                           &options->showMissed) ||
      !kContext.ReadMaxAtoms(line, &options->maxAtoms)) {
    return false;
  }
  options->rounds = static_cast<int>(rounds == 0 ? 1 : rounds);
  options->fullTruth = line.Has("full-check");
  options->progress = !line.Has("no-progress");
  if (!kContext.ReadJobs(line, &options->jobs)) return false;
  options->driverPath = line.Value("driver").value_or("");
  options->dictionaryPath = line.Value("dictionary").value_or("");
  options->sqlitePath = line.Value("sqlite").value_or("");
  options->postgres = line.Value("postgres").value_or("");
  if (!ReadPatternForm(kContext, line, &options->dialect, &options->variant)) {
    return false;
  }
  if (const auto file = line.Value("target-file")) {
    options->targetFile = *file;
  } else if (const auto data = line.Value("data")) {
    options->targetFile = *data + "/" + kTargetsName;
  }
  options->queryFiles = QueryFiles(line);

  if (mode != "throughput" && mode != "pruning" && mode != "quality" &&
      mode != "search" && mode != "screens") {
    Report("unknown mode '" + mode +
           "' (use throughput, pruning, quality, search or screens)");
    return false;
  }
  const bool needsTargets = mode != "search";
  const bool needsQueries = mode == "quality" || mode == "search";
  if (needsTargets && options->targetFile.empty()) {
    Report("no targets: give --data DIR or --target-file FILE");
    return false;
  }
  if (needsQueries && options->queryFiles.empty()) {
    Report("no queries: give --data DIR or --query-file FILE");
    return false;
  }
  return true;
}

}  // namespace

const CommandSpec& BenchCommandSpec() { return Definition(); }

namespace {

// What zolv bench is asked to do.
struct BenchParameters {
  std::string mode;             // throughput, pruning, quality, ...
  bench::BenchOptions options;  // what the benchmark of the mode takes
};

int RunWithParameters(const BenchParameters& p) {
  if (p.mode == "throughput") return bench::RunThroughput(p.options);
  if (p.mode == "pruning") return bench::RunPruning(p.options);
  if (p.mode == "quality") return bench::RunQuality(p.options);
  if (p.mode == "screens") return bench::RunScreenCosts(p.options);
  return bench::RunSearchTimes(p.options);
}

}  // namespace

int RunBench(int argc, char** argv) {
  return RunCommand<BenchParameters>(
      kContext, Definition(), argc, argv,
      [](const ParsedCommandLine& line, BenchParameters* p) {
        p->mode = line.Positional()[0];
        return ReadOptions(line, p->mode, &p->options);
      },
      RunWithParameters);
}

}  // namespace zolv::host

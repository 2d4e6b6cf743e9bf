#include "bench_command.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "benchmarks.h"
#include "driver_library.h"
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
        {"driver", '\0', "PATH",
         "Driver library to load (default: the one beside zolv)."},
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

void Report(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
}

// A count from the command line; none when it is not a whole number.
std::optional<std::size_t> ParseCount(const std::string& text) {
  if (text.empty() ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  if (errno != 0 || value > 1000000000ull) return std::nullopt;
  return static_cast<std::size_t>(value);
}

bool ReadCount(const ParsedCommandLine& line, const char* option,
               std::size_t* value) {
  const auto text = line.Value(option);
  if (!text) return true;
  const auto parsed = ParseCount(*text);
  if (!parsed) {
    Report(std::string("--") + option + " must be a whole number");
    return false;
  }
  *value = *parsed;
  return true;
}

}  // namespace

const CommandSpec& BenchCommandSpec() { return Definition(); }

int RunBench(int argc, char** argv) {
  int exitCode = kExitSuccess;
  const std::optional<ParsedCommandLine> line =
      ParseOrReport(Definition(), argc, argv, &exitCode);
  if (!line) return exitCode;
  const std::string mode = line->Positional()[0];

  bench::BenchOptions options;
  std::size_t rounds = 3;
  if (!ReadCount(*line, "targets", &options.targetLimit) ||
      !ReadCount(*line, "queries", &options.queryLimit) ||
      !ReadCount(*line, "rounds", &rounds) ||
      !ReadCount(*line, "show-missed", &options.showMissed)) {
    return kExitFailure;
  }
  std::string maxAtomsError;
  if (!ReadMaxAtoms(*line, &options.maxAtoms, &maxAtomsError)) {
    Report(maxAtomsError);
    return kExitFailure;
  }
  options.rounds = static_cast<int>(rounds == 0 ? 1 : rounds);
  options.fullTruth = line->Has("full-check");
  options.progress = !line->Has("no-progress");
  {
    std::string jobsError;
    const std::optional<std::size_t> jobs = ParseJobs(*line, &jobsError);
    if (!jobs) {
      std::fprintf(stderr, "zolv bench: %s\n", jobsError.c_str());
      return kExitFailure;
    }
    options.jobs = *jobs;
  }
  options.driverPath = line->Value("driver").value_or(DefaultDriverPath());
  options.dictionaryPath = line->Value("dictionary").value_or("");
  options.sqlitePath = line->Value("sqlite").value_or("");
  options.postgres = line->Value("postgres").value_or("");
  if (const auto variant = line->Value("variant")) {
    const auto parsed = search::ParseVariant(*variant);
    if (!parsed) {
      Report("unknown variant '" + *variant + "' (use raw or alphabet)");
      return kExitFailure;
    }
    options.variant = *parsed;
  }
  if (const auto dialect = line->Value("dialect")) {
    const auto parsed = search::ParseDialect(*dialect);
    if (!parsed) {
      Report("unknown dialect '" + *dialect + "' (use access or odbc)");
      return kExitFailure;
    }
    options.dialect = *parsed;
  }

  const std::optional<std::string> data = line->Value("data");
  const std::string directory = data ? *data + "/" : "";
  if (const auto file = line->Value("target-file")) {
    options.targetFile = *file;
  } else if (data) {
    options.targetFile = directory + kTargetsName;
  }
  for (const std::string& value : line->Values("query-file")) {
    const std::size_t equals = value.find('=');
    if (equals != std::string::npos && equals > 0) {
      options.queryFiles.push_back(
          {value.substr(0, equals), value.substr(equals + 1)});
    } else {
      const std::size_t slash = value.find_last_of('/');
      options.queryFiles.push_back(
          {slash == std::string::npos ? value : value.substr(slash + 1),
           value});
    }
  }
  if (options.queryFiles.empty() && data) {
    for (const QuerySetName& set : kQuerySets) {
      options.queryFiles.push_back({set.label, directory + set.file});
    }
  }

  const bool needsTargets = mode != "search";
  const bool needsQueries = mode == "quality" || mode == "search";
  if (mode != "throughput" && mode != "pruning" && mode != "quality" &&
      mode != "search" && mode != "screens") {
    Report("unknown mode '" + mode +
           "' (use throughput, pruning, quality, search or screens)");
    return kExitFailure;
  }
  if (needsTargets && options.targetFile.empty()) {
    Report("no targets: give --data DIR or --target-file FILE");
    return kExitFailure;
  }
  if (needsQueries && options.queryFiles.empty()) {
    Report("no queries: give --data DIR or --query-file FILE");
    return kExitFailure;
  }
  if (mode == "throughput") return bench::RunThroughput(options);
  if (mode == "pruning") return bench::RunPruning(options);
  if (mode == "quality") return bench::RunQuality(options);
  if (mode == "screens") return bench::RunScreenCosts(options);
  return bench::RunSearchTimes(options);
}

}  // namespace zolv::host

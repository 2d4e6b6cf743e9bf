#include "dict_choose_command.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "bench_data.h"
#include "dict_screen_finder.h"
#include "dictionary_format.h"
#include "driver_library.h"
#include "parallel_writer.h"
#include "rdcore.h"
#include "screen_chooser.h"
#include "screen_list.h"

namespace zolv::host {
namespace {

constexpr char kProgram[] = "zolv dict choose";

// Screen numbers whose raw "SBI" character a query pattern cannot give as
// it is: bell, double quote, "%", apostrophe, "*", "?", "[", "^", "_",
// "|". Their screens are wildcards or lose their character in one dialect
// or both, so the screens written least often in queries get them.
constexpr std::uint16_t kBlurredNumbers[] = {7,  34, 37, 39, 42,
                                             63, 91, 94, 95, 124};
static_assert(sizeof(kBlurredNumbers) / sizeof(kBlurredNumbers[0]) == 10);

// The most screens whose raw characters differ.
constexpr std::size_t kMaxChosen = 255;

const char kDetails[] =
    "Candidates:\n"
    "  The screens of the LIST files (the format of zolv dict build) and,\n"
    "  with --paths, every linear path of that many bonds found in the\n"
    "  sample molecules, written with atomic numbers, aromatic atoms and\n"
    "  bond orders, as far as its share of the molecules lies within\n"
    "  --path-share.\n"
    "\n"
    "Choice:\n"
    "  The driver finds every candidate in each sample molecule (as a\n"
    "  target) and in each sample query: the molecules themselves and\n"
    "  --pieces pieces cut from each, plus any --queries. A screen held by a\n"
    "  query and missing from a target removes that (query, target) pair\n"
    "  from a text preselection; the candidate that removes the most pairs\n"
    "  still left is chosen next, until --count are chosen. Candidates\n"
    "  slower than --max-cost microseconds per RDKit match are left out, as\n"
    "  is any candidate equivalent to a chosen one. Screens are sound\n"
    "  whatever is chosen: the choice only decides how much is removed.\n"
    "\n"
    "Output:\n"
    "  A screen list for zolv dict build: screen n is the n-th line. The\n"
    "  numbers whose raw characters a query pattern blurs (7, 34, 37, 39,\n"
    "  42, 63, 91, 94, 95, 124) go to the chosen screens that queries write\n"
    "  least often.\n"
    "\n"
    "Example:\n"
    "  zolv dict choose data/screen_candidates.txt --molecules "
    "first_5K.smi \\\n"
    "      --paths 1-5 -o screens.txt\n";

const CommandSpec& Definition() {
  static const CommandSpec command = [] {
    CommandSpec s;
    s.name = "zolv dict choose";
    s.arguments = "[LIST...]";
    s.summary =
        "Chooses the screens of a dictionary list from candidates, by what "
        "they remove from a text preselection on sample molecules.";
    s.options = {
        {"output", 'o', "FILE", "The screen list to write."},
        {"molecules", '\0', "FILE", "Sample molecules (SMILES)."},
        {"queries", '\0', "FILE", "More sample queries (SMILES).", true},
        {"sample", '\0', "N",
         "Use the first N sample molecules (default "
         "all)."},
        {"pieces", '\0', "N",
         "Pieces cut from each sample molecule as queries (default 2)."},
        {"piece-atoms", '\0', "MIN-MAX", "Atoms of a piece (default 4-16)."},
        {"paths", '\0', "MIN-MAX",
         "Add linear paths of MIN to MAX bonds as candidates (default: "
         "none)."},
        {"path-share", '\0', "MIN-MAX",
         "Percent of the sample molecules a path must lie in (default "
         "0.5-60)."},
        {"path-limit", '\0', "N",
         "At most N path candidates, the most frequent (default 1500)."},
        {"count", '\0', "N", "Screens to choose (default 255, at most 255)."},
        {"more-output", '\0', "N=FILE",
         "Also write the first N chosen screens as a list to FILE.", true},
        {"max-cost", '\0', "US",
         "Leave out candidates slower than US microseconds per match "
         "(default 40)."},
        {"seed", '\0', "N", "Seed of the piece cutting (default 1)."},
        {"driver", '\0', "PATH",
         "Driver library to load (default: the one beside zolv)."},
        MaxAtomsOption(),
        JobsOption(),
    };
    s.details = kDetails;
    return s;
  }();
  return command;
}

void Report(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
}

std::optional<std::size_t> ParseCount(const std::string& text) {
  if (text.empty() ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  if (errno != 0 || value > 100000000ull) return std::nullopt;
  return static_cast<std::size_t>(value);
}

// "MIN-MAX" of numbers; none when malformed or MIN > MAX.
std::optional<std::pair<double, double>> ParseRange(const std::string& text) {
  const std::size_t dash = text.find('-');
  if (dash == std::string::npos) return std::nullopt;
  char* end = nullptr;
  const std::string low = text.substr(0, dash);
  const std::string high = text.substr(dash + 1);
  const double a = std::strtod(low.c_str(), &end);
  if (low.empty() || *end != '\0') return std::nullopt;
  const double b = std::strtod(high.c_str(), &end);
  if (high.empty() || *end != '\0' || a < 0 || a > b) return std::nullopt;
  return std::pair{a, b};
}

struct Candidate {
  std::string smarts;
  std::string name;
  std::unique_ptr<rdcore::HostMolecule> query;  // its own query
  double microseconds = 0;
};

// Every candidate's screens in each object, through the driver and a
// dictionary of all candidates with empty lists (each tested on its own).
bool FindAll(const std::string& driverPath, const std::string& dictionary,
             bool query, const std::vector<HostObject*>& objects,
             const char* what, WorkerPool& pool,
             std::vector<std::vector<std::uint16_t>>* found) {
  ScreenFinder finder;
  std::string error;
  if (!finder.Open(driverPath, dictionary, query, &error)) {
    Report(error);
    return false;
  }
  bench::Progress progress(what, objects.size(), true);
  found->assign(objects.size(), {});
  std::vector<std::string> errors(objects.size());
  std::vector<char> written(objects.size(), 0);
  // In slices, so that progress moves while the pool works.
  const std::size_t slice = pool.size() * kItemsPerWorker;
  for (std::size_t first = 0; first < objects.size(); first += slice) {
    const std::size_t count = std::min(slice, objects.size() - first);
    pool.Run(count, [&](std::size_t, std::size_t offset) {
      const std::size_t i = first + offset;
      written[i] = finder.Find(objects[i], &(*found)[i], &errors[i]);
      // Numbers count from 1, candidates from 0.
      for (std::uint16_t& number : (*found)[i]) --number;
    });
    for (std::size_t i = first; i < first + count; ++i) {
      if (!written[i]) {
        progress.Finish();
        Report(std::string(what) + " " + std::to_string(i + 1) + ": " +
               errors[i]);
        return false;
      }
    }
    progress.Step(first + count - 1);
  }
  progress.Finish();
  return true;
}

}  // namespace

const CommandSpec& DictChooseCommandSpec() { return Definition(); }

int RunDictChoose(int argc, char** argv) {
  int exitCode = kExitSuccess;
  const auto line = ParseOrReport(Definition(), argc, argv, &exitCode);
  if (!line) return exitCode;
  const auto output = line->Value("output");
  const auto moleculesPath = line->Value("molecules");
  if (!output || !moleculesPath) {
    Report("give the sample with --molecules FILE and the output with -o FILE");
    return kExitFailure;
  }
  std::size_t sample = 0;
  std::size_t pieces = 2;
  std::size_t pathLimit = 1500;
  std::size_t count = kMaxChosen;
  std::size_t seed = 1;
  double maxCost = 40;
  std::pair<double, double> pieceAtoms{4, 16};
  std::optional<std::pair<double, double>> pathBonds;
  std::pair<double, double> pathShare{0.5, 60};
  for (const auto& [option, target] :
       {std::pair{"sample", &sample}, std::pair{"pieces", &pieces},
        std::pair{"path-limit", &pathLimit}, std::pair{"count", &count},
        std::pair{"seed", &seed}}) {
    if (const auto text = line->Value(option)) {
      const auto value = ParseCount(*text);
      if (!value) {
        Report(std::string("--") + option + " must be a whole number");
        return kExitFailure;
      }
      *target = *value;
    }
  }
  if (count == 0 || count > kMaxChosen) {
    Report("--count must lie between 1 and 255");
    return kExitFailure;
  }
  for (const auto& [option, target] : {std::pair{"piece-atoms", &pieceAtoms},
                                       std::pair{"path-share", &pathShare}}) {
    if (const auto text = line->Value(option)) {
      const auto range = ParseRange(*text);
      if (!range) {
        Report(std::string("--") + option + " must be MIN-MAX");
        return kExitFailure;
      }
      *target = *range;
    }
  }
  if (const auto text = line->Value("paths")) {
    pathBonds = ParseRange(*text);
    if (!pathBonds || pathBonds->first < 1) {
      Report("--paths must be MIN-MAX bonds, from 1");
      return kExitFailure;
    }
  }
  if (const auto text = line->Value("max-cost")) {
    char* end = nullptr;
    maxCost = std::strtod(text->c_str(), &end);
    if (text->empty() || *end != '\0' || maxCost <= 0) {
      Report("--max-cost must be a positive number");
      return kExitFailure;
    }
  }
  const std::string driverPath =
      line->Value("driver").value_or(DefaultDriverPath());
  std::string jobsError;
  const std::optional<std::size_t> jobs = ParseJobs(*line, &jobsError);
  if (!jobs) {
    Report(jobsError);
    return kExitFailure;
  }
  WorkerPool pool(*jobs);
  const auto start = std::chrono::steady_clock::now();

  // The sample.
  std::string error;
  std::size_t maxAtoms = kDefaultMaxAtoms;
  if (!ReadMaxAtoms(*line, &maxAtoms, &error)) {
    Report(error);
    return kExitFailure;
  }
  std::vector<bench::SmilesEntry> entries;
  if (!bench::ReadSmilesFile(*moleculesPath, sample, &entries, &error,
                             maxAtoms)) {
    Report(error);
    return kExitFailure;
  }
  std::size_t refused = 0;
  const std::vector<bench::BenchMolecule> molecules =
      bench::ParseMolecules(entries, rdcore::MoleculeRole::kTarget, &refused);
  const SampleMolecules samples = bench::RdkitMolecules(molecules);
  std::vector<bench::SmilesEntry> queryEntries;
  for (const bench::BenchMolecule& molecule : molecules) {
    queryEntries.push_back(*molecule.entry);
  }
  for (const std::string& piece :
       CutPieces(samples, pieces, static_cast<std::size_t>(pieceAtoms.first),
                 static_cast<std::size_t>(pieceAtoms.second),
                 static_cast<std::uint32_t>(seed))) {
    queryEntries.push_back({piece, "piece", 0});
  }
  for (const std::string& path : line->Values("queries")) {
    if (!bench::ReadSmilesFile(path, 0, &queryEntries, &error, maxAtoms)) {
      Report(error);
      return kExitFailure;
    }
  }
  std::size_t refusedQueries = 0;
  const std::vector<bench::BenchMolecule> queries = bench::ParseMolecules(
      queryEntries, rdcore::MoleculeRole::kQuery, &refusedQueries);

  // The candidates: listed ones, then paths.
  std::vector<Candidate> candidates;
  std::set<std::string> known;
  for (const std::string& path : line->Positional()) {
    std::ifstream in(path);
    if (!in) {
      Report(path + ": cannot open");
      return kExitFailure;
    }
    const ScreenList list = ParseScreenList(in);
    if (!list.problems.empty()) {
      Report(path + ":" + std::to_string(list.problems[0].line) + ": " +
             list.problems[0].message);
      return kExitFailure;
    }
    for (const ListedScreen& screen : list.screens) {
      if (known.insert(screen.smarts).second) {
        candidates.push_back({screen.smarts, screen.name, nullptr, 0});
      }
    }
  }
  if (pathBonds) {
    for (const PathScreen& path : CollectPaths(
             samples, static_cast<std::size_t>(pathBonds->first),
             static_cast<std::size_t>(pathBonds->second), pathShare.first / 100,
             pathShare.second / 100, pathLimit)) {
      if (known.insert(path.smarts).second) {
        candidates.push_back({path.smarts,
                              "path of " + std::to_string(path.bonds) +
                                  (path.bonds == 1 ? " bond" : " bonds"),
                              nullptr, 0});
      }
    }
  }
  if (candidates.empty()) {
    Report("no candidates: give a LIST or --paths");
    return kExitFailure;
  }
  if (candidates.size() > kMaxScreens) candidates.resize(kMaxScreens);

  // Every candidate must be readable; its cost is timed with RDKit on the
  // first few hundred sample molecules.
  constexpr std::size_t kTimedMolecules = 300;
  std::vector<bool> allowed(candidates.size(), false);
  std::size_t tooSlow = 0;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    Candidate& candidate = candidates[i];
    rdcore::ParsedMolecule parsed =
        rdcore::ParseMolecule(candidate.smarts, rdcore::Notation::kSmarts,
                              rdcore::MoleculeRole::kQuery);
    const std::optional<double> cost =
        MatchMicroseconds(candidate.smarts, samples, kTimedMolecules);
    if (!parsed.molecule || !cost) {
      Report("cannot read SMARTS \"" + candidate.smarts + "\"");
      return kExitFailure;
    }
    candidate.query = std::move(parsed.molecule);
    candidate.microseconds = *cost;
    allowed[i] = candidate.microseconds <= maxCost;
    if (!allowed[i]) ++tooSlow;
  }
  Report(std::to_string(candidates.size()) + " candidates (" +
         std::to_string(tooSlow) + " too slow), " +
         std::to_string(molecules.size()) + " sample molecules, " +
         std::to_string(queries.size()) + " sample queries");

  // One dictionary of all candidates, each on its own.
  DictionaryContent independent;
  independent.orderFlag = 1;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    independent.screens.push_back(
        {static_cast<std::uint16_t>(i + 1), {}, {}, candidates[i].smarts});
  }
  std::error_code code;
  const std::filesystem::path temporaryDirectory =
      std::filesystem::temp_directory_path(code);
  TemporaryFile scratch;
  if (code || !scratch.Create(temporaryDirectory.string(), ".vetorb", &error) ||
      !WriteDictionaryFile(scratch.path(), independent)) {
    Report("cannot write a temporary dictionary" +
           (error.empty() ? "" : ": " + error));
    return kExitFailure;
  }

  ChoiceInput input;
  input.candidates = candidates.size();
  input.count = count;
  input.allowed = allowed;
  std::vector<HostObject*> objects;
  for (const bench::BenchMolecule& molecule : molecules) {
    objects.push_back(molecule.host.get());
  }
  if (!FindAll(driverPath, scratch.path(), false, objects, "sample molecules",
               pool, &input.targetScreens)) {
    return kExitFailure;
  }
  objects.clear();
  for (const bench::BenchMolecule& query : queries) {
    objects.push_back(query.host.get());
  }
  if (!FindAll(driverPath, scratch.path(), true, objects, "sample queries",
               pool, &input.queryScreens)) {
    return kExitFailure;
  }
  objects.clear();
  for (const Candidate& candidate : candidates) {
    objects.push_back(candidate.query.get());
  }
  if (!FindAll(driverPath, scratch.path(), true, objects,
               "candidates' own queries", pool, &input.implied)) {
    return kExitFailure;
  }

  const ChoiceResult choice = ChooseScreens(input);
  if (choice.chosen.empty()) {
    Report("nothing could be chosen");
    return kExitFailure;
  }

  std::vector<std::size_t> holding(candidates.size(), 0);
  for (const auto& found : input.targetScreens) {
    for (const std::uint16_t s : found) ++holding[s];
  }
  // Writes the list of the first `take` chosen screens.
  const auto writeList = [&](const std::string& path, std::size_t take) {
    take = std::min(take, choice.chosen.size());
    const std::vector<std::size_t> chosen(choice.chosen.begin(),
                                          choice.chosen.begin() + take);
    std::uint64_t removed = 0;
    for (std::size_t i = 0; i < take; ++i) removed += choice.gains[i];
    // Numbers: the blurred ones to the screens written least often.
    const std::vector<std::size_t> written = WrittenCounts(input, chosen);
    std::vector<std::size_t> byUse = chosen;
    std::stable_sort(
        byUse.begin(), byUse.end(),
        [&](std::size_t a, std::size_t b) { return written[a] < written[b]; });
    std::vector<std::size_t> numbered(take, SIZE_MAX);
    std::set<std::size_t> placed;
    std::size_t next = 0;
    for (const std::uint16_t number : kBlurredNumbers) {
      if (number > numbered.size()) break;
      numbered[number - 1] = byUse[next];
      placed.insert(byUse[next]);
      ++next;
    }
    std::size_t fill = 0;
    for (const std::size_t s : chosen) {
      if (placed.count(s) != 0) continue;
      while (numbered[fill] != SIZE_MAX) ++fill;
      numbered[fill] = s;
    }

    std::ofstream out(path);
    const double sampleCount =
        static_cast<double>(std::max<std::size_t>(molecules.size(), 1));
    char share[32];
    std::snprintf(share, sizeof(share), "%.2f",
                  choice.pairs == 0
                      ? 0.0
                      : 100.0 * double(removed) / double(choice.pairs));
    out << "# Chosen by \"zolv dict choose\" from " << candidates.size()
        << " candidates on " << molecules.size() << " sample molecules and "
        << queries.size() << " sample queries:\n# " << take
        << " screens remove " << share
        << "% of the sample (query, target) pairs. Each line: SMARTS, name, "
           "then\n# the share of the sample molecules holding it and its "
           "RDKit match time.\n";
    for (std::size_t n = 0; n < numbered.size(); ++n) {
      const Candidate& candidate = candidates[numbered[n]];
      char note[96];
      std::snprintf(note, sizeof(note), "  # %.1f%%, %.1f us",
                    100.0 * double(holding[numbered[n]]) / sampleCount,
                    candidate.microseconds);
      std::string text = candidate.smarts;
      if (text.size() < 36) text.resize(36, ' ');
      out << text << ' ' << candidate.name << note << '\n';
    }
    out.close();
    if (!out) {
      Report(path + ": cannot be written");
      return false;
    }
    Report("wrote " + path + ": " + std::to_string(take) + " screens; " +
           std::to_string(static_cast<long long>(removed)) + " of " +
           std::to_string(static_cast<long long>(choice.pairs)) +
           " sample pairs removed");
    return true;
  };
  if (!writeList(*output, choice.chosen.size())) return kExitFailure;
  for (const std::string& more : line->Values("more-output")) {
    const std::size_t equals = more.find('=');
    const auto take = ParseCount(more.substr(0, equals));
    if (equals == std::string::npos || !take || *take == 0) {
      Report("--more-output must be N=FILE");
      return kExitFailure;
    }
    if (!writeList(more.substr(equals + 1), *take)) return kExitFailure;
  }
  Report(std::to_string(bench::SecondsSince(start)) + " s");
  return kExitSuccess;
}

}  // namespace zolv::host

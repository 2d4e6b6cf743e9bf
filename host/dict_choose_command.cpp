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
#include "command_context.h"
#include "dict_screen_finder.h"
#include "dictionary_format.h"
#include "parallel_writer.h"
#include "rdcore.h"
#include "screen_chooser.h"
#include "screen_list.h"

namespace zolv::host {
namespace {

constexpr char kProgram[] = "zolv dict choose";

// The most screens whose raw characters differ.
constexpr std::size_t kMaxChosen = 255;
// The limit of every count zolv dict choose reads.
constexpr std::uint64_t kMostCount = 100000000;
// Candidates are timed with RDKit on this many sample molecules.
constexpr std::size_t kTimedMolecules = 300;

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
        DriverOption(),
        MaxAtomsOption(),
        JobsOption(),
    };
    s.details = kDetails;
    return s;
  }();
  return command;
}

constexpr CommandContext kContext(kProgram);
void Report(const std::string& message) { kContext.Report(message); }

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

// What zolv dict choose is asked to do.
struct ChooseParameters {
  std::string output;                   // the screen list written
  std::string moleculesPath;            // the sample molecules (SMILES)
  std::vector<std::string> queryPaths;  // more sample queries (SMILES)
  std::vector<std::string> lists;       // candidate screen lists
  std::size_t sample = 0;               // sample molecules used; 0: all
  std::size_t pieces = 2;               // pieces cut from each as queries
  std::pair<double, double> pieceAtoms{4, 16};         // atoms of a piece
  std::size_t seed = 1;                                // of the piece cutting
  std::optional<std::pair<double, double>> pathBonds;  // none: no paths
  std::pair<double, double> pathShare{0.5, 60};        // percent holding a path
  std::size_t pathLimit = 1500;    // path candidates at most
  std::size_t count = kMaxChosen;  // screens chosen
  double maxCost = 40;             // microseconds per RDKit match at most
  std::string driverPath;          // empty: the driver beside zolv
  std::size_t maxAtoms = kDefaultMaxAtoms;  // larger molecules left out
  std::size_t jobs = 1;                     // threads writing the samples
};

// Reads and checks the command line; false after a report.
bool ReadParameters(const ParsedCommandLine& line, ChooseParameters* p) {
  const auto output = line.Value("output");
  const auto moleculesPath = line.Value("molecules");
  if (!output || !moleculesPath) {
    Report("give the sample with --molecules FILE and the output with -o FILE");
    return false;
  }
  p->output = *output;
  p->moleculesPath = *moleculesPath;
  p->queryPaths = line.Values("queries");
  p->lists = line.Positional();
  for (const auto& [option, target] :
       {std::pair{"sample", &p->sample}, std::pair{"pieces", &p->pieces},
        std::pair{"path-limit", &p->pathLimit}, std::pair{"seed", &p->seed}}) {
    if (!kContext.ReadNumber(line, option, 0, kMostCount, target)) {
      return false;
    }
  }
  if (!kContext.ReadNumber(line, "count", 1, kMaxChosen, &p->count)) {
    return false;
  }
  for (const auto& [option, target] :
       {std::pair{"piece-atoms", &p->pieceAtoms},
        std::pair{"path-share", &p->pathShare}}) {
    if (const auto text = line.Value(option)) {
      const auto range = ParseRange(*text);
      if (!range) {
        Report(std::string("--") + option + " must be MIN-MAX");
        return false;
      }
      *target = *range;
    }
  }
  if (const auto text = line.Value("paths")) {
    p->pathBonds = ParseRange(*text);
    if (!p->pathBonds || p->pathBonds->first < 1) {
      Report("--paths must be MIN-MAX bonds, from 1");
      return false;
    }
  }
  if (const auto text = line.Value("max-cost")) {
    char* end = nullptr;
    p->maxCost = std::strtod(text->c_str(), &end);
    if (text->empty() || *end != '\0' || p->maxCost <= 0) {
      Report("--max-cost must be a positive number");
      return false;
    }
  }
  p->driverPath = line.Value("driver").value_or("");
  return kContext.ReadJobs(line, &p->jobs) &&
         kContext.ReadMaxAtoms(line, &p->maxAtoms);
}

// The sample: molecules as targets, and as queries the molecules, pieces
// cut from them and any more queries.
struct Samples {
  std::vector<bench::SmilesEntry> entries;
  std::vector<bench::SmilesEntry> queryEntries;
  std::vector<bench::BenchMolecule> molecules;
  std::vector<bench::BenchMolecule> queries;
  SampleMolecules rdkit;  // the molecules' RDKit forms
};

bool ReadSamples(const ChooseParameters& p, Samples* s) {
  std::string error;
  if (!bench::ReadSmilesFile(p.moleculesPath, p.sample, &s->entries, &error,
                             p.maxAtoms)) {
    Report(error);
    return false;
  }
  std::size_t refused = 0;
  s->molecules = bench::ParseMolecules(s->entries,
                                       rdcore::MoleculeRole::kTarget, &refused);
  s->rdkit = bench::RdkitMolecules(s->molecules);
  for (const bench::BenchMolecule& molecule : s->molecules) {
    s->queryEntries.push_back(*molecule.entry);
  }
  for (const std::string& piece : CutPieces(
           s->rdkit, p.pieces, static_cast<std::size_t>(p.pieceAtoms.first),
           static_cast<std::size_t>(p.pieceAtoms.second),
           static_cast<std::uint32_t>(p.seed))) {
    s->queryEntries.push_back({piece, "piece", 0});
  }
  for (const std::string& path : p.queryPaths) {
    if (!bench::ReadSmilesFile(path, 0, &s->queryEntries, &error, p.maxAtoms)) {
      Report(error);
      return false;
    }
  }
  std::size_t refusedQueries = 0;
  s->queries = bench::ParseMolecules(
      s->queryEntries, rdcore::MoleculeRole::kQuery, &refusedQueries);
  return true;
}

struct Candidate {
  std::string smarts;
  std::string name;
  std::unique_ptr<rdcore::HostMolecule> query;  // its own query
  double microseconds = 0;
};

// The candidates: listed ones, then paths, each once, each read as a query
// and timed. False after a report.
bool CollectCandidates(const ChooseParameters& p, const Samples& samples,
                       std::vector<Candidate>* candidates) {
  std::set<std::string> known;
  for (const std::string& path : p.lists) {
    ScreenList list;
    std::string error;
    if (!ReadScreenListFile(path, &list, &error)) {
      Report(error);
      return false;
    }
    if (!list.problems.empty()) {
      Report(path + ":" + std::to_string(list.problems[0].line) + ": " +
             list.problems[0].message);
      return false;
    }
    for (const ListedScreen& screen : list.screens) {
      if (known.insert(screen.smarts).second) {
        candidates->push_back({screen.smarts, screen.name, nullptr, 0});
      }
    }
  }
  if (p.pathBonds) {
    for (const PathScreen& path : CollectPaths(
             samples.rdkit, static_cast<std::size_t>(p.pathBonds->first),
             static_cast<std::size_t>(p.pathBonds->second),
             p.pathShare.first / 100, p.pathShare.second / 100, p.pathLimit)) {
      if (known.insert(path.smarts).second) {
        candidates->push_back({path.smarts,
                               "path of " + std::to_string(path.bonds) +
                                   (path.bonds == 1 ? " bond" : " bonds"),
                               nullptr, 0});
      }
    }
  }
  if (candidates->empty()) {
    Report("no candidates: give a LIST or --paths");
    return false;
  }
  if (candidates->size() > kMaxScreens) candidates->resize(kMaxScreens);
  for (Candidate& candidate : *candidates) {
    rdcore::ParsedMolecule parsed =
        rdcore::ParseMolecule(candidate.smarts, rdcore::Notation::kSmarts,
                              rdcore::MoleculeRole::kQuery);
    const std::optional<double> cost =
        MatchMicroseconds(candidate.smarts, samples.rdkit, kTimedMolecules);
    if (!parsed.molecule || !cost) {
      Report("cannot read SMARTS \"" + candidate.smarts + "\"");
      return false;
    }
    candidate.query = std::move(parsed.molecule);
    candidate.microseconds = *cost;
  }
  return true;
}

// Every candidate's screens in each object, numbered from 0 as the
// candidates are. False after a report.
bool FindAll(const ChooseParameters& p, const IndependentScreens& screens,
             bool query, const std::vector<HostObject*>& objects,
             const char* what, WorkerPool& pool,
             std::vector<std::vector<std::uint16_t>>* found) {
  bench::Progress progress(what, objects.size(), true);
  std::size_t failed = 0;
  std::string error;
  const bool all = screens.FindAll(
      p.driverPath, query, objects, pool, found, &failed, &error,
      [&](std::size_t done) { progress.Step(done - 1); });
  progress.Finish();
  if (!all) {
    Report(failed < objects.size()
               ? std::string(what) + " " + std::to_string(failed + 1) + ": " +
                     error
               : error);
    return false;
  }
  for (std::vector<std::uint16_t>& numbers : *found) {
    for (std::uint16_t& number : numbers) --number;
  }
  return true;
}

std::vector<HostObject*> HostObjects(
    const std::vector<bench::BenchMolecule>& molecules) {
  std::vector<HostObject*> objects;
  for (const bench::BenchMolecule& molecule : molecules) {
    objects.push_back(molecule.host.get());
  }
  return objects;
}

// What the choice found, for the lists written from it.
struct Choice {
  ChoiceInput input;
  ChoiceResult result;
  std::vector<std::size_t> holding;  // per candidate: sample molecules
};

// Writes the list of the first take chosen screens. False after a report.
bool WriteList(const std::string& path, std::size_t take,
               const std::vector<Candidate>& candidates, const Samples& samples,
               const Choice& choice) {
  take = std::min(take, choice.result.chosen.size());
  const std::vector<std::size_t> chosen(choice.result.chosen.begin(),
                                        choice.result.chosen.begin() + take);
  std::uint64_t removed = 0;
  for (std::size_t i = 0; i < take; ++i) removed += choice.result.gains[i];
  const std::vector<std::size_t> numbered = NumberChosen(choice.input, chosen);

  std::ofstream out(path);
  const double sampleCount =
      static_cast<double>(std::max<std::size_t>(samples.molecules.size(), 1));
  char share[32];
  std::snprintf(share, sizeof(share), "%.2f",
                choice.result.pairs == 0
                    ? 0.0
                    : 100.0 * double(removed) / double(choice.result.pairs));
  out << "# Chosen by \"zolv dict choose\" from " << candidates.size()
      << " candidates on " << samples.molecules.size()
      << " sample molecules and " << samples.queries.size()
      << " sample queries:\n# " << take << " screens remove " << share
      << "% of the sample (query, target) pairs. Each line: SMARTS, name, "
         "then\n# the share of the sample molecules holding it and its "
         "RDKit match time.\n";
  for (const std::size_t n : numbered) {
    const Candidate& candidate = candidates[n];
    char note[96];
    std::snprintf(note, sizeof(note), "  # %.1f%%, %.1f us",
                  100.0 * double(choice.holding[n]) / sampleCount,
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
         std::to_string(static_cast<long long>(choice.result.pairs)) +
         " sample pairs removed");
  return true;
}

// Chooses from the candidates by what the driver finds in the samples.
// False after a report.
bool Choose(const ChooseParameters& p, const std::vector<Candidate>& candidates,
            const Samples& samples, Choice* choice) {
  std::vector<std::string> smarts;
  std::vector<HostObject*> ownQueries;
  std::size_t tooSlow = 0;
  ChoiceInput& input = choice->input;
  input.candidates = candidates.size();
  input.count = p.count;
  for (const Candidate& candidate : candidates) {
    smarts.push_back(candidate.smarts);
    ownQueries.push_back(candidate.query.get());
    input.allowed.push_back(candidate.microseconds <= p.maxCost);
    if (!input.allowed.back()) ++tooSlow;
  }
  Report(std::to_string(candidates.size()) + " candidates (" +
         std::to_string(tooSlow) + " too slow), " +
         std::to_string(samples.molecules.size()) + " sample molecules, " +
         std::to_string(samples.queries.size()) + " sample queries");

  // One dictionary of all candidates, each on its own.
  IndependentScreens screens;
  std::string error;
  if (!screens.Create(smarts, &error)) {
    Report("cannot write a temporary dictionary: " + error);
    return false;
  }
  WorkerPool pool(p.jobs);
  if (!FindAll(p, screens, false, HostObjects(samples.molecules),
               "sample molecules", pool, &input.targetScreens) ||
      !FindAll(p, screens, true, HostObjects(samples.queries), "sample queries",
               pool, &input.queryScreens) ||
      !FindAll(p, screens, true, ownQueries, "candidates' own queries", pool,
               &input.implied)) {
    return false;
  }
  choice->result = ChooseScreens(input);
  if (choice->result.chosen.empty()) {
    Report("nothing could be chosen");
    return false;
  }
  choice->holding.assign(candidates.size(), 0);
  for (const auto& found : input.targetScreens) {
    for (const std::uint16_t s : found) ++choice->holding[s];
  }
  return true;
}

}  // namespace

const CommandSpec& DictChooseCommandSpec() { return Definition(); }

namespace {

// The command once its parameters are read; the exit code.
int RunWithParameters(const ParsedCommandLine& line, ChooseParameters& p) {
  const auto start = std::chrono::steady_clock::now();
  Samples samples;
  std::vector<Candidate> candidates;
  Choice choice;
  if (!ReadSamples(p, &samples) ||
      !CollectCandidates(p, samples, &candidates) ||
      !Choose(p, candidates, samples, &choice) ||
      !WriteList(p.output, choice.result.chosen.size(), candidates, samples,
                 choice)) {
    return kExitFailure;
  }
  for (const std::string& more : line.Values("more-output")) {
    const std::size_t equals = more.find('=');
    const auto take = ParseWholeNumber(more.substr(0, equals), 1, kMostCount);
    if (equals == std::string::npos || !take) {
      Report("--more-output must be N=FILE");
      return kExitFailure;
    }
    if (!WriteList(more.substr(equals + 1), *take, candidates, samples,
                   choice)) {
      return kExitFailure;
    }
  }
  Report(std::to_string(bench::SecondsSince(start)) + " s");
  return kExitSuccess;
}

}  // namespace

int RunDictChoose(int argc, char** argv) {
  return RunCommand<ChooseParameters>(kContext, Definition(), argc, argv,
                                      ReadParameters, RunWithParameters);
}

}  // namespace zolv::host

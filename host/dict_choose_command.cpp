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
#include <tuple>
#include <vector>

#include "bench_data.h"
#include "choice_sample_file.h"
#include "command_context.h"
#include "dict_screen_finder.h"
#include "dictionary_format.h"
#include "numbering_search.h"
#include "parallel_writer.h"
#include "progress_meter.h"
#include "rdcore.h"
#include "sbi_text_writer.h"
#include "screen_chooser.h"
#include "screen_list.h"

namespace zolv::host {
namespace {

constexpr char kProgram[] = "zolv dict choose";

// The most screens chosen: far more than any text of the raw variant can
// tell apart, enough to measure where more stop paying.
constexpr std::size_t kMaxChosen = 4000;
// The limit of every count zolv dict choose reads.
constexpr std::uint64_t kMostCount = 100000000;
// Candidates are timed with RDKit on this many sample molecules.
constexpr std::size_t kTimedMolecules = 300;

const char kDetails[] =
    "Candidates:\n"
    "  The screens of the LIST files (the format of zolv dict build) and the\n"
    "  pieces of the sample molecules asked for: --paths (linear paths),\n"
    "  --subgraphs (pieces that branch or close a ring), --rings (a ring of\n"
    "  at most 7 atoms with one or two substituent atoms, once by element and\n"
    "  once as any atom), --ring-pairs (two fused rings, bare and with one\n"
    "  substituent atom), --ring-arms (a ring with a chain of two bonds),\n"
    "  --grown (pieces grown at random, --grown-tries in each molecule).\n"
    "  Pieces are written with atomic numbers, aromatic atoms and bond\n"
    "  orders, and kept when their share of the molecules lies within\n"
    "  --path-share; subgraphs and ring pieces come from every --stride-th\n"
    "  molecule.\n"
    "\n"
    "Sample:\n"
    "  The driver finds every candidate in each sample molecule (as a\n"
    "  target) and in each sample query: the molecules themselves and\n"
    "  --pieces pieces cut from each, plus any --queries. Sample molecules\n"
    "  whose canonical SMILES is in an --exclude file are left out first, so\n"
    "  that no molecule a benchmark measures on is chosen from.\n"
    "  --save-sample FILE keeps all of that in a text file (see README);\n"
    "  --from-sample FILE reads it back instead of --molecules and the\n"
    "  candidate options, so that choice and numbering rerun in seconds.\n"
    "  Several --from-sample files of the same sample (separate runs with\n"
    "  other candidates on the same molecules and options) are merged, and\n"
    "  which candidates imply which is found afresh with the driver.\n"
    "\n"
    "Choice:\n"
    "  A screen held by a query and missing from a target removes that\n"
    "  (query, target) pair from a text preselection; the candidate with the\n"
    "  largest gain is chosen next, until --count are chosen. --objective\n"
    "  pairs counts the pairs removed; log (default) adds, per query, the\n"
    "  log of how far its targets left shrink, so that selective queries\n"
    "  weigh as much as broad ones. Candidates slower than --max-cost\n"
    "  microseconds per RDKit match are left out, as is any candidate\n"
    "  equivalent to a chosen one. Screens are sound whatever is chosen: the\n"
    "  choice only decides how much is removed.\n"
    "\n"
    "Numbering:\n"
    "  The numbers whose raw characters a query pattern blurs (7, 34, 37,\n"
    "  39, 42, 63, 91, 94, 95, 124, and those plus 256, 512, ...) go to the\n"
    "  chosen screens that queries write least often. The others: 'order'\n"
    "  keeps the order chosen; 'cost' gives each screen the number that\n"
    "  shares its raw character (n mod 256) and alphabet position\n"
    "  ((n - 1) mod 64 + 1) with the screens whose sharing loses fewest\n"
    "  sample pairs; 'measured' (default) starts there and tries\n"
    "  --numbering-swaps swaps of the numbers of screens on the same\n"
    "  alphabet position (so that the alphabet texts stay), keeping each\n"
    "  swap after which the raw Access patterns of --numbering-sample\n"
    "  sample queries, written by the driver's encoders and matched byte for\n"
    "  byte against the raw texts of as many sample targets, let no more\n"
    "  pairs through.\n"
    "\n"
    "Output:\n"
    "  A screen list for zolv dict build: screen n is the n-th line; its\n"
    "  header records this command and how the sample was made.\n"
    "\n"
    "Example:\n"
    "  zolv dict choose data/screen_candidates.txt --molecules "
    "samples.smi \\\n"
    "      --exclude benchmark.smi --paths 1-6 --subgraphs 3-5 --rings 800 \\\n"
    "      --save-sample sample.txt --count 255 -o screens.txt\n";

const CommandSpec& Definition() {
  static const CommandSpec command = [] {
    CommandSpec s;
    s.name = "zolv dict choose";
    s.arguments = "[LIST...]";
    s.summary =
        "Chooses and numbers the screens of a dictionary list from "
        "candidates, by what they remove from a text preselection on sample "
        "molecules.";
    s.options = {
        {"output", 'o', "FILE", "The screen list to write."},
        {"molecules", '\0', "FILE", "Sample molecules (SMILES)."},
        {"from-sample", '\0', "FILE",
         "Read candidates and what was found in the sample from FILE, "
         "written by --save-sample, instead of --molecules; repeatable.",
         true},
        {"save-sample", '\0', "FILE",
         "Write the candidates and what was found in the sample to FILE."},
        {"exclude", '\0', "FILE",
         "Leave out every sample molecule whose canonical SMILES FILE "
         "(SMILES) holds.",
         true},
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
         "Percent of the sample molecules a collected piece must lie in "
         "(default 0.5-60)."},
        {"path-limit", '\0', "N",
         "At most N path candidates, the most frequent (default 1500)."},
        {"subgraphs", '\0', "MIN-MAX",
         "Add pieces of MIN to MAX bonds that branch or close a ring "
         "(default: none)."},
        {"subgraph-limit", '\0', "N",
         "At most N of them, the most frequent (default 1500)."},
        {"rings", '\0', "N",
         "Add at most N rings with one or two substituents (default 0)."},
        {"ring-pairs", '\0', "N",
         "Add at most N pairs of fused rings (default 0)."},
        {"ring-arms", '\0', "N",
         "Add at most N rings with a chain of two bonds (default 0)."},
        {"grown", '\0', "MIN-MAX",
         "Add pieces of MIN to MAX bonds grown at random in each sample "
         "molecule (default: none)."},
        {"grown-tries", '\0', "N",
         "Pieces grown per sample molecule (default 40)."},
        {"grown-limit", '\0', "N",
         "At most N grown candidates, the most frequent (default 1000)."},
        {"stride", '\0', "N",
         "Collect subgraphs and ring pieces from every N-th sample molecule "
         "(default 1)."},
        {"count", '\0', "N", "Screens to choose (default 255, at most 4000)."},
        {"objective", '\0', "pairs|log",
         "What the choice maximizes (default log)."},
        {"numbering", '\0', "order|cost|measured",
         "How the chosen screens are numbered (default measured)."},
        {"numbering-swaps", '\0', "N",
         "Swaps the measured numbering tries, per list (default 20000)."},
        {"numbering-sample", '\0', "N",
         "Sample targets and queries, each, whose texts the measured "
         "numbering matches (default 3000)."},
        {"numbering-weight", '\0', "P",
         "The measured numbering counts a sample query's pairs 1 / (1 + its "
         "contained pairs) to the power P: 1 weighs every query alike, 0 "
         "every pair (default 1)."},
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

enum class Numbering { kOrder, kCost, kMeasured };

// What zolv dict choose is asked to do.
struct ChooseParameters {
  std::string output;                     // the screen list written
  std::string moleculesPath;              // the sample molecules (SMILES)
  std::vector<std::string> fromSample;    // saved samples read instead
  std::string saveSample;                 // where to save the sample
  std::vector<std::string> excludePaths;  // molecules never sampled
  std::vector<std::string> queryPaths;    // more sample queries (SMILES)
  std::vector<std::string> lists;         // candidate screen lists
  std::size_t sample = 0;                 // sample molecules used; 0: all
  std::size_t pieces = 2;                 // pieces cut from each as queries
  std::pair<double, double> pieceAtoms{4, 16};         // atoms of a piece
  std::size_t seed = 1;                                // of the piece cutting
  std::optional<std::pair<double, double>> pathBonds;  // none: no paths
  std::pair<double, double> pathShare{0.5, 60};  // percent holding a piece
  std::size_t pathLimit = 1500;                  // path candidates at most
  std::optional<std::pair<double, double>> subgraphBonds;  // none: none
  std::size_t subgraphLimit = 1500;  // subgraph candidates at most
  std::size_t rings = 0;             // rings with substituents at most
  std::size_t ringPairs = 0;         // fused ring pairs at most
  std::size_t ringArms = 0;          // rings with a two-bond chain at most
  std::optional<std::pair<double, double>> grownBonds;  // none: none
  std::size_t grownTries = 40;    // pieces grown per molecule
  std::size_t grownLimit = 1000;  // grown candidates at most
  std::size_t stride = 1;         // every stride-th molecule for pieces
  std::size_t count = 255;        // screens chosen
  bool logObjective = true;       // the log objective, else pairs
  Numbering numbering = Numbering::kMeasured;
  std::size_t numberingSwaps = 20000;  // tried per list written
  double numberingWeight = 1;          // power of a query's weight
  std::size_t numberingSample = 3000;  // targets and queries, each
  double maxCost = 40;                 // microseconds per RDKit match at most
  std::string driverPath;              // empty: the driver beside zolv
  std::size_t maxAtoms = kDefaultMaxAtoms;  // larger molecules left out
  std::size_t jobs = 1;                     // threads writing the samples
  std::string command;  // the command line, for the lists' headers
  /// More lists: the first N chosen screens, each to its file.
  std::vector<std::pair<std::size_t, std::string>> moreOutputs;
};

// Reads and checks the command line; false after a report.
// The command line as it could be typed again, without --jobs, which
// changes nothing that is written.
std::string CommandText(const ParsedCommandLine& line) {
  std::string text = kProgram;
  for (const Argument& argument : line.arguments()) {
    if (argument.option == "jobs") continue;
    text += ' ';
    if (!argument.option.empty()) text += "--" + argument.option;
    if (!argument.option.empty() && !argument.value.empty()) text += ' ';
    text += argument.value;
  }
  return text;
}

bool ReadParameters(const ParsedCommandLine& line, ChooseParameters* p) {
  const auto output = line.Value("output");
  const auto moleculesPath = line.Value("molecules");
  const std::vector<std::string> fromSample = line.Values("from-sample");
  if (!output || moleculesPath.has_value() == !fromSample.empty()) {
    Report(
        "give the sample with --molecules FILE or --from-sample FILE, "
        "and the output with -o FILE");
    return false;
  }
  p->output = *output;
  p->moleculesPath = moleculesPath.value_or("");
  p->fromSample = fromSample;
  p->saveSample = line.Value("save-sample").value_or("");
  p->excludePaths = line.Values("exclude");
  p->queryPaths = line.Values("queries");
  p->lists = line.Positional();
  p->command = CommandText(line);
  for (const auto& [option, target] :
       {std::pair{"sample", &p->sample}, std::pair{"pieces", &p->pieces},
        std::pair{"path-limit", &p->pathLimit}, std::pair{"seed", &p->seed},
        std::pair{"subgraph-limit", &p->subgraphLimit},
        std::pair{"rings", &p->rings}, std::pair{"ring-pairs", &p->ringPairs},
        std::pair{"ring-arms", &p->ringArms},
        std::pair{"grown-tries", &p->grownTries},
        std::pair{"grown-limit", &p->grownLimit}}) {
    if (!kContext.ReadNumber(line, option, 0, kMostCount, target)) {
      return false;
    }
  }
  if (!kContext.ReadNumber(line, "stride", 1, kMostCount, &p->stride) ||
      !kContext.ReadNumber(line, "numbering-swaps", 0, kMostCount,
                           &p->numberingSwaps) ||
      !kContext.ReadNumber(line, "numbering-sample", 1, kMostCount,
                           &p->numberingSample)) {
    return false;
  }
  if (const auto text = line.Value("objective")) {
    if (*text != "pairs" && *text != "log") {
      Report("--objective must be pairs or log");
      return false;
    }
    p->logObjective = *text == "log";
  }
  if (const auto text = line.Value("numbering")) {
    if (*text == "order") {
      p->numbering = Numbering::kOrder;
    } else if (*text == "cost") {
      p->numbering = Numbering::kCost;
    } else if (*text != "measured") {
      Report("--numbering must be order, cost or measured");
      return false;
    }
  }
  if (const auto text = line.Value("numbering-weight")) {
    char* end = nullptr;
    p->numberingWeight = std::strtod(text->c_str(), &end);
    if (text->empty() || *end != '\0' || !(p->numberingWeight >= 0) ||
        p->numberingWeight > 4) {
      Report("--numbering-weight must be a number from 0 to 4");
      return false;
    }
  }
  for (const auto& [option, target] :
       {std::pair{"subgraphs", &p->subgraphBonds},
        std::pair{"grown", &p->grownBonds}}) {
    if (const auto text = line.Value(option)) {
      *target = ParseRange(*text);
      if (!*target || (*target)->first < 1) {
        Report(std::string("--") + option + " must be MIN-MAX bonds, from 1");
        return false;
      }
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
  if (!kContext.ReadJobs(line, &p->jobs) ||
      !kContext.ReadMaxAtoms(line, &p->maxAtoms)) {
    return false;
  }
  // Every --more-output is checked before hours of work.
  for (const std::string& text : line.Values("more-output")) {
    const std::size_t equals = text.find('=');
    const auto take =
        equals == std::string::npos
            ? std::nullopt
            : ParseWholeNumber(text.substr(0, equals), 1, kMaxChosen);
    if (!take || equals + 1 == text.size()) {
      Report("--more-output must be N=FILE");
      return false;
    }
    p->moreOutputs.emplace_back(static_cast<std::size_t>(*take),
                                text.substr(equals + 1));
  }
  return true;
}

// The sample: molecules as targets, and as queries the molecules, pieces
// cut from them and any more queries.
struct Samples {
  std::vector<bench::SmilesEntry> entries;
  std::vector<bench::SmilesEntry> queryEntries;
  std::vector<bench::BenchMolecule> molecules;
  std::vector<bench::BenchMolecule> queries;
  SampleMolecules rdkit;     // the molecules' RDKit forms
  std::size_t excluded = 0;  // molecules left out by --exclude
};

// The canonical SMILES of every molecule of the --exclude files. False
// after a report.
bool ReadExcluded(const ChooseParameters& p, std::set<std::string>* excluded) {
  for (const std::string& path : p.excludePaths) {
    std::vector<bench::SmilesEntry> entries;
    std::string error;
    if (!bench::ReadSmilesFile(path, 0, &entries, &error, 0)) {
      Report(error);
      return false;
    }
    for (const bench::SmilesEntry& entry : entries) {
      if (const auto canonical = CanonicalSmiles(entry.smiles)) {
        excluded->insert(*canonical);
      }
    }
  }
  return true;
}

bool ReadSamples(const ChooseParameters& p, Samples* s) {
  std::string error;
  std::set<std::string> excluded;
  if (!ReadExcluded(p, &excluded) ||
      !bench::ReadSmilesFile(p.moleculesPath, p.sample, &s->entries, &error,
                             p.maxAtoms)) {
    if (!error.empty()) Report(error);
    return false;
  }
  std::size_t refused = 0;
  std::vector<bench::BenchMolecule> parsed = bench::ParseMolecules(
      s->entries, rdcore::MoleculeRole::kTarget, &refused);
  for (bench::BenchMolecule& molecule : parsed) {
    if (!excluded.empty() &&
        excluded.count(CanonicalSmiles(*molecule.rdkit)) != 0) {
      ++s->excluded;
      continue;
    }
    s->molecules.push_back(std::move(molecule));
  }
  if (!p.excludePaths.empty()) {
    Report(std::to_string(s->excluded) +
           " sample molecules left out: --exclude holds them");
  }
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

// "path of 3 bonds"
std::string PieceName(const char* family, std::size_t bonds) {
  return std::string(family) + " of " + std::to_string(bonds) +
         (bonds == 1 ? " bond" : " bonds");
}

// The candidates: listed ones, then the pieces of the samples, each once,
// each read as a query and timed. False after a report.
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
  const auto add = [&](const char* family,
                       const std::vector<PathScreen>& pieces) {
    std::size_t added = 0;
    for (const PathScreen& piece : pieces) {
      if (known.insert(piece.smarts).second) {
        candidates->push_back(
            {piece.smarts, PieceName(family, piece.bonds), nullptr, 0});
        ++added;
      }
    }
    Report(std::string(family) + ": " + std::to_string(added) + " candidates");
  };
  const double minShare = p.pathShare.first / 100;
  const double maxShare = p.pathShare.second / 100;
  if (p.pathBonds) {
    add("path", CollectPaths(samples.rdkit,
                             static_cast<std::size_t>(p.pathBonds->first),
                             static_cast<std::size_t>(p.pathBonds->second),
                             minShare, maxShare, p.pathLimit));
  }
  if (p.subgraphBonds) {
    add("subgraph",
        CollectSubgraphs(samples.rdkit,
                         static_cast<std::size_t>(p.subgraphBonds->first),
                         static_cast<std::size_t>(p.subgraphBonds->second),
                         minShare, maxShare, p.subgraphLimit, p.stride));
  }
  if (p.grownBonds) {
    add("grown piece",
        GrowPieces(samples.rdkit, static_cast<std::size_t>(p.grownBonds->first),
                   static_cast<std::size_t>(p.grownBonds->second), p.grownTries,
                   minShare, maxShare, p.grownLimit,
                   static_cast<std::uint32_t>(p.seed)));
  }
  for (const auto& [kind, limit, family] :
       {std::tuple{RingPiece::kSubstituents, p.rings, "ring with substituents"},
        std::tuple{RingPiece::kFusedPairs, p.ringPairs, "fused ring pair"},
        std::tuple{RingPiece::kArms, p.ringArms, "ring with a chain"}}) {
    if (limit > 0) {
      add(family, CollectRingPieces(samples.rdkit, kind, minShare, maxShare,
                                    limit, p.stride));
    }
  }
  if (candidates->empty()) {
    Report("no candidates: give a LIST or pieces to collect");
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
  ProgressMeter progress(what, objects.size(), true);
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

// The formula fragments of the objects' raw and alphabet texts (targets) or
// Access patterns (queries): what the driver writes with a dictionary of one
// screen that no molecule holds. False after a report.
bool FindFormulas(const ChooseParameters& p, bool query,
                  const std::vector<HostObject*>& objects, WorkerPool& pool,
                  std::vector<SampleObject>* sampled) {
  IndependentScreens none;
  SbiTextWriter writer;
  std::string error;
  if (!none.Create({"[#118]"}, &error) ||
      !writer.Open(p.driverPath, none.path(), &error)) {
    Report(error);
    return false;
  }
  const ScreenMode mode = query ? ScreenMode::kQuery : ScreenMode::kTarget;
  std::vector<std::string> errors(objects.size());
  pool.Run(objects.size(), [&](std::size_t, std::size_t i) {
    search::BudgetedText raw;
    search::BudgetedText alphabet;
    if (writer.WriteBudgeted(objects[i], mode, search::TextVariant::kRaw,
                             WildcardDialect::kAccess, 0, &raw, &errors[i]) &&
        writer.WriteBudgeted(objects[i], mode, search::TextVariant::kAlphabet,
                             WildcardDialect::kAccess, 0, &alphabet,
                             &errors[i])) {
      (*sampled)[i].rawFormula = raw.text;
      (*sampled)[i].alphabetFormula = alphabet.text;
    }
  });
  for (std::size_t i = 0; i < objects.size(); ++i) {
    if (!errors[i].empty()) {
      Report("formula of sample " + std::to_string(i + 1) + ": " + errors[i]);
      return false;
    }
  }
  return true;
}

// The temporary dictionary of the candidates, each on its own. False after
// a report.
bool CreateScreens(const std::vector<std::string>& smarts,
                   IndependentScreens* screens) {
  std::string error;
  if (screens->Create(smarts, &error)) return true;
  Report("cannot write a temporary dictionary: " + error);
  return false;
}

// Finds every candidate in the samples: the sample a choice is made on.
// False after a report.
bool FindSample(const ChooseParameters& p, std::vector<Candidate>& candidates,
                const Samples& samples, ChoiceSample* sample) {
  std::vector<std::string> smarts;
  std::vector<HostObject*> ownQueries;
  std::size_t tooSlow = 0;
  for (const Candidate& candidate : candidates) {
    smarts.push_back(candidate.smarts);
    ownQueries.push_back(candidate.query.get());
    const bool allowed = candidate.microseconds <= p.maxCost;
    if (!allowed) ++tooSlow;
    sample->candidates.push_back(
        {candidate.smarts, candidate.name, candidate.microseconds, allowed});
  }
  Report(std::to_string(candidates.size()) + " candidates (" +
         std::to_string(tooSlow) + " too slow), " +
         std::to_string(samples.molecules.size()) + " sample molecules, " +
         std::to_string(samples.queries.size()) + " sample queries");

  // One dictionary of all candidates, each on its own.
  IndependentScreens screens;
  if (!CreateScreens(smarts, &screens)) return false;
  WorkerPool pool(p.jobs);
  std::vector<std::vector<std::uint16_t>> targetScreens;
  std::vector<std::vector<std::uint16_t>> queryScreens;
  const std::vector<HostObject*> targets = HostObjects(samples.molecules);
  const std::vector<HostObject*> queries = HostObjects(samples.queries);
  if (!FindAll(p, screens, false, targets, "sample molecules", pool,
               &targetScreens) ||
      !FindAll(p, screens, true, queries, "sample queries", pool,
               &queryScreens) ||
      !FindAll(p, screens, true, ownQueries, "candidates' own queries", pool,
               &sample->implied)) {
    return false;
  }
  sample->targets.resize(targets.size());
  sample->queries.resize(queries.size());
  for (std::size_t t = 0; t < targets.size(); ++t) {
    sample->targets[t].found = std::move(targetScreens[t]);
  }
  for (std::size_t q = 0; q < queries.size(); ++q) {
    sample->queries[q].found = std::move(queryScreens[q]);
  }
  if (!FindFormulas(p, false, targets, pool, &sample->targets) ||
      !FindFormulas(p, true, queries, pool, &sample->queries)) {
    return false;
  }
  sample->origin = p.command + " (" + std::to_string(samples.molecules.size()) +
                   " sample molecules, " + std::to_string(samples.excluded) +
                   " left out by --exclude; " +
                   std::to_string(samples.queries.size()) + " sample queries)";
  return true;
}

// Which candidates each candidate's own query holds, found afresh for all
// of them: after a merge, implications across the merged files are not
// known. False after a report.
bool FindImplied(const ChooseParameters& p, ChoiceSample* sample) {
  std::vector<std::string> smarts;
  std::vector<std::unique_ptr<rdcore::HostMolecule>> queries;
  std::vector<HostObject*> objects;
  for (const ChoiceCandidate& candidate : sample->candidates) {
    rdcore::ParsedMolecule parsed =
        rdcore::ParseMolecule(candidate.smarts, rdcore::Notation::kSmarts,
                              rdcore::MoleculeRole::kQuery);
    if (!parsed.molecule) {
      Report("cannot read SMARTS \"" + candidate.smarts + "\"");
      return false;
    }
    smarts.push_back(candidate.smarts);
    objects.push_back(parsed.molecule.get());
    queries.push_back(std::move(parsed.molecule));
  }
  IndependentScreens screens;
  if (!CreateScreens(smarts, &screens)) return false;
  WorkerPool pool(p.jobs);
  return FindAll(p, screens, true, objects, "candidates' own queries", pool,
                 &sample->implied);
}

// The sample, found now or read back. False after a report.
bool ObtainSample(const ChooseParameters& p, ChoiceSample* sample) {
  std::string error;
  if (!p.fromSample.empty()) {
    for (std::size_t i = 0; i < p.fromSample.size(); ++i) {
      ChoiceSample read;
      ChoiceSample* target = i == 0 ? sample : &read;
      if (!ReadChoiceSample(p.fromSample[i], target, &error)) {
        Report(error);
        return false;
      }
      Report("read " + p.fromSample[i] + ": " +
             std::to_string(target->candidates.size()) + " candidates, " +
             std::to_string(target->targets.size()) + " sample molecules, " +
             std::to_string(target->queries.size()) + " sample queries");
      if (i != 0 && !MergeChoiceSample(sample, read, &error)) {
        Report(p.fromSample[i] + ": " + error);
        return false;
      }
    }
    if (p.fromSample.size() > 1 && !FindImplied(p, sample)) return false;
  } else {
    Samples samples;
    std::vector<Candidate> candidates;
    if (!ReadSamples(p, &samples) ||
        !CollectCandidates(p, samples, &candidates) ||
        !FindSample(p, candidates, samples, sample)) {
      return false;
    }
  }
  if (!p.saveSample.empty()) {
    if (!WriteChoiceSample(p.saveSample, *sample, &error)) {
      Report(error);
      return false;
    }
    Report("wrote " + p.saveSample);
  }
  return true;
}

// What the choice found, for the lists written from it.
struct Choice {
  ChoiceInput input;
  ChoiceResult result;
  std::vector<std::size_t> holding;  // per candidate: sample molecules
};

// The numbering simulation's objects: the chosen screens each sample holds
// (targets) or writes (queries), for at most `most` of each, evenly spread.
std::vector<NumberingObject> NumberingObjects(
    const std::vector<SampleObject>& objects,
    const std::vector<std::vector<std::uint16_t>>& implied,
    const std::vector<std::size_t>& chosen, bool query, std::size_t most) {
  std::vector<std::size_t> rank(implied.size(), SIZE_MAX);
  for (std::size_t i = 0; i < chosen.size(); ++i) rank[chosen[i]] = i;
  std::vector<NumberingObject> result;
  const std::size_t stride = std::max<std::size_t>(1, objects.size() / most);
  for (std::size_t i = 0; i < objects.size() && result.size() < most;
       i += stride) {
    const SampleObject& object = objects[i];
    NumberingObject simulated{{}, object.rawFormula, object.alphabetFormula};
    for (const std::uint16_t s : object.found) {
      if (rank[s] == SIZE_MAX) continue;
      // A query writes the found screens that no other found one implies.
      bool shadowed = false;
      for (const std::uint16_t other : object.found) {
        shadowed =
            shadowed || (query && other != s && rank[other] != SIZE_MAX &&
                         std::binary_search(implied[other].begin(),
                                            implied[other].end(), s));
      }
      if (!shadowed) {
        simulated.screens.push_back(static_cast<std::uint16_t>(rank[s]));
      }
    }
    std::sort(simulated.screens.begin(), simulated.screens.end());
    result.push_back(std::move(simulated));
  }
  return result;
}

std::string ScoreText(const NumberingScore& score) {
  char text[160];
  std::snprintf(text, sizeof(text),
                "%llu of %llu sample pairs contained; raw Access lets %llu "
                "through, alphabet %llu",
                static_cast<unsigned long long>(score.contained),
                static_cast<unsigned long long>(score.pairs),
                static_cast<unsigned long long>(score.raw),
                static_cast<unsigned long long>(score.alphabet));
  return text;
}

// Entry n - 1: the candidate numbered n.
std::vector<std::size_t> Number(const ChooseParameters& p,
                                const ChoiceSample& sample,
                                const Choice& choice,
                                const std::vector<std::size_t>& chosen) {
  if (p.numbering == Numbering::kOrder) {
    return NumberChosen(choice.input, chosen);
  }
  std::vector<std::size_t> byCost = NumberByCost(choice.input, chosen);
  if (p.numbering == Numbering::kCost) return byCost;
  const std::vector<NumberingObject> targets = NumberingObjects(
      sample.targets, sample.implied, chosen, false, p.numberingSample);
  const std::vector<NumberingObject> queries = NumberingObjects(
      sample.queries, sample.implied, chosen, true, p.numberingSample);
  std::vector<std::size_t> rank(sample.candidates.size(), 0);
  for (std::size_t i = 0; i < chosen.size(); ++i) rank[chosen[i]] = i;
  std::vector<std::size_t> numbers(chosen.size());  // per chosen index
  for (std::size_t n = 0; n < byCost.size(); ++n)
    numbers[rank[byCost[n]]] = n + 1;
  Report("numbering " + std::to_string(chosen.size()) + " screens by cost: " +
         ScoreText(ScoreNumbering(targets, queries, numbers)));
  NumberingSearchOptions options;
  options.swaps = p.numberingSwaps;
  options.seed = static_cast<std::uint32_t>(p.seed);
  options.queryWeightPower = p.numberingWeight;
  numbers = SearchNumbering(targets, queries, numbers, options,
                            [&](std::size_t tried, std::size_t kept) {
                              Report("numbering: " + std::to_string(tried) +
                                     " swaps tried, " + std::to_string(kept) +
                                     " kept");
                            });
  Report("numbering " + std::to_string(chosen.size()) + " screens measured: " +
         ScoreText(ScoreNumbering(targets, queries, numbers)));
  std::vector<std::size_t> numbered(chosen.size());
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    numbered[numbers[i] - 1] = chosen[i];
  }
  return numbered;
}

// Writes the list of the first take chosen screens. False after a report.
bool WriteList(const ChooseParameters& p, const std::string& path,
               std::size_t take, const ChoiceSample& sample,
               const Choice& choice) {
  take = std::min(take, choice.result.chosen.size());
  const std::vector<std::size_t> chosen(choice.result.chosen.begin(),
                                        choice.result.chosen.begin() + take);
  std::uint64_t removed = 0;
  for (std::size_t i = 0; i < take; ++i) removed += choice.result.gains[i];
  const std::vector<std::size_t> numbered = Number(p, sample, choice, chosen);

  std::ofstream out(path);
  const double sampleCount =
      static_cast<double>(std::max<std::size_t>(sample.targets.size(), 1));
  char share[32];
  std::snprintf(share, sizeof(share), "%.2f",
                choice.result.pairs == 0
                    ? 0.0
                    : 100.0 * double(removed) / double(choice.result.pairs));
  out << "# Chosen by\n#   " << p.command << "\n# from the sample of\n#   "
      << sample.origin << "\n# " << take << " of " << sample.candidates.size()
      << " candidates; they remove " << share
      << "% of the sample (query, target) pairs. Each line: SMARTS, name,\n"
         "# then the share of the sample molecules holding it and its RDKit "
         "match time.\n";
  for (const std::size_t n : numbered) {
    const ChoiceCandidate& candidate = sample.candidates[n];
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

// Chooses from the candidates by what the driver found in the sample.
// False after a report.
bool Choose(const ChooseParameters& p, const ChoiceSample& sample,
            Choice* choice) {
  ChoiceInput& input = choice->input;
  input.candidates = sample.candidates.size();
  input.count = p.count;
  input.logObjective = p.logObjective;
  input.implied = sample.implied;
  for (const ChoiceCandidate& candidate : sample.candidates) {
    input.allowed.push_back(candidate.allowed);
  }
  for (const SampleObject& target : sample.targets) {
    input.targetScreens.push_back(target.found);
  }
  for (const SampleObject& query : sample.queries) {
    input.queryScreens.push_back(query.found);
  }
  choice->result = ChooseScreens(input);
  if (choice->result.chosen.empty()) {
    Report("nothing could be chosen");
    return false;
  }
  choice->holding.assign(sample.candidates.size(), 0);
  for (const auto& found : input.targetScreens) {
    for (const std::uint16_t s : found) ++choice->holding[s];
  }
  return true;
}

}  // namespace

const CommandSpec& DictChooseCommandSpec() { return Definition(); }

namespace {

// The command once its parameters are read; the exit code.
int RunWithParameters(const ChooseParameters& p) {
  const auto start = std::chrono::steady_clock::now();
  ChoiceSample sample;
  Choice choice;
  if (!ObtainSample(p, &sample) || !Choose(p, sample, &choice) ||
      !WriteList(p, p.output, choice.result.chosen.size(), sample, choice)) {
    return kExitFailure;
  }
  for (const auto& [take, path] : p.moreOutputs) {
    if (!WriteList(p, path, take, sample, choice)) return kExitFailure;
  }
  Report(std::to_string(SecondsSince(start)) + " s");
  return kExitSuccess;
}

}  // namespace

int RunDictChoose(int argc, char** argv) {
  return RunCommand<ChooseParameters>(kContext, Definition(), argc, argv,
                                      ReadParameters, RunWithParameters);
}

}  // namespace zolv::host

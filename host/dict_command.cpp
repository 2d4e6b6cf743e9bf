#include "dict_command.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "command_context.h"
#include "dict_screen_finder.h"
#include "dictionary_builder.h"
#include "dictionary_format.h"
#include "driver_library.h"
#include "molecule_input.h"
#include "molecule_loop.h"
#include "parallel_writer.h"
#include "rdcore.h"
#include "record_stream.h"
#include "screen_list.h"

namespace zolv::host {
namespace {

constexpr char kProgram[] = "zolv";

// "SBI" text writes a screen number as one raw character, so screens above
// this share characters with lower ones.
constexpr std::size_t kMaxDistinctSbiScreens = 255;

// A dump lists at most this many faults; the rest are counted.
constexpr std::size_t kMaxListedProblems = 100;

constexpr CommandContext kBuild("zolv dict build");
constexpr CommandContext kDump("zolv dict dump");
constexpr CommandContext kStats("zolv dict stats");

// ---------------------------------------------------------------- build

const char kBuildDetails[] =
    "The list:\n"
    "  One screen a line: a SMARTS, then optionally white space and a name.\n"
    "  Blank lines are skipped; a '#' at the start of a line or after white\n"
    "  space starts a comment ('#' inside a SMARTS, as in [#7] or C#N, does\n"
    "  not). Screens are numbered 1, 2, 3, ... in list order; blank and\n"
    "  comment lines take no number. At most 65535 screens; keep to 255 for\n"
    "  \"SBI\" text, whose raw characters are screen numbers modulo 256.\n"
    "\n"
    "Implications:\n"
    "  Each screen is written as a query by the driver, over a dictionary of\n"
    "  all listed screens tested independently: the screens found in screen\n"
    "  A's query are present in every molecule that holds A, so A implies\n"
    "  them. The implications are closed transitively; the dependent lists\n"
    "  are their inverse. The records are written in test order (screens\n"
    "  with many dependents and few implied screens first) with the order\n"
    "  flag set.\n"
    "\n"
    "Problems:\n"
    "  A SMARTS that cannot be read, a SMARTS listed twice, and a screen\n"
    "  equivalent to an earlier one (each implies the other) are reported\n"
    "  as LIST:LINE: ... and no file is written, so that the numbering never\n"
    "  shifts silently: remove or fix those lines. A screen that is not\n"
    "  found when its own SMARTS is written as a query (the core library is\n"
    "  sure of too little in that SMARTS, as with '~' bonds or '*' atoms) is\n"
    "  kept; --verbose names such screens.\n"
    "\n"
    "Exit status:\n"
    "  0  the dictionary was written\n"
    "  1  a problem in the list, or a fatal error; FILE is left unchanged\n"
    "\n"
    "Example:\n"
    "  zolv dict build screens.txt -o screens.vetorb\n";

const CommandSpec& BuildSpec() {
  static const CommandSpec command = [] {
    CommandSpec s;
    s.name = "zolv dict build";
    s.arguments = "LIST";
    s.summary =
        "Builds a screen dictionary (\"VetOrb\" file) from a text list of "
        "screens. LIST may be '-' for standard input.";
    s.options = {
        {"output", 'o', "FILE", "Dictionary file to write (required)."},
        DriverOption(),
        {"verbose", 'v', "",
         "Say what was written, and name the screens that SMARTS queries "
         "will not ask for."},
        MaxAtomsOption(),
        JobsOption(),
    };
    s.details = kBuildDetails;
    s.minPositional = 1;
    s.maxPositional = 1;
    return s;
  }();
  return command;
}

// Writes content to path through a temporary file beside it, so that a
// failed write leaves an existing file as it was.
bool WriteAtomically(const std::string& path, const DictionaryContent& content,
                     std::string* error) {
  const std::string part = path + ".part";
  if (!WriteDictionaryFile(part, content)) {
    std::error_code ignored;
    std::filesystem::remove(part, ignored);
    *error = path + ": cannot be written";
    return false;
  }
  std::error_code code;
  std::filesystem::rename(part, path, code);
  if (code) {
    std::error_code ignored;
    std::filesystem::remove(part, ignored);
    *error = path + ": " + code.message();
    return false;
  }
  return true;
}

// The screens found in each listed screen's own query. False after a
// report.
bool FindInOwnQueries(
    const CommandContext& context, const std::string& driverPath,
    const std::string& shown, const ScreenList& list,
    const std::vector<std::unique_ptr<rdcore::HostMolecule>>& queries,
    WorkerPool& pool, std::vector<std::vector<std::uint16_t>>* found) {
  std::vector<std::string> smarts;
  std::vector<HostObject*> objects;
  for (std::size_t i = 0; i < list.screens.size(); ++i) {
    smarts.push_back(list.screens[i].smarts);
    objects.push_back(queries[i].get());
  }
  IndependentScreens screens;
  std::string error;
  if (!screens.Create(smarts, &error)) {
    context.Report(error);
    return false;
  }
  std::size_t failed = 0;
  if (!screens.FindAll(driverPath, /*query=*/true, objects, pool, found,
                       &failed, &error)) {
    context.Report(
        failed < list.screens.size()
            ? shown + ":" + std::to_string(list.screens[failed].line) +
                  ": screen \"" + list.screens[failed].smarts + "\": " + error
            : error);
    return false;
  }
  return true;
}

std::size_t ImplicationCount(const DictionaryContent& content) {
  std::size_t count = 0;
  for (const DictionaryScreen& screen : content.screens) {
    count += screen.implied.size();
  }
  return count;
}

// ---------------------------------------------------------------- dump

const char kDumpDetails[] =
    "Output:\n"
    "  A header line with the magic, the order flag and the record count,\n"
    "  then one line per record in file order, fields separated by tabs:\n"
    "  screen number, stored SMARTS (bytes outside printable ASCII as\n"
    "  \\xHH), implied=LIST, dependent=LIST (numbers as stored, comma\n"
    "  separated).\n"
    "\n"
    "Checks:\n"
    "  the magic; every record whole; screen numbers from 1 to the record\n"
    "  count and distinct; lists that name other records of the file; t in\n"
    "  s's implied list exactly when s is in t's dependent list; implied\n"
    "  lists closed (what an implied screen implies is implied too); with\n"
    "  the order flag set, every screen before each screen that implies it;\n"
    "  every stored SMARTS readable. Faults go to stderr as\n"
    "  \"FILE: record R (screen S): ...\", R counting records from 1 in file\n"
    "  order.\n"
    "\n"
    "Exit status:\n"
    "  0  the dictionary is valid\n"
    "  1  it is invalid or cannot be read\n";

const CommandSpec& DumpSpec() {
  static const CommandSpec command = [] {
    CommandSpec s;
    s.name = "zolv dict dump";
    s.arguments = "FILE";
    s.summary =
        "Prints the header and every record of a screen dictionary and "
        "checks that the driver can rely on it.";
    s.options = {
        {"check", '\0', "", "Only check: print nothing but the faults."},
    };
    s.details = kDumpDetails;
    s.minPositional = 1;
    s.maxPositional = 1;
    return s;
  }();
  return command;
}

std::string JoinNumbers(const std::vector<std::uint16_t>& numbers) {
  std::string text;
  for (std::uint16_t number : numbers) {
    if (!text.empty()) text += ',';
    text += std::to_string(number);
  }
  return text;
}

// Faults of the stored structures: each must read as a SMARTS.
std::vector<std::string> UnreadableStructures(
    const DictionaryContent& content) {
  std::vector<std::string> problems;
  for (std::size_t i = 0; i < content.screens.size(); ++i) {
    const DictionaryScreen& screen = content.screens[i];
    if (screen.stored.empty()) continue;  // reported with the lists
    const rdcore::ParsedMolecule parsed = rdcore::ParseMolecule(
        screen.stored, rdcore::Notation::kSmarts, rdcore::MoleculeRole::kQuery);
    if (!parsed.molecule) {
      problems.push_back("record " + std::to_string(i + 1) + " (screen " +
                         std::to_string(screen.number) + "): " + parsed.error);
    }
  }
  return problems;
}

// ---------------------------------------------------------------- stats

const char kStatsDetails[] =
    "Each molecule is written by the driver as a target over the\n"
    "dictionary, so the figures are what the driver finds, prescreen and\n"
    "pruning included.\n"
    "\n"
    "Output:\n"
    "  Comment lines ('#') with the counts, then one line per screen in\n"
    "  number order, fields separated by tabs: screen number, molecules\n"
    "  holding it, their percentage, a mark (\"common\" above --common,\n"
    "  \"rare\" below --rare, else \"-\"), the stored SMARTS.\n"
    "\n"
    "Exit status:\n"
    "  0  every molecule was read and written\n"
    "  1  usage or fatal error (invalid dictionary, unreadable input)\n"
    "  2  some molecules could not be read or written; they are not counted\n"
    "\n"
    "Example:\n"
    "  zolv dict stats default.vetorb --molecules znp.50k.smi.gz --limit "
    "5000\n";

const CommandSpec& StatsSpec() {
  static const CommandSpec command = [] {
    CommandSpec s;
    s.name = "zolv dict stats";
    s.arguments = "FILE";
    s.summary =
        "Counts how often the driver finds each screen of the dictionary "
        "FILE in a set of molecules.";
    s.options = {
        {"molecules", 'm', "INPUT",
         "Molecules to count over: .smi, .sdf, .mol, each also .gz, or '-' "
         "for SMILES on standard input (required)."},
        {"input-format", '\0', "FORMAT",
         "Read INPUT as smi or sdf, whatever its name."},
        {"limit", 'n', "N", "Stop after N molecules."},
        {"common", '\0', "PERCENT",
         "Mark screens found in more than PERCENT of the molecules "
         "(default 95)."},
        {"rare", '\0', "PERCENT",
         "Mark screens found in fewer than PERCENT of the molecules "
         "(default 0.5)."},
        DriverOption(),
        MaxAtomsOption(),
        JobsOption(),
    };
    s.details = kStatsDetails;
    s.minPositional = 1;
    s.maxPositional = 1;
    return s;
  }();
  return command;
}

std::optional<double> ParsePercent(const std::string& text) {
  try {
    std::size_t used = 0;
    const double value = std::stod(text, &used);
    if (used != text.size() || !(value >= 0.0 && value <= 100.0)) {
      return std::nullopt;
    }
    return value;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// Loads FILE for a command that needs a valid dictionary. False after a
// reported error.
bool LoadValidDictionary(const CommandContext& context, const std::string& path,
                         DictionaryContent* content) {
  DictionaryFile file = ReadDictionaryFile(path);
  std::vector<std::string> problems = file.problems;
  if (problems.empty()) problems = ValidateDictionary(file.content);
  if (!problems.empty()) {
    context.Report(path + ": " + problems.front());
    context.Report(path + ": not a valid dictionary; 'zolv dict dump " + path +
                   "' lists its faults");
    return false;
  }
  *content = std::move(file.content);
  return true;
}

// What zolv dict build is asked to do.
struct BuildParameters {
  std::string listPath;    // the screen list; "-": standard input
  std::string output;      // the dictionary file to write
  std::string driverPath;  // empty: the driver beside zolv
  std::size_t maxAtoms = kDefaultMaxAtoms;  // larger screens are refused
  std::size_t jobs = 1;  // threads writing the screens' queries
  bool verbose = false;  // name screens not found in their own query
};

bool ReadParameters(const CommandContext& context,
                    const ParsedCommandLine& line, BuildParameters* p) {
  p->listPath = line.Positional().front();
  const std::optional<std::string> output = line.Value("output");
  if (!output) {
    context.Report("no output file; give -o FILE");
    return false;
  }
  p->output = *output;
  p->driverPath = line.Value("driver").value_or("");
  p->verbose = line.Has("verbose");
  return context.ReadMaxAtoms(line, &p->maxAtoms) &&
         context.ReadJobs(line, &p->jobs);
}

// Each listed screen read as a query; a null one and a problem for each
// that cannot be read.
std::vector<std::unique_ptr<rdcore::HostMolecule>> ReadListedQueries(
    const ScreenList& list, std::size_t maxAtoms,
    std::vector<ListProblem>* problems) {
  std::vector<std::unique_ptr<rdcore::HostMolecule>> queries;
  for (const ListedScreen& screen : list.screens) {
    if (const auto problem =
            CheckMoleculeText(screen.smarts, false, maxAtoms)) {
      problems->push_back({screen.line, *problem});
      queries.push_back(nullptr);
      continue;
    }
    rdcore::ParsedMolecule parsed = rdcore::ParseMolecule(
        screen.smarts, rdcore::Notation::kSmarts, rdcore::MoleculeRole::kQuery);
    if (!parsed.molecule) problems->push_back({screen.line, parsed.error});
    queries.push_back(std::move(parsed.molecule));
  }
  return queries;
}

// Every problem of the list in line order, and that nothing was written.
void ReportProblems(const CommandContext& context, const std::string& shown,
                    std::vector<ListProblem> all) {
  std::stable_sort(all.begin(), all.end(),
                   [](const ListProblem& a, const ListProblem& b) {
                     return a.line < b.line;
                   });
  for (const ListProblem& problem : all) {
    context.Report(shown + ":" + std::to_string(problem.line) + ": " +
                   problem.message);
  }
  context.Report(shown + ": " + std::to_string(all.size()) + " problem" +
                 (all.size() == 1 ? "" : "s") + "; no dictionary written");
}

}  // namespace

const CommandSpec& DictBuildCommandSpec() { return BuildSpec(); }
const CommandSpec& DictDumpCommandSpec() { return DumpSpec(); }
const CommandSpec& DictStatsCommandSpec() { return StatsSpec(); }

namespace {

// Builds the dictionary of the list; the exit code.
int Build(const ParsedCommandLine&, BuildParameters& p) {
  const std::string shown = ShownName(p.listPath);
  WorkerPool pool(p.jobs);
  ScreenList list;
  std::string error;
  if (!ReadScreenListFile(p.listPath, &list, &error)) {
    kBuild.Report(error);
    return kExitFailure;
  }
  // Read every SMARTS first, so that one run reports all faulty lines.
  std::vector<ListProblem> problems = list.problems;
  const std::vector<std::unique_ptr<rdcore::HostMolecule>> queries =
      ReadListedQueries(list, p.maxAtoms, &problems);
  const auto reportAll = [&](std::vector<ListProblem> all) {
    ReportProblems(kBuild, shown, std::move(all));
  };
  if (!problems.empty()) {
    reportAll(std::move(problems));
    return kExitFailure;
  }
  if (list.screens.empty()) {
    kBuild.Report(shown + ": lists no screens; no dictionary written");
    return kExitFailure;
  }

  std::vector<std::vector<std::uint16_t>> found;
  if (!FindInOwnQueries(kBuild, p.driverPath, shown, list, queries, pool,
                        &found)) {
    return kExitFailure;
  }
  const BuiltDictionary built = BuildDictionary(list.screens, found);
  if (!built.problems.empty()) {
    reportAll(built.problems);
    return kExitFailure;
  }
  if (p.verbose) {
    for (const ListProblem& note : built.notes) {
      kBuild.Report(shown + ":" + std::to_string(note.line) +
                    ": note: " + note.message);
    }
  }
  // What is written must pass the checks that dump makes.
  const std::vector<std::string> faults = ValidateDictionary(built.content);
  if (!faults.empty() || !IsInTestOrder(built.content)) {
    kBuild.Report(
        "internal error: the built dictionary is not valid: " +
        (faults.empty() ? std::string("not in test order") : faults.front()));
    return kExitFailure;
  }
  if (!WriteAtomically(p.output, built.content, &error)) {
    kBuild.Report(error);
    return kExitFailure;
  }
  if (list.screens.size() > kMaxDistinctSbiScreens) {
    kBuild.Report(shown + ": warning: " + std::to_string(list.screens.size()) +
                  " screens; in \"SBI\" text screens above " +
                  std::to_string(kMaxDistinctSbiScreens) +
                  " share characters with lower ones");
  }
  if (p.verbose) {
    kBuild.Report("wrote " + p.output + ": " +
                  std::to_string(built.content.screens.size()) + " screens, " +
                  std::to_string(ImplicationCount(built.content)) +
                  " implications");
  }
  return kExitSuccess;
}

}  // namespace

int RunDictBuild(int argc, char** argv) {
  return RunCommand<BuildParameters>(
      kBuild, BuildSpec(), argc, argv,
      [](const ParsedCommandLine& line, BuildParameters* p) {
        return ReadParameters(kBuild, line, p);
      },
      Build);
}

int RunDictDump(int argc, char** argv) {
  const CommandContext& context = kDump;
  int exitCode = kExitSuccess;
  const auto line = context.Parse(DumpSpec(), argc, argv, &exitCode);
  if (!line) return exitCode;
  const std::string path = line->Positional().front();
  const bool listing = !line->Has("check");

  const DictionaryFile file = ReadDictionaryFile(path);
  if (!file.headerRead) {
    for (const std::string& problem : file.problems) {
      context.Report(path + ": " + problem);
    }
    return kExitFailure;
  }
  if (listing) {
    std::printf("VetOrb\torder-flag=%d\trecords=%u\n", file.content.orderFlag,
                file.declaredCount);
    for (const DictionaryScreen& screen : file.content.screens) {
      std::printf("%u\t%s\timplied=%s\tdependent=%s\n", screen.number,
                  EncodeRecord(screen.stored, RecordEncoding::kEscaped).c_str(),
                  JoinNumbers(screen.implied).c_str(),
                  JoinNumbers(screen.dependent).c_str());
    }
    std::fflush(stdout);
  }

  std::vector<std::string> problems = file.problems;
  // The lists of a cut file name records that were never read; checking
  // them would only repeat that the file is cut.
  if (file.problems.empty()) problems = ValidateDictionary(file.content);
  for (std::string& problem : UnreadableStructures(file.content)) {
    problems.push_back(std::move(problem));
  }
  if (file.trailingBytes > 0) {
    context.Report(path + ": warning: " + std::to_string(file.trailingBytes) +
                   " bytes after the last record are never read");
  }
  for (std::size_t i = 0; i < problems.size() && i < kMaxListedProblems; ++i) {
    context.Report(path + ": " + problems[i]);
  }
  if (problems.size() > kMaxListedProblems) {
    context.Report(path + ": ... and " +
                   std::to_string(problems.size() - kMaxListedProblems) +
                   " more faults");
  }
  if (!problems.empty()) {
    context.Report(path + ": not a valid screen dictionary");
    return kExitFailure;
  }
  return kExitSuccess;
}

namespace {

// What zolv dict stats is asked to do.
struct StatsParameters {
  std::string dictionaryPath;  // the dictionary counted
  std::string input;           // the molecules; "-": standard input
  InputFormat format = InputFormat::kSmiles;  // of input
  std::string driverPath;                     // empty: the driver beside zolv
  std::optional<std::size_t> limit;  // molecules read at most; none: all
  double common = 95.0;              // mark screens held by more (percent)
  double rare = 0.5;                 // mark screens held by fewer (percent)
  std::size_t maxAtoms = kDefaultMaxAtoms;  // larger molecules are skipped
  std::size_t jobs = 1;                     // threads writing the molecules
};

bool ReadParameters(const CommandContext& context,
                    const ParsedCommandLine& line, StatsParameters* p) {
  p->dictionaryPath = line.Positional().front();
  const std::optional<std::string> input = line.Value("molecules");
  if (!input) {
    context.Report("no molecules; give --molecules INPUT");
    return false;
  }
  p->input = *input;
  p->driverPath = line.Value("driver").value_or("");
  std::size_t limit = 0;
  if (!context.ReadJobs(line, &p->jobs) ||
      !context.ReadNumber(line, "limit", 0,
                          std::numeric_limits<std::size_t>::max(), &limit) ||
      !context.ReadMaxAtoms(line, &p->maxAtoms)) {
    return false;
  }
  if (line.Has("limit")) p->limit = limit;
  for (const auto& [name, value] :
       {std::pair{"common", &p->common}, std::pair{"rare", &p->rare}}) {
    if (const auto text = line.Value(name)) {
      const std::optional<double> percent = ParsePercent(*text);
      if (!percent) {
        context.Report(std::string("--") + name +
                       " wants a percentage from 0 to 100, not '" + *text +
                       "'");
        return false;
      }
      *value = *percent;
    }
  }
  std::optional<InputFormat> forced;
  return context.ReadInputFormat(line, &forced) &&
         context.CheckInput(p->input, forced, &p->format);
}

// How many of the molecules hold each screen: holding[n] for screen n.
struct ScreenCounts {
  std::vector<std::size_t> holding;
  std::size_t counted = 0;  // molecules written
  std::size_t skipped = 0;  // molecules that could not be read or written
};

// Writes every molecule of the input through finder on the pool's threads.
// False after a report of a read error.
bool CountScreens(const CommandContext& context, const StatsParameters& p,
                  const ScreenFinder& finder, std::size_t width,
                  ScreenCounts* counts) {
  struct Found {
    bool ok = false;
    std::vector<std::uint16_t> screens;
    std::string error;
  };
  counts->holding.assign(width + 1, 0);
  WorkerPool pool(p.jobs);
  MoleculeLoop loop(pool, p.maxAtoms);
  if (p.limit) loop.LimitTo(*p.limit);
  std::string error;
  const MoleculeLoop::End end = loop.Run<Found>(
      {p.input, p.format},
      [&](std::size_t, const MoleculeItem& item, Found* found) {
        if (!item.record.problem.empty()) {
          found->error = item.record.problem;
          return;
        }
        const rdcore::ParsedMolecule parsed = rdcore::ParseMolecule(
            item.record.text, item.notation, rdcore::MoleculeRole::kTarget);
        if (!parsed.molecule) {
          found->error = parsed.error;
        } else {
          found->ok = finder.Find(parsed.molecule.get(), &found->screens,
                                  &found->error);
        }
      },
      [&](MoleculeItem& item, Found& found) {
        if (!found.ok) {
          context.Report(item.where + ": skipped: " + found.error);
          ++counts->skipped;
          return true;
        }
        for (std::uint16_t screen : found.screens) ++counts->holding[screen];
        ++counts->counted;
        return true;
      },
      &error);
  if (end == MoleculeLoop::End::kFailed) {
    context.Report(error);
    return false;
  }
  return true;
}

// The counts' comment lines and one line per screen, in number order.
void PrintStats(const StatsParameters& p, const DictionaryContent& dictionary,
                const ScreenCounts& counts) {
  std::vector<const DictionaryScreen*> byNumber;
  for (const DictionaryScreen& screen : dictionary.screens) {
    byNumber.push_back(&screen);
  }
  std::sort(byNumber.begin(), byNumber.end(),
            [](const DictionaryScreen* a, const DictionaryScreen* b) {
              return a->number < b->number;
            });
  std::size_t commonCount = 0;
  std::size_t rareCount = 0;
  std::string table;
  for (const DictionaryScreen* screen : byNumber) {
    const std::size_t count = counts.holding[screen->number];
    const double percent = counts.counted == 0
                               ? 0.0
                               : 100.0 * static_cast<double>(count) /
                                     static_cast<double>(counts.counted);
    const char* mark = "-";
    if (percent > p.common) {
      mark = "common";
      ++commonCount;
    } else if (percent < p.rare) {
      mark = "rare";
      ++rareCount;
    }
    char numbers[64];
    std::snprintf(numbers, sizeof(numbers), "%u\t%zu\t%.2f\t", screen->number,
                  count, percent);
    table += numbers;
    table += mark;
    table += '\t';
    table += EncodeRecord(screen->stored, RecordEncoding::kEscaped);
    table += '\n';
  }
  std::printf("# dictionary %s: %zu screens\n", p.dictionaryPath.c_str(),
              dictionary.screens.size());
  std::printf("# molecules %s: %zu counted, %zu skipped\n",
              ShownName(p.input).c_str(), counts.counted, counts.skipped);
  std::printf("# common (> %g%%): %zu screens; rare (< %g%%): %zu screens\n",
              p.common, commonCount, p.rare, rareCount);
  std::printf("# screen\tmolecules\tpercent\tmark\tSMARTS\n%s", table.c_str());
}

}  // namespace

namespace {

// Counts the screens in the molecules and prints them; the exit code.
int Stats(const ParsedCommandLine&, StatsParameters& p) {
  DictionaryContent dictionary;
  if (!LoadValidDictionary(kStats, p.dictionaryPath, &dictionary)) {
    return kExitFailure;
  }
  std::size_t width = 0;
  for (const DictionaryScreen& screen : dictionary.screens) {
    width = std::max<std::size_t>(width, screen.number);
  }
  ScreenFinder finder;
  std::string error;
  if (!finder.Open(p.driverPath, p.dictionaryPath, /*query=*/false, &error)) {
    kStats.Report(error);
    return kExitFailure;
  }
  ScreenCounts counts;
  if (!CountScreens(kStats, p, finder, width, &counts)) return kExitFailure;
  PrintStats(p, dictionary, counts);
  if (counts.skipped > 0) {
    kStats.Report(std::to_string(counts.skipped) + " molecules skipped");
    return kExitPartial;
  }
  return kExitSuccess;
}

}  // namespace

int RunDictStats(int argc, char** argv) {
  return RunCommand<StatsParameters>(
      kStats, StatsSpec(), argc, argv,
      [](const ParsedCommandLine& line, StatsParameters* p) {
        return ReadParameters(kStats, line, p);
      },
      Stats);
}

}  // namespace zolv::host

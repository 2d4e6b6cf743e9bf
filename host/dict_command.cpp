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

#include "dict_screen_finder.h"
#include "dictionary_builder.h"
#include "dictionary_format.h"
#include "driver_library.h"
#include "molecule_input.h"
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

void Report(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
}

std::string Shown(const std::string& path) {
  return path == "-" ? "stdin" : path;
}

std::string DriverPath(const ParsedCommandLine& line) {
  return line.Value("driver").value_or(DefaultDriverPath());
}

const OptionSpec kDriverOption = {
    "driver", '\0', "PATH",
    "Driver library to load (default: libzolvexformat11v6.so beside zolv)."};

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
        kDriverOption,
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

bool ReadList(const std::string& path, ScreenList* list, std::string* error) {
  if (path == "-") {
    *list = ParseScreenList(std::cin);
    return true;
  }
  std::error_code code;
  if (std::filesystem::is_directory(path, code)) {
    *error = path + ": is a directory";
    return false;
  }
  std::ifstream in(path);
  if (!in) {
    *error = path + ": cannot be opened";
    return false;
  }
  *list = ParseScreenList(in);
  if (in.bad()) {
    *error = path + ": read error";
    return false;
  }
  return true;
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
// reported error.
bool FindInOwnQueries(
    const std::string& driverPath, const std::string& shown,
    const ScreenList& list,
    const std::vector<std::unique_ptr<rdcore::HostMolecule>>& queries,
    WorkerPool& pool, std::vector<std::vector<std::uint16_t>>* found) {
  // Every screen with empty lists, so that each is tested on its own and
  // nothing is taken out of a query's result.
  DictionaryContent independent;
  independent.orderFlag = 1;
  for (std::size_t i = 0; i < list.screens.size(); ++i) {
    independent.screens.push_back(
        {static_cast<std::uint16_t>(i + 1), {}, {}, list.screens[i].smarts});
  }
  std::string error;
  std::error_code code;
  const std::filesystem::path temporaryDirectory =
      std::filesystem::temp_directory_path(code);
  if (code) {
    Report("no directory for temporary files: " + code.message());
    return false;
  }
  TemporaryFile scratch;
  if (!scratch.Create(temporaryDirectory.string(), ".vetorb", &error)) {
    Report(error);
    return false;
  }
  if (!WriteDictionaryFile(scratch.path(), independent)) {
    Report(scratch.path() + ": cannot be written");
    return false;
  }
  ScreenFinder finder;
  if (!finder.Open(driverPath, scratch.path(), /*query=*/true, &error)) {
    Report(error);
    return false;
  }
  found->assign(list.screens.size(), {});
  std::vector<std::string> errors(list.screens.size());
  std::vector<char> written(list.screens.size(), 0);
  pool.Run(list.screens.size(), [&](std::size_t, std::size_t i) {
    written[i] = finder.Find(queries[i].get(), &(*found)[i], &errors[i]);
  });
  for (std::size_t i = 0; i < list.screens.size(); ++i) {
    if (!written[i]) {
      Report(shown + ":" + std::to_string(list.screens[i].line) +
             ": screen \"" + list.screens[i].smarts + "\": " + errors[i]);
      return false;
    }
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
        kDriverOption,
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

std::optional<std::size_t> ParseCount(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != text.npos) {
    return std::nullopt;
  }
  try {
    return static_cast<std::size_t>(std::stoull(text));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// Loads FILE for a command that needs a valid dictionary. False after a
// reported error.
bool LoadValidDictionary(const std::string& path, DictionaryContent* content) {
  DictionaryFile file = ReadDictionaryFile(path);
  std::vector<std::string> problems = file.problems;
  if (problems.empty()) problems = ValidateDictionary(file.content);
  if (!problems.empty()) {
    Report(path + ": " + problems.front());
    Report(path + ": not a valid dictionary; 'zolv dict dump " + path +
           "' lists its faults");
    return false;
  }
  *content = std::move(file.content);
  return true;
}

}  // namespace

const CommandSpec& DictBuildCommandSpec() { return BuildSpec(); }
const CommandSpec& DictDumpCommandSpec() { return DumpSpec(); }
const CommandSpec& DictStatsCommandSpec() { return StatsSpec(); }

int RunDictBuild(int argc, char** argv) {
  int exitCode = kExitSuccess;
  const auto line = ParseOrReport(BuildSpec(), argc, argv, &exitCode);
  if (!line) return exitCode;
  const std::string listPath = line->Positional().front();
  const std::string shown = Shown(listPath);
  const std::optional<std::string> output = line->Value("output");
  if (!output) {
    Report("dict build: no output file; give -o FILE");
    return kExitFailure;
  }

  ScreenList list;
  std::string error;
  std::size_t maxAtoms = kDefaultMaxAtoms;
  if (!ReadMaxAtoms(*line, &maxAtoms, &error)) {
    Report("dict build: " + error);
    return kExitFailure;
  }
  const std::optional<std::size_t> jobs = ParseJobs(*line, &error);
  if (!jobs) {
    Report("dict build: " + error);
    return kExitFailure;
  }
  WorkerPool pool(*jobs);
  if (!ReadList(listPath, &list, &error)) {
    Report(error);
    return kExitFailure;
  }

  // Read every SMARTS first, so that one run reports all faulty lines.
  std::vector<ListProblem> problems = list.problems;
  std::vector<std::unique_ptr<rdcore::HostMolecule>> queries;
  for (const ListedScreen& screen : list.screens) {
    if (const auto problem =
            CheckMoleculeText(screen.smarts, false, maxAtoms)) {
      problems.push_back({screen.line, *problem});
      queries.push_back(nullptr);
      continue;
    }
    rdcore::ParsedMolecule parsed = rdcore::ParseMolecule(
        screen.smarts, rdcore::Notation::kSmarts, rdcore::MoleculeRole::kQuery);
    if (!parsed.molecule) {
      problems.push_back({screen.line, parsed.error});
    }
    queries.push_back(std::move(parsed.molecule));
  }
  const auto reportAll = [&](std::vector<ListProblem> all) {
    std::stable_sort(all.begin(), all.end(),
                     [](const ListProblem& a, const ListProblem& b) {
                       return a.line < b.line;
                     });
    for (const ListProblem& problem : all) {
      Report(shown + ":" + std::to_string(problem.line) + ": " +
             problem.message);
    }
    Report(shown + ": " + std::to_string(all.size()) + " problem" +
           (all.size() == 1 ? "" : "s") + "; no dictionary written");
  };
  if (!problems.empty()) {
    reportAll(std::move(problems));
    return kExitFailure;
  }
  if (list.screens.empty()) {
    Report(shown + ": lists no screens; no dictionary written");
    return kExitFailure;
  }

  std::vector<std::vector<std::uint16_t>> found;
  if (!FindInOwnQueries(DriverPath(*line), shown, list, queries, pool,
                        &found)) {
    return kExitFailure;
  }
  const BuiltDictionary built = BuildDictionary(list.screens, found);
  if (!built.problems.empty()) {
    reportAll(built.problems);
    return kExitFailure;
  }
  if (line->Has("verbose")) {
    for (const ListProblem& note : built.notes) {
      Report(shown + ":" + std::to_string(note.line) +
             ": note: " + note.message);
    }
  }
  // What is written must pass the checks that dump makes.
  const std::vector<std::string> faults = ValidateDictionary(built.content);
  if (!faults.empty() || !IsInTestOrder(built.content)) {
    Report(
        "internal error: the built dictionary is not valid: " +
        (faults.empty() ? std::string("not in test order") : faults.front()));
    return kExitFailure;
  }
  if (!WriteAtomically(*output, built.content, &error)) {
    Report(error);
    return kExitFailure;
  }
  if (list.screens.size() > kMaxDistinctSbiScreens) {
    Report(shown + ": warning: " + std::to_string(list.screens.size()) +
           " screens; in \"SBI\" text screens above " +
           std::to_string(kMaxDistinctSbiScreens) +
           " share characters with lower ones");
  }
  if (line->Has("verbose")) {
    Report("wrote " + *output + ": " +
           std::to_string(built.content.screens.size()) + " screens, " +
           std::to_string(ImplicationCount(built.content)) + " implications");
  }
  return kExitSuccess;
}

int RunDictDump(int argc, char** argv) {
  int exitCode = kExitSuccess;
  const auto line = ParseOrReport(DumpSpec(), argc, argv, &exitCode);
  if (!line) return exitCode;
  const std::string path = line->Positional().front();
  const bool listing = !line->Has("check");

  const DictionaryFile file = ReadDictionaryFile(path);
  if (!file.headerRead) {
    for (const std::string& problem : file.problems) {
      Report(path + ": " + problem);
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
    Report(path + ": warning: " + std::to_string(file.trailingBytes) +
           " bytes after the last record are never read");
  }
  for (std::size_t i = 0; i < problems.size() && i < kMaxListedProblems; ++i) {
    Report(path + ": " + problems[i]);
  }
  if (problems.size() > kMaxListedProblems) {
    Report(path + ": ... and " +
           std::to_string(problems.size() - kMaxListedProblems) +
           " more faults");
  }
  if (!problems.empty()) {
    Report(path + ": not a valid screen dictionary");
    return kExitFailure;
  }
  return kExitSuccess;
}

int RunDictStats(int argc, char** argv) {
  int exitCode = kExitSuccess;
  const auto line = ParseOrReport(StatsSpec(), argc, argv, &exitCode);
  if (!line) return exitCode;
  const std::string dictionaryPath = line->Positional().front();
  const std::optional<std::string> input = line->Value("molecules");
  if (!input) {
    Report("dict stats: no molecules; give --molecules INPUT");
    return kExitFailure;
  }
  std::string jobsError;
  const std::optional<std::size_t> jobs = ParseJobs(*line, &jobsError);
  if (!jobs) {
    Report("dict stats: " + jobsError);
    return kExitFailure;
  }
  std::optional<std::size_t> limit;
  if (const auto text = line->Value("limit")) {
    limit = ParseCount(*text);
    if (!limit) {
      Report("dict stats: --limit wants a count, not '" + *text + "'");
      return kExitFailure;
    }
  }
  double common = 95.0;
  double rare = 0.5;
  for (const auto& [name, value] :
       {std::pair{"common", &common}, std::pair{"rare", &rare}}) {
    if (const auto text = line->Value(name)) {
      const std::optional<double> percent = ParsePercent(*text);
      if (!percent) {
        Report(std::string("dict stats: --") + name +
               " wants a percentage from 0 to 100, not '" + *text + "'");
        return kExitFailure;
      }
      *value = *percent;
    }
  }
  std::optional<InputFormat> format = *input == "-"
                                          ? std::optional(InputFormat::kSmiles)
                                          : FormatFromFileName(*input);
  if (const auto name = line->Value("input-format")) {
    format = ParseInputFormat(*name);
    if (!format) {
      Report("dict stats: unknown input format '" + *name +
             "' (use smi or sdf)");
      return kExitFailure;
    }
  }
  if (!format) {
    Report(*input +
           ": unknown file type (expected .smi, .smiles, .sdf, .sd "
           "or .mol, optionally .gz); use --input-format");
    return kExitFailure;
  }
  if (const auto problem = CheckInputFile(*input)) {
    Report(*input + ": " + *problem);
    return kExitFailure;
  }

  DictionaryContent dictionary;
  if (!LoadValidDictionary(dictionaryPath, &dictionary)) return kExitFailure;
  std::size_t width = 0;
  for (const DictionaryScreen& screen : dictionary.screens) {
    width = std::max<std::size_t>(width, screen.number);
  }
  ScreenFinder finder;
  std::string error;
  if (!finder.Open(DriverPath(*line), dictionaryPath, /*query=*/false,
                   &error)) {
    Report(error);
    return kExitFailure;
  }
  std::size_t maxAtoms = kDefaultMaxAtoms;
  if (!ReadMaxAtoms(*line, &maxAtoms, &error)) {
    Report("dict stats: " + error);
    return kExitFailure;
  }
  MoleculeReader reader;
  if (!reader.Open(*input, *format, &error)) {
    Report(Shown(*input) + ": cannot open: " + error);
    return kExitFailure;
  }
  reader.SetMaxAtoms(maxAtoms);
  const rdcore::Notation notation = *format == InputFormat::kSmiles
                                        ? rdcore::Notation::kSmiles
                                        : rdcore::Notation::kMolBlock;

  struct Item {
    InputRecord record;
  };
  struct Found {
    bool ok = false;
    std::vector<std::uint16_t> screens;
    std::string error;
  };
  std::vector<std::size_t> holding(width + 1, 0);
  std::size_t counted = 0;
  std::size_t skipped = 0;
  std::size_t read = 0;
  WorkerPool pool(*jobs);
  OrderedParallelMap<Item, Found>(
      pool,
      [&](Item* item) {
        if ((limit && read >= *limit) || !reader.Next(&item->record)) {
          return false;
        }
        ++read;
        return true;
      },
      [&](std::size_t, const Item& item, Found* found) {
        if (!item.record.problem.empty()) {
          found->error = item.record.problem;
          return;
        }
        const rdcore::ParsedMolecule parsed = rdcore::ParseMolecule(
            item.record.text, notation, rdcore::MoleculeRole::kTarget);
        if (!parsed.molecule) {
          found->error = parsed.error;
        } else {
          found->ok = finder.Find(parsed.molecule.get(), &found->screens,
                                  &found->error);
        }
      },
      [&](Item& item, Found& found) {
        if (!found.ok) {
          Report(Shown(*input) + ":" + std::to_string(item.record.line) +
                 ": skipped: " + found.error);
          ++skipped;
          return true;
        }
        for (std::uint16_t screen : found.screens) ++holding[screen];
        ++counted;
        return true;
      });
  if (!reader.error().empty()) {
    Report(Shown(*input) + ": read error: " + reader.error());
    return kExitFailure;
  }

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
    const std::size_t count = holding[screen->number];
    const double percent = counted == 0 ? 0.0
                                        : 100.0 * static_cast<double>(count) /
                                              static_cast<double>(counted);
    const char* mark = "-";
    if (percent > common) {
      mark = "common";
      ++commonCount;
    } else if (percent < rare) {
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
  std::printf("# dictionary %s: %zu screens\n", dictionaryPath.c_str(),
              dictionary.screens.size());
  std::printf("# molecules %s: %zu counted, %zu skipped\n",
              Shown(*input).c_str(), counted, skipped);
  std::printf("# common (> %g%%): %zu screens; rare (< %g%%): %zu screens\n",
              common, commonCount, rare, rareCount);
  std::printf("# screen\tmolecules\tpercent\tmark\tSMARTS\n%s", table.c_str());
  if (skipped > 0) {
    Report(std::to_string(skipped) + " molecules skipped");
    return kExitPartial;
  }
  return kExitSuccess;
}

}  // namespace zolv::host

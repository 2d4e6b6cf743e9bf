#include "dict_stats_command.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "command_context.h"
#include "dict_screen_finder.h"
#include "dictionary_format.h"
#include "molecule_input.h"
#include "molecule_loop.h"
#include "parallel_writer.h"
#include "rdcore.h"
#include "record_stream.h"

namespace zolv::host {
namespace {

constexpr CommandContext kStats("zolv dict stats");

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

// Counts the screens in the molecules and prints them; the exit code.
int Stats(const StatsParameters& p) {
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

const CommandSpec& DictStatsCommandSpec() { return StatsSpec(); }

int RunDictStats(int argc, char** argv) {
  return RunCommand<StatsParameters>(
      kStats, StatsSpec(), argc, argv,
      [](const ParsedCommandLine& line, StatsParameters* p) {
        return ReadParameters(kStats, line, p);
      },
      Stats);
}

}  // namespace zolv::host

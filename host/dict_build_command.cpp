#include "dict_build_command.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "command_context.h"
#include "dict_screen_finder.h"
#include "dictionary_builder.h"
#include "dictionary_format.h"
#include "molecule_input.h"
#include "molecule_loop.h"
#include "parallel_writer.h"
#include "rdcore.h"
#include "screen_list.h"

namespace zolv::host {
namespace {

// "SBI" text writes a screen number as one raw character, so screens above
// this share characters with lower ones.
constexpr std::size_t kMaxDistinctSbiScreens = 255;

constexpr CommandContext kBuild("zolv dict build");

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

// Builds the dictionary of the list; the exit code.
int Build(const BuildParameters& p) {
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

const CommandSpec& DictBuildCommandSpec() { return BuildSpec(); }

int RunDictBuild(int argc, char** argv) {
  return RunCommand<BuildParameters>(
      kBuild, BuildSpec(), argc, argv,
      [](const ParsedCommandLine& line, BuildParameters* p) {
        return ReadParameters(kBuild, line, p);
      },
      Build);
}
}  // namespace zolv::host

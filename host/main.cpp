// zolv: the command-line host of the format driver and its dictionary tools.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_command.h"
#include "command_line.h"
#include "dict_build_command.h"
#include "dict_choose_command.h"
#include "dict_dump_command.h"
#include "dict_stats_command.h"
#include "index_command.h"
#include "pattern_command.h"
#include "search_command.h"
#include "write_command.h"

namespace zolv::host {
namespace {

// A subcommand: the words that name it after "zolv", and its entry point.
struct Subcommand {
  const char* words;    // blank-separated, e.g. "dict build"
  const char* summary;  // one line for the overview
  int (*run)(int argc, char** argv);
};

// Every subcommand zolv knows, in the order the overview lists them.
const Subcommand kSubcommands[] = {
    {"write", "write the screen record of each molecule with the driver",
     &RunWrite},
    {"dict build", "build a screen dictionary file", &RunDictBuild},
    {"dict dump", "print and check the screens of a dictionary file",
     &RunDictDump},
    {"dict stats", "count how often each screen is found in molecules",
     &RunDictStats},
    {"dict choose", "choose a dictionary's screens from sample molecules",
     &RunDictChoose},
    {"index", "store molecules' screen texts in a database", &RunIndex},
    {"search", "find molecules containing a query in a database", &RunSearch},
    {"pattern", "print a query's pattern as a SQL literal", &RunPattern},
    {"bench", "measure the driver against RDKit on benchmark molecules",
     &RunBench},
};

constexpr char kOverviewTail[] =
    "\nRun 'zolv COMMAND --help' for the options of a command.\n"
    "\n"
    "Exit status:\n"
    "  0  success\n"
    "  1  usage or fatal error\n"
    "  2  finished, but some molecules or records were skipped\n";

std::vector<std::string> Split(const char* words) {
  std::vector<std::string> parts;
  std::string part;
  for (const char* c = words;; ++c) {
    if (*c == ' ' || *c == '\0') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
      if (*c == '\0') break;
    } else {
      part.push_back(*c);
    }
  }
  return parts;
}

// How many of argv[1..] name the subcommand; 0 when they do not.
int MatchWords(const Subcommand& command, int argc, char** argv) {
  const std::vector<std::string> words = Split(command.words);
  if (argc - 1 < static_cast<int>(words.size())) return 0;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (words[i] != argv[i + 1]) return 0;
  }
  return static_cast<int>(words.size());
}

void PrintOverview(std::FILE* out) {
  std::fputs(
      "Usage: zolv COMMAND [options] [arguments]\n\n"
      "Writes substructure screens of molecules with the format driver, and "
      "builds\nand inspects screen dictionaries.\n\nCommands:\n",
      out);
  for (const Subcommand& command : kSubcommands) {
    std::fprintf(out, "  %-12s %s\n", command.words, command.summary);
  }
  std::fputs(kOverviewTail, out);
}

int Dispatch(int argc, char** argv) {
  if (argc < 2) {
    PrintOverview(stderr);
    return kExitFailure;
  }
  const std::string first = argv[1];
  if (first == "--help" || first == "-h" || first == "help") {
    PrintOverview(stdout);
    return kExitSuccess;
  }
  for (const Subcommand& command : kSubcommands) {
    const int used = MatchWords(command, argc, argv);
    if (used == 0) continue;
    // The command sees its own full name as argv[0], for its messages.
    std::string name = std::string("zolv ") + command.words;
    std::vector<char*> arguments{name.data()};
    arguments.insert(arguments.end(), argv + 1 + used, argv + argc);
    arguments.push_back(nullptr);
    return command.run(static_cast<int>(arguments.size() - 1),
                       arguments.data());
  }

  // A group name alone ("zolv dict") lists what it holds.
  std::string within;
  for (const Subcommand& command : kSubcommands) {
    const std::vector<std::string> words = Split(command.words);
    if (words.size() > 1 && words[0] == first) {
      within += (within.empty() ? "" : ", ") + words[1];
    }
  }
  if (!within.empty()) {
    std::fprintf(stderr,
                 "zolv: '%s' needs a command: %s\nTry 'zolv %s COMMAND "
                 "--help'.\n",
                 first.c_str(), within.c_str(), first.c_str());
  } else {
    std::fprintf(stderr,
                 "zolv: unknown command '%s'\nTry 'zolv --help' for the list "
                 "of commands.\n",
                 first.c_str());
  }
  return kExitFailure;
}

}  // namespace
}  // namespace zolv::host

int main(int argc, char** argv) { return zolv::host::Dispatch(argc, argv); }

#include "dict_dump_command.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "command_context.h"
#include "dictionary_format.h"
#include "rdcore.h"
#include "record_stream.h"

namespace zolv::host {
namespace {

// A dump lists at most this many faults; the rest are counted.
constexpr std::size_t kMaxListedProblems = 100;

constexpr CommandContext kDump("zolv dict dump");

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

// What zolv dict dump is asked to do.
struct DumpParameters {
  std::string path;     // the dictionary file
  bool listing = true;  // print the records, not only the faults
};

bool ReadParameters(const ParsedCommandLine& line, DumpParameters* p) {
  p->path = line.Positional().front();
  p->listing = !line.Has("check");
  return true;
}

// Prints and checks the dictionary; the exit code.
int Dump(const DumpParameters& p) {
  const CommandContext& context = kDump;
  const std::string& path = p.path;
  const bool listing = p.listing;
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

}  // namespace

const CommandSpec& DictDumpCommandSpec() { return DumpSpec(); }

int RunDictDump(int argc, char** argv) {
  return RunCommand<DumpParameters>(kDump, DumpSpec(), argc, argv,
                                    ReadParameters, Dump);
}

}  // namespace zolv::host

// The command line of one zolv subcommand: long options with or without a
// value, one-letter aliases, positional arguments, and the help text, all
// from one description so that the help cannot drift from what is parsed.
//
// A subcommand is run as RunX(argc, argv) with argv[0] its own name (for
// example "zolv write") and argv[1..] its arguments, like a program's main.
#pragma once

#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zolv::host {

/// Exit codes of every zolv command.
inline constexpr int kExitSuccess = 0;
/// Usage error or a fatal error: nothing, or not everything, was done.
inline constexpr int kExitFailure = 1;
/// The command ran to the end but skipped some items (molecules, records).
inline constexpr int kExitPartial = 2;

/// One option of a command.
struct OptionSpec {
  std::string name;         // long name, without "--"
  char shortName = '\0';    // one-letter alias ("-o"), or none
  std::string valueName;    // shown in the help; empty: a flag, no value
  std::string help;         // what the option does
  bool repeatable = false;  // may be given more than once
};

/// What a command accepts and how its help reads.
struct CommandSpec {
  std::string name;       // as the user types it: "zolv write"
  std::string arguments;  // positional part of the usage line: "[FILE...]"
  std::string summary;    // what the command does
  std::vector<OptionSpec> options;
  std::string details;  // after the options: exit codes, examples
  std::size_t minPositional = 0;
  std::size_t maxPositional = std::numeric_limits<std::size_t>::max();
};

/// One item of a command line, in the order given.
struct Argument {
  std::string option;  // long name; empty for a positional argument
  std::string value;   // the option's value or the positional text
};

class ParsedCommandLine {
 public:
  /// Whether the option was given (flag or with a value).
  bool Has(const std::string& option) const;
  /// The option's last value, or none when it was not given.
  std::optional<std::string> Value(const std::string& option) const;
  std::vector<std::string> Values(const std::string& option) const;
  std::vector<std::string> Positional() const;
  /// Every option and positional argument in command-line order.
  const std::vector<Argument>& arguments() const { return arguments_; }

  void Add(Argument argument) { arguments_.push_back(std::move(argument)); }

 private:
  std::vector<Argument> arguments_;
};

enum class ParseOutcome {
  kRun,    // parsed; run the command
  kHelp,   // --help was given
  kError,  // *error says what is wrong
};

/// Parses argv[1..argc-1] against command. "--name value", "--name=value",
/// "-o value" and "-ovalue" give values; "--" ends the options; "-" alone is
/// a positional argument.
ParseOutcome ParseCommandLine(const CommandSpec& command, int argc,
                              const char* const* argv,
                              ParsedCommandLine* parsed, std::string* error);

/// The help text: usage line, summary, every option, details.
std::string FormatHelp(const CommandSpec& command);

/// ParseCommandLine for a command's entry point: prints the help on stdout
/// or the error with a hint on stderr. Returns the parsed line to run, or
/// none with *exitCode set (0 after help, 1 after an error).
std::optional<ParsedCommandLine> ParseOrReport(const CommandSpec& command,
                                               int argc,
                                               const char* const* argv,
                                               int* exitCode);

/// The --max-atoms option of every command that reads molecules.
OptionSpec MaxAtomsOption();

}  // namespace zolv::host

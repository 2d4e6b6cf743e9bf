// What every zolv command shares besides its command line: the name its
// messages start with, one way to report and warn, readers of typed options
// whose limits are stated where the option is read, and the checks of input
// files. A command is then three steps: read its options into a parameter
// record with Read...(), whose members carry the defaults; check them; run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "command_line.h"
#include "molecule_input.h"

namespace zolv::host {

/// The option string's "length" and the lengths derived from it: the driver
/// converts the value in 32-bit arithmetic.
inline constexpr std::uint64_t kLargestLength = 1u << 30;

/// A whole number from min to max, digits only; none for anything else.
std::optional<std::uint64_t> ParseWholeNumber(const std::string& text,
                                              std::uint64_t min,
                                              std::uint64_t max);

/// The --driver option of every command that loads the driver.
OptionSpec DriverOption();

/// The --input-format option of every command that reads molecule files.
OptionSpec InputFormatOption();

/// The --jobs option of every command that writes on several threads.
OptionSpec JobsOption();

class CommandContext {
 public:
  /// program: what every message starts with, e.g. "zolv index"; a
  /// string that outlives the context.
  constexpr explicit CommandContext(const char* program) : program_(program) {}

  const char* program() const { return program_; }

  /// "program: message" on stderr.
  void Report(const std::string& message) const;
  /// "program: warning: message" on stderr.
  void Warn(const std::string& message) const;

  /// The command line of argv by command: none after the help was printed
  /// or a usage error reported, with *exitCode set.
  std::optional<ParsedCommandLine> Parse(const CommandSpec& command, int argc,
                                         char** argv, int* exitCode) const;

  /// Option --name as a whole number from min to max into *value, which
  /// keeps its default when the option is absent. False after a report.
  template <typename Number>
  bool ReadNumber(const ParsedCommandLine& line, const char* name,
                  std::uint64_t min, std::uint64_t max, Number* value) const {
    std::uint64_t number = 0;
    if (!ReadWholeNumber(line, name, min, max, &number)) return false;
    if (line.Has(name)) *value = static_cast<Number>(number);
    return true;
  }

  /// --max-atoms (default kDefaultMaxAtoms; 0: no limit). False after a
  /// report.
  bool ReadMaxAtoms(const ParsedCommandLine& line, std::size_t* value) const;
  /// --jobs (default: the number of cores). False after a report.
  bool ReadJobs(const ParsedCommandLine& line, std::size_t* value) const;
  /// --input-format, none when absent. False after a report.
  bool ReadInputFormat(const ParsedCommandLine& line,
                       std::optional<InputFormat>* forced) const;

  /// Checks an input file before anything is written and finds its format:
  /// forced, or from its name ("-": SMILES from standard input). False after
  /// a report that names the file.
  bool CheckInput(const std::string& path, std::optional<InputFormat> forced,
                  InputFormat* format) const;

 private:
  bool ReadWholeNumber(const ParsedCommandLine& line, const char* name,
                       std::uint64_t min, std::uint64_t max,
                       std::uint64_t* value) const;

  const char* program_;
};

/// A command's three steps: its command line parsed by command (help and
/// usage errors end here) and read into a Parameters record by
/// read(line, &p), which reports every value it cannot read or file it
/// cannot use; check(p), which reports values that do not go together; and
/// run(p), which gives the exit code. The run sees the record, never the
/// command line.
template <typename Parameters, typename Read, typename Check, typename Run>
int RunCommand(const CommandContext& context, const CommandSpec& command,
               int argc, char** argv, Read read, Check check, Run run) {
  int exitCode = kExitSuccess;
  const std::optional<ParsedCommandLine> line =
      context.Parse(command, argc, argv, &exitCode);
  if (!line) return exitCode;
  Parameters parameters;
  if (!read(*line, &parameters) || !check(std::as_const(parameters))) {
    return kExitFailure;
  }
  return run(std::as_const(parameters));
}

/// The same for a command whose values need no check together.
template <typename Parameters, typename Read, typename Run>
int RunCommand(const CommandContext& context, const CommandSpec& command,
               int argc, char** argv, Read read, Run run) {
  return RunCommand<Parameters>(
      context, command, argc, argv, read,
      [](const Parameters&) { return true; }, run);
}

}  // namespace zolv::host

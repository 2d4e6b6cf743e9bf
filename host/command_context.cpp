#include "command_context.h"

#include <cstdio>
#include <limits>

#include "parallel_writer.h"

namespace zolv::host {
namespace {

// The most threads --jobs starts.
constexpr std::uint64_t kMostJobs = 1024;
// The largest --max-atoms: nine digits.
constexpr std::uint64_t kMostAtomsLimit = 999999999;

}  // namespace

std::optional<std::uint64_t> ParseWholeNumber(const std::string& text,
                                              std::uint64_t min,
                                              std::uint64_t max) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
      return std::nullopt;
    }
    value = value * 10 + digit;
  }
  if (value < min || value > max) return std::nullopt;
  return value;
}

OptionSpec DriverOption() {
  return {"driver", '\0', "PATH",
          "Driver library to load (default: libzolvexformat11v6.so beside "
          "zolv)."};
}

OptionSpec InputFormatOption() {
  return {"input-format", '\0', "FORMAT",
          "Read every FILE as smi or sdf, whatever its name."};
}

OptionSpec JobsOption() {
  return {"jobs", 'j', "N",
          "Write molecules on N threads (default: the number of cores); the "
          "output is the same for every N."};
}

void CommandContext::Report(const std::string& message) const {
  std::fprintf(stderr, "%s: %s\n", program_, message.c_str());
}

void CommandContext::Warn(const std::string& message) const {
  Report("warning: " + message);
}

std::optional<ParsedCommandLine> CommandContext::Parse(
    const CommandSpec& command, int argc, char** argv, int* exitCode) const {
  return ParseOrReport(command, argc, argv, exitCode);
}

bool CommandContext::ReadWholeNumber(const ParsedCommandLine& line,
                                     const char* name, std::uint64_t min,
                                     std::uint64_t max,
                                     std::uint64_t* value) const {
  const std::optional<std::string> text = line.Value(name);
  if (!text) return true;
  const std::optional<std::uint64_t> number = ParseWholeNumber(*text, min, max);
  if (!number) {
    Report(std::string("--") + name + " must be a whole number from " +
           std::to_string(min) + " to " + std::to_string(max) + ", not '" +
           *text + "'");
    return false;
  }
  *value = *number;
  return true;
}

bool CommandContext::ReadMaxAtoms(const ParsedCommandLine& line,
                                  std::size_t* value) const {
  *value = kDefaultMaxAtoms;
  return ReadNumber(line, "max-atoms", 0, kMostAtomsLimit, value);
}

bool CommandContext::ReadJobs(const ParsedCommandLine& line,
                              std::size_t* value) const {
  *value = DefaultJobs();
  return ReadNumber(line, "jobs", 1, kMostJobs, value);
}

bool CommandContext::ReadInputFormat(const ParsedCommandLine& line,
                                     std::optional<InputFormat>* forced) const {
  const std::optional<std::string> name = line.Value("input-format");
  if (!name) return true;
  *forced = ParseInputFormat(*name);
  if (!*forced) {
    Report("unknown input format '" + *name + "' (use smi or sdf)");
    return false;
  }
  return true;
}

bool CommandContext::CheckInput(const std::string& path,
                                std::optional<InputFormat> forced,
                                InputFormat* format) const {
  if (const auto problem = CheckInputFile(path)) {
    Report(path + ": " + *problem);
    return false;
  }
  if (!forced) {
    forced = path == "-" ? std::optional(InputFormat::kSmiles)
                         : FormatFromFileName(path);
  }
  if (!forced) {
    Report(path +
           ": unknown file type (expected .smi, .smiles, .sdf, .sd or .mol, "
           "optionally .gz); use --input-format");
    return false;
  }
  *format = *forced;
  return true;
}

}  // namespace zolv::host

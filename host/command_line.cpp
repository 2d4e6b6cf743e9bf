#include "command_line.h"

#include <cstdio>
#include <sstream>

#include "molecule_input.h"

namespace zolv::host {
namespace {

constexpr char kHelpName[] = "help";
constexpr char kHelpText[] = "Show this help and exit.";
// Help lines are wrapped to this many columns.
constexpr std::size_t kHelpWidth = 79;
// Column at which option descriptions start.
constexpr std::size_t kDescriptionColumn = 28;

const OptionSpec* FindLong(const CommandSpec& command,
                           const std::string& name) {
  for (const OptionSpec& option : command.options) {
    if (option.name == name) return &option;
  }
  return nullptr;
}

const OptionSpec* FindShort(const CommandSpec& command, char name) {
  for (const OptionSpec& option : command.options) {
    if (option.shortName != '\0' && option.shortName == name) return &option;
  }
  return nullptr;
}

// Appends text to out, broken at blanks so that no line passes kHelpWidth;
// every line after the first starts with indent blanks. Line breaks in text
// are kept.
void AppendWrapped(std::string* out, const std::string& text,
                   std::size_t firstColumn, std::size_t indent) {
  std::size_t column = firstColumn;
  std::istringstream lines(text);
  std::string line;
  bool firstLine = true;
  while (std::getline(lines, line)) {
    if (!firstLine) {
      out->push_back('\n');
      out->append(indent, ' ');
      column = indent;
    }
    firstLine = false;
    std::istringstream words(line);
    std::string word;
    bool firstWord = true;
    while (words >> word) {
      if (!firstWord && column + 1 + word.size() > kHelpWidth) {
        out->push_back('\n');
        out->append(indent, ' ');
        column = indent;
      } else if (!firstWord) {
        out->push_back(' ');
        ++column;
      }
      out->append(word);
      column += word.size();
      firstWord = false;
    }
  }
}

std::string OptionLabel(const OptionSpec& option) {
  std::string label = "  ";
  label += option.shortName != '\0' ? std::string("-") + option.shortName + ", "
                                    : std::string("    ");
  label += "--" + option.name;
  if (!option.valueName.empty()) label += " " + option.valueName;
  return label;
}

}  // namespace

bool ParsedCommandLine::Has(const std::string& option) const {
  for (const Argument& argument : arguments_) {
    if (argument.option == option) return true;
  }
  return false;
}

std::optional<std::string> ParsedCommandLine::Value(
    const std::string& option) const {
  std::optional<std::string> value;
  for (const Argument& argument : arguments_) {
    if (argument.option == option) value = argument.value;
  }
  return value;
}

std::vector<std::string> ParsedCommandLine::Values(
    const std::string& option) const {
  std::vector<std::string> values;
  for (const Argument& argument : arguments_) {
    if (argument.option == option) values.push_back(argument.value);
  }
  return values;
}

std::vector<std::string> ParsedCommandLine::Positional() const {
  return Values("");
}

ParseOutcome ParseCommandLine(const CommandSpec& command, int argc,
                              const char* const* argv,
                              ParsedCommandLine* parsed, std::string* error) {
  *parsed = ParsedCommandLine();
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (optionsEnded || word == "-" || word.size() < 2 || word[0] != '-') {
      parsed->Add({"", word});
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
      continue;
    }

    const OptionSpec* option = nullptr;
    std::optional<std::string> attached;  // value in the same word
    std::string shown;                    // the option as the user wrote it
    if (word[1] == '-') {
      const std::size_t equals = word.find('=');
      const std::string name = word.substr(2, equals - 2);
      if (equals != std::string::npos) attached = word.substr(equals + 1);
      shown = "--" + name;
      if (name == kHelpName && FindLong(command, name) == nullptr) {
        return ParseOutcome::kHelp;
      }
      option = FindLong(command, name);
    } else {
      shown = word.substr(0, 2);
      if (word[1] == 'h' && word.size() == 2 &&
          FindShort(command, 'h') == nullptr) {
        return ParseOutcome::kHelp;
      }
      option = FindShort(command, word[1]);
      if (word.size() > 2) attached = word.substr(2);
    }
    if (option == nullptr) {
      *error = "unknown option '" + shown + "'";
      return ParseOutcome::kError;
    }

    std::string value;
    if (option->valueName.empty()) {
      if (attached) {
        *error = "option '" + shown + "' takes no value";
        return ParseOutcome::kError;
      }
    } else if (attached) {
      value = *attached;
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      *error =
          "option '" + shown + "' needs a value (" + option->valueName + ")";
      return ParseOutcome::kError;
    }
    if (!option->repeatable && parsed->Has(option->name)) {
      *error = "option '--" + option->name + "' given more than once";
      return ParseOutcome::kError;
    }
    parsed->Add({option->name, value});
  }

  const std::size_t positional = parsed->Positional().size();
  if (positional < command.minPositional) {
    *error = "missing argument " + command.arguments;
    return ParseOutcome::kError;
  }
  if (positional > command.maxPositional) {
    *error = "too many arguments";
    return ParseOutcome::kError;
  }
  return ParseOutcome::kRun;
}

std::string FormatHelp(const CommandSpec& command) {
  std::string help = "Usage: " + command.name + " [options]";
  if (!command.arguments.empty()) help += " " + command.arguments;
  help += "\n\n";
  AppendWrapped(&help, command.summary, 0, 0);
  help += "\n\nOptions:\n";

  std::vector<OptionSpec> options = command.options;
  if (FindLong(command, kHelpName) == nullptr) {
    OptionSpec helpOption;
    helpOption.name = kHelpName;
    helpOption.shortName = FindShort(command, 'h') == nullptr ? 'h' : '\0';
    helpOption.help = kHelpText;
    options.push_back(helpOption);
  }
  for (const OptionSpec& option : options) {
    std::string label = OptionLabel(option);
    help += label;
    if (label.size() + 2 > kDescriptionColumn) {
      help += "\n" + std::string(kDescriptionColumn, ' ');
    } else {
      help.append(kDescriptionColumn - label.size(), ' ');
    }
    AppendWrapped(&help, option.help, kDescriptionColumn, kDescriptionColumn);
    help += "\n";
  }
  if (!command.details.empty()) {
    help += "\n" + command.details;
    if (command.details.back() != '\n') help += "\n";
  }
  return help;
}

std::optional<ParsedCommandLine> ParseOrReport(const CommandSpec& command,
                                               int argc,
                                               const char* const* argv,
                                               int* exitCode) {
  ParsedCommandLine parsed;
  std::string error;
  switch (ParseCommandLine(command, argc, argv, &parsed, &error)) {
    case ParseOutcome::kRun:
      return parsed;
    case ParseOutcome::kHelp:
      std::fputs(FormatHelp(command).c_str(), stdout);
      *exitCode = kExitSuccess;
      return std::nullopt;
    case ParseOutcome::kError:
      break;
  }
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n",
               command.name.c_str(), error.c_str(), command.name.c_str());
  *exitCode = kExitFailure;
  return std::nullopt;
}

OptionSpec MaxAtomsOption() {
  return {"max-atoms", '\0', "N",
          "Skip, with a message, every molecule of more than N atoms "
          "before its chemistry is read (default " +
              std::to_string(kDefaultMaxAtoms) + "; 0: no limit)."};
}

}  // namespace zolv::host

#include "command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zolv::host {
namespace {

CommandSpec TestSpec() {
  CommandSpec command;
  command.name = "zolv test";
  command.arguments = "FILE...";
  command.summary = "A command for the tests.";
  command.options = {
      {"options", 'o', "STRING", "Option string."},
      {"name", '\0', "", "A flag."},
      {"smiles", '\0', "TEXT", "Repeatable value.", true},
  };
  command.minPositional = 1;
  command.maxPositional = 3;
  return command;
}

struct ParseCase {
  std::vector<const char*> words;  // after argv[0]
  ParseOutcome outcome;
  std::vector<Argument> arguments;  // when the outcome is kRun
  std::string error;                // part of the message otherwise
};

ParseOutcome Parse(const std::vector<const char*>& words,
                   ParsedCommandLine* parsed, std::string* error) {
  std::vector<const char*> argv{"zolv test"};
  argv.insert(argv.end(), words.begin(), words.end());
  return ParseCommandLine(TestSpec(), static_cast<int>(argv.size()),
                          argv.data(), parsed, error);
}

TEST(CommandLine, ParsesOptionsAndPositionalArgumentsInOrder) {
  const std::vector<ParseCase> cases = {
      {{"a.smi"}, ParseOutcome::kRun, {{"", "a.smi"}}, ""},
      {{"-o", "format=SBI", "a.smi"},
       ParseOutcome::kRun,
       {{"options", "format=SBI"}, {"", "a.smi"}},
       ""},
      {{"-oformat=SBI", "a.smi"},
       ParseOutcome::kRun,
       {{"options", "format=SBI"}, {"", "a.smi"}},
       ""},
      {{"--options=length=16", "a.smi"},
       ParseOutcome::kRun,
       {{"options", "length=16"}, {"", "a.smi"}},
       ""},
      // A value is taken whole even when it looks like an option.
      {{"--options", "--name", "a.smi"},
       ParseOutcome::kRun,
       {{"options", "--name"}, {"", "a.smi"}},
       ""},
      {{"--smiles", "C", "a.smi", "--smiles", "N", "--name"},
       ParseOutcome::kRun,
       {{"smiles", "C"}, {"", "a.smi"}, {"smiles", "N"}, {"name", ""}},
       ""},
      {{"-", "--", "--name"},
       ParseOutcome::kRun,
       {{"", "-"}, {"", "--name"}},
       ""},
      {{"a.smi", "--help"}, ParseOutcome::kHelp, {}, ""},
      {{"-h"}, ParseOutcome::kHelp, {}, ""},
      {{"--nmae", "a.smi"},
       ParseOutcome::kError,
       {},
       "unknown option '--nmae'"},
      {{"-x", "a.smi"}, ParseOutcome::kError, {}, "unknown option '-x'"},
      {{"--name=yes", "a.smi"}, ParseOutcome::kError, {}, "takes no value"},
      {{"a.smi", "--options"}, ParseOutcome::kError, {}, "needs a value"},
      {{"-o", "x", "-o", "y", "a.smi"},
       ParseOutcome::kError,
       {},
       "more than once"},
      {{"--name"}, ParseOutcome::kError, {}, "missing argument FILE..."},
      {{"a", "b", "c", "d"}, ParseOutcome::kError, {}, "too many arguments"},
  };
  for (const ParseCase& c : cases) {
    std::string trace;
    for (const char* word : c.words) trace += std::string(word) + " ";
    SCOPED_TRACE(trace);
    ParsedCommandLine parsed;
    std::string error;
    ASSERT_EQ(Parse(c.words, &parsed, &error), c.outcome) << error;
    if (c.outcome == ParseOutcome::kError) {
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
      continue;
    }
    if (c.outcome != ParseOutcome::kRun) continue;
    ASSERT_EQ(parsed.arguments().size(), c.arguments.size());
    for (std::size_t i = 0; i < c.arguments.size(); ++i) {
      EXPECT_EQ(parsed.arguments()[i].option, c.arguments[i].option);
      EXPECT_EQ(parsed.arguments()[i].value, c.arguments[i].value);
    }
  }
}

TEST(CommandLine, AnswersQueriesByOption) {
  ParsedCommandLine parsed;
  std::string error;
  ASSERT_EQ(Parse({"--smiles", "C", "x", "--smiles", "N", "-o", "a"}, &parsed,
                  &error),
            ParseOutcome::kRun);
  EXPECT_TRUE(parsed.Has("options"));
  EXPECT_FALSE(parsed.Has("name"));
  EXPECT_EQ(parsed.Value("smiles"), "N");
  EXPECT_EQ(parsed.Values("smiles"), (std::vector<std::string>{"C", "N"}));
  EXPECT_EQ(parsed.Positional(), std::vector<std::string>{"x"});
  EXPECT_FALSE(parsed.Value("name").has_value());
}

TEST(CommandLine, HelpShowsUsageEveryOptionAndHelpItself) {
  const std::string help = FormatHelp(TestSpec());
  EXPECT_EQ(help.rfind("Usage: zolv test [options] FILE...\n", 0), 0u) << help;
  EXPECT_NE(help.find("  -o, --options STRING"), std::string::npos) << help;
  EXPECT_NE(help.find("      --name "), std::string::npos) << help;
  EXPECT_NE(help.find("      --smiles TEXT"), std::string::npos) << help;
  EXPECT_NE(help.find("  -h, --help"), std::string::npos) << help;
}

TEST(CommandLine, HelpWrapsLongDescriptionsUnderTheirColumn) {
  CommandSpec command = TestSpec();
  command.options = {{"long", '\0', "",
                      std::string(40, 'a') + " " + std::string(40, 'b') + " " +
                          std::string(40, 'c')}};
  const std::string help = FormatHelp(command);
  std::size_t start = 0;
  while (start < help.size()) {
    std::size_t end = help.find('\n', start);
    if (end == std::string::npos) end = help.size();
    EXPECT_LE(end - start, 79u) << help.substr(start, end - start);
    start = end + 1;
  }
  EXPECT_NE(help.find("\n" + std::string(28, ' ') + std::string(40, 'b')),
            std::string::npos)
      << help;
}

}  // namespace
}  // namespace zolv::host

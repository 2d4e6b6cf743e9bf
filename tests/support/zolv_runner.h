// Runs the built zolv program and captures what it prints.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "test_files.h"

namespace zolv::testing {

struct ZolvRun {
  int exitCode = -1;
  std::string out;
  std::string err;

  /// The lines of out, without their line ends.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < out.size()) {
      std::size_t end = out.find('\n', start);
      if (end == std::string::npos) end = out.size();
      lines.push_back(out.substr(start, end - start));
      start = end + 1;
    }
    return lines;
  }
};

inline std::string ShellQuote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted.push_back(c);
    }
  }
  return quoted + "'";
}

/// Runs program with arguments, standard input from input.
inline ZolvRun RunProgram(const std::string& program,
                          const std::vector<std::string>& arguments,
                          const std::string& input = "") {
  TempDirectory dir;
  WriteFile(dir / "stdin", input);
  std::string command = ShellQuote(program);
  for (const std::string& argument : arguments) {
    command += " " + ShellQuote(argument);
  }
  command += " <" + ShellQuote(dir / "stdin") + " >" +
             ShellQuote(dir / "stdout") + " 2>" + ShellQuote(dir / "stderr");
  const int status = std::system(command.c_str());
  ZolvRun run;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = ReadFile(dir / "stdout");
  run.err = ReadFile(dir / "stderr");
  return run;
}

inline ZolvRun RunZolv(const std::vector<std::string>& arguments,
                       const std::string& input = "") {
  return RunProgram(ZOLV_PROGRAM_FILE, arguments, input);
}

}  // namespace zolv::testing

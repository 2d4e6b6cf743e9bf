#include "screen_list.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <system_error>
#include <unordered_map>

#include "plain_text.h"

namespace zolv {
namespace {

bool IsBlank(char c) { return kWhiteSpace.find(c) != std::string_view::npos; }

// The line without its comment: from the first "#" that starts the line or
// follows white space.
std::string WithoutComment(const std::string& line) {
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '#' && (i == 0 || IsBlank(line[i - 1]))) {
      return line.substr(0, i);
    }
  }
  return line;
}

}  // namespace

ScreenList ParseScreenList(std::istream& in) {
  ScreenList list;
  std::unordered_map<std::string, std::size_t> firstLineOf;
  bool reportedTooMany = false;
  std::string line;
  for (std::size_t lineNumber = 1; std::getline(in, line); ++lineNumber) {
    const std::string content =
        std::string(TrimWhiteSpace(WithoutComment(line)));
    if (content.empty()) continue;
    std::size_t split = 0;
    while (split < content.size() && !IsBlank(content[split])) ++split;
    ListedScreen screen;
    screen.line = lineNumber;
    screen.smarts = content.substr(0, split);
    screen.name = std::string(TrimWhiteSpace(content.substr(split)));

    const auto [earlier, inserted] =
        firstLineOf.emplace(screen.smarts, lineNumber);
    if (!inserted) {
      list.problems.push_back(
          {lineNumber, "duplicate screen \"" + screen.smarts +
                           "\", first listed on line " +
                           std::to_string(earlier->second)});
      continue;
    }
    if (list.screens.size() == kMaxScreens) {
      if (!reportedTooMany) {
        list.problems.push_back({lineNumber, "more than " +
                                                 std::to_string(kMaxScreens) +
                                                 " screens; a dictionary "
                                                 "holds no more"});
        reportedTooMany = true;
      }
      continue;
    }
    list.screens.push_back(std::move(screen));
  }
  return list;
}

bool ReadScreenListFile(const std::string& path, ScreenList* list,
                        std::string* error) {
  if (path == "-") {
    *list = ParseScreenList(std::cin);
    return true;
  }
  std::error_code code;
  if (std::filesystem::is_directory(path, code)) {
    *error = path + ": is a directory";
    return false;
  }
  std::ifstream in(path);
  if (!in) {
    *error = path + ": cannot be opened";
    return false;
  }
  *list = ParseScreenList(in);
  if (in.bad()) {
    *error = path + ": read error";
    return false;
  }
  return true;
}

}  // namespace zolv

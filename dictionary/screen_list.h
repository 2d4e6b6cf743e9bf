// The text list a screen dictionary is built from: one screen a line, its
// SMARTS first, then an optional name; blank lines and "#" comments are
// skipped.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <vector>

#include "dictionary_format.h"

namespace zolv {

/// One screen line of a list.
struct ListedScreen {
  std::size_t line = 0;  // 1-based line number in the list
  std::string smarts;
  std::string name;  // may be empty
};

/// Something wrong with one line, or with the list as a whole (line 0).
struct ListProblem {
  std::size_t line = 0;
  std::string message;
};

struct ScreenList {
  std::vector<ListedScreen> screens;  // in list order: screen n is screens[n-1]
  std::vector<ListProblem> problems;  // in line order
};

/// The most screens a dictionary holds: numbers and counts are 16-bit.
inline constexpr std::size_t kMaxScreens = kDictionaryCountLimit;

/// Reads a list. A "#" that begins a line or follows white space starts a
/// comment ("#" inside a SMARTS, as in "[#7]" or "C#N", does not). A SMARTS
/// that repeats an earlier one, and screens past kMaxScreens, are problems.
ScreenList ParseScreenList(std::istream& in);

/// Reads the list in the file at path ("-": standard input). False with a
/// message when it cannot be read; what is wrong inside it goes to
/// list->problems.
bool ReadScreenListFile(const std::string& path, ScreenList* list,
                        std::string* error);

}  // namespace zolv

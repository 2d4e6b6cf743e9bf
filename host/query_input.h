// The queries of zolv search and zolv pattern, read the same way: given on
// the command line or one a line in files, each checked before any
// chemistry, as molecule files are.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "substructure_check.h"

namespace zolv::host {

/// One query in command-line order.
struct QueryInput {
  search::QueryKind kind = search::QueryKind::kSmiles;
  std::string text;
  std::string name;
  std::string where;    // for messages: "--smiles" or "file:line"
  std::string problem;  // why the query is skipped unread, if it is
};

/// A query given as an option's value (option "smiles" or "smarts"); a NUL
/// byte or more than maxAtoms atoms (0: no limit) is its problem.
QueryInput QueryOfOption(const std::string& option, const std::string& text,
                         std::size_t maxAtoms);

/// Appends the queries of a file, one a line (the query, then a name), as
/// kind; damaged lines and queries of more than maxAtoms atoms come with
/// their problem. False with a message naming the file.
bool ReadQueryFile(const std::string& path, search::QueryKind kind,
                   std::size_t maxAtoms, std::vector<QueryInput>* queries,
                   std::string* error);

}  // namespace zolv::host

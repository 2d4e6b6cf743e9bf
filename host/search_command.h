// zolv search: finds the stored molecules that contain a query. The driver
// writes the query's "SBI" pattern; the database's own text matching
// preselects the targets whose stored texts the pattern matches; RDKit's
// substructure match confirms each candidate. With verification every
// target is also checked directly, to count the hits the preselection lost.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "command_line.h"
#include "hit_format.h"
#include "query_searcher.h"
#include "text_store.h"

namespace zolv::host {

const CommandSpec& SearchCommandSpec();

/// Runs zolv search; argv[0] is the command's name. Returns the exit code.
int RunSearch(int argc, char** argv);

/// Exit code of zolv search --verify when a target was missed.
inline constexpr int kExitFalseNegatives = 3;

}  // namespace zolv::host

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
#include "query_searcher.h"
#include "text_store.h"

namespace zolv::host {

/// How zolv search prints its hits.
enum class HitFormat {
  kSmi,   // SMILES, a tab, the name with tab, line breaks and "\\" escaped
  kCsv,   // id,name,smiles with RFC 4180 quoting and CRLF line ends
  kJson,  // JSON Lines: one object {"id":..,"name":..,"smiles":..} a line
};

std::optional<HitFormat> ParseHitFormat(const std::string& name);

/// The header line a format starts with; empty when it has none. With
/// several queries the rows carry the query's number first.
std::string HitHeader(HitFormat format, bool numbered);

/// One hit as a whole line, ending in its line end. query is the query's
/// number, printed only when numbered.
std::string FormatHit(const search::Candidate& hit, HitFormat format,
                      bool numbered, std::size_t query);

const CommandSpec& SearchCommandSpec();

/// Runs zolv search; argv[0] is the command's name. Returns the exit code.
int RunSearch(int argc, char** argv);

/// Exit code of zolv search --verify when a target was missed.
inline constexpr int kExitFalseNegatives = 3;

}  // namespace zolv::host

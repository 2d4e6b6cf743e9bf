// zolv search: finds the stored molecules that contain a query. The driver
// writes the query's "SBI" pattern; the database's own text matching
// preselects the targets whose stored texts the pattern matches; RDKit's
// substructure match confirms each candidate. With verification every
// target is also checked directly, to count the hits the preselection lost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "hit_format.h"
#include "sbi_text_writer.h"
#include "search_figures.h"
#include "substructure_check.h"
#include "text_store.h"
#include "write_options.h"

namespace zolv::host {

/// How QuerySearcher searches.
struct SearchSettings {
  search::TextVariant variant = search::TextVariant::kRaw;  // texts matched
  WildcardDialect dialect = WildcardDialect::kAccess;       // pattern wildcards
  std::uint32_t length = 0;  // the pattern's "length"; 0: the whole pattern
  bool verify = false;       // also check every target directly
  std::int64_t maxHits = 0;  // stop a query after this many hits; 0: never
};

/// What one query's search found.
struct QueryOutcome {
  std::string pattern;                  // as the driver wrote it
  std::vector<search::Candidate> hits;  // confirmed candidates, in id order
  /// With verification: targets that hold the query but were not
  /// candidates. The preselection is sound only while this stays empty.
  std::vector<search::Candidate> missed;
  search::SearchFigures figures;
  /// Candidates left unchecked when the search stopped at
  /// SearchSettings::maxHits; the figures still count them as candidates.
  std::int64_t unchecked = 0;
};

enum class SearchStatus {
  kDone,
  kBadQuery,  // the query could not be read or written; others may be fine
  kFailed,    // the database failed; give up
};

/// Searches queries in one database, keeping the targets it parses for the
/// queries that follow.
class QuerySearcher {
 public:
  /// writer and store stay the caller's and must outlive the searcher.
  QuerySearcher(const SbiTextWriter& writer, search::TextStore& store,
                const SearchSettings& settings);

  SearchStatus Search(search::QueryKind kind, const std::string& text,
                      QueryOutcome* outcome, std::string* error);

 private:
  bool CheckAll(const search::SubstructureQuery& query,
                const std::vector<search::Candidate>& hits,
                QueryOutcome* outcome, std::string* error);

  const SbiTextWriter& writer_;
  search::TextStore& store_;
  SearchSettings settings_;
  search::TargetMolecules molecules_;
  std::int64_t targetCount_ = -1;               // counted on first need
  std::vector<search::Candidate> everyTarget_;  // read on first verification
  bool everyTargetRead_ = false;
};

const CommandSpec& SearchCommandSpec();

/// Runs zolv search; argv[0] is the command's name. Returns the exit code.
int RunSearch(int argc, char** argv);

/// Exit code of zolv search --verify when a target was missed.
inline constexpr int kExitFalseNegatives = 3;

}  // namespace zolv::host

// How zolv search runs its queries against one index: what it learns about
// the index once per run, and what it does per query. Per query the driver
// writes the query's pattern and its screens; the database's index narrows
// the targets to those holding the query's rarest screens and its text
// matching tests their texts against the pattern; RDKit's substructure
// match confirms each candidate, on every thread of the pool, from the
// molecule the index stores. Nothing is kept from one query to the next.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "parallel_writer.h"
#include "sbi_text_writer.h"
#include "screen_counts.h"
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
  bool scan = false;         // match every stored text, without the index
};

/// What a search learns about its index once, before the first query.
struct IndexFacts {
  std::int64_t targets = 0;           // stored targets
  search::ScreenCounts screenCounts;  // targets holding each screen
};

/// Reads the index's screen counts into facts (targets is the caller's,
/// from the index's check). False with a message.
bool ReadIndexFacts(search::TextStore& store, IndexFacts* facts,
                    std::string* error);

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

/// Searches queries in one index. The outcome of a query is the same for
/// every number of threads in the pool.
class QuerySearcher {
 public:
  /// writer, store and pool stay the caller's and must outlive the
  /// searcher.
  QuerySearcher(const SbiTextWriter& writer, search::TextStore& store,
                WorkerPool& pool, const SearchSettings& settings,
                IndexFacts facts);

  SearchStatus Search(search::QueryKind kind, const std::string& text,
                      QueryOutcome* outcome, std::string* error);

 private:
  // The query read for confirmation and written by the driver.
  struct WrittenQuery {
    std::unique_ptr<search::SubstructureQuery> check;
    std::string pattern;
    std::vector<std::uint32_t> screens;  // rarest first
  };

  bool Write(search::QueryKind kind, const std::string& text,
             WrittenQuery* query, std::string* error);
  // Which of targets hold query, found on the pool: found[i] for
  // targets[i], up to *checked (all of them unless stopped at the most
  // hits wanted).
  void Confirm(const search::SubstructureQuery& query,
               const std::vector<search::Candidate>& targets,
               std::int64_t mostHits, std::vector<char>* found,
               std::size_t* checked);
  bool CheckAll(const search::SubstructureQuery& query, QueryOutcome* outcome,
                std::string* error);

  const SbiTextWriter& writer_;
  search::TextStore& store_;
  WorkerPool& pool_;
  SearchSettings settings_;
  IndexFacts facts_;
  // Every target with its stored molecule, read on the first verification,
  // and the molecules of the first of them read once for every query.
  std::vector<search::Candidate> everyTarget_;
  search::HeldMolecules held_;
  bool everyTargetRead_ = false;
};

}  // namespace zolv::host

#include "query_searcher.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <utility>

#include "index_writing.h"
#include "rdcore.h"

namespace zolv::host {
namespace {

// Candidates confirmed between two looks at how many hits there are, per
// thread, when a query stops at the most hits wanted: few enough that
// little is confirmed past the last hit needed, enough that the threads
// share the work.
constexpr std::size_t kConfirmedPerLook = 32;
// Targets whose molecules a verification reads once and keeps for every
// query (about 13 KB each, some 260 MB in all); the molecules of the rest
// are read again for each query, which costs twice the match.
constexpr std::size_t kHeldForVerification = 20000;

rdcore::Notation NotationOf(search::QueryKind kind) {
  return kind == search::QueryKind::kSmiles ? rdcore::Notation::kSmiles
                                            : rdcore::Notation::kSmarts;
}

}  // namespace

bool ReadIndexFacts(search::TextStore& store, IndexFacts* facts,
                    std::string* error) {
  std::optional<std::string> counts;
  if (!store.GetSetting(search::kSettingScreenCounts, &counts, error)) {
    return false;
  }
  const std::optional<search::ScreenCounts> parsed =
      search::ScreenCounts::Parse(counts.value_or(""));
  if (!parsed) {
    *error = store.Describe() + " holds screen counts that do not read (" +
             search::kSettingScreenCounts +
             "); write it again with zolv index --replace";
    return false;
  }
  facts->screenCounts = *parsed;
  return true;
}

QuerySearcher::QuerySearcher(const SbiTextWriter& writer,
                             search::TextStore& store, WorkerPool& pool,
                             const SearchSettings& settings, IndexFacts facts)
    : writer_(writer),
      store_(store),
      pool_(pool),
      settings_(settings),
      facts_(std::move(facts)) {}

bool QuerySearcher::Write(search::QueryKind kind, const std::string& text,
                          WrittenQuery* query, std::string* error) {
  // Three independent jobs, each on a molecule of its own: RDKit's query
  // for the confirmation, the driver's pattern, the driver's screens. A
  // host molecule is never shared between threads.
  enum Job : std::size_t { kCheck, kPattern, kScreens, kJobs };
  std::string errors[kJobs];
  const auto write = [&](std::size_t job) {
    if (job == kCheck) {
      query->check = search::SubstructureQuery::Parse(kind, text, &errors[job]);
      return;
    }
    rdcore::ParsedMolecule parsed = rdcore::ParseMolecule(
        text, NotationOf(kind), rdcore::MoleculeRole::kQuery);
    if (!parsed.molecule) {
      errors[job] = parsed.error;
      return;
    }
    HostObject* object = parsed.molecule.get();
    if (!writer_.Accepts(object)) {
      errors[job] = "the driver does not accept this query";
      return;
    }
    if (job == kPattern) {
      search::BudgetedText pattern;
      if (writer_.WriteBudgeted(object, ScreenMode::kQuery, settings_.variant,
                                settings_.dialect, settings_.length, &pattern,
                                &errors[job])) {
        query->pattern = std::move(pattern.text);
      }
    } else if (writer_.WriteScreens(object, ScreenMode::kQuery, &query->screens,
                                    &errors[job])) {
      query->screens = facts_.screenCounts.RarestFirst(query->screens);
    }
  };
  const std::size_t jobs = settings_.scan ? kScreens : kJobs;
  pool_.Run(jobs, [&](std::size_t, std::size_t job) { write(job); });
  // The first problem in job order, so that the message is the same for
  // every number of threads.
  for (std::size_t job = 0; job < jobs; ++job) {
    if (!errors[job].empty()) {
      *error = errors[job];
      return false;
    }
  }
  return true;
}

void QuerySearcher::Confirm(const search::SubstructureQuery& query,
                            const std::vector<search::Candidate>& targets,
                            std::int64_t mostHits, std::vector<char>* found,
                            std::size_t* checked) {
  found->assign(targets.size(), 0);
  const auto confirm = [&](std::size_t, std::size_t i) {
    const search::Candidate& target = targets[i];
    (*found)[i] = query.IsInStored(target.molecule, target.smiles) ? 1 : 0;
  };
  if (mostHits <= 0) {
    pool_.Run(targets.size(), confirm);
    *checked = targets.size();
    return;
  }
  // In steps, counting the hits in id order after each, as a search on one
  // thread would stop: at the candidate after the last hit wanted.
  const std::size_t step = kConfirmedPerLook * pool_.size();
  std::int64_t hits = 0;
  std::size_t done = 0;
  while (done < targets.size()) {
    const std::size_t end = std::min(targets.size(), done + step);
    pool_.Run(end - done, [&](std::size_t worker, std::size_t i) {
      confirm(worker, done + i);
    });
    for (; done < end; ++done) {
      if ((*found)[done] != 0 && ++hits == mostHits) {
        *checked = done + 1;
        return;
      }
    }
  }
  *checked = targets.size();
}

SearchStatus QuerySearcher::Search(search::QueryKind kind,
                                   const std::string& text,
                                   QueryOutcome* outcome, std::string* error) {
  *outcome = QueryOutcome();
  const auto start = std::chrono::steady_clock::now();
  WrittenQuery query;
  if (!Write(kind, text, &query, error)) return SearchStatus::kBadQuery;
  outcome->pattern = query.pattern;

  // A query without screens has nothing for the index to narrow by.
  std::vector<search::Candidate> candidates;
  if (!store_.Preselect({outcome->pattern, settings_.variant, settings_.dialect,
                         std::move(query.screens)},
                        &candidates, error)) {
    return SearchStatus::kFailed;
  }
  std::vector<char> found;
  std::size_t checked = 0;
  Confirm(*query.check, candidates, settings_.maxHits, &found, &checked);
  for (std::size_t i = 0; i < checked; ++i) {
    if (found[i] == 0) continue;
    search::Candidate& hit = candidates[i];
    hit.molecule = std::string();  // printed without it
    outcome->hits.push_back(std::move(hit));
  }
  // Stopped at the most hits wanted: the rest were not looked at.
  if (settings_.maxHits > 0 &&
      static_cast<std::int64_t>(outcome->hits.size()) >= settings_.maxHits) {
    outcome->unchecked = static_cast<std::int64_t>(candidates.size() - checked);
  }

  search::SearchFigures& figures = outcome->figures;
  figures.queries = 1;
  figures.targets = facts_.targets;
  figures.candidates = static_cast<std::int64_t>(candidates.size());
  figures.hits = static_cast<std::int64_t>(outcome->hits.size());
  figures.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  if (settings_.verify && !CheckAll(*query.check, outcome, error)) {
    return SearchStatus::kFailed;
  }
  return SearchStatus::kDone;
}

bool QuerySearcher::CheckAll(const search::SubstructureQuery& query,
                             QueryOutcome* outcome, std::string* error) {
  if (!everyTargetRead_) {
    if (!store_.ForEachTarget(
            [this](const search::Candidate& target) {
              everyTarget_.push_back(target);
              return true;
            },
            error)) {
      everyTarget_.clear();
      return false;
    }
    everyTargetRead_ = true;
    held_.Resize(std::min(everyTarget_.size(), kHeldForVerification));
    pool_.Run(held_.size(), [this](std::size_t, std::size_t i) {
      held_.Read(i, everyTarget_[i].molecule, everyTarget_[i].smiles);
    });
  }
  std::vector<char> found(everyTarget_.size(), 0);
  pool_.Run(everyTarget_.size(), [&](std::size_t, std::size_t i) {
    const search::Candidate& target = everyTarget_[i];
    const bool contains =
        i < held_.size() ? held_.Contain(i, query)
                         : query.IsInStored(target.molecule, target.smiles);
    found[i] = contains ? 1 : 0;
  });
  // Both lists are in id order.
  std::int64_t trueHits = 0;
  auto hit = outcome->hits.begin();
  for (std::size_t i = 0; i < everyTarget_.size(); ++i) {
    if (found[i] == 0) continue;
    const search::Candidate& target = everyTarget_[i];
    ++trueHits;
    while (hit != outcome->hits.end() && hit->id < target.id) ++hit;
    if (hit == outcome->hits.end() || hit->id != target.id) {
      search::Candidate missed = target;
      missed.molecule = std::string();
      outcome->missed.push_back(std::move(missed));
    }
  }
  outcome->figures.trueHits = trueHits;
  return true;
}

}  // namespace zolv::host

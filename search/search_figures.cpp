#include "search_figures.h"

#include <cstdio>

namespace zolv::search {
namespace {

std::string Fixed(std::optional<double> value, int decimals) {
  if (!value) return "-";
  char text[64];
  std::snprintf(text, sizeof(text), "%.*f", decimals, *value);
  return text;
}

}  // namespace

SearchFigures& SearchFigures::operator+=(const SearchFigures& other) {
  // An empty sum knows all its true hits: none.
  if (queries == 0) trueHits = trueHits.value_or(0);
  queries += other.queries;
  targets += other.targets;
  candidates += other.candidates;
  hits += other.hits;
  if (trueHits && other.trueHits) {
    *trueHits += *other.trueHits;
  } else {
    trueHits.reset();
  }
  seconds += other.seconds;
  return *this;
}

std::optional<double> SearchFigures::Precision() const {
  if (candidates <= 0) return std::nullopt;
  return static_cast<double>(hits) / static_cast<double>(candidates);
}

std::optional<double> SearchFigures::ScreenOut() const {
  const std::int64_t matching = trueHits.value_or(hits);
  const std::int64_t nonMatching = targets - matching;
  if (nonMatching <= 0) return std::nullopt;
  // Candidates that do not hold the query are the non-matching pairs that
  // got through.
  const std::int64_t passed = candidates - hits;
  return static_cast<double>(nonMatching - passed) /
         static_cast<double>(nonMatching);
}

std::optional<std::int64_t> SearchFigures::FalseNegatives() const {
  if (!trueHits) return std::nullopt;
  return *trueHits - hits;
}

std::string FormatSummary(const SearchFigures& figures) {
  std::string line = "candidates " + std::to_string(figures.candidates) +
                     ", hits " + std::to_string(figures.hits) + ", precision " +
                     Fixed(figures.Precision(), 3) + ", screen-out " +
                     Fixed(figures.ScreenOut(), 4) + ", time " +
                     Fixed(figures.seconds, 2) + " s";
  if (figures.trueHits) {
    line += ", true hits " + std::to_string(*figures.trueHits) +
            ", false negatives " + std::to_string(*figures.FalseNegatives());
  }
  return line;
}

}  // namespace zolv::search

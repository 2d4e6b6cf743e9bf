#include "search_figures.h"

#include <gtest/gtest.h>

namespace zolv::search {
namespace {

TEST(SearchFigures, SummaryLine) {
  SearchFigures figures;
  figures.queries = 1;
  figures.targets = 100000;
  figures.candidates = 123;
  figures.hits = 100;
  figures.seconds = 0.4213;
  EXPECT_EQ(FormatSummary(figures),
            "candidates 123, hits 100, precision 0.813, screen-out 0.9998, "
            "time 0.42 s");
  figures.trueHits = 101;
  EXPECT_EQ(FormatSummary(figures),
            "candidates 123, hits 100, precision 0.813, screen-out 0.9998, "
            "time 0.42 s, true hits 101, false negatives 1");
}

TEST(SearchFigures, ScreenOutCountsOnlyPairsWithoutTheQuery) {
  SearchFigures figures;
  figures.targets = 10;
  figures.candidates = 6;
  figures.hits = 4;
  // 6 pairs lack the query; 2 of them got through.
  EXPECT_DOUBLE_EQ(*figures.ScreenOut(), 4.0 / 6.0);
  figures.trueHits = 5;  // one hit lost: 5 pairs lack it, 2 got through
  EXPECT_DOUBLE_EQ(*figures.ScreenOut(), 3.0 / 5.0);
  EXPECT_EQ(*figures.FalseNegatives(), 1);
}

TEST(SearchFigures, FiguresWithoutValueShowAsDash) {
  SearchFigures figures;
  figures.targets = 3;
  figures.candidates = 3;
  figures.hits = 3;
  EXPECT_EQ(FormatSummary(figures),
            "candidates 3, hits 3, precision 1.000, screen-out -, time 0.00 s");
  figures.candidates = 0;
  figures.hits = 0;
  EXPECT_FALSE(figures.Precision());
}

TEST(SearchFigures, AddsUpPairsAndForgetsUnknownTrueHits) {
  SearchFigures first;
  first.queries = 1;
  first.targets = 10;
  first.candidates = 2;
  first.hits = 1;
  first.trueHits = 1;
  SearchFigures total;
  total += first;
  total += first;
  EXPECT_EQ(total.queries, 2);
  EXPECT_EQ(total.targets, 20);
  EXPECT_EQ(total.trueHits, 2);
  SearchFigures unverified = first;
  unverified.trueHits.reset();
  total += unverified;
  EXPECT_EQ(total.candidates, 6);
  EXPECT_FALSE(total.trueHits);
}

}  // namespace
}  // namespace zolv::search

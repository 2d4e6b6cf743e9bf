// Numbering screens by measurement: the raw and alphabet "SBI" texts of
// sample targets and the Access patterns of sample queries are written with
// the driver's own encoders for a numbering, matched byte for byte as the
// search does, and a local search over swaps of numbers keeps every swap
// that lets fewer sample pairs through. Only the numbering changes between
// tries; which screens each sample holds, and the formula fragments, stay.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zolv::host {

/// A sample object for the simulation: the chosen screens it holds (a
/// target: every one found) or writes (a query: those no other found screen
/// implies), as indexes 0..n-1 into the chosen screens, and its formula
/// fragments, which a numbering never changes.
struct NumberingObject {
  std::vector<std::uint16_t> screens;
  std::string rawFormula;
  std::string alphabetFormula;
};

struct NumberingSearchOptions {
  /// Swaps tried: a count, not a time, so that the numbering is the same
  /// on every machine and for every --jobs.
  std::size_t swaps = 20000;
  /// Pairs whose target lacks more of the query's screens are not watched;
  /// every pair a swap can let through is, by default.
  std::size_t mostMissing = SIZE_MAX;
  std::uint32_t seed = 1;  // of the swaps tried
  /// A query's pairs count 1 / (1 + the targets holding all its screens)
  /// to this power: 1 weighs every query alike, 0 every pair.
  double queryWeightPower = 1;
};

/// How many pairs a numbering lets through.
struct NumberingScore {
  std::uint64_t pairs = 0;  // (query, target) pairs looked at
  std::uint64_t contained =
      0;                       // the target holds every screen the query writes
  std::uint64_t raw = 0;       // raw Access pattern matches the raw text
  std::uint64_t alphabet = 0;  // alphabet Access pattern matches
};

/// Every pair's texts written and matched for numbers (entry i: the number
/// of chosen screen i).
NumberingScore ScoreNumbering(const std::vector<NumberingObject>& targets,
                              const std::vector<NumberingObject>& queries,
                              const std::vector<std::size_t>& numbers);

/// Improves numbers (entry i: the number of chosen screen i, a permutation
/// of 1..n) for the raw variant by swapping the numbers of two screens on
/// the same alphabet position, neither on a blurred number, as long as the
/// swap lets no more watched pairs through the raw Access pattern: pairs
/// whose target lacks at least one and at most mostMissing of the query's
/// screens. Every alphabet text stays as it was. A pair of a query counts
/// as queryWeightPower says. step(swapsTried,
/// swapsKept) is called every few seconds and at the end.
std::vector<std::size_t> SearchNumbering(
    const std::vector<NumberingObject>& targets,
    const std::vector<NumberingObject>& queries,
    std::vector<std::size_t> numbers, const NumberingSearchOptions& options,
    const std::function<void(std::size_t, std::size_t)>& step = {});

}  // namespace zolv::host

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
  double seconds = 120;          // how long the local search runs
  std::size_t mostMissing = 3;   // pairs lacking more screens are not watched
  double alphabetWeight = 0.5;   // an alphabet candidate against a raw one
  std::uint32_t seed = 1;        // of the swaps tried
};

/// How many pairs a numbering lets through.
struct NumberingScore {
  std::uint64_t pairs = 0;      // (query, target) pairs looked at
  std::uint64_t contained = 0;  // the target holds every screen the query writes
  std::uint64_t raw = 0;        // raw Access pattern matches the raw text
  std::uint64_t alphabet = 0;   // alphabet Access pattern matches
};

/// Every pair's texts written and matched for numbers (entry i: the number
/// of chosen screen i).
NumberingScore ScoreNumbering(const std::vector<NumberingObject>& targets,
                              const std::vector<NumberingObject>& queries,
                              const std::vector<std::size_t>& numbers);

/// Improves numbers (entry i: the number of chosen screen i, a permutation
/// of 1..n) by swapping the numbers of two screens, neither on a blurred
/// number, as long as the swap lets no more watched pairs through: pairs
/// whose target lacks at most mostMissing of the query's screens. A pair of
/// a query counts 1 / (1 + its contained pairs), so that a query with few
/// true candidates weighs as much as one with many. step(swapsTried,
/// swapsKept) is called every few seconds.
std::vector<std::size_t> SearchNumbering(
    const std::vector<NumberingObject>& targets,
    const std::vector<NumberingObject>& queries,
    std::vector<std::size_t> numbers, const NumberingSearchOptions& options,
    const std::function<void(std::size_t, std::size_t)>& step = {});

}  // namespace zolv::host

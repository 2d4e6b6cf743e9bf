#include "numbering_search.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <random>

#include "bit_string_encoder.h"
#include "pattern_encoder.h"
#include "pattern_match.h"
#include "record_stream.h"
#include "screen_chooser.h"
#include "screen_set.h"

namespace zolv::host {
namespace {

// Budget of a simulated text: far above any text, so nothing is cut.
constexpr std::uint32_t kWholeText = 1u << 20;
// Positions of the alphabet variant, as the driver folds.
constexpr std::uint32_t kAlphabetWidth = 64;

struct Texts {
  std::string raw;
  std::string alphabet;
};

// The texts of object under numbers, as the driver writes them: the screen
// part, then the formula fragment. Targets carry Access escapes.
Texts Write(const NumberingObject& object,
            const std::vector<std::size_t>& numbers, ScreenMode mode) {
  ScreenSet set;
  for (const std::uint16_t screen : object.screens) {
    set.Add(static_cast<std::uint32_t>(numbers[screen]));
  }
  Texts texts;
  RecordStream raw;
  std::uint32_t budget = kWholeText;
  WriteRawScreens(set, mode, WildcardDialect::kAccess, &budget, &raw);
  texts.raw = raw.record() + object.rawFormula;
  ScreenSet folded;
  FoldScreens(set, &folded, kAlphabetWidth);
  RecordStream alphabet;
  budget = kWholeText;
  WriteAlphabetScreens(folded, mode, WildcardDialect::kAccess, &budget,
                       &alphabet);
  texts.alphabet = alphabet.record() + object.alphabetFormula;
  return texts;
}

struct Patterns {
  std::unique_ptr<search::CompiledPattern> raw;
  std::unique_ptr<search::CompiledPattern> alphabet;
};

Patterns Compile(const Texts& texts) {
  return {std::make_unique<search::CompiledPattern>(texts.raw,
                                                    WildcardDialect::kAccess),
          std::make_unique<search::CompiledPattern>(texts.alphabet,
                                                    WildcardDialect::kAccess)};
}

using Bits = std::vector<std::uint64_t>;

Bits BitsOf(const NumberingObject& object, std::size_t words) {
  Bits bits(words, 0);
  for (const std::uint16_t s : object.screens) {
    bits[s / 64] |= std::uint64_t{1} << (s % 64);
  }
  return bits;
}

std::size_t Missing(const Bits& query, const Bits& target) {
  std::size_t missing = 0;
  for (std::size_t w = 0; w < query.size(); ++w) {
    missing += static_cast<std::size_t>(
        __builtin_popcountll(query[w] & ~target[w]));
  }
  return missing;
}

}  // namespace

NumberingScore ScoreNumbering(const std::vector<NumberingObject>& targets,
                              const std::vector<NumberingObject>& queries,
                              const std::vector<std::size_t>& numbers) {
  const std::size_t words = (numbers.size() + 63) / 64;
  std::vector<Texts> targetTexts;
  std::vector<Bits> targetBits;
  for (const NumberingObject& target : targets) {
    targetTexts.push_back(Write(target, numbers, ScreenMode::kTarget));
    targetBits.push_back(BitsOf(target, words));
  }
  NumberingScore score;
  for (const NumberingObject& query : queries) {
    const Patterns patterns =
        Compile(Write(query, numbers, ScreenMode::kQuery));
    const Bits bits = BitsOf(query, words);
    for (std::size_t t = 0; t < targets.size(); ++t) {
      ++score.pairs;
      if (Missing(bits, targetBits[t]) == 0) ++score.contained;
      if (patterns.raw->Matches(targetTexts[t].raw)) ++score.raw;
      if (patterns.alphabet->Matches(targetTexts[t].alphabet)) {
        ++score.alphabet;
      }
    }
  }
  return score;
}

std::vector<std::size_t> SearchNumbering(
    const std::vector<NumberingObject>& targets,
    const std::vector<NumberingObject>& queries,
    std::vector<std::size_t> numbers, const NumberingSearchOptions& options,
    const std::function<void(std::size_t, std::size_t)>& step) {
  const std::size_t n = numbers.size();
  if (n < 2 || targets.empty() || queries.empty()) return numbers;
  const std::size_t words = (n + 63) / 64;

  // The watched pairs, by query and by target.
  struct Pair {
    std::uint32_t query;
    std::uint32_t target;
    bool missing;  // the target lacks a screen the query writes
    bool raw = false;
    bool alphabet = false;
  };
  std::vector<Pair> pairs;
  std::vector<std::vector<std::uint32_t>> pairsOfQuery(queries.size());
  std::vector<std::vector<std::uint32_t>> pairsOfTarget(targets.size());
  std::vector<double> weight(queries.size(), 1);
  {
    std::vector<Bits> targetBits;
    for (const NumberingObject& target : targets) {
      targetBits.push_back(BitsOf(target, words));
    }
    for (std::size_t q = 0; q < queries.size(); ++q) {
      const Bits bits = BitsOf(queries[q], words);
      std::size_t contained = 0;
      for (std::size_t t = 0; t < targets.size(); ++t) {
        const std::size_t missing = Missing(bits, targetBits[t]);
        if (missing > options.mostMissing) continue;
        if (missing == 0) ++contained;
        const auto id = static_cast<std::uint32_t>(pairs.size());
        pairs.push_back({static_cast<std::uint32_t>(q),
                         static_cast<std::uint32_t>(t), missing != 0});
        pairsOfQuery[q].push_back(id);
        pairsOfTarget[t].push_back(id);
      }
      weight[q] = 1.0 / (1.0 + double(contained));
    }
  }
  // Per screen: the targets holding it and the queries writing it, whose
  // texts a new number changes.
  std::vector<std::vector<std::uint32_t>> holders(n);
  std::vector<std::vector<std::uint32_t>> writers(n);
  for (std::size_t t = 0; t < targets.size(); ++t) {
    for (const std::uint16_t s : targets[t].screens) {
      holders[s].push_back(static_cast<std::uint32_t>(t));
    }
  }
  for (std::size_t q = 0; q < queries.size(); ++q) {
    for (const std::uint16_t s : queries[q].screens) {
      writers[s].push_back(static_cast<std::uint32_t>(q));
    }
  }

  std::vector<Texts> targetTexts;
  for (const NumberingObject& target : targets) {
    targetTexts.push_back(Write(target, numbers, ScreenMode::kTarget));
  }
  std::vector<Patterns> patterns;
  for (const NumberingObject& query : queries) {
    patterns.push_back(Compile(Write(query, numbers, ScreenMode::kQuery)));
  }
  const auto cost = [&](const Pair& pair, bool raw, bool alphabet) {
    if (!pair.missing) return 0.0;  // the same for every numbering
    return weight[pair.query] *
           ((raw ? 1.0 : 0.0) + (alphabet ? options.alphabetWeight : 0.0));
  };
  std::vector<std::uint32_t> falsePairs;  // watched pairs let through wrongly
  for (Pair& pair : pairs) {
    pair.raw = patterns[pair.query].raw->Matches(targetTexts[pair.target].raw);
    pair.alphabet = patterns[pair.query].alphabet->Matches(
        targetTexts[pair.target].alphabet);
  }

  std::vector<std::size_t> movable;  // screens not on a blurred number
  for (std::size_t s = 0; s < n; ++s) {
    if (!IsBlurredNumber(numbers[s])) movable.push_back(s);
  }
  if (movable.size() < 2) return numbers;
  std::vector<bool> isMovable(n, false);
  for (const std::size_t s : movable) isMovable[s] = true;

  std::mt19937 random(options.seed);
  std::vector<std::uint32_t> queryStamp(queries.size(), 0);
  std::vector<std::uint32_t> targetStamp(targets.size(), 0);
  std::vector<std::uint32_t> pairStamp(pairs.size(), 0);
  std::uint32_t stamp = 0;
  std::vector<std::uint32_t> changedQueries;
  std::vector<std::uint32_t> changedTargets;
  std::vector<std::uint32_t> affected;
  std::vector<std::pair<bool, bool>> before;
  std::vector<Texts> oldTargetTexts;
  std::vector<Patterns> oldPatterns;

  const auto start = std::chrono::steady_clock::now();
  auto lastStep = start;
  std::size_t tried = 0;
  std::size_t kept = 0;
  const auto elapsed = [&](std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                         since)
        .count();
  };
  while (elapsed(start) < options.seconds) {
    // Half the tries move a screen that a wrongly passing pair lacks; the
    // other half swap two screens at random.
    std::size_t a = movable[random() % movable.size()];
    if (tried % 2 == 0) {
      falsePairs.clear();
      for (int probe = 0; probe < 64 && falsePairs.empty(); ++probe) {
        const auto id = static_cast<std::uint32_t>(random() % pairs.size());
        if (pairs[id].missing && (pairs[id].raw || pairs[id].alphabet)) {
          falsePairs.push_back(id);
        }
      }
      if (!falsePairs.empty()) {
        const Pair& pair = pairs[falsePairs[0]];
        std::vector<std::size_t> lacking;
        for (const std::uint16_t s : queries[pair.query].screens) {
          if (isMovable[s] &&
              !std::binary_search(targets[pair.target].screens.begin(),
                                  targets[pair.target].screens.end(), s)) {
            lacking.push_back(s);
          }
        }
        if (!lacking.empty()) a = lacking[random() % lacking.size()];
      }
    }
    const std::size_t b = movable[random() % movable.size()];
    if (a == b) continue;
    ++tried;
    ++stamp;
    changedQueries.clear();
    changedTargets.clear();
    for (const std::size_t s : {a, b}) {
      for (const std::uint32_t q : writers[s]) {
        if (queryStamp[q] != stamp) {
          queryStamp[q] = stamp;
          changedQueries.push_back(q);
        }
      }
      for (const std::uint32_t t : holders[s]) {
        if (targetStamp[t] != stamp) {
          targetStamp[t] = stamp;
          changedTargets.push_back(t);
        }
      }
    }
    affected.clear();
    for (const std::uint32_t q : changedQueries) {
      for (const std::uint32_t id : pairsOfQuery[q]) {
        if (pairStamp[id] != stamp) {
          pairStamp[id] = stamp;
          affected.push_back(id);
        }
      }
    }
    for (const std::uint32_t t : changedTargets) {
      for (const std::uint32_t id : pairsOfTarget[t]) {
        if (pairStamp[id] != stamp) {
          pairStamp[id] = stamp;
          affected.push_back(id);
        }
      }
    }
    std::swap(numbers[a], numbers[b]);
    oldTargetTexts.clear();
    oldPatterns.clear();
    for (const std::uint32_t t : changedTargets) {
      oldTargetTexts.push_back(std::move(targetTexts[t]));
      targetTexts[t] = Write(targets[t], numbers, ScreenMode::kTarget);
    }
    for (const std::uint32_t q : changedQueries) {
      oldPatterns.push_back(std::move(patterns[q]));
      patterns[q] = Compile(Write(queries[q], numbers, ScreenMode::kQuery));
    }
    double delta = 0;
    before.clear();
    for (const std::uint32_t id : affected) {
      Pair& pair = pairs[id];
      before.emplace_back(pair.raw, pair.alphabet);
      if (!pair.missing) continue;
      const bool raw =
          patterns[pair.query].raw->Matches(targetTexts[pair.target].raw);
      const bool alphabet = patterns[pair.query].alphabet->Matches(
          targetTexts[pair.target].alphabet);
      delta += cost(pair, raw, alphabet) - cost(pair, pair.raw, pair.alphabet);
      pair.raw = raw;
      pair.alphabet = alphabet;
    }
    if (delta <= 0) {
      if (delta < 0) ++kept;
    } else {
      std::swap(numbers[a], numbers[b]);
      for (std::size_t i = 0; i < changedTargets.size(); ++i) {
        targetTexts[changedTargets[i]] = std::move(oldTargetTexts[i]);
      }
      for (std::size_t i = 0; i < changedQueries.size(); ++i) {
        patterns[changedQueries[i]] = std::move(oldPatterns[i]);
      }
      for (std::size_t i = 0; i < affected.size(); ++i) {
        pairs[affected[i]].raw = before[i].first;
        pairs[affected[i]].alphabet = before[i].second;
      }
    }
    if (step && elapsed(lastStep) >= 5) {
      lastStep = std::chrono::steady_clock::now();
      step(tried, kept);
    }
  }
  return numbers;
}

}  // namespace zolv::host

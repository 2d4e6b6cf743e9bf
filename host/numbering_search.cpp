#include "numbering_search.h"

#include <algorithm>
#include <bitset>
#include <chrono>
#include <cmath>
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
    missing +=
        static_cast<std::size_t>(__builtin_popcountll(query[w] & ~target[w]));
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

  // Swaps stay within an alphabet position, so that every alphabet text,
  // which the first numbering chose, stays as it is; only raw characters
  // move. Screens on blurred numbers stay too.
  std::vector<std::vector<std::size_t>> byPosition(kAlphabetWidth + 1);
  std::vector<std::size_t> movable;
  for (std::size_t s = 0; s < n; ++s) {
    if (IsBlurredNumber(numbers[s])) continue;
    movable.push_back(s);
    byPosition[AlphabetPosition(numbers[s])].push_back(s);
  }
  std::vector<bool> isMovable(n, false);
  for (const std::size_t s : movable) isMovable[s] = true;
  if (movable.size() < 2) return numbers;

  // The watched pairs, by query and by target: those whose target lacks a
  // screen the query writes, but no more than mostMissing of them; pairs
  // that lack none match whatever the numbering.
  struct Pair {
    std::uint32_t query;
    std::uint32_t target;
    bool raw = false;  // the raw pattern matches the raw text
  };
  std::vector<Pair> pairs;
  std::vector<std::vector<std::uint32_t>> pairsOfQuery(queries.size());
  std::vector<std::vector<std::uint32_t>> pairsOfTarget(targets.size());
  std::vector<double> weight(queries.size(), 1);
  std::vector<Bits> targetBits;
  std::vector<Bits> queryBits;
  for (const NumberingObject& target : targets) {
    targetBits.push_back(BitsOf(target, words));
  }
  for (std::size_t q = 0; q < queries.size(); ++q) {
    queryBits.push_back(BitsOf(queries[q], words));
    std::size_t contained = 0;
    for (std::size_t t = 0; t < targets.size(); ++t) {
      const std::size_t missing = Missing(queryBits[q], targetBits[t]);
      if (missing == 0) ++contained;
      if (missing == 0 || missing > options.mostMissing) continue;
      const auto id = static_cast<std::uint32_t>(pairs.size());
      pairs.push_back(
          {static_cast<std::uint32_t>(q), static_cast<std::uint32_t>(t)});
      pairsOfQuery[q].push_back(id);
      pairsOfTarget[t].push_back(id);
    }
    weight[q] = std::pow(1.0 + double(contained), -options.queryWeightPower);
  }
  if (pairs.empty()) return numbers;
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

  std::vector<std::string> targetTexts;
  std::vector<std::bitset<256>> targetBytes;  // the bytes each text holds
  const auto writeTarget = [&](std::size_t t) {
    targetTexts[t] = Write(targets[t], numbers, ScreenMode::kTarget).raw;
    targetBytes[t].reset();
    for (const char c : targetTexts[t]) {
      targetBytes[t].set(static_cast<unsigned char>(c));
    }
  };
  targetTexts.resize(targets.size());
  targetBytes.resize(targets.size());
  for (std::size_t t = 0; t < targets.size(); ++t) writeTarget(t);
  std::vector<std::unique_ptr<search::CompiledPattern>> patterns;
  const auto compile = [&](std::size_t q) {
    return std::make_unique<search::CompiledPattern>(
        Write(queries[q], numbers, ScreenMode::kQuery).raw,
        WildcardDialect::kAccess);
  };
  for (std::size_t q = 0; q < queries.size(); ++q)
    patterns.push_back(compile(q));
  // A screen the target lacks is written as itself in the query's pattern
  // unless its number is blurred; when its character is nowhere in the
  // target's text the pattern cannot match, which settles most pairs
  // without running the pattern.
  const auto matches = [&](const Pair& pair) {
    const Bits& query = queryBits[pair.query];
    const Bits& target = targetBits[pair.target];
    for (std::size_t w = 0; w < words; ++w) {
      for (std::uint64_t lacking = query[w] & ~target[w]; lacking != 0;
           lacking &= lacking - 1) {
        const std::size_t s =
            w * 64 + static_cast<std::size_t>(__builtin_ctzll(lacking));
        if (!IsBlurredNumber(numbers[s]) &&
            !targetBytes[pair.target].test(numbers[s] % 256)) {
          return false;
        }
      }
    }
    return patterns[pair.query]->Matches(targetTexts[pair.target]);
  };
  for (Pair& pair : pairs) pair.raw = matches(pair);

  std::mt19937 random(options.seed);
  std::vector<std::uint32_t> queryStamp(queries.size(), 0);
  std::vector<std::uint32_t> targetStamp(targets.size(), 0);
  std::vector<std::uint32_t> pairStamp(pairs.size(), 0);
  std::uint32_t stamp = 0;
  std::vector<std::uint32_t> changedQueries;
  std::vector<std::uint32_t> changedTargets;
  std::vector<std::uint32_t> affected;
  std::vector<bool> before;
  std::vector<std::string> oldTexts;
  std::vector<std::bitset<256>> oldBytes;
  std::vector<std::unique_ptr<search::CompiledPattern>> oldPatterns;

  const auto start = std::chrono::steady_clock::now();
  auto lastStep = start;
  std::size_t tried = 0;
  std::size_t kept = 0;
  const auto elapsed = [&](std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                         since)
        .count();
  };
  std::size_t draws = 0;
  while (tried < options.swaps) {
    // Half the tries move a screen that a wrongly passing pair lacks; the
    // other half a screen at random.
    std::size_t a = movable[random() % movable.size()];
    if (++draws % 2 == 0) {
      for (int probe = 0; probe < 64; ++probe) {
        const Pair& pair = pairs[random() % pairs.size()];
        if (!pair.raw) continue;
        std::vector<std::size_t> lacking;
        for (const std::uint16_t s : queries[pair.query].screens) {
          if (isMovable[s] &&
              !std::binary_search(targets[pair.target].screens.begin(),
                                  targets[pair.target].screens.end(), s)) {
            lacking.push_back(s);
          }
        }
        if (!lacking.empty()) a = lacking[random() % lacking.size()];
        break;
      }
    }
    // The partner shares a's alphabet position: the cheapest of a few at
    // random, since a swap with a screen that most texts hold rewrites
    // most of them.
    const std::vector<std::size_t>& group =
        byPosition[AlphabetPosition(numbers[a])];
    if (group.size() < 2) {
      ++tried;  // no partner: the try is spent, so the loop always ends
      continue;
    }
    std::size_t b = group[random() % group.size()];
    for (int more = 0; more < 3; ++more) {
      const std::size_t other = group[random() % group.size()];
      if (other != a &&
          (b == a || holders[other].size() + writers[other].size() <
                         holders[b].size() + writers[b].size())) {
        b = other;
      }
    }
    ++tried;
    if (a == b) continue;
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
    for (const auto* lists : {&pairsOfQuery, &pairsOfTarget}) {
      const std::vector<std::uint32_t>& changed =
          lists == &pairsOfQuery ? changedQueries : changedTargets;
      for (const std::uint32_t object : changed) {
        for (const std::uint32_t id : (*lists)[object]) {
          if (pairStamp[id] != stamp) {
            pairStamp[id] = stamp;
            affected.push_back(id);
          }
        }
      }
    }
    std::swap(numbers[a], numbers[b]);
    oldTexts.clear();
    oldBytes.clear();
    oldPatterns.clear();
    for (const std::uint32_t t : changedTargets) {
      oldTexts.push_back(std::move(targetTexts[t]));
      oldBytes.push_back(targetBytes[t]);
      writeTarget(t);
    }
    for (const std::uint32_t q : changedQueries) {
      oldPatterns.push_back(std::move(patterns[q]));
      patterns[q] = compile(q);
    }
    double delta = 0;
    before.clear();
    for (const std::uint32_t id : affected) {
      Pair& pair = pairs[id];
      before.push_back(pair.raw);
      const bool raw = matches(pair);
      if (raw != pair.raw)
        delta += raw ? weight[pair.query] : -weight[pair.query];
      pair.raw = raw;
    }
    if (delta <= 0) {
      if (delta < 0) ++kept;
    } else {
      std::swap(numbers[a], numbers[b]);
      for (std::size_t i = 0; i < changedTargets.size(); ++i) {
        targetTexts[changedTargets[i]] = std::move(oldTexts[i]);
        targetBytes[changedTargets[i]] = oldBytes[i];
      }
      for (std::size_t i = 0; i < changedQueries.size(); ++i) {
        patterns[changedQueries[i]] = std::move(oldPatterns[i]);
      }
      for (std::size_t i = 0; i < affected.size(); ++i) {
        pairs[affected[i]].raw = before[i];
      }
    }
    if (step && elapsed(lastStep) >= 10) {
      lastStep = std::chrono::steady_clock::now();
      step(tried, kept);
    }
  }
  if (step) step(tried, kept);
  return numbers;
}

}  // namespace zolv::host

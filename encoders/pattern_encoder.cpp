#include "pattern_encoder.h"

#include <array>
#include <cstddef>

namespace zolv {
namespace {

constexpr std::size_t kEscapeCount = 6;

// One dialect's query replacements: from[i] becomes to[i], first match wins.
struct EscapeRow {
  std::uint8_t count;
  std::array<std::uint8_t, kEscapeCount> from;
  std::array<std::uint8_t, kEscapeCount> to;
};

// Any-string wildcard (separator) by dialect: Access, ODBC.
constexpr std::array<char, 2> kSeparators = {'*', '%'};
static_assert(kSeparators.size() == 2);

// Characters a LIKE pattern would read as wildcards or sets: bracketed.
constexpr std::array<std::uint8_t, 5> kSpecialChars = {'*', '?', '#', '-', '['};
static_assert(kSpecialChars.size() == 5);

// Query replacements by dialect (Access, ODBC): "[" and the double quote
// become the any-string wildcard, the rest the single-character one.
constexpr std::array<EscapeRow, 2> kEscapeTable = {{
    {kEscapeCount,
     {'[', '"', '\'', '|', '^', 0x07},
     {'*', '*', '?', '?', '?', '?'}},
    {kEscapeCount,
     {'[', '"', '\'', '|', '^', 0x07},
     {'%', '%', '_', '_', '_', '_'}},
}};
static_assert(kEscapeTable.size() == 2);
static_assert(kEscapeTable[0].count == kEscapeCount &&
              kEscapeTable[1].count == kEscapeCount);

// Alphabet character of each folded position 0..63.
constexpr char kScreenAlphabet[] =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz{}";
static_assert(sizeof(kScreenAlphabet) - 1 == 64);
static_assert(kScreenAlphabet[10] == 'A' && kScreenAlphabet[36] == 'a' &&
              kScreenAlphabet[62] == '{' && kScreenAlphabet[63] == '}');

constexpr std::uint32_t kAlphabetPositions = 64;

std::size_t DialectIndex(WildcardDialect dialect) {
  return dialect == WildcardDialect::kOdbc ? 1 : 0;
}

bool IsSpecial(std::uint8_t character) {
  for (std::uint8_t special : kSpecialChars) {
    if (character == special) return true;
  }
  return false;
}

std::uint8_t Replace(std::uint8_t character, ScreenMode mode,
                     WildcardDialect dialect) {
  if (mode != ScreenMode::kQuery) return character == '|' ? '?' : character;
  const EscapeRow& row = kEscapeTable[DialectIndex(dialect)];
  for (std::size_t i = 0; i < row.count; ++i) {
    if (character == row.from[i]) return row.to[i];
  }
  return character;
}

void Put(Stream* stream, std::uint8_t character, std::uint32_t* budget) {
  stream->PutChar(static_cast<char>(character));
  --*budget;
}

}  // namespace

char SeparatorOf(WildcardDialect dialect) {
  return kSeparators[DialectIndex(dialect)];
}

void PutPatternChar(std::uint8_t character, ScreenMode mode,
                    WildcardDialect dialect, std::uint32_t* budget,
                    Stream* stream) {
  const auto separator = static_cast<std::uint8_t>(SeparatorOf(dialect));
  if (*budget == 0) return;
  if (*budget == 1) {
    Put(stream, separator, budget);
    return;
  }
  const bool bracketed = IsSpecial(character);
  if (bracketed) {
    // A bracketed character needs three places; with fewer the text ends
    // here, on a separator.
    if (*budget < kBracketedBudget) {
      stream->PutChar(static_cast<char>(separator));
      *budget = 0;
      return;
    }
    Put(stream, mode == ScreenMode::kQuery ? separator : '[', budget);
  }
  Put(stream, Replace(character, mode, dialect), budget);
  if (bracketed) Put(stream, ']', budget);
}

void WriteRawScreens(const ScreenSet& set, ScreenMode mode,
                     WildcardDialect dialect, std::uint32_t* budget,
                     Stream* stream) {
  std::uint32_t largest = 0;
  set.Last(&largest);
  const bool query = mode == ScreenMode::kQuery;
  const auto separator = static_cast<std::uint8_t>(SeparatorOf(dialect));
  bool aboveWasMember = false;
  for (std::uint32_t n = largest; n >= 1; --n) {
    if (!set.Contains(n)) {
      aboveWasMember = false;
      continue;
    }
    if (query && !aboveWasMember && *budget > 0) {
      Put(stream, separator, budget);
    }
    PutPatternChar(static_cast<std::uint8_t>(n & 0xFF), mode, dialect, budget,
                   stream);
    aboveWasMember = true;
  }
}

void WriteAlphabetScreens(const ScreenSet& folded, ScreenMode mode,
                          WildcardDialect dialect, std::uint32_t* budget,
                          Stream* stream) {
  std::uint32_t smallest = 0;
  if (!folded.First(&smallest) || smallest >= kAlphabetPositions) return;
  const bool query = mode == ScreenMode::kQuery;
  const auto separator = static_cast<std::uint8_t>(SeparatorOf(dialect));
  bool separatorDue = true;
  // Alphabet index b stands for folded position b, so position 64 (screens
  // 64, 128, ...) lies past the table and is never written.
  for (std::uint32_t b = smallest; b < kAlphabetPositions; ++b) {
    if (!folded.Contains(b)) {
      separatorDue = true;
      continue;
    }
    if (query && separatorDue) {
      if (*budget == 0) return;
      Put(stream, separator, budget);
    }
    if (*budget == 0) return;
    if (query && *budget == 1) {
      // As in the raw variant the last place of a cut query is kept for the
      // separator: a pattern ending on a screen character would demand that
      // the target's text end there too, and lose targets with more screens.
      Put(stream, separator, budget);
      return;
    }
    Put(stream, static_cast<std::uint8_t>(kScreenAlphabet[b]), budget);
    separatorDue = false;
  }
}

}  // namespace zolv

#include "pattern_match.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "test_files.h"

namespace zolv::search {
namespace {

constexpr WildcardDialect kAccess = WildcardDialect::kAccess;
constexpr WildcardDialect kOdbc = WildcardDialect::kOdbc;

using testing::Bytes;

struct MatchCase {
  std::string pattern;
  std::string text;
  bool matches;
};

TEST(PatternMatch, AccessFollowsGlobRules) {
  const std::vector<MatchCase> cases = {
      {"", "", true},
      {"", "a", false},
      {"*", "", true},
      {"*", Bytes({0x00, 0xFF}), true},
      {"?", Bytes({0x00}), true},
      {"?", "", false},
      {"?", "ab", false},
      {"a*b", "ab", true},
      {"a*b", "axxb", true},
      {"a*b", "axxbc", false},
      {"*ab*ab", "abxab", true},
      {"*aab", "aaab", true},  // the run must give back what it took
      {"a", "A", false},       // letter case counts
      {"[abc]", "b", true},
      {"[abc]", "d", false},
      {"[!abc]", "d", true},
      {"[!abc]", "a", false},
      {"[a-c]x", "bx", true},
      {"[a-c]x", "dx", false},
      {"[]]", "]", true},  // "]" first is a member
      {"[!]]", "]", false},
      {"[-a]", "-", true},  // "-" first is a member
      {"[a-]", "-", true},  // and last
      {"[", "[", true},     // no closing "]": itself
      {"*[*", "x[y", true},
      {"[*]", "*", true},  // a class of one special character
      {"[*]", "[*]", false},
      {"\\", "\\", true},  // no escape character
      {"%_", "%_", true},  // ODBC wildcards are plain in Access
      {"%_", "ab", false},
      {"#", "1", false},  // no digit wildcard either
      // Target texts bracket special characters; query patterns write the
      // opening bracket as a separator.
      {"***]", "[*]", true},
      {"**]", "[[]", true},
      {"*?]", "[?]", true},
      {"*-]", "x[-]y", false},
      {"*-]*", "x[-]y", true},
  };
  for (const MatchCase& c : cases) {
    EXPECT_EQ(MatchPattern(c.pattern, c.text, kAccess), c.matches)
        << "pattern \"" << c.pattern << "\", text \"" << c.text << "\"";
  }
}

TEST(PatternMatch, OdbcFollowsLikeRulesWithoutEscapeOrCaseFolding) {
  const std::vector<MatchCase> cases = {
      {"%", "", true},
      {"%", Bytes({0x00, 0xFF}), true},
      {"_", Bytes({0x00}), true},
      {"_", "", false},
      {"a%b", "axxb", true},
      {"a%b", "axxbc", false},
      {"a", "A", false},
      {"A%", "abc", false},
      {"*", "x", false},  // Access wildcards are plain in ODBC
      {"?", "?", true},
      {"[a]", "a", false},  // no classes
      {"[a]", "[a]", true},
      {"\\%", "\\x", true},  // no escape: the backslash is a byte
      {"\\%", "%", false},
      {"%*]", "[*]", true},
      {"%%]", "[[]", true},
  };
  for (const MatchCase& c : cases) {
    EXPECT_EQ(MatchPattern(c.pattern, c.text, kOdbc), c.matches)
        << "pattern \"" << c.pattern << "\", text \"" << c.text << "\"";
  }
}

// The bytes a raw text holds that text functions and escapes get wrong: NUL,
// the bell, both quotes, "[", the backslash, "|" and every byte above 0x7F.
std::vector<int> AwkwardBytes() {
  std::vector<int> bytes = {0x00, 0x07, 0x22, 0x27, 0x5B, 0x5C, 0x7C};
  for (int b = 0x80; b <= 0xFF; ++b) bytes.push_back(b);
  return bytes;
}

TEST(PatternMatch, EveryAwkwardByteIsComparedAsItIs) {
  for (const WildcardDialect dialect : {kAccess, kOdbc}) {
    const std::string any = dialect == kAccess ? "*" : "%";
    const std::string one = dialect == kAccess ? "?" : "_";
    for (const int value : AwkwardBytes()) {
      const char b = static_cast<char>(value);
      const std::string text = std::string("M") + b + "v";
      SCOPED_TRACE("byte " + std::to_string(value) + ", dialect " +
                   std::to_string(static_cast<int>(dialect)));
      EXPECT_TRUE(MatchPattern(any + b + any, text, dialect));
      EXPECT_TRUE(MatchPattern(std::string("M") + b + "v", text, dialect));
      EXPECT_TRUE(MatchPattern("M" + one + "v", text, dialect));
      // One byte is one byte, whatever UTF-8 would make of it.
      EXPECT_FALSE(MatchPattern("M" + one + one + "v", text, dialect));
      EXPECT_FALSE(MatchPattern(any + b + b + any, text, dialect));
      const char other = static_cast<char>(value ^ 0x01);
      EXPECT_FALSE(MatchPattern(any + other + any, text, dialect));
      // Bytes after the awkward one still count.
      EXPECT_FALSE(MatchPattern(any + b + "w", text, dialect));
    }
  }
}

// A direct transcription of the rules, slow but obviously right, to hold
// the compiled matcher against.
bool Reference(const std::string& p, std::size_t i, const std::string& t,
               std::size_t j, WildcardDialect dialect) {
  if (i == p.size()) return j == t.size();
  const char anyRun = dialect == kAccess ? '*' : '%';
  const char anyByte = dialect == kAccess ? '?' : '_';
  if (p[i] == anyRun) {
    for (std::size_t k = j; k <= t.size(); ++k) {
      if (Reference(p, i + 1, t, k, dialect)) return true;
    }
    return false;
  }
  if (j == t.size()) return false;
  if (p[i] == anyByte) return Reference(p, i + 1, t, j + 1, dialect);
  return p[i] == t[j] && Reference(p, i + 1, t, j + 1, dialect);
}

TEST(PatternMatch, AgreesWithTheRulesOnRandomPatterns) {
  std::mt19937 random(20240611);
  const std::string alphabet = std::string("ab*%?_") + '\0' + '\xFF';
  const auto draw = [&](std::size_t maxLength) {
    std::string s(random() % (maxLength + 1), ' ');
    for (char& c : s) c = alphabet[random() % alphabet.size()];
    return s;
  };
  for (int round = 0; round < 20000; ++round) {
    const std::string pattern = draw(7);
    const std::string text = draw(9);
    for (const WildcardDialect dialect : {kAccess, kOdbc}) {
      ASSERT_EQ(MatchPattern(pattern, text, dialect),
                Reference(pattern, 0, text, 0, dialect))
          << "pattern \"" << pattern << "\", text \"" << text << "\"";
    }
  }
}

struct LikeCase {
  std::string access;
  std::string like;
};

TEST(AccessPatternToLike, TranslatesWildcardsAndClasses) {
  const std::vector<LikeCase> cases = {
      {"*ab?*", "%ab_%"},
      {"*[!x-z]*", "%_%"},
      {"[", "["},
      {"%_\\", "%_\\"},  // become wildcards: widening, never narrowing
      {Bytes({0x2A, 0x00, 0xFF, 0x3F}), Bytes({0x25, 0x00, 0xFF, 0x5F})},
  };
  for (const LikeCase& c : cases) {
    EXPECT_EQ(AccessPatternToLike(c.access), c.like) << c.access;
  }
}

TEST(AccessPatternToLike, MatchesEveryTextThePatternMatches) {
  std::mt19937 random(7);
  const std::string alphabet = "ab*?%_[]!-";
  const auto draw = [&](std::size_t maxLength) {
    std::string s(random() % (maxLength + 1), ' ');
    for (char& c : s) c = alphabet[random() % alphabet.size()];
    return s;
  };
  int matched = 0;
  for (int round = 0; round < 50000; ++round) {
    const std::string pattern = draw(6);
    const std::string text = draw(6);
    if (!MatchPattern(pattern, text, kAccess)) continue;
    ++matched;
    ASSERT_TRUE(MatchPattern(AccessPatternToLike(pattern), text, kOdbc))
        << "pattern \"" << pattern << "\", text \"" << text << "\"";
  }
  EXPECT_GT(matched, 1000);  // the draw must exercise the property
}

}  // namespace
}  // namespace zolv::search

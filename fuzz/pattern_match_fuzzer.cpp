// The search side's byte-exact matcher against a plain recursive reading of
// GLOB (Access) and LIKE (ODBC) written here: the input's first byte picks
// the dialect and where the pattern ends, the rest is pattern then text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "pattern_match.h"

namespace zolv::fuzz {
namespace {

// One "[...]" class at pattern[at] (just past the "["): whether byte is in
// it, and where the class ends (past its "]"); npos when it is never closed.
std::size_t ReadClass(std::string_view pattern, std::size_t at,
                      unsigned char byte, bool* member) {
  bool negated = false;
  if (at < pattern.size() && pattern[at] == '!') {
    negated = true;
    ++at;
  }
  bool in = false;
  bool first = true;
  while (at < pattern.size() && (first || pattern[at] != ']')) {
    const auto low = static_cast<unsigned char>(pattern[at]);
    if (at + 2 < pattern.size() && pattern[at + 1] == '-' &&
        pattern[at + 2] != ']') {
      const auto high = static_cast<unsigned char>(pattern[at + 2]);
      if (byte >= low && byte <= high) in = true;
      at += 3;
    } else {
      if (byte == low) in = true;
      ++at;
    }
    first = false;
  }
  if (at >= pattern.size()) return std::string_view::npos;
  *member = in != negated;
  return at + 1;
}

// Whether pattern[p..] matches text[t..], by the rules read one element at
// a time; memo keeps the answers so that many wildcards stay cheap.
class PlainMatcher {
 public:
  PlainMatcher(std::string_view pattern, std::string_view text, bool odbc)
      : pattern_(pattern),
        text_(text),
        odbc_(odbc),
        memo_((pattern.size() + 1) * (text.size() + 1), -1) {}

  bool Match(std::size_t p, std::size_t t) {
    signed char& known = memo_[p * (text_.size() + 1) + t];
    if (known < 0) known = Compute(p, t) ? 1 : 0;
    return known == 1;
  }

 private:
  bool Compute(std::size_t p, std::size_t t) {
    if (p == pattern_.size()) return t == text_.size();
    const char c = pattern_[p];
    if (c == (odbc_ ? '%' : '*')) {
      return Match(p + 1, t) || (t < text_.size() && Match(p, t + 1));
    }
    if (t == text_.size()) return false;
    if (c == (odbc_ ? '_' : '?')) return Match(p + 1, t + 1);
    if (!odbc_ && c == '[') {
      bool member = false;
      const std::size_t end = ReadClass(
          pattern_, p + 1, static_cast<unsigned char>(text_[t]), &member);
      if (end != std::string_view::npos) return member && Match(end, t + 1);
    }
    return c == text_[t] && Match(p + 1, t + 1);
  }

  std::string_view pattern_;
  std::string_view text_;
  bool odbc_;
  std::vector<signed char> memo_;
};

bool Plain(std::string_view pattern, std::string_view text, bool odbc) {
  return PlainMatcher(pattern, text, odbc).Match(0, 0);
}

}  // namespace
}  // namespace zolv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace zolv;
  if (size == 0) return 0;
  if (size > 4096) return 0;
  const bool odbc = (data[0] & 0x80) != 0;
  const std::string_view rest(reinterpret_cast<const char*>(data + 1),
                              size - 1);
  // The pattern is short enough to be about as long as the texts it meets.
  const std::size_t split = (data[0] & 0x7F) % (rest.size() + 1);
  const std::string_view pattern = rest.substr(0, split);
  const std::string_view text = rest.substr(split);
  const WildcardDialect dialect =
      odbc ? WildcardDialect::kOdbc : WildcardDialect::kAccess;

  const bool expected = fuzz::Plain(pattern, text, odbc);
  if (search::MatchPattern(pattern, text, dialect) != expected) {
    fuzz::Fail("MatchPattern differs from the plain reading");
  }
  if (search::CompiledPattern(pattern, dialect).Matches(text) != expected) {
    fuzz::Fail("CompiledPattern differs from the plain reading");
  }
  if (!odbc && expected &&
      !fuzz::Plain(search::AccessPatternToLike(pattern), text, true)) {
    fuzz::Fail("the LIKE form of an Access pattern lost a match");
  }
  return 0;
}

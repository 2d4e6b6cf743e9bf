#include "pattern_match.h"

#include <cstddef>
#include <optional>

namespace zolv::search {
namespace {

// An Access class starting at pattern[start] == '[': its members and the
// index just past its "]", or none when no "]" closes it.
struct ParsedClass {
  std::bitset<256> members;
  std::size_t end = 0;
};

std::optional<ParsedClass> ParseClass(std::string_view pattern,
                                      std::size_t start) {
  std::size_t i = start + 1;
  bool negated = false;
  if (i < pattern.size() && pattern[i] == '!') {
    negated = true;
    ++i;
  }
  ParsedClass parsed;
  bool first = true;
  while (i < pattern.size()) {
    const auto low = static_cast<unsigned char>(pattern[i]);
    if (low == ']' && !first) {
      if (negated) parsed.members.flip();
      parsed.end = i + 1;
      return parsed;
    }
    first = false;
    if (i + 2 < pattern.size() && pattern[i + 1] == '-' &&
        pattern[i + 2] != ']') {
      const auto high = static_cast<unsigned char>(pattern[i + 2]);
      for (unsigned b = low; b <= high; ++b) parsed.members.set(b);
      i += 3;
    } else {
      parsed.members.set(low);
      ++i;
    }
  }
  return std::nullopt;
}

}  // namespace

CompiledPattern::CompiledPattern(std::string_view pattern,
                                 WildcardDialect dialect) {
  const bool access = dialect == WildcardDialect::kAccess;
  const char anyRun = access ? '*' : '%';
  const char anyByte = access ? '?' : '_';
  elements_.reserve(pattern.size());
  for (std::size_t i = 0; i < pattern.size();) {
    const char c = pattern[i];
    Element element;
    if (c == anyRun) {
      ++i;
      // Runs of "*" match what one does; one is cheaper to backtrack.
      if (!elements_.empty() && elements_.back().kind == Kind::kAnyRun) {
        continue;
      }
      element.kind = Kind::kAnyRun;
    } else if (c == anyByte) {
      element.kind = Kind::kAnyByte;
      ++i;
    } else if (access && c == '[') {
      if (std::optional<ParsedClass> parsed = ParseClass(pattern, i)) {
        element.kind = Kind::kClass;
        element.klass = static_cast<std::uint32_t>(classes_.size());
        classes_.push_back(parsed->members);
        i = parsed->end;
      } else {
        element.byte = static_cast<std::uint8_t>(c);
        ++i;
      }
    } else {
      element.byte = static_cast<std::uint8_t>(c);
      ++i;
    }
    elements_.push_back(element);
  }
}

bool CompiledPattern::MatchesOne(const Element& element,
                                 std::uint8_t byte) const {
  switch (element.kind) {
    case Kind::kByte:
      return element.byte == byte;
    case Kind::kAnyByte:
      return true;
    case Kind::kClass:
      return classes_[element.klass].test(byte);
    case Kind::kAnyRun:
      break;
  }
  return false;
}

// Every element but "any run" takes exactly one byte, so the classic
// two-pointer scan is exact: on a mismatch, the last "any run" takes one
// byte more and the elements after it are tried again. It needs
// O(pattern x text) steps at worst and no memory.
bool CompiledPattern::Matches(std::string_view text) const {
  const std::size_t count = elements_.size();
  std::size_t p = 0;
  std::size_t t = 0;
  std::size_t runElement = count;  // the last "any run" seen; none yet
  std::size_t runText = 0;         // where the text after it resumes
  while (t < text.size()) {
    if (p < count && elements_[p].kind == Kind::kAnyRun) {
      runElement = p++;
      runText = t;
    } else if (p < count &&
               MatchesOne(elements_[p], static_cast<std::uint8_t>(text[t]))) {
      ++p;
      ++t;
    } else if (runElement != count) {
      p = runElement + 1;
      t = ++runText;
    } else {
      return false;
    }
  }
  while (p < count && elements_[p].kind == Kind::kAnyRun) ++p;
  return p == count;
}

bool MatchPattern(std::string_view pattern, std::string_view text,
                  WildcardDialect dialect) {
  return CompiledPattern(pattern, dialect).Matches(text);
}

std::string AccessPatternToLike(std::string_view pattern) {
  std::string like;
  like.reserve(pattern.size());
  for (std::size_t i = 0; i < pattern.size();) {
    const char c = pattern[i];
    if (c == '*') {
      like.push_back('%');
      ++i;
    } else if (c == '?') {
      like.push_back('_');
      ++i;
    } else if (c == '[') {
      if (std::optional<ParsedClass> parsed = ParseClass(pattern, i)) {
        like.push_back('_');
        i = parsed->end;
      } else {
        like.push_back(c);
        ++i;
      }
    } else {
      like.push_back(c);
      ++i;
    }
  }
  return like;
}

std::string LikePatternOf(std::string_view pattern, WildcardDialect dialect) {
  return dialect == WildcardDialect::kAccess ? AccessPatternToLike(pattern)
                                             : std::string(pattern);
}

}  // namespace zolv::search

#include "option_parser.h"

namespace zolv {
namespace {

// Character classes of the default locale, for ASCII only: bytes 0x80 to 0xFF
// are neither, whatever locale the host process has set.
constexpr bool IsAlphanumeric(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') ||
         (u >= 'a' && u <= 'z');
}

constexpr bool IsWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

constexpr bool IsQuote(char c) { return c == '"' || c == '\''; }

constexpr char ToLowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

static_assert(IsAlphanumeric('z') && !IsAlphanumeric('\xE9') &&
              !IsWhiteSpace('\xA0') && !IsAlphanumeric('_'));

/// Whole-text comparison without regard to ASCII letter case.
bool EqualsIgnoringCase(const char* text, const char* word) {
  for (; *text != '\0' && *word != '\0'; ++text, ++word) {
    if (ToLowerAscii(*text) != ToLowerAscii(*word)) return false;
  }
  return *text == '\0' && *word == '\0';
}

const char* SkipWhiteSpace(const char* p) {
  while (IsWhiteSpace(*p)) ++p;
  return p;
}

const char* SkipAlphanumeric(const char* p) {
  while (IsAlphanumeric(*p)) ++p;
  return p;
}

/// Decimal value of text after optional white space and one sign, in 32-bit
/// arithmetic that wraps; 0 without leading digits.
std::uint32_t ConvertDecimal(const char* text) {
  const char* p = SkipWhiteSpace(text);
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  std::uint32_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10u + static_cast<std::uint32_t>(*p - '0');
  }
  return negative ? 0u - value : value;
}

}  // namespace

const OptionSyntax* FindOptionKey(const char* key) {
  for (const OptionSyntax& syntax : kOptionSyntax) {
    if (EqualsIgnoringCase(key, syntax.name)) return &syntax;
  }
  return nullptr;
}

int AcceptedValue(const OptionSyntax& syntax, const char* value) {
  if (syntax.values[0] == nullptr) return 0;
  for (std::size_t i = 0; i < syntax.values.size(); ++i) {
    if (syntax.values[i] != nullptr &&
        EqualsIgnoringCase(value, syntax.values[i])) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

bool NextOption(const char** cursor, TextBuffer* key, TextBuffer* value) {
  key->Reset();
  value->Reset();
  if (*cursor == nullptr) return false;
  const char* p = *cursor;

  while (*p != '\0' && !IsAlphanumeric(*p)) ++p;
  const char* keyEnd = SkipAlphanumeric(p);
  if (keyEnd != p) key->AssignPrefix(p, static_cast<std::uint32_t>(keyEnd - p));
  p = SkipWhiteSpace(keyEnd);

  if (*p == '=') {
    p = SkipWhiteSpace(p + 1);
    const char* valueStart = p;
    if (IsQuote(*p)) {
      // No escapes: the value runs to the next quote of the same kind, or to
      // the end of the text when the quote is never closed.
      const char quote = *p;
      valueStart = ++p;
      while (*p != '\0' && *p != quote) ++p;
    } else {
      p = SkipAlphanumeric(p);
    }
    if (p != valueStart) {
      value->AssignPrefix(valueStart,
                          static_cast<std::uint32_t>(p - valueStart));
    }
    if (IsQuote(*p)) ++p;
  }

  *cursor = SkipWhiteSpace(p);
  return key->HasText();
}

void ParseOptions(const char* options, ScreenMode* screenMode, bool* sbi,
                  WildcardDialect* dialect, bool* ascii, std::uint32_t* length,
                  TextBuffer* screenFile) {
  *sbi = false;
  *dialect = WildcardDialect::kAccess;
  *ascii = false;
  if (options == nullptr) return;

  // Keys whose first accepted value is taken already.
  bool taken[kOptionKeyCount] = {};
  TextBuffer key;
  TextBuffer value;
  const char* cursor = options;
  while (NextOption(&cursor, &key, &value)) {
    if (!value.HasText()) continue;
    const OptionSyntax* syntax = FindOptionKey(key.text());
    if (syntax == nullptr) continue;
    const int accepted = AcceptedValue(*syntax, value.text());
    if (accepted < 0) continue;
    if (syntax->firstWins) {
      bool& first = taken[syntax - kOptionSyntax];
      if (first) continue;
      first = true;
    }
    // The values are listed in kOptionSyntax's order.
    switch (syntax->key) {
      case OptionKey::kAscii:
        *ascii = accepted == 0;
        break;
      case OptionKey::kDatabase:
        *dialect =
            accepted == 0 ? WildcardDialect::kAccess : WildcardDialect::kOdbc;
        break;
      case OptionKey::kFormat:
        *sbi = true;
        break;
      case OptionKey::kObject:
        *screenMode = accepted == 0 ? ScreenMode::kTarget : ScreenMode::kQuery;
        break;
      case OptionKey::kLength:
        // The first value wins even when it is no number.
        *length = ConvertDecimal(value.text());
        break;
      case OptionKey::kScreenFile:
        screenFile->AssignBuffer(value);
        break;
    }
  }
}

void ParseOptions(const char* options, WriteOptions* result) {
  ParseOptions(options, &result->screenMode, &result->sbi, &result->dialect,
               &result->ascii, &result->length, &result->screenFile);
}

}  // namespace zolv

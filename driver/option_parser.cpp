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

// Keys that only their first accepted occurrence sets.
struct TakenMarks {
  bool database = false;
  bool format = false;
  bool object = false;
  bool length = false;
  bool screenFile = false;
};

}  // namespace

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

  TakenMarks taken;
  TextBuffer key;
  TextBuffer value;
  const char* cursor = options;
  while (NextOption(&cursor, &key, &value)) {
    if (!value.HasText()) continue;
    const char* k = key.text();
    const char* v = value.text();
    if (EqualsIgnoringCase(k, "ascii")) {
      if (EqualsIgnoringCase(v, "true")) *ascii = true;
      if (EqualsIgnoringCase(v, "false")) *ascii = false;
    } else if (EqualsIgnoringCase(k, "database")) {
      if (taken.database) continue;
      if (EqualsIgnoringCase(v, "Access")) {
        *dialect = WildcardDialect::kAccess;
        taken.database = true;
      } else if (EqualsIgnoringCase(v, "ODBC")) {
        *dialect = WildcardDialect::kOdbc;
        taken.database = true;
      }
    } else if (EqualsIgnoringCase(k, "format")) {
      if (!taken.format && EqualsIgnoringCase(v, "SBI")) {
        *sbi = true;
        taken.format = true;
      }
    } else if (EqualsIgnoringCase(k, "object")) {
      if (taken.object) continue;
      if (EqualsIgnoringCase(v, "target")) {
        *screenMode = ScreenMode::kTarget;
        taken.object = true;
      } else if (EqualsIgnoringCase(v, "query")) {
        *screenMode = ScreenMode::kQuery;
        taken.object = true;
      }
    } else if (EqualsIgnoringCase(k, "length")) {
      // The first value wins even when it is no number.
      if (taken.length) continue;
      taken.length = true;
      *length = ConvertDecimal(v);
    } else if (EqualsIgnoringCase(k, "screenfile")) {
      if (taken.screenFile) continue;
      screenFile->AssignBuffer(value);
      taken.screenFile = true;
    }
  }
}

void ParseOptions(const char* options, WriteOptions* result) {
  ParseOptions(options, &result->screenMode, &result->sbi, &result->dialect,
               &result->ascii, &result->length, &result->screenFile);
}

}  // namespace zolv

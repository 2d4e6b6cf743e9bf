// The option string of a write call: arbitrary bytes through ParseOptions and
// NextOption, compared with a plain reading of the same rules written here
// without the driver's code.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "fuzz_support.h"
#include "option_parser.h"
#include "text_buffer.h"

namespace zolv::fuzz {
namespace {

bool Alphanumeric(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
         (c >= 'a' && c <= 'z');
}

bool White(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool SameWord(const std::string& text, const char* word) {
  if (text.size() != std::strlen(word)) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char a = text[i];
    char b = word[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

struct Pair {
  std::optional<std::string> key;
  std::optional<std::string> value;
};

// One pair from position *at of text (NUL-terminated).
bool ReadPair(const char* text, std::size_t* at, Pair* pair) {
  *pair = Pair{};
  std::size_t p = *at;
  while (text[p] != '\0' && !Alphanumeric(text[p])) ++p;
  const std::size_t keyStart = p;
  while (Alphanumeric(text[p])) ++p;
  if (p != keyStart) pair->key = std::string(text + keyStart, p - keyStart);
  while (White(text[p])) ++p;
  if (text[p] == '=') {
    ++p;
    while (White(text[p])) ++p;
    std::size_t start = p;
    if (text[p] == '"' || text[p] == '\'') {
      // An unclosed quote takes the rest of the text.
      const char quote = text[p];
      start = ++p;
      while (text[p] != '\0' && text[p] != quote) ++p;
    } else {
      while (Alphanumeric(text[p])) ++p;
    }
    if (p != start) pair->value = std::string(text + start, p - start);
    if (text[p] == '"' || text[p] == '\'') ++p;
  }
  while (White(text[p])) ++p;
  *at = p;
  return pair->key.has_value();
}

std::uint32_t Decimal(const std::string& text) {
  std::size_t p = 0;
  while (p < text.size() && White(text[p])) ++p;
  bool negative = false;
  if (p < text.size() && (text[p] == '-' || text[p] == '+')) {
    negative = text[p] == '-';
    ++p;
  }
  std::uint32_t value = 0;
  for (; p < text.size() && text[p] >= '0' && text[p] <= '9'; ++p) {
    value = value * 10u + static_cast<std::uint32_t>(text[p] - '0');
  }
  return negative ? 0u - value : value;
}

struct Expected {
  ScreenMode screenMode = ScreenMode::kTarget;
  bool sbi = false;
  WildcardDialect dialect = WildcardDialect::kAccess;
  bool ascii = false;
  std::uint32_t length = 128;
  std::optional<std::string> screenFile;
};

Expected Reference(const char* text) {
  Expected e;
  bool database = false, format = false, object = false, length = false,
       screenFile = false;
  std::size_t at = 0;
  Pair pair;
  while (ReadPair(text, &at, &pair)) {
    if (!pair.value) continue;
    const std::string& k = *pair.key;
    const std::string& v = *pair.value;
    if (SameWord(k, "ascii")) {
      if (SameWord(v, "true")) e.ascii = true;
      if (SameWord(v, "false")) e.ascii = false;
    } else if (SameWord(k, "database") && !database) {
      if (SameWord(v, "Access") || SameWord(v, "ODBC")) {
        e.dialect = SameWord(v, "ODBC") ? WildcardDialect::kOdbc
                                        : WildcardDialect::kAccess;
        database = true;
      }
    } else if (SameWord(k, "format") && !format && SameWord(v, "SBI")) {
      e.sbi = true;
      format = true;
    } else if (SameWord(k, "object") && !object) {
      if (SameWord(v, "target") || SameWord(v, "query")) {
        e.screenMode =
            SameWord(v, "query") ? ScreenMode::kQuery : ScreenMode::kTarget;
        object = true;
      }
    } else if (SameWord(k, "length") && !length) {
      e.length = Decimal(v);
      length = true;
    } else if (SameWord(k, "screenfile") && !screenFile) {
      e.screenFile = v;
      screenFile = true;
    }
  }
  return e;
}

void Run(const std::uint8_t* data, std::size_t size) {
  // An exact-size copy, so that a read past the terminator is caught.
  std::unique_ptr<char[]> text(new char[size + 1]);
  if (size != 0) std::memcpy(text.get(), data, size);
  text[size] = '\0';
  const std::size_t length = std::strlen(text.get());

  // Every pair moves the cursor on, and it never leaves the text.
  const char* cursor = text.get();
  TextBuffer key;
  TextBuffer value;
  std::size_t at = 0;
  Pair pair;
  for (;;) {
    const char* before = cursor;
    const bool read = NextOption(&cursor, &key, &value);
    const bool expected = ReadPair(text.get(), &at, &pair);
    if (read != expected) Fail("NextOption: another end of the pairs");
    if (cursor < text.get() || cursor > text.get() + length) {
      Fail("NextOption left the text");
    }
    if (static_cast<std::size_t>(cursor - text.get()) != at) {
      Fail("NextOption: cursor elsewhere");
    }
    if (!read) break;
    if (cursor == before) Fail("NextOption consumed nothing");
    if (std::string(key.text()) != *pair.key) Fail("NextOption: key");
    if (value.HasText() != pair.value.has_value() ||
        (value.HasText() && std::string(value.text()) != *pair.value)) {
      Fail("NextOption: value");
    }
  }

  WriteOptions options;
  ParseOptions(text.get(), &options);
  const Expected e = Reference(text.get());
  if (options.screenMode != e.screenMode) Fail("object");
  if (options.sbi != e.sbi) Fail("format");
  if (options.dialect != e.dialect) Fail("database");
  if (options.ascii != e.ascii) Fail("ascii");
  if (options.length != e.length) Fail("length");
  if (options.screenFile.HasText() != e.screenFile.has_value() ||
      (e.screenFile &&
       std::string(options.screenFile.text()) != *e.screenFile)) {
    Fail("screenfile");
  }
}

}  // namespace
}  // namespace zolv::fuzz

ZOLV_FUZZ_ON_CLEAN_CORE(zolv::fuzz::Run)

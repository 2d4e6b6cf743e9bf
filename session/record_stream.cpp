#include "record_stream.h"

#include <algorithm>
#include <cstdint>

#include "option_parser.h"
#include "plain_text.h"

namespace zolv::host {
namespace {

// "ascii, database, ...": the keys the driver reads.
std::string KnownKeys() {
  std::string keys;
  for (const OptionSyntax& syntax : kOptionSyntax) {
    keys += (keys.empty() ? "" : ", ") + std::string(syntax.name);
  }
  return keys;
}

bool IsAsciiAlphanumeric(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
         (c >= 'a' && c <= 'z');
}

// The raw text of one pair, from its key to where the tokenizer moved on,
// for what the tokenizer does not tell: whether a quote was closed and
// where an unquoted value stopped.
struct RawPair {
  bool quoted = false;
  bool closed = false;
  char stop = '\0';  // the character an unquoted value stopped at
};

RawPair ReadRawPair(const char* begin, const char* end) {
  RawPair raw;
  const char* p = begin;
  while (p < end && IsAsciiAlphanumeric(*p)) ++p;
  while (p < end && (*p == ' ' || (*p >= '\t' && *p <= '\r'))) ++p;
  if (p == end || *p != '=') return raw;
  ++p;
  while (p < end && (*p == ' ' || (*p >= '\t' && *p <= '\r'))) ++p;
  if (p < end && (*p == '"' || *p == '\'')) {
    raw.quoted = true;
    const char quote = *p;
    raw.closed = std::string(p + 1, end).find(quote) != std::string::npos;
    return raw;
  }
  while (p < end && IsAsciiAlphanumeric(*p)) ++p;
  raw.stop = p < end ? *p : '\0';
  return raw;
}

}  // namespace

OptionReview ReviewOptions(const std::string& options) {
  OptionReview review;
  const auto warn = [&review](const std::string& text) {
    review.warnings.push_back("option " + text);
  };
  std::vector<const OptionSyntax*> seen;
  const char* cursor = options.c_str();
  const char* const textEnd = cursor + options.size();
  if (options.find('\0') != std::string::npos) {
    warn("string holds a NUL byte; the driver reads nothing after it");
  }
  TextBuffer key;
  TextBuffer value;
  for (;;) {
    const char* start = cursor;
    while (*start != '\0' && !IsAsciiAlphanumeric(*start)) ++start;
    if (!NextOption(&cursor, &key, &value)) break;
    const std::string name = key.text();
    const RawPair raw = ReadRawPair(start, textEnd);
    const std::string shown = "'" + name + "'";
    if (raw.quoted && !raw.closed) {
      warn(shown +
           ": its quote is never closed, so its value runs to the "
           "end of the options and every option after it is lost");
    }
    const OptionSyntax* syntax = FindOptionKey(name.c_str());
    if (syntax == nullptr) {
      warn(shown + " is not an option of the driver (" + KnownKeys() +
           "); the driver skips it");
      continue;
    }
    if (!value.HasText()) {
      warn(shown + " has no value; the driver skips it");
      continue;
    }
    const std::string text = value.text();
    if (!raw.quoted && raw.stop != '\0' && raw.stop != ' ' &&
        !(raw.stop >= '\t' && raw.stop <= '\r')) {
      warn(shown + ": the driver reads its value as '" + text +
           "' and stops at '" + std::string(1, raw.stop) + "'");
    }
    const bool repeated =
        std::find(seen.begin(), seen.end(), syntax) != seen.end();
    if (AcceptedValue(*syntax, text.c_str()) < 0) {
      warn(shown + "=" + text +
           ": the driver does not accept this value "
           "and skips it");
      // A skipped value leaves a first-wins key to a later one.
      if (syntax->firstWins) continue;
    } else if (syntax->key == OptionKey::kLength && !repeated) {
      // Only the first "length" counts; later ones are named below.
      std::uint64_t number = 0;
      bool digits = !text.empty();
      for (const char c : text) {
        if (c < '0' || c > '9') {
          digits = false;
          break;
        }
        if (number <= kMaxRecordLength) number = number * 10 + (c - '0');
      }
      WriteOptions parsed;
      ParseOptions(options.c_str(), &parsed);
      if (!digits) {
        warn(shown + "=" + text +
             " is no whole number; the driver reads it "
             "as " +
             std::to_string(parsed.length));
      }
      const std::uint64_t asked = digits ? number : parsed.length;
      if (asked > kMaxRecordLength) {
        review.error = "option 'length'=" + text + " asks for more than " +
                       std::to_string(kMaxRecordLength) +
                       " characters, more than zolv holds for one record";
      }
    }
    if (syntax->firstWins && repeated) {
      warn(shown + " is given again; the driver keeps the first");
    }
    seen.push_back(syntax);
  }
  return review;
}

std::optional<RecordEncoding> ParseRecordEncoding(const std::string& name) {
  if (name == "text") return RecordEncoding::kText;
  if (name == "hex") return RecordEncoding::kHex;
  if (name == "escaped") return RecordEncoding::kEscaped;
  return std::nullopt;
}

std::string EncodeRecord(const std::string& record, RecordEncoding encoding) {
  if (encoding == RecordEncoding::kText) return record;
  if (encoding == RecordEncoding::kHex) return HexOf(record);
  std::string out;
  out.reserve(record.size() * 2);
  for (char c : record) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\\') {
      out += "\\\\";
    } else if (byte >= 0x20 && byte < 0x7F) {
      out.push_back(c);
    } else {
      out += "\\x";
      AppendHexByte(&out, byte);
    }
  }
  return out;
}

}  // namespace zolv::host

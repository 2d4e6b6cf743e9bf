#include "utf8_text.h"

#include <cstdint>
#include <cstdio>

namespace zolv::search {
namespace {

// U+FFFD in UTF-8.
constexpr char kReplacementCharacter[] = "\xEF\xBF\xBD";

void AppendUtf8(std::uint32_t code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// Four hexadecimal digits at json[at], or -1.
long HexQuad(std::string_view json, std::size_t at) {
  if (at + 4 > json.size()) return -1;
  long value = 0;
  for (std::size_t i = at; i < at + 4; ++i) {
    const char c = json[i];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

}  // namespace

std::size_t Utf8SequenceAt(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) {
    return static_cast<unsigned char>(text[i]);
  };
  const unsigned char lead = byte(at);
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xbf;
  if (lead < 0x80) return 1;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    if (lead == 0xe0) low = 0xa0;
    if (lead == 0xed) high = 0x9f;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    if (lead == 0xf0) low = 0x90;
    if (lead == 0xf4) high = 0x8f;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char next = byte(at + i);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xbf)) {
      return 0;
    }
  }
  return length;
}

bool IsWellFormedUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8SequenceAt(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::string WithReplacementCharacters(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8SequenceAt(text, at);
    if (length == 0) {
      out += kReplacementCharacter;
      ++at;
    } else {
      out.append(text, at, length);
      at += length;
    }
  }
  return out;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  char buffer[8];
  for (std::size_t at = 0; at < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    const std::size_t length = Utf8SequenceAt(text, at);
    if (length == 0) {
      std::snprintf(buffer, sizeof buffer, "\\udc%02x", c);
      out += buffer;
      ++at;
      continue;
    }
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7f) {
      std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
      out += buffer;
    } else {
      out.append(text, at, length);
    }
    at += length;
  }
  return out + "\"";
}

bool ReadJsonString(std::string_view json, std::size_t* at,
                    std::string* bytes) {
  std::size_t i = *at;
  if (i >= json.size() || json[i] != '"') return false;
  ++i;
  bytes->clear();
  while (i < json.size()) {
    const char c = json[i];
    if (c == '"') {
      *at = i + 1;
      return true;
    }
    if (static_cast<unsigned char>(c) < 0x20) return false;
    if (c != '\\') {
      bytes->push_back(c);
      ++i;
      continue;
    }
    if (i + 1 >= json.size()) return false;
    const char escaped = json[i + 1];
    i += 2;
    switch (escaped) {
      case '"':
      case '\\':
      case '/':
        bytes->push_back(escaped);
        continue;
      case 'b':
        bytes->push_back('\b');
        continue;
      case 'f':
        bytes->push_back('\f');
        continue;
      case 'n':
        bytes->push_back('\n');
        continue;
      case 'r':
        bytes->push_back('\r');
        continue;
      case 't':
        bytes->push_back('\t');
        continue;
      case 'u':
        break;
      default:
        return false;
    }
    long code = HexQuad(json, i);
    if (code < 0) return false;
    i += 4;
    if (code >= 0xD800 && code <= 0xDBFF) {
      // A high surrogate needs its low one.
      const long low =
          i + 1 < json.size() && json[i] == '\\' && json[i + 1] == 'u'
              ? HexQuad(json, i + 2)
              : -1;
      if (low < 0xDC00 || low > 0xDFFF) return false;
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      i += 6;
    } else if (code >= 0xDC80 && code <= 0xDCFF) {
      // A lone low surrogate stands for the byte that was not UTF-8.
      bytes->push_back(static_cast<char>(code - 0xDC00));
      continue;
    } else if (code >= 0xDC00 && code <= 0xDFFF) {
      return false;
    }
    AppendUtf8(static_cast<std::uint32_t>(code), bytes);
  }
  return false;
}

}  // namespace zolv::search

#include "host/record_stream.h"

#include <filesystem>
#include <system_error>

#include "driver/option_parser.h"

namespace zolv::host {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void AppendHex(std::string* out, unsigned char byte) {
  out->push_back(kHexDigits[byte >> 4]);
  out->push_back(kHexDigits[byte & 0x0F]);
}

}  // namespace

std::optional<RecordEncoding> ParseRecordEncoding(const std::string& name) {
  if (name == "text") return RecordEncoding::kText;
  if (name == "hex") return RecordEncoding::kHex;
  if (name == "escaped") return RecordEncoding::kEscaped;
  return std::nullopt;
}

std::string EncodeRecord(const std::string& record, RecordEncoding encoding) {
  if (encoding == RecordEncoding::kText) return record;
  std::string out;
  out.reserve(record.size() * 2);
  for (char c : record) {
    const auto byte = static_cast<unsigned char>(c);
    if (encoding == RecordEncoding::kHex) {
      AppendHex(&out, byte);
    } else if (byte == '\\') {
      out += "\\\\";
    } else if (byte >= 0x20 && byte < 0x7F) {
      out.push_back(c);
    } else {
      out += "\\x";
      AppendHex(&out, byte);
    }
  }
  return out;
}

std::string ScreenFileOption(const std::string& driverDirectory,
                             const std::string& dictionaryPath,
                             std::string* error) {
  namespace fs = std::filesystem;
  std::error_code code;
  const fs::path absolute = fs::absolute(dictionaryPath, code);
  const fs::path file =
      code ? fs::path() : fs::weakly_canonical(absolute, code);
  if (code) {
    *error = dictionaryPath + ": " + code.message();
    return "";
  }
  const fs::path directory = fs::weakly_canonical(driverDirectory, code);
  if (code) {
    *error = driverDirectory + ": " + code.message();
    return "";
  }
  const std::string relative = file.lexically_relative(directory).string();
  if (relative.empty()) {
    *error = dictionaryPath + ": cannot be reached from " + driverDirectory;
    return "";
  }
  // The option string has quotes but no escapes.
  const bool hasDouble = relative.find('"') != std::string::npos;
  const bool hasSingle = relative.find('\'') != std::string::npos;
  if (hasDouble && hasSingle) {
    *error = dictionaryPath +
             ": a path with both kinds of quote cannot be "
             "passed to the driver";
    return "";
  }
  const char quote = hasDouble ? '\'' : '"';
  return std::string("screenfile=") + quote + relative + quote;
}

bool NamesScreenFile(const std::string& options) {
  WriteOptions parsed;
  ParseOptions(options.c_str(), &parsed);
  return parsed.screenFile.HasText();
}

}  // namespace zolv::host

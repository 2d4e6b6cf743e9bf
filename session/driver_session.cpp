#include "driver_session.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include "dictionary_format.h"
#include "option_parser.h"
#include "zolv/zolvexformat.h"

namespace zolv::host {
namespace {

// FNV-1a, 64 bits: enough to tell two dictionaries apart, not a security
// measure.
std::string Digest(const std::string& bytes) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  char text[32];
  std::snprintf(text, sizeof(text), "fnv1a64:%016" PRIx64, hash);
  return text;
}

// Reads and decodes the dictionary at path: why it is unusable, or empty.
std::string ReadDictionary(const std::string& path, std::string* bytes,
                           DictionaryFile* decoded) {
  std::error_code code;
  const auto status = std::filesystem::status(path, code);
  if (status.type() == std::filesystem::file_type::not_found) {
    return "no such dictionary";
  }
  if (code) return code.message();
  if (!std::filesystem::is_regular_file(status)) return "not a regular file";
  if (access(path.c_str(), R_OK) != 0) return std::strerror(errno);
  std::ifstream file(path, std::ios::binary);
  bytes->assign(std::istreambuf_iterator<char>(file),
                std::istreambuf_iterator<char>());
  if (!file.is_open() || file.bad()) return "cannot be read";
  if (bytes->compare(0, kDictionaryMagicLength, kDictionaryMagic,
                     kDictionaryMagicLength) != 0) {
    return "not a screen dictionary (it does not start with \"VetOrb\")";
  }
  *decoded = DecodeDictionary(*bytes);
  if (!decoded->headerRead || !decoded->problems.empty()) {
    return "not a usable screen dictionary" +
           (decoded->problems.empty() ? std::string()
                                      : ": " + decoded->problems[0]);
  }
  return std::string();
}

}  // namespace

std::string DictionaryProblem(const std::string& path) {
  std::string bytes;
  DictionaryFile decoded;
  return ReadDictionary(path, &bytes, &decoded);
}

std::string DictionaryDigestOf(const std::string& path) {
  std::string bytes;
  DictionaryFile decoded;
  if (!ReadDictionary(path, &bytes, &decoded).empty()) return {};
  return Digest(bytes);
}

std::string FindDictionaryWithDigest(const std::string& directory,
                                     const std::string& digest) {
  namespace fs = std::filesystem;
  std::vector<std::string> names;
  std::error_code code;
  for (fs::directory_iterator it(directory, code), end; !code && it != end;
       it.increment(code)) {
    if (it->path().extension() == ".vetorb") {
      names.push_back(it->path().string());
    }
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (DictionaryDigestOf(name) == digest) return name;
  }
  return {};
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

bool DriverSession::OpenDriver(const std::string& driverPath,
                               std::string* error) {
  if (!driver_.Load(driverPath.empty() ? DefaultDriverPath() : driverPath,
                    error)) {
    *error = "cannot load the driver: " + *error;
    return false;
  }
  return true;
}

bool DriverSession::Open(const std::string& driverPath,
                         const std::string& dictionaryPath,
                         std::string* error) {
  return OpenDriver(driverPath, error) && UseDictionary(dictionaryPath, error);
}

bool DriverSession::UseDictionary(const std::string& dictionaryPath,
                                  std::string* error) {
  dictionaryPath_ = dictionaryPath.empty()
                        ? driver_.Directory() + kDefaultDictionaryName
                        : dictionaryPath;
  std::string bytes;
  DictionaryFile dictionary;
  const std::string problem =
      ReadDictionary(dictionaryPath_, &bytes, &dictionary);
  if (!problem.empty()) {
    *error =
        dictionaryPath_ + ": " + problem +
        (dictionaryPath.empty() ? "; give a dictionary with --dictionary FILE"
                                : "");
    return false;
  }
  highestScreen_ = 0;
  for (const DictionaryScreen& screen : dictionary.content.screens) {
    highestScreen_ = std::max<std::uint32_t>(highestScreen_, screen.number);
  }
  screenCount_ = dictionary.content.screens.size();
  dictionaryDigest_ = Digest(bytes);
  screenFileOption_ =
      ScreenFileOption(driver_.Directory(), dictionaryPath_, error);
  return !screenFileOption_.empty();
}

std::string DriverSession::Options(const std::string& rest) const {
  if (screenFileOption_.empty()) return rest;
  return rest.empty() ? screenFileOption_ : screenFileOption_ + " " + rest;
}

bool DriverSession::Accepts(HostObject* object) const {
  return driver_.PreWrite(object) == ZOLV_PREWRITE_ACCEPTED;
}

std::int32_t DriverSession::Write(HostObject* object,
                                  const std::string& options,
                                  RecordStream* stream) const {
  stream->Clear();
  return driver_.Write(object, stream, options.c_str());
}

bool DriverSession::WriteRecord(HostObject* object, const std::string& options,
                                std::string* record, std::string* error) const {
  RecordStream stream;
  const std::int32_t result = Write(object, options, &stream);
  if (result != ZOLV_WRITE_DONE) {
    *error = "the driver failed (ZolvWrite result " + std::to_string(result) +
             ", options " + options + ")";
    return false;
  }
  *record = stream.record();
  return true;
}

}  // namespace zolv::host

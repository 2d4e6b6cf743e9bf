// The SQL functions' work in C++, behind the plain C interface of
// zolv_sql.h: the same driver session, pattern matcher and substructure
// check that zolv index and zolv search use, so that a statement in any
// client finds what zolv search finds.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "driver_library.h"
#include "driver_session.h"
#include "molecule_input.h"
#include "pattern_match.h"
#include "rdcore.h"
#include "record_stream.h"
#include "sbi_text_writer.h"
#include "substructure_check.h"
#include "text_store.h"
#include "zolv_sql.h"

namespace {

using zolv::host::SbiTextWriter;
using zolv::search::TextVariant;

// Dictionaries a writer keeps open at once; the least recently used goes.
constexpr std::size_t kMostDictionaries = 8;
// Characters of a molecule or path quoted in a message.
constexpr std::size_t kQuotedCharacters = 80;
// An address inside this library, where DriverPathBeside starts from.
constexpr char kInThisLibrary = 0;

void SetMessage(ZolvSqlMessage* message, std::string_view text) {
  if (message == nullptr) return;
  const std::size_t size = std::min(text.size(), sizeof(message->text) - 1);
  std::memcpy(message->text, text.data(), size);
  message->text[size] = '\0';
}

// Runs body, turning every exception into a result: nothing may leave
// through the C boundary, least of all into PostgreSQL, whose errors
// longjmp past C++ frames.
template <typename Body>
int Guarded(ZolvSqlMessage* message, Body body) noexcept {
  try {
    std::string error;
    const int result = body(&error);
    if (result != ZOLV_SQL_OK) SetMessage(message, error);
    return result;
  } catch (const std::bad_alloc&) {
    SetMessage(message, "out of memory");
    return ZOLV_SQL_NOMEM;
  } catch (const std::exception& failure) {
    SetMessage(message, failure.what());
  } catch (...) {
    SetMessage(message, "unexpected failure");
  }
  return ZOLV_SQL_ERROR;
}

std::string Quoted(std::string_view text) {
  if (text.size() <= kQuotedCharacters) return "'" + std::string(text) + "'";
  return "'" + std::string(text.substr(0, kQuotedCharacters)) + "...'";
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return lower;
}

const char* NotationName(int notation) {
  return notation == ZOLV_SQL_SMARTS ? "SMARTS" : "SMILES";
}

// Hands bytes to the caller in memory that zolv_sql_free releases; an empty
// text still gets a buffer, so that it reads as empty, not as missing.
int HandOut(const std::string& bytes, char** out, std::size_t* size) {
  char* copy =
      static_cast<char*>(std::malloc(bytes.empty() ? 1 : bytes.size()));
  if (copy == nullptr) throw std::bad_alloc();
  std::memcpy(copy, bytes.data(), bytes.size());
  *out = copy;
  *size = bytes.size();
  return ZOLV_SQL_OK;
}

// Why a molecule's text must not be parsed at all: too long, a NUL byte
// (the parser would stop there), or more atoms than any screen search needs;
// empty when it may.
std::string MoleculeProblem(std::string_view text, int notation) {
  const char* name = NotationName(notation);
  if (text.size() > ZOLV_SQL_MAX_MOLECULE_BYTES) {
    return std::string("the ") + name + " is " + std::to_string(text.size()) +
           " bytes long, more than the limit of " +
           std::to_string(ZOLV_SQL_MAX_MOLECULE_BYTES);
  }
  if (text.find('\0') != std::string_view::npos) {
    return std::string("the ") + name + " holds a NUL byte";
  }
  const std::size_t atoms = zolv::host::CountSmilesAtoms(std::string(text));
  if (atoms > zolv::host::kDefaultMaxAtoms) {
    return std::string("the ") + name + " has " + std::to_string(atoms) +
           " atoms, more than the limit of " +
           std::to_string(zolv::host::kDefaultMaxAtoms);
  }
  return {};
}

// What the options of zolv_pattern and zolv_text ask for.
struct WriteRequest {
  TextVariant variant = TextVariant::kRaw;
  zolv::WildcardDialect dialect = zolv::WildcardDialect::kAccess;
  std::string dictionary;    // empty: the default beside the driver
  std::uint32_t length = 0;  // 0: the whole text
  int notation = ZOLV_SQL_NOTATION_UNSAID;
};

// Splits options into key=value pairs: white space between pairs, a value
// quoted in ' or " when it holds white space (no escapes inside).
bool SplitOptions(std::string_view options,
                  std::vector<std::pair<std::string, std::string>>* pairs,
                  std::string* error) {
  const auto space = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
  };
  std::size_t at = 0;
  for (;;) {
    while (at < options.size() && space(options[at])) ++at;
    if (at == options.size()) return true;
    const std::size_t keyStart = at;
    while (at < options.size() && options[at] != '=' && !space(options[at])) {
      ++at;
    }
    const std::string key(options.substr(keyStart, at - keyStart));
    if (at == options.size() || options[at] != '=') {
      *error = "option '" + key + "' has no value (write key=value)";
      return false;
    }
    ++at;
    std::string value;
    if (at < options.size() && (options[at] == '\'' || options[at] == '"')) {
      const char quote = options[at++];
      const std::size_t close = options.find(quote, at);
      if (close == std::string_view::npos) {
        *error = "the value of option '" + key + "' lacks its closing " +
                 std::string(1, quote);
        return false;
      }
      value = std::string(options.substr(at, close - at));
      at = close + 1;
    } else {
      const std::size_t valueStart = at;
      while (at < options.size() && !space(options[at])) ++at;
      value = std::string(options.substr(valueStart, at - valueStart));
    }
    if (key.empty() || value.empty()) {
      *error = "an option needs a key and a value (key=value)";
      return false;
    }
    pairs->emplace_back(Lower(key), std::move(value));
  }
}

// Reads options into request. forQuery allows the keys only a pattern has.
bool ReadOptions(std::string_view options, bool forQuery, WriteRequest* request,
                 std::string* error) {
  if (options.size() > ZOLV_SQL_MAX_OPTIONS_BYTES) {
    *error = "the options are " + std::to_string(options.size()) +
             " bytes long, more than the limit of " +
             std::to_string(ZOLV_SQL_MAX_OPTIONS_BYTES);
    return false;
  }
  std::vector<std::pair<std::string, std::string>> pairs;
  if (!SplitOptions(options, &pairs, error)) return false;
  std::vector<std::string> seen;
  for (const auto& [key, value] : pairs) {
    if (std::find(seen.begin(), seen.end(), key) != seen.end()) {
      *error = "option '" + key + "' is given twice";
      return false;
    }
    seen.push_back(key);
    if (key == "variant") {
      const auto variant = zolv::search::ParseVariant(value);
      if (!variant) {
        *error = "variant must be raw or alphabet, not " + Quoted(value);
        return false;
      }
      request->variant = *variant;
    } else if (key == "dictionary") {
      request->dictionary = value;
    } else if (key == "length") {
      char* end = nullptr;
      const unsigned long long length = std::strtoull(value.c_str(), &end, 10);
      if (end != value.c_str() + value.size() || value[0] == '-' ||
          length < 1 || length > zolv::host::kMaxRecordLength) {
        *error = "length must be a number from 1 to " +
                 std::to_string(zolv::host::kMaxRecordLength) + ", not " +
                 Quoted(value);
        return false;
      }
      request->length = static_cast<std::uint32_t>(length);
    } else if (forQuery && key == "dialect") {
      const auto dialect = zolv::search::ParseDialect(value);
      if (!dialect) {
        *error = "dialect must be access or odbc, not " + Quoted(value);
        return false;
      }
      request->dialect = *dialect;
    } else if (forQuery && key == "query") {
      request->notation = zolv_sql_notation(value.data(), value.size());
      if (request->notation < 0) {
        *error = "query must be smiles or smarts, not " + Quoted(value);
        return false;
      }
    } else {
      *error = "unknown option '" + key + "' (" +
               (forQuery ? "use variant, dialect, dictionary, length or query"
                         : "use variant, dictionary or length") +
               ")";
      return false;
    }
  }
  return true;
}

}  // namespace

struct ZolvSqlWriter {
  std::mutex mutex;
  // Open writers by the dictionary named, most recently used last. Shared,
  // so that one still writing survives being pushed out by another call.
  std::vector<std::pair<std::string, std::shared_ptr<const SbiTextWriter>>>
      writers;

  std::shared_ptr<const SbiTextWriter> For(const std::string& dictionary,
                                           std::string* error) {
    const std::lock_guard<std::mutex> lock(mutex);
    for (auto it = writers.begin(); it != writers.end(); ++it) {
      if (it->first == dictionary) {
        std::rotate(it, it + 1, writers.end());
        return writers.back().second;
      }
    }
    const std::string driver = zolv::host::DriverPathBeside(&kInThisLibrary);
    if (driver.empty()) {
      *error = "cannot tell where the driver lies";
      return nullptr;
    }
    // The default named in full, so that a message says which file is
    // missing and nothing in it speaks of a command line.
    const std::string path = !dictionary.empty()
                                 ? dictionary
                                 : driver.substr(0, driver.rfind('/') + 1) +
                                       zolv::host::kDefaultDictionaryName;
    auto writer = std::make_shared<SbiTextWriter>();
    if (!writer->Open(driver, path, error)) return nullptr;
    if (writers.size() >= kMostDictionaries) writers.erase(writers.begin());
    writers.emplace_back(dictionary, std::move(writer));
    return writers.back().second;
  }
};

struct ZolvSqlQuery {
  std::unique_ptr<zolv::search::SubstructureQuery> query;
};

struct ZolvSqlPattern {
  zolv::search::CompiledPattern pattern;
};

namespace {

// Writes object (a parsed query or target) as the request says.
bool WriteSbi(const SbiTextWriter& writer, zolv::HostObject* object,
              zolv::ScreenMode mode, const WriteRequest& request,
              std::string* text, std::string* error) {
  if (!writer.Accepts(object)) {
    *error = "the driver does not accept this molecule";
    return false;
  }
  zolv::search::BudgetedText written;
  if (!writer.WriteBudgeted(object, mode, request.variant, request.dialect,
                            request.length, &written, error)) {
    return false;
  }
  *text = std::move(written.text);
  return true;
}

}  // namespace

extern "C" {

ZolvSqlWriter* zolv_sql_writer_new(void) {
  return new (std::nothrow) ZolvSqlWriter();
}

void zolv_sql_writer_free(ZolvSqlWriter* writer) { delete writer; }

int zolv_sql_write_pattern(ZolvSqlWriter* writer, const char* query,
                           size_t querySize, const char* options,
                           size_t optionsSize, int notation, int form,
                           char** pattern, size_t* size,
                           ZolvSqlMessage* message) {
  return Guarded(message, [&](std::string* error) {
    WriteRequest request;
    if (!ReadOptions({options, optionsSize}, true, &request, error)) {
      return ZOLV_SQL_ERROR;
    }
    if (notation != ZOLV_SQL_NOTATION_UNSAID &&
        request.notation != ZOLV_SQL_NOTATION_UNSAID &&
        notation != request.notation) {
      *error = std::string("the options say query=") +
               Lower(NotationName(request.notation)) +
               ", the notation argument " + Lower(NotationName(notation));
      return ZOLV_SQL_ERROR;
    }
    if (notation == ZOLV_SQL_NOTATION_UNSAID) {
      notation = request.notation == ZOLV_SQL_NOTATION_UNSAID
                     ? ZOLV_SQL_SMILES
                     : request.notation;
    }
    const std::string_view text(query, querySize);
    *error = MoleculeProblem(text, notation);
    if (!error->empty()) return ZOLV_SQL_ERROR;
    const auto session = writer->For(request.dictionary, error);
    if (!session) return ZOLV_SQL_ERROR;
    zolv::rdcore::ParsedMolecule parsed = zolv::rdcore::ParseMolecule(
        text,
        notation == ZOLV_SQL_SMARTS ? zolv::rdcore::Notation::kSmarts
                                    : zolv::rdcore::Notation::kSmiles,
        zolv::rdcore::MoleculeRole::kQuery);
    if (!parsed.molecule) {
      *error = parsed.error;
      return ZOLV_SQL_ERROR;
    }
    std::string written;
    if (!WriteSbi(*session, parsed.molecule.get(), zolv::ScreenMode::kQuery,
                  request, &written, error)) {
      return ZOLV_SQL_ERROR;
    }
    if (form == ZOLV_SQL_AS_LIKE) {
      written = zolv::search::LikePatternOf(written, request.dialect);
    }
    return HandOut(written, pattern, size);
  });
}

int zolv_sql_write_text(ZolvSqlWriter* writer, const char* smiles,
                        size_t smilesSize, const char* options,
                        size_t optionsSize, char** text, size_t* size,
                        ZolvSqlMessage* message) {
  return Guarded(message, [&](std::string* error) {
    WriteRequest request;
    if (!ReadOptions({options, optionsSize}, false, &request, error)) {
      return ZOLV_SQL_ERROR;
    }
    const std::string_view molecule(smiles, smilesSize);
    *error = MoleculeProblem(molecule, ZOLV_SQL_SMILES);
    if (!error->empty()) return ZOLV_SQL_ERROR;
    const auto session = writer->For(request.dictionary, error);
    if (!session) return ZOLV_SQL_ERROR;
    zolv::rdcore::ParsedMolecule parsed =
        zolv::rdcore::ParseMolecule(molecule, zolv::rdcore::Notation::kSmiles,
                                    zolv::rdcore::MoleculeRole::kTarget);
    if (!parsed.molecule) {
      *error = parsed.error;
      return ZOLV_SQL_ERROR;
    }
    std::string written;
    if (!WriteSbi(*session, parsed.molecule.get(), zolv::ScreenMode::kTarget,
                  request, &written, error)) {
      return ZOLV_SQL_ERROR;
    }
    return HandOut(written, text, size);
  });
}

int zolv_sql_options_name_dictionary(const char* options, size_t size) {
  try {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::string ignored;
    if (!SplitOptions({options, size}, &pairs, &ignored)) return 0;
    for (const auto& pair : pairs) {
      if (pair.first == "dictionary") return 1;
    }
  } catch (...) {
    // Out of memory: say yes, so that no check is skipped.
    return 1;
  }
  return 0;
}

int zolv_sql_notation(const char* word, size_t size) {
  if (word == nullptr) return -1;
  const std::string lower = Lower({word, size});
  if (lower == "smiles") return ZOLV_SQL_SMILES;
  if (lower == "smarts") return ZOLV_SQL_SMARTS;
  return -1;
}

int zolv_sql_query_parse(const char* text, size_t size, int notation,
                         ZolvSqlQuery** query, ZolvSqlMessage* message) {
  return Guarded(message, [&](std::string* error) {
    const std::string_view source(text, size);
    *error = MoleculeProblem(source, notation);
    if (!error->empty()) return ZOLV_SQL_ERROR;
    auto parsed = zolv::search::SubstructureQuery::Parse(
        notation == ZOLV_SQL_SMARTS ? zolv::search::QueryKind::kSmarts
                                    : zolv::search::QueryKind::kSmiles,
        std::string(source), error);
    if (!parsed) {
      *error = std::string("cannot read the ") + NotationName(notation) + " " +
               Quoted(source) + ": " + *error;
      return ZOLV_SQL_ERROR;
    }
    *query = new ZolvSqlQuery{std::move(parsed)};
    return ZOLV_SQL_OK;
  });
}

int zolv_sql_query_is_in(const ZolvSqlQuery* query, const char* smiles,
                         size_t size, int* contains, ZolvSqlMessage* message) {
  return Guarded(message, [&](std::string*) {
    const std::string_view target(smiles, size);
    std::optional<bool> found;
    if (MoleculeProblem(target, ZOLV_SQL_SMILES).empty()) {
      found = query->query->IsInSmiles(std::string(target));
    }
    *contains = found ? (*found ? 1 : 0) : -1;
    return ZOLV_SQL_OK;
  });
}

void zolv_sql_query_free(ZolvSqlQuery* query) { delete query; }

int zolv_sql_pattern_compile(const char* pattern, size_t size, int dialect,
                             ZolvSqlPattern** compiled,
                             ZolvSqlMessage* message) {
  return Guarded(message, [&](std::string* error) {
    if (dialect != ZOLV_SQL_ACCESS && dialect != ZOLV_SQL_ODBC) {
      *error = "dialect must be 0 (Access) or 1 (ODBC)";
      return ZOLV_SQL_ERROR;
    }
    *compiled = new ZolvSqlPattern{zolv::search::CompiledPattern(
        {pattern, size}, static_cast<zolv::WildcardDialect>(dialect))};
    return ZOLV_SQL_OK;
  });
}

int zolv_sql_pattern_matches(const ZolvSqlPattern* compiled, const char* text,
                             size_t size) {
  return compiled->pattern.Matches({text, size}) ? 1 : 0;
}

void zolv_sql_pattern_free(ZolvSqlPattern* compiled) { delete compiled; }

void zolv_sql_free(void* bytes) { std::free(bytes); }

}  // extern "C"

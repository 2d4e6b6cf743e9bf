#include "text_store.h"

#include <cctype>

namespace zolv::search {
namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return lower;
}

}  // namespace

IndexState StateOfMarker(const std::optional<std::string>& marker,
                         bool complete) {
  if (!marker) return IndexState::kForeign;
  if (*marker != kFormatMarker) {
    return marker->rfind(kFormatMarkerPrefix, 0) == 0 ? IndexState::kOtherFormat
                                                      : IndexState::kForeign;
  }
  return complete ? IndexState::kComplete : IndexState::kIncomplete;
}

std::string OtherFormatMessage(const std::string& store,
                               const std::string& marker) {
  return store + " holds an index of another format (" + marker +
         "; this zolv reads and writes " + kFormatMarker +
         "); write it again with zolv index --replace";
}

std::string ForeignTables() {
  return std::string("a table named ") + kTargetsTable + " or " +
         kSettingsTable + " that zolv index did not make";
}

const char* VariantName(TextVariant variant) {
  return variant == TextVariant::kRaw ? "raw" : "alphabet";
}

std::optional<TextVariant> ParseVariant(std::string_view name) {
  const std::string lower = Lower(name);
  if (lower == "raw") return TextVariant::kRaw;
  if (lower == "alphabet" || lower == "ascii") return TextVariant::kAlphabet;
  return std::nullopt;
}

const char* DialectName(WildcardDialect dialect) {
  return dialect == WildcardDialect::kAccess ? "access" : "odbc";
}

std::optional<WildcardDialect> ParseDialect(std::string_view name) {
  const std::string lower = Lower(name);
  if (lower == "access") return WildcardDialect::kAccess;
  if (lower == "odbc") return WildcardDialect::kOdbc;
  return std::nullopt;
}

}  // namespace zolv::search

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

std::string ForeignTables() {
  return std::string("a table named ") + kTargetsTable + " or " +
         kSettingsTable + " that zolv index did not make";
}

std::string OutdatedMessage(TextStore& store) {
  std::optional<std::string> format;
  std::string ignored;
  store.GetSetting(kSettingFormat, &format, &ignored);
  return store.Describe() + " holds an index in the format '" +
         format.value_or("?") + "', which this zolv does not read (it reads '" +
         kFormatMarker +
         "', which adds the screens index); write it again with zolv index "
         "--replace";
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

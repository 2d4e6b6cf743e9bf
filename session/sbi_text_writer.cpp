#include "sbi_text_writer.h"

namespace zolv::host {
namespace {

// Room for the formula's symbols beyond the screens: up to five copies of a
// two-letter symbol, each letter possibly bracketed, for eight elements.
constexpr std::uint32_t kFormulaAllowance = 8 * 5 * 2 * 3;
// Three characters for every screen: a bracketed special character.
constexpr std::uint32_t kMostCharactersPerScreen = 3;

}  // namespace

bool SbiTextWriter::Open(const std::string& driverPath,
                         const std::string& dictionaryPath,
                         std::string* error) {
  return session_.Open(driverPath, dictionaryPath, error);
}

std::uint32_t SbiTextWriter::DefaultLength() const {
  return kMostCharactersPerScreen * session_.highestScreen() +
         kFormulaAllowance;
}

bool SbiTextWriter::WriteSbi(HostObject* object, ScreenMode mode,
                             search::TextVariant variant,
                             WildcardDialect dialect, std::uint32_t length,
                             std::string* text, std::string* error,
                             const std::string& extra) const {
  std::string options = "format=SBI";
  options += mode == ScreenMode::kQuery ? " object=query" : " object=target";
  options +=
      dialect == WildcardDialect::kOdbc ? " database=ODBC" : " database=Access";
  options += variant == search::TextVariant::kAlphabet ? " ascii=true"
                                                       : " ascii=false";
  if (!extra.empty()) options += " " + extra;
  options += " length=" + std::to_string(length);
  return session_.WriteRecord(object, session_.Options(options), text, error);
}

bool SbiTextWriter::WriteBudgeted(HostObject* object, ScreenMode mode,
                                  search::TextVariant variant,
                                  WildcardDialect dialect, std::uint32_t length,
                                  search::BudgetedText* text,
                                  std::string* error,
                                  const std::string& extra) const {
  const search::BudgetedWriter write = [&](std::uint32_t budget,
                                           std::string* written) {
    return WriteSbi(object, mode, variant, dialect, budget, written, error,
                    extra);
  };
  return length == 0 ? search::WriteWholeText(write, DefaultLength(), text)
                     : search::WriteWithLength(write, length, text);
}

bool SbiTextWriter::WriteBits(HostObject* object, std::uint32_t length,
                              std::string* text, std::string* error) const {
  return session_.WriteRecord(
      object, session_.Options("length=" + std::to_string(length)), text,
      error);
}

bool SbiTextWriter::WriteScreens(HostObject* object, ScreenMode mode,
                                 std::vector<std::uint32_t>* screens,
                                 std::string* error) const {
  screens->clear();
  const std::uint32_t highest = session_.highestScreen();
  // A dictionary without screens: the driver would take the length 0 as no
  // length at all.
  if (highest == 0) return true;
  std::string bits;
  if (!session_.WriteRecord(
          object,
          session_.Options(std::string(mode == ScreenMode::kQuery
                                           ? "object=query"
                                           : "object=target") +
                           " length=" + std::to_string(highest)),
          &bits, error)) {
    return false;
  }
  *screens = ScreensOfBits(bits);
  return true;
}

std::vector<std::uint32_t> ScreensOfBits(const std::string& bits) {
  std::vector<std::uint32_t> screens;
  for (std::size_t i = 0; i < bits.size(); ++i) {
    if (bits[i] == '1') screens.push_back(static_cast<std::uint32_t>(i + 1));
  }
  return screens;
}

}  // namespace zolv::host

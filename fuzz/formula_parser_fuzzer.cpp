// Formula texts from the core library: arbitrary text through
// FetchFormulaText, SetText, Parse and a walk over the entries, compared with
// a plain reading of the same rules written here without the driver's code.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/core_api.h"
#include "core/core_handle.h"
#include "driver/text_buffer.h"
#include "encoders/formula_parser.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/fake_core.h"

namespace zolv::fuzz {
namespace {

using Entries = std::vector<std::pair<std::string, std::int32_t>>;

// Longest text with 16-bit lengths; longer ones give no entries.
constexpr std::size_t kLongestFormula = 65535;
constexpr std::int32_t kLargestCount = 32767;

bool Upper(char c) { return c >= 'A' && c <= 'Z'; }
bool Digit(char c) { return c >= '0' && c <= '9'; }

bool Known(const std::string& symbol) {
  if (static_cast<std::uint32_t>(ZolvAtomicSymbolToNumber(symbol.c_str())) >=
      2) {
    return true;
  }
  return symbol == "H" || symbol == "D" || symbol == "T" || symbol == ":";
}

std::string RemoveBrackets(std::string text) {
  std::size_t open = text.find('[');
  while (open != std::string::npos) {
    const std::size_t close = text.find(']', open);
    if (close == std::string::npos) break;
    text.erase(open, close - open + 1);
    open = text.find('[', open);
  }
  return text;
}

// One token into entries; false when it cannot be read.
bool Token(const std::string& token, bool commaSeen, Entries* entries) {
  const std::size_t digit = token.find_first_of("0123456789");
  if (digit == std::string::npos) {
    if (Known(token)) {
      entries->emplace_back(token, 1);
      return true;
    }
    if (token == "M" || token == "X" || token == "Q" || token == "A") {
      entries->emplace_back(token, 1);
      return true;
    }
    return false;
  }
  if (commaSeen) return false;
  std::int32_t count = 0;
  for (std::size_t i = digit; i < token.size(); ++i) {
    if (!Digit(token[i])) return false;
    count = count * 10 + (token[i] - '0');
    if (count > kLargestCount) count = kLargestCount;
  }
  const std::string symbol = token.substr(0, digit);
  if (!Known(symbol)) return false;
  entries->emplace_back(symbol, count);
  return true;
}

Entries Reference(const std::string& text) {
  const std::size_t length = text.size();
  if (length == 0 || length > kLongestFormula) return {};
  if (!Upper(text[0]) && text[0] != ':' && text[0] != '~') return {};
  Entries entries;
  bool commaSeen = false;
  for (std::size_t s = text[0] == '~' ? 2 : 1; s <= length;) {
    std::size_t k = s;
    bool comma = false;
    for (; k < length && !Upper(text[k]) && text[k] != ':'; ++k) {
      comma = comma || text[k] == ',';
    }
    std::string token = text.substr(s - 1, k - s + 1);
    s = k + 1;
    commaSeen = commaSeen || comma;
    if (comma) token.pop_back();
    if (!Token(token, commaSeen, &entries)) return {};
  }
  return entries;
}

Entries Walk(FormulaParser* parser, std::size_t bound) {
  Entries entries;
  parser->Rewind();
  for (const char* symbol = parser->CurrentSymbol(); symbol != nullptr;
       symbol = parser->CurrentSymbol()) {
    if (entries.size() > bound) Fail("more entries than characters");
    entries.emplace_back(symbol, parser->CurrentCount());
    const bool more = parser->Next();
    if (more != (parser->CurrentSymbol() != nullptr)) {
      Fail("Next disagrees with CurrentSymbol");
    }
  }
  if (parser->CurrentCount() != 0) Fail("a count past the end");
  return entries;
}

void CheckParse(FormulaParser* parser, const std::string& text) {
  parser->SetText(TextBuffer(text.c_str()));
  parser->Parse();
  if (parser->CurrentSymbol() != nullptr) Fail("cursor not at the end");
  const Entries entries = Walk(parser, text.size());
  if (entries != Reference(text)) Fail("entries differ for: " + text);
  // The same text again keeps the parse.
  parser->SetText(TextBuffer(text.c_str()));
  parser->Parse();
  if (Walk(parser, text.size()) != entries) Fail("same text parsed anew");
}

void Run(const std::uint8_t* data, std::size_t size) {
  // What a core string can hold: the text up to its first NUL.
  const std::string raw(reinterpret_cast<const char*>(data), size);
  const std::string text = raw.substr(0, raw.find('\0'));

  testing::FakeCore::Get().SetFormula(kMoleculeKey, text);
  testing::FakeHostObject host(kMoleculeKey);
  CoreHandle<StringObject> fetched;
  if (!Succeeded(ZolvCreateString(fetched.Receive())) || !fetched) {
    Fail("no string");
  }
  if (!Succeeded(FetchFormulaText(&host, fetched.get()))) {
    Fail("FetchFormulaText failed on a formula the core gave");
  }
  const std::string stripped = fetched->GetText();
  if (stripped != RemoveBrackets(text)) Fail("brackets removed otherwise");

  FormulaParser parser;
  CheckParse(&parser, stripped);
  // A different text replaces the parse.
  CheckParse(&parser, text);
}

}  // namespace
}  // namespace zolv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  zolv::testing::FakeCore::Get().Reset();
  zolv::fuzz::Run(data, size);
  zolv::fuzz::CheckCore();
  zolv::testing::FakeCore::Get().Reset();
  return 0;
}

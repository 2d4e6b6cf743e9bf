// Formula texts from the core library: arbitrary text through
// FetchFormulaText, SetText, Parse and a walk over the entries, compared with
// a plain reading of the same rules written here without the driver's code.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core_api.h"
#include "core_handle.h"
#include "fake_core.h"
#include "formula_parser.h"
#include "fuzz_support.h"
#include "text_buffer.h"

namespace zolv::fuzz {
namespace {

FormulaEntryList Walk(FormulaParser* parser, std::size_t bound) {
  FormulaEntryList entries;
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
  const FormulaEntryList entries = Walk(parser, text.size());
  if (entries != FormulaEntries(text)) Fail("entries differ for: " + text);
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

ZOLV_FUZZ_ON_CLEAN_CORE(zolv::fuzz::Run)

#include "formula_fragment.h"

#include <cstring>

#include "core_handle.h"
#include "formula_parser.h"
#include "pattern_encoder.h"
#include "text_buffer.h"

namespace zolv {
namespace {

// Symbols inside this text (carbon, hydrogen and its isotopes) are left out:
// nearly every molecule has them, so they would not narrow a search.
constexpr char kSkipText[] = "CHDT";
static_assert(sizeof(kSkipText) == 5);

// The previous symbol before the first entry; equals no symbol.
constexpr char kNoPreviousSymbol[] = "/0";
static_assert(sizeof(kNoPreviousSymbol) == 3);

// More copies than this would not make a search more selective.
constexpr std::uint32_t kMaxCopies = 5;

// Writes the entries of the formula of molecule; nothing when the string or
// the formula cannot be had.
void WriteElements(HostObject* molecule, ScreenMode mode,
                   WildcardDialect dialect, std::uint32_t* budget,
                   Stream* stream, std::uint8_t characterOffset,
                   FormulaParser* parser) {
  CoreHandle<StringObject> formula;
  if (!Succeeded(ZolvCreateString(formula.Receive())) || !formula) return;
  if (!Succeeded(FetchFormulaText(molecule, formula.get()))) return;

  parser->SetText(TextBuffer(formula->GetText()));
  parser->Parse();
  parser->Rewind();

  const bool query = mode == ScreenMode::kQuery;
  // Symbols point into the parser, which outlives this loop.
  const char* previous = kNoPreviousSymbol;
  std::uint32_t lastWrittenLength = 0;
  for (const char* symbol = parser->CurrentSymbol(); symbol != nullptr;
       parser->Next(), symbol = parser->CurrentSymbol()) {
    if (*budget == 0) break;
    if (std::strstr(kSkipText, symbol) != nullptr) continue;
    if (query && *budget > 0) {
      stream->PutChar(SeparatorOf(dialect));
      --*budget;
    }
    // Compared unsigned, so that a negative count would take the cap.
    std::uint32_t count = static_cast<std::uint32_t>(parser->CurrentCount());
    if (count > kMaxCopies) count = kMaxCopies;
    // A repeat of the last written symbol has that symbol's length counted
    // as already written.
    const std::uint32_t written =
        std::strcmp(symbol, previous) == 0 ? lastWrittenLength : 0;
    const auto symbolLength = static_cast<std::uint32_t>(std::strlen(symbol));
    for (std::uint32_t copy = written; copy < count; ++copy) {
      for (const char* c = symbol; *c != '\0'; ++c) {
        const auto moved = static_cast<std::uint8_t>(
            static_cast<std::uint8_t>(*c) + characterOffset);
        PutPatternChar(moved, mode, dialect, budget, stream);
      }
      lastWrittenLength = symbolLength;
    }
    previous = symbol;
  }
}

}  // namespace

void WriteFormulaFragment(HostObject* molecule, ScreenMode mode,
                          WildcardDialect dialect, std::uint32_t* budget,
                          Stream* stream, std::uint8_t characterOffset) {
  FormulaParser parser;
  WriteElements(molecule, mode, dialect, budget, stream, characterOffset,
                &parser);
  if (mode == ScreenMode::kQuery && *budget > 0) {
    stream->PutChar(SeparatorOf(dialect));
    --*budget;
  }
}

}  // namespace zolv

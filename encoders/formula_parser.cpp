#include "formula_parser.h"

#include <cstring>
#include <new>

#include "core_handle.h"

namespace zolv {
namespace {

// The generic symbols, which stand for any metal, halogen, hetero atom or
// atom; they carry no count.
constexpr const char* kGenericSymbols[] = {"M", "X", "Q", "A"};
static_assert(sizeof(kGenericSymbols) / sizeof(kGenericSymbols[0]) == 4);

// Symbols the parser accepts beside the core library's elements heavier than
// hydrogen: hydrogen and its isotopes, and the separator of formula parts.
constexpr const char* kExtraKnownSymbols[] = {"H", "D", "T", ":"};
static_assert(sizeof(kExtraKnownSymbols) / sizeof(kExtraKnownSymbols[0]) == 4);

// Character classes of the POSIX locale; bytes 0x80..0xFF are neither.
bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool SameText(const char* text, std::uint32_t length, const char* word) {
  return std::strlen(word) == length && std::memcmp(text, word, length) == 0;
}

// Removes every "[" up to the first "]" after it, in place; an unmatched
// "[" stays with all that follows it.
void RemoveBracketedSegments(char* text) {
  char* write = text;
  const char* read = text;
  while (*read != '\0') {
    if (*read == '[') {
      const char* close = std::strchr(read, ']');
      if (close == nullptr) break;
      read = close + 1;
      continue;
    }
    *write++ = *read++;
  }
  // Shift the unmatched tail down (a no-op when nothing was removed).
  const std::size_t tail = std::strlen(read);
  std::memmove(write, read, tail + 1);
}

}  // namespace

Status FetchFormulaText(HostObject* object, StringObject* out) {
  CoreHandle<StringObject> formula;
  const Status created = ZolvCreateString(formula.Receive());
  if (!Succeeded(created)) return created;
  if (!formula) return 0;

  const Status status = ZolvFormula(object, 0, formula.get());
  if (!Succeeded(status)) return status;
  const std::uint32_t length = formula->TextLength();
  if (length == 0) return status;

  // The library's text may hold a NUL before TextLength: copy up to it.
  const char* source = formula->GetText();
  if (source == nullptr) return status;
  const std::unique_ptr<char[]> buffer(
      new (std::nothrow) char[std::size_t{length} + 1]);
  if (buffer == nullptr) return 0;
  std::size_t copied = 0;
  while (copied < length && source[copied] != '\0') {
    buffer[copied] = source[copied];
    ++copied;
  }
  buffer[copied] = '\0';

  RemoveBracketedSegments(buffer.get());
  out->PutText(buffer.get());
  return status;
}

void FormulaParser::SetText(TextBuffer text) {
  const char* held = formula_.HasText() ? formula_.text() : "";
  const char* given = text.HasText() ? text.text() : "";
  if (std::strcmp(held, given) == 0) return;
  DropEntries();
  formula_.Reset();
  // A refused copy leaves no formula, so Parse gives no entries.
  formula_.AssignBuffer(text);
}

void FormulaParser::DropEntries() {
  symbols_.reset();
  genericSymbols_.reset();
  counts_.reset();
  entryKinds_.reset();
  commaCount_ = 0;
  formulaLength_ = 0;
  position_ = 0;
  entryCount_ = 0;
  parsed_ = false;
}

bool FormulaParser::AllocateEntries(std::uint32_t places) {
  symbols_.reset(new (std::nothrow) TextBuffer[places]);
  genericSymbols_.reset(new (std::nothrow) TextBuffer[places]);
  counts_.reset(new (std::nothrow) std::int16_t[places]);
  entryKinds_.reset(new (std::nothrow) std::int16_t[places]);
  return symbols_ != nullptr && genericSymbols_ != nullptr &&
         counts_ != nullptr && entryKinds_ != nullptr;
}

void FormulaParser::Parse() {
  if (!formula_.HasText() || parsed_) return;
  const std::uint32_t length = formula_.Length();
  DropEntries();
  parsed_ = true;
  // Lengths, the cursor and the places are 16-bit: a longer text does not
  // fit and is refused whole rather than cut into a different formula.
  if (length > kMaxLength) return;
  if (length == 0) return;
  if (!AllocateEntries(length)) {
    DropEntries();
    parsed_ = true;
    return;
  }
  formulaLength_ = static_cast<std::uint16_t>(length);

  const char* text = formula_.text();
  if (!IsUpper(text[0]) && text[0] != ':' && text[0] != '~') return;

  // A token runs from one character before start up to the next upper-case
  // letter or ":", which begins the following token.
  std::uint32_t start = text[0] == '~' ? 2 : 1;
  while (start <= length) {
    std::uint32_t stop = start;
    std::uint32_t commas = 0;
    while (stop < length && !IsUpper(text[stop]) && text[stop] != ':') {
      if (text[stop] == ',') ++commas;
      ++stop;
    }
    const char* token = text + start - 1;
    std::uint32_t tokenLength = stop - start + 1;
    start = stop + 1;
    // Only whether a comma was met matters, so the count saturates.
    const std::uint32_t total =
        static_cast<std::uint32_t>(commaCount_) + commas;
    commaCount_ = static_cast<std::int16_t>(total > 32767 ? 32767 : total);
    if (commas != 0) --tokenLength;
    if (!ParseToken(token, tokenLength)) return;
  }
  entryCount_ = position_;
}

bool FormulaParser::ParseToken(const char* token, std::uint32_t length) {
  std::uint32_t firstDigit = 0;
  while (firstDigit < length && !IsDigit(token[firstDigit])) ++firstDigit;

  if (firstDigit == length) {
    TextBuffer symbol;
    symbol.AssignPrefix(token, length);
    if (!symbol.HasText()) return false;
    if (IsKnownSymbol(symbol.text())) {
      return AddEntry(token, length, kElement, kNoDigits);
    }
    for (const char* generic : kGenericSymbols) {
      if (SameText(token, length, generic)) {
        return AddEntry(token, length, kGeneric, 0);
      }
    }
    return false;
  }

  // Once a comma has been met no token may carry digits.
  if (commaCount_ != 0) return false;
  std::int32_t count = 0;
  for (std::uint32_t i = firstDigit; i < length; ++i) {
    if (!IsDigit(token[i])) return false;
    count = count * 10 + (token[i] - '0');
    if (count > kMaxCount) count = kMaxCount;
  }
  TextBuffer symbol;
  symbol.AssignPrefix(token, firstDigit);
  if (!symbol.HasText() || !IsKnownSymbol(symbol.text())) return false;
  return AddEntry(token, firstDigit, kElement,
                  static_cast<std::int16_t>(count));
}

bool FormulaParser::AddEntry(const char* symbol, std::uint32_t length,
                             EntryKind kind, std::int16_t count) {
  if (position_ >= formulaLength_) return false;
  TextBuffer& place =
      kind == kElement ? symbols_[position_] : genericSymbols_[position_];
  place.AssignPrefix(symbol, length);
  if (!place.HasText()) return false;
  counts_[position_] = count;
  entryKinds_[position_] = kind;
  ++position_;
  return true;
}

bool FormulaParser::IsKnownSymbol(const char* symbol) {
  if (symbol == nullptr) return false;
  // Read unsigned: the core library answers 0 or 1 for anything that is not
  // an element heavier than hydrogen.
  if (static_cast<std::uint32_t>(ZolvAtomicSymbolToNumber(symbol)) >= 2) {
    return true;
  }
  for (const char* extra : kExtraKnownSymbols) {
    if (std::strcmp(symbol, extra) == 0) return true;
  }
  return false;
}

const char* FormulaParser::CurrentSymbol() const {
  if (position_ >= entryCount_) return nullptr;
  const TextBuffer& element = symbols_[position_];
  const TextBuffer& generic = genericSymbols_[position_];
  const bool hasElement = element.Length() != 0;
  const bool hasGeneric = generic.Length() != 0;
  if (hasElement && !hasGeneric) return element.text();
  if (hasGeneric && !hasElement) return generic.text();
  return nullptr;
}

std::int32_t FormulaParser::CurrentCount() const {
  if (position_ >= entryCount_) return 0;
  const std::int16_t count = counts_[position_];
  const std::int16_t kind = entryKinds_[position_];
  if (kind == kElement && count != 0) return count == kNoDigits ? 1 : count;
  if (kind != kElement && count == 0) return 1;
  return 0;
}

bool FormulaParser::Next() {
  // The cursor stops at the end instead of wrapping its 16 bits round.
  if (position_ < entryCount_) ++position_;
  return position_ < entryCount_;
}

}  // namespace zolv

// Molecular formula texts from the core library, split into entries of an
// element (or generic) symbol and a count.
#pragma once

#include <cstdint>
#include <memory>

#include "core_api.h"
#include "text_buffer.h"

namespace zolv {

/// Puts the formula text of object into out with every bracketed segment
/// ("[" to the next "]") removed. Bit 0 of the result tells success; on
/// failure, and for an empty formula, out is left untouched.
Status FetchFormulaText(HostObject* object, StringObject* out);

/// Splits a formula text into entries and walks them with a cursor. A text
/// that cannot be read in full gives no entries at all.
class FormulaParser {
 public:
  /// Counts are signed 16-bit; larger ones are clamped to this.
  static constexpr std::int32_t kMaxCount = 32767;
  /// Lengths and the cursor are 16-bit; longer texts give no entries.
  static constexpr std::uint32_t kMaxLength = 65535;

  FormulaParser() = default;
  FormulaParser(const FormulaParser&) = delete;
  FormulaParser& operator=(const FormulaParser&) = delete;
  ~FormulaParser() = default;

  /// Keeps a copy of text. The same text as held keeps the parse and the
  /// cursor; a different one drops them.
  void SetText(TextBuffer text);
  /// Splits the held text into entries, once per text; leaves the cursor at
  /// the end.
  void Parse();
  /// An element the core library knows, or "H", "D", "T" or ":".
  static bool IsKnownSymbol(const char* symbol);

  void Rewind() { position_ = 0; }
  /// The symbol under the cursor, owned by the parser; null past the end.
  const char* CurrentSymbol() const;
  /// The count under the cursor: 1 when the text gave no digits; 0 past the
  /// end.
  std::int32_t CurrentCount() const;
  /// Moves the cursor on; true while it is on an entry.
  bool Next();

 private:
  enum EntryKind : std::int16_t { kElement = 0, kGeneric = -1 };
  /// Count of an element written without digits.
  static constexpr std::int16_t kNoDigits = -1;

  /// Makes at most one entry from token (length characters, not
  /// NUL-terminated); false when the token cannot be read.
  bool ParseToken(const char* token, std::uint32_t length);
  void DropEntries();
  bool AllocateEntries(std::uint32_t places);
  bool AddEntry(const char* symbol, std::uint32_t length, EntryKind kind,
                std::int16_t count);

  TextBuffer formula_;
  // One place per formula character; a place without text reads as empty.
  std::unique_ptr<TextBuffer[]> symbols_;
  std::unique_ptr<TextBuffer[]> genericSymbols_;
  std::unique_ptr<std::int16_t[]> counts_;
  std::unique_ptr<std::int16_t[]> entryKinds_;
  std::int16_t commaCount_ = 0;
  std::uint16_t formulaLength_ = 0;
  std::uint16_t position_ = 0;
  std::uint16_t entryCount_ = 0;
  bool parsed_ = false;
};

}  // namespace zolv

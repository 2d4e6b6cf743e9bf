// Owned NUL-terminated 8-bit text, allocated to the exact size.
//
// A buffer either has no text (text() null, capacity() 0) or owns exactly
// capacity() bytes: a text of capacity() - 1 characters and its terminator.
// Having no text and holding the empty text are different states.
#pragma once

#include <cstdint>

namespace zolv {

class TextBuffer {
 public:
  /// A buffer without text.
  TextBuffer() = default;
  /// A copy of text; a null text gives the empty text.
  explicit TextBuffer(const char* text);
  /// The empty text: one byte holding the terminator.
  static TextBuffer EmptyText();
  TextBuffer(const TextBuffer& other);
  TextBuffer& operator=(const TextBuffer&) = delete;
  ~TextBuffer();

  /// Frees the storage; the buffer then has no text.
  void Reset();
  /// Takes source up to its first NUL but at most n characters; a null
  /// source acts as Reset. On a refused allocation the old text stays.
  void AssignPrefix(const char* source, std::uint32_t n);
  /// Takes a copy of other's text; other without text leaves none.
  void AssignBuffer(const TextBuffer& other);
  /// Appends other's text; on a refused allocation nothing changes.
  void AppendBuffer(const TextBuffer& other);

  const char* text() const { return text_; }
  std::uint32_t capacity() const { return capacity_; }
  bool HasText() const { return text_ != nullptr; }
  /// Characters before the terminator; 0 without text.
  std::uint32_t Length() const { return capacity_ == 0 ? 0 : capacity_ - 1; }

 private:
  char* text_ = nullptr;
  std::uint32_t capacity_ = 0;
};

}  // namespace zolv

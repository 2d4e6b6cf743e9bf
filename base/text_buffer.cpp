#include "text_buffer.h"

#include <cstring>
#include <new>

namespace zolv {
namespace {

char* AllocateText(const char* source, std::uint32_t length) {
  char* block = new (std::nothrow) char[std::size_t{length} + 1];
  if (block == nullptr) return nullptr;
  if (length != 0) std::memcpy(block, source, length);
  block[length] = '\0';
  return block;
}

std::uint32_t PrefixLength(const char* source, std::uint32_t n) {
  std::uint32_t length = 0;
  while (length < n && source[length] != '\0') ++length;
  return length;
}

}  // namespace

TextBuffer::TextBuffer(const char* text) {
  const char* source = text == nullptr ? "" : text;
  const auto length = static_cast<std::uint32_t>(std::strlen(source));
  text_ = AllocateText(source, length);
  if (text_ != nullptr) capacity_ = length + 1;
}

TextBuffer TextBuffer::EmptyText() { return TextBuffer(""); }

TextBuffer::TextBuffer(const TextBuffer& other) {
  if (!other.HasText()) return;
  text_ = AllocateText(other.text_, other.Length());
  if (text_ != nullptr) capacity_ = other.capacity_;
}

TextBuffer::~TextBuffer() { delete[] text_; }

void TextBuffer::Reset() {
  delete[] text_;
  text_ = nullptr;
  capacity_ = 0;
}

void TextBuffer::AssignPrefix(const char* source, std::uint32_t n) {
  if (source == nullptr) {
    Reset();
    return;
  }
  const std::uint32_t length = PrefixLength(source, n);
  if (length + 1 == capacity_) {
    // Same size: reuse the storage. memmove, since source may lie inside it.
    std::memmove(text_, source, length);
    text_[length] = '\0';
    return;
  }
  char* block = AllocateText(source, length);
  if (block == nullptr) return;
  delete[] text_;
  text_ = block;
  capacity_ = length + 1;
}

void TextBuffer::AssignBuffer(const TextBuffer& other) {
  if (&other == this) return;
  if (!other.HasText()) {
    Reset();
    return;
  }
  AssignPrefix(other.text_, other.Length());
}

void TextBuffer::AppendBuffer(const TextBuffer& other) {
  const std::uint32_t added = other.Length();
  if (added == 0) return;
  if (Length() == 0) {
    AssignBuffer(other);
    return;
  }
  const std::uint32_t own = Length();
  char* block = new (std::nothrow) char[std::size_t{capacity_} + added];
  if (block == nullptr) return;
  std::memcpy(block, text_, own);
  std::memcpy(block + own, other.text_, added);
  block[own + added] = '\0';
  delete[] text_;
  text_ = block;
  capacity_ += added;
}

}  // namespace zolv

// A growable set of screen (and atom) numbers kept as a bit string.
//
// The layout is shared with the core library, which fills sets that the
// driver owns and may grow them: words beyond the four inline ones always come
// from ZolvNewMemory and go back through ZolvDeleteMemory, whichever side grew
// them. Number n lies in byte n / 8 under the mask 0x80 >> (n % 8), so the
// words are stored little-endian with the most significant bit of each byte
// first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zolv {

struct ScreenSet {
  /// Numbers at or above this are never members.
  static constexpr std::uint32_t kNumberLimit = 268435455;
  static constexpr std::uint32_t kInlineWordCount = 4;

  ScreenSet() = default;
  ScreenSet(const ScreenSet&) = delete;
  ScreenSet& operator=(const ScreenSet&) = delete;
  ~ScreenSet();

  /// Puts n into the set; unchanged when n >= kNumberLimit or storage for
  /// growth was refused.
  void Add(std::uint32_t n);
  /// Add for each of count numbers, growing the set once for the largest.
  void AddAll(const std::uint16_t* numbers, std::uint32_t count);
  bool Contains(std::uint32_t n) const;
  /// this = a AND b; a or b may be this set.
  void Intersect(const ScreenSet& a, const ScreenSet& b);
  /// this = a OR b; a or b may be this set.
  void Unite(const ScreenSet& a, const ScreenSet& b);
  /// this = a AND NOT b; a or b may be this set.
  void Subtract(const ScreenSet& a, const ScreenSet& b);
  /// this = source, without carrying source's trailing zero words.
  void Assign(const ScreenSet& source);
  bool IsEmpty() const;
  /// The smallest member >= n.
  bool NextFrom(std::uint32_t n, std::uint32_t* out) const;
  bool First(std::uint32_t* out) const;
  bool Last(std::uint32_t* out) const;
  std::uint32_t Count() const;
  /// Enlarges to n words keeping the members; the words, or null storage
  /// unchanged when the allocation was refused (the set then keeps its size).
  /// A set that already has n words or more is left as it is.
  std::uint32_t* Grow(std::uint32_t n);
  /// Makes room for n words without keeping the contents; null, with the set
  /// unchanged, when the allocation was refused.
  std::uint32_t* Reserve(std::uint32_t n);

  const std::uint8_t* bytes() const {
    return reinterpret_cast<const std::uint8_t*>(words);
  }

  // Binary layout shared with the core library; field order is fixed.
  std::uint32_t* words = nullptr;
  std::uint32_t inlineWords[kInlineWordCount] = {0, 0, 0, 0};
  std::uint32_t byteCount = 0;
  std::uint32_t wordCount = 0;

 private:
  bool HasExternalStorage() const {
    return words != nullptr && words != inlineWords;
  }
  /// Grows to n words only when the set is smaller; false when refused.
  bool EnsureWords(std::uint32_t n);
};

// The core library reads these offsets; keep them pinned.
static_assert(offsetof(ScreenSet, words) == 0, "words comes first");
static_assert(offsetof(ScreenSet, inlineWords) == sizeof(void*),
              "inline words follow the pointer");
static_assert(offsetof(ScreenSet, byteCount) == sizeof(void*) + 16,
              "byteCount follows the inline words");
static_assert(offsetof(ScreenSet, wordCount) == sizeof(void*) + 20,
              "wordCount is the last field");
static_assert(sizeof(ScreenSet) == (sizeof(void*) == 4 ? 28 : 32),
              "no padding beyond the pointer's alignment");

}  // namespace zolv

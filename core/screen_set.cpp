#include "screen_set.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core_api.h"

namespace zolv {
namespace {

constexpr std::uint32_t kBitsPerWord = 32;
constexpr std::uint32_t kBytesPerWord = 4;
// Largest word count whose size in bytes fits the allocator's 32-bit size.
constexpr std::uint32_t kMaxWordCount = 0xFFFFFFFFu / kBytesPerWord;

// Row b, column j: 1 + the position (0 = mask 0x80) of the first set bit of
// byte b at a position >= j; 0 when there is none.
constexpr std::array<std::array<std::uint8_t, 8>, 256> MakeNextMemberTable() {
  std::array<std::array<std::uint8_t, 8>, 256> table{};
  for (unsigned b = 0; b < 256; ++b) {
    for (unsigned j = 0; j < 8; ++j) {
      std::uint8_t entry = 0;
      for (unsigned p = j; p < 8; ++p) {
        if (b & (0x80u >> p)) {
          entry = static_cast<std::uint8_t>(p + 1);
          break;
        }
      }
      table[b][j] = entry;
    }
  }
  return table;
}

// Number of set bits of each byte value.
constexpr std::array<std::uint8_t, 256> MakePopulationTable() {
  std::array<std::uint8_t, 256> table{};
  for (unsigned b = 0; b < 256; ++b) {
    std::uint8_t count = 0;
    for (unsigned v = b; v != 0; v >>= 1) count += v & 1u;
    table[b] = count;
  }
  return table;
}

// Word value of number i within its word, for the little-endian byte view.
constexpr std::array<std::uint32_t, kBitsPerWord> MakeWordMasks() {
  std::array<std::uint32_t, kBitsPerWord> masks{};
  for (unsigned i = 0; i < kBitsPerWord; ++i) {
    masks[i] = 1u << (8 * (i / 8) + 7 - (i % 8));
  }
  return masks;
}

constexpr auto kNextMember = MakeNextMemberTable();
constexpr auto kPopulation = MakePopulationTable();
constexpr auto kWordMasks = MakeWordMasks();
// Mask of position j within a byte, most significant bit first.
constexpr std::array<std::uint8_t, 8> kByteMasks = {0x80, 0x40, 0x20, 0x10,
                                                    0x08, 0x04, 0x02, 0x01};

static_assert(kNextMember.size() * kNextMember[0].size() == 2048);
static_assert(kNextMember[0xFF][5] == 6 && kNextMember[0][0] == 0);
static_assert(kPopulation[0xFF] == 8 && kPopulation.size() == 256);
static_assert(kWordMasks[0] == 0x80 && kWordMasks[8] == 0x8000 &&
              kWordMasks[31] == (1u << 24));

void ZeroWords(std::uint32_t* words, std::uint32_t from, std::uint32_t to) {
  for (std::uint32_t j = from; j < to; ++j) words[j] = 0;
}

}  // namespace

ScreenSet::~ScreenSet() {
  if (HasExternalStorage()) ZolvDeleteMemory(words);
  words = nullptr;
}

std::uint32_t* ScreenSet::Grow(std::uint32_t n) {
  // Growing never shrinks: copying the current words into a smaller block
  // would overrun it. A size in bytes beyond 32 bits is refused like memory.
  if (n <= wordCount || n > kMaxWordCount) return words;
  if (n > kInlineWordCount) {
    auto* block = static_cast<std::uint32_t*>(ZolvNewMemory(n * kBytesPerWord));
    if (block == nullptr) return words;
    if (wordCount != 0) {
      std::memcpy(block, words, std::size_t{wordCount} * kBytesPerWord);
    }
    ZeroWords(block, wordCount, n);
    if (HasExternalStorage()) ZolvDeleteMemory(words);
    words = block;
  } else if (words == nullptr) {
    ZeroWords(inlineWords, 0, kInlineWordCount);
    words = inlineWords;
  } else {
    ZeroWords(words, wordCount, n);
  }
  wordCount = n;
  byteCount = n * kBytesPerWord;
  return words;
}

std::uint32_t* ScreenSet::Reserve(std::uint32_t n) {
  if (n <= wordCount) return words;
  if (n > kMaxWordCount) return nullptr;
  // The new storage is taken before the old is given back, so that a refusal
  // leaves the set as it was instead of empty.
  std::uint32_t* block = inlineWords;
  if (n > kInlineWordCount) {
    block = static_cast<std::uint32_t*>(ZolvNewMemory(n * kBytesPerWord));
    if (block == nullptr) return nullptr;
  }
  if (HasExternalStorage()) ZolvDeleteMemory(words);
  words = block;
  wordCount = n;
  byteCount = n * kBytesPerWord;
  return words;
}

bool ScreenSet::EnsureWords(std::uint32_t n) {
  if (wordCount < n) Grow(n);
  return wordCount >= n;
}

void ScreenSet::Add(std::uint32_t n) {
  if (n >= kNumberLimit) return;
  const std::uint32_t k = n / kBitsPerWord;
  if (!EnsureWords(k + 1)) return;
  words[k] |= kWordMasks[n % kBitsPerWord];
}

void ScreenSet::AddAll(const std::uint16_t* numbers, std::uint32_t count) {
  std::uint32_t largest = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    largest = std::max<std::uint32_t>(largest, numbers[i]);
  }
  // 16-bit numbers are all below kNumberLimit. When the storage for the
  // largest is refused, each is added on its own, as Add would.
  if (count == 0) return;
  if (!EnsureWords(largest / kBitsPerWord + 1)) {
    for (std::uint32_t i = 0; i < count; ++i) Add(numbers[i]);
    return;
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    words[numbers[i] / kBitsPerWord] |= kWordMasks[numbers[i] % kBitsPerWord];
  }
}

bool ScreenSet::Contains(std::uint32_t n) const {
  if (n / 8 >= byteCount) return false;
  return (bytes()[n / 8] & kByteMasks[n % 8]) != 0;
}

void ScreenSet::Intersect(const ScreenSet& a, const ScreenSet& b) {
  const std::uint32_t m = std::min(a.wordCount, b.wordCount);
  if (!EnsureWords(m)) return;
  for (std::uint32_t j = 0; j < m; ++j) words[j] = a.words[j] & b.words[j];
  ZeroWords(words, m, wordCount);
}

void ScreenSet::Unite(const ScreenSet& a, const ScreenSet& b) {
  const ScreenSet& longer = a.wordCount >= b.wordCount ? a : b;
  const std::uint32_t large = longer.wordCount;
  const std::uint32_t small = std::min(a.wordCount, b.wordCount);
  // Growing may move this set's words; operands that alias this set are read
  // through the set afterwards, never through a pointer taken before.
  if (!EnsureWords(large)) return;
  for (std::uint32_t j = 0; j < small; ++j) words[j] = a.words[j] | b.words[j];
  for (std::uint32_t j = small; j < large; ++j) words[j] = longer.words[j];
  ZeroWords(words, large, wordCount);
}

void ScreenSet::Subtract(const ScreenSet& a, const ScreenSet& b) {
  const std::uint32_t aCount = a.wordCount;
  if (!EnsureWords(aCount)) return;
  const std::uint32_t both = std::min(aCount, b.wordCount);
  for (std::uint32_t j = 0; j < both; ++j) words[j] = a.words[j] & ~b.words[j];
  for (std::uint32_t j = both; j < aCount; ++j) words[j] = a.words[j];
  ZeroWords(words, aCount, wordCount);
}

void ScreenSet::Assign(const ScreenSet& source) {
  if (&source == this) return;
  if (source.words == nullptr) {
    if (words != nullptr) ZeroWords(words, 0, wordCount);
    return;
  }
  std::uint32_t n = source.wordCount;
  while (n > 0 && source.words[n - 1] == 0) --n;
  if (wordCount < n && Reserve(n) == nullptr) return;
  if (n != 0) {
    std::memcpy(words, source.words, std::size_t{n} * kBytesPerWord);
  }
  if (words != nullptr) ZeroWords(words, n, wordCount);
}

bool ScreenSet::IsEmpty() const {
  if (words == nullptr) return true;
  for (std::uint32_t j = 0; j < wordCount; ++j) {
    if (words[j] != 0) return false;
  }
  return true;
}

bool ScreenSet::NextFrom(std::uint32_t n, std::uint32_t* out) const {
  std::uint32_t i = n / 8;
  if (i >= byteCount) return false;
  const std::uint8_t* data = bytes();
  std::uint8_t entry = kNextMember[data[i]][n % 8];
  while (entry == 0) {
    if (++i >= byteCount) return false;
    entry = kNextMember[data[i]][0];
  }
  *out = i * 8 + entry - 1;
  return true;
}

bool ScreenSet::First(std::uint32_t* out) const {
  if (words == nullptr) return false;
  return NextFrom(0, out);
}

bool ScreenSet::Last(std::uint32_t* out) const {
  if (words == nullptr) return false;
  const std::uint8_t* data = bytes();
  for (std::uint32_t i = byteCount; i-- > 0;) {
    if (data[i] == 0) continue;
    for (std::uint32_t p = 8; p-- > 0;) {
      if (data[i] & kByteMasks[p]) {
        *out = i * 8 + p;
        return true;
      }
    }
  }
  return false;
}

std::uint32_t ScreenSet::Count() const {
  if (words == nullptr) return 0;
  std::uint32_t count = 0;
  const std::uint8_t* data = bytes();
  for (std::uint32_t i = 0; i < byteCount; ++i) count += kPopulation[data[i]];
  return count;
}

}  // namespace zolv

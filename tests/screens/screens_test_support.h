// Shared by the dictionary and perception tests: dictionaries installed as
// in-memory files beside the module, and a stream over bytes that counts
// what is asked of it.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core_api.h"
#include "core_test.h"
#include "dictionary_format.h"
#include "module_directory.h"
#include "screen_set.h"

namespace zolv::testing {

/// The full path under which the driver looks up a screen file.
inline std::string DictionaryPath(const std::string& name) {
  const TextBuffer directory = ModuleDirectory();
  return std::string(directory.HasText() ? directory.text() : "") + name;
}

inline std::vector<std::uint32_t> Members(const ScreenSet& set) {
  std::vector<std::uint32_t> members;
  std::uint32_t n = 0;
  for (std::uint32_t from = 0; set.NextFrom(from, &n); from = n + 1) {
    members.push_back(n);
  }
  return members;
}

/// Screens 1, 2 and 3: 2 implies 1, 3 implies 1 and 2, with the dependent
/// lists to match. Stored out of test order, so that loading must sort.
inline DictionaryContent ChainDictionary() {
  DictionaryContent content;
  content.screens = {
      {3, {1, 2}, {}, "s3"},
      {1, {}, {2, 3}, "s1"},
      {2, {1}, {3}, "s2"},
  };
  return content;
}

class ScreensTest : public CoreTest {
 protected:
  /// Makes bytes the screen file called name.
  static void Install(const std::string& name, std::string bytes) {
    core().AddFile(DictionaryPath(name), std::move(bytes));
  }
  static void Install(const std::string& name,
                      const DictionaryContent& content) {
    Install(name, EncodeDictionary(content));
  }
  /// No fault, no live object and no live block so far.
  static void ExpectClean() {
    for (const std::string& fault : core().Faults()) ADD_FAILURE() << fault;
    EXPECT_EQ(core().Live(), 0u);
    EXPECT_EQ(core().LiveBlocks(), 0u);
  }
};

/// A read stream over bytes, little-endian like the core's "BYTEORDERED"
/// streams, that counts its reads and remembers the largest raw read asked.
class CountingStream final : public Stream {
 public:
  explicit CountingStream(std::string bytes) : bytes_(std::move(bytes)) {}
  ~CountingStream() = default;

  void ZOLV_STDCALL Release() override { ++releases; }
  CoreBool ZOLV_STDCALL ReadShort(std::int16_t* value) override {
    std::uint16_t raw = 0;
    if (!Take(&raw, 2)) return 0;
    *value = static_cast<std::int16_t>(raw);
    return 1;
  }
  CoreBool ZOLV_STDCALL ReadUShort(std::uint16_t* value) override {
    return Take(value, 2) ? 1 : 0;
  }
  CoreBool ZOLV_STDCALL ReadULong(std::uint32_t* value) override {
    return Take(value, 4) ? 1 : 0;
  }
  CoreBool ZOLV_STDCALL ReadBytes(void* buffer, std::uint32_t count) override {
    ++reads;
    if (count > largestRawRead) largestRawRead = count;
    if (count > bytes_.size() - position_) return 0;
    if (count != 0) std::memcpy(buffer, bytes_.data() + position_, count);
    position_ += count;
    return 1;
  }
  std::int32_t ZOLV_STDCALL PutChar(char) override { return 0; }

  std::size_t position() const { return position_; }

  std::uint64_t reads = 0;
  std::uint32_t largestRawRead = 0;
  int releases = 0;

 private:
  template <typename T>
  bool Take(T* out, std::size_t width) {
    ++reads;
    if (width > bytes_.size() - position_) return false;
    T value = 0;
    for (std::size_t k = 0; k < width; ++k) {
      value |= static_cast<T>(
          static_cast<T>(static_cast<unsigned char>(bytes_[position_ + k]))
          << (8 * k));
    }
    *out = value;
    position_ += width;
    return true;
  }

  std::string bytes_;
  std::size_t position_ = 0;
};

}  // namespace zolv::testing

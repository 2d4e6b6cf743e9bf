#include "dictionary_writer.h"

#include <fstream>
#include <limits>

namespace zolv {
namespace {

constexpr char kMagic[] = "VetOrb";
constexpr std::size_t kMagicLength = sizeof(kMagic) - 1;
static_assert(kMagicLength == 6, "the magic is six bytes, no terminator");

constexpr std::size_t kCountLimit = std::numeric_limits<std::uint16_t>::max();

bool AppendList(std::string* bytes, const std::vector<std::uint16_t>& list) {
  if (list.size() > kCountLimit) return false;
  AppendU16(bytes, static_cast<std::uint16_t>(list.size()));
  for (std::uint16_t number : list) AppendU16(bytes, number);
  return true;
}

}  // namespace

void AppendU16(std::string* bytes, std::uint16_t value) {
  bytes->push_back(static_cast<char>(value & 0xFF));
  bytes->push_back(static_cast<char>(value >> 8));
}

void AppendU32(std::string* bytes, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    bytes->push_back(static_cast<char>((value >> shift) & 0xFF));
  }
}

std::string EncodeDictionary(const DictionaryContent& content) {
  if (content.screens.size() > kCountLimit) return std::string();
  std::string bytes(kMagic, kMagicLength);
  AppendU16(&bytes, static_cast<std::uint16_t>(content.orderFlag));
  AppendU16(&bytes, static_cast<std::uint16_t>(content.screens.size()));
  for (const DictionaryScreen& screen : content.screens) {
    AppendU16(&bytes, screen.number);
    if (!AppendList(&bytes, screen.implied) ||
        !AppendList(&bytes, screen.dependent) ||
        screen.stored.size() > std::numeric_limits<std::uint32_t>::max()) {
      return std::string();
    }
    AppendU32(&bytes, static_cast<std::uint32_t>(screen.stored.size()));
    bytes += screen.stored;
  }
  return bytes;
}

bool WriteDictionaryFile(const std::string& path,
                         const DictionaryContent& content) {
  const std::string bytes = EncodeDictionary(content);
  if (bytes.empty()) return false;
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  return static_cast<bool>(file);
}

}  // namespace zolv

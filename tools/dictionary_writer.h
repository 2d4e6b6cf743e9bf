// Writes screen dictionary files ("VetOrb"): for the driver's tests and for
// the tools that build dictionaries.
//
// Layout, without padding, 16- and 32-bit fields little-endian: the six bytes
// "VetOrb", the 16-bit order flag, the 16-bit record count, then per record
// its 16-bit number, the 16-bit count and the numbers of the implied screens,
// the same for the dependent screens, the 32-bit length of the stored
// structure and its bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zolv {

/// One screen as the file stores it.
struct DictionaryScreen {
  std::uint16_t number = 0;
  std::vector<std::uint16_t> implied;    // screens present whenever it is
  std::vector<std::uint16_t> dependent;  // screens absent whenever it is
  std::string stored;                    // the stored structure (SMARTS text)
};

/// A whole dictionary file.
struct DictionaryContent {
  /// Nonzero: the screens are already in test order; zero: sort on load.
  std::int16_t orderFlag = 0;
  std::vector<DictionaryScreen> screens;
};

/// The file's bytes; empty when a count does not fit its 16-bit field.
std::string EncodeDictionary(const DictionaryContent& content);

/// Writes the file; false when it does not encode or cannot be written.
bool WriteDictionaryFile(const std::string& path,
                         const DictionaryContent& content);

/// Field writers, for building files that break the format on purpose.
void AppendU16(std::string* bytes, std::uint16_t value);
void AppendU32(std::string* bytes, std::uint32_t value);

}  // namespace zolv

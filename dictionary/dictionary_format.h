// The screen dictionary file ("VetOrb"): its magic and record layout, and
// the encoding, decoding and validation that every writer and checker of
// such files uses. The driver reads the same files through a core stream in
// screens/screen_dictionary.cpp and takes its magic and field widths from
// here; this header therefore depends on nothing but the standard library.
//
// Layout, without padding, 16- and 32-bit fields little-endian:
//
//   header   the six bytes "VetOrb", the 16-bit order flag (nonzero: the
//            records are in test order), the 16-bit record count;
//   record   its 16-bit screen number, the 16-bit count and the numbers of
//            the screens it implies, the same for the screens that depend on
//            it, the 32-bit length of the stored structure and its bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zolv {

/// The first bytes of every dictionary file, without a terminator.
inline constexpr char kDictionaryMagic[] = {'V', 'e', 't', 'O', 'r', 'b'};
inline constexpr std::size_t kDictionaryMagicLength = sizeof(kDictionaryMagic);
static_assert(kDictionaryMagicLength == 6, "the magic has no terminator");

/// The magic, the order flag and the record count.
inline constexpr std::size_t kDictionaryHeaderLength =
    kDictionaryMagicLength + 2 + 2;

/// The most records, and the most entries of one list: counts are 16-bit.
inline constexpr std::size_t kDictionaryCountLimit = 65535;

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

/// A file read back, trusting none of its counts.
struct DictionaryFile {
  /// False when even the header could not be read or the magic is wrong.
  bool headerRead = false;
  /// The records as far as they could be read whole, in file order.
  DictionaryContent content;
  std::uint16_t declaredCount = 0;
  /// Bytes after the last declared record; the driver never reads them.
  std::size_t trailingBytes = 0;
  /// What stopped the reading (bad magic, truncation), one message each.
  std::vector<std::string> problems;
};

/// Decodes bytes as a dictionary file.
DictionaryFile DecodeDictionary(const std::string& bytes);

/// Reads and decodes the file at path; an unreadable file is a problem.
DictionaryFile ReadDictionaryFile(const std::string& path);

/// Everything wrong with content that the driver relies on: distinct numbers
/// from 1 to the record count, lists that name other records of the file
/// and agree with each other, implied lists closed under implication, and
/// test order where the file claims it. One message a fault, each naming
/// the record by its 1-based position in the file and its screen number,
/// e.g. "record 7 (screen 12): implied screen 40 is not in the dictionary".
std::vector<std::string> ValidateDictionary(const DictionaryContent& content);

/// Whether every screen comes before each screen whose implied list holds it.
bool IsInTestOrder(const DictionaryContent& content);

}  // namespace zolv

// Reads a screen dictionary file ("VetOrb") back, trusting none of its counts,
// and checks what the driver relies on: distinct numbers from 1 to the record
// count, lists that name other records of the file and agree with each other,
// implied lists closed under implication, and test order where the file
// claims it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dictionary_writer.h"

namespace zolv::host {

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

/// Everything wrong with content, one message a fault, each naming the record
/// by its 1-based position in the file and its screen number, e.g.
/// "record 7 (screen 12): implied screen 40 is not in the dictionary".
std::vector<std::string> ValidateDictionary(const DictionaryContent& content);

/// Whether every screen comes before each screen whose implied list holds it.
bool IsInTestOrder(const DictionaryContent& content);

}  // namespace zolv::host

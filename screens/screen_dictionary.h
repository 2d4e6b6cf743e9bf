// The screen dictionary: the screens of the "VetOrb" file beside the driver's
// module, in test order, with the map from screen number to position and the
// result list that target-mode perception fills. It is read afresh for every
// write and owns its records and all their core objects.
#pragma once

#include <cstdint>
#include <memory>

#include "screen_record.h"

namespace zolv {

class ScreenDictionary {
 public:
  ScreenDictionary() = default;
  ScreenDictionary(const ScreenDictionary&) = delete;
  ScreenDictionary& operator=(const ScreenDictionary&) = delete;
  ~ScreenDictionary() { Clear(); }

  /// Starts from nothing and loads the named file from the module's
  /// directory; a missing or unreadable file leaves the dictionary empty.
  void Open(const char* screenFileName);
  /// The number of records of which at least one byte could be read.
  std::uint16_t Load(const char* screenFileName);
  /// Sorts unless the records are already in test order, then maps numbers
  /// to positions.
  void PutInTestOrder();
  std::uint32_t ResultCount() const { return resultCount_; }
  /// Result i, counted from 1; false and 0 outside 1..ResultCount().
  bool ResultAt(std::uint32_t i, std::uint32_t* number) const;
  /// Releases every record and array; `inTestOrder` keeps its value.
  void Clear();
  void Close() { Clear(); }

  bool inTestOrder() const { return inTestOrder_; }
  std::uint32_t count() const { return count_; }
  /// The record at a position in test order, 0 <= position < count().
  ScreenRecord& RecordAt(std::uint32_t position) const {
    return *records_[position];
  }
  /// The record carrying number; null when no record does.
  ScreenRecord* RecordNumbered(std::uint32_t number) const;
  /// Entries of the number-to-position map: one more than the highest number
  /// a record carries, and never fewer than count() + 1.
  std::uint32_t PositionCount() const { return positionCount_; }

  /// Empties the result list (all entries 0).
  void ClearResults();
  /// Appends to the result list; false, and nothing written, when the list
  /// already holds count() entries.
  bool AppendResult(std::uint32_t number);

 private:
  bool inTestOrder_ = false;
  std::unique_ptr<std::uint32_t[]> results_;
  std::uint32_t resultCount_ = 0;
  std::uint32_t count_ = 0;
  std::unique_ptr<std::uint32_t[]> positionOf_;
  std::uint32_t positionCount_ = 0;
  // Pointers into recordBlock_, where the count_ records were made in file
  // order.
  std::unique_ptr<ScreenRecord*[]> records_;
  std::unique_ptr<unsigned char[]> recordBlock_;
};

}  // namespace zolv

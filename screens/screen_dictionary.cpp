#include "screen_dictionary.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core_handle.h"
#include "dictionary_format.h"
#include "module_directory.h"
#include "text_buffer.h"

namespace zolv {
namespace {

// positionOf entries at numbers that no record carries.
constexpr std::uint32_t kNoPosition = 0xFFFFFFFFu;

// Records with more dependents and fewer implied screens are tested first,
// so that every outcome settles as many screens as it can.
std::int64_t TestOrderKey(const ScreenRecord& record) {
  return std::int64_t{record.dependent.Count()} -
         std::int64_t{record.implied.Count()};
}

struct SortEntry {
  std::int64_t key;
  ScreenRecord* record;
};

}  // namespace

void ScreenDictionary::Open(const char* screenFileName) {
  Clear();
  inTestOrder_ = false;
  Load(screenFileName);
}

std::uint16_t ScreenDictionary::Load(const char* screenFileName) {
  Clear();

  // Without its directory the dictionary would be looked up wherever the
  // process happens to stand, so there is then no dictionary.
  TextBuffer path;
  path.AssignBuffer(ModuleDirectory());
  if (!path.HasText()) return 0;
  path.AppendBuffer(TextBuffer(screenFileName));

  CoreHandle<Stream> stream;
  ZolvCreateStream(stream.Receive(), "READFILE", path.text(), "BYTEORDERED");
  if (!stream) return 0;

  char magic[kDictionaryMagicLength] = {};
  if (stream->ReadBytes(magic, sizeof(magic)) == 0 ||
      std::memcmp(magic, kDictionaryMagic, sizeof(magic)) != 0) {
    return 0;
  }
  // A file that ends inside the header is no dictionary: the fields would be
  // values read from nowhere.
  std::int16_t orderFlag = 0;
  if (stream->ReadShort(&orderFlag) == 0) return 0;
  inTestOrder_ = orderFlag != 0;
  std::uint16_t recordCount = 0;
  if (stream->ReadUShort(&recordCount) == 0) return 0;

  const std::uint32_t n = recordCount;
  records_.reset(new (std::nothrow) ScreenRecord*[n]);
  results_.reset(new (std::nothrow) std::uint32_t[n]());
  // Every write reads every record afresh: one block for all of them costs
  // one allocation, not one per record.
  recordBlock_.reset(
      new (std::nothrow) unsigned char[std::size_t{n} * sizeof(ScreenRecord)]);
  if (!records_ || !results_ || (n != 0 && !recordBlock_)) {
    Clear();
    return 0;
  }
  resultCount_ = 0;

  std::uint16_t loaded = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    records_[i] =
        new (recordBlock_.get() + std::size_t{i} * sizeof(ScreenRecord))
            ScreenRecord();
    count_ = i + 1;
    if (records_[i]->Read(stream.get()) != 0) ++loaded;
  }

  PutInTestOrder();
  stream.reset();
  return loaded;
}

void ScreenDictionary::PutInTestOrder() {
  if (!inTestOrder_) {
    std::unique_ptr<SortEntry[]> entries(
        new (std::nothrow) SortEntry[count_ == 0 ? 1 : count_]);
    if (entries) {
      // Keys counted once per record, not once per comparison.
      for (std::uint32_t i = 0; i < count_; ++i) {
        entries[i].key = TestOrderKey(*records_[i]);
        entries[i].record = records_[i];
      }
      std::sort(
          entries.get(), entries.get() + count_,
          [](const SortEntry& a, const SortEntry& b) { return a.key > b.key; });
      for (std::uint32_t i = 0; i < count_; ++i) {
        records_[i] = entries[i].record;
      }
    } else {
      std::sort(records_.get(), records_.get() + count_,
                [](const ScreenRecord* a, const ScreenRecord* b) {
                  return TestOrderKey(*a) > TestOrderKey(*b);
                });
    }
    inTestOrder_ = true;
  }

  // The map is widened to the highest number a record carries, so that a
  // number above the record count still finds its record.
  std::uint32_t highest = count_;
  for (std::uint32_t i = 0; i < count_; ++i) {
    highest = std::max(highest, records_[i]->number);
  }
  positionOf_.reset(new (std::nothrow) std::uint32_t[highest + 1]);
  if (!positionOf_) {
    positionCount_ = 0;
    return;
  }
  positionCount_ = highest + 1;
  std::fill(positionOf_.get(), positionOf_.get() + positionCount_, kNoPosition);
  for (std::uint32_t i = 0; i < count_; ++i) {
    positionOf_[records_[i]->number] = i;
  }
}

bool ScreenDictionary::ResultAt(std::uint32_t i, std::uint32_t* number) const {
  if (i >= 1 && i <= resultCount_) {
    *number = results_[i - 1];
    return true;
  }
  *number = 0;
  return false;
}

void ScreenDictionary::Clear() {
  // Each record is released in test order, as when each had a block of its
  // own.
  for (std::uint32_t i = 0; i < count_; ++i) records_[i]->~ScreenRecord();
  records_.reset();
  recordBlock_.reset();
  positionOf_.reset();
  positionCount_ = 0;
  results_.reset();
  count_ = 0;
  resultCount_ = 0;
}

ScreenRecord* ScreenDictionary::RecordNumbered(std::uint32_t number) const {
  if (number >= positionCount_) return nullptr;
  const std::uint32_t position = positionOf_[number];
  if (position == kNoPosition) return nullptr;
  return records_[position];
}

void ScreenDictionary::ClearResults() {
  if (results_) std::fill(results_.get(), results_.get() + count_, 0u);
  resultCount_ = 0;
}

bool ScreenDictionary::AppendResult(std::uint32_t number) {
  if (!results_ || resultCount_ >= count_) return false;
  results_[resultCount_++] = number;
  return true;
}

}  // namespace zolv

#include "screen_record.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace zolv {
namespace {

// Stored structures are read in pieces of at most this many bytes, so that a
// length field larger than the file costs no more memory than the file
// actually delivers.
constexpr std::uint32_t kReadChunk = 64 * 1024;

// What LoadStored receives for a record without stored bytes: an empty
// structure, never a null pointer.
constexpr std::uint8_t kNoBytes[1] = {0};

// Reads a count and then that many numbers into set; the bytes consumed. The
// list ends at the first failed read, so a count larger than the file costs
// one failed read, not 65,535. Numbers are added a batch at a time, the set
// grown once for the batch: added one by one, they would grow it word by
// word, a new block each time.
std::uint32_t ReadList(Stream* stream, ScreenSet* set) {
  std::uint16_t count = 0;
  if (stream->ReadUShort(&count) == 0) return 0;
  std::uint32_t consumed = 2;
  constexpr std::uint32_t kBatch = 64;
  std::uint16_t batch[kBatch];
  for (std::uint32_t k = 0; k < count;) {
    std::uint32_t size = 0;
    bool ended = false;
    for (; size < kBatch && k < count; ++size, ++k) {
      if (stream->ReadUShort(&batch[size]) == 0) {
        ended = true;
        break;
      }
    }
    set->AddAll(batch, size);
    consumed += 2 * size;
    if (ended) break;
  }
  return consumed;
}

// Reads length raw bytes; null when the stream ends first or the memory is
// refused. The block grows with what was read, never ahead of it by more
// than one piece.
std::unique_ptr<std::uint8_t[]> ReadBlock(Stream* stream,
                                          std::uint32_t length) {
  std::unique_ptr<std::uint8_t[]> block;
  std::uint32_t capacity = 0;
  std::uint32_t filled = 0;
  while (filled < length) {
    const std::uint32_t step = std::min(kReadChunk, length - filled);
    if (step > capacity - filled) {
      const std::uint64_t doubled = std::uint64_t{capacity} * 2;
      const auto wanted = static_cast<std::uint32_t>(std::min<std::uint64_t>(
          std::max<std::uint64_t>(doubled, std::uint64_t{filled} + step),
          length));
      std::unique_ptr<std::uint8_t[]> larger(new (std::nothrow)
                                                 std::uint8_t[wanted]);
      if (!larger) return nullptr;
      if (filled != 0) std::memcpy(larger.get(), block.get(), filled);
      block = std::move(larger);
      capacity = wanted;
    }
    if (stream->ReadBytes(block.get() + filled, step) == 0) return nullptr;
    filled += step;
  }
  if (!block) block.reset(new (std::nothrow) std::uint8_t[1]);
  return block;
}

}  // namespace

ScreenRecord::~ScreenRecord() {
  storedBytes.reset();
  chemistry.reset();
  index.reset();
  matcher.reset();
  ReleaseQueryMatcher();
  // The sets go last, by member order: `dependent`, then `implied`.
}

void ScreenRecord::ReleaseQueryMatcher() {
  if (!queryMatcher) return;
  queryMatcher->matcher.reset();
  queryMatcher.reset();
}

std::uint32_t ScreenRecord::Read(Stream* stream) {
  std::uint64_t consumed = 0;
  std::uint16_t value = 0;
  if (stream->ReadUShort(&value) != 0) {
    number = value;
    consumed += 2;
  }
  consumed += ReadList(stream, &implied);
  consumed += ReadList(stream, &dependent);
  std::uint32_t length = 0;
  if (stream->ReadULong(&length) != 0) {
    consumed += 4;
    std::unique_ptr<std::uint8_t[]> block = ReadBlock(stream, length);
    if (block) {
      AdoptStoredStructure(length, std::move(block));
      consumed += length;
    }
  }
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(
      consumed, std::numeric_limits<std::uint32_t>::max()));
}

void ScreenRecord::SetStoredStructure(std::uint32_t length,
                                      const std::uint8_t* bytes) {
  if (bytes == nullptr) length = 0;
  std::unique_ptr<std::uint8_t[]> copy(
      new (std::nothrow) std::uint8_t[std::max<std::uint32_t>(length, 1)]);
  if (copy && length != 0) std::memcpy(copy.get(), bytes, length);
  AdoptStoredStructure(copy ? length : 0, std::move(copy));
}

void ScreenRecord::AdoptStoredStructure(std::uint32_t length,
                                        std::unique_ptr<std::uint8_t[]> bytes) {
  storedBytes.reset();
  chemistry.reset();
  index.reset();
  matcher.reset();
  ReleaseQueryMatcher();
  storedLength = length;
  storedBytes = std::move(bytes);
}

void ScreenRecord::SetFromMolecule(Chemistry* molecule) {
  storedBytes.reset();
  if (!chemistry) ZolvCreateChemistry(chemistry.Receive());
  index.reset();
  matcher.reset();
  ReleaseQueryMatcher();
  if (chemistry && molecule != nullptr) chemistry->CopyFrom(molecule);
}

void ScreenRecord::EnsureChemistry() {
  if (chemistry) return;
  ZolvCreateChemistry(chemistry.Receive());
  if (!chemistry) return;
  chemistry->LoadStored(storedLength,
                        storedBytes ? storedBytes.get() : kNoBytes);
}

void ScreenRecord::EnsureIndex() {
  if (index) return;
  ZolvCreateIndex(index.Receive());
  EnsureChemistry();
  if (!index) return;
  // An index never built would describe no structure at all.
  if (!chemistry) {
    index.reset();
    return;
  }
  index->Build(chemistry.get());
}

Matcher* ScreenRecord::TargetMatcher() {
  if (!matcher) {
    ZolvCreateMatcher(matcher.Receive());
    if (!matcher) return nullptr;
    matcher->SetOption(kSubstructureSearch);
    EnsureChemistry();
    // A matcher without a pattern would search for nothing in particular.
    if (!chemistry) {
      matcher.reset();
      return nullptr;
    }
    matcher->SetPattern(chemistry.get());
  }
  return matcher.get();
}

QueryMatcher* ScreenRecord::GetQueryMatcher() {
  if (!queryMatcher) {
    queryMatcher.reset(new (std::nothrow) QueryMatcher());
    if (!queryMatcher) return nullptr;
    EnsureChemistry();
    queryMatcher->SetPattern(chemistry.get());
  }
  return queryMatcher.get();
}

}  // namespace zolv

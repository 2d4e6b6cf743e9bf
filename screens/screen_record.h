// One screen of the dictionary: its number, the screens it implies and the
// screens that depend on it, its stored structure, and the core objects made
// from that structure on first use. The record that stands for the molecule
// during perception collects the found screens in `implied`.
#pragma once

#include <cstdint>
#include <memory>

#include "core_api.h"
#include "core_handle.h"
#include "query_matcher.h"
#include "screen_set.h"

namespace zolv {

class ScreenRecord {
 public:
  ScreenRecord() = default;
  ScreenRecord(const ScreenRecord&) = delete;
  ScreenRecord& operator=(const ScreenRecord&) = delete;
  /// Releases everything the record owns, in the fixed release order.
  ~ScreenRecord();

  /// Reads one file record; the number of bytes consumed (0 when nothing
  /// could be read). A list ends at its first failed read, and a stored
  /// structure longer than the stream delivers is not kept.
  std::uint32_t Read(Stream* stream);
  /// Keeps a copy of the bytes as the stored structure and drops the core
  /// objects made from the old one. A refused copy keeps no structure.
  void SetStoredStructure(std::uint32_t length, const std::uint8_t* bytes);
  /// Makes the record stand for a molecule (borrowed): drops the stored
  /// structure and every object but `chemistry`, which becomes a copy of it.
  void SetFromMolecule(Chemistry* molecule);
  void EnsureChemistry();
  /// Builds the index once; an existing index is never rebuilt.
  void EnsureIndex();
  /// The target-mode matcher with this screen as its pattern, made on first
  /// use; null when it cannot be made.
  Matcher* TargetMatcher();
  /// The query-mode matcher, made on first use; null when it cannot be made.
  QueryMatcher* GetQueryMatcher();

  ScreenSet implied;
  ScreenSet dependent;
  CoreHandle<Chemistry> chemistry;
  CoreHandle<Index> index;
  CoreHandle<Matcher> matcher;
  std::unique_ptr<std::uint8_t[]> storedBytes;
  std::uint32_t storedLength = 0;
  std::uint32_t number = 0;
  std::unique_ptr<QueryMatcher> queryMatcher;

 private:
  void AdoptStoredStructure(std::uint32_t length,
                            std::unique_ptr<std::uint8_t[]> bytes);
  void ReleaseQueryMatcher();
};

}  // namespace zolv

// How zolv index writes an index so that an interruption at any point leaves
// a state that is either the previous one or can be finished, and how a
// search makes sure that what it reads is a finished, undamaged index.
//
// A new index gets its tables and settings first, then its rows in batches,
// each committed with how much of the input it has consumed, and last the
// mark that it is complete, with the count and checksum of its rows. A
// replacing index is built beside the old one and swapped in with one
// transaction. Running again on an incomplete index continues it; asked to
// append, a complete index loses its mark until the new rows are in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "screen_counts.h"
#include "text_store.h"

namespace zolv::search {

/// Settings the indexing command keeps: the dictionary the texts were
/// written with and the lengths they were written with.
inline constexpr char kSettingDictionary[] = "dictionary";
inline constexpr char kSettingDictionaryDigest[] = "dictionary_digest";
inline constexpr char kSettingLength[] = "length";
inline constexpr char kSettingBitsLength[] = "bits_length";
/// The highest screen of the dictionary, and the form the targets'
/// molecules are stored in (what wrote them).
inline constexpr char kSettingHighestScreen[] = "highest_screen";
inline constexpr char kSettingMoleculeFormat[] = "molecule_format";
/// How many shard servers the targets are spread over; absent: none.
inline constexpr char kSettingShards[] = "shards";

/// Settings the protocol keeps itself.
inline constexpr char kSettingInputDone[] = "input_done";
inline constexpr char kSettingTargetCount[] = "targets";
inline constexpr char kSettingCutCount[] = "cut_targets";
inline constexpr char kSettingChecksum[] = "checksum";
/// How many stored targets hold each screen (ScreenCounts::Format()),
/// committed with every batch.
inline constexpr char kSettingScreenCounts[] = "screen_counts";

struct IndexRequest {
  bool replace = false;  // build a new index beside the old and swap it in
  bool append = false;   // add to a complete index
  /// What the texts are written with, stored at the start.
  SettingChanges settings;
  /// The keys of settings that an index to continue must hold unchanged.
  std::vector<std::string> mustMatch;
};

enum class IndexMode { kNew, kReplace, kResume, kAppend };

/// Where a run starts.
struct IndexStart {
  IndexMode mode = IndexMode::kNew;
  std::int64_t nextId = 1;       // id of the first row this run stores
  std::int64_t inputToSkip = 0;  // input records stored by an earlier run
  std::int64_t cutSoFar = 0;     // cut texts among the rows already stored
  ScreenCounts screenCounts;     // over the rows already stored
};

/// Locks the store for writing and prepares the tables as the request and
/// the database's state say. False with a message, and nothing changed,
/// when the database holds tables zolv index did not make, a complete index
/// without --replace or --append, an index made with other settings, or one
/// in another format without --replace.
bool StartIndex(TextStore& store, const IndexRequest& request,
                IndexStart* start, std::string* error);

/// What a batch commits about all rows stored so far, its own included.
struct BatchProgress {
  std::int64_t inputDone = 0;  // input records consumed
  std::int64_t cutTotal = 0;   // cut texts among the stored rows
  const ScreenCounts* screenCounts = nullptr;  // null: left as stored
};

/// Stores one batch with what it brings the index to, in one transaction.
bool StoreBatch(TextStore& store, const std::vector<TargetRow>& rows,
                const BatchProgress& progress, std::string* error);

/// Marks the index complete with its count and checksum (swapping it in
/// when it was built beside). *count receives the number of targets.
bool FinishIndex(TextStore& store, const IndexStart& start, std::int64_t* count,
                 std::string* error);

/// For a search: holds one snapshot, then refuses an incomplete index
/// (saying how to finish it), one in another format and a damaged one (its
/// structure, count or checksum not what was recorded). *targets, when
/// given, receives the number of targets.
bool CheckIndexForSearch(TextStore& store, std::string* error,
                         std::int64_t* targets = nullptr);

}  // namespace zolv::search

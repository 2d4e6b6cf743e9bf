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

#include "text_store.h"

namespace zolv::search {

/// Settings the indexing command keeps: the dictionary the texts were
/// written with and the lengths they were written with.
inline constexpr char kSettingDictionary[] = "dictionary";
inline constexpr char kSettingDictionaryDigest[] = "dictionary_digest";
inline constexpr char kSettingLength[] = "length";
inline constexpr char kSettingBitsLength[] = "bits_length";

/// Settings the protocol keeps itself.
inline constexpr char kSettingInputDone[] = "input_done";
inline constexpr char kSettingTargetCount[] = "targets";
inline constexpr char kSettingCutCount[] = "cut_targets";
inline constexpr char kSettingChecksum[] = "checksum";

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
};

/// Locks the store for writing and prepares the tables as the request and
/// the database's state say. False with a message, and nothing changed,
/// when the database holds tables zolv index did not make, a complete index
/// without --replace or --append, or an index made with other settings.
bool StartIndex(TextStore& store, const IndexRequest& request,
                IndexStart* start, std::string* error);

/// Stores one batch with the number of input records consumed so far and
/// the cut texts among all stored rows, in one transaction.
bool StoreBatch(TextStore& store, const std::vector<TargetRow>& rows,
                std::int64_t inputDone, std::int64_t cutTotal,
                std::string* error);

/// Marks the index complete with its count and checksum (swapping it in
/// when it was built beside). *count receives the number of targets.
bool FinishIndex(TextStore& store, const IndexStart& start, std::int64_t* count,
                 std::string* error);

/// For a search: holds one snapshot, then refuses an incomplete index
/// (saying how to finish it) and a damaged one (its structure, count or
/// checksum not what was recorded).
bool CheckIndexForSearch(TextStore& store, std::string* error);

}  // namespace zolv::search

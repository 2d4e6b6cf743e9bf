#include "index_writing.h"

#include <cstdlib>
#include <optional>

namespace zolv::search {
namespace {

std::int64_t NumberOr(const std::optional<std::string>& text,
                      std::int64_t otherwise) {
  if (!text || text->empty()) return otherwise;
  return std::strtoll(text->c_str(), nullptr, 10);
}

// The first setting of request.mustMatch that the stored index holds with
// another value, as a message; empty when all match.
bool CheckSameSettings(TextStore& store, const IndexRequest& request,
                       std::string* mismatch, std::string* error) {
  for (const std::string& key : request.mustMatch) {
    std::optional<std::string> wanted;
    for (const auto& [name, value] : request.settings) {
      if (name == key) wanted = value;
    }
    std::optional<std::string> stored;
    if (!store.GetSetting(key, &stored, error)) return false;
    if (stored != wanted) {
      *mismatch = key + " " + stored.value_or("(none)") + ", now " +
                  wanted.value_or("(none)");
      return true;
    }
  }
  mismatch->clear();
  return true;
}

}  // namespace

bool StartIndex(TextStore& store, const IndexRequest& request,
                IndexStart* start, std::string* error) {
  if (!store.LockForWriting(error)) return false;
  IndexState state = IndexState::kNone;
  if (!store.GetState(&state, error)) return false;
  *start = IndexStart();
  SettingChanges initial = request.settings;
  initial.emplace_back(kSettingInputDone, "0");
  initial.emplace_back(kSettingCutCount, "0");

  switch (state) {
    case IndexState::kForeign:
      *error = store.Describe() + " holds " + ForeignTables() +
               "; it is left as it is (index into another database)";
      return false;
    case IndexState::kNone:
      start->mode = IndexMode::kNew;
      return store.CreateTables(false, initial, error);
    case IndexState::kIncomplete:
    case IndexState::kComplete:
    case IndexState::kOutdated:
      break;
  }
  if (request.replace) {
    start->mode = IndexMode::kReplace;
    return store.CreateTables(true, initial, error);
  }
  if (state == IndexState::kOutdated) {
    *error = OutdatedMessage(store);
    return false;
  }
  if (state == IndexState::kComplete && !request.append) {
    *error = store.Describe() +
             " already holds an index; give --replace to replace it or "
             "--append to add to it";
    return false;
  }
  std::string mismatch;
  if (!CheckSameSettings(store, request, &mismatch, error)) return false;
  if (!mismatch.empty()) {
    *error = store.Describe() +
             " holds an index written with other settings (" + mismatch +
             "); give the same dictionary and options" +
             (state == IndexState::kIncomplete ? " to finish it" : "") +
             ", or --replace to replace it";
    return false;
  }
  TargetSummary summary;
  if (!store.Summarize(&summary, error)) return false;
  start->nextId = summary.highestId + 1;
  std::optional<std::string> cut;
  std::optional<std::string> counts;
  if (!store.GetSetting(kSettingCutCount, &cut, error) ||
      !store.GetSetting(kSettingScreenCounts, &counts, error)) {
    return false;
  }
  start->cutSoFar = NumberOr(cut, 0);
  const std::optional<ScreenCounts> parsed =
      ScreenCounts::Parse(counts.value_or(""));
  if (!parsed) {
    *error = store.Describe() + " holds screen counts that do not read (" +
             kSettingScreenCounts +
             "); give --replace to write the index again";
    return false;
  }
  start->screenCounts = *parsed;
  if (state == IndexState::kIncomplete) {
    start->mode = IndexMode::kResume;
    std::optional<std::string> done;
    if (!store.GetSetting(kSettingInputDone, &done, error)) return false;
    start->inputToSkip = NumberOr(done, 0);
    return true;
  }
  start->mode = IndexMode::kAppend;
  return store.ChangeSettings(
      {{kSettingComplete, std::nullopt}, {kSettingInputDone, "0"}}, error);
}

bool StoreBatch(TextStore& store, const std::vector<TargetRow>& rows,
                const BatchProgress& progress, std::string* error) {
  SettingChanges settings = {
      {kSettingInputDone, std::to_string(progress.inputDone)},
      {kSettingCutCount, std::to_string(progress.cutTotal)},
  };
  if (progress.screenCounts != nullptr) {
    settings.emplace_back(kSettingScreenCounts,
                          progress.screenCounts->Format());
  }
  return store.InsertWithSettings(rows, settings, error);
}

bool FinishIndex(TextStore& store, const IndexStart& start, std::int64_t* count,
                 std::string* error) {
  TargetSummary summary;
  if (!store.Summarize(&summary, error)) return false;
  *count = summary.count;
  const SettingChanges finished = {
      {kSettingTargetCount, std::to_string(summary.count)},
      {kSettingChecksum, summary.checksum},
      {kSettingInputDone, std::nullopt},
      {kSettingComplete, "yes"},
  };
  return start.mode == IndexMode::kReplace
             ? store.SwapIn(finished, error)
             : store.ChangeSettings(finished, error);
}

bool CheckIndexForSearch(TextStore& store, std::string* error,
                         std::int64_t* targets) {
  if (!store.HoldSnapshot(error)) return false;
  IndexState state = IndexState::kNone;
  if (!store.GetState(&state, error)) return false;
  if (state == IndexState::kIncomplete) {
    *error = store.Describe() +
             " holds an incomplete index (zolv index stopped before it "
             "finished); run zolv index again with the same dictionary, "
             "options and input files to finish it";
    return false;
  }
  if (state == IndexState::kOutdated) {
    *error = OutdatedMessage(store);
    return false;
  }
  if (state != IndexState::kComplete) {
    *error = store.Describe() + " holds no index";
    return false;
  }
  if (!store.CheckStructure(error)) return false;
  TargetSummary summary;
  std::optional<std::string> count;
  std::optional<std::string> checksum;
  if (!store.Summarize(&summary, error) ||
      !store.GetSetting(kSettingTargetCount, &count, error) ||
      !store.GetSetting(kSettingChecksum, &checksum, error)) {
    return false;
  }
  if (count != std::to_string(summary.count) || checksum != summary.checksum) {
    *error = store.Describe() + " is damaged: it holds " +
             std::to_string(summary.count) + " targets with checksum " +
             summary.checksum + ", the index recorded " +
             count.value_or("(none)") + " with checksum " +
             checksum.value_or("(none)") +
             "; write it again with zolv index --replace";
    return false;
  }
  if (targets != nullptr) *targets = summary.count;
  return true;
}

}  // namespace zolv::search

// What the SQLite and the PostgreSQL store share: the schema of an index,
// from which each makes the SQL of its own database, and the way an index's
// tables are made, replaced and changed, each step one transaction. A store
// supplies its statements; everything said here holds for both.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "text_store.h"

namespace zolv::search {

/// The databases a schema is written for.
enum class SqlDialect { kSqlite, kPostgres };

/// What a column holds, and so its type in each database.
enum class ColumnKind {
  kKey,      // the row's key: the target's id, the setting's name
  kText,     // UTF-8 text
  kBytes,    // bytes as they are: the screen texts
  kScreens,  // screen numbers: PostgreSQL integer[], SQLite "3 17 52"
};

struct ColumnSpec {
  const char* name;
  ColumnKind kind;
  bool nullable = false;  // NULL stands for "none"
};

/// The columns of the targets table, in the order rows are stored. A name
/// is kept in two columns: "name" is always well-formed UTF-8, which every
/// client reads (Python's sqlite3 fails on a whole result otherwise, and
/// PostgreSQL's text takes nothing else): the name itself, or for a name
/// that is not UTF-8 the name with U+FFFD for each stray byte; "name_bytes"
/// then holds the name's bytes, and is NULL otherwise. "data" holds an SD
/// record's data items as a JSON object (data_items.h), NULL when it has
/// none.
inline constexpr ColumnSpec kTargetColumns[] = {
    {"id", ColumnKind::kKey},
    {"name", ColumnKind::kText},
    {"smiles", ColumnKind::kText},
    {"raw", ColumnKind::kBytes},
    {"ascii", ColumnKind::kBytes},
    {"bits", ColumnKind::kText},
    {"name_bytes", ColumnKind::kBytes, true},
    {"data", ColumnKind::kText, true},
    {"screens", ColumnKind::kScreens},
    {"molecule", ColumnKind::kBytes},
};
inline constexpr int kTargetColumnCount =
    static_cast<int>(sizeof(kTargetColumns) / sizeof(kTargetColumns[0]));
static_assert(kTargetColumnCount == 10, "a target row has ten columns");

/// The columns a candidate is read from, in the order ReadCandidate of each
/// store takes them.
inline constexpr char kCandidateColumns[] =
    "id, name, smiles, name_bytes, data, molecule";

/// What the name columns of a row hold for name: its readable form, and its
/// bytes when those differ (else none).
std::string NameColumn(const std::string& name);
std::optional<std::string> NameBytesColumn(const std::string& name);

/// The tables a replacing index is built under, beside the index.
inline constexpr char kBesideTargets[] = "zolv_new_targets";
inline constexpr char kBesideSettings[] = "zolv_new_settings";

/// SQLite's full-text index of the targets' screens (FTS5, contentless, one
/// row per target with the target's id as rowid): the table that belongs to
/// a targets table of the given name.
std::string ScreensTable(const std::string& targets);

/// Screens as a kScreens column holds them in SQLite, and as FTS5 reads
/// them: "3 17 52".
std::string ScreenTokens(const std::vector<std::uint32_t>& screens);
/// The same as a PostgreSQL array literal: "{3,17,52}".
std::string ScreenArray(const std::vector<std::uint32_t>& screens);

/// "id, name, smiles, raw, ascii, bits".
std::string TargetColumnList();

/// The column that holds a variant's texts.
const char* TextColumn(TextVariant variant);

/// Parameter n (from 1) of a statement: "?n" in SQLite, "$n" in PostgreSQL.
std::string Placeholder(SqlDialect dialect, int n);

/// Makes the targets table under the given name with its screen index:
/// PostgreSQL a GIN index on the screens, SQLite the full-text table.
std::string CreateTargetsSql(SqlDialect dialect, const std::string& targets);

/// A PostgreSQL coordinator's targets table: the same columns, partitioned
/// by a hash of the id over tables elsewhere, with neither key nor index of
/// its own (each partition has them).
std::string CreatePartitionedTargetsSql(const std::string& targets);

/// Makes the settings table under the given name.
std::string CreateSettingsSql(SqlDialect dialect, const std::string& settings);

/// Drops both tables (and SQLite's screen table), when they exist.
std::string DropTablesSql(SqlDialect dialect, const std::string& targets,
                          const std::string& settings);

/// Stores a setting, replacing its value; parameters key and value.
std::string UpsertSettingSql(SqlDialect dialect, const std::string& settings);

/// What tables of the index's names are, by the format marker their
/// settings hold (none: no marker) and whether the index was finished.
IndexState StateOfMarker(const std::optional<std::string>& format,
                         bool complete);

/// Refuses to open a store for reading when it holds no index, with the
/// message a reader gets.
bool CheckReadable(TextStore& store, std::string* error);

/// A store whose tables are made and changed in SQL transactions.
class SqlTextStore : public TextStore {
 public:
  explicit SqlTextStore(SqlDialect dialect) : dialect_(dialect) {}

  bool CreateSchema(bool replace, std::string* error) override;
  bool CreateTables(bool beside, const SettingChanges& settings,
                    std::string* error) override;
  bool SwapIn(const SettingChanges& settings, std::string* error) override;
  bool ChangeSettings(const SettingChanges& settings,
                      std::string* error) override;
  bool SetSetting(const std::string& key, const std::string& value,
                  std::string* error) override;
  bool GetSetting(const std::string& key, std::optional<std::string>* value,
                  std::string* error) override;

  /// Why a database with tables of the index's names but no index is left
  /// alone.
  std::string ForeignMessage() const;

 protected:
  /// Runs a statement that returns no rows; error may be null when a
  /// failure needs no report (a rollback).
  virtual bool Command(const std::string& sql, std::string* error) = 0;
  /// Stores (value given) or deletes one setting in the current settings
  /// table.
  virtual bool WriteSetting(const std::string& key,
                            const std::optional<std::string>& value,
                            std::string* error) = 0;
  /// Reads one setting of table; none when it is not there.
  virtual bool ReadSetting(const std::string& table, const std::string& key,
                           std::optional<std::string>* value,
                           std::string* error) = 0;
  /// Called when the tables in use change; statements prepared for the old
  /// ones must go.
  virtual void TablesChanged() {}
  /// Inside MakeTables' transaction: makes the targets table, by default
  /// with CreateTargetsSql.
  virtual bool MakeTargets(const std::string& targets, std::string* error);
  /// Inside SwapIn's transaction, before the tables made beside are
  /// renamed: drops the index's tables. A store whose tables reach beyond
  /// its database tidies up there as well.
  virtual bool DropIndexTables(std::string* error);
  /// Inside SwapIn's transaction: gives the tables made beside the index's
  /// names.
  virtual bool RenameBesideTables(std::string* error);

  /// Runs body in a write transaction: committed when body succeeds, rolled
  /// back when it or the commit fails.
  bool InTransaction(const std::function<bool()>& body, std::string* error);
  /// Outside a transaction each change commits by itself.
  bool WriteSettings(const SettingChanges& settings, std::string* error);

  SqlDialect dialect() const { return dialect_; }
  const std::string& targetsTable() const { return targets_; }
  const std::string& settingsTable() const { return settings_; }

 private:
  // Inside a transaction: both tables, and their settings with the marker
  // that makes them an index.
  bool MakeTables(const std::string& targets, const std::string& settings,
                  const SettingChanges& changes, std::string* error);
  void UseTables(const std::string& targets, const std::string& settings);

  SqlDialect dialect_;
  std::string targets_ = kTargetsTable;
  std::string settings_ = kSettingsTable;
};

}  // namespace zolv::search

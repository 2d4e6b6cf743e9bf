#include "sql_text_store.h"

#include "utf8_text.h"

namespace zolv::search {
namespace {

const char* TypeOf(SqlDialect dialect, ColumnKind kind, bool isSettings) {
  const bool sqlite = dialect == SqlDialect::kSqlite;
  switch (kind) {
    case ColumnKind::kKey:
      // A setting's key is its name; a target's is its id.
      if (isSettings) return sqlite ? "TEXT" : "text";
      return sqlite ? "INTEGER" : "bigint";
    case ColumnKind::kText:
      return sqlite ? "TEXT" : "text";
    case ColumnKind::kBytes:
      return sqlite ? "BLOB" : "bytea";
    case ColumnKind::kScreens:
      return sqlite ? "TEXT" : "integer[]";
  }
  return "";
}

// The settings table: each setting's name and value.
constexpr ColumnSpec kSettingColumns[] = {
    {"key", ColumnKind::kKey},
    {"value", ColumnKind::kText},
};

template <std::size_t N>
std::string TableSql(SqlDialect dialect, const std::string& name,
                     const ColumnSpec (&columns)[N], bool isSettings) {
  std::string sql = "CREATE TABLE " + name + " (";
  for (std::size_t i = 0; i < N; ++i) {
    if (i > 0) sql += ", ";
    sql += std::string(columns[i].name) + " " +
           TypeOf(dialect, columns[i].kind, isSettings);
    if (columns[i].kind == ColumnKind::kKey) {
      sql += " PRIMARY KEY";
    } else if (!columns[i].nullable) {
      sql += " NOT NULL";
    }
  }
  return sql + ")";
}

// Gives the tables made beside the index's names. PostgreSQL names a
// table's indexes after the table: renamed too, so that the next index built
// beside can take their names again.
std::string RenameSql(SqlDialect dialect, const std::string& targets,
                      const std::string& settings) {
  std::string sql;
  const auto rename = [&](const std::string& from, const std::string& to) {
    if (!sql.empty()) sql += ";";
    sql += "ALTER TABLE " + from + " RENAME TO " + to;
  };
  rename(targets, kTargetsTable);
  rename(settings, kSettingsTable);
  if (dialect == SqlDialect::kSqlite) {
    // FTS5 renames its shadow tables with it.
    rename(ScreensTable(targets), ScreensTable(kTargetsTable));
  } else {
    for (const char* suffix : {"_pkey", "_screens"}) {
      sql += ";ALTER INDEX IF EXISTS " + targets + suffix + " RENAME TO " +
             kTargetsTable + suffix;
    }
  }
  return sql;
}

std::string JoinScreens(const std::vector<std::uint32_t>& screens,
                        char separator) {
  std::string text;
  for (const std::uint32_t screen : screens) {
    if (!text.empty()) text.push_back(separator);
    text += std::to_string(screen);
  }
  return text;
}

}  // namespace

std::string TargetColumnList() {
  std::string list;
  for (const ColumnSpec& column : kTargetColumns) {
    if (!list.empty()) list += ", ";
    list += column.name;
  }
  return list;
}

std::string NameColumn(const std::string& name) {
  return WithReplacementCharacters(name);
}

std::optional<std::string> NameBytesColumn(const std::string& name) {
  if (IsWellFormedUtf8(name)) return std::nullopt;
  return name;
}

const char* TextColumn(TextVariant variant) {
  return variant == TextVariant::kRaw ? "raw" : "ascii";
}

std::string Placeholder(SqlDialect dialect, int n) {
  return (dialect == SqlDialect::kSqlite ? "?" : "$") + std::to_string(n);
}

std::string ScreensTable(const std::string& targets) {
  return targets == kBesideTargets ? "zolv_new_screens" : "target_screens";
}

std::string ScreenTokens(const std::vector<std::uint32_t>& screens) {
  return JoinScreens(screens, ' ');
}

std::string ScreenArray(const std::vector<std::uint32_t>& screens) {
  return "{" + JoinScreens(screens, ',') + "}";
}

std::string CreateTargetsSql(SqlDialect dialect, const std::string& targets) {
  std::string sql = TableSql(dialect, targets, kTargetColumns, false);
  if (dialect == SqlDialect::kSqlite) {
    // Contentless, without positions or sizes: the index answers only which
    // targets hold every token asked for, which is all a search asks.
    return sql + ";CREATE VIRTUAL TABLE " + ScreensTable(targets) +
           " USING fts5(screens, content='', detail=none, columnsize=0)";
  }
  // The built-in array operator class, not the intarray extension's, so
  // that the index serves OPERATOR(pg_catalog.@>) whatever is installed.
  return sql + ";CREATE INDEX " + targets + "_screens ON " + targets +
         " USING gin (screens array_ops)";
}

std::string CreatePartitionedTargetsSql(const std::string& targets) {
  std::string sql = "CREATE TABLE " + targets + " (";
  for (int i = 0; i < kTargetColumnCount; ++i) {
    if (i > 0) sql += ", ";
    sql += std::string(kTargetColumns[i].name) + " " +
           TypeOf(SqlDialect::kPostgres, kTargetColumns[i].kind, false) +
           " NOT NULL";
  }
  return sql + ") PARTITION BY HASH (id)";
}

std::string CreateSettingsSql(SqlDialect dialect, const std::string& settings) {
  return TableSql(dialect, settings, kSettingColumns, true);
}

std::string DropTablesSql(SqlDialect dialect, const std::string& targets,
                          const std::string& settings) {
  std::string sql =
      "DROP TABLE IF EXISTS " + targets + ";DROP TABLE IF EXISTS " + settings;
  if (dialect == SqlDialect::kSqlite) {
    sql += ";DROP TABLE IF EXISTS " + ScreensTable(targets);
  }
  return sql;
}

std::string UpsertSettingSql(SqlDialect dialect, const std::string& settings) {
  if (dialect == SqlDialect::kSqlite) {
    return "INSERT OR REPLACE INTO " + settings +
           " (key, value) VALUES (?1, ?2)";
  }
  return "INSERT INTO " + settings +
         " (key, value) VALUES ($1, $2) ON CONFLICT (key) DO "
         "UPDATE SET value = EXCLUDED.value";
}

IndexState StateOfMarker(const std::optional<std::string>& format,
                         bool complete) {
  if (format == kFormatMarker) {
    return complete ? IndexState::kComplete : IndexState::kIncomplete;
  }
  if (format && format->rfind(kFormatMarkerPrefix, 0) == 0) {
    return IndexState::kOutdated;
  }
  return IndexState::kForeign;
}

bool CheckReadable(TextStore& store, std::string* error) {
  IndexState state = IndexState::kNone;
  if (!store.GetState(&state, error)) return false;
  if (state == IndexState::kNone) {
    *error = store.Describe() + " holds no index";
    return false;
  }
  if (state == IndexState::kForeign) {
    *error = store.Describe() + " holds no index, only " + ForeignTables();
    return false;
  }
  if (state == IndexState::kOutdated) {
    *error = OutdatedMessage(store);
    return false;
  }
  return true;
}

std::string SqlTextStore::ForeignMessage() const {
  return Describe() + " holds " + ForeignTables() +
         "; it is left as it is (index into another database)";
}

bool SqlTextStore::InTransaction(const std::function<bool()>& body,
                                 std::string* error) {
  // SQLite takes the write lock at once, so that a second writer waits
  // here rather than failing at its first write.
  if (!Command(dialect_ == SqlDialect::kSqlite ? "BEGIN IMMEDIATE" : "BEGIN",
               error)) {
    return false;
  }
  if (!body() || !Command("COMMIT", error)) {
    Command("ROLLBACK", nullptr);
    return false;
  }
  return true;
}

bool SqlTextStore::WriteSettings(const SettingChanges& settings,
                                 std::string* error) {
  for (const auto& [key, value] : settings) {
    if (!WriteSetting(key, value, error)) return false;
  }
  return true;
}

bool SqlTextStore::CreateSchema(bool replace, std::string* error) {
  IndexState state = IndexState::kNone;
  if (!GetState(&state, error)) return false;
  if (state == IndexState::kForeign) {
    *error = ForeignMessage();
    return false;
  }
  if (state != IndexState::kNone && !replace) {
    *error = state == IndexState::kOutdated
                 ? OutdatedMessage(*this)
                 : Describe() + " already holds an index";
    return false;
  }
  if (!InTransaction(
          [&] {
            return Command(
                       DropTablesSql(dialect_, kTargetsTable, kSettingsTable),
                       error) &&
                   MakeTables(kTargetsTable, kSettingsTable, {}, error);
          },
          error)) {
    return false;
  }
  UseTables(kTargetsTable, kSettingsTable);
  return true;
}

bool SqlTextStore::CreateTables(bool beside, const SettingChanges& settings,
                                std::string* error) {
  const std::string targets = beside ? kBesideTargets : kTargetsTable;
  const std::string table = beside ? kBesideSettings : kSettingsTable;
  if (!InTransaction(
          [&] {
            return (!beside ||
                    Command(DropTablesSql(dialect_, targets, table), error)) &&
                   MakeTables(targets, table, settings, error);
          },
          error)) {
    return false;
  }
  UseTables(targets, table);
  return true;
}

bool SqlTextStore::SwapIn(const SettingChanges& settings, std::string* error) {
  if (targets_ == kTargetsTable) {
    *error = Describe() + ": no tables were made beside the index";
    return false;
  }
  if (!InTransaction(
          [&] {
            return WriteSettings(settings, error) && DropIndexTables(error) &&
                   RenameBesideTables(error);
          },
          error)) {
    return false;
  }
  UseTables(kTargetsTable, kSettingsTable);
  return true;
}

bool SqlTextStore::ChangeSettings(const SettingChanges& settings,
                                  std::string* error) {
  return InTransaction([&] { return WriteSettings(settings, error); }, error);
}

bool SqlTextStore::SetSetting(const std::string& key, const std::string& value,
                              std::string* error) {
  return WriteSettings({{key, value}}, error);
}

bool SqlTextStore::GetSetting(const std::string& key,
                              std::optional<std::string>* value,
                              std::string* error) {
  return ReadSetting(settings_, key, value, error);
}

bool SqlTextStore::MakeTables(const std::string& targets,
                              const std::string& settings,
                              const SettingChanges& changes,
                              std::string* error) {
  if (!MakeTargets(targets, error) ||
      !Command(CreateSettingsSql(dialect_, settings), error)) {
    return false;
  }
  const std::string previous = settings_;
  settings_ = settings;
  SettingChanges all = {{kSettingFormat, std::string(kFormatMarker)}};
  all.insert(all.end(), changes.begin(), changes.end());
  const bool written = WriteSettings(all, error);
  settings_ = previous;
  return written;
}

bool SqlTextStore::MakeTargets(const std::string& targets, std::string* error) {
  return Command(CreateTargetsSql(dialect_, targets), error);
}

bool SqlTextStore::DropIndexTables(std::string* error) {
  return Command(DropTablesSql(dialect_, kTargetsTable, kSettingsTable), error);
}

bool SqlTextStore::RenameBesideTables(std::string* error) {
  return Command(RenameSql(dialect_, targets_, settings_), error);
}

void SqlTextStore::UseTables(const std::string& targets,
                             const std::string& settings) {
  targets_ = targets;
  settings_ = settings;
  TablesChanged();
}

}  // namespace zolv::search

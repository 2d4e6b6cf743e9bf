// Where the target texts live: a database table of stored targets, each with
// its "SBI" texts in both variants, its bit string and its SMILES, and the
// plain text search that preselects the targets a query pattern can match.
//
// Two stores implement it: SQLite (one file) and PostgreSQL. Both keep the
// texts as bytes (BLOB, bytea) and match them byte for byte, so that no
// target is lost to a NUL byte, to character decoding or to case folding.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "write_options.h"

namespace zolv::search {

/// Which stored "SBI" text a query pattern is matched against: the raw texts
/// for raw patterns, the alphabet texts for alphabet ("ascii") patterns.
enum class TextVariant {
  kRaw,       // one byte per screen, any byte value
  kAlphabet,  // screens folded onto 64 positions, alphabet characters
};

/// "raw" or "alphabet".
const char* VariantName(TextVariant variant);
/// The variant a command line names: "raw", "alphabet" or "ascii".
std::optional<TextVariant> ParseVariant(std::string_view name);
/// "access" or "odbc".
const char* DialectName(WildcardDialect dialect);
/// The dialect a command line names: "access" or "odbc", any letter case.
std::optional<WildcardDialect> ParseDialect(std::string_view name);

/// One stored target. Texts are bytes and may hold any byte value.
struct TargetRow {
  std::int64_t id = 0;  // unique within the store
  std::string name;     // the molecule's name from its input, any bytes
  std::string smiles;   // what a candidate is confirmed with
  std::string raw;      // raw "SBI" target text
  std::string ascii;    // alphabet "SBI" target text
  std::string bits;     // bit string of "0" and "1"
  std::string data;     // an SD record's data items (data_items.h), or empty
  /// The screens the target holds, ascending and never folded: what the
  /// index finds candidates by before any text is matched.
  std::vector<std::uint32_t> screens;
  /// The molecule confirmation reads, in MoleculeFormat() (an RDKit pickle
  /// of the molecule the SMILES gives); empty when none could be made, and
  /// then the SMILES is parsed instead.
  std::string molecule;
};

/// A target as the preselection returns it.
struct Candidate {
  std::int64_t id = 0;
  std::string name;  // exactly as stored, whether UTF-8 or not
  std::string smiles;
  std::string data;      // as TargetRow::data
  std::string molecule;  // as stored; see TargetRow::molecule
};

/// One preselection: a query pattern as the driver wrote it.
struct PatternQuery {
  PatternQuery(std::string pattern = {},
               TextVariant variant = TextVariant::kRaw,
               WildcardDialect dialect = WildcardDialect::kAccess,
               std::vector<std::uint32_t> screens = {})
      : pattern(std::move(pattern)),
        variant(variant),
        dialect(dialect),
        screens(std::move(screens)) {}

  std::string pattern;  // bytes, in the dialect's wildcards
  TextVariant variant;
  WildcardDialect dialect;
  /// The query's screens, rarest first. The store's index narrows the
  /// targets to those holding the first few before the pattern is matched;
  /// empty: the pattern is matched against every stored text.
  std::vector<std::uint32_t> screens;
};

/// How a store is opened.
enum class OpenMode {
  kRead,   // an existing store, for searching
  kWrite,  // created when missing, for indexing
};

/// What a database holds under the index's table names.
enum class IndexState {
  kNone,        // neither table
  kForeign,     // a table of that name that zolv index did not make
  kIncomplete,  // begun by zolv index, not (yet) finished
  kComplete,    // finished by zolv index
  kOutdated,    // made by zolv index in a format this one does not read
};

/// Settings to store together; a value left empty removes its key.
using SettingChanges =
    std::vector<std::pair<std::string, std::optional<std::string>>>;

/// What the stored targets add up to, computed by the database.
struct TargetSummary {
  std::int64_t count = 0;
  std::int64_t highestId = 0;  // 0 when there is no target
  std::string checksum;        // over every column of every target
};

/// Every operation returns false with a message in *error on failure; a
/// store stays usable after a failed operation.
class TextStore {
 public:
  virtual ~TextStore() = default;

  /// Creates the empty tables. An existing index is an error unless replace
  /// is set, in which case its tables are dropped first.
  virtual bool CreateSchema(bool replace, std::string* error) = 0;

  /// Stores rows in one transaction: all of them or none.
  virtual bool Insert(const std::vector<TargetRow>& rows,
                      std::string* error) = 0;

  /// As Insert, with settings changed in the same transaction: what lets an
  /// interrupted index record exactly how far it got.
  virtual bool InsertWithSettings(const std::vector<TargetRow>& rows,
                                  const SettingChanges& settings,
                                  std::string* error) = 0;

  /// Whether the database holds an index, and whether zolv index made it:
  /// only the settings table's format marker makes tables the index's.
  virtual bool GetState(IndexState* state, std::string* error) = 0;

  /// Takes, until the store closes, the right to write the index; fails at
  /// once, saying so, while another store holds it. The operating system
  /// releases it when a process dies, however it dies.
  virtual bool LockForWriting(std::string* error) = 0;

  /// Makes every later read see one committed state of the database until
  /// the store closes, so that a writer's later commits stay unseen.
  virtual bool HoldSnapshot(std::string* error) = 0;

  /// Creates empty, marked tables with the given settings in one
  /// transaction. With beside, under names of their own, replacing any that
  /// an earlier attempt left; until SwapIn every later operation of this
  /// store uses them, and readers still see the index as it was. Without
  /// beside, the index's tables must not exist.
  virtual bool CreateTables(bool beside, const SettingChanges& settings,
                            std::string* error) = 0;

  /// In one transaction: drops the index's tables, gives the tables made
  /// beside their names and changes settings in them.
  virtual bool SwapIn(const SettingChanges& settings, std::string* error) = 0;

  /// Changes settings in one transaction.
  virtual bool ChangeSettings(const SettingChanges& settings,
                              std::string* error) = 0;

  /// Count, highest id and checksum of the stored targets.
  virtual bool Summarize(TargetSummary* summary, std::string* error) = 0;

  /// Checks the database's own structure where it can (SQLite's pages);
  /// false with what is wrong.
  virtual bool CheckStructure(std::string* error) = 0;

  /// Appends to *candidates every target whose stored text of the query's
  /// variant the pattern matches, in id order. With query.screens, only
  /// targets holding the first few of them are tested: a target that holds
  /// the query holds all its screens, so none is lost.
  virtual bool Preselect(const PatternQuery& query,
                         std::vector<Candidate>* candidates,
                         std::string* error) = 0;

  /// As Preselect, but only the ids: what a caller that holds the targets
  /// already needs, without moving their names and SMILES.
  virtual bool PreselectIds(const PatternQuery& query,
                            std::vector<std::int64_t>* ids,
                            std::string* error) = 0;

  /// Number of stored targets.
  virtual bool CountTargets(std::int64_t* count, std::string* error) = 0;

  /// Calls visit for every stored target in id order (texts left empty);
  /// stops early, successfully, when visit returns false.
  virtual bool ForEachTarget(const std::function<bool(const Candidate&)>& visit,
                             std::string* error) = 0;

  /// Settings of the index, such as the dictionary its texts were written
  /// with. Setting a key again replaces its value.
  virtual bool SetSetting(const std::string& key, const std::string& value,
                          std::string* error) = 0;
  /// *value is left empty when the key was never set.
  virtual bool GetSetting(const std::string& key,
                          std::optional<std::string>* value,
                          std::string* error) = 0;

  /// "SQLite file.db" or "PostgreSQL", for messages.
  virtual std::string Describe() const = 0;

  /// What went wrong without failing the operation (a table on another
  /// server that could not be dropped), since the last call.
  virtual std::vector<std::string> TakeWarnings() { return {}; }
};

/// How the SQLite store matches patterns.
enum class SqliteMatching {
  /// The registered byte-exact function zolv_match (standing for GLOB and
  /// LIKE, which cannot see raw bytes). The default and the only sound one.
  kExact,
  /// SQLite's built-in GLOB (Access) and LIKE (ODBC) on the texts read as
  /// TEXT. Loses targets whose texts hold a NUL byte, bytes that read as
  /// UTF-8 sequences, or letters of the other case; kept only to show that.
  kBuiltin,
};

/// Opens the SQLite store in the file at path (created in kWrite mode when
/// missing); null with a message on failure.
std::unique_ptr<TextStore> OpenSqliteStore(
    const std::string& path, OpenMode mode, std::string* error,
    SqliteMatching matching = SqliteMatching::kExact);

/// Connects to a PostgreSQL server with a libpq connection string ("host=...
/// dbname=..."); null with the server's message on failure. In kRead mode
/// the database must hold an index. With shards (libpq connection strings,
/// kWrite mode), tables made from then on are partitioned by id over those
/// servers, each partition a postgres_fdw foreign table, and the connected
/// database becomes the coordinator that every later command uses as it is.
std::unique_ptr<TextStore> OpenPostgresStore(
    const std::string& conninfo, OpenMode mode, std::string* error,
    const std::vector<std::string>& shards = {});

/// The names of the stored tables, also for readers with their own SQL.
inline constexpr char kTargetsTable[] = "targets";
inline constexpr char kSettingsTable[] = "index_settings";
/// The setting that marks the tables as zolv index's, and its value.
inline constexpr char kSettingFormat[] = "format";
inline constexpr char kFormatMarker[] = "zolv index 2";
/// What every format marker starts with, the older ones included.
inline constexpr char kFormatMarkerPrefix[] = "zolv index ";
/// "a table named ... that zolv index did not make", for messages.
std::string ForeignTables();
/// Why an index in another format (IndexState::kOutdated) is neither
/// searched nor continued, and what to do about it.
std::string OutdatedMessage(TextStore& store);
/// Present once the index is finished.
inline constexpr char kSettingComplete[] = "complete";

}  // namespace zolv::search

// zolv index: stores every molecule's target texts (raw and alphabet "SBI"
// text, bit string) and its SMILES in a database, SQLite or PostgreSQL, for
// zolv search to preselect from. Also the pieces that zolv search shares with
// it: the text writer, which both must run with the same driver and
// dictionary, and the opening of the database.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "command_line.h"
#include "core_api.h"
#include "driver_library.h"
#include "text_store.h"
#include "whole_text.h"
#include "write_options.h"

namespace zolv::host {

/// Keys of the settings an index keeps beside its targets.
inline constexpr char kSettingDictionary[] = "dictionary";
inline constexpr char kSettingDictionaryDigest[] = "dictionary_digest";
inline constexpr char kSettingLength[] = "length";
inline constexpr char kSettingBitsLength[] = "bits_length";
inline constexpr char kSettingTargets[] = "targets";
inline constexpr char kSettingCutTargets[] = "cut_targets";

/// Writes "SBI" texts and bit strings with the format driver and one screen
/// dictionary. The texts of a database and the patterns searched in it must
/// come from the same dictionary, or queries miss their targets.
class SbiTextWriter {
 public:
  /// Loads the driver at driverPath and checks the dictionary at
  /// dictionaryPath (empty: default.vetorb beside the driver). False with a
  /// message when either is unusable.
  bool Open(const std::string& driverPath, const std::string& dictionaryPath,
            std::string* error);

  /// The "SBI" text of object with the given "length". Targets are always
  /// written with Access escapes, whatever dialect says. False with a
  /// message when the driver refuses.
  bool WriteSbi(HostObject* object, ScreenMode mode,
                search::TextVariant variant, WildcardDialect dialect,
                std::uint32_t length, std::string* text,
                std::string* error) const;

  /// As WriteSbi, but with whatever "length" the text needs (starting from
  /// DefaultLength()), or exactly length when it is nonzero, and with
  /// whether that length cut it.
  bool WriteBudgeted(HostObject* object, ScreenMode mode,
                     search::TextVariant variant, WildcardDialect dialect,
                     std::uint32_t length, search::BudgetedText* text,
                     std::string* error) const;

  /// The bit string of object: exactly length characters "0" and "1".
  bool WriteBits(HostObject* object, std::uint32_t length, std::string* text,
                 std::string* error) const;

  /// Whether the driver accepts object at all (ZolvPreWrite).
  bool Accepts(HostObject* object) const;

  const std::string& dictionaryPath() const { return dictionaryPath_; }
  /// A digest of the dictionary's bytes, to tell dictionaries apart.
  const std::string& dictionaryDigest() const { return dictionaryDigest_; }
  /// The highest screen number in the dictionary (0 when it has none).
  std::uint32_t highestScreen() const { return highestScreen_; }
  /// A "length" that holds the texts of nearly every molecule: three
  /// characters for each screen (a bracketed special character takes
  /// three) and room for the formula's symbols.
  std::uint32_t DefaultLength() const;

 private:
  bool Write(HostObject* object, const std::string& options, std::string* text,
             std::string* error) const;

  DriverLibrary driver_;
  std::string dictionaryPath_;
  std::string dictionaryDigest_;
  std::uint32_t highestScreen_ = 0;
  std::string screenFileOption_;  // screenfile="..." for every write
};

/// A "length" from the command line: a whole number from 1 to 2^30; none
/// for anything else.
std::optional<std::uint32_t> ParseLengthValue(const std::string& text);

/// The database a command names: --postgres CONNINFO, or else the SQLite
/// file given as the first positional argument. Null with a message.
std::unique_ptr<search::TextStore> OpenDatabase(
    const ParsedCommandLine& line, search::OpenMode mode, std::string* error,
    search::SqliteMatching matching = search::SqliteMatching::kExact);

const CommandSpec& IndexCommandSpec();

/// Runs zolv index; argv[0] is the command's name. Returns the exit code.
int RunIndex(int argc, char** argv);

}  // namespace zolv::host

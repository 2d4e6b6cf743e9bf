// The format driver with one screen dictionary, as every program that writes
// screen texts uses it: the driver loaded once, the dictionary checked once
// (decoded whole, since the driver itself stops quietly where a file is cut
// and writes what it read), and each write given an option string that
// names that dictionary first.
//
// No command-line concerns live here, so that the commands, the benchmarks
// and programs that are no command line at all (database extensions) open
// the driver the same way. Once open, a session is only read: any number of
// threads may write through it at once, each with its own host objects and
// output stream, because the driver keeps nothing between calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core_api.h"
#include "driver_library.h"
#include "record_stream.h"

namespace zolv::host {

/// Name of the dictionary that the build places beside the driver, used when
/// no dictionary is named.
inline constexpr char kDefaultDictionaryName[] = "default.vetorb";

/// Why the file at path is no usable dictionary ("no such dictionary", "not
/// a screen dictionary ...", the first decoding problem); empty when it is
/// one.
std::string DictionaryProblem(const std::string& path);

/// The digest DriverSession::dictionaryDigest() gives for the file at path;
/// empty when it is no usable dictionary.
std::string DictionaryDigestOf(const std::string& path);

/// A dictionary ("*.vetorb") in directory whose digest is digest, the first
/// by name; empty when there is none.
std::string FindDictionaryWithDigest(const std::string& directory,
                                     const std::string& digest);

/// The option that makes a driver in driverDirectory open dictionaryPath:
/// screenfile="..." with the path relative to that directory, since the
/// driver appends the name to its own directory. Empty with a message when
/// the path cannot be quoted.
std::string ScreenFileOption(const std::string& driverDirectory,
                             const std::string& dictionaryPath,
                             std::string* error);

/// Whether options already name a screen file, read as the driver reads it.
bool NamesScreenFile(const std::string& options);

class DriverSession {
 public:
  /// Loads the driver at driverPath (empty: the one beside the running
  /// program) and checks the dictionary at dictionaryPath (empty:
  /// kDefaultDictionaryName beside the driver). False with a message that
  /// names the file and what is wrong with it.
  bool Open(const std::string& driverPath, const std::string& dictionaryPath,
            std::string* error);

  /// Loads only the driver, for option strings that name their own screen
  /// file: Options() then adds nothing and no dictionary is known.
  bool OpenDriver(const std::string& driverPath, std::string* error);

  /// After OpenDriver(): checks the dictionary as Open() does and names it
  /// in Options() from then on.
  bool UseDictionary(const std::string& dictionaryPath, std::string* error);

  /// The option string of a write: the dictionary's screenfile pair first,
  /// so that the driver, which takes the first value of a key, reads no
  /// other; then rest, in its order.
  std::string Options(const std::string& rest) const;

  /// Whether the driver accepts object at all (ZolvPreWrite).
  bool Accepts(HostObject* object) const;

  /// One ZolvWrite call with options as they are (see Options()) into
  /// stream, cleared first; the driver's result code.
  std::int32_t Write(HostObject* object, const std::string& options,
                     RecordStream* stream) const;

  /// The same into record; false with a message (the result code and the
  /// options) on any result but ZOLV_WRITE_DONE.
  bool WriteRecord(HostObject* object, const std::string& options,
                   std::string* record, std::string* error) const;

  const DriverLibrary& driver() const { return driver_; }
  /// The dictionary as named or defaulted; empty after OpenDriver().
  const std::string& dictionaryPath() const { return dictionaryPath_; }
  /// A digest of the dictionary's bytes, to tell dictionaries apart.
  const std::string& dictionaryDigest() const { return dictionaryDigest_; }
  /// The highest screen number in the dictionary (0 when it has none).
  std::uint32_t highestScreen() const { return highestScreen_; }
  /// The dictionary's records.
  std::size_t screenCount() const { return screenCount_; }

 private:
  DriverLibrary driver_;
  std::string dictionaryPath_;
  std::string dictionaryDigest_;
  std::uint32_t highestScreen_ = 0;
  std::size_t screenCount_ = 0;
  std::string screenFileOption_;  // screenfile="..." for every write
};

}  // namespace zolv::host

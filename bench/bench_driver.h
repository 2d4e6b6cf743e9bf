// The format driver as the benchmarks call it: loaded once, with the screen
// dictionary named in every option string, and its records collected in one
// reused stream.
#pragma once

#include <cstdint>
#include <string>

#include "core_api.h"
#include "driver_library.h"
#include "index_command.h"
#include "record_stream.h"

namespace zolv::bench {

class BenchDriver {
 public:
  /// Loads the driver and checks the dictionary (empty: default.vetorb
  /// beside the driver). False with a message.
  bool Open(const std::string& driverPath, const std::string& dictionaryPath,
            std::string* error);

  /// The option string for a write: the screen file, then rest.
  std::string Options(const std::string& rest) const;

  /// One ZolvWrite call; the record stays valid until the next call.
  bool Write(HostObject* object, const std::string& options) {
    stream_.Clear();
    return driver_.Write(object, &stream_, options.c_str()) == 1;
  }
  const std::string& record() const { return stream_.record(); }
  /// The same into record, for callers on several threads.
  bool WriteTo(HostObject* object, const std::string& options,
               std::string* record) const {
    host::RecordStream stream;
    if (driver_.Write(object, &stream, options.c_str()) != 1) return false;
    *record = stream.record();
    return true;
  }

  /// Texts written whole, with their escapes and budgets handled.
  const host::SbiTextWriter& writer() const { return writer_; }

  std::size_t screenCount() const { return screenCount_; }
  std::uint32_t highestScreen() const { return writer_.highestScreen(); }
  /// A "length" that holds the "SBI" texts of nearly every molecule.
  std::uint32_t sbiLength() const { return writer_.DefaultLength(); }
  const std::string& dictionaryPath() const { return writer_.dictionaryPath(); }

 private:
  host::DriverLibrary driver_;
  host::SbiTextWriter writer_;
  host::RecordStream stream_;
  std::string screenFile_;  // screenfile="..."
  std::size_t screenCount_ = 0;
};

}  // namespace zolv::bench

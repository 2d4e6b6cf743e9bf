// The format driver as the benchmarks call it: loaded once, with the screen
// dictionary named in every option string, and its records collected in one
// reused stream.
#pragma once

#include <cstdint>
#include <string>

#include "core_api.h"
#include "record_stream.h"
#include "sbi_text_writer.h"
#include "zolv/zolvexformat.h"

namespace zolv::bench {

class BenchDriver {
 public:
  /// Opens the driver session and checks the dictionary (empty:
  /// default.vetorb beside the driver). False with a message.
  bool Open(const std::string& driverPath, const std::string& dictionaryPath,
            std::string* error) {
    return writer_.Open(driverPath, dictionaryPath, error);
  }

  /// The option string for a write: the screen file, then rest.
  std::string Options(const std::string& rest) const {
    return session().Options(rest);
  }

  /// One ZolvWrite call; the record stays valid until the next call.
  bool Write(HostObject* object, const std::string& options) {
    return session().Write(object, options, &stream_) == ZOLV_WRITE_DONE;
  }
  const std::string& record() const { return stream_.record(); }
  /// The same into record, for callers on several threads.
  bool WriteTo(HostObject* object, const std::string& options,
               std::string* record) const {
    host::RecordStream stream;
    if (session().Write(object, options, &stream) != ZOLV_WRITE_DONE) {
      return false;
    }
    *record = stream.record();
    return true;
  }

  /// Texts written whole, with their escapes and budgets handled.
  const host::SbiTextWriter& writer() const { return writer_; }
  const host::DriverSession& session() const { return writer_.session(); }

  std::size_t screenCount() const { return session().screenCount(); }
  std::uint32_t highestScreen() const { return session().highestScreen(); }
  /// A "length" that holds the "SBI" texts of nearly every molecule.
  std::uint32_t sbiLength() const { return writer_.DefaultLength(); }
  const std::string& dictionaryPath() const {
    return session().dictionaryPath();
  }

 private:
  host::SbiTextWriter writer_;
  host::RecordStream stream_;
};

}  // namespace zolv::bench

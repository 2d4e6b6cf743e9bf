// The host's side of a write: the output stream the driver writes a record
// to, and the ways the host prints such records on a line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core_api.h"

namespace zolv::host {

/// Collects what the driver writes with PutChar. Owned by the host; the
/// driver never releases it.
class RecordStream final : public Stream {
 public:
  void ZOLV_STDCALL Release() override {}
  CoreBool ZOLV_STDCALL ReadShort(std::int16_t*) override { return 0; }
  CoreBool ZOLV_STDCALL ReadUShort(std::uint16_t*) override { return 0; }
  CoreBool ZOLV_STDCALL ReadULong(std::uint32_t*) override { return 0; }
  CoreBool ZOLV_STDCALL ReadBytes(void*, std::uint32_t) override { return 0; }
  std::int32_t ZOLV_STDCALL PutChar(char character) override {
    record_.push_back(character);
    return 1;
  }

  const std::string& record() const { return record_; }
  void Clear() { record_.clear(); }

 private:
  std::string record_;
};

/// How a record's bytes are printed on its line.
enum class RecordEncoding {
  kText,     // the bytes as they are
  kHex,      // two lowercase hexadecimal digits per byte
  kEscaped,  // printable ASCII as is, "\\" for a backslash, "\xHH" otherwise
};

std::optional<RecordEncoding> ParseRecordEncoding(const std::string& name);

std::string EncodeRecord(const std::string& record, RecordEncoding encoding);

/// The largest "length" zolv passes to the driver: a record of up to this
/// many characters is held in memory whole.
inline constexpr std::uint32_t kMaxRecordLength = 1000000;

/// What the driver will make of an option string, for the user.
struct OptionReview {
  /// Pairs the driver skips or reads otherwise than they were written.
  std::vector<std::string> warnings;
  /// Why the options must not be passed at all; empty when they may.
  std::string error;
};

/// Reads options pair by pair with the driver's own tokenizer and names
/// each unknown key, unaccepted value, value cut short by a character the
/// driver stops at, unclosed quote and repeated key, and refuses a
/// "length" above kMaxRecordLength (or one the driver would wrap).
OptionReview ReviewOptions(const std::string& options);

}  // namespace zolv::host

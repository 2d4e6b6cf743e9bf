// "SBI" texts and bit strings of molecules, written whole, through one
// driver session: what zolv index stores, what zolv search and zolv pattern
// search with, and what the benchmarks measure. The texts of a database and
// the patterns searched in it must come from the same dictionary, or queries
// miss their targets, so both sides write through this one class.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core_api.h"
#include "driver_session.h"
#include "text_store.h"
#include "whole_text.h"
#include "write_options.h"

namespace zolv::host {

class SbiTextWriter {
 public:
  /// Opens the session: the driver at driverPath, the dictionary at
  /// dictionaryPath (empty: default.vetorb beside the driver). False with a
  /// message when either is unusable.
  bool Open(const std::string& driverPath, const std::string& dictionaryPath,
            std::string* error);

  /// The "SBI" text of object with the given "length". Targets are always
  /// written with Access escapes, whatever dialect says. extra (the user's
  /// own options) goes after the fixed ones, which it therefore cannot
  /// override, and before "length", which it can. False with a message when
  /// the driver refuses.
  bool WriteSbi(HostObject* object, ScreenMode mode,
                search::TextVariant variant, WildcardDialect dialect,
                std::uint32_t length, std::string* text, std::string* error,
                const std::string& extra = std::string()) const;

  /// As WriteSbi, but with whatever "length" the text needs (starting from
  /// DefaultLength()), or exactly length when it is nonzero, and with
  /// whether that length cut it.
  bool WriteBudgeted(HostObject* object, ScreenMode mode,
                     search::TextVariant variant, WildcardDialect dialect,
                     std::uint32_t length, search::BudgetedText* text,
                     std::string* error,
                     const std::string& extra = std::string()) const;

  /// The bit string of object: exactly length characters "0" and "1".
  bool WriteBits(HostObject* object, std::uint32_t length, std::string* text,
                 std::string* error) const;

  /// The numbers of the screens the driver writes for object as mode
  /// (a target's every screen, a query's that no other implies), ascending:
  /// its bit string one position per screen, never folded.
  bool WriteScreens(HostObject* object, ScreenMode mode,
                    std::vector<std::uint32_t>* screens,
                    std::string* error) const;

  /// Whether the driver accepts object at all (ZolvPreWrite).
  bool Accepts(HostObject* object) const { return session_.Accepts(object); }

  const DriverSession& session() const { return session_; }
  const std::string& dictionaryPath() const {
    return session_.dictionaryPath();
  }
  const std::string& dictionaryDigest() const {
    return session_.dictionaryDigest();
  }
  std::uint32_t highestScreen() const { return session_.highestScreen(); }
  /// A "length" that holds the texts of nearly every molecule: three
  /// characters for each screen (a bracketed special character takes
  /// three) and room for the formula's symbols.
  std::uint32_t DefaultLength() const;

 private:
  DriverSession session_;
};

/// The screens a bit string marks: the positions of its "1"s, from 1.
std::vector<std::uint32_t> ScreensOfBits(const std::string& bits);

}  // namespace zolv::host

// What the fuzz targets share: arming faults and scripts in the fake core
// from input bytes, an independent reading of dictionary files, the expected
// outcome of perception, and the checks that turn a wrong answer or an
// ownership fault into a crash that libFuzzer reports.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fake_core.h"
#include "fuzz_input.h"
#include "screen_dictionary.h"
#include "screen_set.h"

namespace zolv::fuzz {

/// The key of the molecule that every target writes.
inline constexpr char kMoleculeKey[] = "m";

/// Reports what went wrong and aborts, so that libFuzzer keeps the input.
[[noreturn]] void Fail(const std::string& what);

/// Aborts when the fake core saw a leak, a double or foreign release, or a
/// delete of storage it did not give.
void CheckCore();

/// Runs one input on a fake core reset before and after, and checks it in
/// between with CheckCore().
void RunOnCleanCore(void (*run)(const std::uint8_t*, std::size_t),
                    const std::uint8_t* data, std::size_t size);

}  // namespace zolv::fuzz

/// Defines libFuzzer's entry point of a target whose every input runs through
/// run(data, size) by RunOnCleanCore.
#define ZOLV_FUZZ_ON_CLEAN_CORE(run)                              \
  extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, \
                                        std::size_t size) {       \
    ::zolv::fuzz::RunOnCleanCore(&run, data, size);               \
    return 0;                                                     \
  }

namespace zolv::fuzz {

/// The full path under which the driver looks for a screen file.
std::string DictionaryPath(const char* screenFileName);

std::vector<std::uint32_t> Members(const ScreenSet& set);

/// Arms the fault bytes (see fuzz_input.h); true when a fault was armed, so
/// that results need not be what a fault-free run gives.
bool ArmFaults(ByteReader* input);

/// One record of a dictionary file as a stream that consumes nothing on a
/// failed read delivers it.
struct ModelRecord {
  std::uint16_t number = 0;
  std::vector<std::uint16_t> implied;
  std::vector<std::uint16_t> dependent;
  std::string stored;
};

struct DictionaryModel {
  /// The magic and the whole header were read: the records follow.
  bool loaded = false;
  std::int16_t orderFlag = 0;
  /// As many as the header counts, in file order.
  std::vector<ModelRecord> records;
};

/// Lowers the header's record count to what the bytes after the header could
/// hold (every record that reads anything takes at least two bytes) plus a
/// few records missing at the end. A 10-byte file that counts 65,535 records
/// makes each of them take part in perception with its own core objects; that
/// is the specified reading of a short file and costs about a second per
/// input under the sanitizers, which would starve the fuzzer.
std::string CapRecordCount(std::string bytes);

/// Reads bytes the way the driver is meant to, without sharing its code.
DictionaryModel ReadDictionaryModel(const std::string& bytes);

/// The scripts as the fake core holds them: keyed like the fake, so that
/// later records with the same stored structure override earlier ones there
/// and here alike.
struct Script {
  std::map<std::string, std::vector<testing::AtomMapping>> matches;
  std::map<std::string, bool> mayOccur;
  std::map<std::string, std::vector<testing::AtomProperties>> atoms;
};

/// Reads a script for the model's records and the molecule from input and
/// installs it in the fake core.
Script InstallScript(const DictionaryModel& model, ByteReader* input);

/// The screens ComputeScreens must give for the molecule, worked out from
/// the loaded dictionary's test order and the script alone.
std::set<std::uint32_t> ExpectedScreens(const ScreenDictionary& dictionary,
                                        const Script& script, bool query);

/// A formula text's entries as (symbol, count), the count as CurrentCount
/// gives it; none when the text cannot be read in full.
using FormulaEntryList = std::vector<std::pair<std::string, std::int32_t>>;
FormulaEntryList FormulaEntries(const std::string& text);

/// The text with every "[" up to the next "]" removed.
std::string RemoveBrackets(std::string text);

}  // namespace zolv::fuzz

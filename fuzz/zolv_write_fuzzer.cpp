// ZolvWrite as the host calls it, with arbitrary options, dictionary, formula
// and scripts on the fake core. Without injected faults a bit string must be
// exactly the one the script's screens give.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "core/core_api.h"
#include "driver/option_parser.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_support.h"
#include "screens/screen_dictionary.h"
#include "tests/support/fake_core.h"
#include "zolv/zolvexformat.h"

namespace zolv::fuzz {
namespace {

// Longer bit strings are a matter of output volume, not of new paths: a
// write of two thousand million characters is what such a length asks for.
constexpr std::uint32_t kLongestBitString = 1u << 16;

std::string ExpectedBitString(const std::set<std::uint32_t>& screens,
                              std::uint32_t length) {
  std::set<std::uint32_t> shown = screens;
  if (!screens.empty() && *screens.rbegin() > length) {
    shown.clear();
    for (std::uint32_t m : screens) {
      if (m >= 1) shown.insert((m - 1) % length + 1);
    }
  }
  std::string bits(length, '0');
  for (std::uint32_t p : shown) {
    if (p >= 1 && p <= length) bits[p - 1] = '1';
  }
  return bits;
}

void Run(const std::uint8_t* data, std::size_t size) {
  ByteReader input(data, size);
  const bool faults = ArmFaults(&input);
  const std::uint8_t flags = input.Byte();
  const std::string optionBytes = input.Bytes(input.Byte());
  const std::string options = optionBytes.substr(0, optionBytes.find('\0'));
  const std::string formula = input.Bytes(input.Byte());
  const std::string dictionary = CapRecordCount(input.Bytes(input.U16()));
  const DictionaryModel model = ReadDictionaryModel(dictionary);
  const Script script = InstallScript(model, &input);

  const char* optionText =
      (flags & kFlagNoOptions) != 0 ? nullptr : options.c_str();
  WriteOptions parsed;
  ParseOptions(optionText, &parsed);
  const bool refusedLength =
      parsed.length == 0 || static_cast<std::int32_t>(parsed.length) < 0;
  if (!parsed.sbi && !refusedLength && parsed.length > kLongestBitString) {
    return;
  }

  testing::FakeCore& core = testing::FakeCore::Get();
  const bool file = (flags & kFlagNoFile) == 0;
  if (file) {
    core.AddFile(DictionaryPath(parsed.screenFile.text()), dictionary);
  } else {
    core.FailCreation(testing::ObjectKind::kStream, 1);
  }
  if ((flags & kFlagNoFormula) == 0) {
    core.SetFormula(kMoleculeKey, formula.substr(0, formula.find('\0')));
  }

  const bool molecule = (flags & kFlagNotMolecule) == 0;
  testing::FakeHostObject host(kMoleculeKey, molecule ? 1 : 0);
  auto* object =
      reinterpret_cast<ZolvHostObject*>(static_cast<HostObject*>(&host));
  if (ZolvPreWrite(object, 0, 0) !=
      (molecule ? ZOLV_PREWRITE_ACCEPTED : ZOLV_PREWRITE_REFUSED)) {
    Fail("ZolvPreWrite");
  }

  // The screens a fault-free write must find, from the order the driver
  // loads the file in.
  const bool checked = !faults && file && !refusedLength;
  std::set<std::uint32_t> expected;
  if (checked) {
    ScreenDictionary loaded;
    loaded.Open(parsed.screenFile.text());
    expected = ExpectedScreens(loaded, script,
                               parsed.screenMode == ScreenMode::kQuery);
  }

  testing::FakeOutputStream stream;
  const std::int32_t result = ZolvWrite(
      object, reinterpret_cast<ZolvStream*>(static_cast<Stream*>(&stream)),
      optionText, 0);
  const std::string& text = stream.text();
  if (refusedLength) {
    if (result != ZOLV_WRITE_BAD_LENGTH || !text.empty()) {
      Fail("a zero or negative length was written");
    }
    return;
  }
  if (result != ZOLV_WRITE_DONE) Fail("result not 1");
  if (stream.putCalls() != text.size()) Fail("PutChar count");
  if (parsed.sbi) {
    if (text.size() > parsed.length) Fail("SBI text over its budget");
    return;
  }
  if (text.size() != parsed.length) Fail("bit string of the wrong length");
  if (text.find_first_not_of("01") != std::string::npos) {
    Fail("bit string with other characters");
  }
  if (checked && text != ExpectedBitString(expected, parsed.length)) {
    Fail("bit string differs from the script's screens");
  }
}

}  // namespace
}  // namespace zolv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  zolv::testing::FakeCore::Get().Reset();
  zolv::fuzz::Run(data, size);
  zolv::fuzz::CheckCore();
  zolv::testing::FakeCore::Get().Reset();
  return 0;
}

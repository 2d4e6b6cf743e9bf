// Arbitrary screen dictionary files through Open, Load and perception on the
// fake core. Without injected faults the loaded records must be what the file
// says and perception must find what the script makes present.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "fake_core.h"
#include "fuzz_input.h"
#include "fuzz_support.h"
#include "perception.h"
#include "screen_dictionary.h"

namespace zolv::fuzz {
namespace {

constexpr char kScreenFile[] = "fuzz.vob";

using RecordContent = std::tuple<std::uint32_t, std::vector<std::uint32_t>,
                                 std::vector<std::uint32_t>, std::string>;

std::vector<std::uint32_t> AsSet(const std::vector<std::uint16_t>& list) {
  std::vector<std::uint32_t> set(list.begin(), list.end());
  std::sort(set.begin(), set.end());
  set.erase(std::unique(set.begin(), set.end()), set.end());
  return set;
}

std::string StoredOf(const ScreenRecord& record) {
  if (!record.storedBytes) return std::string();
  return std::string(reinterpret_cast<const char*>(record.storedBytes.get()),
                     record.storedLength);
}

std::int64_t TestOrderKey(const ScreenRecord& record) {
  return std::int64_t{record.dependent.Count()} - record.implied.Count();
}

// The loaded dictionary holds the file's records, in an order that suits its
// flag, with every number found where the map says.
void CheckLoaded(const ScreenDictionary& dictionary,
                 const DictionaryModel& model) {
  if (!model.loaded) {
    if (dictionary.count() != 0) Fail("a broken header loaded records");
    return;
  }
  if (dictionary.count() != model.records.size()) Fail("record count");
  if (!dictionary.inTestOrder()) Fail("not in test order after loading");
  if (dictionary.ResultCount() != 0) Fail("results before perception");

  std::vector<RecordContent> loaded;
  std::vector<RecordContent> expected;
  for (std::uint32_t i = 0; i < dictionary.count(); ++i) {
    const ScreenRecord& record = dictionary.RecordAt(i);
    loaded.emplace_back(record.number, Members(record.implied),
                        Members(record.dependent), StoredOf(record));
    const ModelRecord& file = model.records[i];
    expected.emplace_back(file.number, AsSet(file.implied),
                          AsSet(file.dependent), file.stored);
  }
  if (model.orderFlag != 0) {
    if (loaded != expected) Fail("records of an ordered file moved");
  } else {
    for (std::uint32_t i = 1; i < dictionary.count(); ++i) {
      if (TestOrderKey(dictionary.RecordAt(i - 1)) <
          TestOrderKey(dictionary.RecordAt(i))) {
        Fail("records out of test order");
      }
    }
    std::sort(loaded.begin(), loaded.end());
    std::sort(expected.begin(), expected.end());
    if (loaded != expected) Fail("loaded records differ from the file");
  }

  // The map finds each number at its last position.
  std::map<std::uint32_t, const ScreenRecord*> last;
  for (std::uint32_t i = 0; i < dictionary.count(); ++i) {
    const ScreenRecord& record = dictionary.RecordAt(i);
    last[record.number] = &record;
  }
  for (const auto& [number, record] : last) {
    if (dictionary.RecordNumbered(number) != record) {
      Fail("the position map points at the wrong record");
    }
  }
  std::uint32_t number = 1;
  if (dictionary.ResultAt(0, &number) || number != 0) Fail("ResultAt(0)");
}

void Run(const std::uint8_t* data, std::size_t size) {
  ByteReader input(data, size);
  const bool faults = ArmFaults(&input);
  const std::uint8_t flags = input.Byte();
  const bool query = (flags & kFlagQuery) != 0;
  const std::string bytes = CapRecordCount(input.Bytes(input.U16()));
  const DictionaryModel model = ReadDictionaryModel(bytes);
  const Script script = InstallScript(model, &input);

  testing::FakeCore& core = testing::FakeCore::Get();
  if ((flags & kFlagNoFile) == 0) {
    core.AddFile(DictionaryPath(kScreenFile), bytes);
  } else {
    core.FailCreation(testing::ObjectKind::kStream, 1);
  }

  ScreenDictionary dictionary;
  dictionary.Open(kScreenFile);
  const bool checked = !faults && (flags & kFlagNoFile) == 0;
  if (checked) CheckLoaded(dictionary, model);

  testing::FakeHostObject host(kMoleculeKey);
  ScreenSet screens;
  if (!ComputeScreens(&host, query ? 1 : 0, &screens, kScreenFile)) {
    Fail("ComputeScreens reported failure");
  }
  if (checked) {
    const std::vector<std::uint32_t> got = Members(screens);
    const std::set<std::uint32_t> expected =
        ExpectedScreens(dictionary, script, query);
    if (got != std::vector<std::uint32_t>(expected.begin(), expected.end())) {
      Fail("perception found other screens than the script makes present");
    }
  }
  dictionary.Close();
}

}  // namespace
}  // namespace zolv::fuzz

ZOLV_FUZZ_ON_CLEAN_CORE(zolv::fuzz::Run)

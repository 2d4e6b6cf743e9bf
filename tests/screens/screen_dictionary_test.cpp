#include "screen_dictionary.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "dictionary_format.h"
#include "module_directory.h"
#include "perception.h"
#include "screens_test_support.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace zolv::testing {
namespace {

#if defined(_WIN32)
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

std::filesystem::path ThisProgram() {
#if defined(_WIN32)
  char name[MAX_PATH + 1] = {};
  GetModuleFileNameA(nullptr, name, MAX_PATH);
  return std::filesystem::path(name);
#else
  return std::filesystem::read_symlink("/proc/self/exe");
#endif
}

std::vector<std::uint32_t> NumbersInOrder(const ScreenDictionary& dictionary) {
  std::vector<std::uint32_t> numbers;
  for (std::uint32_t i = 0; i < dictionary.count(); ++i) {
    numbers.push_back(dictionary.RecordAt(i).number);
  }
  return numbers;
}

std::string Header(std::uint16_t flag, std::uint16_t count) {
  std::string bytes = "VetOrb";
  AppendU16(&bytes, flag);
  AppendU16(&bytes, count);
  return bytes;
}

TEST(DictionaryWriter, WritesEveryFieldLittleEndianWithoutPadding) {
  DictionaryContent content;
  content.orderFlag = 1;
  content.screens = {{0x0102, {0x0304}, {}, "[#6]"}};
  const std::string expected(
      "VetOrb"
      "\x01\x00"               // order flag
      "\x01\x00"               // one record
      "\x02\x01"               // number 0x0102
      "\x01\x00\x04\x03"       // one implied screen, 0x0304
      "\x00\x00"               // no dependents
      "\x04\x00\x00\x00[#6]",  // stored structure
      26);
  EXPECT_EQ(EncodeDictionary(content), expected);
}

TEST(DictionaryWriter, RefusesCountsBeyondSixteenBits) {
  DictionaryContent content;
  content.screens.resize(1);
  content.screens[0].implied.assign(65536, 1);
  EXPECT_TRUE(EncodeDictionary(content).empty());
}

class ModuleDirectoryTest : public CoreTest {};

TEST_F(ModuleDirectoryTest, IsTheDirectoryOfThisProgramWithItsSeparator) {
  const TextBuffer directory = ModuleDirectory();
  ASSERT_TRUE(directory.HasText());
  const std::string text = directory.text();
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), kSeparator);
  const std::filesystem::path program = ThisProgram();
  EXPECT_TRUE(
      std::filesystem::equivalent(text + program.filename().string(), program));
}

class ScreenDictionaryTest : public ScreensTest {};

TEST_F(ScreenDictionaryTest, HeaderWithoutRecordsGivesAnEmptySortedDictionary) {
  Install("empty.dic", Header(0, 0));
  ScreenDictionary dictionary;
  dictionary.Open("empty.dic");
  EXPECT_EQ(dictionary.count(), 0u);
  EXPECT_EQ(dictionary.PositionCount(), 1u);
  EXPECT_TRUE(dictionary.inTestOrder());
  dictionary.Close();
  ExpectClean();
}

TEST_F(ScreenDictionaryTest, ZeroFlagSortsByDependentsLessImplied) {
  DictionaryContent content;
  content.screens = {
      {3, {4, 5, 6}, {}, "a"},         // key -3
      {2, {}, {7, 8}, "b"},            // key 2
      {1, {9}, {2, 3, 4, 5, 6}, "c"},  // key 4
  };
  for (int k = 4; k <= 9; ++k) {
    content.screens.push_back({static_cast<std::uint16_t>(k), {}, {}, "x"});
  }
  Install("sorted.dic", content);
  ScreenDictionary dictionary;
  EXPECT_EQ(dictionary.Load("sorted.dic"), 9);
  ASSERT_EQ(dictionary.count(), 9u);
  const std::vector<std::uint32_t> order = NumbersInOrder(dictionary);
  EXPECT_EQ(order[0], 1u);
  EXPECT_EQ(order[1], 2u);
  EXPECT_EQ(order[8], 3u);
  EXPECT_TRUE(dictionary.inTestOrder());
  for (std::uint32_t number : order) {
    ScreenRecord* record = dictionary.RecordNumbered(number);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->number, number);
  }
}

TEST_F(ScreenDictionaryTest, NonzeroFlagKeepsTheFileOrder) {
  DictionaryContent content = ChainDictionary();
  content.orderFlag = -1;
  Install("kept.dic", content);
  ScreenDictionary dictionary;
  dictionary.Open("kept.dic");
  EXPECT_EQ(NumbersInOrder(dictionary), (std::vector<std::uint32_t>{3, 1, 2}));
  EXPECT_EQ(dictionary.RecordNumbered(1), &dictionary.RecordAt(1));
}

TEST_F(ScreenDictionaryTest, WrongOrMissingFilesGiveAnEmptyDictionary) {
  std::string lowercase = EncodeDictionary(ChainDictionary());
  lowercase[0] = 'v';
  std::string wrongByte = EncodeDictionary(ChainDictionary());
  wrongByte[5] = 'c';
  Install("lower.dic", lowercase);
  Install("wrong.dic", wrongByte);
  for (const char* name : {"lower.dic", "wrong.dic", "missing.dic",
                           static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(name == nullptr ? "no name" : name);
    ScreenDictionary dictionary;
    dictionary.Open(name);
    EXPECT_EQ(dictionary.count(), 0u);
    EXPECT_FALSE(dictionary.inTestOrder());
    dictionary.Close();
    ExpectClean();
  }
}

TEST_F(ScreenDictionaryTest, DuplicateNumbersMapToTheLaterPosition) {
  DictionaryContent content;
  content.orderFlag = 1;
  content.screens = {{1, {}, {}, "first"}, {1, {}, {}, "second"}};
  Install("dup.dic", content);
  ScreenDictionary dictionary;
  dictionary.Open("dup.dic");
  EXPECT_EQ(dictionary.RecordNumbered(1), &dictionary.RecordAt(1));
  EXPECT_EQ(dictionary.RecordNumbered(0), nullptr);
  EXPECT_EQ(dictionary.RecordNumbered(2), nullptr);
}

TEST_F(ScreenDictionaryTest, NumbersAboveTheCountWidenThePositionMap) {
  DictionaryContent content;
  content.screens = {{40, {50}, {}, "a"}, {50, {}, {40}, "b"}};
  Install("wide.dic", content);
  ScreenDictionary dictionary;
  dictionary.Open("wide.dic");
  EXPECT_EQ(dictionary.PositionCount(), 51u);
  ASSERT_NE(dictionary.RecordNumbered(40), nullptr);
  EXPECT_EQ(dictionary.RecordNumbered(40)->number, 40u);
  EXPECT_EQ(dictionary.RecordNumbered(45), nullptr);
  EXPECT_EQ(dictionary.RecordNumbered(65535), nullptr);
}

TEST_F(ScreenDictionaryTest, ResultsAreCountedFromOneAndBoundedByTheRecords) {
  Install("chain.dic", ChainDictionary());
  ScreenDictionary dictionary;
  dictionary.Open("chain.dic");
  dictionary.ClearResults();
  EXPECT_TRUE(dictionary.AppendResult(7));
  EXPECT_TRUE(dictionary.AppendResult(8));
  EXPECT_TRUE(dictionary.AppendResult(9));
  EXPECT_FALSE(dictionary.AppendResult(10));
  ASSERT_EQ(dictionary.ResultCount(), 3u);
  std::uint32_t number = 99;
  EXPECT_FALSE(dictionary.ResultAt(0, &number));
  EXPECT_EQ(number, 0u);
  number = 99;
  EXPECT_FALSE(dictionary.ResultAt(4, &number));
  EXPECT_EQ(number, 0u);
  EXPECT_TRUE(dictionary.ResultAt(1, &number));
  EXPECT_EQ(number, 7u);
  EXPECT_TRUE(dictionary.ResultAt(3, &number));
  EXPECT_EQ(number, 9u);
  dictionary.ClearResults();
  EXPECT_EQ(dictionary.ResultCount(), 0u);
  EXPECT_FALSE(dictionary.ResultAt(1, &number));
}

TEST_F(ScreenDictionaryTest, RecordsMissingAtTheEndReadAsEmptyScreens) {
  std::string bytes = EncodeDictionary(ChainDictionary());
  bytes.resize(bytes.size() - 17);  // the third record and one more byte
  Install("short.dic", bytes);
  ScreenDictionary dictionary;
  EXPECT_EQ(dictionary.Load("short.dic"), 2);
  ASSERT_EQ(dictionary.count(), 3u);
  // The second record loses its stored structure; the third reads nothing.
  ScreenRecord* first = dictionary.RecordNumbered(3);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->storedLength, 2u);
  ScreenRecord* second = dictionary.RecordNumbered(1);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->dependent.Count(), 2u);
  EXPECT_EQ(second->storedLength, 0u);
  EXPECT_EQ(second->storedBytes, nullptr);
  ScreenRecord* third = dictionary.RecordNumbered(0);
  ASSERT_NE(third, nullptr);
  EXPECT_TRUE(third->implied.IsEmpty());
  EXPECT_TRUE(third->dependent.IsEmpty());
}

TEST_F(ScreenDictionaryTest, HeaderCutShortGivesAnEmptyDictionary) {
  const std::string bytes = Header(0, 3);
  for (std::size_t length = 0; length < bytes.size(); ++length) {
    SCOPED_TRACE(length);
    Install("cut.dic", bytes.substr(0, length));
    ScreenDictionary dictionary;
    dictionary.Open("cut.dic");
    EXPECT_EQ(dictionary.count(), 0u);
    dictionary.Close();
    ExpectClean();
  }
}

TEST_F(ScreenDictionaryTest, ARealFileBesideTheModuleIsRead) {
  const std::string name = "screen_dictionary_test_real_file.dic";
  const std::string path = DictionaryPath(name);
  ASSERT_TRUE(WriteDictionaryFile(path, ChainDictionary()));
  ScreenDictionary dictionary;
  dictionary.Open(name.c_str());
  std::remove(path.c_str());
  EXPECT_EQ(NumbersInOrder(dictionary), (std::vector<std::uint32_t>{1, 2, 3}));
}

// --- One record, read from a stream --------------------------------------

class ScreenRecordRead : public CoreTest {};

// Number, two list counts and the length: ten bytes, as the fields add up.
TEST_F(ScreenRecordRead, RecordWithoutListsOrStructureConsumesTenBytes) {
  std::string bytes;
  AppendU16(&bytes, 5);
  AppendU16(&bytes, 0);
  AppendU16(&bytes, 0);
  AppendU32(&bytes, 0);
  CountingStream stream(bytes);
  ScreenRecord record;
  EXPECT_EQ(record.Read(&stream), 10u);
  EXPECT_EQ(record.number, 5u);
  EXPECT_TRUE(record.implied.IsEmpty());
  EXPECT_TRUE(record.dependent.IsEmpty());
  EXPECT_EQ(record.storedLength, 0u);
  EXPECT_EQ(stream.releases, 0);
}

TEST_F(ScreenRecordRead, HugeListCountOnAShortStreamStopsAtTheFirstFailedRead) {
  std::string bytes;
  AppendU16(&bytes, 1);
  AppendU16(&bytes, 65535);
  AppendU16(&bytes, 10);
  AppendU16(&bytes, 200);
  CountingStream stream(bytes);
  ScreenRecord record;
  EXPECT_EQ(record.Read(&stream), 8u);
  EXPECT_EQ(record.implied.Count(), 2u);
  EXPECT_TRUE(record.implied.Contains(200));
  EXPECT_TRUE(record.dependent.IsEmpty());
  EXPECT_LT(stream.reads, 10u);
}

struct StoredLengthCase {
  const char* name;
  std::uint32_t length;   // the length field
  std::size_t delivered;  // bytes that follow it
  bool kept;
};

class StoredLength : public CoreTest,
                     public ::testing::WithParamInterface<StoredLengthCase> {};

TEST_P(StoredLength, IsKeptOnlyWhenTheStreamDeliversIt) {
  const StoredLengthCase& c = GetParam();
  std::string bytes;
  AppendU16(&bytes, 9);
  AppendU16(&bytes, 0);
  AppendU16(&bytes, 0);
  AppendU32(&bytes, c.length);
  std::string structure(c.delivered, 'C');
  structure.back() = 'N';
  bytes += structure;
  CountingStream stream(bytes);
  ScreenRecord record;
  const std::uint32_t consumed = record.Read(&stream);
  // Nothing is asked of the stream, and so nothing allocated, far beyond
  // what it could deliver.
  EXPECT_LE(stream.largestRawRead, 64u * 1024u);
  if (c.kept) {
    EXPECT_EQ(consumed, 10u + c.length);
    ASSERT_EQ(record.storedLength, c.length);
    ASSERT_NE(record.storedBytes, nullptr);
    EXPECT_EQ(
        std::string(reinterpret_cast<const char*>(record.storedBytes.get()),
                    c.length),
        structure.substr(0, c.length));
  } else {
    EXPECT_EQ(consumed, 10u);
    EXPECT_EQ(record.storedLength, 0u);
    EXPECT_EQ(record.storedBytes, nullptr);
  }
}

INSTANTIATE_TEST_SUITE_P(
    ScreenRecordRead, StoredLength,
    ::testing::Values(
        StoredLengthCase{"Small", 4, 4, true},
        StoredLengthCase{"SeveralPieces", 200000, 200000, true},
        StoredLengthCase{"OneByteShortInTheLastPiece", 200000, 199999, false},
        StoredLengthCase{"LargestLengthOnAShortFile", 0xFFFFFFFFu, 3, false},
        StoredLengthCase{"LongerThanTheFile", 70000, 1000, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zolv::testing

// The two exports end to end on the fake core: options, dictionary,
// perception and both encodings, compared byte for byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "core_test.h"
#include "dictionary_format.h"
#include "module_directory.h"
#include "zolv/zolvexformat.h"

namespace zolv {
namespace {

using testing::CoreTest;
using testing::FakeHostObject;
using testing::FakeOutputStream;

constexpr char kScreenFile[] = "screens.vob";
constexpr char kMolecule[] = "chlorobenzene";

std::string PatternKey(std::uint16_t number) {
  return "s" + std::to_string(number);
}

// A dictionary of screens 1..count without implications, installed beside
// the module under kScreenFile.
void InstallDictionary(std::uint16_t count) {
  DictionaryContent content;
  for (std::uint16_t n = 1; n <= count; ++n) {
    DictionaryScreen screen;
    screen.number = n;
    screen.stored = PatternKey(n);
    content.screens.push_back(screen);
  }
  const TextBuffer directory = ModuleDirectory();
  ASSERT_TRUE(directory.HasText());
  testing::FakeCore::Get().AddFile(std::string(directory.text()) + kScreenFile,
                                   EncodeDictionary(content));
}

class ZolvWriteTest : public CoreTest {
 protected:
  // The molecule holds exactly these screens of a dictionary of count screens
  // and has the formula C6H5Cl.
  void Prepare(std::initializer_list<std::uint16_t> present,
               std::uint16_t count = 8) {
    InstallDictionary(count);
    for (std::uint16_t n : present) core().SetPresent(PatternKey(n), kMolecule);
    core().SetFormula(kMolecule, "C6H5Cl");
  }

  // Writes the molecule with the options; returns the result code.
  std::int32_t Write(const std::string& options, std::string* text) {
    FakeHostObject host(kMolecule);
    FakeOutputStream stream;
    const std::int32_t result = ZolvWrite(
        reinterpret_cast<ZolvHostObject*>(static_cast<HostObject*>(&host)),
        reinterpret_cast<ZolvStream*>(static_cast<Stream*>(&stream)),
        options.c_str(), 0);
    *text = stream.text();
    return result;
  }

  std::string WriteOk(const std::string& options) {
    std::string text;
    EXPECT_EQ(Write(options, &text), ZOLV_WRITE_DONE) << options;
    return text;
  }
};

std::string Zeros(std::size_t n) { return std::string(n, '0'); }

std::string WithScreenFile(const std::string& options) {
  return options + " screenfile=\"" + kScreenFile + "\"";
}

TEST_F(ZolvWriteTest, WorkedCaseInEveryForm) {
  struct Case {
    const char* options;
    std::string expected;
  };
  const Case cases[] = {
      {"format=SBI", std::string("\x07\x04\x03\x4D\x76", 5)},
      {"format=SBI object=query", "\x2A\x3F\x2A\x04\x03\x2A\x4D\x76\x2A"},
      {"format=SBI object=query database=ODBC",
       "\x25\x5F\x25\x04\x03\x25\x4D\x76\x25"},
      {"format=SBI ascii=true", "347Cl"},
      {"format=SBI ascii=true object=query", "*34*7*Cl*"},
      {"format=SBI ascii=true object=query database=ODBC", "%34%7%Cl%"},
      // Targets always carry the Access escapes.
      {"format=SBI database=ODBC", std::string("\x07\x04\x03\x4D\x76", 5)},
      {"", "0011001" + Zeros(121)},
      {"length=7", "0011001"},
      {"length=6", "101100"},
      {"length=5", "01110"},
      // "ascii" alone changes nothing in the bit string.
      {"ascii=true", "0011001" + Zeros(121)},
      {"object=query database=ODBC", "0011001" + Zeros(121)},
  };
  for (const Case& c : cases) {
    core().Reset();
    Prepare({3, 4, 7});
    EXPECT_EQ(WriteOk(WithScreenFile(c.options)), c.expected) << c.options;
  }
}

TEST_F(ZolvWriteTest, BudgetSharedByScreensAndFormula) {
  struct Case {
    const char* options;
    std::string expected;
  };
  const Case cases[] = {
      {"object=query length=1", "*"},
      {"object=query length=2", "**"},
      {"object=query length=3", "*?*"},
      {"object=query length=4", "*?**"},
      {"object=query length=5", "\x2A\x3F\x2A\x04\x2A"},
      {"object=query length=6", "\x2A\x3F\x2A\x04\x03\x2A"},
      {"object=query length=7", "\x2A\x3F\x2A\x04\x03\x2A\x2A"},
      {"object=query length=8", "\x2A\x3F\x2A\x04\x03\x2A\x4D\x2A"},
      {"length=4", "\x07\x04\x03\x2A"},
      {"length=5", "\x07\x04\x03\x4D\x2A"},
      {"length=6", "\x07\x04\x03\x4D\x76"},
  };
  for (const Case& c : cases) {
    core().Reset();
    Prepare({3, 4, 7});
    EXPECT_EQ(WriteOk(WithScreenFile(std::string("format=SBI ") + c.options)),
              c.expected)
        << c.options;
  }
}

TEST_F(ZolvWriteTest, FoldsOntoLengthOnlyWhenAScreenLiesBeyondIt) {
  Prepare({3, 40}, 40);
  std::string folded = Zeros(16);
  folded[3 - 1] = '1';
  folded[8 - 1] = '1';  // 40 lands on ((40 - 1) mod 16) + 1
  EXPECT_EQ(WriteOk(WithScreenFile("length=16")), folded);

  core().Reset();
  Prepare({3, 16}, 40);
  std::string unfolded = Zeros(16);
  unfolded[3 - 1] = '1';
  unfolded[16 - 1] = '1';
  EXPECT_EQ(WriteOk(WithScreenFile("length=16")), unfolded);
}

TEST_F(ZolvWriteTest, RefusedLengthsWriteNothing) {
  for (const char* options :
       {"length=0", "length=abc", "length=abc length=64", "length='-5'",
        "format=SBI length=0", "format=SBI length=\"-1\""}) {
    core().Reset();
    Prepare({3, 4, 7});
    std::string text;
    EXPECT_EQ(Write(WithScreenFile(options), &text), ZOLV_WRITE_BAD_LENGTH)
        << options;
    EXPECT_EQ(text, "") << options;
    // Nothing is read either: no matcher ever ran.
    EXPECT_TRUE(core().MatchCalls().empty()) << options;
  }
}

TEST_F(ZolvWriteTest, MissingDictionaryGivesEmptyScreens) {
  Prepare({3, 4, 7});
  EXPECT_EQ(WriteOk("screenfile=\"absent.vob\""), Zeros(128));
  EXPECT_EQ(WriteOk("format=SBI ascii=true object=query"
                    " screenfile=\"absent.vob\""),
            "*Cl*");
  // Without "screenfile" the path is the directory itself.
  EXPECT_EQ(WriteOk(""), Zeros(128));
  EXPECT_EQ(WriteOk("format=SBI"), "Mv");
}

TEST_F(ZolvWriteTest, WithoutObjectOrStreamNothingIsWritten) {
  Prepare({3});
  FakeHostObject host(kMolecule);
  FakeOutputStream stream;
  auto* object =
      reinterpret_cast<ZolvHostObject*>(static_cast<HostObject*>(&host));
  auto* out = reinterpret_cast<ZolvStream*>(static_cast<Stream*>(&stream));
  EXPECT_EQ(ZolvWrite(nullptr, out, "", 0), ZOLV_WRITE_FAILED);
  EXPECT_EQ(ZolvWrite(object, nullptr, "", 0), ZOLV_WRITE_FAILED);
  EXPECT_EQ(stream.text(), "");
}

TEST_F(ZolvWriteTest, PreWriteAsksForAMolecule) {
  EXPECT_EQ(ZolvPreWrite(nullptr, 0, 0), ZOLV_PREWRITE_ACCEPTED);
  struct Case {
    Status answer;
    std::int32_t expected;
  };
  for (const Case& c :
       {Case{1, ZOLV_PREWRITE_ACCEPTED}, Case{3, ZOLV_PREWRITE_ACCEPTED},
        Case{0, ZOLV_PREWRITE_REFUSED}, Case{2, ZOLV_PREWRITE_REFUSED}}) {
    FakeHostObject host(kMolecule, c.answer);
    EXPECT_EQ(ZolvPreWrite(reinterpret_cast<ZolvHostObject*>(
                               static_cast<HostObject*>(&host)),
                           7, 9),
              c.expected);
    EXPECT_EQ(host.askedTypes(), std::vector<std::int32_t>{112});
  }
}

// Each ZolvNewMemory call of a write refused in turn: the write still ends
// with its result and releases everything (the fixture checks).
TEST_F(ZolvWriteTest, RefusedMemoryAtEveryCallLeaksNothing) {
  const std::string options =
      WithScreenFile("format=SBI object=query length=200");
  Prepare({3, 4, 7, 150}, 150);
  std::string text;
  ASSERT_EQ(Write(options, &text), ZOLV_WRITE_DONE);
  const std::uint64_t calls = core().MemoryCalls();
  ASSERT_GT(calls, 0u);
  for (std::uint64_t n = 1; n <= calls; ++n) {
    core().Reset();
    Prepare({3, 4, 7, 150}, 150);
    core().RefuseMemoryCall(n);
    EXPECT_EQ(Write(options, &text), ZOLV_WRITE_DONE) << "refused call " << n;
    EXPECT_TRUE(core().Problems().empty()) << "refused call " << n;
  }
}

}  // namespace
}  // namespace zolv

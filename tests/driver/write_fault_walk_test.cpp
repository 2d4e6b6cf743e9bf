// Whole writes with one fault at a time: each ZolvNewMemory call refused in
// turn, and each creation of every object kind failed in turn, in every
// encoding and in query mode with atom sets large enough to need the core's
// memory. Every write must still return 1, write no more than it may, show
// no screen the molecule lacks, keep the parts the fault does not touch, and
// release everything exactly once (the fixture checks the last).
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "core_test.h"
#include "dictionary_format.h"
#include "module_directory.h"
#include "zolv/zolvexformat.h"

namespace zolv {
namespace {

using testing::AtomProperties;
using testing::CoreTest;
using testing::FakeHostObject;
using testing::FakeOutputStream;
using testing::ObjectKind;

constexpr char kScreenFile[] = "walk.vob";
constexpr char kMolecule[] = "chlorobenzene";

// The screens the molecule holds. 150 implies 3, so that a query drops 3,
// and lies beyond the inline words, so that every set of screens grows.
const std::set<std::uint32_t> kPresent = {3, 4, 7, 150};
// Atoms of screen 150's structure: more than the inline words hold, so that
// the per-atom check's sets grow too.
constexpr std::uint32_t kPatternAtoms = 140;

std::string Key(std::uint16_t number) { return "s" + std::to_string(number); }

struct WalkCase {
  const char* name;
  const char* options;
  std::string clean;     // the text of the write without a fault
  const char* fragment;  // the formula fragment that ends it
  std::uint32_t length;  // the "length" option
  bool bitString;
};

std::string Bits(std::uint32_t length, std::set<std::uint32_t> ones) {
  std::string bits(length, '0');
  for (std::uint32_t p : ones) bits[p - 1] = '1';
  return bits;
}

const WalkCase kCases[] = {
    {"RawTarget", "format=SBI length=200", "\x96\x07\x04\x03Mv", "Mv", 200,
     false},
    {"RawQuery", "format=SBI object=query length=200", "*\x96*?*\x04*Mv*",
     "*Mv*", 200, false},
    {"AlphabetTarget", "format=SBI ascii=true length=200", "347MCl", "Cl", 200,
     false},
    {"AlphabetOdbcQuery",
     "format=SBI ascii=true object=query database=ODBC length=200",
     "%4%7%M%Cl%", "%Cl%", 200, false},
    {"BitStringTarget", "length=200", Bits(200, {3, 4, 7, 150}), "", 200, true},
    // 150 folds onto 6.
    {"FoldedBitStringQuery", "object=query length=16", Bits(16, {4, 6, 7}), "",
     16, true},
};

class WriteFaultWalk : public CoreTest,
                       public ::testing::WithParamInterface<WalkCase> {
 protected:
  // Screens 1..8 and 150 beside the module; the molecule holds kPresent,
  // every match passes the per-atom check, and its formula is C6H5Cl.
  static void Prepare() {
    DictionaryContent content;
    for (std::uint16_t n = 1; n <= 8; ++n) {
      DictionaryScreen screen{n, {}, {}, Key(n)};
      if (n == 3) screen.dependent = {150};
      content.screens.push_back(screen);
    }
    content.screens.push_back({150, {3}, {}, Key(150)});
    const TextBuffer directory = ModuleDirectory();
    ASSERT_TRUE(directory.HasText());
    core().AddFile(std::string(directory.text()) + kScreenFile,
                   EncodeDictionary(content));

    for (std::uint32_t n : kPresent) {
      if (n != 150)
        core().SetPresent(Key(static_cast<std::uint16_t>(n)), kMolecule);
    }
    core().SetAtoms(Key(150), std::vector<AtomProperties>(kPatternAtoms));
    core().SetMatches(Key(150), kMolecule, {{{kPatternAtoms - 1, 0}, {5, 1}}});
    core().SetAtoms(kMolecule, {{1, 1, 0, 0}, {0, 2, 1, 0}});
    core().SetFormula(kMolecule, "C6H5Cl");
  }

  static std::int32_t Write(const char* options, std::string* text) {
    FakeHostObject host(kMolecule);
    FakeOutputStream stream;
    const std::int32_t result = ZolvWrite(
        reinterpret_cast<ZolvHostObject*>(static_cast<HostObject*>(&host)),
        reinterpret_cast<ZolvStream*>(static_cast<Stream*>(&stream)),
        (std::string(options) + " screenfile=\"" + kScreenFile + "\"").c_str(),
        0);
    *text = stream.text();
    return result;
  }

  // What any write under a fault must still be.
  static void ExpectSound(const WalkCase& c, const std::string& text,
                          bool fragmentKept) {
    if (c.bitString) {
      ASSERT_EQ(text.size(), c.length);
      // A held screen shows at its number, or at its fold when a screen
      // beyond the length is found.
      std::set<std::uint32_t> shown;
      for (std::uint32_t m : kPresent) {
        if (m <= c.length) shown.insert(m);
        shown.insert((m - 1) % c.length + 1);
      }
      for (std::uint32_t p = 1; p <= c.length; ++p) {
        if (text[p - 1] == '0') continue;
        EXPECT_EQ(text[p - 1], '1');
        EXPECT_EQ(shown.count(p), 1u) << "no held screen shows at " << p;
      }
      return;
    }
    EXPECT_LE(text.size(), c.length);
    // Only characters of the clean text, and screen 3, which a query shows
    // when the screen implying it was not found.
    for (char character : text) {
      EXPECT_TRUE(c.clean.find(character) != std::string::npos ||
                  character == '\x03' || character == '3')
          << "character " << static_cast<int>(character);
    }
    if (fragmentKept) {
      const std::string fragment = c.fragment;
      ASSERT_GE(text.size(), fragment.size());
      EXPECT_EQ(text.substr(text.size() - fragment.size()), fragment);
    }
  }
};

TEST_P(WriteFaultWalk, CleanWriteIsTheExpectedText) {
  const WalkCase& c = GetParam();
  Prepare();
  std::string text;
  ASSERT_EQ(Write(c.options, &text), ZOLV_WRITE_DONE);
  EXPECT_EQ(text, c.clean);
}

TEST_P(WriteFaultWalk, EachRefusedMemoryCallLeavesASoundWrite) {
  const WalkCase& c = GetParam();
  Prepare();
  std::string text;
  ASSERT_EQ(Write(c.options, &text), ZOLV_WRITE_DONE);
  const std::uint64_t calls = core().MemoryCalls();
  // The sets of 150 and of the pattern's atoms need the core's memory.
  ASSERT_GE(calls, 2u);
  for (std::uint64_t n = 1; n <= calls; ++n) {
    SCOPED_TRACE(::testing::Message() << "refused call " << n);
    core().Reset();
    Prepare();
    core().RefuseMemoryCall(n);
    ASSERT_EQ(Write(c.options, &text), ZOLV_WRITE_DONE);
    EXPECT_GE(core().MemoryCalls(), n) << "the refusal never came";
    // The formula fragment takes no core memory.
    ExpectSound(c, text, true);
    EXPECT_TRUE(core().Problems().empty());
  }
}

TEST_P(WriteFaultWalk, EachFailedCreationOfEveryKindLeavesASoundWrite) {
  const WalkCase& c = GetParam();
  const ObjectKind kinds[] = {ObjectKind::kString,   ObjectKind::kMatcher,
                              ObjectKind::kMatchMap, ObjectKind::kChemistry,
                              ObjectKind::kIndex,    ObjectKind::kStream};
  for (ObjectKind kind : kinds) {
    core().Reset();
    Prepare();
    std::string text;
    ASSERT_EQ(Write(c.options, &text), ZOLV_WRITE_DONE);
    const std::uint64_t created = core().Created(kind);
    for (std::uint64_t n = 1; n <= created + 1; ++n) {
      SCOPED_TRACE(::testing::Message()
                   << "failed creation " << n << " of kind "
                   << static_cast<int>(kind));
      core().Reset();
      Prepare();
      core().FailCreation(kind, n);
      ASSERT_EQ(Write(c.options, &text), ZOLV_WRITE_DONE);
      EXPECT_TRUE(core().Problems().empty());
      if (n > created) {
        // No creation failed: the write is the clean one.
        EXPECT_EQ(text, c.clean);
        continue;
      }
      // Without a string there is no formula; the rest stays sound.
      ExpectSound(c, text, kind != ObjectKind::kString);
      if (kind == ObjectKind::kStream) {
        // No dictionary: no screens at all.
        if (c.bitString) {
          EXPECT_EQ(text, std::string(c.length, '0'));
        } else {
          EXPECT_EQ(text, c.fragment);
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Encodings, WriteFaultWalk, ::testing::ValuesIn(kCases),
                         [](const auto& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace zolv

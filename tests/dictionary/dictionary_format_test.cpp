#include "dictionary_format.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace zolv {
namespace {

// Screens 1 <- 2 <- 3 (3 implies 2 and 1, 2 implies 1), in test order.
DictionaryContent Chain() {
  DictionaryContent content;
  content.orderFlag = 1;
  content.screens = {
      {1, {}, {2, 3}, "[#6]"},
      {2, {1}, {3}, "cc"},
      {3, {2, 1}, {}, "c1ccccc1"},
  };
  return content;
}

std::string Joined(const std::vector<std::string>& messages) {
  std::string text;
  for (const std::string& message : messages) text += message + "\n";
  return text;
}

TEST(DictionaryReader, ReadsBackWhatTheWriterWrote) {
  const DictionaryContent written = Chain();
  const DictionaryFile file = DecodeDictionary(EncodeDictionary(written));
  ASSERT_TRUE(file.headerRead);
  EXPECT_TRUE(file.problems.empty()) << Joined(file.problems);
  EXPECT_EQ(file.declaredCount, 3u);
  EXPECT_EQ(file.trailingBytes, 0u);
  EXPECT_EQ(file.content.orderFlag, 1);
  ASSERT_EQ(file.content.screens.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(file.content.screens[i].number, written.screens[i].number);
    EXPECT_EQ(file.content.screens[i].implied, written.screens[i].implied);
    EXPECT_EQ(file.content.screens[i].dependent, written.screens[i].dependent);
    EXPECT_EQ(file.content.screens[i].stored, written.screens[i].stored);
  }
  EXPECT_TRUE(ValidateDictionary(file.content).empty())
      << Joined(ValidateDictionary(file.content));
  EXPECT_TRUE(IsInTestOrder(file.content));
}

TEST(DictionaryReader, CountsBytesAfterTheLastRecord) {
  const DictionaryFile file =
      DecodeDictionary(EncodeDictionary(Chain()) + "xyz");
  EXPECT_TRUE(file.problems.empty());
  EXPECT_EQ(file.trailingBytes, 3u);
}

struct DamageCase {
  const char* what;
  std::size_t offset;  // byte to overwrite, or kKeep
  char byte;
  std::size_t length;   // length to cut the file to, or kKeep
  const char* message;  // part of the problem
};

constexpr std::size_t kKeep = std::string::npos;

TEST(DictionaryReader, StopsAtBadMagicAndCutsWithoutReadingPastTheEnd) {
  const std::string good = EncodeDictionary(Chain());
  // Record 1: number at 10, I = 0 at 12, D = 2 at 14, its entries, L at 20.
  const DamageCase cases[] = {
      {"empty file", kKeep, 0, 0, "header alone takes 10"},
      {"lowercase magic", 0, 'v', kKeep, "does not begin with \"VetOrb\""},
      {"cut inside the header", kKeep, 0, 8, "header alone"},
      {"cut inside a list", kKeep, 0, 16,
       "record 1 of 3: the file ends inside its dependent list"},
      {"count larger than the records", 8, 4, kKeep,
       "record 4 of 4: the file ends inside it"},
      {"stored length past the end", 20, 100, kKeep,
       "record 1 of 3: its stored structure of 100 bytes runs past"},
      {"huge list count", 15, '\x7f', kKeep,
       "record 1 of 3: the file ends inside its dependent list"},
  };
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = good;
    if (c.offset != kKeep) bytes.at(c.offset) = c.byte;
    if (c.length != kKeep) bytes.resize(c.length);
    const DictionaryFile file = DecodeDictionary(bytes);
    ASSERT_EQ(file.problems.size(), 1u);
    EXPECT_NE(file.problems[0].find(c.message), std::string::npos)
        << file.problems[0];
  }
}

struct FaultCase {
  const char* what;
  std::function<void(DictionaryContent*)> damage;
  const char* message;  // part of one of the problems
};

TEST(DictionaryValidation, NamesTheRecordAndTheFault) {
  const FaultCase cases[] = {
      {"number above the count",
       [](DictionaryContent* c) { c->screens[2].number = 4; },
       "record 3 (screen 4): screen number exceeds the record count 3"},
      {"number zero", [](DictionaryContent* c) { c->screens[0].number = 0; },
       "record 1 (screen 0): screen number 0 is never written"},
      {"repeated number",
       [](DictionaryContent* c) { c->screens[2].number = 2; },
       "record 3 (screen 2): screen number already used by record 2"},
      {"implied screen missing",
       [](DictionaryContent* c) { c->screens[1].implied.push_back(40); },
       "record 2 (screen 2): implied screen 40 is not in the dictionary"},
      {"dependent screen missing",
       [](DictionaryContent* c) { c->screens[0].dependent.push_back(9); },
       "record 1 (screen 1): dependent screen 9 is not in the dictionary"},
      {"names itself",
       [](DictionaryContent* c) { c->screens[1].dependent.push_back(2); },
       "record 2 (screen 2): names itself in its dependent list"},
      {"implication without its dependent",
       [](DictionaryContent* c) { c->screens[0].dependent = {2}; },
       "record 3 (screen 3): implies screen 1, but screen 1 does not list it "
       "among its dependents"},
      {"dependent without its implication",
       [](DictionaryContent* c) { c->screens[2].implied = {2}; },
       "record 1 (screen 1): lists dependent screen 3, but screen 3 does not "
       "list it among its implied screens"},
      {"implied list not closed",
       [](DictionaryContent* c) {
         c->screens[2].implied = {2};
         c->screens[0].dependent = {2};
       },
       "record 3 (screen 3): implies screen 2, which implies screen 1, but 1 "
       "is not in its implied list"},
      {"cycle",
       [](DictionaryContent* c) {
         c->screens[0].implied = {2};
         c->screens[1].dependent = {1, 3};
       },
       "record 1 (screen 1): implies screen 2, which implies it back"},
      {"order flag over a wrong order",
       [](DictionaryContent* c) { std::swap(c->screens[0], c->screens[1]); },
       "record 1 (screen 2): implies screen 1, which comes later (record 2)"},
      {"no stored structure",
       [](DictionaryContent* c) { c->screens[1].stored.clear(); },
       "record 2 (screen 2): no stored structure"},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.what);
    DictionaryContent content = Chain();
    c.damage(&content);
    const std::string problems = Joined(ValidateDictionary(content));
    EXPECT_NE(problems.find(c.message), std::string::npos) << problems;
  }
}

TEST(DictionaryValidation, AcceptsAnyOrderWithoutTheOrderFlag) {
  DictionaryContent content = Chain();
  content.orderFlag = 0;
  std::swap(content.screens[0], content.screens[2]);
  EXPECT_TRUE(ValidateDictionary(content).empty())
      << Joined(ValidateDictionary(content));
  EXPECT_FALSE(IsInTestOrder(content));
}

TEST(DictionaryValidation, RepeatedListEntriesAreOneEntry) {
  DictionaryContent content = Chain();
  content.screens[2].implied = {1, 2, 1, 2};
  EXPECT_TRUE(ValidateDictionary(content).empty())
      << Joined(ValidateDictionary(content));
}

}  // namespace
}  // namespace zolv

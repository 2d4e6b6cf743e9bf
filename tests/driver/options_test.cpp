#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "core_test.h"
#include "option_parser.h"
#include "text_buffer.h"
#include "write_options.h"

namespace zolv {
namespace {

// Runs on the fake core, so that parsing never touches the core library.
class ParseOptionsTest : public testing::CoreTest {};
class NextOptionTest : public testing::CoreTest {};

constexpr std::uint32_t kNoFile = 0;  // marks "screenFile without text"

struct ParseCase {
  const char* name;
  const char* options;
  ScreenMode screenMode;
  bool sbi;
  WildcardDialect dialect;
  bool ascii;
  std::uint32_t length;
  const char* screenFile;  // nullptr: no text
};

constexpr ScreenMode kT = ScreenMode::kTarget;
constexpr ScreenMode kQ = ScreenMode::kQuery;
constexpr WildcardDialect kA = WildcardDialect::kAccess;
constexpr WildcardDialect kO = WildcardDialect::kOdbc;

// Every row starts from the caller's defaults: target, length 128, no file.
const ParseCase kParseCases[] = {
    {"NoText", nullptr, kT, false, kA, false, 128, nullptr},
    {"EmptyText", "", kT, false, kA, false, 128, nullptr},
    {"OnlySeparators", " ;,=\t'\"", kT, false, kA, false, 128, nullptr},
    {"CaseAndBlanksDoNotMatter", "FORMAT=sbi; ascii = true", kT, true, kA, true,
     128, nullptr},
    {"MixedCaseKeysAndValues", "LENGTH=12;Object=QUERY,DataBase=odbc", kQ,
     false, kO, false, 12, nullptr},
    {"FirstAcceptedObjectWins", "object=query object=target", kQ, false, kA,
     false, 128, nullptr},
    {"UnacceptedObjectDoesNotTakeIt", "object=thing object=query", kQ, false,
     kA, false, 128, nullptr},
    {"FirstDatabaseWins", "database=ODBC database=Access", kT, false, kO, false,
     128, nullptr},
    {"UnacceptedDatabaseDoesNotTakeIt", "database=Oracle database=ODBC", kT,
     false, kO, false, 128, nullptr},
    {"LastAsciiWins", "ascii=true ascii=false", kT, false, kA, false, 128,
     nullptr},
    {"LastAsciiWinsBackToTrue", "ascii=false,ascii=TRUE", kT, false, kA, true,
     128, nullptr},
    {"UnacceptedAsciiIsIgnored", "ascii=true ascii=yes", kT, false, kA, true,
     128, nullptr},
    {"FormatOtherThanSbiIsIgnored", "format=XML", kT, false, kA, false, 128,
     nullptr},
    {"FormatCannotBeUnset", "format=SBI format=text", kT, true, kA, false, 128,
     nullptr},
    {"KeysMatchOverTheirWholeLength", "asciix=true asci=true formats=SBI", kT,
     false, kA, false, 128, nullptr},
    {"KeysWithoutEqualsHaveNoValue", "format SBI", kT, false, kA, false, 128,
     nullptr},
    {"FirstLengthWinsEvenIfNoNumber", "length=abc length=64", kT, false, kA,
     false, 0, nullptr},
    {"LengthZero", "length=0", kT, false, kA, false, 0, nullptr},
    {"UnquotedMinusGivesNoValue", "length=-64", kT, false, kA, false, 128,
     nullptr},
    {"QuotedMinusIsNegative", "length='-64'", kT, false, kA, false,
     static_cast<std::uint32_t>(-64), nullptr},
    {"QuotedPlus", "length=\"+7\"", kT, false, kA, false, 7, nullptr},
    {"QuotedLeadingWhiteSpace", "length=' \t\n\v\f\r64'", kT, false, kA, false,
     64, nullptr},
    {"DigitsThenLetters", "length=64abc", kT, false, kA, false, 64, nullptr},
    {"LeadingZerosAndTrailingText", "length='-0012x'", kT, false, kA, false,
     static_cast<std::uint32_t>(-12), nullptr},
    {"OnlyASign", "length='-'", kT, false, kA, false, 0, nullptr},
    {"BlankBetweenSignAndDigits", "length='- 5'", kT, false, kA, false, 0,
     nullptr},
    {"LengthWrapsAt32Bits", "length=4294967297", kT, false, kA, false, 1,
     nullptr},
    {"LengthLowestNegative", "length='-2147483648'", kT, false, kA, false,
     0x80000000u, nullptr},
    {"HighByteIsNotWhiteSpace", "length='\xA0 64'", kT, false, kA, false, 0,
     nullptr},
    {"HighByteEndsAKey", "length\xA0=5", kT, false, kA, false, 128, nullptr},
    {"HighByteEndsAValue", "object=query\xE9object=target", kQ, false, kA,
     false, 128, nullptr},
    {"HighByteSplitsAKey", "l\xE9ngth=5", kT, false, kA, false, 128, nullptr},
    {"UnquotedFileNameStopsAtTheDot", "screenfile=screens.bin", kT, false, kA,
     false, 128, "screens"},
    {"ApostrophesKeepTheWholeName", "screenfile='my screens.bin'", kT, false,
     kA, false, 128, "my screens.bin"},
    {"DoubleQuotesKeepTheWholeName", "screenfile = \"a'b = c.bin\" ", kT, false,
     kA, false, 128, "a'b = c.bin"},
    {"EmptyQuotesDoNotTakeTheKey", "screenfile='' screenfile=\"x.y\"", kT,
     false, kA, false, 128, "x.y"},
    {"FirstScreenFileWins", "screenfile=first;screenfile=second", kT, false, kA,
     false, 128, "first"},
    {"UnclosedQuoteTakesTheRest", "object=query screenfile='open file=x", kQ,
     false, kA, false, 128, "open file=x"},
    {"UnclosedQuoteSwallowsLaterPairs", "screenfile=\"abc format=SBI", kT,
     false, kA, false, 128, "abc format=SBI"},
    {"EqualsBeforeAnyKey", "=value length=5", kT, false, kA, false, 5, nullptr},
    {"ValueRightAfterClosingQuote", "screenfile='a.b'length=9", kT, false, kA,
     false, 9, "a.b"},
    {"AllKeys",
     "format=SBI,object=query,database=ODBC,ascii=true,length=64,"
     "screenfile='s.bin'",
     kQ, true, kO, true, 64, "s.bin"},
};

class ParseOptionsTable : public testing::CoreTest,
                          public ::testing::WithParamInterface<ParseCase> {};

TEST_P(ParseOptionsTable, GivesTheExpectedOptions) {
  const ParseCase& c = GetParam();
  WriteOptions options;
  ParseOptions(c.options, &options);
  EXPECT_EQ(options.screenMode, c.screenMode);
  EXPECT_EQ(options.sbi, c.sbi);
  EXPECT_EQ(options.dialect, c.dialect);
  EXPECT_EQ(options.ascii, c.ascii);
  EXPECT_EQ(options.length, c.length);
  if (c.screenFile == nullptr) {
    EXPECT_FALSE(options.screenFile.HasText());
    EXPECT_EQ(options.screenFile.capacity(), kNoFile);
  } else {
    ASSERT_TRUE(options.screenFile.HasText());
    EXPECT_STREQ(options.screenFile.text(), c.screenFile);
    EXPECT_EQ(options.screenFile.capacity(),
              std::string(c.screenFile).size() + 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Options, ParseOptionsTable,
                         ::testing::ValuesIn(kParseCases),
                         [](const ::testing::TestParamInfo<ParseCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(ParseOptionsTest, ResetsOnlyTheFlagsAndTheDialect) {
  for (const char* options : {static_cast<const char*>(nullptr), "x=1"}) {
    ScreenMode screenMode = ScreenMode::kQuery;
    bool sbi = true;
    WildcardDialect dialect = WildcardDialect::kOdbc;
    bool ascii = true;
    std::uint32_t length = 7;
    TextBuffer screenFile("keep.bin");
    ParseOptions(options, &screenMode, &sbi, &dialect, &ascii, &length,
                 &screenFile);
    EXPECT_EQ(screenMode, ScreenMode::kQuery);
    EXPECT_FALSE(sbi);
    EXPECT_EQ(dialect, WildcardDialect::kAccess);
    EXPECT_FALSE(ascii);
    EXPECT_EQ(length, 7u);
    EXPECT_STREQ(screenFile.text(), "keep.bin");
  }
}

TEST_F(ParseOptionsTest, ScreenFileReplacesTheCallersText) {
  WriteOptions options;
  options.screenFile.AssignPrefix("old-name.bin", 100);
  ParseOptions("screenfile=new", &options);
  EXPECT_STREQ(options.screenFile.text(), "new");
  EXPECT_EQ(options.screenFile.capacity(), 4u);
}

// One NextOption step: what it reads and where it leaves the cursor.
struct StepCase {
  const char* text;
  std::size_t start;  // offset of the cursor before the call
  bool result;
  const char* key;    // nullptr: no text
  const char* value;  // nullptr: no text
  std::size_t end;    // offset of the cursor after the call
};

const StepCase kStepCases[] = {
    {"a=1 b", 0, true, "a", "1", 4},
    {"a=1 b", 4, true, "b", nullptr, 5},
    {"  ;, ", 0, false, nullptr, nullptr, 5},
    {"", 0, false, nullptr, nullptr, 0},
    {"k = 'x y' ,z", 0, true, "k", "x y", 10},
    {"k=''", 0, true, "k", nullptr, 4},
    {"k=\"\" next", 0, true, "k", nullptr, 5},
    {"k=\"it's\"", 0, true, "k", "it's", 8},
    {"k='abc", 0, true, "k", "abc", 6},
    {"k=", 0, true, "k", nullptr, 2},
    {"k=;v", 0, true, "k", nullptr, 2},
    {"k=-5", 0, true, "k", nullptr, 2},
    {"k=5\"x", 0, true, "k", "5", 4},
    {"key   value", 0, true, "key", nullptr, 6},
    {"k\t=\t\"v\"\t\tz", 0, true, "k", "v", 9},
    {"\xC3\xA9t\xE9=1", 0, true, "t", nullptr, 3},
};

TEST_F(NextOptionTest, ReadsOnePairAndMovesTheCursor) {
  for (const StepCase& c : kStepCases) {
    SCOPED_TRACE(std::string("text \"") + c.text + "\" from " +
                 std::to_string(c.start));
    const char* cursor = c.text + c.start;
    // Buffers with text beforehand: the call must reset them.
    TextBuffer key("stale");
    TextBuffer value("stale");
    EXPECT_EQ(NextOption(&cursor, &key, &value), c.result);
    if (c.key == nullptr) {
      EXPECT_FALSE(key.HasText());
    } else {
      EXPECT_STREQ(key.text(), c.key);
    }
    if (c.value == nullptr) {
      EXPECT_FALSE(value.HasText());
    } else {
      EXPECT_STREQ(value.text(), c.value);
      EXPECT_EQ(value.capacity(), std::string(c.value).size() + 1);
    }
    EXPECT_EQ(static_cast<std::size_t>(cursor - c.text), c.end);
  }
}

TEST_F(NextOptionTest, NullCursorReadsNothing) {
  const char* cursor = nullptr;
  TextBuffer key("stale");
  TextBuffer value("stale");
  EXPECT_FALSE(NextOption(&cursor, &key, &value));
  EXPECT_EQ(cursor, nullptr);
  EXPECT_FALSE(key.HasText());
  EXPECT_FALSE(value.HasText());
}

TEST_F(NextOptionTest, EveryPairConsumesTextSoTheLoopEnds) {
  const char* text = "a b='c' d=\"e f\",,g=h;i='unclosed";
  const char* cursor = text;
  TextBuffer key;
  TextBuffer value;
  std::string seen;
  int steps = 0;
  while (NextOption(&cursor, &key, &value)) {
    seen += std::string(key.text()) + "=" +
            (value.HasText() ? value.text() : "-") + ";";
    ASSERT_LT(++steps, 10);
  }
  EXPECT_EQ(seen, "a=-;b=c;d=e f;g=h;i=unclosed;");
  EXPECT_EQ(*cursor, '\0');
}

}  // namespace
}  // namespace zolv

#include "formula_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core_handle.h"
#include "core_test.h"

namespace zolv::testing {
namespace {

class FormulaParserTest : public CoreTest {};

using Entries = std::vector<std::pair<std::string, std::int32_t>>;

// Walks every entry from the first, as the formula fragment does.
Entries Walk(FormulaParser* parser) {
  Entries entries;
  parser->Rewind();
  for (const char* symbol = parser->CurrentSymbol(); symbol != nullptr;
       parser->Next(), symbol = parser->CurrentSymbol()) {
    entries.emplace_back(symbol, parser->CurrentCount());
  }
  return entries;
}

Entries ParseText(const std::string& text) {
  FormulaParser parser;
  parser.SetText(TextBuffer(text.c_str()));
  parser.Parse();
  return Walk(&parser);
}

TEST_F(FormulaParserTest, SplitsFormulasIntoEntries) {
  const std::vector<std::pair<std::string, Entries>> cases = {
      {"C6H5Cl", {{"C", 6}, {"H", 5}, {"Cl", 1}}},
      {"C2H6O", {{"C", 2}, {"H", 6}, {"O", 1}}},
      {"CH3COOH", {{"C", 1}, {"H", 3}, {"C", 1}, {"O", 1}, {"O", 1}, {"H", 1}}},
      {"C6H5", {{"C", 6}, {"H", 5}}},
      {"C10H8", {{"C", 10}, {"H", 8}}},
      {"C6H6:H2O", {{"C", 6}, {"H", 6}, {":", 1}, {"H", 2}, {"O", 1}}},
      {":2C", {{":", 2}, {"C", 1}}},
      {":", {{":", 1}}},
      {"CH,Cl", {{"C", 1}, {"H", 1}, {"Cl", 1}}},
      {"C6H5X", {{"C", 6}, {"H", 5}, {"X", 1}}},
      {"MQA", {{"M", 1}, {"Q", 1}, {"A", 1}}},
      {"~C6H6", {{"C", 6}, {"H", 6}}},
      {"C0H4", {{"C", 0}, {"H", 4}}},
      {"D2T", {{"D", 2}, {"T", 1}}},
      {"C007", {{"C", 7}}},
      {"C32767", {{"C", 32767}}},
      {"N2N3", {{"N", 2}, {"N", 3}}},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(ParseText(text), expected) << text;
  }
}

TEST_F(FormulaParserTest, UnreadableTextsGiveNoEntries) {
  const std::vector<std::string> texts = {
      "",
      "~",
      "2H2O",
      "c6h6",
      "C6 H6",
      "CH4,H2O",
      "C2X2",
      "Cc]H4",
      "C6H5[Cl",
      "Zz",
      "CHe2Xx",
      "C6H5 ",
      "C,H2",
      "~c",
      "H,,",
      "\xC3"
      "C",
  };
  for (const std::string& text : texts) {
    EXPECT_EQ(ParseText(text), Entries{}) << text;
  }
}

TEST_F(FormulaParserTest, ClampsCountsBeyondSixteenBits) {
  EXPECT_EQ(ParseText("C32768H40000"), (Entries{{"C", 32767}, {"H", 32767}}));
  EXPECT_EQ(ParseText("Cl99999999999999999999"), (Entries{{"Cl", 32767}}));
}

TEST_F(FormulaParserTest, RefusesTextsLongerThanSixteenBits) {
  const std::string fits(65535, 'H');
  const std::string tooLong(65536, 'H');
  EXPECT_EQ(ParseText(fits).size(), 65535u);
  EXPECT_EQ(ParseText(tooLong), Entries{});
}

TEST_F(FormulaParserTest, CursorStaysAtTheEndUntilRewound) {
  FormulaParser parser;
  EXPECT_EQ(parser.CurrentSymbol(), nullptr);
  EXPECT_EQ(parser.CurrentCount(), 0);
  parser.Parse();  // no text yet: nothing to do
  EXPECT_EQ(parser.CurrentSymbol(), nullptr);

  parser.SetText(TextBuffer("C0H4"));
  parser.Parse();
  EXPECT_EQ(parser.CurrentSymbol(), nullptr);
  EXPECT_EQ(parser.CurrentCount(), 0);
  parser.Rewind();
  ASSERT_NE(parser.CurrentSymbol(), nullptr);
  EXPECT_STREQ(parser.CurrentSymbol(), "C");
  EXPECT_EQ(parser.CurrentCount(), 0);
  EXPECT_TRUE(parser.Next());
  EXPECT_STREQ(parser.CurrentSymbol(), "H");
  EXPECT_EQ(parser.CurrentCount(), 4);
  EXPECT_FALSE(parser.Next());
  EXPECT_EQ(parser.CurrentSymbol(), nullptr);
  EXPECT_FALSE(parser.Next());
  EXPECT_EQ(parser.CurrentSymbol(), nullptr) << "no wrap past the end";
}

TEST_F(FormulaParserTest, SameTextKeepsEntriesAndCursor) {
  FormulaParser parser;
  parser.SetText(TextBuffer("C6H5Cl"));
  parser.Parse();
  parser.Rewind();
  parser.Next();
  parser.SetText(TextBuffer("C6H5Cl"));
  EXPECT_STREQ(parser.CurrentSymbol(), "H");
  parser.Parse();  // already parsed: the cursor does not move to the end
  EXPECT_STREQ(parser.CurrentSymbol(), "H");
  EXPECT_EQ(parser.CurrentCount(), 5);

  parser.SetText(TextBuffer("NO2"));
  EXPECT_EQ(parser.CurrentSymbol(), nullptr) << "a new text is not parsed";
  parser.Parse();
  EXPECT_EQ(Walk(&parser), (Entries{{"N", 1}, {"O", 2}}));
}

TEST_F(FormulaParserTest, EmptyTextOnAnEmptyParserChangesNothing) {
  FormulaParser parser;
  parser.SetText(TextBuffer(""));
  parser.SetText(TextBuffer());
  parser.Parse();
  EXPECT_EQ(Walk(&parser), Entries{});
  parser.SetText(TextBuffer("Br"));
  parser.Parse();
  EXPECT_EQ(Walk(&parser), (Entries{{"Br", 1}}));
}

TEST_F(FormulaParserTest, KnowsElementsAndHydrogenIsotopes) {
  for (const char* known : {"C", "Cl", "He", "Og", "H", "D", "T", ":"}) {
    EXPECT_TRUE(FormulaParser::IsKnownSymbol(known)) << known;
  }
  for (const char* unknown : {"", "X", "M", "cl", "CL", "Xx", "HH", "::"}) {
    EXPECT_FALSE(FormulaParser::IsKnownSymbol(unknown)) << unknown;
  }
  EXPECT_FALSE(FormulaParser::IsKnownSymbol(nullptr));
}

// FetchFormulaText into a fresh string, as the formula fragment calls it.
struct Fetched {
  Status status;
  std::string text;
};

Fetched Fetch(HostObject* object, const char* before = "untouched") {
  CoreHandle<StringObject> out;
  EXPECT_TRUE(Succeeded(ZolvCreateString(out.Receive())));
  if (!out) return {0, ""};
  out->PutText(before);
  const Status status = FetchFormulaText(object, out.get());
  return {status, out->GetText()};
}

TEST_F(FormulaParserTest, FetchRemovesBracketedSegments) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"C6H5[Cl,Br]", "C6H5"},   {"C10H[a]8[b]", "C10H8"},
      {"C[a[b]c]H4", "Cc]H4"},   {"C6H5[Cl", "C6H5[Cl"},
      {"[x]C[y][z]H4[", "CH4["}, {"[]", ""},
      {"C6H5Cl", "C6H5Cl"},      {"]C[", "]C["},
  };
  for (const auto& [formula, expected] : cases) {
    core().SetFormula("mol", formula);
    FakeHostObject molecule("mol");
    const Fetched fetched = Fetch(&molecule);
    EXPECT_TRUE(Succeeded(fetched.status)) << formula;
    EXPECT_EQ(fetched.text, expected) << formula;
    EXPECT_EQ(core().Live(), 0u) << "the temporary string is released";
  }
}

TEST_F(FormulaParserTest, FetchLeavesTheStringAloneOnFailure) {
  FakeHostObject molecule("mol");
  // No formula scripted: ZolvFormula fails.
  Fetched fetched = Fetch(&molecule);
  EXPECT_FALSE(Succeeded(fetched.status));
  EXPECT_EQ(fetched.text, "untouched");

  core().SetFormula("mol", "");
  fetched = Fetch(&molecule);
  EXPECT_TRUE(Succeeded(fetched.status)) << "an empty formula is no failure";
  EXPECT_EQ(fetched.text, "untouched");

  core().SetFormula("mol", "C6H6");
  core().FailCreation(ObjectKind::kString,
                      core().Created(ObjectKind::kString) + 2);
  fetched = Fetch(&molecule);  // the caller's string is made, the temporary not
  EXPECT_FALSE(Succeeded(fetched.status));
  EXPECT_EQ(fetched.text, "untouched");
}

TEST_F(FormulaParserTest, FetchedTextParses) {
  core().SetFormula("mol", "C6H5[Cl,Br]");
  FakeHostObject molecule("mol");
  const Fetched fetched = Fetch(&molecule);
  EXPECT_EQ(ParseText(fetched.text), (Entries{{"C", 6}, {"H", 5}}));
}

}  // namespace
}  // namespace zolv::testing

#include "record_stream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "driver_session.h"
#include "option_parser.h"
#include "test_files.h"

namespace zolv::host {
namespace {

// Undoes the escaped encoding; none when text is not a valid encoding.
std::optional<std::string> Unescape(const std::string& text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      bytes.push_back(text[i]);
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == '\\') {
      bytes.push_back('\\');
      ++i;
    } else if (i + 3 < text.size() && text[i + 1] == 'x') {
      bytes.push_back(
          static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16)));
      i += 3;
    } else {
      return std::nullopt;
    }
  }
  return bytes;
}

std::string AllBytes() {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  return bytes;
}

TEST(RecordStream, CollectsEveryCharacterPutIncludingNul) {
  RecordStream stream;
  Stream& asCore = stream;
  for (char c : std::string("01\0\xff", 4)) asCore.PutChar(c);
  EXPECT_EQ(stream.record(), std::string("01\0\xff", 4));
  stream.Clear();
  EXPECT_EQ(stream.record(), "");
}

TEST(RecordEncoding, PrintsBytesAsTextHexOrEscapes) {
  struct Case {
    std::string record;
    RecordEncoding encoding;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"0110", RecordEncoding::kText, "0110"},
      {"0110", RecordEncoding::kHex, "30313130"},
      {std::string("\x07\x04\x03Mv", 5), RecordEncoding::kHex, "0704034d76"},
      {"\xff\xab", RecordEncoding::kHex, "ffab"},
      {std::string("\x07\x04\x03Mv", 5), RecordEncoding::kEscaped,
       "\\x07\\x04\\x03Mv"},
      {"a\\b", RecordEncoding::kEscaped, "a\\\\b"},
      {"\t\n\x7f ~", RecordEncoding::kEscaped, "\\x09\\x0a\\x7f ~"},
      {"", RecordEncoding::kHex, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(EncodeRecord(c.record, c.encoding), c.line);
  }
}

TEST(RecordEncoding, HexHasTwoLowercaseDigitsPerByteAndNothingElse) {
  const std::string hex = EncodeRecord(AllBytes(), RecordEncoding::kHex);
  ASSERT_EQ(hex.size(), 512u);
  EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos);
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(std::stoi(hex.substr(2 * b, 2), nullptr, 16), b);
  }
}

TEST(RecordEncoding, EscapedTextIsPrintableAndDecodesBackToTheBytes) {
  // Records that a naive escaping would confuse: a literal backslash before
  // "x41" and the byte 0x41 itself must stay apart.
  const std::vector<std::string> records = {
      AllBytes(), "\\x41", "A", "\\\\", std::string("\\\x00", 2), "\\x",
  };
  std::vector<std::string> lines;
  for (const std::string& record : records) {
    const std::string line = EncodeRecord(record, RecordEncoding::kEscaped);
    for (char c : line) {
      EXPECT_TRUE(c >= 0x20 && c < 0x7f) << static_cast<int>(c);
    }
    EXPECT_EQ(Unescape(line), record) << line;
    for (const std::string& earlier : lines) EXPECT_NE(line, earlier);
    lines.push_back(line);
  }
  EXPECT_EQ(ParseRecordEncoding("escaped"), RecordEncoding::kEscaped);
  EXPECT_EQ(ParseRecordEncoding("HEX"), std::nullopt);
}

// What the driver makes of the option: the name it appends to its directory.
std::string NameTheDriverReads(const std::string& option) {
  WriteOptions parsed;
  ParseOptions(option.c_str(), &parsed);
  return parsed.screenFile.HasText() ? parsed.screenFile.text() : "";
}

TEST(ScreenFileOption, NamesTheDictionaryRelativeToTheDriverDirectory) {
  testing::TempDirectory dir;
  namespace fs = std::filesystem;
  fs::create_directories(dir.path() / "bin");
  fs::create_directories(dir.path() / "data" / "with space");
  const std::string driverDirectory = (dir.path() / "bin").string() + "/";
  struct Case {
    std::string dictionary;  // below dir
    std::string expected;    // the name the driver reads
  };
  const std::vector<Case> cases = {
      {"bin/default.vetorb", "default.vetorb"},
      {"data/screens.vetorb", "../data/screens.vetorb"},
      {"data/with space/s=1;x.vetorb", "../data/with space/s=1;x.vetorb"},
      {"data/it's.vetorb", "../data/it's.vetorb"},
      {"data/say \"hi\".vetorb", "../data/say \"hi\".vetorb"},
      {"bin/../data/./x.vetorb", "../data/x.vetorb"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dictionary);
    std::string error;
    const std::string option = ScreenFileOption(
        driverDirectory, (dir.path() / c.dictionary).string(), &error);
    ASSERT_NE(option, "") << error;
    EXPECT_EQ(NameTheDriverReads(option), c.expected) << option;
    // The driver's directory and the name lead to the dictionary itself.
    EXPECT_EQ(fs::weakly_canonical(driverDirectory + c.expected),
              fs::weakly_canonical(dir.path() / c.dictionary));
    // Other pairs after it are still read.
    WriteOptions parsed;
    ParseOptions((option + " length=16").c_str(), &parsed);
    EXPECT_EQ(parsed.length, 16u);
  }
}

TEST(ScreenFileOption, RefusesAPathWithBothQuoteCharacters) {
  std::string error;
  EXPECT_EQ(ScreenFileOption("/tmp/", "/tmp/it's \"x\".vetorb", &error), "");
  EXPECT_NE(error.find("quote"), std::string::npos) << error;
}

TEST(ScreenFileOption, RelativeDictionaryPathsStartFromTheWorkingDirectory) {
  std::string error;
  const std::string option =
      ScreenFileOption(std::filesystem::current_path().string() + "/sub/",
                       "here.vetorb", &error);
  EXPECT_EQ(NameTheDriverReads(option), "../here.vetorb") << error;
}

TEST(NamesScreenFile, ReadsTheOptionsAsTheDriverDoes) {
  EXPECT_TRUE(NamesScreenFile("screenfile='a.vetorb'"));
  EXPECT_TRUE(NamesScreenFile("format=SBI; SCREENFILE = x"));
  EXPECT_FALSE(NamesScreenFile(""));
  EXPECT_FALSE(NamesScreenFile("format=SBI"));
  // An empty value is no value, and a key without "=" names nothing.
  EXPECT_FALSE(NamesScreenFile("screenfile=''"));
  EXPECT_FALSE(NamesScreenFile("screenfile default.vetorb"));
}

TEST(ReviewOptions, NamesWhatTheDriverSkipsOrReadsOtherwise) {
  struct Case {
    std::string options;
    // Texts the warnings must hold, in order; empty: no warning.
    std::vector<std::string> warnings;
    bool refused;
  };
  const std::vector<Case> cases = {
      {"format=SBI object=query database=ODBC ascii=true length=64", {}, false},
      {"FORMAT=sbi Length='64' screenfile=\"a b.vetorb\"", {}, false},
      {"lenght=64", {"'lenght' is not an option"}, false},
      {"fromat=SBI", {"'fromat' is not an option"}, false},
      {"length=1e3", {"reads it as 1"}, false},
      {"length=64.5",
       {"reads its value as '64' and stops at '.'", "'5' is not an option"},
       false},
      {"screenfile='x.vetorb length=64", {"never closed"}, false},
      {"object=qurey ascii=yes", {"'object'=qurey", "'ascii'=yes"}, false},
      // The driver skips the blank after "=" and takes the next word.
      {"database= format=SBI format=SBI",
       {"reads its value as 'format' and stops at '='", "'database'=format",
        "'SBI' is not an option"},
       false},
      {"format=SBI format=SBI", {"'format' is given again"}, false},
      {"object=", {"'object' has no value"}, false},
      {"length=1000000", {}, false},
      {"length=1000001", {}, true},
      {"length=2000000000", {}, true},
      // The driver would wrap this to a length of 64.
      {"length=4294967360", {}, true},
      {"length=64 length=99999999999", {"'length' is given again"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    const OptionReview review = ReviewOptions(c.options);
    ASSERT_EQ(review.warnings.size(), c.warnings.size())
        << (review.warnings.empty() ? "" : review.warnings[0]);
    for (std::size_t i = 0; i < c.warnings.size(); ++i) {
      EXPECT_NE(review.warnings[i].find(c.warnings[i]), std::string::npos)
          << review.warnings[i];
    }
    EXPECT_EQ(!review.error.empty(), c.refused) << review.error;
  }
}

}  // namespace
}  // namespace zolv::host

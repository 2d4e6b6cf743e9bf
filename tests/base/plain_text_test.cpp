#include "plain_text.h"

#include <gtest/gtest.h>

#include <string>

namespace zolv {
namespace {

TEST(PlainText, TrimsWhiteSpaceOfTheCLocaleAtBothEnds) {
  const struct {
    std::string text;
    std::string trimmed;
  } kCases[] = {
      {"", ""},
      {" \t\n\v\f\r", ""},
      {"  c1ccccc1 benzene \r\n", "c1ccccc1 benzene"},
      {"a\tb", "a\tb"},
      // A no-break space in Latin-1 or UTF-8 is no white space here.
      {"\xA0x\xC2\xA0", "\xA0x\xC2\xA0"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(std::string(TrimWhiteSpace(c.text)), c.trimmed) << c.text;
  }
}

TEST(PlainText, HexReadsBackWhatItWroteAndNothingElse) {
  const std::string bytes("\x00\x7f\x80\xff\\a", 6);
  EXPECT_EQ(HexOf(bytes), "007f80ff5c61");
  std::string read;
  ASSERT_TRUE(BytesOfHex(HexOf(bytes), &read));
  EXPECT_EQ(read, bytes);
  for (const char* bad : {"0", "0g", "7F", "0x"}) {
    EXPECT_FALSE(BytesOfHex(bad, &read)) << bad;
  }
}

}  // namespace
}  // namespace zolv

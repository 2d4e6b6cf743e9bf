// Names and SD data items as the index keeps them: well-formed UTF-8 for the
// databases' text columns, JSON that every reader takes, and the bytes of
// the input back exactly.
#include "data_items.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "utf8_text.h"

namespace zolv::search {
namespace {

TEST(Utf8Text, ReplacesEachStrayByteAndKeepsWellFormedSequences) {
  struct Case {
    std::string bytes;
    std::string readable;
  };
  const Case cases[] = {
      {"plain", "plain"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",
       "caf\xc3\xa9 \xe2\x82\xac "
       "\xf0\x9f\x98\x80"},
      {"caf\xe9", "caf\xef\xbf\xbd"},
      // Overlong, surrogate and cut sequences are not UTF-8.
      {"\xc0\xaf|\xed\xa0\x80|\xe2\x82",
       "\xef\xbf\xbd\xef\xbf\xbd|\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd|"
       "\xef\xbf\xbd\xef\xbf\xbd"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WithReplacementCharacters(c.bytes), c.readable) << c.bytes;
    EXPECT_EQ(IsWellFormedUtf8(c.bytes), c.bytes == c.readable) << c.bytes;
    EXPECT_TRUE(IsWellFormedUtf8(WithReplacementCharacters(c.bytes)));
  }
}

TEST(DataItems, ComeBackExactlyAndJoinARepeatedName) {
  const std::vector<DataItem> items = {
      {"MW", "16.04"},
      {"quote \" backslash \\ tab \t", "two\nlines\r\x01\x7f"},
      {"LATIN", "caf\xe9 \xff"},
      {"MW", "16.0"},
      {"EMPTY", ""},
      {"\xe2\x82\xac", "\xf0\x9f\x98\x80"},
  };
  const std::string json = EncodeDataItems(items);
  EXPECT_TRUE(IsWellFormedUtf8(json)) << json;
  EXPECT_EQ(json.find('\n'), std::string::npos) << json;
  std::vector<DataItem> back;
  ASSERT_TRUE(DecodeDataItems(json, &back)) << json;
  const std::vector<DataItem> joined = {items[0], items[1], items[2], items[4],
                                        items[5]};
  ASSERT_EQ(back.size(), joined.size());
  EXPECT_EQ(back[0].value, "16.04\n16.0");
  for (std::size_t i = 1; i < back.size(); ++i) {
    EXPECT_EQ(back[i].name, joined[i].name);
    EXPECT_EQ(back[i].value, joined[i].value);
  }
  EXPECT_EQ(EncodeDataItems({}), "");
}

TEST(DataItems, ReadOnlyAnObjectOfStrings) {
  struct Case {
    const char* json;
    bool read;
    std::size_t items;
  };
  const Case cases[] = {
      {"{}", true, 0},
      {" { \"a\" : \"1\" , \"b\":\"\\u00e9\\ud83d\\ude00\\/\" } ", true, 2},
      {"{\"a\":\"\\udce9\"}", true, 1},
      {"", false, 0},
      {"[]", false, 0},
      {"{\"a\":1}", false, 0},
      {"{\"a\":\"1\"", false, 0},
      {"{\"a\":\"1\"} x", false, 0},
      {"{\"a\":\"1\",}", false, 0},
      {"{\"a\":\"\\ud83d\"}", false, 0},
      {"{\"a\":\"\\udc10\"}", false, 0},
      {"{\"a\":\"\\q\"}", false, 0},
      {"{\"a\":\"line\nbreak\"}", false, 0},
  };
  for (const Case& c : cases) {
    std::vector<DataItem> items;
    EXPECT_EQ(DecodeDataItems(c.json, &items), c.read) << c.json;
    EXPECT_EQ(items.size(), c.items) << c.json;
  }
  std::vector<DataItem> items;
  ASSERT_TRUE(
      DecodeDataItems("{\"b\":\"\\u00e9\\ud83d\\ude00\\/\\udce9\"}", &items));
  EXPECT_EQ(items[0].value, "\xc3\xa9\xf0\x9f\x98\x80/\xe9");
}

}  // namespace
}  // namespace zolv::search

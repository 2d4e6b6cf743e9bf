#include "text_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "core_test.h"

namespace zolv {
namespace {

// Runs on the fake core, so that a text never takes the core's memory.
class TextBufferTest : public testing::CoreTest {};

// Checks the invariant: no text and capacity 0, or exactly capacity bytes
// holding capacity - 1 characters and the terminator.
void ExpectText(const TextBuffer& buffer, const char* expected) {
  if (expected == nullptr) {
    EXPECT_FALSE(buffer.HasText());
    EXPECT_EQ(buffer.text(), nullptr);
    EXPECT_EQ(buffer.capacity(), 0u);
    EXPECT_EQ(buffer.Length(), 0u);
    return;
  }
  ASSERT_TRUE(buffer.HasText());
  EXPECT_EQ(std::string(buffer.text()), expected);
  EXPECT_EQ(buffer.capacity(), std::string(expected).size() + 1);
  EXPECT_EQ(buffer.Length(), std::string(expected).size());
}

TEST_F(TextBufferTest, NoTextAndEmptyTextAreDifferentStates) {
  TextBuffer none;
  ExpectText(none, nullptr);
  ExpectText(TextBuffer::EmptyText(), "");
  ExpectText(TextBuffer(""), "");
  ExpectText(TextBuffer(nullptr), "");  // a missing text gives the empty text
  ExpectText(TextBuffer("abc"), "abc");
  ExpectText(TextBuffer("a\xFF"
                        "b"),
             "a\xFF"
             "b");
}

TEST_F(TextBufferTest, CopiesKeepTheState) {
  const TextBuffer none;
  const TextBuffer empty("");
  const TextBuffer text("screens.bin");
  ExpectText(TextBuffer(none), nullptr);
  ExpectText(TextBuffer(empty), "");
  const TextBuffer copy(text);
  ExpectText(copy, "screens.bin");
  EXPECT_NE(copy.text(), text.text());
}

TEST_F(TextBufferTest, ResetLeavesNoText) {
  TextBuffer buffer("abc");
  buffer.Reset();
  ExpectText(buffer, nullptr);
  buffer.Reset();
  ExpectText(buffer, nullptr);
}

struct PrefixCase {
  const char* before;  // nullptr: no text
  const char* source;
  std::uint32_t n;
  const char* after;  // nullptr: no text
};

TEST_F(TextBufferTest, AssignPrefixTakesAtMostNCharactersUpToNul) {
  const PrefixCase cases[] = {
      {nullptr, "abcdef", 3, "abc"},
      {nullptr, "ab", 10, "ab"},
      {"xyz", "ab\0cd", 5, "ab"},
      {nullptr, "abc", 0, ""},
      {"xyz", "", 4, ""},
      {"xyz", nullptr, 4, nullptr},
      {nullptr, nullptr, 0, nullptr},
      {"", "q", 0xFFFFFFFFu, "q"},
  };
  for (const PrefixCase& c : cases) {
    SCOPED_TRACE(std::string(c.before ? c.before : "(none)") + " <- " +
                 (c.source ? c.source : "(null)") +
                 " n=" + std::to_string(c.n));
    TextBuffer buffer;
    if (c.before != nullptr) buffer.AssignPrefix(c.before, 100);
    buffer.AssignPrefix(c.source, c.n);
    ExpectText(buffer, c.after);
  }
}

TEST_F(TextBufferTest, AssignOfTheSameSizeReusesTheStorage) {
  TextBuffer buffer("abc");
  const char* storage = buffer.text();
  buffer.AssignPrefix("xyz!", 3);
  ExpectText(buffer, "xyz");
  EXPECT_EQ(buffer.text(), storage);
  const TextBuffer other("123");
  buffer.AssignBuffer(other);
  ExpectText(buffer, "123");
  EXPECT_EQ(buffer.text(), storage);
}

TEST_F(TextBufferTest, AssignPrefixFromItsOwnText) {
  TextBuffer buffer("abcdef");
  buffer.AssignPrefix(buffer.text() + 2, 3);
  ExpectText(buffer, "cde");
  buffer.AssignPrefix(buffer.text(), 100);
  ExpectText(buffer, "cde");
  buffer.AssignPrefix(buffer.text() + 1, 100);
  ExpectText(buffer, "de");
}

TEST_F(TextBufferTest, AssignBufferCopiesTheState) {
  const TextBuffer none;
  const TextBuffer empty("");
  const TextBuffer text("abc");
  TextBuffer buffer("old text");
  buffer.AssignBuffer(text);
  ExpectText(buffer, "abc");
  EXPECT_NE(buffer.text(), text.text());
  buffer.AssignBuffer(empty);
  ExpectText(buffer, "");
  buffer.AssignBuffer(none);
  ExpectText(buffer, nullptr);
  buffer.AssignBuffer(text);
  buffer.AssignBuffer(buffer);
  ExpectText(buffer, "abc");
}

struct AppendCase {
  const char* before;  // nullptr: no text
  const char* other;   // nullptr: no text
  const char* after;   // nullptr: no text
};

TEST_F(TextBufferTest, AppendBufferJoinsToTheExactSize) {
  const AppendCase cases[] = {
      {"ab", "cd", "abcd"},        {"ab", "", "ab"},
      {"ab", nullptr, "ab"},       {"", "cd", "cd"},
      {nullptr, "cd", "cd"},       {nullptr, "", nullptr},
      {nullptr, nullptr, nullptr}, {"", "", ""},
      {"", nullptr, ""},
  };
  for (const AppendCase& c : cases) {
    SCOPED_TRACE(std::string(c.before ? c.before : "(none)") + " + " +
                 (c.other ? c.other : "(none)"));
    TextBuffer buffer;
    if (c.before != nullptr) buffer.AssignPrefix(c.before, 100);
    TextBuffer other;
    if (c.other != nullptr) other.AssignPrefix(c.other, 100);
    buffer.AppendBuffer(other);
    ExpectText(buffer, c.after);
    ExpectText(other, c.other);
  }
}

TEST_F(TextBufferTest, AppendOfNothingKeepsTheStorage) {
  TextBuffer buffer("ab");
  const char* storage = buffer.text();
  buffer.AppendBuffer(TextBuffer(""));
  buffer.AppendBuffer(TextBuffer());
  EXPECT_EQ(buffer.text(), storage);
}

TEST_F(TextBufferTest, AppendToItself) {
  TextBuffer buffer("ab");
  buffer.AppendBuffer(buffer);
  ExpectText(buffer, "abab");
  buffer.AppendBuffer(buffer);
  ExpectText(buffer, "abababab");
}

}  // namespace
}  // namespace zolv

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core_api.h"
#include "core_handle.h"
#include "test_files.h"

namespace zolv {
namespace {

struct SymbolCase {
  const char* symbol;
  std::int32_t number;
};

TEST(AtomicSymbolToNumber, GivesTheNumberOfEveryElementSymbol) {
  const SymbolCase cases[] = {
      {"H", 1},   {"He", 2},  {"Li", 3},   {"C", 6},   {"N", 7},   {"O", 8},
      {"F", 9},   {"Na", 11}, {"Si", 14},  {"P", 15},  {"S", 16},  {"Cl", 17},
      {"K", 19},  {"Fe", 26}, {"Br", 35},  {"I", 53},  {"Xe", 54}, {"W", 74},
      {"Hg", 80}, {"U", 92},  {"Ts", 117}, {"Og", 118}};
  for (const SymbolCase& c : cases) {
    EXPECT_EQ(ZolvAtomicSymbolToNumber(c.symbol), c.number) << c.symbol;
  }
}

TEST(AtomicSymbolToNumber, GivesZeroForAnyOtherText) {
  const std::string longText(100000, 'C');
  const char* texts[] = {
      "",     "c",  "cl", "CL",       "Xx",  "D", "T",
      "C1",   " C", "C ", "Hee",      "Uue", "A", "X",
      "*",    ":",  "R",  "\xC3\xA9", "Q",   "M", longText.c_str(),
      nullptr};
  for (const char* text : texts) {
    EXPECT_EQ(ZolvAtomicSymbolToNumber(text), 0)
        << (text != nullptr ? std::string(text).substr(0, 8) : "(null)");
  }
}

TEST(CoreMemory, GivesUsableBlocksEvenOfZeroBytes) {
  for (std::uint32_t bytes : {0u, 1u, 20u, 4096u}) {
    void* block = ZolvNewMemory(bytes);
    ASSERT_NE(block, nullptr) << bytes;
    if (bytes != 0) static_cast<unsigned char*>(block)[bytes - 1] = 1;
    ZolvDeleteMemory(block);
  }
  ZolvDeleteMemory(nullptr);
}

TEST(CoreString, KeepsACopyOfTheText) {
  CoreHandle<StringObject> text;
  ASSERT_EQ(ZolvCreateString(text.Receive()) & 1, 1);
  EXPECT_STREQ(text->GetText(), "");
  std::string source = "C6H5Cl";
  text->PutText(source.c_str());
  source[0] = 'X';
  EXPECT_STREQ(text->GetText(), "C6H5Cl");
  EXPECT_EQ(text->TextLength(), 6u);
  text->PutText(nullptr);
  EXPECT_EQ(text->TextLength(), 0u);
}

TEST(CoreObjects, CreationWithoutAPlaceForTheObjectFails) {
  EXPECT_EQ(ZolvCreateString(nullptr) & 1, 0);
  EXPECT_EQ(ZolvCreateMatcher(nullptr) & 1, 0);
  EXPECT_EQ(ZolvCreateMatchMap(nullptr) & 1, 0);
  EXPECT_EQ(ZolvCreateChemistry(nullptr) & 1, 0);
  EXPECT_EQ(ZolvCreateIndex(nullptr) & 1, 0);
  EXPECT_EQ(ZolvCreateStream(nullptr, "READFILE", "/", "BYTEORDERED") & 1, 0);
  EXPECT_EQ(ZolvFormula(nullptr, 0, nullptr) & 1, 0);
}

using testing::Bytes;
using testing::TempFile;

CoreHandle<Stream> OpenStream(const char* path) {
  CoreHandle<Stream> stream;
  ZolvCreateStream(stream.Receive(), "READFILE", path, "BYTEORDERED");
  return stream;
}

TEST(CoreFileStream, ReadsLittleEndianFieldsAndRawBytes) {
  const TempFile file(
      "stream", Bytes({'V', 'e', 't', 'O', 'r', 'b', 0xFE, 0xFF, 0x34, 0x12,
                       0x78, 0x56, 0x34, 0x12, 0x01}));
  CoreHandle<Stream> stream = OpenStream(file.path().c_str());
  ASSERT_TRUE(stream);
  char magic[6] = {};
  EXPECT_NE(stream->ReadBytes(magic, 6), 0);
  EXPECT_EQ(std::string(magic, 6), "VetOrb");
  std::int16_t flag = 0;
  EXPECT_NE(stream->ReadShort(&flag), 0);
  EXPECT_EQ(flag, -2);
  std::uint16_t count = 0;
  EXPECT_NE(stream->ReadUShort(&count), 0);
  EXPECT_EQ(count, 0x1234);
  std::uint32_t length = 0;
  EXPECT_NE(stream->ReadULong(&length), 0);
  EXPECT_EQ(length, 0x12345678u);
  // One byte is left: a 16-bit read fails at the end, as does every read
  // after it.
  EXPECT_EQ(stream->ReadUShort(&count), 0);
  unsigned char byte = 0;
  EXPECT_EQ(stream->ReadBytes(&byte, 1), 0);
  EXPECT_EQ(stream->ReadULong(&length), 0);
  EXPECT_NE(stream->ReadBytes(nullptr, 0), 0);
  EXPECT_EQ(stream->PutChar('x'), 0);
}

TEST(CoreFileStream, RawReadPastTheEndFails) {
  const TempFile file("stream", Bytes({1, 2, 3}));
  CoreHandle<Stream> stream = OpenStream(file.path().c_str());
  ASSERT_TRUE(stream);
  unsigned char bytes[4] = {};
  EXPECT_EQ(stream->ReadBytes(bytes, 4), 0);
}

// The stream keeps the bytes of files it read; a file rewritten in place
// must still be read anew, even at the same size with its old modification
// time put back (as `cp -p` or `touch -r` would).
TEST(CoreFileStream, ReadsAFileAgainOnceItChanged) {
  const TempFile file("stream", Bytes({'o', 'n', 'e', '1'}));
  // Old enough for the stream to keep its bytes.
  const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, file.path().c_str(), old, 0), 0);
  const auto firstWord = [&file] {
    CoreHandle<Stream> stream = OpenStream(file.path().c_str());
    char bytes[4] = {};
    EXPECT_TRUE(stream && stream->ReadBytes(bytes, 4) != 0);
    return std::string(bytes, 4);
  };
  EXPECT_EQ(firstWord(), "one1");
  EXPECT_EQ(firstWord(), "one1");
  for (const char* text : {"two2", "six6"}) {
    std::FILE* out = std::fopen(file.path().c_str(), "r+b");
    ASSERT_NE(out, nullptr);
    std::fwrite(text, 1, 4, out);
    std::fclose(out);
    ASSERT_EQ(utimensat(AT_FDCWD, file.path().c_str(), old, 0), 0);
    EXPECT_EQ(firstWord(), text);
    EXPECT_EQ(firstWord(), text);
  }
}

TEST(CoreFileStream, NoStreamForWhatIsNoReadableFile) {
  const TempFile file("stream", Bytes({1, 2}));
  struct Case {
    const char* mode;
    const char* path;
    const char* encoding;
  };
  const Case cases[] = {
      {"READFILE", "/tmp", "BYTEORDERED"},  // a directory
      {"READFILE", "/tmp/", "BYTEORDERED"},
      {"READFILE", "/no/such/file.dat", "BYTEORDERED"},
      {"READFILE", "", "BYTEORDERED"},
      {"READFILE", nullptr, "BYTEORDERED"},
      {"WRITEFILE", file.path().c_str(), "BYTEORDERED"},
      {nullptr, file.path().c_str(), "BYTEORDERED"},
      {"READFILE", file.path().c_str(), "TEXT"},
      {"READFILE", file.path().c_str(), nullptr},
  };
  for (const Case& c : cases) {
    Stream* stream = nullptr;
    EXPECT_EQ(ZolvCreateStream(&stream, c.mode, c.path, c.encoding) & 1, 0)
        << (c.path != nullptr ? c.path : "(null)");
    EXPECT_EQ(stream, nullptr);
  }
  Stream* stream = nullptr;
  EXPECT_EQ(
      ZolvCreateStream(&stream, "READFILE", file.path().c_str(), "BYTEORDERED"),
      1);
  ASSERT_NE(stream, nullptr);
  stream->Release();
}

}  // namespace
}  // namespace zolv

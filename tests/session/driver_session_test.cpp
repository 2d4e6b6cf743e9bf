// The driver session on the built driver: the dictionary it accepts, the
// words it refuses one with, and the option strings it composes.
#include "driver_session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "dictionary_format.h"
#include "rdcore.h"
#include "test_files.h"

namespace zolv::host {
namespace {

using testing::TempDirectory;
using testing::WriteFile;

// Screens 1 and 2, 2 implying 1, numbered up to 7 on purpose.
DictionaryContent TwoScreens() {
  DictionaryContent content;
  content.orderFlag = 1;
  content.screens = {{1, {}, {7}, "[#6]"}, {7, {1}, {}, "[#8]"}};
  return content;
}

TEST(DriverSession, KeepsWhatItsDictionaryHolds) {
  TempDirectory dir;
  const std::string path = dir / "two.vetorb";
  ASSERT_TRUE(WriteDictionaryFile(path, TwoScreens()));
  DriverSession session;
  std::string error;
  ASSERT_TRUE(session.Open(ZOLV_DRIVER_FILE, path, &error)) << error;
  EXPECT_EQ(session.dictionaryPath(), path);
  EXPECT_EQ(session.highestScreen(), 7u);
  EXPECT_EQ(session.screenCount(), 2u);
  EXPECT_EQ(session.dictionaryDigest().rfind("fnv1a64:", 0), 0u);

  // The screen file comes first, whatever follows; nothing else is added.
  const std::string screenFile = session.Options("");
  EXPECT_EQ(screenFile.rfind("screenfile=", 0), 0u) << screenFile;
  EXPECT_EQ(session.Options("length=8 screenfile=x"),
            screenFile + " length=8 screenfile=x");

  // The driver reads the dictionary it was given: carbon and oxygen.
  rdcore::ParsedMolecule ethanol = rdcore::ParseMolecule(
      "CCO", rdcore::Notation::kSmiles, rdcore::MoleculeRole::kTarget);
  ASSERT_NE(ethanol.molecule, nullptr) << ethanol.error;
  std::string record;
  ASSERT_TRUE(session.WriteRecord(ethanol.molecule.get(),
                                  session.Options("length=7"), &record, &error))
      << error;
  EXPECT_EQ(record, "1000001");
  EXPECT_FALSE(
      session.WriteRecord(ethanol.molecule.get(), "length=0", &record, &error));
  EXPECT_NE(error.find("ZolvWrite result 12"), std::string::npos) << error;
}

TEST(DriverSession, RefusesAnUnusableDictionaryByName) {
  TempDirectory dir;
  const std::string whole = EncodeDictionary(TwoScreens());
  struct Case {
    const char* name;
    std::string bytes;  // none written when empty and named "missing"
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"missing", "", "no such dictionary"},
      {"not-vetorb", "VetOr", "not a screen dictionary"},
      {"other", "PK\x03\x04 and more bytes", "not a screen dictionary"},
      {"header-only", whole.substr(0, kDictionaryHeaderLength),
       "not a usable screen dictionary: record 1 of 2"},
      {"cut", whole.substr(0, whole.size() - 1),
       "not a usable screen dictionary: record 2 of 2"},
  };
  for (const Case& c : cases) {
    const std::string path = dir / c.name;
    if (std::string(c.name) != "missing") WriteFile(path, c.bytes);
    EXPECT_NE(DictionaryProblem(path).find(c.expected), std::string::npos)
        << c.name << ": " << DictionaryProblem(path);
    DriverSession session;
    std::string error;
    EXPECT_FALSE(session.Open(ZOLV_DRIVER_FILE, path, &error)) << c.name;
    EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << c.name << ": " << error;
    EXPECT_NE(error.find(c.expected), std::string::npos) << error;
  }
  EXPECT_EQ(DictionaryProblem(dir.path().string()), "not a regular file");
  EXPECT_EQ(DictionaryProblem(dir / "missing"), "no such dictionary");
}

TEST(DriverSession, NamesTheDriverItCannotLoad) {
  DriverSession session;
  std::string error;
  EXPECT_FALSE(session.Open("/nonexistent/libzolv.so", "", &error));
  EXPECT_EQ(error.rfind("cannot load the driver: ", 0), 0u) << error;
}

}  // namespace
}  // namespace zolv::host

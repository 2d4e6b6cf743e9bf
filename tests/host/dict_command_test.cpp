// zolv dict build, dump and stats end to end: the built zolv program, the
// built driver and the RDKit-backed core library.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "dictionary_format.h"
#include "test_files.h"
#include "zolv_runner.h"

namespace zolv::testing {
namespace {

using Numbers = std::set<std::uint16_t>;

struct DumpedScreen {
  std::string smarts;
  Numbers implied;
  Numbers dependent;
};

Numbers ParseNumbers(const std::string& field, const std::string& key) {
  EXPECT_EQ(field.compare(0, key.size(), key), 0) << field;
  Numbers numbers;
  std::istringstream in(field.substr(key.size()));
  std::string number;
  while (std::getline(in, number, ',')) {
    numbers.insert(static_cast<std::uint16_t>(std::stoul(number)));
  }
  return numbers;
}

// The records of a dump's output by screen number.
std::map<std::uint16_t, DumpedScreen> ParseDump(const ZolvRun& run) {
  std::map<std::uint16_t, DumpedScreen> screens;
  const std::vector<std::string> lines = run.Lines();
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> fields;
    std::istringstream in(lines[i]);
    std::string field;
    while (std::getline(in, field, '\t')) fields.push_back(field);
    if (fields.size() != 4) {
      ADD_FAILURE() << "bad dump line: " << lines[i];
      continue;
    }
    screens[static_cast<std::uint16_t>(std::stoul(fields[0]))] = {
        fields[1], ParseNumbers(fields[2], "implied="),
        ParseNumbers(fields[3], "dependent=")};
  }
  return screens;
}

// Numbers 1..6 in list order; line 1 is a comment.
constexpr char kSmallList[] =
    "# a small list\n"
    "[#6]      carbon\n"
    "c         aromatic carbon\n"
    "cc\n"
    "c1ccccc1  benzene ring\n"
    "\n"
    "[#7]\n"
    "c1ccncc1  pyridine ring # not benzene\n";

class DictCommand : public ::testing::Test {
 protected:
  ZolvRun Build(const std::string& list, const std::string& output) {
    WriteFile(dir_ / "list.txt", list);
    return RunZolv({"dict", "build", dir_ / "list.txt", "-o", output,
                    "--driver", ZOLV_DRIVER_FILE});
  }

  TempDirectory dir_;
};

TEST_F(DictCommand, BuildsContainmentListsForASmallList) {
  const std::string file = dir_ / "small.vetorb";
  const ZolvRun build = Build(kSmallList, file);
  ASSERT_EQ(build.exitCode, 0) << build.err;
  EXPECT_EQ(build.err, "");

  const ZolvRun dump = RunZolv({"dict", "dump", file});
  ASSERT_EQ(dump.exitCode, 0) << dump.err;
  ASSERT_FALSE(dump.Lines().empty());
  EXPECT_EQ(dump.Lines()[0], "VetOrb\torder-flag=1\trecords=6");
  const std::map<std::uint16_t, DumpedScreen> screens = ParseDump(dump);
  ASSERT_EQ(screens.size(), 6u);
  EXPECT_EQ(screens.at(4).smarts, "c1ccccc1");
  EXPECT_EQ(screens.at(6).smarts, "c1ccncc1");

  // Benzene holds "cc", "c" and [#6]; pyridine also [#7] but not benzene.
  EXPECT_EQ(screens.at(4).implied, (Numbers{1, 2, 3}));
  EXPECT_EQ(screens.at(6).implied, (Numbers{1, 2, 3, 5}));
  EXPECT_EQ(screens.at(3).implied, (Numbers{1, 2}));
  EXPECT_EQ(screens.at(2).implied, (Numbers{1}));
  EXPECT_EQ(screens.at(1).implied, Numbers{});
  EXPECT_EQ(screens.at(5).implied, Numbers{});
  EXPECT_EQ(screens.at(1).dependent, (Numbers{2, 3, 4, 6}));
  EXPECT_EQ(screens.at(5).dependent, Numbers{6});
  EXPECT_EQ(screens.at(4).dependent, Numbers{});

  const DictionaryFile read = ReadDictionaryFile(file);
  EXPECT_TRUE(IsInTestOrder(read.content));
}

TEST_F(DictCommand, ReportsEveryFaultyLineAndWritesNothing) {
  const std::string file = dir_ / "bad.vetorb";
  const ZolvRun build = Build(
      "[#6]\n"
      "C1CC(\n"  // line 2: unreadable
      "# comment\n"
      "[#6] again\n"  // line 4: repeats line 1
      "C=O\n"
      "O=C carbonyl\n",  // line 6: the same screen as line 5
      file);
  EXPECT_EQ(build.exitCode, 1);
  EXPECT_NE(build.err.find("list.txt:2: cannot read SMARTS \"C1CC(\""),
            std::string::npos)
      << build.err;
  EXPECT_NE(build.err.find("list.txt:4: duplicate screen \"[#6]\", first "
                           "listed on line 1"),
            std::string::npos)
      << build.err;
  EXPECT_FALSE(std::filesystem::exists(file));

  // With the unreadable and repeated lines gone, the equivalent pair is
  // what remains wrong.
  const ZolvRun second = Build("[#6]\nC=O\nO=C carbonyl\n", file);
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_NE(second.err.find("list.txt:3: screen \"O=C\" is equivalent to "
                            "\"C=O\" on line 2"),
            std::string::npos)
      << second.err;
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(DictCommand, FailedBuildKeepsTheOldFile) {
  const std::string file = dir_ / "kept.vetorb";
  WriteFile(file, "old");
  EXPECT_EQ(Build("C1CC(\n", file).exitCode, 1);
  EXPECT_EQ(ReadFile(file), "old");
  EXPECT_EQ(Build("", file).exitCode, 1);
  EXPECT_EQ(ReadFile(file), "old");
}

struct Damage {
  const char* what;
  std::function<void(std::string*)> damage;  // of the file's bytes
  const char* message;                       // part of what dump says
};

TEST_F(DictCommand, DumpNamesWhatIsWrongWithADamagedFile) {
  const std::string good = dir_ / "good.vetorb";
  ASSERT_EQ(Build("[#6]\n[#7]\nC=O\n", good).exitCode, 0);
  const std::string bytes = ReadFile(good);
  // Whatever the test order, record 1 starts at byte 10 with its number.
  const Damage damages[] = {
      {"magic", [](std::string* b) { b->at(3) = 'o'; },
       "does not begin with \"VetOrb\""},
      {"number beyond the count", [](std::string* b) { b->at(10) = 9; },
       "record 1 (screen 9): screen number exceeds the record count 3"},
      {"cut short", [](std::string* b) { b->resize(14); },
       "record 1 of 3: the file ends inside"},
      {"dependent list emptied",
       [](std::string* b) {
         DictionaryContent content = DecodeDictionary(*b).content;
         for (DictionaryScreen& screen : content.screens) {
           if (screen.number == 1) screen.dependent.clear();
         }
         *b = EncodeDictionary(content);
       },
       "(screen 3): implies screen 1, but screen 1 does not list it among "
       "its dependents"},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    std::string damaged = bytes;
    damage.damage(&damaged);
    const std::string file = dir_ / "damaged.vetorb";
    WriteFile(file, damaged);
    const ZolvRun dump = RunZolv({"dict", "dump", file});
    EXPECT_EQ(dump.exitCode, 1);
    EXPECT_NE(dump.err.find(damage.message), std::string::npos) << dump.err;
  }
  const ZolvRun missing = RunZolv({"dict", "dump", dir_ / "none.vetorb"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("cannot be opened"), std::string::npos);
}

TEST_F(DictCommand, DumpRefusesUnreadableStoredSmarts) {
  DictionaryContent content;
  content.orderFlag = 1;
  content.screens = {{1, {}, {}, "[#6"}};
  const std::string file = dir_ / "smarts.vetorb";
  ASSERT_TRUE(WriteDictionaryFile(file, content));
  const ZolvRun dump = RunZolv({"dict", "dump", "--check", file});
  EXPECT_EQ(dump.exitCode, 1);
  EXPECT_EQ(dump.out, "");
  EXPECT_NE(dump.err.find("record 1 (screen 1): cannot read SMARTS"),
            std::string::npos)
      << dump.err;
}

TEST_F(DictCommand, StatsCountsWhatTheDriverFinds) {
  const std::string file = dir_ / "small.vetorb";
  ASSERT_EQ(Build(kSmallList, file).exitCode, 0);
  const ZolvRun stats = RunZolv(
      {"dict", "stats", file, "--molecules", "-", "--driver", ZOLV_DRIVER_FILE},
      "c1ccccc1 benzene\nCCN ethylamine\nc1ccncc1C pyridine\nCCO ethanol\n");
  ASSERT_EQ(stats.exitCode, 0) << stats.err;
  std::map<std::string, std::string> countBySmarts;
  for (const std::string& line : stats.Lines()) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::istringstream in(line);
    std::string field;
    while (std::getline(in, field, '\t')) fields.push_back(field);
    ASSERT_EQ(fields.size(), 5u) << line;
    countBySmarts[fields[4]] = fields[1] + " " + fields[3];
  }
  EXPECT_EQ(countBySmarts["[#6]"], "4 common");
  EXPECT_EQ(countBySmarts["c"], "2 -");
  EXPECT_EQ(countBySmarts["c1ccccc1"], "1 -");
  EXPECT_EQ(countBySmarts["[#7]"], "2 -");
  EXPECT_EQ(countBySmarts["c1ccncc1"], "1 -");
  EXPECT_NE(stats.out.find("4 counted, 0 skipped"), std::string::npos);
}

TEST(DefaultDictionary, IsBuiltBesideTheDriverAndValid) {
  const std::string file =
      (std::filesystem::path(ZOLV_DRIVER_FILE).parent_path() / "default.vetorb")
          .string();
  const ZolvRun dump = RunZolv({"dict", "dump", file});
  ASSERT_EQ(dump.exitCode, 0) << dump.err;
  const DictionaryFile read = ReadDictionaryFile(file);
  const std::size_t count = read.content.screens.size();
  EXPECT_GE(count, 100u);
  // "SBI" text writes raw screen numbers as characters.
  EXPECT_LE(count, 255u);
  EXPECT_NE(read.content.orderFlag, 0);
  EXPECT_TRUE(IsInTestOrder(read.content));
}

// Molecules of RDKit's NCI sample, as a SMILES file; empty when RDKit's data
// are not installed.
constexpr char kNciSample[] = "/usr/share/RDKit/Data/NCI/first_5K.smi";
constexpr std::size_t kSampleSize = 300;

TEST(DefaultDictionary, ImplicationsHoldInRealMolecules) {
  std::ifstream nci(kNciSample);
  if (!nci) GTEST_SKIP() << kNciSample << " is not installed";
  std::string sample;
  std::string line;
  for (std::size_t i = 0; i < kSampleSize && std::getline(nci, line); ++i) {
    sample += line + "\n";
  }

  const DictionaryFile built = ReadDictionaryFile(
      (std::filesystem::path(ZOLV_DRIVER_FILE).parent_path() / "default.vetorb")
          .string());
  ASSERT_TRUE(built.problems.empty());
  // The same screens with no lists: every screen is tested in every
  // molecule, so that the found sets show what really occurs together.
  DictionaryContent independent = built.content;
  std::map<std::uint16_t, std::vector<std::uint16_t>> impliedBy;
  for (DictionaryScreen& screen : independent.screens) {
    impliedBy[screen.number] = screen.implied;
    screen.implied.clear();
    screen.dependent.clear();
  }
  TempDirectory dir;
  ASSERT_TRUE(WriteDictionaryFile(dir / "independent.vetorb", independent));
  WriteFile(dir / "sample.smi", sample);
  const std::size_t width = independent.screens.size();
  const ZolvRun run = RunZolv(
      {"write", dir / "sample.smi", "--dictionary", dir / "independent.vetorb",
       "--driver", ZOLV_DRIVER_FILE, "-o", "length=" + std::to_string(width)});
  ASSERT_NE(run.exitCode, 1) << run.err;

  std::size_t molecules = 0;
  std::size_t checked = 0;
  for (const std::string& bits : run.Lines()) {
    if (bits.empty()) continue;  // a molecule the core library cannot read
    ASSERT_EQ(bits.size(), width);
    ++molecules;
    for (const auto& [screen, implied] : impliedBy) {
      if (bits[screen - 1] != '1') continue;
      for (std::uint16_t other : implied) {
        ++checked;
        EXPECT_EQ(bits[other - 1], '1')
            << "screen " << screen << " is present without screen " << other
            << " in molecule " << molecules;
      }
    }
  }
  EXPECT_GT(molecules, kSampleSize * 9 / 10);
  EXPECT_GT(checked, molecules);
}

}  // namespace
}  // namespace zolv::testing

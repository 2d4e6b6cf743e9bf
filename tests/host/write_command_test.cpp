// zolv write end to end: the built program, the built driver and the
// RDKit-backed core library, on small dictionaries written here.
#include "write_command.h"

#include <GraphMol/FileParsers/FileParsers.h>
#include <GraphMol/SmilesParse/SmilesParse.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "dictionary_format.h"
#include "driver_session.h"
#include "record_stream.h"
#include "test_files.h"
#include "zolv_runner.h"

namespace zolv::host {
namespace {

namespace fs = std::filesystem;
using testing::RunZolv;
using testing::TempDirectory;
using testing::WriteFile;
using testing::ZolvRun;

// Five screens that are easy to reason about.
DictionaryContent SmallDictionary() {
  DictionaryContent content;
  content.screens = {{1, {}, {}, "[#6]"},
                     {2, {}, {}, "[#7]"},
                     {3, {}, {}, "[#8]"},
                     {4, {}, {}, "c1ccccc1"},
                     {5, {}, {}, "[Cl]"}};
  return content;
}

// The bit string of a set of screens, 128 characters.
std::string Bits(const std::set<int>& screens, std::size_t length = 128) {
  std::string bits(length, '0');
  for (int screen : screens) bits[static_cast<std::size_t>(screen) - 1] = '1';
  return bits;
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : bytes) {
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 15]);
  }
  return hex;
}

class ZolvWrite : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WriteDictionaryFile(dictionary_, SmallDictionary()));
  }

  // zolv write --dictionary <the small dictionary> arguments...
  ZolvRun Write(std::vector<std::string> arguments,
                const std::string& input = "") {
    arguments.insert(arguments.begin(), {"write", "--dictionary", dictionary_});
    return RunZolv(arguments, input);
  }

  TempDirectory dir_;
  std::string dictionary_ = dir_ / "small.vetorb";
};

TEST_F(ZolvWrite, WritesOneBitStringPerMoleculeInInputOrder) {
  WriteFile(dir_ / "in.smi",
            "CCO ethanol\nc1ccccc1Cl chloro benzene\nC[NH3+] methylammonium\n");
  const ZolvRun run = Write({dir_ / "in.smi", "--name"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.Lines(),
            (std::vector<std::string>{Bits({1, 3}) + "\tethanol",
                                      Bits({1, 4, 5}) + "\tchloro benzene",
                                      Bits({1, 2}) + "\tmethylammonium"}));
}

// A tab or line break in a name would move the fields and records after it.
TEST_F(ZolvWrite, EscapesTabsLineBreaksAndBackslashesInNames) {
  WriteFile(dir_ / "in.smi", "C a\tb\\c\rd\nCC plain\n");
  const ZolvRun run = Write({dir_ / "in.smi", "--name"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.Lines(),
            (std::vector<std::string>{Bits({1}) + "\ta\\tb\\\\c\\rd",
                                      Bits({1}) + "\tplain"}));
}

TEST_F(ZolvWrite, PrintsHexOfEveryByte) {
  const ZolvRun run =
      Write({"--smiles", "CN", "--encoding", "hex", "-o", "length=8"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, Hex(Bits({1, 2}, 8)) + "\n");
}

TEST_F(ZolvWrite, TheThreeEncodingsCarryTheSameBytes) {
  // "SBI" text holds raw bytes below 0x20.
  std::vector<std::string> lines;
  for (const char* encoding : {"text", "hex", "escaped"}) {
    const ZolvRun run = Write(
        {"--smiles", "OCCCl", "--encoding", encoding, "-o", "format=SBI"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(run.Lines().size(), 1u) << run.out;
    lines.push_back(run.Lines()[0]);
  }
  const std::string& bytes = lines[0];
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(lines[1], Hex(bytes));
  EXPECT_EQ(lines[2], EncodeRecord(bytes, RecordEncoding::kEscaped));
}

TEST_F(ZolvWrite, WarnsWhenATextRecordHoldsALineBreak) {
  // Screen 10 is the byte 0x0a in raw "SBI" text.
  DictionaryContent content;
  content.screens = {{10, {}, {}, "[#6]"}};
  ASSERT_TRUE(WriteDictionaryFile(dictionary_, content));
  const ZolvRun text = Write({"--smiles", "C", "-o", "format=SBI"});
  EXPECT_EQ(text.exitCode, 0);
  EXPECT_NE(text.err.find("line-break"), std::string::npos) << text.err;
  const ZolvRun hex =
      Write({"--smiles", "C", "-o", "format=SBI", "--encoding", "hex"});
  EXPECT_EQ(hex.err, "");
  EXPECT_EQ(hex.out.substr(0, 2), "0a") << hex.out;
}

TEST_F(ZolvWrite, AnUnreadableMoleculeIsReportedAndLeavesAnEmptyLine) {
  const std::string file = dir_ / "in.smi";
  WriteFile(file,
            "SMILES Name\nCCO ethanol\n\nC1CC broken ring\nCl chlorine\n");
  const ZolvRun run = Write({file, "--name"});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.Lines(), (std::vector<std::string>{
                             "\tName", Bits({1, 3}) + "\tethanol",
                             "\tbroken ring", Bits({5}) + "\tchlorine"}));
  EXPECT_NE(run.err.find("zolv: " + file + ":1: cannot read SMILES 'SMILES': "),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("zolv: " + file + ":4: cannot read SMILES 'C1CC': "),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("2 of 4 molecules skipped"), std::string::npos)
      << run.err;

  const ZolvRun single = Write({"--smarts", "[C", "-o", "object=query"});
  EXPECT_EQ(single.exitCode, 2);
  EXPECT_EQ(single.out, "\n");
  EXPECT_NE(single.err.find("--smarts: cannot read SMARTS '[C': "),
            std::string::npos)
      << single.err;
}

TEST_F(ZolvWrite, DamagedOrOversizedInputIsReportedAndLeavesAnEmptyLine) {
  const std::string methane =
      "m\n\n\n  1  0  0  0  0  0  0  0  0  0999 V2000\n"
      "    0.0000    0.0000    0.0000 C   0  0\nM  END\n";
  struct Case {
    const char* label;
    std::string file;
    std::string text;
    std::vector<std::string> arguments;
    std::vector<std::string> lines;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"NUL",
       "in.smi",
       std::string("CC\0O\nCl\n", 8),
       {},
       {"", Bits({5})},
       "in.smi:1: skipped: a NUL byte at column 3"},
      {"no $$$$",
       "in.sdf",
       methane + methane + "$$$$\n" + methane,
       {},
       {"", Bits({1})},
       "in.sdf:1: skipped: a second \"M  END\""},
      {"large",
       "in.smi",
       std::string(1001, 'C') + "\nCCO\n",
       {},
       {"", Bits({1, 3})},
       "in.smi:1: skipped: 1001 atoms, more than"},
      {"limit",
       "in.smi",
       "CCCO\nCl\n",
       {"--max-atoms", "3"},
       {"", Bits({5})},
       "in.smi:1: skipped: 4 atoms"},
      {"--smiles",
       "",
       "",
       {"--smiles", "CCCO", "--max-atoms", "3"},
       {""},
       "--smiles: skipped: 4 atoms"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<std::string> arguments = c.arguments;
    if (!c.file.empty()) {
      WriteFile(dir_ / c.file, c.text);
      arguments.push_back(dir_ / c.file);
    }
    const ZolvRun run = Write(arguments);
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_EQ(run.Lines(), c.lines);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  EXPECT_EQ(Write({"--smiles", "C", "--max-atoms", "-1"}).exitCode, 1);
}

TEST_F(ZolvWrite, RefusesADamagedDictionaryAndAnOverlongLength) {
  const std::string whole = testing::ReadFile(dictionary_);
  struct Case {
    const char* label;
    std::string bytes;  // of the dictionary; empty: the whole one
    std::string options;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"cut in half", whole.substr(0, whole.size() / 2), "",
       "not a usable screen dictionary"},
      {"header only", whole.substr(0, 8), "", "not a usable screen dictionary"},
      {"length", "", "length=2000000000", "more than 1000000 characters"},
      {"wrapping length", "", "length=99999999999",
       "more than 1000000 characters"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string path = dir_ / "damaged.vetorb";
    WriteFile(path, c.bytes.empty() ? whole : c.bytes);
    const ZolvRun run = RunZolv(
        {"write", "--dictionary", path, "--smiles", "CCO", "-o", c.options});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  const ZolvRun warned = Write({"--smiles", "CCO", "-o", "lenght=64"});
  EXPECT_EQ(warned.exitCode, 0);
  EXPECT_NE(warned.err.find("warning: option 'lenght' is not an option"),
            std::string::npos)
      << warned.err;
}

TEST_F(ZolvWrite, EveryCommandThatReadsMoleculesSkipsOnesAboveMaxAtoms) {
  const std::string file = dir_ / "in.smi";
  WriteFile(file, "CCO small\nCCCCCC large\n");
  const std::string db = dir_ / "index.db";
  const std::vector<std::vector<std::string>> commands = {
      {"write", "--dictionary", dictionary_, file},
      {"dict", "stats", dictionary_, "--molecules", file},
      {"index", db, file, "--dictionary", dictionary_},
      // Needs the index the command before wrote.
      {"search", db, "--smiles", "CCCCCC", "--dictionary", dictionary_},
  };
  for (std::vector<std::string> command : commands) {
    SCOPED_TRACE(command[0]);
    command.insert(command.end(), {"--max-atoms", "5"});
    const ZolvRun run = RunZolv(command);
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_NE(run.err.find("skipped: 6 atoms, more than the limit of 5"),
              std::string::npos)
        << run.err;
  }
}

TEST_F(ZolvWrite, ReadsGzipSdfAndStandardInputLikeSmilesFiles) {
  const std::vector<std::string> smiles = {"CCO", "c1ccccc1Cl", "NCC(=O)O"};
  std::string smi;
  std::string sdf;
  for (const std::string& text : smiles) {
    smi += text + " " + text + "\n";
    std::unique_ptr<RDKit::ROMol> mol(RDKit::SmilesToMol(text));
    ASSERT_TRUE(mol) << text;
    mol->setProp("_Name", text);
    sdf += RDKit::MolToMolBlock(*mol) + "$$$$\n";
  }
  WriteFile(dir_ / "in.smi", smi);
  testing::WriteGzipFile(dir_ / "in.smi.gz", smi);
  WriteFile(dir_ / "in.sdf", sdf);
  testing::WriteGzipFile(dir_ / "in.sdf.gz", sdf);
  WriteFile(dir_ / "in.txt", smi);

  const ZolvRun expected = Write({dir_ / "in.smi", "--name"});
  ASSERT_EQ(expected.exitCode, 0) << expected.err;
  ASSERT_EQ(expected.Lines().size(), smiles.size());
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{
           {dir_ / "in.smi.gz"},
           {dir_ / "in.sdf"},
           {dir_ / "in.sdf.gz"},
           {"--input-format", "smi", dir_ / "in.txt"},
           {"-"}}) {
    SCOPED_TRACE(arguments.back());
    std::vector<std::string> withName = arguments;
    withName.push_back("--name");
    const ZolvRun run = Write(withName, smi);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, expected.out);
  }

  // Inputs follow each other in command-line order.
  const ZolvRun mixed =
      Write({"--smiles", "Cl", dir_ / "in.sdf", "--smiles", "N"});
  EXPECT_EQ(mixed.exitCode, 0) << mixed.err;
  const std::vector<std::string> lines = mixed.Lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines.front(), Bits({5}));
  EXPECT_EQ(lines.back(), Bits({2}));
}

TEST_F(ZolvWrite, FatalErrorsExitWithOneAndSayWhatIsWrong) {
  WriteFile(dir_ / "empty.smi", "");
  WriteFile(dir_ / "in.smi", "CCO\n");
  WriteFile(dir_ / "in.csv", "CCO\n");
  WriteFile(dir_ / "not.vetorb", "NotOrb and more");
  struct Case {
    std::vector<std::string> arguments;  // after "write"
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"--dictionary", dictionary_, dir_ / "empty.smi"}, "the file is empty"},
      {{"--dictionary", dictionary_, dir_.path().string()}, "is a directory"},
      {{"--dictionary", dictionary_, dir_ / "none.smi"}, "no such file"},
      {{"--dictionary", dictionary_, dir_ / "in.csv"}, "unknown file type"},
      {{"--dictionary", dictionary_, "--input-format", "csv", dir_ / "in.smi"},
       "unknown input format"},
      {{"--dictionary", dictionary_}, "no input"},
      {{"--dictionary", dictionary_, "--encoding", "base64", dir_ / "in.smi"},
       "unknown encoding"},
      {{"--dictionary", dictionary_, "--bogus", dir_ / "in.smi"},
       "unknown option '--bogus'\nTry 'zolv write --help'"},
      {{"--dictionary", dir_ / "none.vetorb", dir_ / "in.smi"},
       "no such dictionary"},
      {{"--dictionary", dir_ / "not.vetorb", dir_ / "in.smi"},
       "not a screen dictionary"},
      {{"--dictionary", dictionary_, "-o", "screenfile='x.vetorb'",
        dir_ / "in.smi"},
       "both name a dictionary"},
      {{"--dictionary", dictionary_, "--driver", dir_ / "none.so",
        dir_ / "in.smi"},
       "cannot load the driver"},
      {{"--dictionary", dictionary_, "-o", "length=0", dir_ / "in.smi"},
       "\"length\" is zero or not a number (ZolvWrite result 12)"},
      {{"--dictionary", dictionary_, "-o", "length=abc", dir_ / "in.smi"},
       "result 12"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = c.arguments;
    arguments.insert(arguments.begin(), "write");
    const ZolvRun run = RunZolv(arguments);
    SCOPED_TRACE(run.err);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(c.message), std::string::npos);
  }
}

TEST_F(ZolvWrite, FindsTheDefaultDictionaryBesideTheDriver) {
  // A copy of the driver in a directory of its own, so that the test
  // controls what lies beside it.
  const fs::path driverDir = dir_.path() / "driver dir";
  fs::create_directory(driverDir);
  const fs::path driver = driverDir / fs::path(ZOLV_DRIVER_FILE).filename();
  fs::copy_file(ZOLV_DRIVER_FILE, driver);

  const ZolvRun missing =
      RunZolv({"write", "--driver", driver.string(), "--smiles", "CO"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find(kDefaultDictionaryName), std::string::npos)
      << missing.err;

  fs::copy_file(dictionary_, driverDir / kDefaultDictionaryName);
  const ZolvRun found =
      RunZolv({"write", "--driver", driver.string(), "--smiles", "CO"});
  EXPECT_EQ(found.exitCode, 0) << found.err;
  EXPECT_EQ(found.out, Bits({1, 3}) + "\n");

  // A "screenfile" option is the user's: passed as it is, relative to the
  // driver, with a warning when the driver will not find it.
  fs::copy_file(dictionary_, driverDir / "other.vetorb");
  const ZolvRun named =
      RunZolv({"write", "--driver", driver.string(), "--smiles", "N", "-o",
               "screenfile='other.vetorb' length=4"});
  EXPECT_EQ(named.exitCode, 0) << named.err;
  EXPECT_EQ(named.out, Bits({2}, 4) + "\n");
  const ZolvRun absent =
      RunZolv({"write", "--driver", driver.string(), "--smiles", "N", "-o",
               "screenfile='absent.vetorb' length=4"});
  EXPECT_EQ(absent.exitCode, 0);
  EXPECT_EQ(absent.out, "0000\n");
  EXPECT_NE(absent.err.find("will find no screens"), std::string::npos)
      << absent.err;
}

TEST_F(ZolvWrite, TakesADictionaryFromAnyPath) {
  const fs::path odd = dir_.path() / "it's a \"dir\"";
  fs::create_directory(odd);
  fs::copy_file(dictionary_, odd / "d.vetorb");
  WriteFile(dir_ / "q.smi", "CCl\n");
  // Both quote characters: the path cannot be quoted for the driver.
  const ZolvRun refused = RunZolv(
      {"write", "--dictionary", (odd / "d.vetorb").string(), dir_ / "q.smi"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("quote"), std::string::npos) << refused.err;

  const fs::path spaced = dir_.path() / "with space; and = sign";
  fs::create_directory(spaced);
  fs::copy_file(dictionary_, spaced / "d.vetorb");
  const ZolvRun run = RunZolv({"write", "--dictionary",
                               (spaced / "d.vetorb").string(), dir_ / "q.smi"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, Bits({1, 5}) + "\n");
}

TEST_F(ZolvWrite, WarnsWhenSmartsIsNotWrittenAsAQuery) {
  const ZolvRun run = Write({"--smarts", "[#6]-[#8]"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("object=query"), std::string::npos) << run.err;
  const ZolvRun query = Write({"--smarts", "[#6]-[#8]", "-o", "object=query"});
  EXPECT_EQ(query.exitCode, 0) << query.err;
  EXPECT_EQ(query.err, "");
  EXPECT_EQ(query.out, Bits({1, 3}) + "\n");
}

TEST(ZolvHelp, DescribesEveryOptionOfWrite) {
  const ZolvRun run = RunZolv({"write", "--help"});
  EXPECT_EQ(run.exitCode, 0);
  for (const OptionSpec& option : WriteCommandSpec().options) {
    EXPECT_NE(run.out.find("--" + option.name), std::string::npos)
        << option.name;
  }
  EXPECT_NE(run.out.find("Exit status"), std::string::npos);

  const ZolvRun overview = RunZolv({"--help"});
  EXPECT_EQ(overview.exitCode, 0);
  for (const char* command : {"write", "dict build", "dict dump"}) {
    EXPECT_NE(overview.out.find(command), std::string::npos) << command;
  }
  const ZolvRun unknown = RunZolv({"wrte"});
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_NE(unknown.err.find("unknown command 'wrte'"), std::string::npos);
  const ZolvRun group = RunZolv({"dict"});
  EXPECT_EQ(group.exitCode, 1);
  EXPECT_NE(group.err.find("build, dump"), std::string::npos) << group.err;
}

}  // namespace
}  // namespace zolv::host

#include "molecule_input.h"

#include <GraphMol/RWMol.h>
#include <GraphMol/SmilesParse/SmilesParse.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "test_files.h"

namespace zolv::host {
namespace {

using testing::TempDirectory;
using testing::WriteFile;
using testing::WriteGzipFile;

std::vector<std::string> AllLines(const std::string& path) {
  LineReader reader;
  std::string error;
  EXPECT_TRUE(reader.Open(path, &error)) << error;
  std::vector<std::string> lines;
  std::string line;
  while (reader.Next(&line)) {
    lines.push_back(line);
    EXPECT_EQ(reader.lineNumber(), lines.size());
  }
  EXPECT_EQ(reader.error(), "");
  return lines;
}

std::vector<InputRecord> AllRecords(const std::string& path,
                                    InputFormat format) {
  MoleculeReader reader;
  std::string error;
  EXPECT_TRUE(reader.Open(path, format, &error)) << error;
  std::vector<InputRecord> records;
  InputRecord record;
  while (reader.Next(&record)) records.push_back(record);
  EXPECT_EQ(reader.error(), "");
  return records;
}

TEST(LineReader, ReadsPlainAndGzippedFilesAlike) {
  TempDirectory dir;
  const std::string text = "first\r\nsecond\n\nlast without end";
  const std::vector<std::string> expected = {"first", "second", "",
                                             "last without end"};
  WriteFile(dir / "plain.smi", text);
  WriteGzipFile(dir / "packed.smi.gz", text);
  EXPECT_EQ(AllLines(dir / "plain.smi"), expected);
  EXPECT_EQ(AllLines(dir / "packed.smi.gz"), expected);
}

TEST(LineReader, ReadsLinesLongerThanItsReadChunk) {
  TempDirectory dir;
  const std::string longLine(200000, 'C');
  WriteFile(dir / "long.smi", "CC\n" + longLine + "\nN\n");
  EXPECT_EQ(AllLines(dir / "long.smi"),
            (std::vector<std::string>{"CC", longLine, "N"}));
}

TEST(LineReader, ReportsCorruptCompressedData) {
  TempDirectory dir;
  WriteGzipFile(dir / "good.gz", std::string(100000, 'x') + "\n");
  std::string bytes = testing::ReadFile(dir / "good.gz");
  bytes.resize(bytes.size() / 2);  // a compressed stream cut off midway
  WriteFile(dir / "cut.smi.gz", bytes);
  LineReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(dir / "cut.smi.gz", &error)) << error;
  std::string line;
  while (reader.Next(&line)) {
  }
  EXPECT_NE(reader.error(), "");
}

TEST(SmilesLine, SplitsSmilesFromTheTrimmedName) {
  struct Case {
    std::string line;
    bool hasRecord;
    std::string smiles;
    std::string name;
  };
  const std::vector<Case> cases = {
      {"CCO ethanol", true, "CCO", "ethanol"},
      {"CCO\tethyl alcohol, dry  ", true, "CCO", "ethyl alcohol, dry"},
      {"  c1ccccc1", true, "c1ccccc1", ""},
      {"SMILES Name", true, "SMILES", "Name"},
      {"", false, "", ""},
      {"  \t ", false, "", ""},
      {"# a comment", false, "", ""},
      {"  #indented comment", false, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::string smiles = "unset";
    std::string name = "unset";
    ASSERT_EQ(SplitSmilesLine(c.line, &smiles, &name), c.hasRecord);
    if (!c.hasRecord) continue;
    EXPECT_EQ(smiles, c.smiles);
    EXPECT_EQ(name, c.name);
  }
}

TEST(MoleculeReader, NumbersSmilesRecordsByTheirLineInTheFile) {
  TempDirectory dir;
  WriteGzipFile(dir / "in.smi.gz",
                "# header\nCCO ethanol\n\nc1ccccc1 benzene\n");
  const auto records = AllRecords(dir / "in.smi.gz", InputFormat::kSmiles);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].text, "CCO");
  EXPECT_EQ(records[0].name, "ethanol");
  EXPECT_EQ(records[0].line, 2u);
  EXPECT_EQ(records[1].text, "c1ccccc1");
  EXPECT_EQ(records[1].line, 4u);
}

TEST(MoleculeReader, SplitsSdRecordsAndKeepsTheirTitleAndFirstLine) {
  const std::string first =
      "methane\n  made by hand\n\n  1  0  0  0  0  0  0  0  0  0999 V2000\n"
      "    0.0000    0.0000    0.0000 C   0  0  0  0  0  0  0  0  0  0  0  0\n"
      "M  END\n";
  // A blank title is the common case in SD files from many programs.
  const std::string second =
      "\n\n\n  1  0  0  0  0  0  0  0  0  0999 V2000\n"
      "    0.0000    0.0000    0.0000 N   0  0  0  0  0  0  0  0  0  0  0  0\n"
      "M  END\n>  <note>\nkept\n\n";
  TempDirectory dir;
  // The last record lacks its "$$$$"; blank lines after the end are no record.
  WriteFile(dir / "in.sdf",
            first + "$$$$\r\n" + second + "$$$$\n" + first + "\n");
  const auto records = AllRecords(dir / "in.sdf", InputFormat::kSdf);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].text, first);
  EXPECT_EQ(records[0].name, "methane");
  EXPECT_EQ(records[0].line, 1u);
  EXPECT_EQ(records[1].text, second);
  EXPECT_EQ(records[1].name, "");
  EXPECT_EQ(records[1].line, 8u);
  EXPECT_EQ(records[2].text, first + "\n");
  EXPECT_EQ(records[2].line, 18u);

  WriteFile(dir / "two.sdf", first + "$$$$\n" + first + "$$$$\n\n\n");
  EXPECT_EQ(AllRecords(dir / "two.sdf", InputFormat::kSdf).size(), 2u);
}

// A molfile record of n carbons in a chain, V2000, with its "M  END".
std::string ChainMolfile(const std::string& title, int atoms) {
  std::string text = title + "\n  by hand\n\n";
  char counts[64];
  std::snprintf(counts, sizeof(counts),
                "%3d%3d  0  0  0  0  0  0  0  0999 V2000\n", atoms, atoms - 1);
  text += counts;
  for (int i = 0; i < atoms; ++i) {
    text += "    0.0000    0.0000    0.0000 C   0  0\n";
  }
  for (int i = 1; i < atoms; ++i) {
    std::snprintf(counts, sizeof(counts), "%3d%3d  1  0\n", i, i + 1);
    text += counts;
  }
  return text + "M  END\n";
}

TEST(MoleculeReader, GivesDamagedAndOversizedRecordsAProblemInTheirPlace) {
  const std::string one = ChainMolfile("one", 2);
  const std::string two = ChainMolfile("two", 3);
  struct Case {
    const char* label;
    InputFormat format;
    std::string text;
    std::size_t maxAtoms;
    // One entry a record: the text its problem must hold, "" for none.
    std::vector<std::string> problems;
    std::vector<std::size_t> lines;
  };
  const std::vector<Case> cases = {
      {"NUL in a SMILES",
       InputFormat::kSmiles,
       std::string("CC\0O nul\nCCO fine\n", 17),
       0,
       {"NUL byte at column 3", ""},
       {1, 2}},
      {"NUL in a name",
       InputFormat::kSmiles,
       std::string("CCO na\0me\n", 10),
       0,
       {"NUL byte at column 7"},
       {1}},
      {"SMILES over the limit",
       InputFormat::kSmiles,
       "CCCC four\n[CH3][NH2] two\nc1ccccc1Cl seven\n",
       4,
       {"", "", "7 atoms, more than the limit of 4"},
       {1, 2, 3}},
      {"missing $$$$",
       InputFormat::kSdf,
       one + two + "$$$$\n" + one + "$$$$\n",
       0,
       {"a second \"M  END\" on line 18 (the first on line 8)", ""},
       {1, 20}},
      {"NUL in an SD record",
       InputFormat::kSdf,
       one + "$$$$\n" + std::string("tw\0o", 4) + two.substr(3) + "$$$$\n",
       0,
       {"", "NUL byte on line 10"},
       {1, 10}},
      {"molfile over the limit",
       InputFormat::kSdf,
       one + "$$$$\n" + two + "$$$$\n",
       2,
       {"", "3 atoms, more than the limit of 2"},
       {1, 10}},
      {"V3000 over the limit",
       InputFormat::kSdf,
       "v3\n  x\n\n  0  0  0     0  0            999 V3000\n"
       "M  V30 BEGIN CTAB\nM  V30 COUNTS 12 11 0 0 0\nM  END\n$$$$\n",
       10,
       {"12 atoms, more than the limit of 10"},
       {1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempDirectory dir;
    WriteFile(dir / "in", c.text);
    MoleculeReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(dir / "in", c.format, &error)) << error;
    reader.SetMaxAtoms(c.maxAtoms);
    std::vector<InputRecord> records;
    InputRecord record;
    while (reader.Next(&record)) records.push_back(record);
    ASSERT_EQ(records.size(), c.problems.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(records[i].line, c.lines[i]);
      if (c.problems[i].empty()) {
        EXPECT_EQ(records[i].problem, "") << i;
      } else {
        EXPECT_NE(records[i].problem.find(c.problems[i]), std::string::npos)
            << i << ": " << records[i].problem;
      }
    }
  }
}

TEST(SdDataItems, ReadsEveryItemAfterTheMoleculeBlock) {
  const std::string block =
      "title\n  prog\n\n  1  0  0  0  0  0  0  0  0  0999 V2000\n"
      "    0.0000    0.0000    0.0000 C   0  0  0  0  0  0  0  0  0  0  0  0\n";
  struct Case {
    const char* name;
    std::string record;
    std::vector<search::DataItem> items;
  };
  const Case cases[] = {
      {"no items", block + "M  END\n", {}},
      {"header forms",
       block + "M  END\n>  <MW>\n16.04\n\n> 25 <MELT.PT> (DT12)\n-182\n\n"
               "> no brackets\nx\n\n",
       {{"MW", "16.04"}, {"MELT.PT", "-182"}, {"no brackets", "x"}}},
      {"lines of a value, an empty value, the last item unended",
       block + "M  END\n> <NOTE>\none\n two\n\n> <EMPTY>\n\n> <LAST>\nz\n",
       {{"NOTE", "one\n two"}, {"EMPTY", ""}, {"LAST", "z"}}},
      {"a name given twice stays twice here",
       block + "M  END\n> <A>\n1\n\n> <A>\n2\n\n",
       {{"A", "1"}, {"A", "2"}}},
      {"nothing before M  END is an item",
       "> <title line>\n  prog\n\n  0  0  0  0  0  0  0  0  0  0999 V2000\n"
       "M  END\n",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<search::DataItem> items = ReadSdDataItems(c.record);
    ASSERT_EQ(items.size(), c.items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(items[i].name, c.items[i].name);
      EXPECT_EQ(items[i].value, c.items[i].value);
    }
  }
}

TEST(MoleculeText, CountsTheAtomsRdkitReads) {
  // Element symbols of one and two letters, aromatic atoms, bracket atoms
  // with letters inside, charges, isotopes and ring closures.
  for (const std::string smiles :
       {"CCO", "ClCBr", "c1ccccc1Cl", "[NH4+].[Cl-]", "[13CH3]C(=O)[O-]",
        "c1ccc2[nH]ccc2c1", "OC(=O)[C@@H](N)Cc1ccc(O)cc1", "FC(F)(F)S(=O)(=O)I",
        "[Na+].[Sc]", "B1OCO1", "C%12CCCC%12", "*C*", "[2H]OP(=O)(O)O"}) {
    std::unique_ptr<RDKit::RWMol> mol(RDKit::SmilesToMol(smiles, 0, false));
    ASSERT_NE(mol, nullptr) << smiles;
    EXPECT_EQ(CountSmilesAtoms(smiles), mol->getNumAtoms()) << smiles;
  }
  EXPECT_EQ(CountSmilesAtoms("[C;$([C](=O)O)]C[a]"), 3u);
  EXPECT_EQ(MolfileAtomCount(ChainMolfile("t", 123)), 123u);
  EXPECT_EQ(MolfileAtomCount("a\nb\n"), std::nullopt);
}

TEST(InputFormat, FollowsTheExtensionThroughGzip) {
  struct Case {
    std::string name;
    std::optional<InputFormat> format;
  };
  const std::vector<Case> cases = {
      {"a.smi", InputFormat::kSmiles},
      {"dir.sdf/a.SMILES", InputFormat::kSmiles},
      {"a.smi.gz", InputFormat::kSmiles},
      {"a.sdf", InputFormat::kSdf},
      {"a.SDF.GZ", InputFormat::kSdf},
      {"a.sd", InputFormat::kSdf},
      {"a.mol", InputFormat::kSdf},
      {"a.txt", std::nullopt},
      {"a.gz", std::nullopt},
      {"smi", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FormatFromFileName(c.name), c.format);
  }
  EXPECT_EQ(ParseInputFormat("SDF"), InputFormat::kSdf);
  EXPECT_EQ(ParseInputFormat("smi"), InputFormat::kSmiles);
  EXPECT_EQ(ParseInputFormat("csv"), std::nullopt);
}

TEST(InputFile, ExplainsWhyAFileCannotBeRead) {
  TempDirectory dir;
  WriteFile(dir / "empty.smi", "");
  WriteFile(dir / "one.smi", "C\n");
  EXPECT_EQ(CheckInputFile(dir / "one.smi"), std::nullopt);
  EXPECT_EQ(CheckInputFile("-"), std::nullopt);
  EXPECT_EQ(CheckInputFile(dir / "empty.smi"), "the file is empty");
  EXPECT_EQ(CheckInputFile(dir / "missing.smi"), "no such file");
  EXPECT_EQ(CheckInputFile(dir.path().string()),
            "is a directory, not a molecule file");
}

}  // namespace
}  // namespace zolv::host

// zolv index and zolv search as the user runs them: the built program, the
// driver beside it and the default dictionary.
#include "search_command.h"

#include <GraphMol/FileParsers/FileParsers.h>
#include <GraphMol/FileParsers/MolSupplier.h>
#include <GraphMol/ROMol.h>
#include <GraphMol/SmilesParse/SmilesParse.h>
#include <GraphMol/SmilesParse/SmilesWrite.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "database_option.h"
#include "dictionary_format.h"
#include "index_writing.h"
#include "text_store.h"
#include "zolv_runner.h"

namespace zolv::host {
namespace {

using testing::RunProgram;
using testing::RunZolv;
using testing::TempDirectory;
using testing::WriteFile;
using testing::ZolvRun;

// Three molecules with chlorine, three without.
constexpr char kTargets[] =
    "c1ccccc1Cl chlorobenzene\n"
    "ClCCCl dichloroethane\n"
    "OC(=O)c1ccc(Cl)cc1 chlorobenzoic_acid\n"
    "CCO ethanol\n"
    "OC(=O)c1ccccc1 benzoic_acid\n"
    "c1ccncc1 pyridine\n";

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The hit lines of a search: "SMILES<tab>name".
std::vector<std::string> Hits(const ZolvRun& run) {
  std::vector<std::string> hits;
  for (const std::string& line : run.Lines()) {
    if (!line.empty() && line[0] != '#') hits.push_back(line);
  }
  return hits;
}

class SearchCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(targets_, kTargets);
    const ZolvRun run = RunZolv({"index", database_, targets_});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_TRUE(Contains(run.err, "6 molecules stored")) << run.err;
  }

  TempDirectory dir_;
  std::string targets_ = dir_ / "targets.smi";
  std::string database_ = dir_ / "targets.db";
};

TEST_F(SearchCommandTest, FindsEveryHitInEveryPatternForm) {
  const std::vector<std::string> chlorine = {
      "c1ccccc1Cl\tchlorobenzene", "ClCCCl\tdichloroethane",
      "OC(=O)c1ccc(Cl)cc1\tchlorobenzoic_acid"};
  for (const char* variant : {"raw", "alphabet"}) {
    for (const char* dialect : {"access", "odbc"}) {
      const ZolvRun run =
          RunZolv({"search", database_, "--smiles", "Cl", "--variant", variant,
                   "--dialect", dialect, "--verify"});
      SCOPED_TRACE(std::string(variant) + " " + dialect);
      EXPECT_EQ(run.exitCode, 0) << run.err;
      EXPECT_EQ(Hits(run), chlorine);
      ASSERT_FALSE(run.Lines().empty());
      EXPECT_EQ(run.Lines().back().rfind("# candidates ", 0), 0u)
          << run.Lines().back();
      EXPECT_TRUE(Contains(run.Lines().back(),
                           ", hits 3, precision 1.000, screen-out 1.0000, "))
          << run.Lines().back();
      EXPECT_TRUE(
          Contains(run.Lines().back(), "true hits 3, false negatives 0"))
          << run.Lines().back();
    }
  }
  const ZolvRun smarts =
      RunZolv({"search", database_, "--smarts", "[OH]C(=O)c"});
  EXPECT_EQ(smarts.exitCode, 0) << smarts.err;
  EXPECT_EQ(Hits(smarts),
            (std::vector<std::string>{"OC(=O)c1ccc(Cl)cc1\tchlorobenzoic_acid",
                                      "OC(=O)c1ccccc1\tbenzoic_acid"}));
}

TEST_F(SearchCommandTest, StopsEachQueryAfterMaxHits) {
  const ZolvRun all = RunZolv({"search", database_, "--smiles", "Cl"});
  ASSERT_EQ(all.exitCode, 0) << all.err;
  const std::vector<std::string> every = Hits(all);
  ASSERT_EQ(every.size(), 3u);
  struct Case {
    const char* maxHits;
    std::size_t hits;
    const char* note;  // in the summary; empty: none
  };
  for (const Case& c : {Case{"1", 1, "; stopped after 1 hits, 2 candidates"},
                        Case{"2", 2, "; stopped after 2 hits, 1 candidates"},
                        Case{"3", 3, ""}, Case{"9", 3, ""}}) {
    SCOPED_TRACE(c.maxHits);
    const ZolvRun run = RunZolv(
        {"search", database_, "--smiles", "Cl", "--max-hits", c.maxHits});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Hits(run),
              std::vector<std::string>(every.begin(), every.begin() + c.hits));
    EXPECT_EQ(Contains(run.out, "stopped"), *c.note != '\0') << run.out;
    EXPECT_TRUE(Contains(run.out, c.note)) << run.out;
    const ZolvRun count =
        RunZolv({"search", database_, "--smiles", "Cl", "--smiles", "C(",
                 "--smiles", "c1ccncc1", "--max-hits", c.maxHits, "--count"});
    EXPECT_EQ(count.exitCode, 2) << count.err;
    EXPECT_EQ(count.out, std::to_string(c.hits) + "\n-\n1\n");
  }
  for (const char* bad : {"0", "-1", "x"}) {
    EXPECT_EQ(
        RunZolv({"search", database_, "--smiles", "Cl", "--max-hits", bad})
            .exitCode,
        1);
  }
  EXPECT_EQ(RunZolv({"search", database_, "--smiles", "Cl", "--max-hits", "1",
                     "--verify"})
                .exitCode,
            1);
}

// What no input file can carry: names with line breaks.
TEST(SearchCommand, EscapesNamesInEveryHitFormat) {
  struct Case {
    HitFormat format;
    const char* name;
    const char* line;
  };
  const Case cases[] = {
      {HitFormat::kSmi, "a\nb\rc\td\\e", "CC\ta\\nb\\rc\\td\\\\e\n"},
      {HitFormat::kCsv, "a\nb", "7,\"a\nb\",CC,\r\n"},
      {HitFormat::kCsv, "plain", "7,plain,CC,\r\n"},
      {HitFormat::kJson, "a\nb\x01\"\x7f",
       "{\"id\":7,\"name\":\"a\\nb\\u0001\\\"\\u007f\",\"smiles\":\"CC\"}\n"},
      {HitFormat::kJson, "\xc3\xa9\xc3\x28\xf4\x90\x80\x80\xe2\x82\xac",
       "{\"id\":7,\"name\":\"\xc3\xa9\\udcc3(\\udcf4\\udc90\\udc80\\udc80"
       "\xe2\x82\xac\",\"smiles\":\"CC\"}\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatHit({7, c.name, "CC", "", ""}, c.format, false, 1), c.line);
  }
  EXPECT_EQ(FormatHit({7, "n", "CC", "", ""}, HitFormat::kJson, true, 2),
            "{\"query\":2,\"id\":7,\"name\":\"n\",\"smiles\":\"CC\"}\n");
}

TEST_F(SearchCommandTest, SearchesManyQueriesAndAddsThemUp) {
  WriteFile(dir_ / "queries.smi", "Cl chlorine\nc1ccccc1 benzene\nC1CC bad\n");
  const ZolvRun run = RunZolv({"search", database_, "--queries",
                               dir_ / "queries.smi", "--no-hits", "--verify"});
  EXPECT_EQ(run.exitCode, 2) << run.err;  // the unreadable query
  EXPECT_TRUE(Contains(run.err, "queries.smi:3")) << run.err;
  EXPECT_TRUE(Hits(run).empty());
  ASSERT_FALSE(run.Lines().empty());
  EXPECT_TRUE(Contains(run.Lines().back(), "# total of 2 queries: "))
      << run.Lines().back();
  // 3 with chlorine and 3 with a benzene ring among the 6 targets.
  EXPECT_TRUE(Contains(run.Lines().back(), "true hits 6, false negatives 0"))
      << run.Lines().back();
}

TEST_F(SearchCommandTest, RefusesToReplaceAnIndexUnlessAsked) {
  ZolvRun run = RunZolv({"index", database_, targets_});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(Contains(run.err, "--replace")) << run.err;
  run = RunZolv({"index", database_, targets_, "--replace"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
}

TEST_F(SearchCommandTest, RefusesADictionaryOtherThanTheIndexs) {
  DictionaryContent other;
  DictionaryScreen screen;
  screen.number = 1;
  screen.stored = "[#7]";
  other.screens.push_back(screen);
  ASSERT_TRUE(WriteDictionaryFile(dir_ / "other.vetorb", other));
  const ZolvRun run = RunZolv({"search", database_, "--smiles", "Cl",
                               "--dictionary", dir_ / "other.vetorb"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(Contains(run.err, "not the dictionary the index was written"))
      << run.err;
}

TEST_F(SearchCommandTest, FailsClearlyWithoutAnIndex) {
  ZolvRun run = RunZolv({"search", dir_ / "missing.db", "--smiles", "C"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(Contains(run.err, "missing.db")) << run.err;
  run = RunZolv({"search", "--postgres", "host=/nonexistent dbname=x",
                 "--smiles", "C", "--builtin"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(Contains(run.err, "SQLite")) << run.err;
}

// A text cut short by its "length" loses the formula symbols at its end, and
// a query that needs them then misses the target: the index reports each cut
// target, and a verified search shows the loss.
TEST(SearchCommand, ReportsCutTextsAndTheHitsTheyLose) {
  TempDirectory dir;
  WriteFile(dir / "targets.smi", kTargets);
  ZolvRun run =
      RunZolv({"index", dir / "cut.db", dir / "targets.smi", "--length", "6"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  // Whether the alphabet text is cut as well depends on the dictionary.
  EXPECT_TRUE(Contains(run.err, "targets.smi:1 (chlorobenzene): raw "))
      << run.err;
  std::string error;
  auto store =
      search::OpenSqliteStore(dir / "cut.db", search::OpenMode::kRead, &error);
  ASSERT_TRUE(store) << error;
  std::optional<std::string> cut;
  ASSERT_TRUE(store->GetSetting(search::kSettingCutCount, &cut, &error))
      << error;
  ASSERT_TRUE(cut);
  EXPECT_NE(*cut, "0");

  run = RunZolv({"search", dir / "cut.db", "--smiles", "Cl", "--verify"});
  EXPECT_EQ(run.exitCode, kExitFalseNegatives) << run.err;
  EXPECT_TRUE(Contains(run.out, "# missed: c1ccccc1Cl\tchlorobenzene"))
      << run.out;
}

TEST(SearchCommand, IndexesSdRecordsAndLeavesOutUnreadableMolecules) {
  TempDirectory dir;
  std::unique_ptr<RDKit::ROMol> molecule(RDKit::SmilesToMol("ClCC(=O)O"));
  ASSERT_TRUE(molecule);
  molecule->setProp("_Name", "chloroacetic_acid");
  WriteFile(dir / "targets.sdf", RDKit::MolToMolBlock(*molecule) + "$$$$\n");
  WriteFile(dir / "more.smi", "C1CC broken\nCCCl chloroethane\n");
  ZolvRun run =
      RunZolv({"index", dir / "t.db", dir / "targets.sdf", dir / "more.smi"});
  EXPECT_EQ(run.exitCode, 2) << run.err;
  EXPECT_TRUE(Contains(run.err, "more.smi:1 (broken)")) << run.err;
  EXPECT_TRUE(Contains(run.err, "2 molecules stored")) << run.err;

  run = RunZolv({"search", dir / "t.db", "--smiles", "ClC", "--verify"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Hits(run), (std::vector<std::string>{"O=C(O)CCl\tchloroacetic_acid",
                                                 "CCCl\tchloroethane"}));
}

// The hits as SD records, read back with RDKit's SD reader: each the hit's
// molecule, titled with its name, with its row id, the query's number, and
// the data items of the SD record it was indexed from.
TEST(SearchCommand, SdfHitsReadBackWithRdkitsSdReader) {
  TempDirectory dir;
  std::unique_ptr<RDKit::ROMol> acid(RDKit::SmilesToMol("ClCC(=O)O"));
  ASSERT_TRUE(acid);
  acid->setProp("_Name", "chloroacetic acid");
  WriteFile(dir / "targets.sdf",
            RDKit::MolToMolBlock(*acid) +
                "> <MW>\n94.5\n\n> <NOTE>\ntwo\nlines\n\n> <MW>\n94.50\n\n"
                "$$$$\n");
  WriteFile(dir / "more.smi", "CCCl chloro\tethane\nCCO ethanol\n");
  ZolvRun run =
      RunZolv({"index", dir / "t.db", dir / "targets.sdf", dir / "more.smi"});
  ASSERT_EQ(run.exitCode, 0) << run.err;

  struct Hit {
    std::string name;
    std::string smiles;  // as RDKit writes it
    std::map<std::string, std::string> items;
  };
  const Hit acidHit = {
      "chloroacetic acid",
      "O=C(O)CCl",
      {{"zolv_id", "1"}, {"MW", "94.5\n94.50"}, {"NOTE", "two\nlines"}}};
  const Hit chloroHit = {"chloro\tethane", "CCCl", {{"zolv_id", "2"}}};
  struct Case {
    std::vector<std::string> queries;
    std::vector<Hit> hits;  // each with zolv_query when there are several
  };
  Hit acidFirst = acidHit;
  acidFirst.items["zolv_query"] = "1";
  Hit acidSecond = acidHit;
  acidSecond.items["zolv_query"] = "2";
  Hit chloroFirst = chloroHit;
  chloroFirst.items["zolv_query"] = "1";
  const Case cases[] = {
      {{"--smiles", "ClC"}, {acidHit, chloroHit}},
      {{"--smiles", "ClC", "--smarts", "C(=O)[OH]"},
       {acidFirst, chloroFirst, acidSecond}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = {"search", dir / "t.db", "--format",
                                          "sdf"};
    arguments.insert(arguments.end(), c.queries.begin(), c.queries.end());
    run = RunZolv(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Contains(run.err, "# candidates")) << "summaries on stderr";
    RDKit::SDMolSupplier reader;
    reader.setData(run.out);
    std::size_t read = 0;
    while (!reader.atEnd()) {
      std::unique_ptr<RDKit::ROMol> molecule(reader.next());
      ASSERT_TRUE(molecule) << run.out;
      ASSERT_LT(read, c.hits.size()) << run.out;
      const Hit& hit = c.hits[read++];
      EXPECT_EQ(molecule->getProp<std::string>("_Name"), hit.name);
      EXPECT_EQ(RDKit::MolToSmiles(*molecule), hit.smiles);
      EXPECT_FALSE(molecule->getConformer().is3D());
      std::map<std::string, std::string> items;
      for (const std::string& key : molecule->getPropList(false, false)) {
        items[key] = molecule->getProp<std::string>(key);
      }
      EXPECT_EQ(items, hit.items);
    }
    EXPECT_EQ(read, c.hits.size());
  }
}

// The index records where its dictionary was and what it held: a search
// from anywhere finds it there, or a dictionary of that digest beside the
// driver, or names the one that is missing.
TEST(SearchCommand, FindsTheIndexsDictionaryByPathAndDigest) {
  TempDirectory dir;
  WriteFile(dir / "targets.smi", kTargets);
  const std::string beside =
      (std::filesystem::path(ZOLV_PROGRAM_FILE).parent_path() /
       "default.vetorb")
          .string();
  DictionaryContent chlorine;
  chlorine.screens = {{1, {}, {}, "[Cl]"}};
  ASSERT_TRUE(WriteDictionaryFile(dir / "chlorine.vetorb", chlorine));
  DictionaryContent nitrogen;
  nitrogen.screens = {{1, {}, {}, "[#7]"}};
  struct Case {
    const char* name;
    std::string dictionary;  // what the index is written with
    // What happens to it afterwards.
    std::function<void(const std::string&)> change;
    int exitCode;
    std::vector<std::string> messages;
  };
  const auto remove = [](const std::string& path) {
    std::filesystem::remove(path);
  };
  const Case cases[] = {
      {"still there",
       dir / "chlorine.vetorb",
       [](const std::string&) {},
       0,
       {}},
      {"gone, its copy beside the driver",
       dir / "copy.vetorb",
       remove,
       0,
       {"copy.vetorb is gone; using " + beside}},
      {"gone, nothing like it beside the driver",
       dir / "chlorine.vetorb",
       remove,
       1,
       {"written with the dictionary " + dir / "chlorine.vetorb" +
            " (digest fnv1a64:",
        "is no longer there", "give the dictionary with --dictionary"}},
      {"now another dictionary",
       dir / "chlorine.vetorb",
       [&](const std::string& path) {
         ASSERT_TRUE(WriteDictionaryFile(path, nitrogen));
       },
       1,
       {"now holds another dictionary (digest fnv1a64:"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::copy_file(
        beside, dir / "copy.vetorb",
        std::filesystem::copy_options::overwrite_existing);
    if (!std::filesystem::exists(dir / "chlorine.vetorb")) {
      ASSERT_TRUE(WriteDictionaryFile(dir / "chlorine.vetorb", chlorine));
    }
    ZolvRun run = RunZolv({"index", "--replace", dir / "t.db",
                           dir / "targets.smi", "--dictionary", c.dictionary});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    c.change(c.dictionary);
    // From another directory, so that nothing relative could be found.
    run =
        RunProgram("/bin/sh", {"-c", "cd / && \"$0\" \"$@\"", ZOLV_PROGRAM_FILE,
                               "search", dir / "t.db", "--smiles", "Cl"});
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    for (const std::string& message : c.messages) {
      EXPECT_TRUE(Contains(run.err, message)) << run.err;
    }
    if (c.exitCode == 0) {
      EXPECT_EQ(Hits(run).size(), 3u) << run.out;
    }
    std::filesystem::remove(dir / "chlorine.vetorb");
  }
}

}  // namespace
}  // namespace zolv::host

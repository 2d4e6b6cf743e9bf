#include "substructure_check.h"

#include <GraphMol/ROMol.h>
#include <GraphMol/SmilesParse/SmilesParse.h>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace zolv::search {
namespace {

TEST(SubstructureCheck, ConfirmsSmilesAndSmartsQueries) {
  struct Case {
    QueryKind kind;
    std::string query;
    std::string target;
    bool contained;
  };
  const std::vector<Case> cases = {
      {QueryKind::kSmiles, "c1ccccc1Cl", "Clc1ccc(Br)cc1", true},
      {QueryKind::kSmiles, "c1ccccc1Cl", "ClC1CCCCC1", false},
      {QueryKind::kSmiles, "CCO", "OCCN", true},
      {QueryKind::kSmiles, "FC(F)(F)F", "FC(F)F", false},
      {QueryKind::kSmarts, "[#6]~[#7]", "CC#N", true},
      {QueryKind::kSmarts, "[Cl,Br]c", "c1ccccc1Br", true},
      {QueryKind::kSmarts, "[Cl,Br]c", "c1ccccc1I", false},
  };
  TargetMolecules targets;
  std::int64_t id = 0;
  for (const Case& c : cases) {
    std::string error;
    auto query = SubstructureQuery::Parse(c.kind, c.query, &error);
    ASSERT_TRUE(query) << c.query << ": " << error;
    const RDKit::ROMol* target = targets.Get(++id, c.target);
    ASSERT_NE(target, nullptr) << c.target;
    EXPECT_EQ(query->IsIn(*target), c.contained)
        << c.query << " in " << c.target;
  }
}

TEST(SubstructureCheck, RefusesUnreadableQueries) {
  std::string error;
  EXPECT_FALSE(SubstructureQuery::Parse(QueryKind::kSmiles, "C1CC", &error));
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_FALSE(SubstructureQuery::Parse(QueryKind::kSmarts, "[C", &error));
  EXPECT_FALSE(error.empty());
}

TEST(SubstructureCheck, ParsesEachTargetOnceAndRemembersFailures) {
  TargetMolecules targets;
  const RDKit::ROMol* first = targets.Get(1, "CCO");
  ASSERT_NE(first, nullptr);
  // Later calls return the same molecule, whatever text they bring.
  EXPECT_EQ(targets.Get(1, "not read again"), first);
  EXPECT_EQ(targets.Get(2, "C1CC"), nullptr);
  EXPECT_EQ(targets.Get(2, "C1CC"), nullptr);
  EXPECT_TRUE(targets.Has(2));
  EXPECT_FALSE(targets.Has(3));
  EXPECT_EQ(targets.unreadable(), 1u);
}

// The stored form and the quicker parse answer every query as RDKit's plain
// parse of the SMILES does, which stays the truth of a search.
TEST(SubstructureCheck, StoredMoleculesAnswerAsTheirSmiles) {
  constexpr char kNciSample[] = "/usr/share/RDKit/Data/NCI/first_5K.smi";
  std::ifstream nci(kNciSample);
  if (!nci) GTEST_SKIP() << kNciSample << " is missing";
  struct Query {
    QueryKind kind;
    const char* text;
  };
  const Query queries[] = {
      {QueryKind::kSmiles, "c1ccccc1"}, {QueryKind::kSmiles, "C(=O)O"},
      {QueryKind::kSmiles, "c1ccncc1"}, {QueryKind::kSmarts, "[N+](=O)[O-]"},
      {QueryKind::kSmiles, "C1CCCCC1"}, {QueryKind::kSmiles, "C=CC"},
      {QueryKind::kSmiles, "ClC"},      {QueryKind::kSmarts, "[#6;R2]"},
      {QueryKind::kSmarts, "[OX2H]"},   {QueryKind::kSmarts, "[$(C=O)]N"},
      {QueryKind::kSmarts, "[r5]"},     {QueryKind::kSmarts, "[C@H]"},
  };
  std::vector<std::unique_ptr<SubstructureQuery>> parsed;
  for (const Query& query : queries) {
    std::string error;
    parsed.push_back(SubstructureQuery::Parse(query.kind, query.text, &error));
    ASSERT_TRUE(parsed.back()) << query.text << ": " << error;
  }
  std::string line;
  int compared = 0;
  std::vector<int> found(parsed.size(), 0);
  for (int n = 0; n < 400 && std::getline(nci, line); ++n) {
    const std::string smiles = line.substr(0, line.find_first_of(" \t"));
    const std::unique_ptr<RDKit::ROMol> truth(RDKit::SmilesToMol(smiles));
    if (!truth) continue;
    std::string error;
    const std::string stored = StoredMolecule(smiles, &error);
    ASSERT_FALSE(stored.empty()) << smiles << ": " << error;
    const std::unique_ptr<RDKit::ROMol> quick = ParseTarget(smiles, &error);
    ASSERT_TRUE(quick) << smiles << ": " << error;
    HeldMolecules held;
    held.Resize(1);
    held.Read(0, stored, "");
    for (std::size_t q = 0; q < parsed.size(); ++q) {
      const bool expected = parsed[q]->IsIn(*truth);
      found[q] += expected ? 1 : 0;
      SCOPED_TRACE(std::string(queries[q].text) + " in " + smiles);
      EXPECT_EQ(parsed[q]->IsInStored(stored, ""), expected);
      EXPECT_EQ(parsed[q]->IsIn(*quick), expected);
      EXPECT_EQ(held.Contain(0, *parsed[q]), expected);
    }
    ++compared;
  }
  EXPECT_EQ(compared, 400);
  // Every query is found somewhere and missed somewhere, so that both
  // answers were compared.
  for (std::size_t q = 0; q < parsed.size(); ++q) {
    EXPECT_GT(found[q], 0) << queries[q].text;
    EXPECT_LT(found[q], compared) << queries[q].text;
  }
}

// Stored molecules are written on the threads of zolv index: SMILES with
// stereo marks and without, side by side, must give each thread the bytes
// that one thread gives (the stereo perception is one choice per process,
// which a parse that asks for another switches while it runs).
TEST(SubstructureCheck, StoredMoleculesAreTheSameOnEveryThread) {
  // Exocyclic double bonds, whose stereo atoms the two perceptions pick
  // differently, between molecules without stereo marks.
  const std::vector<std::string> kinds = {
      "CCCC[NH+](CCCC)Cc1c([O-])cc(C)c2c1O/C(=C\\C=C\\c1ccccc1)C2=O",
      "CCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCC",
      "Cc1cc2c(c3c1C(=O)/C(=C/c1ccc(Br)cc1)O3)CN(CCCc1ccccc1)CO2",
      "O=C1CCC(=O)N1CCCCCCCCCCCCCC",
      "CCCC[NH+](C)Cc1c([O-])cc(C)c2c1O/C(=C\\c1cc(Cl)cc3c1OCOC3)C2=O",
      "C[C@H](N)C(=O)O"};
  std::vector<std::string> smiles;
  for (int i = 0; i < 600; ++i) smiles.push_back(kinds[i % kinds.size()]);
  const auto storeAll = [&](std::size_t threads) {
    std::vector<std::string> stored(smiles.size());
    std::vector<std::thread> workers;
    for (std::size_t t = 0; t < threads; ++t) {
      workers.emplace_back([&, t] {
        for (std::size_t i = t; i < smiles.size(); i += threads) {
          std::string error;
          stored[i] = StoredMolecule(smiles[i], &error);
        }
      });
    }
    for (std::thread& worker : workers) worker.join();
    return stored;
  };
  const std::vector<std::string> alone = storeAll(1);
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    ASSERT_FALSE(alone[i].empty()) << smiles[i];
  }
  for (int round = 0; round < 3; ++round) {
    const std::vector<std::string> together = storeAll(4);
    for (std::size_t i = 0; i < smiles.size(); ++i) {
      ASSERT_EQ(together[i], alone[i]) << "molecule " << i << ": " << smiles[i];
    }
  }
}

TEST(SubstructureCheck, ReadsTheSmilesWhenTheStoredFormDoesNotRead) {
  std::string error;
  const std::string ethanol = StoredMolecule("CCO", &error);
  ASSERT_FALSE(ethanol.empty()) << error;
  auto hydroxyl = SubstructureQuery::Parse(QueryKind::kSmarts, "[OH]", &error);
  ASSERT_TRUE(hydroxyl) << error;
  struct Case {
    std::string molecule;
    std::string smiles;
    bool contains;
  };
  const Case cases[] = {
      {ethanol, "", true},
      {ethanol, "CC", true},  // the stored form wins over the SMILES
      {"", "CCO", true},
      {std::string("\0\xff garbage", 10), "CCO", true},
      {std::string("\0\xff garbage", 10), "CC", false},
      {"", "C1CC", false},  // neither reads
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hydroxyl->IsInStored(c.molecule, c.smiles), c.contains)
        << c.smiles << " with " << c.molecule.size() << " stored bytes";
  }
  EXPECT_TRUE(StoredMolecule("C1CC", &error).empty());
  EXPECT_FALSE(error.empty());
}

TEST(SubstructureCheck, WritesMolfilesAsSmiles) {
  const std::string ethanol =
      "ethanol\n     RDKit          2D\n\n"
      "  3  2  0  0  0  0  0  0  0  0999 V2000\n"
      "    0.0000    0.0000    0.0000 C   0  0  0  0  0  0  0  0  0  0  0  0\n"
      "    1.2990    0.7500    0.0000 C   0  0  0  0  0  0  0  0  0  0  0  0\n"
      "    2.5981   -0.0000    0.0000 O   0  0  0  0  0  0  0  0  0  0  0  0\n"
      "  1  2  1  0\n  2  3  1  0\nM  END\n";
  std::string error;
  EXPECT_EQ(MolfileToSmiles(ethanol, &error), "CCO") << error;
  EXPECT_EQ(MolfileToSmiles("garbage", &error), "");
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace zolv::search

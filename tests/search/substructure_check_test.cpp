#include "substructure_check.h"

#include <gtest/gtest.h>

#include <string>
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

#include "bench_data.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zolv::bench {
namespace {

std::vector<BenchMolecule> Molecules(const std::vector<SmilesEntry>& entries) {
  std::size_t refused = 0;
  std::vector<BenchMolecule> molecules =
      ParseMolecules(entries, rdcore::MoleculeRole::kTarget, &refused);
  EXPECT_EQ(refused, 0u);
  return molecules;
}

TEST(Fingerprints, SubsetTestFollowsTheBits) {
  const std::vector<SmilesEntry> entries = {{"c1ccccc1Cl", "", 1},
                                            {"Clc1ccc(Br)cc1", "", 2}};
  const std::vector<BenchMolecule> molecules = Molecules(entries);
  const Fingerprint small = PatternFingerprint(*molecules[0].rdkit);
  const Fingerprint large = PatternFingerprint(*molecules[1].rdkit);
  ASSERT_EQ(small.size(), kFingerprintBits / 64);
  EXPECT_TRUE(IsSubset(small, large));
  EXPECT_FALSE(IsSubset(large, small));
  EXPECT_TRUE(HasSubstructure(*molecules[1].rdkit, *molecules[0].rdkit));
}

}  // namespace
}  // namespace zolv::bench

// Substructure search, match maps, atom sets, the screen cache and threads,
// through the core library's objects.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core_handle.h"
#include "rdcore_test_util.h"
#include "screen_set.h"
#include "typical_screens.h"

namespace zolv::testing {
namespace {

struct OccurrenceCase {
  const char* screen;    // stored SMARTS
  const char* molecule;  // SMILES
  bool occurs;
};

TEST(CoreMatcher, SearchesScreensWithRDKitSemantics) {
  const OccurrenceCase cases[] = {
      {"c1ccccc1", "Cc1ccccc1", true},
      {"C1CCCCC1", "Cc1ccccc1", false},  // aliphatic ring atoms
      {"[#6]1~[#6]~[#6]~[#6]~[#6]~[#6]~1", "Cc1ccccc1", true},
      {"[OH]", "CCO", true},
      {"[OH]", "COC", false},
      {"[N+](=O)[O-]", "c1ccccc1[N+](=O)[O-]", true},
      {"[#7+]", "CN", false},
      {"C(=O)[OH]", "CC(=O)O", true},
      {"C(=O)[OH]", "CC(=O)[O-]", false},
      {"[$(C=O)]", "CC(=O)C", true},
      {"[$(C=O)]", "CCO", false},
      {"[#6]!@[#6]", "C1CCCCC1", false},
      {"[#6]!@[#6]", "CC1CCCCC1", true},
      {"[r5]", "C1CCCC1", true},
      {"[r5]", "C1CCCCC1", false},
      {"[13#6]", "C[13CH3]", true},
      {"[13#6]", "CC", false},
      {"Cl.Br", "ClCCBr", true},  // components anywhere
      {"[#6]", "[Na+].[Cl-]", false},
  };
  for (const OccurrenceCase& c : cases) {
    auto molecule = MakeMolecule(c.molecule);
    ASSERT_NE(molecule, nullptr);
    ChemistryHandle screen = LoadScreen(c.screen);
    ChemistryHandle target = CopyOf(*molecule);
    EXPECT_EQ(Occurs(screen.get(), target.get()), c.occurs)
        << c.screen << " in " << c.molecule;
  }
}

// All matches that NextMatch gives with a map, as pattern-to-target atoms.
std::vector<std::vector<std::uint32_t>> AllMatches(Chemistry* pattern,
                                                   Chemistry* target) {
  CoreHandle<Matcher> matcher;
  CoreHandle<MatchMap> map;
  ZolvCreateMatcher(matcher.Receive());
  ZolvCreateMatchMap(map.Receive());
  matcher->SetOption(kSubstructureSearch);
  matcher->SetPattern(pattern);
  matcher->SetTarget(target);
  ScreenSet patternAtoms;
  pattern->CollectAtoms(&patternAtoms, 0);
  std::vector<std::vector<std::uint32_t>> matches;
  while (matcher->NextMatch(map.get())) {
    ScreenSet mapped;
    map->MappedAtoms(&mapped);
    EXPECT_EQ(mapped.Count(), patternAtoms.Count());
    std::vector<std::uint32_t> match;
    std::uint32_t atom = 0;
    for (std::uint32_t from = 0; mapped.NextFrom(from, &atom);
         from = atom + 1) {
      std::uint32_t targetAtom = 0;
      EXPECT_NE(map->MappedAtom(atom, &targetAtom), 0);
      EXPECT_NE(target->AtomAt(targetAtom), nullptr);
      match.push_back(targetAtom);
    }
    std::uint32_t unused = 0;
    EXPECT_EQ(map->MappedAtom(patternAtoms.Count(), &unused), 0);
    matches.push_back(match);
  }
  EXPECT_EQ(matcher->NextMatch(map.get()), 0) << "stays exhausted";
  return matches;
}

TEST(CoreMatcher, GivesEveryMappingOnceThroughTheMap) {
  auto benzene = MakeMolecule("c1ccccc1");
  ChemistryHandle target = CopyOf(*benzene);
  ChemistryHandle ring = LoadScreen("c1ccccc1");
  const auto matches = AllMatches(ring.get(), target.get());
  // Six rotations in two directions, each a different mapping of six atoms.
  EXPECT_EQ(matches.size(), 12u);
  EXPECT_EQ(std::set<std::vector<std::uint32_t>>(matches.begin(), matches.end())
                .size(),
            12u);
  for (const auto& match : matches) {
    EXPECT_EQ(std::set<std::uint32_t>(match.begin(), match.end()).size(), 6u);
  }
}

TEST(CoreMatcher, GivesMatchesBeyondTheFirstBatchsAndStopsAtTheLimit) {
  ChemistryHandle carbon = LoadScreen("[#6]");
  for (std::size_t atoms : {15, 16, 17, 40, 200, 1100}) {
    auto chain = MakeMolecule(std::string(atoms, 'C'));
    ChemistryHandle target = CopyOf(*chain);
    const auto matches = AllMatches(carbon.get(), target.get());
    EXPECT_EQ(matches.size(), std::min<std::size_t>(atoms, 1024)) << atoms;
    std::set<std::uint32_t> seen;
    for (const auto& match : matches) seen.insert(match.at(0));
    EXPECT_EQ(seen.size(), matches.size()) << "no match twice";
  }
}

TEST(CoreMatcher, ExistenceFirstThenTheRemainingMatches) {
  auto ethane = MakeMolecule("CC");
  ChemistryHandle target = CopyOf(*ethane);
  ChemistryHandle carbon = LoadScreen("[#6]");
  CoreHandle<Matcher> matcher;
  CoreHandle<MatchMap> map;
  ZolvCreateMatcher(matcher.Receive());
  ZolvCreateMatchMap(map.Receive());
  matcher->SetOption(kSubstructureSearch);
  matcher->SetPattern(carbon.get());
  matcher->SetTarget(target.get());
  EXPECT_NE(matcher->NextMatch(nullptr), 0);
  std::uint32_t atom = 9;
  EXPECT_NE(matcher->NextMatch(map.get()), 0);
  EXPECT_NE(map->MappedAtom(0, &atom), 0);
  EXPECT_EQ(matcher->NextMatch(map.get()), 0);
  // A new target starts a new search.
  matcher->SetTarget(target.get());
  EXPECT_NE(matcher->NextMatch(map.get()), 0);
  EXPECT_NE(matcher->NextMatch(map.get()), 0);
  EXPECT_EQ(matcher->NextMatch(nullptr), 0);
}

// Existence is found by a search that may skip matches that the pattern's
// symmetry makes equivalent, and is remembered by the molecule for the next
// matcher; the matches that follow it must still be all the others.
TEST(CoreMatcher, ExistenceSearchedOrRememberedLeavesEveryOtherMatch) {
  const struct {
    const char* screen;
    const char* molecule;
  } cases[] = {
      {"c1ccccc1", "c1ccccc1"},                    // 12 mappings
      {"*1~*~*~*~*~1", "c1ccc2[nH]ccc2c1"},        // a ring of a fused pair
      {"[#6](-[#6])(-[#6])-[#6]", "CC(C)(C)C"},    // 24 of a star
      {"c1ccccc1.c1ccccc1", "c1ccccc1-c1ccccc1"},  // identical fragments
      {"C1CC1.C1CC1", "C1CC1C1CC1"},
      {"*~*(~*)~*(~*)~*", "CC(C)C(C)C(C)C"},
  };
  for (const auto& c : cases) {
    auto molecule = MakeMolecule(c.molecule);
    ASSERT_NE(molecule, nullptr);
    ChemistryHandle screen = LoadScreen(c.screen);
    ChemistryHandle target = CopyOf(*molecule);
    const std::size_t all = AllMatches(screen.get(), target.get()).size();
    ASSERT_GT(all, 1u) << c.screen;
    // The first matcher searches for existence, the second finds it
    // remembered by the molecule, even through another chemistry.
    for (int pass = 0; pass < 2; ++pass) {
      ChemistryHandle copy = CopyOf(*molecule);
      CoreHandle<Matcher> matcher;
      CoreHandle<MatchMap> map;
      ZolvCreateMatcher(matcher.Receive());
      ZolvCreateMatchMap(map.Receive());
      matcher->SetOption(kSubstructureSearch);
      matcher->SetPattern(screen.get());
      matcher->SetTarget(copy.get());
      ASSERT_NE(matcher->NextMatch(nullptr), 0) << c.screen;
      std::size_t rest = 0;
      while (matcher->NextMatch(map.get())) ++rest;
      EXPECT_EQ(rest + 1, all)
          << c.screen << " in " << c.molecule << ", pass " << pass;
    }
  }
}

TEST(CoreMatcher, UnreadableOrEmptyScreensMatchNothingAndOccurNowhere) {
  auto molecule = MakeMolecule("CCO");
  ChemistryHandle target = CopyOf(*molecule);
  CoreHandle<Index> moleculeIndex;
  ZolvCreateIndex(moleculeIndex.Receive());
  moleculeIndex->Build(target.get());
  const std::string withNul("C\0C", 3);
  for (const std::string& text :
       {std::string(), std::string("[C"), std::string("C(("),
        std::string("\xFF\xFE"), withNul}) {
    ChemistryHandle screen = LoadScreen(text);
    EXPECT_FALSE(Occurs(screen.get(), target.get())) << text;
    EXPECT_EQ(screen->AtomAt(0), nullptr);
    ScreenSet atoms;
    screen->CollectAtoms(&atoms, 0);
    EXPECT_TRUE(atoms.IsEmpty());
    CoreHandle<Index> index;
    ZolvCreateIndex(index.Receive());
    index->Build(screen.get());
    EXPECT_EQ(index->MayOccurIn(moleculeIndex.get()), 0);
  }
  // A chemistry that was never loaded is empty too.
  ChemistryHandle fresh;
  ZolvCreateChemistry(fresh.Receive());
  EXPECT_FALSE(Occurs(fresh.get(), target.get()));
}

TEST(CoreMatcher, WithoutPatternOrTargetFindsNothing) {
  auto molecule = MakeMolecule("C");
  ChemistryHandle target = CopyOf(*molecule);
  CoreHandle<Matcher> matcher;
  ZolvCreateMatcher(matcher.Receive());
  matcher->SetOption(kSubstructureSearch);
  EXPECT_EQ(matcher->NextMatch(nullptr), 0);
  matcher->SetTarget(target.get());
  EXPECT_EQ(matcher->NextMatch(nullptr), 0);
}

TEST(CoreChemistry, CollectAtomsGrowsTheSetThroughTheCoreAllocator) {
  auto chain = MakeMolecule(std::string(200, 'C'));
  ChemistryHandle target = CopyOf(*chain);
  ScreenSet atoms;
  target->CollectAtoms(&atoms, 0);
  EXPECT_EQ(atoms.Count(), 200u);
  EXPECT_EQ(atoms.wordCount, 7u);
  std::uint32_t last = 0;
  ASSERT_TRUE(atoms.Last(&last));
  EXPECT_EQ(last, 199u);
}

TEST(CoreIndex, IndexOfAnotherKindOrUnbuiltRulesNothingOut) {
  auto molecule = MakeMolecule("CC");
  ChemistryHandle target = CopyOf(*molecule);
  ChemistryHandle screen = LoadScreen("[#7]");
  CoreHandle<Index> screenIndex;
  CoreHandle<Index> moleculeIndex;
  ZolvCreateIndex(screenIndex.Receive());
  ZolvCreateIndex(moleculeIndex.Receive());
  EXPECT_NE(screenIndex->MayOccurIn(moleculeIndex.get()), 0);
  EXPECT_NE(screenIndex->MayOccurIn(nullptr), 0);
  screenIndex->Build(screen.get());
  moleculeIndex->Build(target.get());
  EXPECT_EQ(screenIndex->MayOccurIn(moleculeIndex.get()), 0);
}

TEST(ScreenCache, SameStoredBytesShareOneParsedPattern) {
  ChemistryHandle first = LoadScreen("[#6]-[#8]");
  ChemistryHandle second = LoadScreen("[#6]-[#8]");
  ChemistryHandle other = LoadScreen("[#6]-[#7]");
  ASSERT_NE(first->AtomAt(0), nullptr);
  EXPECT_EQ(first->AtomAt(0), second->AtomAt(0));
  EXPECT_NE(first->AtomAt(0), other->AtomAt(0));
  // Reloading a chemistry replaces its structure.
  first->LoadStored(1, reinterpret_cast<const std::uint8_t*>("N"));
  EXPECT_EQ(first->AtomAt(1), nullptr);
}

TEST(ScreenCache, StaysCorrectWhenMoreScreensThanItKeepsAreLoaded) {
  auto molecule = MakeMolecule("C[13CH3]");
  ChemistryHandle target = CopyOf(*molecule);
  for (int isotope = 1; isotope <= 5000; ++isotope) {
    ChemistryHandle screen = LoadScreen("[" + std::to_string(isotope) + "#6]");
    ASSERT_EQ(Occurs(screen.get(), target.get()), isotope == 13) << isotope;
  }
  ChemistryHandle again = LoadScreen("[13#6]");
  EXPECT_TRUE(Occurs(again.get(), target.get()));
}

TEST(CoreThreads, SeparateObjectsSearchTheSameScreensAlike) {
  const char* molecules[] = {"CC(=O)Nc1ccc(O)cc1",    "OC(=O)c1ccccc1O",
                             "C[N+](C)(C)CC(=O)[O-]", "c1ccc2[nH]ccc2c1",
                             "ClC(Cl)(Cl)Cl",         "CCN(CC)C(=O)C1CCCC1"};
  std::vector<std::unique_ptr<rdcore::HostMolecule>> hosts;
  for (const char* smiles : molecules) hosts.push_back(MakeMolecule(smiles));
  // One thread's answers first, then four threads at once, with their own
  // chemistries, matchers and indexes on the shared cached screens.
  auto answers = [&hosts] {
    std::vector<bool> found;
    for (auto& host : hosts) {
      ChemistryHandle target = CopyOf(*host);
      for (std::string_view text : kTypicalScreens) {
        ChemistryHandle screen = LoadScreen(text);
        found.push_back(Occurs(screen.get(), target.get()) &&
                        FoundInQuery(screen.get(), target.get()));
      }
    }
    return found;
  };
  rdcore::ResetCoreStatistics();
  const std::vector<bool> expected = answers();
  const std::uint64_t oneThread = rdcore::GetCoreStatistics().targetsSet;
  ASSERT_GT(oneThread, 0u);
  std::vector<std::vector<bool>> results(4);
  std::vector<std::thread> threads;
  for (auto& result : results) {
    threads.emplace_back([&result, &answers] { result = answers(); });
  }
  for (auto& thread : threads) thread.join();
  for (const auto& result : results) EXPECT_EQ(result, expected);
  // Each thread counts on its own; the statistics add every thread up,
  // those that have ended too.
  EXPECT_EQ(rdcore::GetCoreStatistics().targetsSet, 5 * oneThread);
}

}  // namespace
}  // namespace zolv::testing

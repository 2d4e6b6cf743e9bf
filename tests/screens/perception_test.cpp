#include "perception.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "dictionary_format.h"
#include "screen_dictionary.h"
#include "screens_test_support.h"

namespace zolv::testing {
namespace {

using Numbers = std::vector<std::uint32_t>;
using Keys = std::vector<std::string>;

constexpr std::uint8_t kTarget = 0;
constexpr std::uint8_t kQuery = 1;

class PerceptionTest : public ScreensTest {
 protected:
  /// The screens ComputeScreens gives for the molecule "mol".
  static Numbers Compute(std::uint8_t mode, const char* screenFile) {
    FakeHostObject host("mol");
    ScreenSet out;
    EXPECT_TRUE(ComputeScreens(&host, mode, &out, screenFile));
    return Members(out);
  }
};

// --- The three-screen chain: what each outcome prunes --------------------

struct ChainCase {
  const char* name;
  Keys present;  // screens that occur in the molecule
  bool firstPrescreenFails;
  Keys targetPrescreens;  // MayOccurIn calls in target mode
  Keys targetMatches;     // NextMatch calls in target mode
  Numbers targetScreens;
  Keys queryMatches;  // NextMatch calls in query mode
  Numbers queryScreens;
};

const ChainCase kChainCases[] = {
    {"FirstFailsItsTest", {}, false, {"s1"}, {"s1"}, {}, {"s1"}, {}},
    {"FirstFailsThePrescreen",
     {"s1", "s2", "s3"},
     true,
     {"s1"},
     {},
     {},
     {"s1", "s2", "s3"},  // queries have no prescreen
     {3}},
    {"SecondFails",
     {"s1", "s3"},
     false,
     {"s1", "s2"},
     {"s1", "s2"},
     {1},
     {"s1", "s2"},
     {1}},
    {"AllPass",
     {"s1", "s2", "s3"},
     false,
     {"s1", "s2", "s3"},
     {"s1", "s2", "s3"},
     {1, 2, 3},
     {"s1", "s2", "s3"},
     {3}},
};

class Chain : public PerceptionTest,
              public ::testing::WithParamInterface<ChainCase> {
 protected:
  void SetUp() override {
    PerceptionTest::SetUp();
    const ChainCase& c = GetParam();
    Install("chain.dic", ChainDictionary());
    for (const std::string& screen : c.present)
      core().SetPresent(screen, "mol");
    if (c.firstPrescreenFails) core().SetMayOccur("s1", "mol", false);
  }
};

TEST_P(Chain, TargetModeExaminesOnlyOpenScreens) {
  const ChainCase& c = GetParam();
  EXPECT_EQ(Compute(kTarget, "chain.dic"), c.targetScreens);
  EXPECT_EQ(core().PrescreenCalls(), c.targetPrescreens);
  EXPECT_EQ(core().MatchCalls(), c.targetMatches);
  // Core objects only for the screens examined, plus the molecule's.
  EXPECT_EQ(core().Created(ObjectKind::kMatcher), c.targetMatches.size());
  EXPECT_EQ(core().Created(ObjectKind::kIndex), c.targetPrescreens.size() + 1);
  EXPECT_EQ(core().Created(ObjectKind::kMatchMap), 0u);
  for (std::int32_t option : core().MatcherOptions()) EXPECT_EQ(option, 2);
  ExpectClean();
}

TEST_P(Chain, QueryModeReportsScreensNoFoundScreenImplies) {
  const ChainCase& c = GetParam();
  EXPECT_EQ(Compute(kQuery, "chain.dic"), c.queryScreens);
  EXPECT_TRUE(core().PrescreenCalls().empty());
  EXPECT_EQ(core().MatchCalls(), c.queryMatches);
  EXPECT_EQ(core().Created(ObjectKind::kIndex), 0u);
  ExpectClean();
}

INSTANTIATE_TEST_SUITE_P(Perception, Chain, ::testing::ValuesIn(kChainCases),
                         [](const auto& info) {
                           return std::string(info.param.name);
                         });

// --- Screens out of play ----------------------------------------------------

TEST_F(PerceptionTest, ScreenOutOfPlayTakesItsDependentsOutToo) {
  struct Case {
    std::vector<std::uint16_t> dependentsOfTwo;
    Keys matches;
    Numbers screens;
  };
  const Case cases[] = {{{3}, {"a"}, {}}, {{}, {"a", "c"}, {3}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dependentsOfTwo.size());
    core().Reset();
    DictionaryContent content;
    content.orderFlag = 1;
    content.screens = {
        {1, {}, {2}, "a"}, {2, {}, c.dependentsOfTwo, "b"}, {3, {}, {}, "c"}};
    Install("play.dic", content);
    core().SetPresent("b", "mol");
    core().SetPresent("c", "mol");
    EXPECT_EQ(Compute(kTarget, "play.dic"), c.screens);
    EXPECT_EQ(core().MatchCalls(), c.matches);
    ExpectClean();
  }
}

// --- Query reduction
// ----------------------------------------------------------

TEST_F(PerceptionTest, QueryReductionKeepsOneScreenOfACycle) {
  DictionaryContent content;
  content.orderFlag = 1;
  content.screens = {{4, {5}, {5}, "s4"},
                     {5, {4}, {4}, "s5"},
                     {1, {}, {}, "s1"},
                     {2, {}, {}, "s2"},
                     {3, {}, {}, "s3"}};
  Install("cycle.dic", content);
  core().SetPresent("s4", "mol");
  core().SetPresent("s5", "mol");
  EXPECT_EQ(Compute(kQuery, "cycle.dic"), (Numbers{4}));
  EXPECT_EQ(core().MatchCalls(), (Keys{"s4", "s1", "s2", "s3"}));
  EXPECT_EQ(Compute(kTarget, "cycle.dic"), (Numbers{4, 5}));
  ExpectClean();
}

TEST_F(PerceptionTest, ScreenNumbersAboveTheRecordCountStillReduceQueries) {
  DictionaryContent content;
  content.screens = {{40, {50}, {}, "a"}, {50, {}, {40}, "b"}};
  Install("wide.dic", content);
  core().SetPresent("a", "mol");
  core().SetPresent("b", "mol");
  EXPECT_EQ(Compute(kQuery, "wide.dic"), (Numbers{40}));
  EXPECT_EQ(Compute(kTarget, "wide.dic"), (Numbers{40, 50}));
  ExpectClean();
}

TEST_F(PerceptionTest, ListEntriesNamingNoRecordNeitherOverflowNorReduce) {
  DictionaryContent content;
  content.screens = {{1, {7, 9, 300}, {}, "a"}};
  Install("foreign.dic", content);
  core().SetPresent("a", "mol");
  // Four found screens, one result entry: the list stops at its capacity.
  EXPECT_EQ(Compute(kTarget, "foreign.dic"), (Numbers{1}));
  EXPECT_EQ(Compute(kQuery, "foreign.dic"), (Numbers{1}));
  ExpectClean();
}

TEST_F(PerceptionTest, EmptyOrMissingDictionaryGivesAnEmptySet) {
  std::string header = "VetOrb";
  AppendU16(&header, 0);
  AppendU16(&header, 0);
  Install("empty.dic", header);
  for (const char* name :
       {"empty.dic", "missing.dic", static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(name == nullptr ? "no name" : name);
    EXPECT_TRUE(Compute(kTarget, name).empty());
    EXPECT_TRUE(Compute(kQuery, name).empty());
  }
  EXPECT_TRUE(core().MatchCalls().empty());
  ExpectClean();
}

// --- The per-atom property check -------------------------------------------

struct AtomCase {
  const char* name;
  AtomProperties pattern;
  AtomProperties target;
  bool accepted;
};

const AtomCase kAtomCases[] = {
    {"EqualAtoms", {1, 2, 1, 0}, {1, 2, 1, 0}, true},
    {"HeavyDegreeAboveTargetDespiteEqualSums",
     {0, 1, 0, 0},
     {0, 0, 1, 0},
     false},
    {"HydrogensCountOnlyThroughTheSum", {2, 0, 0, 0}, {0, 1, 1, 0}, true},
    {"LargerSum", {1, 0, 0, 0}, {0, 0, 0, 0}, false},
    {"RingBondsAboveTarget", {0, 0, 2, 0}, {5, 0, 1, 0}, false},
    {"ChargeAboveTarget", {0, 0, 0, 1}, {3, 0, 0, 0}, false},
    {"NegativeValuesCompareSigned", {-5, 0, 0, -1}, {0, 0, 0, 0}, true},
    {"PatternSumDoesNotWrap", {INT_MAX, 0, 0, 1}, {0, 0, 0, 1}, false},
    {"TargetSumDoesNotWrap", {0, 0, 0, 0}, {INT_MAX, 1, 0, 0}, true},
    {"NegativeSumDoesNotWrap", {INT_MIN, 0, 0, 0}, {INT_MIN, 0, 0, -1}, false},
};

class AtomCheck : public PerceptionTest,
                  public ::testing::WithParamInterface<AtomCase> {};

TEST_P(AtomCheck, DecidesWhetherAQueryHoldsTheScreen) {
  const AtomCase& c = GetParam();
  Install("one.dic", DictionaryContent{0, {{1, {}, {}, "p"}}});
  core().SetAtoms("p", {c.pattern});
  core().SetAtoms("mol", {c.target});
  core().SetMatches("p", "mol", {{{0, 0}}});
  EXPECT_EQ(Compute(kQuery, "one.dic"), c.accepted ? Numbers{1} : Numbers{});
  // Targets are not checked atom by atom.
  EXPECT_EQ(Compute(kTarget, "one.dic"), (Numbers{1}));
  ExpectClean();
}

INSTANTIATE_TEST_SUITE_P(Perception, AtomCheck, ::testing::ValuesIn(kAtomCases),
                         [](const auto& info) {
                           return std::string(info.param.name);
                         });

TEST_F(PerceptionTest, AtomCheckSkipsUnmappedAtomsAndTriesEveryMatch) {
  struct Case {
    const char* name;
    std::vector<AtomProperties> patternAtoms;
    std::vector<AtomProperties> targetAtoms;
    std::vector<AtomMapping> matches;
    Numbers screens;
    std::size_t matchCalls;
  };
  const Case cases[] = {
      {"UnmappedAtomIsSkipped",
       {{0, 0, 0, 0}, {9, 9, 9, 9}},
       {{0, 0, 0, 0}},
       {{{0, 0}}},
       {1},
       1},
      {"SecondMatchAccepted",
       {{0, 1, 0, 0}},
       {{0, 0, 0, 0}, {0, 1, 0, 0}},
       {{{0, 0}}, {{0, 1}}},
       {1},
       2},
      {"EveryMatchRejected",
       {{0, 1, 0, 0}},
       {{0, 0, 0, 0}},
       {{{0, 0}}, {{0, 0}}},
       {},
       3},
      {"MappedOntoAnAtomThatCannotBeRead",
       {{0, 0, 0, 0}},
       {{0, 0, 0, 0}},
       {{{0, 7}}},
       {},
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    core().Reset();
    Install("one.dic", DictionaryContent{0, {{1, {}, {}, "p"}}});
    core().SetAtoms("p", c.patternAtoms);
    core().SetAtoms("mol", c.targetAtoms);
    core().SetMatches("p", "mol", c.matches);
    EXPECT_EQ(Compute(kQuery, "one.dic"), c.screens);
    EXPECT_EQ(core().MatchCalls().size(), c.matchCalls);
    EXPECT_EQ(core().Created(ObjectKind::kMatchMap), 1u);
    ExpectClean();
  }
}

TEST_F(PerceptionTest, OnlyModeCodeFourSelectsTheQueryTest) {
  Install("one.dic", DictionaryContent{0, {{1, {}, {}, "p"}}});
  // Found by a plain match, rejected by the atom check.
  core().SetAtoms("p", {{0, 1, 0, 0}});
  core().SetAtoms("mol", {{0, 0, 0, 0}});
  core().SetMatches("p", "mol", {{{0, 0}}});
  FakeHostObject host("mol");
  ScreenDictionary dictionary;
  dictionary.Open("one.dic");
  for (int code : {2, 3, 0, 5, 4}) {
    SCOPED_TRACE(code);
    ScreenRecord molecule;
    molecule.SetFromMolecule(host.GetChemistry());
    Perceive(dictionary, molecule, code, 0);
    EXPECT_EQ(Members(molecule.implied), code == 4 ? Numbers{} : Numbers{1});
    EXPECT_EQ(core().Created(ObjectKind::kMatchMap), code == 4 ? 1u : 0u);
  }
  dictionary.Close();
  ExpectClean();
}

TEST_F(PerceptionTest, TargetResultsAreListedInAscendingOrder) {
  Install("chain.dic", ChainDictionary());
  for (const char* screen : {"s1", "s2", "s3"})
    core().SetPresent(screen, "mol");
  FakeHostObject host("mol");
  ScreenDictionary dictionary;
  dictionary.Open("chain.dic");
  EXPECT_TRUE(PerceiveTarget(dictionary, &host, kTargetModeCode));
  ASSERT_EQ(dictionary.ResultCount(), 3u);
  Numbers results;
  std::uint32_t number = 0;
  for (std::uint32_t i = 1; dictionary.ResultAt(i, &number); ++i) {
    results.push_back(number);
  }
  EXPECT_EQ(results, (Numbers{1, 2, 3}));
  // A query pass leaves the list empty.
  ScreenSet out;
  EXPECT_TRUE(PerceiveQuery(dictionary, &host, &out, kQueryModeCode));
  EXPECT_EQ(dictionary.ResultCount(), 0u);
  EXPECT_EQ(Members(out), (Numbers{3}));
}

// --- Failures of the core library ------------------------------------------

TEST_F(PerceptionTest, FailedCreationsDecideAsDocumented) {
  struct Case {
    const char* name;
    ObjectKind kind;
    std::uint8_t mode;
    Numbers screens;
  };
  const Case cases[] = {
      {"NoStreamNoDictionary", ObjectKind::kStream, kTarget, {}},
      {"NoTargetMatcherFailsTheTest", ObjectKind::kMatcher, kTarget, {}},
      {"NoQueryMatcherFailsTheTest", ObjectKind::kMatcher, kQuery, {}},
      {"NoMatchMapFailsTheTest", ObjectKind::kMatchMap, kQuery, {}},
      // A prescreen that cannot run rules nothing out.
      {"NoScreenIndexStillTests", ObjectKind::kIndex, kTarget, {1, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    core().Reset();
    Install("chain.dic", ChainDictionary());
    for (const char* s : {"s1", "s2", "s3"}) core().SetPresent(s, "mol");
    core().FailCreation(c.kind, 1);
    EXPECT_EQ(Compute(c.mode, "chain.dic"), c.screens);
    ExpectClean();
  }
}

TEST_F(PerceptionTest, EveryFailedCreationLeavesNothingBehind) {
  const ObjectKind kinds[] = {ObjectKind::kStream, ObjectKind::kChemistry,
                              ObjectKind::kIndex, ObjectKind::kMatcher,
                              ObjectKind::kMatchMap};
  for (ObjectKind kind : kinds) {
    for (std::uint64_t n = 1; n <= 8; ++n) {
      for (std::uint8_t mode : {kTarget, kQuery}) {
        SCOPED_TRACE(::testing::Message()
                     << "kind " << static_cast<int>(kind) << " creation " << n
                     << " mode " << int{mode});
        core().Reset();
        Install("chain.dic", ChainDictionary());
        for (const char* s : {"s1", "s2", "s3"}) core().SetPresent(s, "mol");
        core().FailCreation(kind, n);
        for (std::uint32_t screen : Compute(mode, "chain.dic")) {
          EXPECT_TRUE(screen >= 1 && screen <= 3) << screen;
        }
        ExpectClean();
      }
    }
  }
}

// Numbers above 127 make every set grow beyond its inline words.
DictionaryContent LargeNumbers() {
  DictionaryContent content;
  content.screens = {{300, {200, 150}, {}, "c"},
                     {200, {150}, {300}, "b"},
                     {150, {}, {200, 300}, "a"}};
  return content;
}

TEST_F(PerceptionTest, RefusedMemoryNeverCrashesOrLeaks) {
  Install("large.dic", LargeNumbers());
  for (const char* s : {"a", "b", "c"}) core().SetPresent(s, "mol");
  ASSERT_EQ(Compute(kTarget, "large.dic"), (Numbers{150, 200, 300}));
  ASSERT_EQ(Compute(kQuery, "large.dic"), (Numbers{300}));

  core().RefuseAllMemory(true);
  Compute(kTarget, "large.dic");
  Compute(kQuery, "large.dic");
  core().RefuseAllMemory(false);
  ExpectClean();

  for (std::uint8_t mode : {kTarget, kQuery}) {
    for (std::uint64_t n = 1;; ++n) {
      SCOPED_TRACE(::testing::Message()
                   << "mode " << int{mode} << " call " << n);
      const std::uint64_t before = core().MemoryCalls();
      core().RefuseMemoryCall(n);
      for (std::uint32_t screen : Compute(mode, "large.dic")) {
        EXPECT_TRUE(screen == 150 || screen == 200 || screen == 300);
      }
      core().RefuseMemoryCall(0);
      ExpectClean();
      if (core().MemoryCalls() - before < n) break;
    }
  }
}

// --- Untrusted dictionary files ----------------------------------------------

TEST_F(PerceptionTest, EveryTruncationOfAValidFileIsSafe) {
  const std::string bytes = EncodeDictionary(ChainDictionary());
  for (const char* s : {"s1", "s2", "s3"}) core().SetPresent(s, "mol");
  for (std::size_t length = 0; length <= bytes.size(); ++length) {
    SCOPED_TRACE(length);
    Install("cut.dic", bytes.substr(0, length));
    const Numbers target = Compute(kTarget, "cut.dic");
    const Numbers query = Compute(kQuery, "cut.dic");
    if (length < 10) {
      EXPECT_TRUE(target.empty());
      EXPECT_TRUE(query.empty());
    }
    for (std::uint32_t screen : target) EXPECT_TRUE(screen >= 1 && screen <= 3);
    for (std::uint32_t screen : query) EXPECT_TRUE(screen >= 1 && screen <= 3);
    if (length == bytes.size()) {
      EXPECT_EQ(target, (Numbers{1, 2, 3}));
      EXPECT_EQ(query, (Numbers{3}));
    }
    ExpectClean();
  }
}

TEST_F(PerceptionTest, EveryByteSetToExtremesIsSafe) {
  const std::string bytes = EncodeDictionary(ChainDictionary());
  for (const char* s : {"s1", "s2", "s3"}) core().SetPresent(s, "mol");
  for (std::size_t at = 6; at < bytes.size(); ++at) {
    for (char value : {'\xFF', '\x80', '\x00'}) {
      SCOPED_TRACE(::testing::Message() << "byte " << at << " = "
                                        << (static_cast<int>(value) & 0xFF));
      std::string changed = bytes;
      changed[at] = value;
      Install("changed.dic", changed);
      Compute(kTarget, "changed.dic");
      Compute(kQuery, "changed.dic");
      ExpectClean();
    }
  }
}

TEST_F(PerceptionTest, HugeRecordCountOnAShortFileEndsQuietly) {
  std::string bytes = EncodeDictionary(ChainDictionary());
  bytes[8] = '\xFF';
  bytes[9] = '\xFF';
  Install("huge.dic", bytes);
  for (const char* s : {"s1", "s2", "s3"}) core().SetPresent(s, "mol");
  // The records past the end read as screen 0, which is never found.
  EXPECT_EQ(Compute(kTarget, "huge.dic"), (Numbers{1, 2, 3}));
  EXPECT_EQ(Compute(kQuery, "huge.dic"), (Numbers{3}));
  ExpectClean();
}

}  // namespace
}  // namespace zolv::testing

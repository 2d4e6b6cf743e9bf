// The fake core must catch the misuse the driver's tests rely on it to catch.
#include "fake_core.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "core_test.h"
#include "screen_set.h"

namespace zolv::testing {
namespace {

// Cases here provoke faults on purpose, so they inspect Problems() themselves
// and only the clean cases use CoreTest's check.
class FakeCoreFaults : public ::testing::Test {
 protected:
  void SetUp() override { core().Reset(); }
  void TearDown() override { core().Reset(); }
  static FakeCore& core() { return FakeCore::Get(); }
};

bool Mentions(const std::vector<std::string>& lines, const std::string& word) {
  for (const std::string& line : lines) {
    if (line.find(word) != std::string::npos) return true;
  }
  return false;
}

TEST_F(FakeCoreFaults, DoubleReleaseIsReported) {
  Matcher* matcher = nullptr;
  ASSERT_EQ(ZolvCreateMatcher(&matcher), 1);
  matcher->Release();
  EXPECT_TRUE(core().Faults().empty());
  matcher->Release();
  ASSERT_EQ(core().Faults().size(), 1u);
  EXPECT_TRUE(Mentions(core().Faults(), "released twice"));
  EXPECT_EQ(core().Released(ObjectKind::kMatcher), 1u);
}

TEST_F(FakeCoreFaults, UseAfterReleaseIsReported) {
  StringObject* text = nullptr;
  ASSERT_EQ(ZolvCreateString(&text), 1);
  text->Release();
  text->PutText("x");
  EXPECT_TRUE(Mentions(core().Faults(), "PutText after Release"));
}

TEST_F(FakeCoreFaults, MatchingWithAReleasedPatternIsReported) {
  Chemistry* pattern = nullptr;
  Chemistry* target = nullptr;
  Matcher* matcher = nullptr;
  ASSERT_EQ(ZolvCreateChemistry(&pattern), 1);
  ASSERT_EQ(ZolvCreateChemistry(&target), 1);
  ASSERT_EQ(ZolvCreateMatcher(&matcher), 1);
  matcher->SetPattern(pattern);
  matcher->SetTarget(target);
  pattern->Release();
  matcher->NextMatch(nullptr);
  EXPECT_TRUE(Mentions(core().Faults(), "pattern"));
  target->Release();
  matcher->Release();
}

TEST_F(FakeCoreFaults, LeaksAreReportedByKind) {
  Index* index = nullptr;
  ASSERT_EQ(ZolvCreateIndex(&index), 1);
  void* block = ZolvNewMemory(20);
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(core().Faults().empty());
  const std::vector<std::string> problems = core().Problems();
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_TRUE(Mentions(problems, "leaked Index"));
  EXPECT_TRUE(Mentions(problems, "20 bytes"));
  EXPECT_EQ(core().Live(), 1u);
  EXPECT_EQ(core().LiveBlocks(), 1u);
}

TEST_F(FakeCoreFaults, ForeignAndRepeatedDeletesAreReported) {
  int local = 0;
  ZolvDeleteMemory(&local);
  EXPECT_EQ(core().Faults().size(), 1u);
  void* block = ZolvNewMemory(8);
  ZolvDeleteMemory(block);
  EXPECT_EQ(core().Faults().size(), 1u);
  ZolvDeleteMemory(block);
  EXPECT_EQ(core().Faults().size(), 2u);
  ZolvDeleteMemory(nullptr);
  EXPECT_EQ(core().Faults().size(), 2u);
  EXPECT_EQ(core().LiveBlocks(), 0u);
}

TEST_F(FakeCoreFaults, ReleasesOfTheHostsObjectsAreReported) {
  FakeHostObject host("benzene");
  host.GetChemistry()->Release();
  FakeOutputStream output;
  output.Release();
  ASSERT_EQ(core().Faults().size(), 2u);
  EXPECT_TRUE(Mentions(core().Faults(), "host's Chemistry"));
  EXPECT_TRUE(Mentions(core().Faults(), "output stream"));
  // Host objects are not the driver's to leak.
  EXPECT_EQ(core().Problems().size(), 2u);
}

class FakeCoreTest : public CoreTest {};

TEST_F(FakeCoreTest, RefusesTheNthMemoryCallOnly) {
  void* first = ZolvNewMemory(4);
  core().RefuseMemoryCall(2);
  void* second = ZolvNewMemory(4);
  void* third = ZolvNewMemory(4);
  void* fourth = ZolvNewMemory(4);
  EXPECT_NE(second, nullptr);
  EXPECT_EQ(third, nullptr);
  EXPECT_NE(fourth, nullptr);
  EXPECT_EQ(core().MemoryCalls(), 4u);
  core().RefuseAllMemory(true);
  EXPECT_EQ(ZolvNewMemory(4), nullptr);
  core().RefuseAllMemory(false);
  void* fifth = ZolvNewMemory(4);
  EXPECT_NE(fifth, nullptr);
  for (void* block : {first, second, fourth, fifth}) ZolvDeleteMemory(block);
}

TEST_F(FakeCoreTest, FailsTheNthCreationOfAKind) {
  core().FailCreation(ObjectKind::kChemistry, 2);
  Chemistry* first = nullptr;
  Chemistry* second = reinterpret_cast<Chemistry*>(&first);
  Matcher* matcher = nullptr;
  EXPECT_EQ(ZolvCreateChemistry(&first), 1);
  EXPECT_EQ(ZolvCreateChemistry(&second) & 1, 0);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(ZolvCreateMatcher(&matcher), 1);
  EXPECT_EQ(core().Created(ObjectKind::kChemistry), 1u);
  first->Release();
  matcher->Release();
}

TEST_F(FakeCoreTest, StreamsReadLittleEndianAndStopAtTheEnd) {
  core().AddFile("/dict/screens.bin",
                 std::string("\x01\x02\xFE\xFF\x10\x20\x30\x40\x7F", 9));
  Stream* stream = nullptr;
  EXPECT_EQ(ZolvCreateStream(&stream, "READFILE", "/dict/screens.bin", "TEXT"),
            0);
  EXPECT_EQ(stream, nullptr);
  ASSERT_EQ(
      ZolvCreateStream(&stream, "READFILE", "/dict/screens.bin", "BYTEORDERED"),
      1);
  std::uint16_t u16 = 0;
  std::int16_t s16 = 0;
  std::uint32_t u32 = 0;
  EXPECT_TRUE(stream->ReadUShort(&u16));
  EXPECT_EQ(u16, 0x0201);
  EXPECT_TRUE(stream->ReadShort(&s16));
  EXPECT_EQ(s16, -2);
  EXPECT_TRUE(stream->ReadULong(&u32));
  EXPECT_EQ(u32, 0x40302010u);
  u16 = 0xAAAA;
  EXPECT_FALSE(stream->ReadUShort(&u16));
  EXPECT_EQ(u16, 0xAAAA);
  unsigned char last = 0;
  EXPECT_TRUE(stream->ReadBytes(&last, 1));
  EXPECT_EQ(last, 0x7F);
  EXPECT_FALSE(stream->ReadBytes(&last, 1));
  EXPECT_EQ(stream->PutChar('x'), 0);
  stream->Release();
}

TEST_F(FakeCoreTest, StreamsOpenRealFilesButNotDirectories) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path();
  const std::filesystem::path path =
      dir /
      ("zolv_fake_core_" + std::to_string(std::random_device()()) + ".bin");
  {
    std::ofstream file(path, std::ios::binary);
    file.write("\x05\x00\x00\x00", 4);
  }
  Stream* stream = nullptr;
  ASSERT_EQ(ZolvCreateStream(&stream, "READFILE", path.string().c_str(),
                             "BYTEORDERED"),
            1);
  std::uint32_t value = 0;
  EXPECT_TRUE(stream->ReadULong(&value));
  EXPECT_EQ(value, 5u);
  stream->Release();
  std::filesystem::remove(path);

  Stream* none = nullptr;
  EXPECT_EQ(
      ZolvCreateStream(&none, "READFILE", dir.string().c_str(), "BYTEORDERED"),
      0);
  EXPECT_EQ(
      ZolvCreateStream(&none, "READFILE", path.string().c_str(), "BYTEORDERED"),
      0);
  EXPECT_EQ(none, nullptr);
}

TEST_F(FakeCoreTest, MatcherFollowsItsScript) {
  core().SetMatches("ring", "benzene", {{{0, 3}}, {{0, 4}, {1, 5}}});
  FakeHostObject host("benzene");
  Chemistry* molecule = nullptr;
  Chemistry* pattern = nullptr;
  Matcher* matcher = nullptr;
  MatchMap* map = nullptr;
  ASSERT_EQ(ZolvCreateChemistry(&molecule), 1);
  ASSERT_EQ(ZolvCreateChemistry(&pattern), 1);
  ASSERT_EQ(ZolvCreateMatcher(&matcher), 1);
  ASSERT_EQ(ZolvCreateMatchMap(&map), 1);
  molecule->CopyFrom(host.GetChemistry());
  pattern->LoadStored(4, reinterpret_cast<const std::uint8_t*>("ring"));
  matcher->SetOption(kSubstructureSearch);
  EXPECT_FALSE(matcher->NextMatch(map));  // no pattern or target yet
  matcher->SetPattern(pattern);
  matcher->SetTarget(molecule);
  EXPECT_TRUE(matcher->NextMatch(nullptr));
  std::uint32_t atom = 0;
  ASSERT_TRUE(matcher->NextMatch(map));
  EXPECT_TRUE(map->MappedAtom(0, &atom));
  EXPECT_EQ(atom, 3u);
  ASSERT_TRUE(matcher->NextMatch(map));
  EXPECT_TRUE(map->MappedAtom(1, &atom));
  EXPECT_EQ(atom, 5u);
  EXPECT_FALSE(map->MappedAtom(2, &atom));
  {
    ScreenSet mapped;
    map->MappedAtoms(&mapped);
    EXPECT_EQ(mapped.Count(), 2u);
  }
  EXPECT_FALSE(matcher->NextMatch(map));
  matcher->SetTarget(molecule);  // a new search starts over
  EXPECT_TRUE(matcher->NextMatch(map));
  pattern->LoadStored(5, reinterpret_cast<const std::uint8_t*>("chain"));
  matcher->SetTarget(molecule);
  EXPECT_FALSE(matcher->NextMatch(nullptr));
  EXPECT_EQ(core().MatchCalls().size(), 6u);
  EXPECT_EQ(core().MatchCalls().back(), "chain");
  EXPECT_EQ(core().MatcherOptions(), std::vector<std::int32_t>{2});
  for (auto* chemistry : {molecule, pattern}) chemistry->Release();
  matcher->Release();
  map->Release();
}

TEST_F(FakeCoreTest, AtomsAndIndexesFollowTheirScripts) {
  core().SetAtoms("benzene", {{1, 2, 3, 4}, {0, 0, 0, -1}});
  core().SetMayOccur("ring", "benzene", false);
  FakeHostObject host("benzene", 1);
  EXPECT_EQ(host.IsOfType(kMoleculeType), 1);
  EXPECT_EQ(host.askedTypes(), std::vector<std::int32_t>{kMoleculeType});
  Chemistry* molecule = nullptr;
  Chemistry* pattern = nullptr;
  Index* moleculeIndex = nullptr;
  Index* patternIndex = nullptr;
  ASSERT_EQ(ZolvCreateChemistry(&molecule), 1);
  ASSERT_EQ(ZolvCreateChemistry(&pattern), 1);
  ASSERT_EQ(ZolvCreateIndex(&moleculeIndex), 1);
  ASSERT_EQ(ZolvCreateIndex(&patternIndex), 1);
  molecule->CopyFrom(host.GetChemistry());
  Atom* atom = molecule->AtomAt(0);
  ASSERT_NE(atom, nullptr);
  EXPECT_EQ(atom->Property(kPropertyHydrogenCount), 1);
  EXPECT_EQ(atom->Property(kPropertyChargeAndIsotope), 4);
  EXPECT_EQ(atom->Property(1), 0);
  EXPECT_EQ(molecule->AtomAt(2), nullptr);
  {
    ScreenSet atoms;
    molecule->CollectAtoms(&atoms, 0);
    EXPECT_EQ(atoms.Count(), 2u);
  }
  pattern->LoadStored(4, reinterpret_cast<const std::uint8_t*>("ring"));
  patternIndex->Build(pattern);
  moleculeIndex->Build(molecule);
  EXPECT_FALSE(patternIndex->MayOccurIn(moleculeIndex));
  EXPECT_TRUE(moleculeIndex->MayOccurIn(patternIndex));
  EXPECT_EQ(core().PrescreenCalls(),
            (std::vector<std::string>{"ring", "benzene"}));
  for (auto* chemistry : {molecule, pattern}) chemistry->Release();
  for (auto* index : {moleculeIndex, patternIndex}) index->Release();
}

TEST_F(FakeCoreTest, FormulaComesFromTheScript) {
  FakeHostObject phenol("phenol");
  FakeHostObject unknown("unknown");
  core().SetFormula("phenol", "C6H6O");
  StringObject* text = nullptr;
  ASSERT_EQ(ZolvCreateString(&text), 1);
  EXPECT_EQ(ZolvFormula(&unknown, 0, text) & 1, 0);
  ASSERT_EQ(ZolvFormula(&phenol, 0, text), 1);
  EXPECT_STREQ(text->GetText(), "C6H6O");
  EXPECT_EQ(text->TextLength(), 5u);
  text->Release();
}

TEST_F(FakeCoreTest, AtomicNumbersCoverThePeriodicTableExactly) {
  struct Case {
    const char* symbol;
    std::int32_t number;
  };
  const Case cases[] = {{"H", 1},   {"He", 2},  {"C", 6},    {"Cl", 17},
                        {"Fe", 26}, {"U", 92},  {"Og", 118}, {"cl", 0},
                        {"CL", 0},  {"D", 0},   {"T", 0},    {"X", 0},
                        {"", 0},    {"Cl2", 0}, {nullptr, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(ZolvAtomicSymbolToNumber(c.symbol), c.number)
        << (c.symbol == nullptr ? "(null)" : c.symbol);
  }
}

}  // namespace
}  // namespace zolv::testing

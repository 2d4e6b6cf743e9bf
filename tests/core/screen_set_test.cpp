#include "screen_set.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "core_test.h"

namespace zolv {
namespace {

using Members = std::set<std::uint32_t>;

class ScreenSetTest : public testing::CoreTest {};

void Fill(ScreenSet* set, const Members& members) {
  for (std::uint32_t n : members) set->Add(n);
}

// The members as the byte scan sees them.
Members Scan(const ScreenSet& set) {
  Members members;
  std::uint32_t n = 0;
  for (bool found = set.First(&n); found; found = set.NextFrom(n + 1, &n)) {
    members.insert(n);
  }
  return members;
}

// The members as the words hold them, through the word-order formula.
Members WordMembers(const ScreenSet& set) {
  Members members;
  for (std::uint32_t j = 0; j < set.wordCount; ++j) {
    for (std::uint32_t i = 0; i < 32; ++i) {
      if (set.words[j] & (1u << (8 * (i / 8) + 7 - (i % 8)))) {
        members.insert(j * 32 + i);
      }
    }
  }
  return members;
}

void ExpectMembers(const ScreenSet& set, const Members& expected) {
  EXPECT_EQ(Scan(set), expected);
  EXPECT_EQ(WordMembers(set), expected);
  EXPECT_EQ(set.Count(), expected.size());
  EXPECT_EQ(set.IsEmpty(), expected.empty());
  EXPECT_EQ(set.byteCount, set.wordCount * 4);
  std::uint32_t last = 0;
  EXPECT_EQ(set.Last(&last), !expected.empty());
  if (!expected.empty()) {
    EXPECT_EQ(last, *expected.rbegin());
  }
}

TEST_F(ScreenSetTest, NewSetHasNoStorageAndNoMembers) {
  ScreenSet set;
  std::uint32_t out = 99;
  EXPECT_EQ(set.words, nullptr);
  EXPECT_EQ(set.wordCount, 0u);
  EXPECT_TRUE(set.IsEmpty());
  EXPECT_FALSE(set.Contains(0));
  EXPECT_FALSE(set.First(&out));
  EXPECT_FALSE(set.Last(&out));
  EXPECT_FALSE(set.NextFrom(0, &out));
  EXPECT_EQ(set.Count(), 0u);
  EXPECT_EQ(out, 99u);
}

TEST_F(ScreenSetTest, GrowsExactlyToTheWordOfTheLargestNumber) {
  ScreenSet set;
  set.Add(0);
  EXPECT_EQ(set.words, set.inlineWords);
  EXPECT_EQ(set.wordCount, 1u);
  set.Add(127);
  EXPECT_EQ(set.words, set.inlineWords);
  EXPECT_EQ(set.wordCount, 4u);
  EXPECT_EQ(core().MemoryCalls(), 0u);

  set.Add(128);
  EXPECT_NE(set.words, set.inlineWords);
  EXPECT_EQ(set.wordCount, 5u);
  EXPECT_EQ(core().MemoryCalls(), 1u);
  EXPECT_EQ(core().LiveBlocks(), 1u);
  ExpectMembers(set, {0, 127, 128});

  set.Add(1000);  // word 31: a new block of 32 words, the old one returned
  EXPECT_EQ(set.wordCount, 32u);
  EXPECT_EQ(core().MemoryCalls(), 2u);
  EXPECT_EQ(core().LiveBlocks(), 1u);
  set.Add(5);  // within the words: no growth
  EXPECT_EQ(core().MemoryCalls(), 2u);
  ExpectMembers(set, {0, 5, 127, 128, 1000});
}

TEST_F(ScreenSetTest, GrowthZeroesTheNewWords) {
  // Fresh core blocks hold garbage; growth must not carry it into the set.
  ScreenSet set;
  set.Add(200);
  set.Add(3);
  ExpectMembers(set, {3, 200});
  ScreenSet inlineSet;
  inlineSet.Add(1);
  inlineSet.Add(100);
  ExpectMembers(inlineSet, {1, 100});
}

TEST_F(ScreenSetTest, WordsAndBytesAgree) {
  struct Case {
    std::uint32_t n;
    std::uint32_t word;
    std::uint32_t byteIndex;
    std::uint8_t byte;
  };
  const Case cases[] = {{0, 0x80, 0, 0x80},      {7, 0x01, 0, 0x01},
                        {8, 0x8000, 1, 0x80},    {9, 0x4000, 1, 0x40},
                        {31, 1u << 24, 3, 0x01}, {32, 0x80, 4, 0x80},
                        {23, 1u << 16, 2, 0x01}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.n);
    ScreenSet set;
    set.Add(c.n);
    EXPECT_EQ(set.words[c.n / 32], c.word);
    EXPECT_EQ(set.bytes()[c.byteIndex], c.byte);
    EXPECT_TRUE(set.Contains(c.n));
    EXPECT_EQ(set.Count(), 1u);
  }
}

TEST_F(ScreenSetTest, TakesNumbersUpTo268435454Only) {
  ScreenSet set;
  set.Add(ScreenSet::kNumberLimit);
  set.Add(0xFFFFFFFFu);
  EXPECT_EQ(set.words, nullptr);
  EXPECT_EQ(core().MemoryCalls(), 0u);

  set.Add(268435454);
  EXPECT_EQ(set.wordCount, 268435454u / 32 + 1);
  std::uint32_t out = 0;
  ASSERT_TRUE(set.First(&out));
  EXPECT_EQ(out, 268435454u);
  ASSERT_TRUE(set.Last(&out));
  EXPECT_EQ(out, 268435454u);
  set.Add(268435455);
  set.Add(268435456);
  EXPECT_EQ(set.Count(), 1u);
  EXPECT_FALSE(set.Contains(268435455));
}

TEST_F(ScreenSetTest, ScansMatchAModel) {
  const std::vector<Members> sets = {
      {0},
      {7, 8},
      {3, 8, 31, 32, 100, 127},
      {1, 2, 3, 4, 5, 6, 7, 255, 256, 257},
      {130},
      {0, 159},
  };
  for (const Members& members : sets) {
    ScreenSet set;
    Fill(&set, members);
    ExpectMembers(set, members);
    const std::uint32_t end = set.wordCount * 32;
    for (std::uint32_t n = 0; n < end + 40; ++n) {
      SCOPED_TRACE(n);
      EXPECT_EQ(set.Contains(n), members.count(n) == 1);
      auto next = members.lower_bound(n);
      std::uint32_t out = 0xDEAD;
      EXPECT_EQ(set.NextFrom(n, &out), next != members.end());
      EXPECT_EQ(out, next != members.end() ? *next : 0xDEAD);
    }
    EXPECT_EQ(set.wordCount * 32, end);  // looking beyond never grows
  }
}

TEST_F(ScreenSetTest, ScansOfASetWithStorageButNoMembers) {
  ScreenSet set;
  Fill(&set, {4, 170});
  set.Subtract(set, set);
  std::uint32_t out = 0;
  EXPECT_TRUE(set.IsEmpty());
  EXPECT_FALSE(set.First(&out));
  EXPECT_FALSE(set.Last(&out));
  EXPECT_FALSE(set.NextFrom(0, &out));
  EXPECT_EQ(set.Count(), 0u);
  EXPECT_EQ(set.wordCount, 6u);
}

enum class Op { kIntersect, kUnite, kSubtract };

Members Model(Op op, const Members& a, const Members& b) {
  Members result;
  for (std::uint32_t n : a) {
    if ((op == Op::kIntersect) == (b.count(n) == 1)) result.insert(n);
  }
  if (op == Op::kUnite) result.insert(b.begin(), b.end());
  return result;
}

void Apply(Op op, ScreenSet* self, const ScreenSet& a, const ScreenSet& b) {
  switch (op) {
    case Op::kIntersect:
      self->Intersect(a, b);
      break;
    case Op::kUnite:
      self->Unite(a, b);
      break;
    case Op::kSubtract:
      self->Subtract(a, b);
      break;
  }
}

const char* OpName(Op op) {
  return op == Op::kIntersect ? "Intersect"
         : op == Op::kUnite   ? "Unite"
                              : "Subtract";
}

// Operand contents: one word, inline four words, external storage.
const std::vector<Members> kOperands = {
    {}, {1, 30}, {1, 40, 127}, {0, 30, 31, 64, 200}, {2, 600},
};

TEST_F(ScreenSetTest, CombinationsMatchAModelWithAndWithoutAliasing) {
  for (Op op : {Op::kIntersect, Op::kUnite, Op::kSubtract}) {
    for (const Members& x : kOperands) {
      for (const Members& y : kOperands) {
        SCOPED_TRACE(std::string(OpName(op)) + " of sizes " +
                     std::to_string(x.size()) + ", " +
                     std::to_string(y.size()));
        ScreenSet a;
        ScreenSet b;
        Fill(&a, x);
        Fill(&b, y);
        {
          ScreenSet into;
          Fill(&into, {5, 90, 400});  // old members must all go
          Apply(op, &into, a, b);
          ExpectMembers(into, Model(op, x, y));
        }
        {
          ScreenSet self;  // this == a
          Fill(&self, x);
          Apply(op, &self, self, b);
          ExpectMembers(self, Model(op, x, y));
        }
        {
          ScreenSet self;  // this == b
          Fill(&self, y);
          Apply(op, &self, a, self);
          ExpectMembers(self, Model(op, x, y));
        }
        {
          ScreenSet self;  // this == a == b
          Fill(&self, x);
          Apply(op, &self, self, self);
          ExpectMembers(self, Model(op, x, x));
        }
      }
    }
  }
}

TEST_F(ScreenSetTest, CombinationsKeepTheLargerWordCount) {
  struct Case {
    Op op;
    std::uint32_t self;  // largest member + 1 of each set; 0: no storage
    std::uint32_t a;
    std::uint32_t b;
    std::uint32_t words;
  };
  const Case cases[] = {
      {Op::kIntersect, 0, 100, 300, 4},   {Op::kIntersect, 400, 40, 300, 13},
      {Op::kIntersect, 0, 0, 300, 0},     {Op::kIntersect, 1, 300, 200, 7},
      {Op::kUnite, 0, 1, 160, 5},         {Op::kUnite, 400, 1, 160, 13},
      {Op::kUnite, 0, 0, 0, 0},           {Op::kUnite, 0, 300, 0, 10},
      {Op::kSubtract, 0, 100, 300, 4},    {Op::kSubtract, 0, 300, 100, 10},
      {Op::kSubtract, 400, 100, 300, 13}, {Op::kSubtract, 0, 0, 300, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(OpName(c.op)) + " " + std::to_string(c.self) +
                 " " + std::to_string(c.a) + " " + std::to_string(c.b));
    ScreenSet self;
    ScreenSet a;
    ScreenSet b;
    if (c.self != 0) self.Add(c.self - 1);
    if (c.a != 0) a.Add(c.a - 1);
    if (c.b != 0) b.Add(c.b - 1);
    Apply(c.op, &self, a, b);
    EXPECT_EQ(self.wordCount, c.words);
  }
}

TEST_F(ScreenSetTest, UniteOfOneAndFiveWordsCopiesTheLongerTail) {
  ScreenSet small;
  ScreenSet large;
  ScreenSet result;
  small.Add(3);
  Fill(&large, {35, 70, 100, 159});
  result.Unite(small, large);
  EXPECT_EQ(result.wordCount, 5u);
  ExpectMembers(result, {3, 35, 70, 100, 159});
}

TEST_F(ScreenSetTest, AssignLeavesOutTrailingZeroWords) {
  ScreenSet source;
  Fill(&source, {2, 150});
  ScreenSet removal;
  removal.Add(150);
  source.Subtract(source, removal);  // five words, the last four zero
  ASSERT_EQ(source.wordCount, 5u);
  const std::uint64_t calls = core().MemoryCalls();

  ScreenSet target;
  target.Assign(source);
  EXPECT_EQ(target.wordCount, 1u);
  EXPECT_EQ(target.words, target.inlineWords);
  EXPECT_EQ(core().MemoryCalls(), calls);
  ExpectMembers(target, {2});

  ScreenSet longer;
  Fill(&longer, {1, 300});
  longer.Assign(source);
  EXPECT_EQ(longer.wordCount, 10u);
  ExpectMembers(longer, {2});

  ScreenSet grown;
  grown.Add(1);
  ScreenSet big;
  Fill(&big, {7, 250});
  grown.Assign(big);
  EXPECT_EQ(grown.wordCount, 8u);
  ExpectMembers(grown, {7, 250});
}

TEST_F(ScreenSetTest, AssignFromASetWithoutStorageClearsButKeepsWords) {
  ScreenSet empty;
  ScreenSet target;
  Fill(&target, {1, 200});
  target.Assign(empty);
  EXPECT_EQ(target.wordCount, 7u);
  ExpectMembers(target, {});
  ScreenSet none;
  none.Assign(empty);
  EXPECT_EQ(none.words, nullptr);
}

TEST_F(ScreenSetTest, AssignToItselfChangesNothing) {
  ScreenSet set;
  Fill(&set, {0, 9, 180});
  const std::uint32_t* words = set.words;
  set.Assign(set);
  EXPECT_EQ(set.words, words);
  EXPECT_EQ(set.wordCount, 6u);
  ExpectMembers(set, {0, 9, 180});
}

TEST_F(ScreenSetTest, RefusedMemoryLeavesTheDestinationUnchanged) {
  using Change = std::function<void(ScreenSet*, const ScreenSet&)>;
  const std::vector<std::pair<const char*, Change>> changes = {
      {"Add", [](ScreenSet* s, const ScreenSet&) { s->Add(500); }},
      {"Unite", [](ScreenSet* s, const ScreenSet& big) { s->Unite(*s, big); }},
      {"UniteInto",
       [](ScreenSet* s, const ScreenSet& big) { s->Unite(big, big); }},
      {"Subtract",
       [](ScreenSet* s, const ScreenSet& big) { s->Subtract(big, *s); }},
      {"Intersect",
       [](ScreenSet* s, const ScreenSet& big) { s->Intersect(big, big); }},
      {"Assign", [](ScreenSet* s, const ScreenSet& big) { s->Assign(big); }},
  };
  for (const auto& [name, change] : changes) {
    for (const Members& before : std::vector<Members>{{}, {3, 60}, {3, 140}}) {
      SCOPED_TRACE(std::string(name) + " into " +
                   std::to_string(before.size()) + " members");
      ScreenSet big;
      Fill(&big, {1, 60, 700});
      ScreenSet set;
      Fill(&set, before);
      const std::uint32_t* words = set.words;
      const std::uint32_t wordCount = set.wordCount;
      core().RefuseAllMemory(true);
      change(&set, big);
      core().RefuseAllMemory(false);
      EXPECT_EQ(set.words, words);
      EXPECT_EQ(set.wordCount, wordCount);
      ExpectMembers(set, before);
    }
  }
}

// AddAll is Add for each number, with one growth: the same members and the
// same word count in every order, and under refused memory the numbers that
// fit the words the set has.
TEST_F(ScreenSetTest, AddAllAddsLikeAddOneByOne) {
  const std::vector<std::vector<std::uint16_t>> lists = {
      {}, {7}, {3, 200, 3, 64}, {900, 1, 31, 32, 127, 128}, {65535, 0}};
  for (const bool refused : {false, true}) {
    for (const auto& list : lists) {
      SCOPED_TRACE(std::to_string(list.size()) + " numbers, memory " +
                   (refused ? "refused" : "given"));
      ScreenSet one;
      ScreenSet all;
      Fill(&one, {2, 40});
      Fill(&all, {2, 40});
      core().RefuseAllMemory(refused);
      for (std::uint16_t n : list) one.Add(n);
      all.AddAll(list.data(), static_cast<std::uint32_t>(list.size()));
      core().RefuseAllMemory(false);
      EXPECT_EQ(all.wordCount, one.wordCount);
      ExpectMembers(all, Scan(one));
    }
  }
}

// Grow used to copy all current words into a block sized for the smaller
// count (a heap overflow) and to make wordCount smaller.
TEST_F(ScreenSetTest, GrowToFewerWordsThanTheSetHasChangesNothing) {
  for (const Members& members :
       std::vector<Members>{{}, {5}, {5, 100}, {5, 300}}) {
    for (std::uint32_t n : {0u, 1u, 3u, 4u, 5u, 10u}) {
      ScreenSet set;
      Fill(&set, members);
      const std::uint32_t wordCount = set.wordCount;
      if (n > wordCount || (members.empty() && n != 0)) continue;
      SCOPED_TRACE(std::to_string(wordCount) + " words, Grow " +
                   std::to_string(n));
      const std::uint32_t* words = set.words;
      const std::uint64_t calls = core().MemoryCalls();
      EXPECT_EQ(set.Grow(n), words);
      EXPECT_EQ(set.words, words);
      EXPECT_EQ(set.wordCount, wordCount);
      EXPECT_EQ(core().MemoryCalls(), calls);
      ExpectMembers(set, members);
    }
  }
}

// A word count whose size in bytes wraps 32 bits used to ask for a tiny block
// and then write the full count into it.
TEST_F(ScreenSetTest, WordCountsBeyond32BitSizesAreRefused) {
  ScreenSet set;
  Fill(&set, {5, 200});
  const std::uint32_t* words = set.words;
  EXPECT_EQ(set.Grow(0x40000001u), words);
  EXPECT_EQ(set.Reserve(0x40000001u), nullptr);
  EXPECT_EQ(core().MemoryCalls(), 1u);
  EXPECT_EQ(set.words, words);
  ExpectMembers(set, {5, 200});
}

TEST_F(ScreenSetTest, RefusedGrowthLaterSucceeds) {
  ScreenSet set;
  set.Add(1);
  core().RefuseMemoryCall(1);
  set.Add(300);
  ExpectMembers(set, {1});
  set.Add(300);
  ExpectMembers(set, {1, 300});
}

}  // namespace
}  // namespace zolv

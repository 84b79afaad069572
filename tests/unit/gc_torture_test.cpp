// Collector torture: large random structures of every datatype built so far,
// with sharing and cycles; parts are dropped, the collector runs (moving what
// survives), and every survivor molds exactly as before.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "datatypes/char.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "kiv_test.h"
#include "runtime/collector.h"
#include "runtime/gc_root.h"
#include "runtime/memory.h"

namespace kiv {
namespace {

const char* const kWords[] = {"alpha", "beta", "Gamma", "delta-x", "e?", "zeta!"};
const uint32_t kCodePoints[] = {'a', 0xE9, 0x4E2D, 0x1F600, '"', '^', 0x7F};

// A new value of a random scalar or series type (MAY ALLOCATE); series come out empty or short.
Cell random_leaf(std::mt19937& rng) {
  switch (rng() % 8) {
    case 0: return integer_cell(int32_t(rng() % 2001) - 1000);
    case 1: return char_cell(kCodePoints[rng() % 7]);
    case 2: return logic_cell(rng() & 1);
    case 3: return kNoneCell;
    case 4: {
      Cell w;
      load_word_into(&w, kWords[rng() % 6]);
      static const TypeId kinds[] = {kTypeWord, kTypeSetWord, kTypeGetWord, kTypeLitWord, kTypeRefinement};
      w.set_type(kinds[rng() % 5]);
      return w;
    }
    default: {
      Cell s;
      string_make_at(&s, 4);
      Root r(s);
      uint32_t n = rng() % 12;
      for (uint32_t i = 0; i < n; i++) append_char(r->node(), kCodePoints[rng() % 7]);
      return *r;
    }
  }
}

// Builds [count] values into [pool]: leaves, and blocks, parens and paths that
// hold earlier values (shared) and, now and then, themselves or later ones (cycles).
void build(RootedCells& pool, std::mt19937& rng, int count) {
  for (int i = 0; i < count; i++) {
    if (rng() % 2 || pool.size() < 4) {
      Cell leaf = random_leaf(rng);
      pool.push(leaf);
      continue;
    }
    static const TypeId kinds[] = {kTypeBlock, kTypeBlock, kTypeParen, kTypePath};
    TypeId t = kinds[rng() % 4];
    pool.push(series_cell(t, series_alloc_cells(2)));
    size_t self = pool.size() - 1;
    uint32_t n = 1 + rng() % 6;
    for (uint32_t k = 0; k < n; k++) {
      Cell v = pool[rng() % pool.size()];
      if (t == kTypePath && !v.is(kTypeWord) && !v.is(kTypeInteger)) v = integer_cell(k);
      *append_cell(pool[self].node()) = v;
    }
    if (rng() % 10 == 0) *append_cell(pool[self].node()) = pool[self];  // a block inside itself
  }
  for (int i = 0; i < count / 10; i++) {  // cycles through later values
    Cell a = pool[rng() % pool.size()];
    if (a.is(kTypeBlock)) *append_cell(a.node()) = pool[rng() % pool.size()];
  }
}

TEST(CollectorTorture, SurvivorsMoldAsBefore) {
  std::mt19937 rng(20261210);
  for (int round = 0; round < 3; round++) {
    RootedCells pool;
    build(pool, rng, 1500);
    RootedCells keep;
    for (size_t i = 0; i < pool.size(); i++)
      if (rng() % 4 == 0) keep.push(pool[i]);
    std::vector<std::string> before;
    for (size_t i = 0; i < keep.size(); i++) before.push_back(test::mold_of(keep[i]));
    size_t text = 0, cycles = 0;
    for (const std::string& m : before) {
      text += m.size();
      cycles += m.find("[...]") != std::string::npos;
    }
    EXPECT_GT(text, 10000u);  // the structures are big and nested
    EXPECT_GT(cycles, 0u);    // some survivors hold themselves
    pool.clear();
    gc_collect();
    ASSERT_EQ(gc_verify(), 0);
    for (size_t i = 0; i < keep.size(); i++) ASSERT_EQ(test::mold_of(keep[i]), before[i]) << i;
    // Grow the survivors (moving them) and collect again.
    for (size_t i = 0; i < keep.size(); i++)
      if (keep[i].is(kTypeBlock)) *append_cell(keep[i].node()) = integer_cell(7);
    before.clear();
    for (size_t i = 0; i < keep.size(); i++) before.push_back(test::mold_of(keep[i]));
    gc_collect();
    for (size_t i = 0; i < keep.size(); i++) ASSERT_EQ(test::mold_of(keep[i]), before[i]) << i;
  }
}

}  // namespace
}  // namespace kiv

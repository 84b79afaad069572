// The symbol table: exact and caseless interning, canonical spellings (first
// interned wins, aliases never point at aliases, also after the name index
// grows), ASCII-only folding, NUL-terminated names, cached name strings, names
// read from inside a series, and the compare handler of symbol!.
#include "datatypes/symbol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "datatypes/actions.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/root_block.h"
#include "runtime/stack.h"
#include "tests/unit/kiv_test.h"

namespace kiv {
namespace {

TEST(SymbolTest, ExactInterningAndAliases) {
  int32_t foo = symbol_make("st-foo");
  EXPECT_EQ(symbol_make("st-foo"), foo);
  EXPECT_EQ(symbol_alias(foo), -1);
  EXPECT_EQ(symbol_resolve(foo), foo);

  int32_t upper = symbol_make("St-Foo");
  EXPECT_NE(upper, foo);
  EXPECT_EQ(symbol_alias(upper), foo);
  EXPECT_EQ(symbol_resolve(upper), foo);
  EXPECT_TRUE(symbol_same_name_q(foo, upper));
  EXPECT_EQ(symbol_make("St-Foo"), upper);

  // A third spelling points at the first, not at the second.
  int32_t loud = symbol_make("ST-FOO");
  EXPECT_EQ(symbol_alias(loud), foo);
  EXPECT_EQ(symbol_name(loud), "ST-FOO");
}

TEST(SymbolTest, TheFirstSpellingWinsWhateverItsCase) {
  int32_t first = symbol_make("Zq-Bar");
  int32_t second = symbol_make("zq-bar");
  EXPECT_EQ(symbol_alias(first), -1);
  EXPECT_EQ(symbol_resolve(second), first);
}

TEST(SymbolTest, CaselessInterningFindsTheCanonicalSpelling) {
  int32_t first = symbol_make("Cl-Name");
  symbol_make("cl-name");
  uint32_t count = symbol_count();
  EXPECT_EQ(symbol_make_caseless("CL-NAME"), first);
  EXPECT_EQ(symbol_make_caseless("cl-name"), first);
  EXPECT_EQ(symbol_count(), count);

  int32_t fresh = symbol_make_caseless("CL-FRESH");
  EXPECT_EQ(symbol_count(), count + 1);
  EXPECT_EQ(symbol_alias(fresh), -1);
  EXPECT_EQ(symbol_name(fresh), "CL-FRESH");
  EXPECT_EQ(symbol_alias(symbol_make("cl-fresh")), fresh);
}

TEST(SymbolTest, OnlyAsciiLettersFold) {
  int32_t lower = symbol_make("caf\xC3\xA9");  // é
  int32_t upper = symbol_make("caf\xC3\x89");  // É
  EXPECT_NE(lower, upper);
  EXPECT_EQ(symbol_alias(upper), -1);
  EXPECT_EQ(symbol_alias(symbol_make("CAF\xC3\xA9")), lower);
}

TEST(SymbolTest, NamesEndWithANulPastTheTail) {
  for (const char* name : {"nul-check", "x", "", "a-much-longer-name-that-takes-more-than-sixteen-bytes"}) {
    SCOPED_TRACE(name);
    int32_t id = symbol_make(name);
    Cell record = *(series_buffer(root_slot(kRootSymbolTable)->node())->cells() + (id - 1));
    EXPECT_TRUE(record.is(kTypeSymbol));
    SeriesBuffer* b = series_buffer(symbol_record_name(&record));
    EXPECT_EQ(b->used(), std::strlen(name));
    EXPECT_EQ(b->tail_ptr()[0], 0);
    EXPECT_STREQ(symbol_c_name(id), name);
  }
}

TEST(SymbolTest, CachedNameStringIsMadeOnceOnDemand) {
  int32_t id = symbol_make("h\xC3\xA9llo-\xCF\x88");  // héllo-ψ
  Cell before = *(series_buffer(root_slot(kRootSymbolTable)->node())->cells() + (id - 1));
  EXPECT_EQ(symbol_record_string(&before), 0u);
  Cell record = symbol_get_record(id);
  ASSERT_NE(symbol_record_string(&record), 0u);
  EXPECT_EQ(symbol_cache_string(id), symbol_record_string(&record));
  Cell str = series_cell(kTypeString, symbol_record_string(&record));
  EXPECT_EQ(string_length(&str), 7);
  EXPECT_EQ(string_to_utf8(&str), "h\xC3\xA9llo-\xCF\x88");
}

TEST(SymbolTest, NamesFromInsideASeries) {
  // A long name read straight out of a string buffer, which moves whenever
  // anything allocates in a stress build.
  std::string name(300, 'n');
  name += "-from-series";
  Cell* str = string_make_at(stack_push(), 16);
  string_append_c_string(str, name);
  SeriesBuffer* b = series_buffer(str->node());
  int32_t id = symbol_make_sized(b->head_ptr(), b->used());
  EXPECT_EQ(symbol_name(id), name);
  EXPECT_EQ(symbol_from_string(str), id);
  str->set_head(300);
  EXPECT_EQ(symbol_name(symbol_from_string(str)), "-from-series");
}

TEST(SymbolTest, AliasesStayCanonicalAfterTheIndexGrows) {
  // Spellings made before the name index grows...
  int32_t mixed = symbol_make("Grow-Mixed");
  int32_t loud = symbol_make("GROW-MIXED");
  ASSERT_EQ(symbol_alias(loud), mixed);

  // ...then names up to one short of the growth point, without collections
  // (each interning collects in a stress build)...
  Node index = root_table(kRootTableSymbolIndex);
  uint32_t buckets = hashtable_header(index).buckets;
  {
    CollectorPause pause;
    for (int i = 0; hashtable_header(index).occupied + 1 < hashtable_header(index).upper; i++)
      symbol_make(("grow-fill-" + std::to_string(i)).c_str());
  }
  // ...and the ones that make it grow, with them.
  for (int i = 0; i < 4; i++) symbol_make(("grow-last-" + std::to_string(i)).c_str());
  ASSERT_GT(hashtable_header(index).buckets, buckets);

  // Whichever spelling the probe meets first, a new one records the canonical id.
  for (const char* spelling : {"grow-mixed", "Grow-MIXED", "gROW-mIXED"}) {
    int32_t id = symbol_make(spelling);
    EXPECT_EQ(symbol_alias(id), mixed) << spelling;
  }
  EXPECT_EQ(symbol_make("GROW-MIXED"), loud);
  EXPECT_EQ(symbol_make_caseless("grow-MIXED"), mixed);
  EXPECT_EQ(symbol_make("grow-fill-17"), symbol_make("grow-fill-17"));
  EXPECT_EQ(symbol_name(symbol_make_caseless("GROW-FILL-17")), "grow-fill-17");
}

TEST(SymbolTest, SymbolRecordsCompareByText) {
  struct Case {
    const char* a;
    const char* b;
    CompareOp op;
    int expected;
  } cases[] = {
      {"cmp-apple", "cmp-Banana", kCmpSort, -1}, {"cmp-apple", "cmp-Banana", kCmpCaseSort, 1},
      {"cmp-same", "CMP-SAME", kCmpEqual, 0},    {"cmp-same", "CMP-SAME", kCmpStrictEqual, 1},
      {"cmp-same", "cmp-same", kCmpSame, 0},     {"cmp-same", "CMP-SAME", kCmpSame, 1},
      {"cmp-b", "cmp-a", kCmpGreater, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " " + c.b);
    StackSave save;
    Cell* a = stack_push_value(symbol_get_record(symbol_make(c.a)));
    Cell* b = stack_push();
    *b = symbol_get_record(symbol_make(c.b));
    EXPECT_EQ(action_compare_values(a, b, c.op), c.expected);
  }
  // A record without its cached string yet still compares.
  StackSave save;
  int32_t raw = symbol_make("cmp-uncached");
  Cell* a = stack_push_value(*(series_buffer(root_slot(kRootSymbolTable)->node())->cells() + (raw - 1)));
  Cell* b = stack_push_value(symbol_get_record(symbol_make("cmp-uncached")));
  EXPECT_EQ(action_compare_values(a, b, kCmpEqual), 0);
  Cell w = load_word("cmp-uncached");
  Cell* other = stack_push_value(w);
  EXPECT_EQ(action_compare_values(a, other, kCmpEqual), kNotComparable);
}

}  // namespace
}  // namespace kiv

// The symbol table: interning names, reading records, the cached name strings,
// and the compare handler of symbol!.
//
// This file owns the records block, its name index and their roots, and the
// interning through the index. Names are copied out of wherever they come
// from before anything allocates, so callers may pass bytes that lie in a series.
#include "datatypes/symbol.h"

#include <cstring>
#include <vector>

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/gc_root.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/murmur3.h"
#include "runtime/root_block.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv {

namespace {

Node records_node() { return g_root_block ? root_slot(kRootSymbolTable)->node() : 0; }
Node index_node() { return root_table(kRootTableSymbolIndex); }

// The record of [id]. Short-lived.
Cell* record_of(int32_t id) { return series_buffer(records_node())->cells() + (id - 1); }

// Interns a private copy of the [length] bytes at [bytes].
int32_t intern_copy(const uint8_t* bytes, uint32_t length, bool ignore_case) {
  uint8_t small[128];
  std::vector<uint8_t> big;
  uint8_t* copy = small;
  if (length > sizeof small) {
    big.resize(length);
    copy = big.data();
  }
  if (length) std::memcpy(copy, bytes, length);
  return symbol_find(index_node(), copy, length, ignore_case);
}

// True for an id of the table. The readers answer for any other id as for a
// canonical symbol with an empty name rather than read past the table.
bool valid_id_q(int32_t id) {
  Node records = records_node();
  return id > 0 && records && uint32_t(id) <= series_buffer(records)->length();
}

bool ascii_caseless_equal(const uint8_t* a, const uint8_t* b, uint32_t n) {
  for (uint32_t i = 0; i < n; i++) {
    uint8_t x = a[i], y = b[i];
    if (x == y) continue;
    if (uint8_t((x | 0x20) - 'a') >= 26 || (x | 0x20) != (y | 0x20)) return false;
  }
  return true;
}

// The canonical id of record [r] (0-based) of a records block.
inline int32_t canonical_of_record(const Cell* records, int32_t r) {
  int32_t alias = symbol_record_alias(records + r);
  return alias > 0 ? alias : r + 1;
}

// What a probe of the name index looks for, and the first spelling it met
// that is equal ignoring ASCII case. [records] is read in place: nothing
// allocates during a probe.
struct NameProbe {
  const uint8_t* name;
  uint32_t length;
  bool ignore_case;
  const Cell* records;
  int32_t caseless = -1;

  bool matches(int32_t key) {
    SeriesBuffer* nb = series_buffer(symbol_record_name(records + key));
    if (nb->used() != length) return false;
    const uint8_t* s = nb->head_ptr();
    if (!ignore_case && (length == 0 || std::memcmp(s, name, length) == 0)) return true;
    if (caseless < 0 && ascii_caseless_equal(s, name, length)) {
      if (ignore_case) return true;
      caseless = key;
    }
    return false;
  }
};

void symbol_mark(const Cell* value) {
  gc_mark_series(symbol_record_name(value));
  gc_mark_series(symbol_record_string(value));
}

constexpr TypeHooks kSymbolHooks{.mark = symbol_mark, .hash = hash_symbol};

}  // namespace

uint32_t hash_symbol(const Cell* record) {
  Node name = symbol_record_name(record);
  if (!name) return hash_symbol_name(nullptr, 0);
  SeriesBuffer* b = series_buffer(name);
  return hash_symbol_name(b->head_ptr(), b->used());
}

int32_t symbol_find(Node table, const uint8_t* name, uint32_t length, bool ignore_case) {
  if (hashtable_full_q(table)) hashtable_make_room(table);
  Node records = hashtable_values(table);
  NameProbe p{name, length, ignore_case, series_buffer(records)->head_cell()};
  HashSlot slot;
  {
    NoGcScope no_gc;
    slot =
        hashtable_probe(table, hash_symbol_name(name, length), [&p](int32_t key) { return p.matches(key); });
  }
  if (slot.found >= 0) {
    int32_t key = hashtable_found_key(table, slot);
    return ignore_case ? canonical_of_record(p.records, key) : key + 1;
  }
  // After a resize the first caseless match met may be an alias spelling:
  // record its canonical id, never an alias of an alias.
  int32_t alias = p.caseless >= 0 ? canonical_of_record(p.records, p.caseless) : -1;
  uint32_t index = series_buffer(records)->length();
  append_cell(records);  // an unset! placeholder while the name is made
  Node name_node = series_alloc(length + 1, 1, 0);
  SeriesBuffer* nb = series_buffer(name_node);
  if (length) std::memcpy(nb->data(), name, length);
  nb->data()[length] = 0;
  nb->tail = length;
  series_buffer(records)->head_cell()[index] = symbol_record(alias, name_node);
  hashtable_insert_key(table, slot, int32_t(index));
  return int32_t(index) + 1;
}

void symbol_table_init() {
  if (symbol_table_ready()) return;
  Node records = series_alloc_cells(kSymbolTableCapacity);
  *root_slot(kRootSymbolTable) = series_cell(kTypeBlock, records);
  root_table_set(kRootTableSymbolIndex, hashtable_init(kSymbolTableCapacity, records, kHashSymbols));
}

bool symbol_table_ready() {
  return g_root_block && root_slot(kRootSymbolTable)->is(kTypeBlock) && root_table(kRootTableSymbolIndex);
}

uint32_t symbol_count() { return series_buffer(records_node())->length(); }

int32_t symbol_make(const char* name) {
  return intern_copy(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name)), false);
}

int32_t symbol_make_sized(const uint8_t* bytes, uint32_t length) { return intern_copy(bytes, length, false); }

int32_t symbol_make_caseless(const char* name) {
  return intern_copy(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name)), true);
}

int32_t symbol_from_string(const Cell* str) {
  std::string text = string_to_utf8(str);
  return intern_copy(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), false);
}

int32_t symbol_resolve(int32_t id) {
  if (!valid_id_q(id)) return id;
  int32_t alias = symbol_record_alias(record_of(id));
  return alias > 0 ? alias : id;
}

int32_t symbol_alias(int32_t id) { return valid_id_q(id) ? symbol_record_alias(record_of(id)) : -1; }

std::string_view symbol_name(int32_t id) {
  if (!valid_id_q(id)) return {};
  SeriesBuffer* b = series_buffer(symbol_record_name(record_of(id)));
  return {reinterpret_cast<const char*>(b->head_ptr()), b->used()};
}

std::string symbol_name_text(int32_t id) { return std::string(symbol_name(id)); }

const char* symbol_c_name(int32_t id) {
  if (!valid_id_q(id)) return "";
  return reinterpret_cast<const char*>(series_buffer(symbol_record_name(record_of(id)))->head_ptr());
}

Node symbol_cache_string(int32_t id) {
  if (!valid_id_q(id)) return series_alloc_units(0, 1);  // an unknown id names nothing
  if (Node cached = symbol_record_string(record_of(id))) return cached;
  Node names = symbol_record_name(record_of(id));
  Node str = load_utf8_new(ByteSource::series(names, 0), series_buffer(names)->used());
  symbol_record_set_string(record_of(id), str);  // nothing allocates between the load and this store
  return str;
}

Cell symbol_get_record(int32_t id) {
  symbol_cache_string(id);
  return *record_of(id);
}

Cell symbol_name_view(int32_t id) { return series_cell(kTypeString, symbol_cache_string(id)); }

namespace {

// MAY ALLOCATE. The name of the record [rec] as a string node: its cached
// string, or a fresh decoding of its name bytes (a record copy cannot store one back).
Node record_name_string(const Cell& rec) {
  if (Node cached = symbol_record_string(&rec)) return cached;
  Node name = symbol_record_name(&rec);
  return load_utf8_new(ByteSource::series(name, 0), series_buffer(name)->used());
}

// Symbols compare by the text of their names; sameness is the same record.
int symbol_compare(Cell* value, const CompareArgs& args) {
  if (!args.value2->is(kTypeSymbol)) return kNotComparable;
  if (args.op == kCmpSame) return symbol_record_name(value) == symbol_record_name(args.value2) ? 0 : 1;
  StackSave save;
  Cell* a = stack_push();
  Cell* b = stack_push();
  Node na = record_name_string(*value);
  *a = series_cell(kTypeString, na);
  Node nb = record_name_string(*args.value2);
  *b = series_cell(kTypeString, nb);
  return string_compare_core(a, b, args.op, 0);
}

}  // namespace

void symbol_datatype_init() {
  register_datatype(
      {kTypeSymbol, kTypeNil, "symbol!", kActionCount, {.compare = symbol_compare}, &kSymbolHooks});
}

uint32_t symbol_entry_hash(const Cell* entry) {
  if (entry->is(kTypeSymbol)) return hash_symbol(entry);
  return hash_int32(uint32_t(symbol_resolve(word_symbol(entry))));
}

}  // namespace kiv

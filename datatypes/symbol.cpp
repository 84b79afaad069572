// The symbol table: interning names, reading records, the cached name strings,
// and the compare handler of symbol!.
//
// Interning and the alias rule live in the kind-2 hash table (runtime/hashtable.h,
// symbol_find); this file owns the records block and its roots. Names are copied
// out of wherever they come from before anything allocates, so callers may pass
// bytes that lie in a series.
#include "datatypes/symbol.h"

#include <cstring>
#include <vector>

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "evaluator/stack.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/root.h"
#include "runtime/unicode.h"

namespace kiv {

namespace {

Node records_node() { return root_slot(kRootSymbolTable)->node(); }
Node index_node() { return root_slot(kRootSymbolIndex)->data3; }

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
bool valid_id_q(int32_t id) { return id > 0 && uint32_t(id) <= series_buffer(records_node())->length(); }

}  // namespace

void symbol_table_init() {
  if (symbol_table_ready()) return;
  Node records = series_alloc_cells(kSymbolTableCapacity);
  *root_slot(kRootSymbolTable) = make_cell(kTypeBlock, 0, records, 0);
  Node index = hashtable_init(kSymbolTableCapacity, records, kHashSymbols);
  *root_slot(kRootSymbolIndex) = make_cell(kTypeMap, 0, records, index);
}

bool symbol_table_ready() {
  return g_root_block && root_slot(kRootSymbolTable)->is(kTypeBlock) && root_slot(kRootSymbolIndex)->data3;
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
  int32_t alias = int32_t(record_of(id)->data1);
  return alias > 0 ? alias : id;
}

int32_t symbol_alias(int32_t id) { return valid_id_q(id) ? int32_t(record_of(id)->data1) : -1; }

std::string_view symbol_name(int32_t id) {
  if (!valid_id_q(id)) return {};
  SeriesBuffer* b = series_buffer(record_of(id)->data3);
  return {reinterpret_cast<const char*>(b->head_ptr()), b->used()};
}

std::string symbol_name_text(int32_t id) { return std::string(symbol_name(id)); }

const char* symbol_c_name(int32_t id) {
  if (!valid_id_q(id)) return "";
  return reinterpret_cast<const char*>(series_buffer(record_of(id)->data3)->head_ptr());
}

Node symbol_cache_string(int32_t id) {
  if (!valid_id_q(id)) return series_alloc_units(0, 1);  // an unknown id names nothing
  if (Node cached = record_of(id)->data2) return cached;
  Node names = record_of(id)->data3;
  Node str = load_utf8_new(ByteSource::series(names, 0), series_buffer(names)->used());
  record_of(id)->data2 = str;  // nothing allocates between the load and this store
  return str;
}

Cell symbol_get_record(int32_t id) {
  symbol_cache_string(id);
  return *record_of(id);
}

Cell symbol_name_view(int32_t id) { return make_cell(kTypeString, 0, symbol_cache_string(id), 0); }

namespace {

// MAY ALLOCATE. The name of the record [rec] as a string node: its cached
// string, or a fresh decoding of its name bytes (a record copy cannot store one back).
Node record_name_string(const Cell& rec) {
  if (rec.data2) return rec.data2;
  return load_utf8_new(ByteSource::series(rec.data3, 0), series_buffer(rec.data3)->used());
}

// Symbols compare by the text of their names; sameness is the same record.
int symbol_compare(Cell* value, Cell* other, CompareOp op) {
  if (!other->is(kTypeSymbol)) return kNotComparable;
  if (op == kCmpSame) return value->data3 == other->data3 ? 0 : 1;
  StackSave save;
  Cell* a = stack_push();
  Cell* b = stack_push();
  Node na = record_name_string(*value);
  *a = make_cell(kTypeString, 0, na, 0);
  Node nb = record_name_string(*other);
  *b = make_cell(kTypeString, 0, nb, 0);
  return string_compare_core(a, b, op, 0);
}

}  // namespace

void symbol_datatype_init() {
  register_datatype({kTypeSymbol, kTypeNil, "symbol!", kActionCount, {.compare = symbol_compare}});
}

}  // namespace kiv

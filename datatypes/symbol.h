// symbol!: the process-wide symbol table and the records it holds.
//
// Every word names a symbol: a record of the symbol table, whose 1-based
// position is the symbol id. Names are interned once; spellings that differ
// only in ASCII letter case are distinct symbols, and each one but the first
// interned records the id of that first (canonical) spelling, so comparisons
// ignoring case compare canonical ids.
//
// Symbol record (one cell of the records block):
//   word 0  header  symbol! (13), no flags
//   word 1  alias   -1 for a canonical spelling, else the canonical id (never
//                   the id of another alias); any value <= 0 reads as canonical
//   word 2  node of the cached name string (string!), 0 until first needed
//   word 3  node of the name bytes: UTF-8, tail at the end of the name, a NUL
//           just past the tail
//
// The records block lives in root slot kRootSymbolTable (a block! cell), its
// name index (a kHashSymbols hash table over it) in root table kRootTableSymbolIndex.
// Records are only ever added. symbol_resolve, symbol_alias and the name
// readers answer for an id outside the table as for a canonical symbol with
// an empty name; the cached-string readers trust their ids.
//
// Interning walks the name index (runtime/hashtable.h, kHashSymbols) through its
// generic probe: the index keeps buckets, this unit reads the records. The
// same kind serves the word tables of contexts (datatypes/context.h), whose
// entries are word cells; symbol_entry_hash hashes both (the core's
// symbol_entry_hash hook).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/cell.h"

namespace kiv {

inline constexpr uint32_t kSymbolTableCapacity = 4000;

// ---------------------------------------------------------------- records

inline int32_t symbol_record_alias(const Cell* record) { return int32_t(record->data1); }
inline Node symbol_record_string(const Cell* record) { return record->data2; }
inline Node symbol_record_name(const Cell* record) { return record->data3; }
inline void symbol_record_set_string(Cell* record, Node str) { record->data2 = str; }
inline Cell symbol_record(int32_t alias, Node name) {
  return make_cell(kTypeSymbol, uint32_t(alias), 0, name);
}

// The hash of a record: its name (hash_symbol_name).
uint32_t hash_symbol(const Cell* record);
// The hash of an entry of a kHashSymbols table: a symbol record by its name, a
// word of a context's words block by its canonical symbol. symbol!'s answer
// to the symbol_entry_hash hook (runtime/hooks.h).
uint32_t symbol_entry_hash(const Cell* entry);

// MAY ALLOCATE. The id (1-based record position) of the symbol spelled by the
// [length] UTF-8 bytes at [name] (not inside a series) in the symbol table
// [table] (kHashSymbols over the records block). Exact: a spelling equal byte for
// byte, else a new record whose alias is the canonical id of a spelling equal
// ignoring ASCII case (or -1). [ignore_case]: the canonical id of any
// spelling equal ignoring ASCII case, else a new canonical record.
int32_t symbol_find(Node table, const uint8_t* name, uint32_t length, bool ignore_case);

// MAY ALLOCATE. Makes the records block and its name index (once; later calls do nothing).
void symbol_table_init();
// True once symbol_table_init has run.
bool symbol_table_ready();
// Number of records.
uint32_t symbol_count();

// MAY ALLOCATE. The id of the NUL-terminated UTF-8 [name], interning it
// exactly: a new spelling gets a new record (an alias when a spelling equal
// ignoring ASCII case exists).
int32_t symbol_make(const char* name);
// MAY ALLOCATE. The same for [length] bytes at [bytes]; [bytes] may lie in a
// series (they are copied before anything allocates).
int32_t symbol_make_sized(const uint8_t* bytes, uint32_t length);
// MAY ALLOCATE. The id of any spelling equal to [name] ignoring ASCII case
// (the canonical one), interning [name] as a new canonical record when none exists.
int32_t symbol_make_caseless(const char* name);
// MAY ALLOCATE. Interns exactly the text of the string-like value [str] from
// its position, encoded as UTF-8.
int32_t symbol_from_string(const Cell* str);

// The canonical id of [id]: its alias when above 0, else [id] itself.
int32_t symbol_resolve(int32_t id);
// The raw alias word of [id] (-1 for a canonical spelling).
int32_t symbol_alias(int32_t id);
// True when the two symbols are spellings of one name ignoring ASCII case.
inline bool symbol_same_name_q(int32_t a, int32_t b) { return symbol_resolve(a) == symbol_resolve(b); }

// The UTF-8 name of [id]. Short-lived: valid until the next allocation.
std::string_view symbol_name(int32_t id);
// The UTF-8 name of [id], copied.
std::string symbol_name_text(int32_t id);
// The name of [id] as a NUL-terminated string. Short-lived, as symbol_name.
const char* symbol_c_name(int32_t id);

// MAY ALLOCATE. The node of the cached name string of [id], decoding the name
// into a new string! first when the record has none.
Node symbol_cache_string(int32_t id);
// MAY ALLOCATE. A copy of the record of [id], its cached name string built.
Cell symbol_get_record(int32_t id);
// MAY ALLOCATE. A string! cell viewing the cached name of [id]. The buffer is
// the record's own: only read through it, never write or hand it to Kiv code.
Cell symbol_name_view(int32_t id);

// Registers symbol! (type 13, no parent): compare only.
void symbol_datatype_init();

}  // namespace kiv

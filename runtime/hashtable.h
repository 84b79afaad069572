// Hash tables: one open-addressing scheme for five kinds of client, plus a
// small integer-keyed variant on the platform heap for the collector.
//
// A table is a node whose buffer holds an 11-word HashHeader. Its arrays are
// series of their own: the flags (two bits per bucket), the keys (one 32-bit
// word per bucket; for hash! and map! two: the key, then the hash of its
// value, which a probe compares before it compares values and a map!'s
// growth reuses) and, for hash!, the value-to-bucket array and the
// duplicate-chain store. Keys never copy values: they hold positions in the
// table's values block.
//
// Kinds and what a key holds:
//   0 hash!    the index of a value in the hash!'s block; -k names duplicate
//              chain k (every value of a chain is equal to the others)
//   1 map!     the index of a pair's key cell in the map!'s pair block
//   2 symbols  the index of a symbol record (symbol table) or of a word cell
//              (a context's words block)
//   3 records  the byte offset of a record keyed by a 32-bit node handle
//   4 owners   the same, for the owner table; weak (see hashtable_sweep)
//
// Buckets: a power of two, at least 4; bucket i has flag 2 (empty), 1 (deleted)
// or 0 (live) in bits 2(i mod 4) of flag byte i / 4. Probing starts at
// hash AND (buckets - 1) and steps by 1, 2, 3, ... so it visits every bucket.
// Load factor 0.77: a table grows before an insertion once its occupied count
// (live plus deleted buckets) has reached the upper bound.
//
// Node handles never move, so a key hashed by its node handle keeps its hash
// for the life of the table: nothing is ever rehashed because a buffer moved.
//
// Collector safety: every function marked MAY ALLOCATE may move any buffer,
// the table's own included; hold the table node, never a HashHeader*. A table
// returned by hashtable_init or hashtable_copy must be rooted by the caller
// (in a hash!/map! cell, a context cell, a root table or a NodeRoot) before
// its next allocation. Functions that compare values (kHashBlock and kHashMap) call the
// datatypes' comparison (the compare_values hook) with rooted copies of the cells;
// they are marked MAY RUN KIV CODE. A map! key kept in the map!'s own form (an
// unset! cell) is hashed and compared through the map_key_hash and
// map_key_match hooks. Values are hashed through their types'
// hooks (hash_value, runtime/type_hooks.h); kHashSymbols entries through the
// symbol_entry_hash hook. The table reads no payload of a value itself.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/compare.h"
#include "runtime/memory.h"

namespace kiv {

enum HashKind : uint32_t {
  kHashBlock = 0,    // hash!
  kHashMap = 1,      // map!
  kHashSymbols = 2,  // symbol table and context word tables
  kHashRecords = 3,  // records keyed by a node handle
  kHashOwners = 4,   // the owner table
};

// Bucket flags.
inline constexpr uint32_t kBucketLive = 0;
inline constexpr uint32_t kBucketDeleted = 1;
inline constexpr uint32_t kBucketEmpty = 2;

inline constexpr double kHashLoadFactor = 0.77;
// hashtable_refresh declines above this many moved values; the caller rebuilds.
inline constexpr uint32_t kRefreshLimit = 30000;
// hashtable_put_value_status: the table was rebuilt and the whole block indexed.
inline constexpr int kPutRebuilt = 2;

struct HashHeader {
  uint32_t size;  // live entries: hash! indexed values, map! live pairs, else live buckets
  union {
    Node index_map;         // hash!: value-to-bucket array, one int32 per value (-1: not indexed)
    uint32_t record_bytes;  // kinds 3-4: 16 x (1 + value cells per record)
  };
  Node chains;        // hash!: duplicate-chain store (see hashtable.cpp)
  Node flags;         // buckets / 4 bytes
  Node keys;          // buckets x 4 bytes (kinds 0-1: x 8, key and hash)
  Node values;        // the values block
  uint32_t occupied;  // live plus deleted buckets
  uint32_t buckets;
  uint32_t upper;  // occupied count at which the table grows
  uint32_t kind;   // HashKind
  uint32_t stamp;  // always 0: keys are never rehashed for a moved buffer
};
static_assert(sizeof(HashHeader) == 44, "the table header is 11 words");

// A copy of the header of [table].
HashHeader hashtable_header(Node table);
uint32_t hashtable_size(Node table);
// The flag of bucket [i].
uint32_t hashtable_bucket_flag(Node table, uint32_t i);

// ---------------------------------------------------------------- hashing

// MurmurHash3 over the code points from the string's position to its tail,
// one 32-bit block per code point, folded to upper case unless [case_sensitive].
// A unit size other than 1, 2 or 4 is fatal runtime error 101.
uint32_t hash_string(const Cell* str, bool case_sensitive);
// The hash of a symbol's name: its UTF-8 bytes with A-Z read as a-z.
uint32_t hash_symbol_name(const uint8_t* name, uint32_t length);
// hash_string of a text of [count] code points below 256, one a byte at [text],
// folded to upper case.
uint32_t hash_latin1_text(const uint8_t* text, uint32_t count);

// ---------------------------------------------------------------- tables

// MAY ALLOCATE, MAY RUN KIV CODE. A table for [size] entries. Buckets: the
// next power of two of trunc(max(size, 4) / 0.77); upper bound trunc(buckets x
// 0.77). Kind 2 doubles a size of 4,000 or more. [block] (kinds 0-2, or 0)
// becomes the values block and is indexed at once: skip 1, or 2 for a map!;
// otherwise a new block of [size] cells is made. [record_cells]: value cells
// per record for kinds 3-4.
Node hashtable_init(uint32_t size, Node block, HashKind kind, uint32_t record_cells = 0);

// MAY ALLOCATE. A table of the same kind and content over [values] (0: a
// copy of the table's values block); chains and index arrays are copied.
Node hashtable_copy(Node table, Node values);
// Empties the table and its values block. Never allocates.
void hashtable_clear(Node table);

// ---------------------------------------------------------------- hash! and map!

// MAY ALLOCATE, MAY RUN KIV CODE. Indexes the value at [index] of the block
// (for a map!, the pair whose key cell is at [index]). Returns the index the
// value is found under: for a map! whose key is already present, that pair's
// key index, after it took the new value and the new pair was removed from
// the block; -1 when a hash! was rebuilt instead (the whole block indexed).
int32_t hashtable_put_value(Node table, int32_t index);
// The same; the result is kPutRebuilt when a hash! was rebuilt, else 0.
int hashtable_put_value_status(Node table, int32_t index);
// MAY ALLOCATE, MAY RUN KIV CODE. Indexes the block's values from [start] in
// steps of [skip] (1 for hash!, 2 for map!; not yet indexed). A map! key
// already present takes the later value and the later pair leaves the block.
void hashtable_put_block(Node table, int32_t start, int32_t skip);

// The search state of hashtable_find, continued by hashtable_find_next.
struct HashFind {
  int32_t start = 0;
  int32_t skip = 1;
  CompareOp mode = kCmpEqual;
  bool last = false;
  bool reverse = false;
  uint32_t hash = 0;     // the key's hash
  uint32_t buckets = 0;  // table size the state belongs to
  uint32_t bucket = 0;
  uint32_t step = 0;
  uint32_t probes = 0;
  bool done = true;
};

// MAY RUN KIV CODE. The index of a value equal to [key] under [mode] (after a
// type check; the four word forms of a map! key are one type), or -1.
// map!: the key index of the pair, skipping emptied pairs. hash!: among the
// equal values whose index i lies a multiple of [skip] from [start]
// (i - start, or start - 1 - i with [reverse]), the lowest i at or after
// [start]; with [last] the highest such i; with [reverse] the highest i
// before [start]. [state] (may be null) receives the probe position.
int32_t hashtable_find(Node table, const Cell* key, int32_t start, int32_t skip, CompareOp mode, bool last,
                       bool reverse, HashFind* state = nullptr);
// MAY RUN KIV CODE. Continues the probe of [state] with the same key and
// options: the next bucket whose values equal [key]; -1 when none is left.
int32_t hashtable_find_next(Node table, const Cell* key, HashFind* state);

// hash!: unindexes the value at [index] (the block is left alone). map!:
// empties the pair whose key cell is at [index] (its value cell's header
// becomes 0; the key stays indexed). Never allocates.
void hashtable_delete_value(Node table, int32_t index);
// Unindexes the [n] values from [position] (called before they leave the
// block); for a map!, the pairs whose key cells lie there (later pairs keep
// their stored positions: the caller rebuilds if it moves them). When that is
// every value, the index is reset instead. Never allocates.
void hashtable_remove_range(Node table, int32_t position, int32_t n);

// MAY ALLOCATE. hash! after [offset] values were inserted at [position]
// (removing: false), or after the [offset] values at [position] were removed
// (removing: true; unindex them first with hashtable_remove_range): shifts
// the stored indexes of the [count] values that followed them, and opens or
// closes their slots in the value-to-bucket array. Returns 1, doing nothing,
// when [count] exceeds kRefreshLimit: the caller then calls hashtable_rebuild.
int hashtable_refresh(Node table, int32_t position, int32_t offset, int32_t count, bool removing);
// MAY ALLOCATE. hash! after the [n] values at [source] were moved so that they
// start at [target] (positions after the move); the values between shifted
// by [n] the other way.
void hashtable_move_range(Node table, int32_t source, int32_t target, int32_t n);
// MAY ALLOCATE, MAY RUN KIV CODE. hash! and map!: new arrays for the next
// power of two of trunc([number] x 1.5) buckets (at least 4), and the whole
// block indexed again.
void hashtable_rebuild(Node table, uint32_t number);

// ---------------------------------------------------------------- keys the client reads (kHashSymbols)
// Kind 2 stores positions in its values block whose entries (a symbol record,
// a word of a context) the client interprets: the client hashes and matches
// them, the table keeps the buckets.

// Where a probe for a hash ended: the live bucket the match accepted (found),
// else the bucket an insertion takes (free).
struct HashSlot {
  int64_t found = -1;
  int64_t free = -1;
  bool free_was_empty = false;
};
// The bucket arrays of a table. Short-lived: valid until the next allocation.
struct HashBuckets {
  const uint8_t* flags;
  const int32_t* keys;
  uint32_t count;
};
HashBuckets hashtable_buckets(Node table);
// The flag of bucket [i] in a flag array.
inline uint32_t hashtable_flag_at(const uint8_t* flags, uint32_t i) {
  return (flags[i >> 2] >> ((i & 3) * 2)) & 3u;
}

// Walks the probe sequence of [hash], asking [match](key) about each live
// bucket; [match] must not allocate (the arrays are read in place).
template <class Match>
HashSlot hashtable_probe(Node table, uint32_t hash, Match&& match) {
  const HashBuckets b = hashtable_buckets(table);
  const uint32_t mask = b.count - 1;
  uint32_t i = hash & mask;
  int64_t deleted = -1;
  for (uint32_t step = 1; step <= b.count; step++) {
    uint32_t flag = hashtable_flag_at(b.flags, i);
    if (flag == kBucketEmpty) return HashSlot{-1, deleted >= 0 ? deleted : int64_t(i), deleted < 0};
    if (flag == kBucketDeleted) {
      if (deleted < 0) deleted = i;
    } else if (match(b.keys[i])) {
      return HashSlot{int64_t(i), -1, false};
    }
    i = (i + step) & mask;
  }
  return HashSlot{-1, deleted, false};
}
// The key stored in the bucket a probe found.
int32_t hashtable_found_key(Node table, const HashSlot& slot);
// Stores [key] in the free bucket of [slot] and counts one more entry. The
// table must have had room (hashtable_make_room) before the probe.
void hashtable_insert_key(Node table, const HashSlot& slot, int32_t key);
// MAY ALLOCATE. Grows a table that has reached its upper bound; a slot probed
// before is stale afterwards.
void hashtable_make_room(Node table);
// True when the next insertion needs hashtable_make_room first.
bool hashtable_full_q(Node table);
// The node of the table's values block.
inline Node hashtable_values(Node table) {
  return reinterpret_cast<const HashHeader*>(series_buffer(table)->head_ptr())->values;
}
// Kind 2 hashes a stored entry, for rehashing, through the symbol_entry_hash
// hook (runtime/hooks.h), which symbol! answers.

// ---------------------------------------------------------------- records (kHashRecords and kHashOwners)

// MAY ALLOCATE. The record of [key] (a node handle), appended with unset!
// cells when missing ([*added] tells which, may be null). Records are runs of
// cells in the values block: a key cell (unset! while in use, word 1 the key),
// then the value cells. The result is the key cell's position in that block.
int32_t hashtable_put(Node table, uint32_t key, bool* added = nullptr);
// Position of the key cell of [key]'s record, or -1.
int32_t hashtable_get(Node table, uint32_t key);
// Removes [key]'s record (its key cell's header becomes 0, its value cells
// unset!); false when absent. Never allocates.
bool hashtable_remove_key(Node table, uint32_t key);
// The cells of the record whose key cell is at [position]. Short-lived.
Cell* hashtable_record(Node table, int32_t position);
// The key a record's key cell holds (its word 1).
inline uint32_t hashtable_record_key(const Cell* key_cell) { return key_cell->data1; }

// ---------------------------------------------------------------- collector hooks

// The collector's marking primitives (gc_mark_series, gc_mark_block,
// gc_mark_cell fit as they are).
struct HashMarkHooks {
  bool (*mark_series)(Node);       // marks the buffer only; true when newly marked
  void (*mark_block)(Node);        // marks a cell series and, when newly marked, its cells
  void (*mark_cell)(const Cell*);  // marks the references of one cell
};
// Marks what [table] keeps alive: its header, arrays and chains, and its
// values block with its cells (kinds 0-2). Kind 3 marks the key series of each
// record in use (with its cells when it holds cells) and its value cells;
// kind 4 marks no record content (it is weak: see hashtable_sweep). Never
// allocates.
void hashtable_mark(Node table, const HashMarkHooks& hooks);
// Kinds 3 and 4, after marking: drops the records whose key node is not
// live; kind 4 also those whose owner (value cell 2) or field word (value
// cell 3) names a node that is not live (through the cells' mark hooks), so
// no surviving record names a dead node. Never allocates.
void hashtable_sweep(Node table, bool (*is_live)(Node));

// ---------------------------------------------------------------- integer-keyed variant

// The collector's table of 32-bit keys to 32-bit values, on the platform heap.
struct IntHash {
  uint32_t size;
  uint8_t* flags;   // two bits per bucket, as above
  uint32_t* pairs;  // key, value per bucket
  uint32_t occupied;
  uint32_t buckets;
  uint32_t upper;
};

IntHash* inthash_new(uint32_t size);
// Sets the value of [key], adding it when missing.
void inthash_put(IntHash* table, uint32_t key, uint32_t value);
// The value of [key], valid until the next put or resize; null when missing.
uint32_t* inthash_get(IntHash* table, uint32_t key);
bool inthash_remove(IntHash* table, uint32_t key);
void inthash_clear(IntHash* table);
void inthash_free(IntHash* table);
// Iteration: the first live pair at bucket [*cursor] or after it; advances
// [*cursor] past it. False at the end.
bool inthash_next_live(const IntHash* table, uint32_t* cursor, uint32_t* key, uint32_t* value);
// Rehashes into the next power of two of [number] buckets (never fewer than
// the live pairs need).
void inthash_resize(IntHash* table, uint32_t number);

}  // namespace kiv

// map!: an unordered dictionary of key/value pairs looked up through a hash
// index.
//
// Value cell (map! 40):
//   header  type id
//   word 1  head index, always 0
//   word 2  node of the pair block: key and value cells in insertion order; a
//           pair whose value cell has header 0 is empty (absent everywhere,
//           its key kept in the block and in the index)
//   word 3  node of the hash table (kind 1, runtime/hashtable.h) over the keys;
//           its values block is the pair block and its size the live count
//
// Keys are normalised once, when their pair is made (map_normalize_key): a
// series key is replaced by a copy from its position, the four word kinds
// become set-word!, the other key types are kept as they are. A string! key
// of up to kMapPackedMax code points below 256 is copied into its key cell
// itself (packed): an unset! cell, which no key otherwise is, holding the
// length in its first payload byte and the code points in the bytes after.
// It needs no series; the first reader that takes the key as a value (find,
// words, body, foreach, copy) turns it into a string! kept in its place, so
// the key is one series from then on. Lookups hash and compare packed keys
// through the map_key_hash and map_key_match hooks (runtime/hooks.h). A pair keeps its
// place until clear: removing empties it, setting its key again revives it.
//
// Lookups: letters compared without case by default (kCmpEqual), with case
// under /case (kCmpStrictEqual), by identity under /same (kCmpSame); a word
// key matches a stored key of any word kind with the same spelling.
//
// Collector safety: a Cell* argument of anything that MAY ALLOCATE is a
// stable cell (data stack, Root); pointers into the pair block are re-derived
// after every allocation.
#pragma once

#include <cstdint>

#include "datatypes/action_slots.h"
#include "runtime/cell.h"
#include "runtime/compare.h"

namespace kiv {

inline Node map_pairs(const Cell* map) { return map->data2; }
inline Node map_table(const Cell* map) { return map->data3; }
inline Cell map_cell(Node pairs, Node table) { return make_cell(kTypeMap, 0, pairs, table); }

// The longest string! key kept packed, in code points.
inline constexpr uint32_t kMapPackedMax = 11;
// The map_key_hash hook: a packed key's hash, that of the string! it stands for.
uint32_t map_packed_key_hash(const Cell* packed);
// The map_key_match hook: true when the packed key [packed] matches [key]
// (packed, or a string! from its position) under [op]: letter case ignored
// but under kCmpStrictEqual; never under kCmpSame (a packed key is no series).
bool map_packed_key_match(const Cell* packed, const Cell* key, CompareOp op);

// True when the key cell [key] of a pair block is a packed string! key.
inline bool map_packed_key_q(const Cell* key) { return key->is(kTypeUnset); }
// The code points (each below 256) of the packed key [key] into [out]
// (room for kMapPackedMax); returns how many. Never allocates.
uint32_t map_packed_key_chars(const Cell* key, uint8_t* out);
// True for the types a key may have.
bool map_valid_key_type_q(TypeId t);
// MAY ALLOCATE. Normalises the key in the stable cell [key] as a new pair
// stores it (a string! that fits is packed). A key of another type raises script invalid-path with [path]
// (none when null) and the key's datatype.
void map_normalize_key(Cell* key, const Cell* path);
// The number of live pairs.
int32_t map_pair_count(const Cell* map);

// MAY ALLOCATE, MAY RUN KIV CODE. Makes the stable [cell] a map! over the
// pair block [pairs] (its cells from the first, handed over: the keys are
// normalised in place, series keys not copied), or over a new block with room
// for [size] cells when [pairs] is 0, and indexes it. A later duplicate key
// (compared with letter case) gives its value to the first pair and leaves
// the block. An odd cell count raises script invalid-arg with the block; a
// bad key script invalid-path with none. Returns [cell].
Cell* map_make_at(Cell* cell, Node pairs, int32_t size);
// Pushes a copy of the map! cell [map].
Cell* map_push(const Cell* map);

// MAY ALLOCATE, MAY RUN KIV CODE. The key/value pairs of the block-family
// (or map!) [spec], in order, set in [map]: a known key (letter case ignored
// unless [case_sensitive]) takes the new value, a new key makes a pair. An odd
// cell count raises script invalid-arg with [spec]; a bad key script
// invalid-path with none, both before anything changes. Returns [map].
Cell* map_extend(Cell* map, const Cell* spec, bool case_sensitive);
// MAY ALLOCATE, MAY RUN KIV CODE. One step of foreach and remove-each over
// [map] from the pair-block cell *[position]: each word of the block [words]
// (words of the four kinds, else script invalid-arg with the offending one)
// takes the next cell, an empty pair skipped when a key would go to a key
// word (the first, third, ...); a set-word! key is given as word!. Words left
// over when the pairs run out take none. Advances *[position]; true when any
// word took a cell of the map.
bool map_foreach_next(const Cell* map, int32_t* position, const Cell* words);

// MAY ALLOCATE. Pushes a new block! of the live pairs: key, value, ... with
// each key (a set-word! for a word key) marked to start a new line.
Cell* map_body(const Cell* map);

// ---------------------------------------------------------------- handlers

// MAY ALLOCATE, MAY RUN KIV CODE. make map! from a block-family value (an even
// number of cells), a non-negative number (room for that many pairs) or a
// map! (its copy); raises script invalid-arg, out-of-range or bad-to-arg.
Cell* map_make(Cell* proto, const MakeArgs& args);
// MAY ALLOCATE, MAY RUN KIV CODE. to map!: as make, without numbers.
Cell* map_to(Cell* proto, const MakeArgs& args);
// MAY ALLOCATE. words, values or body; any other field raises internal not-done.
Cell* map_reflect(Cell* map, const ReflectArgs& args);
// MAY ALLOCATE. The pairs molded, separated by line feeds.
int32_t map_form(Cell* map, const FormArgs& args);
// MAY ALLOCATE. "#[" the pairs, each on its own indented line, "]".
int32_t map_mold(Cell* map, const MoldArgs& args);
// MAY ALLOCATE, MAY RUN KIV CODE. A key's value, none when absent; with a
// value: sets it, making the pair when missing.
Cell* map_eval_path(Cell* map, const EvalPathArgs& args);
// MAY RUN KIV CODE. Equality by content (pairs in any order); the sort
// orders by the pair blocks' identities; other operators: kNotComparable.
int map_compare(Cell* map, const CompareArgs& args);
// Empties the map. Returns [map].
Cell* map_clear(Cell* map, const NoneArgs& args);
// MAY ALLOCATE, MAY RUN KIV CODE. A new map over a copy of the pairs and of
// the index; /deep copies nested series, /types the values of those types.
Cell* map_copy(Cell* map, const CopyArgs& args);
// MAY RUN KIV CODE. The stored key (a set-word! given as word!), or none.
Cell* map_find(Cell* map, const FindArgs& args);
int32_t map_length_q(Cell* map, const NoneArgs& args);
// MAY ALLOCATE, MAY RUN KIV CODE. Sets the key's value; the value is the result.
Cell* map_put(Cell* map, const PutArgs& args);
// MAY RUN KIV CODE. remove/key: empties the key's pair (letter case
// compared); without /key raises script missing-arg. Returns [map].
Cell* map_remove(Cell* map, const RemoveArgs& args);
// MAY RUN KIV CODE. The key's value, or none.
Cell* map_select(Cell* map, const SelectArgs& args);

}  // namespace kiv

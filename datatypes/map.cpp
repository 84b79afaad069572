// map!: making, reading and writing pairs, extend and the foreach step,
// reflection, form and mold, comparison and copy.
//
// Positions here are absolute cell indexes into the pair block: a key at an
// even index i, its value at i + 1. The index (runtime/hashtable.h, kind 1)
// answers lookups with the key index of a live pair, or -1; it never finds an
// empty pair, so setting the key of an empty pair appends a new pair, which
// the index merges into the old one (the old pair takes the value and is
// counted again, the new one leaves the block): a pair never moves.
//
// Every call that may allocate or run Kiv code (a lookup compares keys
// through their types) is made with the map and the cells it reads copied to
// the data stack; pointers into the pair block are re-derived after it.
#include "datatypes/map.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/block_modify.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/form.h"
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/case_fold.h"
#include "runtime/collector.h"
#include "runtime/cycle.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/murmur3.h"
#include "runtime/stack.h"
#include "runtime/typesets.h"

namespace kiv {

namespace {

// The cells of the pair block. Short-lived.
inline Cell* pair_cells(const Cell* map) { return series_cells(map_pairs(map)); }
// Cells in the pair block, empty pairs included.
inline int32_t pair_total(const Cell* map) { return int32_t(series_cell_count(map_pairs(map))); }
// True when the pair whose key is at [i] holds a value.
inline bool live_q(const Cell* map, int32_t i) {
  return i + 1 < pair_total(map) && pair_cells(map)[i + 1].header != 0;
}

// The key index of the first live pair at or after [i], or -1.
int32_t next_live(const Cell* map, int32_t i) {
  for (; i + 1 < pair_total(map); i += 2)
    if (live_q(map, i)) return i;
  return -1;
}

// ---------------------------------------------------------------- packed keys

// The text of a packed key: its length, then its code points, one a byte.
struct PackedText {
  uint8_t length;
  uint8_t text[kMapPackedMax];
};
static_assert(sizeof(PackedText) == 12, "a packed key fills the payload words");

inline bool packed_q(const Cell& key) { return key.is(kTypeUnset); }

PackedText packed_text(const Cell& key) {
  PackedText p;
  std::memcpy(&p, &key.data1, sizeof p);
  return p;
}

// The packed form of the string! [key] when it fits (kMapPackedMax code
// points at most, each below 256), else the key itself.
Cell pack_key(const Cell& key) {
  if (!key.is(kTypeString)) return key;
  int32_t n = string_length(&key);
  if (n > int32_t(kMapPackedMax)) return key;
  PackedText p{};
  p.length = uint8_t(n);
  uint32_t head = uint32_t(string_head_index(&key));
  for (int32_t i = 0; i < n; i++) {
    uint32_t cp = string_char_at(&key, head + uint32_t(i));
    if (cp > 0xFF) return key;
    p.text[i] = uint8_t(cp);
  }
  Cell c = make_cell(kTypeUnset);
  std::memcpy(&c.data1, &p, sizeof p);
  return c;
}

// MAY ALLOCATE. Makes the stable [out] a new string! holding the text of the
// packed key [key].
void unpack_key(Cell key, Cell* out) {
  PackedText p = packed_text(key);
  string_make_at(out, p.length);
  for (uint32_t i = 0; i < p.length; i++) append_char(out->node(), p.text[i]);
}

// MAY ALLOCATE. The stored key of the pair at [i] of the stable map! [m]: a
// packed key becomes a string! of its own first, kept in its place, so that
// it is one and the same series for every reader from then on.
Cell stored_key(const Cell* m, int32_t i) {
  Cell key = pair_cells(m)[i];
  if (!packed_q(key)) return key;
  StackSave save;
  Cell* text = stack_push();
  unpack_key(key, text);
  pair_cells(m)[i] = *text;
  return *text;
}

// MAY ALLOCATE. The key of the pair at [i] of the stable map! [m] as a value
// into the stable [out], without giving a packed key an identity: a packed
// key reads as a new string!.
void key_value(const Cell* m, int32_t i, Cell* out) {
  Cell key = pair_cells(m)[i];
  if (packed_q(key))
    unpack_key(key, out);
  else
    *out = key;
}

// The lookup mode of the refinements /same and /case.
CompareOp lookup_mode(bool same, bool case_sensitive) {
  return same ? kCmpSame : case_sensitive ? kCmpStrictEqual : kCmpEqual;
}

// MAY RUN KIV CODE. The key index of the live pair whose key matches the
// stable [key] under [mode], or -1.
int32_t lookup(const Cell* map, const Cell* key, CompareOp mode) {
  return hashtable_find(map_table(map), key, 0, 1, mode, false, false);
}

// MAY RUN KIV CODE. Overwrites the stable map! cell [map] with the value of
// [key] found under [mode], or none.
void select_into(Cell* map, const Cell* key, CompareOp mode) {
  StackSave save;
  Cell* m = stack_push_value(*map);
  int32_t i = lookup(m, key, mode);
  *map = i >= 0 && live_q(m, i) ? pair_cells(m)[i + 1] : kNoneCell;
}

// A stored key as find and the reflectors give it: a set-word! as word!.
Cell key_out(Cell key) {
  if (key.is(kTypeSetWord)) key.set_type(kTypeWord);
  key.clear_new_line();
  return key;
}

[[noreturn]] void raise_bad_key(TypeId t, const Cell* path) {
  Cell where = path ? *path : kNoneCell;
  Cell datatype = datatype_cell(t);
  raise_error(kErrScriptInvalidPath, &where, &datatype);
}

// Raises invalid-path (with none) for the first key of the [n] cells of
// [node] from [from] whose type a key may not have.
void check_keys(Node node, int32_t from, int32_t n) {
  const Cell* cells = series_cells(node);
  for (int32_t i = 0; i + 1 < n; i += 2)
    if (!map_valid_key_type_q(cells[from + i].type())) raise_bad_key(cells[from + i].type(), nullptr);
}

// MAY ALLOCATE. Normalises in place the keys of the pair block in the stable
// block cell [block] and clears the new-line markers of its cells; series
// keys are copied with [copy_series]. The keys were checked.
void normalize_block(const Cell* block, bool copy_series) {
  StackSave save;
  Cell* key = stack_push();
  for (int32_t i = 0; i < series_total_cells(block); i++) {
    Cell* c = series_cells(block->node()) + i;
    c->clear_new_line();
    if (i % 2) continue;
    if (is_any_word(c->type())) {
      c->header = kTypeSetWord;
    } else if (copy_series) {
      *key = *c;
      map_normalize_key(key, nullptr);
      series_cells(block->node())[i] = *key;
    }
  }
}

// MAY ALLOCATE, MAY RUN KIV CODE. Indexes the pair block of the stable block
// cell [cell] (keys normalised), which becomes the map!, with room for the
// pairs of [size] cells.
Cell* index_block(Cell* cell, int32_t size) {
  Node pairs = cell->node();
  int32_t count = int32_t(series_cell_count(pairs));
  // The table counts pairs, the block and [size] cells.
  Node table = hashtable_init(uint32_t(std::max({count, size, 2}) / 2), pairs, kHashMap);
  *cell = map_cell(pairs, table);
  return cell;
}

// MAY ALLOCATE, MAY RUN KIV CODE. Sets the value of [key] in [map] (stable
// cells) found under [mode]; a new key is normalised (a bad one raises
// invalid-path with [path]) and its pair appended.
void set_pair(const Cell* map, const Cell* key, const Cell* value, CompareOp mode, const Cell* path) {
  StackSave save;
  Cell* m = stack_push_value(*map);
  Cell* v = stack_push_value(*value);
  v->clear_new_line();
  int32_t i = lookup(m, key, mode);
  if (i >= 0 && i + 1 < pair_total(m)) {
    pair_cells(m)[i + 1] = *v;
    return;
  }
  Cell* k = stack_push_value(*key);
  map_normalize_key(k, path);
  int32_t at = pair_total(m);
  *append_cell(map_pairs(m)) = *k;
  *append_cell(map_pairs(m)) = *v;
  // A key equal (with letter case) to an empty pair's revives that pair.
  hashtable_put_value(map_table(m), at);
}

bool field_is(const Cell* field, RuntimeSymbol s) {
  return is_all_word(field->type()) && runtime_symbol_q(word_symbol(field), s);
}

// MAY ALLOCATE. Pushes a block of the keys (as key_out gives them) or of the
// values of the live pairs.
Cell* push_part_of_pairs(const Cell* map, bool keys) {
  Cell* result = stack_push();
  StackSave save;
  Cell* m = stack_push_value(*map);
  Cell* block = block_push_only(map_pair_count(m));
  for (int32_t i = next_live(m, 0); i >= 0; i = next_live(m, i + 2)) {
    Cell c = keys ? key_out(stored_key(m, i)) : pair_cells(m)[i + 1];
    block_append_value(block, &c);
  }
  *result = *block;
  return result;
}

// ---------------------------------------------------------------- form and mold

// MAY ALLOCATE. Writes the live pairs of [map] into args.buffer: each
// indented to [level] when [indented], the key molded (with the caller's
// /only, /all, /flat, /part), a space, the value molded; [separator] after
// each pair when [indented], else between pairs. Returns the remaining limit.
int32_t write_pairs(Cell* map, const MoldArgs& args, bool indented, int32_t level, const char* separator) {
  int32_t limit = args.limit;
  CycleGuard guard(map_pairs(map));
  StackSave save;
  Cell* m = stack_push_value(*map);
  Cell* item = stack_push();
  MoldArgs each = args;
  each.indent = level;
  for (int32_t i = next_live(m, 0); i >= 0;) {
    if (args.part && limit <= 0) break;
    if (indented) limit = mold_indent(args.buffer, level, limit);
    key_value(m, i, item);
    each.limit = limit;
    limit = action_mold(item, each);
    limit -= string_append_c_string(args.buffer, " ");
    // Molding runs no Kiv code: the pair is still there.
    *item = pair_cells(m)[i + 1];
    each.only = false;
    each.limit = limit;
    limit = action_mold(item, each);
    each.only = args.only;
    i = next_live(m, i + 2);
    if (indented || i >= 0) limit -= string_append_c_string(args.buffer, separator);
  }
  return limit;
}

// ---------------------------------------------------------------- compare

bool number_q(TypeId t) { return t == kTypeInteger || t == kTypeFloat || t == kTypePercent; }

// MAY RUN KIV CODE. True when the stable values [a] and [b] are equal under [op].
bool values_equal(Cell* a, Cell* b, CompareOp op) {
  TypeId ta = a->type(), tb = b->type();
  bool comparable = ta == tb || (is_any_word(ta) && is_any_word(tb)) || (number_q(ta) && number_q(tb));
  return comparable && action_compare_values(a, b, op) == 0;
}

// MAY RUN KIV CODE. 0 when the two maps hold the same pairs under [op], else
// 1 (-1 for an identity test of two maps).
int map_equal(Cell* a, Cell* b, CompareOp op) {
  if (map_pairs(a) == map_pairs(b)) return 0;
  if (op == kCmpSame) return -1;
  if (cycle_stack_find(map_pairs(a))) return cycle_stack_find(map_pairs(b)) ? 0 : -1;
  int32_t n = map_pair_count(a);
  if (n != map_pair_count(b)) return 1;
  if (n == 0) return 0;
  CycleGuard guard_a(map_pairs(a));
  CycleGuard guard_b(map_pairs(b));
  StackSave save;
  Cell* ma = stack_push_value(*a);
  Cell* mb = stack_push_value(*b);
  Cell* key = stack_push();
  Cell* va = stack_push();
  Cell* vb = stack_push();
  bool strict = op == kCmpStrictEqual;
  CompareOp mode = strict ? kCmpStrictEqual : kCmpEqual;
  for (int32_t i = next_live(ma, 0); i >= 0; i = next_live(ma, i + 2)) {
    key_value(ma, i, key);
    *va = pair_cells(ma)[i + 1];
    // Every pair of [mb] whose key matches, until one holds an equal value.
    HashFind state;
    bool equal = false;
    for (int32_t j = hashtable_find(map_table(mb), key, 0, 1, mode, false, false, &state); j >= 0 && !equal;
         j = strict ? -1 : hashtable_find_next(map_table(mb), key, &state)) {
      if (!live_q(mb, j)) continue;
      *vb = pair_cells(mb)[j + 1];
      equal = values_equal(va, vb, mode);
    }
    if (!equal) return 1;
  }
  return 0;
}

// ---------------------------------------------------------------- make and to

// MAY ALLOCATE, MAY RUN KIV CODE. make ([make]) or to map! from [spec].
Cell* make_from(const Cell* spec, bool make) {
  TypeId t = spec->type();
  if (t == kTypeBlock || t == kTypeParen || t == kTypeHash) {
    int32_t total = series_total_cells(spec);
    int32_t head = series_clamp_head(spec, total);
    int32_t n = total - head;
    if (n % 2) raise_error(kErrScriptInvalidArg, spec);
    check_keys(spec->node(), head, n);
    Cell* cell = stack_push();
    *cell = series_cell(kTypeBlock, series_copy_part(spec->node(), uint32_t(head), uint32_t(n)));
    normalize_block(cell, true);
    return index_block(cell, n);
  }
  if (make && (t == kTypeInteger || t == kTypeFloat)) {
    int64_t n = float_to_int(spec);
    if (n < 0) raise_error(kErrScriptOutOfRange, spec);
    if (2 * n > int64_t(kMaxCapacity / sizeof(Cell))) raise_error(kErrInternalNoMemory);
    return map_make_at(stack_push(), 0, int32_t(2 * n));
  }
  if (t == kTypeMap) {
    CopyArgs copy;
    copy.result = stack_push();
    return map_copy(stack_push_value(*spec), copy);
  }
  Cell datatype = datatype_cell(kTypeMap);
  raise_error(kErrScriptBadToArg, &datatype, spec);
}

// ---------------------------------------------------------------- registration

void map_mark(const Cell* value) {
  gc_mark_block(map_pairs(value));
  gc_mark_table(map_table(value));
}

uint32_t map_hash(const Cell* value) { return hash_int32(map_pairs(value)); }

constexpr TypeHooks kMapHooks{.mark = map_mark, .hash = map_hash};

}  // namespace

// ---------------------------------------------------------------- keys

bool map_valid_key_type_q(TypeId t) {
  switch (t) {
    case kTypeString:
    case kTypeFile:
    case kTypeUrl:
    case kTypeChar:
    case kTypeInteger:
    case kTypeFloat:
    case kTypeWord:
    case kTypeSetWord:
    case kTypeLitWord:
    case kTypeGetWord:
    case kTypeRefinement:
    case kTypeIssue:
    case kTypePair:
    case kTypePercent:
    case kTypeTuple:
    case kTypeBinary:
    case kTypeTime:
    case kTypeTag:
    case kTypeEmail:
    case kTypeDate:
    case kTypeMoney:
    case kTypeRef:
    case kTypePoint2D:
    case kTypePoint3D: return true;
    default: return false;
  }
}

void map_normalize_key(Cell* key, const Cell* path) {
  TypeId t = key->type();
  if (!map_valid_key_type_q(t)) raise_bad_key(t, path);
  if (is_any_word(t)) {
    key->header = kTypeSetWord;
    return;
  }
  key->clear_new_line();
  if (!is_any_string(t) && t != kTypeBinary) return;
  // The caller's series may change later: the key is a copy from its
  // position, packed when it fits.
  if (Cell packed = pack_key(*key); packed_q(packed)) {
    *key = packed;
    return;
  }
  StackSave save;
  CopyArgs copy;
  copy.result = stack_push();
  Cell* source = stack_push_value(*key);
  *key = *series_copy(source, copy);
}

int32_t map_pair_count(const Cell* map) { return int32_t(hashtable_size(map_table(map))); }

uint32_t map_packed_key_chars(const Cell* key, uint8_t* out) {
  PackedText p = packed_text(*key);
  uint32_t n = p.length < kMapPackedMax ? p.length : kMapPackedMax;
  std::memcpy(out, p.text, n);
  return n;
}

uint32_t map_packed_key_hash(const Cell* packed) {
  PackedText p = packed_text(*packed);
  return hash_latin1_text(p.text, p.length);
}

bool map_packed_key_match(const Cell* packed, const Cell* key, CompareOp op) {
  if (op == kCmpSame) return false;
  const bool fold = op != kCmpStrictEqual;
  PackedText a = packed_text(*packed);
  auto same_char = [fold](uint32_t x, uint32_t y) {
    return x == y || (fold && case_map_upper(x) == case_map_upper(y));
  };
  if (packed_q(*key)) {
    PackedText b = packed_text(*key);
    if (a.length != b.length) return false;
    for (uint32_t i = 0; i < a.length; i++)
      if (!same_char(a.text[i], b.text[i])) return false;
    return true;
  }
  if (!key->is(kTypeString) || string_length(key) != int32_t(a.length)) return false;
  uint32_t head = uint32_t(string_head_index(key));
  SeriesBuffer* b = series_buffer(key->node());
  if (b->unit() == 1) {
    // Latin-1 text: the bytes as they are, letter case folded only where they differ.
    const uint8_t* text = b->head_ptr() + head;
    if (std::memcmp(a.text, text, a.length) == 0) return true;
    if (!fold) return false;
    for (uint32_t i = 0; i < a.length; i++)
      if (!same_char(a.text[i], text[i])) return false;
    return true;
  }
  for (uint32_t i = 0; i < a.length; i++)
    if (!same_char(a.text[i], string_char_at(key, head + i))) return false;
  return true;
}

// ---------------------------------------------------------------- interfaces

Cell* map_make_at(Cell* cell, Node pairs, int32_t size) {
  *cell = kUnsetCell;
  if (!pairs) pairs = series_alloc_cells(uint32_t(std::max(size, 1)));
  *cell = series_cell(kTypeBlock, pairs);
  int32_t count = int32_t(series_cell_count(pairs));
  if (count % 2) raise_error(kErrScriptInvalidArg, cell);
  check_keys(pairs, 0, count);
  normalize_block(cell, false);
  return index_block(cell, size);
}

Cell* map_push(const Cell* map) { return stack_push_value(*map); }

Cell* map_extend(Cell* map, const Cell* spec, bool case_sensitive) {
  StackSave save;
  Cell* m = stack_push_value(*map);
  Cell* source;
  if (spec->is(kTypeMap))
    source = map_body(spec);
  else if (is_any_block(spec->type()))
    source = stack_push_value(*spec);
  else
    raise_error(kErrScriptInvalidArg, spec);
  int32_t total = series_total_cells(source);
  int32_t head = series_clamp_head(source, total);
  int32_t n = total - head;
  if (n % 2) raise_error(kErrScriptInvalidArg, spec);
  check_keys(source->node(), head, n);
  // Room for every new pair at once.
  SeriesBuffer* b = series_buffer(map_pairs(m));
  int64_t need = int64_t(b->used()) + int64_t(n) * int64_t(sizeof(Cell));
  if (need > int64_t(kMaxCapacity)) raise_error(kErrInternalNoMemory);
  if (int64_t(b->tail) + int64_t(n) * int64_t(sizeof(Cell)) > int64_t(b->capacity))
    series_expand(map_pairs(m), (need + 15) & ~int64_t(15));
  CompareOp mode = lookup_mode(false, case_sensitive);
  Cell* key = stack_push();
  Cell* value = stack_push();
  for (int32_t i = 0; i + 1 < n; i += 2) {
    // A key comparison may run Kiv code that shortens the source.
    if (head + i + 1 >= series_total_cells(source)) break;
    *key = series_cells(source->node())[head + i];
    *value = series_cells(source->node())[head + i + 1];
    set_pair(m, key, value, mode, nullptr);
  }
  return map;
}

bool map_foreach_next(const Cell* map, int32_t* position, const Cell* words) {
  if (!is_any_block(words->type())) raise_error(kErrScriptInvalidArg, words);
  StackSave save;
  Cell* m = stack_push_value(*map);
  Cell* list = stack_push_value(*words);
  Cell* word = stack_push();
  Cell* value = stack_push();
  int32_t first = series_clamp_head(list, series_total_cells(list));
  int32_t count = series_total_cells(list) - first;
  for (int32_t j = 0; j < count; j++) {
    Cell w = series_cells(list->node())[first + j];
    if (!is_any_word(w.type())) raise_error(kErrScriptInvalidArg, &w);
  }
  int32_t pos = std::max(*position, 0);
  bool any = false;
  for (int32_t j = 0; j < count && first + j < series_total_cells(list); j++) {
    // A key goes to a key word only from a live pair.
    if (j % 2 == 0)
      while (pos % 2 == 0 && pos + 1 < pair_total(m) && !live_q(m, pos)) pos += 2;
    if (pos < pair_total(m)) {
      *value = pos % 2 == 0 ? stored_key(m, pos) : pair_cells(m)[pos];
      if (value->header == 0) *value = kNoneCell;  // a pair emptied meanwhile
      if (pos % 2 == 0) *value = key_out(*value);
      pos++;
      any = true;
    } else {
      *value = kNoneCell;
    }
    *word = series_cells(list->node())[first + j];
    set_word_value(word, value);
  }
  *position = pos;
  return any;
}

Cell* map_body(const Cell* map) {
  Cell* result = stack_push();
  StackSave save;
  Cell* m = stack_push_value(*map);
  Cell* block = block_push_only(2 * map_pair_count(m));
  for (int32_t i = next_live(m, 0); i >= 0; i = next_live(m, i + 2)) {
    Cell key = stored_key(m, i);
    key.header |= kFlagNewLine;
    block_append_value(block, &key);
    Cell value = pair_cells(m)[i + 1];
    block_append_value(block, &value);
  }
  *result = *block;
  return result;
}

// ---------------------------------------------------------------- handlers

Cell* map_make(Cell*, const MakeArgs& args) { return make_from(args.spec, true); }

Cell* map_to(Cell*, const MakeArgs& args) { return make_from(args.spec, false); }

Cell* map_reflect(Cell* map, const ReflectArgs& args) {
  Cell result;
  if (field_is(args.field, kSymWords))
    result = *push_part_of_pairs(map, true);
  else if (field_is(args.field, kSymValues))
    result = *push_part_of_pairs(map, false);
  else if (field_is(args.field, kSymBody))
    result = *map_body(map);
  else
    raise_error(kErrInternalNotDone);
  *map = result;
  return map;
}

int32_t map_form(Cell* map, const FormArgs& args) {
  int32_t limit = args.limit;
  if (cycle_elide(map, args.buffer, &limit, false)) return limit;
  MoldArgs pairs;
  pairs.buffer = args.buffer;
  pairs.limit = limit;
  pairs.part = args.part;
  return write_pairs(map, pairs, false, 0, "\n");
}

int32_t map_mold(Cell* map, const MoldArgs& args) {
  int32_t limit = args.limit;
  Cell* buffer = args.buffer;
  if (cycle_elide(map, buffer, &limit, true)) return limit;
  if (!args.only) limit -= string_append_c_string(buffer, "#[");
  bool indented = !args.flat;
  bool written = map_pair_count(map) > 0;
  if (written) {
    int32_t level = args.indent;
    if (indented && !args.only) {
      limit -= string_append_c_string(buffer, "\n");
      level++;
    }
    MoldArgs pairs = args;
    pairs.limit = limit;
    limit = write_pairs(map, pairs, indented, level, indented ? "\n" : " ");
  }
  if (!args.only) {
    if (written && indented && args.indent > 0) limit = mold_indent(buffer, args.indent, limit);
    limit -= string_append_c_string(buffer, "]");
  }
  return limit;
}

Cell* map_eval_path(Cell* map, const EvalPathArgs& args) {
  CompareOp mode = lookup_mode(false, args.case_);
  if (!args.value) {
    Cell* result = stack_push_value(*map);
    select_into(result, args.element, mode);
    return result;
  }
  set_pair(map, args.element, args.value, mode, args.path ? args.path : &kNoneCell);
  return args.value;
}

int map_compare(Cell* map, const CompareArgs& args) {
  Cell* other = args.value2;
  if (!other->is(kTypeMap)) return kNotComparable;
  switch (args.op) {
    case kCmpSort:
    case kCmpCaseSort: {
      Node a = map_pairs(map), b = map_pairs(other);
      return (a > b) - (a < b);
    }
    case kCmpEqual:
    case kCmpNotEqual:
    case kCmpStrictEqual:
    case kCmpSame:
    case kCmpFindEqual: return map_equal(map, other, args.op);
    default: return kNotComparable;
  }
}

Cell* map_clear(Cell* map, const NoneArgs&) {
  hashtable_clear(map_table(map));
  return map;
}

Cell* map_copy(Cell* map, const CopyArgs& args) {
  if (args.part) raise_refine_arg("part", args.part.arg);
  bool typed_deep = args.deep && args.types;
  if (typed_deep && cycle_stack_find(map_pairs(map))) raise_error(kErrInternalNoCycle);
  std::optional<CycleGuard> guard;
  if (typed_deep) guard.emplace(map_pairs(map));
  StackSave save;
  Cell* source = stack_push_value(*map);
  // A copy that shares the key series shares them as series: packed keys
  // take their identity first.
  if (!args.deep || args.types)
    for (int32_t i = 0; i + 1 < pair_total(source); i += 2) stored_key(source, i);
  Cell* pairs = stack_push_value(series_cell(kTypeBlock, map_pairs(map)));
  CopyArgs block_args;
  block_args.deep = args.deep && !args.types;
  block_args.result = stack_push();
  Cell* copy = block_copy(pairs, block_args);
  Node table = hashtable_copy(map_table(source), copy->node());
  *args.result = map_cell(copy->node(), table);
  if (args.types) block_deep_copy_types(copy->node(), 1, series_total_cells(copy), 2, true, args.types);
  return args.result;
}

Cell* map_find(Cell* map, const FindArgs& args) {
  StackSave save;
  Cell* m = stack_push_value(*map);
  int32_t i = lookup(m, args.value, lookup_mode(args.same, args.case_));
  *map = i >= 0 && live_q(m, i) ? key_out(stored_key(m, i)) : kNoneCell;
  return map;
}

int32_t map_length_q(Cell* map, const NoneArgs&) { return map_pair_count(map); }

Cell* map_put(Cell* map, const PutArgs& args) {
  set_pair(map, args.key, args.value, lookup_mode(false, args.case_), nullptr);
  return args.value;
}

Cell* map_remove(Cell* map, const RemoveArgs& args) {
  if (!args.key) raise_error(kErrScriptMissingArg);
  StackSave save;
  Cell* m = stack_push_value(*map);
  int32_t i = lookup(m, args.key, kCmpStrictEqual);
  if (i >= 0) hashtable_delete_value(map_table(m), i);
  return map;
}

Cell* map_select(Cell* map, const SelectArgs& args) {
  select_into(map, args.value, lookup_mode(args.same, args.case_));
  return map;
}

void map_datatype_init() {
  register_datatype({kTypeMap,
                     kTypeNil,
                     "map!",
                     kActionCount,
                     {.make = map_make,
                      .reflect = map_reflect,
                      .to = map_to,
                      .form = map_form,
                      .mold = map_mold,
                      .eval_path = map_eval_path,
                      .compare = map_compare,
                      .clear = map_clear,
                      .copy = map_copy,
                      .find = map_find,
                      .length_q = map_length_q,
                      .put = map_put,
                      .remove = map_remove,
                      .select = map_select},
                     &kMapHooks});
}

}  // namespace kiv

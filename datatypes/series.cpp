// series!: the generic series actions every series type inherits.
//
// Positions inside this file are absolute unit indexes counted from the
// buffer's first unit (SeriesBuffer::head): unit i lives at
// head_ptr() + i * unit, and 0 <= i < total length for every unit read or
// written. A value's head is used only through series_clamp_head(), so a
// negative head reads as 0 and a head past the tail as the tail; sums of heads
// and counts are formed in 64 bits before they are clamped.
//
// Every writer follows the same order: check the arguments (raising before
// anything changes), tell the owner "before", recompute its range (the
// owner's handler runs Kiv code and may have changed the series), change the
// buffer and keep a hash! index in step, then tell the owner "after". A
// SeriesBuffer* is re-derived after each step that may allocate.
#include "datatypes/series.h"

#include <algorithm>
#include <cstring>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/owner.h"
#include "datatypes/pair.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/hashtable.h"
#include "runtime/hooks.h"
#include "runtime/memory.h"
#include "runtime/murmur3.h"
#include "runtime/ownership.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv {

namespace {

// [x] clamped into [lo]..[hi].
inline int32_t clamp(int64_t x, int32_t lo, int32_t hi) { return int32_t(x < lo ? lo : x > hi ? hi : x); }

// ---------------------------------------------------------------- ownership
//
// Change notification goes through runtime/ownership.h (SeriesChange); the
// owner lookup, set and unset that reflect and modify need through datatypes/owner.h.

// True when [symbol] is the field word `owned` (letter case ignored).
bool owned_field_q(uint32_t symbol) {
  return runtime_words_ready() && runtime_symbol_q(int32_t(symbol), kSymOwned);
}

// ---------------------------------------------------------------- hash! index upkeep

// MAY ALLOCATE. Unindexes the [n] cells at [pos] of a hash! before they leave it.
void hash_unindex(const Cell* v, int32_t pos, int32_t n) {
  if (block_indexed_q(v) && n > 0) hashtable_remove_range(block_hash_index(v), pos, n);
}

// MAY ALLOCATE, MAY RUN KIV CODE. Indexes the [n] cells at [pos] of a hash!.
void hash_index(const Cell* v, int32_t pos, int32_t n) {
  if (!block_indexed_q(v)) return;
  for (int32_t i = 0; i < n; i++)
    if (hashtable_put_value_status(block_hash_index(v), pos + i) == kPutRebuilt)
      return;  // the whole block is indexed
}

// MAY ALLOCATE, MAY RUN KIV CODE. After [offset] cells were inserted at [pos]
// (or removed from it, [removing]): shifts the indexes of the [count] cells
// that follow them, rebuilding the index when the shift declines.
void hash_shift(const Cell* v, int32_t pos, int32_t offset, int32_t count, bool removing) {
  if (!block_indexed_q(v) || offset == 0) return;
  if (hashtable_refresh(block_hash_index(v), pos, offset, count, removing))
    hashtable_rebuild(block_hash_index(v), uint32_t(series_total_length(v)));
}

// MAY ALLOCATE, MAY RUN KIV CODE. Gives the hash! [v] (rooted) a new index over its cells.
void hash_index_new(Cell* v) {
  if (!v->is(kTypeHash)) return;
  block_set_hash_index(v, 0);
  Node table = hashtable_init(uint32_t(std::max(series_total_length(v), 1)), v->node(), kHashBlock);
  block_set_hash_index(v, table);
}

}  // namespace

// ---------------------------------------------------------------- hash! index upkeep (public)

void series_hash_unindex(const Cell* value, int32_t pos, int32_t n) { hash_unindex(value, pos, n); }
void series_hash_index(const Cell* value, int32_t pos, int32_t n) { hash_index(value, pos, n); }
void series_hash_shift(const Cell* value, int32_t pos, int32_t offset, int32_t count, bool removing) {
  hash_shift(value, pos, offset, count, removing);
}
void series_hash_index_new(Cell* value) { hash_index_new(value); }

// ---------------------------------------------------------------- helpers

bool series_at_tail_q(const Cell* value) { return std::max(value->head(), 0) >= series_total_length(value); }

bool series_advance(Cell* value, int32_t n) {
  int32_t total = series_total_length(value);
  int64_t pos = int64_t(value->head()) + n;
  if (pos <= total && pos >= INT32_MIN) value->set_head(int32_t(pos));
  return pos >= total;
}

int32_t series_length_clamped(Cell* value, bool from_start) {
  int32_t total = series_total_length(value);
  if (from_start) return total;
  int32_t h = value->head();
  if (h < 0) return total;
  if (h > total) {
    value->set_head(total);
    return 0;
  }
  return total - h;
}

int32_t series_index_arg(const Cell* value, const Cell* arg, int32_t offset_base) {
  if (!arg->is(kTypeInteger)) raise_error(kErrScriptInvalidArg, arg);
  int64_t n = integer_get(arg);
  int64_t pos = int64_t(value->head()) + n + (n >= 1 ? offset_base : 0);
  return clamp(pos, 0, series_total_length(value));
}

SeriesElement series_element_kind(TypeId type) { return type_slots_of(type).element; }

bool series_text_or_bytes_q(TypeId type) {
  SeriesElement e = series_element_kind(type);
  return e == SeriesElement::kCodePoint || e == SeriesElement::kByte;
}

Cell series_like(const Cell* value, Node node) {
  Cell c = series_cell(value->type(), node);
  if (auto keep = type_slots_of(value->type()).keep_kind) keep(value, &c);
  return c;
}

void series_element_at(const Cell* series, int32_t index, Cell* out) {
  auto unit_value = type_slots_of(series->type()).unit_value;
  if (!unit_value) raise_error(kErrInternalNotDone);
  *out = unit_value(series, index);
}

// ---------------------------------------------------------------- navigation

Cell* series_head(Cell* value, const NoneArgs& args) {
  value->set_head(0);
  return value;
}

Cell* series_tail(Cell* value, const NoneArgs& args) {
  value->set_head(series_total_length(value));
  return value;
}

Cell* series_next(Cell* value, const NoneArgs& args) {
  int64_t pos = int64_t(value->head()) + 1;
  if (pos <= series_total_length(value)) value->set_head(int32_t(pos));
  return value;
}

Cell* series_back(Cell* value, const NoneArgs& args) {
  if (value->head() > 0) value->set_head(value->head() - 1);
  return value;
}

Cell* series_at(Cell* value, const AtArgs& args) {
  value->set_head(series_index_arg(value, args.index, -1));
  return value;
}

Cell* series_skip(Cell* value, const SkipArgs& args) {
  value->set_head(series_index_arg(value, args.offset, 0));
  return value;
}

Cell* series_head_q(Cell* value, const NoneArgs& args) {
  *value = logic_cell(value->head() == 0);
  return value;
}

Cell* series_tail_q(Cell* value, const NoneArgs& args) {
  *value = logic_cell(series_at_tail_q(value));
  return value;
}

Cell* series_index_q(Cell* value, const NoneArgs& args) {
  // A head of 2^31 - 1 has no index: no buffer holds that many units.
  if (value->head() == INT32_MAX) raise_error(kErrScriptOutOfRange, value);
  *value = integer_cell(value->head() + 1);
  return value;
}

int32_t series_length_q(Cell* value, const NoneArgs& args) { return series_length_clamped(value, false); }

// ---------------------------------------------------------------- pick and poke

Cell* series_pick(Cell* value, const PickArgs& args) {
  int64_t pos = pick_position(value, args.position);
  if (pos < 0 || pos >= series_total_length(value)) {
    *value = kNoneCell;
    return value;
  }
  series_element_at(value, int32_t(pos), value);
  return value;
}

Cell* series_poke(Cell* value, const PokeArgs& args) {
  Cell boxed = integer_cell(args.position);
  int64_t pos = pick_position(value, args.position);
  if (pos < 0 || pos >= series_total_length(value)) raise_error(kErrScriptOutOfRange, &boxed);
  const TypeSlots& units = type_slots_of(value->type());
  if (!units.unit_store) raise_error(kErrInternalNotDone);
  if (units.unit_check) units.unit_check(value, args.value);
  int32_t at = int32_t(pos);
  SeriesChange change(value, kOwnerPoke, at, 1, args.value);
  // The owner's handler may have cut the series.
  if (at >= series_total_length(value)) raise_error(kErrScriptOutOfRange, &boxed);
  units.unit_store(value, at, args.value);
  change.done(at, 1, args.value);
  return args.value;
}

// ---------------------------------------------------------------- random

Cell* series_random(Cell* value, const RandomArgs& args) {
  int32_t total = series_total_length(value);
  int32_t head = series_clamp_head(value, total);
  if (args.seed) {
    SeriesBuffer* b = series_buffer_of(value);
    random_seed(hash_murmur3(series_unit_at(b, head), size_t(total - head) * b->unit()));
    *value = kUnsetCell;
    return value;
  }
  if (args.only) {
    if (head >= total) {
      *value = kNoneCell;
      return value;
    }
    int32_t pos = head + random_integer(args.secure, total - head) - 1;
    series_element_at(value, pos, value);
    return value;
  }
  if (head >= total) return value;
  SeriesChange change(value, kOwnerRandom, head, total - head);
  total = series_total_length(value);
  head = series_clamp_head(value, total);
  int32_t length = total - head;
  hash_unindex(value, head, length);
  // Fisher-Yates: each position from the head takes a unit drawn among the
  // remaining ones, itself included.
  for (int32_t i = 0; i < length - 1; i++) {
    int32_t j = i + random_integer(args.secure, length - i) - 1;
    if (j == i) continue;
    SeriesBuffer* b = series_buffer_of(value);
    uint8_t* p = series_unit_at(b, head + i);
    std::swap_ranges(p, p + b->unit(), series_unit_at(b, head + j));
  }
  hash_index(value, head, length);
  change.done(head, length);
  return value;
}

// ---------------------------------------------------------------- reflect and modify

Cell* series_reflect(Cell* value, const ReflectArgs& args) {
  if (!is_any_word(args.field->type()) || !owned_field_q(uint32_t(word_symbol(args.field))))
    raise_error(kErrInternalNotDone);
  *value = owner_lookup(value->node());
  return value;
}

Cell* series_modify(Cell* value, const ModifyArgs& args) {
  bool field_word = is_all_word(args.field->type());
  if (!field_word || !owned_field_q(uint32_t(word_symbol(args.field)))) return args.value;
  if (args.value->is(kTypeNone)) {
    owner_unset(value);
    return args.value;
  }
  // [object word]: the series becomes owned by that object's field.
  if (!args.value->is(kTypeBlock)) raise_error(kErrScriptInvalidArg, args.value);
  int32_t total = series_total_length(args.value);
  int32_t head = series_clamp_head(args.value, total);
  if (total - head < 2) raise_error(kErrScriptInvalidArg, args.value);
  Cell* object =
      stack_push_value(*reinterpret_cast<Cell*>(series_unit_at(series_buffer_of(args.value), head)));
  Cell* word =
      stack_push_value(*reinterpret_cast<Cell*>(series_unit_at(series_buffer_of(args.value), head + 1)));
  if (!object->is(kTypeObject) || !word->is(kTypeWord)) raise_error(kErrScriptInvalidArg, args.value);
  owner_set(value, object, word);
  return args.value;
}

// ---------------------------------------------------------------- clear, remove, reverse

namespace {

// Closes the [n] units at [pos] of [v] (moving the rest down) and keeps a
// hash! index in step. MAY ALLOCATE, MAY RUN KIV CODE (hash! upkeep).
void close_units(const Cell* v, int32_t pos, int32_t n) {
  int32_t total = series_total_length(v);
  pos = std::min(pos, total);
  n = std::min(n, total - pos);
  if (n <= 0) return;
  hash_unindex(v, pos, n);
  SeriesBuffer* b = series_buffer_of(v);
  int32_t rest = total - pos - n;
  uint8_t* p = series_unit_at(b, pos);
  std::memmove(p, p + size_t(n) * b->unit(), size_t(rest) * b->unit());
  b->tail -= uint32_t(n) * b->unit();
  hash_shift(v, pos, n, rest, true);
}

}  // namespace

Cell* series_clear(Cell* value, const NoneArgs&) {
  int32_t total = series_total_length(value);
  int32_t head = series_clamp_head(value, total);
  if (head >= total) return value;
  SeriesChange change(value, kOwnerClear, head, total - head);
  total = series_total_length(value);
  head = series_clamp_head(value, total);
  if (head < total) {
    hash_unindex(value, head, total - head);
    SeriesBuffer* b = series_buffer_of(value);
    b->tail = b->head + uint32_t(head) * b->unit();
  }
  change.done(head, total - head);
  return value;
}

Cell* series_remove(Cell* value, const RemoveArgs& args) {
  int64_t count = args.part ? args.part.count : 1;
  if (count < 1) return value;
  int32_t start = series_clamp_head(value, series_total_length(value));
  if (args.key) {
    // The key and the value after it go: found case-sensitively from the head.
    FindArgs find;
    find.value = args.key;
    find.case_ = true;
    Cell* probe = stack_push_value(*value);
    Cell* found = action_find(probe, find);
    if (found->is(kTypeNone) || found->node() != value->node()) {
      *value = kNoneCell;
      return value;
    }
    start = series_clamp_head(found, series_total_length(value));
    count += 1;
  }
  int32_t total = series_total_length(value);
  if (start < total) {
    SeriesChange change(value, kOwnerRemove, start, clamp(count, 0, total - start));
    total = series_total_length(value);
    if (start > total) start = total;
    int32_t n = clamp(count, 0, total - start);
    if (n > 0) close_units(value, start, n);
    change.done(start, n);
  }
  if (args.key) value->set_head(start);
  return value;
}

Cell* series_reverse(Cell* value, const ReverseArgs& args) {
  int32_t total = series_total_length(value);
  int32_t head = series_clamp_head(value, total);
  if (head >= total) return value;
  int64_t count = total - head;
  if (args.part) {
    count = args.part.count;
    if (count < 1) return value;
    count = std::min<int64_t>(count, total - head);
  }
  int64_t size = args.skip.size;
  if (args.skip) {
    if (size == count) return value;
    if (size < 1) raise_error(kErrScriptOutOfRange, args.skip.arg);
    if (count < size || count % size != 0) raise_refine_arg("skip", args.skip.arg);
  }
  SeriesChange change(value, kOwnerReverse, head, int32_t(count));
  total = series_total_length(value);
  head = series_clamp_head(value, total);
  // Whole records only, should the owner's handler have shortened the series.
  count = std::min<int64_t>(count, total - head) / size * size;
  int32_t n = int32_t(count);
  hash_unindex(value, head, n);
  SeriesBuffer* b = series_buffer_of(value);
  size_t record = size_t(size) * b->unit();
  if (n > 0) {
    uint8_t* lo = series_unit_at(b, head);
    uint8_t* hi = series_unit_at(b, head + n - int32_t(size));
    for (; lo < hi; lo += record, hi -= record) std::swap_ranges(lo, lo + record, hi);
  }
  hash_index(value, head, n);
  change.done(head, n);
  return value;
}

// ---------------------------------------------------------------- take and copy

namespace {

// MAY ALLOCATE. A new empty buffer for [count] units (at least 16 bytes) of
// the unit of [source], with its flags but neither ownership nor placement.
Node new_buffer_like(Node source, int64_t count) {
  SeriesBuffer* src = series_buffer(source);
  uint32_t unit = src->unit();
  if (uint64_t(count) * unit > kMaxCapacity) raise_error(kErrInternalNoMemory);
  Node node = series_alloc_units(uint32_t(count), unit);
  src = series_buffer(source);
  SeriesBuffer* dst = series_buffer(node);
  uint32_t dropped = kSeriesPlacementFlags | kSeriesOwned | kSeriesMiddleHead;
  dst->flags = (src->flags & ~dropped) | (dst->flags & kSeriesPlacementFlags);
  return node;
}

// Copies the [n] units at [pos] of [source] into the empty buffer [target].
void copy_units(Node source, int32_t pos, int32_t n, Node target) {
  SeriesBuffer* src = series_buffer(source);
  SeriesBuffer* dst = series_buffer(target);
  size_t bytes = size_t(n) * src->unit();
  move_bytes(dst->head_ptr(), series_unit_at(src, pos), bytes);
  dst->tail = dst->head + uint32_t(bytes);
}

// MAY ALLOCATE. Pushes a new series of [v]'s type holding a copy of the [n]
// units at [pos] (a vector! keeps its element type, a hash! gets an index).
Cell* push_part(const Cell* v, int32_t pos, int32_t n) {
  Node node = new_buffer_like(v->node(), n);
  Cell* result = stack_push_value(series_like(v, node));
  copy_units(v->node(), pos, n, node);
  hash_index_new(result);
  return result;
}

}  // namespace

bool series_take_range(const Cell* value, const TakeArgs& args, int64_t* from, int64_t* n) {
  int32_t total = series_total_length(value);
  int32_t head = series_clamp_head(value, total);
  if (head >= total) return false;
  int64_t count = args.part ? args.part.count : 1;
  if (args.last) {
    *n = count < 1 ? 0 : std::min<int64_t>(count, total - head);
    *from = total - *n;
  } else if (count < 0) {
    *from = std::max<int64_t>(head + count, 0);
    *n = head - *from;
  } else {
    *from = head;
    *n = std::min<int64_t>(count, total - head);
  }
  return true;
}

Cell* series_take(Cell* value, const TakeArgs& args) {
  int64_t from = 0, n = 0;
  if (!series_take_range(value, args, &from, &n)) return stack_push_value(kNoneCell);
  if (n == 0) return push_part(value, series_clamp_head(value, series_total_length(value)), 0);
  SeriesChange change(value, kOwnerTake, int32_t(from), int32_t(n));
  int32_t total = series_total_length(value);
  from = std::min<int64_t>(from, total);
  n = std::min<int64_t>(n, total - from);
  Cell* result = push_part(value, int32_t(from), int32_t(n));
  close_units(value, int32_t(from), int32_t(n));
  change.done(int32_t(from), int32_t(n));
  return result;
}

Cell* series_copy(Cell* value, const CopyArgs& args) {
  int32_t total = series_total_length(value);
  int64_t offset = value->head();
  int64_t count = std::max<int64_t>(total - offset, 0);
  if (args.part && args.part.arg->is(kTypePair)) {
    // x by y: from unit x (1-based, or x back for a negative x) up to unit y.
    int64_t x = pair_x(args.part.arg), y = pair_y(args.part.arg);
    offset = std::max<int64_t>(x < 0 ? offset + x : offset + x - 1, 0);
    count = y < x ? 0 : y - x;
  } else if (args.part) {
    count = args.part.count;
  }
  if (count < 0) {
    // The units before the head, down to the first unit at most.
    int64_t start = std::max<int64_t>(offset + count, 0);
    count = std::max<int64_t>(offset - start, 0);
    offset = start;
  }
  int32_t from = clamp(offset, 0, total);
  int32_t n = clamp(count, 0, total - from);
  series_copy_units(value, from, n, args.result);
  return args.result;
}

void series_copy_units(const Cell* value, int32_t from, int32_t n, Cell* out) {
  Node node = new_buffer_like(value->node(), n);
  *out = series_like(value, node);
  out->header |= value->header & kFlagNewLine;
  copy_units(value->node(), from, n, node);
}

// ---------------------------------------------------------------- move

namespace {

// Which series may exchange units with which (move), by their element
// kinds: cells with cells, text with text, bytes with bytes or with 1-byte
// text, vector elements with a vector of the same units (same_units_q).
bool move_compatible_q(const Cell* origin, const Cell* target) {
  using E = SeriesElement;
  E a = series_element_kind(origin->type()), b = series_element_kind(target->type());
  if (a == E::kNone || b == E::kNone) return false;
  if (a == E::kByte && b == E::kCodePoint) return series_buffer_of(target)->unit() == 1;
  if (a == E::kCodePoint && b == E::kByte) return series_buffer_of(origin)->unit() == 1;
  if (a != b) return false;
  auto same_units = type_slots_of(origin->type()).same_units_q;
  return !same_units || same_units(origin, target);
}

[[noreturn]] void raise_move_bad(const Cell* origin, const Cell* target) {
  Cell a = datatype_cell(origin->type());
  Cell b = datatype_cell(target->type());
  raise_error(kErrScriptMoveBad, &a, &b);
}

// Moves [n] units from [s] to the head of another series [target].
void move_between(Cell* origin, Cell* target, int32_t s, int32_t n) {
  SeriesChange origin_change(origin, kOwnerMove, s, n);
  SeriesChange target_change(target, kOwnerMove, series_clamp_head(target, series_total_length(target)), n,
                             origin);
  // Recomputed: the owners' handlers may have changed either series.
  if (!move_compatible_q(origin, target)) raise_move_bad(origin, target);
  int32_t total = series_total_length(origin);
  s = std::min(s, total);
  n = std::min(n, total - s);
  if (n == 0) {
    origin_change.done(s, 0);
    target_change.done(series_clamp_head(target, series_total_length(target)), 0, origin);
    return;
  }
  Node tnode = target->node();
  // Text: the target takes the wider unit first; narrower units are widened as they are copied.
  uint32_t su = series_buffer_of(origin)->unit();
  if (series_element_kind(target->type()) == SeriesElement::kCodePoint &&
      su > series_buffer_of(target)->unit())
    widen_series(tnode, su, uint32_t(n));
  SeriesBuffer* tb = series_buffer(tnode);
  uint32_t tu = tb->unit();
  uint64_t need = uint64_t(tb->head) + (uint64_t(tb->length()) + uint64_t(n)) * tu;
  if (need > tb->capacity) {
    uint64_t size = std::max<uint64_t>(need - tb->head, 2 * uint64_t(tb->capacity));
    if (need - tb->head > kMaxCapacity) raise_error(kErrInternalNoMemory);
    series_expand(tnode, int64_t(std::min<uint64_t>(size, kMaxCapacity)));
  }
  hash_unindex(origin, s, n);
  tb = series_buffer(tnode);
  int32_t ttotal = int32_t(tb->length());
  int32_t t = series_clamp_head(target, ttotal);
  SeriesBuffer* ob = series_buffer_of(origin);
  uint8_t* gap = series_unit_at(tb, t);
  std::memmove(gap + size_t(n) * tu, gap, size_t(ttotal - t) * tu);
  if (su == tu) {
    std::memcpy(gap, series_unit_at(ob, s), size_t(n) * tu);
  } else {
    const uint8_t* from = series_unit_at(ob, s);
    for (int32_t i = 0; i < n; i++) unit_put(gap + size_t(i) * tu, tu, unit_get(from + size_t(i) * su, su));
  }
  tb->tail += uint32_t(n) * tu;
  int32_t rest = int32_t(ob->length()) - s - n;
  uint8_t* p = series_unit_at(ob, s);
  std::memmove(p, p + size_t(n) * su, size_t(rest) * su);
  ob->tail -= uint32_t(n) * su;
  hash_shift(origin, s, n, rest, true);
  hash_shift(target, t, n, ttotal - t, false);
  hash_index(target, t, n);
  origin_change.done(s, n);
  target_change.done(t, n, origin);
}

// Moves [n] units from [s] to the head of [target] within the same buffer:
// backwards they land at the target; forwards, after the unit there (at the
// end when the target is the tail).
void move_within(Cell* origin, Cell* target, int32_t s, int32_t n) {
  int32_t total = series_total_length(origin);
  int32_t t = series_clamp_head(target, total);
  if (t >= s && t < s + n) return;
  int32_t lo, mid, hi, landed;
  if (t < s) {
    lo = t, mid = s, hi = s + n, landed = t;
  } else {
    lo = s, mid = s + n, hi = t >= total - 1 ? total : t + 1, landed = hi - n;
  }
  SeriesBuffer* b = series_buffer_of(origin);
  std::rotate(series_unit_at(b, lo), series_unit_at(b, mid), series_unit_at(b, hi));
  if (block_indexed_q(origin)) hashtable_move_range(block_hash_index(origin), s, landed, n);
  // Within one series the owner hears only where the units landed.
  owner_notify_after(origin, kOwnerMove, landed, n);
}

}  // namespace

Cell* series_move(Cell* origin, const MoveArgs& args) {
  // Any series is a target move may refuse as bad; anything else is the wrong argument.
  if (!is_series(args.target->type())) {
    Cell argument = name_word_cell("target");
    raise_expect_arg(nullptr, args.target->type(), &argument);
  }
  int64_t count = args.part ? args.part.count : 1;
  int32_t total = series_total_length(origin);
  int32_t s = series_clamp_head(origin, total);
  if (s >= total || count < 1) return args.target;
  if (!move_compatible_q(origin, args.target)) raise_move_bad(origin, args.target);
  int32_t n = int32_t(std::min<int64_t>(count, total - s));
  if (origin->node() == args.target->node())
    move_within(origin, args.target, s, n);
  else
    move_between(origin, args.target, s, n);
  return args.target;
}

// ---------------------------------------------------------------- set operations

int sort_answer_order(const Cell* answer) {
  switch (answer->type()) {
    case kTypeLogic: return logic_get(answer) == 1 ? 1 : -1;
    case kTypeInteger: {
      int32_t n = integer_get(answer);
      return n > 0 ? -1 : n < 0 ? 1 : 0;
    }
    case kTypeFloat: {
      double f = float_get(answer);
      return f > 0 ? -1 : f < 0 ? 1 : 0;
    }
    case kTypeNone: return -1;
    default: return 1;
  }
}

int sort_compare_by_function(const Cell* function, const Cell* given_first, const Cell* given_second,
                             Cell* answer) {
  if (!g_hooks.call_value) raise_error(kErrInternalNotDone);
  StackSave save;
  Cell* args = stack_push_cell(given_first);
  stack_push_cell(given_second);
  g_hooks.call_value(function, args, 2, answer);
  return sort_answer_order(answer);
}

bool set_op_unique_q(int32_t op) {
  switch (op) {
    case kSetUnique: return true;
    case kMathOr:
    case kMathAnd:
    case kMathXor:
    case kSetUnion:
    case kSetIntersect:
    case kSetExclude:
    case kSetDifference: return false;
    default: fatal_no_switch();
  }
}

Cell* series_set_op(Cell* set1, Cell* set2, SetOpArgs args) {
  if (args.op < kSetUnique || args.op > kSetDifference) fatal_no_switch();
  const TypeSlots& slots = type_slots_of(set1->type());
  if (!slots.set_op) raise_error(kErrScriptInvalidArg, set1);
  // Records are a series' matter: the sets held as bits leave /skip unread.
  if (slots.element != SeriesElement::kNone) {
    args.skip = record_size_of(args.skip.arg);
    if (args.skip.size < 1) raise_refine_arg("skip", args.skip.arg);
  }
  return slots.set_op(set1, set2, args);
}

// ---------------------------------------------------------------- registration

void series_datatype_init() {
  register_datatype({kTypeSeries,
                     kTypeNil,
                     "series!",
                     kActionCount,
                     {.random = series_random,
                      .reflect = series_reflect,
                      .at = series_at,
                      .back = series_back,
                      .clear = series_clear,
                      .copy = series_copy,
                      .head = series_head,
                      .head_q = series_head_q,
                      .index_q = series_index_q,
                      .length_q = series_length_q,
                      .move = series_move,
                      .next = series_next,
                      .pick = series_pick,
                      .poke = series_poke,
                      .remove = series_remove,
                      .reverse = series_reverse,
                      .skip = series_skip,
                      .tail = series_tail,
                      .tail_q = series_tail_q,
                      .take = series_take,
                      .modify = series_modify}});
}

}  // namespace kiv

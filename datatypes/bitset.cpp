// bitset!: making bitsets from specs, membership, changes, the set
// operations, compare, form and mold (the payload is laid out in
// datatypes/bitset.h).
//
// A spec names bit indexes: a char!, integer! or float! (truncated toward
// zero) one index, a string! its code points from its position, a block! each
// of its values from its position, where `low - high` (two chars or two
// integers around the word `-`) is the range low to high. One walk
// (SpecWalk) serves every use of a spec: measuring the bytes it needs, and
// setting, clearing or testing its bits.
//
// Every index keeps the one rule of the data model: past the stored bytes it
// is a member exactly when the bitset is complemented. Setting bits of a
// plain bitset and clearing bits of a complemented one grow it first (to
// what a measuring walk found), so the walks that change bits never
// allocate; the other way round, the indexes past the stored bytes are
// already as asked and only the stored part changes. Tests read the stored
// part bit by bit and the part past it from the flag.
//
// Collector safety: specs and bitsets are argument cells or pushed cells on
// the data stack; buffers are reached through their nodes at each step.
#include "datatypes/bitset.h"

#include <algorithm>
#include <cstring>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/cycle.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/numbers.h"
#include "runtime/ownership.h"
#include "runtime/stack.h"
#include "runtime/typesets.h"
#include "runtime/unicode.h"

namespace kiv {

bool bitset_bit_q(Node bits, uint32_t n) {
  SeriesBuffer* b = series_buffer(bits);
  if (n / 8 >= b->used()) return (b->flags & kBitsetComplement) != 0;
  return (b->head_ptr()[n / 8] & (0x80u >> (n % 8))) != 0;
}

namespace {

// bitset_span over text units of [Unit] bytes.
template <uint32_t Unit>
int32_t span_units(const uint8_t* bits, uint32_t bytes, bool complement, const uint8_t* text, int32_t from,
                   int32_t end) {
  int32_t i = from;
  for (; i < end; i++) {
    uint32_t n = unit_get(text + size_t(i) * Unit, Unit);
    bool in = n / 8 < bytes ? (bits[n / 8] & (0x80u >> (n % 8))) != 0 : complement;
    if (!in) break;
  }
  return i - from;
}

}  // namespace

int32_t bitset_span(Node bits, Node text, int32_t from, int32_t end, int32_t max) {
  if (max >= 0 && int64_t(end) - from > max) end = from + max;
  if (from >= end) return 0;
  SeriesBuffer* b = series_buffer(bits);
  SeriesBuffer* t = series_buffer(text);
  const uint8_t* stored = b->head_ptr();
  bool complement = (b->flags & kBitsetComplement) != 0;
  switch (t->unit()) {
    case 1: return span_units<1>(stored, b->used(), complement, t->head_ptr(), from, end);
    case 2: return span_units<2>(stored, b->used(), complement, t->head_ptr(), from, end);
    case 4: return span_units<4>(stored, b->used(), complement, t->head_ptr(), from, end);
    default: fatal_no_switch();
  }
}

namespace {

// ---------------------------------------------------------------- storage

// MAY ALLOCATE. A new bitset buffer of [bytes] stored bytes, each [fill],
// complemented when [complement].
Node bitset_alloc(uint32_t bytes, uint8_t fill, bool complement) {
  Node node = series_alloc_bytes(bytes);
  SeriesBuffer* b = series_buffer(node);
  std::memset(b->head_ptr(), fill, bytes);
  b->tail = b->head + bytes;
  if (complement) b->flags |= kBitsetComplement;
  return node;
}

// The byte every index past the stored bytes of [b] reads as.
uint8_t fill_byte(const SeriesBuffer* b) { return (b->flags & kBitsetComplement) ? 0xFF : 0x00; }

// MAY ALLOCATE. A new buffer holding the stored bytes of [bits], each one
// inverted when [invert], complemented when [complement]. Never owned.
Node bitset_copy_bits(Node bits, bool invert, bool complement) {
  uint32_t n = series_buffer(bits)->used();
  Node node = bitset_alloc(n, 0, complement);
  SeriesBuffer* src = series_buffer(bits);
  uint8_t* dst = series_buffer(node)->head_ptr();
  for (uint32_t i = 0; i < n; i++) dst[i] = invert ? uint8_t(~src->head_ptr()[i]) : src->head_ptr()[i];
  return node;
}

// MAY ALLOCATE. Grows [bitset] to at least [bytes] stored bytes, the new ones
// filled so that no index changes its membership.
void bitset_grow(const Cell* bitset, uint32_t bytes) {
  Node node = bitset->node();
  SeriesBuffer* b = series_buffer(node);
  uint32_t have = b->used();
  if (bytes <= have) return;
  if (uint64_t(b->head) + bytes > b->capacity)
    b = series_expand(node, int64_t(series_grown_capacity(b->capacity, bytes)));
  std::memset(b->head_ptr() + have, fill_byte(b), bytes - have);
  b->tail = b->head + bytes;
}

// ---------------------------------------------------------------- spec walks

enum class BitOp : uint8_t { kSize, kSet, kTest, kClear };
// Which error a value of the wrong type raises: make's, to's or any other action's.
enum class SpecMode : uint8_t { kMake, kTo, kOther };

// Applies [op] to the bits [lo]..[hi] (inclusive) of the bytes at [p]; for
// kTest, true when every one is set.
bool span_bits(uint8_t* p, int64_t lo, int64_t hi, BitOp op) {
  auto apply = [op](uint8_t& byte, uint8_t mask) {
    if (op == BitOp::kSet) byte |= mask;
    if (op == BitOp::kClear) byte &= uint8_t(~mask);
    return (byte & mask) == mask;
  };
  int64_t first = lo / 8, last = hi / 8;
  uint8_t head = uint8_t(0xFFu >> (lo % 8)), tail = uint8_t(0xFFu << (7 - hi % 8));
  if (first == last) return apply(p[first], head & tail);
  bool all = apply(p[first], head);
  for (int64_t i = first + 1; i < last && (all || op != BitOp::kTest); i++) all = apply(p[i], 0xFF) && all;
  return apply(p[last], tail) && all;
}

// True when [v] is the word [s] (letter case ignored).
bool keyword_q(const Cell* v, RuntimeSymbol s) {
  return v->is(kTypeWord) && runtime_words_ready() && runtime_symbol_q(word_symbol(v), s);
}

// One walk of [op] over a spec on the bitset buffer [bits] (0 for kSize).
// run answers the test for kTest and true otherwise; need() is the bytes a
// kSize walk found the spec to name (0 when it names no index).
class SpecWalk {
 public:
  SpecWalk(Node bits, BitOp op, SpecMode mode) : bits_(bits), op_(op), mode_(mode) {}

  bool run(const Cell* spec) { return value(spec); }
  uint32_t need() const { return need_; }

 private:
  bool value(const Cell* v) {
    switch (v->type()) {
      case kTypeChar: return index(v, char_get(v));
      case kTypeInteger: return index(v, integer_get(v));
      case kTypeFloat: return index(v, double_to_int32(float_get(v)));
      case kTypeString: return text(v);
      case kTypeBlock: return block(v);
      case kTypeBinary: raise_error(kErrInternalNotDone);
      default: {
        Cell datatype = datatype_cell(kTypeBitset);
        if (mode_ == SpecMode::kMake) raise_error(kErrScriptBadMakeArg, &datatype, v);
        if (mode_ == SpecMode::kTo) raise_error(kErrScriptBadToArg, &datatype, v);
        raise_error(kErrScriptInvalidArg, v);
      }
    }
  }

  // The single index [n] named by [v]. A negative index is never a member
  // and cannot be stored.
  bool index(const Cell* v, int64_t n) {
    if (n < 0) {
      if (op_ == BitOp::kTest) return false;
      raise_error(kErrScriptOutOfRange, v);
    }
    return range(n, n);
  }

  // The indexes [lo]..[hi], 0 <= lo <= hi.
  bool range(int64_t lo, int64_t hi) {
    if (op_ == BitOp::kSize) {
      need_ = std::max(need_, uint32_t(hi / 8 + 1));
      return true;
    }
    SeriesBuffer* b = series_buffer(bits_);
    bool complement = (b->flags & kBitsetComplement) != 0;
    int64_t stored = int64_t(b->used()) * 8;
    int64_t top = std::min(hi, stored - 1);  // the last stored index of the range
    if (op_ == BitOp::kTest) {
      if (hi >= stored && !complement) return false;
      return lo > top || span_bits(b->head_ptr(), lo, top, op_);
    }
    // Past the stored bytes the indexes are as asked: the caller grew the bitset otherwise.
    fatal_assert(hi < stored || complement == (op_ == BitOp::kSet));
    if (lo <= top) span_bits(b->head_ptr(), lo, top, op_);
    return true;
  }

  // Each code point from the position of the string [v].
  bool text(const Cell* v) {
    for (int32_t i = string_head_index(v); i < string_total_length(v); i++)
      if (!index(v, string_char_at(v, uint32_t(i)))) return false;
    return true;
  }

  // Each value from the position of the block [v]; a test answers false for an empty block.
  bool block(const Cell* v) {
    if (cycle_stack_find(v->node())) raise_error(kErrInternalNoCycle);
    CycleGuard guard(v->node());
    bool any = false;
    for (int32_t i = series_clamp_head(v, block_total_length(v)); i < block_total_length(v); i++) {
      Cell item = *block_ks_abs_at(v, i);
      bool member;
      if ((item.is(kTypeChar) || item.is(kTypeInteger)) && i + 1 < block_total_length(v) &&
          keyword_q(block_ks_abs_at(v, i + 1), kSymMinus)) {
        if (i + 2 >= block_total_length(v)) raise_error(kErrScriptPastEnd);
        Cell high = *block_ks_abs_at(v, i + 2);
        if (high.type() != item.type()) raise_error(kErrScriptInvalidArg, &high);
        int64_t lo = item.is(kTypeChar) ? int64_t(char_get(&item)) : integer_get(&item);
        int64_t hi = high.is(kTypeChar) ? int64_t(char_get(&high)) : integer_get(&high);
        if (hi < lo) raise_error(kErrScriptPastEnd);
        member = index(&item, lo) && range(lo, hi);
        i += 2;
      } else {
        member = value(&item);
      }
      if (op_ == BitOp::kTest && !member) return false;
      any = true;
    }
    return op_ != BitOp::kTest || any;
  }

  Node bits_;
  BitOp op_;
  SpecMode mode_;
  uint32_t need_ = 0;
};

// The bytes [spec] names (0 when none), checked as [mode] checks it: raises
// what setting its bits would raise.
uint32_t spec_need(const Cell* spec, SpecMode mode) {
  SpecWalk size(0, BitOp::kSize, mode);
  size.run(spec);
  return size.need();
}

// MAY ALLOCATE, MAY RUN KIV CODE (owner notification). Makes the indexes
// [spec] names members of [bitset] ([add]) or not members, telling an owner
// [action]'s words with [told] as the new value.
void change_members(Cell* bitset, const Cell* spec, bool add, OwnerWord action, const Cell* told) {
  spec_need(spec, SpecMode::kOther);  // a bad spec raises before anything is told or changed
  SeriesChange change(bitset, action, 0, 0, told);
  // The owner's handler may have changed the bitset or the spec: both are read afresh.
  BitOp op = add ? BitOp::kSet : BitOp::kClear;
  if (add != bitset_complement_q(bitset)) bitset_grow(bitset, spec_need(spec, SpecMode::kOther));
  SpecWalk(bitset->node(), op, SpecMode::kOther).run(spec);
  change.done(0, 0, told);
}

// True when [spec] names only members of [bitset].
bool members_q(const Cell* bitset, const Cell* spec) {
  return SpecWalk(bitset->node(), BitOp::kTest, SpecMode::kOther).run(spec);
}

// ---------------------------------------------------------------- make and to

// The value at the position of the block [spec], or null past its tail.
const Cell* block_first(const Cell* spec) {
  int32_t total = block_total_length(spec);
  int32_t i = series_clamp_head(spec, total);
  return i < total ? block_ks_abs_at(spec, i) : nullptr;
}

// MAY ALLOCATE. make ([mode] kMake) and to (kTo) of a bitset from [spec_arg],
// written into [result].
Cell* bitset_from_spec(Cell* result, const Cell* spec_arg, SpecMode mode) {
  Cell* spec = stack_push_value(*spec_arg);
  bool complement = false;
  if (spec->is(kTypeBlock)) {
    const Cell* first = block_first(spec);
    if (first && keyword_q(first, kSymNot)) {
      complement = true;
      spec->set_head(series_clamp_head(spec, block_total_length(spec)) + 1);
      first = block_first(spec);
    }
    if (first && first->is(kTypeBinary)) *spec = *first;
  }
  Node node;
  switch (spec->type()) {
    case kTypeInteger:
    case kTypeFloat: {
      if (mode == SpecMode::kTo) {
        Cell datatype = datatype_cell(kTypeBitset);
        raise_error(kErrScriptBadToArg, &datatype, spec);
      }
      int32_t bits = spec->is(kTypeFloat) ? double_to_int32(float_get(spec)) : integer_get(spec);
      if (bits < 0) raise_error(kErrScriptOutOfRange, spec);
      node = bitset_alloc(uint32_t((int64_t(bits) + 7) / 8), 0, false);
      break;
    }
    case kTypeBitset: node = bitset_copy_bits(spec->node(), false, bitset_complement_q(spec)); break;
    case kTypeBinary: {
      int32_t total = series_total_length(spec);
      int32_t head = series_clamp_head(spec, total);
      node = bitset_alloc(uint32_t(total - head), 0, complement);
      SeriesBuffer* src = series_buffer(spec->node());
      uint8_t* dst = series_buffer(node)->head_ptr();
      for (int32_t i = head; i < total; i++) {
        uint8_t byte = src->head_ptr()[i];
        dst[i - head] = complement ? uint8_t(~byte) : byte;
      }
      break;
    }
    default: {
      uint32_t bytes = std::max(spec_need(spec, mode), 1u);
      node = bitset_alloc(bytes, complement ? 0xFF : 0x00, complement);
      *result = bitset_cell(node);
      SpecWalk(node, complement ? BitOp::kClear : BitOp::kSet, mode).run(spec);
      return result;
    }
  }
  *result = bitset_cell(node);
  return result;
}

Cell* bitset_make(Cell* proto, const MakeArgs& args) {
  return bitset_from_spec(proto, args.spec, SpecMode::kMake);
}
Cell* bitset_to(Cell* proto, const MakeArgs& args) {
  return bitset_from_spec(proto, args.spec, SpecMode::kTo);
}

// ---------------------------------------------------------------- form and mold

// "make bitset! #{...}", a complemented one "make bitset! [not #{...}]" with
// the bytes of the set it is the complement of. With /part the output stops
// after the byte at which the limit went below 0.
int32_t bitset_mold(Cell* value, const MoldArgs& args) {
  Cell* buffer = args.buffer;
  const Cell bitset = *value;  // appending may move the buffer [value] lies in
  bool complement = bitset_complement_q(&bitset);
  int32_t limit = args.limit - string_append_c_string(buffer, "make bitset! ");
  if (complement) limit -= string_append_c_string(buffer, "[not ");
  limit -= string_append_c_string(buffer, "#{");
  for (uint32_t i = 0; i < bitset_byte_count(&bitset); i++) {
    uint8_t byte = bitset_bits(&bitset)[i];
    limit -= string_append_c_string(buffer, string_byte_to_hex(complement ? uint8_t(~byte) : byte).view());
    if (args.part && limit < 0) return limit;
  }
  limit -= string_append_c_string(buffer, "}");
  if (complement) limit -= string_append_c_string(buffer, "]");
  return limit;
}

// ---------------------------------------------------------------- compare

// Another type is not comparable; same? asks for one buffer. Otherwise the
// byte count decides, then the complement flag (plain first), then the bytes
// from the last one backwards.
int bitset_compare(Cell* value, const CompareArgs& args) {
  const Cell* other = args.value2;
  if (!other->is(kTypeBitset)) return kNotComparable;
  if (args.op == kCmpSame) return value->node() == other->node() ? 0 : 1;
  uint32_t n = bitset_byte_count(value), m = bitset_byte_count(other);
  if (n != m) return n < m ? -1 : 1;
  bool a = bitset_complement_q(value), b = bitset_complement_q(other);
  if (a != b) return a ? 1 : -1;
  const uint8_t* x = bitset_bits(value);
  const uint8_t* y = bitset_bits(other);
  for (uint32_t i = n; i-- > 0;)
    if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
  return 0;
}

// ---------------------------------------------------------------- set operations

Cell* bitset_and_t(Cell* a, const BinaryArgs& args) { return bitset_set_op(a, args.value2, kMathAnd); }
Cell* bitset_or_t(Cell* a, const BinaryArgs& args) { return bitset_set_op(a, args.value2, kMathOr); }
Cell* bitset_xor_t(Cell* a, const BinaryArgs& args) { return bitset_set_op(a, args.value2, kMathXor); }

// A copy with every membership inverted: the flag toggled, the bytes inverted.
Cell* bitset_complement(Cell* bitset, const NoneArgs&) {
  Node node = bitset_copy_bits(bitset->node(), true, !bitset_complement_q(bitset));
  *bitset = bitset_cell(node);
  return bitset;
}

// ---------------------------------------------------------------- membership and changes

Cell* bitset_pick(Cell* bitset, const PickArgs& args) {
  *bitset = logic_cell(members_q(bitset, args.index));
  return bitset;
}

// As pick, with none for false; the refinements of find change nothing.
Cell* bitset_find(Cell* bitset, const FindArgs& args) {
  *bitset = members_q(bitset, args.value) ? kTrueCell : kNoneCell;
  return bitset;
}

// none, false, 0 and 0.0 take the named indexes out; any other value puts them in.
Cell* bitset_poke(Cell* bitset, const PokeArgs& args) {
  const Cell* v = args.value;
  bool add = !(v->is(kTypeNone) || (v->is(kTypeLogic) && logic_get(v) != 1) ||
               (v->is(kTypeInteger) && integer_get(v) == 0) || (v->is(kTypeFloat) && float_get(v) == 0.0));
  change_members(bitset, args.index, add, kOwnerPoke, v);
  return args.value;
}

// append and insert: the named indexes become members.
Cell* bitset_insert(Cell* bitset, const InsertArgs& args) {
  change_members(bitset, args.value, true, kOwnerInsert, args.value);
  return bitset;
}

// remove/key: the named indexes stop being members (remove needs /key).
Cell* bitset_remove(Cell* bitset, const RemoveArgs& args) {
  if (!args.key) raise_error(kErrScriptMissingArg);
  change_members(bitset, args.key, false, kOwnerRemove, args.key);
  return bitset;
}

// No index is a member any more: every stored byte 0, the complement flag
// dropped, the byte count kept.
Cell* bitset_clear(Cell* bitset, const NoneArgs&) {
  SeriesChange change(bitset, kOwnerClear, 0, 0);
  SeriesBuffer* b = series_buffer(bitset->node());
  std::memset(b->head_ptr(), 0, b->used());
  b->flags &= ~kBitsetComplement;
  change.done(0, 0);
  return bitset;
}

Cell* bitset_copy(Cell* bitset, const CopyArgs& args) {
  Cell* result = args.result ? args.result : bitset;
  *result = bitset_cell(bitset_copy_bits(bitset->node(), false, bitset_complement_q(bitset)));
  return result;
}

// Bits: 8 per stored byte (math overflow past the integer range).
int32_t bitset_length_q(Cell* bitset, const NoneArgs&) {
  uint64_t bits = uint64_t(bitset_byte_count(bitset)) * 8;
  if (bits > uint64_t(INT32_MAX)) raise_error(kErrMathOverflow);
  return int32_t(bits);
}

// An integer! or char! element picks, or pokes when a value is set (answering it).
Cell* bitset_eval_path(Cell* parent, const EvalPathArgs& args) {
  const Cell* element = args.element;
  if (!element->is(kTypeInteger) && !element->is(kTypeChar)) {
    Cell datatype = datatype_cell(element->type());
    raise_error(kErrScriptInvalidType, &datatype);
  }
  Cell* bitset = stack_push_value(*parent);
  if (!args.value) {
    PickArgs pick;
    pick.index = args.element;
    return bitset_pick(bitset, pick);
  }
  PokeArgs poke;
  poke.index = args.element;
  poke.value = args.value;
  return bitset_poke(bitset, poke);
}

// The field `owned`: the owner object or none; any other field raises internal not-done.
Cell* bitset_reflect(Cell* bitset, const ReflectArgs& args) {
  if (!is_all_word(args.field->type())) raise_error(kErrInternalNotDone);
  return series_reflect(bitset, args);
}

// ---------------------------------------------------------------- hooks

void bitset_mark(const Cell* value) { gc_mark_series(value->node()); }

void bitset_verify(const Cell* value) {
  Node n = value->node();
  if (node_in_use(n) && series_buffer(n)->unit() != 1)
    gc_verify_fault("bitset buffer of a bad unit", n, series_buffer(n)->unit());
}

// Hashed as the types without a hash of their own: all alike.
constexpr TypeHooks kBitsetHooks{
    .mark = bitset_mark, .hash = [](const Cell*) { return 0u; }, .verify = bitset_verify};

}  // namespace

Cell* bitset_set_op(Cell* a, const Cell* b, int32_t op) {
  if (set_op_unique_q(op)) return a;
  if (!b->is(kTypeBitset)) {
    Cell datatype = datatype_cell(b->type());
    raise_error(kErrScriptInvalidType, &datatype);
  }
  auto combine = [op](uint8_t x, uint8_t y) { return set_op_combine(op, x, y); };
  uint32_t la = bitset_byte_count(a), lb = bitset_byte_count(b);
  bool complement = combine(bitset_complement_q(a) ? 1 : 0, bitset_complement_q(b) ? 1 : 0) & 1;
  Node node = bitset_alloc(std::max(la, lb), 0, complement);
  SeriesBuffer* x = series_buffer(a->node());
  SeriesBuffer* y = series_buffer(b->node());
  uint8_t* r = series_buffer(node)->head_ptr();
  for (uint32_t i = 0; i < std::max(la, lb); i++) {
    uint8_t p = i < la ? x->head_ptr()[i] : fill_byte(x);
    uint8_t q = i < lb ? y->head_ptr()[i] : fill_byte(y);
    r[i] = combine(p, q);
  }
  *a = bitset_cell(node);
  return a;
}

namespace {

// The set operations through the type slots.
constexpr TypeSlots kBitsetTypeSlots{
    .set_op = [](Cell* a, Cell* b, const SetOpArgs& args) { return bitset_set_op(a, b, args.op); }};

}  // namespace

void bitset_datatype_init() {
  register_datatype({kTypeBitset,
                     kTypeNil,
                     "bitset!",
                     kActionCount,
                     {.make = bitset_make,
                      .reflect = bitset_reflect,
                      .to = bitset_to,
                      .form = form_as_mold<bitset_mold>,
                      .mold = bitset_mold,
                      .eval_path = bitset_eval_path,
                      .compare = bitset_compare,
                      .negate = bitset_complement,
                      .and_t = bitset_and_t,
                      .complement = bitset_complement,
                      .or_t = bitset_or_t,
                      .xor_t = bitset_xor_t,
                      .append = bitset_insert,
                      .clear = bitset_clear,
                      .copy = bitset_copy,
                      .find = bitset_find,
                      .insert = bitset_insert,
                      .length_q = bitset_length_q,
                      .pick = bitset_pick,
                      .poke = bitset_poke,
                      .remove = bitset_remove,
                      .modify = series_modify},
                     &kBitsetHooks,
                     &kBitsetTypeSlots});
}

}  // namespace kiv

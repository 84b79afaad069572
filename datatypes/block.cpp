// block!: the raw block accessors, construction, and block!'s handlers for
// make, to, form, mold, path access and compare. The search and modification
// handlers (insert/append, change, copy, find, put, select, sort, swap, take,
// trim) live in datatypes/block_modify.cpp, find, select and the set
// operations in datatypes/block_search.cpp; all are registered here.
//
// Positions inside this file are absolute cell indexes counted from the
// buffer's first cell; a value's head is read through series_clamp_head(), so no
// access ever leaves 0..tail whatever head a value carries. A Cell* into a
// block buffer is re-derived after every call that may allocate or run Kiv
// code; elements handed to other handlers are first copied to the data stack.
#include "datatypes/block.h"

#include <algorithm>
#include <cstring>

#include "datatypes/actions.h"
#include "datatypes/block_modify.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/form.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/text_load.h"
#include "datatypes/typeset.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/cycle.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/hashtable.h"
#include "runtime/murmur3.h"
#include "runtime/ownership.h"
#include "runtime/root_block.h"
#include "runtime/stack.h"

namespace kiv {

namespace {

// Short-lived: the cell at absolute index [i].
inline Cell* cell_at(const Cell* v, int32_t i) { return series_cells(v->node()) + i; }

// MAY ALLOCATE. Makes room for [n] more cells after the tail of [node]: a
// short buffer grows to twice the needed size. Raises internal no-memory when
// that passes the largest buffer.
void reserve_cells(Node node, int64_t n) {
  SeriesBuffer* b = series_buffer(node);
  int64_t need = int64_t(b->used()) + n * int64_t(sizeof(Cell));
  if (need > int64_t(kMaxCapacity)) raise_error(kErrInternalNoMemory);
  if (int64_t(b->tail) + n * int64_t(sizeof(Cell)) <= int64_t(b->capacity)) return;
  int64_t size = std::min<int64_t>(2 * need, kMaxCapacity);
  series_expand(node, (size + 15) & ~int64_t(15));
}

// MAY ALLOCATE. Opens [n] cells at [pos] of the block [v], moving the rest up;
// returns how many cells moved. The caller fills the gap, then calls
// close_gap: a hash! index must not see the placeholders (a rebuild would
// index them and skip the real values).
int32_t open_gap(const Cell* v, int32_t pos, int32_t n) {
  reserve_cells(v->node(), n);
  SeriesBuffer* b = series_buffer_of(v);
  int32_t total = int32_t(b->length());
  Cell* at = b->head_cell() + pos;
  std::memmove(at + n, at, size_t(total - pos) * sizeof(Cell));
  for (int32_t i = 0; i < n; i++) at[i] = kUnsetCell;
  b->tail += uint32_t(n) * sizeof(Cell);
  return total - pos;
}

// MAY ALLOCATE. Brings a hash! index up to date over a filled gap.
void close_gap(const Cell* v, int32_t pos, int32_t n, int32_t moved) {
  series_hash_shift(v, pos, n, moved, false);
  series_hash_index(v, pos, n);
}

[[noreturn]] void raise_no_cycle() { raise_error(kErrInternalNoCycle); }

bool types_match_q(const Cell* types, TypeId t) {
  if (types->is(kTypeDatatype)) return datatype_type(types) == t;
  if (types->is(kTypeTypeset)) return typeset_has_q(types, t);
  return false;
}

bool number_q(TypeId t) { return t == kTypeInteger || t == kTypeFloat || t == kTypePercent; }

}  // namespace

// ---------------------------------------------------------------- raw accessors

int32_t block_total_length(const Cell* value) { return series_total_length(value); }

int32_t block_ks_length_q(Cell* value) { return series_length_clamped(value, false); }

Cell* block_ks_head(Cell* value) {
  int32_t total = series_total_length(value);
  if (value->head() > total) value->set_head(total);
  return cell_at(value, series_clamp_head(value, total));
}

Cell* block_ks_tail(const Cell* value) { return series_buffer_of(value)->tail_cell(); }

bool block_ks_tail_q(const Cell* value) { return series_at_tail_q(value); }

Cell* block_ks_abs_at(const Cell* value, int32_t i) { return cell_at(value, i); }

bool block_advance(Cell* value) { return series_advance(value, 1); }

void block_truncate(Cell* value, int32_t i) {
  int32_t total = series_total_length(value);
  i = std::clamp(i, 0, total);
  if (i == total) return;
  series_hash_unindex(value, i, total - i);
  SeriesBuffer* b = series_buffer_of(value);
  b->tail = b->head + uint32_t(i) * sizeof(Cell);
}

void block_truncate_at_head(Cell* value) {
  block_truncate(value, series_clamp_head(value, series_total_length(value)));
}

void block_remove_last(Cell* value) {
  int32_t total = series_total_length(value);
  if (total == 0) return;
  series_hash_unindex(value, total - 1, 1);
  series_buffer_of(value)->tail -= sizeof(Cell);
  if (value->head() > total - 1) value->set_head(total - 1);
}

Cell* block_append_value(const Cell* block, const Cell* cell) {
  Cell b = *block;
  Cell c = *cell;
  int32_t pos = series_total_length(&b);
  *append_cell(b.node()) = c;
  series_hash_index(&b, pos, 1);
  return cell_at(&b, pos);
}

const Cell* block_append_all(const Cell* block, const Cell* source) {
  Cell b = *block;
  Cell s = *source;
  int32_t stotal = series_total_length(&s);
  int32_t from = series_clamp_head(&s, stotal);
  int32_t n = stotal - from;
  if (n == 0) return block;
  reserve_cells(b.node(), n);
  SeriesBuffer* dst = series_buffer_of(&b);
  int32_t pos = int32_t(dst->length());
  // Re-derived after the growth: [s] may share the buffer.
  std::memmove(dst->tail_cell(), cell_at(&s, from), size_t(n) * sizeof(Cell));
  dst->tail += uint32_t(n) * sizeof(Cell);
  series_hash_index(&b, pos, n);
  return block;
}

Cell* block_insert_value(Cell* block, const Cell* cell, bool advance, bool at_start) {
  Cell c = *cell;
  int32_t total = series_total_length(block);
  if (block->head() > total) block->set_head(total);
  int32_t pos = at_start ? 0 : series_clamp_head(block, total);
  int32_t moved = open_gap(block, pos, 1);
  *cell_at(block, pos) = c;
  close_gap(block, pos, 1, moved);
  if (advance) block->set_head(pos + 1);
  return cell_at(block, pos);
}

void block_insert_all(Cell* block, const Cell* source) {
  StackSave save;
  // A source sharing the buffer is read from a snapshot: the gap moves its cells.
  const Cell* from = source->node() == block->node() ? block_clone(source, false, false) : source;
  int32_t stotal = series_total_length(from);
  int32_t s = series_clamp_head(from, stotal);
  int32_t n = stotal - s;
  int32_t total = series_total_length(block);
  if (block->head() > total) block->set_head(total);
  if (n == 0) return;
  int32_t pos = series_clamp_head(block, total);
  int32_t moved = open_gap(block, pos, n);
  std::memcpy(cell_at(block, pos), cell_at(from, s), size_t(n) * sizeof(Cell));
  close_gap(block, pos, n, moved);
  block->set_head(pos + n);
}

void block_insert_arg() { block_insert_value(g_stack.arguments - 1, g_stack.arguments, true, false); }

void block_append_arg() { block_append_value(g_stack.arguments - 1, g_stack.arguments); }

void block_append_next_arg() { block_append_value(g_stack.arguments, g_stack.arguments + 1); }

namespace {

// MAY RUN KIV CODE. The absolute index of the first cell at or after [from]
// equal to [value] under find-equal, or -1.
int32_t find_equal(const Cell* block, const Cell* value, int32_t from) {
  StackSave save;
  Cell* key = stack_push_value(*value);
  Cell* item = stack_push();
  for (int32_t i = from; i < series_total_length(block); i++) {
    *item = *cell_at(block, i);
    if (action_compare_values(item, key, kCmpFindEqual) == 0) return i;
  }
  return -1;
}

}  // namespace

Cell block_select_value(const Cell* block, const Cell* value) {
  int32_t i = find_equal(block, value, series_clamp_head(block, series_total_length(block)));
  if (i < 0 || i + 1 >= series_total_length(block)) return kNoneCell;
  return *cell_at(block, i + 1);
}

bool block_remove_value(Cell* block, const Cell* value, bool from_start) {
  int32_t i = find_equal(block, value, from_start ? 0 : series_clamp_head(block, series_total_length(block)));
  if (i < 0) return false;
  int32_t total = series_total_length(block);
  if (i >= total) return false;  // the comparison's code shortened the block
  series_hash_unindex(block, i, 1);
  Cell* at = cell_at(block, i);
  std::memmove(at, at + 1, size_t(total - i - 1) * sizeof(Cell));
  series_buffer_of(block)->tail -= sizeof(Cell);
  series_hash_shift(block, i, 1, total - i - 1, true);
  return i <= block->head();
}

Cell block_select_word(const Cell* block, const Cell* word, bool strict) {
  int32_t total = series_total_length(block);
  int32_t symbol = word_symbol(word);
  int32_t canon = strict ? symbol : symbol_resolve(symbol);
  for (int32_t i = series_clamp_head(block, total); i < total; i++) {
    const Cell* c = cell_at(block, i);
    if (c->type() < kTypeWord || c->type() > kTypeGetWord) continue;
    int32_t s = word_symbol(c);
    if (strict ? s == symbol : symbol_resolve(s) == canon) {
      return i + 1 < total ? *cell_at(block, i + 1) : kNoneCell;
    }
  }
  return kNoneCell;
}

// ---------------------------------------------------------------- construction

Cell* init_block(Cell* cell, int32_t n) {
  *cell = kUnsetCell;
  Node node = series_alloc_cells(uint32_t(std::max(n, 1)));
  *cell = series_cell(kTypeBlock, node);
  return cell;
}

Cell* block_init_ext(Cell* cell, int32_t n, bool fixed) {
  *cell = kUnsetCell;
  uint32_t count = uint32_t(std::max(n, 1));
  Node node = fixed ? series_alloc_fixed(count, sizeof(Cell), 0) : series_alloc_cells_unset(count);
  *cell = series_cell(kTypeBlock, node);
  return cell;
}

namespace {

// MAY ALLOCATE. A new block appended to [parent] or written to root slot [slot].
Cell* new_block_in(const Cell* parent, int32_t n, uint32_t slot, bool fixed) {
  uint32_t count = uint32_t(std::max(n, 1));
  if (!parent) {
    fatal_assert(slot < kRootSlotCount);
    Node node = fixed ? series_alloc_fixed(count, sizeof(Cell), 0) : series_alloc_cells(count);
    Cell* c = root_slot(RootSlot(slot));
    *c = series_cell(kTypeBlock, node);
    return c;
  }
  Cell p = *parent;
  // The slot exists (unset!) before the new buffer is allocated.
  int32_t pos = series_total_length(&p);
  append_cell(p.node());
  Node node = fixed ? series_alloc_fixed(count, sizeof(Cell), 0) : series_alloc_cells(count);
  *cell_at(&p, pos) = series_cell(kTypeBlock, node);
  series_hash_index(&p, pos, 1);
  return cell_at(&p, pos);
}

}  // namespace

Cell* block_new(const Cell* parent, int32_t n, uint32_t slot) { return new_block_in(parent, n, slot, false); }

Cell* block_new_ext(const Cell* parent, int32_t n, uint32_t slot) {
  return new_block_in(parent, n, slot, true);
}

Cell* push_block(const Cell* cell) { return stack_push_cell(cell); }

Cell* block_push_only(int32_t n) { return init_block(stack_push(), n); }

Cell* block_clone(const Cell* value, bool deep, bool any_block) {
  Cell* result = stack_push();
  Cell* source = stack_push_value(*value);
  int32_t total = series_total_length(source);
  int32_t from = series_clamp_head(source, total);
  int32_t n = total - from;
  Node node = series_alloc_cells(uint32_t(std::max(n, 1)));
  *result = series_cell(source->type(), node);
  std::memcpy(series_buffer_of(result)->head_cell(), cell_at(source, from), size_t(n) * sizeof(Cell));
  series_buffer_of(result)->tail += uint32_t(n) * sizeof(Cell);
  if (deep) {
    CycleGuard guard(source->node());
    for (int32_t i = 0; i < n; i++) {
      Cell c = *cell_at(result, i);
      TypeId t = c.type();
      if (!(t == kTypeBlock || (any_block && is_any_block(t) && t != kTypeHash))) continue;
      if (cycle_stack_find(c.node())) raise_no_cycle();
      Cell* copy = block_clone(&c, true, any_block);
      // The slot takes the copy, keeping its own header (the new-line marker).
      Cell* slot = cell_at(result, i);
      uint32_t header = slot->header;
      *slot = *copy;
      slot->header = header;
      stack_pop(1);
    }
  }
  series_hash_index_new(result);
  stack_pop(1);  // the source copy
  return result;
}

void block_mark_library_code(const Cell* block) {
  Node node = block->node();
  if (block_library_code_q(node)) return;  // done already (or a block that holds itself)
  series_set_flags(node, kSeriesLibraryCode);
  uint32_t n = series_cell_count(node);
  for (uint32_t i = 0; i < n; i++) {
    Cell c = series_buffer(node)->head_cell()[i];
    if (is_any_block(c.type())) block_mark_library_code(&c);
  }
}

void block_deep_copy_types(Node node, int32_t first, int32_t end, int32_t step, bool deep,
                           const Cell* types) {
  StackSave save;
  Cell* block = stack_push_value(series_cell(kTypeBlock, node));
  Cell* kind = stack_push_value(*types);
  Cell* item = stack_push();
  Cell* result = stack_push();
  if (step < 1) step = 1;
  for (int64_t i = std::max(first, 0); i < end && i < series_total_length(block); i += step) {
    *item = *cell_at(block, int32_t(i));
    TypeId t = item->type();
    // The values deep copies reach: those whose type copies.
    if (!actions_of(t).copy || !types_match_q(kind, t)) continue;
    if (is_any_block(t) && cycle_stack_find(item->node())) raise_no_cycle();
    *result = kNoneCell;
    CopyArgs copy_args;
    copy_args.deep = deep;
    copy_args.types = deep ? kind : nullptr;
    copy_args.result = result;
    Cell* copy = action_copy(item, copy_args);
    if (i >= series_total_length(block)) break;
    Cell* slot = cell_at(block, int32_t(i));
    uint32_t flags = slot->header & ~kTypeMask;
    *slot = *copy;
    slot->header = (copy->header & kTypeMask) | flags;
  }
}

// ---------------------------------------------------------------- make and to

namespace {

// MAY ALLOCATE. Pushes a shallow copy of the block-family [spec] as [type].
Cell* push_copy_as(const Cell* spec, TypeId type) {
  Cell* copy = block_clone(spec, false, false);
  copy->set_header(type);
  block_set_hash_index(copy, 0);
  series_hash_index_new(copy);
  return copy;
}

// MAY ALLOCATE. Pushes an empty block of [type] with room for [n] cells (at least 1).
Cell* push_empty_as(int32_t n, TypeId type) {
  Cell* c = block_push_only(n);
  c->set_header(type);
  series_hash_index_new(c);
  return c;
}

// MAY ALLOCATE. The new block [c] (on the data stack) as [type], indexed when a hash!.
Cell* retype_new(Cell* c, TypeId type) {
  c->set_header(type);
  series_hash_index_new(c);
  return c;
}

[[noreturn]] void raise_bad_make_arg(TypeId type, const Cell* spec) {
  Cell datatype = datatype_cell(type);
  raise_error(kErrScriptBadMakeArg, &datatype, spec);
}

}  // namespace

Cell* block_make(Cell* proto, const MakeArgs& args) {
  TypeId type = make_target_type(proto);
  TypeId t = args.spec->type();
  if (is_any_block(t)) return push_copy_as(args.spec, type);
  switch (t) {
    case kTypeInteger:
    case kTypeFloat: return push_empty_as(float_to_int(args.spec), type);
    case kTypeObject: return retype_new(object_body(args.spec), type);
    case kTypeMap: return retype_new(map_body(args.spec), type);
    case kTypeVector: return retype_new(vector_to_block(args.spec), type);
    default: raise_bad_make_arg(type, args.spec);
  }
}

Cell* block_to(Cell* proto, const MakeArgs& args) {
  TypeId type = make_target_type(proto);
  TypeId t = args.spec->type();
  if (is_any_block(t)) return push_copy_as(args.spec, type);
  switch (t) {
    case kTypeObject: return retype_new(object_body(args.spec), type);
    case kTypeMap: return retype_new(map_body(args.spec), type);
    case kTypeVector: return retype_new(vector_to_block(args.spec), type);
    case kTypeTypeset: {
      Cell* c = typeset_to_block(args.spec, stack_push());
      c->set_header(type);
      series_hash_index_new(c);
      return c;
    }
    case kTypeString: {
      // The text loaded into values.
      Cell* c = stack_push();
      text_load_block(args.spec, c);
      c->set_header(type);
      series_hash_index_new(c);
      return c;
    }
    default: break;
  }
  Cell* c = push_empty_as(1, type);
  Cell one = *args.spec;
  one.clear_new_line();
  block_append_value(c, &one);
  return c;
}

// ---------------------------------------------------------------- form and mold

int32_t block_form(Cell* value, const FormArgs& args) {
  int32_t limit = args.limit;
  if (cycle_elide(value, args.buffer, &limit, false)) return limit;
  CycleGuard guard(value->node());
  StackSave save;
  Cell* item = stack_push();
  FormArgs each = args;
  for (int32_t i = series_clamp_head(value, series_total_length(value)); i < series_total_length(value);
       i++) {
    if (args.part && limit < 1) break;
    *item = *cell_at(value, i);
    each.limit = limit;
    limit = action_form(item, each);
    if (i + 1 >= series_total_length(value)) break;
    int32_t written = string_total_length(args.buffer);
    uint32_t last = written > 0 ? string_char_at(args.buffer, uint32_t(written - 1)) : 0;
    if (last != '\t' && last != '\n' && last != '\r') limit -= string_append_c_string(args.buffer, " ");
  }
  return limit;
}

namespace {

// The cells of [value] from the head, without delimiters.
int32_t block_mold_each(Cell* value, const MoldArgs& args) {
  CycleGuard guard(value->node());
  StackSave save;
  Cell* item = stack_push();
  Cell* buffer = args.buffer;
  int32_t limit = args.limit;
  int32_t level = args.indent;
  bool broken = false;
  MoldArgs each = args;
  each.only = false;
  int32_t first = series_clamp_head(value, series_total_length(value));
  for (int32_t i = first; i < series_total_length(value); i++) {
    if (args.part && limit < 1) break;
    *item = *cell_at(value, i);
    if (!args.flat && item->new_line()) {
      if (i == first && !args.only) {
        level++;
        broken = true;
      }
      if (!(i == first && args.only)) limit -= string_append_c_string(buffer, "\n");
      limit = mold_indent(buffer, level, limit);
    } else if (i != first) {
      limit -= string_append_c_string(buffer, " ");
    }
    each.limit = limit;
    each.indent = level;
    limit = action_mold(item, each);
  }
  if (broken) {
    limit -= string_append_c_string(buffer, "\n");
    limit = mold_indent(buffer, args.indent, limit);
  }
  return limit;
}

}  // namespace

int32_t block_mold_between(Cell* value, const MoldArgs& args, const char* open, const char* close) {
  int32_t limit = args.limit;
  if (cycle_elide(value, args.buffer, &limit, true)) return limit;
  if (!args.only) limit -= string_append_c_string(args.buffer, open);
  MoldArgs inner = args;
  inner.limit = limit;
  limit = block_mold_each(value, inner);
  if (!args.only) limit -= string_append_c_string(args.buffer, close);
  return limit;
}

int32_t block_mold(Cell* value, const MoldArgs& args) { return block_mold_between(value, args, "[", "]"); }

// ---------------------------------------------------------------- path access

Cell* block_eval_path(Cell* parent_arg, const EvalPathArgs& args) {
  Cell* parent = stack_push_value(*parent_arg);
  Cell* element = args.element;
  if (element->is(kTypeInteger)) return action_pick_or_poke(parent, element, args.value);
  if (!args.value) {
    if (element->is(kTypeWord) && !parent->is(kTypeHash))
      return stack_push_value(block_select_word(parent, element, args.case_));
    SelectArgs select;
    select.value = element;
    select.only = true;
    select.case_ = args.case_;
    return action_handler<&ActionSlots::select>(parent->type(), kActionSelect)(parent, select);
  }
  FindArgs find;
  find.value = element;
  find.only = true;
  find.case_ = args.case_;
  Cell* found = action_find(parent, find);
  if (found->is(kTypeNone)) {
    Cell path = args.path ? *args.path : kNoneCell;
    raise_error(kErrScriptBadPathSet, &path, &kNoneCell);
  }
  int32_t total = series_total_length(found);
  int32_t key = series_clamp_head(found, total);
  if (key + 1 < total) {
    PokeArgs poke;
    poke.index = stack_push_value(integer_cell(2));
    poke.value = args.value;
    poke.position = 2;
    action_poke(found, poke);
    return args.value;
  }
  // The key is the last cell: its value is appended.
  SeriesChange change(found, kOwnerAppend, total, 1, args.value);
  block_append_value(found, args.value);
  change.done(total, 1, args.value);
  return args.value;
}

// ---------------------------------------------------------------- compare

namespace {

bool equality_op_q(CompareOp op) {
  switch (op) {
    case kCmpEqual:
    case kCmpNotEqual:
    case kCmpStrictEqual:
    case kCmpWordEqual:
    case kCmpWordCanonEqual:
    case kCmpFindEqual: return true;
    default: return false;
  }
}

// MAY RUN KIV CODE. The cells of two blocks compared pairwise from their heads.
int block_compare_each(Cell* value, Cell* other, CompareOp op) {
  if (value->node() == other->node() && value->head() == other->head()) return 0;
  if (op == kCmpSame) return -1;
  if (cycle_stack_find(value->node())) return cycle_stack_find(other->node()) ? 0 : -1;
  int32_t ta = series_total_length(value), tb = series_total_length(other);
  int32_t ha = series_clamp_head(value, ta), hb = series_clamp_head(other, tb);
  int32_t la = ta - ha, lb = tb - hb;
  if (la != lb && equality_op_q(op)) return 1;
  CycleGuard guard_a(value->node());
  CycleGuard guard_b(other->node());
  StackSave save;
  Cell* x = stack_push();
  Cell* y = stack_push();
  int32_t n = std::min(la, lb);
  for (int32_t i = 0; i < n; i++) {
    // A compare handler may run Kiv code that shortens either block.
    if (ha + i >= series_total_length(value) || hb + i >= series_total_length(other)) break;
    *x = *cell_at(value, ha + i);
    *y = *cell_at(other, hb + i);
    TypeId tx = x->type(), ty = y->type();
    bool comparable = tx == ty || (is_all_word(tx) && is_all_word(ty)) || (number_q(tx) && number_q(ty));
    if (!comparable) return tx < ty ? -1 : 1;
    int r = action_compare_values(x, y, op);
    if (r != 0) return r;
  }
  return la == lb ? 0 : la < lb ? -1 : 1;
}

}  // namespace

int block_compare(Cell* value, const CompareArgs& args) {
  TypeId ta = value->type(), tb = args.value2->type();
  if (ta != tb) {
    bool word_op = args.op == kCmpWordEqual || args.op == kCmpWordCanonEqual;
    bool path_pair = (ta == kTypePath && tb == kTypeLitPath) || (ta == kTypeLitPath && tb == kTypePath);
    if (!(word_op && path_pair)) return kNotComparable;
  }
  return block_compare_each(value, args.value2, args.op);
}

// ---------------------------------------------------------------- registration

namespace {

void block_mark(const Cell* value) { gc_mark_block(value->node()); }

// The position and the buffer: blocks in a hash index are the same value only
// at the same position of the same series.
uint32_t block_hash(const Cell* value) {
  uint32_t w[2] = {uint32_t(value->head()), value->node()};
  return hash_murmur3(w, sizeof w);
}

// paren! and the path types share these through their parents.
constexpr TypeHooks kBlockHooks{.mark = block_mark, .hash = block_hash};

// A cell of a block-family value, whose buffer must hold cells: any other
// unit is a corrupted heap (fatal 101).
Cell* unit_cell(const Cell* block, int32_t index) {
  SeriesBuffer* b = series_buffer_of(block);
  if (b->unit() != sizeof(Cell)) fatal_no_switch();
  return b->head_cell() + index;
}

Cell block_unit_value(const Cell* block, int32_t index) { return *unit_cell(block, index); }

// MAY ALLOCATE, MAY RUN KIV CODE (a hash! index). Any value goes in as it is.
void block_unit_store(const Cell* block, int32_t index, const Cell* value) {
  if (block_indexed_q(block)) hashtable_delete_value(block_hash_index(block), index);
  *unit_cell(block, index) = *value;
  series_hash_index(block, index, 1);
}

// The units of the block family are cells; paren!, hash! and the path types
// share this row through their parents.
constexpr TypeSlots kBlockTypeSlots{.element = SeriesElement::kCell,
                                    .unit_value = block_unit_value,
                                    .unit_store = block_unit_store,
                                    .set_op = block_set_op};

}  // namespace

void block_datatype_init() {
  register_datatype({kTypeBlock,
                     kTypeSeries,
                     "block!",
                     kActionCount,
                     {.make = block_make,
                      .random = kInherit,
                      .reflect = kInherit,
                      .to = block_to,
                      .form = block_form,
                      .mold = block_mold,
                      .eval_path = block_eval_path,
                      .compare = block_compare,
                      .append = block_insert,
                      .at = kInherit,
                      .back = kInherit,
                      .change = block_change,
                      .clear = kInherit,
                      .copy = block_copy,
                      .find = block_find,
                      .head = kInherit,
                      .head_q = kInherit,
                      .index_q = kInherit,
                      .insert = block_insert,
                      .length_q = kInherit,
                      .move = kInherit,
                      .next = kInherit,
                      .pick = kInherit,
                      .poke = kInherit,
                      .put = block_put,
                      .remove = kInherit,
                      .reverse = kInherit,
                      .select = block_select,
                      .sort = block_sort,
                      .skip = kInherit,
                      .swap = block_swap,
                      .tail = kInherit,
                      .tail_q = kInherit,
                      .take = block_take,
                      .trim = block_trim,
                      .modify = kInherit},
                     &kBlockHooks,
                     &kBlockTypeSlots});
}

}  // namespace kiv

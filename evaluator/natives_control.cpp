// Control flow and loop natives: if, unless, either, any, all, while, until,
// loop, repeat, forever, foreach, forall, remove-each, switch, case.
//
// Loops. Every loop opens a loop frame named <body> whose arguments base is
// its result slot: a body runs with the stack reset to just above that slot
// and leaves its value there (eval_block with chain), break and continue
// leave theirs there too (stack_throw_break settles on the loop frame).
// Each body runs under catch_exit_status, so a break or continue that
// arrives as a KivThrow (through a sort comparator, a change handler) acts
// as the status would. Any other status passes on at once, the stacks left
// as the exit settled them. When the loop ends its frame is popped and the
// slot's value becomes the native's result.
//
// The state a loop keeps across body runs is in data-stack cells pushed
// before the loop frame: the series copy whose index the steps advance, the
// loop words, the remembered series. The body may change the series it
// walks: every step re-reads the series' length and cells from that copy,
// never a pointer or a length kept from before the body ran.
#include <algorithm>

#include "datatypes/actions.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/word.h"
#include "evaluator/code_cache.h"
#include "evaluator/natives.h"
#include "runtime/errors.h"
#include "runtime/numbers.h"

namespace kiv {

namespace {

// ---------------------------------------------------------------- truth and counts

// The strict test: unset! raises script no-return.
bool strict_truthy(const Cell* value) {
  if (value->is(kTypeUnset)) raise_error(kErrScriptNoReturn);
  return truthy(value);
}

// A loop count: an integer! as it is, a float! truncated toward zero
// (NaN and values beyond 32 bits give -2147483648); the argument cell is
// turned into that integer! in place.
int32_t count_to_integer(Cell* count) {
  if (count->is(kTypeFloat)) *count = integer_cell(double_to_int32(float_get(count)));
  return integer_get(count);
}

// The cells from the block [block]'s index to its tail (0 for an index past it).
int32_t cells_left(const Cell* block) {
  int32_t total = series_total_length(block);
  return total - std::clamp(block->head(), 0, total);
}

// ---------------------------------------------------------------- the loop frame

// Opens the loop frame and returns its result slot (unset!).
Cell* open_loop_frame() {
  stack_mark_loop({g_stack.body_symbol, 0});
  return stack_push();
}

// MAY RUN KIV CODE. Runs [body] as a loop body over the result [slot]. Ok
// and break and continue leave the stack top just above the slot (the body's
// value, or what break or continue left, in it); any other status is
// returned with the stacks untouched.
Status run_loop_body(Cell* slot, interp::LoopBody& body) {
  g_stack.top = slot + 1;
  Status s = body.run_caught(true);
  if (s == kStatusOk || loop_status_q(s)) g_stack.top = slot + 1;
  return s;
}

// Pops the loop frame (on top, its arguments base [slot]); the slot's value
// becomes the native's result.
Status close_loop_frame(Cell* slot) {
  Cell value = *slot;
  stack_unwind_reset();
  return native_result(value);
}

// ---------------------------------------------------------------- loop steps

bool loop_word_q(TypeId t) {
  return t == kTypeWord || t == kTypeSetWord || t == kTypeGetWord || t == kTypeLitWord;
}

// True for the series forall walks.
bool forall_series_q(TypeId t) {
  switch (t) {
    case kTypePath:
    case kTypeSetPath:
    case kTypeGetPath:
    case kTypeLitPath:
    case kTypeBlock:
    case kTypeParen:
    case kTypeHash:
    case kTypeString:
    case kTypeFile:
    case kTypeUrl:
    case kTypeTag:
    case kTypeEmail:
    case kTypeRef:
    case kTypeBinary:
    case kTypeVector:
    case kTypeImage: return true;
    default: return false;
  }
}

// True while a value exists at the index of [series] (a negative index read
// as 0). An image's length is its pixel count.
bool loop_has_more_q(const Cell* series) {
  int32_t total = series->is(kTypeImage) ? image_pixel_count(series) : series_total_length(series);
  return std::max(series->head(), 0) < total;
}

// The element [offset] units from the index of the series [series] into the
// stable cell [*out]: a cell of the block family as it is, other series
// through the pick action; none! past the tail.
void loop_element(const Cell* series, int32_t offset, Cell* out) {
  int64_t at = int64_t(std::max(series->head(), 0)) + offset;
  if (series_element_kind(series->type()) == SeriesElement::kCell) {
    if (at >= series_total_length(series))
      *out = kNoneCell;
    else
      series_element_at(series, int32_t(at), out);
    return;
  }
  *out = *series;
  out->set_head(int32_t(std::min<int64_t>(at, INT32_MAX)));
  Cell one = integer_cell(1);
  *out = *action_pick_or_poke(out, &one, nullptr);
}

// Moves the index of the series [series] [n] units on (saturating).
void loop_advance(Cell* series, int32_t n) {
  series->set_head(int32_t(std::min<int64_t>(int64_t(std::max(series->head(), 0)) + n, INT32_MAX)));
}

// MAY RUN KIV CODE. store_loop_word when the store is not plain.
[[gnu::noinline]] void store_loop_word_apart(Cell* word, Cell* value) {
  set_word_value(word, value);
  interp::code_changed();
}

// MAY RUN KIV CODE (a change handler). Sets the loop word [word] to the
// stable cell [value]: a plain store in place, as a set-word makes it,
// where nobody hears of it; set_word_value for the rest, which may add the
// word to its context or run a handler: compiled code then trusts nothing
// it found before (the code epoch moves).
inline void store_loop_word(Cell* word, Cell* value) {
  if (Cell* slot = context_plain_store_slot(word_context(word), word_index(word)))
    *slot = *value;
  else
    store_loop_word_apart(word, value);
}

// MAY RUN KIV CODE. foreach_next_one over a series of cells (the block
// family) and a loop word [word]: the cell read in place. [scratch] is a
// stable cell.
bool foreach_next_cell(Cell* series, Cell* word, Cell* scratch) {
  SeriesBuffer* b = series_buffer(series->node());
  if (b->unit() != sizeof(Cell)) fatal_no_switch();
  const uint32_t at = uint32_t(std::max(series->head(), 0));
  if (at >= b->cell_count()) return false;
  series->set_head(int32_t(at + 1));
  const Cell* value = b->head_cell() + at;
  if (Cell* slot = context_plain_store_slot(word_context(word), word_index(word))) {
    *slot = *value;
  } else {
    *scratch = *value;
    store_loop_word_apart(word, scratch);
  }
  return true;
}

// MAY RUN KIV CODE. One step of a one-word loop over the series copy
// [series]: sets [word] to the value at its index and advances it by 1;
// false at the tail. [scratch] is a stable cell.
bool foreach_next_one(Cell* series, Cell* word, Cell* scratch) {
  if (!loop_has_more_q(series)) return false;
  loop_element(series, 0, scratch);
  loop_advance(series, 1);
  store_loop_word(word, scratch);
  return true;
}

// MAY RUN KIV CODE. One step of a loop over the series copy [series] with
// the block of words [words] ([size] of them): word i takes the value i
// places from the index (none! past the tail) and the index advances by
// [size]; false at the tail. Over a map! [*map_position] is the pair-block
// position. [scratch] is two stable cells.
bool foreach_next(Cell* series, const Cell* words, int32_t size, int32_t* map_position, Cell* scratch) {
  if (series->is(kTypeMap)) {
    if (size != 2) raise_error(kErrScriptInvalidArg, words);
    // Its words are set as set_word_value sets them.
    const bool more = map_foreach_next(series, map_position, words);
    interp::code_changed();
    return more;
  }
  if (size <= 0 || !loop_has_more_q(series)) return false;
  const bool cells = series_element_kind(series->type()) == SeriesElement::kCell;
  // First pass: every item a word, and (for the block family) no unset! value.
  for (int32_t i = 0; i < size; i++) {
    loop_element(words, i, &scratch[0]);
    if (!loop_word_q(scratch[0].type())) raise_error(kErrScriptInvalidArg, &scratch[0]);
    if (cells) {
      loop_element(series, i, &scratch[1]);
      if (scratch[1].is(kTypeUnset)) raise_error(kErrScriptNeedValue, &scratch[0]);
    }
  }
  // Second pass: the words set, everything re-read after each setting (a
  // change handler may have run).
  Cell* position = &scratch[1];
  *position = *series;
  loop_advance(series, size);
  for (int32_t i = 0; i < size; i++) {
    Cell* value = stack_push();
    loop_element(position, i, value);
    Cell* word = stack_push();
    loop_element(words, i, word);
    if (!loop_word_q(word->type())) raise_error(kErrScriptInvalidArg, word);
    store_loop_word(word, value);
    g_stack.top = value;
  }
  return true;
}

// MAY RUN KIV CODE. After a remove-each body whose value is truthy: moves the
// series copy back by [size] and removes [size] units there, the copy left
// at the position of the removal.
void remove_each_apply(Cell* series, int32_t size) {
  int32_t at = std::max(series->head(), 0) - size;
  series->set_head(std::max(at, 0));
  Cell* top = g_stack.top;
  ActionCall remove(kActionRemove);
  remove.arg(*series);
  if (size > 1) remove.ref("part", integer_cell(size));
  remove.run();
  g_stack.top = top;
}

}  // namespace

// ---------------------------------------------------------------- choosing

KIV_NATIVE(If) {
  if (!truthy(a.cond)) return native_result(kNoneCell);
  return eval_block_here(a.then_blk, true);
}

KIV_NATIVE(Unless) {
  if (truthy(a.cond)) return native_result(kNoneCell);
  return eval_block_here(a.then_blk, true);
}

KIV_NATIVE(Either) { return eval_block_here(strict_truthy(a.cond) ? a.true_blk : a.false_blk, true); }

// any: the first truthy expression value, evaluating no further; none! else.
KIV_NATIVE(Any) {
  int32_t index = std::max(a.conds->head(), 0);
  Cell* mark = g_stack.top;
  while (index < series_total_length(a.conds)) {
    g_stack.top = mark;
    Status s = eval_next(a.conds, &index, true);
    if (s != kStatusOk) return s;
    if (truthy(mark)) return native_result(*mark);
  }
  return native_result(kNoneCell);
}

// all: the last expression value when every one is truthy; none! at the
// first falsy one and for an empty block.
KIV_NATIVE(All) {
  int32_t index = std::max(a.conds->head(), 0);
  if (index >= series_total_length(a.conds)) return native_result(kNoneCell);
  Cell* mark = g_stack.top;
  while (index < series_total_length(a.conds)) {
    g_stack.top = mark;
    Status s = eval_next(a.conds, &index, true);
    if (s != kStatusOk) return s;
    if (!truthy(mark)) return native_result(kNoneCell);
  }
  return native_result(*mark);
}

// switch: the block after the first cell of the value's own datatype that
// compares equal to it (letter case ignored); a block! value matches nothing.
KIV_NATIVE(Switch) {
  const TypeId type = a.value->type();
  int32_t found = -1;
  if (type != kTypeBlock) {
    Cell* value = stack_push();
    Cell* probe = stack_push();
    for (int32_t i = std::max(a.cases->head(), 0); i < series_total_length(a.cases); i++) {
      series_element_at(a.cases, i, probe);
      if (probe->type() != type) continue;
      *value = *a.value;
      if (action_compare(value, probe, kCmpEqual)) {
        found = i;
        break;
      }
    }
  }
  if (found < 0) {
    if (!a.default_) return native_result(kNoneCell);
    return eval_block(a.default_, true);
  }
  Cell* branch = stack_push();
  for (int32_t i = found + 1; i < series_total_length(a.cases); i++) {
    series_element_at(a.cases, i, branch);
    if (branch->is(kTypeBlock)) return eval_block(branch, true);
  }
  return native_result(kNoneCell);
}

// case: each condition in turn (strict test), the branch after the first
// that passes, or after each with /all; none! when the last condition
// tried failed.
KIV_NATIVE(Case) {
  int32_t index = std::max(a.cases->head(), 0);
  if (index >= series_total_length(a.cases)) return native_result(kNoneCell);
  open_native_frame({g_stack.anon_symbol, 0});
  Cell* slot = stack_push();
  bool passed = false;
  while (index < series_total_length(a.cases)) {
    passed = false;
    g_stack.top = slot + 1;
    Status s = eval_next(a.cases, &index, true);
    if (s != kStatusOk) return s;
    if (index >= series_total_length(a.cases)) {
      Cell word = runtime_value(kWordCase);
      raise_error(kErrScriptNeedValue, &word);
    }
    if (!strict_truthy(slot + 1)) {
      index++;
      continue;
    }
    g_stack.top = slot + 1;
    Cell* next = stack_push();
    series_element_at(a.cases, index, next);
    if (next->is(kTypeBlock)) {
      index++;
      s = eval_block(next, true);
    } else {
      s = eval_next(a.cases, &index, false);
    }
    if (s != kStatusOk) return s;
    passed = true;
    if (!a.all) break;
  }
  Cell value = passed ? *slot : kNoneCell;
  stack_unwind_reset();
  return native_result(value);
}

// ---------------------------------------------------------------- loops

// while: the condition block before each round (strict test), the body while
// it passes; the result is unset!, also after break/return.
KIV_NATIVE(While) {
  Cell* slot = open_loop_frame();
  interp::LoopBody cond(a.cond);
  interp::LoopBody body(a.body);
  for (;;) {
    g_stack.top = slot + 1;
    Status c = cond.run_caught(false);
    if (loop_status_q(c)) {
      g_stack.top = slot + 1;
      raise_error(kErrThrowWhileCond);
    }
    if (c != kStatusOk) return c;
    if (!strict_truthy(g_stack.top - 1)) break;
    Status s = run_loop_body(slot, body);
    if (s == Status::kBreak) break;
    if (s != kStatusOk && s != Status::kContinue) return s;
  }
  *slot = make_cell(kTypeUnset);
  return close_loop_frame(slot);
}

// until: the body until its value passes the strict test; continue skips the test.
KIV_NATIVE(Until) {
  Cell* slot = open_loop_frame();
  interp::LoopBody body(a.body);
  for (;;) {
    Status s = run_loop_body(slot, body);
    if (s == Status::kBreak) break;
    if (s == Status::kContinue) continue;
    if (s != kStatusOk) return s;
    if (strict_truthy(slot)) break;
  }
  return close_loop_frame(slot);
}

KIV_NATIVE(Loop) {
  int32_t count = count_to_integer(a.count);
  if (count <= 0) return native_result(kNoneCell);
  Cell* slot = open_loop_frame();
  interp::LoopBody body(a.body);
  for (int32_t i = 0; i < count; i++) {
    Status s = run_loop_body(slot, body);
    if (s == Status::kBreak) break;
    if (s != kStatusOk && s != Status::kContinue) return s;
  }
  return close_loop_frame(slot);
}

// repeat: the counter is the count argument's own cell, so setting the word
// in the body changes neither the count nor the next value.
KIV_NATIVE(Repeat) {
  int32_t count = count_to_integer(a.value);
  if (count <= 0) return native_result(kNoneCell);
  Cell* counter = a.value;
  Cell* slot = open_loop_frame();
  interp::LoopBody body(a.body);
  for (int32_t i = 1;; i++) {
    *counter = integer_cell(i);
    g_stack.top = slot + 1;
    store_loop_word(a.word, counter);
    Status s = run_loop_body(slot, body);
    if (s == Status::kBreak) break;
    if (s != kStatusOk && s != Status::kContinue) return s;
    if (i == count) break;
  }
  return close_loop_frame(slot);
}

KIV_NATIVE(Forever) {
  Cell* slot = open_loop_frame();
  interp::LoopBody body(a.body);
  for (;;) {
    Status s = run_loop_body(slot, body);
    if (s == Status::kBreak) break;
    if (s != kStatusOk && s != Status::kContinue) return s;
  }
  return close_loop_frame(slot);
}

KIV_NATIVE(Foreach) {
  Cell* series = stack_push_cell(a.series);
  Cell* words = stack_push_cell(a.word);
  int32_t size = 0;
  if (words->is(kTypeBlock)) {
    size = cells_left(words);
    if (size == 0) raise_error(kErrScriptInvalidArg, words);
  } else if (series->is(kTypeMap)) {
    raise_error(kErrScriptInvalidArg, words);
  }
  int32_t map_position = 0;
  // One word over cells: each cell stored as it is.
  const bool cells = !size && series_element_kind(series->type()) == SeriesElement::kCell;
  Cell* slot = open_loop_frame();
  interp::LoopBody body(a.body);
  for (;;) {
    Cell* scratch = stack_push();
    bool more;
    if (cells) {
      more = foreach_next_cell(series, words, scratch);
    } else {
      stack_push();
      more = size ? foreach_next(series, words, size, &map_position, scratch)
                  : foreach_next_one(series, words, scratch);
    }
    if (!more) break;
    Status s = run_loop_body(slot, body);
    if (s == Status::kBreak) break;
    if (s != kStatusOk && s != Status::kContinue) return s;
  }
  g_stack.top = slot + 1;
  return close_loop_frame(slot);
}

// forall: the word's own series advanced in place after each body; put back
// at its start unless the loop was left by break.
KIV_NATIVE(Forall) {
  Cell* word = stack_push_cell(a.word);
  Cell* start = stack_push_cell(get_word_value(word));
  if (!forall_series_q(start->type())) {
    Cell name = load_word("forall");
    Cell param = load_word("word");
    raise_expect_arg(&name, start->type(), &param);
  }
  Cell* slot = open_loop_frame();
  interp::LoopBody body(a.body);
  bool broke = false;
  while (loop_has_more_q(get_word_value(word))) {
    Status s = run_loop_body(slot, body);
    if (s == Status::kBreak) {
      broke = true;
      break;
    }
    if (s != kStatusOk && s != Status::kContinue) return s;
    Cell* now = get_word_value(word);
    if (!forall_series_q(now->type()) || now->node() != start->node()) {
      Cell* value = stack_push_cell(now);
      raise_error(kErrScriptBadLoopSeries, value);
    }
    loop_advance(now, 1);
  }
  Cell value = *slot;
  stack_unwind_reset();
  g_stack.top = start + 1;
  Cell* result = stack_push_value(value);
  if (!broke) set_word_value(word, start);
  return native_result(*result);
}

// remove-each: the values just visited are removed when the body's value is
// truthy (unset! included); break leaves without removing. The result is
// the series argument as it was passed.
KIV_NATIVE(RemoveEach) {
  int32_t size = 1;
  if (a.word->is(kTypeBlock)) {
    size = cells_left(a.word);
    if (size == 0) raise_error(kErrScriptInvalidArg, a.word);
  }
  Cell* series = stack_push_cell(a.data);
  Cell* words = stack_push_cell(a.word);
  int32_t map_position = 0;
  Cell* slot = open_loop_frame();
  interp::LoopBody body(a.body);
  for (;;) {
    Cell* scratch = stack_push();
    stack_push();
    bool more = words->is(kTypeBlock) ? foreach_next(series, words, size, &map_position, scratch)
                                      : foreach_next_one(series, words, scratch);
    if (!more) break;
    Status s = run_loop_body(slot, body);
    if (s == Status::kBreak) break;
    if (s == Status::kContinue) continue;
    if (s != kStatusOk) return s;
    if (!truthy(slot)) continue;
    remove_each_apply(series, size);
    interp::code_changed();
  }
  *slot = *a.data;
  return close_loop_frame(slot);
}

void natives_control_register() {
  KIV_REGISTER(If);
  KIV_REGISTER(Unless);
  KIV_REGISTER(Either);
  KIV_REGISTER(Any);
  KIV_REGISTER(All);
  KIV_REGISTER(While);
  KIV_REGISTER(Until);
  KIV_REGISTER(Loop);
  KIV_REGISTER(Repeat);
  KIV_REGISTER(Forever);
  KIV_REGISTER(Foreach);
  KIV_REGISTER(Forall);
  KIV_REGISTER(RemoveEach);
  KIV_REGISTER(Switch);
  KIV_REGISTER(Case);
}

}  // namespace kiv

// block! search: find and select with every refinement, and the set
// operations (unique, union, intersect, exclude, difference).
//
// Search model. Positions are absolute cell indexes from the buffer's first
// cell. A search looks at a window of the block: [head, head + count) forward
// and with /last, [head - count, head) with /reverse, where count is the /part
// count (a position in the same series counts the cells between the two
// heads) clamped to the cells available. Candidate positions lie on the grid
// of /skip records anchored at the head (head + k x skip), so /skip, /last
// and /reverse all keep to whole records. A match lies inside the window;
// /match tests the first candidate only.
//
// What matches: without /only a datatype! matches the cells of its type, a
// typeset! the cells whose type it holds, and a block-family value the
// sequence of its cells from its head (an empty sequence is never found);
// anything else is one value, compared with find-equal, strict-equal (/case)
// or same (/same). Compared cells are copied to the data stack first, so a
// compare handler never holds a pointer into the searched buffer.
//
// A hash! with an index looks single values up through it, except values
// whose equality the index does not follow: datatypes, typesets, and (unless
// /same) objects and block-family values, which compare by content but hash
// by reference. /last and /reverse with /part scan, since the index answers
// only the outermost hit.
#include <algorithm>
#include <cstring>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/block_modify.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv {

namespace {

// ---------------------------------------------------------------- the searched-for value

enum class NeedleKind { kValue, kType, kTypeset, kSequence };

struct Needle {
  NeedleKind kind;
  CompareOp op;
  Cell* value;  // stable (data stack)
  Node node;    // kSequence: the sequence's buffer and first cell
  int32_t from;
  int32_t length;  // cells a match spans
};

Needle needle_of(Cell* value, const FindArgs& args) {
  Needle n{NeedleKind::kValue, kCmpFindEqual, value, 0, 0, 1};
  if (args.same)
    n.op = kCmpSame;
  else if (args.case_)
    n.op = kCmpStrictEqual;
  if (args.only) return n;
  if (value->is(kTypeDatatype)) {
    n.kind = NeedleKind::kType;
  } else if (value->is(kTypeTypeset)) {
    n.kind = NeedleKind::kTypeset;
  } else if (is_any_block(value->type())) {
    int32_t total = series_total_cells(value);
    n.kind = NeedleKind::kSequence;
    n.node = value->node();
    n.from = series_clamp_head(value, total);
    n.length = total - n.from;
  }
  return n;
}

// Two stack cells the compared cells are copied into.
struct Scratch {
  Cell* cell;
  Cell* other;
};

// MAY RUN KIV CODE. Whether [a] equals [b] (both stable) under [op].
inline bool equal_q(Cell* a, Cell* b, CompareOp op) { return action_compare_values(a, b, op) == 0; }

// MAY RUN KIV CODE. Whether the needle matches at absolute [p] of the block
// [node] (a compare handler may change the block: every read checks the tail).
bool match_at(Node node, int64_t p, const Needle& n, const Scratch& s) {
  if (p + n.length > int64_t(series_cell_count(node))) return false;
  switch (n.kind) {
    case NeedleKind::kType: return series_cells(node)[p].type() == datatype_type(n.value);
    case NeedleKind::kTypeset: return typeset_has_q(n.value, series_cells(node)[p].type());
    case NeedleKind::kValue: *s.cell = series_cells(node)[p]; return equal_q(s.cell, n.value, n.op);
    case NeedleKind::kSequence:
      for (int32_t j = 0; j < n.length; j++) {
        if (p + j >= int64_t(series_cell_count(node)) || n.from + j >= int32_t(series_cell_count(n.node)))
          return false;
        *s.cell = series_cells(node)[p + j];
        *s.other = series_cells(n.node)[n.from + j];
        if (!equal_q(s.cell, s.other, n.op)) return false;
      }
      return true;
  }
  fatal_no_switch();
}

// ---------------------------------------------------------------- find core

// The outcome of a search: the match position (-1: none) and the needle.
struct Found {
  int64_t at = -1;
  Needle needle{};
  bool backward = false;
  int64_t step = 1;
};

// Whether the index of [series] can answer for [n].
bool index_usable_q(const Cell* series, const Needle& n, const FindArgs& args) {
  if (!block_indexed_q(series) || args.match || n.kind != NeedleKind::kValue) return false;
  TypeId t = n.value->type();
  if (t == kTypeDatatype || t == kTypeTypeset) return false;
  if (!args.same && (t == kTypeObject || is_any_block(t))) return false;
  return true;
}

// MAY ALLOCATE, MAY RUN KIV CODE. The search shared by find and select.
Found find_core(Cell* series, Cell* value, const FindArgs& args) {
  Found f;
  const int32_t total = series_total_cells(series);
  int64_t head = std::max(series->head(), 0);
  if (total == 0 || (!args.reverse && head >= total)) return f;
  head = std::min<int64_t>(head, total);

  f.step = args.skip.size;
  const int64_t room = args.reverse ? head : total - head;
  int64_t count = room;
  if (args.part) {
    count = args.part.count;
    if (count < 1) return f;
    count = std::min(count, room);
  }
  const int64_t lo = args.reverse ? head - count : head;
  const int64_t hi = args.reverse ? head : head + count;

  StackSave save;
  Cell* needle_cell = stack_push_value(*value);
  f.needle = needle_of(needle_cell, args);
  const Needle& n = f.needle;
  if (n.length == 0) return f;
  f.backward = args.reverse || args.last;
  const int64_t step = f.step;

  if (index_usable_q(series, n, args)) {
    Node table = block_hash_index(series);
    int32_t i = -1;
    if (!f.backward) {
      i = hashtable_find(table, n.value, int32_t(head), int32_t(step), n.op, false, false);
      if (i >= hi) i = -1;
      f.at = i;
      return f;
    }
    if (!args.part) {
      if (args.reverse) {
        // The highest i on the grid below the head: before head - step + 1.
        int64_t start = head - step + 1;
        if (start > 0) i = hashtable_find(table, n.value, int32_t(start), int32_t(step), n.op, false, true);
      } else {
        i = hashtable_find(table, n.value, int32_t(head), int32_t(step), n.op, true, false);
      }
      f.at = i;
      return f;
    }
  }

  Scratch s{stack_push(), stack_push()};
  const Node node = series->node();
  const int64_t length = n.length;
  if (!f.backward) {
    if (n.kind == NeedleKind::kValue && !args.match) {
      // The plain forward scan for one value, the most common search.
      for (int64_t p = head; p < hi; p += step) {
        SeriesBuffer* b = series_buffer(node);
        if (p >= int64_t(b->used() / sizeof(Cell))) break;
        *s.cell = b->head_cell()[p];
        if (action_compare_values(s.cell, n.value, n.op) == 0) {
          f.at = p;
          return f;
        }
      }
      return f;
    }
    for (int64_t p = head; p + length <= hi; p += step) {
      if (match_at(node, p, n, s)) {
        f.at = p;
        return f;
      }
      if (args.match) break;
    }
    return f;
  }
  // Backward: the highest grid position whose match fits the window.
  int64_t first;
  if (args.reverse) {
    int64_t k = std::max<int64_t>(1, (length + step - 1) / step);
    first = head - k * step;
  } else {
    if (hi - length < head) return f;
    first = head + (hi - length - head) / step * step;
  }
  for (int64_t p = first; p >= lo; p -= step) {
    if (match_at(node, p, n, s)) {
      f.at = p;
      return f;
    }
    if (args.match) break;
  }
  return f;
}

}  // namespace

// ---------------------------------------------------------------- find and select

Cell* block_find(Cell* series, const FindArgs& args) {
  Found f = find_core(series, args.value, args);
  if (f.at < 0) {
    *series = kNoneCell;
    return series;
  }
  int64_t at = f.at;
  if (args.tail) {
    if (f.needle.kind == NeedleKind::kSequence)
      at += f.needle.length;
    else
      at += f.backward ? 1 : f.step;
    at = std::min<int64_t>(at, series_total_cells(series));
  }
  series->set_head(int32_t(at));
  return series;
}

Cell* block_select(Cell* series, const SelectArgs& args) {
  const FindArgs find = find_args_of(args);
  Found f = find_core(series, find.value, find);
  int64_t after = f.at + (f.needle.kind == NeedleKind::kSequence ? f.needle.length : 1);
  if (f.at < 0 || after >= series_total_cells(series)) {
    *series = kNoneCell;
    return series;
  }
  *series = series_cells(series->node())[after];
  return series;
}

// ---------------------------------------------------------------- set operations

namespace {

// One side of a set operation: the block's cells from [head], and the index
// table that answers membership of its records' first cells.
struct SetSide {
  Node node;
  int32_t head;
  int32_t length;
  Node table;  // 0 until an index is made
};

// MAY ALLOCATE, MAY RUN KIV CODE. An index over the cells of [side]: its own
// when it is an indexed hash!, else a new one, rooted by a hash! cell pushed
// on the data stack.
void index_side(SetSide* side, const Cell* value) {
  if (block_indexed_q(value)) {
    side->table = block_hash_index(value);
    return;
  }
  Cell* holder = stack_push_value(series_cell(kTypeHash, side->node));
  Node table = hashtable_init(uint32_t(std::max(series_total_cells(holder), 1)), side->node, kHashBlock);
  block_set_hash_index(holder, table);
  side->table = block_hash_index(holder);
}

struct SetOpRun {
  int32_t size;       // cells per record
  CompareOp mode;     // index lookups
  CompareOp find_op;  // linear lookups of block-family values
  Cell* result;       // a hash! cell on the data stack while it is built
  Cell* key;          // stack cell: the record's first cell
  Scratch scratch;

  // MAY RUN KIV CODE. Whether a record of [side] starts with a value equal to *key.
  bool member_q(const SetSide& side) {
    if (is_any_block(key->type())) {
      for (int64_t p = side.head; p < int64_t(side.head) + side.length; p += size) {
        if (p >= int64_t(series_cell_count(side.node))) break;
        *scratch.cell = series_cells(side.node)[p];
        if (equal_q(scratch.cell, key, find_op)) return true;
      }
      return false;
    }
    return hashtable_find(side.table, key, side.head, size, mode, false, false) >= 0;
  }

  // MAY ALLOCATE, MAY RUN KIV CODE. Adds the record at [p] of [side] (up to
  // one record size of cells) to the result and indexes it.
  void add(const SetSide& side, int64_t p) {
    int64_t end = std::min<int64_t>(int64_t(side.head) + side.length, int32_t(series_cell_count(side.node)));
    int32_t n = int32_t(std::min<int64_t>(size, end - p));
    if (n <= 0) return;
    Node out = result->node();
    int32_t at = int32_t(series_cell_count(out));
    uint8_t* dst = reserve_tail(out, uint32_t(n) * sizeof(Cell));
    std::memcpy(dst, series_cells(side.node) + p, size_t(n) * sizeof(Cell));
    for (int32_t i = 0; i < n; i++)
      if (hashtable_put_value_status(block_hash_index(result), at + i) == kPutRebuilt) break;
  }

  // MAY ALLOCATE, MAY RUN KIV CODE. Adds each record of [from] whose first
  // value is new to the result and, with [other], is in it ([keep_present])
  // or not.
  void pass(const SetSide& from, const SetSide* other, bool keep_present) {
    SetSide in_result{result->node(), 0, 0, block_hash_index(result)};
    for (int64_t p = from.head; p < int64_t(from.head) + from.length; p += size) {
      // A compare handler may have cut the block: stay below its tail.
      if (p >= int64_t(series_cell_count(from.node))) break;
      *key = series_cells(from.node)[p];
      if (other && member_q(*other) != keep_present) continue;
      in_result.length = int32_t(series_cell_count(in_result.node));
      if (member_q(in_result)) continue;
      add(from, p);
    }
  }
};

}  // namespace

Cell* block_set_op(Cell* set1, Cell* set2, const SetOpArgs& args) {
  const SetOp op = args.op;
  const bool case_ = args.case_;
  const int64_t size = args.skip.size;
  if (!is_any_block(set1->type())) raise_error(kErrScriptInvalidArg, set1);
  bool two = op != kSetUnique;
  if (two && (!set2 || !is_any_block(set2->type()))) raise_error(kErrScriptInvalidArg, set2);

  // Heads past their tails are set to the tails; a negative head reads as 0.
  auto side_of = [](Cell* v) {
    int32_t total = series_total_cells(v);
    if (v->head() > total) v->set_head(total);
    int32_t head = series_clamp_head(v, total);
    return SetSide{v->node(), head, total - head, 0};
  };
  SetSide a = side_of(set1);
  SetSide b = two ? side_of(set2) : SetSide{0, 0, 0, 0};

  StackSave save;
  int64_t room = int64_t(a.length) + (op == kSetUnion || op == kSetDifference ? b.length : 0);
  room = std::clamp<int64_t>(room, 1, kMaxCapacity / sizeof(Cell));
  SetOpRun run{};
  run.size = int32_t(size);
  run.mode = case_ ? kCmpStrictEqual : kCmpEqual;
  run.find_op = case_ ? kCmpStrictEqual : kCmpFindEqual;
  // Built as a hash! so the cell roots its index; retyped at the end.
  run.result = stack_push_value(series_cell(kTypeHash, series_alloc_cells(uint32_t(room))));
  block_set_hash_index(run.result, hashtable_init(uint32_t(room), run.result->node(), kHashBlock));
  run.key = stack_push();
  run.scratch = {stack_push(), stack_push()};

  switch (op) {
    case kSetUnique: run.pass(a, nullptr, true); break;
    case kSetUnion:
      run.pass(a, nullptr, true);
      run.pass(b, nullptr, true);
      break;
    case kSetIntersect:
    case kSetExclude:
      index_side(&b, set2);
      run.pass(a, &b, op == kSetIntersect);
      break;
    case kSetDifference:
      index_side(&a, set1);
      index_side(&b, set2);
      run.pass(a, &b, false);
      run.pass(b, &a, false);
      break;
  }
  Cell result = *run.result;
  bool hashed = set1->is(kTypeHash) || (two && set2->is(kTypeHash));
  if (!hashed) {
    result.set_type(kTypeBlock);
    block_set_hash_index(&result, 0);
  }
  *set1 = result;
  return set1;
}

}  // namespace kiv

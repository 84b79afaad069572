// hash!: a block (datatypes/block.h) whose payload word 3 holds the hash
// table (kind 0, runtime/hashtable.h) indexing its cells, so that find,
// select, put and the set operations look single values up through it.
//
// Invariant: every cell of the buffer is in the index at its current position.
// The block-family handlers hash! inherits keep it so (datatypes/series.cpp,
// block.cpp, block_modify.cpp, block_search.cpp): they shift, re-index or
// rebuild the index at every change, sort and trim included. The handlers
// here are those whose result is a new hash!: make, to and copy give it an
// index of its own; mold names the type.
#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/block_modify.h"
#include "datatypes/form.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/collector.h"
#include "runtime/hashtable.h"
#include "runtime/murmur3.h"
#include "runtime/stack.h"

namespace kiv {

namespace {

// MAY ALLOCATE, MAY RUN KIV CODE. copy: block!'s copy, made a hash! again
// (also under /deep and /types). A whole copy (head 0, no /part, /deep or
// /types) takes a duplicate of the table; any other a new index.
Cell* hash_copy(Cell* value, const CopyArgs& args) {
  bool whole = series_clamp_head(value, series_total_cells(value)) == 0 && !args.part && !args.deep &&
               !args.types && block_indexed_q(value);
  Cell* result = block_copy(value, args);
  result->set_type(kTypeHash);
  block_set_hash_index(result, 0);
  if (whole)
    block_set_hash_index(result, hashtable_copy(block_hash_index(value), result->node()));
  else
    series_hash_index_new(result);
  return result;
}

// MAY ALLOCATE, MAY RUN KIV CODE. to hash!: a hash! is copied; any other value
// converts as to block! does, indexed.
Cell* hash_to(Cell* proto, const MakeArgs& args) {
  if (args.spec->is(kTypeHash)) {
    CopyArgs copy;
    copy.result = stack_push();
    return hash_copy(stack_push_value(*args.spec), copy);
  }
  return block_to(proto, args);
}

// MAY ALLOCATE, MAY RUN KIV CODE. make hash!: a number gives an empty hash!
// with room for that many values, a block-family value (or object!, map!) a
// copy of its cells, a hash! its copy; anything else as to.
Cell* hash_make(Cell* proto, const MakeArgs& args) {
  switch (args.spec->type()) {
    case kTypeInteger:
    case kTypeFloat:
    case kTypeBlock:
    case kTypeParen:
    case kTypePath:
    case kTypeLitPath:
    case kTypeSetPath:
    case kTypeGetPath: return block_make(proto, args);
    default: return hash_to(proto, args);
  }
}

// MAY ALLOCATE. "make hash! [" the cells "]"; with /only the cells alone.
int32_t hash_mold(Cell* value, const MoldArgs& args) {
  int32_t limit = args.limit;
  if (cycle_elide(value, args.buffer, &limit, true)) return limit;
  if (args.only) return block_mold(value, args);
  MoldArgs inner = args;
  inner.limit = limit - string_append_c_string(args.buffer, "make hash! ");
  return block_mold(value, inner);
}

void hash_mark(const Cell* value) {
  gc_mark_block(value->node());
  gc_mark_table(block_hash_index(value));
}

// As block!'s: the position and the buffer.
uint32_t hash_hash(const Cell* value) {
  uint32_t w[2] = {uint32_t(value->head()), value->node()};
  return hash_murmur3(w, sizeof w);
}

constexpr TypeHooks kHashHooks{.mark = hash_mark, .hash = hash_hash};

}  // namespace

void hash_datatype_init() {
  ActionSlots slots = inherit_all_slots();
  slots.make = hash_make;
  slots.random = nullptr;  // unsupported
  slots.to = hash_to;
  slots.mold = hash_mold;
  slots.copy = hash_copy;
  register_datatype({kTypeHash, kTypeBlock, "hash!", kActionCount, slots, &kHashHooks});
}

}  // namespace kiv

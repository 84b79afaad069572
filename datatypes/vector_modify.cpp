// vector!: append, insert and change (declared in datatypes/vector.h).
//
// Order in each writer: read every new element into a scratch array at the
// vector's element size, checking each value's type (so an error comes
// before anything changes, and a value sharing the vector's buffer reads as
// it was); check the room; tell the owner "before"; re-read the vector (the
// owner's handler runs Kiv code and may have changed it); open or close the
// gap and copy the elements in, repeated for /dup; tell the owner "after".
// Positions are absolute element indexes from the buffer's first unit.
#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/vector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/typesets.h"

namespace kiv {

namespace {

// New elements, encoded at the target's element size.
struct NewElements {
  std::vector<uint8_t> bytes;  // not collector memory: nothing here moves
  uint32_t count = 0;
};

// Adds [value] as an element of [vector] (of its element type, else script invalid-arg).
void add_value(const Cell* vector, const Cell* value, uint32_t size, NewElements* out) {
  vector_check_value(vector, value);
  size_t at = out->bytes.size();
  out->bytes.resize(at + size);
  vector_set_element(out->bytes.data() + at, value, size);
  out->count++;
}

// Adds the values of the block or path [block] from its head, at most [limit]
// of them (-1: all).
void add_block_values(const Cell* vector, const Cell* block, int64_t limit, uint32_t size, NewElements* out) {
  int32_t total = series_total_length(block);
  int32_t head = series_clamp_head(block, total);
  int64_t n = total - head;
  if (limit >= 0) n = std::min(n, limit);
  for (int32_t i = 0; i < n; i++)
    add_value(vector, series_buffer_of(block)->head_cell() + head + i, size, out);
}

// Adds the elements of the vector [source] from its head, converted to
// [vector]'s element size; its element type must be [vector]'s, else script
// not-same-type.
void add_vector_elements(const Cell* vector, const Cell* source, uint32_t size, NewElements* out) {
  if (vector_element_type(source) != vector_element_type(vector)) raise_error(kErrScriptNotSameType);
  int32_t total = series_total_length(source);
  for (int32_t i = series_clamp_head(source, total); i < total; i++) {
    Cell element = vector_element_at(source, i);
    add_value(vector, &element, size, out);
  }
}

// The /dup count: 1 when absent; an integer! (else script invalid-arg), below 1 read as 0.
uint32_t dup_count(const Cell* dup) {
  if (!dup) return 1;
  if (!dup->is(kTypeInteger)) raise_error(kErrScriptInvalidArg, dup);
  return uint32_t(std::max(integer_get(dup), 0));
}

// Raises internal no-memory unless [vector] can take [added] elements in place
// of [replaced] of its own.
void check_room(const Cell* vector, uint64_t replaced, uint64_t added) {
  SeriesBuffer* b = series_buffer_of(vector);
  uint64_t length = b->length();
  if ((length - std::min(replaced, length) + added) * b->unit() > kMaxCapacity)
    raise_error(kErrInternalNoMemory);
}

// MAY ALLOCATE. Replaces the [replaced] elements at [index] of [vector] (both
// within its elements) by [items] repeated [dup] times, the elements after
// them moving; a short buffer grows to the need or twice its capacity,
// whichever is larger.
void splice(const Cell* vector, int32_t index, int32_t replaced, const NewElements& items, uint32_t dup) {
  check_room(vector, uint64_t(replaced), uint64_t(items.count) * dup);
  const Node node = vector->node();
  SeriesBuffer* b = series_buffer(node);
  const uint32_t size = b->unit();
  const uint64_t total = b->length();
  const uint64_t added = uint64_t(items.count) * dup;
  const uint64_t need = (total - uint64_t(replaced) + added) * size;
  if (b->head + need > b->capacity)
    b = series_expand(node, int64_t(series_grown_capacity(b->capacity, need)));
  uint8_t* at = series_unit_at(b, index);
  std::memmove(at + added * size, at + size_t(replaced) * size,
               size_t(total - uint64_t(index) - replaced) * size);
  if (added > 0) {
    std::memcpy(at, items.bytes.data(), items.bytes.size());
    if (dup > 1) fill_pattern(at, uint32_t(items.bytes.size()), dup);
  }
  b->tail = b->head + uint32_t(need);
}

}  // namespace

Cell* vector_insert(Cell* vector, const InsertArgs& args) {
  int32_t total = series_total_length(vector);
  const int32_t head = series_clamp_head(vector, total);
  vector->set_head(head);
  const uint32_t size = vector_size(vector);
  NewElements items;
  const Cell* value = args.value;
  if (value->is(kTypeBlock) || value->is(kTypeParen) || value->is(kTypeHash))
    add_block_values(vector, value, args.part ? args.part.count : -1, size, &items);
  else
    add_value(vector, value, size, &items);
  const uint32_t dup = dup_count(args.dup);
  const uint64_t added = uint64_t(items.count) * dup;
  if (added == 0) return vector;
  check_room(vector, 0, added);
  const bool at_tail = args.append || head >= total;
  int32_t index = at_tail ? total : head;
  SeriesChange change(vector, args.append ? kOwnerAppend : kOwnerInsert, index, int32_t(added));
  total = series_total_length(vector);
  index = at_tail ? total : std::min(index, total);
  splice(vector, index, 0, items, dup);
  change.done(index, int32_t(added));
  vector->set_head(args.append ? head : index + int32_t(added));
  return vector;
}

Cell* vector_change(Cell* vector, const ChangeArgs& args) {
  int32_t total = series_total_length(vector);
  int32_t head = series_clamp_head(vector, total);
  vector->set_head(head);
  const uint32_t size = vector_size(vector);
  NewElements items;
  const Cell* value = args.value;
  if (is_any_block(value->type()))
    add_block_values(vector, value, -1, size, &items);
  else if (value->is(kTypeVector))
    add_vector_elements(vector, value, size, &items);
  else
    add_value(vector, value, size, &items);
  const uint32_t dup = dup_count(args.dup);
  const uint64_t added = uint64_t(items.count) * dup;
  const int64_t rest = total - head;
  int64_t replaced =
      args.part ? std::clamp<int64_t>(args.part.count, 0, rest) : std::min<int64_t>(added, rest);
  if (added == 0 && replaced == 0) return vector;
  check_room(vector, uint64_t(replaced), added);
  SeriesChange change(vector, kOwnerChange, head, int32_t(replaced));
  total = series_total_length(vector);
  head = std::min(head, total);
  replaced = std::min<int64_t>(replaced, total - head);
  splice(vector, head, int32_t(replaced), items, dup);
  change.done(head, int32_t(added));
  vector->set_head(head + int32_t(added));
  return vector;
}

}  // namespace kiv

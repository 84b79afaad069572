// binary!: the bytes a value stands for, and the append/insert and change
// handlers (declared in datatypes/binary.h).
//
// Order in each writer: read every byte the value gives into a scratch array,
// checking each value on the way (an integer out of range in a nested block
// raises before anything changes, and a value sharing the binary's buffer
// reads as it was); check the room; tell the owner "before"; re-read the
// binary (the owner's handler runs Kiv code and may have changed it); open or
// close the gap and copy the bytes in, repeated for /dup; tell the owner
// "after". Positions are absolute byte indexes from the buffer's first byte.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/char.h"
#include "datatypes/datatype.h"
#include "datatypes/form.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "runtime/cycle.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/stack.h"
#include "runtime/typesets.h"
#include "runtime/unicode.h"

namespace kiv {

namespace {

void append_utf8(uint32_t cp, std::vector<uint8_t>* out) {
  uint8_t bytes[4];
  if (cp > kMaxCodePoint) cp = 0xFFFD;
  out->insert(out->end(), bytes, utf8_put(bytes, cp));
}

// Cuts what [value] added from [start] on to [limit] bytes when limit >= 0.
void cut_to(std::vector<uint8_t>* out, size_t start, int64_t limit) {
  if (limit >= 0 && out->size() - start > uint64_t(limit)) out->resize(start + size_t(limit));
}

[[noreturn]] void raise_no_bytes(const Cell* value) {
  Cell datatype = datatype_cell(kTypeBinary);
  raise_error(kErrScriptBadToArg, &datatype, value);
}

}  // namespace

void binary_value_bytes(Cell* value, ByteRule rule, int64_t limit, std::vector<uint8_t>* out) {
  const size_t start = out->size();
  const TypeId type = value->type();
  if (is_any_list(type)) {
    // Each element from the head; the block may move while one is formed.
    CycleGuard cycle(value->node());
    const Node block = value->node();
    int64_t taken = 0;
    for (int64_t i = std::max(value->head(), 0);; i++, taken++) {
      SeriesBuffer* b = series_buffer(block);
      if (b->unit() != sizeof(Cell)) fatal_no_switch();
      if (i >= int64_t(b->length())) break;
      if (limit >= 0 && taken >= limit) break;
      StackSave save;
      Cell* item = stack_push_value(b->head_cell()[i]);
      binary_value_bytes(item, rule, -1, out);
    }
    return;
  }
  switch (type) {
    case kTypeChar: append_utf8(char_get(value), out); break;
    case kTypeInteger: out->push_back(binary_byte_of(value)); break;
    case kTypeBinary: {
      int32_t total = series_total_length(value);
      int32_t head = series_clamp_head(value, total);
      const uint8_t* p = series_buffer_of(value)->head_ptr();
      out->insert(out->end(), p + head, p + total);
      break;
    }
    case kTypeTuple: {
      const uint8_t* p = tuple_bytes(value);
      out->insert(out->end(), p, p + tuple_length(value));
      break;
    }
    default:
      if (is_any_string(type)) {
        std::string text = string_to_utf8(value);
        out->insert(out->end(), text.begin(), text.end());
        break;
      }
      if (rule != ByteRule::kChange) raise_no_bytes(value);
      {
        StackSave save;
        Cell* formed = form_to_new_string(value, 0);
        std::string text = string_to_utf8(formed);
        out->insert(out->end(), text.begin(), text.end());
      }
      break;
  }
  cut_to(out, start, limit);
}

namespace {

// The /dup count: 1 when absent; below 1 read as 0 (the entry has checked the type).
uint32_t dup_count(const Cell* dup) {
  if (!dup) return 1;
  if (!dup->is(kTypeInteger)) raise_error(kErrScriptInvalidArg, dup);
  return uint32_t(std::max(integer_get(dup), 0));
}

// Raises internal no-memory unless [bin] can take [added] bytes in place of
// [replaced] of its own.
void check_room(const Cell* bin, uint64_t replaced, uint64_t added) {
  uint64_t length = series_buffer_of(bin)->length();
  if (length - std::min(replaced, length) + added > kMaxCapacity) raise_error(kErrInternalNoMemory);
}

// MAY ALLOCATE. Replaces the [replaced] bytes at [index] of [bin] (both within
// it) by [bytes] repeated [dup] times; returns the bytes written.
uint32_t splice_bytes(const Cell* bin, uint32_t index, uint32_t replaced, const std::vector<uint8_t>& bytes,
                      uint32_t dup) {
  const uint64_t added = uint64_t(bytes.size()) * dup;
  const Node node = bin->node();
  SeriesBuffer* b = series_buffer(node);
  const uint32_t total = b->length();
  const uint64_t need = uint64_t(total) - replaced + added;
  if (uint64_t(b->head) + need > b->capacity) {
    b = series_expand(node, int64_t(series_grown_capacity(b->capacity, need)));
  }
  uint8_t* at = b->head_ptr() + index;
  std::memmove(at + added, at + replaced, total - index - replaced);
  if (added) {
    std::memcpy(at, bytes.data(), bytes.size());
    if (dup > 1) fill_pattern(at, uint32_t(bytes.size()), dup);
  }
  b->tail = b->head + uint32_t(need);
  return uint32_t(added);
}

}  // namespace

Cell* binary_insert(Cell* series, const InsertArgs& args) {
  // The entry has read /part against the value: a count of 0 or more.
  const int64_t limit = args.part ? args.part.count : -1;
  const uint32_t dup = dup_count(args.dup);
  int32_t head = series_clamp_head(series, series_total_length(series));
  series->set_head(head);
  std::vector<uint8_t> bytes;
  if (dup > 0) binary_value_bytes(args.value, ByteRule::kInsert, limit, &bytes);
  const uint64_t added = uint64_t(bytes.size()) * dup;
  if (added == 0) {
    if (args.append) series->set_head(0);
    return series;
  }
  check_room(series, 0, added);
  int32_t index = args.append ? series_total_length(series) : head;
  SeriesChange change(series, args.append ? kOwnerAppend : kOwnerInsert, index, int32_t(added));
  int32_t total = series_total_length(series);
  check_room(series, 0, added);
  index = args.append ? total : std::min(index, total);
  uint32_t n = splice_bytes(series, uint32_t(index), 0, bytes, dup);
  change.done(index, int32_t(n));
  series->set_head(args.append ? 0 : index + int32_t(n));
  return series;
}

Cell* binary_change(Cell* series, const ChangeArgs& args) {
  int32_t head = series_clamp_head(series, series_total_length(series));
  series->set_head(head);
  const uint32_t dup = dup_count(args.dup);
  std::vector<uint8_t> bytes;
  binary_value_bytes(args.value, ByteRule::kChange, -1, &bytes);
  const uint64_t added = uint64_t(bytes.size()) * dup;
  int64_t remaining = series_total_length(series) - head;
  int64_t span =
      args.part ? std::max<int64_t>(args.part.count, 0) : int64_t(std::min<uint64_t>(added, INT32_MAX));
  uint32_t replaced = uint32_t(std::min(span, remaining));
  if (added == 0 && replaced == 0) return series;
  check_room(series, replaced, added);
  SeriesChange change(series, kOwnerChange, head, int32_t(replaced));
  int32_t total = series_total_length(series);
  head = std::min(head, total);
  replaced = std::min<uint32_t>(replaced, uint32_t(total - head));
  check_room(series, replaced, added);
  uint32_t n = splice_bytes(series, uint32_t(head), replaced, bytes, dup);
  change.done(head, int32_t(n));
  series->set_head(std::min(head + int32_t(n), series_total_length(series)));
  return series;
}

}  // namespace kiv

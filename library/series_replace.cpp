// replace's core (series_replace.h): matches found first, each changed series
// rebuilt once.
//
// A match is a span of absolute indexes (units of text, bytes, vector
// elements or cells, as the series counts its head). What one replacement
// puts in is what `change` would put in at the match: it is made by that
// change on an empty scratch series of the gathering kind, so every rule of
// change (forming into text, splicing a block's values, a vector's element
// conversion) holds as it is. The stretch from the first match to the end of
// the last is gathered, gaps and replacements in turn, into one new series,
// which one change with /part then puts in the stretch's place.
//
// Collector safety: series are held by stack cells and spans by index; every
// buffer address is re-read after each call that may allocate. A function
// value runs before any gathering starts: the spans are then clamped to what
// the series holds after it.
#include "library/series_replace.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/vector.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/typesets.h"

namespace kiv {

namespace {

// One match: [start, end) of its series, and the place of its replacement in
// the block of values made by a function (-1: the one value given).
struct Span {
  int32_t start;
  int32_t end;
  int32_t value_at;
};

enum class Family : uint8_t { kCells, kText, kBytes, kElements };

Family family_of(TypeId t) {
  if (is_any_block(t)) return Family::kCells;
  if (t == kTypeVector) return Family::kElements;
  if (t == kTypeBinary) return Family::kBytes;
  return Family::kText;
}

// The types replace changes: any-block!, any-string!, binary! and vector!.
bool replaceable_q(TypeId t) {
  return is_any_block(t) || is_any_string(t) || t == kTypeBinary || t == kTypeVector;
}

// The units (cells for the block family) of [series] from its buffer's first.
int32_t total_units(const Cell* series) {
  return family_of(series->type()) == Family::kCells ? series_total_cells(series)
                                                     : series_total_length(series);
}

// MAY ALLOCATE. A new empty series on the stack of the kind the stretch of
// [series] is gathered into: block! for the block family, string! for text,
// binary!, or a vector! of [series]'s element type and size.
Cell* push_gathering(const Cell* series, uint32_t capacity) {
  switch (family_of(series->type())) {
    case Family::kCells: return block_push_only(int32_t(capacity));
    case Family::kText: return string_make_at(stack_push(), capacity);
    case Family::kBytes: return binary_make_at(stack_push(), capacity);
    case Family::kElements: {
      Node node = series_alloc_units(capacity, vector_size(series));
      return stack_push_value(vector_cell(node, vector_element_type(series)));
    }
  }
  return nullptr;
}

// MAY ALLOCATE. Appends [count] units of [src] (a series of the family of
// [out], or [out]'s own kind) from its absolute index [from] to [out]'s tail.
void append_units(Cell* out, Cell* src, int32_t from, int32_t count) {
  if (count <= 0) return;
  if (family_of(out->type()) == Family::kText) {
    const int32_t head = src->head();
    src->set_head(from);
    string_concatenate(out, src, count, 0, ConcatMode::kAppend);
    src->set_head(head);
    return;
  }
  const bool cells = family_of(out->type()) == Family::kCells;
  const uint32_t width = cells ? uint32_t(sizeof(Cell)) : series_buffer_of(src)->unit();
  const uint64_t bytes = uint64_t(count) * width;
  if (bytes > kMaxCapacity) raise_error(kErrInternalNoMemory);
  uint8_t* dst = reserve_tail(out->node(), uint32_t(bytes));
  SeriesBuffer* b = series_buffer_of(src);
  const uint8_t* at =
      cells ? reinterpret_cast<const uint8_t*>(b->head_cell() + from) : series_unit_at(b, from);
  std::memcpy(dst, at, size_t(bytes));
}

// MAY ALLOCATE, MAY RUN KIV CODE (a value's forming). What a change of
// [series] puts in for [value], made on a new empty series of the gathering
// kind (pushed).
Cell* push_replacement(const Cell* series, Cell* value) {
  Cell* scratch = push_gathering(series, 0);
  ActionCall(kActionChange).arg(*scratch).arg(*value).run();
  g_stack.top = scratch + 1;
  return scratch;
}

// Whether [value] is a function replace calls anew for each match.
bool active_q(const Cell* value) { return is_any_function(value->type()); }

// MAY ALLOCATE, MAY RUN KIV CODE. The block of the results of calling the
// function [value] once for each span that takes one, in the order of
// [spans] (pushed); numbers each such span's value_at.
Cell* push_called_values(Cell* value, std::vector<Span>* spans) {
  Cell* values = block_push_only(int32_t(spans->size()));
  Cell* result = stack_push();
  int32_t n = 0;
  for (Span& span : *spans) {
    call_value(value, nullptr, 0, result);
    *block_append_cell(values) = *result;
    span.value_at = n++;
  }
  return values;
}

// MAY ALLOCATE, MAY RUN KIV CODE. Replaces the [spans] of [series_cell]
// (increasing, apart) by [value], or by the cells of [values] the spans
// number: the stretch they cover is gathered once and changed in one step.
void splice_spans(const Cell* series_cell, std::vector<Span> spans, Cell* value, const Cell* values) {
  StackSave save;
  Cell* series = stack_push_value(*series_cell);
  // Kiv code has run since the spans were found: keep what still fits.
  const int32_t total = total_units(series);
  std::erase_if(spans, [total](const Span& s) { return s.start > total; });
  for (Span& s : spans) s.end = std::min(s.end, total);
  if (spans.empty()) return;
  const int32_t first = spans.front().start;
  const int32_t last = spans.back().end;
  Cell* out = push_gathering(series, uint32_t(last - first));
  Cell* fixed = values ? nullptr : push_replacement(series, value);
  Cell* piece = stack_push();
  Cell* source = stack_push_value(*series);
  int32_t at = first;
  for (const Span& span : spans) {
    append_units(out, source, at, span.start - at);
    StackSave per_value;
    Cell* replacement = fixed;
    if (!replacement) {
      *piece = series_cells(values->node())[span.value_at];
      replacement = push_replacement(series, piece);
    }
    append_units(out, replacement, 0, total_units(replacement));
    at = span.end;
  }
  series->set_head(first);
  ActionCall(kActionChange).arg(*series).arg(*out).ref("part", integer_cell(last - first)).run();
}

}  // namespace

KIV_ROUTINE(ReplaceFound) {
  Cell* series = a.series;
  Cell* pattern = a.pattern;
  Cell* value = a.value;
  const int32_t size = std::max(integer_get(a.size), 0);
  const bool all = truthy(a.all);
  const bool case_sensitive = truthy(a.case_);
  if (!replaceable_q(series->type())) raise_error(kErrScriptInvalidArg, series);
  std::vector<Span> spans;
  int32_t from = series_clamp_head(series, total_units(series));
  for (;;) {
    StackSave save;
    Cell probe = *series;
    probe.set_head(from);
    ActionCall find(kActionFind);
    find.arg(probe).arg(*pattern);
    if (case_sensitive) find.ref("case");
    const Cell found = *find.run();
    if (found.type() != series->type()) break;
    const int32_t total = total_units(&found);
    const int32_t end = std::min(found.head() + size, total);
    spans.push_back({found.head(), end, -1});
    if (!all || end >= total) break;
    // A match of no length would be found again where it is.
    from = std::max(end, found.head() + 1);
  }
  if (!spans.empty()) {
    StackSave save;
    const Cell* values = active_q(value) ? push_called_values(value, &spans) : nullptr;
    splice_spans(series, std::move(spans), value, values);
  }
  return native_result(kUnsetCell);
}

KIV_ROUTINE(ReplaceMarked) {
  Cell* marks = a.marks;
  Cell* value = a.value;
  // The series the marks name, in the order first met, and each one's spans;
  // [order] lists the spans taken (series, span) in the order found.
  struct Marked {
    Cell series;
    std::vector<Span> spans;
  };
  std::vector<Marked> marked;
  std::unordered_map<Node, size_t> place;  // a series' place in [marked]
  std::vector<std::pair<size_t, size_t>> order;
  const int32_t total = series_total_cells(marks);
  for (int32_t i = series_clamp_head(marks, total); i + 1 < total; i += 2) {
    const Cell start = series_cells(marks->node())[i];
    const Cell end = series_cells(marks->node())[i + 1];
    if (!replaceable_q(start.type()) || end.type() != start.type() || end.node() != start.node()) continue;
    if (start.head() < 0 || end.head() < start.head()) continue;
    auto [it, added] = place.try_emplace(start.node(), marked.size());
    if (added) marked.push_back(Marked{start, {}});
    std::vector<Span>& spans = marked[it->second].spans;
    if (!spans.empty() && start.head() < spans.back().end) continue;
    spans.push_back({start.head(), end.head(), -1});
    order.emplace_back(it->second, spans.size() - 1);
  }
  // [marks] keeps every series marked alive.
  StackSave save;
  Cell* values = nullptr;
  if (active_q(value)) {
    values = block_push_only(int32_t(order.size()));
    Cell* result = stack_push();
    int32_t n = 0;
    for (auto [k, j] : order) {
      call_value(value, nullptr, 0, result);
      *block_append_cell(values) = *result;
      marked[k].spans[j].value_at = n++;
    }
  }
  Cell* series = stack_push();
  for (size_t k = 0; k < marked.size(); k++) {
    *series = marked[k].series;
    splice_spans(series, std::move(marked[k].spans), value, values);
  }
  return native_result(kUnsetCell);
}

}  // namespace kiv

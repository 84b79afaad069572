// string! modification: the append/insert, change, take, swap, trim and sort
// handlers (file!, url!, tag!, email! and ref! inherit them; binary! and vector!
// inherit take and sort), and change_case behind uppercase and lowercase.
//
// Order in every writer: read and check the arguments and build the text to
// add (raising before anything changes), tell the owner "before", re-read the
// string (the owner's handler runs Kiv code and may have changed it), change
// the buffer, tell the owner "after". Positions are absolute unit indexes from
// the buffer's first unit; a head past the tail is read as the tail.
//
// Text added by append, insert and change is either one code point or a run of
// units of a text series: the value's own buffer for string-like values, else a
// scratch string on the data stack that the value (or each value of a block)
// was formed into. A run that shares the destination's buffer is copied aside
// before the destination moves, so a string added to itself reads as it was.
#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/char.h"
#include "datatypes/float.h"
#include "datatypes/form.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "runtime/case_fold.h"
#include "runtime/errors.h"
#include "runtime/ownership.h"
#include "runtime/sort.h"
#include "runtime/stack.h"

namespace kiv {

bool string_whitespace_q(uint32_t cp) {
  if (cp >= 1 && cp <= 32) return true;
  if (cp < 0x85) return false;
  switch (cp) {
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x180E:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000: return true;
    default: return cp >= 0x2000 && cp <= 0x200A;
  }
}

namespace {

// The blanks plain trim removes around line feeds: space, tab and the
// non-ASCII whitespace, not the other controls.
bool blank_q(uint32_t cp) { return cp == ' ' || cp == '\t' || (cp >= 0x85 && string_whitespace_q(cp)); }

// Copies [n] units of width [from] at [src] to [dst] as units of width [to] (>= from).
[[gnu::always_inline]] inline void copy_units(uint8_t* dst, uint32_t to, const uint8_t* src, uint32_t from,
                                              uint64_t n) {
  if (to == from) {
    move_bytes(dst, src, size_t(n) * to);
    return;
  }
  for (uint64_t i = 0; i < n; i++) unit_put(dst + i * to, to, unit_get(src + i * from, from));
}

// ---------------------------------------------------------------- the text to add

// One code point, [count] ASCII bytes held here (an integer's digits), or
// [count] units of the text series [node] from absolute [start].
struct AddedText {
  Node node = 0;  // 0: the code point [cp], or the [ascii] bytes
  uint32_t start = 0;
  uint32_t count = 0;
  uint32_t cp = 0;
  bool inline_q = false;  // the text is [ascii]
  char ascii[12] = {};    // "-2147483648" at most
};

// The unit a destination takes on for [t]: the text's own unit, and for a code
// point 1 below U+0080, 2 below U+10000, else 4.
uint32_t text_unit(const AddedText& t) {
  if (t.node) return series_buffer(t.node)->unit();
  if (t.inline_q) return 1;
  return t.cp < 0x80 ? 1 : t.cp < 0x10000 ? 2 : 4;
}

// After Kiv code ran: the run is cut to what its series still holds.
void refresh_text(AddedText* t) {
  if (!t->node) return;
  uint32_t total = series_buffer(t->node)->length();
  t->start = std::min(t->start, total);
  t->count = std::min(t->count, total - t->start);
}

enum class PartRule : uint8_t { kAppend, kInsert, kChange };

// MAY ALLOCATE. The text [value] adds under [rule] and the /part [limit]:
// - char!: its code point; string-like values: their text from the head, cut
//   to the limit (never for change);
// - tag!: "<", its text, ">", cut to the limit;
// - block!, paren!, hash!: each value formed in turn into a scratch string. For
//   append without /only the limit counts values; otherwise (append/only,
//   insert) it counts code points, and forming stops once it is reached;
// - anything else: formed; cut to the limit by insert, and by append only with /only.
AddedText added_text(Cell* value, int64_t limit, bool only, PartRule rule) {
  AddedText t;
  TypeId type = value->type();
  if (type == kTypeChar) {
    t.cp = char_get(value);
    if (t.cp > kMaxCodePoint) raise_error(kErrScriptInvalidChar, value);
    t.count = 1;
    return t;
  }
  const bool limited = rule != PartRule::kChange && limit >= 0;
  if (is_any_string(type) && type != kTypeTag) {
    t.node = value->node();
    t.start = uint32_t(string_head_index(value));
    t.count = uint32_t(string_length(value));
    if (limited) t.count = uint32_t(std::min<int64_t>(t.count, limit));
    return t;
  }
  bool cut = limited;
  if (type == kTypeInteger) {
    // The formed digits, without a scratch string.
    if (rule == PartRule::kAppend && !only) cut = false;
    const char* digits = integer_to_text(integer_get(value));
    t.count = uint32_t(std::strlen(digits));
    std::memcpy(t.ascii, digits, t.count);
    t.inline_q = true;
    if (cut) t.count = uint32_t(std::min<int64_t>(t.count, limit));
    return t;
  }
  Cell* scratch = string_make_at(stack_push(), 16);
  if (type == kTypeTag) {
    append_char(scratch->node(), '<');
    string_concatenate(scratch, value, -1, 0, ConcatMode::kAppend);
    append_char(scratch->node(), '>');
  } else if (is_any_list(type)) {
    const bool count_values = rule == PartRule::kAppend && !only;
    if (count_values) cut = false;
    const Node block = value->node();
    int64_t formed = 0;
    for (int64_t i = std::max(value->head(), 0);; i++, formed++) {
      SeriesBuffer* b = series_buffer(block);
      if (b->unit() != sizeof(Cell)) fatal_no_switch();
      if (i >= int64_t(b->length())) break;
      if (limited && count_values && formed >= limit) break;
      if (limited && !count_values && string_length(scratch) >= limit) break;
      StackSave save;
      Cell* item = stack_push_value(b->head_cell()[i]);
      form_whole(item, scratch);
    }
  } else {
    if (rule == PartRule::kAppend && !only) cut = false;
    form_whole(value, scratch);
  }
  t.node = scratch->node();
  t.start = 0;
  t.count = uint32_t(string_length(scratch));
  if (cut) t.count = uint32_t(std::min<int64_t>(t.count, limit));
  return t;
}

// The /dup count: 1 when absent; an integer! (else script invalid-arg), below 1 read as 0.
uint32_t dup_count(const Cell* dup) {
  if (!dup) return 1;
  if (!dup->is(kTypeInteger)) raise_error(kErrScriptInvalidArg, dup);
  return uint32_t(std::max(integer_get(dup), 0));
}

// Raises internal no-memory unless [node] can take [added] units of [unit] in
// place of [replaced] of its units.
void check_room(Node node, uint64_t replaced, uint64_t added, uint32_t unit) {
  SeriesBuffer* b = series_buffer(node);
  uint64_t length = b->length();
  uint64_t wide = std::max(b->unit(), unit);
  if ((length - std::min(replaced, length) + added) * wide > kMaxCapacity) raise_error(kErrInternalNoMemory);
}

// MAY ALLOCATE. Replaces the [replaced] units at [index] of [node] (both within
// the text) by [text] repeated [dup] times, widening the buffer to the text's
// unit first. Returns the units added.
uint32_t splice_text(Node node, uint32_t index, uint32_t replaced, const AddedText& text, uint32_t dup) {
  const uint64_t added = uint64_t(text.count) * dup;
  const uint32_t src_unit = text_unit(text);
  check_room(node, replaced, added, src_unit);
  if (added == 0 && replaced == 0) return 0;
  // The same buffer: the run is copied before the text moves or widens.
  std::vector<uint8_t> aside;
  const bool own = text.node == node && text.count > 0;
  if (own) {
    const uint8_t* p = series_buffer(node)->head_ptr() + size_t(text.start) * src_unit;
    aside.assign(p, p + size_t(text.count) * src_unit);
  }
  const uint32_t total = series_buffer(node)->length();
  SeriesBuffer* b = string_reserve(node, added > replaced ? added - replaced : 0, src_unit);
  const uint32_t u = b->unit();
  uint8_t* at = b->head_ptr() + size_t(index) * u;
  std::memmove(at + added * u, at + size_t(replaced) * u, size_t(total - index - replaced) * u);
  if (added) {
    if (text.inline_q) {
      copy_units(at, u, reinterpret_cast<const uint8_t*>(text.ascii), 1, text.count);
    } else if (!text.node) {
      unit_put(at, u, text.cp);
    } else {
      const uint8_t* src =
          own ? aside.data() : series_buffer(text.node)->head_ptr() + size_t(text.start) * src_unit;
      copy_units(at, u, src, src_unit, text.count);
    }
    if (dup > 1) fill_pattern(at, text.count * u, dup);
  }
  b->tail = b->head + uint32_t(uint64_t(total) - replaced + added) * u;
  return uint32_t(added);
}

// MAY ALLOCATE. The common case of append, kept short: the text of a
// string-like [value] (not a tag!) from another buffer added at the tail of
// [series], which no owner watches. False, with nothing changed, for any other
// value.
bool append_text_q(Cell* series, const Cell* value) {
  TypeId type = value->type();
  if (!is_any_string(type) || type == kTypeTag) return false;
  const Node node = series->node(), from = value->node();
  if (from == node) return false;
  const uint32_t start = uint32_t(string_head_index(value));
  const uint32_t count = uint32_t(series_buffer(from)->length()) - start;
  if (count == 0) return true;
  const uint32_t from_unit = series_buffer(from)->unit();
  // string_reserve refuses a length past the limit as check_room would.
  SeriesBuffer* b = string_reserve(node, count, from_unit);
  const uint32_t u = b->unit();
  copy_units(b->tail_ptr(), u, series_buffer(from)->head_ptr() + size_t(start) * from_unit, from_unit, count);
  b->tail += count * u;
  series->set_head(0);
  return true;
}

}  // namespace

// ---------------------------------------------------------------- append, insert, change

namespace {

[[gnu::noinline]] Cell* string_insert_general(Cell* series, const InsertArgs& args);

}  // namespace

bool string_append_short(Cell* series, const Cell* value) {
  const TypeId t = value->type();
  if (!is_any_string(t) || t == kTypeTag) return false;
  const Node node = series->node(), from = value->node();
  if (from == node || !node_in_use(node)) return false;
  SeriesBuffer* b = series_buffer(node);
  SeriesBuffer* v = series_buffer(from);
  const uint32_t u = b->unit();
  if ((b->flags & kSeriesOwned) || v->unit() != u || (u != 1 && u != 2 && u != 4)) return false;
  const uint32_t total = v->length();
  const int32_t head = value->head();
  if (head < 0 || uint32_t(head) >= total) return false;
  const uint32_t bytes = (total - uint32_t(head)) * u;
  if (uint64_t(b->tail) + bytes > b->capacity) return false;
  move_bytes(b->tail_ptr(), v->head_ptr() + size_t(head) * u, bytes);
  b->tail += bytes;
  series->set_head(0);
  return true;
}

Cell* string_insert(Cell* series, const InsertArgs& args) {
  // The common case, kept short: a text from another buffer at the tail.
  if (args.append && !args.part && !args.dup && !series_owned_q(series) && append_text_q(series, args.value))
    return series;
  return string_insert_general(series, args);
}

namespace {

Cell* string_insert_general(Cell* series, const InsertArgs& args) {
  if (args.append && !args.part && !args.dup && args.value->is(kTypeChar)) {
    // The common case, kept short: one code point at the tail.
    uint32_t cp = char_get(args.value);
    if (cp > kMaxCodePoint) raise_error(kErrScriptInvalidChar, args.value);
    const Node node = series->node();
    if (series_owned_q(series)) {
      SeriesChange change(series, kOwnerAppend, string_total_length(series), 1);
      append_char(node, cp);
      change.done(string_total_length(series) - 1, 1);
    } else {
      append_char(node, cp);  // no owner to tell: the loop of appends stays short
    }
    series->set_head(0);
    return series;
  }
  // The entry has read /part against the value: a count of 0 or more.
  const int64_t limit = args.part ? args.part.count : -1;
  const uint32_t dup = dup_count(args.dup);
  const Node node = series->node();
  int32_t head = string_head_index(series);
  if (dup == 0) {
    if (!args.append) series->set_head(head);
    return series;
  }
  AddedText text =
      added_text(args.value, limit, args.only, args.append ? PartRule::kAppend : PartRule::kInsert);
  uint64_t added = uint64_t(text.count) * dup;
  if (added == 0) {
    if (!args.append) series->set_head(head);
    return series;
  }
  check_room(node, 0, added, text_unit(text));
  int32_t index = args.append ? string_total_length(series) : head;
  SeriesChange change(series, args.append ? kOwnerAppend : kOwnerInsert, index, int32_t(added));
  int32_t total = string_total_length(series);
  index = args.append ? total : std::min(index, total);
  refresh_text(&text);
  if (!text.node && !text.inline_q && dup == 1 && args.append) {
    append_char(node, text.cp);
    added = 1;
  } else {
    added = splice_text(node, uint32_t(index), 0, text, dup);
  }
  change.done(index, int32_t(added));
  series->set_head(args.append ? 0 : index + int32_t(added));
  return series;
}

}  // namespace

Cell* string_change(Cell* series, const ChangeArgs& args) {
  const Node node = series->node();
  int32_t head = string_clamp_head(series);
  const int64_t replace = args.part ? std::max<int64_t>(args.part.count, 0) : -1;
  const uint32_t dup = dup_count(args.dup);
  AddedText text = added_text(args.value, -1, args.only, PartRule::kChange);
  const uint64_t added = uint64_t(text.count) * dup;
  int32_t total = string_total_length(series);
  int64_t remaining = total - head;
  uint32_t replaced =
      uint32_t(args.part ? std::min(replace, remaining) : std::min<int64_t>(added, remaining));
  if (added == 0 && replaced == 0) return series;
  check_room(node, replaced, added, text_unit(text));
  SeriesChange change(series, kOwnerChange, head, int32_t(replaced));
  total = string_total_length(series);
  head = std::min(head, total);
  replaced = std::min<uint32_t>(replaced, uint32_t(total - head));
  refresh_text(&text);
  uint32_t n = splice_text(node, uint32_t(head), replaced, text, dup);
  change.done(head, int32_t(n));
  series->set_head(head + int32_t(n));
  return series;
}

// ---------------------------------------------------------------- take and swap

Cell* string_take(Cell* series, const TakeArgs& args) {
  Cell* result = series_take(series, args);
  if (!args.part && !result->is(kTypeNone) && series_total_length(result) == 1)
    *result = string_element_at(result, 0);
  *series = *result;
  return series;
}

Cell* string_swap(Cell* series1, const SwapArgs& args) {
  if (!series_text_or_bytes_q(args.series2->type())) raise_error(kErrScriptInvalidArg, args.series2);
  // A binary! holds bytes only: a wider code point for it is refused, not stored.
  auto check_fits = [](const Cell* target, const Cell* source) {
    uint32_t cp = string_char_at(source, uint32_t(string_head_index(source)));
    if (series_element_kind(target->type()) == SeriesElement::kByte && cp > 0xFF) {
      Cell c = char_cell(cp);
      raise_error(kErrScriptInvalidArg, &c);
    }
  };
  auto ready = [&] {
    if (string_at_tail_q(series1) || string_at_tail_q(args.series2)) return false;
    check_fits(series1, args.series2);
    check_fits(args.series2, series1);
    return true;
  };
  if (!ready()) return series1;
  SeriesChange change1(series1, kOwnerSwap, string_head_index(series1), 1);
  SeriesChange change2(args.series2, kOwnerSwap, string_head_index(args.series2), 1);
  if (!ready()) {
    change1.done(string_head_index(series1), 0);
    change2.done(string_head_index(args.series2), 0);
    return series1;
  }
  uint32_t i1 = uint32_t(string_head_index(series1)), i2 = uint32_t(string_head_index(args.series2));
  uint32_t c1 = string_char_at(series1, i1), c2 = string_char_at(args.series2, i2);
  string_write_char(series1->node(), i1, c2);
  string_write_char(args.series2->node(), i2, c1);
  change1.done(int32_t(i1), 1);
  change2.done(int32_t(i2), 1);
  return series1;
}

// ---------------------------------------------------------------- trim

namespace {

// The code points /all or /with remove, sorted.
std::vector<uint32_t> trim_set(Cell* with) {
  std::vector<uint32_t> set;
  if (!with) {
    set = {'\t', '\n', '\r', ' '};
  } else if (series_text_or_bytes_q(with->type())) {
    Node node = with->node();
    uint32_t head = uint32_t(string_head_index(with)), n = uint32_t(string_length(with));
    for (uint32_t i = 0; i < n; i++) set.push_back(string_char_at_node(node, head + i));
  } else if (with->is(kTypeChar)) {
    set.push_back(char_get(with));
  } else if (with->is(kTypeInteger)) {
    if (integer_get(with) >= 0) set.push_back(uint32_t(integer_get(with)));
  } else {
    raise_refine_arg("with", with);
  }
  std::sort(set.begin(), set.end());
  return set;
}

// Rewrites the units from [head] of [node] in place and returns the new end
// (an absolute index). Never allocates; every unit written lands at or before
// the unit being read, save the final line feed of plain trim, which takes the
// place of a removed one.
uint32_t trim_units(Node node, uint32_t head, bool trim_head, bool trim_tail, bool inner, bool lines,
                    const std::vector<uint32_t>* set) {
  SeriesBuffer* b = series_buffer(node);
  const uint32_t u = b->unit();
  uint8_t* base = b->head_ptr();
  const uint32_t total = b->length();
  auto get = [&](uint32_t i) { return unit_get(base + size_t(i) * u, u); };
  auto put = [&](uint32_t i, uint32_t cp) { unit_put(base + size_t(i) * u, u, cp); };
  uint32_t w = head;
  if (set) {
    for (uint32_t r = head; r < total; r++) {
      uint32_t c = get(r);
      if (!std::binary_search(set->begin(), set->end(), c)) put(w++, c);
    }
    return w;
  }
  if (lines) {
    bool seen = false, pending = false;
    for (uint32_t r = head; r < total; r++) {
      uint32_t c = get(r);
      if (string_whitespace_q(c)) {
        pending = seen;
        continue;
      }
      if (pending) put(w++, ' ');
      pending = false;
      seen = true;
      put(w++, c);
    }
    return w;
  }
  uint32_t a = head, z = total;
  if (trim_head)
    while (a < z && string_whitespace_q(get(a))) a++;
  if (trim_tail)
    while (z > a && string_whitespace_q(get(z - 1))) z--;
  if (!inner) {
    std::memmove(base + size_t(head) * u, base + size_t(a) * u, size_t(z - a) * u);
    return head + (z - a);
  }
  bool line_feed_cut = false;
  for (uint32_t r = z; r < total; r++) line_feed_cut |= get(r) == '\n';
  bool line_start = false;
  for (uint32_t r = a; r < z; r++) {
    uint32_t c = get(r);
    if (c == '\n') {
      while (w > head && blank_q(get(w - 1))) w--;
      put(w++, c);
      line_start = true;
    } else if (!(line_start && blank_q(c))) {
      line_start = false;
      put(w++, c);
    }
  }
  if (line_feed_cut) put(w++, '\n');
  return w;
}

}  // namespace

Cell* string_trim(Cell* series, const TrimArgs& args) {
  std::vector<uint32_t> set;
  const bool remove_set = args.all || args.with;
  if (remove_set)
    set = trim_set(args.with);
  else if (args.auto_)
    raise_error(kErrInternalNotDone);
  if (remove_set && set.empty()) return series;
  int32_t head = string_head_index(series);
  int32_t total = string_total_length(series);
  if (head >= total) return series;
  SeriesChange change(series, kOwnerTrim, head, total - head);
  head = string_head_index(series);
  total = string_total_length(series);
  // /head alone keeps the end, /tail alone the start; neither also trims inside.
  uint32_t end = trim_units(series->node(), uint32_t(head), !args.tail || args.head, !args.head || args.tail,
                            !args.head && !args.tail, args.lines, remove_set ? &set : nullptr);
  SeriesBuffer* b = series_buffer(series->node());
  b->tail = b->head + end * b->unit();
  change.done(head, int32_t(end) - head);
  return series;
}

// ---------------------------------------------------------------- sort

namespace {

enum class KeyKind : uint8_t { kText, kBytes, kSigned, kFloat };

// By the units its type slots give it.
KeyKind key_kind(const Cell* series) {
  switch (series_element_kind(series->type())) {
    case SeriesElement::kByte: return KeyKind::kBytes;
    case SeriesElement::kVector: {
      TypeId element = vector_element_type(series);
      if (element == kTypeChar) return KeyKind::kBytes;  // code points, unsigned
      return element == kTypeFloat || element == kTypePercent ? KeyKind::kFloat : KeyKind::kSigned;
    }
    default: return KeyKind::kText;
  }
}

// How two records compare: [compared] units from unit [offset] of each.
struct SortKey {
  uint32_t unit;
  uint32_t offset;
  uint32_t compared;
  KeyKind kind;
  bool fold;  // text without /case: both sides in lower case
  bool reverse;
};

template <class T>
inline int order(T a, T b) {
  return a < b ? -1 : b < a ? 1 : 0;
}

// The order of the units at [a] and [b] under [key].
int compare_unit(const uint8_t* a, const uint8_t* b, const SortKey& key) {
  const uint32_t u = key.unit;
  switch (key.kind) {
    case KeyKind::kText:
    case KeyKind::kBytes: {
      uint32_t x = unit_get(a, u), y = unit_get(b, u);
      if (key.fold) x = case_map_lower(x), y = case_map_lower(y);
      return order(x, y);
    }
    case KeyKind::kSigned: {
      uint32_t x = unit_get(a, u), y = unit_get(b, u);
      if (u == 1) return order(int8_t(x), int8_t(y));
      if (u == 2) return order(int16_t(x), int16_t(y));
      return order(int32_t(x), int32_t(y));
    }
    case KeyKind::kFloat: {
      if (u == 4) {
        float x, y;
        std::memcpy(&x, a, 4), std::memcpy(&y, b, 4);
        return order(x, y);
      }
      double x, y;
      std::memcpy(&x, a, 8), std::memcpy(&y, b, 8);
      return order(x, y);
    }
  }
  fatal_no_switch();
}

int compare_records(const void* a, const void* b, intptr_t context, uint32_t) {
  const SortKey& key = *reinterpret_cast<const SortKey*>(context);
  const uint8_t* pa = static_cast<const uint8_t*>(a) + size_t(key.offset) * key.unit;
  const uint8_t* pb = static_cast<const uint8_t*>(b) + size_t(key.offset) * key.unit;
  for (uint32_t i = 0; i < key.compared; i++) {
    int r = compare_unit(pa + size_t(i) * key.unit, pb + size_t(i) * key.unit, key);
    if (r) return key.reverse ? -r : r;
  }
  return 0;
}

// The fast comparator for the plain case: single text units, folded or not.
template <class U, bool Fold, bool Reverse>
int compare_text_units(const void* a, const void* b, intptr_t, uint32_t) {
  U x, y;
  std::memcpy(&x, a, sizeof(U));
  std::memcpy(&y, b, sizeof(U));
  uint32_t p = x, q = y;
  if (Fold) p = case_map_lower(p), q = case_map_lower(q);
  return Reverse ? order(q, p) : order(p, q);
}

template <class U>
SortComparator text_comparator(bool fold, bool reverse) {
  if (fold) return reverse ? compare_text_units<U, true, true> : compare_text_units<U, true, false>;
  return reverse ? compare_text_units<U, false, true> : compare_text_units<U, false, false>;
}

// Where the records of a sort with a function comparator live: [start] units
// into [node]'s buffer, in units of [unit].
struct SortPlace {
  Node node;
  uint32_t unit;
  uint32_t start;
};

void* locate_records(intptr_t owner, size_t n, size_t width) {
  const SortPlace& place = *reinterpret_cast<const SortPlace*>(owner);
  SeriesBuffer* b = series_buffer(place.node);
  if (b->unit() != place.unit) return nullptr;
  if ((uint64_t(place.start) * place.unit + uint64_t(n) * width) > b->tail - b->head) return nullptr;
  return b->head_ptr() + size_t(place.start) * place.unit;
}

struct FunctionSort {
  Cell* function;
  Cell sorted;  // the sorted series; series_like reads only its type and element kind
  uint32_t unit;
  uint32_t record;  // units per record
  bool whole;       // /all with /skip: records go to the function as strings
  bool reverse;
};

// MAY RUN KIV CODE. Comparator of the movable sort: copies both records out
// of the buffer (the pointers die at the first allocation), makes them values
// and asks the function.
int compare_with_function(const void* a, const void* b, intptr_t context, uint32_t) {
  const FunctionSort& f = *reinterpret_cast<const FunctionSort*>(context);
  const size_t width = size_t(f.unit) * f.record;
  std::vector<uint8_t> records(static_cast<const uint8_t*>(a), static_cast<const uint8_t*>(a) + width);
  records.insert(records.end(), static_cast<const uint8_t*>(b), static_cast<const uint8_t*>(b) + width);
  StackSave save;
  Cell* values[2];
  for (int i = 0; i < 2; i++) {
    // A series of the sorted type holding the record; without /all the element
    // its first unit stands for.
    values[i] = stack_push();
    Node copy = series_alloc_units(f.whole ? f.record : 1, f.unit);
    *values[i] = series_like(&f.sorted, copy);
    SeriesBuffer* s = series_buffer(copy);
    size_t bytes = f.whole ? width : f.unit;
    std::memcpy(s->head_ptr(), records.data() + i * width, bytes);
    s->tail = s->head + uint32_t(bytes);
    if (!f.whole) *values[i] = string_element_at(values[i], 0);
  }
  // "x against y" asks the function about y then x (x then y under /reverse).
  return sort_compare_by_function(f.function, f.reverse ? values[0] : values[1],
                                  f.reverse ? values[1] : values[0], stack_push());
}

}  // namespace

Cell* string_sort(Cell* series, const SortArgs& args) {
  const Node node = series->node();
  const SortPlan& plan = args.plan;
  const int64_t start = plan.start, size = plan.record, offset = plan.offset;
  int64_t count = plan.count;
  const bool function = plan.comparator != nullptr;
  // A /part before the head sorts from there: the head moves back to it.
  if (start != string_head_index(series)) series->set_head(int32_t(start));
  if (count == 0) return series;

  SeriesChange change(series, kOwnerSort, int32_t(start), int32_t(count));
  // The owner's handler may have cut the text: whole records that remain.
  count = std::max<int64_t>(std::min<int64_t>(count, string_total_length(series) - start), 0) / size * size;
  const uint32_t unit = series_buffer(node)->unit();
  const size_t records = size_t(count / size);
  const size_t width = size_t(size) * unit;
  const KeyKind kind = key_kind(series);
  if (function) {
    SortPlace place{node, unit, uint32_t(start)};
    FunctionSort f{plan.comparator, *series, unit, uint32_t(size), args.all, args.reverse};
    SortArray array{locate_records, reinterpret_cast<intptr_t>(&place), records, width};
    if (args.stable)
      sort_merge_movable(array, reinterpret_cast<intptr_t>(&f), 0, compare_with_function);
    else
      sort_adaptive_movable(array, reinterpret_cast<intptr_t>(&f), 0, compare_with_function);
  } else {
    SortKey key{unit,
                uint32_t(offset),
                args.all ? uint32_t(size) : 1,
                kind,
                kind == KeyKind::kText && !args.case_,
                args.reverse};
    SortComparator cmp = compare_records;
    if (size == 1 && (kind == KeyKind::kText || kind == KeyKind::kBytes)) {
      cmp = with_text_unit(unit, [&](auto* tag) {
        return text_comparator<std::remove_pointer_t<decltype(tag)>>(key.fold, key.reverse);
      });
    }
    uint8_t* base = series_buffer(node)->head_ptr() + size_t(start) * unit;
    if (args.stable)
      sort_merge(base, records, width, reinterpret_cast<intptr_t>(&key), 0, cmp);
    else
      sort_adaptive(base, records, width, reinterpret_cast<intptr_t>(&key), 0, cmp);
  }
  change.done(int32_t(start), int32_t(count));
  return series;
}

// ---------------------------------------------------------------- change-case

Cell* change_case(Cell* value, Cell* part, bool upper) {
  if (value->is(kTypeChar)) {
    char_set(value, case_map(char_get(value), upper));
    return value;
  }
  if (!is_any_string(value->type())) raise_error(kErrScriptInvalidArg, value);
  const Node node = value->node();
  const int32_t head = string_clamp_head(value);
  int64_t n = string_total_length(value) - head;
  if (part) n = std::clamp<int64_t>(part_limit_of(value, part).count, 0, n);
  const uint32_t end = uint32_t(head + n);
  for (uint32_t i = uint32_t(head); i < end;) {
    SeriesBuffer* b = series_buffer(node);
    i += uint32_t(case_map_units(b->head_ptr() + size_t(i) * b->unit(), b->unit(), end - i, upper));
    if (i < end) {
      // A mapping the unit cannot hold (only from unit 1): widen by storing it.
      string_write_char(node, i, case_map(string_char_at_node(node, i), upper));
      i++;
    }
  }
  notify_owner(value, upper ? kOwnerUppercase : kOwnerLowercase, head, int32_t(n));
  return value;
}

}  // namespace kiv

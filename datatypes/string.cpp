// string! storage, access and conversion: construction and loading, the
// code-point readers and writers (with widening), concatenation, and the
// make, to, compare and path-access handlers. Cell layout: datatypes/string.h.
//
// Invariants: every writer widens before it stores a code point that does not
// fit the unit and re-derives the buffer after anything that may allocate;
// room is counted from the buffer's head; no read or write leaves the units
// between the buffer's head and its tail, whatever head index a cell carries.
#include "datatypes/string.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/char.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/form.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "platform/process.h"
#include "runtime/case_fold.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"
#include "runtime/ownership.h"
#include "runtime/stack.h"

namespace kiv {

// ---------------------------------------------------------------- construction

Cell* string_make_at(Cell* out, uint32_t capacity) { return string_init_unit(out, capacity, 1); }

Cell* string_init_unit(Cell* out, uint32_t n, uint32_t unit) {
  check_text_unit(unit);
  *out = make_cell(kTypeUnset);
  Node node = series_alloc_units(n, unit);
  *out = make_cell(kTypeString, 0, node, 0);
  return out;
}

Cell* push_string(const Cell* str) {
  Cell* c = stack_push_cell(str);
  string_set_conversion_node(c, 0);
  return c;
}

Cell* load_string(ByteSource src, uint32_t n, Cell* out, int32_t encoding) {
  if (encoding != kEncodingUtf8 && encoding != kEncodingUtf16le) {
    static const char kMessage[] = "*** Loading Error: input encoding unsupported\n";
    write_all(1, kMessage, sizeof kMessage - 1);
    fatal_exit(kFatalSilent, 0);
  }
  if (!out) out = stack_push();
  *out = make_cell(kTypeUnset);
  Node node = encoding == kEncodingUtf8 ? load_utf8_new(src, n) : load_utf16le(src, n / 2, nullptr, false);
  *out = make_cell(kTypeString, 0, node, 0);
  return out;
}

Cell* string_load_push(ByteSource src, uint32_t n, int32_t encoding) {
  return load_string(src, n, nullptr, encoding);
}

Cell* file_load_push(ByteSource src, uint32_t n, int32_t encoding) {
  Cell* c = load_string(src, n, nullptr, encoding);
  c->set_type(kTypeFile);
  return c;
}

Cell* string_load_append(const Cell* block, ByteSource src, uint32_t n, int32_t encoding) {
  // Loaded on the data stack first: the block's cells move when it grows.
  StackSave save;
  Cell* loaded = load_string(src, n, nullptr, encoding);
  Cell* c = block_append_cell(block);
  *c = *loaded;
  return c;
}

// ---------------------------------------------------------------- reading

int32_t string_clamp_head(Cell* str) {
  int32_t head = string_head_index(str);
  if (str->head() > head) str->set_head(head);
  return head;
}

int32_t string_length_clamped(Cell* str) {
  string_clamp_head(str);
  return string_length(str);
}

bool string_at_tail_q(const Cell* str) { return string_length(str) == 0; }

int32_t string_find_char(const Cell* str, uint32_t cp) {
  SeriesBuffer* b = series_buffer(str->node());
  uint32_t head = uint32_t(string_head_index(str));
  uint32_t total = b->length();
  return with_text_unit(b->unit(), [&](auto* tag) -> int32_t {
    using U = std::remove_pointer_t<decltype(tag)>;
    const uint8_t* base = b->head_ptr();
    for (uint32_t i = head; i < total; i++) {
      U v;
      std::memcpy(&v, base + size_t(i) * sizeof(U), sizeof(U));
      if (v == cp) return int32_t(i - head);
    }
    return -1;
  });
}

bool string_starts_with_cstring_q(const Cell* str, const char* text) {
  uint32_t n = uint32_t(std::strlen(text));
  if (uint32_t(string_length(str)) < n) return false;
  uint32_t head = uint32_t(string_head_index(str));
  for (uint32_t i = 0; i < n; i++)
    if (string_char_at(str, head + i) != uint8_t(text[i])) return false;
  return true;
}

bool string_char_in_q(const Cell* str, uint32_t cp, int32_t record_size, bool case_sensitive) {
  if (record_size < 1) record_size = 1;
  uint32_t head = uint32_t(string_head_index(str));
  uint32_t total = uint32_t(string_total_length(str));
  if (!case_sensitive) cp = case_map_upper(cp);
  for (uint64_t i = head; i < total; i += uint32_t(record_size)) {
    uint32_t c = string_char_at(str, uint32_t(i));
    if ((case_sensitive ? c : case_map_upper(c)) == cp) return true;
  }
  return false;
}

// ---------------------------------------------------------------- writing

SeriesBuffer* string_reserve_slow(Node node, uint64_t extra, uint32_t unit) {
  SeriesBuffer* b = series_buffer(node);
  uint32_t old = b->unit();
  check_text_unit(old);
  check_text_unit(unit);
  uint32_t wide = unit > old ? unit : old;
  uint64_t length = (b->tail - b->head) >> std::countr_zero(old);  // units are 1, 2 or 4 bytes
  uint64_t need = (length + extra) * wide;
  if (need > kMaxCapacity) raise_error(kErrInternalNoMemory);
  if (b->head + need > b->capacity)
    b = series_expand(node, int64_t(series_grown_capacity(b->capacity, need)));
  // The room is there now, so the widening copies in place without growing.
  if (wide > old) b = widen_series(node, wide, uint32_t(extra));
  return b;
}

SeriesBuffer* append_char(Node node, uint32_t cp) {
  SeriesBuffer* b = series_buffer(node);
  uint32_t unit = b->unit();
  uint32_t need = cp < 0x80 ? 1 : cp < 0x10000 ? 2 : 4;
  if (need > unit || b->tail + unit > b->capacity) {
    b = string_reserve(node, 1, need);
    unit = b->unit();
  }
  unit_put(b->tail_ptr(), unit, cp);
  b->tail += unit;
  return b;
}

SeriesBuffer* string_write_char(Node node, uint32_t index, uint32_t cp) {
  SeriesBuffer* b = series_buffer(node);
  fatal_assert(index < b->length());
  uint32_t need = unit_for_code_point(cp);
  if (need > b->unit()) b = widen_series(node, need, 0);
  unit_put(b->head_ptr() + size_t(index) * b->unit(), b->unit(), cp);
  return b;
}

SeriesBuffer* string_overwrite_char(Node node, uint32_t index, uint32_t cp) {
  SeriesBuffer* b = series_buffer(node);
  uint32_t total = b->length();
  fatal_assert(index <= total);
  if (index < total) return string_write_char(node, index, cp);
  b = string_reserve(node, 1, unit_for_code_point(cp));
  unit_put(b->tail_ptr(), b->unit(), cp);
  b->tail += b->unit();
  return b;
}

SeriesBuffer* string_open_gap(Node node, uint32_t index, uint32_t n, uint32_t unit) {
  fatal_assert(index <= series_buffer(node)->length());
  SeriesBuffer* b = string_reserve(node, n, unit);
  uint32_t u = b->unit();
  uint8_t* at = b->head_ptr() + size_t(index) * u;
  std::memmove(at + size_t(n) * u, at, b->tail_ptr() - at);
  b->tail += n * u;
  return b;
}

SeriesBuffer* string_insert_char(Node node, uint32_t index, uint32_t cp) {
  SeriesBuffer* b = string_open_gap(node, index, 1, unit_for_code_point(cp));
  unit_put(b->head_ptr() + size_t(index) * b->unit(), b->unit(), cp);
  return b;
}

void string_remove_part(Node node, uint32_t index, uint32_t n) {
  SeriesBuffer* b = series_buffer(node);
  uint32_t total = b->length();
  if (index >= total || n == 0) return;
  if (n > total - index) n = total - index;
  uint32_t u = b->unit();
  uint8_t* at = b->head_ptr() + size_t(index) * u;
  uint8_t* rest = at + size_t(n) * u;
  std::memmove(at, rest, b->tail_ptr() - rest);
  b->tail -= n * u;
}

void string_reset(Cell* str) {
  SeriesBuffer* b = series_buffer(str->node());
  b->flags = (b->flags & ~kSeriesUnitMask) | 1;
  b->tail = b->head;
  str->set_head(0);
}

void string_buffer_truncate(Node node, uint32_t n) {
  SeriesBuffer* b = series_buffer(node);
  if (b->length() > n) b->tail = b->head + n * b->unit();
}

void string_truncate(Cell* str, int32_t length) {
  if (length < 0) length = 0;
  string_buffer_truncate(str->node(), uint32_t(string_head_index(str)) + uint32_t(length));
}

void string_rotate_blocks(Node node, uint32_t index, uint32_t n1, uint32_t n2) {
  SeriesBuffer* b = series_buffer(node);
  fatal_assert(uint64_t(index) + n1 + n2 <= b->length());
  uint32_t u = b->unit();
  uint8_t* first = b->head_ptr() + size_t(index) * u;
  std::rotate(first, first + size_t(n1) * u, first + size_t(n1 + n2) * u);
}

namespace {

// Copies [n] units of width [from] at [src] to [dst] as units of width [to] (>= from).
void copy_units(uint8_t* dst, uint32_t to, const uint8_t* src, uint32_t from, uint32_t n) {
  if (to == from) {
    std::memmove(dst, src, size_t(n) * to);
    return;
  }
  for (uint32_t i = 0; i < n; i++) unit_put(dst + size_t(i) * to, to, unit_get(src + size_t(i) * from, from));
}

}  // namespace

int32_t string_concatenate(Cell* dst, const Cell* src, int32_t part, int32_t offset, ConcatMode mode) {
  Node from = src->node();
  Node to = dst->node();
  uint32_t src_unit = series_buffer(from)->unit();
  check_text_unit(src_unit);
  uint32_t src_head = uint32_t(string_head_index(src));
  uint32_t n = uint32_t(string_length(src));
  if (part >= 0 && uint32_t(part) < n) n = uint32_t(part);
  if (n == 0) return 0;
  // A source in the destination's own buffer is copied aside first: opening a gap moves it.
  std::vector<uint8_t> aside;
  if (from == to) {
    const uint8_t* p = series_buffer(from)->head_ptr() + size_t(src_head) * src_unit;
    aside.assign(p, p + size_t(n) * src_unit);
  }
  uint32_t total = uint32_t(string_total_length(dst));
  uint64_t pos = total;
  if (mode != ConcatMode::kAppend) {
    int64_t p = int64_t(string_head_index(dst)) + offset;
    pos = p < 0 ? 0 : p > int64_t(total) ? total : uint64_t(p);
  }
  SeriesBuffer* b;
  if (mode == ConcatMode::kInsert) {
    b = string_open_gap(to, uint32_t(pos), n, src_unit);
  } else {
    uint64_t end = pos + n;
    b = string_reserve(to, end > total ? end - total : 0, src_unit);
  }
  uint32_t u = b->unit();
  const uint8_t* s =
      aside.empty() ? series_buffer(from)->head_ptr() + size_t(src_head) * src_unit : aside.data();
  copy_units(b->head_ptr() + size_t(pos) * u, u, s, src_unit, n);
  if (mode != ConcatMode::kInsert) {
    uint32_t end = b->head + uint32_t(pos + n) * u;
    if (end > b->tail) b->tail = end;
  }
  return int32_t(n);
}

int32_t string_append_bytes(Cell* str, const uint8_t* bytes, uint32_t n) {
  if (n == 0) return 0;
  SeriesBuffer* b = string_reserve(str->node(), n, 1);
  uint32_t u = b->unit();
  copy_units(b->tail_ptr(), u, bytes, 1, n);
  b->tail += n * u;
  return int32_t(n);
}

int32_t string_append_c_string(Cell* str, std::string_view text) {
  return string_append_bytes(str, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
}

int32_t string_append_utf8(Cell* str, std::string_view text) {
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  uint32_t length = uint32_t(text.size());
  // First pass: validate, count, and find the unit the text needs.
  uint32_t count = 0;
  uint32_t unit = 1;
  for (uint32_t pos = 0; pos < length; count++) {
    uint32_t used = length - pos;
    int32_t cp = utf8_decode_char(s + pos, &used);
    if (cp < 0) raise_invalid_utf8(s + pos, length - pos);
    unit = std::max(unit, unit_for_code_point(uint32_t(cp)));
    pos += used;
  }
  if (count == 0) return 0;
  SeriesBuffer* b = string_reserve(str->node(), count, unit);
  uint32_t u = b->unit();
  uint8_t* out = b->tail_ptr();
  for (uint32_t pos = 0, i = 0; pos < length; i++) {
    uint32_t used = length - pos;
    unit_put(out + size_t(i) * u, u, uint32_t(utf8_decode_char(s + pos, &used)));
    pos += used;
  }
  b->tail += count * u;
  return int32_t(count);
}

HexDigits string_byte_to_hex(uint8_t byte) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return HexDigits{{kDigits[byte >> 4], kDigits[byte & 15], 0}, 2};
}

HexDigits string_int_to_hex(int32_t n, bool minimal) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  HexDigits h{};
  uint32_t v = uint32_t(n);
  for (int i = 7; i >= 0; i--, v >>= 4) h.text[i] = kDigits[v & 15];
  h.length = 8;
  if (minimal) {
    uint32_t skip = 0;
    while (skip < 8 && h.text[skip] == '0') skip++;
    if (skip == 8) skip = 6;  // zero: "00"
    std::memmove(h.text, h.text + skip, 8 - skip);
    h.length = 8 - skip;
  }
  h.text[h.length] = 0;
  return h;
}

std::string string_to_utf8(const Cell* str) {
  SeriesBuffer* b = series_buffer(str->node());
  uint32_t unit = b->unit();
  uint32_t head = uint32_t(string_head_index(str));
  uint32_t total = b->length();
  std::string out;
  out.reserve(total - head);
  uint8_t bytes[4];
  for (uint32_t i = head; i < total; i++) {
    uint32_t cp = unit_get(b->head_ptr() + size_t(i) * unit, unit);
    if (cp > kMaxCodePoint) cp = 0xFFFD;
    out.append(reinterpret_cast<char*>(bytes), size_t(utf8_put(bytes, cp) - bytes));
  }
  return out;
}

// ---------------------------------------------------------------- comparison

namespace {

// -1, 0 or 1 comparing the [n] code points at [pa] and [pb], units of [UA]
// and [UB] bytes (0: of [ua] and [ub] bytes), folded to upper case when [fold].
template <uint32_t UA, uint32_t UB>
int compare_units(const uint8_t* pa, const uint8_t* pb, uint32_t n, bool fold, uint32_t ua = UA,
                  uint32_t ub = UB) {
  for (uint32_t i = 0; i < n; i++) {
    uint32_t ca = unit_get(pa + size_t(i) * ua, ua);
    uint32_t cb = unit_get(pb + size_t(i) * ub, ub);
    if (ca == cb) continue;
    if (fold) {
      ca = case_map_upper(ca);
      cb = case_map_upper(cb);
      if (ca == cb) continue;
    }
    return ca < cb ? -1 : 1;
  }
  return 0;
}

}  // namespace

int string_compare_core(const Cell* a, const Cell* b, CompareOp op, int match_mode) {
  bool same = a->node() == b->node() && a->head() == b->head();
  if (op == kCmpSame) return same ? 0 : -1;
  bool equality = op == kCmpEqual || op == kCmpNotEqual || op == kCmpStrictEqual || op == kCmpFindEqual;
  if (same && equality) return 0;
  uint32_t la = uint32_t(string_length(a));
  uint32_t lb = uint32_t(string_length(b));
  uint32_t n;
  if (match_mode == 0) {
    if (la == 0 && lb == 0) return 0;
    if (la != lb) {
      if (equality) return 1;
      if (lb == 0) return 1;
    }
    n = std::min(la, lb);
  } else {
    if (lb == 0) return op == kCmpFindEqual ? 1 : 0;
    if (la < lb) return 1;
    n = lb;
  }
  if (la == 0) return -1;
  bool fold = op != kCmpStrictEqual && op != kCmpCaseSort;
  SeriesBuffer* ba = series_buffer(a->node());
  SeriesBuffer* bb = series_buffer(b->node());
  uint32_t ua = ba->unit(), ub = bb->unit();
  const uint8_t* pa = ba->head_ptr() + size_t(string_head_index(a)) * ua;
  const uint8_t* pb = bb->head_ptr() + size_t(string_head_index(b)) * ub;
  int order = ua == 1 && ub == 1 ? compare_units<1, 1>(pa, pb, n, fold)
                                 : compare_units<0, 0>(pa, pb, n, fold, ua, ub);
  if (order != 0) return order;
  if (match_mode == 0 && la != lb) return la < lb ? -1 : 1;
  return 0;
}

// ---------------------------------------------------------------- access

void string_poke_char(Cell* series, int64_t index, Cell* value, const Cell* boxed) {
  if (!value->is(kTypeChar)) raise_error(kErrScriptInvalidArg, value);
  if (index < 0 || index >= string_total_length(series)) raise_error(kErrScriptOutOfRange, boxed);
  uint32_t cp = char_get(value);
  if (cp > kMaxCodePoint) raise_error(kErrScriptInvalidChar, value);
  SeriesChange change(series, kOwnerPoke, int32_t(index), 1, value);
  // The owner's handler may have shortened the text.
  if (index >= string_total_length(series)) raise_error(kErrScriptOutOfRange, boxed);
  string_write_char(series->node(), uint32_t(index), cp);
  change.done(int32_t(index), 1, value);
}

namespace {

// A new string! of 16 units pushed on the data stack.
Cell* push_new_string() { return string_make_at(stack_push(), 16); }

// ---------------------------------------------------------------- make and to

Cell* string_to(Cell* proto, const MakeArgs& args) {
  TypeId type = make_target_type(proto);
  Cell* out;
  TypeId from = args.spec->type();
  if (is_any_string(from)) {
    out = stack_push_value(kUnsetCell);
    uint32_t head = uint32_t(string_head_index(args.spec));
    uint32_t count = uint32_t(string_length(args.spec));
    uint32_t unit = string_unit(args.spec);
    Node copy = series_alloc(count ? count : 1, unit, 0);
    SeriesBuffer* source = series_buffer(args.spec->node());
    SeriesBuffer* target = series_buffer(copy);
    std::memcpy(target->head_ptr(), source->head_ptr() + size_t(head) * unit, size_t(count) * unit);
    target->tail = target->head + count * unit;
    *out = make_cell(kTypeString, 0, copy, 0);
  } else if (from == kTypeBinary) {
    out = stack_push_value(kUnsetCell);
    SeriesBuffer* b = series_buffer(args.spec->node());
    int64_t head = args.spec->head() < 0 ? 0 : args.spec->head();
    uint32_t total = b->tail - b->head;
    uint32_t start = head > total ? total : uint32_t(head);
    uint32_t remaining = 0;
    Node node = load_utf8(ByteSource::series(args.spec->node(), start), total - start, 0, &remaining, false);
    *out = make_cell(kTypeString, 0, node, 0);
    if (remaining) {
      b = series_buffer(args.spec->node());
      raise_invalid_utf8(b->tail_ptr() - remaining, remaining);
    }
  } else if (is_any_list(from)) {
    out = push_new_string();
    Node block = args.spec->node();
    int32_t head = args.spec->head() < 0 ? 0 : args.spec->head();
    // Each value formed in turn, nothing between them; the block may move meanwhile.
    for (uint32_t i = uint32_t(head);; i++) {
      SeriesBuffer* b = series_buffer(block);
      if (i >= b->tail / sizeof(Cell) - b->head / sizeof(Cell)) break;
      StackSave save;
      Cell* item = stack_push_value(b->head_cell()[i]);
      form_whole(item, out);
    }
  } else if (from == kTypeRefinement) {
    out = push_new_string();
    if (type == kTypeString)
      form_whole(args.spec, out);
    else
      mold_whole(args.spec, out);
  } else if (from == kTypeNone) {
    Cell datatype = datatype_cell(type);
    raise_error(kErrScriptBadToArg, &datatype, args.spec);
  } else {
    out = push_new_string();
    form_whole(args.spec, out);
  }
  out->set_type(type);
  return out;
}

Cell* string_make(Cell* proto, const MakeArgs& args) {
  TypeId type = make_target_type(proto);
  if (args.spec->is(kTypeInteger) || args.spec->is(kTypeFloat)) {
    int32_t n = float_to_int(args.spec);
    if (n < 0) raise_error(kErrScriptOutOfRange, args.spec);
    Cell* out = string_make_at(stack_push(), uint32_t(n));
    out->set_type(type);
    return out;
  }
  if (type == kTypeBinary) {
    if (args.spec->is(kTypeMoney)) {
      Cell datatype = datatype_cell(type);
      raise_error(kErrScriptBadMakeArg, &datatype, args.spec);
    }
    return action_handler<&ActionSlots::to>(kTypeBinary, kActionTo)(proto, args);
  }
  return string_to(proto, args);
}

// ---------------------------------------------------------------- compare and path access

int string_compare(Cell* value, const CompareArgs& args) {
  if (value->type() != args.value2->type()) {
    if (is_any_string(args.value2->type()) && (args.op == kCmpEqual || args.op == kCmpNotEqual))
      return string_compare_core(value, args.value2, args.op, 0);
    return kNotComparable;
  }
  return string_compare_core(value, args.value2, args.op, 0);
}

// The code point (a byte in a binary!) after the match's first one.
Cell* string_set_after(Cell* found, const EvalPathArgs& args) {
  Cell boxed = integer_cell(2);
  if (found->is(kTypeBinary)) {
    // A byte, through series! poke: a binary! never takes a code point, which
    // would widen its buffer.
    PokeArgs poke;
    poke.index = &boxed;
    poke.value = args.value;
    poke.position = 2;
    series_poke(found, poke);
    return args.value;
  }
  string_poke_char(found, int64_t(found->head()) + 1, args.value, &boxed);
  return args.value;
}

// Any element but an integer reads or sets the code point after a match of it.
Cell* string_eval_path(Cell* parent, const EvalPathArgs& args) {
  return action_eval_path_by_key(parent, args, string_set_after);
}

}  // namespace

namespace {

void string_mark(const Cell* value) {
  gc_mark_series(value->node());
  gc_mark_series(string_conversion_node(value));
}

uint32_t string_hash(const Cell* value) { return hash_string(value, false); }

void string_verify(const Cell* value) {
  Node n = value->node();
  if (node_in_use(n)) {
    uint32_t unit = series_buffer(n)->unit();
    if (unit != 1 && unit != 2 && unit != 4) gc_verify_fault("text buffer of a bad unit", n, unit);
  }
}

// file!, url!, tag!, email! and ref! share these through their parent.
constexpr TypeHooks kStringHooks{.mark = string_mark, .hash = string_hash, .verify = string_verify};

Cell string_unit_value(const Cell* text, int32_t index) {
  return char_cell(string_char_at(text, uint32_t(index)));
}

// A unit of text takes a char! that is a code point.
void string_unit_check(const Cell*, const Cell* value) {
  if (!value->is(kTypeChar) || char_get(value) > kMaxCodePoint) raise_error(kErrScriptInvalidArg, value);
}

// MAY ALLOCATE (widening the text for a wider code point).
void string_unit_store(const Cell* text, int32_t index, const Cell* value) {
  string_write_char(text->node(), uint32_t(index), char_get(value));
}

// The units of the text family are code points; file!, url!, tag!, email!
// and ref! share this row through their parent.
constexpr TypeSlots kStringTypeSlots{.element = SeriesElement::kCodePoint,
                                     .unit_value = string_unit_value,
                                     .unit_check = string_unit_check,
                                     .unit_store = string_unit_store,
                                     .set_op = string_set_op};

}  // namespace

void string_datatype_init() {
  // series! gives the navigation and the generic modifiers; these are string!'s own.
  ActionSlots s = inherit_all_slots();
  s.make = string_make;
  s.to = string_to;
  s.form = string_form;
  s.mold = string_mold;
  s.eval_path = string_eval_path;
  s.compare = string_compare;
  // append, change, find, insert, select, sort, swap, take and trim come from
  // datatypes/string_search.cpp and datatypes/string_modify.cpp.
  s.append = string_insert;
  s.change = string_change;
  s.find = string_find;
  s.insert = string_insert;
  s.select = string_select;
  s.sort = string_sort;
  s.swap = string_swap;
  s.take = string_take;
  s.trim = string_trim;
  register_datatype({kTypeString, kTypeSeries, "string!", kActionCount, s, &kStringHooks, &kStringTypeSlots});
}

ActionSlots string_text_slots() {
  ActionSlots s = inherit_all_slots();
  s.random = nullptr;
  s.sort = nullptr;
  s.trim = nullptr;
  return s;
}

}  // namespace kiv

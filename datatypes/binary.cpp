// binary!: conversion, form and mold, comparison, the bitwise actions, trim,
// the byte helpers and the base-codec conversions of values; registration
// and the collector hooks. Insert and change: datatypes/binary_modify.cpp.
//
// Every buffer made or written here has unit 1. (No verify hook checks it:
// runtime tests root raw arrays of other units through binary! cells.)
#include "datatypes/binary.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/bitset.h"
#include "datatypes/char.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/form.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/base_codec.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/murmur3.h"
#include "runtime/ownership.h"
#include "runtime/stack.h"
#include "runtime/typesets.h"

namespace kiv {

// ---------------------------------------------------------------- construction and reading

Cell* binary_make_at(Cell* out, uint32_t capacity) {
  *out = make_cell(kTypeUnset);
  Node node = series_alloc_bytes(capacity);
  *out = binary_cell(node);
  return out;
}

Cell* binary_load_push(const uint8_t* bytes, uint32_t n) {
  Cell* out = binary_make_at(stack_push(), n);
  if (n) std::memcpy(reserve_tail(out->node(), n), bytes, n);
  return out;
}

int32_t binary_length(Cell* bin) { return series_length_clamped(bin, false); }

uint8_t* binary_head_ptr(const Cell* bin) {
  return series_buffer_of(bin)->head_ptr() + series_clamp_head(bin, series_total_length(bin));
}

bool binary_at_tail_q(const Cell* bin) { return series_at_tail_q(bin); }

void binary_append_bytes(const Cell* bin, const uint8_t* bytes, uint32_t n) {
  if (n) std::memcpy(reserve_tail(bin->node(), n), bytes, n);
}

void binary_append_int32(const Cell* bin, int32_t n) {
  uint32_t u = uint32_t(n);
  uint8_t bytes[4] = {uint8_t(u >> 24), uint8_t(u >> 16), uint8_t(u >> 8), uint8_t(u)};
  binary_append_bytes(bin, bytes, 4);
}

uint8_t binary_byte_of(const Cell* value) {
  if (value->is(kTypeInteger) && integer_get(value) >= -128 && integer_get(value) <= 255)
    return uint8_t(integer_get(value));
  if (value->is(kTypeChar) && char_get(value) <= 0xFF) return uint8_t(char_get(value));
  raise_error(kErrScriptInvalidArg, value);
}

// ---------------------------------------------------------------- comparison and matching

namespace {

bool byte_text_q(TypeId t) { return t == kTypeBinary || is_any_string(t); }

// The stored bytes of a binary! or text from its head: [p] short-lived.
struct StoredBytes {
  const uint8_t* p;
  uint32_t n;
};
StoredBytes stored_bytes(const Cell* v) {
  SeriesBuffer* b = series_buffer_of(v);
  uint32_t unit = b->unit();
  uint32_t total = b->length();
  uint32_t head = uint32_t(series_clamp_head(v, int32_t(total)));
  return {b->head_ptr() + size_t(head) * unit, (total - head) * unit};
}

}  // namespace

int any_string_compare(const Cell* a, const Cell* b, CompareOp op, bool match) {
  if (!byte_text_q(b->type())) return kNotComparable;
  bool same = a->node() == b->node() && a->head() == b->head();
  if (op == kCmpSame) return same ? 0 : -1;
  bool equality = op == kCmpEqual || op == kCmpNotEqual || op == kCmpStrictEqual || op == kCmpFindEqual;
  if (same && equality) return 0;
  StoredBytes x = stored_bytes(a), y = stored_bytes(b);
  uint32_t n;
  if (!match) {
    if (x.n != y.n && equality) return 1;
    n = std::min(x.n, y.n);
  } else {
    if (y.n == 0) return op == kCmpEqual || op == kCmpStrictEqual || op == kCmpFindEqual ? 0 : 1;
    if (x.n < y.n) return 1;
    n = y.n;
  }
  if (n) {
    int c = std::memcmp(x.p, y.p, n);
    if (c) return c < 0 ? -1 : 1;
  }
  if (!match && x.n != y.n) return x.n < y.n ? -1 : 1;
  return 0;
}

bool binary_match_bitset_q(const Cell* bin, const Cell* bitset) {
  if (binary_at_tail_q(bin)) return false;
  return bitset_bit_q(bitset->node(), *binary_head_ptr(bin));
}

bool binary_match_value_q(const Cell* bin, const Cell* pattern) {
  if (pattern->is(kTypeChar)) return !binary_at_tail_q(bin) && *binary_head_ptr(bin) == char_get(pattern);
  if (!byte_text_q(pattern->type())) return false;
  return any_string_compare(bin, pattern, kCmpEqual, true) == 0;
}

// ---------------------------------------------------------------- base codecs over values

namespace {

int32_t codec_base(const Cell* base) {
  if (!base) return 64;
  if (!base->is(kTypeInteger) || !base_codec_known_q(integer_get(base)))
    raise_error(kErrScriptInvalidArg, base);
  return integer_get(base);
}

// The room enbase gives the text of [n] bytes (more than the codec needs:
// spare for line breaks and rounding).
uint64_t enbase_room(int32_t base, uint64_t n) {
  switch (base) {
    case 64: return n / 3 * 4 + n % 3 * 4 / 3 + n / 32 * 2 + 5;
    case 58: return n * 2;
    case 16: return n * 2 + n / 32 + 32;
    default: return n * 8 + n / 8 * 2 + 4;
  }
}

}  // namespace

Cell* binary_enbase(const Cell* value, const Cell* base_arg) {
  const int32_t base = codec_base(base_arg);
  StackSave save;
  Cell* source = stack_push_cell(value);
  std::string utf8;
  if (is_any_string(source->type())) {
    utf8 = string_to_utf8(source);
  } else if (!source->is(kTypeBinary)) {
    raise_error(kErrScriptInvalidArg, source);
  }
  uint64_t n = source->is(kTypeBinary) ? uint64_t(binary_length(source)) : utf8.size();
  uint64_t room = enbase_room(base, n);
  if (room > INT32_MAX || room > kMaxCapacity) raise_error(kErrScriptTooLong);
  Cell* out = string_make_at(stack_push(), uint32_t(room));
  // Nothing allocates from here on: the pointers stay valid.
  SeriesBuffer* ob = series_buffer(out->node());
  const uint8_t* in =
      source->is(kTypeBinary) ? binary_head_ptr(source) : reinterpret_cast<const uint8_t*>(utf8.data());
  uint8_t* end = encode_base(base, ob->head_ptr(), in, size_t(n));
  ob->tail = ob->head + uint32_t(end - ob->head_ptr());
  Cell result = *out;
  save.restore();
  return stack_push_value(result);
}

Cell* binary_debase(const Cell* value, const Cell* base_arg) {
  const int32_t base = codec_base(base_arg);
  if (!byte_text_q(value->type())) raise_error(kErrScriptInvalidArg, value);
  StackSave save;
  Cell* source = stack_push_cell(value);
  int32_t total = series_total_length(source);
  int32_t head = series_clamp_head(source, total);
  int32_t count = total - head;
  Cell* out = binary_make_at(stack_push(), uint32_t(base_decode_capacity(base, uint32_t(count))));
  // Nothing allocates from here on: the pointers stay valid.
  SeriesBuffer* sb = series_buffer(source->node());
  SeriesBuffer* ob = series_buffer(out->node());
  uint32_t unit = sb->unit();
  size_t written = 0;
  bool ok =
      decode_base(base, sb->head_ptr() + size_t(head) * unit, size_t(count), unit, ob->head_ptr(), &written);
  Cell result = ok ? *out : kNoneCell;
  if (ok) ob->tail = ob->head + uint32_t(written);
  save.restore();
  return stack_push_value(result);
}

namespace {

// ---------------------------------------------------------------- to (make goes through string!'s make)

// MAY ALLOCATE. Pushes a new binary! holding [bytes].
Cell* push_bytes(const std::vector<uint8_t>& bytes) {
  return binary_load_push(bytes.data(), uint32_t(bytes.size()));
}

void put_be32(std::vector<uint8_t>* out, uint32_t u) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(uint8_t(u >> shift));
}

Cell* binary_to(Cell* proto, const MakeArgs& args) {
  Cell* spec = stack_push_cell(args.spec);
  std::vector<uint8_t> bytes;
  switch (spec->type()) {
    case kTypeInteger: put_be32(&bytes, uint32_t(integer_get(spec))); break;
    case kTypeFloat:
    case kTypePercent: {
      uint64_t u = std::bit_cast<uint64_t>(float_get(spec));
      put_be32(&bytes, uint32_t(u >> 32));
      put_be32(&bytes, uint32_t(u));
      break;
    }
    case kTypeIssue: {
      std::string name = symbol_name_text(word_symbol(spec));
      bytes.resize(base16_decode_capacity(name.size()));
      size_t written = 0;
      if (!decode_base16(reinterpret_cast<const uint8_t*>(name.data()), name.size(), 1, bytes.data(),
                         &written))
        raise_error(kErrScriptInvalidData, spec);
      bytes.resize(written);
      break;
    }
    case kTypeBitset: {
      SeriesBuffer* b = series_buffer(spec->node());
      bytes.assign(b->head_ptr(), b->tail_ptr());
      break;
    }
    case kTypeImage: return image_get_channel(spec, ImageChannel::kArgb, stack_push());
    default:
      if (spec->is(kTypeBinary) || spec->is(kTypeChar) || spec->is(kTypeTuple) || is_any_list(spec->type()) ||
          is_any_string(spec->type())) {
        binary_value_bytes(spec, ByteRule::kTo, -1, &bytes);
        break;
      }
      Cell datatype = datatype_cell(kTypeBinary);
      raise_error(kErrScriptBadToArg, &datatype, spec);
  }
  return push_bytes(bytes);
}

// ---------------------------------------------------------------- form and mold

// Appends the text of the bytes from [value]'s head to [out]: "#{" (unless
// [only]), two upper-case digits a byte, "}" (unless [only]). Past 30 bytes
// (unless [flat]) the digits start on a new line indented one level deeper,
// a line break follows every 32nd byte, and one before "}" at the outer
// level when the last line is not full. With [part], writing stops as soon as
// the budget [limit] is spent. Returns the budget left.
int32_t binary_serialize(Cell* value, Cell* out, bool only, bool flat, bool part, int32_t limit,
                         int32_t indent) {
  const int32_t size = binary_length(value);
  std::vector<uint8_t> bytes(binary_head_ptr(value), binary_head_ptr(value) + size);
  std::string text;
  int32_t budget = limit;
  auto flush = [&] {
    string_append_c_string(out, text);
    text.clear();
  };
  auto line_break = [&](int32_t level) {
    text.push_back('\n');
    flush();
    mold_indent(out, level, 0);
  };
  if (!only) {
    text += "#{";
    budget -= 2;
  }
  const int32_t inner = indent + 1;
  const bool lines = size > 30 && !flat;
  if (lines) line_break(inner);
  int32_t count = 0;
  for (uint8_t byte : bytes) {
    HexDigits hex = string_byte_to_hex(byte);
    text.append(hex.view());
    count++;
    if (count % 32 == 0 && !flat) line_break(inner);
    budget -= 2;
    if (part && budget <= 0) {
      flush();
      return budget;
    }
  }
  if (lines && count % 32 != 0) line_break(indent);
  if (!only) {
    text += "}";
    budget -= 1;
  }
  flush();
  return budget;
}

int32_t binary_form(Cell* value, const FormArgs& args) {
  return binary_serialize(value, args.buffer, false, false, false, args.limit, 0);
}

int32_t binary_mold(Cell* value, const MoldArgs& args) {
  return binary_serialize(value, args.buffer, args.only, args.flat, args.part != nullptr, args.limit,
                          args.indent);
}

// ---------------------------------------------------------------- compare

int binary_compare(Cell* value, const CompareArgs& args) {
  if (!args.value2->is(kTypeBinary)) return kNotComparable;
  return any_string_compare(value, args.value2, args.op, false);
}

// ---------------------------------------------------------------- bitwise

enum class BitOp { kAnd, kOr, kXor };

Cell* do_bitwise(Cell* value, const Cell* other, BitOp op) {
  if (!other->is(kTypeBinary)) raise_error(kErrScriptInvalidArg, other);
  StackSave save;
  Cell* a = stack_push_cell(value);
  Cell* b = stack_push_cell(other);
  const uint32_t la = uint32_t(binary_length(a)), lb = uint32_t(binary_length(b));
  const uint32_t longer = std::max(la, lb), shorter = std::min(la, lb);
  Cell* out = binary_make_at(stack_push(), longer);
  // Nothing allocates from here on: the pointers stay valid.
  uint8_t* o = series_buffer(out->node())->head_ptr();
  const uint8_t* pa = binary_head_ptr(a);
  const uint8_t* pb = binary_head_ptr(b);
  for (uint32_t i = 0; i < shorter; i++) {
    switch (op) {
      case BitOp::kAnd: o[i] = pa[i] & pb[i]; break;
      case BitOp::kOr: o[i] = pa[i] | pb[i]; break;
      case BitOp::kXor: o[i] = pa[i] ^ pb[i]; break;
    }
  }
  // The rest: zeros for and, the longer operand's own bytes for or and xor.
  if (op == BitOp::kAnd)
    std::memset(o + shorter, 0, longer - shorter);
  else
    std::memcpy(o + shorter, (la > lb ? pa : pb) + shorter, longer - shorter);
  series_buffer(out->node())->tail += longer;
  Cell result = *out;
  save.restore();
  *value = result;
  return value;
}

Cell* binary_and(Cell* value, const BinaryArgs& args) { return do_bitwise(value, args.value2, BitOp::kAnd); }
Cell* binary_or(Cell* value, const BinaryArgs& args) { return do_bitwise(value, args.value2, BitOp::kOr); }
Cell* binary_xor(Cell* value, const BinaryArgs& args) { return do_bitwise(value, args.value2, BitOp::kXor); }

// Inverts every byte from the head in place: the value's own buffer changes.
Cell* binary_complement(Cell* value, const NoneArgs&) {
  int32_t n = binary_length(value);
  if (n == 0) return value;
  uint8_t* p = binary_head_ptr(value);
  for (int32_t i = 0; i < n; i++) p[i] = uint8_t(~p[i]);
  return value;
}

// ---------------------------------------------------------------- trim

// The bytes /with names (a text, binary!, char! or integer!), as a 256-entry set.
std::vector<bool> trim_with_set(const Cell* with) {
  std::vector<bool> set(256, false);
  auto add = [&](uint32_t c) {
    if (c < 256) set[c] = true;
  };
  if (is_any_string(with->type()) || with->is(kTypeBinary)) {
    int32_t total = series_total_length(with);
    for (int32_t i = series_clamp_head(with, total); i < total; i++) add(string_char_at(with, uint32_t(i)));
  } else if (with->is(kTypeChar)) {
    add(char_get(with));
  } else if (with->is(kTypeInteger)) {
    if (integer_get(with) >= 0) add(uint32_t(integer_get(with)));
  } else {
    raise_refine_arg("with", with);
  }
  return set;
}

Cell* binary_trim(Cell* value, const TrimArgs& args) {
  std::vector<bool> set;
  if (args.with) {
    set = trim_with_set(args.with);
  } else if (args.all) {
    set.assign(256, false);
    set[0] = true;
  } else if (args.auto_ || args.lines) {
    raise_error(kErrInternalNotDone);
  }
  int32_t n = binary_length(value);
  if (n == 0) return value;
  int32_t head = value->head();
  SeriesChange change(value, kOwnerTrim, head, n);
  n = binary_length(value);
  head = value->head();
  SeriesBuffer* b = series_buffer_of(value);
  uint8_t* p = b->head_ptr() + head;
  int32_t kept;
  if (!set.empty()) {
    kept = 0;
    for (int32_t i = 0; i < n; i++)
      if (!set[p[i]]) p[kept++] = p[i];
  } else {
    // Zero bytes from the head unless /tail alone, from the tail unless /head alone.
    int32_t from = 0, to = n;
    if (!args.tail || args.head)
      while (from < to && p[from] == 0) from++;
    if (!args.head || args.tail)
      while (to > from && p[to - 1] == 0) to--;
    kept = to - from;
    std::memmove(p, p + from, size_t(kept));
  }
  b->tail = b->head + uint32_t(head + kept);
  change.done(head, kept);
  return value;
}

// ---------------------------------------------------------------- collector hooks

void binary_mark(const Cell* value) { gc_mark_series(value->node()); }

// The bytes from the head to the tail.
uint32_t binary_hash(const Cell* value) {
  if (!value->node()) return hash_murmur3(nullptr, 0);
  SeriesBuffer* b = series_buffer(value->node());
  uint64_t start = std::min<uint64_t>(uint64_t(b->head) + uint64_t(std::max(value->head(), 0)), b->tail);
  return hash_murmur3(b->data() + start, b->tail - start);
}

constexpr TypeHooks kBinaryHooks{.mark = binary_mark, .hash = binary_hash};

Cell binary_unit_value(const Cell* bytes, int32_t index) {
  return integer_cell(series_buffer(bytes->node())->head_ptr()[index]);
}

void binary_unit_check(const Cell*, const Cell* value) { binary_byte_of(value); }

void binary_unit_store(const Cell* bytes, int32_t index, const Cell* value) {
  uint8_t byte = binary_byte_of(value);
  series_buffer(bytes->node())->head_ptr()[index] = byte;
}

// The units are bytes; the set operations are text's, on bytes.
constexpr TypeSlots kBinaryTypeSlots{.element = SeriesElement::kByte,
                                     .unit_value = binary_unit_value,
                                     .unit_check = binary_unit_check,
                                     .unit_store = binary_unit_store,
                                     .set_op = string_set_op};

}  // namespace

void binary_datatype_init() {
  // string!'s row, with a byte's conversions, text, comparison, bitwise
  // actions and modifiers.
  ActionSlots s = inherit_all_slots();
  s.to = binary_to;
  s.form = binary_form;
  s.mold = binary_mold;
  s.compare = binary_compare;
  s.and_t = binary_and;
  s.complement = binary_complement;
  s.or_t = binary_or;
  s.xor_t = binary_xor;
  s.append = binary_insert;
  s.change = binary_change;
  s.insert = binary_insert;
  s.trim = binary_trim;
  register_datatype({kTypeBinary, kTypeString, "binary!", kActionCount, s, &kBinaryHooks, &kBinaryTypeSlots});
}

}  // namespace kiv

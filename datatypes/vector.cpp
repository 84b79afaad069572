// vector!: element reads and writes, make, form and mold, compare, path
// access, the collector hooks and registration (the payload is laid out in
// datatypes/vector.h).
//
// Elements are read and written only through the functions at the top of
// this file, by absolute index from the buffer's first unit and within the
// tail; every loop over a vector re-derives the buffer after a call that may
// allocate (appending text, appending to a block).
#include "datatypes/vector.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/murmur3.h"
#include "runtime/stack.h"

namespace kiv {

static_assert(std::endian::native == std::endian::little,
              "elements are the host's own little-endian numbers");

// ---------------------------------------------------------------- elements

int32_t vector_read_int(const uint8_t* p, uint32_t size) {
  switch (size) {
    case 1: return int8_t(p[0]);
    case 2: {
      int16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case 4: {
      int32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
    default: fatal_no_switch();
  }
}

double vector_read_float(const uint8_t* p, uint32_t size) {
  if (size == 4) {
    float f;
    std::memcpy(&f, p, 4);
    return f;
  }
  if (size != 8) fatal_no_switch();
  double d;
  std::memcpy(&d, p, 8);
  return d;
}

namespace {

// A char! element, zero-extended.
uint32_t read_code_point(const uint8_t* p, uint32_t size) {
  if (size != 1 && size != 2 && size != 4) fatal_no_switch();
  uint32_t v = 0;
  std::memcpy(&v, p, size);
  return v;
}

bool float_element_q(TypeId element) { return element == kTypeFloat || element == kTypePercent; }

}  // namespace

double vector_element_number(const uint8_t* p, uint32_t size, TypeId element) {
  if (float_element_q(element)) return vector_read_float(p, size);
  if (element == kTypeChar) return double(read_code_point(p, size));
  return double(vector_read_int(p, size));
}

Cell vector_get_element(const uint8_t* p, uint32_t size, TypeId element) {
  switch (element) {
    case kTypeChar: return char_cell(read_code_point(p, size));
    case kTypeInteger: return integer_cell(vector_read_int(p, size));
    case kTypeFloat:
    case kTypePercent: return float_cell(vector_read_float(p, size), element);
    default: fatal_no_switch();
  }
}

void vector_set_element(uint8_t* p, const Cell* value, uint32_t size) {
  switch (value->type()) {
    case kTypeChar:
    case kTypeInteger: {
      uint32_t bits = value->is(kTypeChar) ? char_get(value) : uint32_t(integer_get(value));
      if (size != 1 && size != 2 && size != 4) fatal_no_switch();
      std::memcpy(p, &bits, size);  // the low bytes
      return;
    }
    case kTypeFloat:
    case kTypePercent: {
      double d = float_get(value);
      if (size == 8) {
        std::memcpy(p, &d, 8);
      } else {
        if (size != 4) fatal_no_switch();
        float f = float(d);
        std::memcpy(p, &f, 4);
      }
      return;
    }
    default: raise_invalid_type(value);
  }
}

Cell vector_element_at(const Cell* vector, int32_t index) {
  SeriesBuffer* b = series_buffer_of(vector);
  return vector_get_element(series_unit_at(b, index), b->unit(), vector_element_type(vector));
}

void vector_check_value(const Cell* vector, const Cell* value) {
  if (value->type() != vector_element_type(vector)) raise_error(kErrScriptInvalidArg, value);
}

void vector_store_at(const Cell* vector, int32_t index, const Cell* value) {
  vector_check_value(vector, value);
  SeriesBuffer* b = series_buffer_of(vector);
  vector_set_element(series_unit_at(b, index), value, b->unit());
}

// ---------------------------------------------------------------- construction

Cell* vector_init(Cell* out, uint64_t capacity, TypeId element, uint32_t size) {
  *out = kUnsetCell;
  if (capacity * size > kMaxCapacity) raise_error(kErrInternalNoMemory);
  Node node = series_alloc_units(uint32_t(capacity), size);
  *out = vector_cell(node, element);
  return out;
}

Cell* vector_to_block(const Cell* vector) {
  int32_t total = series_total_length(vector);
  int32_t head = series_clamp_head(vector, total);
  Cell* block = block_push_only(std::max(total - head, 1));
  for (int32_t i = head; i < total; i++) {
    Cell element = vector_element_at(vector, i);
    block_append_value(block, &element);
  }
  return block;
}

namespace {

// ---------------------------------------------------------------- make

[[noreturn]] void raise_bad_spec(const Cell* spec) { raise_bad_make_arg(kTypeVector, spec); }
[[noreturn]] void raise_spec_field(const Cell* spec) { raise_error(kErrScriptInvalidSpecField, spec); }

// The cell at absolute [index] of the block [block] (short-lived).
const Cell* cell_at(const Cell* block, int32_t index) { return series_buffer_of(block)->head_cell() + index; }

// The element type a spec word names (letter case ignored), or nil.
TypeId element_type_named(const Cell* word) {
  int32_t symbol = word_symbol(word);
  if (runtime_symbol_q(symbol, kSymIntegerType)) return kTypeInteger;
  if (runtime_symbol_q(symbol, kSymCharType)) return kTypeChar;
  if (runtime_symbol_q(symbol, kSymFloatType)) return kTypeFloat;
  if (runtime_symbol_q(symbol, kSymPercentType)) return kTypePercent;
  return kTypeNil;
}

// The element size [bits] asks for of [element] type, or 0 when it has no such
// size. percent! elements are 64 bits whatever is asked.
uint32_t size_for_bits(TypeId element, int32_t bits) {
  if (element == kTypePercent) return 8;
  if (element == kTypeFloat) return bits == 32 ? 4 : bits == 64 ? 8 : 0;
  return bits == 8 ? 1 : bits == 16 ? 2 : bits == 32 ? 4 : 0;
}

// MAY ALLOCATE. Pushes a vector of [element] type and [size]-byte elements
// holding the values of the block [values] (null: none) from its head, then
// zero elements up to [count] when it is larger. A value of another type than
// [element] raises script invalid-arg.
Cell* push_filled(TypeId element, uint32_t size, int64_t count, const Cell* values) {
  int32_t from = 0, n = 0;
  if (values) {
    int32_t total = series_total_length(values);
    from = series_clamp_head(values, total);
    n = total - from;
  }
  int64_t length = std::max<int64_t>(count, n);
  Cell* out = vector_init(stack_push(), uint64_t(length), element, size);
  // Nothing allocates from here on: both buffers stay where they are.
  SeriesBuffer* b = series_buffer_of(out);
  uint8_t* p = b->head_ptr();
  for (int32_t i = 0; i < n; i++) {
    const Cell* value = cell_at(values, from + i);
    vector_check_value(out, value);
    vector_set_element(p + size_t(i) * size, value, size);
  }
  std::memset(p + size_t(n) * size, 0, size_t(length - n) * size);
  b->tail = b->head + uint32_t(length) * size;
  return out;
}

// MAY ALLOCATE. make vector! from a block: values, or a spec
// [type-word bits count [values]] (bits optional for percent!, one of count
// and values may be left out).
Cell* make_from_block(const Cell* spec) {
  int32_t total = series_total_length(spec);
  int32_t head = series_clamp_head(spec, total);
  if (head == total) return push_filled(kTypeInteger, 4, 0, nullptr);
  Cell first = *cell_at(spec, head);
  if (!first.is(kTypeWord)) {
    TypeId element = first.type();
    if (!vector_element_type_q(element)) raise_invalid_type(&first);
    return push_filled(element, vector_default_size(element), 0, spec);
  }
  if (total - head < 2) raise_bad_spec(spec);
  TypeId element = element_type_named(&first);
  if (element == kTypeNil) raise_bad_spec(spec);
  int32_t i = head + 1;
  uint32_t size;
  if (cell_at(spec, i)->is(kTypeInteger)) {
    size = size_for_bits(element, integer_get(cell_at(spec, i)));
    if (size == 0) raise_bad_spec(spec);
    i++;
  } else if (element == kTypePercent) {
    size = 8;
  } else {
    raise_spec_field(spec);
  }
  int64_t count = 0;
  bool counted = false;
  if (i < total && cell_at(spec, i)->is(kTypeInteger)) {
    count = integer_get(cell_at(spec, i));
    counted = true;
    i++;
  }
  const Cell* values = nullptr;
  if (i < total && cell_at(spec, i)->is(kTypeBlock))
    values = stack_push_cell(cell_at(spec, i));
  else if (!counted || i < total)
    raise_spec_field(spec);
  return push_filled(element, size, count, values);
}

Cell* vector_make(Cell* proto, const MakeArgs& args) {
  const Cell* spec = args.spec;
  switch (spec->type()) {
    case kTypeInteger:
    case kTypeFloat: return push_filled(kTypeInteger, 4, std::max(float_to_int(spec), 0), nullptr);
    case kTypeBlock: return make_from_block(spec);
    default: raise_error(kErrInternalNotDone);
  }
}

// ---------------------------------------------------------------- form and mold

// MAY ALLOCATE. Appends the text of [element] (a value read out of a vector of
// [size]-byte elements); a char! molded as #"..." when [mold]. Returns the
// code points appended.
int32_t append_element(Cell* buffer, const Cell& element, uint32_t size, bool mold, bool all) {
  switch (element.type()) {
    case kTypeInteger: return string_append_c_string(buffer, integer_to_text(integer_get(&element)));
    case kTypeChar: {
      if (!mold) return string_mold_char(buffer, char_get(&element), kMoldCharEscape, false);
      int32_t n = string_append_c_string(buffer, "#\"");
      n += string_mold_char(buffer, char_get(&element), kMoldCharEscape, all);
      return n + string_append_c_string(buffer, "\"");
    }
    case kTypeFloat:
      return string_append_c_string(
          buffer, float_form(float_get(&element), size == 4 ? kFormFloat32 : kFormFloat).view());
    case kTypePercent:
      return string_append_c_string(
          buffer, float_form(float_get(&element) * 100.0, size == 4 ? kFormPercent32 : kFormPercent).view());
    default: fatal_no_switch();
  }
}

// MAY ALLOCATE. Appends the elements from [vector]'s head separated by single
// spaces, taking their code points from *[limit]; under /part ([part]) it
// stops once the limit is 0 or less.
void write_elements(const Cell* vector, Cell* buffer, int32_t* limit, bool part, bool mold, bool all) {
  int32_t total = series_total_length(vector);
  int32_t head = series_clamp_head(vector, total);
  uint32_t size = vector_size(vector);
  for (int32_t i = head; i < total; i++) {
    if (part && *limit <= 0) return;
    if (i > head) *limit -= string_append_c_string(buffer, " ");
    Cell element = vector_element_at(vector, i);  // read again after every append
    *limit -= append_element(buffer, element, size, mold, all);
  }
}

int32_t vector_form(Cell* value, const FormArgs& args) {
  int32_t limit = args.limit;
  write_elements(value, args.buffer, &limit, args.part != nullptr, false, false);
  return limit;
}

// "make vector! [1 2 3]" for elements of the default size, else (and for an
// empty buffer) "make vector! [integer! 8 [1 2 3]]"; /only leaves out
// "make vector! [" and its closing bracket.
int32_t vector_mold(Cell* value, const MoldArgs& args) {
  int32_t limit = args.limit;
  Cell* buffer = args.buffer;
  if (!args.only) limit -= string_append_c_string(buffer, "make vector! [");
  TypeId element = vector_element_type(value);
  uint32_t size = vector_size(value);
  bool spelled = series_total_length(value) == 0 || size != vector_default_size(element);
  if (spelled) {
    limit -= string_append_c_string(buffer, type_name(element));
    limit -= string_append_c_string(buffer, " ");
    limit -= string_append_c_string(buffer, integer_to_text(int32_t(size * 8)));
    limit -= string_append_c_string(buffer, " [");
  }
  write_elements(value, buffer, &limit, args.part != nullptr, true, args.all);
  if (spelled) limit -= string_append_c_string(buffer, "]");
  if (!args.only) limit -= string_append_c_string(buffer, "]");
  return limit;
}

// ---------------------------------------------------------------- compare

bool equality_op_q(CompareOp op) {
  return op == kCmpEqual || op == kCmpNotEqual || op == kCmpStrictEqual || op == kCmpFindEqual;
}

// Element by element from the two heads, as numbers (two floats of which one
// is NaN count as equal); when the common part is equal the shorter vector is
// first. The equalities answer 1 at once for different lengths; same asks for
// the same buffer and head.
int vector_compare(Cell* value, const CompareArgs& args) {
  const Cell* other = args.value2;
  if (!other->is(kTypeVector)) return kNotComparable;
  TypeId element = vector_element_type(value);
  if (vector_element_type(other) != element) raise_error(kErrScriptNotSameType);
  bool shared = value->node() == other->node() && value->head() == other->head();
  if (args.op == kCmpSame) return shared ? 0 : -1;
  if (shared && equality_op_q(args.op)) return 0;
  int32_t ta = series_total_length(value), tb = series_total_length(other);
  int32_t ha = series_clamp_head(value, ta), hb = series_clamp_head(other, tb);
  int32_t la = ta - ha, lb = tb - hb;
  if (la != lb && equality_op_q(args.op)) return 1;
  SeriesBuffer* a = series_buffer_of(value);
  SeriesBuffer* b = series_buffer_of(other);
  uint32_t sa = a->unit(), sb = b->unit();
  for (int32_t i = 0, n = std::min(la, lb); i < n; i++) {
    double x = vector_element_number(series_unit_at(a, ha + i), sa, element);
    double y = vector_element_number(series_unit_at(b, hb + i), sb, element);
    if (x < y) return -1;
    if (x > y) return 1;
  }
  return la < lb ? -1 : la > lb ? 1 : 0;
}

// ---------------------------------------------------------------- path access

// The element after the match's first one, stored as poke stores it.
Cell* vector_set_after(Cell* found, const EvalPathArgs& args) {
  PokeArgs poke;
  poke.index = stack_push_value(integer_cell(2));
  poke.value = args.value;
  poke.position = 2;
  return action_poke(found, poke);
}

// MAY ALLOCATE, MAY RUN KIV CODE. An integer picks or pokes; any other value
// reads the element after a match of it, or sets that element.
Cell* vector_eval_path(Cell* parent, const EvalPathArgs& args) {
  return action_eval_path_by_key(parent, args, vector_set_after);
}

// ---------------------------------------------------------------- hooks

void vector_mark(const Cell* value) { gc_mark_series(value->node()); }

// Equal vectors (compare) hash alike: the element type and the elements from
// the head as numbers, 0 and -0 as one, every NaN as one.
uint32_t vector_hash(const Cell* value) {
  uint32_t h = kHashSeed ^ vector_element_type(value);
  Node node = value->node();
  if (!node_in_use(node)) return murmur3_finish(h, 0);
  TypeId element = vector_element_type(value);
  int32_t total = series_total_length(value);
  int32_t head = series_clamp_head(value, total);
  SeriesBuffer* b = series_buffer(node);
  for (int32_t i = head; i < total; i++) {
    double d = vector_element_number(series_unit_at(b, i), b->unit(), element);
    if (d == 0) d = 0;
    if (std::isnan(d)) d = std::numeric_limits<double>::quiet_NaN();
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    h = murmur3_mix(murmur3_mix(h, uint32_t(bits)), uint32_t(bits >> 32));
  }
  return murmur3_finish(h, uint32_t(total - head));
}

// A live buffer's unit must be a size its element type has.
void vector_verify(const Cell* value) {
  Node node = value->node();
  if (!node_in_use(node)) return;
  TypeId element = vector_element_type(value);
  uint32_t unit = series_buffer(node)->unit();
  bool ok = false;
  switch (element) {
    case kTypeChar:
    case kTypeInteger: ok = unit == 1 || unit == 2 || unit == 4; break;
    case kTypeFloat: ok = unit == 4 || unit == 8; break;
    case kTypePercent: ok = unit == 8; break;
    default: break;
  }
  if (!ok) gc_verify_fault("vector of a bad element type or size", element, unit);
}

constexpr TypeHooks kVectorHooks{.mark = vector_mark, .hash = vector_hash, .verify = vector_verify};

// A copy of a vector holds elements of its type.
void vector_keep_kind(const Cell* vector, Cell* copy) {
  vector_set_element_type(copy, vector_element_type(vector));
}

bool vector_same_units_q(const Cell* a, const Cell* b) {
  return vector_element_type(a) == vector_element_type(b) &&
         series_buffer(a->node())->unit() == series_buffer(b->node())->unit();
}

// The units are elements of the vector's type; no set operations.
constexpr TypeSlots kVectorTypeSlots{.element = SeriesElement::kVector,
                                     .unit_value = vector_element_at,
                                     .unit_check = vector_check_value,
                                     .unit_store = vector_store_at,
                                     .keep_kind = vector_keep_kind,
                                     .same_units_q = vector_same_units_q};

}  // namespace

// ---------------------------------------------------------------- registration

void vector_datatype_init() {
  // string!'s row, with vector!'s own construction, text, path access,
  // comparison, element-wise math and modifiers; to, swap and trim are not
  // supported.
  ActionSlots s = inherit_all_slots();
  s.make = vector_make;
  s.form = vector_form;
  s.mold = vector_mold;
  s.eval_path = vector_eval_path;
  s.compare = vector_compare;
  s.add = math_handler<vector_do_math, kMathAdd>;
  s.divide = math_handler<vector_do_math, kMathDivide>;
  s.multiply = math_handler<vector_do_math, kMathMultiply>;
  s.remainder = math_handler<vector_do_math, kMathRemainder>;
  s.subtract = math_handler<vector_do_math, kMathSubtract>;
  s.and_t = math_handler<vector_do_math, kMathAnd>;
  s.or_t = math_handler<vector_do_math, kMathOr>;
  s.xor_t = math_handler<vector_do_math, kMathXor>;
  s.append = vector_insert;
  s.change = vector_change;
  s.insert = vector_insert;
  s.to = nullptr;
  s.swap = nullptr;
  s.trim = nullptr;
  register_datatype({kTypeVector, kTypeString, "vector!", kActionCount, s, &kVectorHooks, &kVectorTypeSlots});
}

}  // namespace kiv

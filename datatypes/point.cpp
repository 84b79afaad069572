// point2D! and point3D!: make and to, text, compare, arithmetic, rounding,
// random and access to the coordinates (the payload is laid out in
// datatypes/point.h).
//
// The twins share every handler: a point's type gives its number of
// coordinates, x, y and z in words 1 to 3 (axis 1 to 3). Arithmetic, rounding
// and text go through float! (datatypes/float.h) on the coordinates as doubles,
// and every result is stored back as a 32-bit float. Every handler leaves its
// result in its first argument and computes all coordinates before it writes
// any. The hashes read the coordinates' bits.
#include "datatypes/point.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/pair.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/string.h"
#include "datatypes/text_load.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/murmur3.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/typesets.h"

namespace kiv {

// A double outside the float range becomes an infinity, as IEEE rounding says.
static_assert(std::numeric_limits<float>::is_iec559, "points store IEEE single-precision floats");

namespace {

// A point's coordinates, axis 1 at index 0.
struct Coordinates {
  float v[3] = {0, 0, 0};
  int count = 2;
};

int point_count(TypeId type) { return type == kTypePoint3D ? 3 : 2; }

Coordinates point_read(const Cell* point) {
  Coordinates c;
  c.count = point_count(point->type());
  c.v[0] = point_x(point);
  c.v[1] = point_y(point);
  if (c.count == 3) c.v[2] = point_z(point);
  return c;
}

// Writes [c] into [point] (whose type stays).
void point_write(Cell* point, const Coordinates& c) {
  point->data1 = std::bit_cast<uint32_t>(c.v[0]);
  point->data2 = std::bit_cast<uint32_t>(c.v[1]);
  if (c.count == 3) point->data3 = std::bit_cast<uint32_t>(c.v[2]);
}

// The number of an integer!, float!, percent! or time! cell as a double.
double number_as_double(const Cell* c) {
  if (c->is(kTypeInteger)) return integer_get(c);
  if (c->is(kTypeFloat) || c->is(kTypePercent) || c->is(kTypeTime)) return float_get(c);
  raise_invalid_type(c);
}

// The axis [element] names in a point of [count] coordinates: the integer 1
// to [count], or the word x, y (or z) by its canonical symbol; 0 for anything
// else.
int point_axis(const Cell* element, int count) {
  if (element->is(kTypeInteger)) {
    int32_t i = integer_get(element);
    return i >= 1 && i <= count ? i : 0;
  }
  if (is_any_word(element->type())) {
    int32_t symbol = word_symbol(element);
    if (runtime_symbol_q(symbol, kSymX)) return 1;
    if (runtime_symbol_q(symbol, kSymY)) return 2;
    if (count == 3 && runtime_symbol_q(symbol, kSymZ)) return 3;
  }
  return 0;
}

}  // namespace

Cell* point2d_init(Cell* cell, float x, float y) {
  cell->set_type(kTypePoint2D);
  cell->data1 = std::bit_cast<uint32_t>(x);
  cell->data2 = std::bit_cast<uint32_t>(y);
  cell->data3 = 0;
  return cell;
}

Cell* point3d_init(Cell* cell, float x, float y, float z) {
  cell->set_type(kTypePoint3D);
  cell->data1 = std::bit_cast<uint32_t>(x);
  cell->data2 = std::bit_cast<uint32_t>(y);
  cell->data3 = std::bit_cast<uint32_t>(z);
  return cell;
}

Cell* point2d_push(float x, float y) { return stack_push_value(point2d_cell(x, y)); }
Cell* point3d_push(float x, float y, float z) { return stack_push_value(point3d_cell(x, y, z)); }

float point_number_to_float32(const Cell* number) {
  if (number->is(kTypeInteger)) return float(integer_get(number));
  return float(float_get(number));
}

// ---------------------------------------------------------------- arithmetic

Cell* point_do_math(Cell* left, Cell* right, int op) {
  Coordinates c = point_read(left);
  double operand[3];
  switch (right->type()) {
    case kTypeInteger: operand[0] = operand[1] = operand[2] = integer_get(right); break;
    case kTypeFloat:
    case kTypePercent: {
      double f = float_get(right);
      // A factor or divisor is taken as a 32-bit float.
      if (op == kMathMultiply || op == kMathDivide) f = float(f);
      operand[0] = operand[1] = operand[2] = f;
      break;
    }
    case kTypePair:
      if (c.count != 2) raise_invalid_type(right);
      operand[0] = pair_x(right);
      operand[1] = pair_y(right);
      break;
    case kTypePoint2D:
    case kTypePoint3D: {
      if (right->type() != left->type()) raise_invalid_type(right);
      Coordinates r = point_read(right);
      for (int i = 0; i < c.count; i++) operand[i] = r.v[i];
      break;
    }
    default: raise_invalid_type(right);
  }
  for (int i = 0; i < c.count; i++) c.v[i] = float(float_math_op(c.v[i], operand[i], op));
  point_write(left, c);
  return left;
}

Cell* point_negate(Cell* point, const NoneArgs& args) {
  Coordinates c = point_read(point);
  for (int i = 0; i < c.count; i++) c.v[i] = 0.0f - c.v[i];
  point_write(point, c);
  return point;
}

namespace {

Cell* point_absolute(Cell* point, const NoneArgs& args) {
  Coordinates c = point_read(point);
  for (int i = 0; i < c.count; i++)
    c.v[i] = std::bit_cast<float>(std::bit_cast<uint32_t>(c.v[i]) & 0x7FFFFFFFu);
  point_write(point, c);
  return point;
}

// point2D! swaps x and y, point3D! x and z.
Cell* point_reverse(Cell* point, const ReverseArgs& args) {
  Coordinates c = point_read(point);
  std::swap(c.v[0], c.v[c.count - 1]);
  point_write(point, c);
  return point;
}

// MAY ALLOCATE (the where word of an error). Each coordinate rounded as a
// float! by float!'s round with the same refinements. A point scale gives each
// coordinate its matching coordinate (0 for a point3D!'s z from a point2D!
// scale), a pair! scale (point2D! only) its x and y as integers; any other
// scale serves every coordinate as it is.
Cell* point_round(Cell* point, const RoundArgs& args) {
  if (args.to && args.to->is(kTypeMoney)) {
    Cell where = where_word_cell();
    Cell datatype = datatype_cell(kTypeMoney);
    raise_error(kErrScriptNotRelated, &where, &datatype);
  }
  Coordinates c = point_read(point);
  const Cell* scale = args.to;
  bool per_axis =
      scale && (scale->is(kTypePoint2D) || scale->is(kTypePoint3D) || (scale->is(kTypePair) && c.count == 2));
  Coordinates s;
  if (per_axis && !scale->is(kTypePair)) s = point_read(scale);
  StackSave save;
  for (int i = 0; i < c.count; i++) {
    Cell* n = stack_push_value(float_cell(c.v[i]));
    RoundArgs each = args;
    if (per_axis) {
      Cell component = scale->is(kTypePair) ? integer_cell(i == 0 ? pair_x(scale) : pair_y(scale))
                                            : float_cell(i < s.count ? s.v[i] : 0.0f);
      each.to = stack_push_value(component);
    }
    c.v[i] = float(number_as_double(float_round(n, each)));
  }
  point_write(point, c);
  return point;
}

// With /seed the generator is seeded from the coordinates' bytes and the
// result is unset!; else each coordinate that is not 0 becomes a random
// value scaled by it.
Cell* point_random(Cell* point, const RandomArgs& args) {
  Coordinates c = point_read(point);
  if (args.seed) {
    uint32_t words[3] = {point->data1, point->data2, point->data3};
    random_seed(hash_murmur3(words, sizeof(uint32_t) * size_t(c.count)));
    *point = kUnsetCell;
    return point;
  }
  for (int i = 0; i < c.count; i++)
    if (c.v[i] != 0) c.v[i] = float(float_random_value(c.v[i], args.secure));
  point_write(point, c);
  return point;
}

// ---------------------------------------------------------------- text

namespace {

// The shortest digits that read back to the 32-bit coordinate [x] (for
// mold/all: the point's text of 7 digits rounds).
FloatText exact_coordinate_text(float x) {
  if (!std::isfinite(x)) return float_form(x, kFormPoint);
  char digits[kFloatTextMax];
  std::string_view text(digits, size_t(std::to_chars(digits, digits + sizeof digits, x).ptr - digits));
  FloatText t;
  for (char c : text)
    if (!(c == '+' && t.length > 0 && t.text[t.length - 1] == 'e'))
      t.text[t.length++] = c;  // "1e+10" -> "1e10"
  return t;
}

// "(x, y)" or "(x, y, z)", each coordinate in float!'s point text, or exact.
int32_t point_text(Cell* point, Cell* buffer, int32_t limit, bool exact) {
  Coordinates c = point_read(point);
  int32_t n = string_append_c_string(buffer, "(");
  for (int i = 0; i < c.count; i++) {
    if (i > 0) n += string_append_c_string(buffer, ", ");
    FloatText text = exact ? exact_coordinate_text(c.v[i]) : float_form(c.v[i], kFormPoint);
    n += string_append_c_string(buffer, text.view());
  }
  n += string_append_c_string(buffer, ")");
  return limit - n;
}

}  // namespace

int32_t point_form(Cell* point, const FormArgs& args) {
  return point_text(point, args.buffer, args.limit, false);
}

int32_t point_mold(Cell* point, const MoldArgs& args) {
  return point_text(point, args.buffer, args.limit, args.all);
}

// ---------------------------------------------------------------- make and to

[[noreturn]] void raise_bad_to_arg(TypeId type, const Cell* spec) {
  Cell datatype = datatype_cell(type);
  raise_error(kErrScriptBadToArg, &datatype, spec);
}

// make and to of point2D! (Type) or point3D!.
template <TypeId Type>
Cell* point_make(Cell* proto, const MakeArgs& args) {
  const Cell* spec = args.spec;
  if (spec->is(Type)) {
    copy_cell(proto, spec);
    return proto;
  }
  Coordinates c;
  c.count = point_count(Type);
  switch (spec->type()) {
    case kTypeBlock: {
      // The first [count] values from the block's position; the rest are ignored.
      Cell block = *spec;
      if (block_ks_length_q(&block) < c.count) raise_error(kErrSyntaxMalconstruct, spec);
      const Cell* head = block_ks_head(&block);
      for (int i = 0; i < c.count; i++) {
        if (!head[i].is(kTypeInteger) && !head[i].is(kTypeFloat)) raise_error(kErrSyntaxMalconstruct, spec);
        c.v[i] = point_number_to_float32(&head[i]);
      }
      break;
    }
    case kTypeString: {
      // The text read as one value, which must be a point of this type.
      StackSave save;
      Cell* text = stack_push_cell(spec);
      Cell* value = stack_push();
      transcode_one_value_into(text, value);
      if (!value->is(Type)) raise_bad_to_arg(Type, text);
      *proto = *value;
      proto->clear_new_line();
      return proto;
    }
    case kTypeInteger:
    case kTypeFloat: c.v[0] = c.v[1] = c.v[2] = point_number_to_float32(spec); break;
    case kTypePair:
      c.v[0] = float(pair_x(spec));
      c.v[1] = float(pair_y(spec));
      break;
    case kTypePoint2D:
    case kTypePoint3D: {
      // A point3D! is also made from a point2D! (z 0); a point2D! only from its own type.
      if (Type == kTypePoint2D) raise_bad_to_arg(Type, spec);
      c.v[0] = point_x(spec);
      c.v[1] = point_y(spec);
      break;
    }
    default: raise_bad_to_arg(Type, spec);
  }
  *proto = make_cell(Type);
  point_write(proto, c);
  return proto;
}

// ---------------------------------------------------------------- compare

// Equality holds within float!'s tolerance (strict-equal exactly, same by the
// bits); the orderings go by x, then y, then z, a difference within the
// tolerance of 0 counting as none. A pair! is compared with a point2D! as a
// point2D! (a copy: the argument is left as it was).
int point_compare(Cell* point, const CompareArgs& args) {
  Cell other = *args.value2;
  if (other.is(kTypePair) && point->is(kTypePoint2D)) pair_to_point2d(&other);
  if (other.type() != point->type()) return kNotComparable;
  Coordinates a = point_read(point), b = point_read(&other);
  switch (args.op) {
    case kCmpEqual:
    case kCmpNotEqual:
      for (int i = 0; i < a.count; i++)
        if (!float32_almost_equal(a.v[i], b.v[i])) return 1;
      return 0;
    case kCmpStrictEqual:
      for (int i = 0; i < a.count; i++)
        if (!(a.v[i] == b.v[i])) return 1;
      return 0;
    case kCmpSame:
      for (int i = 0; i < a.count; i++)
        if (std::bit_cast<uint32_t>(a.v[i]) != std::bit_cast<uint32_t>(b.v[i])) return 1;
      return 0;
    default: {
      float d = 0;
      for (int i = 0; i < a.count; i++) {
        d = a.v[i] - b.v[i];
        if (!float32_almost_equal(d, 0.0f)) break;
      }
      return d < 0 ? -1 : d > 0 ? 1 : 0;
    }
  }
}

// ---------------------------------------------------------------- pick and path

// An axis number or word gives the coordinate as a float!; another word raises
// script cannot-use with the word and the point, anything else script
// out-of-range.
Cell* point_pick(Cell* point, const PickArgs& args) {
  Coordinates c = point_read(point);
  int axis = point_axis(args.index, c.count);
  if (axis == 0) {
    if (is_any_word(args.index->type())) raise_error(kErrScriptCannotUse, args.index, point);
    raise_error(kErrScriptOutOfRange, args.index);
  }
  *point = float_cell(c.v[axis - 1]);
  return point;
}

// Reads a coordinate as a float!, or replaces it in place by an integer! or
// float! value (as a 32-bit float) and returns that value.
Cell* point_eval_path(Cell* point, const EvalPathArgs& args) {
  Coordinates c = point_read(point);
  int axis = point_axis(args.element, c.count);
  if (axis == 0) raise_error(kErrScriptInvalidPath, args.path ? args.path : point, args.element);
  if (!args.value) return float_push(c.v[axis - 1]);
  if (!args.value->is(kTypeInteger) && !args.value->is(kTypeFloat)) raise_invalid_type(args.value);
  c.v[axis - 1] = point_number_to_float32(args.value);
  point_write(point, c);
  return args.value;
}

// -0.0 read as +0.0 (they compare equal).
inline uint32_t float32_bits(uint32_t bits) { return (bits << 1) == 0 ? 0 : bits; }

uint32_t point2d_hash(const Cell* v) {
  uint32_t w[2] = {float32_bits(v->data1), float32_bits(v->data2)};
  return hash_murmur3(w, sizeof w);
}

uint32_t point3d_hash(const Cell* v) {
  uint32_t w[3] = {float32_bits(v->data1), float32_bits(v->data2), float32_bits(v->data3)};
  return hash_murmur3(w, sizeof w);
}

constexpr TypeHooks kPoint2DHooks{.hash = point2d_hash};
constexpr TypeHooks kPoint3DHooks{.hash = point3d_hash};

// The row both types register, with their own make.
template <TypeId Type>
ActionSlots point_slots() {
  return {
      .make = point_make<Type>,
      .random = point_random,
      .to = point_make<Type>,
      .form = point_form,
      .mold = point_mold,
      .eval_path = point_eval_path,
      .compare = point_compare,
      .absolute = point_absolute,
      .add = math_handler<point_do_math, kMathAdd>,
      .divide = math_handler<point_do_math, kMathDivide>,
      .multiply = math_handler<point_do_math, kMathMultiply>,
      .negate = point_negate,
      .remainder = math_handler<point_do_math, kMathRemainder>,
      .round = point_round,
      .subtract = math_handler<point_do_math, kMathSubtract>,
      .pick = point_pick,
      .reverse = point_reverse,
  };
}

}  // namespace

void point2d_datatype_init() {
  register_datatype(
      {kTypePoint2D, kTypeNil, "point2D!", kActionCount, point_slots<kTypePoint2D>(), &kPoint2DHooks});
}

void point3d_datatype_init() {
  register_datatype(
      {kTypePoint3D, kTypeNil, "point3D!", kActionCount, point_slots<kTypePoint3D>(), &kPoint3DHooks});
}

}  // namespace kiv

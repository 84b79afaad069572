// Comparison, logic, set and math natives: equal? ... greater-or-equal?,
// same?, not, type?, union, intersect, unique, difference, exclude,
// complement?, negative?, positive?, sign?, zero?, NaN?, max, min, shift, the
// trigonometry, log-2, log-10, log-e, exp, square-root.
//
// Every result goes into the first argument slot. The float natives first
// make their argument a float! in place (an integer! by value, a percent! by
// retagging it) and compute on it there. Type knowledge stays with the
// types: the comparisons go through the compare action, the set operations
// through series_set_op (block, string, bitset and typeset workers), and the
// payloads are read only through each type's accessors.
#include <algorithm>
#include <cmath>
#include <span>

#include "datatypes/actions.h"
#include "datatypes/bitset.h"
#include "datatypes/char.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/time.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/natives.h"
#include "runtime/errors.h"
#include "runtime/float_text.h"
#include "runtime/numbers.h"
#include "runtime/typesets.h"

namespace kiv {

namespace {

// Script expect-arg: native [id] does not take [value]'s type for its
// argument [param].
[[noreturn]] void refuse_arg(NativeId id, const Cell* value, const char* param) {
  Cell fn_word = name_word_cell(g_natives_info[id].word);
  Cell param_word = name_word_cell(param);
  raise_expect_arg(&fn_word, value->type(), &param_word);
}

Status logic_result(bool b) { return native_result(logic_cell(b)); }
Status float_result(double d) { return native_result(float_cell(d)); }

// The double of an integer!, float! or percent! (the argument types of the
// float natives).
double number_as_float(const Cell* value) {
  return value->is(kTypeInteger) ? double(integer_get(value)) : float_get(value);
}

bool float_like_q(TypeId t) { return t == kTypeFloat || t == kTypePercent; }
bool nan_cell_q(const Cell* value) { return float_like_q(value->type()) && std::isnan(float_get(value)); }

// ---------------------------------------------------------------- comparisons

Status compare_result(Cell* value1, Cell* value2, CompareOp op) {
  return logic_result(action_compare(value1, value2, op));
}

// ---------------------------------------------------------------- sets

// MAY ALLOCATE, MAY RUN KIV CODE. The set operation [op] of native [id] on
// [set1] (the result slot) and [set2] (null for unique).
Status set_op_result(NativeId id, SetOp op, Cell* set1, Cell* set2, bool case_, Cell* skip) {
  TypeId t1 = set1->type();
  if (set2) {
    TypeId t2 = set2->type();
    bool blocks = (t1 == kTypeBlock || t1 == kTypeHash) && (t2 == kTypeBlock || t2 == kTypeHash);
    if (t1 != t2 && !blocks) {
      Cell d1 = datatype_cell(t1), d2 = datatype_cell(t2);
      raise_error(kErrScriptExpectVal, &d1, &d2);
    }
  }
  if (t1 == kTypeDate && op == kSetDifference) {
    date_difference(set1, set2);
    return kStatusOk;
  }
  if (t1 != kTypeBlock && t1 != kTypeHash && t1 != kTypeString && t1 != kTypeBitset && t1 != kTypeTypeset)
    refuse_arg(id, set1, op == kSetUnique ? "set" : "set1");
  SetOpArgs args;
  args.op = op;
  args.case_ = case_;
  args.skip.arg = skip;
  series_set_op(set1, set2, args);
  return kStatusOk;
}

// ---------------------------------------------------------------- sign tests

// -1, 0 or 1 for the sign of a number!, money! or time! (0 for NaN); other
// types raise expect-arg for native [id].
int sign_of(NativeId id, const Cell* value) {
  switch (value->type()) {
    case kTypeMoney: return money_sign_q(value);
    case kTypeInteger: return integer_sign(integer_get(value));
    case kTypeFloat:
    case kTypePercent:
    case kTypeTime: {
      double d = float_get(value);
      return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
    }
    default: refuse_arg(id, value, "number");
  }
}

// ---------------------------------------------------------------- max and min

// The component of [mine] and [other] that max ([max]) or min keeps: the other
// when this one is lower (higher) or the other is NaN.
float pick_component(float mine, float other, bool max) {
  if (std::isnan(other)) return other;
  return (max ? mine < other : mine > other) ? other : mine;
}

// max or min of the point2D! or point3D! [point] (in place) with a number or
// a point of its own kind (a point2D! also a pair!) [other]; false otherwise.
bool point_max_min(Cell* point, const Cell* other, bool max) {
  bool three = point->is(kTypePoint3D);
  float ox, oy, oz;
  if (is_number(other->type())) {
    ox = oy = oz = point_number_to_float32(other);
  } else if (other->type() == point->type()) {
    ox = point_x(other);
    oy = point_y(other);
    oz = three ? point_z(other) : 0.0f;
  } else if (!three && other->is(kTypePair)) {
    ox = float(pair_x(other));
    oy = float(pair_y(other));
    oz = 0.0f;
  } else {
    return false;
  }
  float x = pick_component(point_x(point), ox, max);
  float y = pick_component(point_y(point), oy, max);
  *point = three ? point3d_cell(x, y, pick_component(point_z(point), oz, max)) : point2d_cell(x, y);
  return true;
}

int32_t pick_int(int32_t mine, int32_t other, bool max) {
  return max ? std::max(mine, other) : std::min(mine, other);
}

// max or min of the pair! [pair] (in place) with [other]; false when the
// pair does not take [other] this way.
bool pair_max_min(Cell* pair, const Cell* other, bool max) {
  int32_t n;
  if (other->is(kTypeInteger)) {
    n = integer_get(other);
  } else if (other->is(kTypeFloat)) {
    double f = float_get(other);
    // A float that is no whole int32 makes the pair a point2D!.
    if (!(std::trunc(f) == f && f >= -2147483648.0 && f <= 2147483647.0)) {
      pair_to_point2d(pair);
      return point_max_min(pair, other, max);
    }
    n = double_to_int32(f);
  } else if (other->is(kTypePair)) {
    *pair = pair_cell(pick_int(pair_x(pair), pair_x(other), max), pick_int(pair_y(pair), pair_y(other), max));
    return true;
  } else if (other->is(kTypePoint2D)) {
    pair_to_point2d(pair);
    return point_max_min(pair, other, max);
  } else {
    return false;
  }
  *pair = pair_cell(pick_int(pair_x(pair), n, max), pick_int(pair_y(pair), n, max));
  return true;
}

// max or min of the tuple! [tuple] (in place) with a number or a tuple of
// the same length [other]; false otherwise.
bool tuple_max_min(Cell* tuple, const Cell* other, bool max) {
  uint32_t n = tuple_length(tuple);
  int32_t bytes[kTupleMaxLength];
  const uint8_t* mine = tuple_bytes(tuple);
  if (is_number(other->type())) {
    double d = other->is(kTypeInteger) ? double(integer_get(other)) : float_get(other);
    int32_t v = std::isnan(d) ? 0 : double_to_int32(std::clamp(d, 0.0, 255.0));
    for (uint32_t i = 0; i < n; i++) bytes[i] = pick_int(mine[i], v, max);
  } else if (other->is(kTypeTuple) && tuple_length(other) == n) {
    const uint8_t* theirs = tuple_bytes(other);
    for (uint32_t i = 0; i < n; i++) bytes[i] = pick_int(mine[i], theirs[i], max);
  } else {
    return false;
  }
  *tuple = *tuple_from_bytes(std::span<const int32_t>(bytes, n));
  stack_pop(1);
  return true;
}

bool composite_q(TypeId t) {
  return t == kTypePair || t == kTypePoint2D || t == kTypePoint3D || t == kTypeTuple;
}

// MAY RUN KIV CODE (compare handlers). max ([max]) or min of [value1] (the
// result slot) and [value2] (a stable cell).
Status max_min(Cell* value1, Cell* value2, bool max) {
  TypeId t1 = value1->type(), t2 = value2->type();
  auto plain_number = [](TypeId t) { return t == kTypeInteger || float_like_q(t); };
  if (nan_cell_q(value1) && plain_number(t2)) return kStatusOk;
  if (nan_cell_q(value2) && plain_number(t1)) return native_result(*value2);
  if ((t1 == kTypeInteger || t1 == kTypeFloat) && composite_q(t2)) {
    std::swap(*value1, *value2);
    std::swap(t1, t2);
  }
  bool done = false;
  switch (t1) {
    case kTypePair: done = pair_max_min(value1, value2, max); break;
    case kTypePoint2D:
    case kTypePoint3D: done = point_max_min(value1, value2, max); break;
    case kTypeTuple: done = tuple_max_min(value1, value2, max); break;
    default: break;
  }
  if (done) return kStatusOk;
  bool lesser = action_compare(value1, value2, kCmpLesser);
  if (max ? lesser : !lesser) return native_result(*value2);
  return kStatusOk;
}

// ---------------------------------------------------------------- trigonometry

// Below this a sine or cosine reads as 0.0.
constexpr double kTrigZero = 2.220446049250313e-16;
constexpr double kPi = 3.141592653589793;

double trig_angle(const Cell* angle, bool radians, AngleKind kind) {
  double d = number_as_float(angle);
  return radians ? d : angle_to_radians(d, kind);
}

double snap_to_zero(double d) { return std::fabs(d) < kTrigZero ? 0.0 : d; }

double to_degrees(double r, bool radians) { return radians ? r : r * 180.0 / kPi; }

}  // namespace

// ---------------------------------------------------------------- natives

KIV_NATIVE(EqualQ) { return compare_result(a.value1, a.value2, kCmpEqual); }
KIV_NATIVE(NotEqualQ) { return compare_result(a.value1, a.value2, kCmpNotEqual); }
KIV_NATIVE(StrictEqualQ) { return compare_result(a.value1, a.value2, kCmpStrictEqual); }
KIV_NATIVE(LesserQ) { return compare_result(a.value1, a.value2, kCmpLesser); }
KIV_NATIVE(GreaterQ) { return compare_result(a.value1, a.value2, kCmpGreater); }
KIV_NATIVE(LesserOrEqualQ) { return compare_result(a.value1, a.value2, kCmpLesserOrEqual); }
KIV_NATIVE(GreaterOrEqualQ) { return compare_result(a.value1, a.value2, kCmpGreaterOrEqual); }

KIV_NATIVE(SameQ) {
  if (a.value1->type() != a.value2->type()) return logic_result(false);
  // Tuples of other lengths compare equal when the longer ends in zeros.
  if (a.value1->is(kTypeTuple) && tuple_length(a.value1) != tuple_length(a.value2))
    return logic_result(false);
  return compare_result(a.value1, a.value2, kCmpSame);
}

KIV_NATIVE(Not) { return logic_result(cell_false(a.value)); }

KIV_NATIVE(TypeQ) {
  TypeId t = a.value->type();
  if (a.word) return native_result(g_type_names[t].word);
  return native_result(datatype_cell(t));
}

KIV_NATIVE(Union) { return set_op_result(kNativeUnion, kSetUnion, a.set1, a.set2, a.case_, a.skip); }
KIV_NATIVE(Intersect) {
  return set_op_result(kNativeIntersect, kSetIntersect, a.set1, a.set2, a.case_, a.skip);
}
KIV_NATIVE(Unique) { return set_op_result(kNativeUnique, kSetUnique, a.set, nullptr, a.case_, a.skip); }
KIV_NATIVE(Difference) {
  return set_op_result(kNativeDifference, kSetDifference, a.set1, a.set2, a.case_, a.skip);
}
KIV_NATIVE(Exclude) { return set_op_result(kNativeExclude, kSetExclude, a.set1, a.set2, a.case_, a.skip); }

KIV_NATIVE(ComplementQ) { return logic_result(bitset_complement_q(a.bits)); }

KIV_NATIVE(NegativeQ) { return logic_result(sign_of(kNativeNegativeQ, a.number) < 0); }
KIV_NATIVE(PositiveQ) { return logic_result(sign_of(kNativePositiveQ, a.number) > 0); }
KIV_NATIVE(SignQ) { return native_result(integer_cell(sign_of(kNativeSignQ, a.number))); }

KIV_NATIVE(ZeroQ) {
  const Cell* v = a.value;
  switch (v->type()) {
    case kTypeMoney: return logic_result(money_zero_q(v));
    case kTypeChar: return logic_result(char_get(v) == 0);
    case kTypeInteger: return logic_result(integer_get(v) == 0);
    case kTypeFloat:
    case kTypePercent:
    case kTypeTime: return logic_result(float_get(v) == 0.0);
    case kTypePair: return logic_result(pair_x(v) == 0 && pair_y(v) == 0);
    case kTypePoint2D: return logic_result(point_x(v) == 0.0f && point_y(v) == 0.0f);
    case kTypePoint3D: return logic_result(point_x(v) == 0.0f && point_y(v) == 0.0f && point_z(v) == 0.0f);
    case kTypeTuple: return logic_result(tuple_zero_q(v));
    default: refuse_arg(kNativeZeroQ, v, "value");
  }
}

KIV_NATIVE(NanQ) { return logic_result(nan_cell_q(a.value)); }

KIV_NATIVE(Max) { return max_min(a.value1, a.value2, true); }
KIV_NATIVE(Min) { return max_min(a.value1, a.value2, false); }

KIV_NATIVE(Shift) {
  return native_result(
      integer_cell(integer_shift(integer_get(a.data), integer_get(a.bits), a.left, a.logical)));
}

KIV_NATIVE(Sine) {
  return float_result(snap_to_zero(std::sin(trig_angle(a.angle, a.radians, AngleKind::kSine))));
}
KIV_NATIVE(Cosine) {
  return float_result(snap_to_zero(std::cos(trig_angle(a.angle, a.radians, AngleKind::kCosine))));
}
KIV_NATIVE(Tangent) {
  double r = trig_angle(a.angle, a.radians, AngleKind::kTangent);
  if (r == kPi / 2) return float_result(INFINITY);
  if (r == -kPi / 2) return float_result(-INFINITY);
  return float_result(std::tan(r));
}
KIV_NATIVE(Arcsine) { return float_result(to_degrees(std::asin(number_as_float(a.sine)), a.radians)); }
KIV_NATIVE(Arccosine) { return float_result(to_degrees(std::acos(number_as_float(a.cosine)), a.radians)); }
KIV_NATIVE(Arctangent) { return float_result(to_degrees(std::atan(number_as_float(a.tangent)), a.radians)); }
KIV_NATIVE(Arctangent2) {
  return float_result(to_degrees(std::atan2(number_as_float(a.y), number_as_float(a.x)), a.radians));
}

KIV_NATIVE(Log2) { return float_result(std::log(number_as_float(a.value)) / 0.6931471805599453); }
KIV_NATIVE(Log10) { return float_result(std::log10(number_as_float(a.value))); }
KIV_NATIVE(LogE) { return float_result(std::log(number_as_float(a.value))); }
KIV_NATIVE(Exp) { return float_result(std::pow(2.718281828459045, number_as_float(a.value))); }
KIV_NATIVE(SquareRoot) { return float_result(std::sqrt(number_as_float(a.value))); }

void natives_math_register() {
  KIV_REGISTER(EqualQ);
  KIV_REGISTER(NotEqualQ);
  KIV_REGISTER(StrictEqualQ);
  KIV_REGISTER(LesserQ);
  KIV_REGISTER(GreaterQ);
  KIV_REGISTER(LesserOrEqualQ);
  KIV_REGISTER(GreaterOrEqualQ);
  KIV_REGISTER(SameQ);
  KIV_REGISTER(Not);
  KIV_REGISTER(TypeQ);
  KIV_REGISTER(Union);
  KIV_REGISTER(Intersect);
  KIV_REGISTER(Unique);
  KIV_REGISTER(Difference);
  KIV_REGISTER(Exclude);
  KIV_REGISTER(ComplementQ);
  KIV_REGISTER(NegativeQ);
  KIV_REGISTER(PositiveQ);
  KIV_REGISTER(SignQ);
  KIV_REGISTER(ZeroQ);
  KIV_REGISTER(NanQ);
  KIV_REGISTER(Max);
  KIV_REGISTER(Min);
  KIV_REGISTER(Shift);
  KIV_REGISTER(Sine);
  KIV_REGISTER(Cosine);
  KIV_REGISTER(Tangent);
  KIV_REGISTER(Arcsine);
  KIV_REGISTER(Arccosine);
  KIV_REGISTER(Arctangent);
  KIV_REGISTER(Arctangent2);
  KIV_REGISTER(Log2);
  KIV_REGISTER(Log10);
  KIV_REGISTER(LogE);
  KIV_REGISTER(Exp);
  KIV_REGISTER(SquareRoot);
}

}  // namespace kiv

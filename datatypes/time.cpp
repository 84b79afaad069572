// time!: fields, text, make and to, path access and pick, and the arithmetic,
// round and even?/odd? rules time! lays over float!'s handlers.
//
// The cell is float!'s (datatypes/float.h): random, compare, absolute, negate
// and remainder are float!'s own handlers, inherited; arithmetic runs through
// float_do_math, which keeps a time! with a number a time!, after the checks
// time! adds. Fields are taken with exact remainders: |t| mod 3600 and then
// mod 60 are exact in doubles, so hours, minutes and seconds always add up to
// the time again (a quotient rounded up could otherwise read an hour of
// 3599.9999999999995 seconds).
#include "datatypes/time.h"

#include <charconv>
#include <cmath>
#include <string_view>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/text_load.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/numbers.h"
#include "runtime/stack.h"

namespace kiv {

Cell* time_set_cell(Cell* cell, double seconds) {
  *cell = time_cell(seconds);
  return cell;
}

Cell* time_push(double seconds) { return stack_push_value(time_cell(seconds)); }

Cell* time_make_at(const Cell* block, double seconds) {
  Cell* c = block_append_cell(block);
  *c = time_cell(seconds);
  return c;
}

namespace {

// ---------------------------------------------------------------- fields

// The parts of a time's magnitude: whole hours, whole minutes 0..59 and the
// seconds below a minute. Exact: hours x 3600 + minutes x 60 + seconds is
// the magnitude again (for magnitudes below 2^53).
struct TimeParts {
  bool negative;
  double hours;
  double minutes;
  double seconds;
};

TimeParts time_split(double t) {
  double m = std::fabs(t);
  double below_hour = std::fmod(m, 3600.0);
  double below_minute = std::fmod(below_hour, 60.0);
  return {t < 0, (m - below_hour) / 3600.0, (below_hour - below_minute) / 60.0, below_minute};
}

[[noreturn]] void raise_integer_limit() {
  Cell datatype = datatype_cell(kTypeInteger);
  raise_error(kErrScriptTypeLimit, &datatype);
}

// [d] as an int32; script type-limit when it does not fit (or is NaN).
int32_t field_integer(double d) {
  if (!(d >= -2147483648.0 && d <= 2147483647.0)) raise_integer_limit();
  return double_to_int32(d);
}

}  // namespace

int32_t time_get_hours(double seconds) {
  TimeParts p = time_split(seconds);
  return field_integer(p.negative ? -p.hours : p.hours);
}

int32_t time_get_minutes(double seconds) { return field_integer(time_split(seconds).minutes); }

double time_get_seconds(double seconds) { return std::fmod(seconds, 60.0); }

double time_set_field(double seconds, TimeField field, double value) {
  TimeParts p = time_split(seconds);
  double sign = p.negative ? -1.0 : 1.0;
  // The change of the field as it reads, scaled to seconds: adding nothing
  // leaves the time exactly as it was.
  switch (field) {
    case TimeField::kHour: return seconds + (value - sign * p.hours) * 3600.0;
    case TimeField::kMinute: return seconds + sign * (value - p.minutes) * 60.0;
    case TimeField::kSecond: return seconds + (value - sign * p.seconds);
  }
  return seconds;
}

// ---------------------------------------------------------------- text

namespace {

// The seconds of a minute (below 60) in the shortest digits that read back
// to them, without an exponent, as a time literal needs; seconds too small
// for that in a float's text keep the six-digit form.
FloatText exact_seconds_text(double seconds) {
  FloatText t;
  std::to_chars_result r = std::to_chars(t.text, t.text + kFloatTextMax, seconds, std::chars_format::fixed);
  if (r.ec != std::errc()) return float_form(seconds, kFormSeconds);
  t.length = uint8_t(r.ptr - t.text);
  return t;
}

}  // namespace

int32_t time_format(double seconds, Cell* buffer, int32_t limit, bool exact) {
  int32_t n = 0;
  if (seconds < 0) n += string_append_c_string(buffer, "-");
  if (!std::isfinite(seconds)) {
    n += string_append_c_string(buffer, float_form(std::fabs(seconds), kFormSeconds).view());
    return limit - n;
  }
  TimeParts p = time_split(seconds);
  // Seconds: "00" below a microsecond; else six significant digits, which
  // may round up to "60" and then carry into the minutes and hours.
  FloatText second_text{};
  bool zero_seconds = exact ? p.seconds == 0 : p.seconds < 0.000001;
  if (!zero_seconds) {
    second_text = exact ? exact_seconds_text(p.seconds) : float_form(p.seconds, kFormSeconds);
    if (second_text.view() == "60") {
      zero_seconds = true;
      p.minutes += 1;
      if (p.minutes == 60) {
        p.minutes = 0;
        p.hours += 1;
      }
    }
  }
  // Hours past int32 are written from the double, digit for digit.
  if (p.hours < 2147483648.0)
    n += string_append_c_string(buffer, integer_to_text(double_to_int32(p.hours)));
  else
    n += string_append_c_string(buffer, float_to_text(p.hours, 0, false).view());
  int32_t minutes = double_to_int32(p.minutes);
  n += string_append_c_string(buffer, minutes < 10 ? ":0" : ":");
  n += string_append_c_string(buffer, integer_to_text(minutes));
  n += string_append_c_string(buffer, ":");
  std::string_view text = zero_seconds ? std::string_view("00") : second_text.view();
  if (text.size() == 1 || text[1] == '.') n += string_append_c_string(buffer, "0");
  n += string_append_c_string(buffer, text);
  return limit - n;
}

namespace {

int32_t time_form(Cell* value, const FormArgs& args) {
  return time_format(time_get(value), args.buffer, args.limit);
}

int32_t time_mold(Cell* value, const MoldArgs& args) {
  return time_format(time_get(value), args.buffer, args.limit, args.all);
}

// ---------------------------------------------------------------- make and to

[[noreturn]] void raise_bad_to_arg(const Cell* spec) {
  Cell datatype = datatype_cell(kTypeTime);
  raise_error(kErrScriptBadToArg, &datatype, spec);
}

// [hours minutes seconds] from the block's position, any of them left out:
// hours and minutes integer!, seconds integer! or float!; only the hours may
// be negative, and then the whole time is.
double time_from_block(const Cell* spec) {
  int32_t total = block_total_length(spec);
  int32_t head = series_clamp_head(spec, total);
  if (total - head > 3) raise_bad_to_arg(spec);
  double parts[3] = {0, 0, 0};
  for (int32_t i = head; i < total; i++) {
    const Cell* e = block_ks_abs_at(spec, i);
    int32_t k = i - head;
    double d;
    if (e->is(kTypeInteger))
      d = double(integer_get(e));
    else if (e->is(kTypeFloat) && k == 2)
      d = float_get(e);
    else
      raise_bad_to_arg(spec);
    if (k > 0 && d < 0) raise_bad_to_arg(spec);
    parts[k] = d;
  }
  double magnitude = std::fabs(parts[0]) * 3600.0 + parts[1] * 60.0 + parts[2];
  return parts[0] < 0 ? -magnitude : magnitude;
}

// make and to: the result cell becomes a time!.
Cell* time_make(Cell* result, const MakeArgs& args) {
  const Cell* spec = args.spec;
  double seconds;
  TypeId t = spec->type();
  if (is_any_list(t)) {
    seconds = time_from_block(spec);
  } else if (is_any_string(t)) {
    // The text read as one value, which must be a time!.
    StackSave save;
    Cell* text = stack_push_cell(spec);
    Cell* value = stack_push();
    transcode_one_value_into(text, value);
    if (!value->is(kTypeTime)) raise_bad_to_arg(text);
    seconds = float_get(value);
  } else {
    switch (t) {
      case kTypeTime:
      case kTypeFloat:
      case kTypePercent: seconds = float_get(spec); break;
      case kTypeInteger: seconds = double(integer_get(spec)); break;
      default: raise_bad_to_arg(spec);
    }
  }
  return time_set_cell(result, seconds);
}

// ---------------------------------------------------------------- path access and pick

// The field a selector names: the integer 1, 2 or 3 or the word hour, minute
// or second in any letter case; 0 for anything else.
int time_selector(const Cell* selector) {
  if (selector->is(kTypeInteger)) {
    int32_t n = integer_get(selector);
    return n >= 1 && n <= 3 ? n : 0;
  }
  if (!selector->is(kTypeWord)) return 0;
  int32_t symbol = word_symbol(selector);
  if (runtime_symbol_q(symbol, kSymHour)) return 1;
  if (runtime_symbol_q(symbol, kSymMinute)) return 2;
  if (runtime_symbol_q(symbol, kSymSecond)) return 3;
  return 0;
}

// The field [field] of [seconds] as a value: integer! hours and minutes,
// float! seconds.
Cell time_field_cell(double seconds, int field) {
  switch (field) {
    case 1: return integer_cell(time_get_hours(seconds));
    case 2: return integer_cell(time_get_minutes(seconds));
    default: return float_cell(time_get_seconds(seconds));
  }
}

// Getting pushes the field; setting changes the time in place and gives the
// value set.
Cell* time_eval_path(Cell* parent, const EvalPathArgs& args) {
  int field = time_selector(args.element);
  if (field == 0) raise_error(kErrScriptInvalidPath, args.path ? args.path : parent, args.element);
  if (!args.value) return stack_push_value(time_field_cell(time_get(parent), field));
  const Cell* v = args.value;
  double d;
  if (v->is(kTypeInteger))
    d = double(integer_get(v));
  else if (v->is(kTypeFloat) && field == 3)
    d = float_get(v);
  else
    raise_error(kErrScriptInvalidArg, v);
  float_set(parent, time_set_field(time_get(parent), TimeField(field), d));
  return args.value;
}

Cell* time_pick(Cell* value, const PickArgs& args) {
  int field = time_selector(args.index);
  if (field == 0) raise_error(kErrScriptOutOfRange, args.index);
  *value = time_field_cell(time_get(value), field);
  return value;
}

// ---------------------------------------------------------------- arithmetic

// A time plus a date is the date plus the time: the date becomes the first
// operand and date!'s addition runs.
Cell* time_add_to_date(Cell* left, Cell* right) {
  BinaryFn add = math_action_handler(kTypeDate, kMathAdd);
  if (!add) raise_invalid_type(right);
  Cell time = *left;
  *left = *right;
  *right = time;
  return run_hand_over(add, left, right, left);
}

// L is the time at [left], R the other operand.
Cell* time_do_math(Cell* left, Cell* right, int op) {
  TypeId other = right->type();
  if (op == kMathAdd && other == kTypeDate) return time_add_to_date(left, right);
  if (op == kMathSubtract && other == kTypeDate) raise_not_related(kActionSubtract, kTypeTime);
  if (op == kMathMultiply && other == kTypeTime) raise_not_related(kActionMultiply, kTypeTime);
  Cell* result = float_do_math(left, right, op);
  // A time over a time is their ratio.
  if (op == kMathDivide && other == kTypeTime) *result = float_cell(float_get(result));
  return result;
}

// ---------------------------------------------------------------- round, even? and odd?

// float!'s round on the seconds, always giving a time!. An integer! scale is
// taken as that many seconds, so the result never passes through an int32.
// float_round refuses a money! scale (not-related) and any scale that is not
// a number.
Cell* time_round(Cell* value, const RoundArgs& args) {
  RoundArgs a = args;
  Cell scale;
  if (args.to && args.to->is(kTypeInteger)) {
    scale = time_cell(double(integer_get(args.to)));
    a.to = &scale;
  }
  Cell* rounded = float_round(value, a);
  return time_set_cell(value, float_get(rounded));
}

// The whole seconds of the minute, the time first moved a microsecond away
// from zero.
int32_t time_second_units(const Cell* value) {
  double t = time_get(value);
  t += t >= 0 ? 0.000001 : -0.000001;
  return double_to_int32(std::fmod(t, 60.0));
}

bool time_even_q(Cell* value, const NoneArgs&) { return (time_second_units(value) & 1) == 0; }
bool time_odd_q(Cell* value, const NoneArgs&) { return (time_second_units(value) & 1) != 0; }

}  // namespace

void time_datatype_init() {
  ActionSlots s;
  s.make = time_make;
  s.to = time_make;
  s.form = time_form;
  s.mold = time_mold;
  s.eval_path = time_eval_path;
  s.add = math_handler<time_do_math, kMathAdd>;
  s.subtract = math_handler<time_do_math, kMathSubtract>;
  s.multiply = math_handler<time_do_math, kMathMultiply>;
  s.divide = math_handler<time_do_math, kMathDivide>;
  s.round = time_round;
  s.even_q = time_even_q;
  s.odd_q = time_odd_q;
  s.pick = time_pick;
  // float!'s own.
  s.random = kInherit;
  s.compare = kInherit;
  s.absolute = kInherit;
  s.negate = kInherit;
  s.remainder = kInherit;
  register_datatype({kTypeTime, kTypeFloat, "time!", kActionCount, s});
}

}  // namespace kiv

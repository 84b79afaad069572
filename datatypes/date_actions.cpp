// date!: the action handlers (make and to, form and mold, path access and
// pick, compare, add and subtract, random) and the registration. The
// calendar and the field access they use live in datatypes/date.cpp.
//
// Dates compare by their UTC instant, so two dates written in different
// zones for the same moment are equal; a date without a time stands for its
// local midnight.
#include <cmath>
#include <cstring>
#include <utility>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/time.h"
#include "runtime/errors.h"
#include "runtime/murmur3.h"
#include "runtime/numbers.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/type_hooks.h"

namespace kiv {

namespace {

// ---------------------------------------------------------------- make and to

[[noreturn]] void raise_bad_to_arg(const Cell* spec) {
  Cell datatype = datatype_cell(kTypeDate);
  raise_error(kErrScriptBadToArg, &datatype, spec);
}

// The parts a date spec block gives, in the order they come.
struct DateSpec {
  int32_t day = 0, month = 0, year = 0;
  bool has_time = false;
  double time = 0;
  bool time_from_parts = false;  // hour, minute and second given as numbers
  int32_t hour = 0, minute = 0;
  double second = 0;
  uint32_t zone = 0;
};

// Reads day, month, year, then a time! or hour, minute and second, then a
// zone as a time! or as hours and minutes, from the block's position; any
// value out of that order raises script bad-to-arg.
DateSpec date_spec_from_block(const Cell* spec) {
  int32_t total = block_total_length(spec);
  int32_t head = series_clamp_head(spec, total);
  int32_t n = total - head;
  if (n < 3) raise_bad_to_arg(spec);
  auto at = [&](int32_t i) { return *block_ks_abs_at(spec, head + i); };
  auto integer_at = [&](int32_t i) {
    Cell c = at(i);
    if (!c.is(kTypeInteger)) raise_bad_to_arg(spec);
    return integer_get(&c);
  };
  DateSpec d;
  d.day = integer_at(0);
  d.month = integer_at(1);
  d.year = integer_at(2);
  if (d.day > 99 && d.day > d.year) std::swap(d.day, d.year);
  int32_t i = 3;
  if (i < n) {
    d.has_time = true;
    Cell c = at(i++);
    if (c.is(kTypeTime)) {
      d.time = time_get(&c);
    } else if (c.is(kTypeInteger)) {
      d.time_from_parts = true;
      d.hour = integer_get(&c);
      if (i < n && at(i).is(kTypeInteger)) d.minute = integer_at(i++);
      if (i < n && (at(i).is(kTypeInteger) || at(i).is(kTypeFloat))) {
        Cell s = at(i++);
        d.second = s.is(kTypeInteger) ? double(integer_get(&s)) : float_get(&s);
      }
      d.time = double(d.hour) * 3600.0 + double(d.minute) * 60.0 + d.second;
    } else {
      raise_bad_to_arg(spec);
    }
  }
  if (i < n) {
    Cell c = at(i++);
    if (c.is(kTypeTime)) {
      Cell probe = date_cell(0);
      date_set_zone(&c, &probe, true);
      d.zone = date_word_zone(date_packed(&probe));
    } else if (c.is(kTypeInteger)) {
      int32_t hours = integer_get(&c);
      int32_t minutes = i < n ? integer_at(i++) : 0;
      d.zone = date_zone_bits(hours, minutes);
    } else {
      raise_bad_to_arg(spec);
    }
  }
  if (i < n) raise_bad_to_arg(spec);
  return d;
}

// The date of a spec block; with [exact] (make) the given date and time of
// day must stand as given, with nothing carried.
Cell date_from_block(const Cell* spec, bool exact) {
  DateSpec d = date_spec_from_block(spec);
  if (exact) {
    bool time_ok = !d.has_time || (d.time >= 0 && d.time < 86400.0);
    if (d.time_from_parts)
      time_ok = time_ok && d.hour >= 0 && d.hour <= 23 && d.minute >= 0 && d.minute <= 59 && d.second >= 0 &&
                d.second < 60;
    if (!time_ok) raise_bad_to_arg(spec);
  }
  int64_t days = date_days_of(d.year, d.month, d.day);
  Cell date;
  if (!d.has_time) {
    date = date_cell(days_to_date(days, d.zone, false));
  } else {
    double time = date_apply_zone(d.time, d.zone, false);
    days = date_carry_days(days, &time, d.zone);
    date = date_cell(days_to_date(days, d.zone, true), time);
  }
  uint32_t word = date_packed(&date);
  if (exact &&
      (date_word_year(word) != d.year || date_word_month(word) != d.month || date_word_day(word) != d.day))
    raise_bad_to_arg(spec);
  return date;
}

// Seconds since 1970-01-01 as a UTC date with a time.
Cell date_from_epoch(int32_t seconds) {
  Cell date = date_cell(days_to_date(date_days_of(1970, 1, 1), 0, true));
  date_set_time(&date, double(seconds), false);
  return date;
}

Cell* date_make_or_to(Cell* result, const MakeArgs& args, bool make) {
  const Cell* spec = args.spec;
  TypeId t = spec->type();
  Cell date;
  if (t == kTypeDate)
    date = *spec;
  else if (t == kTypeInteger && !make)
    date = date_from_epoch(integer_get(spec));
  else if (is_any_list(t))
    date = date_from_block(spec, make);
  else
    raise_bad_to_arg(spec);
  *result = date;
  return result;
}

Cell* date_make(Cell* result, const MakeArgs& args) { return date_make_or_to(result, args, true); }
Cell* date_to(Cell* result, const MakeArgs& args) { return date_make_or_to(result, args, false); }

// ---------------------------------------------------------------- form and mold

int32_t date_form(Cell* value, const FormArgs& args) { return date_format(value, args.buffer, args.limit); }
int32_t date_mold(Cell* value, const MoldArgs& args) {
  return date_format(value, args.buffer, args.limit, args.all);
}

// ---------------------------------------------------------------- path access and pick

// The field a selector names: an integer 1-14 or an accessor word; 0 for
// anything else.
int date_selector(const Cell* selector) {
  if (selector->is(kTypeInteger)) {
    int32_t n = integer_get(selector);
    return n >= kDateFieldDate && n <= kDateFieldIsoweek ? n : 0;
  }
  int index = date_field_index(selector, nullptr);
  return index > 0 ? index : 0;
}

// The integer a field set needs; script invalid-arg for anything else.
int32_t set_integer(const Cell* value) {
  if (!value->is(kTypeInteger)) raise_error(kErrScriptInvalidArg, value);
  return integer_get(value);
}

// [date] moved to day number [days], zone, time flag and time kept.
void move_to_day(Cell* date, int64_t days) {
  uint32_t word = date_packed(date);
  date_store(date, days_to_date(days, date_word_zone(word), date_word_has_time(word)), date_time(date));
}

void date_set_field(Cell* date, int field, const Cell* value) {
  uint32_t word = date_packed(date);
  int32_t year = date_word_year(word), month = date_word_month(word), day = date_word_day(word);
  switch (field) {
    case kDateFieldDate: {
      if (!value->is(kTypeDate)) raise_error(kErrScriptInvalidArg, value);
      uint32_t keep = kDateTimeFlag | kDateZoneMask;
      date_store(date, (date_packed(value) & ~keep) | (word & keep), date_time(date));
      return;
    }
    case kDateFieldYear: move_to_day(date, date_days_of(set_integer(value), month, day)); return;
    case kDateFieldMonth: date_set_month(date, set_integer(value)); return;
    case kDateFieldDay: move_to_day(date, date_days_of(year, month, set_integer(value))); return;
    case kDateFieldZone: date_set_zone(value, date, false); return;
    case kDateFieldTimezone: date_set_zone(value, date, true); return;
    case kDateFieldTime:
      if (value->is(kTypeNone)) {
        date_store(date, word & ~kDateTimeFlag, 0.0);
      } else if (value->is(kTypeTime)) {
        date_set_time(date, time_get(value), true);
      } else {
        raise_error(kErrScriptInvalidArg, value);
      }
      return;
    case kDateFieldHour:
    case kDateFieldMinute:
    case kDateFieldSecond: {
      double v;
      if (value->is(kTypeInteger))
        v = double(integer_get(value));
      else if (value->is(kTypeFloat) && field == kDateFieldSecond)
        v = float_get(value);
      else
        raise_error(kErrScriptInvalidArg, value);
      TimeField which = field == kDateFieldHour     ? TimeField::kHour
                        : field == kDateFieldMinute ? TimeField::kMinute
                                                    : TimeField::kSecond;
      date_set_time(date, time_set_field(date_local_time(date), which, v), true);
      return;
    }
    case kDateFieldWeekday: date_set_weekday(date, set_integer(value)); return;
    case kDateFieldYearday: date_set_yearday(date, set_integer(value)); return;
    case kDateFieldWeek: {
      int64_t n = set_integer(value);
      int64_t jan1 = date_jan1_days(word);
      int64_t e = date_weekday_of_days(jan1) % 7;  // Sunday 0
      move_to_day(date, n <= 1 ? jan1 : jan1 + 7 * n - e - 7);
      return;
    }
    case kDateFieldIsoweek: date_set_week(date, set_integer(value)); return;
    default: return;
  }
}

// Getting pushes the field; setting changes the date in place and gives the value set.
Cell* date_eval_path(Cell* parent, const EvalPathArgs& args) {
  int field = date_selector(args.element);
  if (field == 0) raise_error(kErrScriptInvalidPath, args.path ? args.path : parent, args.element);
  if (!args.value) return stack_push_value(date_get_field(parent, field));
  date_set_field(parent, field, args.value);
  return args.value;
}

Cell* date_pick(Cell* value, const PickArgs& args) {
  int field = date_selector(args.index);
  if (field == 0) raise_error(kErrScriptOutOfRange, args.index);
  *value = date_get_field(value, field);
  return value;
}

// ---------------------------------------------------------------- compare

// The UTC day number and time of day (0 <= t < 86400) of [date].
struct UtcInstant {
  int64_t days;
  double time;
};

UtcInstant utc_instant(const Cell* date) {
  double time = date_utc_time(date);
  int64_t days = date_carry_days(date_to_days(date_packed(date)), &time, 0);
  return {days, time};
}

int date_compare(Cell* value, const CompareArgs& args) {
  const Cell* other = args.value2;
  if (!other->is(kTypeDate)) return kNotComparable;
  UtcInstant a = utc_instant(value), b = utc_instant(other);
  switch (args.op) {
    case kCmpEqual:
    case kCmpNotEqual:
    case kCmpStrictEqual:
    case kCmpFindEqual: return a.days == b.days && float_almost_equal(a.time, b.time) ? 0 : 1;
    case kCmpSame: {
      bool same_zone = date_word_zone(date_packed(value)) == date_word_zone(date_packed(other));
      return a.days == b.days && std::memcmp(&a.time, &b.time, sizeof a.time) == 0 && same_zone ? 0 : 1;
    }
    default:
      if (a.days != b.days) return a.days < b.days ? -1 : 1;
      if (float_almost_equal(a.time, b.time)) return 0;
      return a.time < b.time ? -1 : 1;
  }
}

// ---------------------------------------------------------------- random

// With /seed, seeds the generator from the date and gives unset!. Otherwise a
// day drawn between the calendar's day 0 and the date (the day before it for a
// positive day number); a date with a time also gets a random zone and time
// of day.
Cell* date_random(Cell* value, const RandomArgs& args) {
  uint32_t word = date_packed(value);
  if (args.seed) {
    random_seed(word + uint32_t(double_to_int32(std::trunc(date_time(value)))));
    *value = kUnsetCell;
    return value;
  }
  int32_t days = date_to_days(word);
  int32_t drawn = days > 0   ? random_integer(args.secure, days) - 1
                  : days < 0 ? random_integer(args.secure, days) + 1
                             : 0;
  bool has_time = date_word_has_time(word);
  uint32_t zone = has_time ? uint32_t(random_next()) & kDateZoneMask : date_word_zone(word);
  if ((zone & ~kDateZoneNegative) == 0) zone = 0;  // no "-0:00"
  *value = date_cell(days_to_date(drawn, zone, has_time));
  if (has_time) date_set_time(value, double(random_integer(args.secure, 86400) - 1), true);
  return value;
}

// ---------------------------------------------------------------- hash

// Dates equal as compare sees them share their UTC day (the times only
// compare within float!'s tolerance), so the hash is that day's.
// Never raises: a time that is not finite hashes by the local day alone.
uint32_t date_hash(const Cell* value) {
  int64_t days = date_to_days(date_packed(value));
  double time = date_utc_time(value);
  if (std::isfinite(time) && std::fabs(time) < 1e15) {
    double m = std::floor(time / 86400.0);
    time -= m * 86400.0;
    days += int64_t(m) - (time < 0 ? 1 : 0) + (time >= 86400.0 ? 1 : 0);
  }
  return hash_int32(uint32_t(days));
}

constexpr TypeHooks kDateHooks{.hash = date_hash};

}  // namespace

void date_datatype_init() {
  register_datatype({kTypeDate,
                     kTypeNil,
                     "date!",
                     kActionCount,
                     {
                         .make = date_make,
                         .random = date_random,
                         .to = date_to,
                         .form = date_form,
                         .mold = date_mold,
                         .eval_path = date_eval_path,
                         .compare = date_compare,
                         .add = math_handler<date_do_math, kMathAdd>,
                         .subtract = math_handler<date_do_math, kMathSubtract>,
                         .pick = date_pick,
                     },
                     &kDateHooks});
}

}  // namespace kiv

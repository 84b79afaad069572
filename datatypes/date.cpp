// date!: the calendar on day numbers, normalisation, setting parts, making
// dates from literal parts (datatypes/date.h lays out the payload).
//
// Every change of a date goes through day numbers: the local date becomes a
// day number, the change is made there, and days_to_date packs it again, so
// carrying past a month's or year's end is the calendar's own. Day numbers
// are computed with floor division, so negative years keep their leap days
// (29-Feb-0000 and 29-Feb--0004 exist and are distinct from 1 March). Years
// outside the 15-bit field raise type-limit instead of wrapping.
#include "datatypes/date.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/time.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/root_block.h"
#include "runtime/stack.h"

namespace kiv {

namespace {

int64_t floor_div(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

// The day number of 1 March of March-based year [yy].
int64_t march_year_start(int64_t yy) {
  return 365 * yy + floor_div(yy, 4) - floor_div(yy, 100) + floor_div(yy, 400);
}

// Day numbers of 1 January of years -16384 and 16384: the calendar's ends.
int64_t first_day() { return date_days_of(kDateMinYear, 1, 1); }
int64_t end_day() { return date_days_of(int64_t(kDateMaxYear) + 1, 1, 1); }

}  // namespace

void raise_date_limit() {
  Cell datatype = datatype_cell(kTypeDate);
  raise_error(kErrScriptTypeLimit, &datatype);
}

uint32_t date_zone_bits(int32_t hours, int32_t minutes) {
  bool negative = hours < 0 || (hours == 0 && minutes < 0);
  int64_t h = hours < 0 ? -int64_t(hours) : hours;
  int64_t m = minutes < 0 ? -int64_t(minutes) : minutes;
  h += m / 60;
  m %= 60;
  if (h >= 16) {
    Cell value = integer_cell(hours);
    raise_error(kErrScriptOutOfRange, &value);
  }
  return (negative && (h || m / 15) ? kDateZoneNegative : 0u) | uint32_t(h << 2) | uint32_t(m / 15);
}

// ---------------------------------------------------------------- calendar

bool leap_year_q(int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int64_t date_days_of(int64_t year, int64_t month, int64_t day) {
  year += floor_div(month - 1, 12);
  month = floor_mod(month - 1, 12) + 1;
  int64_t mm = (month + 9) % 12;  // March is 0
  int64_t yy = year - mm / 10;
  return march_year_start(yy) + (mm * 306 + 5) / 10 + (day - 1);
}

int32_t date_to_days(uint32_t word) {
  return int32_t(date_days_of(date_word_year(word), date_word_month(word), date_word_day(word)));
}

uint32_t days_to_date(int64_t days, uint32_t zone, bool has_time) {
  if (days < first_day() || days >= end_day()) raise_date_limit();
  int64_t yy = int64_t(std::floor((10000.0 * double(days) + 14780.0) / 3652425.0));
  int64_t ddd = days - march_year_start(yy);
  while (ddd < 0) ddd = days - march_year_start(--yy);
  while (days >= march_year_start(yy + 1)) ddd = days - march_year_start(++yy);
  int64_t mi = (100 * ddd + 52) / 3060;
  int32_t month = int32_t((mi + 2) % 12 + 1);
  int32_t year = int32_t(yy + (mi + 2) / 12);
  int32_t day = int32_t(ddd - (mi * 306 + 5) / 10 + 1);
  return date_pack(year, month, day, zone, has_time);
}

int32_t date_jan1_days(uint32_t word) { return int32_t(date_days_of(date_word_year(word), 1, 1)); }

int32_t date_yearday(uint32_t word) { return date_to_days(word) - date_jan1_days(word) + 1; }

int32_t date_weekday_of_days(int64_t days) { return int32_t(floor_mod(days + 2, 7) + 1); }

double date_utc_time(const Cell* date) {
  uint32_t word = date_packed(date);
  return date_word_has_time(word) ? date_time(date) : -double(date_zone_seconds(date_word_zone(word)));
}

double date_local_time(const Cell* date) {
  uint32_t word = date_packed(date);
  return date_word_has_time(word) ? date_time(date) + double(date_zone_seconds(date_word_zone(word))) : 0.0;
}

double date_to_epoch(const Cell* date) {
  int64_t days = date_to_days(date_packed(date)) - date_days_of(1970, 1, 1);
  return double(days) * 86400.0 + date_utc_time(date);
}

double date_to_seconds(uint32_t word, double time) { return double(date_to_days(word)) * 86400.0 + time; }

double date_apply_zone(double time, uint32_t zone, bool to_local) {
  double offset = double(date_zone_seconds(zone));
  return to_local ? time + offset : time - offset;
}

int64_t date_carry_days(int64_t days, double* time, uint32_t zone) {
  double offset = double(date_zone_seconds(zone));
  double t = *time;
  if (!std::isfinite(t)) raise_date_limit();
  double m = std::floor((t + offset) / 86400.0);
  if (std::fabs(m) > double(end_day() - first_day()) + 2) raise_date_limit();
  days += int64_t(m);
  t -= m * 86400.0;
  // The quotient may be off by one where the division rounds.
  while (t + offset < 0) {
    t += 86400.0;
    days--;
  }
  while (t + offset >= 86400.0) {
    t -= 86400.0;
    days++;
  }
  *time = t;
  return days;
}

// ---------------------------------------------------------------- setting parts

namespace {

// [date] moved to day number [days], its zone, time flag and time kept.
void date_move_to(Cell* date, int64_t days) {
  uint32_t word = date_packed(date);
  date_store(date, days_to_date(days, date_word_zone(word), date_word_has_time(word)), date_time(date));
}

}  // namespace

void date_set_time(Cell* date, double time, bool local) {
  uint32_t word = date_packed(date);
  uint32_t zone = date_word_zone(word);
  if (local) time = date_apply_zone(time, zone, false);
  int64_t days = date_carry_days(date_to_days(word), &time, zone);
  date_store(date, days_to_date(days, zone, true), time);
}

void date_set_month(Cell* date, int32_t month) {
  uint32_t word = date_packed(date);
  date_move_to(date, date_days_of(date_word_year(word), month, date_word_day(word)));
}

void date_set_week(Cell* date, int32_t n) {
  int64_t jan4 = date_days_of(date_word_year(date_packed(date)), 1, 4);
  int64_t week1 = jan4 - (date_weekday_of_days(jan4) - 1);
  date_move_to(date, week1 + 7 * (int64_t(n) - 1));
}

void date_set_weekday(Cell* date, int32_t n) {
  int64_t days = date_to_days(date_packed(date));
  date_move_to(date, days + int64_t(n) - date_weekday_of_days(days));
}

void date_set_yearday(Cell* date, int32_t n) {
  date_move_to(date, date_jan1_days(date_packed(date)) + int64_t(n) - 1);
}

// ---------------------------------------------------------------- making dates

Cell* date_make_at(Cell* cell, int32_t year, int32_t month, int32_t day, double time, int32_t zone_hours,
                   int32_t zone_minutes, bool has_time) {
  uint32_t zone = date_zone_bits(zone_hours, zone_minutes);
  int64_t days = date_days_of(year, month, day);
  if (!has_time) {
    *cell = date_cell(days_to_date(days, zone, false));
    return cell;
  }
  time = date_apply_zone(time, zone, false);
  days = date_carry_days(days, &time, zone);
  *cell = date_cell(days_to_date(days, zone, true), time);
  return cell;
}

Cell* date_from_parts(Cell* cell, int32_t year, int32_t month, int32_t day, int32_t hours, int32_t minutes,
                      int32_t seconds, int32_t nanoseconds) {
  double time =
      double(hours) * 3600.0 + double(minutes) * 60.0 + double(seconds) + double(nanoseconds) * 1e-9;
  return date_make_at(cell, year, month, day, time, 0, 0, true);
}

Cell* date_make_at_payload(const Cell* block, uint32_t word, double time) {
  Cell* c = block_append_cell(block);
  *c = date_cell(word, time);
  return c;
}

Cell* date_push(uint32_t word, double time) { return stack_push_value(date_cell(word, time)); }

// ---------------------------------------------------------------- zone

void date_set_zone(const Cell* value, Cell* date, bool keep_instant) {
  int32_t hours, minutes;
  if (value->is(kTypeInteger)) {
    int32_t n = integer_get(value);
    if (n <= -16 || n >= 16) raise_error(kErrScriptOutOfRange, value);
    hours = n;
    minutes = 0;
  } else if (value->is(kTypeTime)) {
    double t = time_get(value);
    double m = std::fabs(t);
    if (!(m < 16 * 3600.0)) raise_error(kErrScriptOutOfRange, value);
    int32_t sign = t < 0 ? -1 : 1;
    hours = sign * int32_t(m / 3600.0);
    minutes = sign * int32_t(std::fmod(m, 3600.0) / 60.0);
  } else {
    raise_error(kErrScriptInvalidArg, value);
  }
  uint32_t zone = date_zone_bits(hours, minutes);
  uint32_t word = date_packed(date);
  double time = keep_instant ? date_utc_time(date) : date_apply_zone(date_local_time(date), zone, false);
  int64_t days = date_carry_days(date_to_days(word), &time, zone);
  date_store(date, days_to_date(days, zone, true), time);
}

// ---------------------------------------------------------------- fields

namespace {

// Weeks of the ISO year [year]: 53 when it starts on a Thursday, or on a
// Wednesday in a leap year.
int32_t iso_weeks_in(int32_t year) {
  int32_t jan1 = date_weekday_of_days(date_days_of(year, 1, 1));
  return jan1 == 4 || (jan1 == 3 && leap_year_q(year)) ? 53 : 52;
}

}  // namespace

int32_t date_week(uint32_t word) {
  int32_t e = date_weekday_of_days(date_jan1_days(word)) % 7;  // Sunday 0
  int32_t d = date_yearday(word);
  return d <= 7 - e ? 1 : (d + e - 1) / 7 + 1;
}

int32_t date_isoweek(uint32_t word) {
  int32_t year = date_word_year(word);
  int32_t week = (date_yearday(word) - date_weekday_of_days(date_to_days(word)) + 10) / 7;
  if (week < 1) return iso_weeks_in(year - 1);
  if (week > iso_weeks_in(year)) return 1;
  return week;
}

Cell date_get_field(const Cell* date, int index) {
  uint32_t word = date_packed(date);
  bool has_time = date_word_has_time(word);
  double local = date_local_time(date);
  switch (index) {
    case kDateFieldDate: return date_cell(word & ~(kDateTimeFlag | kDateZoneMask));
    case kDateFieldYear: return integer_cell(date_word_year(word));
    case kDateFieldMonth: return integer_cell(date_word_month(word));
    case kDateFieldDay: return integer_cell(date_word_day(word));
    case kDateFieldZone:
    case kDateFieldTimezone:
      return has_time ? time_cell(double(date_zone_seconds(date_word_zone(word)))) : kNoneCell;
    case kDateFieldTime: return has_time ? time_cell(local) : kNoneCell;
    case kDateFieldHour: return integer_cell(time_get_hours(local));
    case kDateFieldMinute: return integer_cell(time_get_minutes(local));
    case kDateFieldSecond: return float_cell(time_get_seconds(local));
    case kDateFieldWeekday: return integer_cell(date_weekday_of_days(date_to_days(word)));
    case kDateFieldYearday: return integer_cell(date_yearday(word));
    case kDateFieldWeek: return integer_cell(date_week(word));
    case kDateFieldIsoweek: return integer_cell(date_isoweek(word));
    default: return kNoneCell;
  }
}

int date_field_index(const Cell* word, const Cell* value) {
  if (!is_any_word(word->type())) return -1;
  static constexpr struct {
    RuntimeSymbol symbol;
    int index;
  } kFields[] = {
      {kSymDate, kDateFieldDate},         {kSymYear, kDateFieldYear},       {kSymMonth, kDateFieldMonth},
      {kSymDay, kDateFieldDay},           {kSymZone, kDateFieldZone},       {kSymTime, kDateFieldTime},
      {kSymHour, kDateFieldHour},         {kSymMinute, kDateFieldMinute},   {kSymSecond, kDateFieldSecond},
      {kSymWeekday, kDateFieldWeekday},   {kSymYearday, kDateFieldYearday}, {kSymJulian, kDateFieldYearday},
      {kSymTimezone, kDateFieldTimezone}, {kSymWeek, kDateFieldWeek},       {kSymIsoweek, kDateFieldIsoweek},
  };
  int32_t symbol = word_symbol(word);
  for (const auto& f : kFields)
    if (runtime_symbol_q(symbol, f.symbol)) return f.index;
  if (value && value->is(kTypeTime)) raise_error(kErrScriptCannotUse, word, value);
  return -1;
}

// ---------------------------------------------------------------- arithmetic

void date_difference(Cell* date1, const Cell* date2) {
  double days = double(date_to_days(date_packed(date1))) - double(date_to_days(date_packed(date2)));
  *date1 = time_cell(days * 86400.0 + date_utc_time(date1) - date_utc_time(date2));
}

Cell* date_do_math(Cell* left, Cell* right, int op) {
  int64_t other_days = 0;
  double other_time = 0;
  uint32_t word = date_packed(left);
  bool has_time = date_word_has_time(word);
  switch (right->type()) {
    case kTypeInteger: other_days = integer_get(right); break;
    case kTypeTime:
      other_time = time_get(right);
      has_time = true;
      break;
    case kTypeDate:
      if (op == kMathAdd) raise_not_related(kActionAdd, kTypeDate);
      other_days = date_to_days(date_packed(right));
      other_time = date_utc_time(right);
      break;
    default: raise_invalid_type(right);
  }
  int64_t days = date_to_days(word);
  double time = date_utc_time(left);
  if (op == kMathAdd) {
    days += other_days;
    time += other_time;
  } else {
    days -= other_days;
    time -= other_time;
  }
  uint32_t zone = date_word_zone(word);
  days = date_carry_days(days, &time, zone);
  if (right->is(kTypeDate)) {
    *left = integer_cell(int32_t(days));
    return left;
  }
  *left = date_cell(days_to_date(days, zone, has_time), has_time ? time : 0.0);
  return left;
}

// ---------------------------------------------------------------- text

namespace {

[[noreturn]] void raise_invalid_months() { raise_error(kErrScriptInvalidMonths); }

// MAY ALLOCATE. Appends the first three characters of the name of [month]
// from system/locale/months; returns the characters written.
int32_t append_month_name(Cell* buffer, int32_t month) {
  Cell months = *root_slot(kRootMonthNames);
  if (!is_any_block(months.type())) raise_invalid_months();
  int32_t total = block_total_length(&months);
  int32_t head = series_clamp_head(&months, total);
  if (total - head < month) raise_invalid_months();
  Cell name = *block_ks_abs_at(&months, head + month - 1);
  if (!name.is(kTypeString)) raise_invalid_months();
  return string_concatenate(buffer, &name, 3, 0, ConcatMode::kAppend);
}

// "0" before one-digit numbers.
std::string two_digits(int32_t n) { return (n < 10 ? "0" : "") + std::string(integer_to_text(n)); }

}  // namespace

// The latest local time of day that six significant digits of seconds write
// without carrying into the next day: 23:59:59.9999.
constexpr double kLastWrittenInstant = 86399.9999;

int32_t date_format(const Cell* date, Cell* buffer, int32_t limit, bool exact) {
  uint32_t word = date_packed(date);
  double local = date_local_time(date);
  int32_t year = date_word_year(word);
  const char* separator = year < 0 ? "/" : "-";
  int32_t n = string_append_c_string(buffer, integer_to_text(date_word_day(word)));
  n += string_append_c_string(buffer, separator);
  n += append_month_name(buffer, date_word_month(word));
  n += string_append_c_string(buffer, separator);
  if (year < 0) {
    n += string_append_c_string(buffer, "-");
    n += string_append_c_string(buffer, integer_to_text(-year));
  } else {
    std::string digits = integer_to_text(year);
    if (year < 100) digits.insert(0, 4 - digits.size(), '0');
    n += string_append_c_string(buffer, digits);
  }
  if (!date_word_has_time(word)) return limit - n;
  n += string_append_c_string(buffer, "/");
  // Six significant digits of seconds would round the last instants of a day
  // up to "24:00:00", which is no time of a date: such a time is written as
  // the last one the digits can show.
  limit = time_format(exact ? local : std::min(local, kLastWrittenInstant), buffer, limit, exact);
  int32_t zone = date_zone_seconds(date_word_zone(word));
  if (zone != 0) {
    int32_t magnitude = zone < 0 ? -zone : zone;
    n += string_append_c_string(buffer, zone < 0 ? "-" : "+");
    n += string_append_c_string(buffer,
                                two_digits(magnitude / 3600) + ":" + two_digits(magnitude % 3600 / 60));
  }
  return limit - n;
}

void date_months_init() {
  static constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                            "May",       "June",     "July",     "August",
                                            "September", "October",  "November", "December"};
  StackSave save;
  block_new(nullptr, 12, kRootMonthNames);
  for (const char* name : kMonths) {
    Cell* text = string_make_at(stack_push(), 16);
    string_append_c_string(text, name);
    Cell list = *root_slot(kRootMonthNames);
    block_append_value(&list, text);
  }
}

}  // namespace kiv

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

#include <cmath>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "runtime/errors.h"
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

double date_to_epoch(const Cell* date) {
  int64_t days = date_to_days(date_packed(date)) - date_days_of(1970, 1, 1);
  return double(days) * 86400.0 + date_time(date);
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

}  // namespace kiv

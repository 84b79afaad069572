// date!: a calendar date with an optional time of day and zone.
//
// Value cell (date! 47):
//   header     type id
//   word 1     the packed date word (below)
//   words 2-3  the time of day in UTC, a double of seconds, low word first
//
// Packed date word, from the top:
//   bits 17-31  year, 15-bit signed (-16384..16383)
//   bit  16     set when the value has a time
//   bits 12-15  month 1-12
//   bits 7-11   day 1-31
//   bit  6      set for a negative zone
//   bits 2-5    the zone's whole hours 0-15
//   bits 0-1    the zone's quarter hours 0-3 (15 minutes each)
//
// Year, month and day are the local date (as seen in the value's zone); the
// stored time is UTC, so stored time + zone offset = local time of day, and
// after every normalisation 0 <= local time < 86400 (the stored time itself
// may be negative or pass 86400). A date without a time has bit 16 clear and
// time 0; its zone bits are kept.
//
// Day numbers count from 1 March of year 0 (day 0) on the proleptic
// Gregorian calendar; 1-Jan-2000 is day 730425, a Saturday.
#pragma once

#include <cstdint>
#include <cstring>

#include "runtime/cell.h"

namespace kiv {

// ---------------------------------------------------------------- packed word

inline constexpr uint32_t kDateTimeFlag = 1u << 16;
inline constexpr uint32_t kDateZoneMask = 0x7Fu;
inline constexpr uint32_t kDateZoneNegative = 0x40u;
inline constexpr int32_t kDateMinYear = -16384;
inline constexpr int32_t kDateMaxYear = 16383;

inline int32_t date_word_year(uint32_t word) { return int32_t(word) >> 17; }
inline int32_t date_word_month(uint32_t word) { return int32_t((word >> 12) & 15u); }
inline int32_t date_word_day(uint32_t word) { return int32_t((word >> 7) & 31u); }
inline bool date_word_has_time(uint32_t word) { return (word & kDateTimeFlag) != 0; }
inline uint32_t date_word_zone(uint32_t word) { return word & kDateZoneMask; }
// The packed word of a year in range, month 1-12, day 1-31, zone bits and
// time flag (not checked).
inline uint32_t date_pack(int32_t year, int32_t month, int32_t day, uint32_t zone, bool has_time) {
  return (uint32_t(year) << 17) | (has_time ? kDateTimeFlag : 0u) | (uint32_t(month) << 12) |
         (uint32_t(day) << 7) | (zone & kDateZoneMask);
}
// The zone offset in seconds of [zone] bits.
inline int32_t date_zone_seconds(uint32_t zone) {
  int32_t s = int32_t((zone >> 2) & 15u) * 3600 + int32_t(zone & 3u) * 900;
  return (zone & kDateZoneNegative) ? -s : s;
}
// Zone bits for [hours] (sign included) and [minutes] (counted by whole
// quarters; negative minutes make the zone negative too). A zone of 16 hours
// or more raises script out-of-range with the hours.
uint32_t date_zone_bits(int32_t hours, int32_t minutes);

// ---------------------------------------------------------------- cell

// A date! of the packed date [packed], time 0.
inline Cell date_cell(uint32_t packed) { return make_cell(kTypeDate, packed); }
// A date! of [packed] with the stored UTC time [time].
inline Cell date_cell(uint32_t packed, double time) {
  Cell c = make_cell(kTypeDate, packed);
  std::memcpy(&c.data2, &time, sizeof time);
  return c;
}
// Word 1 of a date!: its packed date.
inline uint32_t date_packed(const Cell* date) { return date->data1; }
// The stored UTC time of a date!.
inline double date_time(const Cell* date) {
  double t;
  std::memcpy(&t, &date->data2, sizeof t);
  return t;
}
// Writes the packed word and time of [date] (header kept).
inline void date_store(Cell* date, uint32_t packed, double time) {
  date->data1 = packed;
  std::memcpy(&date->data2, &time, sizeof time);
}

// ---------------------------------------------------------------- calendar

// script type-limit with date!: a date past the years the word holds.
[[noreturn]] void raise_date_limit();

// True when divisible by 4 and not by 100, or divisible by 400.
bool leap_year_q(int32_t year);
// The day number of [year], [month] (any value, carrying into the year) and
// [day] (any value, carrying into later or earlier months).
int64_t date_days_of(int64_t year, int64_t month, int64_t day);
// The day number of the word's year, month and day.
int32_t date_to_days(uint32_t word);
// The packed word of day number [days] with [zone] bits and the time flag
// [has_time]. A day outside the years -16384..16383 raises script
// type-limit with date!.
uint32_t days_to_date(int64_t days, uint32_t zone, bool has_time);
// The day number of 1 January of the word's year.
int32_t date_jan1_days(uint32_t word);
// The day of the year of [word], 1-based.
int32_t date_yearday(uint32_t word);
// The weekday of a day number: 1 Monday to 7 Sunday.
int32_t date_weekday_of_days(int64_t days);
// The stored UTC time of [date]; for a date without a time, that of its
// local midnight.
double date_utc_time(const Cell* date);
// The local time of day of [date]; 0 for a date without a time.
double date_local_time(const Cell* date);
// The UTC instant of [date] in seconds since 1970-01-01, fractions kept.
double date_to_epoch(const Cell* date);
// Day number x 86400 + [time].
double date_to_seconds(uint32_t word, double time);
// [time] turned to local time of [zone] ([to_local]) or from it to UTC.
double date_apply_zone(double time, uint32_t zone, bool to_local);
// Moves whole days between [*time] and [days] so that the local time of
// [zone] ends in 0 <= t < 86400; returns the new day count. A time that is not
// finite, or days leaving the calendar, raise script type-limit with date!.
int64_t date_carry_days(int64_t days, double* time, uint32_t zone);

// ---------------------------------------------------------------- setting parts

// Stores [time] in [date] (a local time when [local]: turned to UTC first),
// carries days and rebuilds the word; the time flag is set.
void date_set_time(Cell* date, double time, bool local);
// Sets the month; months outside 1..12 carry into the year by floor division
// and a day past the month's end carries into the next (31-Jan, month 2 is
// 2 or 3 March).
void date_set_month(Cell* date, int32_t month);
// Sets the zone of [date] from [value]: an integer! of hours or a time! (its
// hours and minutes, minutes by whole quarters). A zone of 16 hours or more
// raises script out-of-range with the value; another type script
// invalid-arg. With [keep_instant] the UTC time is kept (the local clock
// moves); without it the local clock time is kept. The time flag is set.
void date_set_zone(const Cell* value, Cell* date, bool keep_instant);
// Moves [date] to the Monday of ISO week [n] of its year.
void date_set_week(Cell* date, int32_t n);
// Moves [date] to weekday [n] (1 Monday .. 7 Sunday, carrying past them) of its week.
void date_set_weekday(Cell* date, int32_t n);
// Moves [date] to day [n] of its year (1 January + n - 1).
void date_set_yearday(Cell* date, int32_t n);

// ---------------------------------------------------------------- making dates

// Makes [cell] a date from literal parts: [time] (when [has_time]) is the
// local time and is turned to UTC; the zone from [zone_hours] (sign included)
// and [zone_minutes] / 15. The day carries past the month's end, the time past
// the day. A zone of 16 hours or more raises script out-of-range; a year out
// of range script type-limit with date!. Returns [cell].
Cell* date_make_at(Cell* cell, int32_t year, int32_t month, int32_t day, double time, int32_t zone_hours,
                   int32_t zone_minutes, bool has_time);
// Makes [cell] a date with a time, zone 0 (UTC), of hours x 3600 + minutes x
// 60 + seconds + nanoseconds x 1e-9. Returns [cell].
Cell* date_from_parts(Cell* cell, int32_t year, int32_t month, int32_t day, int32_t hours, int32_t minutes,
                      int32_t seconds, int32_t nanoseconds);
// MAY ALLOCATE. Appends a date! of [word] and [time] to [block]; returns it.
Cell* date_make_at_payload(const Cell* block, uint32_t word, double time);
// Pushes a date! of [word] and [time]; returns it.
Cell* date_push(uint32_t word, double time);

// ---------------------------------------------------------------- fields

// Field indexes of path access and pick.
enum DateField : int {
  kDateFieldDate = 1,
  kDateFieldYear = 2,
  kDateFieldMonth = 3,
  kDateFieldDay = 4,
  kDateFieldZone = 5,
  kDateFieldTime = 6,
  kDateFieldHour = 7,
  kDateFieldMinute = 8,
  kDateFieldSecond = 9,
  kDateFieldWeekday = 10,
  kDateFieldYearday = 11,
  kDateFieldTimezone = 12,
  kDateFieldWeek = 13,
  kDateFieldIsoweek = 14,
};
// The value of field [index] (1-14) of [date].
Cell date_get_field(const Cell* date, int index);
// The field index of an accessor [word] (any letter case), or -1; another
// word raises script cannot-use with the word and [value] when [value] is a
// time!.
int date_field_index(const Cell* word, const Cell* value);
// The Sunday-based week of [word]'s year: week 1 holds 1 January.
int32_t date_week(uint32_t word);
// The ISO 8601 week of [word].
int32_t date_isoweek(uint32_t word);

// ---------------------------------------------------------------- arithmetic

// Turns [date1] into the time! between it and [date2]: (days1 - days2) x
// 86400 + time1 - time2.
void date_difference(Cell* date1, const Cell* date2);
// The arithmetic of a date at [left] with [right] under [op] (add or
// subtract): integer! days, time! seconds, or (subtract only) a date!, which
// gives the integer! number of days. The result is left in [left].
Cell* date_do_math(Cell* left, Cell* right, int op);

// ---------------------------------------------------------------- text

// MAY ALLOCATE. Appends the text of [date] (form and mold alike) to the
// string [buffer]: "1-Jan-2000", "1/Jan/-44", "1-Jan-2000/10:30:00+05:30".
// Month names come from system/locale/months; script invalid-months when
// that list is short or holds something else than strings. Returns [limit]
// less the characters written.
int32_t date_format(const Cell* date, Cell* buffer, int32_t limit, bool exact = false);

// MAY ALLOCATE. Makes system/locale/months (the root slot kRootMonthNames).
void date_months_init();

}  // namespace kiv

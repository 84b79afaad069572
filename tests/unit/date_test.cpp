// date!: the calendar on day numbers, normalisation of dates with times and
// zones, the setters the lexer uses, and the action handlers: make and to,
// path access and pick, arithmetic, compare, random, form and mold.
#include "datatypes/date.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "datatypes/logic.h"
#include "datatypes/time.h"
#include "kiv_test.h"
#include "runtime/root_block.h"
#include "runtime/type_hooks.h"

namespace kiv {
namespace {

using test::block_of;
using test::call_action;
using test::catch_error;
using test::kNoError;
using test::mold_of;
using test::outcome;

// "d-m-y" of a packed word, with "/local seconds" and "zone seconds" when it has a time.
std::string parts_of(const Cell& d) {
  uint32_t w = date_packed(&d);
  std::string s = std::to_string(date_word_day(w)) + "-" + std::to_string(date_word_month(w)) + "-" +
                  std::to_string(date_word_year(w));
  if (date_word_has_time(w)) {
    s += "/" + std::to_string(date_time(&d) + date_zone_seconds(date_word_zone(w)));
    s += " z" + std::to_string(date_zone_seconds(date_word_zone(w)));
  }
  return s;
}

Cell make_date(int32_t year, int32_t month, int32_t day) {
  Cell c;
  date_make_at(&c, year, month, day, 0, 0, 0, false);
  return c;
}

// A date with the local time [local] in the zone [zh]:[zm].
Cell make_date(int32_t year, int32_t month, int32_t day, double local, int32_t zh = 0, int32_t zm = 0) {
  Cell c;
  date_make_at(&c, year, month, day, local, zh, zm, true);
  return c;
}

constexpr double kHour = 3600, kMinute = 60;

// ---------------------------------------------------------------- calendar

TEST(DateTest, DayNumbersRoundTripAcrossTheCalendar) {
  EXPECT_EQ(date_to_days(date_pack(2000, 1, 1, 0, false)), 730425);
  EXPECT_EQ(date_weekday_of_days(730425), 6);  // a Saturday
  EXPECT_EQ(date_to_days(date_pack(0, 3, 1, 0, false)), 0);
  // Every day of the calendar packs back to itself, leap days of negative
  // years included; days follow each other without gaps.
  int64_t first = date_days_of(kDateMinYear, 1, 1), end = date_days_of(kDateMaxYear + 1, 1, 1);
  int64_t previous = first - 1;
  for (int64_t d = first; d < end; d++) {
    uint32_t w = days_to_date(d, 0, false);
    ASSERT_EQ(date_to_days(w), d) << d;
    ASSERT_EQ(d, previous + 1);
    previous = d;
  }
  EXPECT_NE(catch_error([&] { days_to_date(end, 0, false); }), kNoError);
  EXPECT_NE(catch_error([&] { days_to_date(first - 1, 0, false); }), kNoError);
}

TEST(DateTest, LeapYears) {
  struct Case {
    int32_t year;
    bool leap;
  } cases[] = {{2000, true}, {1900, false}, {2004, true}, {2001, false},
               {0, true},    {-4, true},    {-1, false},  {-100, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(leap_year_q(c.year), c.leap) << c.year;
    int64_t feb29 = date_days_of(c.year, 2, 29);
    uint32_t w = days_to_date(feb29, 0, false);
    EXPECT_EQ(date_word_month(w), c.leap ? 2 : 3) << c.year;
  }
}

// ---------------------------------------------------------------- lexer helpers

TEST(DateTest, MakeAtTurnsLocalTimeToUtc) {
  struct Case {
    int32_t y, m, d;
    double time;
    int32_t zh, zm;
    bool has_time;
    const char* parts;
    double stored;
  } cases[] = {
      {2000, 1, 1, 0, 0, 0, false, "1-1-2000", 0},
      {2000, 1, 1, 36000, 2, 0, true, "1-1-2000/36000.000000 z7200", 28800},
      {2000, 1, 1, 3600, 2, 0, true, "1-1-2000/3600.000000 z7200", -3600},
      {2000, 1, 1, 3600, -5, -30, true, "1-1-2000/3600.000000 z-19800", 23400},
      {2000, 1, 1, 0, 0, -30, true, "1-1-2000/0.000000 z-1800", 1800},
      {2000, 1, 1, 90000, 0, 0, true, "2-1-2000/3600.000000 z0", 3600},
      {2000, 2, 30, 0, 0, 0, false, "1-3-2000", 0},
  };
  for (const Case& c : cases) {
    Cell d;
    date_make_at(&d, c.y, c.m, c.d, c.time, c.zh, c.zm, c.has_time);
    EXPECT_EQ(parts_of(d), c.parts);
    EXPECT_EQ(date_time(&d), c.stored) << c.parts;
  }
  Cell d;
  EXPECT_EQ(catch_error([&] { date_make_at(&d, 2000, 1, 1, 0, 16, 0, true); }), kErrScriptOutOfRange);
  EXPECT_EQ(catch_error([&] { date_make_at(&d, 2000, 1, 1, 0, -16, 0, true); }), kErrScriptOutOfRange);
  EXPECT_EQ(catch_error([&] { date_make_at(&d, 20000, 1, 1, 0, 0, 0, false); }), kErrScriptTypeLimit);
  date_make_at(&d, 2000, 1, 1, 0, 15, 45, true);
  EXPECT_EQ(date_zone_seconds(date_word_zone(date_packed(&d))), 15 * 3600 + 45 * 60);
}

TEST(DateTest, WeekWeekdayAndYeardaySetters) {
  struct Case {
    int32_t year;
    void (*set)(Cell*, int32_t);
    int32_t n;
    const char* parts;
  } cases[] = {
      {2021, date_set_week, 1, "4-1-2021"},   // 1 January 2021 is a Friday
      {2021, date_set_week, 53, "3-1-2022"},  // 2021 has 52 weeks: week 1 of 2022
      {2020, date_set_week, 1, "30-12-2019"},    {2004, date_set_week, 53, "27-12-2004"},
      {2021, date_set_yearday, 1, "1-1-2021"},   {2020, date_set_yearday, 366, "31-12-2020"},
      {2021, date_set_yearday, 366, "1-1-2022"}, {2021, date_set_yearday, 0, "31-12-2020"},
  };
  for (const Case& c : cases) {
    Cell d = make_date(c.year, 6, 15);
    c.set(&d, c.n);
    EXPECT_EQ(parts_of(d), c.parts) << c.year << " " << c.n;
  }
  // Weekdays move within the Monday-based week of 15-Jun-2022 (a Wednesday).
  struct Wd {
    int32_t n;
    const char* parts;
  } wds[] = {{1, "13-6-2022"}, {3, "15-6-2022"}, {7, "19-6-2022"}, {8, "20-6-2022"}, {0, "12-6-2022"}};
  for (const Wd& c : wds) {
    Cell d = make_date(2022, 6, 15);
    date_set_weekday(&d, c.n);
    EXPECT_EQ(parts_of(d), c.parts) << c.n;
  }
}

// ---------------------------------------------------------------- text

TEST(DateTest, FormAndMold) {
  struct Case {
    Cell date;
    const char* text;
  } cases[] = {
      {make_date(2000, 1, 1), "1-Jan-2000"},
      {make_date(99, 3, 5), "5-Mar-0099"},
      {make_date(0, 12, 31), "31-Dec-0000"},
      {make_date(999, 1, 1), "1-Jan-999"},
      {make_date(-44, 3, 15), "15/Mar/-44"},
      {make_date(2000, 1, 1, 10 * kHour + 30 * kMinute), "1-Jan-2000/10:30:00"},
      {make_date(2000, 1, 1, 0), "1-Jan-2000/0:00:00"},
      {make_date(2000, 1, 1, 10 * kHour + 30 * kMinute + 15.5), "1-Jan-2000/10:30:15.5"},
      {make_date(2000, 1, 1, 10 * kHour + 30 * kMinute, 5, 30), "1-Jan-2000/10:30:00+05:30"},
      {make_date(2000, 1, 1, 10 * kHour + 30 * kMinute, -8, 0), "1-Jan-2000/10:30:00-08:00"},
      {make_date(2000, 1, 1, 23 * kHour, 12, 45), "1-Jan-2000/23:00:00+12:45"},
      {make_date(2000, 1, 1, 23 * kHour, 0, -15), "1-Jan-2000/23:00:00-00:15"},
      // The last instants of a day never round up to a 24th hour.
      {make_date(2000, 1, 1, 86400 - 1e-7), "1-Jan-2000/23:59:59.9999"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mold_of(c.date), c.text);
    EXPECT_EQ(test::form_of(c.date), c.text);
  }
  // The /part limit counts the characters of the date, time and zone.
  Cell d = make_date(2000, 1, 1, 10 * kHour, 5, 30);
  EXPECT_EQ(test::form_of(d, 5), "1-Jan");
  EXPECT_EQ(test::mold(d, false, false, false, 22), "1-Jan-2000/10:00:00+05");
}

TEST(DateTest, MonthNamesComeFromTheLocale) {
  StackSave save;
  Cell saved = *stack_push_value(*root_slot(kRootMonthNames));  // rooted while replaced
  Cell d = make_date(2000, 3, 1);
  *root_slot(kRootMonthNames) =
      *block_of({test::text_cell("Janvier"), test::text_cell("Fevrier"), test::text_cell("Mars")});
  EXPECT_EQ(mold_of(d), "1-Mar-2000");
  *root_slot(kRootMonthNames) =
      *block_of({test::text_cell("Janvier"), test::text_cell("Fevrier"), integer_cell(3)});
  EXPECT_EQ(outcome([&] { return d; }), "!invalid-months");
  *root_slot(kRootMonthNames) = *block_of({test::text_cell("Janvier")});
  EXPECT_EQ(outcome([&] { return d; }), "!invalid-months");
  *root_slot(kRootMonthNames) = kNoneCell;
  EXPECT_EQ(outcome([&] { return d; }), "!invalid-months");
  *root_slot(kRootMonthNames) = saved;
}

// ---------------------------------------------------------------- arithmetic

TEST(DateTest, AddAndSubtract) {
  struct Case {
    ActionId action;
    Cell a, b;
    const char* result;
  } cases[] = {
      {kActionAdd, make_date(2000, 2, 29), integer_cell(365), "28-Feb-2001"},
      {kActionAdd, make_date(1900, 2, 28), integer_cell(1), "1-Mar-1900"},
      {kActionAdd, make_date(2000, 2, 28), integer_cell(1), "29-Feb-2000"},
      {kActionAdd, make_date(2000, 1, 1), integer_cell(31), "1-Feb-2000"},
      {kActionSubtract, make_date(2000, 3, 1), integer_cell(1), "29-Feb-2000"},
      {kActionSubtract, make_date(1, 1, 1), integer_cell(1), "31-Dec-0000"},
      {kActionSubtract, make_date(-4, 3, 1), integer_cell(1), "29/Feb/-4"},
      {kActionAdd, make_date(2000, 1, 1), integer_cell(-730425), "1-Mar-0000"},  // day 0,
      {kActionAdd, make_date(2000, 1, 1), time_cell(36 * kHour), "2-Jan-2000/12:00:00"},
      {kActionSubtract, make_date(2000, 1, 1), time_cell(kHour), "31-Dec-1999/23:00:00"},
      {kActionAdd, make_date(2000, 1, 1, 23 * kHour, 2), time_cell(2 * kHour), "2-Jan-2000/1:00:00+02:00"},
      {kActionSubtract, make_date(2000, 1, 1, kHour, -5), time_cell(2 * kHour), "31-Dec-1999/23:00:00-05:00"},
      {kActionAdd, make_date(2000, 1, 1, kHour), integer_cell(1), "2-Jan-2000/1:00:00"},
      {kActionSubtract, make_date(2001, 1, 1), make_date(2000, 1, 1), "366"},
      {kActionSubtract, make_date(2000, 1, 1), make_date(2001, 1, 1), "-366"},
      {kActionSubtract, make_date(2000, 1, 2, kHour), make_date(2000, 1, 1, 2 * kHour), "0"},
      {kActionAdd, integer_cell(3), make_date(2000, 1, 1), "4-Jan-2000"},
      {kActionAdd, time_cell(2 * kHour), make_date(2000, 1, 1), "1-Jan-2000/2:00:00"},
      {kActionAdd, make_date(2000, 1, 1), make_date(2000, 1, 1), "!not-related"},
      {kActionAdd, make_date(2000, 1, 1), float_cell(1.5), "!invalid-type"},
      {kActionSubtract, integer_cell(3), make_date(2000, 1, 1), "!not-related"},
      {kActionAdd, make_date(16383, 12, 31), integer_cell(1), "!type-limit"},
      {kActionSubtract, make_date(-16384, 1, 1), integer_cell(1), "!type-limit"},
      {kActionAdd, make_date(2000, 1, 1), time_cell(INFINITY), "!type-limit"},
      {kActionAdd, make_date(2000, 1, 1), integer_cell(2147483647), "!type-limit"},
  };
  for (const Case& c : cases) EXPECT_EQ(outcome(c.action, {c.a, c.b}), c.result) << mold_of(c.a);
  // The stored time of a date with a zone is UTC: 1:00 local at +2:00 is -1:00.
  Cell r = call_action(kActionAdd, {make_date(2000, 1, 1, 23 * kHour, 2), time_cell(2 * kHour)});
  EXPECT_EQ(date_time(&r), -kHour);
}

TEST(DateTest, Difference) {
  struct Case {
    Cell a, b;
    double seconds;
  } cases[] = {
      {make_date(2000, 1, 2, 12 * kHour), make_date(2000, 1, 1), 36 * kHour},
      {make_date(2000, 1, 1), make_date(2000, 1, 2, 12 * kHour), -36 * kHour},
      {make_date(2000, 1, 1, 10 * kHour, 2), make_date(2000, 1, 1, 8 * kHour), 0},
      {make_date(2001, 1, 1), make_date(2000, 1, 1), 366 * 86400.0},
  };
  for (const Case& c : cases) {
    Cell d = c.a;
    date_difference(&d, &c.b);
    EXPECT_TRUE(d.is(kTypeTime));
    EXPECT_EQ(time_get(&d), c.seconds) << mold_of(c.a);
  }
}

// ---------------------------------------------------------------- compare

TEST(DateTest, CompareByUtcInstant) {
  struct Case {
    Cell a, b;
    CompareOp op;
    bool result;
  } cases[] = {
      {make_date(2000, 1, 1), make_date(2000, 1, 1, 0), kCmpEqual, true},
      {make_date(2000, 1, 1, 10 * kHour, 2), make_date(2000, 1, 1, 8 * kHour), kCmpEqual, true},
      {make_date(2000, 1, 1, 10 * kHour, 2), make_date(2000, 1, 1, 8 * kHour), kCmpStrictEqual, true},
      {make_date(2000, 1, 1, 10 * kHour, 2), make_date(2000, 1, 1, 8 * kHour), kCmpSame, false},
      {make_date(2000, 1, 1, 8 * kHour), make_date(2000, 1, 1, 8 * kHour), kCmpSame, true},
      {make_date(2000, 1, 1, 10 * kHour, 2), make_date(2000, 1, 1, 10 * kHour), kCmpEqual, false},
      {make_date(2000, 1, 1, 10 * kHour, 2), make_date(2000, 1, 1, 10 * kHour), kCmpNotEqual, true},
      // 23:00 UTC on 1 January, though the local date is the 2nd.
      {make_date(2000, 1, 2, kHour, 2), make_date(2000, 1, 1, 23.5 * kHour), kCmpLesser, true},
      // 17:00 UTC.
      {make_date(2000, 1, 1, 12 * kHour, -5), make_date(2000, 1, 1, 16 * kHour), kCmpGreater, true},
      // 17:00 UTC on the 2nd against 16:00 UTC on the 2nd.
      {make_date(2000, 1, 2, 12 * kHour, -5), make_date(2000, 1, 3, 4 * kHour, 12), kCmpGreater, true},
      {make_date(1999, 12, 31), make_date(2000, 1, 1), kCmpLesser, true},
      // Times compare with float!'s tolerance.
      {make_date(2000, 1, 1, 0.1 + 0.2), make_date(2000, 1, 1, 0.3), kCmpEqual, true},
      {make_date(2000, 1, 1, 0.1 + 0.2), make_date(2000, 1, 1, 0.3), kCmpGreater, false},
      {make_date(2000, 1, 1, 0.1 + 0.2), make_date(2000, 1, 1, 0.3), kCmpSame, false},
      {make_date(2000, 1, 1, 1), make_date(2000, 1, 1), kCmpGreater, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(test::compare(c.a, c.b, c.op), c.result)
        << mold_of(c.a) << " " << int(c.op) << " " << mold_of(c.b);
  // Equal dates hash alike, whatever their zones.
  Cell a = make_date(2000, 1, 2, kHour, 2), b = make_date(2000, 1, 1, 23 * kHour), c = make_date(2000, 1, 2);
  Cell c0 = make_date(2000, 1, 2, 0);
  EXPECT_EQ(hash_value(&a), hash_value(&b));
  EXPECT_EQ(hash_value(&c), hash_value(&c0));
  StackSave save;
  CompareArgs args;
  args.value2 = stack_push_value(integer_cell(730425));
  args.op = kCmpEqual;
  EXPECT_EQ(actions_of(kTypeDate).compare(stack_push_value(make_date(2000, 1, 1)), args), kNotComparable);
}

// ---------------------------------------------------------------- to integer! and to date!

TEST(DateTest, EpochSecondsBothWays) {
  struct Case {
    Cell date;
    const char* seconds;
  } cases[] = {
      {make_date(1970, 1, 1), "0"},
      {make_date(1969, 12, 31, 86399), "-1"},
      {make_date(1969, 12, 31, 86399.5), "0"},
      {make_date(1969, 12, 31, 86399.4), "-1"},
      {make_date(1970, 1, 1, 0.5), "1"},
      {make_date(1970, 1, 1, 0.4), "0"},
      {make_date(1970, 1, 1, 2 * kHour, 2), "0"},
      {make_date(1970, 1, 2), "86400"},
      {make_date(2038, 1, 19, 3 * kHour + 14 * kMinute + 7), "2147483647"},
      {make_date(2038, 1, 19, 3 * kHour + 14 * kMinute + 8), "!type-limit"},
      {make_date(1901, 12, 13, 20 * kHour + 45 * kMinute + 52), "-2147483648"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(outcome([&] { return *test::to(kTypeInteger, c.date); }), c.seconds) << mold_of(c.date);
  struct Back {
    int32_t seconds;
    const char* date;
  } back[] = {
      {0, "1-Jan-1970/0:00:00"},
      {86400, "2-Jan-1970/0:00:00"},
      {-1, "31-Dec-1969/23:59:59"},
      {2147483647, "19-Jan-2038/3:14:07"},
      {-2147483647 - 1, "13-Dec-1901/20:45:52"},
  };
  for (const Back& c : back) {
    EXPECT_EQ(outcome([&] { return *test::to(kTypeDate, integer_cell(c.seconds)); }), c.date);
    EXPECT_EQ(outcome([&] { return *test::make(kTypeDate, integer_cell(c.seconds)); }), "!bad-to-arg");
  }
}

// ---------------------------------------------------------------- make and to

TEST(DateTest, MakeAndToFromBlocks) {
  Cell t10 = time_cell(10 * kHour);
  struct Case {
    std::initializer_list<Cell> spec;
    const char* made;
    const char* converted;
  } cases[] = {
      {{integer_cell(1), integer_cell(1), integer_cell(2000)}, "1-Jan-2000", "1-Jan-2000"},
      {{integer_cell(2000), integer_cell(1), integer_cell(15)}, "15-Jan-2000", "15-Jan-2000"},
      {{integer_cell(1), integer_cell(1), integer_cell(2000), t10},
       "1-Jan-2000/10:00:00",
       "1-Jan-2000/10:00:00"},
      {{integer_cell(1), integer_cell(1), integer_cell(2000), t10, integer_cell(2)},
       "1-Jan-2000/10:00:00+02:00",
       "1-Jan-2000/10:00:00+02:00"},
      {{integer_cell(1), integer_cell(1), integer_cell(2000), t10, time_cell(-5.5 * kHour)},
       "1-Jan-2000/10:00:00-05:30",
       "1-Jan-2000/10:00:00-05:30"},
      {{integer_cell(1), integer_cell(1), integer_cell(2000), integer_cell(10), integer_cell(30),
        integer_cell(0), integer_cell(-5), integer_cell(30)},
       "1-Jan-2000/10:30:00-05:30",
       "1-Jan-2000/10:30:00-05:30"},
      {{integer_cell(1), integer_cell(1), integer_cell(2000), integer_cell(10), integer_cell(30),
        float_cell(1.5)},
       "1-Jan-2000/10:30:01.5",
       "1-Jan-2000/10:30:01.5"},
      {{integer_cell(1), integer_cell(1), integer_cell(2000), integer_cell(10)},
       "1-Jan-2000/10:00:00",
       "1-Jan-2000/10:00:00"},
      // make keeps what it is given; to carries.
      {{integer_cell(31), integer_cell(2), integer_cell(2000)}, "!bad-to-arg", "2-Mar-2000"},
      {{integer_cell(1), integer_cell(13), integer_cell(2000)}, "!bad-to-arg", "1-Jan-2001"},
      {{integer_cell(0), integer_cell(1), integer_cell(2000)}, "!bad-to-arg", "31-Dec-1999"},
      {{integer_cell(1), integer_cell(1), integer_cell(2000), time_cell(24 * kHour)},
       "!bad-to-arg",
       "2-Jan-2000/0:00:00"},
      {{integer_cell(1), integer_cell(1), integer_cell(2000), integer_cell(10), integer_cell(60)},
       "!bad-to-arg",
       "1-Jan-2000/11:00:00"},
      {{integer_cell(1), integer_cell(1), integer_cell(2000), time_cell(-kHour)},
       "!bad-to-arg",
       "31-Dec-1999/23:00:00"},
      // Errors of both.
      {{integer_cell(1), integer_cell(1)}, "!bad-to-arg", "!bad-to-arg"},
      {{integer_cell(1), integer_cell(1), float_cell(2000)}, "!bad-to-arg", "!bad-to-arg"},
      {{integer_cell(1), integer_cell(1), integer_cell(2000), kNoneCell}, "!bad-to-arg", "!bad-to-arg"},
      {{integer_cell(1), integer_cell(1), integer_cell(2000), t10, float_cell(2)},
       "!bad-to-arg",
       "!bad-to-arg"},
      {{integer_cell(1), integer_cell(1), integer_cell(2000), t10, integer_cell(2), integer_cell(0),
        integer_cell(1)},
       "!bad-to-arg",
       "!bad-to-arg"},
      {{integer_cell(1), integer_cell(1), integer_cell(2000), t10, time_cell(16 * kHour)},
       "!out-of-range",
       "!out-of-range"},
      {{integer_cell(1), integer_cell(1), integer_cell(2000), t10, integer_cell(-16)},
       "!out-of-range",
       "!out-of-range"},
      {{integer_cell(1), integer_cell(1), integer_cell(40000)}, "!type-limit", "!type-limit"},
  };
  for (const Case& c : cases) {
    StackSave save;
    Cell spec = *block_of(c.spec);
    EXPECT_EQ(outcome([&] { return *test::make(kTypeDate, spec); }), c.made) << c.converted;
    EXPECT_EQ(outcome([&] { return *test::to(kTypeDate, spec); }), c.converted) << c.made;
  }
  StackSave save;
  // From the block's position; a paren! too.
  Cell spec =
      test::at_head(block_of({integer_cell(9), integer_cell(1), integer_cell(1), integer_cell(2000)}), 1);
  EXPECT_EQ(mold_of(*test::make(kTypeDate, spec)), "1-Jan-2000");
  spec.set_type(kTypeParen);
  EXPECT_EQ(mold_of(*test::to(kTypeDate, spec)), "1-Jan-2000");
  Cell d = make_date(2000, 1, 1, kHour, 2);
  EXPECT_EQ(mold_of(*test::make(kTypeDate, d)), "1-Jan-2000/1:00:00+02:00");
  EXPECT_EQ(outcome([&] { return *test::to(kTypeDate, test::text_cell("1-Jan-2000")); }), "!bad-to-arg");
  EXPECT_EQ(outcome([&] { return *test::make(kTypeDate, float_cell(1)); }), "!bad-to-arg");
}

TEST(DateTest, FromParts) {
  Cell d;
  date_from_parts(&d, 2021, 5, 6, 7, 8, 9, 500000000);
  EXPECT_EQ(mold_of(d), "6-May-2021/7:08:09.5");
  date_from_parts(&d, 2021, 12, 31, 23, 59, 60, 0);
  EXPECT_EQ(mold_of(d), "1-Jan-2022/0:00:00");
}

// ---------------------------------------------------------------- fields

class DatePathTest : public testing::Test {
 protected:
  StackSave save_;

  // One path step on a copy of [date]: get when [value] is null; a set
  // leaves the changed date in *[changed].
  static Cell step(Cell date, Cell element, const Cell* value = nullptr, Cell* changed = nullptr) {
    Cell* parent = stack_push_value(date);
    EvalPathArgs args;
    args.element = stack_push_value(element);
    args.value = value ? stack_push_value(*value) : nullptr;
    args.path = stack_push_value(kNoneCell);
    Cell r = *action_eval_path(parent, args);
    if (changed) *changed = *parent;
    return r;
  }
  // The mold of [date] after setting [field] to [value], or "!error".
  static std::string set(Cell date, const char* field, Cell value) {
    return outcome([&] {
      Cell changed;
      Cell r = step(date, test::word(field), &value, &changed);
      EXPECT_EQ(r.header, value.header);
      return changed;
    });
  }
  static std::string get(Cell date, Cell element) {
    return outcome([&] { return step(date, element); });
  }
  static std::string pick(Cell date, Cell index) {
    return outcome([&] { return call_action(kActionPick, {date, index}); });
  }
};

TEST_F(DatePathTest, GetEveryField) {
  // A Wednesday, day 166 of the year, in week 25 (Sunday-based) and ISO week 24.
  Cell d = make_date(2022, 6, 15, 10 * kHour + 30 * kMinute + 15.5, 2);
  struct Case {
    const char* word;
    int index;
    const char* value;
  } cases[] = {
      {"date", 1, "15-Jun-2022"},  {"year", 2, "2022"},       {"month", 3, "6"},      {"day", 4, "15"},
      {"zone", 5, "2:00:00"},      {"time", 6, "10:30:15.5"}, {"hour", 7, "10"},      {"minute", 8, "30"},
      {"second", 9, "15.5"},       {"weekday", 10, "3"},      {"yearday", 11, "166"}, {"julian", 11, "166"},
      {"timezone", 12, "2:00:00"}, {"week", 13, "25"},        {"isoweek", 14, "24"},  {"ISOWEEK", 14, "24"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(get(d, test::word(c.word)), c.value) << c.word;
    EXPECT_EQ(get(d, integer_cell(c.index)), c.value) << c.index;
    EXPECT_EQ(pick(d, test::word(c.word)), c.value) << c.word;
    EXPECT_EQ(pick(d, integer_cell(c.index)), c.value) << c.index;
  }
  // A negative zone, and a date without a time.
  EXPECT_EQ(get(make_date(2022, 6, 15, 0, -3, -30), test::word("zone")), "-3:30:00");
  Cell plain = make_date(2022, 6, 15);
  EXPECT_EQ(get(plain, test::word("zone")), "none");
  EXPECT_EQ(get(plain, test::word("time")), "none");
  EXPECT_EQ(get(plain, test::word("hour")), "0");
  // Selectors that are not fields.
  EXPECT_EQ(get(d, test::word("minutes")), "!invalid-path");
  EXPECT_EQ(get(d, integer_cell(15)), "!invalid-path");
  EXPECT_EQ(get(d, integer_cell(0)), "!invalid-path");
  EXPECT_EQ(get(d, test::text_cell("year")), "!invalid-path");
  EXPECT_EQ(pick(d, test::word("minutes")), "!out-of-range");
  EXPECT_EQ(pick(d, integer_cell(15)), "!out-of-range");
  EXPECT_EQ(pick(d, float_cell(1)), "!out-of-range");
  // A word that names no field of a time! is refused by name.
  Cell t = time_cell(1);
  EXPECT_EQ(catch_error([&] { date_field_index(stack_push_value(test::word("minutes")), &t); }),
            kErrScriptCannotUse);
  EXPECT_EQ(date_field_index(stack_push_value(test::word("julian")), &t), kDateFieldYearday);
}

TEST_F(DatePathTest, Weeks) {
  struct Case {
    int32_t y, m, d;
    int32_t isoweek, week;
  } cases[] = {
      {2021, 1, 1, 53, 1},    // a Friday: the last ISO week of 2020
      {2022, 1, 1, 52, 1},    // a Saturday after a common year
      {2022, 1, 2, 52, 2},    // a Sunday starts week 2
      {2021, 1, 4, 1, 2},     // the first Monday of ISO week 1
      {2023, 1, 1, 52, 1},    // a Sunday
      {2017, 1, 1, 52, 1},    // a Sunday after a leap year
      {2005, 1, 1, 53, 1},    // a Saturday after a leap year that started on a Thursday
      {2024, 12, 30, 1, 53},  // in the first ISO week of 2025
      {2020, 12, 31, 53, 53}, {2019, 12, 30, 1, 53},
  };
  for (const Case& c : cases) {
    Cell d = make_date(c.y, c.m, c.d);
    EXPECT_EQ(get(d, test::word("isoweek")), std::to_string(c.isoweek)) << mold_of(d);
    EXPECT_EQ(get(d, test::word("week")), std::to_string(c.week)) << mold_of(d);
  }
}

TEST_F(DatePathTest, SetEveryField) {
  Cell jan31 = make_date(2000, 1, 31), mid = make_date(2000, 1, 15), mar15 = make_date(2000, 3, 15);
  Cell morning = make_date(2000, 1, 1, 10 * kHour + 30 * kMinute);
  Cell zoned = make_date(2000, 1, 1, 10 * kHour, 2);
  Cell wed = make_date(2022, 6, 15);
  struct Case {
    Cell date;
    const char* field;
    Cell value;
    const char* result;
  } cases[] = {
      {make_date(2000, 2, 29), "year", integer_cell(2001), "1-Mar-2001"},
      {mid, "year", integer_cell(-1), "15/Jan/-1"},
      {mid, "year", integer_cell(20000), "!type-limit"},
      {mid, "year", test::text_cell("x"), "!invalid-arg"},
      {jan31, "month", integer_cell(2), "2-Mar-2000"},
      {make_date(2001, 1, 31), "month", integer_cell(2), "3-Mar-2001"},
      {mid, "month", integer_cell(0), "15-Dec-1999"},
      {mid, "month", integer_cell(13), "15-Jan-2001"},
      {mid, "month", integer_cell(-11), "15-Jan-1999"},
      {mid, "month", integer_cell(-12), "15-Dec-1998"},
      {mid, "month", float_cell(2), "!invalid-arg"},
      {mar15, "day", integer_cell(0), "29-Feb-2000"},
      {mar15, "day", integer_cell(32), "1-Apr-2000"},
      {mar15, "day", integer_cell(-365), "1-Mar-1999"},
      {zoned, "date", make_date(2010, 5, 5), "5-May-2010/10:00:00+02:00"},
      {mid, "date", make_date(2010, 5, 5, 0, 3), "5-May-2010"},
      {mid, "date", integer_cell(1), "!invalid-arg"},
      {morning, "zone", integer_cell(2), "1-Jan-2000/10:30:00+02:00"},
      {morning, "timezone", integer_cell(2), "1-Jan-2000/12:30:00+02:00"},
      {morning, "timezone", integer_cell(-11), "31-Dec-1999/23:30:00-11:00"},
      {morning, "zone", time_cell(5.5 * kHour), "1-Jan-2000/10:30:00+05:30"},
      {morning, "zone", time_cell(-3.75 * kHour), "1-Jan-2000/10:30:00-03:45"},
      {morning, "zone", time_cell(-0.5 * kHour), "1-Jan-2000/10:30:00-00:30"},
      {morning, "zone", time_cell(kHour + 20 * kMinute), "1-Jan-2000/10:30:00+01:15"},
      {zoned, "zone", integer_cell(0), "1-Jan-2000/10:00:00"},
      {zoned, "timezone", integer_cell(0), "1-Jan-2000/8:00:00"},
      {mid, "zone", integer_cell(2), "15-Jan-2000/0:00:00+02:00"},
      {morning, "zone", integer_cell(15), "1-Jan-2000/10:30:00+15:00"},
      {morning, "zone", integer_cell(16), "!out-of-range"},
      {morning, "zone", integer_cell(-16), "!out-of-range"},
      {morning, "timezone", time_cell(16 * kHour), "!out-of-range"},
      {morning, "zone", time_cell(-20 * kHour), "!out-of-range"},
      {morning, "zone", test::text_cell("x"), "!invalid-arg"},
      {morning, "time", kNoneCell, "1-Jan-2000"},
      {zoned, "time", time_cell(25 * kHour), "2-Jan-2000/1:00:00+02:00"},
      {mid, "time", time_cell(-kHour), "14-Jan-2000/23:00:00"},
      {mid, "time", integer_cell(1), "!invalid-arg"},
      {morning, "hour", integer_cell(23), "1-Jan-2000/23:30:00"},
      {morning, "hour", integer_cell(24), "2-Jan-2000/0:30:00"},
      {morning, "minute", integer_cell(75), "1-Jan-2000/11:15:00"},
      {morning, "second", float_cell(1.5), "1-Jan-2000/10:30:01.5"},
      {morning, "second", integer_cell(-1), "1-Jan-2000/10:29:59"},
      {zoned, "hour", integer_cell(1), "1-Jan-2000/1:00:00+02:00"},
      {mid, "hour", integer_cell(5), "15-Jan-2000/5:00:00"},
      {morning, "hour", float_cell(1), "!invalid-arg"},
      {wed, "weekday", integer_cell(1), "13-Jun-2022"},
      {wed, "weekday", integer_cell(7), "19-Jun-2022"},
      {wed, "weekday", integer_cell(0), "12-Jun-2022"},
      {wed, "yearday", integer_cell(32), "1-Feb-2022"},
      {wed, "julian", integer_cell(1), "1-Jan-2022"},
      {wed, "julian", integer_cell(366), "1-Jan-2023"},
      {wed, "week", integer_cell(1), "1-Jan-2022"},
      {wed, "week", integer_cell(-5), "1-Jan-2022"},
      {wed, "week", integer_cell(2), "2-Jan-2022"},
      {wed, "week", integer_cell(25), "12-Jun-2022"},
      {make_date(2021, 6, 1), "isoweek", integer_cell(1), "4-Jan-2021"},
      {make_date(2021, 6, 1), "isoweek", integer_cell(0), "28-Dec-2020"},
      {wed, "isoweek", integer_cell(24), "13-Jun-2022"},
      {wed, "isoweek", test::text_cell("x"), "!invalid-arg"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(set(c.date, c.field, c.value), c.result) << mold_of(c.date) << " " << c.field;
  // Setting by index, and the ways a set is refused.
  Cell changed;
  Cell two = integer_cell(2);
  step(mid, integer_cell(3), &two, &changed);
  EXPECT_EQ(mold_of(changed), "15-Feb-2000");
  EXPECT_EQ(outcome([&] { return step(mid, test::word("week-day"), &two); }), "!invalid-path");
}

TEST_F(DatePathTest, SetThenGetRoundTrips) {
  // Every field reads back what was set, where the set value is in range.
  Cell d = make_date(2022, 6, 15, 10 * kHour + 30 * kMinute, -4, -30);
  struct Case {
    const char* field;
    Cell value;
    const char* read;
  } cases[] = {
      {"year", integer_cell(1999), "1999"},
      {"month", integer_cell(11), "11"},
      {"day", integer_cell(30), "30"},
      {"zone", time_cell(9.25 * kHour), "9:15:00"},
      {"timezone", integer_cell(-2), "-2:00:00"},
      {"time", time_cell(kHour), "1:00:00"},
      {"hour", integer_cell(7), "7"},
      {"minute", integer_cell(59), "59"},
      {"second", float_cell(2.25), "2.25"},
      {"weekday", integer_cell(5), "5"},
      {"yearday", integer_cell(200), "200"},
      {"week", integer_cell(10), "10"},
      {"isoweek", integer_cell(30), "30"},
  };
  for (const Case& c : cases) {
    Cell changed;
    step(d, test::word(c.field), &c.value, &changed);
    EXPECT_EQ(get(changed, test::word(c.field)), c.read) << c.field << " " << mold_of(changed);
  }
}

// ---------------------------------------------------------------- random

TEST(DateTest, Random) {
  StackSave save;
  Cell seeded = test::Act(kActionRandom, {make_date(2000, 1, 1, kHour)}).ref("seed").value();
  EXPECT_TRUE(seeded.is(kTypeUnset));
  Cell first = call_action(kActionRandom, {make_date(2000, 1, 1, kHour)});
  test::Act(kActionRandom, {make_date(2000, 1, 1, kHour)}).ref("seed").value();
  EXPECT_TRUE(test::compare(call_action(kActionRandom, {make_date(2000, 1, 1, kHour)}), first, kCmpSame));
  for (int i = 0; i < 200; i++) {
    Cell plain = call_action(kActionRandom, {make_date(2000, 1, 1)});
    uint32_t w = date_packed(&plain);
    EXPECT_FALSE(date_word_has_time(w));
    EXPECT_GE(date_to_days(w), 0);
    EXPECT_LT(date_to_days(w), 730425);
    Cell timed = call_action(kActionRandom, {make_date(2, 1, 1, kHour, 3)});
    w = date_packed(&timed);
    EXPECT_TRUE(date_word_has_time(w));
    EXPECT_LT(date_to_days(w), 731);
    double local = date_local_time(&timed);
    EXPECT_TRUE(local >= 0 && local < 86400 && local == std::floor(local)) << local;
  }
  Cell early = call_action(kActionRandom, {make_date(-1, 1, 1)});
  EXPECT_LE(date_to_days(date_packed(&early)), 0);
  EXPECT_GT(date_to_days(date_packed(&early)), date_days_of(-1, 1, 1));
}

}  // namespace
}  // namespace kiv

// date!: the calendar on day numbers, normalisation of dates with times and
// zones, the setters the lexer uses, and the action handlers: make and to,
// path access and pick, arithmetic, compare, random, form and mold.
#include "datatypes/date.h"

#include <gtest/gtest.h>

#include <string>

#include "kiv_test.h"

namespace kiv {
namespace {

using test::catch_error;
using test::kNoError;

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

}  // namespace
}  // namespace kiv

// The date literal loader. Forms read:
//   day-month-year and year-month-day, with "-" or "/" (the same twice); the
//     month a number or a month name; a year of 1 or 2 digits is 19xx above
//     49, else 20xx; with "/" the year may be negative ("1/Jan/-44")
//   year "-W" week ["-" weekday]           ISO week date ("2024-W05-3")
//   year "-" day of the year (3 digits)    ordinal date ("2024-032")
//   yyyymmdd "T" hhmm[ss]                  compact form ("20240115T1030")
// then optionally "/" or "T", a time of day (hh:mm[:ss[.fraction]] or the
// compact hhmm[ss]) and a zone: "Z", or a sign, hours of one or two digits and
// optionally minutes, with or without ":". Every part is range-checked before
// the value is made, so making it never raises.
#include <cstring>

#include "datatypes/date.h"
#include "evaluator/lexer_load_internal.h"
#include "runtime/float_text.h"

namespace kiv::lexload {

namespace {

constexpr const char* kMonthNames[12] = {"january",   "february", "march",    "april",
                                         "may",       "june",     "july",     "august",
                                         "september", "october",  "november", "december"};

struct DateParts {
  int32_t year = 0, month = 1, day = 1;
  int32_t week = 0, weekday = 0, yearday = 0;  // ISO week and ordinal forms
  bool has_time = false;
  double time = 0;
  int32_t zone_hours = 0, zone_minutes = 0;
};

// A run of decimal digits (at most 9 read into the value); its length.
int digits(const uint8_t** p, const uint8_t* end, int32_t* value) {
  const uint8_t* q = *p;
  int32_t v = 0;
  int n = 0;
  for (; q < end && digit_q(*q); q++, n++)
    if (n < 9) v = v * 10 + (*q - '0');
  *p = q;
  *value = v;
  return n;
}

// The month a name gives: 3 to 9 letters, the start of an English month name
// (any letter case); 0 when none.
int32_t month_of_name(const uint8_t* p, const uint8_t* end) {
  size_t n = size_t(end - p);
  if (n < 3 || n > 9) return 0;
  for (int m = 0; m < 12; m++) {
    const char* name = kMonthNames[m];
    if (std::strlen(name) < n) continue;
    size_t i = 0;
    for (; i < n; i++) {
      uint8_t c = p[i];
      if (c >= 'A' && c <= 'Z') c = uint8_t(c + 32);
      if (c != uint8_t(name[i])) break;
    }
    if (i == n) return m + 1;
  }
  return 0;
}

int32_t month_length(int32_t year, int32_t month) {
  static constexpr int32_t kLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && leap_year_q(year) ? 29 : kLengths[month - 1];
}

// Seconds with an optional fraction ("." or ","): the whole digits already
// read as [whole]; reads the fraction at *[p].
bool seconds_fraction(const uint8_t** p, const uint8_t* end, int32_t whole, double* out) {
  *out = whole;
  const uint8_t* q = *p;
  if (q >= end || (*q != '.' && *q != ',')) return true;
  const uint8_t* start = ++q;
  while (q < end && digit_q(*q)) q++;
  if (q == start || q - start > 300) return false;
  std::string text = "0.";
  text.append(reinterpret_cast<const char*>(start), size_t(q - start));
  size_t remaining;
  *out = whole + decimal_to_float(text.data(), text.data() + text.size(), 0, &remaining);
  *p = q;
  return true;
}

// A time of day: hh:mm[:ss[.f]] or hhmm[ss[.f]]; hours 0-23, minutes 0-59,
// seconds below 60.
bool read_time(const uint8_t** p, const uint8_t* end, DateParts* d) {
  int32_t h, m = 0, s = 0;
  double seconds = 0;
  const uint8_t* q = *p;
  const uint8_t* start = q;
  int n = digits(&q, end, &h);
  if (n == 4 || n == 6) {
    // Compact: the digits in pairs.
    int32_t all = h;
    if (n == 6) {
      s = all % 100;
      all /= 100;
    }
    h = all / 100;
    m = all % 100;
    if (!seconds_fraction(&q, end, s, &seconds)) return false;
    if (n == 4 && q != start + 4) return false;  // no fraction without seconds
  } else {
    if (n < 1 || n > 2 || q >= end || *q++ != ':') return false;
    int minute_digits = digits(&q, end, &m);
    if (minute_digits < 1 || minute_digits > 2) return false;
    if (q < end && *q == ':') {
      q++;
      const uint8_t* sec = q;
      if (digits(&q, end, &s) < 1 || q - sec > 2) return false;
      if (!seconds_fraction(&q, end, s, &seconds)) return false;
    }
  }
  if (h > 23 || m > 59 || !(seconds < 60)) return false;
  d->has_time = true;
  d->time = h * 3600.0 + m * 60.0 + seconds;
  *p = q;
  return true;
}

// "Z", or a sign and hours (1 or 2 digits) with optional minutes ("+2",
// "+2:00", "+02:00", "+0200", "-0530").
bool read_zone(const uint8_t** p, const uint8_t* end, DateParts* d) {
  const uint8_t* q = *p;
  if (q >= end) return true;
  if (*q == 'Z') {
    *p = q + 1;
    return true;
  }
  if (*q != '+' && *q != '-') return false;
  bool negative = *q++ == '-';
  int32_t h, m = 0;
  int n = digits(&q, end, &h);
  if (n == 3 || n == 4) {
    m = h % 100;
    h /= 100;
  } else if (n == 1 || n == 2) {
    if (q < end && *q == ':') {
      q++;
      if (digits(&q, end, &m) != 2) return false;
    }
  } else {
    return false;
  }
  if (h > 15 || m > 59) return false;
  d->zone_hours = negative ? -h : h;
  d->zone_minutes = negative && h == 0 ? -m : m;
  *p = q;
  return true;
}

// The time and zone that may follow a date after "/" or "T".
bool read_time_and_zone(const uint8_t* q, const uint8_t* end, DateParts* d) {
  if (q == end) return true;
  if (*q != '/' && *q != 'T') return false;
  q++;
  if (!read_time(&q, end, d) || !read_zone(&q, end, d)) return false;
  return q == end;
}

bool parse_date(const uint8_t* p, const uint8_t* end, DateParts* d) {
  const uint8_t* q = p;
  int32_t first;
  int n1 = digits(&q, end, &first);
  if (n1 == 0) return false;
  // Compact: yyyymmdd "T" ...
  if (n1 == 8) {
    if (q >= end || *q != 'T') return false;
    d->year = first / 10000;
    d->month = first / 100 % 100;
    d->day = first % 100;
    return read_time_and_zone(q, end, d);
  }
  if (q >= end || (*q != '-' && *q != '/')) return false;
  uint8_t sep = *q++;
  if (sep == '-' && q < end && *q == 'W') {
    // ISO week date.
    q++;
    if (n1 < 3 || digits(&q, end, &d->week) != 2 || d->week < 1 || d->week > 53) return false;
    if (q < end && *q == '-') {
      q++;
      if (digits(&q, end, &d->weekday) != 1 || d->weekday < 1 || d->weekday > 7) return false;
    }
    d->year = first;
    return read_time_and_zone(q, end, d);
  }
  const uint8_t* second = q;
  int32_t month = 0;
  int n2 = digits(&q, end, &month);
  if (n2 == 3 && sep == '-' && (q == end || *q != '-')) {
    // Ordinal date.
    d->year = first;
    d->yearday = month;
    if (n1 < 3 || month < 1 || month > (leap_year_q(first) ? 366 : 365)) return false;
    return read_time_and_zone(q, end, d);
  }
  if (n2 == 0) {
    while (q < end && ((*q >= 'a' && *q <= 'z') || (*q >= 'A' && *q <= 'Z'))) q++;
    month = month_of_name(second, q);
  } else if (n2 > 2) {
    return false;
  }
  if (month < 1 || month > 12 || q >= end || *q++ != sep) return false;
  bool negative = false;
  if (sep == '/' && q < end && *q == '-') {
    negative = true;
    q++;
  }
  int32_t third;
  int n3 = digits(&q, end, &third);
  if (n3 == 0 || n3 > 9) return false;
  int32_t year, day;
  int year_digits;
  if (first > 31 || n1 > 2) {
    if (negative || n3 > 2) return false;
    year = first;
    year_digits = n1;
    day = third;
  } else {
    year = negative ? -third : third;
    year_digits = n3;
    day = first;
  }
  if (year_digits <= 2 && !negative) year += year > 49 ? 1900 : 2000;
  d->year = year;
  d->month = month;
  d->day = day;
  return read_time_and_zone(q, end, d);
}

}  // namespace

bool load_date(LexToken& token, bool load, Cell* out) {
  DateParts d;
  if (!parse_date(token.start, token.end, &d)) return fail(token, kTypeDate);
  // Every year a date! holds loads (mold writes them all); week and ordinal
  // dates, which may move into the next year, stay four digits.
  bool moves = d.week || d.yearday;
  int32_t min_year = moves ? -9999 : kDateMinYear, max_year = moves ? 9999 : kDateMaxYear;
  if (d.year < min_year || d.year > max_year || d.month < 1 || d.month > 12 || d.day < 1 ||
      d.day > month_length(d.year, d.month))
    return fail(token, kTypeDate);
  if (!load) return true;
  Cell date;
  date_make_at(&date, d.year, d.week || d.yearday ? 1 : d.month, d.week || d.yearday ? 1 : d.day, d.time,
               d.zone_hours, d.zone_minutes, d.has_time);
  if (d.week) {
    date_set_week(&date, d.week);
    if (d.weekday) date_set_weekday(&date, d.weekday);
  } else if (d.yearday) {
    date_set_yearday(&date, d.yearday);
  }
  put(out, date);
  return true;
}

}  // namespace kiv::lexload

// time!: a signed duration or time of day, in seconds.
//
// Value cell (time! 43, float!'s layout: datatypes/float.h):
//   header  type id
//   word 1  unused
//   words 2-3  the seconds, a double, low word first; negative for a negative
//              duration
//
// Fields, as the path selectors hour, minute and second read them:
//   hour    seconds / 3600 truncated toward zero (carries the sign)
//   minute  floor((|seconds| mod 3600) / 60), 0..59 (never signed)
//   second  seconds mod 60, fraction included (carries the sign)
// So -1:30:15 reads hour -1, minute 30, second -15.0.
#pragma once

#include <cstdint>

#include "datatypes/float.h"
#include "runtime/cell.h"

namespace kiv {

inline Cell time_cell(double seconds) { return float_cell(seconds, kTypeTime); }
// The seconds of a time!.
inline double time_get(const Cell* cell) { return float_get(cell); }
// Makes [cell] a time! (whole header replaced) holding [seconds]; returns it.
Cell* time_set_cell(Cell* cell, double seconds);
// Pushes a time! on the data stack; returns it.
Cell* time_push(double seconds);
// MAY ALLOCATE. Appends a time! to the block [block]; returns the new cell.
Cell* time_make_at(const Cell* block, double seconds);

// The hour field of [seconds]. A value outside int32 (NaN and infinity
// included) raises script type-limit with integer!.
int32_t time_get_hours(double seconds);
// The minute field of [seconds], 0..59; script type-limit for NaN and infinity.
int32_t time_get_minutes(double seconds);
// The second field of [seconds]: the remainder by 60 with its sign.
double time_get_seconds(double seconds);

enum class TimeField { kHour = 1, kMinute = 2, kSecond = 3 };
// [seconds] with [field] set to [value] and the other two fields kept, in
// the fields' own terms: the time splits into its sign and the hours,
// minutes and seconds of its magnitude, the field is replaced and the time
// rebuilt. The hour and second fields carry the sign, so [value] is read
// with it. Setting a field to the value it reads leaves the time as it was;
// a value past the field's range carries (minute 75 is 1 hour 15 minutes).
double time_set_field(double seconds, TimeField field, double value);

// MAY ALLOCATE. Appends the text of [seconds] to the string [buffer]: "-" for
// a negative time, the hours, ":", two-digit minutes, ":", then the seconds,
// "00" below a microsecond, else at most six significant digits and at least
// two before any "." ("1:02:03.5", "0:00:12.3457", "-0:00:01"). Seconds that
// round up to 60 carry into the minutes. A time that is not finite writes
// float!'s special text after the sign. With [exact] (mold/all) the seconds
// take the shortest digits that read back to the same time instead. Returns
// [limit] less the characters written.
int32_t time_format(double seconds, Cell* buffer, int32_t limit, bool exact = false);

}  // namespace kiv

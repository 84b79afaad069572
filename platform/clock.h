// The wall clock and sleeping: clock_gettime, localtime_r and nanosleep.
#pragma once

#include <cstdint>

namespace kiv {

// The current moment: seconds and nanoseconds since the Unix epoch (UTC), and
// the local zone's offset from UTC in seconds at that moment.
struct ClockReading {
  int64_t seconds;
  int32_t nanoseconds;
  int32_t zone_offset;
};
ClockReading os_clock_now();

// The local zone's offset from UTC in seconds in force at [epoch_seconds]
// (summer time included); 0 when the moment is outside what the OS knows.
int32_t os_zone_offset_at(int64_t epoch_seconds);

// Milliseconds on the monotonic clock: for deadlines, never for dates.
int64_t os_monotonic_ms();
// Nanoseconds on the monotonic clock: for durations.
int64_t os_monotonic_ns();

// Sleeps for [milliseconds], resuming after signals until the time has passed.
void os_sleep_ms(int64_t milliseconds);

}  // namespace kiv

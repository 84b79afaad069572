// clock_gettime(CLOCK_REALTIME) for the moment, the tm_gmtoff of localtime_r
// for the zone, nanosleep for waiting.
#include "platform/clock.h"

#include <time.h>

#include <cerrno>

namespace kiv {

ClockReading os_clock_now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  ClockReading r{int64_t(ts.tv_sec), int32_t(ts.tv_nsec), 0};
  time_t t = ts.tv_sec;
  tm local{};
  if (localtime_r(&t, &local)) r.zone_offset = int32_t(local.tm_gmtoff);
  return r;
}

int32_t os_zone_offset_at(int64_t epoch_seconds) {
  time_t t = time_t(epoch_seconds);
  tm local{};
  return localtime_r(&t, &local) ? int32_t(local.tm_gmtoff) : 0;
}

void os_sleep_ms(int64_t milliseconds) {
  if (milliseconds <= 0) return;
  timespec left{time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

int64_t os_monotonic_ms() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

int64_t os_monotonic_ns() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

}  // namespace kiv

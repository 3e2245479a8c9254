// Wall clock, monotonic clock, local-time conversion and sleeping.
// Local time always follows the operating system's own zone rules; on
// Windows it comes from the Win32 time-zone calls, never from the C runtime.
#pragma once

#include <cstdint>

namespace corvana::platform {

// Broken-down local time as the due rules compare it.
struct LocalTime {
  int year = 0;         // full year, e.g. 2026
  int month_index = 0;  // 0 = January .. 11
  int day = 0;          // 1..31
  int hour = 0;         // 0..23
  int minute = 0;       // 0..59
  int second = 0;       // 0..59
  int weekday = 0;      // 0 = Sunday .. 6 = Saturday
};

// Seconds since 1970 in 64 bits: the 32-bit base runs out in January 2038.
int64_t SystemNowSeconds();
// Milliseconds on a clock that never jumps with the wall clock.
int64_t SystemMonotonicMs();
void SystemSleepMs(int ms);

// Picks up a changed zone setting (the TZ variable on POSIX).
void ReloadTimeZone();

bool ToLocalTime(int64_t seconds_since_1970, LocalTime* out);
// Reads the fields as a local time and lets the zone rules decide daylight
// saving. Fields out of range carry over (hour 25 is 01:00 the next day).
bool FromLocalTime(int year, int month_index, int day, int hour, int minute,
                   int second, int64_t* seconds_since_1970);

}  // namespace corvana::platform

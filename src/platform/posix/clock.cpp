#include "platform/clock.h"

#include <time.h>

namespace corvana::platform {

int64_t SystemNowSeconds() { return static_cast<int64_t>(time(nullptr)); }

int64_t SystemMonotonicMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void SystemSleepMs(int ms) {
  if (ms <= 0) return;
  timespec pause{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0) {
  }
}

void ReloadTimeZone() { tzset(); }

bool ToLocalTime(int64_t seconds_since_1970, LocalTime* out) {
  time_t value = static_cast<time_t>(seconds_since_1970);
  tm local;
  if (localtime_r(&value, &local) == nullptr) return false;
  out->year = local.tm_year + 1900;
  out->month_index = local.tm_mon;
  out->day = local.tm_mday;
  out->hour = local.tm_hour;
  out->minute = local.tm_min;
  out->second = local.tm_sec;
  out->weekday = local.tm_wday;
  return true;
}

bool FromLocalTime(int year, int month_index, int day, int hour, int minute,
                   int second, int64_t* seconds_since_1970) {
  tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month_index;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  time_t value = mktime(&local);
  if (value == static_cast<time_t>(-1) && local.tm_year != 69) return false;
  *seconds_since_1970 = static_cast<int64_t>(value);
  return true;
}

}  // namespace corvana::platform

// The calendar keys that ".schedule" and ".webserver" files share, and the
// kinds they are read as. The fields keep the files' integer types: a file
// may hold any value, and one outside the kinds is never due.
#pragma once

#include <cstdint>

namespace corvana {

// The values of `type_schedule`.
enum class ScheduleKind : int32_t {
  kOnce = 0,      // on day, month, year at hour:min:sec
  kHourly = 1,    // at minute `min` of every hour
  kWeekdays = 2,  // on the days of `days_week`, bit 0 Monday
  kWeekday = 3,   // on weekday `nday_week`, 0 Sunday
  kMonthly = 4,   // on day `day` of every month
  kYearly = 5,    // on `day` of month `month`, counted from 0
};

// The values of a web server's `type_interval`.
enum class IntervalUnit : int32_t {
  kMinutes = 0,
  kHours = 1,
  kDays = 2,
};

// What a file holds for the kind, for code that writes records.
constexpr int32_t FileValue(ScheduleKind kind) {
  return static_cast<int32_t>(kind);
}
constexpr int32_t FileValue(IntervalUnit unit) {
  return static_cast<int32_t>(unit);
}

inline ScheduleKind KindOf(int32_t type_schedule) {
  return static_cast<ScheduleKind>(type_schedule);
}

inline IntervalUnit UnitOf(int32_t type_interval) {
  return static_cast<IntervalUnit>(type_interval);
}

}  // namespace corvana

// What ".schedule" and ".webserver" files share: the calendar keys, the
// kinds they are read as, and the state the engine keeps while it runs a
// definition. The due rules read both definitions through these records.
#pragma once

#include <cstdint>

#include "calendar/packed_time.h"
#include "platform/process.h"

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

inline ScheduleKind KindOf(int32_t type_schedule) {
  return static_cast<ScheduleKind>(type_schedule);
}

inline IntervalUnit UnitOf(int32_t type_interval) {
  return static_cast<IntervalUnit>(type_interval);
}

// The length of an interval's unit; 0 for a value that names no unit.
inline int32_t UnitSeconds(int32_t type_interval) {
  switch (UnitOf(type_interval)) {
    case IntervalUnit::kMinutes: return 60;
    case IntervalUnit::kHours: return 3600;
    case IntervalUnit::kDays: return 86400;
  }
  return 0;
}

// The calendar keys, named as in the files. They keep the files' integer
// types: a file may hold any value, and one outside the kinds is never due.
struct Timetable {
  int32_t type_schedule = 0;
  int32_t day = 0;
  int32_t month = 0;  // 1-12 for kind 0, 0-11 for kind 5
  int32_t year = 0;
  int32_t hour = 0;
  int32_t min = 0;
  int32_t sec = 0;
  int32_t nday_week = 0;
  int32_t days_week = 0;
};

// Never read from a file; only the engine changes it. Copying a record
// copies it, so a copy refers to the same running child.
struct RunState {
  bool fired = false;
  // Local date (packed) and hour * 60 + minute of the last start, so that
  // the hour repeated when the clocks go back does not start it twice.
  uint32_t fired_date = 0;
  int32_t fired_minute_of_day = -1;
  int64_t started_at = 0;            // wall clock, seconds since 1970
  int64_t started_monotonic_ms = 0;  // what the run-time limit measures
  platform::ProcessHandle process = 0;
  // The start of the last web-server update: local, packed (date 0: never
  // updated), and the same moment in seconds since 1970, 0 when not known.
  // A local time in the hour repeated in autumn names two moments; an
  // interval is measured from the one in seconds.
  PackedDateTime last_update;
  int64_t last_update_s = 0;
  // A run that fell due while every analyzer slot was taken: its place in
  // the queue (0: none), and the missed start a catch-up makes up for.
  uint64_t wait_order = 0;
  int64_t wait_missed_s = 0;
  friend bool operator==(const RunState&, const RunState&) = default;
};

}  // namespace corvana

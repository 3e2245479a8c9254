#include "engine/due_rules.h"

#include "calendar/packed_time.h"

namespace corvana {
namespace {

// The window is the two seconds ending at `sec`. Written without `sec - 1`
// so that no value read from a file can overflow.
bool TimeOfDayMatches(int32_t hour, int32_t min, int32_t sec,
                      const platform::LocalTime& now) {
  return hour == now.hour && min == now.minute && now.second <= sec &&
         sec < now.second + 2;
}

// `days_week` counts from Monday (bit 0) while the clock's weekday counts
// from Sunday; only the lowest byte is looked at.
bool WeekdayBitSet(int32_t days_week, int weekday) {
  const int bit = (weekday + 6) % 7;
  return ((static_cast<uint32_t>(days_week) & 0xFF) >> bit & 1) != 0;
}

// Kinds 1 to 5, shared by schedules and web servers. Kind 5's month is
// 0-based, unlike kind 0's; both are compared exactly as written.
bool CalendarMatches(const Timetable& record, const platform::LocalTime& now) {
  const bool at_time =
      TimeOfDayMatches(record.hour, record.min, record.sec, now);
  switch (KindOf(record.type_schedule)) {
    case ScheduleKind::kHourly: return record.min == now.minute;
    case ScheduleKind::kWeekdays:
      return at_time && WeekdayBitSet(record.days_week, now.weekday);
    case ScheduleKind::kWeekday:
      return at_time && record.nday_week == now.weekday;
    case ScheduleKind::kMonthly: return at_time && record.day == now.day;
    case ScheduleKind::kYearly:
      return at_time && record.day == now.day &&
             record.month == now.month_index;
    case ScheduleKind::kOnce: break;
  }
  return false;
}

bool ScheduleMatches(const ScheduleDefinition& schedule,
                     const platform::LocalTime& now) {
  if (KindOf(schedule.type_schedule) != ScheduleKind::kOnce) {
    return CalendarMatches(schedule, now);
  }
  return schedule.day == now.day && schedule.month == now.month_index + 1 &&
         schedule.year == now.year &&
         TimeOfDayMatches(schedule.hour, schedule.min, schedule.sec, now);
}

// Unsigned, so that a negative interval never elapses.
bool AtLeast(int32_t elapsed, int32_t interval) {
  return static_cast<uint32_t>(elapsed) >= static_cast<uint32_t>(interval);
}

bool IntervalElapsed(int64_t last_s, int32_t unit_s, int32_t interval,
                     int64_t now_s) {
  return AtLeast(ElapsedSecondsInUnits(now_s, last_s, unit_s), interval);
}

bool WebServerMatches(const WebServerDefinition& web_server,
                      const ClockReading& now) {
  if (KindOf(web_server.type_schedule) != ScheduleKind::kOnce) {
    return CalendarMatches(web_server, now.local);
  }
  const int32_t unit_s = UnitSeconds(web_server.type_interval);
  // Without a unit there is no interval to wait for, not even the first one.
  if (unit_s == 0) return false;
  if (web_server.last_update.date == 0) return true;
  return IntervalElapsed(web_server.last_update_s, unit_s,
                         IntervalUnits(web_server), now.seconds);
}

// What a latch remembers of its last start. When the clocks go back, an
// hour of local times happens twice; the kinds that name a time of day must
// still start once per local date and minute. Kind 1 runs every real hour,
// so the repeated one gets its run too.
enum class LatchMemory { kMinute, kDateAndMinute };

LatchMemory MemoryOf(int32_t type_schedule) {
  switch (KindOf(type_schedule)) {
    case ScheduleKind::kOnce:
    case ScheduleKind::kWeekdays:
    case ScheduleKind::kWeekday:
    case ScheduleKind::kMonthly:
    case ScheduleKind::kYearly: return LatchMemory::kDateAndMinute;
    case ScheduleKind::kHourly: break;
  }
  return LatchMemory::kMinute;
}

int32_t MinuteOfDay(const platform::LocalTime& now) {
  return now.hour * 60 + now.minute;
}

uint32_t LocalDate(const platform::LocalTime& now) {
  return PackDate(now.year, now.month_index + 1, now.day);
}

bool SameMinute(const RunState& record, const platform::LocalTime& now) {
  return record.fired_date == LocalDate(now) &&
         record.fired_minute_of_day == MinuteOfDay(now);
}

// The latch: true at the first matching evaluation of a run of them. A
// calendar start stamps its local date and minute, and a set latch holds
// only in that minute: a reload carries the latch to a record whose
// timetable may have changed, and a start in another minute is another
// occurrence.
bool Latch(RunState& record, bool matches, LatchMemory memory,
           const platform::LocalTime& now) {
  if (!matches) {
    record.fired = false;
    return false;
  }
  if ((record.fired || memory == LatchMemory::kDateAndMinute) &&
      SameMinute(record, now)) {
    return false;
  }
  record.fired = true;
  record.fired_date = LocalDate(now);
  record.fired_minute_of_day = MinuteOfDay(now);
  return true;
}

}  // namespace

void CarryLatch(const platform::LocalTime& start, const platform::LocalTime& now,
                RunState& record) {
  record.fired_date = LocalDate(start);
  record.fired_minute_of_day = MinuteOfDay(start);
  record.fired = SameMinute(record, now);
}

bool IsScheduleDue(ScheduleDefinition& schedule,
                   const platform::LocalTime& now) {
  return Latch(schedule, ScheduleMatches(schedule, now),
               MemoryOf(schedule.type_schedule), now);
}

// An interval counts from the last launch, so a match is always a new
// interval and needs no latch. A latch would stop the web server for good
// whenever no evaluation came between a launch and the end of its interval
// (the machine slept, the clock was set forward, or the tick that launched
// took longer than the interval): every later evaluation matches again.
bool IsWebServerDue(WebServerDefinition& web_server, const ClockReading& now) {
  const bool matches = WebServerMatches(web_server, now);
  if (KindOf(web_server.type_schedule) == ScheduleKind::kOnce) {
    web_server.fired = matches;
    return matches;
  }
  return Latch(web_server, matches, MemoryOf(web_server.type_schedule),
               now.local);
}

void RecordUpdate(const ClockReading& now, RunState& record) {
  record.last_update = PackLocalTime(now.local);
  record.last_update_s = now.seconds;
}

bool IsServeDue(int64_t serve_started_s, const ClockReading& now) {
  return static_cast<double>(now.seconds - serve_started_s) / kServeIntervalS >
             1.0 &&
         now.local.hour == kServeWindowHour &&
         now.local.minute >= kServeWindowMinute;
}

}  // namespace corvana

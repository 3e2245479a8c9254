#include "schedules/lint.h"

#include <algorithm>
#include <cstdio>

#include "platform/civil_date.h"
#include "schedules/local_stamps.h"
#include "schedules/next_starts.h"

namespace corvana::schedules {
namespace {

// Where no value is to blame: the search looks that far ahead.
std::string NoStartAhead() {
  return "no start within " + std::to_string(kSearchYears) + " years";
}

bool InRange(int32_t value, int32_t low, int32_t high) {
  return value >= low && value <= high;
}

std::string Named(const char* key, int32_t value, const char* what) {
  return std::string(key) + "=" + std::to_string(value) + " " + what;
}

// The two seconds ending at `sec` lie within one minute of the clock, whose
// seconds run from 0 to 59: `sec` 60 still matches at 59.
std::string TimeOfDayReason(const Timetable& record) {
  if (!InRange(record.hour, 0, 23)) return Named("hour", record.hour, "is no hour of a day");
  if (!InRange(record.min, 0, 59)) return Named("min", record.min, "is no minute of an hour");
  if (!InRange(record.sec, 0, 60)) return Named("sec", record.sec, "is no second of a minute");
  return "";
}

// Kinds 1 to 5, as the due rules compare them for both definitions.
std::string CalendarReason(const Timetable& record) {
  switch (KindOf(record.type_schedule)) {
    case ScheduleKind::kHourly:
      return InRange(record.min, 0, 59) ? "" : Named("min", record.min, "is no minute of an hour");
    case ScheduleKind::kWeekdays:
      // Only bits 0 (Monday) to 6 (Sunday) are days.
      if ((record.days_week & 0x7F) == 0) return Named("days_week", record.days_week, "chooses no day");
      break;
    case ScheduleKind::kWeekday:
      if (!InRange(record.nday_week, 0, 6)) return Named("nday_week", record.nday_week, "is no weekday (0-6)");
      break;
    case ScheduleKind::kMonthly:
      if (!InRange(record.day, 1, 31)) return Named("day", record.day, "is no day of a month");
      break;
    case ScheduleKind::kYearly:
      if (!InRange(record.month, 0, 11)) return Named("month", record.month, "is no month (0-11)");
      // A leap year has every day a month can have.
      if (!InRange(record.day, 1, platform::DaysInMonth(2024, record.month + 1))) {
        return Named("day", record.day, "never comes in that month");
      }
      break;
    case ScheduleKind::kOnce:
      return "";
    default:
      return Named("type_schedule", record.type_schedule, "is no kind (0-5)");
  }
  return TimeOfDayReason(record);
}

std::string OnceReason(const ScheduleDefinition& schedule, int64_t from_s) {
  if (!InRange(schedule.month, 1, 12)) return Named("month", schedule.month, "is no month (1-12)");
  if (!InRange(schedule.day, 1, platform::DaysInMonth(schedule.year, schedule.month))) {
    return Named("day", schedule.day, "never comes in that month");
  }
  std::string reason = TimeOfDayReason(schedule);
  if (!reason.empty()) return reason;
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d", schedule.year,
                schedule.month, schedule.day, schedule.hour, schedule.min,
                std::min(schedule.sec, 59));
  int64_t seconds = 0;
  if (!ParseLocalStamp(stamp, &seconds)) return std::string(stamp) + " is skipped by the clocks";
  return std::string(stamp) + (seconds < from_s ? " has passed" : " has run since the last load");
}

}  // namespace

std::string NeverRunsReason(const ScheduleDefinition& schedule, int64_t from_s) {
  std::string reason = KindOf(schedule.type_schedule) == ScheduleKind::kOnce
                           ? OnceReason(schedule, from_s)
                           : CalendarReason(schedule);
  return reason.empty() ? NoStartAhead() : reason;
}

std::string NeverRunsReason(const WebServerDefinition& web_server, int64_t) {
  std::string reason =
      KindOf(web_server.type_schedule) != ScheduleKind::kOnce
          ? CalendarReason(web_server)
      : UnitSeconds(web_server.type_interval) == 0
          ? Named("type_interval", web_server.type_interval, "names no unit (0-2)")
          : "";
  return reason.empty() ? NoStartAhead() : reason;
}

// The engine keeps every file it loads, whatever its id; the analyzer is
// given the id alone.
void AddSharedIdWarnings(const std::vector<DefinitionRow>& rows,
                         std::vector<Warning>* warnings) {
  for (size_t r = 1; r < rows.size(); ++r) {
    size_t first = r - 1;
    while (first > 0 && rows[first - 1].id == rows[r].id) --first;
    if (rows[first].id != rows[r].id) continue;
    const int enabled = rows[first].enabled + rows[r].enabled;
    warnings->push_back(
        {rows[r].file,
         "same id as " + rows[first].file +
             (enabled == 2 ? ": both run, and the log and journal cannot tell them apart"
              : enabled == 1 ? " (the service runs only the enabled one)"
                             : " (neither is enabled)")});
  }
}

}  // namespace corvana::schedules

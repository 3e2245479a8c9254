#include "schedules/rule_text.h"

#include <cstdio>
#include <string>

#include "schedules/local_stamps.h"

namespace corvana::schedules {
namespace {

// Monday first, as `days_week` counts.
constexpr const char* kWeekdays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// As "%02d" gives it, without the formatter: a report has a rule per
// definition, and snprintf was three quarters of a rule's text.
void AppendTwoDigits(int32_t value, std::string* out) {
  if (value < 0) {
    out->append(std::to_string(value));
    return;
  }
  AppendDigits(value, 2, out);
}

std::string Clock(int32_t hour, int32_t min, int32_t sec) {
  std::string text;
  AppendTwoDigits(hour, &text);
  text.push_back(':');
  AppendTwoDigits(min, &text);
  text.push_back(':');
  AppendTwoDigits(sec, &text);
  return text;
}

std::string Weekdays(int32_t days_week) {
  std::string text;
  for (int bit = 0; bit < 7; ++bit) {
    if ((days_week >> bit & 1) == 0) continue;
    if (!text.empty()) text += ", ";
    text += kWeekdays[bit];
  }
  return text.empty() ? "(none chosen: never)" : text;
}

// `nday_week` counts from Sunday.
std::string Weekday(int32_t nday_week) {
  if (nday_week < 0 || nday_week > 6) {
    return "weekday " + std::to_string(nday_week) + " (no such day: never)";
  }
  return kWeekdays[(nday_week + 6) % 7];
}

std::string MonthDay(int32_t day, const std::string& at) {
  std::string text = "every month on day " + std::to_string(day) + at;
  if (day >= 29 && day <= 31) {
    text += " (months without a " + std::to_string(day) +
            (day == 31 ? "st" : "th") + " are skipped)";
  }
  return text;
}

// `month` counts from 0 for the yearly kind.
std::string YearDay(int32_t month, int32_t day, const std::string& at) {
  if (month < 0 || month > 11) {
    return "every year in month " + std::to_string(month) + at +
           " (no such month: never)";
  }
  std::string text = std::string("every year on ") + kMonths[month] + " " +
                     std::to_string(day) + at;
  if (month == 1 && day == 29) text += " (years without a 29 Feb are skipped)";
  return text;
}

std::string CalendarText(const Timetable& record) {
  if (KindOf(record.type_schedule) == ScheduleKind::kHourly) {
    return "every hour at minute " + std::to_string(record.min);
  }
  const std::string at = " at " + Clock(record.hour, record.min, record.sec);
  switch (KindOf(record.type_schedule)) {
    case ScheduleKind::kHourly: break;
    case ScheduleKind::kWeekdays:
      return "weekdays " + Weekdays(record.days_week) + at;
    case ScheduleKind::kWeekday: return "every " + Weekday(record.nday_week) + at;
    case ScheduleKind::kMonthly: return MonthDay(record.day, at);
    case ScheduleKind::kYearly: return YearDay(record.month, record.day, at);
    case ScheduleKind::kOnce: break;
  }
  return "type_schedule " + std::to_string(record.type_schedule) +
         " (no such kind: never)";
}

const char* UnitName(int32_t type_interval) {
  switch (UnitOf(type_interval)) {
    case IntervalUnit::kMinutes: return "minute";
    case IntervalUnit::kHours: return "hour";
    case IntervalUnit::kDays: return "day";
  }
  return nullptr;
}

std::string IntervalText(const WebServerDefinition& web_server) {
  const char* unit_name = UnitName(web_server.type_interval);
  if (unit_name == nullptr) {
    return "type_interval " + std::to_string(web_server.type_interval) +
           " (no such unit: never)";
  }
  const int32_t interval = IntervalUnits(web_server);
  if (interval < 0) {
    return "once after each (re)load (interval " + std::to_string(interval) +
           " never elapses)";
  }
  std::string unit = unit_name;
  if (interval != 1) unit += "s";
  return "every " + std::to_string(interval) + " " + unit +
         " after each (re)load";
}

}  // namespace

std::string ScheduleRuleText(const ScheduleDefinition& schedule) {
  if (KindOf(schedule.type_schedule) != ScheduleKind::kOnce) {
    return CalendarText(schedule);
  }
  char date[64];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", schedule.year,
                schedule.month, schedule.day);
  return std::string("once on ") + date + " at " +
         Clock(schedule.hour, schedule.min, schedule.sec);
}

std::string WebServerRuleText(const WebServerDefinition& web_server) {
  if (KindOf(web_server.type_schedule) != ScheduleKind::kOnce) {
    return CalendarText(web_server);
  }
  return IntervalText(web_server);
}

}  // namespace corvana::schedules

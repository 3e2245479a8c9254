#include "schedules/rule_text.h"

#include <charconv>
#include <cstdio>
#include <string>

#include "schedules/local_stamps.h"

namespace corvana::schedules {
namespace {

// Monday first, as `days_week` counts.
constexpr const char* kWeekdays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// A rule's text is appended piece by piece into one string: a report has
// one per definition, and the temporaries and std::to_string that built it
// were most of its cost.
void AppendNumber(int32_t value, std::string* out) {
  char digits[16];
  out->append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

// As "%02d" gives it, without the formatter: a report has a rule per
// definition, and snprintf was three quarters of a rule's text.
void AppendTwoDigits(int32_t value, std::string* out) {
  if (value < 0) return AppendNumber(value, out);
  AppendDigits(value, 2, out);
}

bool TwoDigits(int32_t value) { return value >= 0 && value <= 99; }

// Two digits at `out`, for 0 to 99.
void PutTwoDigits(int32_t value, char* out) {
  out[0] = static_cast<char>('0' + value / 10);
  out[1] = static_cast<char>('0' + value % 10);
}

// " at hh:mm:ss". Nearly every rule has one: written in one piece where
// each field is two digits, as appending its eight pieces was most of a
// rule's text.
void AppendAt(const Timetable& record, std::string* out) {
  if (TwoDigits(record.hour) && TwoDigits(record.min) && TwoDigits(record.sec)) {
    char at[] = " at hh:mm:ss";
    PutTwoDigits(record.hour, at + 4);
    PutTwoDigits(record.min, at + 7);
    PutTwoDigits(record.sec, at + 10);
    out->append(at, sizeof at - 1);
    return;
  }
  out->append(" at ");
  AppendTwoDigits(record.hour, out);
  out->push_back(':');
  AppendTwoDigits(record.min, out);
  out->push_back(':');
  AppendTwoDigits(record.sec, out);
}

void AppendWeekdays(int32_t days_week, std::string* out) {
  bool any = false;
  for (int bit = 0; bit < 7; ++bit) {
    if ((days_week >> bit & 1) == 0) continue;
    if (any) out->append(", ");
    out->append(kWeekdays[bit]);
    any = true;
  }
  if (!any) out->append("(none chosen: never)");
}

// `nday_week` counts from Sunday.
void AppendWeekday(int32_t nday_week, std::string* out) {
  if (nday_week < 0 || nday_week > 6) {
    out->append("weekday ");
    AppendNumber(nday_week, out);
    out->append(" (no such day: never)");
    return;
  }
  out->append(kWeekdays[(nday_week + 6) % 7]);
}

void AppendMonthDay(const Timetable& record, std::string* out) {
  out->append("every month on day ");
  AppendNumber(record.day, out);
  AppendAt(record, out);
  if (record.day >= 29 && record.day <= 31) {
    out->append(" (months without a ");
    AppendNumber(record.day, out);
    out->append(record.day == 31 ? "st" : "th").append(" are skipped)");
  }
}

// `month` counts from 0 for the yearly kind.
void AppendYearDay(const Timetable& record, std::string* out) {
  if (record.month < 0 || record.month > 11) {
    out->append("every year in month ");
    AppendNumber(record.month, out);
    AppendAt(record, out);
    out->append(" (no such month: never)");
    return;
  }
  out->append("every year on ").append(kMonths[record.month]).push_back(' ');
  AppendNumber(record.day, out);
  AppendAt(record, out);
  if (record.month == 1 && record.day == 29) out->append(" (years without a 29 Feb are skipped)");
}

void AppendCalendarText(const Timetable& record, std::string* out) {
  switch (KindOf(record.type_schedule)) {
    case ScheduleKind::kHourly:
      out->append("every hour at minute ");
      return AppendNumber(record.min, out);
    case ScheduleKind::kWeekdays:
      out->append("weekdays ");
      AppendWeekdays(record.days_week, out);
      return AppendAt(record, out);
    case ScheduleKind::kWeekday:
      out->append("every ");
      AppendWeekday(record.nday_week, out);
      return AppendAt(record, out);
    case ScheduleKind::kMonthly: return AppendMonthDay(record, out);
    case ScheduleKind::kYearly: return AppendYearDay(record, out);
    case ScheduleKind::kOnce: break;
  }
  out->append("type_schedule ");
  AppendNumber(record.type_schedule, out);
  out->append(" (no such kind: never)");
}

const char* UnitName(int32_t type_interval) {
  switch (UnitOf(type_interval)) {
    case IntervalUnit::kMinutes: return "minute";
    case IntervalUnit::kHours: return "hour";
    case IntervalUnit::kDays: return "day";
  }
  return nullptr;
}

void AppendIntervalText(const WebServerDefinition& web_server, std::string* out) {
  const char* unit_name = UnitName(web_server.type_interval);
  if (unit_name == nullptr) {
    out->append("type_interval ");
    AppendNumber(web_server.type_interval, out);
    out->append(" (no such unit: never)");
    return;
  }
  const int32_t interval = IntervalUnits(web_server);
  if (interval < 0) {
    out->append("once after each (re)load (interval ");
    AppendNumber(interval, out);
    out->append(" never elapses)");
    return;
  }
  out->append("every ");
  AppendNumber(interval, out);
  out->append(" ").append(unit_name);
  if (interval != 1) out->push_back('s');
  out->append(" after each (re)load");
}

// "yyyy-mm-dd", as "%04d-%02d-%02d" writes it: in one piece where the
// fields take their usual widths, as a date of once is in every such rule.
void AppendDate(int32_t year, int32_t month, int32_t day, std::string* out) {
  if (year >= 0 && year <= 9999 && TwoDigits(month) && TwoDigits(day)) {
    char date[] = "yyyy-mm-dd";
    PutTwoDigits(year / 100, date);
    PutTwoDigits(year % 100, date + 2);
    PutTwoDigits(month, date + 5);
    PutTwoDigits(day, date + 8);
    out->append(date, sizeof date - 1);
    return;
  }
  if (year < 0 || month < 0 || day < 0) {
    char date[64];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", year, month, day);
    out->append(date);
    return;
  }
  AppendDigits(year, 4, out);
  out->push_back('-');
  AppendDigits(month, 2, out);
  out->push_back('-');
  AppendDigits(day, 2, out);
}

// Room for the longest common rule and the catch-up note that may follow.
constexpr size_t kTypicalRuleBytes = 112;

}  // namespace

std::string ScheduleRuleText(const ScheduleDefinition& schedule) {
  std::string text;
  text.reserve(kTypicalRuleBytes);
  if (KindOf(schedule.type_schedule) != ScheduleKind::kOnce) {
    AppendCalendarText(schedule, &text);
    return text;
  }
  text.append("once on ");
  AppendDate(schedule.year, schedule.month, schedule.day, &text);
  AppendAt(schedule, &text);
  return text;
}

std::string WebServerRuleText(const WebServerDefinition& web_server) {
  std::string text;
  text.reserve(kTypicalRuleBytes);
  if (KindOf(web_server.type_schedule) != ScheduleKind::kOnce) {
    AppendCalendarText(web_server, &text);
  } else {
    AppendIntervalText(web_server, &text);
  }
  return text;
}

}  // namespace corvana::schedules

#include "engine/due_rules.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "support/fixtures.h"
#include "support/tick_simulation.h"
#include "support/time_zone.h"

namespace corvana {
namespace {

using platform::LocalTime;

// A local time with its weekday, independent of any zone.
LocalTime At(int year, int month, int day, int hour, int minute, int second) {
  static const int kMonthOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  const int y = month < 3 ? year - 1 : year;
  LocalTime time;
  time.year = year;
  time.month_index = month - 1;
  time.day = day;
  time.hour = hour;
  time.minute = minute;
  time.second = second;
  time.weekday =
      (y + y / 4 - y / 100 + y / 400 + kMonthOffsets[month - 1] + day) % 7;
  return time;
}

struct TimeOfDay {
  int32_t hour = 0;
  int32_t min = 0;
  int32_t sec = 0;
};

ScheduleDefinition Schedule(ScheduleKind kind, TimeOfDay at) {
  ScheduleDefinition schedule;
  schedule.type_schedule = static_cast<int32_t>(kind);
  schedule.hour = at.hour;
  schedule.min = at.min;
  schedule.sec = at.sec;
  return schedule;
}

ScheduleDefinition Once(int32_t year, int32_t month, int32_t day, TimeOfDay at) {
  ScheduleDefinition schedule = Schedule(ScheduleKind::kOnce, at);
  schedule.year = year;
  schedule.month = month;
  schedule.day = day;
  return schedule;
}

ScheduleDefinition OnDays(int32_t days_week, TimeOfDay at) {
  ScheduleDefinition schedule = Schedule(ScheduleKind::kWeekdays, at);
  schedule.days_week = days_week;
  return schedule;
}

ScheduleDefinition OnWeekday(int32_t nday_week, TimeOfDay at) {
  ScheduleDefinition schedule = Schedule(ScheduleKind::kWeekday, at);
  schedule.nday_week = nday_week;
  return schedule;
}

ScheduleDefinition Monthly(int32_t day, TimeOfDay at) {
  ScheduleDefinition schedule = Schedule(ScheduleKind::kMonthly, at);
  schedule.day = day;
  return schedule;
}

ScheduleDefinition Yearly(int32_t month, int32_t day, TimeOfDay at) {
  ScheduleDefinition schedule = Schedule(ScheduleKind::kYearly, at);
  schedule.month = month;
  schedule.day = day;
  return schedule;
}

// 2 March 2026 is a Monday.
LocalTime WeekOf2Mar(int weekday_from_monday, int hour, int minute,
                     int second) {
  return At(2026, 3, 2 + weekday_from_monday, hour, minute, second);
}

struct MatchCase {
  const char* name;
  ScheduleDefinition schedule;
  LocalTime now;
  bool due;
};

// One evaluation of a fresh record: which times match which fields.
TEST(IsScheduleDueTest, MatchesByKind) {
  const TimeOfDay k0330{3, 30, 0};
  const TimeOfDay k155602{15, 56, 2};
  const TimeOfDay kNoon{12, 0, 0};
  const MatchCase cases[] = {
      {"once, 1-based month", Once(2026, 12, 6, k155602),
       At(2026, 12, 6, 15, 56, 2), true},
      {"once, November is not month 12", Once(2026, 12, 6, k155602),
       At(2026, 11, 6, 15, 56, 2), false},
      {"once, other year", Once(2026, 12, 6, k155602),
       At(2027, 12, 6, 15, 56, 2), false},
      {"once, other day", Once(2026, 12, 6, k155602),
       At(2026, 12, 7, 15, 56, 2), false},
      {"once, other hour", Once(2026, 12, 6, k155602),
       At(2026, 12, 6, 14, 56, 2), false},
      {"hourly, any hour and second", Schedule(ScheduleKind::kHourly, {0, 30, 0}),
       At(2026, 5, 5, 17, 30, 47), true},
      {"hourly, other minute", Schedule(ScheduleKind::kHourly, {0, 30, 0}),
       At(2026, 5, 5, 17, 31, 0), false},
      {"days 31 on Monday", OnDays(31, k0330), WeekOf2Mar(0, 3, 30, 0), true},
      {"days 31 on Wednesday", OnDays(31, k0330), WeekOf2Mar(2, 3, 30, 0),
       true},
      {"days 31 on Friday", OnDays(31, k0330), WeekOf2Mar(4, 3, 30, 0), true},
      {"days 31 on Saturday", OnDays(31, k0330), WeekOf2Mar(5, 3, 30, 0),
       false},
      {"days 31 on Sunday", OnDays(31, k0330), WeekOf2Mar(6, 3, 30, 0), false},
      {"days 64 on Sunday", OnDays(64, k0330), WeekOf2Mar(6, 3, 30, 0), true},
      {"days 64 on Monday", OnDays(64, k0330), WeekOf2Mar(0, 3, 30, 0), false},
      {"days 64 on Saturday", OnDays(64, k0330), WeekOf2Mar(5, 3, 30, 0),
       false},
      {"days 32 on Saturday", OnDays(32, k0330), WeekOf2Mar(5, 3, 30, 0), true},
      {"days 1 on Monday", OnDays(1, k0330), WeekOf2Mar(0, 3, 30, 0), true},
      {"days 1 on Sunday", OnDays(1, k0330), WeekOf2Mar(6, 3, 30, 0), false},
      {"days 128 names no day", OnDays(128, k0330), WeekOf2Mar(6, 3, 30, 0),
       false},
      {"days above the low byte are ignored", OnDays(256 | 1, k0330),
       WeekOf2Mar(0, 3, 30, 0), true},
      {"days 256 has an empty low byte", OnDays(256, k0330),
       WeekOf2Mar(0, 3, 30, 0), false},
      {"days 31 at the wrong minute", OnDays(31, k0330),
       WeekOf2Mar(0, 3, 31, 0), false},
      {"weekday 1 on Monday", OnWeekday(1, k0330), WeekOf2Mar(0, 3, 30, 0),
       true},
      {"weekday 1 on Sunday", OnWeekday(1, k0330), WeekOf2Mar(6, 3, 30, 0),
       false},
      {"weekday 0 on Sunday", OnWeekday(0, k0330), WeekOf2Mar(6, 3, 30, 0),
       true},
      {"weekday 0 on Monday", OnWeekday(0, k0330), WeekOf2Mar(0, 3, 30, 0),
       false},
      {"weekday 7 on Sunday", OnWeekday(7, k0330), WeekOf2Mar(6, 3, 30, 0),
       false},
      {"monthly 31 in March", Monthly(31, kNoon), At(2026, 3, 31, 12, 0, 0),
       true},
      {"monthly 31 on 30 April", Monthly(31, kNoon), At(2026, 4, 30, 12, 0, 0),
       false},
      {"monthly 31 on 1 May", Monthly(31, kNoon), At(2026, 5, 1, 12, 0, 0),
       false},
      {"yearly, 0-based December", Yearly(11, 25, kNoon),
       At(2026, 12, 25, 12, 0, 0), true},
      {"yearly, month 11 is not November", Yearly(11, 25, kNoon),
       At(2026, 11, 25, 12, 0, 0), false},
      {"yearly, month 12 never", Yearly(12, 25, kNoon),
       At(2026, 12, 25, 12, 0, 0), false},
      {"yearly, other day", Yearly(11, 25, kNoon), At(2026, 12, 24, 12, 0, 0),
       false},
      {"kind 6 never", Schedule(ScheduleKind{6}, {0, 30, 0}), At(2026, 5, 5, 0, 30, 0),
       false},
      {"kind -1 never", Schedule(ScheduleKind{-1}, {0, 30, 0}), At(2026, 5, 5, 0, 30, 0),
       false},
  };
  for (const MatchCase& test : cases) {
    ScheduleDefinition schedule = test.schedule;
    EXPECT_EQ(IsScheduleDue(schedule, test.now), test.due) << test.name;
    EXPECT_EQ(schedule.fired, test.due) << test.name;
  }
}

struct WindowCase {
  int32_t sec;
  int second;
  bool due;
};

// The window is the two seconds that end at `sec`, clipped to 0..59.
TEST(IsScheduleDueTest, WindowEndsAtSec) {
  const WindowCase cases[] = {
      {2, 0, false},      {2, 1, true},        {2, 2, true},
      {2, 3, false},      {0, 0, true},        {0, 1, false},
      {0, 59, false},     {59, 58, true},      {59, 59, true},
      {60, 59, true},     {60, 58, false},     {61, 59, false},
      {-1, 0, false},     {-1, 59, false},     {INT_MAX, 59, false},
      {INT_MIN, 0, false}, {INT_MIN + 1, 0, false},
  };
  for (const WindowCase& test : cases) {
    for (int32_t kind : {2, 3, 4}) {
      ScheduleDefinition schedule =
          kind == 2 ? OnDays(127, {10, 0, test.sec})
                    : kind == 3 ? OnWeekday(2, {10, 0, test.sec})
                                : Monthly(3, {10, 0, test.sec});
      // 3 March 2026, a Tuesday.
      const LocalTime now = At(2026, 3, 3, 10, 0, test.second);
      EXPECT_EQ(IsScheduleDue(schedule, now), test.due)
          << "kind " << kind << " sec " << test.sec << " second "
          << test.second;
    }
  }
}

struct Step {
  LocalTime now;
  bool due;
};

void ExpectSequence(ScheduleDefinition schedule, const std::vector<Step>& steps,
                    const char* name) {
  for (size_t i = 0; i < steps.size(); ++i) {
    EXPECT_EQ(IsScheduleDue(schedule, steps[i].now), steps[i].due)
        << name << ", step " << i;
  }
}

// The latch: once per unbroken run of matching evaluations.
TEST(IsScheduleDueTest, LatchFiresOncePerRun) {
  ExpectSequence(Once(2026, 12, 6, {15, 56, 2}),
                 {{At(2026, 12, 6, 15, 56, 0), false},
                  {At(2026, 12, 6, 15, 56, 1), true},
                  {At(2026, 12, 6, 15, 56, 1), false},
                  {At(2026, 12, 6, 15, 56, 2), false},
                  {At(2026, 12, 6, 15, 56, 2), false},
                  {At(2026, 12, 6, 15, 56, 3), false},
                  {At(2026, 12, 6, 15, 56, 2), false},
                  {At(2027, 12, 6, 15, 56, 2), false}},
                 "once, from sec - 1");
  ExpectSequence(Once(2026, 12, 6, {15, 56, 2}),
                 {{At(2026, 12, 6, 15, 56, 2), true},
                  {At(2026, 12, 6, 15, 56, 2), false}},
                 "once, first evaluation at sec");
  ExpectSequence(Schedule(ScheduleKind::kHourly, {0, 30, 0}),
                 {{At(2026, 5, 5, 10, 29, 59), false},
                  {At(2026, 5, 5, 10, 30, 0), true},
                  {At(2026, 5, 5, 10, 30, 1), false},
                  {At(2026, 5, 5, 10, 30, 59), false},
                  {At(2026, 5, 5, 10, 31, 0), false},
                  {At(2026, 5, 5, 11, 30, 45), true},
                  {At(2026, 5, 5, 11, 30, 46), false}},
                 "hourly, one start per hour");
  ExpectSequence(OnDays(31, {3, 30, 0}),
                 {{WeekOf2Mar(0, 3, 29, 59), false},
                  {WeekOf2Mar(0, 3, 30, 0), true},
                  {WeekOf2Mar(0, 3, 30, 1), false},
                  {WeekOf2Mar(1, 3, 30, 0), true},
                  {WeekOf2Mar(1, 3, 30, 1), false},
                  {WeekOf2Mar(6, 3, 30, 0), false}},
                 "weekdays, a start on each day");
  ExpectSequence(Monthly(10, {8, 0, 30}),
                 {{At(2026, 6, 10, 8, 0, 28), false},
                  {At(2026, 6, 10, 8, 0, 31), false}},
                 "a held-up loop misses the window");
}

TEST(IsScheduleDueTest, NoMatchClearsTheLatch) {
  for (ScheduleKind kind :
       {ScheduleKind{6}, ScheduleKind{-1}, ScheduleKind::kHourly}) {
    ScheduleDefinition schedule = Schedule(kind, {0, 30, 0});
    schedule.fired = true;
    EXPECT_FALSE(IsScheduleDue(schedule, At(2026, 5, 5, 0, 31, 0)));
    EXPECT_FALSE(schedule.fired) << "kind " << static_cast<int32_t>(kind);
  }
}

// On the night the clocks go back a local hour comes twice. The kinds that
// name a time of day start once per local date and minute; the hourly kind
// runs in both real hours.
TEST(IsScheduleDueTest, RepeatedLocalMinuteStartsOnceExceptHourly) {
  const TimeOfDay at{2, 30, 0};
  const ScheduleDefinition schedules[] = {
      Once(2026, 10, 25, at), Schedule(ScheduleKind::kHourly, at), OnDays(127, at),
      OnWeekday(0, at), Monthly(25, at), Yearly(9, 25, at)};
  const LocalTime first = At(2026, 10, 25, 2, 30, 0);  // a Sunday
  const LocalTime between = At(2026, 10, 25, 2, 59, 0);
  for (ScheduleDefinition schedule : schedules) {
    const bool hourly =
        KindOf(schedule.type_schedule) == ScheduleKind::kHourly;
    EXPECT_TRUE(IsScheduleDue(schedule, first));
    EXPECT_FALSE(IsScheduleDue(schedule, between));
    EXPECT_EQ(IsScheduleDue(schedule, first), hourly)
        << "kind " << schedule.type_schedule;
    EXPECT_FALSE(IsScheduleDue(schedule, between));
    EXPECT_EQ(IsScheduleDue(schedule, first), hourly)
        << "kind " << schedule.type_schedule << ", third time";
  }
  // The memory is of the date and the minute: the next occurrence runs.
  ScheduleDefinition daily = OnDays(127, at);
  EXPECT_TRUE(IsScheduleDue(daily, first));
  EXPECT_FALSE(IsScheduleDue(daily, between));
  EXPECT_TRUE(IsScheduleDue(daily, At(2026, 10, 26, 2, 30, 0)));
}

// Evaluates as the engine's tick does: an update that falls due is
// recorded before the next reading.
bool DueAt(WebServerDefinition& web_server, int64_t now_s) {
  LocalTime local;
  return platform::ToLocalTime(now_s, &local) &&
         testing::WebServerDueAtTick(web_server, now_s, local);
}

class WebServerDueTest : public ::testing::Test {
 protected:
  bool DueAt(WebServerDefinition& web_server, int year, int month, int day,
             int hour, int minute, int second) {
    return corvana::DueAt(
        web_server,
        testing::LocalSeconds(year, month, day, hour, minute, second));
  }
};

WebServerDefinition Interval(IntervalUnit unit, int32_t interval) {
  WebServerDefinition web_server;
  web_server.type_schedule = static_cast<int32_t>(ScheduleKind::kOnce);
  web_server.type_interval = static_cast<int32_t>(unit);
  web_server.interval = interval;
  return web_server;
}

TEST_F(WebServerDueTest, IntervalInMinutesCountsFromTheLastLaunch) {
  WebServerDefinition web_server = Interval(IntervalUnit::kMinutes, 30);
  EXPECT_TRUE(DueAt(web_server, 2026, 5, 5, 10, 0, 20));
  EXPECT_EQ(web_server.last_update.date, PackDate(2026, 5, 5));
  EXPECT_EQ(web_server.last_update.time, 36020u);
  EXPECT_FALSE(DueAt(web_server, 2026, 5, 5, 10, 0, 20));
  EXPECT_FALSE(web_server.fired);
  EXPECT_FALSE(DueAt(web_server, 2026, 5, 5, 10, 29, 20));
  EXPECT_FALSE(DueAt(web_server, 2026, 5, 5, 10, 30, 19));
  EXPECT_TRUE(DueAt(web_server, 2026, 5, 5, 10, 30, 20));
  EXPECT_EQ(web_server.last_update.time, 37820u);
  EXPECT_FALSE(DueAt(web_server, 2026, 5, 5, 10, 30, 21));
  EXPECT_FALSE(DueAt(web_server, 2026, 5, 5, 10, 59, 20));
  EXPECT_TRUE(DueAt(web_server, 2026, 5, 5, 11, 0, 20));
  // No evaluation within the interval (the machine slept): due all the same.
  EXPECT_TRUE(DueAt(web_server, 2026, 5, 5, 13, 0, 0));
}

TEST_F(WebServerDueTest, ZeroIntervalBecomesOneUnit) {
  WebServerDefinition web_server = Interval(IntervalUnit::kMinutes, 0);
  EXPECT_TRUE(DueAt(web_server, 2026, 5, 5, 10, 0, 0));
  EXPECT_EQ(web_server.interval, 0);
  EXPECT_FALSE(DueAt(web_server, 2026, 5, 5, 10, 0, 59));
  EXPECT_TRUE(DueAt(web_server, 2026, 5, 5, 10, 1, 0));
  EXPECT_FALSE(DueAt(web_server, 2026, 5, 5, 10, 1, 30));
  EXPECT_TRUE(DueAt(web_server, 2026, 5, 5, 10, 2, 0));
}

TEST_F(WebServerDueTest, NegativeIntervalIsDueOnlyAfterLoading) {
  WebServerDefinition web_server = Interval(IntervalUnit::kMinutes, -5);
  EXPECT_TRUE(DueAt(web_server, 2026, 5, 5, 10, 0, 0));
  EXPECT_FALSE(DueAt(web_server, 2026, 5, 5, 10, 5, 0));
  EXPECT_FALSE(DueAt(web_server, 2026, 7, 5, 10, 0, 0));
  EXPECT_EQ(web_server.interval, -5);
}

TEST_F(WebServerDueTest, DaysNeedTwentyFourHoursNotADateChange) {
  WebServerDefinition web_server = Interval(IntervalUnit::kDays, 1);
  EXPECT_TRUE(DueAt(web_server, 2026, 5, 5, 23, 59, 0));
  EXPECT_FALSE(DueAt(web_server, 2026, 5, 6, 0, 1, 0));
  EXPECT_FALSE(DueAt(web_server, 2026, 5, 6, 23, 58, 59));
  EXPECT_TRUE(DueAt(web_server, 2026, 5, 6, 23, 59, 0));
}

TEST_F(WebServerDueTest, HoursAsInTheExampleFile) {
  WebServerDefinition web_server = Interval(IntervalUnit::kHours, 6);
  EXPECT_TRUE(DueAt(web_server, 2026, 5, 5, 8, 15, 0));
  EXPECT_FALSE(DueAt(web_server, 2026, 5, 5, 14, 14, 59));
  EXPECT_TRUE(DueAt(web_server, 2026, 5, 5, 14, 15, 0));
}

TEST_F(WebServerDueTest, UnknownUnitIsNeverDue) {
  for (IntervalUnit unit : {IntervalUnit{3}, IntervalUnit{-1}, IntervalUnit{100}}) {
    WebServerDefinition web_server = Interval(unit, 30);
    EXPECT_FALSE(DueAt(web_server, 2026, 5, 5, 10, 0, 0)) << static_cast<int32_t>(unit);
    EXPECT_FALSE(DueAt(web_server, 2026, 6, 5, 10, 0, 0)) << static_cast<int32_t>(unit);
    EXPECT_EQ(web_server.last_update.date, 0u);
  }
}

TEST_F(WebServerDueTest, CalendarKindsFollowTheScheduleRule) {
  WebServerDefinition web_server;
  web_server.type_schedule = static_cast<int32_t>(ScheduleKind::kWeekdays);
  web_server.days_week = 0x40;
  web_server.hour = 6;
  // 8 March 2026 is a Sunday.
  EXPECT_FALSE(DueAt(web_server, 2026, 3, 8, 5, 59, 59));
  EXPECT_TRUE(DueAt(web_server, 2026, 3, 8, 6, 0, 0));
  EXPECT_EQ(web_server.last_update.date, PackDate(2026, 3, 8));
  EXPECT_EQ(web_server.last_update.time, 6u * 3600);
  EXPECT_FALSE(DueAt(web_server, 2026, 3, 8, 6, 0, 0));
  EXPECT_FALSE(DueAt(web_server, 2026, 3, 8, 6, 0, 1));
  EXPECT_FALSE(DueAt(web_server, 2026, 3, 9, 6, 0, 0));
  EXPECT_TRUE(DueAt(web_server, 2026, 3, 15, 6, 0, 0));

  WebServerDefinition yearly;
  yearly.type_schedule = static_cast<int32_t>(ScheduleKind::kYearly);
  yearly.month = 11;
  yearly.day = 25;
  yearly.hour = 12;
  yearly.sec = 1;
  EXPECT_FALSE(DueAt(yearly, 2026, 11, 25, 12, 0, 0));
  EXPECT_TRUE(DueAt(yearly, 2026, 12, 25, 12, 0, 0));
  EXPECT_FALSE(DueAt(yearly, 2026, 12, 25, 12, 0, 1));

  WebServerDefinition hourly;
  hourly.type_schedule = static_cast<int32_t>(ScheduleKind::kHourly);
  hourly.min = 30;
  EXPECT_TRUE(DueAt(hourly, 2026, 5, 5, 10, 30, 40));
  EXPECT_FALSE(DueAt(hourly, 2026, 5, 5, 10, 30, 50));
  EXPECT_FALSE(DueAt(hourly, 2026, 5, 5, 10, 31, 0));
  EXPECT_TRUE(DueAt(hourly, 2026, 5, 5, 11, 30, 0));
}

TEST_F(WebServerDueTest, OtherKindsAreNeverDue) {
  for (int32_t kind : {6, -1}) {
    WebServerDefinition web_server;
    web_server.type_schedule = kind;
    web_server.fired = true;
    EXPECT_FALSE(DueAt(web_server, 2026, 5, 5, 0, 0, 0)) << kind;
    EXPECT_FALSE(web_server.fired);
    EXPECT_EQ(web_server.last_update.date, 0u);
  }
}

TEST_F(WebServerDueTest, RepeatedLocalMinuteStartsOnceExceptHourly) {
  for (ScheduleKind kind :
       {ScheduleKind::kHourly, ScheduleKind::kWeekdays, ScheduleKind::kWeekday,
        ScheduleKind::kMonthly, ScheduleKind::kYearly}) {
    WebServerDefinition web_server;
    web_server.type_schedule = static_cast<int32_t>(kind);
    web_server.days_week = 127;
    web_server.nday_week = 2;  // 5 May 2026 is a Tuesday
    web_server.day = 5;
    web_server.month = 4;
    web_server.hour = 10;
    const int32_t file_value = static_cast<int32_t>(kind);
    EXPECT_TRUE(DueAt(web_server, 2026, 5, 5, 10, 0, 0)) << file_value;
    EXPECT_FALSE(DueAt(web_server, 2026, 5, 5, 10, 1, 0)) << file_value;
    // The wall clock set back: the same local minute again.
    EXPECT_EQ(DueAt(web_server, 2026, 5, 5, 10, 0, 0),
              kind == ScheduleKind::kHourly)
        << file_value;
  }
}

struct IntervalCase {
  const char* name;
  int64_t last_s;
  IntervalUnit unit;
  int32_t interval;
  int64_t now_s;
  bool elapsed;
};

TEST_F(WebServerDueTest, WholeUnitsAgainstTheInterval) {
  const int64_t may5 = testing::LocalSeconds(2026, 5, 5, 0, 0, 0);
  const int64_t day = 86400;
  const IntervalUnit minutes = IntervalUnit::kMinutes;
  const IntervalUnit hours = IntervalUnit::kHours;
  const IntervalUnit days = IntervalUnit::kDays;
  const IntervalCase cases[] = {
      {"29:59 of 30 minutes", may5 + 36000, minutes, 30, may5 + 37799, false},
      {"30 minutes", may5 + 36000, minutes, 30, may5 + 37800, true},
      {"order does not matter", may5 + 37800, minutes, 30, may5 + 36000, true},
      {"negative never", may5, minutes, -1, may5 + day, false},
      {"5 hours 59 of 6", may5, hours, 6, may5 + 21599, false},
      {"6 hours", may5, hours, 6, may5 + 21600, true},
      {"date change alone", may5 + 86340, days, 1, may5 + day + 60, false},
      {"a whole day", may5 + 86340, days, 1, may5 + day + 86340, true},
      {"two days of 3", may5, days, 3, may5 + 2 * day, false},
  };
  for (const IntervalCase& test : cases) {
    WebServerDefinition web_server = Interval(test.unit, test.interval);
    ASSERT_TRUE(corvana::DueAt(web_server, test.last_s)) << test.name;
    ASSERT_FALSE(corvana::DueAt(web_server, test.last_s + 1)) << test.name;
    EXPECT_EQ(corvana::DueAt(web_server, test.now_s), test.elapsed)
        << test.name;
  }
}

// Counts true results of one record, evaluated every second of real time
// from `from_s` for `seconds`.
template <class Evaluate>
std::vector<LocalTime> TrueResults(int64_t from_s, int64_t seconds,
                                   Evaluate evaluate) {
  std::vector<LocalTime> fired;
  for (int64_t now_s = from_s; now_s < from_s + seconds; ++now_s) {
    LocalTime local;
    if (!platform::ToLocalTime(now_s, &local)) continue;
    if (evaluate(now_s, local)) fired.push_back(local);
  }
  return fired;
}

TEST(DaylightSavingTest, FallBackNightRunsDailyOnceAndHourlyTwice) {
  testing::ScopedTimeZone zone("Europe/Berlin");
  CORVANA_REQUIRE_BERLIN_ZONE();
  // 00:00 local on 25 October 2026 to 05:00 local: six real hours.
  const int64_t from_s = testing::LocalSeconds(2026, 10, 25, 0, 0, 0);
  const int64_t until_s = testing::LocalSeconds(2026, 10, 25, 5, 0, 0);
  ASSERT_EQ(until_s - from_s, 6 * 3600);
  ScheduleDefinition daily = OnDays(127, {2, 30, 0});
  ScheduleDefinition hourly = Schedule(ScheduleKind::kHourly, {0, 30, 0});
  const auto daily_runs = TrueResults(
      from_s, until_s - from_s,
      [&](int64_t, const LocalTime& now) { return IsScheduleDue(daily, now); });
  const auto hourly_runs = TrueResults(
      from_s, until_s - from_s,
      [&](int64_t, const LocalTime& now) { return IsScheduleDue(hourly, now); });
  ASSERT_EQ(daily_runs.size(), 1u);
  EXPECT_EQ(daily_runs[0].hour, 2);
  ASSERT_EQ(hourly_runs.size(), 6u);
  const int hours[] = {0, 1, 2, 2, 3, 4};
  for (size_t i = 0; i < hourly_runs.size(); ++i) {
    EXPECT_EQ(hourly_runs[i].hour, hours[i]) << i;
  }
}

TEST(DaylightSavingTest, SpringForwardNightSkipsTheMissingHour) {
  testing::ScopedTimeZone zone("Europe/Berlin");
  CORVANA_REQUIRE_BERLIN_ZONE();
  const int64_t from_s = testing::LocalSeconds(2026, 3, 29, 0, 0, 0);
  const int64_t until_s = testing::LocalSeconds(2026, 3, 29, 5, 0, 0);
  ASSERT_EQ(until_s - from_s, 4 * 3600);
  ScheduleDefinition daily = OnDays(127, {2, 30, 0});
  ScheduleDefinition hourly = Schedule(ScheduleKind::kHourly, {0, 30, 0});
  EXPECT_TRUE(TrueResults(from_s, until_s - from_s, [&](int64_t,
                                                          const LocalTime& now) {
                return IsScheduleDue(daily, now);
              }).empty());
  EXPECT_EQ(TrueResults(from_s, until_s - from_s,
                        [&](int64_t, const LocalTime& now) {
                          return IsScheduleDue(hourly, now);
                        })
                .size(),
            4u);
}

class DaylightSavingWebServerTest : public WebServerDueTest {
 protected:
  // Evaluates once a second from local `from` on, for `real_hours`.
  std::vector<LocalTime> Run(WebServerDefinition& web_server, int64_t from_s,
                             int64_t real_hours) {
    return TrueResults(from_s, real_hours * 3600,
                       [&](int64_t now_s, const LocalTime&) {
                         return corvana::DueAt(web_server, now_s);
                       });
  }
};

// Intervals are real time: the autumn night has 25 hours, the spring one 23.
TEST_F(DaylightSavingWebServerTest, IntervalsCountRealTimeAcrossBothNights) {
  testing::ScopedTimeZone zone("Europe/Berlin");
  CORVANA_REQUIRE_BERLIN_ZONE();
  WebServerDefinition daily = Interval(IntervalUnit::kDays, 1);
  auto runs = Run(daily, testing::LocalSeconds(2026, 10, 24, 12, 0, 0), 25);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[1].day, 25);
  EXPECT_EQ(runs[1].hour, 11);
  EXPECT_EQ(runs[1].minute, 0);
  EXPECT_EQ(runs[1].second, 0);

  daily = Interval(IntervalUnit::kDays, 1);
  runs = Run(daily, testing::LocalSeconds(2026, 3, 28, 12, 0, 0), 25);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[1].day, 29);
  EXPECT_EQ(runs[1].hour, 13);
  EXPECT_EQ(runs[1].minute, 0);

  // 23:30 CEST plus five real hours is 03:30 CET.
  WebServerDefinition hours = Interval(IntervalUnit::kHours, 5);
  runs = Run(hours, testing::LocalSeconds(2026, 10, 24, 23, 30, 0), 6);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[1].hour, 3);
  EXPECT_EQ(runs[1].minute, 30);
  EXPECT_EQ(runs[1].second, 0);

  // 00:30 CET plus three real hours is 04:30 CEST.
  hours = Interval(IntervalUnit::kHours, 3);
  runs = Run(hours, testing::LocalSeconds(2026, 3, 29, 0, 30, 0), 4);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[1].hour, 4);
  EXPECT_EQ(runs[1].minute, 30);
}

// Inside the hour that comes twice, a local time names two moments; the
// interval must still count the real minutes from the moment of the run.
TEST_F(DaylightSavingWebServerTest, IntervalsInTheRepeatedHourAreRealMinutes) {
  testing::ScopedTimeZone zone("Europe/Berlin");
  CORVANA_REQUIRE_BERLIN_ZONE();
  const struct {
    IntervalUnit unit;
    int32_t interval;
    int64_t gap_s;
  } cases[] = {{IntervalUnit::kMinutes, 30, 30 * 60},
               {IntervalUnit::kHours, 1, 60 * 60}};
  // 00:10 CEST to 05:10 CET: six real hours, runs at 02:40 CEST and CET.
  const int64_t from_s = testing::LocalSeconds(2026, 10, 25, 0, 10, 0);
  for (const auto& c : cases) {
    WebServerDefinition web_server = Interval(c.unit, c.interval);
    std::vector<int64_t> runs_s;
    for (int64_t now_s = from_s; now_s < from_s + 6 * 3600; ++now_s) {
      if (corvana::DueAt(web_server, now_s)) runs_s.push_back(now_s);
    }
    ASSERT_EQ(runs_s.size(), static_cast<size_t>(6 * 3600 / c.gap_s)) << c.gap_s;
    for (size_t i = 1; i < runs_s.size(); ++i) {
      EXPECT_EQ(runs_s[i] - runs_s[i - 1], c.gap_s) << "run " << i;
    }
  }
}

// More than a whole day after the last serve run, and only from 23:24 on.
TEST(IsServeDueTest, AfterMoreThanADayInTheEveningWindow) {
  const int64_t started_s = 1000000;
  const struct {
    int64_t elapsed_s;
    int hour, minute;
    bool due;
  } cases[] = {{86401, 23, 24, true},  {86401, 23, 59, true},  {86400, 23, 30, false},
               {86401, 23, 23, false}, {86401, 0, 24, false}, {86401, 22, 59, false}};
  for (const auto& c : cases) {
    const ClockReading now{started_s + c.elapsed_s, At(2026, 12, 7, c.hour, c.minute, 0)};
    EXPECT_EQ(IsServeDue(started_s, now), c.due) << c.elapsed_s << " " << c.hour << ":" << c.minute;
  }
}

}  // namespace
}  // namespace corvana

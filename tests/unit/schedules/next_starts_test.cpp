// The next starts that `schedules` predicts against the engine itself: the
// simulated main loop's ticks through a year are the oracle.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "calendar/zone_offset.h"
#include "platform/civil_date.h"
#include "engine/due_rules.h"
#include "schedules/next_starts.h"
#include "support/fixtures.h"
#include "support/tick_simulation.h"
#include "support/time_zone.h"

namespace corvana {
namespace {

using platform::LocalTime;
using testing::Subject;

constexpr int kDefinitionsPerZone = 48;

// Fields near the edges the rules care about: the hours the clocks change
// in, the last seconds of a minute, the 29th to 31st, a bare weekday mask.
template <class Record>
void RandomCalendar(std::mt19937& random, int32_t kind, Record* record) {
  auto pick = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  record->type_schedule = kind;
  record->hour = pick(0, 2) == 0 ? pick(1, 3) : pick(0, 23);
  record->min = pick(0, 59);
  record->sec = pick(0, 3) == 0 ? pick(58, 61) : pick(0, 3);
  record->days_week = pick(0, 255);
  record->nday_week = pick(0, 6);
  record->day = pick(0, 3) == 0 ? pick(29, 31) : pick(1, 31);
  record->month = kind == 0 ? pick(1, 12) : pick(0, 11);
  record->year = 2026;
}

// Asked at the moment of a load, with no log.
schedules::Replay LoadedAt(int64_t load_s, int count) {
  schedules::Replay replay;
  replay.from_s = replay.load_s = load_s;
  replay.count = count;
  return replay;
}

class NextStartsTest : public ::testing::TestWithParam<const char*> {
 protected:
  Subject ScheduleSubject(ScheduleDefinition schedule) {
    Subject subject = Timetable(schedule);
    subject.evaluate = [schedule](int64_t, const LocalTime& local) mutable {
      return IsScheduleDue(schedule, local);
    };
    return subject;
  }

  Subject WebServerSubject(WebServerDefinition web_server) {
    Subject subject = Timetable(web_server);
    subject.evaluate = [web_server](int64_t now_s, const LocalTime& local) mutable {
      return testing::WebServerDueAtTick(web_server, now_s, local);
    };
    return subject;
  }

  template <class Record>
  static Subject Timetable(const Record& record) {
    Subject subject;
    subject.name = "kind " + std::to_string(record.type_schedule) + " " +
                   std::to_string(record.hour) + ":" + std::to_string(record.min) +
                   ":" + std::to_string(record.sec) + " day " +
                   std::to_string(record.day) + " month " +
                   std::to_string(record.month) + " days_week " +
                   std::to_string(record.days_week);
    subject.type_schedule = record.type_schedule;
    subject.hour = record.hour;
    subject.min = record.min;
    return subject;
  }

  static std::vector<int64_t> Seconds(const std::vector<int64_t>& due_ms) {
    std::vector<int64_t> seconds;
    for (int64_t ms : due_ms) seconds.push_back(ms / 1000);
    return seconds;
  }

  // The predicted seconds before `end_s`, each with the local time the
  // platform gives for it.
  static std::vector<int64_t> Before(const std::vector<schedules::Start>& starts,
                                     int64_t end_s) {
    std::vector<int64_t> seconds;
    for (const schedules::Start& start : starts) {
      LocalTime local;
      platform::ToLocalTime(start.seconds, &local);
      EXPECT_EQ(LocalCivilSeconds(start.local), LocalCivilSeconds(local))
          << start.seconds;
      if (start.seconds < end_s) seconds.push_back(start.seconds);
    }
    return seconds;
  }

};

// Under Wine the zone is the one wine was started in, whatever the test sets.
bool ZoneApplies(const std::string& zone) {
  LocalTime local;
  if (zone == "Europe/Berlin") return testing::LocalZoneIsBerlin();
  if (zone == "America/New_York") {  // 2026-03-08 07:00 UTC is 03:00 EDT
    return platform::ToLocalTime(1772953200, &local) && local.hour == 3;
  }
  return UtcOffsetS(1767225600) == 0 && UtcOffsetS(1782864000) == 0;
}

#define REQUIRE_ZONE(zone) \
  if (!ZoneApplies(zone)) GTEST_SKIP() << "local time does not follow " << zone

// Each definition loaded at a second of its own, often inside a window or
// minute it matches: the engine's first tick there starts it.
TEST_P(NextStartsTest, CalendarKindsStartWhenTheSimulatedEngineDoes) {
  testing::ScopedTimeZone zone(GetParam());
  REQUIRE_ZONE(GetParam());
  const int64_t end_s = testing::LocalSeconds(2027, 1, 1, 0, 0, 0);
  std::mt19937 random(20261207);
  auto pick = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  size_t starts = 0;
  for (int i = 0; i < kDefinitionsPerZone; ++i) {
    const int32_t kind = i % 11;  // schedules 0-5, web servers 1-5
    Subject subject;
    std::vector<schedules::Start> predicted;
    ScheduleDefinition record;
    RandomCalendar(random, kind <= 5 ? kind : kind - 5, &record);
    const bool own_minute = pick(0, 1) == 0;
    const int64_t load_s = testing::LocalSeconds(
        2026, pick(1, 12), pick(1, 28), own_minute ? record.hour : pick(0, 23),
        own_minute ? record.min : pick(0, 59),
        own_minute ? std::clamp(record.sec - pick(0, 1), 0, 59) : pick(0, 59));
    const schedules::Replay replay = LoadedAt(load_s, 9000);
    if (kind <= 5) {
      subject = ScheduleSubject(record);
      predicted = schedules::NextScheduleStarts(record, replay);
    } else {
      WebServerDefinition web_server;
      static_cast<corvana::Timetable&>(web_server) = record;
      subject = WebServerSubject(web_server);
      predicted = schedules::NextWebServerStarts(web_server, replay);
    }
    std::vector<Subject> subjects = {subject};
    testing::TickRun(load_s * 1000 + 123, end_s * 1000).AroundCandidateMinutes(subjects);
    EXPECT_EQ(Before(predicted, end_s), Seconds(subjects[0].due_ms))
        << GetParam() << ": " << subject.name << " loaded at " << load_s;
    starts += subjects[0].due_ms.size();
  }
  EXPECT_GT(starts, 1000u) << "the random definitions hardly ever ran";
}

// The moments of 2026 at which the offset from UTC changes.
std::vector<int64_t> ClockChanges() {
  std::vector<int64_t> changes;
  const int64_t start_s = testing::LocalSeconds(2026, 1, 1, 0, 0, 0);
  for (int64_t at = start_s; at < start_s + 366 * 86400; at += 3600) {
    if (UtcOffsetS(at + 3600) != UtcOffsetS(at)) {
      changes.push_back(at + 3600);
    }
  }
  return changes;
}

// Every tick over the days the clocks change, and one without a change: an
// interval web server runs at the (re)load and then every interval.
TEST_P(NextStartsTest, IntervalWebServersStartWhenTheSimulatedEngineDoes) {
  testing::ScopedTimeZone zone(GetParam());
  REQUIRE_ZONE(GetParam());
  const struct { int32_t unit; int32_t interval; } kIntervals[] = {
      {0, 0}, {0, 7}, {0, 90}, {1, 1}, {1, 5}, {2, 1}, {3, 1}};
  std::vector<int64_t> middles = ClockChanges();
  EXPECT_EQ(middles.size(), std::string(GetParam()) == "UTC" ? 0u : 2u);
  middles.push_back(testing::LocalSeconds(2026, 6, 15, 12, 0, 0));
  for (int64_t middle_s : middles) {
    const int64_t start_s = middle_s - 30 * 3600 + 17;
    const int64_t end_s = middle_s + 30 * 3600;
    std::vector<Subject> subjects;
    std::vector<std::vector<schedules::Start>> predicted;
    for (const auto& [unit, interval] : kIntervals) {
      WebServerDefinition web_server;
      web_server.type_interval = unit;
      web_server.interval = interval;
      subjects.push_back(WebServerSubject(web_server));
      predicted.push_back(
          schedules::NextWebServerStarts(web_server, LoadedAt(start_s, 20000)));
    }
    testing::TickRun(start_s * 1000 + 123, end_s * 1000).EveryTick(subjects);
    for (size_t i = 0; i < subjects.size(); ++i) {
      EXPECT_EQ(Before(predicted[i], end_s), Seconds(subjects[i].due_ms))
          << GetParam() << " around " << middle_s << ", interval " << i;
    }
  }
}

// What a report remembers of the clock changes is what a fresh search
// finds, whichever ranges were asked before it: later, earlier, within.
TEST_P(NextStartsTest, RememberedClockChangesAreTheOnesSearchedAfresh) {
  testing::ScopedTimeZone zone(GetParam());
  REQUIRE_ZONE(GetParam());
  const int64_t june_s = testing::LocalSeconds(2026, 6, 15, 12, 0, 0);
  ZoneDays remembered;
  for (const auto& [from_day, to_day] :
       {std::pair{0, 10}, {100, 200}, {-150, -50}, {-100, 150}, {-300, 400}}) {
    const int64_t low = june_s + from_day * kDayS;
    const int64_t high = june_s + to_day * kDayS;
    EXPECT_EQ(remembered.Changes(low, high), ZoneDays().Changes(low, high))
        << GetParam() << ", days " << from_day << " to " << to_day;
  }
}

// A remembered day, kept in order or aside when it lies far from the first
// one asked, is the one a fresh look finds.
TEST_P(NextStartsTest, RememberedDaysAreTheOnesLookedUpAfresh) {
  testing::ScopedTimeZone zone(GetParam());
  REQUIRE_ZONE(GetParam());
  const int64_t march_29 = platform::DaysFromCivil(2026, 3, 29);
  ZoneDays remembered;
  for (int64_t days : {march_29, march_29 - 500, march_29 + 9000, march_29 - 500,
                       march_29 + 217, march_29 - 7, march_29 + 9000}) {
    const ZoneDays::Day day = remembered.At(days);
    const ZoneDays::Day fresh = ZoneDays().At(days);
    EXPECT_EQ(std::pair(day.changes, day.offset_s), std::pair(fresh.changes, fresh.offset_s))
        << GetParam() << ", day " << days;
  }
}

INSTANTIATE_TEST_SUITE_P(Zones, NextStartsTest,
                         ::testing::Values("Europe/Berlin", "America/New_York", "UTC"));

}  // namespace
}  // namespace corvana

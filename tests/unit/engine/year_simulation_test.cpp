// A year of the main loop's ticks, one every 310 ms through 2026 in
// Europe/Berlin, against one definition of each kind (support/
// tick_simulation.h says why evaluating the ticks around candidate minutes
// is the same as evaluating them all).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/due_rules.h"
#include "platform/seams.h"
#include "support/fixtures.h"
#include "support/tick_simulation.h"
#include "support/time_zone.h"

namespace corvana {
namespace {

using platform::LocalTime;
using testing::Subject;
using testing::TickRun;
using testing::kTickMs;

class YearSimulationTest : public ::testing::Test {
 protected:
  template <class Record>
  static Subject Timetable(std::string name, const Record& record) {
    Subject subject;
    subject.name = std::move(name);
    subject.type_schedule = record.type_schedule;
    subject.hour = record.hour;
    subject.min = record.min;
    return subject;
  }

  Subject ScheduleSubject(std::string name, ScheduleDefinition schedule) {
    Subject subject = Timetable(std::move(name), schedule);
    subject.evaluate = [schedule](int64_t, const LocalTime& local) mutable {
      return IsScheduleDue(schedule, local);
    };
    return subject;
  }

  Subject WebServerSubject(std::string name, WebServerDefinition web_server) {
    Subject subject = Timetable(std::move(name), web_server);
    subject.evaluate = [web_server](int64_t now_s,
                                    const LocalTime& local) mutable {
      return testing::WebServerDueAtTick(web_server, now_s, local);
    };
    return subject;
  }

  std::vector<Subject> Subjects() {
    ScheduleDefinition daily_0330;
    daily_0330.type_schedule = static_cast<int32_t>(ScheduleKind::kWeekdays);
    daily_0330.days_week = 127;
    daily_0330.hour = 3;
    daily_0330.min = 30;
    ScheduleDefinition daily_0230 = daily_0330;
    daily_0230.hour = 2;
    ScheduleDefinition mondays = daily_0330;
    mondays.type_schedule = static_cast<int32_t>(ScheduleKind::kWeekday);
    mondays.nday_week = 1;
    ScheduleDefinition hourly;
    hourly.type_schedule = static_cast<int32_t>(ScheduleKind::kHourly);
    hourly.min = 30;
    ScheduleDefinition on_31st;
    on_31st.type_schedule = static_cast<int32_t>(ScheduleKind::kMonthly);
    on_31st.day = 31;
    on_31st.hour = 12;
    ScheduleDefinition christmas = on_31st;
    christmas.type_schedule = static_cast<int32_t>(ScheduleKind::kYearly);
    christmas.day = 25;
    christmas.month = 11;
    WebServerDefinition site;
    site.type_schedule = static_cast<int32_t>(ScheduleKind::kWeekdays);
    site.days_week = 127;
    site.hour = 2;
    site.min = 30;
    std::vector<Subject> subjects;
    subjects.push_back(ScheduleSubject("daily 03:30", daily_0330));
    subjects.push_back(ScheduleSubject("daily 02:30", daily_0230));
    subjects.push_back(ScheduleSubject("Mondays 03:30", mondays));
    subjects.push_back(ScheduleSubject("hourly at :30", hourly));
    subjects.push_back(ScheduleSubject("31st 12:00", on_31st));
    subjects.push_back(ScheduleSubject("25 December", christmas));
    subjects.push_back(WebServerSubject("web server daily 02:30", site));
    return subjects;
  }

};

LocalTime LocalAtMs(int64_t now_ms) {
  LocalTime local;
  platform::ToLocalTime(now_ms / 1000, &local);
  return local;
}

int DueOn(const Subject& subject, int month, int day) {
  return static_cast<int>(
      std::count_if(subject.due_ms.begin(), subject.due_ms.end(),
                    [&](int64_t due_ms) {
                      const LocalTime local = LocalAtMs(due_ms);
                      return local.month_index + 1 == month && local.day == day;
                    }));
}

TEST_F(YearSimulationTest, EachKindIsDueExactlyAsOftenAsItsTimetableSays) {
  testing::ScopedTimeZone zone("Europe/Berlin");
  CORVANA_REQUIRE_BERLIN_ZONE();
  const int64_t start_ms = testing::LocalSeconds(2026, 1, 1, 0, 0, 0) * 1000;
  const int64_t end_ms = testing::LocalSeconds(2027, 1, 1, 0, 0, 0) * 1000;
  ASSERT_EQ(start_ms % 60000, 0);
  std::vector<Subject> subjects = Subjects();
  TickRun(start_ms, end_ms).AroundCandidateMinutes(subjects);

  const size_t expected[] = {365, 364, 52, 8760, 7, 1, 364};
  ASSERT_EQ(subjects.size(), std::size(expected));
  for (size_t i = 0; i < subjects.size(); ++i) {
    const Subject& subject = subjects[i];
    EXPECT_EQ(subject.due_ms.size(), expected[i]) << subject.name;
    std::set<std::pair<uint32_t, int>> local_minutes;
    for (int64_t due_ms : subject.due_ms) {
      const LocalTime local = LocalAtMs(due_ms);
      // The first tick of the window: second 0, never a later one.
      EXPECT_EQ(local.second, 0) << subject.name;
      EXPECT_LT(due_ms % 1000, kTickMs) << subject.name;
      local_minutes.insert(
          {PackDate(local.year, local.month_index + 1, local.day),
           local.hour * 60 + local.minute});
    }
    if (KindOf(subject.type_schedule) != ScheduleKind::kHourly) {
      EXPECT_EQ(local_minutes.size(), subject.due_ms.size())
          << subject.name << ": a local date and time ran twice";
    }
  }
  const Subject& daily_0230 = subjects[1];
  EXPECT_EQ(DueOn(daily_0230, 3, 29), 0);
  EXPECT_EQ(DueOn(daily_0230, 10, 25), 1);
  EXPECT_EQ(DueOn(subjects[6], 10, 25), 1);
  // The hourly one runs once in every real hour, the repeated one included.
  const Subject& hourly = subjects[3];
  EXPECT_EQ(DueOn(hourly, 3, 29), 23);
  EXPECT_EQ(DueOn(hourly, 10, 25), 25);
  for (size_t i = 1; i < hourly.due_ms.size(); ++i) {
    ASSERT_EQ(hourly.due_ms[i] / 1000 - hourly.due_ms[i - 1] / 1000, 3600)
        << "after run " << i - 1;
  }
  const Subject& christmas = subjects[5];
  ASSERT_EQ(christmas.due_ms.size(), 1u);
  EXPECT_EQ(DueOn(christmas, 12, 25), 1);
}

// The shortcut against every single tick, on the days the clocks change.
TEST_F(YearSimulationTest, EquivalentToEveryTick) {
  testing::ScopedTimeZone zone("Europe/Berlin");
  CORVANA_REQUIRE_BERLIN_ZONE();
  for (int month_day : {3 * 100 + 29, 10 * 100 + 25}) {
    const int month = month_day / 100;
    const int day = month_day % 100;
    // Anchored off the second, as a real loop is.
    const int64_t start_ms =
        testing::LocalSeconds(2026, month, day, 0, 0, 0) * 1000 + 123;
    const int64_t end_ms =
        testing::LocalSeconds(2026, month, day + 1, 0, 0, 0) * 1000;
    std::vector<Subject> every_tick = Subjects();
    std::vector<Subject> shortcut = Subjects();
    TickRun(start_ms, end_ms).EveryTick(every_tick);
    TickRun(start_ms, end_ms).AroundCandidateMinutes(shortcut);
    size_t total = 0;
    for (size_t i = 0; i < every_tick.size(); ++i) {
      EXPECT_EQ(shortcut[i].due_ms, every_tick[i].due_ms)
          << every_tick[i].name << " on " << month << "/" << day;
      total += every_tick[i].due_ms.size();
    }
    // Daily 03:30, daily 02:30 and the web server once each (not 02:30 in
    // March), the Sunday is no Monday, and 23 or 25 hourly runs.
    EXPECT_EQ(total, month == 3 ? 1u + 0 + 23 + 0 : 1u + 1 + 25 + 1) << month;
  }
}

}  // namespace
}  // namespace corvana

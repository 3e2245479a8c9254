// Each fault an administrator must learn of reaches the system's log as its
// one event, through the reporter seam; the text log stays as it is.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <functional>

#include "definitions/definition_loader.h"
#include "environment/app_context.h"
#include "engine/engine.h"
#include "logging/events.h"
#include "logging/log.h"
#include "platform/env.h"
#include "support/fixtures.h"
#include "webserver/webserver_control.h"

namespace corvana {
namespace {
namespace fs = std::filesystem;
using platform::EventLevel;
using testing::RecordedEvent;

struct EventsTest : ::testing::Test {
  // A folder per case: the context holds the last one open.
  fs::path Home() const { return dirs_.back().path() / "Corvana"; }
  void RunFor(int seconds) {
    for (int64_t until = clock_.MonotonicMs() + seconds * 1000; clock_.MonotonicMs() < until;) {
      EngineTick(*engine_);
    }
  }
  static std::vector<RecordedEvent> Faults() {  // all but the start-up's
    std::vector<RecordedEvent> events = testing::RecordedEvents().Take();
    std::erase_if(events, [](const RecordedEvent& e) { return e.id == kEventEngineStarted; });
    return events;
  }
  std::deque<testing::TempDir> dirs_ = std::deque<testing::TempDir>(1);
  testing::FakeClock clock_;
  testing::RecordingLauncher launcher_;
  testing::ScopedSeams seams_{clock_, launcher_};
  std::unique_ptr<SchedulerEngine> engine_;
};

TEST_F(EventsTest, EachFaultReportsItsOneEvent) {
  const std::vector<std::string> kDue = {"schedule", "Due\\x7f"};
  const struct {
    const char* fault;
    std::function<void(EventsTest&)> before_start, cause;
    EventLevel level;
    uint32_t id;
    std::vector<std::string> strings;  // the last ones the event carries
  } cases[] = {
      {"HomePath is not a folder", [](EventsTest& t) { testing::WriteFile(t.Home(), "x"); },
       [](EventsTest&) {}, EventLevel::kError, kEventHomePathFallback,
       {platform::CurrentDirectory()}},  // where it works instead, by name
      {"the log cannot be opened", [](EventsTest& t) { fs::create_directories(t.Home() / kLogFileName); },
       [](EventsTest&) {}, EventLevel::kError, kEventLogNotOpened, {}},
      {"the analyzer cannot be started", nullptr,
       [](EventsTest& t) { t.launcher_.fail_starts = true; t.RunFor(20); },
       EventLevel::kError, kEventAnalyzerNotStarted,
       {"schedule", "Due\\x7f", platform::FailedCallText(testing::RecordingLauncher::kFailedStart)}},
      {"a run ends with a non-zero code", nullptr,
       [](EventsTest& t) { t.RunFor(20); t.launcher_.Finish(t.engine_->schedules[0].process, 3); t.RunFor(10); },
       EventLevel::kWarning, kEventRunFailed, {"schedule", "Due\\x7f", "3"}},
      {"a run is ended at the one-day limit", nullptr,
       [](EventsTest& t) { t.RunFor(20); t.clock_.Advance(86400); t.RunFor(10); },
       EventLevel::kError, kEventEndedAtLimit, kDue},
      {"the local time cannot be read", nullptr, [](EventsTest& t) { t.clock_.Set(int64_t{1} << 60); t.RunFor(5); },
       EventLevel::kError, kEventLocalTimeUnreadable, {}},
      {"the engine stops, twice over", nullptr,
       [](EventsTest& t) { EngineShutdown(*t.engine_); EngineShutdown(*t.engine_); },
       EventLevel::kInformation, kEventEngineStopped, {}},
      {"nginx.exe is refused", nullptr,
       [](EventsTest& t) {
         fs::remove(t.Home() / "webserver" / "nginx.exe");
         fs::create_directory(t.Home() / "webserver" / "nginx.exe");
         testing::WriteFile(t.Home() / "W.webserver", "FormatVersion=1.0\n[Common]\n");
         ReloadDefinitions(*t.engine_);
         WebServerCommand(NginxCommand::kStart);  // the same refusal again
       },
       EventLevel::kError, kEventNginxRefused, {"start"}},
      {"nginx.exe is refused for the quit of the nginx it started", nullptr,
       [](EventsTest& t) {
         testing::WriteFile(t.Home() / "W.webserver", "FormatVersion=1.0\n[Common]\n");
         ReloadDefinitions(*t.engine_);
         fs::remove(t.Home() / "webserver" / "nginx.exe");
         fs::create_directory(t.Home() / "webserver" / "nginx.exe");
         QuitHeldNginx();
       },
       EventLevel::kError, kEventNginxRefused, {"quit"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    Faults();  // what earlier tests left
    dirs_.emplace_back();
    clock_.Set(testing::LocalSeconds(2026, 12, 7, 3, 29, 50));
    launcher_.fail_starts = false;
    if (c.before_start) c.before_start(*this);
    testing::InitContextAt(dirs_.back().path().string());
    if (!c.before_start) {
      testing::PlaceTrustedNginx();
      testing::WriteFile(Home() / "Due\x7f.schedule",
                         "FormatVersion=1.0\n[Common]\ntype_schedule=2\nhour=3\nmin=30\nsec=0\ndays_week=127\n");
      engine_ = std::make_unique<SchedulerEngine>();
      EngineStart(*engine_);
      Faults();
      c.cause(*this);
    }
    const std::vector<RecordedEvent> events = Faults();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].level, c.level);
    EXPECT_EQ(events[0].id, c.id);
    const std::vector<std::string>& got = events[0].strings;
    EXPECT_TRUE(c.strings.size() <= got.size() &&
                std::equal(c.strings.rbegin(), c.strings.rend(), got.rbegin()))
        << events[0].text;
    engine_.reset();
    Faults();
  }
}

// Ten reloads of one broken file: one event. A user who rewrites files in a
// loop gets the hour's share, and the rest as one count in the next hour.
TEST_F(EventsTest, BrokenDefinitionsAreReportedOncePerContentAndBoundedPerHour) {
  clock_.Set(testing::LocalSeconds(2030, 1, 1, 0, 0, 0));  // an hour no other test used
  testing::InitContextAt(dirs_.back().path().string());
  testing::WriteFile(Home() / "Broken.schedule", "FormatVersion=2.0\n");
  testing::RecordedEvents().Take();
  std::vector<ScheduleDefinition> list;
  for (int reload = 0; reload < 10; ++reload) LoadSchedules(HomeFolder(), &list);
  std::vector<RecordedEvent> events = testing::RecordedEvents().Take();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].level, EventLevel::kWarning);
  EXPECT_EQ(events[0].strings, std::vector<std::string>{"Broken.schedule"});
  for (int i = 1; i <= kEventsPerHour + 4; ++i) {
    testing::WriteFile(Home() / "Broken.schedule", "FormatVersion=2.0\n" + std::to_string(i));
    LoadSchedules(HomeFolder(), &list);
  }
  EXPECT_EQ(testing::RecordedEvents().Take().size(), size_t(kEventsPerHour) - 1);
  engine_ = std::make_unique<SchedulerEngine>();  // no reload in the next hour:
  EngineStart(*engine_);  // the supervision pass alone sends the count
  Faults();
  clock_.Advance(3600);
  RunFor(10);
  events = testing::RecordedEvents().Take();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].id, kEventDefinitionsHeldBack);
  EXPECT_EQ(events[0].strings, std::vector<std::string>{"5"});
}

// Every warning and error, flooded with new facts, each given twice: an id
// sends its hour's share and counts the rest into one event once the hour
// is over. A refusal that flips with nginx trusted in between is bounded
// the same way.
TEST_F(EventsTest, EveryWarningAndErrorIsBoundedPerIdAndHour) {
  const auto n = [](int i) { return std::to_string(i); };
  const struct {
    uint32_t id;
    std::function<void(int)> report;
    uint32_t held_back_id;
    const char* held_back;
  } cases[] = {
      {kEventDefinitionNotLoaded, [&](int i) { ReportDefinitionNotLoaded("D.schedule", n(i)); },
       kEventDefinitionsHeldBack, "10"},
      {kEventRunFailed, [&](int i) { ReportRunFailed(RunKind::kWebServerUpdate, n(i), 3); },
       kEventEventsHeldBack, "10"},
      {kEventAnalyzerNotStarted, [&](int i) { ReportAnalyzerNotStarted(RunKind::kSchedule, n(i), "x"); },
       kEventEventsHeldBack, "10"},
      {kEventNginxRefused,
       [](int i) { ReportNginxRefused("nginx.exe", i % 2 ? "is a link" : "is a folder", "start"); ForgetNginxRefusal(); },
       kEventEventsHeldBack, "40"},
      {kEventEndedAtLimit, [&](int i) { ReportEndedAtLimit(RunKind::kSchedule, n(i)); },
       kEventEventsHeldBack, "10"},
      {kEventLogNotOpened, [&](int i) { ReportLogNotOpened(n(i), "x"); }, kEventEventsHeldBack, "10"},
  };
  int64_t hour_s = testing::LocalSeconds(2030, 1, 1, 0, 0, 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    clock_.Set(hour_s += 7200);
    testing::RecordedEvents().Take();
    for (int i = 0; i < 30; ++i) c.report(i), c.report(i);
    std::vector<RecordedEvent> events = testing::RecordedEvents().Take();
    EXPECT_EQ(events.size(), size_t(kEventsPerHour));
    EXPECT_TRUE(std::all_of(events.begin(), events.end(), [&](const RecordedEvent& e) { return e.id == c.id; }));
    clock_.Advance(3600);
    ReportHeldBackEvents();
    events = testing::RecordedEvents().Take();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].id, c.held_back_id);
    EXPECT_EQ(events[0].strings[0], c.held_back);
  }
}

// A log that does not take reports for a while loses none of them: they
// go out in order at a later try; only what overflows the queue is
// dropped, counted (2005), and a dropped broken file may report again. At
// the stop, the counts of the hour still running go out too.
TEST_F(EventsTest, EventsNotTakenAreKeptOrCountedNeverLostSilently) {
  auto& events = testing::RecordedEvents();
  auto ids = [&] {
    std::vector<uint32_t> got;
    for (const RecordedEvent& e : events.Take()) got.push_back(e.id);
    return got;
  };
  events.Refuse(3);
  ReportEngineStarted("v", "h", 0, 0);
  ReportRunFailed(RunKind::kSchedule, "a", 3);
  EXPECT_TRUE(ids().empty());
  clock_.Advance(1);
  RetryUndeliveredEvents();
  EXPECT_EQ(ids(), (std::vector<uint32_t>{kEventEngineStarted, kEventRunFailed}));
  events.Refuse(1000);
  for (int i = 0; i < 70; ++i) ReportEngineStopped();
  ReportDefinitionNotLoaded("D.schedule", "x");  // overflows, so is forgotten
  events.Refuse(0);
  clock_.Advance(60);
  RetryUndeliveredEvents();
  std::vector<RecordedEvent> taken = events.Take();
  ASSERT_EQ(taken.size(), 65u);
  EXPECT_EQ(taken.back().id, kEventEventsNotDelivered);
  EXPECT_EQ(taken.back().strings[0], "7");
  ReportDefinitionNotLoaded("D.schedule", "x");
  for (int i = 0; i < 25; ++i) ReportDefinitionNotLoaded("E.schedule", std::to_string(i));
  ReportHeldBackEvents(HeldBackCounts::kAll);
  taken = events.Take();
  ASSERT_EQ(taken.size(), 21u);  // D, 19 of E, and the count of the rest
  EXPECT_EQ(taken.back().id, kEventDefinitionsHeldBack);
  EXPECT_EQ(taken.back().strings[0], "6");
  events.Refuse(3);  // the stop: a reader that catches up within the bound gets it
  ReportEngineStopped();
  EXPECT_EQ(DeliverWaitingEvents(1000), 0);
  EXPECT_EQ(ids(), (std::vector<uint32_t>{kEventEngineStopped}));
  events.Refuse(1000);
  ReportEngineStopped();
  EXPECT_EQ(DeliverWaitingEvents(1000), 1);
}

}  // namespace
}  // namespace corvana

// Each fault an administrator must learn of reaches the system's log as its
// one event, through the reporter seam, while the text log stays as it is.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "definitions/definition_loader.h"
#include "engine/engine.h"
#include "logging/events.h"
#include "logging/log.h"
#include "support/fixtures.h"

namespace corvana {
namespace {
namespace fs = std::filesystem;
using platform::EventLevel;
using testing::RecordedEvent;

constexpr char kDueSchedule[] =
    "FormatVersion=1.0\n[Common]\ntype_schedule=2\ndays_week=127\nhour=3\nmin=30\nsec=0\n";

class EventsTest : public ::testing::Test {
 public:
  void TearDown() override { engine_.reset(); }
  void InitContext() {
    testing::InitContextAt(dir_.path().string());
    testing::PlaceTrustedNginx();
  }
  fs::path Home() const { return dir_.path() / "Corvana"; }
  void Start() {
    engine_ = std::make_unique<SchedulerEngine>();
    EngineStart(*engine_);
  }
  void RunFor(int seconds) {
    for (int64_t until = clock_.MonotonicMs() + seconds * 1000;
         clock_.MonotonicMs() < until;) {
      EngineTick(*engine_);
    }
  }
  // The events but the start-up's, which every case has.
  std::vector<RecordedEvent> Faults() {
    std::vector<RecordedEvent> events = testing::RecordedEvents().Take();
    std::erase_if(events, [](const RecordedEvent& e) { return e.id == kEventEngineStarted; });
    return events;
  }

  testing::TempDir dir_;
  testing::FakeClock clock_;
  testing::RecordingLauncher launcher_;
  testing::ScopedSeams seams_{clock_, launcher_};
  std::unique_ptr<SchedulerEngine> engine_;
};

TEST_F(EventsTest, EachFaultReportsItsOneEvent) {
  const struct {
    const char* fault;
    std::function<void(EventsTest&)> cause;
    EventLevel level;
    uint32_t id;
    std::vector<std::string> strings;
  } cases[] = {
      {"the analyzer cannot be started",
       [](EventsTest& t) { t.launcher_.fail_starts = true; t.RunFor(20); },
       EventLevel::kError, kEventAnalyzerNotStarted, {"schedule", "Due\\x7f"}},
      {"a run ends with a non-zero code",
       [](EventsTest& t) {
         t.RunFor(20);
         t.launcher_.Finish(t.engine_->schedules[0].process, 3);
         t.RunFor(10);
       },
       EventLevel::kWarning, kEventRunFailed, {"schedule", "Due\\x7f", "3"}},
      {"a run is ended at the one-day limit",
       [](EventsTest& t) { t.RunFor(20); t.clock_.Advance(86400); t.RunFor(10); },
       EventLevel::kError, kEventEndedAtLimit, {"schedule", "Due\\x7f"}},
      {"the local time cannot be read",
       [](EventsTest& t) { t.clock_.Set(int64_t{1} << 60); t.RunFor(5); },
       EventLevel::kError, kEventLocalTimeUnreadable, {}},
      {"the engine stops, twice over",
       [](EventsTest& t) { EngineShutdown(*t.engine_); EngineShutdown(*t.engine_); },
       EventLevel::kInformation, kEventEngineStopped, {}},
      // Last: it leaves nginx.exe refused for good.
      {"nginx.exe is refused",
       [](EventsTest& t) {
         const fs::path nginx = t.Home() / "webserver" / "nginx.exe";
         fs::remove(nginx);
         fs::create_directory(nginx);
         t.Faults();
         testing::WriteFile(t.Home() / "W.webserver", "FormatVersion=1.0\n[Common]\n");
         ReloadWebServers(*t.engine_);
       },
       EventLevel::kError, kEventNginxRefused, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    clock_.Set(testing::LocalSeconds(2026, 12, 7, 3, 29, 50));
    launcher_.fail_starts = false;
    InitContext();
    testing::WriteFile(Home() / "Due\x7f.schedule", kDueSchedule);
    Start();
    Faults();
    c.cause(*this);
    const std::vector<RecordedEvent> events = Faults();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].level, c.level);
    EXPECT_EQ(events[0].id, c.id);
    if (!c.strings.empty()) {
      EXPECT_EQ(events[0].strings, c.strings);
    }
    EXPECT_FALSE(events[0].text.empty());
    engine_.reset();
    Faults();
  }
}

// Before the engine runs: the data folder or the log the start-up cannot use.
TEST_F(EventsTest, StartUpFaultsReportTheirOneEvent) {
  const struct {
    const char* fault;
    std::function<void(const fs::path&)> cause;
    uint32_t id;
  } cases[] = {
      {"HomePath is not a folder",
       [](const fs::path& home) { testing::WriteFile(home, "x"); },
       kEventHomePathFallback},
      {"the log cannot be opened",
       [](const fs::path& home) { fs::create_directories(home / kLogFileName); },
       kEventLogNotOpened},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    testing::TempDir dir;
    c.cause(dir.path() / "Corvana");
    testing::RecordedEvents().Take();
    testing::InitContextAt(dir.path().string());
    const std::vector<RecordedEvent> events = testing::RecordedEvents().Take();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].level, EventLevel::kError);
    EXPECT_EQ(events[0].id, c.id);
  }
}

// Ten reloads of one broken file: one event. A user who rewrites files in a
// loop gets the hour's share, and the rest as one count in the next hour.
TEST_F(EventsTest, BrokenDefinitionsAreReportedOncePerContentAndBoundedPerHour) {
  clock_.Set(testing::LocalSeconds(2030, 1, 1, 0, 0, 0));  // an hour no other test used
  InitContext();
  testing::WriteFile(Home() / "Broken.schedule", "FormatVersion=2.0\n");
  std::vector<ScheduleDefinition> list;
  for (int reload = 0; reload < 10; ++reload) LoadSchedules(&list);
  std::vector<RecordedEvent> events = testing::RecordedEvents().Take();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].id, kEventDefinitionNotLoaded);
  EXPECT_EQ(events[0].level, EventLevel::kWarning);
  EXPECT_EQ(events[0].strings, std::vector<std::string>{"Broken.schedule"});
  for (int i = 1; i <= kDefinitionEventsPerHour + 4; ++i) {
    testing::WriteFile(Home() / "Broken.schedule", "FormatVersion=2.0\n" + std::to_string(i));
    LoadSchedules(&list);
  }
  EXPECT_EQ(testing::RecordedEvents().Take().size(), size_t(kDefinitionEventsPerHour) - 1);
  clock_.Advance(3600);
  LoadSchedules(&list);
  events = testing::RecordedEvents().Take();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].id, kEventDefinitionsHeldBack);
  EXPECT_EQ(events[0].strings, std::vector<std::string>{"5"});
}

}  // namespace
}  // namespace corvana

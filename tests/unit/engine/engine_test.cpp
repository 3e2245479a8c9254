// The engine driven through a controllable clock and a recording launcher:
// days of ticks in milliseconds, and every start it asks for on record.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "environment/app_context.h"
#include "logging/events.h"
#include "logging/log.h"
#include "platform/env.h"
#include "platform/seams.h"
#include "service/start_up.h"
#include "support/child_modes.h"
#include "support/fixtures.h"
#include "support/time_zone.h"
#include "support/waiting.h"

namespace corvana {
namespace {
using testing::FakeClock;
using testing::RecordingLauncher;
using testing::TempDir;
using testing::LogBodies;
using testing::LogCount;

std::string ScheduleText(int kind, int hour, int minute, int second,
                         int days_week = 127) {
  return "FormatVersion=1.0\n[Common]\ntype_schedule=" + std::to_string(kind) +
         "\ndays_week=" + std::to_string(days_week) +
         "\nhour=" + std::to_string(hour) + "\nmin=" + std::to_string(minute) +
         "\nsec=" + std::to_string(second) + "\n";
}

std::string IntervalWebServerText(int minutes, int enabled = 1) {
  return "FormatVersion=1.0\n[Common]\nenabled=" + std::to_string(enabled) +
         "\ntype_schedule=0\ntype_interval=0\ninterval=" +
         std::to_string(minutes) + "\n";
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::InitContextAt(dir_.path().string());
    testing::PlaceTrustedNginx();
    home_ = dir_.path() / "Corvana";
    clock_.Set(testing::LocalSeconds(2026, 12, 7, 3, 29, 50));
  }
  void TearDown() override { engine_.reset(); }

  void Write(const std::string& name, const std::string& text) {
    testing::WriteFile(home_ / name, text);
  }
  void SetCounter(int32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    Write("schedule_counter.dat", bytes);
  }
  // As the service starts: a fresh context and log each time.
  SchedulerEngine& Start() {
    InitAppContext(kProductName, kVersionText, kPrivacyPolicyUrl);
    engine_ = std::make_unique<SchedulerEngine>();
    EngineStart(*engine_);
    engine_->program_dir = "";
    // Start-up's nginx quit, waited for, is a start of its own: the tests
    // count the analyzer's.
    startup_starts_ = std::exchange(launcher_.starts, {});
    launcher_.released.clear();
    return *engine_;
  }
  // Ticks until the fake clock has moved on by `seconds`.
  void RunFor(int64_t seconds) {
    const int64_t until = clock_.MonotonicMs() + seconds * 1000;
    // A tick that no longer sleeps would leave the fake clock standing.
    const auto hang_until = std::chrono::steady_clock::now() + testing::kHangBoundMs;
    while (clock_.MonotonicMs() < until) {
      EngineTick(*engine_);
      if (stop_requested.load()) break;
      if (std::chrono::steady_clock::now() > hang_until) {
        ADD_FAILURE() << "the ticks stopped moving the clock";
        break;
      }
    }
  }
  // The analyzer's, without the nginx the web servers keep.
  std::vector<std::string> Commands() {
    std::vector<std::string> lines;
    for (const auto& start : launcher_.starts) {
      if (!start.command_line.ends_with("nginx.exe\"")) lines.push_back(start.command_line);
    }
    return lines;
  }

  TempDir dir_;
  std::filesystem::path home_;
  FakeClock clock_;
  RecordingLauncher launcher_;
  testing::ScopedSeams seams_{clock_, launcher_};
  std::unique_ptr<SchedulerEngine> engine_;
  std::vector<platform::ProcessStart> startup_starts_;
};

TEST_F(EngineTest, StartUpWithoutDefinitionsLogsItsStepsAndQuitsNginxOnce) {
  Start();
  const std::string quit = "\"" + GetAppContext()->HomePath + "webserver" +
                           platform::kPathSeparator + "nginx.exe\" -s quit";
  const std::string home_line = "Home path: " + platform::CurrentDirectory() +
                                " >> " + [] {
                                  std::string path = platform::ExecutablePath();
                                  return path.substr(0, path.rfind(platform::kPathSeparator) + 1);
                                }();
  EXPECT_EQ(LogBodies(), (std::vector<std::string>{
                             "#Software: Corvana 3.3 (build 0383).", quit,
                             "Webserver command successfully", "Loading schedules",
                             "Loading : 0 Schedules items", "Loading webservers",
                             "Loading : 0 Web Servers items", home_line,
                             "Run Task Schedulers/Webservers..."}));
  ASSERT_EQ(startup_starts_.size(), 1u);
  EXPECT_EQ(startup_starts_[0].command_line, quit);
  EXPECT_TRUE(launcher_.detached.empty());
  EXPECT_FALSE(engine_->web_servers_started);
}

TEST_F(EngineTest, DueScheduleStartsOnceWithTheExactCommandLine) {
  Write("Daily web.schedule", ScheduleText(2, 3, 30, 0));
  Write("A.schedule", ScheduleText(2, 3, 30, 0));
  Start();
  engine_->program_dir = std::string("/opt/x y") + platform::kPathSeparator;
  RunFor(20);
  ASSERT_EQ(launcher_.starts.size(), 2u);
  std::vector<std::string> commands = Commands();
  std::sort(commands.begin(), commands.end());
  const std::string dir = engine_->program_dir;
  EXPECT_EQ(commands,
            (std::vector<std::string>{"\"" + dir + "Ravo.exe\" -_scheduleA",
                                      "\"" + dir + "Ravo.exe\" -_scheduleDaily web"}));
  for (const auto& start : launcher_.starts) {
    EXPECT_EQ(start.application, dir + "Ravo.exe");
    EXPECT_EQ(start.kind, platform::StartKind::kNormalPriority);
    EXPECT_EQ(start.working_folder, "");
  }
  EXPECT_EQ(LogCount("Running schedule, id: Daily web"), 1);
  EXPECT_EQ(LogCount("Successful run schedule, id: Daily web"), 1);
  EXPECT_EQ(engine_->launches_since_serve, 2);
}

TEST_F(EngineTest, EmptyProgramDirStartsTheBareName) {
  Write("A.schedule", ScheduleText(2, 3, 30, 0));
  Start();
  RunFor(20);
  ASSERT_EQ(launcher_.starts.size(), 1u);
  EXPECT_EQ(launcher_.starts[0].command_line, "\"Ravo.exe\" -_scheduleA");
  EXPECT_EQ(launcher_.starts[0].application, "");
}

TEST_F(EngineTest, StillActiveChildRefusesTheNextOccurrence) {
  Write("A.schedule", ScheduleText(1, 0, 30, 0));  // every hour at :30
  Start();
  RunFor(20);
  ASSERT_EQ(launcher_.starts.size(), 1u);
  RunFor(3600);
  EXPECT_EQ(launcher_.starts.size(), 1u);
  EXPECT_EQ(LogCount("Running schedule, id: A"), 2);
  EXPECT_EQ(LogCount("Error: The process is still active, id: A"), 1);
  EXPECT_EQ(engine_->launches_since_serve, 1);
}

TEST_F(EngineTest, FailedStartTracksNothingAndIsNotCounted) {
  Write("A.schedule", ScheduleText(2, 3, 30, 0));
  Start();
  launcher_.fail_starts = true;
  RunFor(20);
  EXPECT_EQ(LogCount("Error: Failed to run task, id: A"), 1);
  EXPECT_EQ(engine_->schedules[0].process, 0);
  EXPECT_EQ(engine_->schedules[0].started_at, 0);
  EXPECT_EQ(engine_->launches_since_serve, 0);
}

TEST_F(EngineTest, EndedChildIsReportedOnceAndReleased) {
  Write("A.schedule", ScheduleText(2, 3, 30, 0));
  Start();
  RunFor(20);
  const platform::ProcessHandle child = engine_->schedules[0].process;
  ASSERT_NE(child, 0);
  EXPECT_EQ(engine_->schedules[0].started_at, clock_.NowSeconds() - 10);
  RunFor(10);
  EXPECT_EQ(LogCount("The process stopped, id: A"), 0);
  launcher_.Finish(child, 1);
  RunFor(10);
  EXPECT_EQ(LogCount("The process stopped, id: A"), 1);
  EXPECT_EQ(engine_->schedules[0].process, 0);
  EXPECT_EQ(engine_->schedules[0].started_at, 0);
  EXPECT_EQ(launcher_.released, (std::vector<platform::ProcessHandle>{child}));
}

TEST_F(EngineTest, ChildIsTerminatedAfterADayOfMonotonicTime) {
  Write("A.schedule", ScheduleText(2, 3, 30, 0));
  Start();
  RunFor(20);
  const platform::ProcessHandle child = engine_->schedules[0].process;
  ASSERT_NE(child, 0);
  clock_.JumpWall(2 * 86400);  // somebody sets the wall clock forward
  RunFor(10);
  EXPECT_TRUE(launcher_.terminated.empty());
  clock_.JumpWall(-2 * 86400);
  const int64_t started_ms = engine_->schedules[0].started_monotonic_ms;
  clock_.Advance((started_ms + 86390 * 1000 - clock_.MonotonicMs()) / 1000);
  RunFor(4);
  EXPECT_TRUE(launcher_.terminated.empty());
  RunFor(5);
  EXPECT_EQ(launcher_.terminated, (std::vector<platform::ProcessHandle>{child}));
  EXPECT_EQ(LogCount("Terminate Process, id: A"), 1);
  EXPECT_EQ(engine_->schedules[0].process, 0);
}

TEST_F(EngineTest, FailedExitCodeQueryKeepsTheChildSilently) {
  Write("A.schedule", ScheduleText(2, 3, 30, 0));
  Start();
  RunFor(20);
  launcher_.fail_queries = true;
  clock_.Advance(2 * 86400);
  RunFor(10);
  EXPECT_NE(engine_->schedules[0].process, 0);
  EXPECT_TRUE(launcher_.terminated.empty());
}

TEST_F(EngineTest, CounterChangeInEitherDirectionReloads) {
  SetCounter(5);
  Start();
  EXPECT_EQ(engine_->change_counter, 5);
  Write("A.schedule", ScheduleText(2, 4, 0, 0));
  SetCounter(4);
  RunFor(4);
  EXPECT_EQ(LogCount("The schedules has been changed #4"), 1);
  EXPECT_EQ(engine_->schedules.size(), 1u);
  std::filesystem::remove(home_ / "schedule_counter.dat");
  RunFor(4);
  EXPECT_EQ(LogCount("The schedules has been changed #0"), 1);
  EXPECT_EQ(LogCount("Loading schedules"), 3);
}

TEST_F(EngineTest, ReloadKeepsARunningChildAndTheLatchById) {
  Write("A.schedule", ScheduleText(2, 3, 30, 1));
  Write("B.schedule", ScheduleText(2, 3, 30, 1));
  Start();
  clock_.Set(testing::LocalSeconds(2026, 12, 7, 3, 30, 0));
  EngineTick(*engine_);  // both due in their window 03:30:00-01
  ASSERT_EQ(launcher_.starts.size(), 2u);
  const auto child_a = engine_->schedules[0].id == "A" ? engine_->schedules[0].process
                                                       : engine_->schedules[1].process;
  launcher_.Finish(engine_->schedules[0].id == "B" ? engine_->schedules[0].process
                                                   : engine_->schedules[1].process, 0);
  std::filesystem::remove(home_ / "B.schedule");
  ReloadDefinitions(*engine_);  // in the window
  ASSERT_EQ(engine_->schedules.size(), 1u);
  EXPECT_EQ(engine_->schedules[0].process, child_a);
  EXPECT_TRUE(engine_->schedules[0].fired);
  EXPECT_EQ(launcher_.released.size(), 1u);  // B's handle, no longer watched
  clock_.Set(testing::LocalSeconds(2026, 12, 8, 3, 30, 0));
  EngineTick(*engine_);
  EXPECT_EQ(LogCount("Error: The process is still active, id: A"), 1);
}

// Children end at once, so only the carried latch keeps a reload from repeating
// an occurrence; a changed timetable still runs at its new minute.
TEST_F(EngineTest, AReloadNeverRepeatsAnOccurrenceThatRan) {
  testing::ScopedTimeZone zone("Europe/Berlin");
  CORVANA_REQUIRE_BERLIN_ZONE();
  // Seconds after 02:00:00 CEST on 25 October 2026; 3600 later is 02:00 CET.
  const int64_t base_s = testing::LocalSeconds(2026, 10, 25, 1, 0, 0) + 3600;
  const struct {
    std::string before, after;
    int64_t reload_s;
    size_t runs;
  } cases[] = {{ScheduleText(2, 2, 3, 0), ScheduleText(2, 2, 3, 0), 250, 1},
               {ScheduleText(2, 2, 3, 1), ScheduleText(2, 2, 3, 1), 181, 1},
               {ScheduleText(1, 0, 3, 0), ScheduleText(1, 0, 3, 0), 200, 2},
               {ScheduleText(2, 2, 3, 59), ScheduleText(1, 0, 4, 0), 240, 3}};
  for (const auto& c : cases) {
    Write("A.schedule", c.before);
    clock_.Set(base_s + 170);
    Start();
    launcher_.starts.clear();
    for (bool reloaded = false; clock_.NowSeconds() < base_s + 3860;) {
      if (!reloaded && clock_.NowSeconds() >= base_s + c.reload_s) {
        Write("A.schedule", c.after);
        Supervise(*engine_);  // the quick child is no longer tracked
        ReloadDefinitions(*engine_);
        reloaded = true;
      }
      RunFor(1);
      for (auto& [child, status] : launcher_.children) launcher_.Finish(child, 0);
    }
    EXPECT_EQ(launcher_.starts.size(), c.runs) << c.before << c.reload_s;
  }
}

// Two files of one id each keep their child over a reload, in order; a
// record without a child never takes one from another.
TEST_F(EngineTest, DuplicateIdsCarryOverEveryRunningChildInOrder) {
  Start();
  ScheduleDefinition first;
  first.id = "a";
  first.process = launcher_.Start({}).process;
  first.started_at = 100;
  ScheduleDefinition second = first;
  second.process = launcher_.Start({}).process;
  second.started_at = 200;
  engine_->schedules = {first, second};
  Write("a.schedule", ScheduleText(2, 5, 0, 0));
  Write("a.b.schedule", ScheduleText(2, 6, 0, 0));
  ReloadDefinitions(*engine_);
  ASSERT_EQ(engine_->schedules.size(), 2u);
  EXPECT_EQ(engine_->schedules[0].process, first.process);
  EXPECT_EQ(engine_->schedules[0].started_at, 100);
  EXPECT_EQ(engine_->schedules[1].process, second.process);
  EXPECT_EQ(engine_->schedules[1].started_at, 200);
  EXPECT_TRUE(launcher_.released.empty());
}

// One site whose update hangs, and a second file of the same id that is
// never due, listed before it or after it (by name, where the file system
// lists in name order): the hanging update is still watched after a
// change, so no second one starts beside it.
TEST_F(EngineTest, HangingChildOfADuplicateIdSurvivesAReload) {
  for (const char* second : {"Hang.old.webserver", "Hang.zz.webserver"}) {
    Write("Hang.webserver", IntervalWebServerText(1));
    Write(second, "FormatVersion=1.0\n[Common]\ntype_schedule=5\nmonth=12\n");
    SetCounter(1);
    Start();
    launcher_.starts.clear();
    RunFor(2);
    ASSERT_EQ(launcher_.starts.size(), 1u) << second;
    SetCounter(2);
    RunFor(8);
    EXPECT_EQ(LogCount("The schedules has been changed #2"), 1) << second;
    EXPECT_EQ(launcher_.starts.size(), 1u) << second;
    EXPECT_GE(LogCount("Error: The process is still active, id: Hang"), 1) << second;
    EXPECT_TRUE(launcher_.released.empty()) << second;
    std::filesystem::remove(home_ / second);
    engine_.reset();  // releases nothing: the children are left running
  }
}

// A clock reading that local time cannot be made of (far beyond any year the
// conversions take) starts nothing, although its zeroed fields would read
// as 00:00:00 on a Sunday, when both of these are due.
TEST_F(EngineTest, UnconvertibleTimeStartsNothingAndEachRunOfItIsLoggedOnce) {
  const std::string line =
      "Error: The local time cannot be read, nothing is started until it can";
  Write("Hourly.schedule", ScheduleText(1, 0, 0, 0));
  Write("Sunday.schedule", ScheduleText(2, 0, 0, 0, 0x40));
  Start();
  const int64_t readable_s = clock_.NowSeconds();
  const int64_t unconvertible_s = int64_t{1} << 60;
  const struct {
    int64_t now_s;
    int lines;
  } steps[] = {{unconvertible_s, 1}, {unconvertible_s, 1}, {readable_s, 1},
               {unconvertible_s, 2}};
  for (const auto& step : steps) {
    clock_.Set(step.now_s);
    RunFor(5);
    EXPECT_EQ(LogCount(line), step.lines);
  }
  EXPECT_TRUE(launcher_.starts.empty());
  EXPECT_GT(clock_.slept_ms(), 0);  // the loop still paused between ticks
}

// A folder at the counter's name is no writer's hold: it counts as missing,
// which reloads as any change does, and a file there again reloads when its
// value differs. A real hold is no change (below).
TEST_F(EngineTest, ACounterThatIsNoFileCountsAsMissing) {
  SetCounter(5);
  Start();
  std::filesystem::remove(home_ / "schedule_counter.dat");
  std::filesystem::create_directory(home_ / "schedule_counter.dat");
  RunFor(10);
  EXPECT_EQ(LogCount("Loading schedules"), 2);
  EXPECT_EQ(engine_->change_counter, 0);
  std::filesystem::remove(home_ / "schedule_counter.dat");
  SetCounter(6);
  RunFor(10);
  EXPECT_EQ(LogCount("Loading schedules"), 3);
  EXPECT_EQ(engine_->change_counter, 6);
}

#ifdef _WIN32
// The same with the counter's writer in another process, holding the file
// denying all sharing for longer than the read's retries last.
TEST_F(EngineTest, CounterHeldByAnotherProcessIsNoChange) {
  const struct {
    int32_t after;
    int reloads;
  } cases[] = {{6, 1}, {5, 0}};
  const std::filesystem::path counter = home_ / "schedule_counter.dat";
  for (const auto& c : cases) {
    SetCounter(5);
    Start();
    std::filesystem::remove(counter.string() + ".held");
    platform::ProcessStart hold;
    hold.application = testing::SelfPath();
    hold.command_line = hold.application + " --child hold " + counter.string() + " 3000";
    const platform::ProcessHandle holder = platform::StartProcess(hold).process;
    ASSERT_NE(holder, 0);
    ASSERT_TRUE(testing::Eventually(
        [&] { return std::filesystem::exists(counter.string() + ".held"); },
        testing::kHangBoundMs, std::chrono::milliseconds(1)))
        << "the holder never opened the counter";
    RunFor(10);  // three passes, in far less than the hold's three seconds
    EXPECT_EQ(platform::QueryProcess(holder).state, platform::ProcessState::kRunning)
        << "the holder let go before the passes were done";
    EXPECT_EQ(LogCount("Loading schedules"), 1) << c.after;
    testing::WaitForExit(holder);
    platform::ReleaseProcess(holder);
    SetCounter(c.after);
    RunFor(10);
    EXPECT_EQ(LogCount("Loading schedules"), 1 + c.reloads) << c.after;
  }
}
#endif

TEST_F(EngineTest, NginxStartsAndStopsOnlyOnTheEmptyTransitions) {
  Write("Site.webserver", IntervalWebServerText(30));
  Write("Other.webserver", IntervalWebServerText(60));
  Start();
  auto count = [&](const std::vector<platform::ProcessStart>& starts, const std::string& suffix) {
    return std::count_if(starts.begin(), starts.end(), [&](const platform::ProcessStart& s) {
      return s.command_line.ends_with(suffix);
    });
  };
  auto count_started = [&] {
    return count(startup_starts_, "nginx.exe\"") + count(launcher_.starts, "nginx.exe\"");
  };
  EXPECT_EQ(count_started(), 1);
  EXPECT_TRUE(engine_->web_servers_started);
  ReloadDefinitions(*engine_);
  EXPECT_EQ(count_started(), 1);
  Write("Site.webserver", IntervalWebServerText(30, 0));
  Write("Other.webserver", IntervalWebServerText(60, 0));
  ReloadDefinitions(*engine_);
  ReloadDefinitions(*engine_);
  EXPECT_EQ(count(launcher_.detached, "nginx.exe\" -s quit"), 1);  // start-up's is waited for
  EXPECT_EQ(LogCount("Stop webservers..."), 1);
  Write("Site.webserver", IntervalWebServerText(30));
  ReloadDefinitions(*engine_);
  EXPECT_EQ(count_started(), 2);
  EXPECT_EQ(LogCount("Start webservers..."), 2);
}

// A killed nginx comes back: at once after a long run, a minute after one
// that did not stay up. The third failure within the hour is the last,
// said once, until a reload.
TEST_F(EngineTest, AnEndedNginxIsStartedAgainWithBackOffUntilItKeepsFailing) {
  Write("Site.webserver", IntervalWebServerText(30));
  Start();
  const auto nginx = [&](bool end) {
    int64_t starts = 0;
    for (const auto& [handle, line] : launcher_.command_lines) {
      if (line.ends_with("nginx.exe\"") && ++starts && end) launcher_.Finish(handle, 9);
    }
    return starts;
  };
  const std::string ended = "nginx.exe ended with exit code 9";
  const struct { int ran_s; std::string line; int restart_after_s; } steps[] = {  // -1: none
      {120, ended + ", starting it again", 0}, {5, ended + ", starting it again in 60 s", 60},
      {5, ended + ", starting it again in 60 s", 60}, {5, ended, -1}};
  testing::RecordedEvents().Take();
  for (const auto& [ran_s, line, restart_after_s] : steps) {
    RunFor(ran_s);
    const int64_t before = nginx(true);
    RunFor(4);  // a supervision pass
    const auto bodies = testing::LogBodies();
    EXPECT_EQ(*std::find_if(bodies.rbegin(), bodies.rend(),
                            [](const std::string& b) { return b.starts_with("nginx.exe ended"); }),
              line);
    if (restart_after_s > 0) {
      EXPECT_EQ(nginx(false), before);
      RunFor(restart_after_s + 4);
    }
    EXPECT_EQ(nginx(false), before + (restart_after_s >= 0));
  }
  RunFor(3600);
  EXPECT_EQ(nginx(false), 4);
  const auto events = testing::RecordedEvents().Take();
  EXPECT_EQ(events.at(0).strings, std::vector<std::string>{"9"});
  EXPECT_EQ(std::ranges::count(events, kEventNginxGivenUp, &testing::RecordedEvent::id), 1);
  SetCounter(7);
  RunFor(4);
  EXPECT_EQ(nginx(false), 5);
}

TEST_F(EngineTest, IntervalWebServerUpdatesAtLoadThenEveryInterval) {
  Write("Site.webserver", IntervalWebServerText(30));
  Start();
  RunFor(5);
  ASSERT_EQ(launcher_.starts.size(), 1u);
  EXPECT_EQ(launcher_.starts[0].command_line, "\"Ravo.exe\" -_webserverSite");
  launcher_.Finish(engine_->web_servers[0].process, 0);
  RunFor(29 * 60);
  EXPECT_EQ(launcher_.starts.size(), 1u);
  RunFor(60);
  EXPECT_EQ(launcher_.starts.size(), 2u);
  EXPECT_EQ(LogCount("Successful run webserver update, id: Site"), 2);
}

// Beyond the cap (one slot kept for the serve run) a due run waits and
// starts as a child ends: in due order (web server W fell due before
// schedule C), after its window, through a reload, and an interval counts
// from the real start. Below it, nothing waits.
TEST_F(EngineTest, RunsBeyondTheCapWaitAndStartInDueOrder) {
  for (const auto& [max_runs, waits] : {std::pair{16, 0}, std::pair{3, 2}}) {
    SCOPED_TRACE(max_runs);
    clock_.Set(testing::LocalSeconds(2026, 12, 7, 3, 29, 50));
    std::filesystem::remove(home_ / "W.webserver");
    for (const char* name : {"A", "B", "C"}) {
      Write(name + std::string(".schedule"), ScheduleText(2, 3, 30, 10 * (name[0] - 'A')));
    }
    SetCounter(1);
    Start().max_runs = max_runs;
    RunFor(25);
    Write("W.webserver", IntervalWebServerText(1));
    SetCounter(2);
    RunFor(8);
    SetCounter(3);  // a reload while both wait
    RunFor(5);
    const int64_t freed_s = clock_.NowSeconds();
    for (int round = 0; round < 2; ++round) {
      for (const auto& [child, status] : launcher_.children) launcher_.Finish(child, 0);
      RunFor(5);
    }
    EXPECT_EQ(Commands(), (std::vector<std::string>{
                              "\"Ravo.exe\" -_scheduleA", "\"Ravo.exe\" -_scheduleB",
                              "\"Ravo.exe\" -_webserverW", "\"Ravo.exe\" -_scheduleC"}));
    EXPECT_EQ(LogCount("Waiting for a free analyzer slot, id: C"), waits / 2);
    EXPECT_EQ(LogCount("Waiting for a free analyzer slot, id: W"), waits / 2);
    EXPECT_EQ(engine_->web_servers[0].last_update_s >= freed_s, waits > 0);
  }
}

class ServeTest : public EngineTest {
 protected:
  int Serves() {
    return static_cast<int>(std::count_if(
        launcher_.detached.begin(), launcher_.detached.end(),
        [](const platform::ProcessStart& s) { return s.command_line == "\"Ravo.exe\" -serve"; }));
  }
};

TEST_F(ServeTest, NeverWithoutALaunchHoweverLate) {
  clock_.Set(testing::LocalSeconds(2026, 12, 7, 23, 30, 0));
  Start();
  RunFor(600);
  EXPECT_EQ(Serves(), 0);
}

TEST_F(ServeTest, AfterALaunchOncePerEveningInTheWindow) {
  Write("A.schedule", ScheduleText(2, 23, 0, 0));
  clock_.Set(testing::LocalSeconds(2026, 12, 7, 22, 59, 50));
  Start();
  RunFor(20 * 60);  // the schedule runs at 23:00, the window opens at 23:24
  ASSERT_EQ(launcher_.starts.size(), 1u);
  launcher_.Finish(engine_->schedules[0].process, 0);
  EXPECT_EQ(Serves(), 0);
  RunFor(5 * 60);  // to 23:24:50
  EXPECT_EQ(Serves(), 1) << ::testing::PrintToString(LogBodies());
  EXPECT_EQ(LogCount("Successful run serve service"), 1);
  EXPECT_EQ(engine_->launches_since_serve, 0);
  platform::LocalTime local;
  platform::ToLocalTime(engine_->serve_started, &local);
  EXPECT_EQ(local.hour, 23);
  EXPECT_EQ(local.minute, 24);
  RunFor(30 * 60);
  EXPECT_EQ(Serves(), 1);
}

TEST_F(ServeTest, FailedServeIsRetriedAtEveryPassUntilMidnight) {
  clock_.Set(testing::LocalSeconds(2026, 12, 7, 23, 58, 0));
  Start();
  engine_->launches_since_serve = 3;
  launcher_.fail_starts = true;
  RunFor(180);  // on past midnight
  const int attempts = LogCount("Error: Failed to run serve service");
  EXPECT_GE(attempts, 37);  // one per supervision pass, every 3.1 s
  EXPECT_LE(attempts, 40);
  RunFor(120);
  EXPECT_EQ(LogCount("Error: Failed to run serve service"), attempts);
  EXPECT_EQ(engine_->launches_since_serve, 3);
  EXPECT_EQ(engine_->serve_started, 0);
}

TEST_F(EngineTest, StopRequestSkipsTheRestOfTheTick) {
  Write("A.schedule", ScheduleText(2, 3, 30, 0));
  Write("Site.webserver", IntervalWebServerText(30));
  Start();
  stop_requested.store(true);
  const int64_t before_ms = clock_.MonotonicMs();
  engine_->tick_count = 10;
  clock_.Set(testing::LocalSeconds(2026, 12, 7, 3, 30, 0));
  EngineTick(*engine_);
  EXPECT_TRUE(launcher_.starts.empty());
  EXPECT_EQ(engine_->tick_count, 10);  // no supervision
  EXPECT_EQ(clock_.MonotonicMs(), before_ms);  // no pause
}

TEST_F(EngineTest, TenPausedTicksThenOneSupervisingTick) {
  Start();
  for (int i = 0; i < 10; ++i) EngineTick(*engine_);
  EXPECT_EQ(clock_.slept_ms(), 3100);
  EXPECT_EQ(engine_->tick_count, 10);
  EngineTick(*engine_);
  EXPECT_EQ(clock_.slept_ms(), 3100);
  EXPECT_EQ(engine_->tick_count, 0);
}

TEST_F(EngineTest, ShutdownRunsAgainFromTheDestructor) {
  Start();
  EngineShutdown(*engine_);
  engine_.reset();
  EXPECT_EQ(LogCount("Stop webservers..."), 2);
  EXPECT_EQ(LogCount("Scheduler normal shutdown."), 2);
}

}  // namespace
}  // namespace corvana

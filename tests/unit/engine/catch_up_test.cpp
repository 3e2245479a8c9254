// Catch-up of a start missed while the service was down, through the fake
// clock: the journal the engine wrote at its last stop decides.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>

#include "engine/engine.h"
#include "logging/events.h"
#include "support/fixtures.h"
#include "support/time_zone.h"

namespace corvana {
namespace {
using testing::LocalSeconds;

constexpr int64_t kMinuteS = 60;

std::string DailyAt(int hour, int minute, bool run_missed) {
  return "FormatVersion=1.0\n[Common]\ntype_schedule=2\ndays_week=127\nhour=" +
         std::to_string(hour) + "\nmin=" + std::to_string(minute) +
         "\nsec=0\n" + (run_missed ? "run_missed=1\n" : "");
}

// The service runs a minute up to `stop_s`, is down until `start_s`, and
// restarts once more ten minutes later: the starts each of its two starts
// made, and the log lines of the missed start.
TEST(CatchUpTest, AMissedStartRunsOnceAtTheNextStartOnly) {
  testing::ScopedTimeZone zone("Europe/Berlin");
  CORVANA_REQUIRE_BERLIN_ZONE();
  // 01:00 CEST on the night the clocks go back: 02:30 comes twice.
  const int64_t autumn_s = LocalSeconds(2026, 10, 25, 1, 0, 0);
  const struct {
    const char* name;
    int hour;
    int minute;
    bool run_missed;
    int64_t stop_s;
    int64_t start_s;
    const char* missed;  // nullptr: nothing is caught up
  } cases[] = {
      {"down over 02:00", 2, 0, true, LocalSeconds(2026, 12, 8, 1, 50, 0),
       LocalSeconds(2026, 12, 8, 2, 30, 0), "2026-12-08 02:00:00"},
      {"without the key", 2, 0, false, LocalSeconds(2026, 12, 8, 1, 50, 0),
       LocalSeconds(2026, 12, 8, 2, 30, 0), nullptr},
      {"stopped after 02:00", 2, 0, true, LocalSeconds(2026, 12, 8, 2, 10, 0),
       LocalSeconds(2026, 12, 8, 2, 30, 0), nullptr},
      {"down a day and more", 2, 0, true, LocalSeconds(2026, 12, 6, 1, 50, 0),
       LocalSeconds(2026, 12, 8, 2, 30, 0), "2026-12-08 02:00:00"},
      {"skipped spring hour", 2, 30, true, LocalSeconds(2026, 3, 29, 1, 50, 0),
       LocalSeconds(2026, 3, 29, 3, 30, 0), nullptr},
      {"first of the repeated autumn hour", 2, 30, true, autumn_s + 80 * kMinuteS,
       autumn_s + 160 * kMinuteS, "2026-10-25 02:30:00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempDir dir;
    testing::InitContextAt(dir.path().string());
    testing::PlaceTrustedNginx();
    testing::WriteFile(dir.path() / "Corvana" / "nightly.schedule",
                       DailyAt(c.hour, c.minute, c.run_missed));
    testing::FakeClock clock(c.stop_s - kMinuteS);
    testing::RecordingLauncher launcher;
    testing::ScopedSeams seams(clock, launcher);
    const std::string line = std::string("Running the start missed at ") +
                             (c.missed ? c.missed : "") + ", id: nightly";
    // The starts and the lines of the missed start, and its events.
    auto run_until = [&](int64_t start_s, int64_t stop_s) {
      clock.Set(start_s);
      const size_t before = launcher.starts.size();
      auto engine = std::make_unique<SchedulerEngine>();
      EngineStart(*engine);
      size_t events = 0;
      for (const auto& event : testing::RecordedEvents().Take()) {
        events += event.id == kEventMissedStartRun;
      }
      clock.Set(stop_s);
      size_t analyzer_starts = 0;  // start-up's nginx quit is a start too
      for (size_t i = before; i < launcher.starts.size(); ++i) {
        analyzer_starts += launcher.starts[i].command_line.find("-_schedule") !=
                           std::string::npos;
      }
      return std::tuple(analyzer_starts, testing::LogCount(line), events);
    };
    const size_t caught = c.missed ? 1 : 0;
    EXPECT_EQ(run_until(c.stop_s - kMinuteS, c.stop_s), std::tuple(0u, 0, 0u));
    EXPECT_EQ(run_until(c.start_s, c.start_s + 10 * kMinuteS),
              std::tuple(caught, int(caught), caught));
    // The log may go on from the start before: no start and no event.
    const auto again = run_until(c.start_s + 11 * kMinuteS, c.start_s + 12 * kMinuteS);
    EXPECT_EQ(std::get<0>(again) + std::get<2>(again), 0u);
  }
}

}  // namespace
}  // namespace corvana

// What the engine benchmarks share: a home folder of their own with the
// application context rooted in it, a clock that never sleeps, a launcher
// that only counts, and definition files as the analyzer writes them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "definitions/schedule_definition.h"
#include "definitions/webserver_definition.h"
#include "platform/seams.h"

namespace corvana::bench {

// Points the shell folders at a fresh temporary folder and creates the
// context there once per process; HomePath is <folder>/Corvana/.
void InitBenchContext();
const std::filesystem::path& BenchRoot();
std::string BenchHomePath();

class BenchClock final : public platform::Clock {
 public:
  int64_t NowSeconds() override { return now_s; }
  int64_t MonotonicMs() override { return monotonic_ms; }
  void SleepMs(int ms) override { slept_ms += ms; }

  int64_t now_s = 0;
  int64_t monotonic_ms = 1000000;
  int64_t slept_ms = 0;
};

// Starts nothing: an ordinary tick must not ask it to.
class CountingLauncher final : public platform::ProcessLauncher {
 public:
  platform::ProcessHandle Start(const platform::ProcessStart&) override {
    ++starts;
    return 0;
  }
  bool StartDetached(const platform::ProcessStart&) override {
    ++starts;
    return false;
  }
  platform::ProcessStatus Query(platform::ProcessHandle) override {
    return {platform::ProcessState::kRunning, 0};
  }
  bool Terminate(platform::ProcessHandle, uint32_t) override { return true; }
  void Release(platform::ProcessHandle) override { ++releases; }
  void CollectEnded() override {}

  int64_t starts = 0;
  int64_t releases = 0;
};

// Installs the seams for one benchmark and puts the system's back after it.
class ScopedSeams {
 public:
  ScopedSeams(platform::Clock* clock, platform::ProcessLauncher* launcher) {
    platform::SetClock(clock);
    platform::SetLauncher(launcher);
  }
  ~ScopedSeams() {
    platform::SetClock(nullptr);
    platform::SetLauncher(nullptr);
  }
};

// Local time through the zone rules, as seconds since 1970.
int64_t LocalSeconds(int year, int month, int day, int hour, int minute,
                     int second);

// A realistic file of each kind (about 370 and 330 bytes, CR LF line ends,
// the analyzer's header comment); `variant` changes names and times.
std::string ScheduleFileText(int variant);
std::string WebServerFileText(int variant);

// Records as the loaders would give them, of every kind, none of them due
// from 12:00:00 to 12:00:59 of any day. The web servers of kind 0 were last
// updated at `last_update_s`, which is to be a minute or so before.
ScheduleDefinition NotDueSchedule(int variant);
WebServerDefinition NotDueWebServer(int variant, int64_t last_update_s);
inline constexpr int kNotDueHour = 12;

// Writes `schedules` + `web_servers` definition files into the folder.
void WriteDefinitionFiles(const std::filesystem::path& folder, int schedules,
                          int web_servers);

}  // namespace corvana::bench

// What the engine benchmarks share beyond the tests' own fixtures
// (tests/support: folder, context, clock, seams): a launcher that starts
// nothing and only counts, so that a tick pays for no record of a start, and
// definition files as the analyzer writes them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "definitions/schedule_definition.h"
#include "definitions/webserver_definition.h"
#include "platform/seams.h"
#include "support/fixtures.h"

namespace corvana::bench {

// Points the shell folders at a fresh temporary folder and creates the
// context there once per process; HomePath is <folder>/Corvana/.
void InitBenchContext();
const std::filesystem::path& BenchRoot();
std::string BenchHomePath();

// Starts nothing: an ordinary tick must not ask it to. With
// `gives_handles`, a start succeeds with a handle of a child that runs for
// ever, as where runs fall due and take their slots.
class CountingLauncher final : public platform::ProcessLauncher {
 public:
  platform::StartResult Start(const platform::ProcessStart&) override {
    ++starts;
    if (gives_handles) return {platform::ProcessHandle(1000 + starts), {}};
    return {0, {"StartProcess", 2}};
  }
  platform::FailedCall StartDetached(const platform::ProcessStart&) override {
    ++starts;
    return {"StartProcess", 2};
  }
  platform::ProcessStatus Query(platform::ProcessHandle) override {
    return {platform::ProcessState::kRunning, 0};
  }
  bool Terminate(platform::ProcessHandle, uint32_t) override { return true; }
  platform::FailedCall EndTree(platform::ProcessHandle, uint32_t) override { return {}; }
  void Release(platform::ProcessHandle) override { ++releases; }
  void CollectEnded() override {}

  bool gives_handles = false;
  int64_t starts = 0;
  int64_t releases = 0;
};

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

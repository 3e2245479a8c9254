#include <string>
#include <vector>

#include "definitions/definition_loader.h"
#include "engine/due_rules.h"
#include "engine/engine.h"
#include "logging/log.h"
#include "platform/clock.h"
#include "platform/seams.h"

namespace corvana {
namespace {

// Drops a child that has ended and ends one that has run too long. The limit
// is measured on the monotonic clock: a wall clock set forward by a day must
// not kill a young child, nor one set back keep a hung one alive.
template <class Definition>
void SuperviseChild(Definition& record, int64_t now_monotonic_ms) {
  auto& launcher = platform::CurrentLauncher();
  uint32_t exit_code = 0;
  if (!launcher.QueryExitCode(record.process, &exit_code)) return;
  const char* message = nullptr;
  if (exit_code != platform::kStillActive) {
    message = "The process stopped, id: ";
    launcher.Release(record.process);
    record.process = 0;
    record.started_at = 0;
  } else if ((now_monotonic_ms - record.started_monotonic_ms) / 1000.0 >=
             kRunTimeLimitS) {
    launcher.Terminate(record.process, 0);
    launcher.Release(record.process);
    record.process = 0;
    message = "Terminate Process, id: ";
  }
  if (message != nullptr) WriteTimestampedLog(message + record.id);
}

template <class Definition>
void SuperviseList(std::vector<Definition>& list, int64_t now_monotonic_ms) {
  for (Definition& record : list) {
    if (record.process != 0) SuperviseChild(record, now_monotonic_ms);
  }
}

// A lost definition's child is only waited for: no line, no run-time limit,
// as for any child the scheduler no longer watches.
template <class Definition>
void ReleaseEnded(std::vector<Definition>& vanished) {
  auto& launcher = platform::CurrentLauncher();
  std::erase_if(vanished, [&](const Definition& record) {
    uint32_t exit_code = 0;
    if (!launcher.QueryExitCode(record.process, &exit_code) ||
        exit_code == platform::kStillActive) {
      return false;
    }
    launcher.Release(record.process);
    return true;
  });
}

}  // namespace

void EngineTick(SchedulerEngine& engine) {
  auto& clock = platform::CurrentClock();
  platform::LocalTime now;
  platform::ToLocalTime(clock.NowSeconds(), &now);
  for (ScheduleDefinition& schedule : engine.schedules) {
    if (stop_requested.load(std::memory_order_relaxed)) return;
    if (IsScheduleDue(schedule, now)) LaunchSchedule(engine, schedule);
  }
  for (WebServerDefinition& web_server : engine.web_servers) {
    if (stop_requested.load(std::memory_order_relaxed)) return;
    if (IsWebServerDue(web_server, now)) {
      LaunchWebServerUpdate(engine, web_server);
    }
  }
  if (++engine.tick_count > kTicksPerSupervision) {
    engine.tick_count = 0;
    Supervise(engine);
    if (engine.launches_since_serve != 0 && IsServeDue(engine)) {
      LaunchServe(engine);
    }
    return;
  }
  if (!stop_requested.load(std::memory_order_relaxed)) {
    clock.SleepMs(kTickPauseMs);
  }
}

void Supervise(SchedulerEngine& engine) {
  const int32_t counter = ReadChangeCounter();
  if (counter != engine.change_counter) {
    engine.change_counter = counter;
    WriteTimestampedLog("The schedules has been changed #" +
                        std::to_string(counter));
    ReloadSchedules(engine);
    ReloadWebServers(engine);
  }
  const int64_t now_monotonic_ms = platform::CurrentClock().MonotonicMs();
  SuperviseList(engine.schedules, now_monotonic_ms);
  SuperviseList(engine.web_servers, now_monotonic_ms);
  ReleaseEnded(engine.vanished_schedules);
  ReleaseEnded(engine.vanished_web_servers);
  platform::CurrentLauncher().CollectEnded();
}

bool IsServeDue(SchedulerEngine& engine) {
  const int64_t now_s = platform::CurrentClock().NowSeconds();
  platform::LocalTime local;
  if (!platform::ToLocalTime(now_s, &local)) return false;
  return static_cast<double>(now_s - engine.serve_started) / kServeIntervalS >
             1.0 &&
         local.hour == kServeWindowHour && local.minute >= kServeWindowMinute;
}

}  // namespace corvana

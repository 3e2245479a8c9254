#include <optional>
#include <string>
#include <vector>

#include "definitions/change_counter.h"
#include "engine/due_rules.h"
#include "engine/engine.h"
#include "engine/run_journal.h"
#include "engine/run_slots.h"
#include "environment/app_context.h"
#include "logging/events.h"
#include "logging/log.h"
#include "logging/log_lines.h"
#include "platform/clock.h"
#include "platform/seams.h"

namespace corvana {
namespace {

enum class ChildCheck { kUnknown, kRunning, kEnded, kTerminated };

RunKind KindOf(const ScheduleDefinition&) { return RunKind::kSchedule; }
RunKind KindOf(const WebServerDefinition&) { return RunKind::kWebServerUpdate; }

// Drops a child that has ended and ends one that has run too long. The limit
// is measured on the monotonic clock: a wall clock set forward by a day must
// not kill a young child, nor one set back keep a hung one alive.
template <class Definition>
ChildCheck CheckChild(Definition& record, int64_t now_monotonic_ms) {
  auto& launcher = platform::CurrentLauncher();
  const platform::ProcessStatus status = launcher.Query(record.process);
  const platform::ProcessState state = status.state;
  if (state == platform::ProcessState::kInvalid) return ChildCheck::kUnknown;
  if (state == platform::ProcessState::kExited) {
    if (status.exit_code != 0) {
      ReportRunFailed(KindOf(record), record.id, status.exit_code);
    }
    JournalRunEnded(KindOf(record), record.id, record, RunEnding::kExited,
                    status.exit_code);
    launcher.Release(record.process);
    record.process = 0;
    record.started_at = 0;
    return ChildCheck::kEnded;
  }
  if ((now_monotonic_ms - record.started_monotonic_ms) / 1000.0 <
      kRunTimeLimitS) {
    return ChildCheck::kRunning;
  }
  launcher.Terminate(record.process, 0);
  launcher.Release(record.process);
  JournalRunEnded(KindOf(record), record.id, record, RunEnding::kTimeLimit,
                  std::nullopt);
  record.process = 0;
  WriteTimestampedLog(log_line::kTerminated + record.id);
  ReportEndedAtLimit(KindOf(record), record.id);
  return ChildCheck::kTerminated;
}

template <class Definition>
void SuperviseList(std::vector<Definition>& list, int64_t now_monotonic_ms) {
  for (Definition& record : list) {
    if (record.process != 0 &&
        CheckChild(record, now_monotonic_ms) == ChildCheck::kEnded) {
      WriteTimestampedLog(log_line::kStopped + record.id);
    }
  }
}

// A lost definition's child is not reported when it ends, but it is held to
// the same day as every other child: kept only to stop a second run of its
// id, it must not outlive a hang either.
template <class Definition>
void SuperviseVanished(std::vector<Definition>& vanished,
                       int64_t now_monotonic_ms) {
  std::erase_if(vanished, [&](Definition& record) {
    const ChildCheck check = CheckChild(record, now_monotonic_ms);
    return check == ChildCheck::kEnded || check == ChildCheck::kTerminated;
  });
}

// The tick's one reading of the clock. A reading that cannot be converted gives nothing
// to evaluate: its zeroed fields would read as midnight on a Sunday and
// start what is due then. A run of such ticks is logged once, without the
// timestamp that the same clock cannot give.
bool ReadClock(SchedulerEngine& engine, ClockReading* now) {
  now->seconds = platform::CurrentClock().NowSeconds();
  if (platform::ToLocalTime(now->seconds, &now->local)) {
    engine.local_time_unreadable = false;
    return true;
  }
  if (!engine.local_time_unreadable) {
    engine.local_time_unreadable = true;
    WriteLog(log_line::kLocalTimeUnreadable);
    ReportLocalTimeUnreadable();
  }
  return false;
}

// False when a stop request cut the pass short.
bool EvaluateDefinitions(SchedulerEngine& engine, const ClockReading& now) {
  // A waiting run stands for its occurrences until it starts.
  for (ScheduleDefinition& schedule : engine.schedules) {
    if (stop_requested.load(std::memory_order_relaxed)) return false;
    if (schedule.wait_order == 0 && IsScheduleDue(schedule, now.local)) {
      RunDueSchedule(engine, schedule, now);
    }
  }
  for (WebServerDefinition& web_server : engine.web_servers) {
    if (stop_requested.load(std::memory_order_relaxed)) return false;
    if (web_server.wait_order == 0 && IsWebServerDue(web_server, now)) {
      RunDueWebServerUpdate(engine, web_server, now);
    }
  }
  return true;
}

}  // namespace

void EngineTick(SchedulerEngine& engine) {
  RetryUndeliveredEvents();
  ClockReading now;
  const bool readable = ReadClock(engine, &now);
  engine.tracked_runs = -1;  // children may have ended since
  // Those that waited first, so that a run due now does not overtake them.
  if (readable) StartWaitingRuns(engine, now);
  if (readable && !EvaluateDefinitions(engine, now)) return;
  if (++engine.tick_count > kTicksPerSupervision) {
    engine.tick_count = 0;
    Supervise(engine);
    if (readable && engine.launches_since_serve != 0 &&
        IsServeDue(engine.serve_started, now)) {
      LaunchServe(engine);
    }
    return;
  }
  if (!stop_requested.load(std::memory_order_relaxed)) {
    platform::CurrentClock().SleepMs(kTickPauseMs);
  }
}

void Supervise(SchedulerEngine& engine) {
  // A counter held by its writer is read again at the next pass; taking it
  // for 0 would reload twice, once now and once when it is let go.
  const std::optional<int32_t> counter = ReadChangeCounterUnlessHeld(HomeFolder());
  if (counter.has_value() && *counter != engine.change_counter) {
    engine.change_counter = *counter;
    WriteTimestampedLog(log_line::kDefinitionsChanged +
                        std::to_string(*counter));
    ReloadDefinitions(engine);
  }
  const int64_t now_monotonic_ms = platform::CurrentClock().MonotonicMs();
  SuperviseList(engine.schedules, now_monotonic_ms);
  SuperviseList(engine.web_servers, now_monotonic_ms);
  SuperviseVanished(engine.vanished_schedules, now_monotonic_ms);
  SuperviseVanished(engine.vanished_web_servers, now_monotonic_ms);
  KeepNginxRunning(engine, now_monotonic_ms);
  platform::CurrentLauncher().CollectEnded();
  // A quiet hour after a flood still gets its count.
  ReportHeldBackEvents();
}

}  // namespace corvana

#include "engine/run_slots.h"

#include <algorithm>
#include <utility>
#include <variant>
#include <vector>

#include "logging/log.h"
#include "logging/log_lines.h"

namespace corvana {
namespace {

template <class Definition>
int CountChildren(const std::vector<Definition>& list) {
  return static_cast<int>(std::count_if(
      list.begin(), list.end(),
      [](const Definition& record) { return record.process != 0; }));
}

// The serve run is not tracked, so its end is never known: rather than
// count it, the tracked runs leave it its one slot. It starts at most once
// a day and no file multiplies it, so it never has to wait.
bool SlotFree(SchedulerEngine& engine) {
  if (engine.tracked_runs < 0) {
    engine.tracked_runs = CountChildren(engine.schedules) +
                          CountChildren(engine.web_servers) +
                          CountChildren(engine.vanished_schedules) +
                          CountChildren(engine.vanished_web_servers);
  }
  return engine.tracked_runs < engine.max_runs - 1;
}

void Launch(SchedulerEngine& engine, ScheduleDefinition& schedule,
            const ClockReading&, int64_t missed_s) {
  LaunchSchedule(engine, schedule, missed_s);
}

// The interval counts from the update's real start.
void Launch(SchedulerEngine& engine, WebServerDefinition& web_server,
            const ClockReading& now, int64_t missed_s) {
  RecordUpdate(now, web_server);
  LaunchWebServerUpdate(engine, web_server, missed_s);
}

template <class Definition>
void LaunchCounted(SchedulerEngine& engine, Definition& record,
                   const ClockReading& now, int64_t missed_s) {
  const bool idle = record.process == 0;
  Launch(engine, record, now, missed_s);
  if (idle && record.process != 0 && engine.tracked_runs >= 0) {
    ++engine.tracked_runs;
  }
}

// A definition whose own child still runs is refused as ever, slot or not.
template <class Definition>
void RunDue(SchedulerEngine& engine, Definition& record,
            const ClockReading& now, int64_t missed_s) {
  if (record.process != 0 || SlotFree(engine)) {
    LaunchCounted(engine, record, now, missed_s);
    return;
  }
  record.wait_order = ++engine.last_wait_order;
  record.wait_missed_s = missed_s;
  ++engine.runs_waiting;
  WriteTimestampedLog(log_line::kWaitingForSlot + record.id);
}

using Waiting = std::variant<ScheduleDefinition*, WebServerDefinition*>;

uint64_t OrderOf(const Waiting& waiting) {
  return std::visit([](const auto* record) { return record->wait_order; },
                    waiting);
}

template <class Definition>
void CollectWaiting(std::vector<Definition>& list,
                    std::vector<Waiting>* waiting) {
  for (Definition& record : list) {
    if (record.wait_order != 0) waiting->push_back(&record);
  }
}

}  // namespace

int AnalyzerRunCap(unsigned cores) {
  const int64_t per_cores = int64_t{kAnalyzerRunsPerCore} * cores;
  return static_cast<int>(std::clamp<int64_t>(per_cores, kMinAnalyzerRuns,
                                              kMaxAnalyzerRuns));
}

void RunDueSchedule(SchedulerEngine& engine, ScheduleDefinition& schedule,
                    const ClockReading& now, int64_t missed_s) {
  RunDue(engine, schedule, now, missed_s);
}

void RunDueWebServerUpdate(SchedulerEngine& engine,
                           WebServerDefinition& web_server,
                           const ClockReading& now, int64_t missed_s) {
  RunDue(engine, web_server, now, missed_s);
}

void StartWaitingRuns(SchedulerEngine& engine, const ClockReading& now) {
  if (engine.runs_waiting == 0 || !SlotFree(engine)) return;
  std::vector<Waiting> waiting;
  CollectWaiting(engine.schedules, &waiting);
  CollectWaiting(engine.web_servers, &waiting);
  std::sort(waiting.begin(), waiting.end(),
            [](const Waiting& a, const Waiting& b) {
              return OrderOf(a) < OrderOf(b);
            });
  engine.runs_waiting = static_cast<int>(waiting.size());
  for (const Waiting& next : waiting) {
    if (stop_requested.load(std::memory_order_relaxed) || !SlotFree(engine)) {
      return;
    }
    --engine.runs_waiting;
    std::visit(
        [&](auto* record) {
          record->wait_order = 0;
          LaunchCounted(engine, *record, now,
                        std::exchange(record->wait_missed_s, 0));
        },
        next);
  }
}

}  // namespace corvana

// How many analyzers run at once, and the runs that wait for one to end.
// Every definition file is a run a user can ask for, as the system, so a
// folder of them must not become as many analyzers at once.
#pragma once

#include <cstdint>

#include "engine/due_rules.h"
#include "engine/engine.h"

namespace corvana {

inline constexpr int kAnalyzerRunsPerCore = 4;
inline constexpr int kMinAnalyzerRuns = 16;
inline constexpr int kMaxAnalyzerRuns = 64;

// Four per core: the analyzer reads logs, so a few per core keep the disk
// and the cores busy while one waits on the other. At least 16, so that a
// small machine still runs a night's schedules side by side; at most 64,
// as memory, not cores, bounds the runs of a large one. `cores` as the
// standard library counts them, 0 when unknown.
int AnalyzerRunCap(unsigned cores);

// Launches a due definition, or, while every slot is taken, queues it and
// logs that once. `missed_s` as for LaunchSchedule.
void RunDueSchedule(SchedulerEngine& engine, ScheduleDefinition& schedule,
                    const ClockReading& now, int64_t missed_s = 0);
void RunDueWebServerUpdate(SchedulerEngine& engine,
                           WebServerDefinition& web_server,
                           const ClockReading& now, int64_t missed_s = 0);

// Launches waiting runs in the order they fell due while slots are free;
// none once a stop is requested.
void StartWaitingRuns(SchedulerEngine& engine, const ClockReading& now);

}  // namespace corvana

// The engine: what to run and when. One instance, owned by the service's
// main function, driven by EngineTick on the worker thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "definitions/schedule_definition.h"
#include "definitions/webserver_definition.h"
#include "engine/nginx_keeping.h"

namespace corvana {

inline constexpr int kTickPauseMs = 310;
inline constexpr int kTicksPerSupervision = 10;
inline constexpr double kRunTimeLimitS = 86395.0;  // a day less five seconds

// Set by the control handler's thread, polled by the worker thread.
extern std::atomic<bool> stop_requested;

struct SchedulerEngine {
  SchedulerEngine();
  ~SchedulerEngine();  // runs the shutdown sequence once more
  SchedulerEngine(const SchedulerEngine&) = delete;
  SchedulerEngine& operator=(const SchedulerEngine&) = delete;

  bool web_servers_started = false;
  NginxKeeping nginx_keeping;
  int32_t change_counter = 0;
  int32_t tick_count = 0;
  int32_t launches_since_serve = 0;
  int64_t serve_started = 0;  // seconds since 1970; 0: not since start-up
  std::string program_dir;    // ends with the separator, or empty
  // Set while the clock's reading cannot be converted to local time, so that
  // a run of such ticks is logged once.
  bool local_time_unreadable = false;
  // Between the started and the stopped event: the shutdown sequence runs
  // more than once, the stop is reported once.
  bool start_reported = false;
  // How many analyzers may run at once (AnalyzerRunCap); the serve run has
  // one of them to itself.
  int max_runs = 0;
  // The tracked children, counted at the first need in a tick; -1: not yet.
  int tracked_runs = -1;
  // Waiting runs: how many at the last look (a reload may have dropped
  // some since), and the place the next one takes.
  int runs_waiting = 0;
  uint64_t last_wait_order = 0;
  // Enabled definitions, in the order the file system lists them.
  std::vector<ScheduleDefinition> schedules;
  std::vector<WebServerDefinition> web_servers;
  // Definitions that a reload lost while their child still ran (a file
  // caught half written, say). The child is kept until it ends, and a
  // definition of the same id that comes back takes it over again, so that
  // it cannot start a second run beside the first.
  std::vector<ScheduleDefinition> vanished_schedules;
  std::vector<WebServerDefinition> vanished_web_servers;
};

// Once the service has set up the context (InitAppContext).
void EngineStart(SchedulerEngine& engine);
// The schedules and the web servers, from one listing of the folder.
void ReloadDefinitions(SchedulerEngine& engine);
void EngineShutdown(SchedulerEngine& engine);

void EngineTick(SchedulerEngine& engine);
// Also releases the vanished definitions' children that have ended, and ends
// those that have run too long.
void Supervise(SchedulerEngine& engine);

// `missed_s`: the start a catch-up makes up for, 0 for an ordinary one.
void LaunchSchedule(SchedulerEngine& engine, ScheduleDefinition& schedule,
                    int64_t missed_s = 0);
void LaunchWebServerUpdate(SchedulerEngine& engine,
                           WebServerDefinition& web_server,
                           int64_t missed_s = 0);
void LaunchServe(SchedulerEngine& engine);

}  // namespace corvana

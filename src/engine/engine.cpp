#include "engine/engine.h"

#include <iterator>
#include <thread>
#include <vector>

#include "definitions/change_counter.h"
#include "definitions/definition_loader.h"
#include "engine/carry_over.h"
#include "engine/run_journal.h"
#include "engine/run_slots.h"
#include "environment/app_context.h"
#include "logging/events.h"
#include "logging/log.h"
#include "logging/log_lines.h"
#include "platform/env.h"
#include "platform/seams.h"
#include "webserver/webserver_control.h"

namespace corvana {

std::atomic<bool> stop_requested{false};

namespace {

constexpr int kStartUpQuitWaitMs = 5000;

// The lost definitions of earlier reloads join the snapshot last, so that a
// returning id takes over their child.
template <class Definition, class Load>
void Reload(std::vector<Definition>& list, std::vector<Definition>& vanished,
            const Load& load) {
  std::vector<Definition> snapshot = std::move(list);
  snapshot.insert(snapshot.end(), std::make_move_iterator(vanished.begin()),
                  std::make_move_iterator(vanished.end()));
  vanished.clear();
  list.reserve(snapshot.size());  // spares the loader a count of the files
  load(&list);
  CarryOverRunTime(snapshot, list, &vanished);
}

}  // namespace

// Neither the engine nor its start-up clears the stop flag: the service
// reports running before the engine exists, so a stop may already have come,
// and clearing it would lose that stop and keep the service running. The
// flag starts false, once per process, as the service runs once.
SchedulerEngine::SchedulerEngine()
    : max_runs(AnalyzerRunCap(std::thread::hardware_concurrency())) {}

SchedulerEngine::~SchedulerEngine() { EngineShutdown(*this); }

void EngineStart(SchedulerEngine& engine) {
  engine.change_counter = ReadChangeCounter(HomeFolder());
  // One may be left from an earlier run. The quit must be over before the
  // web-server reload below starts nginx, or it stops the new one.
  WebServerCommand(NginxCommand::kQuit, kStartUpQuitWaitMs);
  ReloadDefinitions(engine);
  engine.launches_since_serve = 0;
  engine.tick_count = 0;
  engine.serve_started = 0;
  const std::string program_dir = platform::ExecutableFolder();
  if (!program_dir.empty()) engine.program_dir = program_dir;
  WriteTimestampedLog(log_line::kHomePath + platform::CurrentDirectory() +
                      log_line::kHomePathArrow +
                      engine.program_dir);
  WriteTimestampedLog(log_line::kRunTasks);
  ReportEngineStarted(kVersionText, WorkingFolderName(), engine.schedules.size(),
                      engine.web_servers.size());
  engine.start_reported = true;
  BeginJournal(engine);
}

namespace {

// The listing also keeps the web-server files' names for
// ReloadWebServersFrom.
void ReloadSchedulesKeeping(SchedulerEngine& engine,
                            std::string* web_server_names) {
  WriteTimestampedLog(log_line::kLoadingSchedules);
  Reload(engine.schedules, engine.vanished_schedules,
         [web_server_names](std::vector<ScheduleDefinition>* list) {
           LoadSchedules(HomeFolder(), list, web_server_names);
         });
}

void ReloadWebServersFrom(SchedulerEngine& engine, const std::string* names) {
  WriteTimestampedLog(log_line::kLoadingWebServers);
  Reload(engine.web_servers, engine.vanished_web_servers,
         [names](std::vector<WebServerDefinition>* list) {
           LoadWebServers(HomeFolder(), list, names);
         });
  // A start that found nginx's files held elsewhere is tried again, and so
  // is one that was given up on after repeated failures.
  if (!engine.web_servers.empty() &&
      (!engine.web_servers_started || NginxStartDeferred() ||
       engine.nginx_keeping.given_up)) {
    engine.web_servers_started = true;
    WriteTimestampedLog(log_line::kStartWebServers);
    engine.nginx_keeping = {};
    // A first start that fails waits for the next reload, not a minute: a
    // missing or untrusted nginx.exe is the installation's to mend.
    if (WebServerCommand(NginxCommand::kStart)) {
      NoteNginxStart(engine.nginx_keeping, true, platform::CurrentClock().MonotonicMs());
    }
  } else if (engine.web_servers_started && engine.web_servers.empty()) {
    engine.web_servers_started = false;
    WriteTimestampedLog(log_line::kStopWebServers);
    QuitHeldNginx();
  }
}

}  // namespace

// Listing a folder of thousands of files costs the system as much as
// reading some fifty of them, so both kinds come from one listing.
void ReloadDefinitions(SchedulerEngine& engine) {
  std::string web_server_names;
  ReloadSchedulesKeeping(engine, &web_server_names);
  ReloadWebServersFrom(engine, &web_server_names);
}

// Within the stop's wait hint, beside nginx's quit: a syslog reader that
// fell behind gets a moment to take the stop, and is not waited for longer.
constexpr int kStopDeliveryBoundMs = 1000;

void EngineShutdown(SchedulerEngine& engine) {
  WriteTimestampedLog(log_line::kStopWebServers);
  QuitHeldNginx();
  engine.web_servers_started = false;
  WriteTimestampedLog(log_line::kNormalShutdown);
  if (engine.start_reported) {
    JournalServiceStopped(engine);
    ReportHeldBackEvents(HeldBackCounts::kAll);
    ReportEngineStopped();
    const int undelivered = DeliverWaitingEvents(kStopDeliveryBoundMs);
    if (undelivered > 0) {
      WriteTimestampedLog(log_line::kEventsNotDelivered + std::to_string(undelivered));
    }
  }
  engine.start_reported = false;
}

}  // namespace corvana

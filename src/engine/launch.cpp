#include <string>

#include "engine/engine.h"
#include "engine/run_journal.h"
#include "logging/events.h"
#include "logging/log.h"
#include "logging/log_lines.h"
#include "platform/process.h"
#include "platform/seams.h"

namespace corvana {
namespace {

constexpr const char kAnalyzer[] = "Ravo.exe";
constexpr const char kServeId[] = "serve";

struct LaunchTexts {
  const char* running;
  const char* succeeded;
  const char* failed;
  RunKind kind;
};

constexpr LaunchTexts kScheduleTexts{log_line::kRunningSchedule,
                                     log_line::kScheduleStarted,
                                     log_line::kScheduleFailed,
                                     RunKind::kSchedule};
constexpr LaunchTexts kWebServerTexts{log_line::kRunningUpdate,
                                      log_line::kUpdateStarted,
                                      log_line::kUpdateFailed,
                                      RunKind::kWebServerUpdate};

// The full path is the application name, so that no search along a path
// with blanks decides which file runs. The program path is quoted, so that
// a blank in it does not hand the analyzer pieces of it as arguments;
// the options after it go as they are.
platform::ProcessStart AnalyzerStart(const SchedulerEngine& engine,
                                     const std::string& option) {
  platform::ProcessStart start;
  if (!engine.program_dir.empty()) {
    start.application = engine.program_dir + kAnalyzer;
  }
  start.command_line = "\"" + engine.program_dir + kAnalyzer + "\" -" + option;
  start.kind = platform::StartKind::kNormalPriority;
  return start;
}

// The log keeps its words; the event and the journal say why.
void NotStarted(RunKind kind, const std::string& event_name,
                const std::string& journal_id,
                const platform::FailedCall& failure) {
  const std::string cause = platform::FailedCallText(failure);
  ReportAnalyzerNotStarted(kind, event_name, cause);
  JournalRunNotStarted(kind, journal_id, cause);
}

template <class Definition>
void LaunchTracked(SchedulerEngine& engine, Definition& record,
                   const std::string& option, const LaunchTexts& texts,
                   int64_t missed_s) {
  const platform::ProcessStart start = AnalyzerStart(engine, option + record.id);
  WriteTimestampedLog(texts.running + record.id);
  if (record.process != 0) {
    WriteTimestampedLog(log_line::kStillActive + record.id);
    return;
  }
  auto& clock = platform::CurrentClock();
  const platform::StartResult started = platform::CurrentLauncher().Start(start);
  record.process = started.process;
  if (record.process == 0) {
    record.started_at = 0;
    WriteTimestampedLog(texts.failed + record.id);
    NotStarted(texts.kind, record.id, record.id, started.failure);
    return;
  }
  record.started_at = clock.NowSeconds();
  record.started_monotonic_ms = clock.MonotonicMs();
  WriteTimestampedLog(texts.succeeded + record.id);
  JournalRunStarted(texts.kind, record.id, record.file_name, record, missed_s);
  ++engine.launches_since_serve;
}

}  // namespace

void LaunchSchedule(SchedulerEngine& engine, ScheduleDefinition& schedule,
                    int64_t missed_s) {
  LaunchTracked(engine, schedule, "_schedule", kScheduleTexts, missed_s);
}

void LaunchWebServerUpdate(SchedulerEngine& engine,
                           WebServerDefinition& web_server, int64_t missed_s) {
  LaunchTracked(engine, web_server, "_webserver", kWebServerTexts, missed_s);
}

void LaunchServe(SchedulerEngine& engine) {
  const platform::ProcessStart start = AnalyzerStart(engine, "serve");
  WriteTimestampedLog(log_line::kRunningServe);
  // The serve run is not tracked: its handle is released at once.
  const platform::FailedCall failure = platform::CurrentLauncher().StartDetached(start);
  if (failure.failed()) {
    WriteTimestampedLog(log_line::kServeFailed);
    NotStarted(RunKind::kServe, "run", kServeId, failure);
    return;
  }
  engine.serve_started = platform::CurrentClock().NowSeconds();
  engine.launches_since_serve = 0;
  WriteTimestampedLog(log_line::kServeStarted);
  // Untracked: neither its process nor its end is known.
  JournalRunStarted(RunKind::kServe, kServeId, std::string(), RunState(), 0);
}

}  // namespace corvana

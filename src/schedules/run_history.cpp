#include "schedules/run_history.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

#include "logging/log.h"
#include "logging/log_lines.h"
#include "logging/log_stamp.h"
#include "platform/fs.h"

namespace corvana::schedules {
namespace {

constexpr size_t kLineLimit = 4096;

enum class Kind { kSchedule, kWebServer };

// How a message that names an id changes the record of that id.
enum class Event { kRunning, kSucceeded, kFailed, kStillActive, kStopped, kTerminated };

struct Pattern {
  std::string_view prefix;
  Event event;
  Kind kind;
};

// The engine's own lines. A stop line does not say the kind: it belongs to
// whichever of the id's children runs.
constexpr Pattern kPatterns[] = {
    {log_line::kRunningSchedule, Event::kRunning, Kind::kSchedule},
    {log_line::kScheduleStarted, Event::kSucceeded, Kind::kSchedule},
    {log_line::kScheduleFailed, Event::kFailed, Kind::kSchedule},
    {log_line::kRunningUpdate, Event::kRunning, Kind::kWebServer},
    {log_line::kUpdateStarted, Event::kSucceeded, Kind::kWebServer},
    {log_line::kUpdateFailed, Event::kFailed, Kind::kWebServer},
    {log_line::kStillActive, Event::kStillActive, Kind::kSchedule},
    {log_line::kStopped, Event::kStopped, Kind::kSchedule},
    {log_line::kTerminated, Event::kTerminated, Kind::kSchedule},
};

// The kind whose child of that id runs; the schedule's when neither does.
Kind RunningKind(const RunHistory& history, const std::string& id) {
  const auto schedule = history.schedules.find(id);
  if (schedule != history.schedules.end() && schedule->second.running) {
    return Kind::kSchedule;
  }
  const auto web_server = history.web_servers.find(id);
  if (web_server != history.web_servers.end() && web_server->second.running) {
    return Kind::kWebServer;
  }
  return Kind::kSchedule;
}

void Apply(Event event, std::string_view stamp, LastRun* run) {
  switch (event) {
    case Event::kRunning:
      run->started.assign(stamp);
      run->outcome = StartOutcome::kPending;
      return;
    case Event::kSucceeded:
      run->outcome = StartOutcome::kSuccessful;
      run->running = true;
      run->ended.clear();
      run->ended_after_a_day = false;
      return;
    case Event::kFailed: run->outcome = StartOutcome::kFailed; return;
    case Event::kStillActive: run->outcome = StartOutcome::kStillActive; return;
    case Event::kStopped:
    case Event::kTerminated:
      run->running = false;
      run->ended.assign(stamp);
      run->ended_after_a_day = event == Event::kTerminated;
      return;
  }
}

// A line of the engine's that names the id.
void AddRun(const Pattern& pattern, std::string_view id_text, std::string_view stamp,
            RunHistory* history) {
  const std::string id(id_text);
  Kind kind = pattern.kind;
  if (pattern.event == Event::kRunning) {
    history->last_running_web_server = kind == Kind::kWebServer;
  } else if (pattern.event == Event::kStillActive) {
    if (history->last_running_web_server) kind = Kind::kWebServer;
  } else if (pattern.event == Event::kStopped || pattern.event == Event::kTerminated) {
    kind = RunningKind(*history, id);
  }
  auto& runs = kind == Kind::kSchedule ? history->schedules : history->web_servers;
  Apply(pattern.event, stamp, &runs[id]);
}

}  // namespace

void AddLogLine(std::string_view line, RunHistory* history) {
  const std::optional<std::string_view> stamp = LogStampTime(line);
  if (!stamp) return;
  const std::string_view message = line.substr(kLogStampLength);
  if (message == log_line::kServeStarted) {
    history->last_serve = std::string(*stamp);
    return;
  }
  if (message.starts_with(log_line::kDefinitionsChanged)) {
    history->change_seen = true;
    return;
  }
  if (message == log_line::kLoadingSchedules) {
    history->last_load = std::string(*stamp);
    history->last_load_reloaded = std::exchange(history->change_seen, false);
    if (!history->last_load_reloaded) history->last_start_up = history->last_load;
    return;
  }
  for (const Pattern& pattern : kPatterns) {
    if (message.size() > pattern.prefix.size() && message.starts_with(pattern.prefix)) {
      return AddRun(pattern, message.substr(pattern.prefix.size()), *stamp, history);
    }
  }
}

bool ReadRunHistory(const platform::HeldFolder& folder, RunHistory* history,
                    platform::FailedCall* failure) {
  std::FILE* file = platform::OpenRegularFileIn(folder, kLogFileName, true, failure);
  if (file == nullptr) return false;
  auto buffer = std::make_unique<char[]>(kLineLimit);
  bool overlong = false;
  while (std::fgets(buffer.get(), kLineLimit, file) != nullptr) {
    std::string_view line(buffer.get());
    const bool complete = !line.empty() && line.back() == '\n';
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
      line.remove_suffix(1);
    }
    if (!overlong && complete) AddLogLine(line, history);
    overlong = !complete;  // the rest of a long line comes next
  }
  std::fclose(file);
  return true;
}

}  // namespace corvana::schedules

namespace corvana::schedules {
namespace {

// Into one buffer, valid until the next call: a full journal asks for
// 8,000 keys and a report for 10,000 more, most too long to fit a string
// without an allocation of its own.
// Made once for every record and every row: sized once, then copied into.
const std::string& RunKey(std::string_view kind, std::string_view id) {
  thread_local std::string key;
  key.resize(kind.size() + 1 + id.size());
  char* out = std::copy(kind.begin(), kind.end(), key.data());
  *out++ = '/';
  std::copy(id.begin(), id.end(), out);
  return key;
}

RunResult ResultOf(const std::string_view* ended) {
  if (ended == nullptr) return RunResult::kNoEnd;
  if (*ended == JournalEndingName(RunEnding::kExited)) return RunResult::kExited;
  if (*ended == JournalEndingName(RunEnding::kTimeLimit)) return RunResult::kTimeLimit;
  if (*ended == JournalEndingName(RunEnding::kNotStarted)) return RunResult::kNotStarted;
  if (*ended == JournalEndingName(RunEnding::kServiceStopped)) {
    return RunResult::kServiceStopped;
  }
  return RunResult::kNoEnd;
}

}  // namespace

void JournalRuns::CloseOpenRuns() {
  for (RunSlots* slots : opened_) {
    if (slots->open == kNoRun) continue;
    runs_[slots->open].result = RunResult::kNoEnd;
    slots->open = kNoRun;
  }
  opened_.clear();
}

void JournalRuns::Add(const JournalFields& fields) {
  const std::string_view* record = fields.String(JournalKey::kRecord);
  const std::optional<int64_t> time_s = fields.Number(JournalKey::kTimeS);
  if (record == nullptr || !time_s) return;
  if (*record == "service_start" || *record == "service_stop") {
    service_seen_ = true;
    return CloseOpenRuns();
  }
  const bool start = *record == "run_start";
  if (!start && *record != "run_end") return;
  const std::string_view* kind = fields.String(JournalKey::kKind);
  const std::string_view* id = fields.String(JournalKey::kId);
  if (kind == nullptr || id == nullptr) return;
  RunSlots& slots = slots_[RunKey(*kind, *id)];
  if (start) {
    if (slots.open != kNoRun) runs_[slots.open].result = RunResult::kNoEnd;
    slots.open = runs_.size();
    opened_.push_back(&slots);
    Push(*id, *kind, *time_s, &slots);
    return;
  }
  const std::optional<int64_t> duration_s = fields.Number(JournalKey::kDurationS);
  if (slots.open == kNoRun) {  // its start went with an older generation
    // Unless what was read shows the id's record or a restart before it.
    const bool start_unknown =
        span_ == JournalSpan::kTail && !service_seen_ && slots.last == kNoRun;
    Push(*id, *kind, *time_s - duration_s.value_or(0), &slots);
    runs_.back().start_unknown = start_unknown;
  }
  JournalRun& run = slots.open == kNoRun ? runs_.back() : runs_[slots.open];
  run.result = ResultOf(fields.String(JournalKey::kEnded));
  run.exit_code = fields.Number(JournalKey::kExitCode);
  run.duration_s = duration_s;
  if (const std::string_view* cause = fields.String(JournalKey::kCause)) run.cause = *cause;
  slots.open = kNoRun;
}

void JournalRuns::Push(std::string_view id, std::string_view kind, int64_t start_s,
                       RunSlots* slots) {
  slots->last = runs_.size();
  JournalRun& run = runs_.emplace_back();
  run.id = id;
  run.kind = kind;
  run.start_s = start_s;
}

std::optional<JournalRun> JournalRuns::Last(std::string_view kind,
                                            std::string_view id) const {
  if (runs_.empty()) return std::nullopt;  // no journal, or nothing run yet
  const auto found = slots_.find(RunKey(kind, id));
  if (found == slots_.end() || found->second.last == kNoRun) return std::nullopt;
  return runs_[found->second.last];
}

bool ReadJournalRuns(const platform::HeldFolder& folder, JournalRuns* runs,
                     platform::FailedCall* failure) {
  return ReadJournal(folder, JournalReader::kViewer,
                     [runs](const JournalFields& fields) { runs->Add(fields); },
                     failure);
}

}  // namespace corvana::schedules

#include "schedules/run_history.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "logging/log.h"
#include "logging/log_lines.h"
#include "platform/fs.h"

namespace corvana::schedules {
namespace {

constexpr size_t kStampLength = 22;  // "[yyyy-mm-dd hh:mm:ss] "
constexpr size_t kLineLimit = 4096;

enum class Kind { kSchedule, kWebServer };

// How a message that names an id changes the record of that id.
enum class Event { kRunning, kSucceeded, kFailed, kStillActive, kStopped, kTerminated };

struct Pattern {
  const char* prefix;
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

bool Digits(std::string_view text, size_t at, size_t count) {
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

int Number(std::string_view text, size_t at, size_t count) {
  int value = 0;
  for (size_t i = at; i < at + count; ++i) value = value * 10 + (text[i] - '0');
  return value;
}

// The shape only: a log of a busy day has tens of thousands of stamps, and
// the seconds are wanted for few of them.
bool ParseStamp(std::string_view line) {
  if (line.size() < kStampLength || line[0] != '[' || line[5] != '-' ||
      line[8] != '-' || line[11] != ' ' || line[14] != ':' || line[17] != ':' ||
      line[20] != ']' || line[21] != ' ' || !Digits(line, 1, 4) ||
      !Digits(line, 6, 2) || !Digits(line, 9, 2) || !Digits(line, 12, 2) ||
      !Digits(line, 15, 2) || !Digits(line, 18, 2)) {
    return false;
  }
  const int month = Number(line, 6, 2);
  const int day = Number(line, 9, 2);
  return month >= 1 && month <= 12 && day >= 1 && day <= 31 &&
         Number(line, 12, 2) <= 23 && Number(line, 15, 2) <= 59 &&
         Number(line, 18, 2) <= 60;
}

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
      run->started = std::string(stamp);
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
      run->ended = std::string(stamp);
      run->ended_after_a_day = event == Event::kTerminated;
      return;
  }
}

}  // namespace

void AddLogLine(std::string_view line, RunHistory* history) {
  if (!ParseStamp(line)) return;
  const std::string_view stamp = line.substr(1, 19);
  const std::string_view message = line.substr(kStampLength);
  if (message == log_line::kServeStarted) {
    history->last_serve = std::string(stamp);
    return;
  }
  if (message.starts_with(log_line::kDefinitionsChanged)) {
    history->change_seen = true;
    return;
  }
  if (message == log_line::kLoadingSchedules) {
    history->last_load = std::string(stamp);
    history->last_load_reloaded = std::exchange(history->change_seen, false);
    if (!history->last_load_reloaded) history->last_start_up = history->last_load;
    return;
  }
  for (const Pattern& pattern : kPatterns) {
    const size_t length = std::strlen(pattern.prefix);
    if (message.substr(0, length) != pattern.prefix || message.size() == length) {
      continue;
    }
    const std::string id(message.substr(length));
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
    return;
  }
}

bool ReadRunHistory(const platform::HeldFolder& folder, RunHistory* history) {
  std::FILE* file = platform::OpenRegularFileIn(folder, kLogFileName, true);
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

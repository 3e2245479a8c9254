#include "schedules/run_history.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
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
Kind RunningKind(const RunHistory& history, std::string_view id) {
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

LastRun& RunOf(std::string_view id, RunsById* runs) {
  const auto found = runs->find(id);
  if (found != runs->end()) return found->second;
  return runs->emplace(std::string(id), LastRun{}).first->second;
}

// A line of the engine's that names the id.
void AddRun(const Pattern& pattern, std::string_view id, std::string_view stamp,
            RunHistory* history) {
  Kind kind = pattern.kind;
  if (pattern.event == Event::kRunning) {
    history->last_running_web_server = kind == Kind::kWebServer;
  } else if (pattern.event == Event::kStillActive) {
    if (history->last_running_web_server) kind = Kind::kWebServer;
  } else if (pattern.event == Event::kStopped || pattern.event == Event::kTerminated) {
    kind = RunningKind(*history, id);
  }
  auto& runs = kind == Kind::kSchedule ? history->schedules : history->web_servers;
  Apply(pattern.event, stamp, &RunOf(id, &runs));
}

// The first byte tells most messages apart before a whole prefix is read:
// a log has two engine lines for every run.
bool StartsWith(std::string_view message, std::string_view prefix) {
  return !message.empty() && message[0] == prefix[0] && message.starts_with(prefix);
}

// A line with the stamp LogStampTime gives it.
void AddStamped(std::string_view line, std::optional<std::string_view> stamp,
                RunHistory* history) {
  if (!stamp) return;
  const std::string_view message = line.substr(kLogStampLength);
  if (message == log_line::kServeStarted) {
    history->last_serve = std::string(*stamp);
    return;
  }
  if (StartsWith(message, log_line::kDefinitionsChanged)) {
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
    if (message.size() > pattern.prefix.size() && StartsWith(message, pattern.prefix)) {
      return AddRun(pattern, message.substr(pattern.prefix.size()), *stamp, history);
    }
  }
}

// The stamp of a line, read once for the lines that repeat the last one's:
// a run's start and its verdict are written in the same second.
class LineStamps {
 public:
  std::optional<std::string_view> Of(std::string_view line) {
    if (!last_.empty() && line.size() >= kLogStampLength && line[0] == '[' &&
        line[kLogStampLength - 2] == ']' && line[kLogStampLength - 1] == ' ' &&
        line.substr(1, LogTime::kLength) == std::string_view(last_)) {
      return line.substr(1, LogTime::kLength);
    }
    const std::optional<std::string_view> stamp = LogStampTime(line);
    if (stamp) last_.assign(*stamp);
    return stamp;
  }

 private:
  LogTime last_;
};

// The pieces of the log as reading it with fgets into kLineLimit bytes gave
// them: a line, or kLineLimit - 1 bytes of a longer one, or what ends the
// file without a newline.
class LogPieces {
 public:
  explicit LogPieces(RunHistory* history) : history_(history) {}

  void Take(std::string_view piece) {
    const bool complete = piece.back() == '\n';
    // The service writes no NUL: a line with one is passed over, and only
    // it; the line after it is whole.
    if (!overlong_ && complete &&
        std::memchr(piece.data(), '\0', piece.size()) == nullptr) {
      while (!piece.empty() && (piece.back() == '\n' || piece.back() == '\r')) {
        piece.remove_suffix(1);
      }
      AddStamped(piece, stamps_.Of(piece), history_);
    }
    overlong_ = !complete;  // the rest of a long line comes next
  }

 private:
  RunHistory* history_;
  LineStamps stamps_;
  bool overlong_ = false;
};

constexpr size_t kPieceLimit = kLineLimit - 1;
// Read a block at a time, split at newlines: line by line, the calls into
// the C library cost a fifth of the whole read.
constexpr size_t kBlockBytes = 64 * 1024;

// Hands the pieces of [*begin, end) to `pieces`, up to where more of the
// file is needed to know where the next one ends.
void SplitBlock(const char* block, size_t end, bool at_end, size_t* begin,
                LogPieces* pieces) {
  while (true) {
    const size_t left = end - *begin;
    const size_t reach = std::min(left, kPieceLimit);
    const char* at = block + *begin;
    const auto* newline = static_cast<const char*>(std::memchr(at, '\n', reach));
    size_t length = reach;
    if (newline != nullptr) {
      length = static_cast<size_t>(newline - at) + 1;
    } else if (reach < kPieceLimit && !(at_end && left > 0)) {
      return;
    }
    pieces->Take(std::string_view(at, length));
    *begin += length;
  }
}

}  // namespace

void AddLogLine(std::string_view line, RunHistory* history) {
  AddStamped(line, LogStampTime(line), history);
}

bool ReadRunHistory(const platform::HeldFolder& folder, RunHistory* history,
                    platform::FailedCall* failure) {
  std::FILE* file = platform::OpenRegularFileIn(folder, kLogFileName, true, failure);
  if (file == nullptr) return false;
  auto block = std::make_unique<char[]>(kBlockBytes);
  LogPieces pieces(history);
  size_t begin = 0;
  size_t end = 0;
  bool at_end = false;
  while (!at_end) {
    // What is left is less than a piece: the block always has room for more.
    std::memmove(block.get(), block.get() + begin, end - begin);
    end -= begin;
    begin = 0;
    const size_t read = std::fread(block.get() + end, 1, kBlockBytes - end, file);
    at_end = read == 0;
    end += read;
    SplitBlock(block.get(), end, at_end, &begin, &pieces);
  }
  std::fclose(file);
  return true;
}

}  // namespace corvana::schedules

namespace corvana::schedules {
namespace {

// A run is known by the one name kind '/' id, hashed as split at its first
// slash: a slash in a kind (no service writes one) moves where it splits.
// So the name need not be made, for a full journal asks for 8,000 of them
// and a report for 10,000 more; only a kind with a slash makes its rest,
// into one buffer.
uint64_t NameHash(std::string_view kind, std::string_view id) {
  const size_t slash = kind.find('/');
  if (slash == std::string_view::npos) return WordHash(id, WordHash(kind, 0));
  thread_local std::string rest;
  rest.assign(kind.substr(slash + 1)).append(1, '/').append(id);
  return WordHash(rest, WordHash(kind.substr(0, slash), 0));
}

bool SameName(std::string_view kind, std::string_view id, std::string_view other_kind,
              std::string_view other_id) {
  if (kind.size() + id.size() != other_kind.size() + other_id.size()) return false;
  if (kind.size() == other_kind.size()) return kind == other_kind && id == other_id;
  const auto at = [](std::string_view kind, std::string_view id, size_t i) {
    return i < kind.size() ? kind[i] : i == kind.size() ? '/' : id[i - kind.size() - 1];
  };
  for (size_t i = 0; i <= kind.size() + id.size(); ++i) {
    if (at(kind, id, i) != at(other_kind, other_id, i)) return false;
  }
  return true;
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
  for (const size_t opened : opened_) {
    RunSlots& slots = slots_[opened];
    if (slots.open == kNoRun) continue;
    runs_[slots.open].result = RunResult::kNoEnd;
    slots.open = kNoRun;
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
  const uint64_t hash = NameHash(*kind, *id);
  const size_t found = Find(*kind, *id, hash);
  // A new kind and id is pushed below as its first run, which names it.
  RunSlots& slots = found == kNoRun ? AddSlots(hash) : slots_[found];
  if (start) {
    if (slots.open != kNoRun) runs_[slots.open].result = RunResult::kNoEnd;
    slots.open = runs_.size();
    opened_.push_back(size_t(&slots - slots_.data()));
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
  const size_t found = Find(kind, id, NameHash(kind, id));
  if (found == kNoRun) return std::nullopt;
  return runs_[slots_[found].last];
}

size_t JournalRuns::Find(std::string_view kind, std::string_view id,
                         uint64_t hash) const {
  if (slots_by_hash_.empty()) return kNoRun;
  const size_t mask = slots_by_hash_.size() - 1;
  for (size_t at = hash & mask;; at = (at + 1) & mask) {
    const uint32_t entry = slots_by_hash_[at];
    if (entry == 0) return kNoRun;
    const RunSlots& slots = slots_[entry - 1];
    const JournalRun& named = runs_[slots.last];
    if (slots.hash == hash && SameName(kind, id, named.kind, named.id)) return entry - 1;
  }
}

JournalRuns::RunSlots& JournalRuns::AddSlots(uint64_t hash) {
  slots_.push_back(RunSlots{.hash = hash});
  if (slots_.size() * 2 > slots_by_hash_.size()) {
    slots_by_hash_.assign(std::max<size_t>(64, slots_by_hash_.size() * 2), 0);
    for (size_t slots = 0; slots < slots_.size(); ++slots) Place(slots);
  } else {
    Place(slots_.size() - 1);
  }
  return slots_.back();
}

void JournalRuns::Place(size_t slots) {
  const size_t mask = slots_by_hash_.size() - 1;
  size_t at = slots_[slots].hash & mask;
  while (slots_by_hash_[at] != 0) at = (at + 1) & mask;
  slots_by_hash_[at] = static_cast<uint32_t>(slots + 1);
}

bool ReadJournalRuns(const platform::HeldFolder& folder, JournalRuns* runs,
                     platform::FailedCall* failure) {
  return ReadJournal(folder, JournalReader::kViewer,
                     [runs](const JournalFields& fields) { runs->Add(fields); },
                     failure);
}

}  // namespace corvana::schedules

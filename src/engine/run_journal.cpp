#include "engine/run_journal.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>
#include <unordered_set>

#include "calendar/zone_offset.h"
#include "engine/due_rules.h"
#include "engine/run_slots.h"
#include "environment/app_context.h"
#include "logging/log.h"
#include "logging/log_lines.h"
#include "platform/env.h"
#include "platform/seams.h"
#include "schedules/next_starts.h"

namespace corvana {
namespace {

constexpr int64_t kDayS = 86400;
// More than any rule starts in a day: hourly, with the hour that repeats.
constexpr int kStartsPerDayBound = 64;

JournalRecord Now(JournalRecordType type) {
  JournalRecord record;
  record.type = type;
  record.time_s = platform::CurrentClock().NowSeconds();
  record.utc_offset_s = UtcOffsetS(record.time_s);
  return record;
}

void WriteServiceRecord(JournalRecordType type) {
  const AppContext* context = GetAppContext();
  if (context == nullptr) return;
  const std::string folder = context->HomePath.empty()
                                 ? platform::CurrentDirectory()
                                 : context->HomePath;
  JournalRecord record = Now(type);
  record.version = context->version_text;
  record.data_folder = folder;
  WriteJournal(record);
}

template <class Definition>
void JournalStillRunning(RunKind kind, const std::vector<Definition>& list) {
  for (const Definition& record : list) {
    if (record.process != 0) {
      JournalRunEnded(kind, record.id, record, RunEnding::kServiceStopped,
                      std::nullopt);
    }
  }
}

struct IdHash {
  using is_transparent = void;
  size_t operator()(std::string_view id) const {
    return std::hash<std::string_view>{}(id);
  }
};

// What the journal says of the time before this start.
struct JournalHistory {
  std::optional<int64_t> last_record_s;
  // By id; looked up by the journal's views without a string made.
  std::unordered_map<std::string, int64_t, IdHash, std::equal_to<>> last_run_s;
};

JournalHistory ReadHistory() {
  JournalHistory history;
  const AppContext* context = GetAppContext();
  if (context == nullptr) return history;
  ReadJournal(context->home_folder, JournalReader::kService,
              [&history](const JournalFields& fields) {
    const std::optional<int64_t> time_s = fields.Number(JournalKey::kTimeS);
    if (!time_s) return;
    history.last_record_s = *time_s;
    const std::string_view* type = fields.String(JournalKey::kRecord);
    const std::string_view* id = fields.String(JournalKey::kId);
    if (id == nullptr || type == nullptr ||
        (*type != "run_start" && *type != "run_end")) {
      return;
    }
    const auto last = history.last_run_s.find(*id);
    if (last == history.last_run_s.end()) {
      history.last_run_s.emplace(*id, std::max(int64_t{0}, *time_s));
    } else {
      last->second = std::max(last->second, *time_s);
    }
  });
  return history;
}

bool Calendar(const Timetable& record) {
  return KindOf(record.type_schedule) != ScheduleKind::kOnce;
}
}  // namespace

bool AsksForCatchUp(const ScheduleDefinition& record) {
  return record.run_missed == 1;
}
bool AsksForCatchUp(const WebServerDefinition& record) {
  return record.run_missed == 1 && Calendar(record);
}

namespace {

std::vector<schedules::Start> StartsOf(const ScheduleDefinition& record,
                                       const schedules::Replay& replay) {
  return schedules::NextScheduleStarts(record, replay);
}
std::vector<schedules::Start> StartsOf(const WebServerDefinition& record,
                                       const schedules::Replay& replay) {
  return schedules::NextWebServerStarts(record, replay);
}

// Whether the ordinary tick starts it now anyway; asked of a copy.
bool DueNow(ScheduleDefinition record, const ClockReading& now) {
  return IsScheduleDue(record, now.local);
}
bool DueNow(WebServerDefinition record, const ClockReading& now) {
  return IsWebServerDue(record, now);
}

// As the tick launches one, waiting for a slot as it would.
void Launch(SchedulerEngine& engine, ScheduleDefinition& record,
            const ClockReading& now, int64_t missed_s) {
  RunDueSchedule(engine, record, now, missed_s);
}
void Launch(SchedulerEngine& engine, WebServerDefinition& record,
            const ClockReading& now, int64_t missed_s) {
  RunDueWebServerUpdate(engine, record, now, missed_s);
}

RunKind KindOf(const ScheduleDefinition&) { return RunKind::kSchedule; }
RunKind KindOf(const WebServerDefinition&) { return RunKind::kWebServerUpdate; }

std::string LocalText(const platform::LocalTime& local, int named_second) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.year,
                local.month_index + 1, local.day, local.hour, local.minute,
                named_second >= 0 ? named_second : local.second);
  return text;
}

// The latest start of the last day as the engine's rules replay it, as if
// the service had run all along; none when it would start now anyway.
template <class Definition>
std::optional<schedules::Start> LatestStart(const Definition& record,
                                            const ClockReading& now) {
  schedules::Replay replay;
  replay.from_s = now.seconds - kDayS;
  replay.until_s = now.seconds;
  replay.count = kStartsPerDayBound;
  const std::vector<schedules::Start> starts = StartsOf(record, replay);
  if (starts.empty() || DueNow(record, now)) return std::nullopt;
  return starts.back();
}

template <class Definition>
void CatchUpList(SchedulerEngine& engine, std::vector<Definition>& list,
                 const JournalHistory& history, const ClockReading& now,
                 std::unordered_set<std::string>* caught_up) {
  for (Definition& record : list) {
    if (!AsksForCatchUp(record) || caught_up->contains(record.id)) continue;
    const std::optional<schedules::Start> start = LatestStart(record, now);
    if (!start || start->seconds <= *history.last_record_s) continue;
    const auto ran = history.last_run_s.find(record.id);
    if (ran != history.last_run_s.end() && ran->second >= start->seconds) {
      continue;
    }
    caught_up->insert(record.id);
    const std::string missed = LocalText(start->local, start->named_second);
    WriteTimestampedLog(log_line::kMissedStart + missed +
                        log_line::kMissedStartId + record.id);
    ReportMissedStartRun(KindOf(record), record.id, missed);
    Launch(engine, record, now, start->seconds);
  }
}

template <class Definition>
bool AnyAsks(const std::vector<Definition>& list) {
  for (const Definition& record : list) {
    if (AsksForCatchUp(record)) return true;
  }
  return false;
}

}  // namespace

void JournalServiceStopped(const SchedulerEngine& engine) {
  JournalStillRunning(RunKind::kSchedule, engine.schedules);
  JournalStillRunning(RunKind::kWebServerUpdate, engine.web_servers);
  JournalStillRunning(RunKind::kSchedule, engine.vanished_schedules);
  JournalStillRunning(RunKind::kWebServerUpdate, engine.vanished_web_servers);
  WriteServiceRecord(JournalRecordType::kServiceStop);
}

void JournalRunStarted(RunKind kind, const std::string& id,
                       const std::string& file_name, const RunState& run,
                       int64_t missed_s) {
  JournalRecord record = Now(JournalRecordType::kRunStart);
  record.kind = kind;
  record.id = id;
  record.file = file_name;
  record.pid = platform::ProcessIdOf(run.process);
  record.missed_s = missed_s;
  WriteJournal(record);
}

void JournalRunEnded(RunKind kind, const std::string& id, const RunState& run,
                     RunEnding ending, std::optional<uint32_t> exit_code) {
  JournalRecord record = Now(JournalRecordType::kRunEnd);
  record.kind = kind;
  record.id = id;
  record.ending = ending;
  record.exit_code = exit_code;
  const int64_t ran_ms =
      platform::CurrentClock().MonotonicMs() - run.started_monotonic_ms;
  record.duration_s = ran_ms > 0 ? (ran_ms + 500) / 1000 : 0;
  WriteJournal(record);
}

void JournalRunNotStarted(RunKind kind, const std::string& id,
                          const std::string& cause) {
  JournalRecord record = Now(JournalRecordType::kRunEnd);
  record.kind = kind;
  record.id = id;
  record.ending = RunEnding::kNotStarted;
  record.cause = cause;
  WriteJournal(record);
}

void BeginJournal(SchedulerEngine& engine) {
  const bool asked = AnyAsks(engine.schedules) || AnyAsks(engine.web_servers);
  const JournalHistory history = asked ? ReadHistory() : JournalHistory();
  WriteServiceRecord(JournalRecordType::kServiceStart);
  // An empty journal cannot say when the service was down.
  if (!history.last_record_s) return;
  ClockReading now;
  now.seconds = platform::CurrentClock().NowSeconds();
  if (!platform::ToLocalTime(now.seconds, &now.local)) return;
  std::unordered_set<std::string> caught_up;
  CatchUpList(engine, engine.schedules, history, now, &caught_up);
  CatchUpList(engine, engine.web_servers, history, now, &caught_up);
}

}  // namespace corvana

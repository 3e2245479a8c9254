#include "schedules/report_model.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "definitions/definition_loader.h"
#include "engine/due_rules.h"
#include "engine/run_journal.h"
#include "environment/app_context.h"
#include "logging/escape.h"
#include "logging/log.h"
#include "logging/log_lines.h"
#include "logging/log_stamp.h"
#include "platform/clock.h"
#include "platform/event_log.h"
#include "platform/seams.h"
#include "schedules/lint.h"
#include "schedules/local_stamps.h"
#include "schedules/next_starts.h"
#include "schedules/rule_text.h"
#include "webserver/nginx_trust.h"

namespace corvana::schedules {
namespace {

constexpr char kCatchUpNote[] = "; a missed start runs at the next service start";

// The reader's lines for the file at hand; the progress lines that every
// file gets say nothing about why one failed.
class CaptureSink final : public LogSink {
 public:
  CaptureSink() { SetLogSink(this); }
  ~CaptureSink() override { SetLogSink(nullptr); }
  CaptureSink(const CaptureSink&) = delete;
  CaptureSink& operator=(const CaptureSink&) = delete;

  void Write(const char* message) override {
    const std::string_view text(message);
    if (text.starts_with(log_line::kLoadSettings) || text == log_line::kLoadSettingsOk) {
      return;
    }
    lines_.emplace_back(text);
  }
  std::vector<std::string> Take() { return std::exchange(lines_, {}); }

 private:
  std::vector<std::string> lines_;
};

std::optional<LastRun> Find(const RunsById& runs, const std::string& id) {
  const auto found = runs.find(id);
  if (found == runs.end()) return std::nullopt;
  // A run's times are the log's stamps, which ReadStampTime took only as
  // digits and separators: nothing in them to escape.
  return found->second;
}

// Names are plain nearly always: checked a word at a time, then copied
// straight into their place.
void AssignEscaped(std::string_view text, std::string* out) {
  if (NeedsEscaping(text)) {
    *out = EscapeControlCharacters(text);
  } else {
    out->assign(text);
  }
}

// Filled where the row already lies in its list: a row is hundreds of bytes
// to move.
template <class Definition>
void FillRow(const char* file, const Definition& record,
             const RunsById& runs, std::optional<JournalRun> journal_run,
             DefinitionRow* row) {
  // Names and the log's text are users' bytes, shown on a terminal.
  AssignEscaped(record.id, &row->id);
  AssignEscaped(file, &row->file);
  row->enabled = record.enabled != 0;
  row->last_run = Find(runs, row->id);  // the log shows ids escaped
  if (!journal_run) return;
  row->journal_run = std::make_unique<JournalRun>(std::move(*journal_run));
  row->journal_run->id = row->id;
}

// A log stamp's local date and time, for the latch a reload carries.
std::optional<platform::LocalTime> StampFields(std::string_view stamp) {
  platform::LocalTime local;
  if (!ReadStampTime(stamp, &local)) return std::nullopt;
  return local;
}

// The service's state as its log shows it, for one definition: what the
// replay of its rule starts from.
class LoadPoint {
 public:
  LoadPoint(const Report& report, const RunHistory& history, int64_t now_s)
      : history_(history), limit_s_(std::max(now_s, report.from_s)) {
    base_.from_s = report.from_s;
    base_.until_s = report.until_s;
    base_.count = report.next_count;
    base_.load_s = report.from_s;
    if (report.load_s && *report.load_s <= report.from_s) {
      base_.load_s = *report.load_s;
      base_.reloaded = history.last_load_reloaded;
      base_.load_known = true;
    }
  }

  Replay For(const std::optional<LastRun>& run, ZoneDays* zone_days) {
    Replay replay = base_;
    if (!run) return replay;
    const std::string_view started = run->started;
    Read(started, zone_days);
    replay.last_start_s = started_s_;
    // Stamps of one log compare as text; a start-up forgets every latch.
    if (started >= history_.last_start_up && started <= history_.last_load) {
      replay.last_start = started_fields_;
    }
    return replay;
  }

 private:
  // Runs the service started together share their stamp: one like the last
  // row's is not read again, nor made a string for the reader that wants one.
  void Read(std::string_view started, ZoneDays* zone_days) {
    if (started_read_ && started == started_) return;
    started_read_ = true;
    started_.assign(started);
    started_s_ = StampNotAfter(started_, limit_s_, zone_days);
    started_fields_ = StampFields(started_);
  }

  const RunHistory& history_;
  int64_t limit_s_;
  Replay base_;
  bool started_read_ = false;
  std::string started_;
  std::optional<int64_t> started_s_;
  std::optional<platform::LocalTime> started_fields_;
};

// A kind's rows as the folder gives them, in blocks made whole at once: a
// row of ~360 bytes stays where it was made (a vector grown row by row moved
// each twice; a deque gave each its own allocation), and the sort then moves
// each into the report once.
class RowBlocks {
 public:
  DefinitionRow& Add() {
    if (blocks_.empty() || blocks_.back().size() == kRowsPerBlock) {
      blocks_.emplace_back().reserve(kRowsPerBlock);
    }
    return blocks_.back().emplace_back();
  }
  size_t size() const {
    return blocks_.empty() ? 0 : (blocks_.size() - 1) * kRowsPerBlock + blocks_.back().size();
  }
  DefinitionRow& operator[](size_t index) {
    return blocks_[index / kRowsPerBlock][index % kRowsPerBlock];
  }
  const DefinitionRow& operator[](size_t index) const {
    return blocks_[index / kRowsPerBlock][index % kRowsPerBlock];
  }

 private:
  static constexpr size_t kRowsPerBlock = 256;
  std::vector<std::vector<DefinitionRow>> blocks_;
};

// What sets the two kinds of definition apart in the report.
template <class Definition>
struct KindOf {
  const char* name;
  RunKind run_kind;  // what the journal calls its runs
  bool (*for_each_file)(const platform::HeldFolder& folder,
                        const DefinitionVisitor<Definition>& visit);
  std::string (*rule_text)(const Definition& record);
  std::vector<Start> (*next)(const Definition& record, const Replay& replay,
                             ZoneDays* zone_days);
};

class DefinitionReader {
 public:
  DefinitionReader(const platform::HeldFolder& folder, Report* report,
                   const RunHistory& history, const JournalRuns& journal)
      : folder_(folder),
        report_(report),
        journal_(journal),
        load_(*report, history, platform::CurrentClock().NowSeconds()) {}

  // One row per file of the kind, a failed file with the reader's messages
  // instead; false when the folder cannot be listed.
  template <class Definition>
  bool Read(const KindOf<Definition>& kind,
            const RunsById& runs, RowBlocks* rows) {
    return kind.for_each_file(
        folder_,
        [&](const char* file, const SettingsFailure* failure, Definition& record) {
          if (failure != nullptr) return Failed(file, kind.name, *failure);
          capture_.Take();
          DefinitionRow& row = rows->Add();
          FillRow(file, record, runs,
                  journal_.Last(JournalKindName(kind.run_kind), record.id), &row);
          row.rule = kind.rule_text(record);
          if (AsksForCatchUp(record)) row.rule += kCatchUpNote;
          if (row.enabled && report_->home_refused.empty()) {
            const Replay replay = load_.For(row.last_run, &zone_days_);
            row.next = kind.next(record, replay, &zone_days_);
            if (row.next.empty()) WarnIfNeverRuns(kind, record, replay, row.file);
          }
        });
  }

 private:
  void Failed(const char* file, const char* kind, const SettingsFailure& failure) {
    std::vector<std::string> messages = capture_.Take();
    for (std::string& message : messages) message = EscapeControlCharacters(message);
    std::string reason = failure.reason;
    if (failure.line > 0) {
      reason = "line " + std::to_string(failure.line) + ": " + failure.text + ": " + reason;
    }
    report_->failed_files.push_back({EscapeControlCharacters(file), kind,
                                     std::move(messages), EscapeControlCharacters(reason)});
  }

  // No start in what was asked for: whether one comes at all, as far as the
  // search looks, from the same state of the service.
  template <class Definition>
  void WarnIfNeverRuns(const KindOf<Definition>& kind, const Definition& record,
                       Replay replay, const std::string& file) {
    replay.until_s = kNoUntil;
    replay.count = 1;
    if (!kind.next(record, replay, &zone_days_).empty()) return;
    report_->warnings.push_back(
        {file, "never runs: " + NeverRunsReason(record, replay.from_s)});
  }

  const platform::HeldFolder& folder_;
  Report* report_;
  const JournalRuns& journal_;
  CaptureSink capture_;
  ZoneDays zone_days_;
  LoadPoint load_;
};

// How many bytes every id begins with: ids named by a pattern ("Schedule
// 17") share a head that each comparison would otherwise read again.
size_t SharedHeadLength(const RowBlocks& rows) {
  if (rows.size() == 0) return 0;
  std::string_view head = rows[0].id;
  for (size_t index = 0; index < rows.size(); ++index) {
    const std::string& id = rows[index].id;
    const auto [at, unused] = std::mismatch(head.begin(), head.end(), id.begin(), id.end());
    head = head.substr(0, static_cast<size_t>(at - head.begin()));
  }
  return head.size();
}

// The eight bytes of `id` from `from` as one number that orders as they do,
// zeros past its end: a shorter id then orders first, as it does as text.
uint64_t OrderingWord(std::string_view id, size_t from) {
  uint64_t word = 0;
  for (size_t i = 0; i < 8; ++i) {
    const size_t at = from + i;
    word = word << 8 | (at < id.size() ? static_cast<unsigned char>(id[at]) : 0u);
  }
  return word;
}

// A row is large: sorting the rows themselves moved each one about log n
// times, a tenth of the whole report's work at 10,000 rows; sorting their
// keys moves each row once, and the comparisons read a small array instead
// of rows scattered over the heap. Most comparisons end at the word after
// the shared head; equal words fall back to the whole texts.
void SortById(RowBlocks* rows, std::vector<DefinitionRow>* sorted) {
  // Small, for the sort to move: the texts are read from the rows only
  // when the words are equal.
  struct Key {
    uint64_t word;
    uint32_t index;
  };
  const size_t head = SharedHeadLength(*rows);
  std::vector<Key> keys;
  keys.reserve(rows->size());
  for (size_t index = 0; index < rows->size(); ++index) {
    keys.push_back({OrderingWord((*rows)[index].id, head), static_cast<uint32_t>(index)});
  }
  std::sort(keys.begin(), keys.end(), [rows](const Key& a, const Key& b) {
    if (a.word != b.word) return a.word < b.word;
    const DefinitionRow& row_a = (*rows)[a.index];
    const DefinitionRow& row_b = (*rows)[b.index];
    return std::tie(row_a.id, row_a.file, a.index) < std::tie(row_b.id, row_b.file, b.index);
  });
  sorted->reserve(rows->size());
  for (const Key& key : keys) sorted->push_back(std::move((*rows)[key.index]));
}

void ReadDefinitions(const platform::HeldFolder& folder, Report* report,
                     const RunHistory& history, const JournalRuns& journal) {
  DefinitionReader reader(folder, report, history, journal);
  const KindOf<ScheduleDefinition> schedules{
      "schedule", RunKind::kSchedule, &ForEachScheduleFile, &ScheduleRuleText,
      &NextScheduleStarts};
  const KindOf<WebServerDefinition> web_servers{
      "webserver", RunKind::kWebServerUpdate, &ForEachWebServerFile,
      &WebServerRuleText,
      &NextWebServerStarts};
  RowBlocks schedule_rows;
  RowBlocks web_server_rows;
  bool listed = reader.Read(schedules, history.schedules, &schedule_rows);
  listed = reader.Read(web_servers, history.web_servers, &web_server_rows) && listed;
  report->folder_listed = listed;
  // An operator looks a definition up by its id; the file system's order
  // differs between machines and between runs.
  SortById(&schedule_rows, &report->schedules);
  AddSharedIdWarnings(report->schedules, &report->warnings);
  SortById(&web_server_rows, &report->web_servers);
  AddSharedIdWarnings(report->web_servers, &report->warnings);
  std::stable_sort(report->warnings.begin(), report->warnings.end(),
                   [](const Warning& a, const Warning& b) { return a.file < b.file; });
  std::sort(report->failed_files.begin(), report->failed_files.end(),
            [](const FailedFile& a, const FailedFile& b) { return a.file < b.file; });
}

// The very check the web-server command makes before it starts nginx.exe,
// for the service's account whoever runs this: a tree its caller owns is no
// tree the system would run.
void CheckNginx(Report* report) {
  const NginxTrust trust =
      CheckNginxTrust(report->home, platform::ServiceAccount::kSystem);
  report->nginx.present = trust.present;
  report->nginx.trusted = trust.trusted;
  report->nginx.trust_detail = EscapeControlCharacters(trust.reason);
  report->nginx.wanted =
      std::any_of(report->web_servers.begin(), report->web_servers.end(),
                  [](const DefinitionRow& row) { return row.enabled; });
  // Kept running only where the service would start it.
  report->nginx.kept_running =
      report->nginx.wanted && trust.trusted && report->home_refused.empty();
}

std::string EventSourceText(platform::EventSourceState state) {
  const std::string source = platform::kEventSourceName;
  switch (state) {
    case platform::EventSourceState::kRegistered:
      return "Event Log source " + source + ", registered";
    case platform::EventSourceState::kNotRegistered:
      return "Event Log source " + source + ", not registered (run --install)";
    case platform::EventSourceState::kNoRegistration:
      break;
    case platform::EventSourceState::kNoReceiver:
      return "syslog, ident " + source + ", but no syslog socket takes them: they are lost";
  }
  return "syslog, ident " + source;
}

}  // namespace

Report BuildReport(const platform::HeldFolder& folder, const std::string& home,
                   int64_t from_s, int next_count, int64_t until_s,
                   platform::ServiceAccount service) {
  Report report;
  report.home = home;
  report.home_refused = EscapeControlCharacters(HomeRefusal(home, service));
  report.from_s = from_s;
  report.next_count = next_count;
  report.until_s = until_s;
  RunHistory history;
  platform::FailedCall log_failure;
  report.log_read = ReadRunHistory(folder, &history, &log_failure);
  report.log_error = platform::FailedCallText(log_failure);
  if (!history.last_load.empty()) {
    report.load_s = StampNotAfter(
        history.last_load, std::max(platform::CurrentClock().NowSeconds(), from_s));
  }
  report.last_serve = EscapeControlCharacters(history.last_serve);
  JournalRuns journal;
  ReadJournalRuns(folder, &journal);
  ReadDefinitions(folder, &report, history, journal);
  CheckNginx(&report);
  report.event_source = EventSourceText(platform::QueryEventLogSource());
  return report;
}

int ReportExitCode(const Report& report) {
  if (!report.home_refused.empty()) return kExitHomeRefused;
  return report.folder_listed && report.failed_files.empty() ? 0 : 1;
}

const char* OutcomeText(StartOutcome outcome) {
  switch (outcome) {
    case StartOutcome::kPending: return "started";
    // The log's "Successful run" says only that the start worked.
    case StartOutcome::kSuccessful: return "started";
    case StartOutcome::kFailed: return "failed";
    case StartOutcome::kStillActive: return "still active";
  }
  return "";
}

namespace {

void AppendNumber(int64_t value, std::string* out) {
  char digits[24];
  out->append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void AppendAfter(const JournalRun& run, std::string* out) {
  if (!run.duration_s) return;
  out->append(" after ");
  AppendNumber(*run.duration_s, out);
  out->append(" s");
}

}  // namespace

void AppendJournalOutcome(const JournalRun& run, std::string* out) {
  switch (run.result) {
    case RunResult::kRunning:
      out->append("running since ");
      AppendLocalStamp(run.start_s, out);
      return;
    case RunResult::kExited:
      if (!run.exit_code) {
        out->append("exited");
        AppendAfter(run, out);
        out->append(", exit code unknown");
        return;
      }
      out->append("exit ");
      AppendNumber(*run.exit_code, out);
      AppendAfter(run, out);
      if (*run.exit_code != 0) out->append(" (failed)");
      return;
    case RunResult::kTimeLimit: out->append("ended at the one-day limit"); return;
    case RunResult::kNotStarted:
      out->append("could not be started").append(Parenthesised(run.cause));
      return;
    case RunResult::kServiceStopped:
      out->append("still running when the service stopped");
      AppendAfter(run, out);
      return;
    case RunResult::kNoEnd: out->append("no end recorded (the service stopped)"); return;
  }
}

std::string JournalOutcomeText(const JournalRun& run) {
  std::string text;
  AppendJournalOutcome(run, &text);
  return text;
}

std::string Parenthesised(const std::string& cause) {
  return cause.empty() ? "" : " (" + EscapeControlCharacters(cause) + ")";
}

std::string ServeWindowStart() {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d", kServeWindowHour, kServeWindowMinute);
  return text;
}

}  // namespace corvana::schedules

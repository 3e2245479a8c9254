#include "schedules/status_report.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string_view>
#include <utility>

#include "definitions/definition_loader.h"
#include "engine/engine.h"
#include "logging/escape.h"
#include "logging/log.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/event_log.h"
#include "platform/fs.h"
#include "platform/seams.h"
#include "schedules/next_starts.h"
#include "schedules/rule_text.h"
#include "webserver/nginx_trust.h"

namespace corvana::schedules {
namespace {

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
    if (text.starts_with("Load settings '") || text == "Load settings - OK") {
      return;
    }
    lines_.emplace_back(text);
  }
  std::vector<std::string> Take() { return std::exchange(lines_, {}); }

 private:
  std::vector<std::string> lines_;
};

std::optional<LastRun> Find(const std::unordered_map<std::string, LastRun>& runs,
                            const std::string& id) {
  const auto found = runs.find(id);
  if (found == runs.end()) return std::nullopt;
  LastRun run = found->second;
  run.started = EscapeControlCharacters(run.started);
  run.ended = EscapeControlCharacters(run.ended);
  return run;
}

template <class Definition>
DefinitionRow Row(const char* file, const Definition& record,
                  const std::unordered_map<std::string, LastRun>& runs) {
  DefinitionRow row;
  // Names and the log's text are users' bytes, shown on a terminal.
  row.id = EscapeControlCharacters(record.id);
  row.file = EscapeControlCharacters(file);
  row.enabled = record.enabled != 0;
  row.last_run = Find(runs, record.id);
  return row;
}

// A log stamp's local date and time, for the latch a reload carries.
std::optional<platform::LocalTime> StampFields(const std::string& stamp) {
  platform::LocalTime local;
  int month = 0;
  if (std::sscanf(stamp.c_str(), "%4d-%2d-%2d %2d:%2d:%2d", &local.year, &month,
                  &local.day, &local.hour, &local.minute, &local.second) != 6) {
    return std::nullopt;
  }
  local.month_index = month - 1;
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

  Replay For(const std::optional<LastRun>& run) const {
    Replay replay = base_;
    if (!run) return replay;
    replay.last_start_s = StampNotAfter(run->started, limit_s_);
    // Stamps of one log compare as text; a start-up forgets every latch.
    if (run->started >= history_.last_start_up && run->started <= history_.last_load) {
      replay.last_start = StampFields(run->started);
    }
    return replay;
  }

 private:
  const RunHistory& history_;
  int64_t limit_s_;
  Replay base_;
};

// What sets the two kinds of definition apart in the report.
template <class Definition>
struct KindOf {
  const char* name;
  bool (*for_each_file)(const platform::HeldFolder& folder,
                        const DefinitionVisitor<Definition>& visit);
  std::string (*rule_text)(const Definition& record);
  std::vector<Start> (*next)(const Definition& record, const Replay& replay,
                             ZoneDays* zone_days);
};

class DefinitionReader {
 public:
  DefinitionReader(const platform::HeldFolder& folder, Report* report,
                   const RunHistory& history)
      : folder_(folder),
        report_(report),
        load_(*report, history, platform::CurrentClock().NowSeconds()) {}

  // One row per file of the kind, a failed file with the reader's messages
  // instead; false when the folder cannot be listed.
  template <class Definition>
  bool Read(const KindOf<Definition>& kind,
            const std::unordered_map<std::string, LastRun>& runs,
            std::vector<DefinitionRow>* rows) {
    return kind.for_each_file(
        folder_,
        [&](const char* file, bool loaded, Definition& record) {
          if (!loaded) return Failed(file, kind.name);
          capture_.Take();
          DefinitionRow row = Row(file, record, runs);
          row.rule = kind.rule_text(record);
          if (row.enabled) {
            row.next = kind.next(record, load_.For(row.last_run), &zone_days_);
          }
          rows->push_back(std::move(row));
        });
  }

 private:
  void Failed(const char* file, const char* kind) {
    std::vector<std::string> messages = capture_.Take();
    for (std::string& message : messages) message = EscapeControlCharacters(message);
    report_->failed_files.push_back({EscapeControlCharacters(file), kind,
                                     std::move(messages)});
  }

  const platform::HeldFolder& folder_;
  Report* report_;
  CaptureSink capture_;
  ZoneDays zone_days_;
  const LoadPoint load_;
};

void ReadDefinitions(const platform::HeldFolder& folder, Report* report,
                     const RunHistory& history) {
  DefinitionReader reader(folder, report, history);
  const KindOf<ScheduleDefinition> schedules{
      "schedule", &ForEachScheduleFile, &ScheduleRuleText, &NextScheduleStarts};
  const KindOf<WebServerDefinition> web_servers{
      "webserver", &ForEachWebServerFile, &WebServerRuleText,
      &NextWebServerStarts};
  bool listed = reader.Read(schedules, history.schedules, &report->schedules);
  listed = reader.Read(web_servers, history.web_servers, &report->web_servers) &&
           listed;
  report->folder_listed = listed;
  report->nginx.kept_running =
      std::any_of(report->web_servers.begin(), report->web_servers.end(),
                  [](const DefinitionRow& row) { return row.enabled; });
}

// The very check the web-server command makes before it starts nginx.exe,
// for the service's account whoever runs this: a tree its caller owns is no
// tree the system would run.
void CheckNginx(Report* report) {
  const NginxTrust trust =
      CheckNginxTrust(report->home, platform::ServiceAccount::kSystem);
  report->nginx.present = trust.present;
  report->nginx.trusted = trust.trusted;
  report->nginx.trust_detail = trust.reason;
}

// At least `width` digits of a value that is not negative, zeros ahead;
// gives the end of what it wrote.
char* PutDigits(int value, int width, char* out) {
  char digits[12];
  int length = 0;
  do {
    digits[length++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0 && length < 11);
  for (; width > length; --width) *out++ = '0';
  while (length > 0) *out++ = digits[--length];
  return out;
}

void AppendDigits(int value, int width, std::string* out) {
  char text[24];
  out->append(text, PutDigits(value, width, text));
}

char* PutSeparated(int value, char separator, char* out) {
  *out++ = separator;
  return PutDigits(value, 2, out);
}

// With the offset from UTC: the hour repeated in autumn shows each local
// time twice. Written by hand into one buffer: a report of 10,000 rows has
// 50,000 of them.
void AppendStamp(const Start& start, std::string* out) {
  const platform::LocalTime& local = start.local;
  const int64_t offset_min = (LocalCivilSeconds(local) - start.seconds) / 60;
  char text[128];
  char* p = PutDigits(local.year, 4, text);
  p = PutSeparated(local.month_index + 1, '-', p);
  p = PutSeparated(local.day, '-', p);
  p = PutSeparated(local.hour, ' ', p);
  p = PutSeparated(local.minute, ':', p);
  p = PutSeparated(local.second, ':', p);
  *p++ = ' ';
  p = PutSeparated(static_cast<int>(std::abs(offset_min) / 60),
                   offset_min < 0 ? '-' : '+', p);
  p = PutSeparated(static_cast<int>(std::abs(offset_min) % 60), ':', p);
  out->append(text, p);
}

// The time the rule names, and the second the service starts in where that
// differs: "10:01:30 +01:00 (starts 10:01:29)".
void AppendNamedStamp(const Start& start, std::string* out) {
  if (start.named_second < 0 || start.named_second == start.local.second) {
    return AppendStamp(start, out);
  }
  Start named = start;
  named.local.second = start.named_second;
  named.seconds += start.named_second - start.local.second;
  AppendStamp(named, out);
  out->append(" (starts ");
  AppendDigits(start.local.hour, 2, out);
  out->push_back(':');
  AppendDigits(start.local.minute, 2, out);
  out->push_back(':');
  AppendDigits(start.local.second, 2, out);
  out->push_back(')');
}

size_t NamedStampLength(const Start& start) {
  constexpr size_t kStamp = 26;
  constexpr size_t kStartsSuffix = 18;
  return start.named_second < 0 || start.named_second == start.local.second
             ? kStamp
             : kStamp + kStartsSuffix;
}

std::string StartStamp(const Start& start) {
  std::string text;
  AppendStamp(start, &text);
  return text;
}

const char* OutcomeText(StartOutcome outcome) {
  switch (outcome) {
    case StartOutcome::kPending: return "started";
    case StartOutcome::kSuccessful: return "successful";
    case StartOutcome::kFailed: return "failed";
    case StartOutcome::kStillActive: return "still active";
  }
  return "";
}

std::string LastRunText(const std::optional<LastRun>& run) {
  if (!run) return "-";
  std::string text = run->started + " " + OutcomeText(run->outcome);
  if (run->running) return text + ", running";
  if (!run->ended.empty()) {
    text += (run->ended_after_a_day ? ", ended after a day at " : ", ended ") +
            run->ended;
  }
  return text;
}

// The definition tables: one line per row, the further next starts on
// lines of their own below the first; columns padded to the widest cell.
// Written straight into one buffer: a table of 10,000 rows has 50,000 lines.
class DefinitionTable {
 public:
  explicit DefinitionTable(const std::vector<DefinitionRow>& rows) : rows_(rows) {
    last_.reserve(rows.size());
    for (const DefinitionRow& row : rows) {
      last_.push_back(LastRunText(row.last_run));
      Widen(0, row.id.size());
      Widen(1, row.file.size());
      Widen(2, State(row).size());
      Widen(3, row.rule.size());
      Widen(4, row.next.empty() ? NoNext(row).size() : NamedStampLength(row.next[0]));
    }
  }

  void Render(std::string* out) const {
    size_t lines = 1;
    for (const DefinitionRow& row : rows_) lines += std::max<size_t>(row.next.size(), 1);
    size_t line_length = 16 + last_width();
    for (size_t width : widths_) line_length += width + 2;
    out->reserve(out->size() + lines * line_length);
    const char* header[] = {"id", "file", "state", "rule", "next starts"};
    for (size_t c = 0; c < kPadded; ++c) Cell(c, header[c], out);
    out->append(" last start\n");
    for (size_t r = 0; r < rows_.size(); ++r) RenderRow(rows_[r], last_[r], out);
  }

 private:
  static constexpr size_t kPadded = 5;  // every column but the last

  static std::string_view State(const DefinitionRow& row) {
    return row.enabled ? "enabled" : "disabled";
  }
  static std::string_view NoNext(const DefinitionRow& row) {
    return row.enabled ? "none ahead" : "-";
  }
  void Widen(size_t column, size_t width) {
    widths_[column] = std::max(widths_[column], width);
  }
  size_t last_width() const {
    size_t width = 10;
    for (const std::string& text : last_) width = std::max(width, text.size());
    return width;
  }

  // " " + text padded to the column, as every column but the last.
  void Cell(size_t column, std::string_view text, std::string* out) const {
    out->append(column == 0 ? "  " : " ");
    out->append(text);
    out->append(widths_[column] - text.size() + 1, ' ');
  }

  void RenderRow(const DefinitionRow& row, const std::string& last,
                 std::string* out) const {
    Cell(0, row.id, out);
    Cell(1, row.file, out);
    Cell(2, State(row), out);
    Cell(3, row.rule, out);
    if (row.next.empty()) {
      Cell(4, NoNext(row), out);
    } else {
      out->push_back(' ');
      AppendNamedStamp(row.next[0], out);
      out->append(widths_[4] - NamedStampLength(row.next[0]) + 1, ' ');
    }
    out->push_back(' ');
    out->append(last);
    out->push_back('\n');
    size_t indent = 1;
    for (size_t c = 0; c < 4; ++c) indent += widths_[c] + 2;
    for (size_t l = 1; l < row.next.size(); ++l) {
      out->append(indent + 1, ' ');
      AppendNamedStamp(row.next[l], out);
      out->push_back('\n');
    }
  }

  const std::vector<DefinitionRow>& rows_;
  std::vector<std::string> last_;
  size_t widths_[kPadded] = {2, 4, 5, 4, 11};
};

std::string DefinitionTableText(const char* title, const std::vector<DefinitionRow>& rows) {
  std::string out = std::string(title) + " (" + std::to_string(rows.size()) + ")\n";
  if (rows.empty()) return out + "  none\n";
  DefinitionTable(rows).Render(&out);
  return out;
}

std::string FailedText(const std::vector<FailedFile>& failed) {
  std::string out = "Files that do not load (" + std::to_string(failed.size()) + ")\n";
  if (failed.empty()) return out + "  none\n";
  for (const FailedFile& file : failed) {
    out += "  " + file.file + "\n";
    for (const std::string& message : file.messages) out += "    " + message + "\n";
  }
  return out;
}

std::string ServeWindow() {
  char text[96];
  std::snprintf(text, sizeof text, "%02d:%02d to midnight", kServeWindowHour,
                kServeWindowMinute);
  return text;
}

nlohmann::ordered_json LastRunJson(const std::optional<LastRun>& run) {
  if (!run) return nullptr;
  return {{"started", run->started},
          {"outcome", OutcomeText(run->outcome)},
          {"running", run->running},
          {"ended", run->ended.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(run->ended)},
          {"ended_after_a_day", run->ended_after_a_day}};
}

nlohmann::ordered_json RowsJson(const std::vector<DefinitionRow>& rows) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const DefinitionRow& row : rows) {
    nlohmann::ordered_json next = nlohmann::ordered_json::array();
    for (const Start& start : row.next) next.push_back(StartStamp(start));
    list.push_back({{"id", row.id}, {"file", row.file}, {"enabled", row.enabled},
                    {"rule", row.rule}, {"next", next},
                    {"last_run", LastRunJson(row.last_run)}});
  }
  return list;
}

}  // namespace

std::string LocalStamp(int64_t seconds) {
  platform::LocalTime local;
  if (!platform::ToLocalTime(seconds, &local)) return "?";
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.year,
                local.month_index + 1, local.day, local.hour, local.minute,
                local.second);
  return text;
}

namespace {

// The fields of a stamp as the log writes them, digits in their places,
// read without sscanf: the replay reads one stamp per definition. False
// for any other text, which sscanf then reads as before.
bool ReadPlainStamp(const std::string& text, int* fields) {
  static constexpr char kShape[] = "dddd-dd-dd dd:dd:dd";
  if (text.size() != sizeof kShape - 1) return false;
  int* field = fields;
  *field = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (kShape[i] != 'd') {
      if (c != kShape[i]) return false;
      *++field = 0;
    } else if (c >= '0' && c <= '9') {
      *field = *field * 10 + (c - '0');
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

bool ParseLocalStamp(const std::string& text, int64_t* seconds) {
  int f[6];  // year, month, day, hour, minute, second
  char tail;
  if (text.size() != 19) return false;
  const bool plain = ReadPlainStamp(text, f);
  if ((!plain && std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &f[0], &f[1],
                             &f[2], &f[3], &f[4], &f[5], &tail) != 6) ||
      !platform::FromLocalTime(f[0], f[1] - 1, f[2], f[3], f[4], f[5], seconds)) {
    return false;
  }
  // Out-of-range fields would carry over; a skipped local time moves. Digits
  // in their places read back as the same fields; other text must read back
  // as itself.
  platform::LocalTime local;
  if (!plain) return LocalStamp(*seconds) == text;
  return platform::ToLocalTime(*seconds, &local) && local.year == f[0] &&
         local.month_index == f[1] - 1 && local.day == f[2] && local.hour == f[3] &&
         local.minute == f[4] && local.second == f[5];
}

namespace {

// The fields a stamp shows, compared instead of two stamps' text: the
// replay reads one stamp per definition, and formatting three candidates
// each showed in the whole run of `schedules`.
bool SameStampFields(const platform::LocalTime& a, const platform::LocalTime& b) {
  return a.year == b.year && a.month_index == b.month_index && a.day == b.day &&
         a.hour == b.hour && a.minute == b.minute && a.second == b.second;
}

}  // namespace

std::optional<int64_t> StampNotAfter(const std::string& stamp, int64_t limit_s) {
  int64_t seconds = 0;
  platform::LocalTime shown;
  // ParseLocalStamp made sure that `seconds` reads back as the stamp.
  if (!ParseLocalStamp(stamp, &seconds) || !platform::ToLocalTime(seconds, &shown)) {
    return std::nullopt;
  }
  std::optional<int64_t> latest;
  for (int64_t shift_s : {-3600, 0, 3600}) {
    const int64_t candidate = seconds + shift_s;
    if (candidate > limit_s) continue;
    platform::LocalTime local;
    if (shift_s == 0 ||
        (platform::ToLocalTime(candidate, &local) && SameStampFields(local, shown))) {
      latest = candidate;
    }
  }
  return latest;
}

std::string OffsetStamp(int64_t seconds) {
  Start start{seconds, {}};
  if (!platform::ToLocalTime(seconds, &start.local)) return "?";
  return StartStamp(start);
}

bool ParseFromTime(const std::string& text, int64_t* seconds, std::string* error) {
  const std::string local = text.substr(0, 19);
  int64_t guess = 0;
  if ((text.size() != 19 && text.size() != 26) || !ParseLocalStamp(local, &guess)) {
    *error = "--from wants an existing local time as \"YYYY-MM-DD hh:mm:ss\" or "
             "\"YYYY-MM-DD hh:mm:ss +hh:mm\", not \"" + text + "\"";
    return false;
  }
  std::vector<std::string> instances;
  for (int64_t shift_s : {-3600, 0, 3600}) {
    const int64_t candidate = guess + shift_s;
    if (LocalStamp(candidate) != local) continue;
    const std::string stamp = OffsetStamp(candidate);
    if (text.size() == 19 || stamp == text) *seconds = candidate;
    if (text.size() == 19 || stamp == text) instances.push_back(stamp);
  }
  if (instances.size() == 1) return true;
  *error = instances.empty()
               ? "--from: " + local + " has no offset " + text.substr(20) + " here"
               : "--from: " + local + " happens twice here, as " + instances[0] +
                     " and as " + instances[1] + "; add the offset";
  return false;
}

namespace {

std::string EventSourceText(platform::EventSourceState state) {
  const std::string source = platform::kEventSourceName;
  switch (state) {
    case platform::EventSourceState::kRegistered:
      return "Event Log source " + source + ", registered";
    case platform::EventSourceState::kNotRegistered:
      return "Event Log source " + source + ", not registered (run --install)";
    case platform::EventSourceState::kNoRegistration:
      break;
  }
  return "syslog, ident " + source;
}

}  // namespace

Report BuildReport(const platform::HeldFolder& folder, const std::string& home,
                   int64_t from_s, int next_count, int64_t until_s) {
  Report report;
  report.home = home;
  report.from_s = from_s;
  report.next_count = next_count;
  report.until_s = until_s;
  RunHistory history;
  report.log_read = ReadRunHistory(folder, &history);
  if (!history.last_load.empty()) {
    report.load_s = StampNotAfter(
        history.last_load, std::max(platform::CurrentClock().NowSeconds(), from_s));
  }
  report.last_serve = EscapeControlCharacters(history.last_serve);
  ReadDefinitions(folder, &report, history);
  CheckNginx(&report);
  report.event_source = EventSourceText(platform::QueryEventLogSource());
  return report;
}


int ReportExitCode(const Report& report) {
  return report.folder_listed && report.failed_files.empty() ? 0 : 1;
}

std::string RenderText(const Report& report) {
  std::string out = "Home: " + EscapeControlCharacters(report.home) + "\nFrom: " + OffsetStamp(report.from_s) +
                    " (local time)\n";
  if (!report.folder_listed) out += "The folder cannot be listed.\n";
  out += "\n" + DefinitionTableText("Schedules", report.schedules) + "\n" +
         DefinitionTableText("Web servers", report.web_servers) + "\n" +
         FailedText(report.failed_files) + "\n";
  const NginxStatus& nginx = report.nginx;
  out += std::string("nginx: ") +
         (nginx.kept_running ? "kept running (an enabled web server loads)"
                             : "not started (no enabled web server)") + "\n";
  out += std::string("webserver/nginx.exe: ") +
         (nginx.trusted ? "present, trusted"
                        : nginx.present ? "present, would not be started: it " + nginx.trust_detail
                                        : "missing") + "\n";
  out += "Serve run (Ravo.exe -serve): " + ServeWindow() +
         " on an evening after a day with work; last " +
         (report.last_serve.empty() ? "none in the log" : report.last_serve) + "\n";
  out += "Events: " + report.event_source + "\n";
  if (!report.log_read) out += "Log: " + std::string(kLogFileName) + " cannot be read\n";
  return out;
}

std::string RenderJson(const Report& report) {
  nlohmann::ordered_json failed = nlohmann::ordered_json::array();
  for (const FailedFile& file : report.failed_files) {
    failed.push_back({{"file", file.file}, {"kind", file.kind}, {"messages", file.messages}});
  }
  const nlohmann::ordered_json out = {
      {"home", EscapeControlCharacters(report.home)},
      {"from", OffsetStamp(report.from_s)},
      {"folder_listed", report.folder_listed},
      {"log_read", report.log_read},
      {"schedules", RowsJson(report.schedules)},
      {"web_servers", RowsJson(report.web_servers)},
      {"failed_files", failed},
      {"nginx", {{"kept_running", report.nginx.kept_running},
                 {"present", report.nginx.present},
                 {"trusted", report.nginx.trusted},
                 {"trust_detail", report.nginx.trust_detail}}},
      {"events", report.event_source},
      {"serve_window", {{"from", ServeWindow().substr(0, 5)}, {"to", "24:00"},
                        {"last", report.last_serve.empty() ? nlohmann::ordered_json(nullptr)
                                                           : nlohmann::ordered_json(report.last_serve)}}},
  };
  // Ids and names are bytes in the system's code page, not always UTF-8.
  return out.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace corvana::schedules

#include "status/status_report.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string_view>
#include <utility>

#include "definitions/definition_loader.h"
#include "engine/engine.h"
#include "logging/log.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "status/next_starts.h"
#include "status/rule_text.h"
#include "webserver/nginx_trust.h"

namespace corvana::status {
namespace {

// The reader's lines for the file at hand; the progress lines that every
// file gets say nothing about why one failed.
class CaptureSink final : public LogSink {
 public:
  CaptureSink() { SetLogSink(this); }
  ~CaptureSink() override { SetLogSink(nullptr); }
  CaptureSink(const CaptureSink&) = delete;
  CaptureSink& operator=(const CaptureSink&) = delete;

  void Write(const char* message, uint32_t) override {
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
  return found->second;
}

template <class Definition>
DefinitionRow Row(const char* file, const Definition& record,
                  const std::unordered_map<std::string, LastRun>& runs) {
  DefinitionRow row;
  row.id = record.id;
  row.file = file;
  row.enabled = record.enabled != 0;
  row.last_run = Find(runs, record.id);
  return row;
}

void ReadDefinitions(Report* report, const RunHistory& history) {
  CaptureSink capture;
  ZoneDays zone_days;
  auto failed = [&](const char* file, const char* kind) {
    report->failed_files.push_back({file, kind, capture.Take()});
  };
  bool listed = ForEachScheduleFile(
      report->home, [&](const char* file, bool loaded, ScheduleDefinition& record) {
        if (!loaded) return failed(file, "schedule");
        capture.Take();
        DefinitionRow row = Row(file, record, history.schedules);
        row.rule = ScheduleRuleText(record);
        if (row.enabled) {
          row.next = NextScheduleStarts(record, report->from_s, report->next_count,
                                        &zone_days);
        }
        report->schedules.push_back(std::move(row));
      });
  listed = ForEachWebServerFile(
      report->home, [&](const char* file, bool loaded, WebServerDefinition& record) {
        if (!loaded) return failed(file, "webserver");
        capture.Take();
        DefinitionRow row = Row(file, record, history.web_servers);
        row.rule = WebServerRuleText(record);
        if (row.enabled) {
          std::optional<int64_t> last_update_s;
          int64_t started_s = 0;
          if (row.last_run && ParseLocalStamp(row.last_run->started, &started_s)) {
            last_update_s = started_s;
          }
          row.next = NextWebServerStarts(record, report->from_s,
                                           report->next_count, last_update_s,
                                           &zone_days);
          report->nginx.kept_running = true;
        }
        report->web_servers.push_back(std::move(row));
      }) && listed;
  report->folder_listed = listed;
}

// The very check the web-server command makes before it starts nginx.exe.
void CheckNginx(Report* report) {
  const NginxTrust trust = CheckNginxTrust(report->home);
  report->nginx.present = trust.present;
  report->nginx.trusted = trust.trusted;
  report->nginx.trust_detail = trust.reason;
}

void AppendDigits(int value, int width, std::string* out) {
  char digits[12];
  int length = 0;
  do {
    digits[length++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0 && length < 11);
  out->append(width > length ? width - length : 0, '0');
  while (length > 0) out->push_back(digits[--length]);
}

// With the offset from UTC: the hour repeated in autumn shows each local
// time twice. Written by hand: a report of 10,000 rows has 50,000 of them.
std::string StartStamp(const Start& start) {
  const platform::LocalTime& local = start.local;
  const int64_t offset_min = (LocalCivilSeconds(local) - start.seconds) / 60;
  std::string text;
  text.reserve(26);
  AppendDigits(local.year, 4, &text);
  text += '-';
  AppendDigits(local.month_index + 1, 2, &text);
  text += '-';
  AppendDigits(local.day, 2, &text);
  text += ' ';
  AppendDigits(local.hour, 2, &text);
  text += ':';
  AppendDigits(local.minute, 2, &text);
  text += ':';
  AppendDigits(local.second, 2, &text);
  text += offset_min < 0 ? " -" : " +";
  AppendDigits(static_cast<int>(std::abs(offset_min) / 60), 2, &text);
  text += ':';
  AppendDigits(static_cast<int>(std::abs(offset_min) % 60), 2, &text);
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

// A table whose cells may hold several lines, columns padded to the widest.
class Table {
 public:
  explicit Table(std::vector<std::string> header) { rows_.push_back(Split(header)); }
  void Add(std::vector<std::vector<std::string>> row) { rows_.push_back(std::move(row)); }
  std::string Render() const {
    std::vector<size_t> widths(rows_[0].size(), 0);
    for (const auto& row : rows_) {
      for (size_t c = 0; c < row.size(); ++c) {
        for (const std::string& line : row[c]) widths[c] = std::max(widths[c], line.size());
      }
    }
    size_t line_length = 2;
    for (size_t width : widths) line_length += width + 2;
    size_t lines = 0;
    for (const auto& row : rows_) lines += Height(row);
    std::string out;
    out.reserve(lines * line_length);  // one buffer for a table of 50,000 lines
    for (const auto& row : rows_) {
      for (size_t l = 0; l < Height(row); ++l) Line(row, widths, l, &out);
    }
    return out;
  }

 private:
  static std::vector<std::vector<std::string>> Split(const std::vector<std::string>& cells) {
    std::vector<std::vector<std::string>> row;
    for (const std::string& cell : cells) row.push_back({cell});
    return row;
  }
  static size_t Height(const std::vector<std::vector<std::string>>& row) {
    size_t height = 1;
    for (const auto& cell : row) height = std::max(height, cell.size());
    return height;
  }

  // Up to the last cell that has text on this line: no padding to drop.
  static void Line(const std::vector<std::vector<std::string>>& row,
                   const std::vector<size_t>& widths, size_t l, std::string* out) {
    size_t cells = row.size();
    while (cells > 0 && (l >= row[cells - 1].size() || row[cells - 1][l].empty())) {
      --cells;
    }
    out->push_back(' ');
    for (size_t c = 0; c < cells; ++c) {
      const size_t length = l < row[c].size() ? row[c][l].size() : 0;
      out->push_back(' ');
      if (length > 0) out->append(row[c][l]);
      if (c + 1 < cells) out->append(widths[c] - length + 1, ' ');
    }
    out->push_back('\n');
  }
  std::vector<std::vector<std::vector<std::string>>> rows_;
};

std::vector<std::string> NextLines(const DefinitionRow& row) {
  std::vector<std::string> lines;
  for (const Start& start : row.next) lines.push_back(StartStamp(start));
  if (lines.empty()) lines.push_back(row.enabled ? "none ahead" : "-");
  return lines;
}

std::string DefinitionTable(const char* title, const std::vector<DefinitionRow>& rows) {
  std::string out = std::string(title) + " (" + std::to_string(rows.size()) + ")\n";
  if (rows.empty()) return out + "  none\n";
  Table table({"id", "file", "state", "rule", "next starts", "last start"});
  for (const DefinitionRow& row : rows) {
    table.Add({{row.id}, {row.file}, {row.enabled ? "enabled" : "disabled"},
               {row.rule}, NextLines(row), {LastRunText(row.last_run)}});
  }
  return out + table.Render();
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

bool ParseLocalStamp(const std::string& text, int64_t* seconds) {
  int year, month, day, hour, minute, second;
  char tail;
  if (text.size() != 19 ||
      std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &year, &month, &day,
                  &hour, &minute, &second, &tail) != 6 ||
      !platform::FromLocalTime(year, month - 1, day, hour, minute, second, seconds)) {
    return false;
  }
  // Out-of-range fields would carry over; a skipped local time moves.
  return LocalStamp(*seconds) == text;
}

Report BuildReport(const std::string& home, int64_t from_s, int next_count) {
  Report report;
  report.home = home;
  report.from_s = from_s;
  report.next_count = next_count;
  RunHistory history;
  report.log_read = ReadRunHistory(home + kLogFileName, &history);
  report.last_serve = history.last_serve;
  ReadDefinitions(&report, history);
  CheckNginx(&report);
  return report;
}

int ReportExitCode(const Report& report) {
  return report.folder_listed && report.failed_files.empty() ? 0 : 1;
}

std::string RenderText(const Report& report) {
  std::string out = "Home: " + report.home + "\nFrom: " + LocalStamp(report.from_s) +
                    " (local time)\n";
  if (!report.folder_listed) out += "The folder cannot be listed.\n";
  out += "\n" + DefinitionTable("Schedules", report.schedules) + "\n" +
         DefinitionTable("Web servers", report.web_servers) + "\n" +
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
  if (!report.log_read) out += "Log: " + std::string(kLogFileName) + " cannot be read\n";
  return out;
}

std::string RenderJson(const Report& report) {
  nlohmann::ordered_json failed = nlohmann::ordered_json::array();
  for (const FailedFile& file : report.failed_files) {
    failed.push_back({{"file", file.file}, {"kind", file.kind}, {"messages", file.messages}});
  }
  const nlohmann::ordered_json out = {
      {"home", report.home},
      {"from", LocalStamp(report.from_s)},
      {"folder_listed", report.folder_listed},
      {"log_read", report.log_read},
      {"schedules", RowsJson(report.schedules)},
      {"web_servers", RowsJson(report.web_servers)},
      {"failed_files", failed},
      {"nginx", {{"kept_running", report.nginx.kept_running},
                 {"present", report.nginx.present},
                 {"trusted", report.nginx.trusted},
                 {"trust_detail", report.nginx.trust_detail}}},
      {"serve_window", {{"from", ServeWindow().substr(0, 5)}, {"to", "24:00"},
                        {"last", report.last_serve.empty() ? nlohmann::ordered_json(nullptr)
                                                           : nlohmann::ordered_json(report.last_serve)}}},
  };
  // Ids and names are bytes in the system's code page, not always UTF-8.
  return out.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace corvana::status

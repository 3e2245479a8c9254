#include "schedules/report_text.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logging/escape.h"
#include "logging/log.h"
#include "schedules/local_stamps.h"

namespace corvana::schedules {
namespace {

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

// The journal's word first; the log's, for a folder from before the
// journal, cannot say how the run ended.
std::string LastRunText(const DefinitionRow& row) {
  if (row.journal_run) {
    const std::string outcome = JournalOutcomeText(*row.journal_run);
    if (row.journal_run->result == RunResult::kRunning) return outcome;
    return LocalStamp(row.journal_run->start_s) + " " + outcome;
  }
  const std::optional<LastRun>& run = row.last_run;
  if (!run) return "-";
  std::string text = run->started + " " + OutcomeText(run->outcome);
  if (run->running) return text + ", running";
  if (!run->ended.empty()) {
    text += (run->ended_after_a_day ? ", ended after a day at " : ", ended ") +
            run->ended;
  }
  return text + ", exit code unknown";
}

// The definition tables: one line per row, the further next starts on
// lines of their own below the first; columns padded to the widest cell.
// Written straight into one buffer: a table of 10,000 rows has 50,000 lines.
class DefinitionTable {
 public:
  // `refused`: why the service would not use the folder, or empty.
  DefinitionTable(const std::vector<DefinitionRow>& rows, const std::string& refused)
      : rows_(rows),
        refused_(refused.empty() ? ""
                                 : "would not run: the data folder is refused (" +
                                       refused + ")") {
    last_.reserve(rows.size());
    for (const DefinitionRow& row : rows) {
      last_.push_back(LastRunText(row));
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
  std::string_view NoNext(const DefinitionRow& row) const {
    if (!refused_.empty()) return refused_;
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
  const std::string refused_;
  std::vector<std::string> last_;
  size_t widths_[kPadded] = {2, 4, 5, 4, 11};
};

std::string DefinitionTableText(const char* title, const std::vector<DefinitionRow>& rows,
                                const std::string& refused) {
  std::string out = std::string(title) + " (" + std::to_string(rows.size()) + ")\n";
  if (rows.empty()) return out + "  none\n";
  DefinitionTable(rows, refused).Render(&out);
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

// What the service does beside the definitions: nginx, the serve run, its
// events and its log.
std::string ServiceText(const Report& report) {
  const NginxStatus& nginx = report.nginx;
  std::string out = std::string("nginx: ") +
                    (nginx.kept_running ? "kept running (an enabled web server loads)"
                     : nginx.wanted     ? "not started (an enabled web server loads, "
                                          "but nginx.exe would not be started)"
                                        : "not started (no enabled web server)") +
                    "\n";
  out += std::string("webserver/nginx.exe: ") +
         (nginx.trusted ? "present, trusted"
                        : nginx.present ? "present, would not be started: it " + nginx.trust_detail
                                        : "missing") + "\n";
  out += "Serve run (Ravo.exe -serve): " + ServeWindowStart() +
         " to midnight on an evening after a day with work; last " +
         (report.last_serve.empty() ? "none in the log" : report.last_serve) + "\n";
  out += "Events: " + report.event_source + "\n";
  if (!report.log_read) {
    out += "Log: " + std::string(kLogFileName) + " cannot be read" +
           Parenthesised(report.log_error) + "\n";
  }
  return out;
}

}  // namespace

std::string RenderText(const Report& report) {
  const std::string home = EscapeControlCharacters(report.home);
  // Said before anything that reads as if it would run.
  std::string out = report.home_refused.empty()
                        ? ""
                        : "The service would refuse this data folder: " + home + " " +
                              report.home_refused + ". It would run none of the definitions below.\n";
  out += "Home: " + home + "\nFrom: " + OffsetStamp(report.from_s) + " (local time)\n";
  if (!report.folder_listed) out += "The folder cannot be listed.\n";
  out += "\n" + DefinitionTableText("Schedules", report.schedules, report.home_refused) + "\n" +
         DefinitionTableText("Web servers", report.web_servers, report.home_refused) + "\n" +
         FailedText(report.failed_files) + "\n";
  return out + ServiceText(report);
}

}  // namespace corvana::schedules

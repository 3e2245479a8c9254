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

// A terminal of 120 columns takes every line of a table: the rule and the
// last start wrap at blanks, down to kMinWrapWidth each. An id (and a file
// shown below it) is a name the user gave and is never cut, so a long one
// still widens a table past the terminal: one of over 26 characters where
// the next starts name a second apart from the start's, else of over 44.
constexpr size_t kTerminalWidth = 120;
constexpr size_t kMinWrapWidth = 16;

// Lines of at most `width` columns, broken at blanks; a word longer than a
// line is cut.
std::vector<std::string_view> Wrap(std::string_view text, size_t width) {
  std::vector<std::string_view> lines;
  while (text.size() > width) {
    size_t cut = text.rfind(' ', width);
    if (cut == std::string_view::npos || cut == 0) cut = width;
    lines.push_back(text.substr(0, cut));
    text.remove_prefix(cut);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  }
  lines.push_back(text);
  return lines;
}

// The file, below the id, only where it is more than the id and the kind's
// extension: an id ends at the file name's first ".".
std::string_view FileLine(const DefinitionRow& row) {
  return row.file.find('.') == row.file.rfind('.') ? std::string_view() : row.file;
}

// The definition tables: a row per definition, its cells on as many lines
// as the longest needs (the further next starts each have one); columns
// padded to the widest cell. Written straight into one buffer: a table of
// 10,000 rows has 50,000 lines.
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
      Widen(kId, std::max(row.id.size(), FileLine(row).size() + 2));
      Widen(kState, State(row).size());
      Widen(kRule, row.rule.size());
      Widen(kNext, NoNext(row).size());
      for (const Start& start : row.next) Widen(kNext, NamedStampLength(start));
      Widen(kLast, last_.back().size());
    }
    FitTerminal();
  }

  void Render(std::string* out) const {
    size_t lines = 1;
    for (const DefinitionRow& row : rows_) lines += std::max<size_t>(row.next.size(), 1);
    size_t line_length = 0;
    for (size_t width : widths_) line_length += width + 2;
    out->reserve(out->size() + lines * line_length);
    const char* header[] = {"id", "state", "rule", "next starts", "last start"};
    for (size_t c = 0; c < kColumns; ++c) Cell(c, header[c], out);
    EndLine(out);
    for (size_t r = 0; r < rows_.size(); ++r) RenderRow(rows_[r], last_[r], out);
  }

 private:
  enum Column : size_t { kId, kState, kRule, kNext, kLast, kColumns };

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

  // Narrows the wider of the two wrapped columns until the line fits.
  void FitTerminal() {
    size_t used = 2 * kColumns;
    for (size_t width : widths_) used += width;
    while (used > kTerminalWidth) {
      size_t& wider = widths_[kRule] >= widths_[kLast] ? widths_[kRule] : widths_[kLast];
      if (wider <= kMinWrapWidth) return;
      --wider;
      --used;
    }
  }

  // "  " + text padded to the column.
  void Cell(size_t column, std::string_view text, std::string* out) const {
    out->append(2, ' ');
    out->append(text);
    out->append(widths_[column] - std::min(text.size(), widths_[column]), ' ');
  }
  static void EndLine(std::string* out) {
    while (!out->empty() && out->back() == ' ') out->pop_back();
    out->push_back('\n');
  }

  void RenderRow(const DefinitionRow& row, const std::string& last,
                 std::string* out) const {
    const std::vector<std::string_view> rule = Wrap(row.rule, widths_[kRule]);
    const std::vector<std::string_view> last_lines = Wrap(last, widths_[kLast]);
    const std::string file = FileLine(row).empty() ? "" : "(" + row.file + ")";
    const size_t height = std::max({rule.size(), last_lines.size(), row.next.size(),
                                    file.empty() ? size_t{1} : size_t{2}});
    for (size_t l = 0; l < height; ++l) {
      Cell(kId, l == 0 ? row.id : l == 1 ? std::string_view(file) : std::string_view(), out);
      Cell(kState, l == 0 ? State(row) : "", out);
      Cell(kRule, l < rule.size() ? rule[l] : "", out);
      if (l < row.next.size()) {
        out->append(2, ' ');
        AppendNamedStamp(row.next[l], out);
        out->append(widths_[kNext] - NamedStampLength(row.next[l]), ' ');
      } else {
        Cell(kNext, l == 0 ? NoNext(row) : "", out);
      }
      Cell(kLast, l < last_lines.size() ? last_lines[l] : "", out);
      EndLine(out);
    }
  }

  const std::vector<DefinitionRow>& rows_;
  const std::string refused_;
  std::vector<std::string> last_;
  size_t widths_[kColumns] = {2, 5, 4, 11, 10};
};

std::string DefinitionTableText(const char* title, const std::vector<DefinitionRow>& rows,
                                const std::string& refused) {
  std::string out = std::string(title) + " (" + std::to_string(rows.size()) + ")\n";
  if (rows.empty()) return out + "  none\n";
  DefinitionTable(rows, refused).Render(&out);
  return out;
}

// "  text", wrapped to the terminal under a deeper indent.
void AppendItem(const std::string& text, std::string* out) {
  const std::vector<std::string_view> lines = Wrap(text, kTerminalWidth - 4);
  for (size_t l = 0; l < lines.size(); ++l) {
    out->append(l == 0 ? "  " : "    ");
    out->append(lines[l]);
    out->push_back('\n');
  }
}

// The reader's own lines follow, as the service's log has them.
std::string FailedText(const std::vector<FailedFile>& failed) {
  std::string out = "Files that do not load (" + std::to_string(failed.size()) + ")\n";
  if (failed.empty()) return out + "  none\n";
  for (const FailedFile& file : failed) {
    AppendItem(file.reason.empty() ? file.file : file.file + ": " + file.reason, &out);
    for (const std::string& message : file.messages) out += "    " + message + "\n";
  }
  return out;
}

// Only where there are some: most folders have none.
std::string WarningsText(const std::vector<Warning>& warnings) {
  if (warnings.empty()) return "";
  std::string out = "Warnings (" + std::to_string(warnings.size()) + ")\n";
  for (const Warning& warning : warnings) AppendItem(warning.file + ": " + warning.text, &out);
  return out + "\n";
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
         WarningsText(report.warnings) + FailedText(report.failed_files) + "\n";
  return out + ServiceText(report);
}

}  // namespace corvana::schedules

#include "schedules/report_text.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "logging/escape.h"
#include "logging/log.h"
#include "schedules/local_stamps.h"

namespace corvana::schedules {
namespace {

// The time the rule names, and the second the service starts in where that
// differs: "10:01:30 +01:00 (starts 10:01:29)". Gives the end of what it
// wrote.
char* PutNamedStamp(const Start& start, StampWriter* stamps, char* out) {
  if (start.named_second < 0 || start.named_second == start.local.second) {
    return stamps->Put(start, out);
  }
  Start named = start;
  named.local.second = start.named_second;
  named.seconds += start.named_second - start.local.second;
  out = stamps->Put(named, out);
  constexpr std::string_view kStarts = " (starts ";
  std::memcpy(out, kStarts.data(), kStarts.size());
  out = PutClock(start.local, out + kStarts.size());
  *out++ = ')';
  return out;
}

size_t NamedStampLength(const Start& start) {
  constexpr size_t kStamp = 26;
  constexpr size_t kStartsSuffix = 18;
  return start.named_second < 0 || start.named_second == start.local.second
             ? kStamp
             : kStamp + kStartsSuffix;
}

// The journal's word first; the log's, for a folder from before the
// journal, cannot say how the run ended. The start's local time comes from
// the zone's days, which the rows of a table share.
void AppendLastRun(const DefinitionRow& row, ZoneDays* zone_days, std::string* out) {
  if (row.journal_run) {
    if (row.journal_run->result != RunResult::kRunning) {
      AppendLocalStamp(row.journal_run->start_s, zone_days, out);
      out->push_back(' ');
    }
    AppendJournalOutcome(*row.journal_run, out);
    return;
  }
  const std::optional<LastRun>& run = row.last_run;
  if (!run) return out->push_back('-');
  out->append(run->started).append(" ").append(OutcomeText(run->outcome));
  if (run->running) {
    out->append(", running");
    return;
  }
  if (!run->ended.empty()) {
    out->append(run->ended_after_a_day ? ", ended after a day at " : ", ended ")
        .append(run->ended);
  }
  out->append(", exit code unknown");
}

// A terminal of 120 columns takes every line of a table: the rule and the
// last start wrap at blanks, down to kMinWrapWidth each. An id (and a file
// shown below it) is a name the user gave and is never cut, so a long one
// still widens a table past the terminal: one of over 26 characters where
// the next starts name a second apart from the start's, else of over 44.
constexpr size_t kTerminalWidth = 120;
// Both tables' titles and the blank lines around them.
constexpr size_t kTitlesBytes = 64;
// "2026-12-06 03:30:00 exit 0 after 12 s" and the like.
constexpr size_t kTypicalLastRunBytes = 48;
constexpr size_t kMinWrapWidth = 16;

// Lines of at most `width` columns, broken at blanks; a word longer than a
// line is cut. Into `lines`, which a table reuses from row to row.
void Wrap(std::string_view text, size_t width, std::vector<std::string_view>* lines) {
  lines->clear();
  while (text.size() > width) {
    size_t cut = text.rfind(' ', width);
    if (cut == std::string_view::npos || cut == 0) cut = width;
    lines->push_back(text.substr(0, cut));
    text.remove_prefix(cut);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  }
  lines->push_back(text);
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
    // One buffer for every row's text: a string each was three allocations
    // a row with the temporaries that built it.
    last_ends_.reserve(rows.size());
    last_text_.reserve(rows.size() * kTypicalLastRunBytes);
    ZoneDays zone_days;
    for (const DefinitionRow& row : rows) {
      const size_t begin = last_text_.size();
      AppendLastRun(row, &zone_days, &last_text_);
      last_ends_.push_back(last_text_.size());
      Widen(kId, std::max(row.id.size(), FileLine(row).size() + 2));
      Widen(kState, State(row).size());
      Widen(kRule, row.rule.size());
      Widen(kNext, NoNext(row).size());
      for (const Start& start : row.next) Widen(kNext, NamedStampLength(start));
      Widen(kLast, last_text_.size() - begin);
    }
    FitTerminal();
  }

  // At most what Render writes, but for wrapped cells and the files shown
  // below ids, which a terminal's width makes rare.
  size_t RenderedBytes() const {
    size_t lines = 1;
    for (const DefinitionRow& row : rows_) lines += std::max<size_t>(row.next.size(), 1);
    return lines * LineBytes();
  }

  // The title line, then the table.
  void Append(const char* title, std::string* out) const {
    out->append(title).append(" (").append(std::to_string(rows_.size())).append(")\n");
    if (rows_.empty()) {
      out->append("  none\n");
      return;
    }
    Render(out);
  }

 private:
  // The table is written through a cursor into blanks the string grows by
  // ahead of each row, and the string cut back to it at the end: appended
  // piece by piece, its 50,000 lines cost a third of the report. What lies
  // behind the cursor stays blank: a line takes back only blanks.
  void Render(std::string* out) const {
    out->reserve(out->size() + RenderedBytes());
    const char* header[] = {"id", "state", "rule", "next starts", "last start"};
    Line line(Room(LineBytes(), out->size(), out));
    for (size_t c = 0; c < kColumns; ++c) line.Cell(header[c], widths_[c]);
    size_t end = line.End() - out->data();
    Wrapped wrapped;
    StampWriter stamps;
    for (size_t r = 0; r < rows_.size(); ++r) {
      end = RenderRow(rows_[r], Last(r), &wrapped, &stamps, out, end);
    }
    out->resize(end);
  }

  // `bytes` to write at `at`, blank. Grown a row at a time, as blanking
  // the whole of the reserve ahead cost a fifth of the table.
  static char* Room(size_t bytes, size_t at, std::string* out) {
    if (out->size() - at < bytes) out->resize(at + bytes, ' ');
    return out->data() + at;
  }

  // The longest line: every cell filled to its width, and the newline; and
  // room for a stamp of a year past 9999, which is wider than its column.
  size_t LineBytes() const {
    constexpr size_t kWideYearBytes = 16;
    size_t bytes = 1 + kWideYearBytes;
    for (size_t width : widths_) bytes += width + 2;
    return bytes;
  }

  enum Column : size_t { kId, kState, kRule, kNext, kLast, kColumns };

  // A row's wrapped cells, kept from row to row so that their lines are
  // not allocated anew for each of 10,000 rows.
  struct Wrapped {
    std::vector<std::string_view> rule;
    std::vector<std::string_view> last;
  };

  // One line: "  " + text padded to the column, cell after cell, into
  // blanks with room for it. The padding is passed over only once more
  // text follows: most lines end in empty cells.
  class Line {
   public:
    explicit Line(char* out) : begin_(out), end_(out) {}
    void Cell(std::string_view text, size_t width) {
      pending_ += 2;
      if (!text.empty()) {
        end_ += std::exchange(pending_, 0);
        std::memcpy(end_, text.data(), text.size());
        end_ += text.size();
      }
      pending_ += width - std::min(text.size(), width);
    }
    void Stamp(const Start& start, size_t width, StampWriter* stamps) {
      end_ += pending_ + 2;
      end_ = PutNamedStamp(start, stamps, end_);
      pending_ = width - NamedStampLength(start);
    }
    // Gives where the next line begins.
    char* End() {
      while (end_ != begin_ && end_[-1] == ' ') --end_;
      *end_++ = '\n';
      return end_;
    }

   private:
    char* const begin_;
    char* end_;
    size_t pending_ = 0;
  };

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

  std::string_view Last(size_t r) const {
    const size_t begin = r == 0 ? 0 : last_ends_[r - 1];
    return std::string_view(last_text_).substr(begin, last_ends_[r] - begin);
  }

  // The row's lines from `at` in `out`, which grows to take them; gives
  // where they end.
  size_t RenderRow(const DefinitionRow& row, std::string_view last, Wrapped* wrapped,
                   StampWriter* stamps, std::string* out, size_t at) const {
    Wrap(row.rule, widths_[kRule], &wrapped->rule);
    Wrap(last, widths_[kLast], &wrapped->last);
    const std::vector<std::string_view>& rule = wrapped->rule;
    const std::vector<std::string_view>& last_lines = wrapped->last;
    const std::string file = FileLine(row).empty() ? "" : "(" + row.file + ")";
    const size_t height = std::max({rule.size(), last_lines.size(), row.next.size(),
                                    file.empty() ? size_t{1} : size_t{2}});
    char* end = Room(height * LineBytes(), at, out);
    for (size_t l = 0; l < height; ++l) {
      Line line(end);
      line.Cell(l == 0 ? row.id : l == 1 ? std::string_view(file) : std::string_view(),
                widths_[kId]);
      line.Cell(l == 0 ? State(row) : "", widths_[kState]);
      line.Cell(l < rule.size() ? rule[l] : "", widths_[kRule]);
      if (l < row.next.size()) {
        line.Stamp(row.next[l], widths_[kNext], stamps);
      } else {
        line.Cell(l == 0 ? NoNext(row) : "", widths_[kNext]);
      }
      line.Cell(l < last_lines.size() ? last_lines[l] : "", widths_[kLast]);
      end = line.End();
    }
    return end - out->data();
  }

  const std::vector<DefinitionRow>& rows_;
  const std::string refused_;
  std::string last_text_;
  std::vector<size_t> last_ends_;  // where each row's text ends in last_text_
  size_t widths_[kColumns] = {2, 5, 4, 11, 10};
};

// "  text", wrapped to the terminal under a deeper indent.
void AppendItem(const std::string& text, std::string* out) {
  std::vector<std::string_view> lines;
  Wrap(text, kTerminalWidth - 4, &lines);
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

// The report goes into one string reserved once: a table of 10,000 rows is
// megabytes, which every concatenation that built the report copied again.
std::string RenderText(const Report& report) {
  const std::string home = EscapeControlCharacters(report.home);
  // Said before anything that reads as if it would run.
  std::string head = report.home_refused.empty()
                         ? ""
                         : "The service would refuse this data folder: " + home + " " +
                               report.home_refused + ". It would run none of the definitions below.\n";
  head += "Home: " + home + "\nFrom: " + OffsetStamp(report.from_s) + " (local time)\n";
  if (!report.folder_listed) head += "The folder cannot be listed.\n";
  const std::string tail = WarningsText(report.warnings) + FailedText(report.failed_files) +
                           "\n" + ServiceText(report);
  const DefinitionTable schedules(report.schedules, report.home_refused);
  const DefinitionTable web_servers(report.web_servers, report.home_refused);
  std::string out;
  out.reserve(head.size() + schedules.RenderedBytes() + web_servers.RenderedBytes() +
              tail.size() + kTitlesBytes);
  out.append(head).push_back('\n');
  schedules.Append("Schedules", &out);
  out.push_back('\n');
  web_servers.Append("Web servers", &out);
  out.push_back('\n');
  return out.append(tail);
}

}  // namespace corvana::schedules

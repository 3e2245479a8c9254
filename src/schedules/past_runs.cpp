#include "schedules/past_runs.h"

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>

#include "logging/escape.h"
#include "schedules/local_stamps.h"
#include "schedules/report_model.h"

namespace corvana::schedules {
namespace {

using Cells = std::array<std::string, 6>;

Cells RowCells(const JournalRun& run) {
  return {LocalStamp(run.start_s), run.kind, EscapeControlCharacters(run.id),
          run.duration_s ? std::to_string(*run.duration_s) + " s" : "-",
          run.exit_code ? std::to_string(*run.exit_code) : "-",
          JournalOutcomeText(run)};
}

void AppendRow(const Cells& cells, const std::array<size_t, 6>& widths,
               std::string* out) {
  out->append("  ");
  for (size_t i = 0; i < cells.size(); ++i) {
    out->append(cells[i]);
    if (i + 1 < cells.size()) out->append(widths[i] - cells[i].size() + 2, ' ');
  }
  out->push_back('\n');
}

nlohmann::ordered_json OrNull(const std::optional<int64_t>& value) {
  return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

}  // namespace

PastRuns SelectPastRuns(const JournalRuns& journal, bool journal_read,
                        const std::optional<std::string>& id, int count) {
  PastRuns past;
  past.journal_read = journal_read;
  const std::vector<JournalRun>& runs = journal.runs();
  for (auto run = runs.rbegin(); run != runs.rend() && int(past.runs.size()) < count;
       ++run) {
    if (!id || run->id == *id) past.runs.push_back(*run);
  }
  return past;
}

std::string RenderPastRunsText(const PastRuns& past) {
  if (!past.journal_read) {
    return "Runs: scheduler.journal cannot be read" +
           Parenthesised(past.journal_error) + "\n";
  }
  std::string out = "Runs, newest first (" + std::to_string(past.runs.size()) + ")\n";
  if (past.runs.empty()) return out + "  none\n";
  const Cells header = {"started", "kind", "id", "duration", "exit code", "how it ended"};
  std::array<size_t, 6> widths{};
  std::vector<Cells> rows;
  for (const JournalRun& run : past.runs) rows.push_back(RowCells(run));
  for (const Cells& cells : rows) {
    for (size_t i = 0; i < cells.size(); ++i) {
      widths[i] = std::max({widths[i], cells[i].size(), header[i].size()});
    }
  }
  AppendRow(header, widths, &out);
  for (const Cells& cells : rows) AppendRow(cells, widths, &out);
  return out;
}

std::string RenderPastRunsJson(const PastRuns& past) {
  nlohmann::ordered_json runs = nlohmann::ordered_json::array();
  for (const JournalRun& run : past.runs) {
    runs.push_back({{"started", OffsetStamp(run.start_s)},
                    {"kind", run.kind},
                    {"id", EscapeControlCharacters(run.id)},
                    {"exit_code", OrNull(run.exit_code)},
                    {"duration_s", OrNull(run.duration_s)},
                    {"outcome", JournalOutcomeText(run)}});
  }
  const nlohmann::ordered_json out = {{"journal_read", past.journal_read},
                                      {"journal_error", past.journal_read
                                                            ? nlohmann::ordered_json(nullptr)
                                                            : nlohmann::ordered_json(past.journal_error)},
                                      {"runs", runs}};
  return out.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace corvana::schedules

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

// Enough of the journal's end for this many runs of two lines each, most
// of the time: the journal's whole megabyte is read only when they are not
// there.
constexpr size_t kTailBytesPerRun = 512;

// False when a run of the id whose start may lie before what was read would
// come among the newest: the newest cannot be told from this much.
bool SelectNewest(const JournalRuns& journal, const std::optional<std::string>& id,
                  int count, std::vector<JournalRun>* newest) {
  newest->clear();
  const std::vector<JournalRun>& runs = journal.runs();
  for (auto run = runs.rbegin(); run != runs.rend() && int(newest->size()) < count;
       ++run) {
    if (id && run->id != *id) continue;
    if (run->start_unknown) return false;
    newest->push_back(*run);
  }
  return true;
}

}  // namespace

// The newest runs are at the journal's end: the end is read first, twice as
// much each time it does not tell them, and the whole journal (both
// generations) once the current one is read whole without them.
PastRuns ReadPastRuns(const platform::HeldFolder& folder,
                      const std::optional<std::string>& id, int count) {
  PastRuns past;
  const auto wanted = static_cast<size_t>(std::max(count, 1));
  for (size_t bytes = wanted * kTailBytesPerRun;; bytes *= 2) {
    JournalRuns tail(JournalSpan::kTail);
    bool whole = false;
    if (!ReadJournalTail(folder, JournalReader::kViewer, bytes,
                         [&tail](const JournalFields& fields) { tail.Add(fields); },
                         &whole) ||
        whole) {
      break;
    }
    if (SelectNewest(tail, id, count, &past.runs) && int(past.runs.size()) == count) {
      past.journal_read = true;
      return past;
    }
  }
  JournalRuns journal;
  platform::FailedCall failure;
  past.journal_read = ReadJournalRuns(folder, &journal, &failure);
  past.journal_error = platform::FailedCallText(failure);
  SelectNewest(journal, id, count, &past.runs);
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

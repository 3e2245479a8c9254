#include "schedules/report_json.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "logging/escape.h"
#include "schedules/local_stamps.h"

namespace corvana::schedules {
namespace {

nlohmann::ordered_json OrNull(const std::optional<int64_t>& value) {
  return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

// The journal's run in the shape of the log's, so that readers of
// `last_run` need not know where it came from.
nlohmann::ordered_json JournalRunJson(const JournalRun& run) {
  const bool running = run.result == RunResult::kRunning;
  return {{"started", LocalStamp(run.start_s)},
          {"outcome", JournalOutcomeText(run)},
          {"running", running},
          {"ended", running || !run.duration_s
                        ? nlohmann::ordered_json(nullptr)
                        : nlohmann::ordered_json(LocalStamp(run.start_s + *run.duration_s))},
          {"ended_after_a_day", run.result == RunResult::kTimeLimit}};
}

nlohmann::ordered_json LastRunJson(const DefinitionRow& row) {
  if (row.journal_run) return JournalRunJson(*row.journal_run);
  const std::optional<LastRun>& run = row.last_run;
  if (!run) return nullptr;
  return {{"started", std::string(run->started)},
          {"outcome", OutcomeText(run->outcome)},
          {"running", run->running},
          {"ended", run->ended.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(std::string(run->ended))},
          {"ended_after_a_day", run->ended_after_a_day}};
}

nlohmann::ordered_json RowsJson(const std::vector<DefinitionRow>& rows) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const DefinitionRow& row : rows) {
    nlohmann::ordered_json next = nlohmann::ordered_json::array();
    for (const Start& start : row.next) next.push_back(StartStamp(start));
    list.push_back({{"id", row.id}, {"file", row.file}, {"enabled", row.enabled},
                    {"rule", row.rule}, {"next", next},
                    {"last_run", LastRunJson(row)},
                    {"exit_code", OrNull(row.journal_run ? row.journal_run->exit_code
                                                         : std::nullopt)},
                    {"duration_s", OrNull(row.journal_run ? row.journal_run->duration_s
                                                          : std::nullopt)}});
  }
  return list;
}

}  // namespace

std::string RenderJson(const Report& report) {
  nlohmann::ordered_json failed = nlohmann::ordered_json::array();
  for (const FailedFile& file : report.failed_files) {
    failed.push_back({{"file", file.file}, {"kind", file.kind}, {"reason", file.reason},
                      {"messages", file.messages}});
  }
  nlohmann::ordered_json warnings = nlohmann::ordered_json::array();
  for (const Warning& warning : report.warnings) {
    warnings.push_back({{"file", warning.file}, {"warning", warning.text}});
  }
  const nlohmann::ordered_json out = {
      {"home", EscapeControlCharacters(report.home)},
      {"home_refused", report.home_refused.empty() ? nlohmann::ordered_json(nullptr)
                                                    : nlohmann::ordered_json(report.home_refused)},
      {"from", OffsetStamp(report.from_s)},
      {"folder_listed", report.folder_listed},
      {"log_read", report.log_read},
      {"log_error", report.log_read ? nlohmann::ordered_json(nullptr)
                                    : nlohmann::ordered_json(report.log_error)},
      {"schedules", RowsJson(report.schedules)},
      {"web_servers", RowsJson(report.web_servers)},
      {"failed_files", failed},
      {"warnings", warnings},
      {"nginx", {{"kept_running", report.nginx.kept_running},
                 {"present", report.nginx.present},
                 {"trusted", report.nginx.trusted},
                 {"trust_detail", report.nginx.trust_detail}}},
      {"events", report.event_source},
      {"serve_window", {{"from", ServeWindowStart()}, {"to", "24:00"},
                        {"last", report.last_serve.empty() ? nlohmann::ordered_json(nullptr)
                                                           : nlohmann::ordered_json(report.last_serve)}}},
  };
  // Ids and names are bytes in the system's code page, not always UTF-8.
  return out.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace corvana::schedules

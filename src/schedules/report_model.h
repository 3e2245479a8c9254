// Everything `schedules` shows about a definition folder, gathered once
// through the service's own readers and then written as text
// (report_text.h) or as JSON (report_json.h).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/trust.h"
#include "schedules/next_starts.h"
#include "schedules/run_history.h"

namespace corvana::schedules {

struct DefinitionRow {
  std::string id;
  std::string file;
  bool enabled = false;
  std::string rule;
  std::vector<Start> next;
  std::optional<LastRun> last_run;  // as the current log shows it
  // As the journal shows it: what the rows say first, as it outlives a
  // restart and knows how the run ended. Held apart: it would be nearly
  // half of every row, journal or not, and a report makes and moves its
  // rows by the thousand.
  std::unique_ptr<JournalRun> journal_run;
};

// A file the reader refused, with the reader's own messages about it.
struct FailedFile {
  std::string file;
  std::string kind;  // "schedule" or "webserver"
  std::vector<std::string> messages;
  // Why, as the reader knows it: "line 7: hour=abc: hour is not a number".
  std::string reason;
};

// A file that loads but that the service will not run as it reads.
struct Warning {
  std::string file;
  std::string text;  // "never runs: hour=25 is no hour of a day"
};

struct NginxStatus {
  bool wanted = false;        // an enabled web server loads
  bool kept_running = false;  // wanted, and the service would start it
  bool present = false;       // webserver/nginx.exe exists
  bool trusted = false;       // the service's own check would start it
  std::string trust_detail;   // why not ("is reached through a link"), or empty
};

inline constexpr int64_t kNoUntil = INT64_MAX;
inline constexpr int kExitHomeRefused = 3;

struct Report {
  std::string home;
  // Why the service would not use the folder, in the words of its log line
  // ("is owned by a non-administrator"); empty when it would. A refused
  // folder's definitions have no next starts: the service works elsewhere.
  std::string home_refused;
  int64_t from_s = 0;
  int next_count = 0;
  int64_t until_s = kNoUntil;
  // The service's last start or reload the log shows, at or before now.
  std::optional<int64_t> load_s;
  bool folder_listed = false;
  bool log_read = false;
  std::string log_error;  // why it could not be read, when it could not
  std::vector<DefinitionRow> schedules;
  std::vector<DefinitionRow> web_servers;
  std::vector<FailedFile> failed_files;
  std::vector<Warning> warnings;
  NginxStatus nginx;
  std::string last_serve;
  // Where the service's events for administrators go.
  std::string event_source;
};

// Reads the held folder (shown as `home`, ending with the separator)
// through the service's own readers, with their log lines captured instead
// of written. The next starts are followed from the service's last load in
// the log up to `until_s`, at most `next_count` of them each. The folder is
// judged as the service judges it, for `service` (the product asks for the
// system's account, whoever runs it).
Report BuildReport(const platform::HeldFolder& folder, const std::string& home,
                   int64_t from_s, int next_count, int64_t until_s = kNoUntil,
                   platform::ServiceAccount service = platform::ServiceAccount::kSystem);
// kExitHomeRefused when the service would not use the folder; else 0 when
// every file loads, 1 otherwise (an unreadable folder included).
int ReportExitCode(const Report& report);

// The words both renderings use: how a start ended, and "hh:mm", the local
// time from which the serve run may start until midnight.
const char* OutcomeText(StartOutcome outcome);
// "exit 3 after 1 s (failed)", "could not be started", ...; a running run
// is "running since" its local start.
std::string JournalOutcomeText(const JournalRun& run);
// The same, appended: a table's 10,000 rows build it with their start.
void AppendJournalOutcome(const JournalRun& run, std::string* out);
// " (<cause>)", escaped, after a text that says something failed; empty
// when there is no cause to give.
std::string Parenthesised(const std::string& cause);
std::string ServeWindowStart();

}  // namespace corvana::schedules

// What ran last, read back from the service's current log.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>
#include <string>
#include <string_view>

#include "logging/journal.h"
#include "platform/fs.h"

namespace corvana::schedules {

enum class StartOutcome {
  kPending,      // "Running ..." with no verdict after it (yet)
  kSuccessful,   // "Successful run ..."
  kFailed,       // "Error: Failed to run ..."
  kStillActive,  // "Error: The process is still active, ...": skipped
};

struct LastRun {
  std::string started;  // "yyyy-mm-dd hh:mm:ss" of the last start
  StartOutcome outcome = StartOutcome::kPending;
  bool running = false;  // its child started and no stop line since
  std::string ended;     // when the last child ended; empty if none did
  bool ended_after_a_day = false;  // "Terminate Process": ended by the limit
};

// Last runs by id, for each kind.
struct RunHistory {
  std::unordered_map<std::string, LastRun> schedules;
  std::unordered_map<std::string, LastRun> web_servers;
  std::string last_serve;  // the last "Successful run serve service"
  // Whether the latest "Running ..." line was a web server's: the "still
  // active" line right after it does not say.
  bool last_running_web_server = false;
  // The service's last load of its lists ("Loading schedules"), whether it
  // was a reload after "The schedules has been changed #", and the last
  // load at a start-up.
  std::string last_load;
  bool last_load_reloaded = false;
  std::string last_start_up;
  bool change_seen = false;  // a change line not yet followed by its load
};

// One log line; lines without a time stamp or with another message are
// passed over.
void AddLogLine(std::string_view line, RunHistory* history);
// Reads the service's log in the folder. False when it cannot be read;
// lines too long to be the scheduler's are skipped.
// False when the log cannot be read, with why in *failure if given.
bool ReadRunHistory(const platform::HeldFolder& folder, RunHistory* history,
                    platform::FailedCall* failure = nullptr);

// How a run the journal records ended. kNoEnd: started, and the service
// started or stopped again with no end written for it (it was killed).
enum class RunResult {
  kRunning, kExited, kTimeLimit, kNotStarted, kServiceStopped, kNoEnd
};

struct JournalRun {
  std::string id;  // as the service wrote it, unescaped
  std::string kind;  // the journal's kind: "schedule", "webserver_update", ...
  int64_t start_s = 0;
  RunResult result = RunResult::kRunning;
  std::optional<int64_t> exit_code;
  std::optional<int64_t> duration_s;
  std::string cause;  // why it could not be started, when the journal says
  // Read from the journal's tail only, an end whose start may lie before
  // what was read: the run may belong further back.
  bool start_unknown = false;
};

// What of the journal a JournalRuns is given: all of it, or its last lines.
enum class JournalSpan { kWhole, kTail };

// The journal's runs in the order they started; an end is paired with the
// last open start of its kind and id.
class JournalRuns {
 public:
  explicit JournalRuns(JournalSpan span = JournalSpan::kWhole) : span_(span) {}
  void Add(const JournalFields& fields);
  const std::vector<JournalRun>& runs() const { return runs_; }
  // The last run of the kind and id, or nothing.
  std::optional<JournalRun> Last(std::string_view kind, std::string_view id) const;

 private:
  static constexpr size_t kNoRun = SIZE_MAX;
  // By kind '/' id: the runs_ index of the open start, and of the last run,
  // whose kind and id are the slots' own: no key is kept beside them.
  struct RunSlots {
    uint64_t hash = 0;
    size_t open = kNoRun;
    size_t last = kNoRun;
  };
  void CloseOpenRuns();
  void Push(std::string_view id, std::string_view kind, int64_t start_s,
            RunSlots* slots);
  size_t Find(std::string_view kind, std::string_view id, uint64_t hash) const;
  RunSlots& AddSlots(uint64_t hash);
  void Place(size_t slots);
  std::vector<JournalRun> runs_;
  std::vector<RunSlots> slots_;
  // slots_ indexes plus one, by hash, open addressed; 0 is free. A power of
  // two long, at most half full.
  std::vector<uint32_t> slots_by_hash_;
  // The slots a start opened since the last service record (some closed
  // since), by index.
  std::vector<size_t> opened_;
  JournalSpan span_ = JournalSpan::kWhole;
  bool service_seen_ = false;  // a service record closed every older run
};

// False when there is no journal (a folder from before it).
bool ReadJournalRuns(const platform::HeldFolder& folder, JournalRuns* runs,
                     platform::FailedCall* failure = nullptr);

}  // namespace corvana::schedules

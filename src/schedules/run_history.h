// What ran last, read back from the service's current log.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory_resource>
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

// A log stamp's "yyyy-mm-dd hh:mm:ss", or nothing, held in place: a report
// keeps one or two for each of its thousands of rows, each too long for a
// string's own buffer. Reads as the text, for the renderings.
class LogTime {
 public:
  static constexpr size_t kLength = 19;

  // Keeps at most kLength bytes: the log's stamps are never longer.
  void assign(std::string_view text) {
    if (text.size() == kLength) {  // always: a copy of known size, inline
      std::memcpy(text_, text.data(), kLength);
      size_ = kLength;
      return;
    }
    size_ = static_cast<uint8_t>(std::min(text.size(), kLength));
    std::copy_n(text.data(), size_, text_);
  }
  void clear() { size_ = 0; }
  bool empty() const { return size_ == 0; }
  operator std::string_view() const { return {text_, size_}; }  // NOLINT
  friend bool operator==(const LogTime& a, std::string_view b) {
    return std::string_view(a) == b;
  }

 private:
  char text_[kLength] = {};
  uint8_t size_ = 0;
};

struct LastRun {
  LogTime started;  // "yyyy-mm-dd hh:mm:ss" of the last start
  StartOutcome outcome = StartOutcome::kPending;
  bool running = false;  // its child started and no stop line since
  LogTime ended;         // when the last child ended; empty if none did
  bool ended_after_a_day = false;  // "Terminate Process": ended by the limit
};

// Eight bytes at a time, then what is left, and the length, from `hash`:
// the ids and kinds read back are short, and the library's hash of the
// bytes costs three times as much. Inline, for every log line asks it.
inline uint64_t WordHash(std::string_view text, uint64_t hash) {
  constexpr uint64_t kOdd = 0x9e3779b97f4a7c15;
  size_t at = 0;
  for (; at + 8 <= text.size(); at += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + at, sizeof word);
    hash = (hash ^ word) * kOdd;
    hash ^= hash >> 32;
  }
  uint64_t rest = 0;
  if (at < text.size() && text.size() >= sizeof rest) {  // the last word, again in part
    std::memcpy(&rest, text.data() + text.size() - sizeof rest, sizeof rest);
  } else {
    for (; at < text.size(); ++at) rest = rest << 8 | static_cast<unsigned char>(text[at]);
  }
  hash = (hash ^ rest ^ uint64_t{text.size()} << 56) * kOdd;
  // Folded and mixed once more: a table may take its low bits, which a
  // product alone draws from the low bits of what it multiplied.
  hash = (hash ^ hash >> 32) * kOdd;
  return hash ^ hash >> 29;
}

// Looked up by the id as the log line holds it: no string is built for an
// id already seen.
struct IdHash {
  using is_transparent = void;
  size_t operator()(std::string_view id) const {
    return static_cast<size_t>(WordHash(id, 0));
  }
};
using RunsById = std::pmr::unordered_map<std::string, LastRun, IdHash, std::equal_to<>>;

// Last runs by id, for each kind.
struct RunHistory {
  // No run is dropped before the history is: the maps' nodes come from one
  // growing buffer instead of an allocation each.
  std::pmr::monotonic_buffer_resource run_memory;
  RunsById schedules{&run_memory};
  RunsById web_servers{&run_memory};
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

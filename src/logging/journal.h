// The run journal, "scheduler.journal" in HomePath: what the service did
// with each run, kept across restarts, one JSON object per line, so that
// `schedules` and an administrator's jq or ConvertFrom-Json read it. Only
// the service writes it; the text log stays as it is beside it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "logging/events.h"
#include "platform/fs.h"

namespace corvana {

inline constexpr const char kJournalFileName[] = "scheduler.journal";
inline constexpr const char kOlderJournalFileName[] = "scheduler.journal.1";
// At this size the journal becomes the older generation and a new one is
// begun: the two hold at most twice this (and one line).
inline constexpr size_t kJournalCapBytes = size_t{1} << 20;

enum class JournalRecordType { kServiceStart, kServiceStop, kRunStart, kRunEnd };
enum class RunEnding { kExited, kTimeLimit, kNotStarted, kServiceStopped };

// One record. Times are UTC seconds since 1970, with the local offset (local
// time minus UTC) of that moment. What a type does not use is left out.
struct JournalRecord {
  JournalRecordType type = JournalRecordType::kRunStart;
  int64_t time_s = 0;
  int64_t utc_offset_s = 0;
  // Service records.
  std::string_view version;
  std::string_view data_folder;
  // Run records.
  RunKind kind = RunKind::kSchedule;
  std::string_view id;
  std::string_view file;          // the definition file's name
  int64_t pid = 0;                // run start: the process id, 0 unknown
  int64_t missed_s = 0;           // run start: the occurrence it catches up
  RunEnding ending = RunEnding::kExited;
  std::optional<uint32_t> exit_code;  // run end, when the child exited
  int64_t duration_s = 0;             // run end
  std::string_view cause;  // run end, not started: the call that failed
};

// The line, newline included. Strings are JSON-escaped: quotes,
// backslashes and control characters; a byte that is not part of valid
// UTF-8 is written as \u00XX of its value, so that every line is valid
// JSON whatever bytes an id or a folder holds.
std::string FormatJournalLine(const JournalRecord& record);

// The keys the service writes. A line read back keeps each in a place of
// its own: a reader asks every line for several of them.
enum class JournalKey : uint8_t {
  kRecord, kTimeS, kUtcOffsetS, kVersion, kDataFolder, kKind, kId, kFile,
  kPid, kMissedS, kEnded, kExitCode, kDurationS, kCause
};
inline constexpr size_t kJournalKeyCount = size_t(JournalKey::kCause) + 1;
// The key of that name, or nothing for one the service does not write.
std::optional<JournalKey> JournalKeyNamed(std::string_view name);

// A line read back: every string and number field by its key, the first
// of a key given twice. Strings are unescaped to the bytes they were
// written from. Keys and strings are views into the line read, or into
// `unescaped`: they live as long as the line.
struct JournalFields {
  // The service's keys, held when their bit (1 << key) is set.
  std::array<std::string_view, kJournalKeyCount> known_strings;
  std::array<int64_t, kJournalKeyCount> known_numbers{};
  uint32_t strings_held = 0;
  uint32_t numbers_held = 0;
  // Every other key.
  std::vector<std::pair<std::string_view, std::string_view>> strings;
  std::vector<std::pair<std::string_view, int64_t>> numbers;
  std::string unescaped;  // the keys and strings that held an escape
  const std::string_view* String(JournalKey key) const {
    return strings_held >> int(key) & 1 ? &known_strings[size_t(key)] : nullptr;
  }
  std::optional<int64_t> Number(JournalKey key) const {
    if ((numbers_held >> int(key) & 1) == 0) return std::nullopt;
    return known_numbers[size_t(key)];
  }
  const std::string_view* String(std::string_view key) const;
  std::optional<int64_t> Number(std::string_view key) const;
};
// False for a line that is not one flat JSON object of strings, integers
// and nulls: a torn last line, say. What `fields` held before is replaced.
bool ParseJournalLine(std::string_view line, JournalFields* fields);

// Who reads. The service trusts only its own files and opens the journal as
// it writes it; a viewer such as `schedules` runs as whoever calls it and
// reads what the service wrote as it reads the log, creating nothing (a
// journal it created would be one the service then refuses).
enum class JournalReader { kService, kViewer };

// Calls visit for every complete line of the older generation and then of
// the journal in the held folder, each read up to a bound, skipping what
// does not parse: a line without its newline (torn by a crash) included.
// False when the journal cannot be opened, with why in *failure if given.
bool ReadJournal(const platform::HeldFolder& folder, JournalReader reader,
                 const std::function<void(const JournalFields&)>& visit,
                 platform::FailedCall* failure = nullptr);

// The same for the last `bytes` of the journal alone, from the first line
// that begins inside them: what the newest runs need. *whole says that
// nothing of the journal was left before them.
bool ReadJournalTail(const platform::HeldFolder& folder, JournalReader reader,
                     size_t bytes,
                     const std::function<void(const JournalFields&)>& visit,
                     bool* whole, platform::FailedCall* failure = nullptr);

// Appends the record as one write, flushed to the system, beginning a new
// generation first when the cap would be passed. Nothing without a context
// or when the journal cannot be opened: the service runs on without it.
void WriteJournal(const JournalRecord& record);
// Lets the held journal go; the next record opens it again.
void CloseJournal();

const char* JournalKindName(RunKind kind);
const char* JournalEndingName(RunEnding ending);

}  // namespace corvana

// Shared fixtures: a temporary folder, a context rooted in it, the log's
// lines, a controllable clock and a recording process launcher.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/fs.h"
#include "platform/seams.h"

namespace corvana::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // The folder with the platform's separator at the end.
  std::string WithSeparator() const;
  void Write(const std::string& name, const std::string& content) const;
  // The folder held as the readers take it, opened at the first call.
  const platform::HeldFolder& Held();

 private:
  std::filesystem::path path_;
  std::unique_ptr<platform::HeldFolder> held_;
};

// `path` (ending with the separator) held as the readers take a folder.
std::unique_ptr<platform::HeldFolder> Hold(const std::string& path);

// The shell's folders as a test names them: the machine-wide one (empty:
// the shell names none) and no per-user one.
class FixedShellFolders final : public platform::ShellFolders {
 public:
  std::string CommonAppData() override { return common; }
  std::string UserAppData() override { return ""; }
  std::string common;
};

// Environment variables set by a test and put back after it.
// nullopt removes the variable; so does an empty value on Windows.
void SetEnvVar(const char* name, const std::optional<std::string>& value);

// Sets a variable for the life of the object, then puts the old value back.
class ScopedEnvVar {
 public:
  ScopedEnvVar(const char* name, const std::optional<std::string>& value);
  ~ScopedEnvVar();
  ScopedEnvVar(const ScopedEnvVar&) = delete;
  ScopedEnvVar& operator=(const ScopedEnvVar&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// InitAppContext with the machine-wide data folder pointed at `common` (an
// empty text means "the shell names none"). HomePath becomes
// common/Corvana/ when that is writable.
void InitContextAt(const std::string& common);
// An nginx.exe that passes the trust check, in HomePath's web-server folder,
// for tests whose launcher only records what would run.
void PlaceTrustedNginx();
// Whether a log reader gives the "#Software:" line the log file opens with.
enum class LogHeader { kKept, kDropped };
// Lines of the current log file, exactly as written but for the line ends.
std::vector<std::string> LogLines(LogHeader header = LogHeader::kKept);
// The same lines without their "[yyyy-mm-dd hh:mm:ss] " prefix.
std::vector<std::string> LogBodies(LogHeader header = LogHeader::kKept);
// How many lines of the log read `body` once their prefix is removed.
int LogCount(const std::string& body);
// Lines of a text file, LF or CRLF line ends removed.
std::vector<std::string> FileLines(const std::filesystem::path& path);
std::string ReadFile(const std::filesystem::path& path);
// Writes the bytes as they are (no line-end translation).
void WriteFile(const std::filesystem::path& path, const std::string& content);
// Lines without their "[yyyy-mm-dd hh:mm:ss] " prefix.
std::string WithoutTimestamp(const std::string& line);

// Local time, through the zone rules, as seconds since 1970.
int64_t LocalSeconds(int year, int month, int day, int hour, int minute,
                     int second);

class FakeClock final : public platform::Clock {
 public:
  explicit FakeClock(int64_t now_s = 0) : now_s_(now_s) {}
  int64_t NowSeconds() override;
  int64_t MonotonicMs() override;
  void SleepMs(int ms) override;
  void Set(int64_t now_s);
  // Moves both clocks; `ms` accumulates into whole wall seconds.
  void Advance(int64_t seconds, int64_t ms = 0);
  // The wall clock alone, as when somebody sets the system time.
  void JumpWall(int64_t seconds);
  int64_t slept_ms() const;

 private:
  // The worker thread and the control handler's thread may both sleep.
  mutable std::mutex lock_;
  int64_t now_s_;
  int64_t monotonic_ms_ = 1000000;
  int64_t sub_second_ms_ = 0;
  int64_t slept_ms_ = 0;
};

// Records every start; children "run" until Finish or Terminate, but for
// nginx's quit, which ends at once, and ends the running nginx. The
// worker and the control handler's thread may both start processes.
class RecordingLauncher final : public platform::ProcessLauncher {
 public:
  platform::StartResult Start(const platform::ProcessStart& start) override;
  platform::FailedCall StartDetached(const platform::ProcessStart& start) override;
  platform::ProcessStatus Query(platform::ProcessHandle process) override;
  bool Terminate(platform::ProcessHandle process, uint32_t exit_code) override;
  platform::FailedCall EndTree(platform::ProcessHandle process, uint32_t exit_code) override;
  void Release(platform::ProcessHandle process) override;
  void CollectEnded() override {}

  void Finish(platform::ProcessHandle process, uint32_t exit_code);
  std::vector<platform::ProcessStart> starts;
  std::vector<platform::ProcessStart> detached;
  std::vector<platform::ProcessHandle> terminated;  // by Terminate or EndTree
  std::vector<platform::ProcessHandle> released;
  bool fail_starts = false;  // each start fails with kFailedStart
  static constexpr platform::FailedCall kFailedStart{"StartProcess", 2};
  bool fail_queries = false;
  std::map<platform::ProcessHandle, platform::ProcessStatus> children;
  std::map<platform::ProcessHandle, std::string> command_lines;  // of every child

 private:
  void QuitNginx();  // every running nginx ends, as told by its quit
  std::mutex lock_;
  platform::ProcessHandle next_ = 100;
};

// Every event for administrators that the code under test reports, taken
// since the last Take. Installed before any test runs: no test writes to the
// machine's own Event Log or syslog.
struct RecordedEvent {
  platform::EventLevel level;
  uint32_t id;
  std::vector<std::string> strings;
  std::string text;
};
class RecordingEventReporter final : public platform::EventReporter {
 public:
  bool Report(platform::EventLevel level, uint32_t id,
              const std::vector<std::string>& strings, const std::string& text) override {
    std::lock_guard<std::mutex> guard(lock_);
    if (refusals_ > 0) return --refusals_, false;
    events_.push_back({level, id, strings, text});
    return true;
  }
  // The next `count` reports are not taken, as by a full syslog socket.
  void Refuse(int count) {
    std::lock_guard<std::mutex> guard(lock_);
    refusals_ = count;
  }
  std::vector<RecordedEvent> Take() {
    std::lock_guard<std::mutex> guard(lock_);
    return std::exchange(events_, {});
  }

 private:
  std::mutex lock_;
  std::vector<RecordedEvent> events_;
  int refusals_ = 0;
};
RecordingEventReporter& RecordedEvents();

// Puts back, at its end, all five seams as they were at its start, with the
// stop flag clear on both sides; a clock and a launcher given are installed
// for its life. Declare it after the seams it is given; without a clock the
// system's keeps running.
class ScopedSeams {
 public:
  ScopedSeams();
  ScopedSeams(platform::Clock& clock, platform::ProcessLauncher& launcher);
  explicit ScopedSeams(platform::ProcessLauncher& launcher);
  ~ScopedSeams();
  ScopedSeams(const ScopedSeams&) = delete;
  ScopedSeams& operator=(const ScopedSeams&) = delete;

 private:
  platform::Clock& clock_ = platform::CurrentClock();
  platform::ProcessLauncher& launcher_ = platform::CurrentLauncher();
  platform::ServiceManager& service_manager_ = platform::CurrentServiceManager();
  platform::ShellFolders& shell_folders_ = platform::CurrentShellFolders();
  platform::EventReporter& event_reporter_ = platform::CurrentEventReporter();
};

}  // namespace corvana::testing

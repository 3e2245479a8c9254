#include "support/fixtures.h"

#include <algorithm>
#include <cstdlib>
#include <atomic>
#include <fstream>
#include <random>
#include <sstream>

#include "engine/engine.h"
#include "environment/app_context.h"
#include "logging/log.h"
#include "logging/log_stamp.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "service/start_up.h"
#include "webserver/webserver_control.h"

namespace corvana::testing {
namespace fs = std::filesystem;

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  std::random_device random;
  path_ = fs::temp_directory_path() /
          ("corvana-test-" + std::to_string(random()) + "-" +
           std::to_string(counter++));
  fs::create_directories(path_);
}

namespace {

// Once over the tree: the log a test left open, shared for deletion, is only
// marked on Windows and stays listed, which remove_all retries without end.
void RemoveTree(const fs::path& path) {
  std::error_code ignored;
  for (const fs::directory_entry& entry : fs::directory_iterator(path, ignored)) {
    if (entry.is_directory(ignored) && !entry.is_symlink(ignored)) RemoveTree(entry);
    fs::remove(entry, ignored);
  }
  fs::remove(path, ignored);
}

}  // namespace

TempDir::~TempDir() {
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  RemoveTree(path_);
}

const platform::HeldFolder& TempDir::Held() {
  if (held_ == nullptr) held_ = Hold(WithSeparator());
  return *held_;
}

std::unique_ptr<platform::HeldFolder> Hold(const std::string& path) {
  auto held = std::make_unique<platform::HeldFolder>();
  platform::HoldFolder(path, held.get());
  return held;
}

std::string TempDir::WithSeparator() const {
  return path_.string() + platform::kPathSeparator;
}

void TempDir::Write(const std::string& name, const std::string& content) const {
  WriteFile(path_ / name, content);
}

void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
}

void SetEnvVar(const char* name, const std::optional<std::string>& value) {
#ifdef _WIN32
  _putenv_s(name, value.value_or("").c_str());
#else
  if (value) {
    setenv(name, value->c_str(), 1);
  } else {
    unsetenv(name);
  }
#endif
}

ScopedEnvVar::ScopedEnvVar(const char* name,
                           const std::optional<std::string>& value)
    : name_(name), old_(platform::GetEnv(name)) {
  SetEnvVar(name, value);
}

ScopedEnvVar::~ScopedEnvVar() { SetEnvVar(name_, old_); }

void InitContextAt(const std::string& common) {
  static FixedShellFolders folders;
  folders.common = common;
  platform::SetShellFolders(&folders);
  InitAppContext(kProductName, kVersionText, kPrivacyPolicyUrl);
}

void PlaceTrustedNginx() {
  const fs::path folder = fs::path(GetAppContext()->HomePath) / "webserver";
  fs::create_directories(folder);
  std::ofstream(folder / "nginx.exe") << "recorded only";
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

std::vector<std::string> FileLines(const fs::path& path) {
  std::vector<std::string> lines;
  std::istringstream stream(ReadFile(path));
  for (std::string line; std::getline(stream, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> LogLines(LogHeader header) {
  std::vector<std::string> lines = FileLines(LogFilePath());
  if (header == LogHeader::kDropped && !lines.empty()) lines.erase(lines.begin());
  return lines;
}

std::string WithoutTimestamp(const std::string& line) {
  if (LogStampTime(line)) return line.substr(kLogStampLength);
  return line;
}

std::vector<std::string> LogBodies(LogHeader header) {
  std::vector<std::string> bodies = LogLines(header);
  for (std::string& line : bodies) line = WithoutTimestamp(line);
  return bodies;
}

int LogCount(const std::string& body) {
  const std::vector<std::string> bodies = LogBodies();
  return static_cast<int>(std::count(bodies.begin(), bodies.end(), body));
}

int64_t LocalSeconds(int year, int month, int day, int hour, int minute,
                     int second) {
  int64_t value = 0;
  platform::FromLocalTime(year, month - 1, day, hour, minute, second, &value);
  return value;
}

int64_t FakeClock::NowSeconds() {
  std::lock_guard<std::mutex> guard(lock_);
  return now_s_;
}

int64_t FakeClock::MonotonicMs() {
  std::lock_guard<std::mutex> guard(lock_);
  return monotonic_ms_;
}

void FakeClock::SleepMs(int ms) {
  Advance(0, ms);
  std::lock_guard<std::mutex> guard(lock_);
  slept_ms_ += ms;
}

void FakeClock::Set(int64_t now_s) {
  std::lock_guard<std::mutex> guard(lock_);
  now_s_ = now_s;
}

void FakeClock::JumpWall(int64_t seconds) {
  std::lock_guard<std::mutex> guard(lock_);
  now_s_ += seconds;
}

int64_t FakeClock::slept_ms() const {
  std::lock_guard<std::mutex> guard(lock_);
  return slept_ms_;
}

void FakeClock::Advance(int64_t seconds, int64_t ms) {
  std::lock_guard<std::mutex> guard(lock_);
  monotonic_ms_ += seconds * 1000 + ms;
  sub_second_ms_ += ms;
  now_s_ += seconds + sub_second_ms_ / 1000;
  sub_second_ms_ %= 1000;
}

platform::StartResult RecordingLauncher::Start(
    const platform::ProcessStart& start) {
  std::lock_guard<std::mutex> guard(lock_);
  starts.push_back(start);
  if (fail_starts) return {0, kFailedStart};
  platform::ProcessHandle handle = next_++;
  command_lines[handle] = start.command_line;
  const bool quit = start.command_line.ends_with(" -s quit");
  children[handle] = {quit ? platform::ProcessState::kExited : platform::ProcessState::kRunning, 0};
  if (quit) QuitNginx();
  return {handle, {}};
}

platform::FailedCall RecordingLauncher::StartDetached(
    const platform::ProcessStart& start) {
  std::lock_guard<std::mutex> guard(lock_);
  detached.push_back(start);
  if (fail_starts) return kFailedStart;
  if (start.command_line.ends_with(" -s quit")) QuitNginx();
  return {};
}

void RecordingLauncher::QuitNginx() {
  for (auto& [handle, status] : children) {
    if (command_lines[handle].ends_with("nginx.exe\"")) status.state = platform::ProcessState::kExited;
  }
}

platform::ProcessStatus RecordingLauncher::Query(
    platform::ProcessHandle process) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = children.find(process);
  if (fail_queries || it == children.end()) return {};
  return it->second;
}

bool RecordingLauncher::Terminate(platform::ProcessHandle process,
                                  uint32_t exit_code) {
  std::lock_guard<std::mutex> guard(lock_);
  terminated.push_back(process);
  children[process] = {platform::ProcessState::kExited, exit_code};
  return true;
}

platform::FailedCall RecordingLauncher::EndTree(platform::ProcessHandle process,
                                                uint32_t exit_code) {
  Terminate(process, exit_code);
  return {};
}

void RecordingLauncher::Release(platform::ProcessHandle process) {
  std::lock_guard<std::mutex> guard(lock_);
  released.push_back(process);
  children.erase(process);
}

void RecordingLauncher::Finish(platform::ProcessHandle process,
                               uint32_t exit_code) {
  std::lock_guard<std::mutex> guard(lock_);
  children[process] = {platform::ProcessState::kExited, exit_code};
}

ScopedSeams::ScopedSeams() { stop_requested.store(false); }

ScopedSeams::ScopedSeams(platform::Clock& clock,
                         platform::ProcessLauncher& launcher)
    : ScopedSeams(launcher) {
  platform::SetClock(&clock);
}

ScopedSeams::ScopedSeams(platform::ProcessLauncher& launcher) : ScopedSeams() {
  platform::SetLauncher(&launcher);
}

ScopedSeams::~ScopedSeams() {
  ForgetHeldNginx();  // a handle of the launcher that goes
  platform::SetClock(&clock_);
  platform::SetLauncher(&launcher_);
  platform::SetServiceManager(&service_manager_);
  platform::SetShellFolders(&shell_folders_);
  platform::SetEventReporter(&event_reporter_);
  stop_requested.store(false);
}

RecordingEventReporter& RecordedEvents() {
  static RecordingEventReporter* reporter = new RecordingEventReporter;
  return *reporter;
}

}  // namespace corvana::testing

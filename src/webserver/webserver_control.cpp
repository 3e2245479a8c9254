#include "webserver/webserver_control.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "environment/app_context.h"
#include "logging/log.h"
#include "logging/log_lines.h"
#include "logging/events.h"
#include "platform/env.h"
#include "platform/failure.h"
#include "platform/process.h"
#include "platform/seams.h"
#include "platform/trust.h"
#include "webserver/nginx_trust.h"

namespace corvana {

namespace {

constexpr int kWaitSliceMs = 5;

platform::ProcessStart NginxStart(const std::string& home_path,
                                  NginxCommand command) {
  platform::ProcessStart start;
  start.working_folder = home_path + kNginxFolder;
  start.application = NginxPath(home_path);
  // Quoted, so that a blank in HomePath reaches nginx as no argument.
  start.command_line = "\"" + start.application + "\"";
  if (command == NginxCommand::kQuit) start.command_line += " -s quit";
  start.kind = platform::StartKind::kNoWindow;
  return start;
}

// Windows creates the process opening nginx.exe with no way to decline
// another program's oplock on it, and would wait as long as that program
// wants: the process is created on a thread of its own, and the engine, or
// the stop, waits for it only as long as the stop's wait hint.
constexpr int kCreateBoundMs = kNginxQuitBoundMs;
constexpr auto kCreatePoll = std::chrono::milliseconds(20);

// Set while a start was refused because another program held one of its
// files: the engine tries again at its next reload.
std::atomic<bool> start_deferred{false};

// Set while a creation that was not waited for has not returned: the next
// command would wait on the same file, so it is not tried, and the stop's
// quits together wait no longer than one bound.
std::atomic<bool> creation_stuck{false};
constexpr char kStillBeingStarted[] = "is still being started by an earlier command";

// The nginx the start command created. The worker thread starts and
// watches it; the control handler's quit may end it at the same time.
struct Held {
  std::mutex lock;
  platform::ProcessHandle process = 0;
  // Whose handle it is: a launcher put in its place (a test's) never
  // receives a handle of another's, nor the system's one of a test's.
  platform::ProcessLauncher* launcher = nullptr;
};

Held& HeldProcess() {
  static Held* held = new Held;
  return *held;
}

// Whether a handle is held, forgetting one of a launcher no longer current.
// Under the held lock.
bool HeldByCurrent(Held& held) {
  if (held.launcher != &platform::CurrentLauncher()) held.process = 0;
  return held.process != 0;
}

// The exit code of an nginx whose tree was ended, as TerminateChild gives one.
constexpr uint32_t kEndedExitCode = 1;

void Hold(platform::ProcessHandle child) {
  Held& held = HeldProcess();
  std::lock_guard<std::mutex> guard(held.lock);
  // The engine starts one only when none is held; an older one goes on
  // untracked rather than be lost with its handle still open.
  if (HeldByCurrent(held)) held.launcher->Release(held.process);
  held.process = child;
  held.launcher = &platform::CurrentLauncher();
}

// Lets the held nginx go once it has ended, and with it whatever it left in
// its tree. Under the held lock.
bool LetGoIfEnded(Held& held, uint32_t* exit_code) {
  platform::ProcessLauncher& launcher = platform::CurrentLauncher();
  const platform::ProcessStatus status = launcher.Query(held.process);
  if (status.state != platform::ProcessState::kExited) return false;
  launcher.EndTree(held.process, kEndedExitCode);
  launcher.Release(held.process);
  held.process = 0;
  *exit_code = status.exit_code;
  return true;
}

// Ends the held nginx with everything it started; `why` goes to the log.
void EndHeldTree(const char* why) {
  Held& held = HeldProcess();
  platform::FailedCall failure;
  {
    std::lock_guard<std::mutex> guard(held.lock);
    if (!HeldByCurrent(held)) return;
    platform::ProcessLauncher& launcher = platform::CurrentLauncher();
    failure = launcher.EndTree(held.process, kEndedExitCode);
    launcher.Release(held.process);
    held.process = 0;
  }
  std::string line = std::string(log_line::kNginxTreeEnded) + why;
  if (failure.failed()) line += ", but " + platform::FailedCallText(failure);
  WriteLog(line);
}

// Whether the held nginx ended by `until_ms` of the clock seam.
bool AwaitHeldEnd(int64_t until_ms) {
  platform::Clock& clock = platform::CurrentClock();
  Held& held = HeldProcess();
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(held.lock);
      uint32_t exit_code = 0;
      if (!HeldByCurrent(held) || LetGoIfEnded(held, &exit_code)) return true;
    }
    if (clock.MonotonicMs() >= until_ms) return false;
    clock.SleepMs(kWaitSliceMs);
  }
}

// One creation, shared by the waiting caller and the creating thread. The
// held handles live as long as the creation does.
struct Creation {
  platform::ProcessLauncher* launcher = nullptr;
  platform::HeldProgram held;
  platform::ProcessStart start;
  bool tracked = false;
  std::mutex lock;
  std::condition_variable changed;
  bool done = false;
  bool created = false;
  bool abandoned = false;  // the caller went on: the thread lets the child go
  platform::ProcessHandle child = 0;
};

void Create(const std::shared_ptr<Creation>& creation) {
  platform::ProcessHandle child = 0;
  bool created = false;
  if (creation->tracked) {
    child = creation->launcher->Start(creation->start).process;
    created = child != 0;
  } else {
    created = !creation->launcher->StartDetached(creation->start).failed();
  }
  std::lock_guard<std::mutex> guard(creation->lock);
  creation->done = true;
  creation->created = created;
  creation->child = child;
  if (creation->abandoned) {
    if (child != 0) creation->launcher->Release(child);
    creation_stuck.store(false);
  }
  creation->changed.notify_all();
}

// Whether the process was created within the bound, read on the clock
// seam between waits; one still being created is left to its thread.
bool AwaitCreation(Creation& creation) {
  platform::Clock& clock = platform::CurrentClock();
  const int64_t until_ms = clock.MonotonicMs() + kCreateBoundMs;
  std::unique_lock<std::mutex> guard(creation.lock);
  while (!creation.changed.wait_for(guard, kCreatePoll,
                                    [&] { return creation.done; })) {
    if (clock.MonotonicMs() >= until_ms) {
      creation.abandoned = true;
      creation_stuck.store(true);
      WriteLog(log_line::kNginxStartPending + creation.start.command_line);
      return false;
    }
  }
  return creation.created;
}

// Released either way: one still running is reaped later. The wait is
// measured, not counted in slices: a 5 ms sleep takes a whole timer tick on
// Windows, about 15.6 ms.
void AwaitExit(platform::ProcessLauncher& launcher,
               platform::ProcessHandle child, int wait_ms) {
  platform::Clock& clock = platform::CurrentClock();
  const int64_t until_ms = clock.MonotonicMs() + wait_ms;
  while (clock.MonotonicMs() < until_ms) {
    if (launcher.Query(child).state != platform::ProcessState::kRunning) break;
    clock.SleepMs(kWaitSliceMs);
  }
  launcher.Release(child);
}

const char* RefusedLine(NginxCommand command) {
  return command == NginxCommand::kStart ? log_line::kNginxRefused : log_line::kNginxQuitRefused;
}

void Refuse(const NginxTrust& trust, NginxCommand command) {
  const bool start = command == NginxCommand::kStart;
  if (start && trust.in_use) start_deferred.store(true);
  if (trust.present) {
    WriteLog(RefusedLine(command) + trust.path + " " + trust.reason);
    ReportNginxRefused(trust.path, trust.reason, start ? "start" : "quit");
  }
}

// The folder lies in the users' data folder, and nginx runs as the system:
// a program anybody else could have placed there is not run. The checked
// handles stay open until the process exists. The start's nginx, and with
// `wait_ms` a quit, are started tracked: the one is held, the other's end
// awaited.
bool StartIfTrusted(const std::string& home_path, NginxCommand command,
                    int wait_ms) {
  auto creation = std::make_shared<Creation>();
  const NginxTrust trust = CheckNginxTrust(
      home_path, platform::ServiceAccount::kThisProcess, &creation->held);
  if (!trust.trusted) {
    Refuse(trust, command);
    return false;
  }
  ForgetNginxRefusal();
  if (command == NginxCommand::kStart) start_deferred.store(false);
  creation->launcher = &platform::CurrentLauncher();
  creation->start = NginxStart(home_path, command);
  creation->start.held = &creation->held;
  creation->tracked = wait_ms > 0 || command == NginxCommand::kStart;
  if (creation_stuck.load()) {
    WriteLog(RefusedLine(command) + trust.path + " " + kStillBeingStarted);
    return false;
  }
  // Where no start can wait on others, the creation needs no thread.
  if (!platform::kStartMayWaitOnOthers) {
    Create(creation);
  } else {
    const platform::FailedCall failure = platform::RunOnOwnThread([creation] { Create(creation); });
    if (failure.failed()) {
      // No thread to be had: as a process that was not created.
      WriteLog(RefusedLine(command) + platform::FailedCallText(failure));
      return false;
    }
  }
  if (!AwaitCreation(*creation)) return false;
  if (command == NginxCommand::kStart) {
    Hold(creation->child);
  } else if (creation->child != 0) {
    AwaitExit(*creation->launcher, creation->child, wait_ms);
  }
  return true;
}

}  // namespace

bool WebServerCommand(NginxCommand command, int wait_ms) {
  AppContext* context = GetAppContext();
  // The context is published before HomePath is settled, and the control
  // handler may quit in that moment: the folder would be read while it is
  // written, and an empty one would run nginx.exe relative to the current
  // directory. Logging is switched on last, once the folders are fixed.
  if (context == nullptr || !context->logging_enabled.load()) return false;
  WriteLog(NginxStart(context->HomePath, command).command_line);
  const bool started = StartIfTrusted(context->HomePath, command, wait_ms);
  if (started) {
    WriteLog(log_line::kWebServerCommandSucceeded);
  } else {
    WriteLog(log_line::kWebServerCommandFailed);
    if (command == NginxCommand::kQuit) EndHeldTree(log_line::kNginxQuitNotRun);
  }
  return started;
}

// The bound counts from the quit's start, so that a creation that waits
// (Windows) and the quit together take no longer than the stop's wait hint.
bool QuitHeldNginx() {
  const int64_t until_ms = platform::CurrentClock().MonotonicMs() + kNginxQuitBoundMs;
  const bool held = CheckHeldNginx().state == HeldNginxState::kRunning;
  if (!WebServerCommand(NginxCommand::kQuit)) return !held;
  if (AwaitHeldEnd(until_ms)) return true;
  EndHeldTree(log_line::kNginxDidNotQuit);
  return false;
}

HeldNginx CheckHeldNginx() {
  Held& held = HeldProcess();
  std::lock_guard<std::mutex> guard(held.lock);
  if (!HeldByCurrent(held)) return {};
  HeldNginx state{HeldNginxState::kEnded, 0};
  if (!LetGoIfEnded(held, &state.exit_code)) state.state = HeldNginxState::kRunning;
  return state;
}

void ForgetHeldNginx() {
  Held& held = HeldProcess();
  std::lock_guard<std::mutex> guard(held.lock);
  held.process = 0;
}

bool NginxStartDeferred() { return start_deferred.load(); }

}  // namespace corvana

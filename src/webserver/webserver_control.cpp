#include "webserver/webserver_control.h"

#include <cstdint>
#include <string>

#include "environment/app_context.h"
#include "logging/log.h"
#include "logging/log_lines.h"
#include "logging/events.h"
#include "platform/env.h"
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

// Started tracked, so that it can be watched, and released either way: one
// still running is reaped later. The wait is measured, not counted in
// slices: a 5 ms sleep takes a whole timer tick on Windows, about 15.6 ms.
bool StartAndWait(const platform::ProcessStart& start, int wait_ms) {
  platform::ProcessLauncher& launcher = platform::CurrentLauncher();
  const platform::ProcessHandle child = launcher.Start(start).process;
  if (child == 0) return false;
  platform::Clock& clock = platform::CurrentClock();
  const int64_t until_ms = clock.MonotonicMs() + wait_ms;
  while (clock.MonotonicMs() < until_ms) {
    if (launcher.Query(child).state != platform::ProcessState::kRunning) break;
    clock.SleepMs(kWaitSliceMs);
  }
  launcher.Release(child);
  return true;
}

// The folder lies in the users' data folder, and nginx runs as the system:
// a program anybody else could have placed there is not run. The checked
// handles stay open until the process exists.
bool StartIfTrusted(const std::string& home_path, platform::ProcessStart start,
                    int wait_ms) {
  platform::HeldProgram held;
  const NginxTrust trust = CheckNginxTrust(
      home_path, platform::ServiceAccount::kThisProcess, &held);
  start.held = &held;
  if (trust.trusted) {
    ForgetNginxRefusal();
    return wait_ms > 0 ? StartAndWait(start, wait_ms)
                       : !platform::CurrentLauncher().StartDetached(start).failed();
  }
  if (trust.present) {
    WriteLog(log_line::kNginxRefused + trust.path + " " + trust.reason);
    ReportNginxRefused(trust.path, trust.reason);
  }
  return false;
}

}  // namespace

bool WebServerCommand(NginxCommand command, int wait_ms) {
  AppContext* context = GetAppContext();
  // The context is published before HomePath is settled, and the control
  // handler may quit in that moment: the folder would be read while it is
  // written, and an empty one would run nginx.exe relative to the current
  // directory. Logging is switched on last, once the folders are fixed.
  if (context == nullptr || !context->logging_enabled.load()) return false;
  const platform::ProcessStart start = NginxStart(context->HomePath, command);
  WriteLog(start.command_line);
  const bool started = StartIfTrusted(context->HomePath, start, wait_ms);
  if (started) {
    WriteLog(log_line::kWebServerCommandSucceeded);
  } else {
    WriteLog(log_line::kWebServerCommandFailed);
  }
  return started;
}

}  // namespace corvana

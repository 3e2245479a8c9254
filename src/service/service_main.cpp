#include "service/service_main.h"

#include <memory>
#include <mutex>

#include "engine/engine.h"
#include "environment/app_context.h"
#include "logging/log.h"
#include "logging/log_lines.h"
#include "platform/seams.h"
#include "platform/service.h"
#include "service/service_install.h"
#include "service/start_up.h"
#include "webserver/webserver_control.h"

namespace corvana {
namespace {

constexpr int kHandlerPauseMs = 550;

// The status record as the manager last saw it. The handler's thread and
// the worker both report, so one lock keeps the checkpoints in order; once
// stopped is reported, a late stop pending must never follow it.
class StatusReports {
 public:
  void Begin(platform::StatusHandle handle) {
    std::lock_guard<std::mutex> guard(lock_);
    handle_ = handle;
    status_ = platform::ServiceStatus{};
    stopped_ = false;
  }
  void Running() { Report(platform::ServiceState::kRunning, 0); }
  // A stop takes no further controls, and each report moves the checkpoint
  // on so that the manager sees progress.
  void StopPending() {
    Report(platform::ServiceState::kStopPending, kStopWaitHintMs);
  }
  void Stopped() { Report(platform::ServiceState::kStopped, 0); }

 private:
  void Report(platform::ServiceState state, uint32_t wait_hint_ms) {
    std::lock_guard<std::mutex> guard(lock_);
    if (handle_ == 0 || stopped_) return;
    const bool pending = state == platform::ServiceState::kStopPending;
    status_.state = state;
    status_.accepts_stop = !pending;
    status_.checkpoint = pending ? status_.checkpoint + 1 : 0;
    status_.wait_hint_ms = wait_hint_ms;
    stopped_ = state == platform::ServiceState::kStopped;
    if (platform::CurrentServiceManager().ReportStatus(handle_, status_)) {
      return;
    }
    WriteTimestampedLog(log_line::kSetStatusFailed);
  }

  std::mutex lock_;
  platform::StatusHandle handle_ = 0;
  platform::ServiceStatus status_;
  bool stopped_ = false;
};

StatusReports& Reports() {
  static StatusReports* reports = new StatusReports;
  return *reports;
}

}  // namespace

void ServiceMain() {
  const platform::StatusHandle handle =
      platform::CurrentServiceManager().RegisterControlHandler(
          kServiceName, &ServiceControlHandler);
  if (handle == 0) {
    WriteTimestampedLog(log_line::kRegisterHandlerFailed);
    return;
  }
  StatusReports& reports = Reports();
  reports.Begin(handle);
  reports.Running();
  InitAppContext(kProductName, kVersionText, kPrivacyPolicyUrl);
  auto engine = std::make_unique<SchedulerEngine>();
  EngineStart(*engine);
  while (!stop_requested.load()) EngineTick(*engine);
  reports.StopPending();
  EngineShutdown(*engine);
  reports.Stopped();
  engine.reset();
}

void ServiceControlHandler(platform::ServiceControl control) {
  if (control == platform::ServiceControl::kOther) return;
  // The lines may come before the flag: the log is held open for the run,
  // so no other user's lock or oplock on its name can stall these writes.
  if (control == platform::ServiceControl::kStop) {
    WriteTimestampedLog(log_line::kServiceStopped);
  }
  WriteTimestampedLog(log_line::kServiceShutdown);
  // Before the flag: the worker's stopped report must come after this one.
  Reports().StopPending();
  stop_requested.store(true);
  WebServerCommand(NginxCommand::kQuit);
  platform::CurrentClock().SleepMs(kHandlerPauseMs);
}

}  // namespace corvana

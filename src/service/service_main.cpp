#include "service/service_main.h"

#include <memory>

#include "engine/engine.h"
#include "logging/log.h"
#include "platform/seams.h"
#include "platform/service.h"
#include "service/service_install.h"
#include "webserver/webserver_control.h"

namespace corvana {
namespace {

constexpr int kHandlerPauseMs = 550;

bool Report(platform::StatusHandle handle, platform::ServiceStatus& status,
            uint32_t state) {
  status.current_state = state;
  if (platform::ReportServiceStatus(handle, status)) return true;
  WriteTimestampedLog("Service: ServiceMain: SetServiceStatus returned error");
  return false;
}

}  // namespace

void ServiceMain() {
  platform::ServiceStatus status;
  status.service_type = platform::kServiceOwnProcess;
  status.current_state = platform::kServiceStartPending;
  status.controls_accepted = platform::kAcceptStopAndShutdown;
  const platform::StatusHandle handle =
      platform::RegisterControlHandler(kServiceName, &ServiceControlHandler);
  if (handle == 0) {
    WriteTimestampedLog(
        "Service: ServiceMain: RegisterServiceCtrlHandler returned error");
    return;
  }
  Report(handle, status, platform::kServiceRunning);
  auto engine = std::make_unique<SchedulerEngine>();
  EngineStart(*engine);
  while (!stop_requested.load()) EngineTick(*engine);
  EngineShutdown(*engine);
  status.exit_code = 0;
  Report(handle, status, platform::kServiceStopped);
  engine.reset();
}

void ServiceControlHandler(uint32_t control) {
  if (control != platform::kControlStop &&
      control != platform::kControlShutdown) {
    return;
  }
  if (control == platform::kControlStop) WriteTimestampedLog("Service: Stopped.");
  WriteTimestampedLog("Service: Shutdown.");
  stop_requested.store(true);
  WebServerCommand(kWebServerQuit);
  platform::CurrentClock().SleepMs(kHandlerPauseMs);
}

}  // namespace corvana

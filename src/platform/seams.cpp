#include "platform/seams.h"

#include <atomic>

#include "platform/clock.h"
#include "platform/env.h"

namespace corvana::platform {
namespace {

class SystemClockImpl final : public Clock {
 public:
  int64_t NowSeconds() override { return SystemNowSeconds(); }
  int64_t MonotonicMs() override { return SystemMonotonicMs(); }
  void SleepMs(int ms) override { SystemSleepMs(ms); }
};

class SystemServiceManagerImpl final : public ServiceManager {
 public:
  StatusHandle RegisterControlHandler(const char* service_name,
                                      ControlHandlerFunction handler) override {
    return platform::RegisterControlHandler(service_name, handler);
  }
  bool ReportStatus(StatusHandle handle, const ServiceStatus& status) override {
    return ReportServiceStatus(handle, status);
  }
  ServiceResult Register(const std::string& command_line,
                         const std::string& name,
                         const std::string& display_name) override {
    return RegisterService(command_line, name, display_name);
  }
  ServiceResult ConfigureRecovery(const std::string& name,
                                  const std::string& description) override {
    return ConfigureServiceRecovery(name, description);
  }
  ServiceResult Start(const std::string& name) override {
    return StartRegisteredService(name);
  }
  ServiceResult Stop(const std::string& name) override {
    return StopRegisteredService(name);
  }
  ServiceResult Remove(const std::string& name) override {
    return RemoveService(name);
  }
};

class SystemShellFoldersImpl final : public ShellFolders {
 public:
  std::string CommonAppData() override { return CommonAppDataFolder(); }
  std::string UserAppData() override { return UserAppDataFolder(); }
};

SystemClockImpl system_clock;
SystemLauncher system_launcher;
SystemServiceManagerImpl system_service_manager;
SystemShellFoldersImpl system_shell_folders;
SystemEventReporter system_event_reporter;
std::atomic<Clock*> current_clock{&system_clock};
std::atomic<ProcessLauncher*> current_launcher{&system_launcher};
std::atomic<ServiceManager*> current_service_manager{&system_service_manager};
std::atomic<ShellFolders*> current_shell_folders{&system_shell_folders};
std::atomic<EventReporter*> current_event_reporter{&system_event_reporter};

}  // namespace

bool ProcessLauncher::ResumeHeld(HeldThread thread) {
  return ResumeHeldThread(thread);
}

StartResult SystemLauncher::Start(const ProcessStart& start) {
  return StartProcess(start);
}
FailedCall SystemLauncher::StartDetached(const ProcessStart& start) {
  return StartDetachedProcess(start);
}
ProcessStatus SystemLauncher::Query(ProcessHandle process) {
  return QueryProcess(process);
}
bool SystemLauncher::Terminate(ProcessHandle process, uint32_t exit_code) {
  return TerminateChild(process, exit_code);
}
FailedCall SystemLauncher::EndTree(ProcessHandle process, uint32_t exit_code) {
  return EndProcessTree(process, exit_code);
}
void SystemLauncher::Release(ProcessHandle process) { ReleaseProcess(process); }
void SystemLauncher::CollectEnded() { CollectEndedChildren(); }

bool SystemEventReporter::Report(EventLevel level, uint32_t event_id,
                                 const std::vector<std::string>& strings,
                                 const std::string& text) {
  const FailedCall failure = ReportSystemEvent(log_address_, level, event_id, strings, text);
  if (failure.failed()) may_take_soon_.store(RefusalMayPass(failure));
  return !failure.failed();
}

Clock& CurrentClock() { return *current_clock.load(); }
ProcessLauncher& CurrentLauncher() { return *current_launcher.load(); }
ServiceManager& CurrentServiceManager() {
  return *current_service_manager.load();
}
ShellFolders& CurrentShellFolders() { return *current_shell_folders.load(); }
EventReporter& CurrentEventReporter() { return *current_event_reporter.load(); }

void SetClock(Clock* clock) {
  current_clock.store(clock ? clock : &system_clock);
}

void SetLauncher(ProcessLauncher* launcher) {
  current_launcher.store(launcher ? launcher : &system_launcher);
}

void SetServiceManager(ServiceManager* manager) {
  current_service_manager.store(manager ? manager : &system_service_manager);
}

void SetShellFolders(ShellFolders* folders) {
  current_shell_folders.store(folders ? folders : &system_shell_folders);
}

void SetEventReporter(EventReporter* reporter) {
  current_event_reporter.store(reporter ? reporter : &system_event_reporter);
}

}  // namespace corvana::platform

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

constexpr int kWaitSliceMs = 5;

class SystemLauncherImpl final : public ProcessLauncher {
 public:
  ProcessHandle Start(const ProcessStart& start) override {
    return StartProcess(start);
  }
  bool StartDetached(const ProcessStart& start) override {
    return StartDetachedProcess(start);
  }
  // The wait is measured, not counted in slices: a 5 ms sleep takes a whole
  // timer tick on Windows, about 15.6 ms.
  bool StartDetachedAndWait(const ProcessStart& start, int wait_ms) override {
    const ProcessHandle child = StartProcess(start);
    if (child == 0) return false;
    Clock& clock = CurrentClock();
    const int64_t until_ms = clock.MonotonicMs() + wait_ms;
    while (clock.MonotonicMs() < until_ms) {
      if (QueryProcess(child).state != ProcessState::kRunning) break;
      clock.SleepMs(kWaitSliceMs);
    }
    ReleaseProcess(child);  // one still running is reaped later
    return true;
  }
  ProcessStatus Query(ProcessHandle process) override {
    return QueryProcess(process);
  }
  bool Terminate(ProcessHandle process, uint32_t exit_code) override {
    return TerminateChild(process, exit_code);
  }
  void Release(ProcessHandle process) override { ReleaseProcess(process); }
  void CollectEnded() override { CollectEndedChildren(); }
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

// One attempt; whatever the system does with it, the engine goes on.
class SystemEventReporterImpl final : public EventReporter {
 public:
  void Report(EventLevel level, uint32_t event_id,
              const std::vector<std::string>& strings,
              const std::string& text) override {
    ReportSystemEvent(level, event_id, strings, text);
  }
};

SystemClockImpl system_clock;
SystemLauncherImpl system_launcher;
SystemServiceManagerImpl system_service_manager;
SystemShellFoldersImpl system_shell_folders;
SystemEventReporterImpl system_event_reporter;
std::atomic<Clock*> current_clock{&system_clock};
std::atomic<ProcessLauncher*> current_launcher{&system_launcher};
std::atomic<ServiceManager*> current_service_manager{&system_service_manager};
std::atomic<ShellFolders*> current_shell_folders{&system_shell_folders};
std::atomic<EventReporter*> current_event_reporter{&system_event_reporter};
std::atomic<ThreadResumer> current_resumer{nullptr};

}  // namespace

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

void SetThreadResumer(ThreadResumer resumer) { current_resumer.store(resumer); }
ThreadResumer CurrentThreadResumer() { return current_resumer.load(); }

}  // namespace corvana::platform

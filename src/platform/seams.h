// The one way a test replaces a system call: every call the scheduler makes
// into the system that a test must see or steer goes through one of the
// interfaces here, reached by Current*() and replaced by Set*(), where
// nullptr puts the system's back. Set them before the worker thread starts.
// The service uses the system's; tests install their own, and drive days of
// ticks in milliseconds without waiting for one. The thread resumer is one
// call, so it is one pointer rather than an interface, set the same way.
//
// Two more replaceable points stay outside, on purpose:
// - SetLogSink (logging/log.h) is no system call but a feature of the
//   product: `schedules` takes the reader's messages from it.
// - ResetCrashReportingForTesting (logging/crash_reporting.h) forgets the
//   crash library's entry points, which stay registered with it for the life
//   of the process; it replaces no call, only where the library is looked for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/event_log.h"
#include "platform/process.h"
#include "platform/service.h"

namespace corvana::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual int64_t NowSeconds() = 0;   // wall clock, seconds since 1970
  virtual int64_t MonotonicMs() = 0;  // never jumps with the wall clock
  virtual void SleepMs(int ms) = 0;
};

class ProcessLauncher {
 public:
  virtual ~ProcessLauncher() = default;
  virtual ProcessHandle Start(const ProcessStart& start) = 0;
  virtual bool StartDetached(const ProcessStart& start) = 0;
  // Starts a child that nobody tracks and returns once it has ended, or
  // after `wait_ms`. A launcher that cannot wait just starts it detached.
  virtual bool StartDetachedAndWait(const ProcessStart& start, int wait_ms) {
    (void)wait_ms;
    return StartDetached(start);
  }
  virtual ProcessStatus Query(ProcessHandle process) = 0;
  virtual bool Terminate(ProcessHandle process, uint32_t exit_code) = 0;
  virtual void Release(ProcessHandle process) = 0;
  virtual void CollectEnded() = 0;
};

// The service manager, while the service runs and when it is registered or
// removed. A test's never reaches the machine's own manager, where a
// RavoScheduler may be installed.
class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  virtual StatusHandle RegisterControlHandler(
      const char* service_name, ControlHandlerFunction handler) = 0;
  virtual bool ReportStatus(StatusHandle handle,
                            const ServiceStatus& status) = 0;
  virtual ServiceResult Register(const std::string& command_line,
                                 const std::string& name,
                                 const std::string& display_name) = 0;
  virtual ServiceResult ConfigureRecovery(const std::string& name,
                                          const std::string& description) = 0;
  virtual ServiceResult Start(const std::string& name) = 0;
  virtual ServiceResult Stop(const std::string& name) = 0;
  virtual ServiceResult Remove(const std::string& name) = 0;
};

// The shell's data folders, without a trailing separator; empty when the
// system names none.
class ShellFolders {
 public:
  virtual ~ShellFolders() = default;
  virtual std::string CommonAppData() = 0;
  virtual std::string UserAppData() = 0;
};

// The system's log for administrators (ReportSystemEvent). Tests record
// what would have been reported.
class EventReporter {
 public:
  virtual ~EventReporter() = default;
  virtual void Report(EventLevel level, uint32_t event_id,
                      const std::vector<std::string>& strings,
                      const std::string& text) = 0;
};

// Lets a child go that the system's launcher started held: on Windows a
// tracked child starts suspended and is resumed once it is in its job;
// false when it cannot be. Tests put in one that fails. POSIX starts
// nothing held.
using ThreadResumer = bool (*)(std::intptr_t thread);

Clock& CurrentClock();
ProcessLauncher& CurrentLauncher();
ServiceManager& CurrentServiceManager();
ShellFolders& CurrentShellFolders();
EventReporter& CurrentEventReporter();
void SetClock(Clock* clock);
void SetLauncher(ProcessLauncher* launcher);
void SetServiceManager(ServiceManager* manager);
void SetShellFolders(ShellFolders* folders);
void SetEventReporter(EventReporter* reporter);
// nullptr: the system's, which CurrentThreadResumer gives as nullptr too.
void SetThreadResumer(ThreadResumer resumer);
ThreadResumer CurrentThreadResumer();

}  // namespace corvana::platform

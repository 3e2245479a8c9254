// The one way a test replaces a system call: every call the scheduler makes
// into the system that a test must see or steer goes through one of the
// interfaces here, reached by Current*() and replaced by Set*(), where
// nullptr puts the system's back. Set them before the worker thread starts.
// The service uses the system's; tests install their own, and drive days of
// ticks in milliseconds without waiting for one. The five: the clock, the
// process launcher (with the held start's resume), the service manager, the
// shell's folders and the event reporter. A test that steers one call of
// the system's launcher or reporter derives from, or builds, the system's
// own class below.
//
// One more replaceable point stays outside, on purpose: SetLogSink
// (logging/log.h) is no system call but a feature of the product:
// `schedules` takes the reader's messages from it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
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
  virtual StartResult Start(const ProcessStart& start) = 0;
  virtual FailedCall StartDetached(const ProcessStart& start) = 0;
  virtual ProcessStatus Query(ProcessHandle process) = 0;
  virtual bool Terminate(ProcessHandle process, uint32_t exit_code) = 0;
  virtual FailedCall EndTree(ProcessHandle process, uint32_t exit_code) = 0;
  virtual void Release(ProcessHandle process) = 0;
  virtual void CollectEnded() = 0;
  // The system's start of a tracked child holds it until it is in its job
  // (Windows; POSIX holds none) and lets it go through the current
  // launcher's ResumeHeld, so that a test can make that fail. Unless
  // overridden, the system's.
  virtual bool ResumeHeld(HeldThread thread);
};

// The system's launcher, for a test that steers only the held start.
class SystemLauncher : public ProcessLauncher {
 public:
  StartResult Start(const ProcessStart& start) override;
  FailedCall StartDetached(const ProcessStart& start) override;
  ProcessStatus Query(ProcessHandle process) override;
  bool Terminate(ProcessHandle process, uint32_t exit_code) override;
  FailedCall EndTree(ProcessHandle process, uint32_t exit_code) override;
  void Release(ProcessHandle process) override;
  void CollectEnded() override;
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
// what would have been reported. One attempt that never waits; false when
// the system did not take the report.
class EventReporter {
 public:
  virtual ~EventReporter() = default;
  virtual bool Report(EventLevel level, uint32_t event_id,
                      const std::vector<std::string>& strings,
                      const std::string& text) = 0;
  // Whether the last refusal may pass soon (RefusalMayPass).
  virtual bool MayTakeSoon() { return true; }
};

// The system's reporter, to the log at `log_address` (see event_log.h;
// empty: this machine's own). One attempt; whatever the system does with
// it, the engine goes on (logging/events.cpp keeps what was not taken).
class SystemEventReporter final : public EventReporter {
 public:
  explicit SystemEventReporter(std::string log_address = "")
      : log_address_(std::move(log_address)) {}
  bool Report(EventLevel level, uint32_t event_id,
              const std::vector<std::string>& strings,
              const std::string& text) override;
  bool MayTakeSoon() override { return may_take_soon_.load(); }

 private:
  std::string log_address_;
  std::atomic<bool> may_take_soon_{true};
};

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

}  // namespace corvana::platform

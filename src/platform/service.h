// The service manager: running as a service, and registering one.
// Windows: the service control manager. POSIX: the process runs in the
// foreground with SIGTERM and SIGINT as the stop control; systemd registers.
#pragma once

#include <cstdint>
#include <string>

namespace corvana::platform {

// "scheduler.exe" on Windows, "scheduler" elsewhere.
extern const char kSchedulerExecutableName[];
// What to tell the person installing when the service manager cannot be
// opened at all: on Windows it refuses anyone but an administrator; on
// POSIX systemd does not run.
extern const char kServiceManagerUnavailableText[];

// After a crash the manager starts the service again, after 60 s, twice;
// a day without a crash forgets the earlier ones.
inline constexpr uint32_t kRestartDelayS = 60;
inline constexpr uint32_t kRestartsAfterFailure = 2;
inline constexpr uint32_t kFailureResetPeriodS = 24 * 60 * 60;

// Where the service stands, as the manager is told.
enum class ServiceState { kStartPending, kRunning, kStopPending, kStopped };

// What the manager asks of a running service. Anything else it may ask
// comes as kOther and changes nothing.
enum class ServiceControl { kStop, kShutdown, kOther };

struct ServiceStatus {
  ServiceState state = ServiceState::kStartPending;
  bool accepts_stop = false;  // stop and shutdown alike
  // Moves on with every report of a stop under way, so that the manager
  // sees progress; wait_hint_ms is how long the next report may take.
  uint32_t checkpoint = 0;
  uint32_t wait_hint_ms = 0;
};

using ServiceMainFunction = void (*)();
using ControlHandlerFunction = void (*)(ServiceControl control);
using StatusHandle = std::intptr_t;  // 0: none

// Hands the calling thread to the dispatcher, which runs service_main on a
// worker thread; returns when the service has stopped (on Windows, at once
// when the process was not started by the service control manager).
bool RunServiceDispatcher(const char* service_name,
                          ServiceMainFunction service_main);
StatusHandle RegisterControlHandler(const char* service_name,
                                    ControlHandlerFunction handler);
bool ReportServiceStatus(StatusHandle handle, const ServiceStatus& status);

// Libraries load from the system folder and the scheduler's own folder only.
void RestrictLibrarySearch();

// What made a service-manager operation fail, in the scheduler's terms.
// Each platform maps its own errors to these.
enum class ServiceError {
  kNone,
  kAccessDenied,
  kNoSuchService,
  kServiceExists,   // creating one that is registered already
  kAlreadyRunning,  // starting one that runs
  kOther,           // only the native code tells
};

// The outcome of one service-manager operation: how far it got, and what
// failed, with the failed call's own code for the message.
struct ServiceResult {
  bool manager_opened = false;
  bool service_opened = false;
  bool succeeded = false;
  ServiceError error = ServiceError::kNone;
  uint32_t native_error = 0;  // Windows: its error; POSIX: errno or an exit status
  const char* failed_call = "";
};

// The words for a failure, the platform's own: for a failed create (empty
// when that failure goes unreported) and for a failed start, open or delete.
std::string CreateFailureText(const ServiceResult& result);
std::string FailureText(const ServiceResult& result);

ServiceResult RegisterService(const std::string& command_line,
                              const std::string& name,
                              const std::string& display_name);
// Sets the description and the restart-after-failure policy above. systemd
// takes the policy from the unit that RegisterService writes.
ServiceResult ConfigureServiceRecovery(const std::string& name,
                                       const std::string& description);
ServiceResult StartRegisteredService(const std::string& name);
ServiceResult StopRegisteredService(const std::string& name);
ServiceResult RemoveService(const std::string& name);

}  // namespace corvana::platform

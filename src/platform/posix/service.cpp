#include "platform/service.h"

#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <thread>
#include <vector>

#include "platform/failure.h"

extern char** environ;

namespace corvana::platform {

const char kSchedulerExecutableName[] = "scheduler";
const char kServiceManagerUnavailableText[] =
    "systemd does not run here: the service cannot be registered";

namespace {

constexpr int kWorkerEndedSignal = SIGUSR1;
constexpr char kUnitFolder[] = "/etc/systemd/system/";

std::atomic<ControlHandlerFunction> control_handler{nullptr};
// A stop that came before the worker registered its handler, kept until it
// does; and the thread to hand it to then.
std::atomic<bool> stop_pending{false};
pthread_t dispatcher_thread;

// systemctl's exit status when the caller lacks the privilege (the LSB's
// "insufficient privilege").
constexpr int kSystemctlNoPermission = 4;
// Named as the failed call when systemctl fails; its native code is then
// the exit status.
constexpr char kSystemctlCall[] = "systemctl";

bool SystemdRuns() {
  struct stat info;
  return stat("/run/systemd/system", &info) == 0 && S_ISDIR(info.st_mode);
}

void Fail(ServiceError error, const char* call, int native_error,
          ServiceResult* result) {
  result->succeeded = false;
  result->error = error;
  result->failed_call = call;
  result->native_error = static_cast<uint32_t>(native_error);
}

void FailWithErrno(const char* call, int native_error, ServiceResult* result) {
  Fail(native_error == EACCES || native_error == EPERM
           ? ServiceError::kAccessDenied
           : ServiceError::kOther,
       call, native_error, result);
}

// Runs systemctl with the arguments and waits for it; true on exit code 0.
// A failure is put into *result.
bool Systemctl(std::vector<std::string> args, ServiceResult* result) {
  args.insert(args.begin(), kSystemctlCall);
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawn_error = posix_spawnp(&pid, kSystemctlCall, nullptr, nullptr,
                                       argv.data(), environ);
  if (spawn_error != 0) {
    FailWithErrno("posix_spawnp", spawn_error, result);
    return false;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  const int exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (exit_status == 0) return true;
  Fail(exit_status == kSystemctlNoPermission ? ServiceError::kAccessDenied
                                             : ServiceError::kOther,
       kSystemctlCall, exit_status, result);
  return false;
}

std::string UnitPath(const std::string& name) {
  return kUnitFolder + name + ".service";
}

ServiceResult Opened(const std::string& name) {
  ServiceResult result;
  result.manager_opened = SystemdRuns();
  if (!result.manager_opened) return result;
  struct stat info;
  const std::string unit = UnitPath(name);
  result.service_opened = stat(unit.c_str(), &info) == 0;
  if (result.service_opened) return result;
  if (errno == ENOENT) {
    Fail(ServiceError::kNoSuchService, "stat", ENOENT, &result);
  } else {
    FailWithErrno("stat", errno, &result);
  }
  return result;
}

// Each step that fails has put its failure into *result already.
void Finish(bool ok, ServiceResult* result) { result->succeeded = ok; }

// The handler for a stop that has just come; none while the worker has not
// registered one, and then the stop is kept for the registration. Whichever
// of the two sees the other's step second delivers it, exactly once.
ControlHandlerFunction TakeStop() {
  if (ControlHandlerFunction handler = control_handler.load()) return handler;
  stop_pending.store(true);
  ControlHandlerFunction handler = control_handler.load();
  if (handler == nullptr || !stop_pending.exchange(false)) return nullptr;
  return handler;
}

}  // namespace

// The worker runs the service; this thread turns SIGTERM, SIGINT and SIGHUP
// into the stop control: a closed terminal must not end the scheduler
// without its stop (nginx's quit, the journal's stop record). The signals are blocked and taken with sigwaitinfo, so no
// handler runs in signal context at all. The thread sleeps until a signal
// comes: the worker wakes it with SIGUSR1 when the service has ended, so an
// idle service costs no wake-ups here.
bool RunServiceDispatcher(const char*, ServiceMainFunction service_main) {
  sigset_t taken;
  sigemptyset(&taken);
  sigaddset(&taken, SIGTERM);
  sigaddset(&taken, SIGINT);
  sigaddset(&taken, SIGHUP);
  sigaddset(&taken, kWorkerEndedSignal);
  // An ignored signal is discarded before sigwaitinfo could take it, and a
  // launcher may have started us with SIGINT ignored.
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigaction(SIGTERM, &default_action, nullptr);
  sigaction(SIGINT, &default_action, nullptr);
  sigaction(SIGHUP, &default_action, nullptr);
  sigaction(kWorkerEndedSignal, &default_action, nullptr);
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &taken, &previous);
  const pthread_t dispatcher = pthread_self();
  dispatcher_thread = dispatcher;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    service_main();
    done.store(true);
    pthread_kill(dispatcher, kWorkerEndedSignal);
  });
  // A SIGUSR1 from outside while the service runs is swallowed.
  for (;;) {
    const int signal_number = sigwaitinfo(&taken, nullptr);
    if (signal_number == kWorkerEndedSignal && done.load()) break;
    if (signal_number != SIGTERM && signal_number != SIGINT &&
        signal_number != SIGHUP) {
      continue;
    }
    if (ControlHandlerFunction handler = TakeStop()) handler(ServiceControl::kStop);
  }
  worker.join();
  // The worker's own signal may still be pending after an outside one ended
  // the wait; unblocked, it would end the process.
  sigset_t ended_only;
  sigemptyset(&ended_only);
  sigaddset(&ended_only, kWorkerEndedSignal);
  const timespec no_wait{0, 0};
  while (sigtimedwait(&ended_only, nullptr, &no_wait) == kWorkerEndedSignal) {
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return true;
}

// A stop kept from before goes back to the dispatcher's thread, where the
// handler runs for every other stop.
StatusHandle RegisterControlHandler(const char*,
                                    ControlHandlerFunction handler) {
  control_handler.store(handler);
  if (stop_pending.exchange(false)) pthread_kill(dispatcher_thread, SIGTERM);
  return 1;
}

bool ReportServiceStatus(StatusHandle handle, const ServiceStatus&) {
  return handle != 0;
}

void RestrictLibrarySearch() {}

ServiceResult RegisterService(const std::string& command_line,
                              const std::string& name,
                              const std::string& display_name) {
  ServiceResult result;
  result.manager_opened = SystemdRuns();
  if (!result.manager_opened) return result;
  struct stat info;
  if (stat(UnitPath(name).c_str(), &info) == 0) {
    result.error = ServiceError::kServiceExists;
    return result;
  }
  std::FILE* unit = std::fopen(UnitPath(name).c_str(), "we");
  if (unit == nullptr) {
    FailWithErrno("fopen", errno, &result);
    return result;
  }
  // No start limit for the two restarts: systemd's counts manual starts
  // too, and would refuse an administrator's fourth start of the day.
  std::fprintf(unit,
               "[Unit]\nDescription=%s\n\n[Service]\nExecStart=%s\n"
               "KillMode=process\nRestart=on-failure\nRestartSec=%u\n\n"
               "[Install]\nWantedBy=multi-user.target\n",
               display_name.c_str(), command_line.c_str(), kRestartDelayS);
  std::fclose(unit);
  Finish(Systemctl({"daemon-reload"}, &result) &&
             Systemctl({"enable", name}, &result),
         &result);
  return result;
}

// The unit written at creation carries the restart policy already, and its
// Description is the name systemctl shows.
ServiceResult ConfigureServiceRecovery(const std::string& name,
                                       const std::string&) {
  ServiceResult result = Opened(name);
  result.succeeded = result.service_opened;
  return result;
}

ServiceResult StartRegisteredService(const std::string& name) {
  ServiceResult result = Opened(name);
  if (result.service_opened) {
    Finish(Systemctl({"start", name}, &result), &result);
  }
  return result;
}

ServiceResult StopRegisteredService(const std::string& name) {
  ServiceResult result = Opened(name);
  if (result.service_opened) {
    Finish(Systemctl({"stop", "--no-block", name}, &result), &result);
  }
  return result;
}

ServiceResult RemoveService(const std::string& name) {
  ServiceResult result = Opened(name);
  if (!result.service_opened) return result;
  ServiceResult ignored;
  Systemctl({"disable", name}, &ignored);
  if (unlink(UnitPath(name).c_str()) != 0) {
    FailWithErrno("unlink", errno, &result);
    return result;
  }
  Finish(Systemctl({"daemon-reload"}, &result), &result);
  return result;
}

std::string CreateFailureText(const ServiceResult& result) {
  // Installing over a registration keeps it, as on Windows, without a word.
  if (result.error == ServiceError::kServiceExists) return "";
  return FailureText(result);
}

std::string FailureText(const ServiceResult& result) {
  if (result.error == ServiceError::kNoSuchService) {
    return "Error: the service is not registered";
  }
  if (result.error == ServiceError::kServiceExists) {
    return "Error: the service is registered already";
  }
  // systemctl stands for the call, and its exit status for the code.
  const NativeErrorKind kind = result.failed_call == std::string(kSystemctlCall)
                                   ? NativeErrorKind::kExitStatus
                                   : NativeErrorKind::kSystemCode;
  return "Error: " +
         FailedCallText({result.failed_call, result.native_error, kind});
}

}  // namespace corvana::platform

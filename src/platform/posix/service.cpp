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

// Codes in the service manager's own numbering, so that the portable code
// reports the same texts on both systems.
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorServiceDoesNotExist = 1060;

bool SystemdRuns() {
  struct stat info;
  return stat("/run/systemd/system", &info) == 0 && S_ISDIR(info.st_mode);
}

// Runs systemctl with the arguments and waits for it; true on exit code 0.
bool Systemctl(std::vector<std::string> args) {
  args.insert(args.begin(), "systemctl");
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, "systemctl", nullptr, nullptr, argv.data(),
                   environ) != 0) {
    return false;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string UnitPath(const std::string& name) {
  return kUnitFolder + name + ".service";
}

ScmResult Opened(const std::string& name) {
  ScmResult result;
  result.manager_opened = SystemdRuns();
  if (!result.manager_opened) return result;
  struct stat info;
  result.service_opened = stat(UnitPath(name).c_str(), &info) == 0;
  if (!result.service_opened) result.error = kErrorServiceDoesNotExist;
  return result;
}

void Finish(bool ok, ScmResult* result) {
  result->succeeded = ok;
  if (!ok) result->error = kErrorAccessDenied;
}

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

// The worker runs the service; this thread turns SIGTERM and SIGINT into the
// stop control. The signals are blocked and taken with sigwaitinfo, so no
// handler runs in signal context at all. The thread sleeps until a signal
// comes: the worker wakes it with SIGUSR1 when the service has ended, so an
// idle service costs no wake-ups here.
bool RunServiceDispatcher(const char*, ServiceMainFunction service_main) {
  sigset_t taken;
  sigemptyset(&taken);
  sigaddset(&taken, SIGTERM);
  sigaddset(&taken, SIGINT);
  sigaddset(&taken, kWorkerEndedSignal);
  // An ignored signal is discarded before sigwaitinfo could take it, and a
  // launcher may have started us with SIGINT ignored.
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigaction(SIGTERM, &default_action, nullptr);
  sigaction(SIGINT, &default_action, nullptr);
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
    if (signal_number != SIGTERM && signal_number != SIGINT) continue;
    if (ControlHandlerFunction handler = TakeStop()) handler(kControlStop);
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

ScmResult ScmCreateService(const std::string& command_line,
                           const std::string& name,
                           const std::string& display_name) {
  ScmResult result;
  result.manager_opened = SystemdRuns();
  if (!result.manager_opened) return result;
  struct stat info;
  if (stat(UnitPath(name).c_str(), &info) == 0) {
    result.error = 1073;  // the service exists already
    return result;
  }
  std::FILE* unit = std::fopen(UnitPath(name).c_str(), "we");
  if (unit == nullptr) {
    Finish(false, &result);
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
  Finish(Systemctl({"daemon-reload"}) && Systemctl({"enable", name}), &result);
  return result;
}

// The unit written at creation carries the restart policy already, and its
// Description is the name systemctl shows.
ScmResult ScmConfigureRecovery(const std::string& name, const std::string&) {
  ScmResult result = Opened(name);
  result.succeeded = result.service_opened;
  return result;
}

ScmResult ScmStartService(const std::string& name) {
  ScmResult result = Opened(name);
  if (result.service_opened) Finish(Systemctl({"start", name}), &result);
  return result;
}

ScmResult ScmStopService(const std::string& name) {
  ScmResult result = Opened(name);
  if (result.service_opened) {
    Finish(Systemctl({"stop", "--no-block", name}), &result);
  }
  return result;
}

ScmResult ScmDeleteService(const std::string& name) {
  ScmResult result = Opened(name);
  if (!result.service_opened) return result;
  Systemctl({"disable", name});
  Finish(unlink(UnitPath(name).c_str()) == 0 && Systemctl({"daemon-reload"}),
         &result);
  return result;
}

}  // namespace corvana::platform

#include "platform/process.h"

#include <windows.h>

#include <process.h>

#include <cerrno>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/seams.h"

namespace corvana::platform {
namespace {

// The exit code of a child that was ended because it could not be resumed.
constexpr UINT kNotResumedExitCode = 1;

// Each tracked child runs in a job object of its own, so that ending it at
// the run-time limit ends everything it started as well. The job carries no
// limits (the child sees its normal priority class and nothing else) and no
// kill-on-close: a child that is released, or still runs when the service
// stops, goes on with its descendants.
class JobTable {
 public:
  void Keep(HANDLE process, HANDLE job) {
    std::lock_guard<std::mutex> guard(lock_);
    jobs_[process] = job;
  }
  HANDLE Find(HANDLE process) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = jobs_.find(process);
    return it == jobs_.end() ? nullptr : it->second;
  }
  void Close(HANDLE process) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = jobs_.find(process);
    if (it == jobs_.end()) return;
    CloseHandle(it->second);
    jobs_.erase(it);
  }

 private:
  std::mutex lock_;
  std::map<HANDLE, HANDLE> jobs_;
};

JobTable& Jobs() {
  static JobTable* table = new JobTable;
  return *table;
}

DWORD CreationFlags(StartKind kind) {
  return kind == StartKind::kNoWindow ? CREATE_NO_WINDOW : NORMAL_PRIORITY_CLASS;
}

bool Resume(HANDLE thread) {
  return CurrentLauncher().ResumeHeld(reinterpret_cast<HeldThread>(thread));
}

// A child left suspended would count as running until the run-time limit
// ends it a day later; it is ended now, with what it is in.
void EndUnresumed(HANDLE process, HANDLE job, bool joined) {
  if (joined && TerminateJobObject(job, kNotResumedExitCode)) return;
  TerminateProcess(process, kNotResumedExitCode);
}

// The full path goes in as the application name, so that Windows never
// searches for the file along a path that holds blanks.
bool CreateChild(const ProcessStart& start, bool suspended,
                 PROCESS_INFORMATION* info) {
  // CreateProcess may write into the command line buffer.
  std::vector<char> command_line(start.command_line.begin(),
                                 start.command_line.end());
  command_line.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  const DWORD flags =
      CreationFlags(start.kind) | (suspended ? CREATE_SUSPENDED : 0);
  return CreateProcessA(
             start.application.empty() ? nullptr : start.application.c_str(),
             command_line.data(), nullptr, nullptr, FALSE, flags, nullptr,
             start.working_folder.empty() ? nullptr
                                          : start.working_folder.c_str(),
             &startup, info) != 0;
}

// Puts a suspended child into `job` and lets it run; nullptr, with the
// child ended, when it cannot be resumed.
HANDLE JoinAndResume(const PROCESS_INFORMATION& info, HANDLE job,
                     bool* joined, FailedCall* failure) {
  *joined = job != nullptr && AssignProcessToJobObject(job, info.hProcess) != 0;
  const bool resumed = job == nullptr || Resume(info.hThread);
  CloseHandle(info.hThread);
  if (resumed) return info.hProcess;
  *failure = {"ResumeThread", static_cast<int64_t>(GetLastError())};
  EndUnresumed(info.hProcess, job, *joined);
  CloseHandle(info.hProcess);
  *joined = false;
  return nullptr;
}

// Starts the child suspended when it is to join `job`, so that it cannot
// start anything before it is in the job. Without a job, or when the job
// cannot take it (an older Windows inside a job of its own), it runs as it
// is. *joined tells which.
HANDLE Spawn(const ProcessStart& start, HANDLE job, bool* joined,
             FailedCall* failure) {
  PROCESS_INFORMATION info{};
  if (!CreateChild(start, job != nullptr, &info)) {
    *failure = {"CreateProcessA", static_cast<int64_t>(GetLastError())};
    return nullptr;
  }
  return JoinAndResume(info, job, joined, failure);
}

}  // namespace

StartResult StartProcess(const ProcessStart& start) {
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  bool joined = false;
  StartResult result;
  HANDLE process = Spawn(start, job, &joined, &result.failure);
  if (process != nullptr && joined) {
    Jobs().Keep(process, job);
  } else if (job != nullptr) {
    CloseHandle(job);
  }
  result.process = reinterpret_cast<ProcessHandle>(process);
  return result;
}

FailedCall StartDetachedProcess(const ProcessStart& start) {
  bool joined = false;
  FailedCall failure;
  HANDLE process = Spawn(start, nullptr, &joined, &failure);
  if (process != nullptr) CloseHandle(process);
  return failure;
}

bool ResumeHeldThread(HeldThread thread) {
  return ResumeThread(reinterpret_cast<HANDLE>(thread)) != static_cast<DWORD>(-1);
}

int64_t ProcessIdOf(ProcessHandle process) {
  return process == 0 ? 0 : GetProcessId(reinterpret_cast<HANDLE>(process));
}

ProcessStatus QueryProcess(ProcessHandle process) {
  DWORD code = 0;
  if (process == 0 ||
      !GetExitCodeProcess(reinterpret_cast<HANDLE>(process), &code)) {
    return {};
  }
  // A child that exits with 259 reads as running: the system gives that
  // very code for one that has not ended.
  if (code == STILL_ACTIVE) return {ProcessState::kRunning, 0};
  return {ProcessState::kExited, code};
}

// The child and everything it started, where it runs in a job.
bool TerminateChild(ProcessHandle process, uint32_t exit_code) {
  if (process == 0) return false;
  HANDLE handle = reinterpret_cast<HANDLE>(process);
  if (HANDLE job = Jobs().Find(handle)) {
    if (TerminateJobObject(job, exit_code)) return true;
  }
  return TerminateProcess(handle, exit_code) != 0;
}

FailedCall EndProcessTree(ProcessHandle process, uint32_t exit_code) {
  if (process == 0) return {"TerminateJobObject", ERROR_INVALID_HANDLE};
  HANDLE handle = reinterpret_cast<HANDLE>(process);
  // A job that ends takes everything in it, the children a process started
  // after it joined among them, whether or not that process itself still runs.
  if (HANDLE job = Jobs().Find(handle)) {
    if (TerminateJobObject(job, exit_code)) return {};
    return {"TerminateJobObject", static_cast<int64_t>(GetLastError())};
  }
  // Not in a job: the process alone can be reached.
  if (QueryProcess(process).state != ProcessState::kRunning) return {};
  if (TerminateProcess(handle, exit_code)) return {};
  return {"TerminateProcess", static_cast<int64_t>(GetLastError())};
}

void ReleaseProcess(ProcessHandle process) {
  if (process == 0) return;
  Jobs().Close(reinterpret_cast<HANDLE>(process));
  CloseHandle(reinterpret_cast<HANDLE>(process));
}

void CollectEndedChildren() {}

const bool kStartMayWaitOnOthers = true;

namespace {

unsigned __stdcall RunOwnedBody(void* argument) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
  (*body)();
  return 0;
}

}  // namespace

// Not std::thread's detach: under load the threading library's detach loses
// about one thread in a thousand that has not yet begun, which then never
// runs, and the waiting command would wait for it forever.
FailedCall RunOnOwnThread(std::function<void()> body) {
  auto owned = std::make_unique<std::function<void()>>(std::move(body));
  const uintptr_t thread = _beginthreadex(nullptr, 0, RunOwnedBody, owned.get(), 0, nullptr);
  if (thread == 0) return {"_beginthreadex", static_cast<int64_t>(errno)};
  owned.release();
  CloseHandle(reinterpret_cast<HANDLE>(thread));
  return {};
}

}  // namespace corvana::platform

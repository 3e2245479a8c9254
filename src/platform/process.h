// Child processes started from a Windows-style command line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/failure.h"

namespace corvana::platform {

class HeldProgram;

// A started child, as the platform names it; 0 means none.
using ProcessHandle = std::intptr_t;
// The first thread of a child that StartProcess holds until the child is
// in its job (Windows); POSIX holds none.
using HeldThread = std::intptr_t;

// How a child is started. Each platform says it in its own terms; POSIX
// children inherit the scheduler's terminal and priority either way.
enum class StartKind {
  kNormalPriority,  // at normal priority, whatever the scheduler's own
  kNoWindow,        // without a console window, at the default priority
};

enum class ProcessState { kInvalid, kRunning, kExited };

struct ProcessStatus {
  ProcessState state = ProcessState::kInvalid;
  uint32_t exit_code = 0;  // the child's code once it has exited
};

struct ProcessStart {
  // Full path of the file to run. Empty: resolve it from the command line
  // the way Windows resolves an unquoted one.
  std::string application;
  std::string command_line;
  // Empty: the child inherits the scheduler's current directory.
  std::string working_folder;
  StartKind kind = StartKind::kNormalPriority;
  // A checked program, held open: POSIX runs that very file from that very
  // folder, resolving no path again; `application` and `working_folder`
  // then only name them. Windows runs them by path while the held handles
  // keep both in place.
  const HeldProgram* held = nullptr;
};

// A start: the child, or (process 0) the call that failed and its code.
struct StartResult {
  ProcessHandle process = 0;
  FailedCall failure;
};

// Starts a child that the caller tracks. A held child goes on through the
// current launcher's ResumeHeld (platform/seams.h); one that cannot is
// ended, with what it is in, and the start fails.
StartResult StartProcess(const ProcessStart& start);
// Lets a held child go; false when it cannot be.
bool ResumeHeldThread(HeldThread thread);
// The system's number for a tracked child, 0 when it has none to give.
int64_t ProcessIdOf(ProcessHandle process);
// Starts a child that nobody tracks (it is still reaped on POSIX); the
// call that failed when it could not be started.
FailedCall StartDetachedProcess(const ProcessStart& start);
// kInvalid when the handle is not valid.
ProcessStatus QueryProcess(ProcessHandle process);
// Ends the child and what it started: on Windows its job, on POSIX its
// process group.
bool TerminateChild(ProcessHandle process, uint32_t exit_code);
// Ends the tracked child's whole tree: on Windows everything in its job, on
// POSIX everything in the process group it leads, and the child itself if it
// still runs. Unlike TerminateChild it still reaches the tree once the child
// itself has ended, until the handle is released: a killed nginx master
// leaves its workers running. The call that failed when the tree could not
// be ended.
FailedCall EndProcessTree(ProcessHandle process, uint32_t exit_code);
// Forgets the handle. A child that still runs goes on running, untracked,
// with everything it started.
void ReleaseProcess(ProcessHandle process);
// Reaps untracked children that have ended (POSIX); nothing on Windows.
void CollectEndedChildren();

// Whether starting a program can wait on another program's hold of its file:
// Windows opens it for CreateProcess without a way to decline a pending
// oplock break; POSIX has no such wait.
extern const bool kStartMayWaitOnOthers;

// Runs `body` on a thread of its own that nobody joins, for a call that may
// never return; fails, naming the call, when no thread could be had.
FailedCall RunOnOwnThread(std::function<void()> body);

// The arguments a Windows child would see for its command line, by the
// C runtime's rules: the program name up to its closing quote or first
// blank; then arguments split at blanks and tabs outside quotes, where
// quotes group, "" inside quotes and \" stand for a quote, and backslashes
// before a quote are halved.
std::vector<std::string> SplitCommandLine(const std::string& command_line);

}  // namespace corvana::platform

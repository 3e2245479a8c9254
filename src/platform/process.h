// Child processes started from a Windows-style command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvana::platform {

// A started child; 0 means none. A Windows HANDLE, or a POSIX process id.
using ProcessHandle = std::intptr_t;

inline constexpr uint32_t kStillActive = 259;
inline constexpr uint32_t kNormalPriorityClass = 0x20;
inline constexpr uint32_t kCreateNoWindow = 0x08000000;

struct ProcessStart {
  // Full path of the file to run. Empty: resolve it from the command line
  // the way Windows resolves an unquoted one.
  std::string application;
  std::string command_line;
  // Empty: the child inherits the scheduler's current directory.
  std::string working_folder;
  uint32_t creation_flags = kNormalPriorityClass;
};

// Starts a child that the caller tracks; 0 on failure.
ProcessHandle StartProcess(const ProcessStart& start);
// Starts a child that nobody tracks (it is still reaped on POSIX).
bool StartDetachedProcess(const ProcessStart& start);
// kStillActive while the child runs. False when the handle is not valid.
bool QueryExitCode(ProcessHandle process, uint32_t* exit_code);
// Ends the child and what it started: on Windows its job, on POSIX its
// process group.
bool TerminateChild(ProcessHandle process, uint32_t exit_code);
// Forgets the handle. A child that still runs goes on running, untracked,
// with everything it started.
void ReleaseProcess(ProcessHandle process);
// Reaps untracked children that have ended (POSIX); nothing on Windows.
void CollectEndedChildren();

// The arguments a Windows child would see for its command line, by the
// C runtime's rules: the program name up to its closing quote or first
// blank; then arguments split at blanks and tabs outside quotes, where
// quotes group, "" inside quotes and \" stand for a quote, and backslashes
// before a quote are halved.
std::vector<std::string> SplitCommandLine(const std::string& command_line);

}  // namespace corvana::platform

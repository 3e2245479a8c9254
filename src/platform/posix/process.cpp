#include "platform/process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "platform/env.h"
#include "platform/posix/held_handles.h"

extern char** environ;

namespace corvana::platform {
namespace {

// A process id stays ours until it is reaped. Ended children keep their exit
// code here until released, as a Windows handle keeps it.
struct ChildTable {
  std::mutex lock;
  std::map<pid_t, uint32_t> ended;  // reaped, with exit code
  std::set<pid_t> untracked;        // still to be reaped, nobody asks
};

ChildTable& Children() {
  static ChildTable* table = new ChildTable;
  return *table;
}

uint32_t ExitCodeOf(int status) {
  if (WIFEXITED(status)) return static_cast<uint32_t>(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return 128u + static_cast<uint32_t>(WTERMSIG(status));
  return 1;
}

bool IsExecutableFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         access(path.c_str(), X_OK) == 0;
}

// Looks for a name without a slash in the current directory, then on the
// PATH.
std::string SearchPath(const std::string& candidate) {
  if (IsExecutableFile(candidate)) return candidate;
  if (candidate.find('/') != std::string::npos) return "";
  auto path = GetEnv("PATH");
  if (!path) return "";
  size_t begin = 0;
  while (begin <= path->size()) {
    size_t colon = path->find(':', begin);
    if (colon == std::string::npos) colon = path->size();
    std::string dir = path->substr(begin, colon - begin);
    std::string full = (dir.empty() ? "." : dir) + "/" + candidate;
    if (IsExecutableFile(full)) return full;
    begin = colon + 1;
  }
  return "";
}

// Windows takes a quoted program name as it stands; an unquoted one by
// trying its blank-separated prefixes, shortest first.
std::string ResolveApplication(const std::string& command_line) {
  if (!command_line.empty() && command_line[0] == '"') {
    const std::vector<std::string> args = SplitCommandLine(command_line);
    return args.empty() || args[0].empty() ? "" : SearchPath(args[0]);
  }
  for (size_t end = 0; end <= command_line.size(); ++end) {
    if (end < command_line.size() && command_line[end] != ' ') continue;
    std::string candidate = command_line.substr(0, end);
    if (candidate.empty()) continue;
    std::string found = SearchPath(candidate);
    if (!found.empty()) return found;
  }
  return "";
}

// The checked program itself, through its held descriptor: nothing is
// looked up by name again between the check and the start. The child gets
// the descriptor without close-on-exec, so that a script's interpreter can
// open the path it is handed; the parent's copy stays close-on-exec.
std::string HeldProgramPath(const HeldProgram& held,
                            posix_spawn_file_actions_t* actions) {
  const HeldProgram::Handles& fds = held.handles();
  if (fds.file < 0 || fds.folder < 0) return "";
  posix_spawn_file_actions_adddup2(actions, fds.file, fds.file);
  posix_spawn_file_actions_addfchdir_np(actions, fds.folder);
  return "/proc/self/fd/" + std::to_string(fds.file);
}

std::string ResolveProgram(const ProcessStart& start) {
  std::string file = start.application.empty()
                         ? ResolveApplication(start.command_line)
                         : start.application;
  // As on Windows, a relative file is found from the scheduler's current
  // directory, not from the child's working folder.
  if (!file.empty() && file[0] != '/' && file.find('/') != std::string::npos) {
    file = CurrentDirectory() + "/" + file;
  }
  return file;
}

// The child sees the arguments a Windows child would, except that its
// first one is the program path given, as a POSIX child expects.
std::vector<std::string> ChildArguments(const ProcessStart& start) {
  std::vector<std::string> args = SplitCommandLine(start.command_line);
  if (args.empty()) args.emplace_back();
  if (!start.application.empty()) args[0] = start.application;
  return args;
}

// A group of its own keeps Ctrl-C in the scheduler's terminal away from
// the children, as on Windows.
void SetChildAttributes(posix_spawnattr_t* attributes) {
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGPIPE);
  sigset_t no_mask;
  sigemptyset(&no_mask);
  posix_spawnattr_setsigdefault(attributes, &defaults);
  posix_spawnattr_setsigmask(attributes, &no_mask);
  posix_spawnattr_setpgroup(attributes, 0);
  posix_spawnattr_setflags(attributes, POSIX_SPAWN_SETPGROUP |
                                           POSIX_SPAWN_SETSIGDEF |
                                           POSIX_SPAWN_SETSIGMASK);
}

// The child's pid, or 0 with the failed call in *failure. A program that
// cannot be found fails as posix_spawn fails on a missing file.
pid_t Spawn(const ProcessStart& start, FailedCall* failure) {
  std::string file = ResolveProgram(start);
  if (file.empty()) {
    *failure = {"posix_spawn", ENOENT};
    return 0;
  }
  std::vector<std::string> args = ChildArguments(start);
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  if (start.held != nullptr) {
    file = HeldProgramPath(*start.held, &actions);
  } else if (!start.working_folder.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, start.working_folder.c_str());
  }
  SetChildAttributes(&attributes);
  pid_t pid = 0;
  int error = file.empty() ? ENOENT
                           : posix_spawn(&pid, file.c_str(), &actions,
                                         &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (error == 0) return pid;
  *failure = {"posix_spawn", error};
  return 0;
}

void CollectLocked(ChildTable& table) {
  for (auto it = table.untracked.begin(); it != table.untracked.end();) {
    int status = 0;
    pid_t result = waitpid(*it, &status, WNOHANG);
    if (result == *it || (result < 0 && errno == ECHILD)) {
      it = table.untracked.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace

StartResult StartProcess(const ProcessStart& start) {
  StartResult result;
  result.process = static_cast<ProcessHandle>(Spawn(start, &result.failure));
  return result;
}

FailedCall StartDetachedProcess(const ProcessStart& start) {
  FailedCall failure;
  pid_t pid = Spawn(start, &failure);
  if (pid == 0) return failure;
  ChildTable& table = Children();
  std::lock_guard<std::mutex> guard(table.lock);
  table.untracked.insert(pid);
  CollectLocked(table);
  return failure;
}

bool ResumeHeldThread(HeldThread) { return true; }  // nothing is held

int64_t ProcessIdOf(ProcessHandle process) { return process > 0 ? process : 0; }

ProcessStatus QueryProcess(ProcessHandle process) {
  if (process <= 0) return {};
  pid_t pid = static_cast<pid_t>(process);
  ChildTable& table = Children();
  std::lock_guard<std::mutex> guard(table.lock);
  auto ended = table.ended.find(pid);
  if (ended != table.ended.end()) return {ProcessState::kExited, ended->second};
  int status = 0;
  pid_t result = waitpid(pid, &status, WNOHANG);
  if (result == 0) return {ProcessState::kRunning, 0};
  if (result != pid) return {};
  table.ended[pid] = ExitCodeOf(status);
  return {ProcessState::kExited, table.ended[pid]};
}

bool TerminateChild(ProcessHandle process, uint32_t exit_code) {
  if (process <= 0) return false;
  pid_t pid = static_cast<pid_t>(process);
  ChildTable& table = Children();
  std::lock_guard<std::mutex> guard(table.lock);
  if (table.ended.count(pid) != 0) return false;
  // Not yet reaped, so neither the id nor the group it leads can belong to
  // anybody else. The group holds what the child started, unless that moved
  // to a group of its own; the child itself may have left it too.
  const bool group_ended = kill(-pid, SIGKILL) == 0;
  if (kill(pid, SIGKILL) != 0 && !group_ended) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  table.ended[pid] = exit_code;
  return true;
}

FailedCall EndProcessTree(ProcessHandle process, uint32_t exit_code) {
  if (process <= 0) return {"kill", ESRCH};
  pid_t pid = static_cast<pid_t>(process);
  ChildTable& table = Children();
  std::lock_guard<std::mutex> guard(table.lock);
  // A group keeps its id while any member lives, and an unreaped child
  // keeps it too, so the id names no other group. Once the child is reaped
  // and the group empty, a new group of that id would need the id to come
  // round again first: callers end the tree at once after the reap.
  if (kill(-pid, SIGKILL) != 0 && errno != ESRCH) return {"kill", errno};
  if (table.ended.count(pid) != 0) return {};
  // It may have left its group.
  if (kill(pid, SIGKILL) != 0 && errno != ESRCH) return {"kill", errno};
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  table.ended[pid] = exit_code;
  return {};
}

void ReleaseProcess(ProcessHandle process) {
  if (process <= 0) return;
  pid_t pid = static_cast<pid_t>(process);
  ChildTable& table = Children();
  std::lock_guard<std::mutex> guard(table.lock);
  if (table.ended.erase(pid) == 0) table.untracked.insert(pid);
  CollectLocked(table);
}

void CollectEndedChildren() {
  ChildTable& table = Children();
  std::lock_guard<std::mutex> guard(table.lock);
  CollectLocked(table);
}

const bool kStartMayWaitOnOthers = false;

FailedCall RunOnOwnThread(std::function<void()> body) {
  try {
    std::thread(std::move(body)).detach();
  } catch (const std::system_error& error) {
    return {"pthread_create", error.code().value()};
  }
  return {};
}

}  // namespace corvana::platform

#include "platform/process.h"

#include <windows.h>

#include <vector>

namespace corvana::platform {
namespace {

HANDLE Spawn(const ProcessStart& start) {
  // CreateProcess may write into the command line buffer.
  std::vector<char> command_line(start.command_line.begin(),
                                 start.command_line.end());
  command_line.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  // The full path goes in as the application name, so that Windows never
  // searches for the file along a path that holds blanks.
  BOOL created = CreateProcessA(
      start.application.empty() ? nullptr : start.application.c_str(),
      command_line.data(), nullptr, nullptr, FALSE, start.creation_flags,
      nullptr,
      start.working_folder.empty() ? nullptr : start.working_folder.c_str(),
      &startup, &info);
  if (!created) return nullptr;
  CloseHandle(info.hThread);
  return info.hProcess;
}

}  // namespace

ProcessHandle StartProcess(const ProcessStart& start) {
  return reinterpret_cast<ProcessHandle>(Spawn(start));
}

bool StartDetachedProcess(const ProcessStart& start) {
  HANDLE process = Spawn(start);
  if (process == nullptr) return false;
  CloseHandle(process);
  return true;
}

bool QueryExitCode(ProcessHandle process, uint32_t* exit_code) {
  DWORD code = 0;
  if (process == 0 ||
      !GetExitCodeProcess(reinterpret_cast<HANDLE>(process), &code)) {
    return false;
  }
  *exit_code = code;
  return true;
}

bool TerminateChild(ProcessHandle process, uint32_t exit_code) {
  return process != 0 &&
         TerminateProcess(reinterpret_cast<HANDLE>(process), exit_code) != 0;
}

void ReleaseProcess(ProcessHandle process) {
  if (process != 0) CloseHandle(reinterpret_cast<HANDLE>(process));
}

void CollectEndedChildren() {}

}  // namespace corvana::platform

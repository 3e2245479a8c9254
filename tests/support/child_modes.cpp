#include "support/child_modes.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "platform/env.h"
#include "platform/process.h"
#include "support/proc.h"

#ifdef _WIN32
#include <share.h>  // the C runtime's sharing modes for _fsopen
#endif

namespace corvana::testing {
namespace {

namespace fs = std::filesystem;

// "where <file> [args...]": which file runs, from where, with what.
int RecordSelf(int argc, char** argv) {
  std::FILE* file = std::fopen(argv[1], "w");
  if (file == nullptr) return 2;
  std::fprintf(file, "%s\n%s\n", SelfPath().c_str(),
               fs::current_path().string().c_str());
  for (int i = 2; i < argc; ++i) std::fprintf(file, "%s\n", argv[i]);
  std::fclose(file);
  return 0;
}

// "fds <file>": what every open descriptor refers to (Linux /proc).
int RecordDescriptors(const char* out_path) {
  const std::optional<std::string> targets = OwnDescriptorTargets();
  std::FILE* file = std::fopen(out_path, "w");
  if (file == nullptr) return 2;
  std::fputs(targets.value_or("").c_str(), file);
  std::fclose(file);
  return targets ? 0 : 4;
}

std::FILE* OpenDenyingOthers(const char* path) {
#ifdef _WIN32
  return _fsopen(path, "rb", _SH_DENYRW);
#else
  return std::fopen(path, "rb");  // POSIX has no sharing modes to enforce
#endif
}

// "hold <file> <ms>": keeps the file open, denying others, for ms; creates
// "<file>.held" once it holds it.
int HoldFile(const char* path, int hold_ms) {
  std::FILE* held = OpenDenyingOthers(path);
  if (held == nullptr) return 2;
  std::FILE* marker = std::fopen((std::string(path) + ".held").c_str(), "w");
  if (marker != nullptr) std::fclose(marker);
  std::this_thread::sleep_for(std::chrono::milliseconds(hold_ms));
  std::fclose(held);
  return 0;
}

constexpr auto kMarkedRunLimit = std::chrono::minutes(10);
constexpr auto kStopPoll = std::chrono::milliseconds(20);

std::string MarkPath(const std::string& folder, const std::string& name) {
  return (fs::path(folder) / name).string();
}

// Windows: a file held open denying all sharing, which frees itself when
// the process ends, however it ends. POSIX: the process id, from /proc.
std::FILE* Mark(const std::string& folder, const std::string& name) {
#ifdef _WIN32
  return _fsopen((MarkPath(folder, name) + ".lock").c_str(), "wb", _SH_DENYRW);
#else
  std::FILE* file = std::fopen((MarkPath(folder, name) + ".pid").c_str(), "w");
  if (file != nullptr) std::fprintf(file, "%ld\n", OwnPid());
  return file;
#endif
}

int RunMarked(const std::string& folder, const std::string& name) {
  std::FILE* mark = Mark(folder, name);
  if (mark == nullptr) return 2;
#ifndef _WIN32
  std::fclose(mark);
#endif
  std::FILE* ready = std::fopen((MarkPath(folder, name) + ".ready").c_str(), "w");
  if (ready != nullptr) std::fclose(ready);
  const auto until = std::chrono::steady_clock::now() + kMarkedRunLimit;
  std::error_code ignored;
  while (!fs::exists(fs::path(folder) / "stop", ignored) &&
         std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(kStopPoll);
  }
  return 0;
}

// The leaf starts as most programs start theirs: on Windows a plain
// CreateProcess, which puts it in its parent's job; on POSIX a shell's
// background job, which stays in its parent's process group.
int RunTree(const std::string& folder) {
#ifdef _WIN32
  platform::ProcessStart leaf;
  leaf.application = SelfPath();
  leaf.command_line = SelfPath() + " --child leaf " + folder;
  if (platform::StartDetachedProcess(leaf).failed()) return 2;
#else
  const std::string command =
      "'" + SelfPath() + "' --child leaf '" + folder + "' </dev/null >/dev/null 2>&1 &";
  if (std::system(command.c_str()) != 0) return 2;
#endif
  return RunMarked(folder, "tree");
}

}  // namespace

bool MarkedProcessRuns(const std::string& folder, const std::string& name) {
#ifdef _WIN32
  std::FILE* file = OpenDenyingOthers((MarkPath(folder, name) + ".lock").c_str());
  if (file == nullptr) return true;  // still held
  std::fclose(file);
  return false;
#else
  std::ifstream in(MarkPath(folder, name) + ".pid");
  long pid = 0;
  if (!(in >> pid)) return false;
  const std::optional<ProcStat> stat = ReadProcStat(pid);
  return stat.has_value() && stat->state != 'Z';  // a zombie has ended
#endif
}

std::string SelfPath() { return platform::ExecutablePath(); }

std::map<std::string, ChildModeBody>& SuiteModes() {
  static auto* modes = new std::map<std::string, ChildModeBody>;
  return *modes;
}

bool RegisterChildMode(const char* name, ChildModeBody body) {
  return SuiteModes().emplace(name, body).second;
}

int RunChildMode(int argc, char** argv) {
  const char* mode = argv[0];
  const auto own = SuiteModes().find(mode);
  if (own != SuiteModes().end()) return own->second(argc - 1, argv + 1);
  if (std::strcmp(mode, "sleep") == 0 && argc >= 2) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[1])));
    return 0;
  }
  if (std::strcmp(mode, "exit") == 0 && argc >= 2) return std::atoi(argv[1]);
  if (std::strcmp(mode, "record") == 0 && argc >= 2) {
    std::FILE* file = std::fopen(argv[1], "w");
    if (file == nullptr) return 2;
    std::fprintf(file, "%s\n", std::filesystem::current_path().string().c_str());
    for (int i = 2; i < argc; ++i) std::fprintf(file, "%s\n", argv[i]);
    std::fclose(file);
    return 0;
  }
  if (std::strcmp(mode, "where") == 0 && argc >= 2) return RecordSelf(argc, argv);
  if (std::strcmp(mode, "fds") == 0 && argc >= 2) return RecordDescriptors(argv[1]);
  if (std::strcmp(mode, "tree") == 0 && argc >= 2) return RunTree(argv[1]);
  if (std::strcmp(mode, "leaf") == 0 && argc >= 2) return RunMarked(argv[1], "leaf");
  if (std::strcmp(mode, "hold") == 0 && argc >= 3) {
    return HoldFile(argv[1], std::atoi(argv[2]));
  }
  return 3;
}

}  // namespace corvana::testing

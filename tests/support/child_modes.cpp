#include "support/child_modes.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/env.h"

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
  std::error_code error;
  std::string targets;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd", error)) {
    std::error_code ignored;
    targets += fs::read_symlink(entry.path(), ignored).string() + "\n";
  }
  std::FILE* file = std::fopen(out_path, "w");
  if (file == nullptr) return 2;
  std::fputs(targets.c_str(), file);
  std::fclose(file);
  return error ? 4 : 0;
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

}  // namespace

std::string SelfPath() { return platform::ExecutablePath(); }

int RunChildMode(int argc, char** argv) {
  const char* mode = argv[0];
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
  if (std::strcmp(mode, "hold") == 0 && argc >= 3) {
    return HoldFile(argv[1], std::atoi(argv[2]));
  }
  return 3;
}

}  // namespace corvana::testing

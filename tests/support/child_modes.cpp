#include "support/child_modes.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/env.h"

namespace corvana::testing {

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
  return 3;
}

}  // namespace corvana::testing

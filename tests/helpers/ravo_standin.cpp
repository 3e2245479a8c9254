// A stand-in for the analyzer Ravo.exe, for the end-to-end tests of the
// Windows build: it appends its arguments, each in brackets, and its working
// folder, one call per line, to "ravo_calls.txt" beside its own executable,
// and ends at once. As the analyzer's option parser would, it refuses a
// first argument that is no option (pieces of its own path, from a command
// line that did not quote it): "refused" then starts the line, and it exits
// with 3.
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/env.h"

int main(int argc, char** argv) {
  const std::string self = corvana::platform::ExecutablePath();
  const std::string folder = self.substr(0, self.find_last_of("\\/") + 1);
  std::FILE* calls = std::fopen((folder + "ravo_calls.txt").c_str(), "a");
  if (calls == nullptr) return 2;
  const bool refused = argc < 2 || argv[1][0] != '-';
  if (refused) std::fprintf(calls, "refused ");
  for (int i = 1; i < argc; ++i) std::fprintf(calls, "[%s]", argv[i]);
  std::fprintf(calls, " @ %s\n", std::filesystem::current_path().string().c_str());
  std::fclose(calls);
  return refused ? 3 : 0;
}

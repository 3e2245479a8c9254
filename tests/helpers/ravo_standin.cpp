// A stand-in for the analyzer Ravo.exe, for the end-to-end tests of the
// Windows build: it appends its arguments and working folder, one call per
// line, to "ravo_calls.txt" beside its own executable, and ends at once.
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/env.h"

int main(int argc, char** argv) {
  const std::string self = corvana::platform::ExecutablePath();
  const std::string folder = self.substr(0, self.find_last_of("\\/") + 1);
  std::FILE* calls = std::fopen((folder + "ravo_calls.txt").c_str(), "a");
  if (calls == nullptr) return 2;
  for (int i = 1; i < argc; ++i) std::fprintf(calls, "%s%s", i > 1 ? " " : "", argv[i]);
  std::fprintf(calls, " @ %s\n", std::filesystem::current_path().string().c_str());
  std::fclose(calls);
  return 0;
}

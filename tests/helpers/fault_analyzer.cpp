// The stand-in for the analyzer Ravo.exe in the end-to-end and reliability
// tests, on both builds (scripts/ravo-standin, which also writes report
// pages, serves the demo and the native service test). Beside its own
// executable it appends every call to "ravo_calls.txt": each argument in
// brackets, then " @ " and its working folder. As the analyzer's option
// parser would, it refuses a first argument that is no option (pieces of its
// own path, from a command line that did not quote it): "refused" then
// starts the line, and it exits with 3 at once. Otherwise it reads
// "analyzer_behaviour.txt" ("<milliseconds to run> <exit code>", default
// "0 0"), appends "start <arguments>" and "end <arguments>" to
// "analyzer_runs.txt", and appends "OVERLAP <arguments>" when another run
// with the same arguments is still going. A file "analyzer_release" beside
// it ends every run early.
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/env.h"

namespace {

namespace fs = std::filesystem;

void Append(const fs::path& file, const std::string& line) {
  if (std::FILE* out = std::fopen(file.string().c_str(), "a")) {
    std::fprintf(out, "%s\n", line.c_str());
    std::fclose(out);
  }
}

// One folder per argument list marks a run in progress; creating it is the
// test-and-set that tells a second run from the first.
fs::path LockFor(const fs::path& folder, std::string arguments) {
  for (char& c : arguments) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') c = '_';
  }
  return folder / ("running" + arguments);
}

// False when the analyzer would refuse the command line.
bool RecordCall(const fs::path& folder, int argc, char** argv) {
  const bool refused = argc >= 2 && argv[1][0] != '-';
  std::string call = refused ? "refused " : "";
  for (int i = 1; i < argc; ++i) call += std::string("[") + argv[i] + "]";
  Append(folder / "ravo_calls.txt", call + " @ " + fs::current_path().string());
  return !refused;
}

void RunFor(const fs::path& folder, int run_ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(run_ms);
  std::error_code ignored;
  while (std::chrono::steady_clock::now() < until &&
         !fs::exists(folder / "analyzer_release", ignored)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path folder = fs::path(corvana::platform::ExecutablePath()).parent_path();
  if (!RecordCall(folder, argc, argv)) return 3;
  std::string arguments;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) arguments += ' ';
    arguments += argv[i];
  }
  int run_ms = 0;
  int exit_code = 0;
  std::ifstream behaviour(folder / "analyzer_behaviour.txt");
  behaviour >> run_ms >> exit_code;

  Append(folder / "analyzer_runs.txt", "start " + arguments);
  std::error_code error;
  const fs::path lock = LockFor(folder, arguments);
  const bool owner = fs::create_directory(lock, error);
  if (!owner) Append(folder / "analyzer_runs.txt", "OVERLAP " + arguments);
  RunFor(folder, run_ms);
  if (owner) fs::remove(lock, error);
  Append(folder / "analyzer_runs.txt", "end " + arguments);
  return exit_code;
}

// A stand-in "nginx.exe" for the web-server control tests, on both builds.
// Every start appends one line to "nginx-stub.log" in its working folder:
// its own file, the working folder and its command line (the arguments it
// got, argv[0] included, joined by blanks), separated by tabs. Started
// without options it stays up, with "nginx-stub.running" in the folder,
// until a start with "-s quit" leaves "nginx-stub.quit" for it, touching
// "nginx-stub.running" every 100 ms: a test sees from it whether one runs.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/env.h"

namespace {

namespace fs = std::filesystem;

constexpr char kRecordFile[] = "nginx-stub.log";
constexpr char kRunningFile[] = "nginx-stub.running";
constexpr char kQuitFile[] = "nginx-stub.quit";
// A stand-in nobody stops must not outlive the test run by much.
constexpr auto kLifetime = std::chrono::minutes(10);

void Touch(const char* name) {
  if (std::FILE* file = std::fopen(name, "w")) std::fclose(file);
}

void Record(int argc, char** argv) {
  std::string line = corvana::platform::ExecutablePath() + "\t" +
                     fs::current_path().string() + "\t";
  for (int i = 0; i < argc; ++i) {
    if (i > 0) line += ' ';
    line += argv[i];
  }
  if (std::FILE* file = std::fopen(kRecordFile, "a")) {
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
  }
}

int Serve() {
  std::error_code ignored;
  fs::remove(kQuitFile, ignored);
  const auto until = std::chrono::steady_clock::now() + kLifetime;
  for (int poll = 0; !fs::exists(kQuitFile, ignored) &&
                     std::chrono::steady_clock::now() < until; ++poll) {
    if (poll % 5 == 0) Touch(kRunningFile);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  fs::remove(kQuitFile, ignored);
  fs::remove(kRunningFile, ignored);
  return 0;
}

// As nginx does, a quit with nothing running is an error.
int Quit() {
  std::error_code ignored;
  if (!fs::exists(kRunningFile, ignored)) {
    std::fprintf(stderr, "nginx: [error] no running server to signal\n");
    return 1;
  }
  Touch(kQuitFile);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Record(argc, argv);
  // As nginx does, anything but the options is refused: pieces of a path
  // with blanks, from an unquoted command line, are not skipped.
  const int first_option = 1;
  const int options = argc - first_option;
  if (options == 0) return Serve();
  if (options == 2 && std::strcmp(argv[first_option], "-s") == 0 &&
      std::strcmp(argv[first_option + 1], "quit") == 0) {
    return Quit();
  }
  std::fprintf(stderr, "nginx: [emerg] unknown options\n");
  return 1;
}

// The engine's work that touches the system, each beside the same system
// work done bare in the same run. POSIX only: the anchors are system calls.
//   BM_Reload: both reloads over 10,000 definition files (9,000 schedules,
//     1,000 web servers), every log line included.
//   BM_ReloadFloor: list the folder, open every file as the data folder's
//     hardening requires (openat relative to the folder held open, no link
//     followed, one fstat), read it whole, and append the two log lines per
//     file to the log held open for the run (one write each, after one
//     look at the log's name).
//   BM_StartUp: the service's start over the same files up to the end of
//     its first tick: the change counter, the quit of a left nginx and the
//     check of its tree, both reloads, the start's log lines, event and
//     journal record, and one evaluation of every definition. Its anchor
//     is BM_Reload, the loading alone.
//   BM_LaunchSchedule: a due schedule started, from LaunchSchedule to the
//     child having run, as the analyzer stand-in /bin/true.
//   BM_SpawnFloor: posix_spawn + waitpid of the same file.
//   BM_JournalRunEnd: the journal's record of a run's end, as the engine
//     writes it when it reaps a child: clock, offset, line, one write,
//     flushed, a new generation at the cap.
//   BM_JournalAppendFloor: the same bytes appended with one write to a file
//     held open, after one look at its name, renamed to an older one and
//     begun anew at the same cap.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "engine/engine.h"
#include "engine/run_journal.h"
#include "engine_fixture.h"
#include "logging/log.h"

extern char** environ;

namespace corvana::bench {
namespace {

constexpr int kReloadSchedules = 9000;
constexpr int kReloadWebServers = 1000;

void PrepareReloadFolder() {
  static bool written = false;
  InitBenchContext();
  if (written) return;
  written = true;
  WriteDefinitionFiles(BenchHomePath(), kReloadSchedules, kReloadWebServers);
}

// The log grows by two lines a file; each run starts from an empty one.
void TruncateLog(benchmark::State& state) {
  state.PauseTiming();
  std::filesystem::resize_file(LogFilePath(), 0);
  state.ResumeTiming();
}

void BM_Reload(benchmark::State& state) {
  PrepareReloadFolder();
  CountingLauncher launcher;  // no nginx is started for the web servers
  testing::ScopedSeams seams(launcher);
  SchedulerEngine engine;
  for (auto _ : state) {
    ReloadDefinitions(engine);
    TruncateLog(state);
  }
  if (engine.schedules.size() != kReloadSchedules ||
      engine.web_servers.size() != kReloadWebServers) {
    state.SkipWithError("not every definition file was loaded");
  }
  state.SetItemsProcessed(state.iterations() *
                          (kReloadSchedules + kReloadWebServers));
}
BENCHMARK(BM_Reload)->Unit(benchmark::kMillisecond);

void BM_StartUp(benchmark::State& state) {
  PrepareReloadFolder();
  // Nothing falls due at noon but the interval web servers, which every
  // start makes due at once: they take the free slots, the rest wait.
  testing::FakeClock clock;
  CountingLauncher launcher;
  launcher.gives_handles = true;
  testing::ScopedSeams seams(clock, launcher);
  clock.Set(testing::LocalSeconds(2026, 6, 10, kNotDueHour, 0, 0));
  size_t loaded = 0;
  int waiting = 0;
  for (auto _ : state) {
    auto engine = std::make_unique<SchedulerEngine>();
    EngineStart(*engine);
    EngineTick(*engine);
    state.PauseTiming();
    loaded = engine->schedules.size() + engine->web_servers.size();
    waiting = engine->runs_waiting;
    engine.reset();  // its shutdown is no part of the start
    std::filesystem::resize_file(LogFilePath(), 0);
    state.ResumeTiming();
  }
  if (loaded != kReloadSchedules + kReloadWebServers || waiting == 0) {
    state.SkipWithError("not every file loaded, or no run waited for a slot");
  }
}
BENCHMARK(BM_StartUp)->Unit(benchmark::kMillisecond);

void AppendBare(int log_fd, const std::string& line) {
  benchmark::DoNotOptimize(write(log_fd, line.data(), line.size()));
}

// What a file held open for a run must do before each append to notice
// that an administrator deleted or renamed it: look at its name once.
void AppendCheckedBare(int folder_fd, const char* name, int fd, const std::string& line) {
  struct stat named;
  benchmark::DoNotOptimize(fstatat(folder_fd, name, &named, AT_SYMLINK_NOFOLLOW));
  AppendBare(fd, line);
}

// The hardened open of a file in the data folder: relative to the folder
// held open, following no link, not hanging on a FIFO, and one fstat to
// refuse what is not a regular file of one link. -1 when refused.
int OpenInFolderBare(int folder_fd, const char* name) {
  const int fd =
      openat(folder_fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) {
    close(fd);
    return -1;
  }
  return fd;
}

// Returns the number of files read.
int ReadFolderBare(const std::string& home, int log_fd) {
  DIR* dir = opendir(home.c_str());
  if (dir == nullptr) return 0;
  static char buffer[1 << 16];
  int files = 0;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.' || std::strchr(entry->d_name, '.') == nullptr) {
      continue;
    }
    const std::string path = home + entry->d_name;
    AppendCheckedBare(dirfd(dir), kLogFileName, log_fd, "Load settings '" + path + "'...\n");
    const int fd = OpenInFolderBare(dirfd(dir), entry->d_name);
    if (fd < 0) continue;
    benchmark::DoNotOptimize(read(fd, buffer, sizeof buffer));
    close(fd);
    AppendCheckedBare(dirfd(dir), kLogFileName, log_fd, "Load settings - OK\n");
    ++files;
  }
  closedir(dir);
  return files;
}

void BM_ReloadFloor(benchmark::State& state) {
  PrepareReloadFolder();
  const std::string home = BenchHomePath();
  // The service holds its log open for the run, so the floor does too.
  const int log_fd = open(LogFilePath().c_str(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  int files = 0;
  for (auto _ : state) {
    files = ReadFolderBare(home, log_fd);
    TruncateLog(state);
  }
  if (log_fd >= 0) close(log_fd);
  // The folder also holds the log and nothing else with a dot but them.
  if (files < kReloadSchedules + kReloadWebServers) {
    state.SkipWithError("not every definition file was read");
  }
  state.SetItemsProcessed(state.iterations() *
                          (kReloadSchedules + kReloadWebServers));
}
BENCHMARK(BM_ReloadFloor)->Unit(benchmark::kMillisecond);

// Ravo.exe in a folder of its own: a copy of /bin/true.
std::string AnalyzerFolder() {
  static const std::string folder = [] {
    const std::filesystem::path path = BenchRoot() / "program";
    std::filesystem::create_directories(path);
    std::filesystem::copy_file("/bin/true", path / "Ravo.exe",
                               std::filesystem::copy_options::overwrite_existing);
    return path.string() + "/";
  }();
  return folder;
}

void WaitFor(pid_t pid, benchmark::State& state) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    state.SkipWithError("the analyzer stand-in did not run");
  }
}

void BM_LaunchSchedule(benchmark::State& state) {
  InitBenchContext();
  SchedulerEngine engine;
  engine.program_dir = AnalyzerFolder();
  ScheduleDefinition schedule = NotDueSchedule(1);
  schedule.id = "Nightly web";
  int64_t launches = 0;
  for (auto _ : state) {
    LaunchSchedule(engine, schedule);
    if (schedule.process == 0) {
      state.SkipWithError("the launch failed");
      break;
    }
    // Reaped here rather than by supervision, as the anchor reaps its own.
    WaitFor(static_cast<pid_t>(schedule.process), state);
    schedule.process = 0;
    if (++launches % 4096 == 0) TruncateLog(state);  // two lines a launch
  }
}
BENCHMARK(BM_LaunchSchedule)->Unit(benchmark::kMicrosecond);

void BM_SpawnFloor(benchmark::State& state) {
  const std::string file = AnalyzerFolder() + "Ravo.exe";
  std::string arg0 = file;
  std::string arg1 = "-_scheduleNightly";
  std::string arg2 = "web";
  char* argv[] = {arg0.data(), arg1.data(), arg2.data(), nullptr};
  for (auto _ : state) {
    pid_t pid = 0;
    if (posix_spawn(&pid, file.c_str(), nullptr, nullptr, argv, environ) != 0) {
      state.SkipWithError("posix_spawn failed");
      break;
    }
    WaitFor(pid, state);
  }
}
BENCHMARK(BM_SpawnFloor)->Unit(benchmark::kMicrosecond);

RunState EndedRun() {
  RunState run;
  run.started_monotonic_ms = platform::CurrentClock().MonotonicMs() - 3000;
  return run;
}

void BM_JournalRunEnd(benchmark::State& state) {
  InitBenchContext();
  const RunState run = EndedRun();
  const std::string id = "Nightly web";
  for (auto _ : state) {
    JournalRunEnded(RunKind::kSchedule, id, run, RunEnding::kExited, 3u);
  }
  CloseJournal();
}
BENCHMARK(BM_JournalRunEnd)->Unit(benchmark::kMicrosecond);

void BM_JournalAppendFloor(benchmark::State& state) {
  InitBenchContext();
  JournalRecord record;
  record.type = JournalRecordType::kRunEnd;
  record.time_s = platform::CurrentClock().NowSeconds();
  record.id = "Nightly web";
  record.exit_code = 3;
  record.duration_s = 3;
  const std::string line = FormatJournalLine(record);
  const std::string name = "journal-floor";
  const std::string path = BenchHomePath() + name;
  const int folder_fd = open(BenchHomePath().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int fd = -1;
  size_t size = kJournalCapBytes;
  for (auto _ : state) {
    if (size + line.size() > kJournalCapBytes) {  // as the journal's generations
      if (fd >= 0) close(fd);
      benchmark::DoNotOptimize(rename(path.c_str(), (path + ".1").c_str()));
      fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
      size = 0;
    }
    AppendCheckedBare(folder_fd, name.c_str(), fd, line);
    size += line.size();
  }
  if (fd >= 0) close(fd);
  if (folder_fd >= 0) close(folder_fd);
}
BENCHMARK(BM_JournalAppendFloor)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace corvana::bench

BENCHMARK_MAIN();

// Child processes as the engine and the web-server control rely on them, with
// the test binary itself as the child ("--child <mode>").
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/env.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/seams.h"
#include "platform/trust.h"
#include "support/child_modes.h"
#include "support/fixtures.h"
#include "support/proc.h"
#include "support/waiting.h"

namespace corvana {
namespace {

namespace fs = std::filesystem;
using platform::ProcessHandle;
using platform::ProcessStart;
using testing::Eventually;
using testing::TempDir;
using testing::WaitForExit;

#ifdef _WIN32
constexpr char kExeSuffix[] = ".exe";
#else
constexpr char kExeSuffix[] = "";
#endif

std::string SelfCommand(const std::string& arguments) {
  return testing::SelfPath() + " --child " + arguments;
}

// Runs to the end and gives the lines the child recorded.
std::vector<std::string> RunRecording(const ProcessStart& start,
                                      const fs::path& record) {
  ProcessHandle child = platform::StartProcess(start).process;
  if (child == 0) return {};
  const uint32_t code = WaitForExit(child);
  platform::ReleaseProcess(child);
  EXPECT_EQ(code, 0u) << start.command_line;
  return testing::FileLines(record);
}

bool SameFile(const std::string& a, const fs::path& b) {
  std::error_code error;
  return fs::equivalent(a, b, error);
}

// A copy of the test binary as "<dir with blanks>/child app", and copies at
// the places where a search along the unquoted line would look first.
class BlankPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder_);
    fs::create_directories(work_);
    for (const fs::path& copy : {intended_, first_decoy_, second_decoy_}) {
      fs::copy_file(testing::SelfPath(), copy);
    }
  }

  ProcessStart Start(const std::string& application) const {
    ProcessStart start;
    start.application = application;
    start.command_line = intended_.string() +
                         " --child where out.txt  alpha\tbeta   gamma";
    start.working_folder = work_.string();
    return start;
  }

  TempDir dir_;
  const fs::path folder_ = dir_.path() / "dir with blanks";
  const fs::path work_ = dir_.path() / "work here";
  const fs::path intended_ = folder_ / (std::string("child app") + kExeSuffix);
  const fs::path first_decoy_ = dir_.path() / (std::string("dir") + kExeSuffix);
  const fs::path second_decoy_ = folder_ / (std::string("child") + kExeSuffix);
};

TEST_F(BlankPathTest, FullApplicationPathRunsExactlyThatFile) {
  const auto lines = RunRecording(Start(intended_.string()), work_ / "out.txt");
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_TRUE(SameFile(lines[0], intended_)) << lines[0];
  EXPECT_TRUE(SameFile(lines[1], work_)) << lines[1];
  // Split at blanks and tabs, as a Windows child sees an unquoted line.
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.end()),
            (std::vector<std::string>{"alpha", "beta", "gamma"}));
}

// A quoted program is taken as it stands: no decoy runs, and the child's
// arguments hold nothing of the path.
TEST_F(BlankPathTest, QuotedProgramRunsThatFileWithOnlyTheArguments) {
  for (const std::string& application : {std::string(), intended_.string()}) {
    ProcessStart start = Start(application);
    start.command_line = "\"" + intended_.string() + "\" --child where out.txt a\tb";
    fs::remove(work_ / "out.txt");
    const auto lines = RunRecording(start, work_ / "out.txt");
    ASSERT_EQ(lines.size(), 4u) << application;
    EXPECT_TRUE(SameFile(lines[0], intended_)) << lines[0];
    EXPECT_EQ(lines[2] + "|" + lines[3], "a|b");
  }
}

TEST_F(BlankPathTest, WithoutApplicationTheShortestExistingPrefixRuns) {
  const struct {
    fs::path remove;
    fs::path runs;
  } steps[] = {
      {"", first_decoy_},
      {first_decoy_, second_decoy_},
      {second_decoy_, intended_},
  };
  for (const auto& step : steps) {
    if (!step.remove.empty()) fs::remove(step.remove);
    fs::remove(work_ / "out.txt");
    const auto lines = RunRecording(Start(""), work_ / "out.txt");
    ASSERT_FALSE(lines.empty()) << step.runs;
    EXPECT_TRUE(SameFile(lines[0], step.runs)) << lines[0];
  }
}

TEST(ProcessTest, EmptyWorkingFolderInheritsCurrentDirectory) {
  TempDir dir;
  const fs::path saved = fs::current_path();
  fs::current_path(dir.path());
  ProcessStart start;
  start.application = testing::SelfPath();
  start.command_line = SelfCommand("record out.txt one");
  const auto lines = RunRecording(start, dir.path() / "out.txt");
  fs::current_path(saved);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(SameFile(lines[0], dir.path())) << lines[0];
  EXPECT_EQ(lines[1], "one");
}

TEST(ProcessTest, ExitedChildKeepsItsCodeUntilReleased) {
  for (uint32_t code : {0u, 42u}) {
    ProcessStart start;
    start.application = testing::SelfPath();
    start.command_line = SelfCommand("exit " + std::to_string(code));
    start.kind = platform::StartKind::kNoWindow;
    ProcessHandle child = platform::StartProcess(start).process;
    ASSERT_NE(child, 0);
    EXPECT_EQ(WaitForExit(child), code);
    const platform::ProcessStatus again = platform::QueryProcess(child);
    EXPECT_EQ(again.state, platform::ProcessState::kExited);
    EXPECT_EQ(again.exit_code, code);
    platform::ReleaseProcess(child);
  }
}

TEST(ProcessTest, TerminateEndsASleepingChild) {
  ProcessStart start;
  start.application = testing::SelfPath();
  start.command_line = SelfCommand("sleep 600000");
  ProcessHandle child = platform::StartProcess(start).process;
  ASSERT_NE(child, 0);
  EXPECT_EQ(platform::QueryProcess(child).state, platform::ProcessState::kRunning);
  EXPECT_TRUE(platform::TerminateChild(child, 9));
  EXPECT_EQ(WaitForExit(child), 9u);
  platform::ReleaseProcess(child);
}

// A child that started a child of its own, as an analyzer starts a
// converter: the run-time limit ends both, a release leaves both running.
class ProcessTreeTest : public ::testing::Test {
 protected:
  ProcessHandle StartTree() {
    ProcessStart start;
    start.application = testing::SelfPath();
    start.command_line = SelfCommand("tree " + dir_.path().string());
    ProcessHandle child = platform::StartProcess(start).process;
    if (child == 0) return 0;
    Eventually([&] {
      return fs::exists(dir_.path() / "tree.ready") && fs::exists(dir_.path() / "leaf.ready");
    });
    return child;
  }
  bool Runs(const char* name) const {
    return testing::MarkedProcessRuns(dir_.path().string(), name);
  }
  void TearDown() override {
    dir_.Write("stop", "");
    EXPECT_TRUE(Eventually([&] {
      platform::CollectEndedChildren();
      return !Runs("tree") && !Runs("leaf");
    })) << "the tree did not stop";
  }
  TempDir dir_;
};

TEST_F(ProcessTreeTest, TerminateEndsTheChildAndWhatItStarted) {
  ProcessHandle child = StartTree();
  ASSERT_NE(child, 0);
  ASSERT_TRUE(Runs("tree"));
  ASSERT_TRUE(Runs("leaf"));
  EXPECT_TRUE(platform::TerminateChild(child, 0));
  EXPECT_EQ(WaitForExit(child), 0u);
  EXPECT_TRUE(Eventually([&] { return !Runs("leaf"); })) << "the grandchild outlived its parent's end";
  platform::ReleaseProcess(child);
}

TEST_F(ProcessTreeTest, AReleasedChildGoesOnWithWhatItStarted) {
  ProcessHandle child = StartTree();
  ASSERT_NE(child, 0);
  platform::ReleaseProcess(child);
  // A job that ended its processes on close would have done so by now.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(Runs("tree"));
  EXPECT_TRUE(Runs("leaf"));
}

#ifdef _WIN32
// A suspended child that cannot be resumed is ended; its start fails.
class UnresumableLauncher final : public platform::SystemLauncher {
 public:
  bool ResumeHeld(platform::HeldThread thread) override {
    child = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE,
                        GetProcessIdOfThread(reinterpret_cast<HANDLE>(thread)));
    return false;
  }
  HANDLE child = nullptr;
};

TEST(ProcessTest, AChildThatCannotBeResumedIsEndedAndNotStarted) {
  UnresumableLauncher launcher;
  testing::ScopedSeams seams(launcher);
  ProcessStart start;
  start.application = testing::SelfPath();
  start.command_line = SelfCommand("sleep 600000");
  const ProcessHandle started = platform::CurrentLauncher().Start(start).process;
  EXPECT_EQ(started, 0);
  if (started != 0) platform::TerminateChild(started, 1);  // else it sleeps on
  HANDLE child = launcher.child;
  ASSERT_NE(child, nullptr);
  const DWORD waited = WaitForSingleObject(child, testing::kHangBoundMs.count());
  EXPECT_EQ(waited, WAIT_OBJECT_0) << "the suspended child stayed behind";
  if (waited != WAIT_OBJECT_0) TerminateProcess(child, 1);
  CloseHandle(child);
}
#endif

TEST(ProcessTest, NothingToRunGivesNoChild) {
  TempDir dir;
  const std::string missing = dir.WithSeparator() + "nginx.exe";
  ProcessStart explicit_start;
  explicit_start.application = missing;
  explicit_start.command_line = missing + " -s quit";
  ProcessStart searched;
  searched.command_line = missing + " -s quit";
#ifdef _WIN32
  const std::string cause = "CreateProcessA failed with error 2";
#else
  const std::string cause = "posix_spawn failed with errno 2";
#endif
  for (const ProcessStart& start : {explicit_start, searched}) {
    const platform::StartResult result = platform::StartProcess(start);
    EXPECT_EQ(result.process, 0) << start.command_line;
    EXPECT_EQ(platform::FailedCallText(result.failure), cause);
    EXPECT_EQ(platform::FailedCallText(platform::StartDetachedProcess(start)), cause);
  }
  EXPECT_EQ(platform::QueryProcess(0).state, platform::ProcessState::kInvalid);
  EXPECT_FALSE(platform::TerminateChild(0, 1));
}

TEST(SplitCommandLineTest, SplitsAsTheWindowsRuntimeDoes) {
  using Args = std::vector<std::string>;
  const struct {
    const char* line;
    Args args;
  } cases[] = {
      {"", {}},
      {" \t ", {}},
      {"nginx.exe", {"nginx.exe"}},
      {"C:\\x\\nginx.exe -s quit", {"C:\\x\\nginx.exe", "-s", "quit"}},
      {"Ravo.exe -_scheduleDaily web", {"Ravo.exe", "-_scheduleDaily", "web"}},
      {"  a\t\tb  c ", {"a", "b", "c"}},
      {"\"a b\" c", {"a b", "c"}},
      {"\"C:\\Program Files\\Ravo.exe\" -_scheduleDaily web",
       {"C:\\Program Files\\Ravo.exe", "-_scheduleDaily", "web"}},
      // The program name keeps its backslashes, even before its quote.
      {"\"C:\\x\\\" a", {"C:\\x\\", "a"}},
      {"p a\"b c\"d e", {"p", "ab cd", "e"}},
      {"p a\\b\\\\\"c d\"", {"p", "a\\b\\c d"}},
      {"p a\\\"b", {"p", "a\"b"}},
      {"p \"a\"\"b\" \"\"", {"p", "a\"b", ""}},
      {"p \"open end", {"p", "open end"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::SplitCommandLine(c.line), c.args) << c.line;
  }
}

#ifndef _WIN32
using testing::OwnPid;
using testing::ReadProcStat;
using testing::ZombieChildren;

ProcessStart SelfStart(const std::string& arguments) {
  ProcessStart start;
  start.application = testing::SelfPath();
  start.command_line = SelfCommand(arguments);
  return start;
}

TEST(PosixProcessTest, ReleasedRunningChildIsReapedOnceEnded) {
  ProcessHandle child = platform::StartProcess(SelfStart("sleep 200")).process;
  ASSERT_NE(child, 0);
  platform::ReleaseProcess(child);
  ASSERT_TRUE(Eventually([&] {
    auto stat = ReadProcStat(child);
    return stat && stat->state == 'Z';
  })) << "the released child did not end";
  platform::CollectEndedChildren();
  EXPECT_FALSE(ReadProcStat(child).has_value()) << "zombie left behind";
}

TEST(PosixProcessTest, DetachedChildIsReapedOnceEnded) {
  platform::CollectEndedChildren();
  ASSERT_EQ(ZombieChildren(), std::set<long>{}) << "left by earlier tests";
  // Alive for a moment, so that the start itself cannot reap it already.
  ASSERT_FALSE(platform::StartDetachedProcess(SelfStart("sleep 300")).failed());
  std::set<long> ended;
  ASSERT_TRUE(Eventually([&] {
    ended = ZombieChildren();
    return !ended.empty();
  })) << "the detached child did not end";
  platform::CollectEndedChildren();
  for (long pid : ended) {
    EXPECT_FALSE(ReadProcStat(pid).has_value()) << "zombie " << pid;
  }
}

TEST(PosixProcessTest, ChildLeadsAProcessGroupOfItsOwn) {
  ProcessHandle child = platform::StartProcess(SelfStart("sleep 600000")).process;
  ASSERT_NE(child, 0);
  auto stat = ReadProcStat(child);
  ASSERT_TRUE(stat.has_value());
  EXPECT_EQ(stat->group, child);
  EXPECT_NE(stat->group, ReadProcStat(OwnPid())->group);
  platform::TerminateChild(child, 1);
  platform::ReleaseProcess(child);
}

TEST(PosixProcessTest, ChildrenDoNotInheritOpenFiles) {
  TempDir dir;
  dir.Write("schedule_counter.dat", "abcd");
  platform::HeldFolder folder;
  platform::CheckHomeFolder(dir.WithSeparator(),
                            platform::ServiceAccount::kThisProcess, &folder);
  std::FILE* log = platform::OpenOwnFile(folder, "scheduler.###",
                                         platform::OwnFileMode::kAppend);
  std::FILE* counter =
      platform::OpenRegularFileIn(folder, "schedule_counter.dat", false);
  ASSERT_NE(log, nullptr);
  ASSERT_NE(counter, nullptr);
  ProcessStart start = SelfStart("fds fds.txt");
  start.working_folder = dir.path().string();
  const auto targets = RunRecording(start, dir.path() / "fds.txt");
  std::fclose(log);
  std::fclose(counter);
  ASSERT_FALSE(targets.empty()) << "the child listed no descriptor";
  for (const auto& target : targets) {
    EXPECT_EQ(target.find("scheduler.###"), std::string::npos);
    EXPECT_EQ(target.find("schedule_counter.dat"), std::string::npos);
  }
}
#endif

}  // namespace
}  // namespace corvana

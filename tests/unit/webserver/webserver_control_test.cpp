// Starting nginx and telling it to quit: the command lines, the log lines,
// the result, and, with a stand-in nginx.exe, which file really runs.
#include "webserver/webserver_control.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "environment/app_context.h"
#include "platform/env.h"
#include "platform/process.h"
#include "platform/seams.h"
#include "support/child_modes.h"
#include "support/fixtures.h"
#include "support/waiting.h"

namespace corvana {
namespace {
using testing::LogHeader;
using testing::LogLines;
using testing::Eventually;

namespace fs = std::filesystem;
using testing::TempDir;

#ifdef _WIN32
constexpr char kExeSuffix[] = ".exe";
#else
constexpr char kExeSuffix[] = "";
#endif

class WebServerCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::InitContextAt(dir_.path().string());
    testing::PlaceTrustedNginx();
    platform::SetLauncher(&launcher_);
  }
  void TearDown() override {
    ForgetHeldNginx();
    platform::SetLauncher(nullptr);
  }

  std::string Folder() const { return GetAppContext()->HomePath + "webserver"; }
  std::string Nginx() const {
    return Folder() + platform::kPathSeparator + "nginx.exe";
  }

  TempDir dir_;
  testing::RecordingLauncher launcher_;
};

// The started nginx is held, so that the service can end its tree; its
// quit runs detached.
TEST_F(WebServerCommandTest, RunsNginxFromTheWebServerFolder) {
  const struct {
    NginxCommand command;
    std::string command_line;
    bool held;
  } cases[] = {
      {NginxCommand::kStart, "\"" + Nginx() + "\"", true},
      {NginxCommand::kQuit, "\"" + Nginx() + "\" -s quit", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command_line);
    launcher_.detached.clear();
    launcher_.starts.clear();
    EXPECT_TRUE(WebServerCommand(c.command));
    ASSERT_EQ(launcher_.starts.size(), c.held ? 1u : 0u);
    ASSERT_EQ(launcher_.detached.size(), c.held ? 0u : 1u);
    const platform::ProcessStart& start = c.held ? launcher_.starts[0] : launcher_.detached[0];
    EXPECT_EQ(start.application, Nginx());
    EXPECT_EQ(start.command_line, c.command_line);
    EXPECT_EQ(start.working_folder, Folder());
    EXPECT_EQ(start.kind, platform::StartKind::kNoWindow);
    const auto lines = LogLines(LogHeader::kDropped);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], c.command_line);
    EXPECT_EQ(lines.back(), "Webserver command successfully");
  }
}

TEST_F(WebServerCommandTest, FailedStartIsLoggedAndReported) {
  launcher_.fail_starts = true;
  for (NginxCommand command : {NginxCommand::kStart, NginxCommand::kQuit}) {
    EXPECT_FALSE(WebServerCommand(command));
    const auto lines = LogLines(LogHeader::kDropped);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2].rfind("\"" + Nginx() + "\"", 0), 0u);
    EXPECT_EQ(lines.back(), "Webserver command error");
  }
}

// Windows holds the creation of nginx.exe's process as long as another
// program's oplock on it wants: the command goes on after the bound, and
// the stop's quit meanwhile does not wait again.
TEST_F(WebServerCommandTest, AStalledCreationIsNotWaitedForPastTheBound) {
  if (!platform::kStartMayWaitOnOthers) GTEST_SKIP() << "no start waits on others here";
  struct StalledLauncher final : platform::SystemLauncher {
    platform::StartResult Start(const platform::ProcessStart&) override {
      return let_go.wait(), platform::StartResult{};
    }
    platform::FailedCall StartDetached(const platform::ProcessStart&) override {
      return let_go.wait(), platform::FailedCall{};
    }
    std::promise<void> release;
    std::shared_future<void> let_go = release.get_future().share();
  } stalled;
  struct LeapingClock final : platform::Clock {  // a second a reading
    int64_t NowSeconds() override { return 0; }
    int64_t MonotonicMs() override { return ms += 1000; }
    void SleepMs(int) override {}
    int64_t ms = 0;
  } clock;
  platform::SetLauncher(&stalled);
  platform::SetClock(&clock);
  EXPECT_FALSE(WebServerCommand(NginxCommand::kStart));
  EXPECT_FALSE(WebServerCommand(NginxCommand::kQuit));
  platform::SetClock(nullptr);
  const auto lines = LogLines(LogHeader::kDropped);
  EXPECT_EQ(lines.at(lines.size() - 5), "nginx.exe still being started, not waited for: \"" + Nginx() + "\"");
  EXPECT_EQ(lines[lines.size() - 2],
            "nginx.exe -s quit not run: " + Nginx() + " is still being started by an earlier command");
  stalled.release.set_value();
  EXPECT_TRUE(Eventually([] { return WebServerCommand(NginxCommand::kQuit); }));
}

TEST(WebServerCommandEmptyHomeTest, FolderIsRelativeToTheCurrentDirectory) {
  testing::InitContextAt("");
  ASSERT_EQ(GetAppContext()->HomePath, "");
  testing::RecordingLauncher launcher;
  platform::SetLauncher(&launcher);
  WebServerCommand(NginxCommand::kQuit);
  platform::SetLauncher(nullptr);
  // No web-server folder in the test's current directory: nothing runs.
  EXPECT_TRUE(launcher.detached.empty());
  const auto lines = LogLines(LogHeader::kDropped);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], std::string("\"webserver") +
                                         platform::kPathSeparator +
                                         "nginx.exe\" -s quit");
}

// Run only as a child of the test below, in a process where no context
// has been created yet: 1 when there is one after all, 2 when the quit
// says it ran, 3 when it started anything.
int QuitBeforeTheContext(int, char**) {
  if (GetAppContext() != nullptr) return 1;
  testing::RecordingLauncher launcher;
  platform::SetLauncher(&launcher);
  const bool quit = WebServerCommand(NginxCommand::kQuit);
  platform::SetLauncher(nullptr);
  if (quit) return 2;
  return launcher.detached.empty() && launcher.starts.empty() ? 0 : 3;
}
const bool registered = testing::RegisterChildMode("quit-before-context", &QuitBeforeTheContext);

TEST(WebServerCommandNoContextTest, QuitBeforeTheContextDoesNothing) {
  TempDir dir;
  platform::ProcessStart start;
  start.application = testing::SelfPath();
  start.command_line = start.application + " --child quit-before-context";
  start.working_folder = dir.path().string();
  platform::ProcessHandle child = platform::StartProcess(start).process;
  ASSERT_NE(child, 0);
  platform::ProcessStatus ended;
  ASSERT_TRUE(Eventually([&] {
    ended = platform::QueryProcess(child);
    return ended.state != platform::ProcessState::kRunning;
  }));
  platform::ReleaseProcess(child);
  EXPECT_EQ(ended.state, platform::ProcessState::kExited);
  EXPECT_EQ(ended.exit_code, 0u);
}

std::string OwnFolder() {
  const std::string self = testing::SelfPath();
  return self.substr(0, self.find_last_of(platform::kPathSeparator) + 1);
}

std::string StubPath() {
  const char sep = platform::kPathSeparator;
  return OwnFolder() + "helpers" + sep + "nginx" + sep + "nginx.exe";
}

struct StubStart {
  std::string executable;
  std::string folder;
  std::string command_line;
};

// One line per start of the stand-in: file, folder and command line,
// tab-separated.
std::vector<StubStart> StubStarts(const fs::path& folder) {
  std::vector<StubStart> starts;
  for (const std::string& line : testing::FileLines(folder / "nginx-stub.log")) {
    const size_t first = line.find('\t');
    const size_t second = line.find('\t', first + 1);
    if (second == std::string::npos) continue;
    starts.push_back({line.substr(0, first),
                      line.substr(first + 1, second - first - 1),
                      line.substr(second + 1)});
  }
  return starts;
}

bool SameFile(const std::string& a, const fs::path& b) {
  std::error_code error;
  return fs::equivalent(a, b, error);
}

// HomePath below a folder with a blank, and a copy of the stand-in where a
// search along the unquoted command line would look first.
class RealNginxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(StubPath())) << StubPath();
    fs::create_directories(common_);
    testing::InitContextAt(common_.string());
    folder_ = fs::path(GetAppContext()->HomePath) / "webserver";
    ASSERT_NE(GetAppContext()->HomePath.find(' '), std::string::npos);
  }
  void TearDown() override { platform::CollectEndedChildren(); }

  void Install() const {
    fs::create_directories(folder_);
    fs::copy_file(StubPath(), folder_ / "nginx.exe");
    fs::copy_file(StubPath(), decoy_);
  }

  TempDir dir_;
  const fs::path common_ = dir_.path() / "with blank";
  const fs::path decoy_ = dir_.path() / (std::string("with") + kExeSuffix);
  fs::path folder_;
};

TEST_F(RealNginxTest, MissingNginxIsAnError) {
  for (bool folder_exists : {false, true}) {
    if (folder_exists) fs::create_directories(folder_);
    for (NginxCommand command : {NginxCommand::kStart, NginxCommand::kQuit}) {
      EXPECT_FALSE(WebServerCommand(command));
      EXPECT_EQ(LogLines(LogHeader::kDropped).back(), "Webserver command error");
    }
  }
}

TEST_F(RealNginxTest, StartAndQuitRunTheFileInTheWebServerFolder) {
  Install();
  ASSERT_TRUE(WebServerCommand(NginxCommand::kStart));
  ASSERT_TRUE(Eventually([&] { return fs::exists(folder_ / "nginx-stub.running"); }));
  ASSERT_TRUE(WebServerCommand(NginxCommand::kQuit));
  EXPECT_TRUE(Eventually([&] { return !fs::exists(folder_ / "nginx-stub.running"); }))
      << "the stand-in did not quit";
  ASSERT_TRUE(Eventually([&] { return StubStarts(folder_).size() >= 2; }));
  const auto starts = StubStarts(folder_);
  ASSERT_EQ(starts.size(), 2u);
  for (const auto& start : starts) {
    EXPECT_TRUE(SameFile(start.executable, folder_ / "nginx.exe")) << start.executable;
    EXPECT_TRUE(SameFile(start.folder, folder_)) << start.folder;
  }
  const std::string nginx = GetAppContext()->HomePath + "webserver" +
                            platform::kPathSeparator + "nginx.exe";
  EXPECT_EQ(starts[0].command_line, nginx);
  EXPECT_EQ(starts[1].command_line, nginx + " -s quit");
  const auto lines = LogLines(LogHeader::kDropped);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Webserver command successfully"), 2);
}

}  // namespace
}  // namespace corvana

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "environment/app_context.h"
#include "logging/log.h"
#include "platform/env.h"
#include "platform/seams.h"
#include "platform/service.h"
#include "service/entry_point.h"
#include "service/service_install.h"
#include "service/service_main.h"
#include "support/fixtures.h"

namespace corvana {
namespace {
using testing::WithoutTimestamp;

std::vector<std::string> Bodies() {
  std::vector<std::string> bodies;
  for (const auto& line : testing::ReadLogLines()) bodies.push_back(WithoutTimestamp(line));
  return bodies;
}

TEST(ServiceInstallTest, RegisteredCommandLineQuotesThePathAndNamesTheService) {
  const char sep = platform::kPathSeparator;
  const std::string folder = std::string("C:") + sep + "Program Files" + sep + "Corvana";
  EXPECT_EQ(ServiceCommandLine(folder),
            "\"" + folder + sep + platform::kSchedulerExecutableName + "\" --service");
}

TEST(ServiceInstallTest, ErrorTextsFollowTheTwoTables) {
  EXPECT_EQ(CreateErrorText(5), "Error: ERROR_ACCESS_DENIED");
  EXPECT_EQ(CreateErrorText(1078), "Error: ERROR_DUPLICATE_SERVICE_NAME");
  EXPECT_EQ(CreateErrorText(1073), "");  // an existing service says nothing
  EXPECT_EQ(StartErrorText(3), "Error: ERROR_PATH_NOT_FOUND");
  EXPECT_EQ(StartErrorText(1056), "Error: ERROR_SERVICE_ALREADY_RUNNING");
  EXPECT_EQ(StartErrorText(1075), "Error: ERROR_SERVICE_DEPENDENCY_DELETED");
  EXPECT_EQ(StartErrorText(1060), "Error # 1060");
  EXPECT_EQ(StartErrorText(0), "Error # 0");
}

std::string RunEntryPoint(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  std::FILE* out = std::tmpfile();
  SchedulerMain(static_cast<int>(argv.size()), argv.data(), out);
  std::rewind(out);
  std::string text;
  for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) text.push_back(static_cast<char>(c));
  std::fclose(out);
  return text;
}

TEST(EntryPointTest, CommandNameAloneIsWrongParameters) {
  EXPECT_EQ(RunEntryPoint({"scheduler"}), "Wrong parameters\n");
}

TEST(EntryPointTest, FirstOptionEndsTheScanAndOnlyLaterArgumentsAreReported) {
  // No service named RavoScheduler exists here, so removal fails quietly.
  EXPECT_EQ(RunEntryPoint({"scheduler", "x", "--uninstall", "--install"}),
            "Wrong parameter\n");
  EXPECT_EQ(RunEntryPoint({"scheduler", "--uninstall", "x"}), "");
}

class ControlHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::InitContextAt(dir_.path().string()); }
  testing::TempDir dir_;
  testing::FakeClock clock_{testing::LocalSeconds(2026, 12, 7, 12, 0, 0)};
  testing::RecordingLauncher launcher_;
  testing::ScopedSeams seams_{clock_, launcher_};
};

TEST_F(ControlHandlerTest, StopLogsStoppedThenShutdownAndQuitsNginx) {
  ServiceControlHandler(platform::kControlStop);
  EXPECT_TRUE(stop_requested.load());
  auto bodies = Bodies();
  ASSERT_GE(bodies.size(), 5u);
  EXPECT_EQ(bodies[1], "Service: Stopped.");
  EXPECT_EQ(bodies[2], "Service: Shutdown.");
  ASSERT_EQ(launcher_.detached.size(), 1u);
  EXPECT_NE(launcher_.detached[0].command_line.find("nginx.exe -s quit"), std::string::npos);
  EXPECT_EQ(clock_.slept_ms(), 550);
}

TEST_F(ControlHandlerTest, ShutdownSkipsTheStoppedLine) {
  ServiceControlHandler(platform::kControlShutdown);
  EXPECT_TRUE(stop_requested.load());
  const auto bodies = Bodies();
  EXPECT_EQ(bodies[1], "Service: Shutdown.");
  EXPECT_EQ(std::count(bodies.begin(), bodies.end(), "Service: Stopped."), 0);
}

TEST_F(ControlHandlerTest, InterrogateChangesNothingAndWritesNothing) {
  ServiceControlHandler(platform::kControlInterrogate);
  ServiceControlHandler(0x80);
  EXPECT_FALSE(stop_requested.load());
  EXPECT_EQ(Bodies().size(), 1u);
  EXPECT_TRUE(launcher_.detached.empty());
}

#ifndef _WIN32
// POSIX only: there the control handler can always be registered, so the
// service's main function runs the engine in-process.
TEST_F(ControlHandlerTest, ServiceMainRunsTheEngineUntilStopped) {
  std::atomic<bool> returned{false};
  AppContext* before = GetAppContext();
  std::thread worker([&] {
    ServiceMain();
    returned.store(true);
  });
  // The worker builds a context of its own; its folders may be read once
  // its logging switch is on, which is the last step of building it.
  AppContext* started = nullptr;
  while ((started = GetAppContext()) == before || !started->logging_enabled.load()) {
    std::this_thread::yield();
  }
  while (Bodies().size() < 9) std::this_thread::yield();
  ServiceControlHandler(platform::kControlStop);
  worker.join();
  auto bodies = Bodies();
  // The handler's quit lines may land after the worker's last line; the
  // worker's own lines end with its shutdown.
  auto last = std::find_if(bodies.rbegin(), bodies.rend(), [](const std::string& body) {
    return body.find("nginx.exe") == std::string::npos &&
           body != "Webserver command successfully" && body != "Webserver command error";
  });
  ASSERT_NE(last, bodies.rend());
  EXPECT_EQ(*last, "Scheduler normal shutdown.");
  EXPECT_EQ(std::count(bodies.begin(), bodies.end(), "Scheduler normal shutdown."), 2);
  EXPECT_EQ(std::count(bodies.begin(), bodies.end(), "Stop webservers..."), 2);
  EXPECT_TRUE(returned.load());
}
#endif

}  // namespace
}  // namespace corvana

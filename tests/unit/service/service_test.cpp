#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
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
#include "support/waiting.h"

namespace corvana {
namespace {
using testing::LogBodies;

TEST(ServiceInstallTest, RegisteredCommandLineQuotesThePathAndNamesTheService) {
  const char sep = platform::kPathSeparator;
  const std::string folder = std::string("C:") + sep + "Program Files" + sep + "Corvana";
  EXPECT_EQ(ServiceCommandLine(folder),
            "\"" + folder + sep + platform::kSchedulerExecutableName + "\" --service");
}

using platform::ServiceError;

TEST(ServiceInstallTest, ErrorTextsFollowTheTwoTables) {
  const struct {
    ServiceError error;
    uint32_t native_error;
    const char* call;
    const char* create_text;
    const char* text;
  } cases[] = {
#ifdef _WIN32
      // Windows words a failure by its code alone.
      {ServiceError::kAccessDenied, 5, "CreateServiceA", "Error: ERROR_ACCESS_DENIED",
       "Error: ERROR_ACCESS_DENIED"},
      {ServiceError::kOther, 1078, "CreateServiceA", "Error: ERROR_DUPLICATE_SERVICE_NAME",
       "Error # 1078"},
      {ServiceError::kServiceExists, 1073, "CreateServiceA", "", "Error # 1073"},
      {ServiceError::kOther, 3, "StartServiceA", "", "Error: ERROR_PATH_NOT_FOUND"},
      {ServiceError::kAlreadyRunning, 1056, "StartServiceA", "",
       "Error: ERROR_SERVICE_ALREADY_RUNNING"},
      {ServiceError::kOther, 1075, "StartServiceA", "", "Error: ERROR_SERVICE_DEPENDENCY_DELETED"},
      {ServiceError::kNoSuchService, 1060, "OpenServiceA", "", "Error # 1060"},
      {ServiceError::kOther, 0, "StartServiceA", "", "Error # 0"},
#else
      // Installing over a registration keeps it without a word.
      {ServiceError::kServiceExists, 0, "", "", "Error: the service is registered already"},
      {ServiceError::kNoSuchService, 2, "stat", "Error: the service is not registered",
       "Error: the service is not registered"},
      {ServiceError::kAccessDenied, 13, "fopen", "Error: fopen failed with errno 13",
       "Error: fopen failed with errno 13"},
      {ServiceError::kAccessDenied, 4, "systemctl",
       "Error: systemctl failed with exit status 4", "Error: systemctl failed with exit status 4"},
#endif
  };
  for (const auto& c : cases) {
    const platform::ServiceResult result{true, true, false, c.error, c.native_error, c.call};
    EXPECT_EQ(platform::CreateFailureText(result), c.create_text) << c.native_error;
    EXPECT_EQ(platform::FailureText(result), c.text) << c.native_error;
  }
}

struct EntryPointRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadBack(std::FILE* file) {
  std::rewind(file);
  std::string text;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) text.push_back(static_cast<char>(c));
  std::fclose(file);
  return text;
}

EntryPointRun RunEntryPointFully(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  EntryPointRun run;
  run.status = SchedulerMain(static_cast<int>(argv.size()), argv.data(), out, err);
  run.out = ReadBack(out);
  run.err = ReadBack(err);
  return run;
}

std::string RunEntryPoint(std::vector<std::string> args) {
  return RunEntryPointFully(std::move(args)).out;
}

// The service manager as these tests meet it: every operation is recorded
// and answered with `answer`, every status report kept in order, and none
// reaches the machine's own manager, where a RavoScheduler may be installed.
class RecordingManager final : public platform::ServiceManager {
 public:
  platform::StatusHandle RegisterControlHandler(const char*,
                                                platform::ControlHandlerFunction) override {
    return 1;
  }
  bool ReportStatus(platform::StatusHandle, const platform::ServiceStatus& status) override {
    std::lock_guard<std::mutex> guard(lock);
    reports.push_back(status);
    return true;
  }
  platform::ServiceResult Register(const std::string&, const std::string& name,
                                   const std::string&) override {
    return Answer("create " + name);
  }
  platform::ServiceResult ConfigureRecovery(const std::string& name,
                                            const std::string&) override {
    return Answer("configure " + name);
  }
  platform::ServiceResult Start(const std::string& name) override { return Answer("start " + name); }
  platform::ServiceResult Stop(const std::string& name) override { return Answer("stop " + name); }
  platform::ServiceResult Remove(const std::string& name) override {
    return Answer("delete " + name);
  }

  std::mutex lock;
  std::vector<std::string> calls;
  std::vector<platform::ServiceStatus> reports;
  platform::ServiceResult answer;

 private:
  platform::ServiceResult Answer(const std::string& call) {
    std::lock_guard<std::mutex> guard(lock);
    calls.push_back(call);
    return answer;
  }
};

constexpr platform::ServiceResult kNoSuchService{true, false, false, ServiceError::kNoSuchService,
#ifdef _WIN32
                                             1060, "OpenServiceA"};
constexpr char kNoSuchServiceText[] = "Error # 1060\n";
#else
                                             2, "stat"};
constexpr char kNoSuchServiceText[] = "Error: the service is not registered\n";
#endif

class EntryPointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    manager_.answer = kNoSuchService;
    platform::SetServiceManager(&manager_);
  }
  void TearDown() override { platform::SetServiceManager(nullptr); }
  bool Called(const std::string& call) {
    const auto& calls = manager_.calls;
    return std::find(calls.begin(), calls.end(), call) != calls.end();
  }
  RecordingManager manager_;
};

TEST_F(EntryPointTest, CommandNameAloneIsWrongParameters) {
  EXPECT_EQ(RunEntryPoint({"scheduler"}), "Wrong parameters\n");
  EXPECT_TRUE(manager_.calls.empty());
}

TEST_F(EntryPointTest, FirstOptionEndsTheScanAndOnlyLaterArgumentsAreReported) {
  EXPECT_EQ(RunEntryPoint({"scheduler", "x", "--uninstall", "--install"}),
            "Wrong parameter\n");
  EXPECT_EQ(RunEntryPoint({"scheduler", "--uninstall", "x"}), "");
  // Through the seam, never the real manager; and no install after all.
  EXPECT_TRUE(Called("delete RavoScheduler"));
  EXPECT_FALSE(Called("create RavoScheduler"));
}

// Neither asks the service manager nor runs the service, which would
// create the data folder.
TEST_F(EntryPointTest, HelpVersionAndUnknownOptionsEndBeforeTheService) {
  const struct {
    std::vector<std::string> args;
    int status;
    const char* out_head;
    const char* err_head;
  } cases[] = {
      {{"scheduler", "--help"}, 0, "Usage: scheduler --service", ""},
      {{"scheduler", "x", "--version"}, 0, "Wrong parameter\nscheduler (Corvana ", ""},
      {{"scheduler", "--instal"}, 2, "", "scheduler: unknown option --instal\nUsage:"},
  };
  for (const auto& c : cases) {
    const EntryPointRun run = RunEntryPointFully(c.args);
    EXPECT_EQ(run.status, c.status) << c.args[1];
    EXPECT_TRUE(run.out.starts_with(c.out_head) && run.err.starts_with(c.err_head))
        << run.out << run.err;
  }
  EXPECT_TRUE(manager_.calls.empty());
}

TEST_F(EntryPointTest, AFailedUninstallSaysWhyOnStandardErrorAndExitsOne) {
  // The manager out of reach (no systemd, no administrator), or no such
  // service: both must be told, never left silent.
  const struct {
    platform::ServiceResult answer;
    std::string err;
  } cases[] = {
      {{false, false, false}, std::string(platform::kServiceManagerUnavailableText) + "\n"},
      {kNoSuchService, kNoSuchServiceText},
  };
  for (const auto& c : cases) {
    manager_.answer = c.answer;
    const EntryPointRun run = RunEntryPointFully({"scheduler", "--uninstall"});
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, c.err);
  }
  EXPECT_TRUE(Called("delete RavoScheduler"));
}

TEST_F(EntryPointTest, OnlyAServiceThatAlreadyRunsCountsAsInstalledWithoutTheLine) {
  const struct {
    bool succeeded;
    ServiceError last_error;
    int status;
  } cases[] = {
      {true, ServiceError::kNone, 0},
      {false, ServiceError::kAlreadyRunning, 0},
      {false, ServiceError::kNoSuchService, 1},
      {false, ServiceError::kAccessDenied, 1},
      {false, ServiceError::kServiceExists, 1},
      {false, ServiceError::kOther, 1},
      {false, ServiceError::kNone, 1},
  };
  for (const auto& c : cases) {
    InstallErrors errors;
    errors.last_error = c.last_error;
    EXPECT_EQ(ServiceCommandStatus(c.succeeded, errors), c.status)
        << static_cast<int>(c.last_error);
  }
}

class ControlHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::InitContextAt(dir_.path().string());
    testing::PlaceTrustedNginx();
  }
  testing::TempDir dir_;
  testing::FakeClock clock_{testing::LocalSeconds(2026, 12, 7, 12, 0, 0)};
  testing::RecordingLauncher launcher_;
  testing::ScopedSeams seams_{clock_, launcher_};
};

TEST_F(ControlHandlerTest, StopLogsStoppedThenShutdownAndQuitsNginx) {
  ServiceControlHandler(platform::ServiceControl::kStop);
  EXPECT_TRUE(stop_requested.load());
  auto bodies = LogBodies();
  ASSERT_GE(bodies.size(), 5u);
  EXPECT_EQ(bodies[1], "Service: Stopped.");
  EXPECT_EQ(bodies[2], "Service: Shutdown.");
  ASSERT_EQ(launcher_.detached.size(), 1u);
  EXPECT_NE(launcher_.detached[0].command_line.find("nginx.exe\" -s quit"), std::string::npos);
  EXPECT_EQ(clock_.slept_ms(), 550);
}

TEST_F(ControlHandlerTest, ShutdownSkipsTheStoppedLine) {
  ServiceControlHandler(platform::ServiceControl::kShutdown);
  EXPECT_TRUE(stop_requested.load());
  const auto bodies = LogBodies();
  EXPECT_EQ(bodies[1], "Service: Shutdown.");
  EXPECT_EQ(std::count(bodies.begin(), bodies.end(), "Service: Stopped."), 0);
}

TEST_F(ControlHandlerTest, InterrogateChangesNothingAndWritesNothing) {
  ServiceControlHandler(platform::ServiceControl::kOther);
  EXPECT_FALSE(stop_requested.load());
  EXPECT_EQ(LogBodies().size(), 1u);
  EXPECT_TRUE(launcher_.detached.empty());
}

// ServiceMain in-process, its status reports recorded instead of sent.
class ServiceMainTest : public ControlHandlerTest {
 protected:
  void SetUp() override {
    ControlHandlerTest::SetUp();
    platform::SetServiceManager(&manager_);
  }
  void TearDown() override { platform::SetServiceManager(nullptr); }
  // Runs ServiceMain on a worker until its engine has started, then sends
  // the control from this thread, as the dispatcher would.
  void RunAndStop(platform::ServiceControl control);
  std::atomic<bool> returned_{false};
  RecordingManager manager_;
};

void ServiceMainTest::RunAndStop(platform::ServiceControl control) {
  AppContext* before = GetAppContext();
  testing::BoundedThread worker("ServiceMain after the stop", [&] {
    ServiceMain();
    returned_.store(true);
  });
  // The worker builds a context of its own; its folders may be read once
  // its logging switch is on, which is the last step of building it.
  constexpr std::chrono::milliseconds kSpin{0};
  EXPECT_TRUE(testing::Eventually(
      [&] {
        AppContext* started = GetAppContext();
        return started != before && started->logging_enabled.load();
      },
      testing::kHangBoundMs, kSpin))
      << "the worker never built its context";
  EXPECT_TRUE(testing::Eventually([] { return LogBodies().size() >= 9; },
                                  testing::kHangBoundMs, kSpin))
      << "the engine never finished starting";
  ServiceControlHandler(control);
  worker.Join();
}

TEST_F(ServiceMainTest, ReportsRunningThenStopPendingWithProgressThenStopped) {
  using platform::ServiceControl;
  using platform::ServiceState;
  for (ServiceControl control : {ServiceControl::kStop, ServiceControl::kShutdown}) {
    manager_.reports.clear();
    stop_requested.store(false);
    RunAndStop(control);
    const auto& reports = manager_.reports;
    ASSERT_GE(reports.size(), 3u) << static_cast<int>(control);
    EXPECT_EQ(reports.front().state, ServiceState::kRunning);
    EXPECT_TRUE(reports.front().accepts_stop);
    EXPECT_EQ(reports.back().state, ServiceState::kStopped);
    EXPECT_EQ(reports.back().wait_hint_ms, 0u);
    EXPECT_EQ(reports.back().checkpoint, 0u);
    uint32_t checkpoint = 0;
    for (size_t i = 1; i + 1 < reports.size(); ++i) {
      EXPECT_EQ(reports[i].state, ServiceState::kStopPending) << i;
      EXPECT_EQ(reports[i].wait_hint_ms, kStopWaitHintMs) << i;
      EXPECT_FALSE(reports[i].accepts_stop) << i;
      EXPECT_GT(reports[i].checkpoint, checkpoint) << i;
      checkpoint = reports[i].checkpoint;
    }
  }
}

TEST_F(ServiceMainTest, AControlAfterTheStoppedReportReportsNothing) {
  RunAndStop(platform::ServiceControl::kStop);
  const size_t reported = manager_.reports.size();
  ServiceControlHandler(platform::ServiceControl::kStop);
  EXPECT_EQ(manager_.reports.size(), reported);
  EXPECT_EQ(manager_.reports.back().state, platform::ServiceState::kStopped);
}

TEST_F(ServiceMainTest, ServiceMainRunsTheEngineUntilStopped) {
  RunAndStop(platform::ServiceControl::kStop);
  auto bodies = LogBodies();
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
  EXPECT_TRUE(returned_.load());
}

}  // namespace
}  // namespace corvana

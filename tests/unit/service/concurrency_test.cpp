// The two threads of service mode: the control handler's and the worker's.
// They share the stop flag, the log and its lock, the context's clock fields
// and the quit command. These cases make them meet; the ThreadSanitizer
// build of the test command runs them to catch what the checks cannot see.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
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
#include "service/service_main.h"
#include "service/start_up.h"
#include "support/fixtures.h"
#include "support/waiting.h"
#include "webserver/webserver_control.h"

namespace corvana {
namespace {
using testing::LogBodies;

// Waits on another thread of this process without sleeping, so that the
// interleavings stay as tight as they would be.
bool SpinUntil(const std::function<bool()>& condition) {
  return testing::Eventually(condition, testing::kHangBoundMs, std::chrono::milliseconds(0));
}
using testing::WithoutTimestamp;

// Both threads start children (the worker its launches and quits, the
// handler its quit): a launcher that records under a lock, and lets a test
// act at the moment of a tracked start.
class SharedLauncher final : public platform::ProcessLauncher {
 public:
  platform::StartResult Start(const platform::ProcessStart& start) override {
    std::function<void()> hook;
    platform::ProcessHandle handle = 0;
    {
      std::lock_guard<std::mutex> guard(lock_);
      starts_.push_back(start.command_line);
      hook = std::exchange(on_start_, nullptr);
      handle = next_++;
    }
    if (hook) hook();
    return {handle, {}};
  }
  platform::FailedCall StartDetached(const platform::ProcessStart& start) override {
    std::lock_guard<std::mutex> guard(lock_);
    detached_.push_back(start.command_line);
    return {};
  }
  platform::ProcessStatus Query(platform::ProcessHandle) override {
    // every child has ended by the next look
    return {platform::ProcessState::kExited, 0};
  }
  bool Terminate(platform::ProcessHandle, uint32_t) override { return true; }
  platform::FailedCall EndTree(platform::ProcessHandle, uint32_t) override { return {}; }
  void Release(platform::ProcessHandle) override {}
  void CollectEnded() override {}

  // Runs once, on the thread of the next tracked start.
  void OnNextStart(std::function<void()> hook) {
    std::lock_guard<std::mutex> guard(lock_);
    on_start_ = std::move(hook);
  }
  std::vector<std::string> detached() {
    std::lock_guard<std::mutex> guard(lock_);
    return detached_;
  }
  std::vector<std::string> starts() {
    std::lock_guard<std::mutex> guard(lock_);
    return starts_;
  }

 private:
  std::mutex lock_;
  std::vector<std::string> starts_;
  std::vector<std::string> detached_;
  std::function<void()> on_start_;
  platform::ProcessHandle next_ = 1000;
};

// A fake clock that ends a worker loop which no stop reaches: after this
// many pauses it sets the flag itself and says so.
class BoundedClock final : public platform::Clock {
 public:
  explicit BoundedClock(int64_t now_s) : clock_(now_s) {}
  int64_t NowSeconds() override { return clock_.NowSeconds(); }
  int64_t MonotonicMs() override { return clock_.MonotonicMs(); }
  void SleepMs(int ms) override {
    clock_.SleepMs(ms);
    if (++pauses_ == kMaxPauses) {
      forced_stop_.store(true);
      stop_requested.store(true);
    }
  }
  void Set(int64_t now_s) { clock_.Set(now_s); }
  bool forced_stop() const { return forced_stop_.load(); }

 private:
  static constexpr int kMaxPauses = 20000;  // about 100 minutes of ticks
  testing::FakeClock clock_;
  std::atomic<int> pauses_{0};
  std::atomic<bool> forced_stop_{false};
};

size_t CountOf(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

class ConcurrencyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::InitContextAt(dir_.path().string());
    testing::PlaceTrustedNginx();
  }
  void WriteDefinition(const std::string& name, const std::string& common) {
    testing::WriteFile(dir_.path() / "Corvana" / name,
                       "FormatVersion=1.0\n[Common]\n" + common);
  }
  std::string QuitCommand() const {
    return "\"" + GetAppContext()->HomePath + "webserver" +
           platform::kPathSeparator + "nginx.exe\" -s quit";
  }

  testing::TempDir dir_;
  BoundedClock clock_{testing::LocalSeconds(2026, 12, 7, 3, 29, 50)};
  SharedLauncher launcher_;
  testing::ScopedSeams seams_{clock_, launcher_};
};

// Every line was written whole: a timestamp, if any, opens the line and
// appears nowhere else in it.
void ExpectWholeLines() {
  for (const std::string& line : testing::LogLines()) {
    const std::string body = WithoutTimestamp(line);
    EXPECT_EQ(body.find("[2026-"), std::string::npos) << line;
    EXPECT_EQ(body.find("#Software"), body.rfind("#Software")) << line;
  }
}

#ifndef _WIN32
// POSIX only: there the control handler can always be registered, so the
// service's main function runs in-process.

size_t IndexOf(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<size_t>(std::find(lines.begin(), lines.end(), line) -
                             lines.begin());
}

TEST_F(ConcurrencyTest, StopFromTheHandlerThreadEndsABusyWorker) {
  for (const char* name : {"A.webserver", "B.webserver", "C.webserver"}) {
    WriteDefinition(name, "type_schedule=0\ntype_interval=0\ninterval=1\n");
  }
  std::thread worker(ServiceMain);
  // Start-up's quit, then the three sites.
  const bool started = SpinUntil([&] { return launcher_.starts().size() >= 4; });
  EXPECT_TRUE(started) << "the worker never started the three web sites";
  ServiceControlHandler(platform::ServiceControl::kStop);
  worker.join();
  EXPECT_FALSE(clock_.forced_stop());
  const auto bodies = LogBodies();
  EXPECT_LT(IndexOf(bodies, "Service: Stopped."), IndexOf(bodies, "Service: Shutdown."));
  EXPECT_LT(IndexOf(bodies, "Service: Shutdown."), bodies.size());
  // The handler's own quit lines may still come after the worker's last
  // line: only the worker's lines are ordered here.
  EXPECT_EQ(CountOf(bodies, std::string("Scheduler normal shutdown.")), 2u);
  const auto last_of = [&](const std::string& line) {
    return bodies.size() - 1 -
           static_cast<size_t>(std::find(bodies.rbegin(), bodies.rend(), line) -
                               bodies.rbegin());
  };
  EXPECT_GT(last_of("Scheduler normal shutdown."), last_of("Stop webservers..."));
  // Start-up (waited for), the handler, the engine's shutdown and its
  // destructor.
  EXPECT_EQ(CountOf(launcher_.starts(), QuitCommand()), 1u);
  EXPECT_EQ(CountOf(launcher_.detached(), QuitCommand()), 3u);
  EXPECT_EQ(CountOf(bodies, QuitCommand()), 4u);
  ExpectWholeLines();
}

// The handler may run at any moment after the service reports running, in
// the middle of the engine's start-up too: the stop must not be lost, and
// the start-up must go on to its end before the worker stops.
TEST_F(ConcurrencyTest, StopArrivingDuringStartUpIsKept) {
  WriteDefinition("A.schedule", "type_schedule=1\nmin=30\n");
  std::atomic<bool> handled{false};
  std::thread handler;
  // The start-up's own quit command: the engine is between its counter and
  // its definitions.
  launcher_.OnNextStart([&] {
    handler = std::thread([&] {
      ServiceControlHandler(platform::ServiceControl::kStop);
      handled.store(true);
    });
    EXPECT_TRUE(SpinUntil([] { return stop_requested.load(); }))
        << "the handler never raised the stop";
  });
  ServiceMain();
  handler.join();
  EXPECT_TRUE(handled.load());
  EXPECT_FALSE(clock_.forced_stop()) << "the stop was lost; the worker ran on";
  const auto bodies = LogBodies();
  EXPECT_EQ(CountOf(bodies, "Run Task Schedulers/Webservers..."), 1u);
  EXPECT_EQ(CountOf(bodies, "Scheduler normal shutdown."), 2u);
  // The due schedule never ran.
  EXPECT_EQ(launcher_.starts(), std::vector<std::string>{QuitCommand()});
}

// A stop that comes while the worker is still creating the context: the
// handler's quit must not read a home folder that is being settled (it
// would start nginx.exe relative to the current directory), and the stop
// itself is still honoured.
TEST_F(ConcurrencyTest, StopWhileTheContextIsCreatedIsHonoured) {
  for (int round = 0; round < 20; ++round) {
    stop_requested.store(false);
    std::thread worker(ServiceMain);
    ServiceControlHandler(platform::ServiceControl::kStop);
    worker.join();
    ASSERT_FALSE(clock_.forced_stop()) << "round " << round;
  }
  for (const std::string& command : launcher_.detached()) {
    EXPECT_EQ(command.rfind("\"" + dir_.path().string(), 0), 0u) << command;
  }
}
#endif  // _WIN32

// The handler's quit command while the worker is still creating the
// context: HomePath is not settled yet, so the quit must start nothing
// rather than an nginx.exe found relative to the current directory.
class QuitMidCreation final : public platform::ShellFolders {
 public:
  std::string CommonAppData() override {
    if (WebServerCommand(NginxCommand::kQuit)) quits.fetch_add(1);
    return common;
  }
  std::string UserAppData() override { return ""; }
  std::string common;
  std::atomic<int> quits{0};
};

TEST_F(ConcurrencyTest, QuitWhileTheContextIsCreatedStartsNothing) {
  QuitMidCreation folders;
  folders.common = dir_.path().string();
  platform::SetShellFolders(&folders);
  InitAppContext(kProductName, kVersionText, kPrivacyPolicyUrl);
  platform::SetShellFolders(nullptr);
  EXPECT_EQ(folders.quits.load(), 0);
  EXPECT_TRUE(launcher_.detached().empty());
  EXPECT_TRUE(WebServerCommand(NginxCommand::kQuit));  // once created, it works
  EXPECT_EQ(launcher_.detached(), std::vector<std::string>{QuitCommand()});
}

// The quit command from both threads at once, while the worker starts the
// nginx both may end: every start and every line arrives, and none is torn.
TEST_F(ConcurrencyTest, QuitCommandsFromBothThreadsAtOnce) {
  constexpr int kPerThread = 200;
  std::atomic<int> ready{0};
  auto quitter = [&](bool starts) {
    ready.fetch_add(1);
    EXPECT_TRUE(SpinUntil([&] { return ready.load() >= 2; })) << "the other thread never came";
    for (int i = 0; i < kPerThread; ++i) {
      if (starts) WebServerCommand(NginxCommand::kStart);
      QuitHeldNginx();
    }
  };
  std::thread handler_side(quitter, false);
  std::thread worker_side(quitter, true);
  handler_side.join();
  worker_side.join();
  const auto detached = launcher_.detached();
  EXPECT_EQ(detached.size(), 2u * kPerThread);
  EXPECT_EQ(CountOf(detached, QuitCommand()), 2u * kPerThread);
  const auto bodies = LogBodies();
  EXPECT_EQ(CountOf(bodies, QuitCommand()), 2u * kPerThread);
  EXPECT_EQ(CountOf(bodies, "Webserver command successfully"), 3u * kPerThread);
  ExpectWholeLines();
}

// The clock fields: while one thread moves the clock across midnight and
// back, both writers' lines carry a date and a time of one and the same
// reading, never the date of one and the time of the other.
TEST_F(ConcurrencyTest, TimestampsNeverMixTwoReadings) {
  const int64_t before = testing::LocalSeconds(2026, 12, 7, 23, 59, 59);
  const int64_t after = before + 1;
  clock_.Set(before);
  std::atomic<bool> done{false};
  std::thread mover([&] {
    const auto until = std::chrono::steady_clock::now() + testing::kHangBoundMs;
    while (!done.load()) {
      clock_.Set(after);
      clock_.Set(before);
      if (std::chrono::steady_clock::now() > until) {
        ADD_FAILURE() << "the writers never finished";
        return;
      }
    }
  });
  auto writer = [](const char* tag) {
    for (int i = 0; i < 300; ++i) WriteTimestampedLog(tag);
  };
  std::thread handler_side(writer, "handler");
  std::thread worker_side(writer, "worker");
  handler_side.join();
  worker_side.join();
  done.store(true);
  mover.join();
  int lines = 0;
  for (const std::string& line : testing::LogLines()) {
    const std::string stamp = line.substr(0, 21);
    if (WithoutTimestamp(line) == line) continue;  // the header
    ++lines;
    EXPECT_TRUE(stamp == "[2026-12-07 23:59:59]" || stamp == "[2026-12-08 00:00:00]")
        << line;
  }
  EXPECT_EQ(lines, 600);
}

}  // namespace
}  // namespace corvana

// The engine's start-up tells an nginx left from an earlier run to quit and,
// a few milliseconds later, starts its own. Both are separate processes: a
// quit that is still on its way when the new nginx has come up stops the
// new one, and the report sites stay down. The start-up quit therefore ends
// before start-up goes on. Real processes in nginx.exe's place.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "environment/app_context.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/process.h"
#include "platform/seams.h"
#include "support/child_modes.h"
#include "support/fixtures.h"
#include "support/waiting.h"
#include "webserver/webserver_control.h"

namespace corvana {
namespace {

namespace fs = std::filesystem;
using testing::Eventually;

std::string HelperPath(const std::string& relative) {
  const std::string self = testing::SelfPath();
  return self.substr(0, self.find_last_of(platform::kPathSeparator) + 1) + "helpers" +
         platform::kPathSeparator + relative;
}

#ifdef _WIN32
constexpr char kExeSuffix[] = ".exe";
#else
constexpr char kExeSuffix[] = "";
#endif

// The command lines the stand-in nginx.exe was started with, in order.
std::vector<std::string> StubCommandLines(const fs::path& folder) {
  std::vector<std::string> lines;
  for (const std::string& line : testing::FileLines(folder / "nginx-stub.log")) {
    lines.push_back(line.substr(line.rfind('\t') + 1));
  }
  return lines;
}

class StartUpQuitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::InitContextAt(dir_.path().string());
    home_ = GetAppContext()->HomePath;
    folder_ = fs::path(home_) / "webserver";
    fs::create_directories(folder_);
  }
  // The program that plays nginx.exe, from the helpers' folder.
  void Install(const std::string& relative) {
    ASSERT_TRUE(fs::exists(HelperPath(relative))) << HelperPath(relative);
    fs::copy_file(HelperPath(relative), folder_ / "nginx.exe");
  }
  void TearDown() override { platform::CollectEndedChildren(); }

  std::string Nginx() const {
    return home_ + "webserver" + platform::kPathSeparator + "nginx.exe";
  }

  testing::TempDir dir_;
  std::string home_;
  fs::path folder_;
};

TEST_F(StartUpQuitTest, WaitingQuitHasRunWhenTheCommandReturns) {
  Install(std::string("nginx") + platform::kPathSeparator + "nginx.exe");
  ASSERT_TRUE(WebServerCommand(NginxCommand::kQuit, 5000));
  const auto lines = StubCommandLines(folder_);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], Nginx() + " -s quit");
}

// A quit that takes 300 ms (the fault analyzer in nginx.exe's place runs
// that long, whatever it is told): start-up goes on, and starts nginx, only
// after it has ended.
TEST_F(StartUpQuitTest, StartUpStartsNginxOnlyAfterItsQuitHasEnded) {
  Install(std::string("fault_analyzer") + kExeSuffix);
  testing::WriteFile(folder_ / "analyzer_behaviour.txt", "300 0\n");
  testing::WriteFile(fs::path(home_) / "Site.webserver",
                     "FormatVersion=1.0\n[Common]\ntype_schedule=0\n");
  auto engine = std::make_unique<SchedulerEngine>();
  EngineStart(*engine);
  ASSERT_TRUE(engine->web_servers_started);
  const auto runs = [&] {
    return testing::FileLines(folder_ / "analyzer_runs.txt");
  };
  ASSERT_TRUE(Eventually([&] { return runs().size() >= 4; }));
  EXPECT_EQ(runs(), (std::vector<std::string>{"start -s quit", "end -s quit", "start ", "end "}));
  engine.reset();
}

// A sleep that lasts longer than asked, as Windows' 5 ms sleeps last a
// 15.6 ms timer tick: the monotonic clock moves on by a tick per sleep.
class CoarseSleepClock final : public platform::Clock {
 public:
  static constexpr int kTickMs = 16;
  int64_t NowSeconds() override { return platform::SystemNowSeconds(); }
  int64_t MonotonicMs() override { return monotonic_ms_; }
  void SleepMs(int) override {
    monotonic_ms_ += kTickMs;
    ++sleeps_;
  }
  int sleeps() const { return sleeps_; }

 private:
  int64_t monotonic_ms_ = 1000;
  int sleeps_ = 0;
};

// A quit that hangs holds start-up for the five seconds of the monotonic
// clock, not for a thousand sleeps of whatever length.
TEST_F(StartUpQuitTest, WaitForAHangingQuitEndsAfterFiveMonotonicSeconds) {
  Install(std::string("fault_analyzer") + kExeSuffix);
  testing::WriteFile(folder_ / "analyzer_behaviour.txt", "3000 0\n");
  CoarseSleepClock clock;
  platform::SetClock(&clock);
  const bool started = WebServerCommand(NginxCommand::kQuit, 5000);
  platform::SetClock(nullptr);
  ASSERT_TRUE(started);
  EXPECT_GE(clock.MonotonicMs() - 1000, 5000);
  EXPECT_LE(clock.sleeps(), 5000 / CoarseSleepClock::kTickMs + 1);
}

}  // namespace
}  // namespace corvana

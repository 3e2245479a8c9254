// A definition that one reload loses while its analyzer runs (the file was
// caught half written, or briefly removed) and a later reload finds again:
// the running child is kept, so the definition never runs twice at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "logging/log.h"
#include "platform/seams.h"
#include "support/fixtures.h"

namespace corvana {
namespace {
using testing::LogCount;

const char kWebServer[] =
    "FormatVersion=1.0\n[Common]\ntype_schedule=0\ntype_interval=0\ninterval=1\n";
const char kTorn[] = "FormatVersion=1.0\n[Common]\ntype_sch";

class VanishedDefinitionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::InitContextAt(dir_.path().string());
    clock_.Set(testing::LocalSeconds(2026, 12, 7, 3, 29, 50));
    platform::SetClock(&clock_);
    platform::SetLauncher(&launcher_);
    Write("Site.webserver", kWebServer);
    engine_ = std::make_unique<SchedulerEngine>();
    EngineStart(*engine_);
    EngineTick(*engine_);  // a kind-0 web server is due at once
    ASSERT_EQ(launcher_.starts.size(), 1u);
    child_ = engine_->web_servers[0].process;
  }
  void TearDown() override {
    engine_.reset();
    platform::SetClock(nullptr);
    platform::SetLauncher(nullptr);
  }
  void Write(const std::string& name, const std::string& text) {
    testing::WriteFile(dir_.path() / "Corvana" / name, text);
  }
  bool Released(platform::ProcessHandle handle) {
    return std::find(launcher_.released.begin(), launcher_.released.end(), handle) !=
           launcher_.released.end();
  }
  void SuperviseAndTick() {
    Supervise(*engine_);
    EngineTick(*engine_);
  }

  testing::TempDir dir_;
  testing::FakeClock clock_;
  testing::RecordingLauncher launcher_;
  std::unique_ptr<SchedulerEngine> engine_;
  platform::ProcessHandle child_ = 0;
};

TEST_F(VanishedDefinitionTest, ReturningDefinitionTakesItsRunningChildBack) {
  Write("Site.webserver", kTorn);
  ReloadDefinitions(*engine_);
  EXPECT_TRUE(engine_->web_servers.empty());
  SuperviseAndTick();
  EXPECT_FALSE(Released(child_));  // still running: still watched
  Write("Site.webserver", kWebServer);
  ReloadDefinitions(*engine_);
  ASSERT_EQ(engine_->web_servers.size(), 1u);
  EXPECT_EQ(engine_->web_servers[0].process, child_);
  EngineTick(*engine_);  // due again at once after the reload
  EXPECT_EQ(launcher_.starts.size(), 1u);
  EXPECT_EQ(LogCount("Error: The process is still active, id: Site"), 1);
  EXPECT_TRUE(engine_->vanished_web_servers.empty());
}

TEST_F(VanishedDefinitionTest, ChildEndingWhileItsDefinitionIsGoneIsReleasedSilently) {
  Write("Site.webserver", kTorn);
  ReloadDefinitions(*engine_);
  launcher_.Finish(child_, 3);
  SuperviseAndTick();
  EXPECT_TRUE(Released(child_));
  EXPECT_TRUE(engine_->vanished_web_servers.empty());
  EXPECT_EQ(LogCount("The process stopped, id: Site"), 0);  // no longer watched
  Write("Site.webserver", kWebServer);
  ReloadDefinitions(*engine_);
  EngineTick(*engine_);
  EXPECT_EQ(launcher_.starts.size(), 2u);  // a fresh run, the old one is over
}

TEST_F(VanishedDefinitionTest, ChildThatHadEndedIsReleasedByTheReloadItself) {
  launcher_.Finish(child_, 0);
  std::filesystem::remove(dir_.path() / "Corvana" / "Site.webserver");
  ReloadDefinitions(*engine_);
  EXPECT_TRUE(Released(child_));
  EXPECT_TRUE(engine_->vanished_web_servers.empty());
}

// Kept aside, the child is still held to the day that every child gets.
TEST_F(VanishedDefinitionTest, ChildRunningADayWhileItsDefinitionIsGoneIsTerminated) {
  Write("Site.webserver", kTorn);
  ReloadDefinitions(*engine_);
  ASSERT_EQ(engine_->vanished_web_servers.size(), 1u);
  const int64_t started_ms = engine_->vanished_web_servers[0].started_monotonic_ms;
  clock_.Advance(0, started_ms + 86394 * 1000 - clock_.MonotonicMs());
  Supervise(*engine_);
  EXPECT_TRUE(launcher_.terminated.empty());
  clock_.Advance(1);
  Supervise(*engine_);
  EXPECT_EQ(launcher_.terminated, (std::vector<platform::ProcessHandle>{child_}));
  EXPECT_TRUE(Released(child_));
  EXPECT_TRUE(engine_->vanished_web_servers.empty());
  EXPECT_EQ(LogCount("Terminate Process, id: Site"), 1);
}

}  // namespace
}  // namespace corvana

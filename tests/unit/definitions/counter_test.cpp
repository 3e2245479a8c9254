// The change counter: how its bytes read, and how the retrying open behaves
// when the file is missing, deleted, not a file, or held by its writer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <string>
#include <thread>

#include "definitions/change_counter.h"
#include "environment/app_context.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/seams.h"
#include "support/child_modes.h"
#include "support/fixtures.h"
#include "support/waiting.h"

namespace corvana {
namespace {

namespace fs = std::filesystem;

class CounterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::InitContextAt(dir_.path().string());
    home_ = GetAppContext()->HomePath;
    ASSERT_FALSE(home_.empty());
    path_ = home_ + kCounterFileName;
  }
  void TearDown() override { platform::SetClock(nullptr); }

  void WriteCounter(const std::string& bytes) const {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << bytes;
  }

  testing::TempDir dir_;
  std::string home_;
  std::string path_;
};

TEST_F(CounterTest, ValueDependsOnTheFilesLength) {
  const struct {
    std::string bytes;
    int32_t value;
  } cases[] = {
      {"", 1},
      {std::string("\x05\x00", 2), 1},
      {std::string("\x05\x00\x00", 3), 1},
      {std::string("\x78\x56\x34\x12", 4), 0x12345678},
      {std::string("\x05\x00\x00\x00", 4), 5},
      {std::string("\xff\xff\xff\xff", 4), -1},
      {std::string("\x00\x00\x00\x80", 4), INT32_MIN},
      {std::string("\x02\x01\x00\x00\xaa\xbb\xcc\xdd", 8), 0x102},
  };
  for (const auto& c : cases) {
    WriteCounter(c.bytes);
    EXPECT_EQ(ReadChangeCounter(HomeFolder()), c.value) << c.bytes.size() << " bytes";
  }
}

TEST_F(CounterTest, MissingFileReadsZeroWithoutWaiting) {
  testing::FakeClock clock;
  platform::SetClock(&clock);
  EXPECT_EQ(ReadChangeCounter(HomeFolder()), 0);
  EXPECT_EQ(clock.slept_ms(), 0);
}

TEST_F(CounterTest, DeletedWhileRunningReadsZeroUntilWrittenAgain) {
  WriteCounter(std::string("\x07\x00\x00\x00", 4));
  EXPECT_EQ(ReadChangeCounter(HomeFolder()), 7);
  ASSERT_TRUE(platform::RemoveFile(path_));
  EXPECT_EQ(ReadChangeCounter(HomeFolder()), 0);
  WriteCounter(std::string("\x01\x00\x00\x00", 4));
  EXPECT_EQ(ReadChangeCounter(HomeFolder()), 1);
}

TEST_F(CounterTest, ReadingAPresentFileDoesNotWait) {
  testing::FakeClock clock;
  platform::SetClock(&clock);
  WriteCounter("abcd");
  EXPECT_EQ(ReadChangeCounter(HomeFolder()), 0x64636261);
  EXPECT_EQ(clock.slept_ms(), 0);
}

// No writer holds a FIFO or a folder: at the counter's name it reads as
// missing at once, which lets reloads go on, and the log says so once. A
// file there again is read again.
TEST_F(CounterTest, ACounterThatIsNoFileCountsAsMissing) {
#ifndef _WIN32
  ASSERT_EQ(std::system(("mkfifo '" + path_ + "'").c_str()), 0);
#else
  ASSERT_TRUE(platform::MakeDirectory(path_));
#endif
  testing::FakeClock clock;
  platform::SetClock(&clock);
  auto value = std::async(std::launch::async, [] {
    ReadChangeCounterUnlessHeld(HomeFolder());
    return ReadChangeCounterUnlessHeld(HomeFolder());
  });
  if (value.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    std::FILE* writer = std::fopen(path_.c_str(), "w");  // releases the reader
    if (writer != nullptr) std::fclose(writer);
    ADD_FAILURE() << "reading a FIFO counter blocked";
  }
  EXPECT_EQ(value.get(), std::optional<int32_t>(0));
  EXPECT_EQ(clock.slept_ms(), 0);
  EXPECT_EQ(testing::LogCount("The change counter is not a regular file and counts as missing: " + path_), 1);
  std::filesystem::remove(path_);
  WriteCounter(std::string("\x07\x00\x00\x00", 4));
  EXPECT_EQ(ReadChangeCounterUnlessHeld(HomeFolder()), std::optional<int32_t>(7));
}

#ifdef _WIN32
// The system's sleep, counted, so that a test can tell that the open had to
// wait for the holder.
class CountingClock final : public platform::Clock {
 public:
  int64_t NowSeconds() override { return platform::SystemNowSeconds(); }
  int64_t MonotonicMs() override { return platform::SystemMonotonicMs(); }
  void SleepMs(int ms) override {
    ++sleeps;
    platform::SystemSleepMs(ms);
  }
  int sleeps = 0;
};

// Another process opens the counter denying all sharing, as its writer does.
class HeldCounterTest : public CounterTest {
 protected:
  platform::ProcessHandle Hold(int hold_ms) {
    platform::ProcessStart start;
    start.application = testing::SelfPath();
    start.command_line = start.application + " --child hold " +
                         kCounterFileName + " " + std::to_string(hold_ms);
    start.working_folder = home_;
    platform::ProcessHandle holder = platform::StartProcess(start).process;
    if (holder != 0) {
      EXPECT_TRUE(testing::Eventually([&] { return platform::PathExists(path_ + ".held"); },
                                      testing::kHangBoundMs, std::chrono::milliseconds(1)))
          << "the holder never opened the counter";
    }
    return holder;
  }

  static void WaitAndRelease(platform::ProcessHandle holder) {
    testing::WaitForExit(holder);
    platform::ReleaseProcess(holder);
  }

  CountingClock clock_;
};

TEST_F(HeldCounterTest, ShortHoldIsWaitedOut) {
  WriteCounter(std::string("\x2a\x00\x00\x00", 4));
  platform::SetClock(&clock_);
  platform::ProcessHandle holder = Hold(30);
  ASSERT_NE(holder, 0);
  ASSERT_TRUE(platform::PathExists(path_ + ".held"));
  EXPECT_EQ(ReadChangeCounter(HomeFolder()), 42);
  EXPECT_GT(clock_.sleeps, 0) << "the holder had let go before the read";
  EXPECT_LT(clock_.sleeps, 20);
  WaitAndRelease(holder);
}

TEST_F(HeldCounterTest, HoldLongerThanTheRetryWindowReadsZero) {
  WriteCounter(std::string("\x2a\x00\x00\x00", 4));
  platform::SetClock(&clock_);
  platform::ProcessHandle holder = Hold(3000);
  ASSERT_NE(holder, 0);
  ASSERT_TRUE(platform::PathExists(path_ + ".held"));
  EXPECT_EQ(ReadChangeCounter(HomeFolder()), 0);
  EXPECT_EQ(clock_.sleeps, 20);
  WaitAndRelease(holder);
  EXPECT_EQ(ReadChangeCounter(HomeFolder()), 42);
}
#endif

}  // namespace
}  // namespace corvana

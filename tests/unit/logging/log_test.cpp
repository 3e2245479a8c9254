#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "environment/app_context.h"
#include "logging/log.h"
#include "logging/log_stamp.h"
#include "platform/seams.h"
#include "support/fixtures.h"

namespace corvana {
namespace {
using testing::LogLines;
using testing::TempDir;

constexpr const char kHeader[] = "#Software: Corvana 3.3 (build 0383).";

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::InitContextAt(dir_.path().string()); }
  TempDir dir_;
};

TEST_F(LogTest, HeaderThenEntriesAndSecondStartTruncates) {
  WriteLog("first run");
  ASSERT_EQ(LogLines(), (std::vector<std::string>{kHeader, "first run"}));
  testing::InitContextAt(dir_.path().string());
  WriteLog("second run");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{kHeader, "second run"}));
}

#ifndef _WIN32
// Users read the log (schedules shows its history) but must not forge it,
// also where an older run left it writable.
TEST_F(LogTest, OnlyTheServiceMayWriteTheLog) {
  const std::filesystem::path log = dir_.path() / "Corvana" / kLogFileName;
  std::filesystem::permissions(log, std::filesystem::perms::all &
                                        ~std::filesystem::perms::owner_exec);
  testing::InitContextAt(dir_.path().string());
  EXPECT_EQ(std::filesystem::status(log).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::group_read | std::filesystem::perms::others_read);
}
#endif

TEST_F(LogTest, MessagesAreWrittenLiterally) {
  WriteLog("100%s %d %%");
  WriteLog("two\nlines");
  WriteLog("");
  EXPECT_EQ(WriteLog(nullptr), 1);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                                kHeader, "100%s %d %%", "two\\x0alines", ""}));
}

TEST_F(LogTest, LineEndsFollowThePlatformTextMode) {
  WriteLog("x");
  std::string raw = testing::ReadFile(LogFilePath());
#ifdef _WIN32
  EXPECT_EQ(raw, std::string(kHeader) + "\r\nx\r\n");
#else
  EXPECT_EQ(raw, std::string(kHeader) + "\nx\n");
#endif
}

TEST_F(LogTest, NothingIsWrittenWhileLoggingIsOff) {
  GetAppContext()->logging_enabled.store(false);
  EXPECT_EQ(WriteLog("dropped"), 1);
  WriteTimestampedLog("dropped too");
  GetAppContext()->logging_enabled.store(true);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{kHeader}));
}

TEST_F(LogTest, TimestampPrefixComesFromTheClock) {
  testing::FakeClock clock(testing::LocalSeconds(2027, 2, 3, 9, 5, 7));
  platform::SetClock(&clock);
  WriteTimestampedLog("x");
  platform::SetClock(nullptr);
  EXPECT_EQ(LogLines().back(), "[2027-02-03 09:05:07] x");
}

// `schedules` finds past runs by reading back the stamps the service writes.
TEST(LogStampTest, WhatTheWriterStampsTheReaderReads) {
  const platform::LocalTime kTimes[] = {
      {2026, 0, 1, 0, 0, 0}, {2026, 11, 31, 23, 59, 59}, {9999, 8, 9, 7, 5, 3}};
  for (const platform::LocalTime& time : kTimes) {
    const std::string line = LogStamp(time) + "Loading schedules";
    const auto stamp = LogStampTime(line);
    platform::LocalTime read;
    ASSERT_TRUE(stamp && ReadStampTime(*stamp, &read)) << line;
    EXPECT_EQ(LogStamp(read) + line.substr(kLogStampLength), line);
  }
  for (const char* line : {"[2026-13-01 00:00:00] x", "[2026-12-01 24:00:00] x",
                           "[2026-12-01 00:00:00]x", "(2026-12-01 00:00:00) x",
                           "[2026-12-01 00:0a:00] x", "[2026-12-01 00-00:00] x"}) {
    EXPECT_FALSE(LogStampTime(line)) << line;
  }
}

TEST_F(LogTest, ConcurrentWritersNeitherLoseNorInterleaveLines) {
  constexpr int kLinesPerThread = 300;
  auto writer = [](char tag) {
    for (int i = 0; i < kLinesPerThread; ++i) {
      WriteTimestampedLog(std::string(40, tag) + std::to_string(i));
    }
  };
  std::thread a(writer, 'a');
  std::thread b(writer, 'b');
  a.join();
  b.join();
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 1u + 2 * kLinesPerThread);
  int next[2] = {0, 0};
  for (size_t i = 1; i < lines.size(); ++i) {
    std::string body = testing::WithoutTimestamp(lines[i]);
    ASSERT_GE(body.size(), 41u) << lines[i];
    int which = body[0] == 'a' ? 0 : 1;
    EXPECT_EQ(body, std::string(40, body[0]) + std::to_string(next[which]++));
  }
  EXPECT_EQ(next[0], kLinesPerThread);
  EXPECT_EQ(next[1], kLinesPerThread);
}

// The log is held for the run: a folder put in HomePath's place, as a user
// may where the folder could be renamed, gets none of its entries. Windows
// does not let the held folder be renamed at all.
TEST_F(LogTest, AFolderPutInHomePathsPlaceGetsNoEntries) {
  std::error_code renamed;
  std::filesystem::rename(dir_.path() / "Corvana", dir_.path() / "moved", renamed);
#ifdef _WIN32
  EXPECT_TRUE(renamed) << "the held HomePath was renamed";
  if (renamed) return;
#endif
  ASSERT_FALSE(renamed) << renamed.message();
  std::filesystem::create_directory(dir_.path() / "Corvana");
  EXPECT_EQ(WriteLog("held"), 1);
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "Corvana" / kLogFileName));
  EXPECT_EQ(testing::FileLines(dir_.path() / "moved" / kLogFileName).back(), "held");
}

// An administrator may delete or rename the log while the service runs: the
// next entry opens a new one, with the checks of the first, so that a link
// planted at the freed name is still not written through. Wine keeps a
// deleted file and its name until its last handle closes: renamed only there.
TEST_F(LogTest, ADeletedOrRenamedLogIsFollowedByANewOne) {
  namespace fs = std::filesystem;
  const fs::path log = LogFilePath(), canary = dir_.path() / "canary";
  struct Case { const char* name; bool renamed, link; };
  for (const Case& test : {Case{"renamed", true, false}, Case{"deleted", false, false},
                           Case{"deleted, a link planted", false, true}}) {
    SCOPED_TRACE(test.name);
#ifdef _WIN32
    if (!test.renamed) continue;
#endif
    testing::InitContextAt(dir_.path().string());
    WriteLog("before");
    test.renamed ? fs::rename(log, log.string() + ".old") : (void)fs::remove(log);
    if (test.link) fs::create_symlink(canary, log);
    WriteLog("after");
    EXPECT_FALSE(fs::exists(canary));
    if (test.link) {
      fs::remove(log);
    } else {
      EXPECT_EQ(LogLines(), (std::vector<std::string>{"after"}));
    }
  }
}

}  // namespace
}  // namespace corvana

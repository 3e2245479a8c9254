#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "environment/app_context.h"
#include "logging/journal.h"
#include "logging/log.h"
#include "platform/env.h"
#include "support/fixtures.h"

namespace corvana {
namespace {
namespace fs = std::filesystem;
using testing::TempDir;

TEST(AppContextTest, HomePathIsProductFolderBelowCommonData) {
  TempDir dir;
  testing::InitContextAt(dir.path().string());
  AppContext* context = GetAppContext();
  ASSERT_NE(context, nullptr);
  const char sep = platform::kPathSeparator;
  EXPECT_EQ(context->HomePath,
            dir.path().string() + sep + "Corvana" + sep);
  EXPECT_EQ(context->common_appdata_folder, dir.path().string() + sep);
  EXPECT_TRUE(fs::is_directory(dir.path() / "Corvana"));
  EXPECT_FALSE(fs::exists(dir.path() / "Corvana" / "tst0Xlgn9.tmp"));
  EXPECT_TRUE(context->logging_enabled.load());
  EXPECT_STREQ(context->product_name, "Corvana");
  EXPECT_STREQ(context->version_text, "3.3 (build 0383)");
}

TEST(AppContextTest, UnwritableDataFolderFallsBackToCurrentDirectory) {
  TempDir dir;
  // Root ignores permission bits: a regular file where the folder should be
  // makes the data folder unwritable for everybody.
  dir.Write("Corvana", "not a folder");
  const fs::path previous = fs::current_path();
  fs::current_path(dir.path());
  testing::InitContextAt(dir.path().string());
  EXPECT_EQ(GetAppContext()->HomePath, "");
  EXPECT_EQ(LogFilePath(), "scheduler.###");
  WriteLog("here");
  EXPECT_EQ(testing::ReadFile(dir.path() / "scheduler.###").substr(0, 10), "#Software:");
  fs::current_path(previous);
}

// Users write in HomePath and may plant the log's, the journal's or the
// probe's name as a link to a file of their choosing, or as a file of their
// own: nothing is written through it. A refused probe counts as an
// unwritable folder, a refused log or journal as one that cannot be opened;
// the scheduler goes on either way.
TEST(AppContextTest, PlantedLinksAreNeverWrittenThrough) {
  enum class Plant { kSymbolic, kHard, kForeignOwner };
  const struct {
    const char* name;
    Plant plant;
    bool home_kept;
  } cases[] = {
#ifndef _WIN32  // Wine opens a symbolic link as its target, reparse flag or not
      {"scheduler.###", Plant::kSymbolic, true},
      {"scheduler.journal", Plant::kSymbolic, true},
      {"tst0Xlgn9.tmp", Plant::kSymbolic, false},
      {"scheduler.###", Plant::kForeignOwner, true},
      {"scheduler.journal", Plant::kForeignOwner, true},
#endif
      {"scheduler.###", Plant::kHard, true},
      {"scheduler.journal", Plant::kHard, true},
      {"tst0Xlgn9.tmp", Plant::kHard, false},
  };
  const fs::path previous = fs::current_path();
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " as planting " +
                 std::to_string(static_cast<int>(c.plant)));
    TempDir dir;
    fs::current_path(dir.path());
    fs::create_directories(dir.path() / "Corvana");
    dir.Write("canary", "canary");
    const fs::path planted = dir.path() / "Corvana" / c.name;
    fs::path canary = dir.path() / "canary";
    if (c.plant == Plant::kSymbolic) {
      fs::create_symlink(canary, planted);
    } else if (c.plant == Plant::kHard) {
      fs::create_hard_link(canary, planted);
    } else {
#ifndef _WIN32
      fs::rename(canary, planted);
      ASSERT_EQ(chown(planted.c_str(), 65534, 65534), 0);
      canary = planted;
#endif
    }
    testing::InitContextAt(dir.path().string());
    WriteLog("written");
    WriteJournal(JournalRecord{});
    EXPECT_EQ(testing::ReadFile(canary), "canary");
    EXPECT_EQ(GetAppContext()->HomePath.empty(), !c.home_kept);
    EXPECT_TRUE(GetAppContext()->logging_enabled.load());
    CloseJournal();
    fs::current_path(previous);
  }
}

#ifndef _WIN32
// A data folder that users could have planted or can swap is not used: the
// service falls back as for an unwritable one, writes nothing where the
// folder leads, and its fallback log says why.
TEST(AppContextTest, AnUntrustedDataFolderIsNotUsed) {
  const struct {
    const char* what;
    const char* common;  // below the test's folder
    std::function<fs::path(const fs::path& home)> plant;  // the log's target
    const char* reason;
  } cases[] = {
      {"a link to a folder", "common",
       [](const fs::path& home) {
         fs::create_directories(home.parent_path() / "elsewhere");
         fs::create_directory_symlink(home.parent_path() / "elsewhere", home);
         return home.parent_path() / "elsewhere" / kLogFileName;
       },
       "is reached through a link"},
      {"owned by another account", "common",
       [](const fs::path& home) {
         fs::create_directories(home);
         EXPECT_EQ(chown(home.c_str(), 65534, 65534), 0);
         return home / kLogFileName;
       },
       "is owned by a non-administrator"},
      {"below a folder all may rename in", "open/common",
       [](const fs::path& home) {
         fs::create_directories(home);
         fs::permissions(home.parent_path().parent_path(), fs::perms::all);
         return home / kLogFileName;
       },
       "can be moved away by non-administrators"},
  };
  const fs::path previous = fs::current_path();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    fs::current_path(dir.path());
    const fs::path common = dir.path() / c.common;
    const fs::path target = c.plant(common / "Corvana");
    testing::InitContextAt(common.string());
    fs::current_path(previous);
    EXPECT_EQ(GetAppContext()->HomePath, "");
    EXPECT_FALSE(fs::exists(target));
    const auto lines = testing::FileLines(dir.path() / kLogFileName);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "HomePath not used: " + (common / "Corvana").string() +
                            "/ " + c.reason);
  }
}
#endif

TEST(AppContextTest, NoSharedFolderLeavesHomePathEmpty) {
  TempDir dir;
  const fs::path previous = fs::current_path();
  fs::current_path(dir.path());
  testing::InitContextAt("");
  fs::current_path(previous);
  EXPECT_EQ(GetAppContext()->HomePath, "");
  EXPECT_EQ(GetAppContext()->common_appdata_folder, "");
}

TEST(AppContextTest, TempFolderAlwaysEndsWithOneSeparator) {
  TempDir dir;
  const std::string sep(1, platform::kPathSeparator);
  for (const std::string& value : {dir.path().string(), dir.path().string() + sep}) {
    testing::ScopedEnvVar temp("TEMP", value);
    testing::InitContextAt(dir.path().string());
    EXPECT_EQ(GetAppContext()->temp_folder, dir.path().string() + sep);
  }
  testing::ScopedEnvVar no_temp("TEMP", std::nullopt);
  testing::InitContextAt(dir.path().string());
  EXPECT_EQ(GetAppContext()->temp_folder, "");
}

}  // namespace
}  // namespace corvana

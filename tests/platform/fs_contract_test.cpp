// Files and folders as the loaders rely on them, the same on both builds.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/fs.h"
#include "support/fixtures.h"

namespace corvana {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

std::vector<std::string> Listed(const std::string& folder,
                                const std::string& extension,
                                bool* listed = nullptr) {
  std::vector<std::string> names;
  const bool ok = platform::ForEachWithExtension(
      *testing::Hold(folder), extension, [&](const char* name) { names.push_back(name); });
  if (listed != nullptr) *listed = ok;
  std::sort(names.begin(), names.end());
  return names;
}

// Restores the current directory when the test ends, however it ends.
class CurrentDirectoryGuard {
 public:
  explicit CurrentDirectoryGuard(const fs::path& to) : saved_(fs::current_path()) {
    fs::current_path(to);
  }
  ~CurrentDirectoryGuard() { fs::current_path(saved_); }

 private:
  fs::path saved_;
};

class EnumerationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name :
         {"Daily.schedule", "X.SCHEDULE", "Mixed.Schedule", "site.old.schedule",
          ".hidden.schedule", "Daily web.schedule", "report.webserver",
          "a.schedules", "a.schedule.bak", "schedule", "noext"}) {
      dir_.Write(name, "FormatVersion=1.0\n");
    }
    fs::create_directory(dir_.path() / "sub.schedule");
    fs::create_directory(dir_.path() / "other");
  }

  const std::vector<std::string> expected_ = {
      ".hidden.schedule", "Daily web.schedule", "Daily.schedule",
      "Mixed.Schedule",   "X.SCHEDULE",         "site.old.schedule",
      "sub.schedule"};
  TempDir dir_;
};

TEST_F(EnumerationTest, MatchesExtensionWithoutRegardToCase) {
  bool listed = false;
  EXPECT_EQ(Listed(dir_.WithSeparator(), ".schedule", &listed), expected_);
  EXPECT_TRUE(listed);
  EXPECT_EQ(Listed(dir_.WithSeparator(), ".webserver"),
            std::vector<std::string>{"report.webserver"});
  EXPECT_EQ(Listed(dir_.WithSeparator(), ".SCHEDULE"), expected_);
}

TEST_F(EnumerationTest, EmptyFolderNameMeansCurrentDirectory) {
  CurrentDirectoryGuard in_dir(dir_.path());
  EXPECT_EQ(Listed("", ".schedule"), expected_);
}

#ifdef _WIN32
TEST_F(EnumerationTest, HiddenAndSystemFilesAreListed) {
  dir_.Write("flagged.schedule", "");
  const std::string path = (dir_.path() / "flagged.schedule").string();
  ASSERT_EQ(std::system(("attrib +h +s \"" + path + "\"").c_str()), 0);
  const auto names = Listed(dir_.WithSeparator(), ".schedule");
  EXPECT_NE(std::find(names.begin(), names.end(), "flagged.schedule"),
            names.end());
}
#endif

TEST(EnumerationEdgeTest, EmptyFolderListsNothing) {
  TempDir dir;
  bool listed = false;
  EXPECT_TRUE(Listed(dir.WithSeparator(), ".schedule", &listed).empty());
  EXPECT_TRUE(listed);
}

TEST(EnumerationEdgeTest, MissingFolderFailsWithoutVisiting) {
  TempDir dir;
  const std::string missing = dir.WithSeparator() + "missing" +
                              platform::kPathSeparator;
  bool listed = true;
  EXPECT_TRUE(Listed(missing, ".schedule", &listed).empty());
  EXPECT_FALSE(listed);
}

TEST(PathExistsTest, FilesAndFoldersExistMissingOnesDoNot) {
  TempDir dir;
  dir.Write("schedule_counter.dat", "");
  fs::create_directory(dir.path() / "folder");
  const std::string base = dir.WithSeparator();
  const char sep = platform::kPathSeparator;
  const struct {
    std::string path;
    bool exists;
  } cases[] = {
      {base + "schedule_counter.dat", true},
      {base + "folder", true},
      {base + "missing.dat", false},
      {base + "missing" + sep + "schedule_counter.dat", false},
      {"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::PathExists(c.path), c.exists) << c.path;
  }
}

std::string ReadAll(std::FILE* file) {
  std::string text;
  char buffer[256];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    text.append(buffer, got);
  }
  std::fclose(file);
  return text;
}

TEST(OpenRegularFileTest, ReadsFilesInBothModes) {
  TempDir dir;
  dir.Write("a.schedule", std::string("a\r\nb\x1a" "c", 6));
  std::FILE* binary = platform::OpenRegularFileIn(dir.Held(), "a.schedule", false);
  ASSERT_NE(binary, nullptr);
  EXPECT_EQ(ReadAll(binary), std::string("a\r\nb\x1a" "c", 6));
  std::FILE* text = platform::OpenRegularFileIn(dir.Held(), "a.schedule", true);
  ASSERT_NE(text, nullptr);
#ifdef _WIN32
  EXPECT_EQ(ReadAll(text), "a\nb");  // CR LF becomes LF, Ctrl-Z ends the text
#else
  EXPECT_EQ(ReadAll(text), std::string("a\r\nb\x1a" "c", 6));
#endif
}

TEST(OpenRegularFileTest, RefusesWhatIsNotARegularFile) {
  TempDir dir;
  fs::create_directory(dir.path() / "sub.schedule");
  std::vector<std::pair<std::string, std::string>> refused = {
      {dir.WithSeparator(), "sub.schedule"},
      {dir.WithSeparator(), "missing.schedule"},
      {dir.WithSeparator(), ""},  // the folder itself
  };
#ifndef _WIN32
  refused.push_back({"/dev/", "null"});
#endif
  for (const auto& [folder, name] : refused) {
    for (bool text_mode : {false, true}) {
      std::FILE* file =
          platform::OpenRegularFileIn(*testing::Hold(folder), name.c_str(), text_mode);
      EXPECT_EQ(file, nullptr) << folder << name;
      if (file != nullptr) std::fclose(file);
    }
  }
}

#ifndef _WIN32
TEST(OpenRegularFileTest, RefusesAFifoWithoutBlocking) {
  TempDir dir;
  const std::string fifo = dir.WithSeparator() + "pipe.schedule";
  ASSERT_EQ(std::system(("mkfifo '" + fifo + "'").c_str()), 0);
  auto opened = std::async(std::launch::async, [&] {
    return platform::OpenRegularFileIn(dir.Held(), "pipe.schedule", true);
  });
  if (opened.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    // A writer releases the blocked open, so that the suite can go on.
    std::FILE* writer = std::fopen(fifo.c_str(), "w");
    if (writer != nullptr) std::fclose(writer);
    ADD_FAILURE() << "opening a FIFO blocked";
  }
  std::FILE* file = opened.get();
  EXPECT_EQ(file, nullptr);
  if (file != nullptr) std::fclose(file);
}
#endif

}  // namespace
}  // namespace corvana

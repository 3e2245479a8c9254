// Filling the schedule and web-server lists from HomePath: which files are
// taken, what a bad one does to the rest, and the summary line.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "definitions/change_counter.h"
#include "definitions/definition_loader.h"
#include "environment/app_context.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "support/fixtures.h"

namespace corvana {
namespace {
using testing::LogHeader;
using testing::LogLines;

namespace fs = std::filesystem;

constexpr char kEnabled[] =
    "FormatVersion=1.0\n\n[Common]\nenabled=1\ntype_schedule=1\nmin=5\n";
constexpr char kDisabled[] =
    "FormatVersion=1.0\n\n[Common]\nenabled=0\ntype_schedule=1\nmin=5\n";
constexpr char kBroken[] = "FormatVersion=2.0\n\n[Common]\nenabled=1\n";

class LoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::InitContextAt(dir_.path().string());
    home_ = GetAppContext()->HomePath;
    ASSERT_FALSE(home_.empty());
  }

  void Write(const std::string& name, const std::string& content) const {
    std::ofstream(home_ + name, std::ios::binary) << content;
  }

  static int Count(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
  }

  // The ids the list should hold: the files in the order the folder lists
  // them, less those named in `skipped`.
  std::vector<std::string> ListedIds(const char* extension,
                                     const std::vector<std::string>& skipped) const {
    std::vector<std::string> ids;
    platform::ForEachWithExtension(HomeFolder(), extension, [&](const char* name) {
      std::string file(name);
      if (std::find(skipped.begin(), skipped.end(), file) == skipped.end()) {
        ids.push_back(file.substr(0, file.find('.')));
      }
    });
    return ids;
  }

  // Writes a web-server file without a section under the first of some
  // candidate names that the folder lists after `earlier`.
  std::string NameListedAfter(const std::string& earlier) const {
    for (int i = 0; i < 64; ++i) {
      const std::string name = "zbare" + std::to_string(i) + kWebServerExtension;
      Write(name, "FormatVersion=1.0\n");
      std::vector<std::string> order;
      platform::ForEachWithExtension(HomeFolder(), kWebServerExtension,
                                     [&](const char* found) { order.push_back(found); });
      if (order == std::vector<std::string>{earlier, name}) return name;
      fs::remove(home_ + name);
    }
    return "";
  }

  template <typename Record>
  static std::vector<std::string> Ids(const std::vector<Record>& list) {
    std::vector<std::string> ids;
    for (const Record& record : list) ids.push_back(record.id);
    return ids;
  }

  testing::TempDir dir_;
  std::string home_;
};

TEST_F(LoaderTest, KeepsEnabledSchedulesInFolderOrder) {
  for (const char* name : {"Nightly.schedule", "Daily web.schedule",
                           "UPPER.SCHEDULE", "Mixed.Schedule"}) {
    Write(name, kEnabled);
  }
  Write("Off.schedule", kDisabled);
  Write("site.webserver", kEnabled);
  Write("Nightly.schedule.bak", kEnabled);
  Write("plain.schedules", kEnabled);
  std::vector<ScheduleDefinition> list(3);  // emptied before refilling
  LoadSchedules(HomeFolder(), &list);
  EXPECT_EQ(Ids(list), ListedIds(kScheduleExtension, {"Off.schedule"}));
  EXPECT_EQ(list.size(), 4u);
  for (const auto& schedule : list) EXPECT_EQ(schedule.min, 5);
  EXPECT_EQ(LogLines(LogHeader::kDropped).back(), "Loading : 4 Schedules items");
}

TEST_F(LoaderTest, FilesSharingAnIdAreBothListed) {
  Write("report.schedule", kEnabled);
  Write("report.old.schedule", kEnabled);
  std::vector<ScheduleDefinition> list;
  LoadSchedules(HomeFolder(), &list);
  EXPECT_EQ(Ids(list), (std::vector<std::string>{"report", "report"}));
  EXPECT_EQ(LogLines(LogHeader::kDropped).back(), "Loading : 2 Schedules items");
}

TEST_F(LoaderTest, UnreadableEntriesAreSkippedAndTheRestLoads) {
  fs::create_directory(home_ + "folder.schedule");
  Write("broken.schedule", kBroken);
  Write("good.schedule", kEnabled);
  Write("also good.schedule", kEnabled);
  std::vector<ScheduleDefinition> list;
  LoadSchedules(HomeFolder(), &list);
  EXPECT_EQ(Ids(list), ListedIds(kScheduleExtension,
                                 {"folder.schedule", "broken.schedule"}));
  const auto lines = LogLines(LogHeader::kDropped);
  EXPECT_EQ(Count(lines, "Error read schedule settings"), 2);
  EXPECT_EQ(lines.back(), "Loading : 2 Schedules items");
}

// A file of over 1 MiB is not read: it fails as an unreadable one, and a
// sparse file of gigabytes costs no memory. Exactly 1 MiB still loads.
TEST_F(LoaderTest, OversizedDefinitionsAreNotRead) {
  const std::string padded = std::string(kEnabled) + "//";
  Write("limit.schedule", padded + std::string((1 << 20) - padded.size(), 'x'));
  Write("big.schedule", padded + std::string(2 << 20, 'x'));
  fs::resize_file(home_ + "big.schedule", 2 << 20);
  Write("huge.schedule", kEnabled);
  fs::resize_file(home_ + "huge.schedule", std::uintmax_t{8} << 30);  // sparse
  Write("good.schedule", kEnabled);
  std::vector<ScheduleDefinition> list;
  LoadSchedules(HomeFolder(), &list);
  EXPECT_EQ(Ids(list), ListedIds(kScheduleExtension, {"big.schedule", "huge.schedule"}));
  const auto lines = LogLines(LogHeader::kDropped);
  for (const char* name : {"big.schedule", "huge.schedule"}) {
    EXPECT_EQ(Count(lines, "Could not read from file '" + home_ + name + "'."), 1) << name;
  }
  EXPECT_EQ(Count(lines, "Error read schedule settings"), 2);
  EXPECT_EQ(lines.back(), "Loading : 2 Schedules items");
}

#ifndef _WIN32
// Names no Windows file can have are not loaded, with a line saying why;
// a control character in one is not written into the log.
TEST_F(LoaderTest, NamesWindowsCannotHoldAreSkipped) {
  const char* const bad[] = {"quo\"te.schedule", "back\\slash.schedule",
                             "new\nline.schedule", "co:lon.schedule",
                             "pi|pe.schedule", "ta\tb.schedule"};
  for (const char* name : bad) Write(name, kEnabled);
  Write("good one.schedule", kEnabled);
  Write("new\nline.webserver", kEnabled);
  std::vector<ScheduleDefinition> list;
  LoadSchedules(HomeFolder(), &list);
  std::vector<WebServerDefinition> servers;
  LoadWebServers(HomeFolder(), &servers);
  EXPECT_EQ(Ids(list), std::vector<std::string>{"good one"});
  EXPECT_TRUE(servers.empty());
  const auto lines = LogLines(LogHeader::kDropped);
  for (const char* name : {"quo\"te.schedule", "back\\slash.schedule",
                           "new\\x0aline.schedule", "co:lon.schedule",
                           "pi|pe.schedule", "ta\\x09b.schedule",
                           "new\\x0aline.webserver"}) {
    EXPECT_EQ(Count(lines, "Skipped file '" + std::string(name) +
                               "': its name holds a character that no Windows "
                               "file name can hold"),
              1)
        << name;
  }
  EXPECT_EQ(Count(lines, "Error read schedule settings"), 0);
}
#endif

#ifdef _WIN32
// A character the ANSI code page cannot spell lists as '?', which no open
// accepts: the reader's own lines, not the skip line of other systems.
TEST_F(LoaderTest, NamesTheAnsiListingCannotSpellFailAsUnreadable) {
  std::ofstream(fs::path(home_) / L"\u4e2d.schedule") << kEnabled;
  std::vector<ScheduleDefinition> list;
  LoadSchedules(HomeFolder(), &list);
  const auto lines = LogLines(LogHeader::kDropped);
  EXPECT_EQ(Count(lines, "Cannot open file '" + home_ + "?.schedule'"), 1);
  EXPECT_EQ(Count(lines, "Error read schedule settings"), 1);
}
#endif

TEST_F(LoaderTest, FolderWithoutDefinitionsGivesAnEmptyList) {
  Write("site.webserver", kEnabled);
  std::vector<ScheduleDefinition> schedules(2);
  LoadSchedules(HomeFolder(), &schedules);
  EXPECT_TRUE(schedules.empty());
  EXPECT_EQ(LogLines(LogHeader::kDropped).back(), "Loading : 0 Schedules items");
}

// The service holds its own HomePath (on Windows nobody may remove it), so
// the context is pointed at a folder that does not exist.
TEST_F(LoaderTest, MissingHomeFolderGivesEmptyLists) {
  GetAppContext()->HomePath = home_ + "missing" + platform::kPathSeparator;
  std::vector<ScheduleDefinition> schedules(2);
  std::vector<WebServerDefinition> servers(2);
  LoadSchedules(HomeFolder(), &schedules);
  LoadWebServers(HomeFolder(), &servers);
  EXPECT_TRUE(schedules.empty());
  EXPECT_TRUE(servers.empty());
}

#ifndef _WIN32
TEST_F(LoaderTest, FifoNamedLikeAScheduleDoesNotHangTheLoad) {
  ASSERT_EQ(std::system(("mkfifo '" + home_ + "pipe.schedule'").c_str()), 0);
  Write("good.schedule", kEnabled);
  std::vector<ScheduleDefinition> list;
  auto done = std::async(std::launch::async, [&] { LoadSchedules(HomeFolder(), &list); });
  if (done.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    std::FILE* writer = std::fopen((home_ + "pipe.schedule").c_str(), "w");
    if (writer != nullptr) std::fclose(writer);  // releases the reader
    ADD_FAILURE() << "loading blocked on a FIFO";
  }
  done.get();
  EXPECT_EQ(Ids(list), std::vector<std::string>{"good"});
  const auto lines = LogLines(LogHeader::kDropped);
  EXPECT_EQ(Count(lines, "Error read schedule settings"), 1);
  EXPECT_EQ(lines.back(), "Loading : 1 Schedules items");
}
#endif

// A definition or counter linked to a file only the service may read: the
// file is refused like an unreadable one, and none of it reaches the log
// that everybody reads.
TEST_F(LoaderTest, LinkedDefinitionsAndCountersAreRefused) {
  const struct {
    const char* what;
    void (*link)(const fs::path& target, const fs::path& name);
  } cases[] = {
#ifndef _WIN32  // Wine opens a symbolic link as its target, reparse flag or not
      {"symbolic", [](const fs::path& t, const fs::path& n) { fs::create_symlink(t, n); }},
#endif
      {"hard", [](const fs::path& t, const fs::path& n) { fs::create_hard_link(t, n); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempDir dir;
    testing::InitContextAt(dir.path().string());
    const fs::path home = GetAppContext()->HomePath;
    // A settings file, so that the reader would quote its unknown line.
    testing::WriteFile(dir.path() / "secret",
                       "FormatVersion=1.0\n[Common]\npassword=SECRET-LINE\n");
    testing::WriteFile(dir.path() / "count", std::string("\x07\0\0\0", 4));
    fs::permissions(dir.path() / "secret", fs::perms::owner_read | fs::perms::owner_write);
    c.link(dir.path() / "secret", home / "linked.schedule");
    c.link(dir.path() / "count", home / kCounterFileName);
    std::vector<ScheduleDefinition> list;
    LoadSchedules(HomeFolder(), &list);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(ReadChangeCounter(HomeFolder()), 0);
    const auto lines = LogLines(LogHeader::kDropped);
    EXPECT_EQ(Count(lines, "Error read schedule settings"), 1);
    for (const std::string& line : lines) EXPECT_EQ(line.find("SECRET"), std::string::npos);
  }
}

#ifndef _WIN32
// Definitions come from the folder that was checked and is held, not from
// whatever the path leads to later (Windows keeps the held one in place).
TEST_F(LoaderTest, DefinitionsAreReadFromTheHeldFolder) {
  Write("checked.schedule", kEnabled);
  fs::rename(home_, dir_.path() / "moved");
  fs::create_directory(home_);
  Write("planted.schedule", kEnabled);
  std::vector<ScheduleDefinition> list;
  LoadSchedules(HomeFolder(), &list);
  EXPECT_EQ(Ids(list), std::vector<std::string>{"checked"});
}
#endif

TEST_F(LoaderTest, KeepsEnabledWebServersInFolderOrder) {
  Write("first.webserver", "FormatVersion=1.0\n\n[Common]\ninterval=5\n");
  Write("BARE.WEBSERVER", "FormatVersion=1.0\n");  // enabled without a section
  Write("off.webserver", "FormatVersion=1.0\n\n[Common]\nenabled=0\n");
  Write("broken.webserver", kBroken);
  fs::create_directory(home_ + "folder.webserver");
  Write("Nightly.schedule", kEnabled);
  std::vector<WebServerDefinition> list(1);
  LoadWebServers(HomeFolder(), &list);
  EXPECT_EQ(Ids(list),
            ListedIds(kWebServerExtension,
                      {"off.webserver", "broken.webserver", "folder.webserver"}));
  const auto lines = LogLines(LogHeader::kDropped);
  EXPECT_EQ(Count(lines, "Error read webserver settings"), 2);
  EXPECT_EQ(lines.back(), "Loading : 2 Web Servers items");
}

TEST_F(LoaderTest, EveryWebServerFileIsReadIntoAFreshRecord) {
  Write("first.webserver",
        "FormatVersion=1.0\n\n[Common]\nname=\"First\"\ninterval=5\n"
        "port=81\ntype_schedule=3\n");
  // A file without the section keeps whatever the record held before it was
  // read; it must be listed after the other one for a reused record to show.
  const std::string bare = NameListedAfter("first.webserver");
  ASSERT_FALSE(bare.empty());
  std::vector<WebServerDefinition> list;
  LoadWebServers(HomeFolder(), &list);
  ASSERT_EQ(list.size(), 2u);
  const WebServerDefinition& read_bare = list[1];
  EXPECT_EQ(read_bare.id + kWebServerExtension, bare);
  EXPECT_EQ(read_bare.interval, 30);
  EXPECT_EQ(read_bare.type_schedule, 0);
  EXPECT_EQ(read_bare.enabled, 1);
  EXPECT_EQ(list[0].interval, 5);
}

}  // namespace
}  // namespace corvana

// The `schedules` command on real folders: what it reports about broken
// files, its JSON, its options, and the log it reads back.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "environment/app_context.h"
#include "logging/journal.h"
#include "platform/env.h"
#include "schedules/local_stamps.h"
#include "schedules/rule_text.h"
#include "schedules/run_history.h"
#include "schedules/schedules_cli.h"
#include "schedules/time_arguments.h"
#include "support/fixtures.h"
#include "support/time_zone.h"
#include "platform/seams.h"
#include "webserver/nginx_trust.h"

namespace corvana {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int exit_code;
  std::string out;
  std::string err;
};

std::string Drain(std::FILE* file) {
  std::string text;
  std::rewind(file);
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  std::fclose(file);
  return text;
}

// Judged for the test's own account: under Wine no folder is the
// administrators'. schedules_test.sh runs the built one, judging for SYSTEM.
Outcome Schedules(std::vector<std::string> args) {
  args.insert(args.begin(), "schedules");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  const int code = schedules::SchedulesMain(static_cast<int>(argv.size()), argv.data(), out,
                                            err, platform::ServiceAccount::kThisProcess);
  return {code, Drain(out), Drain(err)};
}

std::string Definition(const std::string& body) {
  return "FormatVersion=1.0\r\n\r\n[Common]\r\n" + body;
}

std::vector<std::string> Listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(SchedulesFolderTest, BrokenFilesShowTheReadersOwnLinesAndExitOne) {
  testing::TempDir home;
  home.Write("Nightly.schedule", Definition("type_schedule=2\r\ndays_week=31\r\nhour=3\r\nmin=30\r\n"));
  home.Write("Unknown.schedule", Definition("bogus=1\r\n"));
  home.Write("Version.schedule", "FormatVersion=2.0\r\n[Common]\r\nmin=1\r\n");
  home.Write("Value.schedule", Definition("min=1\r\nhour=abc\r\n"));
  fs::create_directory(home.path() / "Folder.webserver");
  const std::vector<std::string> before = Listing(home.path());

  const Outcome run = Schedules({"--home", home.path().string(), "--from", "2026-12-07 12:00:00"});
  EXPECT_EQ(run.exit_code, 1);
  const struct { const char* file; const char* reason; std::vector<std::string> lines; } kExpected[] = {
      {"Unknown.schedule", "line 4: bogus=1: no such key",
       {" Project error, string=bogus=1", "Error read schedule settings"}},
      {"Version.schedule", "line 1: FormatVersion=2.0: not the version this reader takes",
       {"Bad version project file", "Error read schedule settings"}},
      {"Value.schedule", "line 5: hour=abc: hour is not a number", {"Error read schedule settings"}},
      {"Folder.webserver",
       "it cannot be opened (missing, not a regular file, or not allowed)",
       {"Cannot open file '" + home.WithSeparator() + "Folder.webserver'",
        "Error read webserver settings"}},
  };
  for (const auto& expected : kExpected) {
    std::string block = "  " + std::string(expected.file) + ": " + expected.reason + "\n";
    for (const std::string& line : expected.lines) block += "    " + line + "\n";
    EXPECT_NE(run.out.find(block), std::string::npos) << block << "\nin:\n" << run.out;
  }
  EXPECT_NE(run.out.find("Files that do not load (4)"), std::string::npos);
  EXPECT_NE(run.out.find("  Nightly  enabled"), std::string::npos) << run.out;
  // Read only: no log, no probe file, nothing made.
  EXPECT_EQ(Listing(home.path()), before);
}

TEST(SchedulesFolderTest, AFolderThatLoadsExitsZero) {
  testing::TempDir home;
  for (const char* id : {"e", "d", "c", "b", "a"}) {  // listed by id, whatever the disk's order
    home.Write(std::string(id) + ".schedule", Definition("enabled=0\r\n"));
  }
  home.Write("Hourly.schedule", Definition("type_schedule=1\r\nmin=30\r\n"));
  home.Write("Window.schedule", Definition("type_schedule=2\r\ndays_week=127\r\n"
                                           "hour=12\r\nmin=1\r\nsec=30\r\n"));
  const Outcome run = Schedules({"--home", home.path().string(), "--from", "2026-12-07 12:00:00",
                             "--next", "2"});
  EXPECT_EQ(run.exit_code, 0) << run.out;
  const size_t starts = run.out.find(" (starts 12:01:29)\n");  // after the rule's time
  ASSERT_NE(starts, std::string::npos) << run.out;
  EXPECT_EQ(run.out.substr(starts - 15, 9), "12:01:30 ") << run.out;
  EXPECT_NE(run.out.find("2026-12-07 12:30:00"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("2026-12-07 13:30:00"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("2026-12-07 14:30:00"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\n  a  "), std::string::npos);
  EXPECT_LT(run.out.find("\n  a  "), run.out.find("\n  e  ")) << run.out;
}

// Ids past a long shared head, equal for eight bytes after it, or one the
// start of another: still in the order of their text.
TEST(SchedulesFolderTest, RowsFollowTheIdsTextPastASharedHead) {
  testing::TempDir home;
  const std::vector<std::string> ids = {"Report ab", "Report abcdefghi", "Report abcdefghij1",
                                        "Report abcdefghij2", "Report b"};
  for (auto id = ids.rbegin(); id != ids.rend(); ++id) home.Write(*id + ".schedule", Definition("enabled=0\r\n"));
  const Outcome run = Schedules({"--home", home.path().string(), "--from", "2026-12-07 12:00:00"});
  size_t at = 0;
  for (const std::string& id : ids) {
    at = run.out.find("\n  " + id + "  ", at);
    ASSERT_NE(at, std::string::npos) << id << " out of order in:\n" << run.out;
  }
}

// What an operator reads on a terminal: rows by id, no line past 120
// columns, and one line for each file that will not run as it reads, as the
// engine's own rules find (a start beyond --until is no reason). Only the
// moment the clocks skip needs the zone; Wine has none to set.
TEST(SchedulesFolderTest, TextFitsATerminalAndSaysWhatWillNotRun) {
  testing::ScopedTimeZone zone("Europe/Berlin");
  const bool berlin = testing::LocalZoneIsBerlin();
  const std::string week = "type_schedule=2\r\ndays_week=127\r\n";
  const struct { const char* file; std::string body; const char* warning; } kFiles[] = {
      {"Quarterly finance summary.schedule", week + "hour=6\r\nsec=30\r\nrun_missed=1\r\n", nullptr},
      {"Bad hour.schedule", week + "hour=25\r\n", "never runs: hour=25 is no hour of a day"},
      {"Feb 30.schedule", "type_schedule=5\r\nmonth=1\r\nday=30\r\n",
       "never runs: day=30 never comes in that month"},
      {"No day.schedule", "type_schedule=2\r\ndays_week=128\r\n", "never runs: days_week=128 chooses no day"},
      {"Past.schedule", "year=2025\r\nmonth=6\r\nday=1\r\n", "never runs: 2025-06-01 00:00:00 has passed"},
      {"Spring.schedule", "year=2027\r\nmonth=3\r\nday=28\r\nhour=2\r\nmin=30\r\n",
       berlin ? "never runs: 2027-03-28 02:30:00 is skipped by the clocks" : nullptr},
      {"Later.schedule", "year=2027\r\nmonth=1\r\nday=1\r\n", nullptr},
      {"Unit.webserver", "type_interval=3\r\n", "never runs: type_interval=3 names no unit (0-2)"},
      {"Hourly.schedule", "type_schedule=1\r\nmin=9\r\n",
       "same id as Hourly.old.schedule: both run, and the log and journal cannot tell them apart"},
      {"Hourly.old.schedule", "type_schedule=1\r\nmin=39\r\n", nullptr},
  };
  testing::TempDir home;
  for (const auto& file : kFiles) home.Write(file.file, Definition(file.body));
  const Outcome run = Schedules({"--home", home.path().string(), "--from", "2026-12-07 12:00:00",
                                 "--until", "2026-12-08 12:00:00"});
  for (const auto& file : kFiles) {
    const std::string line = "\n  " + std::string(file.file) + ": ";
    EXPECT_EQ(run.out.find(line + (file.warning ? file.warning : "")) != std::string::npos,
              file.warning != nullptr) << line << "\nin:\n" << run.out;
  }
  std::vector<std::string> ids;
  for (size_t at = run.out.find("\n  ", run.out.find("  id ")); at != std::string::npos &&
       run.out.compare(at, 2, "\n\n") != 0; at = run.out.find('\n', at + 1)) {
    if (run.out[at + 3] != ' ' && run.out[at + 3] != '(') ids.push_back(run.out.substr(at + 3, run.out.find("  ", at + 3) - at - 3));
  }
  EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end())) << run.out;
  EXPECT_EQ(ids.size(), 9u) << run.out;
  for (size_t begin = 0, end; (end = run.out.find('\n', begin)) != std::string::npos; begin = end + 1) {
    EXPECT_LE(end - begin, 120u) << run.out.substr(begin, end - begin);
  }
}

// An interval counts from the last update the log shows, not from now.
TEST(SchedulesFolderTest, AnIntervalCountsFromTheLastUpdateInTheLog) {
  testing::TempDir home;
  home.Write("Site.webserver", Definition("interval=30\r\n"));
  testing::WriteFile(home.path() / "scheduler.###",
                     "[2026-12-07 11:50:00] Running update webserver, id: Site\n"
                     "[2026-12-07 11:50:00] Successful run webserver update, id: Site\n");
  const Outcome run = Schedules({"--home", home.path().string(), "--from",
                                 "2026-12-07 12:00:00", "--next", "2", "--json"});
  const auto next = nlohmann::json::parse(run.out)["web_servers"][0]["next"];
  ASSERT_EQ(next.size(), 2u) << run.out;
  EXPECT_EQ(next[0].get<std::string>().substr(0, 19), "2026-12-07 12:20:00");
  EXPECT_EQ(next[1].get<std::string>().substr(0, 19), "2026-12-07 12:50:00");
}

// The replay follows the service from its last start or reload in the log (or
// --from); a replay that starts anywhere else shows other starts.
TEST(SchedulesFolderTest, NextStartsFollowTheServiceFromItsLastLoad) {
  testing::ScopedTimeZone zone("Europe/Berlin");
  CORVANA_REQUIRE_BERLIN_ZONE();
  const std::string hourly = "type_schedule=1\r\nmin=58\r\n";
  const std::string daily = "type_schedule=2\r\ndays_week=127\r\nhour=2\r\nmin=3\r\n";
  const std::string change = "[2026-10-25 02:04:10] The schedules has been changed #2\n";
  const std::string autumn = "[2026-10-25 01:00:00] Loading schedules\n"
                             "[2026-10-25 02:03:00] Running schedule, id: A\n";
  const struct {
    const char* name;
    std::string log, definition, from, until;
    std::vector<std::string> next;
  } kCases[] = {
      {"started inside its minute", "[2026-12-07 09:58:30] Loading schedules\n", hourly,
       "2026-12-07 09:58:40", "", {"2026-12-07 10:58:00 +01:00"}},
      {"no log: the window covering --from", "",
       "type_schedule=2\r\ndays_week=127\r\nhour=10\r\nmin=1\r\nsec=30\r\n",
       "2026-12-07 10:01:30", "", {"2026-12-07 10:01:30 +01:00"}},
      {"--from before the load", "[2026-12-07 10:00:00] Loading schedules\n", hourly,
       "2026-12-07 09:58:40", "", {"2026-12-07 09:58:40 +01:00"}},
      {"never before the last start shown",
       "[2026-12-07 09:00:00] Loading schedules\n"
       "[2026-12-07 09:58:00] Running schedule, id: A\n", hourly,
       "2026-12-07 09:30:00", "", {"2026-12-07 10:58:00 +01:00"}},
      {"a reload keeps what ran in the repeated hour",
       autumn + change + "[2026-10-25 02:04:10] Loading schedules\n", daily,
       "2026-10-25 02:10:00 +02:00", "", {"2026-10-26 02:03:00 +01:00"}},
      {"a start-up forgets it", autumn + "[2026-10-25 02:04:10] Loading schedules\n",
       daily, "2026-10-25 02:10:00 +02:00", "", {"2026-10-25 02:03:00 +01:00"}},
      {"--until", "", hourly, "2026-12-07 09:00:00", "2026-12-07 11:58:00",
       {"2026-12-07 09:58:00 +01:00", "2026-12-07 10:58:00 +01:00",
        "2026-12-07 11:58:00 +01:00"}},
  };
  for (const auto& c : kCases) {
    testing::TempDir home;
    home.Write("A.schedule", Definition(c.definition));
    if (!c.log.empty()) testing::WriteFile(home.path() / "scheduler.###", c.log);
    int64_t from_s = 0;
    std::string error;
    ASSERT_TRUE(schedules::ParseFromTime(c.from, &from_s, &error)) << error;
    testing::FakeClock clock(from_s + 1800);  // the log ends before now
    platform::SetClock(&clock);
    std::vector<std::string> args = {"--home", home.path().string(), "--from", c.from, "--json"};
    if (!c.until.empty()) args.insert(args.end(), {"--until", c.until});
    const Outcome run = Schedules(args);
    platform::SetClock(nullptr);
    auto next = nlohmann::json::parse(run.out)["schedules"][0]["next"]
                    .get<std::vector<std::string>>();
    if (c.until.empty()) next.resize(std::min(next.size(), c.next.size()));
    EXPECT_EQ(next, c.next) << c.name << "\n" << run.out;
  }
}

// Without --home the service's HomePath is read, and never created.
TEST(SchedulesFolderTest, TheDefaultHomeIsReadWithoutBeingMade) {
  testing::TempDir common;
  testing::FixedShellFolders folders;
  folders.common = common.path().string();
  platform::SetShellFolders(&folders);
  const Outcome missing = Schedules({});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_FALSE(fs::exists(common.path() / kProductName));
  fs::create_directory(common.path() / kProductName);
  testing::WriteFile(common.path() / kProductName / "A.webserver", Definition("interval=5\r\n"));
  const Outcome present = Schedules({"--json"});
  platform::SetShellFolders(nullptr);
  EXPECT_EQ(present.exit_code, 0) << present.out;
  const auto json = nlohmann::json::parse(present.out);
  EXPECT_EQ(json["web_servers"][0]["rule"], "every 5 minutes after each (re)load");
  EXPECT_EQ(json["nginx"]["kept_running"], false);  // wanted, but no nginx.exe to run
}

TEST(SchedulesJsonTest, ShapeAndEscaping) {
  testing::TempDir home;
  home.Write("Site.webserver", Definition("type_schedule=3\r\nnday_week=1\r\nhour=4\r\nsec=30\r\n"));
  home.Write("Off.schedule", Definition("enabled=0\r\ntype_schedule=1\r\n"));
  home.Write("Bad.schedule", Definition("x=\"a\\\"b\\\\c\td\"\r\n"));
  // The service's own check decides: a folder is no program to start.
  fs::create_directories(home.path() / "webserver" / "nginx.exe");
  testing::WriteFile(home.path() / "scheduler.###",
                     "[2026-12-07 04:00:00] Running update webserver, id: Site\n"
                     "[2026-12-07 04:00:00] Successful run webserver update, id: Site\n");
  const Outcome run = Schedules({"--home", home.path().string(), "--from", "2026-12-07 12:00:00",
                             "--next", "2", "--json"});
  EXPECT_EQ(run.exit_code, 1);
  const auto json = nlohmann::ordered_json::parse(run.out);  // throws, and fails, if malformed
  std::vector<std::string> keys;
  for (const auto& [key, value] : json.items()) keys.push_back(key);
  const std::vector<std::string> kKeys = {"home", "home_refused", "from", "folder_listed", "log_read",
                                            "log_error", "schedules", "web_servers", "failed_files",
                                            "warnings", "nginx", "events", "serve_window"};
  EXPECT_EQ(keys, kKeys);
  EXPECT_EQ(json["from"].get<std::string>().substr(0, 21), "2026-12-07 12:00:00 +");
  EXPECT_EQ(json["log_read"], true);
  const auto& off = json["schedules"][0];
  EXPECT_EQ(off["id"], "Off");
  EXPECT_EQ(off["enabled"], false);
  EXPECT_TRUE(off["next"].is_array() && off["next"].empty());
  EXPECT_TRUE(off["last_run"].is_null());
  const auto& site = json["web_servers"][0];
  EXPECT_EQ(site["file"], "Site.webserver");
  EXPECT_EQ(site["rule"], "every Mon at 04:00:30");
  ASSERT_EQ(site["next"].size(), 2u);
  EXPECT_EQ(site["next"][0].get<std::string>().substr(0, 19), "2026-12-14 04:00:29");  // the window ends at sec
  EXPECT_EQ(site["last_run"]["started"], "2026-12-07 04:00:00");
  EXPECT_EQ(site["last_run"]["outcome"], "started");
  EXPECT_EQ(site["last_run"]["running"], true);
  EXPECT_TRUE(site["last_run"]["ended"].is_null());
  const auto& bad = json["failed_files"][0];
  EXPECT_EQ(bad["file"], "Bad.schedule");
  EXPECT_EQ(bad["kind"], "schedule");
  EXPECT_EQ(bad["messages"][0], " Project error, string=x=\"a\\\"b\\\\c\\x09d\"");
  EXPECT_EQ(json["nginx"]["kept_running"], false);  // it would not be started
  EXPECT_EQ(json["nginx"]["present"], true);
  EXPECT_EQ(json["nginx"]["trusted"], false);
  // Word for word what the web-server command's own check says.
  const NginxTrust trust = CheckNginxTrust(home.WithSeparator(), platform::ServiceAccount::kSystem);
  EXPECT_FALSE(trust.reason.empty());
  EXPECT_EQ(json["nginx"]["trust_detail"], trust.reason);
  EXPECT_EQ(json["serve_window"]["from"], "23:24");
}

std::string JournalLine(JournalRecordType type, const char* id, int64_t time_s,
                        RunEnding ending = RunEnding::kExited,
                        std::optional<uint32_t> exit_code = std::nullopt,
                        int64_t duration_s = 0, const char* cause = "") {
  JournalRecord record;
  record.cause = cause;
  record.type = type;
  record.id = id;
  record.time_s = time_s;
  record.ending = ending;
  record.exit_code = exit_code;
  record.duration_s = duration_s;
  return FormatJournalLine(record);
}

// The journal's word wins over the log's and outlives a restart (the
// service_start in the middle); a run with no end before a restart was
// killed with the service. "Old" is only in the log: a folder from before.
TEST(SchedulesJsonTest, LastRunTellsHowTheJournalSaysItEnded) {
  using T = JournalRecordType;
  struct Case {
    const char* id;
    const char* outcome;  // the running run's is followed by its start
    nlohmann::json exit_code, duration_s;
  } const kCases[] = {
      {"Ok", "exit 0 after 3 s", 0, 3},
      {"Three", "exit 3 after 1 s (failed)", 3, 1},
      {"Missing", "could not be started (posix_spawn failed with errno 2)", nullptr, 0},
      {"Day", "ended at the one-day limit", nullptr, 86400},
      {"Killed", "no end recorded (the service stopped)", nullptr, nullptr},
      {"Now", "running since ", nullptr, nullptr},
      {"Old", "started", nullptr, nullptr},
  };
  testing::TempDir home;
  for (const Case& c : kCases) {  // only Ok asks for catch-up, which the rule notes
    home.Write(std::string(c.id) + ".schedule", Definition(c.id == std::string("Ok") ? "enabled=0\r\nrun_missed=1\r\n" : "enabled=0\r\n"));
  }
  const int64_t t = 1796700000;
  testing::WriteFile(home.path() / kJournalFileName,
      JournalLine(T::kRunStart, "Three", t - 99) + JournalLine(T::kRunEnd, "Three", t - 98, RunEnding::kExited, 0, 1) +
      JournalLine(T::kRunStart, "Ok", t) + JournalLine(T::kRunStart, "Three", t) +
      JournalLine(T::kRunStart, "Missing", t) + JournalLine(T::kRunStart, "Day", t) +
      JournalLine(T::kRunStart, "Killed", t) + JournalLine(T::kRunEnd, "Ok", t + 3, RunEnding::kExited, 0, 3) +
      JournalLine(T::kRunEnd, "Three", t + 1, RunEnding::kExited, 3, 1) +
      JournalLine(T::kRunEnd, "Missing", t, RunEnding::kNotStarted, std::nullopt, 0,
                  "posix_spawn failed with errno 2") +
      JournalLine(T::kRunEnd, "Day", t + 86400, RunEnding::kTimeLimit, std::nullopt, 86400) +
      JournalLine(T::kServiceStart, "", t + 90000) + JournalLine(T::kRunStart, "Now", t + 90001));
  testing::WriteFile(home.path() / "scheduler.###",
                     "[2026-12-07 04:00:00] Running schedule, id: Old\n"
                     "[2026-12-07 04:00:00] Successful run schedule, id: Old\n"
                     "[2026-12-07 04:00:09] The process stopped, id: Old\n");
  const auto json = nlohmann::json::parse(Schedules({"--home", home.path().string(), "--json"}).out);
  // A long last start wraps onto lines of its own under its column.
  const std::string text =
      std::regex_replace(Schedules({"--home", home.path().string()}).out, std::regex("\n +"), " ");
  for (const auto& row : json["schedules"]) {
    const std::string id = row["id"];
    const Case* c = std::find_if(std::begin(kCases), std::end(kCases), [&](const Case& k) { return k.id == id; });
    SCOPED_TRACE(id);
    const std::string started = row["last_run"]["started"];
    const std::string outcome = c->outcome + (id == "Now" ? started : "");
    EXPECT_EQ(row["last_run"]["outcome"], outcome);
    EXPECT_EQ(row["rule"].get<std::string>().ends_with("runs at the next service start"), id == "Ok");
    EXPECT_EQ(row["exit_code"], c->exit_code);
    EXPECT_EQ(row["duration_s"], c->duration_s);
    EXPECT_NE(text.find(id == "Old" ? started + " started, ended 2026-12-07 04:00:09, exit code unknown"
                        : id == "Now" ? outcome : started + " " + outcome), std::string::npos);
  }
  EXPECT_EQ(json["schedules"].size(), std::size(kCases));
  // --history: newest first, one id's or all, at most --last.
  const auto ids = [&](std::vector<std::string> args) {
    args.insert(args.end(), {"--home", home.path().string(), "--json"});
    std::vector<std::string> listed;
    const auto runs = nlohmann::json::parse(Schedules(args).out)["runs"];
    for (const auto& run : runs) {
      listed.push_back(std::string(run["id"]) + " " + run["outcome"].get<std::string>().substr(0, 6));
    }
    return listed;
  };
  EXPECT_EQ(ids({"--history", "--last", "2"}), (std::vector<std::string>{"Now runnin", "Killed no end"}));
  EXPECT_EQ(ids({"--history", "Three"}), (std::vector<std::string>{"Three exit 3", "Three exit 0"}));
}

// --history reads the journal's end first. An end whose start lies further
// back ("Long") is that start's run, not one of the newest; an end with no
// start at all ("Orphan") is one of them.
TEST(SchedulesJsonTest, HistoryFromTheJournalsEndAgreesWithTheWholeJournal) {
  using T = JournalRecordType;
  const int64_t t = 1796700000;
  std::string journal = JournalLine(T::kRunStart, "Long", t);
  for (int i = 0; i < 400; ++i) {
    journal += JournalLine(T::kRunStart, "Filler", t + i) + JournalLine(T::kRunEnd, "Filler", t + i);
  }
  journal += JournalLine(T::kRunEnd, "Orphan", t + 500) + JournalLine(T::kRunStart, "Last", t + 501) +
             JournalLine(T::kRunEnd, "Long", t + 502, RunEnding::kExited, 0, 502);
  testing::TempDir home;
  testing::WriteFile(home.path() / kJournalFileName, journal);
  std::vector<std::string> listed;
  const auto json = nlohmann::json::parse(
      Schedules({"--history", "--last", "3", "--home", home.path().string(), "--json"}).out);
  for (const auto& run : json["runs"]) listed.push_back(run["id"]);
  EXPECT_EQ(listed, (std::vector<std::string>{"Last", "Orphan", "Filler"}));
}

// Runs are paired by kind '/' id as one name, through as many names as a
// full journal holds: a slash in a kind (no service writes one) moves where
// that name splits, not what it pairs.
TEST(JournalRunsTest, EndsPairWithTheirStartsByTheJoinedName) {
  schedules::JournalRuns runs;
  JournalFields fields;
  const auto add = [&](std::string_view line) {
    ASSERT_TRUE(ParseJournalLine(line.substr(0, line.find('\n')), &fields));
    runs.Add(fields);
  };
  add(R"({"record":"run_start","time_s":5,"kind":"a/b","id":"c"})");
  for (int i = 0; i < 300; ++i) add(JournalLine(JournalRecordType::kRunStart, std::to_string(i).c_str(), i));
  for (int i = 0; i < 300; ++i) add(JournalLine(JournalRecordType::kRunEnd, std::to_string(i).c_str(), i));
  add(R"({"record":"run_end","time_s":9,"kind":"a","id":"b/c","ended":"exited"})");
  ASSERT_EQ(runs.runs().size(), 301u);
  for (const schedules::JournalRun& run : runs.runs()) EXPECT_EQ(run.result, schedules::RunResult::kExited);
  EXPECT_EQ(runs.Last("a", "b/c")->start_s, 5);
}

// Names and the reader's text are users' bytes on an administrator's
// terminal: a clipboard write (OSC 52) or a C1 control arrives escaped.
TEST(SchedulesJsonTest, ControlCharactersFromFilesArriveEscaped) {
  testing::TempDir home;
#ifndef _WIN32  // no Windows name holds an ESC
  home.Write("\x1b]52;c;QUJD\x07.schedule", Definition("enabled=0\r\n"));
#endif
  home.Write("csi\xc2\x9b" "2J.schedule", Definition("enabled=0\r\n"));
  home.Write("Bad.schedule", Definition("x=\x1b[2J\x9b" "2J\r\n"));
  for (const bool json : {true, false}) {
    SCOPED_TRACE(json ? "json" : "text");
    std::vector<std::string> args = {"--home", home.path().string()};
    if (json) args.push_back("--json");
    const Outcome run = Schedules(args);
    for (const char raw : {'\x1b', '\x07', '\x9b'}) {
      // Windows' code page shows a lone 0x9b as a printable character.
      if (raw == '\x9b' && platform::kLoneHighBytesArePrintable) continue;
      EXPECT_EQ(run.out.find(raw), std::string::npos) << run.out;
    }
    EXPECT_NE(run.out.find("x1b[2J"), std::string::npos) << run.out;
  }
}

TEST(SchedulesOptionsTest, UsageAndExitCodes) {
  testing::ScopedTimeZone zone("Europe/Berlin");
  CORVANA_REQUIRE_BERLIN_ZONE();
  testing::TempDir dir;
  dir.Write("file", "x");
  const std::string file = (dir.path() / "file").string();
  const std::string not_a_folder = "schedules: " + file + " is not a folder that can be opened\n";
  const struct {
    std::vector<std::string> args;
    int exit_code;
    bool usage_on_out;
    bool usage_on_err;
    const char* says;  // on standard error, first
  } kCases[] = {
      {{"--home", file}, 1, false, false, not_a_folder.c_str()},
      {{"--bogus"}, 2, false, true, "schedules: unknown option --bogus\n"},
      {{"--next"}, 2, false, true, "schedules: --next wants a value\n"},
      {{"--next", "0"}, 2, false, true, "schedules: --next wants a count"},
      {{"--next", "5x"}, 2, false, true, "schedules: --next wants a count"},
      {{"--from", "2026-02-30 00:00:00"}, 2, false, true, "schedules: --from wants"},
      {{"--from", "2026-12-07"}, 2, false, true, "schedules: --from wants"},
      {{"--until", "2026-12-07 00:00:00 +02:00"}, 2, false, true,
       "schedules: --until: 2026-12-07 00:00:00 has no offset +02:00"},
      {{"--from", "2026-10-25 02:50:00"}, 2, false, true,
       "schedules: --from: 2026-10-25 02:50:00 happens twice here, as "
       "2026-10-25 02:50:00 +02:00 and as 2026-10-25 02:50:00 +01:00"},
      {{"--from", "2026-12-07 12:00:00", "--until", "2026-12-07 11:00:00"}, 2, false, true,
       "schedules: --until 2026-12-07 11:00:00 is before --from\n"},
      {{"--home", "/no/such/folder"}, 1, false, false,
       "schedules: the folder /no/such/folder does not exist\n"},
      {{"--help"}, 0, true, false, ""},
  };
  for (const auto& c : kCases) {
    const Outcome run = Schedules(c.args);
    EXPECT_EQ(run.exit_code, c.exit_code) << c.args[0];
    EXPECT_EQ(run.out.starts_with("usage: schedules"), c.usage_on_out) << c.args[0];
    EXPECT_EQ(run.err.find("usage: schedules") != std::string::npos, c.usage_on_err)
        << c.args[0];
    EXPECT_TRUE(run.err.starts_with(c.says)) << run.err;
    EXPECT_TRUE(c.exit_code == 0 || run.out.empty()) << run.out;
  }
  const Outcome version = Schedules({"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out, std::string("schedules (") + kProductName + " " + kVersionText + ")\n");
}

TEST(RuleTextTest, ReadsAsOperatorsSayIt) {
  ScheduleDefinition weekdays;
  weekdays.type_schedule = static_cast<int32_t>(ScheduleKind::kWeekdays);
  weekdays.days_week = 31 | 128;  // the eighth bit is no day
  weekdays.hour = 3;
  weekdays.min = 30;
  ScheduleDefinition once;
  once.year = 2026;
  once.month = 12;
  once.day = 24;
  once.hour = 18;
  ScheduleDefinition on_31st = once;
  on_31st.type_schedule = static_cast<int32_t>(ScheduleKind::kMonthly);
  on_31st.day = 31;
  on_31st.hour = 12;
  ScheduleDefinition christmas = once;
  christmas.type_schedule = static_cast<int32_t>(ScheduleKind::kYearly);
  christmas.month = 11;  // 0-based for this kind
  christmas.day = 25;
  ScheduleDefinition hourly;
  hourly.type_schedule = static_cast<int32_t>(ScheduleKind::kHourly);
  hourly.min = 30;
  WebServerDefinition every_30;
  WebServerDefinition every_hour = every_30;
  every_hour.type_interval = static_cast<int32_t>(IntervalUnit::kHours);
  every_hour.interval = 0;  // 0 means 1
  const struct { std::string text; const char* expected; } kCases[] = {
      {schedules::ScheduleRuleText(weekdays), "weekdays Mon, Tue, Wed, Thu, Fri at 03:30:00"},
      {schedules::ScheduleRuleText(hourly), "every hour at minute 30"},
      {schedules::ScheduleRuleText(once), "once on 2026-12-24 at 18:00:00"},
      {schedules::ScheduleRuleText(on_31st),
       "every month on day 31 at 12:00:00 (months without a 31st are skipped)"},
      {schedules::ScheduleRuleText(christmas), "every year on Dec 25 at 18:00:00"},
      {schedules::WebServerRuleText(every_30), "every 30 minutes after each (re)load"},
      {schedules::WebServerRuleText(every_hour), "every 1 hour after each (re)load"},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.text, c.expected);
}

// Each case: the log's lines, then what the last run of id "A" reads.
// A writer keeps the date of the stamp before; a new day, month or offset
// must not take it over.
TEST(LocalStampsTest, AWriterOfManyStampsWritesWhatAFreshOneDoes) {
  testing::ScopedTimeZone zone("Europe/Berlin");
  schedules::StampWriter writer;
  for (int64_t seconds : {1774692000, 1774778400, 1774994399, 1774994400, 1772319600}) {
    schedules::Start start{seconds, {}};
    ASSERT_TRUE(platform::ToLocalTime(seconds, &start.local));
    char text[64];
    EXPECT_EQ(std::string(text, writer.Put(start, text)), schedules::StartStamp(start));
  }
}

TEST(RunHistoryTest, LastRunOfAnIdFromTheLog) {
  const struct {
    const char* name;
    std::vector<const char*> lines;
    bool web_server;
    const char* started;
    schedules::StartOutcome outcome;
    bool running;
    const char* ended;
    bool after_a_day;
  } kCases[] = {
      {"ran and ended",
       {"[2026-12-07 03:30:00] Running schedule, id: A",
        "[2026-12-07 03:30:00] Successful run schedule, id: A",
        "[2026-12-07 03:41:12] The process stopped, id: A"},
       false, "2026-12-07 03:30:00", schedules::StartOutcome::kSuccessful, false,
       "2026-12-07 03:41:12", false},
      {"still running; junk skipped",
       {"[2026-12-07 03:30:00] Running schedule, id: A", "garbage",
        "[2026-12-07 3:31:00] The process stopped, id: A", "[2026-12-07 03:31:00]",
        "[2026-12-07 03:30:00] Successful run schedule, id: A"},
       false, "2026-12-07 03:30:00", schedules::StartOutcome::kSuccessful, true, "", false},
      {"failed to start",
       {"[2026-12-07 03:30:00] Running schedule, id: A",
        "[2026-12-07 03:30:00] Error: Failed to run task, id: A"},
       false, "2026-12-07 03:30:00", schedules::StartOutcome::kFailed, false, "", false},
      {"skipped while the web server's run goes on",
       {"[2026-12-06 03:30:00] Running schedule, id: A",
        "[2026-12-06 03:30:00] Successful run schedule, id: A",
        "[2026-12-06 03:30:00] The process stopped, id: A",
        "[2026-12-07 03:00:00] Running update webserver, id: A",
        "[2026-12-07 03:00:00] Successful run webserver update, id: A",
        "[2026-12-07 03:30:00] Running update webserver, id: A",
        "[2026-12-07 03:30:00] Error: The process is still active, id: A"},
       true, "2026-12-07 03:30:00", schedules::StartOutcome::kStillActive, true, "", false},
      {"ended after a day, the stop goes to the running kind",
       {"[2026-12-06 03:30:00] Running update webserver, id: A",
        "[2026-12-06 03:30:00] Successful run webserver update, id: A",
        "[2026-12-07 03:29:55] Terminate Process, id: A"},
       true, "2026-12-06 03:30:00", schedules::StartOutcome::kSuccessful, false,
       "2026-12-07 03:29:55", true},
  };
  for (const auto& c : kCases) {
    schedules::RunHistory history;
    for (const char* line : c.lines) schedules::AddLogLine(line, &history);
    const auto& runs = c.web_server ? history.web_servers : history.schedules;
    ASSERT_EQ(runs.count("A"), 1u) << c.name;
    const schedules::LastRun& run = runs.at("A");
    EXPECT_EQ(run.started, c.started) << c.name;
    EXPECT_EQ(run.outcome, c.outcome) << c.name;
    EXPECT_EQ(run.running, c.running) << c.name;
    EXPECT_EQ(run.ended, c.ended) << c.name;
    EXPECT_EQ(run.ended_after_a_day, c.after_a_day) << c.name;
  }
}

// The log is any local user's to write: only whole lines of the engine's
// shape count, however the bytes fall.
TEST(RunHistoryTest, HostileLogBytes) {
  const std::string run = "[2026-12-07 03:30:00] Running schedule, id: ";
  std::string many;  // past the reader's block
  for (int i = 0; i < 3000; ++i) many += run + "I" + std::to_string(i) + "\n";
  const struct {
    const char* name;
    std::string log;
    std::string id;
    bool found;
  } kCases[] = {
      {"carriage returns", run + "A\r\r\n", "A", true},
      {"no newline at the end", run + "B\n" + run + "A", "A", false},
      {"a NUL hides its line", run + std::string("A\0\n", 3), "A", false},
      {"but not the line after it", run + std::string("B\0\n", 3) + run + "A\n", "A", true},
      {"the longest line", run + std::string(4094 - run.size(), 'L') + "\n",
       std::string(4094 - run.size(), 'L'), true},
      {"a byte longer", run + std::string(4095 - run.size(), 'L') + "\n",
       std::string(4095 - run.size(), 'L'), false},
      {"the rest of a long line", std::string(8190, 'x') + run + "A\n", "A", false},
      {"the line after a long one", std::string(4095, 'x') + "\n" + run + "A\n", "A", true},
      {"lines across blocks", many + run + "A\n", "I2999", true},
  };
  for (const auto& c : kCases) {
    testing::TempDir home;
    testing::WriteFile(home.path() / "scheduler.###", c.log);
    platform::HeldFolder folder;
    ASSERT_TRUE(platform::HoldFolder(home.path().string() + "/", &folder));
    schedules::RunHistory history;
    ASSERT_TRUE(schedules::ReadRunHistory(folder, &history)) << c.name;
    EXPECT_EQ(history.schedules.contains(c.id), c.found) << c.name;
    if (c.id == "I2999") {
      EXPECT_EQ(history.schedules.size(), 3001u) << c.name;
    }
  }
}

}  // namespace
}  // namespace corvana

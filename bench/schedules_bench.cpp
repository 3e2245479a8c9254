// `schedules` over 10,000 definition files (9,000 schedules of every kind,
// 1,000 web servers, calendar and interval) with --next 5, beside merely
// loading the same files in the same process.
//   BM_SchedulesWholeRun: the report as the command builds and prints it:
//     the folder read, the log read back (two lines per definition), the
//     next five starts of each definition, the text tables.
//   BM_SchedulesLoadOnly: the same files through the same readers, their
//     log lines dropped, the records kept: nothing else.
//   BM_SchedulesWholeRunFullJournal: the whole run again, in a folder that
//     also holds scheduler.journal filled to its cap with the runs of
//     those ids, which the report reads first.
//   BM_SchedulesHistory: --history over that full journal, every id, the
//     default last 20, as text; BM_JournalReadFloor: the journal file read
//     whole with one open and one read, nothing parsed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "definitions/definition_loader.h"
#include "engine_fixture.h"
#include "environment/app_context.h"
#include "logging/journal.h"
#include "logging/log.h"
#include "schedules/past_runs.h"
#include "schedules/report_model.h"
#include "schedules/run_history.h"
#include "schedules/report_text.h"

namespace corvana::bench {
namespace {

constexpr int kSchedules = 9000;
constexpr int kWebServers = 1000;
constexpr int kNextCount = 5;

std::string Definition(const std::string& body) {
  return "FormatVersion=1.0\r\n\r\n[Common]\r\nname=\"Report\"\r\n"
         "profile=\"C:\\\\Logs\\\\www.example.com\"\r\n" + body;
}

// Every kind, with times spread over the day and the month.
std::string CalendarBody(int kind, int variant) {
  std::string body = "type_schedule=" + std::to_string(kind) + "\r\nhour=" +
                     std::to_string(variant % 24) + "\r\nmin=" +
                     std::to_string(variant % 60) + "\r\nsec=" +
                     std::to_string(variant % 3) + "\r\n";
  switch (KindOf(kind)) {
    case ScheduleKind::kOnce: return body + "year=2027\r\nmonth=" + std::to_string(variant % 12 + 1) +
                   "\r\nday=" + std::to_string(variant % 28 + 1) + "\r\n";
    case ScheduleKind::kWeekdays: return body + "days_week=" + std::to_string(variant % 127 + 1) + "\r\n";
    case ScheduleKind::kWeekday: return body + "nday_week=" + std::to_string(variant % 7) + "\r\n";
    case ScheduleKind::kMonthly: return body + "day=" + std::to_string(variant % 31 + 1) + "\r\n";
    case ScheduleKind::kYearly: return body + "month=" + std::to_string(variant % 12) + "\r\nday=" +
                   std::to_string(variant % 28 + 1) + "\r\n";
    default: return body;
  }
}

// A start and an end for id after id, a few failing, up to the cap.
std::string FullJournal() {
  const int64_t start_s = testing::LocalSeconds(2026, 11, 1, 0, 0, 0);
  JournalRecord record;
  record.type = JournalRecordType::kServiceStart;
  record.time_s = start_s;
  record.version = kVersionText;
  record.data_folder = "C:\\ProgramData\\Corvana\\";
  std::string journal = FormatJournalLine(record);
  for (int i = 0;; ++i) {
    const bool site = i % 10 == 9;
    const std::string id = site ? "site-" + std::to_string(i % kWebServers)
                                : "Schedule " + std::to_string(i % kSchedules);
    const std::string file = id + (site ? ".webserver" : ".schedule");
    record.type = JournalRecordType::kRunStart;
    record.kind = site ? RunKind::kWebServerUpdate : RunKind::kSchedule;
    record.time_s = start_s + 60 * int64_t{i};
    record.id = id;
    record.file = file;
    record.pid = 4000 + i % 60000;
    std::string pair = FormatJournalLine(record);
    record.type = JournalRecordType::kRunEnd;
    record.duration_s = 5 + i % 300;
    record.time_s += record.duration_s;
    record.exit_code = i % 7 == 0 ? 3u : 0u;
    pair += FormatJournalLine(record);
    if (journal.size() + pair.size() > kJournalCapBytes) return journal;
    journal += pair;
  }
}

void WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::FILE* file = std::fopen(path.string().c_str(), "wb");
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
}

// The definitions, the log and, when asked, the full journal, in a folder
// of their own.
std::string WriteFolder(const char* name, bool full_journal) {
  const std::filesystem::path folder = BenchRoot() / name / "Corvana";
  std::filesystem::create_directories(folder);
  std::string log;
  for (int i = 0; i < kSchedules; ++i) {
    const std::string id = "Schedule " + std::to_string(i);
    WriteFile(folder / (id + ".schedule"), Definition(CalendarBody(i % 6, i)));
    log += "[2026-12-06 03:30:00] Running schedule, id: " + id + "\n";
    log += "[2026-12-06 03:30:00] Successful run schedule, id: " + id + "\n";
  }
  for (int i = 0; i < kWebServers; ++i) {
    const std::string body = i % 2 == 0
        ? "type_schedule=0\r\ntype_interval=" + std::to_string(i % 3) + "\r\ninterval=" +
              std::to_string(i % 90 + 1) + "\r\n"
        : CalendarBody(i % 5 + 1, i);
    WriteFile(folder / ("site-" + std::to_string(i) + ".webserver"), Definition(body));
  }
  WriteFile(folder / kLogFileName, log);
  if (full_journal) WriteFile(folder / kJournalFileName, FullJournal());
  return folder.string() + "/";
}

// As the command does: web servers read the clock through a context.
std::string PrepareFolder(bool full_journal = false) {
  static const std::string plain = WriteFolder("schedules", false);
  static const std::string with_journal = WriteFolder("schedules-journal", true);
  const std::string& home = full_journal ? with_journal : plain;
  InitReadOnlyAppContext(kProductName, kVersionText, home);
  return home;
}

void WholeRun(benchmark::State& state, bool full_journal) {
  const std::string home = PrepareFolder(full_journal);
  const int64_t from_s = testing::LocalSeconds(2026, 12, 7, 12, 0, 0);
  size_t rows = 0;
  bool journal_read = false;
  for (auto _ : state) {
    const schedules::Report report =
        schedules::BuildReport(HomeFolder(), home, from_s, kNextCount);
    benchmark::DoNotOptimize(schedules::RenderText(report));
    rows = report.schedules.size() + report.web_servers.size();
    journal_read = std::any_of(report.schedules.begin(), report.schedules.end(),
                               [](const auto& row) { return row.journal_run != nullptr; });
  }
  if (rows != kSchedules + kWebServers) state.SkipWithError("not every file was read");
  if (journal_read != full_journal) state.SkipWithError("the journal was not read as written");
}

void BM_SchedulesWholeRun(benchmark::State& state) { WholeRun(state, false); }
BENCHMARK(BM_SchedulesWholeRun)->Unit(benchmark::kMillisecond);
void BM_SchedulesWholeRunFullJournal(benchmark::State& state) { WholeRun(state, true); }
BENCHMARK(BM_SchedulesWholeRunFullJournal)->Unit(benchmark::kMillisecond);

class DropSink final : public LogSink {
 public:
  void Write(const char*) override {}
};

void BM_SchedulesLoadOnly(benchmark::State& state) {
  const std::string home = PrepareFolder();
  DropSink sink;
  SetLogSink(&sink);
  size_t rows = 0;
  for (auto _ : state) {
    std::vector<ScheduleDefinition> schedules;
    std::vector<WebServerDefinition> web_servers;
    ForEachScheduleFile(HomeFolder(), [&](const char*, bool, ScheduleDefinition& record) {
      schedules.push_back(std::move(record));
    });
    ForEachWebServerFile(HomeFolder(), [&](const char*, bool, WebServerDefinition& record) {
      web_servers.push_back(std::move(record));
    });
    rows = schedules.size() + web_servers.size();
  }
  SetLogSink(nullptr);
  if (rows != kSchedules + kWebServers) state.SkipWithError("not every file was read");
}
BENCHMARK(BM_SchedulesLoadOnly)->Unit(benchmark::kMillisecond);

void BM_SchedulesHistory(benchmark::State& state) {
  PrepareFolder(true);
  size_t runs = 0;
  for (auto _ : state) {
    const schedules::PastRuns past = schedules::ReadPastRuns(
        HomeFolder(), std::nullopt, schedules::kDefaultHistoryCount);
    benchmark::DoNotOptimize(schedules::RenderPastRunsText(past));
    runs = past.runs.size();
  }
  if (runs != schedules::kDefaultHistoryCount) state.SkipWithError("the journal was not read");
}
BENCHMARK(BM_SchedulesHistory)->Unit(benchmark::kMillisecond);

void BM_JournalReadFloor(benchmark::State& state) {
  const std::string path = PrepareFolder(true) + kJournalFileName;
  std::string buffer(kJournalCapBytes + 1, '\0');
  size_t size = 0;
  for (auto _ : state) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) break;
    size = std::fread(buffer.data(), 1, buffer.size(), file);
    std::fclose(file);
    benchmark::DoNotOptimize(buffer.data());
  }
  if (size == 0) state.SkipWithError("the journal was not read");
}
BENCHMARK(BM_JournalReadFloor)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace corvana::bench

BENCHMARK_MAIN();

// `schedules` over 10,000 definition files (9,000 schedules of every kind,
// 1,000 web servers, calendar and interval) with --next 5, beside merely
// loading the same files in the same process.
//   BM_SchedulesWholeRun: the report as the command builds and prints it:
//     the folder read, the log read back (two lines per definition), the
//     next five starts of each definition, the text tables.
//   BM_SchedulesLoadOnly: the same files through the same readers, their
//     log lines dropped, the records kept: nothing else.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "definitions/definition_loader.h"
#include "engine_fixture.h"
#include "environment/app_context.h"
#include "logging/log.h"
#include "schedules/report_model.h"
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

std::string PrepareFolder() {
  static const std::string home = [] {
    const std::filesystem::path folder = BenchRoot() / "schedules" / "Corvana";
    std::filesystem::create_directories(folder);
    std::string log;
    for (int i = 0; i < kSchedules; ++i) {
      const std::string id = "Schedule " + std::to_string(i);
      std::FILE* file = std::fopen((folder / (id + ".schedule")).string().c_str(), "wb");
      const std::string text = Definition(CalendarBody(i % 6, i));
      std::fwrite(text.data(), 1, text.size(), file);
      std::fclose(file);
      log += "[2026-12-06 03:30:00] Running schedule, id: " + id + "\n";
      log += "[2026-12-06 03:30:00] Successful run schedule, id: " + id + "\n";
    }
    for (int i = 0; i < kWebServers; ++i) {
      const std::string body = i % 2 == 0
          ? "type_schedule=0\r\ntype_interval=" + std::to_string(i % 3) + "\r\ninterval=" +
                std::to_string(i % 90 + 1) + "\r\n"
          : CalendarBody(i % 5 + 1, i);
      std::FILE* file = std::fopen(
          (folder / ("site-" + std::to_string(i) + ".webserver")).string().c_str(), "wb");
      const std::string text = Definition(body);
      std::fwrite(text.data(), 1, text.size(), file);
      std::fclose(file);
    }
    std::FILE* file = std::fopen((folder / kLogFileName).string().c_str(), "wb");
    std::fwrite(log.data(), 1, log.size(), file);
    std::fclose(file);
    // As the command does: web servers read the clock through a context.
    InitReadOnlyAppContext(kProductName, kVersionText, folder.string() + "/");
    return folder.string() + "/";
  }();
  return home;
}

void BM_SchedulesWholeRun(benchmark::State& state) {
  const std::string home = PrepareFolder();
  const int64_t from_s = testing::LocalSeconds(2026, 12, 7, 12, 0, 0);
  size_t rows = 0;
  for (auto _ : state) {
    const schedules::Report report =
        schedules::BuildReport(HomeFolder(), home, from_s, kNextCount);
    benchmark::DoNotOptimize(schedules::RenderText(report));
    rows = report.schedules.size() + report.web_servers.size();
  }
  if (rows != kSchedules + kWebServers) state.SkipWithError("not every file was read");
}
BENCHMARK(BM_SchedulesWholeRun)->Unit(benchmark::kMillisecond);

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

}  // namespace
}  // namespace corvana::bench

BENCHMARK_MAIN();

// Throughput of the settings reader against inih's ini_parse_string and a
// one-pass floor (memchr over the bytes), on a realistic schedule file parsed
// over and over and on one synthetic 10 MB file, all from memory. After the
// runs it prints the ratios the reader is held to: at least twice inih on
// both inputs, and within four times the floor's time on the large file.
#include <benchmark/benchmark.h>
#include <ini.h>
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "definitions/schedule_definition.h"
#include "schedule_document.h"
#include "settings/settings_document.h"
#include "support/settings_writer.h"

namespace corvana {
namespace {

fuzzing::ScheduleFile WeekdaySchedule(int variant) {
  fuzzing::ScheduleFile record;
  record.name = "Nightly web report " + std::to_string(variant);
  record.profile = "www.example.com";
  record.enabled = 1;
  record.type_schedule = static_cast<int32_t>(ScheduleKind::kWeekdays);
  record.type_period = 11;
  record.days_week = 31;
  record.hour = 3;
  record.min = 30 + variant % 30;
  record.dt_from = 20260101;
  return record;
}

const std::string& SmallFile() {
  static const std::string text =
      WriteSettings(fuzzing::ScheduleDocument(), WeekdaySchedule(0), "Corvana");
  return text;
}

// One header, then the section again and again with changing values, all
// keys present, as a file of many repeated sections would be.
const std::string& LargeFile() {
  static const std::string text = [] {
    std::string built = SmallFile();
    for (int i = 0; built.size() < 10u * 1000 * 1000; ++i) {
      const std::string file = WriteSettings(fuzzing::ScheduleDocument(),
                                             WeekdaySchedule(i), "Corvana");
      built += file.substr(file.find("\r\n[Common]"));
    }
    return built;
  }();
  return text;
}

void ParseWithReader(benchmark::State& state, const std::string& text) {
  const auto& document = fuzzing::ScheduleDocument();
  fuzzing::ScheduleFile record;
  for (auto _ : state) {
    bool ok = ParseSettings(document, &record, text.data(), text.size());
    if (!ok) state.SkipWithError("the reader refused the text");
    benchmark::DoNotOptimize(record);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}

// inih gets the same job: find the section and the key, convert the value
// and store it into the record.
struct IniKey {
  const char* key;
  std::string fuzzing::ScheduleFile::*text;
  int32_t fuzzing::ScheduleFile::*number;
};

const std::vector<IniKey>& IniKeys() {
  using S = fuzzing::ScheduleFile;
  static const std::vector<IniKey> keys = {
      {"name", &S::name, nullptr},
      {"profile", &S::profile, nullptr},
      {"type_action", nullptr, &S::type_action},
      {"enabled", nullptr, &S::enabled},
      {"type_schedule", nullptr, &S::type_schedule},
      {"day", nullptr, &S::day},
      {"month", nullptr, &S::month},
      {"year", nullptr, &S::year},
      {"hour", nullptr, &S::hour},
      {"min", nullptr, &S::min},
      {"sec", nullptr, &S::sec},
      {"nday_week", nullptr, &S::nday_week},
      {"days_week", nullptr, &S::days_week},
      {"type_period", nullptr, &S::type_period},
      {"confirm_period", nullptr, &S::confirm_period},
      {"comparison", nullptr, &S::comparison},
      {"compar_tp", nullptr, &S::compar_tp},
      {"compar_fld", nullptr, &S::compar_fld},
      {"dt_from", nullptr, &S::dt_from},
      {"dt_to", nullptr, &S::dt_to},
      {"compr_from", nullptr, &S::compr_from},
      {"compr_to", nullptr, &S::compr_to},
  };
  return keys;
}

int IniHandler(void* user, const char* section, const char* name,
               const char* value) {
  auto* record = static_cast<fuzzing::ScheduleFile*>(user);
  if (strcasecmp(section, "Common") != 0) return 0;
  for (const IniKey& key : IniKeys()) {
    if (strcasecmp(name, key.key) != 0) continue;
    if (key.text != nullptr) {
      record->*key.text = value;
    } else {
      record->*key.number =
          static_cast<int32_t>(std::strtol(value, nullptr, 10));
    }
    return 1;
  }
  return 0;
}

void ParseWithInih(benchmark::State& state, const std::string& text) {
  fuzzing::ScheduleFile record;
  for (auto _ : state) {
    // The header comment is not INI; inih reports it and reads on.
    int result = ini_parse_string(text.c_str(), &IniHandler, &record);
    benchmark::DoNotOptimize(result);
    benchmark::DoNotOptimize(record);
  }
  if (record.days_week != 31) state.SkipWithError("inih missed the keys");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}

// Nothing that reads every line can beat one memchr pass for line ends.
void CountLinesWithMemchr(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    size_t lines = 0;
    const char* p = text.data();
    const char* end = p + text.size();
    while (const void* found = std::memchr(p, '\n', end - p)) {
      p = static_cast<const char*>(found) + 1;
      ++lines;
    }
    benchmark::DoNotOptimize(lines);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}

void BM_Small_Reader(benchmark::State& s) { ParseWithReader(s, SmallFile()); }
void BM_Small_Inih(benchmark::State& s) { ParseWithInih(s, SmallFile()); }
void BM_Small_Memchr(benchmark::State& s) {
  CountLinesWithMemchr(s, SmallFile());
}
void BM_Large_Reader(benchmark::State& s) { ParseWithReader(s, LargeFile()); }
void BM_Large_Inih(benchmark::State& s) { ParseWithInih(s, LargeFile()); }
void BM_Large_Memchr(benchmark::State& s) {
  CountLinesWithMemchr(s, LargeFile());
}
BENCHMARK(BM_Small_Reader);
BENCHMARK(BM_Small_Inih);
BENCHMARK(BM_Small_Memchr);
BENCHMARK(BM_Large_Reader)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Large_Inih)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Large_Memchr)->Unit(benchmark::kMillisecond);

// Keeps each run's MB/s beside the usual console output.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      auto found = run.counters.find("bytes_per_second");
      if (found == run.counters.end()) continue;
      mb_per_s_[run.benchmark_name()] = found->second.value / 1e6;
    }
  }
  double MbPerS(const std::string& name) const {
    auto found = mb_per_s_.find(name);
    return found == mb_per_s_.end() ? 0.0 : found->second;
  }

 private:
  std::map<std::string, double> mb_per_s_;
};

void PrintRatios(const RatioReporter& reporter) {
  for (const char* input : {"Small", "Large"}) {
    const std::string prefix = std::string("BM_") + input + "_";
    const double reader = reporter.MbPerS(prefix + "Reader");
    const double inih = reporter.MbPerS(prefix + "Inih");
    const double floor = reporter.MbPerS(prefix + "Memchr");
    if (reader <= 0 || inih <= 0 || floor <= 0) continue;
    std::printf(
        "%s file (%zu bytes): reader %.0f MB/s, inih %.0f MB/s, memchr %.0f "
        "MB/s; reader/inih throughput %.2fx (goal >= 2), reader/memchr time "
        "%.2fx (goal <= 4 on the large file)\n",
        input, (input[0] == 'S' ? SmallFile() : LargeFile()).size(), reader,
        inih, floor, reader / inih, floor / reader);
  }
}

}  // namespace
}  // namespace corvana

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  corvana::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  corvana::PrintRatios(reporter);
  benchmark::Shutdown();
  return 0;
}

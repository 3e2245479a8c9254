#include "logging/events.h"

#include <initializer_list>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "logging/escape.h"
#include "platform/seams.h"

namespace corvana {
namespace {

using platform::EventLevel;

struct EventTextEntry {
  uint32_t id;
  const char* text;
};

constexpr EventTextEntry kEventTexts[] = {
#include "event_texts.inc"
};

// Enough for every file of a large data folder; past it the set starts
// afresh rather than grow with a user's rewrites.
constexpr size_t kMaxRememberedDefinitions = 100000;
constexpr int64_t kHourS = 3600;

const char* KindName(RunKind kind) {
  switch (kind) {
    case RunKind::kSchedule: return "schedule";
    case RunKind::kWebServerUpdate: return "web-server update";
    case RunKind::kServe: return "serve";
  }
  return "";
}

void Report(EventLevel level, uint32_t event_id,
            std::initializer_list<std::string> raw_strings) {
  std::vector<std::string> strings;
  for (const std::string& raw : raw_strings) {
    strings.push_back(EscapeControlCharacters(raw));
  }
  platform::CurrentEventReporter().Report(
      level, event_id, strings,
      EventText(event_id, strings.data(), strings.size()));
}

// What the definition reports of this hour have seen.
struct DefinitionReports {
  std::mutex lock;
  std::unordered_set<uint64_t> reported;
  int64_t hour = -1;
  int sent = 0;
  int held_back = 0;
};

DefinitionReports& Definitions() {
  static DefinitionReports* reports = new DefinitionReports;
  return *reports;
}

int64_t CurrentHour() { return platform::CurrentClock().NowSeconds() / kHourS; }

// The held-back count of an hour that is over; 0 while it runs.
int TakeHeldBack(DefinitionReports& reports, int64_t hour) {
  if (hour == reports.hour) return 0;
  const int held_back = reports.held_back;
  reports.hour = hour;
  reports.sent = 0;
  reports.held_back = 0;
  return held_back;
}

void ReportHeld(int held_back) {
  if (held_back == 0) return;
  Report(EventLevel::kWarning, kEventDefinitionsHeldBack,
         {std::to_string(held_back)});
}

// FNV-1a over the name, a zero byte no name holds, and the content.
uint64_t DefinitionKey(const std::string& file_name, std::string_view content) {
  uint64_t key = 14695981039346656037ull;
  for (const std::string_view part : {std::string_view(file_name),
                                      std::string_view("", 1), content}) {
    for (const char c : part) {
      key = (key ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
  }
  return key;
}

// nginx is judged before every command: at the start, at each reload that
// starts it and at both quits of a stop. One refusal is one fact until nginx
// is trusted again or the reason changes.
struct NginxRefusal {
  std::mutex lock;
  std::string key;
};

NginxRefusal& LastNginxRefusal() {
  static NginxRefusal* last = new NginxRefusal;
  return *last;
}

}  // namespace

std::string EventText(uint32_t event_id, const std::string* strings,
                      size_t count) {
  for (const EventTextEntry& entry : kEventTexts) {
    if (entry.id != event_id) continue;
    std::string text;
    for (const char* c = entry.text; *c != '\0'; ++c) {
      const size_t index = static_cast<size_t>(c[1] - '1');
      if (*c == '%' && c[1] >= '1' && c[1] <= '9' && index < count) {
        text += strings[index];
        ++c;
      } else {
        text += *c;
      }
    }
    return text;
  }
  return std::string();
}

void ReportEngineStarted(const std::string& version, const std::string& home,
                         size_t schedules, size_t web_servers) {
  Report(EventLevel::kInformation, kEventEngineStarted,
         {version, home, std::to_string(schedules), std::to_string(web_servers)});
}

void ReportEngineStopped() {
  Report(EventLevel::kInformation, kEventEngineStopped, {});
}

void ReportAnalyzerNotStarted(RunKind kind, const std::string& id,
                              const std::string& cause) {
  Report(EventLevel::kError, kEventAnalyzerNotStarted,
         {KindName(kind), id, cause});
}

void ReportNginxRefused(const std::string& path, const std::string& reason) {
  {
    NginxRefusal& last = LastNginxRefusal();
    std::lock_guard<std::mutex> guard(last.lock);
    std::string key = path + '\n' + reason;
    if (key == last.key) return;
    last.key = std::move(key);
  }
  Report(EventLevel::kError, kEventNginxRefused, {path, reason});
}

void ForgetNginxRefusal() {
  NginxRefusal& last = LastNginxRefusal();
  std::lock_guard<std::mutex> guard(last.lock);
  last.key.clear();
}

void ReportEndedAtLimit(RunKind kind, const std::string& id) {
  Report(EventLevel::kError, kEventEndedAtLimit, {KindName(kind), id});
}

void ReportMissedStartRun(RunKind kind, const std::string& id,
                          const std::string& missed) {
  Report(EventLevel::kInformation, kEventMissedStartRun,
         {KindName(kind), id, missed});
}

void ReportRunFailed(RunKind kind, const std::string& id, uint32_t exit_code) {
  Report(EventLevel::kWarning, kEventRunFailed,
         {KindName(kind), id, std::to_string(exit_code)});
}

void ReportLocalTimeUnreadable() {
  Report(EventLevel::kError, kEventLocalTimeUnreadable, {});
}

void ReportHomePathFallback(const std::string& home, const std::string& reason,
                            const std::string& used) {
  Report(EventLevel::kError, kEventHomePathFallback,
         {home, reason, used.empty() ? "the current directory" : used});
}

void ReportLogNotOpened(const std::string& path, const std::string& cause) {
  Report(EventLevel::kError, kEventLogNotOpened, {path, cause});
}

void ReportDefinitionNotLoaded(const std::string& file_name,
                               std::string_view content) {
  DefinitionReports& reports = Definitions();
  int held_back = 0;
  bool send = false;
  {
    std::lock_guard<std::mutex> guard(reports.lock);
    held_back = TakeHeldBack(reports, CurrentHour());
    if (reports.reported.size() >= kMaxRememberedDefinitions) {
      reports.reported.clear();
    }
    if (reports.reported.insert(DefinitionKey(file_name, content)).second) {
      send = reports.sent < kDefinitionEventsPerHour;
      ++(send ? reports.sent : reports.held_back);
    }
  }
  ReportHeld(held_back);
  if (send) Report(EventLevel::kWarning, kEventDefinitionNotLoaded, {file_name});
}

void ReportHeldBackDefinitions() {
  DefinitionReports& reports = Definitions();
  int held_back = 0;
  {
    std::lock_guard<std::mutex> guard(reports.lock);
    held_back = TakeHeldBack(reports, CurrentHour());
  }
  ReportHeld(held_back);
}

}  // namespace corvana

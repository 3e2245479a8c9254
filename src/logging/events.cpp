#include "logging/events.h"

#include <initializer_list>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
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

// Per id, enough for every file of a large data folder; past it the set
// starts afresh rather than grow with a user's rewrites.
constexpr size_t kMaxRememberedFacts = 100000;
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

// What is remembered of a fact: a broken file reports once until its
// content changes, a refused nginx once until it is trusted again; any
// other fault is new again in the next hour (a schedule that fails every
// night reports every night).
enum class FactMemory { kUntilForgotten, kHour };

FactMemory MemoryOf(uint32_t event_id) {
  return event_id == kEventDefinitionNotLoaded || event_id == kEventNginxRefused
             ? FactMemory::kUntilForgotten
             : FactMemory::kHour;
}

// What the reports of one id have seen in this hour.
struct IdLimit {
  int64_t hour = -1;
  int sent = 0;
  int held_back = 0;
  std::unordered_set<uint64_t> facts;
};

struct HeldBack {
  uint32_t event_id;
  int count;
};

struct EventLimits {
  std::mutex lock;
  std::map<uint32_t, IdLimit> by_id;

  // The counts held back in the hours that are over; each id starts `hour`.
  std::vector<HeldBack> TakeOverdue(int64_t hour) {
    std::vector<HeldBack> overdue;
    for (auto& [event_id, limit] : by_id) {
      if (limit.hour == hour) continue;
      if (limit.held_back != 0) overdue.push_back({event_id, limit.held_back});
      limit.hour = hour;
      limit.sent = 0;
      limit.held_back = 0;
      if (MemoryOf(event_id) == FactMemory::kHour) limit.facts.clear();
    }
    return overdue;
  }
};

EventLimits& Limits() {
  static EventLimits* limits = new EventLimits;
  return *limits;
}

int64_t CurrentHour() { return platform::CurrentClock().NowSeconds() / kHourS; }

void ReportHeld(const std::vector<HeldBack>& overdue) {
  for (const HeldBack& held : overdue) {
    if (held.event_id == kEventDefinitionNotLoaded) {
      Report(EventLevel::kWarning, kEventDefinitionsHeldBack,
             {std::to_string(held.count)});
    } else {
      Report(EventLevel::kWarning, kEventEventsHeldBack,
             {std::to_string(held.count), std::to_string(held.event_id)});
    }
  }
}

// A 64-bit xor-then-multiply hash over the parts, each followed by a zero
// byte no name holds: cheap, and distinct facts rarely share a key.
template <class Parts>
uint64_t FactKey(const Parts& parts) {
  uint64_t key = 14695981039346656037ull;
  for (const std::string_view part : parts) {
    for (const char c : part) {
      key = (key ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    key *= 1099511628211ull;
  }
  return key;
}

// Whether the fact goes out now: new, and within its id's hour.
bool Admit(uint32_t event_id, uint64_t fact) {
  EventLimits& limits = Limits();
  std::vector<HeldBack> overdue;
  bool send = false;
  {
    std::lock_guard<std::mutex> guard(limits.lock);
    IdLimit& limit = limits.by_id[event_id];
    overdue = limits.TakeOverdue(CurrentHour());
    if (limit.facts.size() >= kMaxRememberedFacts) limit.facts.clear();
    if (limit.facts.insert(fact).second) {
      send = limit.sent < kEventsPerHour;
      ++(send ? limit.sent : limit.held_back);
    }
  }
  ReportHeld(overdue);
  return send;
}

// A warning or an error: `fact` names what it reports (by default its
// strings).
void ReportLimited(EventLevel level, uint32_t event_id,
                   std::initializer_list<std::string> raw_strings,
                   std::optional<uint64_t> fact = std::nullopt) {
  if (Admit(event_id, fact.value_or(FactKey(raw_strings)))) {
    Report(level, event_id, raw_strings);
  }
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
  ReportLimited(EventLevel::kError, kEventAnalyzerNotStarted,
                {KindName(kind), id, cause});
}

void ReportNginxRefused(const std::string& path, const std::string& reason) {
  ReportLimited(EventLevel::kError, kEventNginxRefused, {path, reason});
}

void ForgetNginxRefusal() {
  EventLimits& limits = Limits();
  std::lock_guard<std::mutex> guard(limits.lock);
  limits.by_id[kEventNginxRefused].facts.clear();
}

void ReportEndedAtLimit(RunKind kind, const std::string& id) {
  ReportLimited(EventLevel::kError, kEventEndedAtLimit, {KindName(kind), id});
}

void ReportMissedStartRun(RunKind kind, const std::string& id,
                          const std::string& missed) {
  Report(EventLevel::kInformation, kEventMissedStartRun,
         {KindName(kind), id, missed});
}

void ReportRunFailed(RunKind kind, const std::string& id, uint32_t exit_code) {
  ReportLimited(EventLevel::kWarning, kEventRunFailed,
                {KindName(kind), id, std::to_string(exit_code)});
}

void ReportLocalTimeUnreadable() {
  ReportLimited(EventLevel::kError, kEventLocalTimeUnreadable, {});
}

void ReportHomePathFallback(const std::string& home, const std::string& reason,
                            const std::string& used) {
  ReportLimited(EventLevel::kError, kEventHomePathFallback,
                {home, reason, used});
}

void ReportLogNotOpened(const std::string& path, const std::string& cause) {
  ReportLimited(EventLevel::kError, kEventLogNotOpened, {path, cause});
}

void ReportDefinitionNotLoaded(const std::string& file_name,
                               std::string_view content) {
  const std::string_view parts[] = {file_name, content};
  ReportLimited(EventLevel::kWarning, kEventDefinitionNotLoaded, {file_name},
                FactKey(parts));
}

void ReportHeldBackEvents() {
  EventLimits& limits = Limits();
  std::vector<HeldBack> overdue;
  {
    std::lock_guard<std::mutex> guard(limits.lock);
    overdue = limits.TakeOverdue(CurrentHour());
  }
  ReportHeld(overdue);
}

void ForgetReportedEvents() {
  EventLimits& limits = Limits();
  std::lock_guard<std::mutex> guard(limits.lock);
  limits.by_id.clear();
}

}  // namespace corvana

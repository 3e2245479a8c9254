#include "logging/events.h"

#include <deque>
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

// An event the system's log did not take, kept for another attempt. A
// limited one keeps its fact, which is forgotten if the event is dropped,
// so that it is reported again rather than taken for reported.
struct Undelivered {
  EventLevel level;
  uint32_t event_id;
  std::vector<std::string> strings;
  std::string text;
  std::optional<uint64_t> fact;
};

// A syslog reader that falls behind, or an Event Log being cleared, must not
// lose the start, the stop or a warning: what is not taken waits here, in
// order, and is tried again at the next tick, then after a growing pause.
// Only what overflows is dropped, and counted (event 2005).
constexpr size_t kMaxUndelivered = 64;
constexpr int64_t kFirstRetryPauseMs = 1000;
constexpr int64_t kMaxRetryPauseMs = 60000;
constexpr int kStopRetrySliceMs = 50;

struct Delivery {
  std::mutex lock;
  std::deque<Undelivered> waiting;
  int lost = 0;
  int64_t next_try_ms = 0;
  int64_t pause_ms = 0;
};

Delivery& Deliveries() {
  static Delivery* delivery = new Delivery;
  return *delivery;
}

void Forget(uint32_t event_id, uint64_t fact);

bool Send(const Undelivered& event) {
  return platform::CurrentEventReporter().Report(event.level, event.event_id,
                                                 event.strings, event.text);
}

Undelivered LostCount(int lost) {
  std::vector<std::string> strings = {std::to_string(lost)};
  std::string text = EventText(kEventEventsNotDelivered, strings.data(), 1);
  return {EventLevel::kWarning, kEventEventsNotDelivered, std::move(strings),
          std::move(text), std::nullopt};
}

// Sends what waits, in order, then the count of what was dropped; on the
// first refusal the rest waits for the next try.
void FlushLocked(Delivery& delivery, int64_t now_ms) {
  while (!delivery.waiting.empty() && Send(delivery.waiting.front())) {
    delivery.waiting.pop_front();
  }
  if (delivery.waiting.empty() && delivery.lost > 0 &&
      Send(LostCount(delivery.lost))) {
    delivery.lost = 0;
  }
  if (delivery.waiting.empty() && delivery.lost == 0) {
    delivery.pause_ms = 0;
    return;
  }
  delivery.next_try_ms = now_ms + delivery.pause_ms;
  delivery.pause_ms = std::min(kMaxRetryPauseMs,
                               std::max(kFirstRetryPauseMs, 2 * delivery.pause_ms));
}

void Keep(Delivery& delivery, Undelivered event) {
  if (delivery.waiting.size() < kMaxUndelivered) {
    delivery.waiting.push_back(std::move(event));
    return;
  }
  ++delivery.lost;
  if (event.fact) Forget(event.event_id, *event.fact);
}

void Report(EventLevel level, uint32_t event_id,
            std::initializer_list<std::string> raw_strings,
            std::optional<uint64_t> fact = std::nullopt) {
  Undelivered event{level, event_id, {}, {}, fact};
  for (const std::string& raw : raw_strings) {
    event.strings.push_back(EscapeControlCharacters(raw));
  }
  event.text = EventText(event_id, event.strings.data(), event.strings.size());
  Delivery& delivery = Deliveries();
  std::lock_guard<std::mutex> guard(delivery.lock);
  if (delivery.waiting.empty() && delivery.lost == 0 && Send(event)) return;
  Keep(delivery, std::move(event));
  FlushLocked(delivery, platform::CurrentClock().MonotonicMs());
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

// The fields folded byte by byte into one 64-bit key, with a step of its own
// after each field, so that "ab" then "c" and "a" then "bc" are different
// facts: cheap, and distinct facts rarely share a key.
template <class Fields>
uint64_t FactKey(const Fields& fields) {
  uint64_t key = 14695981039346656037ull;
  for (const std::string_view field : fields) {
    for (const char c : field) {
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
  const uint64_t key = fact.value_or(FactKey(raw_strings));
  if (Admit(event_id, key)) Report(level, event_id, raw_strings, key);
}

void Forget(uint32_t event_id, uint64_t fact) {
  EventLimits& limits = Limits();
  std::lock_guard<std::mutex> guard(limits.lock);
  IdLimit& limit = limits.by_id[event_id];
  // Not delivered: neither reported nor counted against the hour.
  if (limit.facts.erase(fact) != 0 && limit.sent > 0) --limit.sent;
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

void ReportNginxRefused(const std::string& path, const std::string& reason,
                        const std::string& command) {
  ReportLimited(EventLevel::kError, kEventNginxRefused, {path, reason, command});
}

void ReportNginxRestarted(uint32_t exit_code) {
  ReportLimited(EventLevel::kWarning, kEventNginxRestarted, {std::to_string(exit_code)});
}

void ReportNginxGivenUp(int failures) {
  ReportLimited(EventLevel::kError, kEventNginxGivenUp, {std::to_string(failures)});
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
  const std::string_view fields[] = {file_name, content};
  ReportLimited(EventLevel::kWarning, kEventDefinitionNotLoaded, {file_name},
                FactKey(fields));
}

void ReportHeldBackEvents(HeldBackCounts counts) {
  EventLimits& limits = Limits();
  std::vector<HeldBack> overdue;
  {
    std::lock_guard<std::mutex> guard(limits.lock);
    // At the stop no later hour will come to report them.
    overdue = limits.TakeOverdue(counts == HeldBackCounts::kAll ? INT64_MIN
                                                                : CurrentHour());
  }
  ReportHeld(overdue);
}

void RetryUndeliveredEvents() {
  Delivery& delivery = Deliveries();
  std::lock_guard<std::mutex> guard(delivery.lock);
  if (delivery.waiting.empty() && delivery.lost == 0) return;
  const int64_t now_ms = platform::CurrentClock().MonotonicMs();
  if (now_ms >= delivery.next_try_ms) FlushLocked(delivery, now_ms);
}

int DeliverWaitingEvents(int bound_ms) {
  platform::Clock& clock = platform::CurrentClock();
  const int64_t until_ms = clock.MonotonicMs() + bound_ms;
  Delivery& delivery = Deliveries();
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(delivery.lock);
      FlushLocked(delivery, clock.MonotonicMs());
      const int left = static_cast<int>(delivery.waiting.size()) + delivery.lost;
      if (left == 0 || clock.MonotonicMs() >= until_ms) return left;
      // No reader at all (no syslog socket): nothing comes of waiting.
      if (!platform::CurrentEventReporter().MayTakeSoon()) return left;
    }
    clock.SleepMs(kStopRetrySliceMs);
  }
}

void ForgetReportedEvents() {
  {
    EventLimits& limits = Limits();
    std::lock_guard<std::mutex> guard(limits.lock);
    limits.by_id.clear();
  }
  Delivery& delivery = Deliveries();
  std::lock_guard<std::mutex> guard(delivery.lock);
  delivery.waiting.clear();
  delivery.lost = 0;
  delivery.pause_ms = 0;
}

}  // namespace corvana

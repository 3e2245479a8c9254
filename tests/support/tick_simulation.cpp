#include "support/tick_simulation.h"

#include <algorithm>

#include "engine/due_rules.h"

namespace corvana::testing {

bool WebServerDueAtTick(WebServerDefinition& web_server, int64_t now_s,
                        const platform::LocalTime& local) {
  const ClockReading now{now_s, local};
  if (!IsWebServerDue(web_server, now)) return false;
  RecordUpdate(now, web_server);
  return true;
}

void TickRun::EveryTick(std::vector<Subject>& subjects) {
  for (int64_t now_ms = start_ms_; now_ms < end_ms_; now_ms += kTickMs) {
    for (Subject& subject : subjects) Evaluate(subject, now_ms);
  }
}

void TickRun::AroundCandidateMinutes(std::vector<Subject>& subjects) {
  // From the minute the run starts in, so that a start inside a candidate
  // minute is followed from its first tick.
  for (int64_t minute_s = start_ms_ / 1000 / 60 * 60; minute_s * 1000 < end_ms_;
       minute_s += 60) {
    const platform::LocalTime minute = LocalAt(minute_s);
    for (Subject& subject : subjects) {
      if (!subject.CandidateMinute(minute)) continue;
      TicksBetween(subject, (minute_s - kMarginS) * 1000,
                   (minute_s + 60 + kMarginS) * 1000);
    }
  }
}

// Every tick in [from_ms, until_ms) that the subject has not seen yet.
void TickRun::TicksBetween(Subject& subject, int64_t from_ms, int64_t until_ms) {
  const int64_t offset_ms = std::max<int64_t>(from_ms - start_ms_, 0);
  int64_t tick = std::max(subject.next_tick, (offset_ms + kTickMs - 1) / kTickMs);
  for (; start_ms_ + tick * kTickMs < std::min(until_ms, end_ms_); ++tick) {
    Evaluate(subject, start_ms_ + tick * kTickMs);
  }
  subject.next_tick = tick;
}

void TickRun::Evaluate(Subject& subject, int64_t now_ms) {
  const int64_t now_s = now_ms / 1000;
  if (subject.evaluate(now_s, LocalAt(now_s))) subject.due_ms.push_back(now_ms);
}

const platform::LocalTime& TickRun::LocalAt(int64_t now_s) {
  if (now_s != cached_s_) {
    cached_s_ = now_s;
    platform::ToLocalTime(now_s, &cached_);
  }
  return cached_;
}

}  // namespace corvana::testing

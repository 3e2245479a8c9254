// The main loop's ticks, one every 310 ms, against definitions under test:
// every tick, or (for the calendar kinds) only the ticks around the minutes
// in which a definition can match.
//
// About 100 million ticks are too many to evaluate one by one, so the run
// evaluates only the ticks around the minutes in which a definition can
// match, and this is equivalent to evaluating all of them:
// - Every kind compares the minute (`min`), and all but the hourly one the
//   hour too, so a tick can match only in a local minute with that hour and
//   minute: a candidate minute. Berlin's and New York's offsets are whole hours, so local
//   minutes begin on the same seconds as UTC minutes, and stepping the
//   seconds since 1970 by 60 visits every local minute that occurs (the
//   repeated hour twice, the skipped one never).
// - A tick outside every candidate minute does not match: the rule returns
//   false, clears `fired` and changes nothing else. A run of such ticks has
//   the effect of its first tick alone.
// - Each candidate minute is evaluated at every tick from 2 s before it to
//   2 s after it; the ticks of those margins (at least six of them at one
//   tick per 310 ms) are ticks outside the minute and clear the latch just
//   as the skipped ones would. The skipped stretches therefore change
//   nothing, and the true results are the same as those of every tick.
// The engine suite's EquivalentToEveryTick test checks this against every
// tick of the two days on which the clocks change.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "definitions/timetable.h"
#include "definitions/webserver_definition.h"
#include "platform/clock.h"

namespace corvana::testing {

inline constexpr int64_t kTickMs = 310;
inline constexpr int64_t kMarginS = 2;

// One definition under test and the ticks at which it was due.
struct Subject {
  std::string name;
  int32_t type_schedule = 0;
  int32_t hour = 0;
  int32_t min = 0;
  std::function<bool(int64_t now_s, const platform::LocalTime& local)> evaluate;
  std::vector<int64_t> due_ms;
  int64_t next_tick = 0;  // the first tick not evaluated yet

  // Only for calendar kinds: an interval web server matches in any minute.
  bool CandidateMinute(const platform::LocalTime& local) const {
    const bool hourly = KindOf(type_schedule) == ScheduleKind::kHourly;
    return local.minute == min && (hourly || local.hour == hour);
  }
};

// A web server asked as the engine's tick asks it: an update that falls due
// is recorded.
bool WebServerDueAtTick(WebServerDefinition& web_server, int64_t now_s,
                        const platform::LocalTime& local);

class TickRun {
 public:
  TickRun(int64_t start_ms, int64_t end_ms)
      : start_ms_(start_ms), end_ms_(end_ms) {}

  void EveryTick(std::vector<Subject>& subjects);
  void AroundCandidateMinutes(std::vector<Subject>& subjects);

 private:
  void TicksBetween(Subject& subject, int64_t from_ms, int64_t until_ms);
  void Evaluate(Subject& subject, int64_t now_ms);
  const platform::LocalTime& LocalAt(int64_t now_s);

  int64_t start_ms_;
  int64_t end_ms_;
  int64_t cached_s_ = -1;
  platform::LocalTime cached_;
};

}  // namespace corvana::testing

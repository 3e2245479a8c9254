// Whether a definition falls due: pure functions of a record and a time.
#pragma once

#include <cstdint>

#include "definitions/schedule_definition.h"
#include "definitions/timetable.h"
#include "definitions/webserver_definition.h"
#include "platform/clock.h"

namespace corvana {

// What a reload at `now` keeps of a start at local time `start`: the date
// and minute it names, and the latch while that minute lasts.
void CarryLatch(const platform::LocalTime& start, const platform::LocalTime& now,
                RunState& record);
// True once per occurrence; updates the record's latch.
bool IsScheduleDue(ScheduleDefinition& schedule, const platform::LocalTime& now);
// One reading of the clock: the main loop takes one per tick.
struct ClockReading {
  int64_t seconds = 0;  // since 1970
  platform::LocalTime local;
};

// Kind 0 with a `type_interval` other than 0, 1 or 2 has no unit and is
// never due, not even before its first update. Updates only the latch.
bool IsWebServerDue(WebServerDefinition& web_server, const ClockReading& now);
// What the engine remembers of an update that falls due at `now`: the
// interval counts from it.
void RecordUpdate(const ClockReading& now, RunState& record);

// The analyzer's serve run: more than a day after the last one (0: none
// since start-up), in the evening window from 23:24 to midnight.
inline constexpr double kServeIntervalS = 86400.0;
inline constexpr int kServeWindowHour = 23;
inline constexpr int kServeWindowMinute = 24;
bool IsServeDue(int64_t serve_started_s, const ClockReading& now);

}  // namespace corvana

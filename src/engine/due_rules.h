// Whether a definition falls due: pure functions of a record and a time.
#pragma once

#include <cstdint>

#include "definitions/schedule_definition.h"
#include "definitions/timetable.h"
#include "definitions/webserver_definition.h"
#include "platform/clock.h"

namespace corvana {

// The serve run starts from this local time of an evening to midnight.
inline constexpr int kServeWindowHour = 23;
inline constexpr int kServeWindowMinute = 24;

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

}  // namespace corvana

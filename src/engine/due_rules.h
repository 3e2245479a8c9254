// Whether a definition falls due: pure functions of a record and a time.
#pragma once

#include <cstdint>

#include "definitions/schedule_definition.h"
#include "definitions/timetable.h"
#include "definitions/webserver_definition.h"
#include "calendar/packed_time.h"
#include "platform/clock.h"

namespace corvana {

// What a reload at `now` keeps of a start at local time `start`: the date
// and minute it names, and the latch while that minute lasts.
void CarryLatch(const platform::LocalTime& start, const platform::LocalTime& now,
                RunState& record);
// True once per occurrence; updates the record's latch.
bool IsScheduleDue(ScheduleDefinition& schedule, const platform::LocalTime& now);
// Reads the time afresh through RefreshCurrentTime (the clock seam); `now`
// is replaced by that reading (and used only when there is no context to
// store one). Kind 0 with a `type_interval` other than 0, 1 or 2 has no unit
// and is never due, not even before its first update.
bool IsWebServerDue(WebServerDefinition& web_server,
                    const platform::LocalTime& now);
bool IntervalElapsed(PackedDateTime last, int32_t unit, int32_t interval,
                     PackedDateTime now);
// The same between two times in seconds since 1970.
bool IntervalElapsed(int64_t last_s, int32_t unit, int32_t interval,
                     int64_t now_s);

}  // namespace corvana

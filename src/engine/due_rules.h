// Whether a definition falls due: pure functions of a record and a time.
#pragma once

#include <cstdint>

#include "definitions/schedule_definition.h"
#include "definitions/webserver_definition.h"
#include "environment/packed_time.h"
#include "platform/clock.h"

namespace corvana {

// True once per occurrence; updates the record's latch.
bool IsScheduleDue(ScheduleDefinition& schedule, const platform::LocalTime& now);
// Reads the time afresh through RefreshCurrentTime (the clock seam); `now`
// is replaced by that reading.
bool IsWebServerDue(WebServerDefinition& web_server,
                    const platform::LocalTime& now);
bool IntervalElapsed(PackedDateTime last, int32_t unit, int32_t interval,
                     PackedDateTime now);

}  // namespace corvana

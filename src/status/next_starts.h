// When the engine would start a definition next, in the machine's time zone.
// A quick search proposes candidate seconds and the engine's own due rules
// decide each of them, so that the answer follows the rules as they are.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "definitions/schedule_definition.h"
#include "definitions/webserver_definition.h"

namespace corvana::status {

// How far ahead a calendar rule is looked for: two leap-year cycles, so that
// a yearly 29 February is found.
inline constexpr int kSearchYears = 8;

// The first `count` seconds since 1970, at or after `from_s`, at which the
// engine's first tick in that second starts the schedule.
std::vector<int64_t> NextScheduleStarts(const ScheduleDefinition& schedule,
                                        int64_t from_s, int count);

// The same for a web server, asked as the engine asks it: through the clock
// reading of the application context, which must exist (for a program that
// only reads, InitReadOnlyAppContext). An interval one runs at once after each
// (re)load and then every interval: `last_update_s` is its last update the
// log shows; without one, a (re)load at `from_s` is assumed.
std::vector<int64_t> NextWebServerStarts(
    const WebServerDefinition& web_server, int64_t from_s, int count,
    std::optional<int64_t> last_update_s);

// Local time minus UTC at that second, in seconds: tells apart the two
// instances of a time in the hour repeated in autumn.
int64_t UtcOffsetS(int64_t seconds);

}  // namespace corvana::status

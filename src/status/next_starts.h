// When the engine would start a definition next, in the machine's time zone.
// A quick search proposes candidate seconds and the engine's own due rules
// decide each of them, so that the answer follows the rules as they are.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "definitions/schedule_definition.h"
#include "definitions/webserver_definition.h"
#include "platform/clock.h"

namespace corvana::status {

// How far ahead a calendar rule is looked for: two leap-year cycles, so that
// a yearly 29 February is found.
inline constexpr int kSearchYears = 8;

// One start: the second and its local time, as the rule was asked.
struct Start {
  int64_t seconds = 0;
  platform::LocalTime local;
  bool operator==(const Start& other) const { return seconds == other.seconds; }
};

// The offset from UTC of each local date, and whether it changes that day,
// remembered for the definitions of one report (the machine's zone, read
// once): away from a change a local time is found without mktime, which
// reads the zone file afresh at every call.
class ZoneDays {
 public:
  struct Day {
    bool changes = true;
    int64_t offset_s = 0;  // at the start of the day
  };
  Day At(int year, int month, int day);

 private:
  std::unordered_map<int64_t, Day> by_day_;
};

// The first `count` seconds since 1970, at or after `from_s`, at which the
// engine's first tick in that second starts the schedule.
std::vector<Start> NextScheduleStarts(const ScheduleDefinition& schedule,
                                        int64_t from_s, int count,
                                        ZoneDays* zone_days = nullptr);

// The same for a web server, asked as the engine asks it: through the clock
// reading of the application context, which must exist (for a program that
// only reads, InitReadOnlyAppContext). An interval one runs at once after each
// (re)load and then every interval: `last_update_s` is its last update the
// log shows; without one, a (re)load at `from_s` is assumed.
std::vector<Start> NextWebServerStarts(
    const WebServerDefinition& web_server, int64_t from_s, int count,
    std::optional<int64_t> last_update_s, ZoneDays* zone_days = nullptr);

// The local date and time counted as if they were UTC: seconds since 1970.
int64_t LocalCivilSeconds(const platform::LocalTime& local);

// Local time minus UTC at that second, in seconds: tells apart the two
// instances of a time in the hour repeated in autumn.
int64_t UtcOffsetS(int64_t seconds);

}  // namespace corvana::status

// When the engine would start a definition next, in the machine's time zone.
// A quick search proposes candidate seconds and the engine's own due rules
// decide each of them, so that the answer follows the rules as they are.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "definitions/schedule_definition.h"
#include "definitions/webserver_definition.h"
#include "calendar/zone_offset.h"
#include "platform/clock.h"

namespace corvana::schedules {

// How far ahead a calendar rule is looked for: two leap-year cycles, so that
// a yearly 29 February is found.
inline constexpr int kSearchYears = 8;

// One start: the second and its local time, as the rule was asked.
struct Start {
  int64_t seconds = 0;
  platform::LocalTime local;
  // The second of the minute that the rule names: the last of its window,
  // which the service's first tick in the window usually comes before.
  int named_second = -1;  // -1: the start's own
  bool operator==(const Start& other) const { return seconds == other.seconds; }
};

// Which starts are asked for, and the service's state they follow from: one
// model for every kind of definition.
struct Replay {
  int64_t from_s = 0;  // the first second shown
  int64_t until_s = INT64_MAX;  // the last second shown
  int count = 0;                // at most this many shown
  // The service's last start or reload, at or before `from_s` (or `from_s`
  // itself when none is known): the replay begins here as the engine does,
  // every latch clear, so that its first tick in a matching window or
  // minute starts the definition, and every interval web server is due.
  int64_t load_s = 0;
  // The definition's last start the log shows since the service started.
  // A reload carries its local date and minute (the engine's latch), and
  // nothing shown comes before it; an interval counts from it.
  std::optional<platform::LocalTime> last_start;
  std::optional<int64_t> last_start_s;
  bool reloaded = false;    // the load was a reload, not a start-up
  bool load_known = false;  // the log shows it: else `load_s` is `from_s`
};

// The seconds since 1970 at which the engine's first tick in that second
// starts the schedule.
std::vector<Start> NextScheduleStarts(const ScheduleDefinition& schedule,
                                      const Replay& replay,
                                      ZoneDays* zone_days = nullptr);

// The same for a web server, asked as the engine asks it: every update that
// falls due is recorded, and the interval counts from it.
std::vector<Start> NextWebServerStarts(const WebServerDefinition& web_server,
                                       const Replay& replay,
                                       ZoneDays* zone_days = nullptr);

}  // namespace corvana::schedules

// The machine's time zone as offsets from UTC: local dates and times
// counted as seconds, and which days the clocks change on.
#pragma once

#include <cstdint>
#include <unordered_map>

#include "platform/clock.h"

namespace corvana {

inline constexpr int64_t kDayS = 86400;

// The local date and time counted as if they were UTC: seconds since 1970.
int64_t LocalCivilSeconds(const platform::LocalTime& local);

// Local time minus UTC at that second, in seconds: tells apart the two
// instances of a time in the hour repeated in autumn.
int64_t UtcOffsetS(int64_t seconds);

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

}  // namespace corvana

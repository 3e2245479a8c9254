// The machine's time zone as offsets from UTC: local dates and times
// counted as seconds, and which days the clocks change on.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

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
  // The same for a date counted in days since 1970, as the search steps.
  Day At(int64_t days);

  // The local time at `seconds`. On a day whose offset stays it follows
  // from the offset, as asking the zone for each second the interval search
  // tries was half of it, and for each row's last start a tenth of the
  // table; only a day the clocks change on asks the zone.
  bool LocalAt(int64_t seconds, platform::LocalTime* local);

  // The seconds in (low, high] at which the offset from UTC changes: at
  // most one a day is seen. What was searched once is remembered, so that
  // the interval rules of many definitions over the same months ask the
  // zone once.
  std::vector<int64_t> Changes(int64_t low, int64_t high);

 private:
  // Searched afresh, a day at a time and halving where the offset differs.
  static std::vector<int64_t> SearchChanges(int64_t low, int64_t high);

  struct Slot {
    bool known = false;
    Day day;
  };
  // Worked out afresh from the zone.
  static Day Look(int year, int month, int day);
  const Day* Known(int64_t days) const;
  void Remember(int64_t days, const Day& day);

  // The days a report asks about lie within a few years: they are kept in
  // order from `first_day_`, looked up by their place rather than hashed,
  // and only the rare one outside goes to `far_days_`.
  int64_t first_day_ = 0;
  std::vector<Slot> near_days_;
  std::unordered_map<int64_t, Day> far_days_;
  // (searched_low_, searched_high_] has been searched; its changes, in order.
  bool searched_ = false;
  int64_t searched_low_ = 0;
  int64_t searched_high_ = 0;
  std::vector<int64_t> changes_;
};

}  // namespace corvana

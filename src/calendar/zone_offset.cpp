#include "calendar/zone_offset.h"

#include "platform/civil_date.h"

namespace corvana {

int64_t LocalCivilSeconds(const platform::LocalTime& local) {
  return platform::DaysFromCivil(local.year, local.month_index + 1, local.day) * kDayS +
         (local.hour * 60 + local.minute) * 60 + local.second;
}

int64_t UtcOffsetS(int64_t seconds) {
  platform::LocalTime local;
  if (!platform::ToLocalTime(seconds, &local)) return 0;
  return LocalCivilSeconds(local) - seconds;
}

ZoneDays::Day ZoneDays::At(int year, int month, int day) {
  const int64_t days = platform::DaysFromCivil(year, month, day);
  const auto found = by_day_.find(days);
  if (found != by_day_.end()) return found->second;
  // The day's first and last local seconds, an hour wider each side: a
  // change at midnight shows too. Midday as well, so that a change there and
  // back within the day shows.
  Day info;
  int64_t first_s = 0;
  int64_t last_s = 0;
  if (platform::FromLocalTime(year, month - 1, day, 0, 0, 0, &first_s) &&
      platform::FromLocalTime(year, month - 1, day, 23, 59, 59, &last_s)) {
    info.offset_s = UtcOffsetS(first_s - 3600);
    info.changes = info.offset_s != UtcOffsetS(first_s + (last_s - first_s) / 2) ||
                   info.offset_s != UtcOffsetS(last_s + 3600);
  }
  by_day_.emplace(days, info);
  return info;
}

}  // namespace corvana

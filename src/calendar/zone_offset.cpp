#include "calendar/zone_offset.h"

#include <algorithm>

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

std::vector<int64_t> ZoneDays::SearchChanges(int64_t low, int64_t high) {
  std::vector<int64_t> changes;
  int64_t offset = UtcOffsetS(low);
  for (int64_t at = low; at < high;) {
    const int64_t next = std::min(at + kDayS, high);
    const int64_t next_offset = UtcOffsetS(next);
    if (next_offset != offset) {
      int64_t before = at;
      int64_t after = next;
      while (after - before > 1) {
        const int64_t middle = before + (after - before) / 2;
        (UtcOffsetS(middle) == offset ? before : after) = middle;
      }
      changes.push_back(after);
    }
    at = next;
    offset = next_offset;
  }
  return changes;
}

std::vector<int64_t> ZoneDays::Changes(int64_t low, int64_t high) {
  if (!searched_) {
    changes_ = SearchChanges(low, high);
    searched_ = true;
    searched_low_ = low;
    searched_high_ = high;
  }
  if (low < searched_low_) {
    std::vector<int64_t> earlier = SearchChanges(low, searched_low_);
    changes_.insert(changes_.begin(), earlier.begin(), earlier.end());
    searched_low_ = low;
  }
  if (high > searched_high_) {
    const std::vector<int64_t> later = SearchChanges(searched_high_, high);
    changes_.insert(changes_.end(), later.begin(), later.end());
    searched_high_ = high;
  }
  const auto first = std::upper_bound(changes_.begin(), changes_.end(), low);
  const auto last = std::upper_bound(first, changes_.end(), high);
  return {first, last};
}

}  // namespace corvana

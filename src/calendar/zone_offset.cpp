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

namespace {

// How far before the first day asked, and after it, days are kept in order:
// the search looks a couple of leap-year cycles ahead, and a report's log
// goes back a little.
constexpr int64_t kNearBeforeDays = 400;
constexpr int64_t kNearDays = 20 * 366;

}  // namespace

namespace {

// Days since 1970 of a count of seconds, rounded down.
int64_t DaysOf(int64_t seconds) {
  return (seconds >= 0 ? seconds : seconds - (kDayS - 1)) / kDayS;
}

}  // namespace

bool ZoneDays::LocalAt(int64_t seconds, platform::LocalTime* local) {
  int64_t days = DaysOf(seconds);
  for (int looks = 0; looks < 2; ++looks) {
    const Day day = At(days);
    if (day.changes) break;
    const int64_t local_s = seconds + day.offset_s;
    if (DaysOf(local_s) != days) {
      days = DaysOf(local_s);
      continue;
    }
    const platform::CivilDate date = platform::CivilFromDays(days);
    const int second_of_day = static_cast<int>(local_s - days * kDayS);
    *local = {static_cast<int>(date.year), date.month - 1, date.day, second_of_day / 3600,
              second_of_day / 60 % 60, second_of_day % 60, platform::WeekdayOfDays(days)};
    return true;
  }
  return platform::ToLocalTime(seconds, local);
}

ZoneDays::Day ZoneDays::At(int year, int month, int day) {
  return At(platform::DaysFromCivil(year, month, day));
}

ZoneDays::Day ZoneDays::At(int64_t days) {
  if (const Day* known = Known(days)) return *known;
  const platform::CivilDate date = platform::CivilFromDays(days);
  const Day info = Look(static_cast<int>(date.year), date.month, date.day);
  Remember(days, info);
  return info;
}

const ZoneDays::Day* ZoneDays::Known(int64_t days) const {
  const uint64_t place = static_cast<uint64_t>(days - first_day_);
  if (place < near_days_.size()) {
    return near_days_[place].known ? &near_days_[place].day : nullptr;
  }
  const auto found = far_days_.find(days);
  return found == far_days_.end() ? nullptr : &found->second;
}

void ZoneDays::Remember(int64_t days, const Day& day) {
  if (near_days_.empty()) first_day_ = days - kNearBeforeDays;
  const uint64_t place = static_cast<uint64_t>(days - first_day_);
  if (place >= static_cast<uint64_t>(kNearDays)) {
    far_days_.emplace(days, day);
    return;
  }
  if (place >= near_days_.size()) near_days_.resize(place + 1);
  near_days_[place] = {true, day};
}

ZoneDays::Day ZoneDays::Look(int year, int month, int day) {
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

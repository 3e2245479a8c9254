#include "platform/clock.h"

#include <time.h>

#include <array>
#include <atomic>
#include <memory>

namespace corvana::platform {
namespace {

// The engine converts the same few times over and over: every web server of
// a tick reads the clock afresh (the same second, mostly), and measures its
// interval from its own last update to now; the idle service converts the
// seconds of one minute, a third of them twice. Conversions are remembered
// per thread until the zone is reloaded; the zone rules are read then anyway.
std::atomic<uint32_t> zone_generation{1};

struct LocalConversion {
  uint32_t generation = 0;
  int64_t seconds = 0;
  LocalTime local;
};

struct CalendarKey {
  int year, month_index, day, hour, minute, second;
  bool operator==(const CalendarKey&) const = default;
};

struct CalendarConversion {
  uint32_t generation = 0;
  CalendarKey key{};
  int64_t seconds = 0;
};

// Direct-mapped: a thousand web servers' last updates and the current time
// fit with few collisions, and a collision only costs a conversion.
constexpr size_t kCalendarSlots = 4096;
using CalendarCache = std::array<CalendarConversion, kCalendarSlots>;

size_t SlotOf(const CalendarKey& key) {
  uint64_t hash = static_cast<uint32_t>(key.year);
  for (int field : {key.month_index, key.day, key.hour, key.minute, key.second}) {
    hash = hash * 0x9E3779B97F4A7C15ull + static_cast<uint32_t>(field);
  }
  return static_cast<size_t>(hash >> 52) % kCalendarSlots;
}

bool ConvertToLocal(int64_t seconds_since_1970, LocalTime* out) {
  time_t value = static_cast<time_t>(seconds_since_1970);
  tm local;
  if (localtime_r(&value, &local) == nullptr) return false;
  out->year = local.tm_year + 1900;
  out->month_index = local.tm_mon;
  out->day = local.tm_mday;
  out->hour = local.tm_hour;
  out->minute = local.tm_min;
  out->second = local.tm_sec;
  out->weekday = local.tm_wday;
  return true;
}

bool ConvertFromLocal(const CalendarKey& key, int64_t* seconds_since_1970) {
  tm local{};
  local.tm_year = key.year - 1900;
  local.tm_mon = key.month_index;
  local.tm_mday = key.day;
  local.tm_hour = key.hour;
  local.tm_min = key.minute;
  local.tm_sec = key.second;
  local.tm_isdst = -1;
  time_t value = mktime(&local);
  if (value == static_cast<time_t>(-1) && local.tm_year != 69) return false;
  *seconds_since_1970 = static_cast<int64_t>(value);
  return true;
}

}  // namespace

int64_t SystemNowSeconds() { return static_cast<int64_t>(time(nullptr)); }

// Linux's CLOCK_MONOTONIC stops while the machine sleeps; CLOCK_BOOTTIME
// counts on, as Windows' tick count does, so that a child's day is a day of
// the calendar on both systems.
#ifdef CLOCK_BOOTTIME
constexpr clockid_t kMonotonicClock = CLOCK_BOOTTIME;
#else
constexpr clockid_t kMonotonicClock = CLOCK_MONOTONIC;
#endif

int64_t SystemMonotonicMs() {
  timespec now;
  clock_gettime(kMonotonicClock, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void SystemSleepMs(int ms) {
  if (ms <= 0) return;
  timespec pause{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0) {
  }
}

void ReloadTimeZone() {
  tzset();
  zone_generation.fetch_add(1);
}

// The zones change their offset only at the start of a local minute (leap
// seconds, where a zone counts them, come last in a minute), so a later
// second of the same local minute follows from the last conversion.
bool ToLocalTime(int64_t seconds_since_1970, LocalTime* out) {
  thread_local LocalConversion last;
  const uint32_t generation = zone_generation.load(std::memory_order_relaxed);
  const int64_t later_s = seconds_since_1970 - last.seconds;
  if (last.generation == generation && later_s >= 0 &&
      later_s < 60 - last.local.second) {
    *out = last.local;
    out->second += static_cast<int>(later_s);
    return true;
  }
  if (!ConvertToLocal(seconds_since_1970, out)) return false;
  last = {generation, seconds_since_1970, *out};
  return true;
}

bool FromLocalTime(int year, int month_index, int day, int hour, int minute,
                   int second, int64_t* seconds_since_1970) {
  // On the heap, once per thread that converts: a thread-local array would
  // be cleared for every thread the process starts.
  thread_local std::unique_ptr<CalendarCache> cache;
  if (!cache) cache = std::make_unique<CalendarCache>();
  const CalendarKey key{year, month_index, day, hour, minute, second};
  const uint32_t generation = zone_generation.load(std::memory_order_relaxed);
  CalendarConversion& slot = (*cache)[SlotOf(key)];
  if (slot.generation == generation && slot.key == key) {
    *seconds_since_1970 = slot.seconds;
    return true;
  }
  if (!ConvertFromLocal(key, seconds_since_1970)) return false;
  slot = {generation, key, *seconds_since_1970};
  return true;
}

}  // namespace corvana::platform

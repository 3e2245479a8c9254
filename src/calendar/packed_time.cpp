#include "calendar/packed_time.h"

#include <cmath>

namespace corvana {
namespace {

bool ToCalendarSeconds(PackedDateTime value, int64_t* seconds) {
  const int year = static_cast<int>(value.date >> 16);
  const int month = static_cast<int>((value.date >> 8) & 0xFF);
  const int day = static_cast<int>(value.date & 0xFF);
  const uint32_t time = value.time & 0x1FFFF;  // the low 17 bits only
  return platform::FromLocalTime(year, month - 1, day,
                                 static_cast<int>(time / 3600),
                                 static_cast<int>(time % 3600 / 60),
                                 static_cast<int>(time % 60), seconds);
}

}  // namespace

PackedDateTime PackLocalTime(const platform::LocalTime& local) {
  PackedDateTime packed;
  packed.date = PackDate(local.year, local.month_index + 1, local.day);
  packed.time = static_cast<uint32_t>(
      (local.hour * 60 + local.minute) * 60 + local.second);
  return packed;
}

int32_t ElapsedUnits(PackedDateTime a, PackedDateTime b, int32_t unit_s) {
  if (a.date == 0 || b.date == 0 || unit_s == 0) return 0;
  int64_t first = 0;
  int64_t second = 0;
  if (!ToCalendarSeconds(a, &first) || !ToCalendarSeconds(b, &second)) {
    return 0;
  }
  return ElapsedSecondsInUnits(first, second, unit_s);
}

int32_t ElapsedSecondsInUnits(int64_t a_s, int64_t b_s, int32_t unit_s) {
  if (unit_s == 0) return 0;
  double units = std::fabs(static_cast<double>(b_s - a_s) / unit_s);
  if (units >= 2147483647.0) return 2147483647;
  return static_cast<int32_t>(units);
}

int32_t ElapsedDays(PackedDateTime a, PackedDateTime b) {
  return ElapsedUnits(a, b, 86400);
}
int32_t ElapsedHours(PackedDateTime a, PackedDateTime b) {
  return ElapsedUnits(a, b, 3600);
}
int32_t ElapsedMinutes(PackedDateTime a, PackedDateTime b) {
  return ElapsedUnits(a, b, 60);
}

}  // namespace corvana

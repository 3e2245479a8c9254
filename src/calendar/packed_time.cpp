#include "calendar/packed_time.h"

#include <cmath>

namespace corvana {
PackedDateTime PackLocalTime(const platform::LocalTime& local) {
  PackedDateTime packed;
  packed.date = PackDate(local.year, local.month_index + 1, local.day);
  packed.time = static_cast<uint32_t>(
      (local.hour * 60 + local.minute) * 60 + local.second);
  return packed;
}

int32_t ElapsedSecondsInUnits(int64_t a_s, int64_t b_s, int32_t unit_s) {
  if (unit_s == 0) return 0;
  double units = std::fabs(static_cast<double>(b_s - a_s) / unit_s);
  if (units >= 2147483647.0) return 2147483647;
  return static_cast<int32_t>(units);
}

}  // namespace corvana

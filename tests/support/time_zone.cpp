#include "support/time_zone.h"

#include <cstdlib>

#include "platform/clock.h"

namespace corvana::testing {

ScopedTimeZone::ScopedTimeZone(const char* tz) {
#ifdef _WIN32
  (void)tz;
#else
  const char* old = std::getenv("TZ");
  if (old != nullptr) old_tz_ = old;
  setenv("TZ", tz, 1);
  platform::ReloadTimeZone();
#endif
}

ScopedTimeZone::~ScopedTimeZone() {
#ifndef _WIN32
  if (old_tz_) {
    setenv("TZ", old_tz_->c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  platform::ReloadTimeZone();
#endif
}

bool LocalZoneIsBerlin() {
  // 01:00 UTC on 29 March 2026 is 03:00 CEST; 01:00 UTC on 25 October 2026
  // is 02:00 CET, and 00:59:59 UTC just before it 02:59:59 CEST.
  platform::LocalTime spring;
  platform::LocalTime autumn;
  platform::LocalTime before_autumn;
  return platform::ToLocalTime(1774746000, &spring) && spring.hour == 3 &&
         platform::ToLocalTime(1792890000, &autumn) && autumn.hour == 2 &&
         autumn.minute == 0 &&
         platform::ToLocalTime(1792889999, &before_autumn) &&
         before_autumn.hour == 2 && before_autumn.minute == 59;
}

}  // namespace corvana::testing

#include "support/time_zone.h"

#include "platform/clock.h"

namespace corvana::testing {

ScopedTimeZone::ScopedTimeZone(const char* tz) {
#ifdef _WIN32
  (void)tz;
#else
  tz_ = std::make_unique<ScopedEnvVar>("TZ", tz);
  platform::ReloadTimeZone();
#endif
}

ScopedTimeZone::~ScopedTimeZone() {
#ifndef _WIN32
  tz_.reset();
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

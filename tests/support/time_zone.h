// Local time in a named zone for the length of a scope.
//
// POSIX reads the zone from TZ, so the scope sets it and puts it back.
// Windows takes the machine's own zone, which a running process cannot
// change; there the scope does nothing. Wine derives that zone from the TZ
// variable of the Unix process that started wine (a Windows child does not
// take it from its Windows environment), so a suite needs
// TZ=Europe/Berlin around wine itself; tests check LocalZoneIsBerlin() and
// skip otherwise.
#pragma once

#include <memory>

#include "support/fixtures.h"

namespace corvana::testing {

class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz);
  ~ScopedTimeZone();
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::unique_ptr<ScopedEnvVar> tz_;
};

// Whether local time changes as in Europe/Berlin on both nights of 2026.
bool LocalZoneIsBerlin();

}  // namespace corvana::testing

// For a test that needs Berlin's clock changes.
#define CORVANA_REQUIRE_BERLIN_ZONE()                                      \
  if (!::corvana::testing::LocalZoneIsBerlin())                            \
  GTEST_SKIP() << "local time does not follow Europe/Berlin (under Wine, " \
                  "run the suite with TZ=Europe/Berlin set for wine)"

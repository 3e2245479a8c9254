#include "logging/crash_reporting.h"

namespace corvana {

int InstallCrashReporting(const char*, const char*, const char*) { return 0; }

}  // namespace corvana

// The process entry: install, uninstall, or run as the service.
#pragma once

#include <cstdio>

namespace corvana {

// Prints its messages to `out`. Returns the process exit status.
int SchedulerMain(int argc, char** argv, std::FILE* out);

}  // namespace corvana

// The `schedules` command: what runs next in a definition folder, what ran
// last, and why a file does not load.
#pragma once

#include <cstdio>

#include "platform/trust.h"

namespace corvana::schedules {

inline constexpr int kExitUsage = 2;
inline constexpr int kDefaultNextCount = 3;
inline constexpr int kMaxNextCount = 1000;

// Returns the exit code: 0 every file loads, 1 one does not, 2 usage error,
// 3 (kExitHomeRefused) the service would not use the data folder. The folder
// is judged as the service, running as `service`, judges it: `schedules`
// names the system's account, whoever runs it.
int SchedulesMain(int argc, char** argv, std::FILE* out, std::FILE* err,
                  platform::ServiceAccount service);

}  // namespace corvana::schedules

// The `schedules` command: what runs next in a definition folder, what ran
// last, and why a file does not load.
#pragma once

#include <cstdio>

namespace corvana::schedules {

inline constexpr int kExitUsage = 2;
inline constexpr int kDefaultNextCount = 3;
inline constexpr int kMaxNextCount = 1000;

// Returns the exit code: 0 every file loads, 1 one does not, 2 usage error.
int SchedulesMain(int argc, char** argv, std::FILE* out, std::FILE* err);

}  // namespace corvana::schedules

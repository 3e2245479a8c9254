#pragma once

#include <string>

namespace corvana::testing {

// Modes: "sleep <ms>", "exit <code>", "record <file> [args...]" (writes the
// working folder and every argument, one per line, then exits 0).
int RunChildMode(int argc, char** argv);

// The path of the running test binary.
std::string SelfPath();

}  // namespace corvana::testing

#pragma once

#include <string>

namespace corvana::testing {

// Modes: "sleep <ms>", "exit <code>", "record <file> [args...]" (writes the
// working folder and every argument, one per line, then exits 0),
// "where <file> [args...]" (the same with the running file's own path on the
// first line), "fds <file>" (the target of every open descriptor, Linux),
// "hold <file> <ms>" (opens the file denying all sharing on Windows, creates
// "<file>.held", keeps it open for ms).
int RunChildMode(int argc, char** argv);

// The path of the running test binary.
std::string SelfPath();

}  // namespace corvana::testing

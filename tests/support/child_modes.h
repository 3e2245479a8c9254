#pragma once

#include <string>

namespace corvana::testing {

// Modes: "sleep <ms>", "exit <code>", "record <file> [args...]" (writes the
// working folder and every argument, one per line, then exits 0),
// "where <file> [args...]" (the same with the running file's own path on the
// first line), "fds <file>" (the target of every open descriptor, Linux),
// "hold <file> <ms>" (opens the file denying all sharing on Windows, creates
// "<file>.held", keeps it open for ms), "tree <folder>" (starts "leaf
// <folder>" as a child of its own, the way a program that knows nothing of
// jobs or process groups does, then marks itself "tree"), "leaf <folder>"
// (marks itself "leaf"). A marked process creates "<name>.ready" in the
// folder and runs until "stop" appears there (ten minutes at most).
// A suite's own modes come first, registered by name before main runs.
int RunChildMode(int argc, char** argv);

// A child mode of a suite's own, for a check that needs a fresh process;
// it gets the arguments after its name and returns the exit code, 0 when
// all held. Register it at namespace scope:
//   const bool registered = RegisterChildMode("name", &Body);
using ChildModeBody = int (*)(int argc, char** argv);
bool RegisterChildMode(const char* name, ChildModeBody body);

// Whether the process that marked itself `name` in the folder still runs.
bool MarkedProcessRuns(const std::string& folder, const std::string& name);

// The path of the running test binary.
std::string SelfPath();

}  // namespace corvana::testing

// The process table as Linux shows it under /proc, for tests that look at
// children, zombies and pending signals from outside.
#pragma once

#include <optional>
#include <set>
#include <string>

namespace corvana::testing {

struct ProcStat {
  char state = '?';
  long parent = 0;
  long group = 0;
};

long OwnPid();
// /proc/<pid>/stat; nothing once the process has been reaped.
std::optional<ProcStat> ReadProcStat(long pid);
// This process's children that have ended and wait to be reaped.
std::set<long> ZombieChildren();
// What each of this process's open descriptors refers to, one a line;
// nothing when /proc/self/fd cannot be read.
std::optional<std::string> OwnDescriptorTargets();
// The value after "<name>:" in /proc/self/status; empty when there is none.
std::string OwnStatusField(const std::string& name);

}  // namespace corvana::testing
